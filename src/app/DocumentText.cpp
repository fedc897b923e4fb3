#include "DocumentText.h"

#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>

namespace {
// Above this, lines are wrapped anywhere instead of at word boundaries: laying out a 1 MB word
// at word boundaries takes over a minute, anywhere about a second.
constexpr qsizetype kLongRun = 4000;
} // namespace

QString DocumentText::toCrlf(QString text) {
    // One pass into a buffer of the final size: QString::replace with a longer replacement moves
    // the rest of the string again for every batch of hits: 0.3 s on 20 MB of short lines.
    const auto isBreak = [](QChar c) {
        return c == u'\n' || c == QChar::ParagraphSeparator;
    };
    const auto breaks = std::count_if(text.cbegin(), text.cend(), isBreak);
    if (breaks == 0)
        return text;
    QString crlf(text.size() + breaks, Qt::Uninitialized);
    QChar *out = crlf.data();
    for (const QChar c : std::as_const(text)) {
        if (isBreak(c)) {
            *out++ = u'\r';
            *out++ = u'\n';
        } else {
            *out++ = c;
        }
    }
    return crlf;
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
