#pragma once
// The text an extractor gives back: one paragraph per line, lines separated by "\n", nothing at
// the start or end. Runs of white space inside a paragraph become one space; empty paragraphs
// are dropped. Stops with an ExtractError once the text would pass the limit.

#include "ExtractError.h"

#include <QString>
#include <QStringView>

namespace extract {

struct Limits {
    qsizetype maxChars = qsizetype(64) * 1024 * 1024; // UTF-16 units of text given back
    int maxDepth = 256;                               // nesting of elements, lists, groups
};

class TextBuilder {
public:
    explicit TextBuilder(const Limits &limits)
        : m_limits(limits) {}

    // Adds running text to the current paragraph.
    void add(QStringView text);
    // Ends the current paragraph (if it has any text).
    void endParagraph();
    // The text so far, ended.
    QString finish();
    bool empty() const { return m_text.isEmpty() && m_paragraph.isEmpty(); }

private:
    void append(QStringView text);

    const Limits m_limits;
    QString m_text;
    QString m_paragraph;
    bool m_pendingSpace = false;
};

} // namespace extract
