#pragma once
// The document as the rest of the program sees it: one string with "\r\n" between lines, every
// other character exactly as the user typed it. Qt's text widget keeps lines as blocks and hands
// out U+2029 between them (and a plain space for U+00A0 from toPlainText); this is the one place
// that converts, in both directions.
//
// Very long lines are held as several blocks: Qt lays a block out whole whenever it is shown or
// edited, and a run of a few thousand characters without a space takes it seconds to wrap. Such a
// line enters the widget cut into pieces, each piece after the first in a block marked as joined
// to the one before. A joined block starts a new line on screen only; in the document text it
// follows the previous block directly.

#include <QPlainTextEdit>
#include <QString>
#include <QStringView>

#include <vector>

class QTextBlock;
class QTextCursor;
class QTextDocument;

class DocumentText {
public:
    explicit DocumentText(QPlainTextEdit &edit);

    QString text() const;
    // Replaces the whole text; the caret goes to the start and the undo history is cleared.
    void setText(const QString &text);
    // Leaves the widget as setText(text() + more) would (caret at the start, no undo history),
    // but only `more` is split into lines and laid out, so adding to a large document is cheap.
    void append(const QString &more);
    QString selectedText() const;

    // Longest piece of a line without white space that one block holds, and the longest line.
    static constexpr qsizetype kMaxRun = 2048;
    static constexpr qsizetype kMaxLine = 65536;

    // Inserts `text` at `cursor` as one edit: every line break ("\r\n", "\n", "\r", U+2029)
    // becomes a new line, and long lines become joined blocks. What the widget's own paste,
    // drop and Enter go through as well.
    static void insert(QTextCursor &cursor, QStringView text);
    // Where `line` is cut into blocks: the start of every piece after the first, counted from
    // the start of `line`, which continues the block text `before`. A cut never separates a
    // surrogate pair, nor a mark from the character it belongs to.
    static std::vector<qsizetype> cuts(QStringView line, QStringView before = {});
    static bool isJoined(const QTextBlock &block);
    // The document text of the widget positions [from, from + raw.size()), given the widget's
    // own characters there (what QTextDocument::toRawText or QTextCursor::selectedText return).
    static QString toDocument(const QTextDocument &document, qsizetype from, const QString &raw);

private:
    QPlainTextEdit &m_edit;
};

// Positions in the widget and offsets into the document text, both ways. Built from the widget
// as it is; valid until its text changes.
class TextPositions {
public:
    explicit TextPositions(const QTextDocument &document);
    qsizetype toWidget(qsizetype offset) const;
    qsizetype toOffset(qsizetype position) const;

private:
    // After every line break and join: the widget position and document offset that follow it.
    struct Anchor {
        qsizetype position;
        qsizetype offset;
    };
    std::vector<Anchor> m_anchors;
};

// The text area itself: text the user pastes or drops goes in the way DocumentText::insert puts
// it, text dragged or copied out leaves in the document's form, and editing keys treat a join
// as what it is, no character at all.
class DocumentEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void insertFromMimeData(const QMimeData *source) override;
    QMimeData *createMimeDataFromSelection() const override;
};
