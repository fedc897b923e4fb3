#include "TextBuilder.h"

namespace extract {

void TextBuilder::add(QStringView text) {
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        // Soft hyphens are only where a line may break: never read.
        if (c.isSpace() || c == QChar(0x00AD) || c.isNull()) {
            append(text.mid(start, i - start));
            if (c.isSpace() && !m_paragraph.isEmpty())
                m_pendingSpace = true;
            start = i + 1;
        }
    }
    append(text.mid(start));
}

void TextBuilder::append(QStringView text) {
    if (text.isEmpty())
        return;
    if (m_pendingSpace) {
        m_paragraph += u' ';
        m_pendingSpace = false;
    }
    // The line break that will join this paragraph to the text counts too.
    const qsizetype joint = m_text.isEmpty() ? 0 : 1;
    if (m_text.size() + joint + m_paragraph.size() + text.size() > m_limits.maxChars)
        throw ExtractError::tooLarge();
    m_paragraph += text;
}

void TextBuilder::endParagraph() {
    m_pendingSpace = false;
    if (m_paragraph.isEmpty())
        return;
    if (!m_text.isEmpty())
        m_text += u'\n';
    m_text += m_paragraph;
    m_paragraph.clear();
}

QString TextBuilder::finish() {
    endParagraph();
    return std::exchange(m_text, QString());
}

} // namespace extract
