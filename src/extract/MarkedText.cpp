#include "MarkedText.h"

namespace extract {

bool MarkedText::add(QStringView text) {
    qsizetype first = 0;
    while (first < text.size() && text[first].isSpace())
        ++first;
    qsizetype end = text.size();
    while (end > first && text[end - 1].isSpace())
        --end;
    const QStringView core = text.sliced(first, end - first);
    bool words = false;
    for (const QChar c : core)
        words = words || (c != QChar(0x00AD) && !c.isNull()); // what the builder does not drop
    if (first > 0)
        m_space = true;
    if (words) {
        if (!m_mark.isEmpty()) {
            m_out.add(m_mark);
            m_mark.clear();
        } else if (m_space) {
            m_out.add(u" ");
        }
        m_space = false;
        m_out.add(core);
    }
    if (end < text.size())
        m_space = true;
    return words;
}

} // namespace extract
