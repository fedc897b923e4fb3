#include "DocumentText.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace {

constexpr int kJoinedProperty = QTextFormat::UserProperty + 1;
// Set on a document once a joined block went into it, so that the far more common documents
// without any are converted in one pass over their characters, without visiting their blocks.
constexpr char kHasJoins[] = "parlivoHasJoins";

bool hasJoins(const QTextDocument &document) {
    return document.property(kHasJoins).toBool();
}

bool isLineBreak(QChar c) {
    return c == u'\r' || c == u'\n' || c == QChar::ParagraphSeparator;
}

// What the widget holds between two lines of the document: a block boundary (U+2029 in its raw
// text), or a line separator that Shift+Enter typed into a block.
bool isWidgetBreak(QChar c) {
    return c == QChar::ParagraphSeparator || c == QChar::LineSeparator || c == u'\n';
}

QTextBlockFormat joinedFormat() {
    QTextBlockFormat format;
    format.setProperty(kJoinedProperty, true);
    return format;
}

// The document text of one widget, kept from one change to the next. Reading a large document
// out of the widget takes tens of milliseconds (about 40 for 10 MB), which the click on ">"
// must not wait for: after each change the text is built again while the window is idle, a
// slice of blocks at a time, so that neither the click nor the idle window stalls. Asked for
// before it is complete, the rest is built at once.
class TextCache : public QObject {
    Q_OBJECT
public:
    static TextCache &of(const QTextDocument &document) {
        auto &doc = const_cast<QTextDocument &>(document);
        auto *cache = doc.findChild<TextCache *>(QString(), Qt::FindDirectChildrenOnly);
        return cache ? *cache : *new TextCache(doc);
    }

    QString text() {
        build(std::numeric_limits<qsizetype>::max());
        return m_text;
    }
    void forget() {
        m_complete = false;
        m_started = false;
        m_text = QString();
        m_idle.start(kIdleMs);
    }

private:
    // After the last change, before building starts; then one slice per turn of the event loop.
    static constexpr int kIdleMs = 200;
    static constexpr qsizetype kSliceChars = 256 * 1024;

    explicit TextCache(QTextDocument &document)
        : QObject(&document)
        , m_document(document) {
        m_idle.setSingleShot(true);
        connect(&m_idle, &QTimer::timeout, this, [this] { build(kSliceChars); });
        connect(&document, &QTextDocument::contentsChange, this, &TextCache::forget);
        forget();
    }

    void build(qsizetype budget) {
        if (m_complete)
            return;
        if (!m_started) {
            m_started = true;
            m_text = QString();
            m_text.reserve(m_document.characterCount() + m_document.blockCount());
            m_block = m_document.begin();
        }
        const bool joins = hasJoins(m_document);
        for (qsizetype done = 0; m_block.isValid() && done < budget; m_block = m_block.next()) {
            if (m_block != m_document.begin() && !(joins && DocumentText::isJoined(m_block)))
                m_text += u"\r\n";
            const QString line = m_block.text();
            // A line separator typed with Shift+Enter breaks the line within its block.
            qsizetype from = 0;
            for (qsizetype i = 0; i < line.size(); ++i) {
                if (isWidgetBreak(line.at(i))) {
                    m_text += QStringView(line).sliced(from, i - from);
                    m_text += u"\r\n";
                    from = i + 1;
                }
            }
            m_text += QStringView(line).sliced(from);
            done += line.size() + 1;
        }
        m_complete = !m_block.isValid();
        if (!m_complete)
            m_idle.start(0);
    }

    QTextDocument &m_document;
    QTimer m_idle;
    QString m_text;
    QTextBlock m_block; // the next to add
    bool m_started = false;
    bool m_complete = false;
};

} // namespace

bool DocumentText::isJoined(const QTextBlock &block) {
    return block.blockFormat().boolProperty(kJoinedProperty);
}

QString DocumentText::toDocument(const QTextDocument &document, qsizetype from,
                                 const QString &raw) {
    // One pass into a buffer big enough for every break to become "\r\n": QString::replace with
    // a longer replacement moves the rest of the string again for every batch of hits.
    const auto breaks = std::count_if(raw.cbegin(), raw.cend(), isWidgetBreak);
    if (breaks == 0)
        return raw;
    const bool joins = hasJoins(document);
    QTextBlock block = joins ? document.findBlock(int(from)) : QTextBlock();
    QString text(raw.size() + breaks, Qt::Uninitialized);
    QChar *out = text.data();
    for (const QChar c : raw) {
        if (!isWidgetBreak(c)) {
            *out++ = c;
            continue;
        }
        if (joins && c == QChar::ParagraphSeparator) {
            block = block.next();
            if (isJoined(block))
                continue;
        }
        *out++ = u'\r';
        *out++ = u'\n';
    }
    text.truncate(out - text.constData());
    return text;
}

DocumentText::DocumentText(QPlainTextEdit &edit)
    : m_edit(edit) {
    TextCache::of(*edit.document()); // from now on the text is kept up to date while idle
}

QString DocumentText::text() const {
    return TextCache::of(*m_edit.document()).text();
}

QString DocumentText::selectedText() const {
    const QTextCursor cursor = m_edit.textCursor();
    return toDocument(*m_edit.document(), cursor.selectionStart(), cursor.selectedText());
}

void DocumentText::setText(const QString &text) {
    m_edit.setPlainText(QString());
    m_edit.document()->setProperty(kHasJoins, false);
    append(text);
}

void DocumentText::append(const QString &more) {
    QTextDocument &document = *m_edit.document();
    // Setting the text starts a fresh undo history; so does this, which also spares an undo
    // record for every added line.
    const bool undoWasEnabled = document.isUndoRedoEnabled();
    document.setUndoRedoEnabled(false);
    QTextCursor end(&document);
    end.movePosition(QTextCursor::End);
    insert(end, more);
    document.setUndoRedoEnabled(undoWasEnabled);
    m_edit.moveCursor(QTextCursor::Start);
}

std::vector<qsizetype> DocumentText::cuts(QStringView line, QStringView before) {
    // Positions count from the start of `line`; the piece it continues starts before it.
    qsizetype pieceStart = -before.size();
    qsizetype run = 0;
    while (run < before.size() && !before[before.size() - 1 - run].isSpace())
        ++run;
    qsizetype afterSpace = run < before.size() ? -run : pieceStart; // just after the last space
    std::vector<qsizetype> cuts;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const bool space = line[i].isSpace();
        run = space ? 0 : run + 1;
        qsizetype cut = -1;
        if (run > kMaxRun)
            cut = i;
        else if (i - pieceStart >= kMaxLine) // where a wrapped line would end, if there is one
            cut = afterSpace > 0 && afterSpace > pieceStart ? afterSpace : i;
        if (cut >= 0) {
            while (cut > 0 && cut > pieceStart + 1 &&
                   (line[cut].isLowSurrogate() || line[cut].isMark()))
                --cut;
            cuts.push_back(cut);
            pieceStart = cut;
            run = space ? 0 : i - cut + 1;
        }
        if (space)
            afterSpace = i + 1;
    }
    return cuts;
}

void DocumentText::insert(QTextCursor &cursor, QStringView text) {
    // U+FDD0 and U+FDD1 are no characters; Qt's documents use them inside as frame marks and
    // would turn them into line breaks. They are shown as what they are: replaced.
    const auto isFrameMark = [](QChar c) {
        return c.unicode() == 0xFDD0 || c.unicode() == 0xFDD1;
    };
    if (std::any_of(text.begin(), text.end(), isFrameMark)) {
        QString replaced = text.toString();
        std::replace_if(replaced.begin(), replaced.end(), isFrameMark,
                        QChar(QChar::ReplacementCharacter));
        return insert(cursor, replaced);
    }
    QTextDocument &document = *cursor.document();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    // Short lines go in as one stretch: Qt splits it into blocks itself, each new one with the
    // format of the block the cursor is in, so the cursor must not be in a joined block then.
    qsizetype pending = 0;
    const auto flush = [&](qsizetype upTo) {
        if (upTo > pending)
            cursor.insertText(text.sliced(pending, upTo - pending).toString());
        pending = upTo;
    };
    bool inJoined = isJoined(cursor.block());
    bool joined = false;
    // The first line continues the text before the cursor, which counts towards its cuts.
    QString before = cursor.block().text().left(cursor.positionInBlock());
    for (qsizetype lineStart = 0; lineStart <= text.size();) {
        qsizetype lineEnd = lineStart;
        while (lineEnd < text.size() && !isLineBreak(text[lineEnd]))
            ++lineEnd;
        qsizetype breakLength = lineEnd < text.size() ? 1 : 0;
        if (breakLength && text[lineEnd] == u'\r' && lineEnd + 1 < text.size() &&
            text[lineEnd + 1] == u'\n')
            breakLength = 2;
        if (before.size() + lineEnd - lineStart > kMaxRun) {
            const std::vector<qsizetype> cuts =
                DocumentText::cuts(text.sliced(lineStart, lineEnd - lineStart), before);
            for (const qsizetype cut : cuts) {
                flush(lineStart + cut);
                cursor.insertBlock(joinedFormat());
                inJoined = joined = true;
            }
        }
        before.clear();
        if (breakLength && inJoined) {
            flush(lineEnd);
            cursor.insertBlock(QTextBlockFormat());
            inJoined = false;
            pending = lineEnd + breakLength;
        }
        if (!breakLength)
            break;
        lineStart = lineEnd + breakLength;
    }
    flush(text.size());
    cursor.endEditBlock();
    if (joined) {
        document.setProperty(kHasJoins, true);
        TextCache::of(document).forget();
    }
}

TextPositions::TextPositions(const QTextDocument &document) {
    const bool joins = hasJoins(document);
    qsizetype position = 0;
    qsizetype offset = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block != document.begin()) {
            ++position;
            offset += joins && DocumentText::isJoined(block) ? 0 : 2;
            m_anchors.push_back({position, offset});
        }
        const QString line = block.text();
        qsizetype done = 0;
        for (qsizetype at = line.indexOf(QChar::LineSeparator); at >= 0;
             at = line.indexOf(QChar::LineSeparator, at + 1)) {
            position += at + 1 - done;
            offset += at + 2 - done;
            done = at + 1;
            m_anchors.push_back({position, offset});
        }
        position += line.size() - done;
        offset += line.size() - done;
    }
}

qsizetype TextPositions::toWidget(qsizetype offset) const {
    const auto after = std::upper_bound(m_anchors.begin(), m_anchors.end(), offset,
                                        [](qsizetype o, const Anchor &a) { return o < a.offset; });
    if (after == m_anchors.begin())
        return offset;
    const Anchor &anchor = *(after - 1);
    return anchor.position + (offset - anchor.offset);
}

qsizetype TextPositions::toOffset(qsizetype position) const {
    const auto after =
        std::upper_bound(m_anchors.begin(), m_anchors.end(), position,
                         [](qsizetype p, const Anchor &a) { return p < a.position; });
    if (after == m_anchors.begin())
        return position;
    const Anchor &anchor = *(after - 1);
    return anchor.offset + (position - anchor.position);
}

void DocumentEdit::keyPressEvent(QKeyEvent *event) {
    QTextCursor cursor = textCursor();
    if (isReadOnly())
        return QPlainTextEdit::keyPressEvent(event);
    const QTextBlock block = document()->findBlock(cursor.selectionStart());
    if (event->matches(QKeySequence::InsertParagraphSeparator) && DocumentText::isJoined(block)) {
        // Qt gives the new block the format of the one it splits: it would be joined too, and
        // the line break the user typed would not be in the text.
        cursor.beginEditBlock();
        cursor.removeSelectedText();
        cursor.insertBlock(QTextBlockFormat());
        cursor.endEditBlock();
    } else if (cursor.hasSelection()) {
        return QPlainTextEdit::keyPressEvent(event);
    } else if (event->key() == Qt::Key_Backspace && event->modifiers() == Qt::NoModifier &&
               cursor.atBlockStart() && DocumentText::isJoined(block) &&
               block.previous().length() > 1) {
        // The join is no character: the one before the caret is the previous block's last.
        cursor.setPosition(block.position() - 1);
        cursor.deletePreviousChar();
    } else if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier &&
               cursor.atBlockEnd() && DocumentText::isJoined(block.next()) &&
               block.next().length() > 1) {
        cursor.setPosition(block.next().position());
        cursor.deleteChar();
    } else {
        return QPlainTextEdit::keyPressEvent(event);
    }
    setTextCursor(cursor);
    ensureCursorVisible();
    event->accept();
}

void DocumentEdit::insertFromMimeData(const QMimeData *source) {
    // Qt's own paste would put the text in as one block per line whatever its length, and lay
    // a long one out for seconds; it also goes through a second document first.
    if (isReadOnly() || !source || !source->hasText())
        return;
    QTextCursor cursor = textCursor();
    DocumentText::insert(cursor, source->text());
    setTextCursor(cursor);
    ensureCursorVisible();
}

QMimeData *DocumentEdit::createMimeDataFromSelection() const {
    // Copied or dragged out as the document has it: line breaks as "\r\n", no-break spaces kept
    // (Qt's own would turn them into spaces), no break at a join.
    const QTextCursor cursor = textCursor();
    auto *mime = new QMimeData;
    mime->setText(
        DocumentText::toDocument(*document(), cursor.selectionStart(), cursor.selectedText()));
    return mime;
}

#include "DocumentText.moc"
