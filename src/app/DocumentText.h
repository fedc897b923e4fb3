#pragma once
// The document as the rest of the program sees it: one string with "\r\n" between lines.
// Qt's text widget keeps lines as blocks and hands out "\n" or U+2029; this is the one place
// that converts.

#include <QString>

class QPlainTextEdit;

class DocumentText {
public:
    explicit DocumentText(QPlainTextEdit &edit)
        : m_edit(edit) {}

    QString text() const;
    void setText(const QString &text);
    // Leaves the widget as setText(text() + more) would (caret at the start, no undo history),
    // but only `more` is split into lines and laid out, so adding to a large document is cheap.
    void append(const QString &more);
    QString selectedText() const;

    // CRLF form of what Qt hands out ("\n" or U+2029 between lines).
    static QString toCrlf(QString text);
    // Length of the longest run without white space; past a few thousand characters the widget's
    // word-boundary wrapping becomes very slow.
    static qsizetype longestRun(const QString &text);

private:
    void chooseWrapMode(const QString &text);
    QPlainTextEdit &m_edit;
};
