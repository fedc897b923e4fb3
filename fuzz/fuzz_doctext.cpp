// Text entering the text area (paste, drop, Open) on any characters, long lines included: the
// document text read back must be exactly the old text with the new one inserted where the
// cursor was, every line break in "\r\n" form and nothing else changed, however the lines were
// cut into blocks; and widget positions and document offsets must map both ways.
#include "DocumentText.h"
#include "FuzzText.h"

#include <QGuiApplication>
#include <QTextCursor>
#include <QTextDocument>

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// The document form of text as a user puts it in.
QString documentForm(const QString &text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            continue; // the "\n" that follows makes the break
        if (c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator || c == QChar::LineSeparator)
            out += QLatin1String("\r\n");
        else if (c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1)
            out += QChar::ReplacementCharacter;
        else
            out += c;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QGuiApplication(*argc, *argv); // for fonts; lives as long as the process
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 3)
        return 0;
    // Repeated, so that a short input still makes lines and runs of thousands of characters.
    const int repeats = 1 + data[0] % 64;
    const std::u16string units = fuzztext::toText(data + 3, size - 3);
    const QString all = QString::fromUtf16(units.data(), qsizetype(units.size())).repeated(repeats);
    const qsizetype split = all.isEmpty() ? 0 : (data[1] * 257) % (all.size() + 1);
    const QString before = all.left(split);
    const QString added = all.mid(split);

    QTextDocument document;
    QTextCursor cursor(&document);
    DocumentText::insert(cursor, before);
    const QString old = DocumentText::toDocument(document, 0, document.toRawText());
    check(old == documentForm(before));

    const qsizetype position = data[2] * 1031 % document.characterCount();
    cursor.setPosition(int(position));
    const qsizetype at = TextPositions(document).toOffset(position);
    DocumentText::insert(cursor, added);
    const QString now = DocumentText::toDocument(document, 0, document.toRawText());
    check(now == old.left(at) + documentForm(added) + old.mid(at));

    const QString raw = document.toRawText();
    const TextPositions map(document);
    for (qsizetype offset = 0; offset < now.size(); ++offset) {
        if (now[offset] == u'\r' || now[offset] == u'\n')
            continue;
        const qsizetype p = map.toWidget(offset);
        check(p < raw.size() && raw[p] == now[offset] && map.toOffset(p) == offset);
    }
    return 0;
}
