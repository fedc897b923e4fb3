#pragma once
// A TextBuilder for the markup readers, with a mark waiting for the next word: a list item's
// number or bullet, or the separator between table cells. An empty item or cell so reads
// nothing, and a mark never has stray white space before it ("Tea, 2", not "Tea , 2").

#include "TextBuilder.h"

#include <QString>
#include <QStringView>

namespace extract {

class MarkedText {
public:
    explicit MarkedText(const Limits &limits)
        : m_out(limits) {}

    // Adds running text; true if it held anything to read.
    bool add(QStringView text);
    // A break between words, as white space.
    void space() { m_space = true; }
    void endParagraph() {
        m_out.endParagraph();
        m_space = false;
    }
    // The mark the next word starts with, replacing one not yet used.
    void setMark(const QString &mark) { m_mark = mark; }
    const QString &mark() const { return m_mark; }
    QString finish() { return m_out.finish(); }

private:
    TextBuilder m_out;
    QString m_mark;
    bool m_space = false;
};

} // namespace extract
