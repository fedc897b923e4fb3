#include "DocumentText.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

namespace {
// Above this, lines are wrapped anywhere instead of at word boundaries: laying out a 1 MB word
// at word boundaries takes over a minute, anywhere about a second.
constexpr qsizetype kLongRun = 4000;
} // namespace

QString DocumentText::toCrlf(QString text) {
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
}

qsizetype DocumentText::longestRun(const QString &text) {
    qsizetype longest = 0;
    qsizetype run = 0;
    for (const QChar c : text) {
        if (c.isSpace()) {
            run = 0;
        } else if (++run > longest) {
            longest = run;
        }
    }
    return longest;
}

QString DocumentText::text() const {
    return toCrlf(m_edit.toPlainText());
}

QString DocumentText::selectedText() const {
    return toCrlf(m_edit.textCursor().selectedText());
}

void DocumentText::setText(const QString &text) {
    chooseWrapMode(text);
    m_edit.setPlainText(text);
}

void DocumentText::append(const QString &more) {
    // Judged on the whole text as it will be: the added text may continue a run ending the old
    // one, and the old text may have been edited since it was set.
    chooseWrapMode(m_edit.toPlainText() + more);
    QTextDocument &doc = *m_edit.document();
    // Setting the text starts a fresh undo history; so does this, which also spares an undo
    // record for every added line.
    const bool undoWasEnabled = doc.isUndoRedoEnabled();
    doc.setUndoRedoEnabled(false);
    QTextCursor end(&doc);
    end.movePosition(QTextCursor::End);
    end.insertText(more);
    doc.setUndoRedoEnabled(undoWasEnabled);
    m_edit.moveCursor(QTextCursor::Start);
}

void DocumentText::chooseWrapMode(const QString &text) {
    const auto mode = longestRun(text) > kLongRun ? QTextOption::WrapAnywhere
                                                  : QTextOption::WrapAtWordBoundaryOrAnywhere;
    if (m_edit.wordWrapMode() != mode)
        m_edit.setWordWrapMode(mode);
}
