#include "ReadMode.h"

#include "Engine.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

namespace readmode {
namespace {
// Often enough to follow speech word by word; the highlight itself moves only when the word does.
constexpr int kPollMs = 25;

QString accessibleName(bool on) {
    return on ? QObject::tr("Read Mode, on") : QObject::tr("Read Mode, off");
}
} // namespace

ReadMode::ReadMode(QPlainTextEdit &edit, QPushButton &button, speech::Engine &engine,
                   Actions actions)
    : QObject(&edit)
    , m_edit(edit)
    , m_button(button)
    , m_engine(engine)
    , m_actions(std::move(actions))
    , m_viewport(edit.viewport())
    , m_colours(highlightColours(edit.palette())) {
    m_button.setCheckable(true);
    m_button.setAccessibleName(accessibleName(false));
    m_button.setAccessibleDescription(
        tr("Reads from the word you click and highlights each word as it is heard. While it is "
           "on, the text cannot be changed but the arrow keys still move through it; Space "
           "pauses or resumes, Escape stops."));
    m_poll.setInterval(kPollMs);
    connect(&m_poll, &QTimer::timeout, this, &ReadMode::poll);
    // The end of speech takes the highlight away at once, not at the next poll.
    connect(&m_engine, &speech::Engine::stateChanged, this, &ReadMode::poll);
    // Whatever starts the document's speech (">", a click here, a voice command) is followed
    // from its text. The test sentence is not the document, and going on after it is the same
    // session, which keeps whether the text was edited since.
    connect(&m_engine, &speech::Engine::speechStarted, this,
            [this](const speech::SpeechRequest &request) {
                if (!request.preview && request.session != m_session)
                    follow(request.text, request.session);
            });
    connect(m_edit.document(), &QTextDocument::contentsChange, this, [this] {
        m_edited = true;
        m_positions.reset();
    });
    connect(m_edit.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (!m_scrolling)
            m_followView = false; // the user looks elsewhere: stop pulling the view back
    });
    m_edit.installEventFilter(this);
    m_viewport->installEventFilter(this);
}

void ReadMode::setOn(bool on) {
    m_on = on;
    m_button.setChecked(on);
    m_button.setAccessibleName(accessibleName(on));
    m_edit.setReadOnly(on);
    // Read-only, yet with a caret the keys move: the text can still be reviewed, and the caret
    // is what assistive technology follows (see moveCaretToWord).
    if (on)
        m_edit.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    if (on) {
        m_followView = true;
        m_lastSpokenWord.reset();
        m_poll.start();
        poll();
    } else {
        m_poll.stop();
        clearHighlight();
    }
}

void ReadMode::follow(const QString &text, quint64 session) {
    m_spokenText = text;
    m_session = session;
    m_edited = false;
    m_positions.reset();
    m_lastSpokenWord.reset();
    m_followView = true;
}

const TextPositions &ReadMode::positions() {
    // Built when first needed; any edit since the text was spoken drops it (m_edited).
    if (!m_positions)
        m_positions.emplace(*m_edit.document());
    return *m_positions;
}

void ReadMode::readFrom(qsizetype position) {
    // The text cannot be edited in Read Mode, but it may have changed since the last ">".
    const QString spoken = m_edited ? m_actions.documentText() : m_spokenText;
    const qsizetype last = m_edit.document()->characterCount() - 1;
    // Back to the start of the word under the click.
    qsizetype start =
        std::min(positions().toOffset(std::clamp<qsizetype>(position, 0, last)), spoken.size());
    while (start > 0 && !spoken.at(start - 1).isSpace())
        --start;
    try {
        m_engine.speak(spoken, start);
    } catch (...) {
        // Like ">": a failure to speak is not shown.
    }
    poll();
}

bool ReadMode::eventFilter(QObject *watched, QEvent *event) {
    if (!m_on)
        return false;
    if (watched == &m_edit && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier) {
            m_actions.pauseOrResume();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            m_actions.stop();
            return true;
        }
    }
    // Compared with the viewport kept from the start: the filter also sees the events of the
    // text area's own destruction, when calling its viewport() is no longer valid.
    if (watched != m_viewport)
        return false;
    // Only a plain click reads from the word under it: press and release of the left button at
    // one spot with no modifier. A drag selects and a modified click extends the selection, as
    // in any text view; the second click of a double click selects the word.
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        m_pressAt = mouse->button() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier
                        ? std::optional(mouse->position().toPoint())
                        : std::nullopt;
        return false;
    }
    case QEvent::MouseButtonDblClick:
        m_pressAt.reset();
        return false;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const std::optional<QPoint> pressAt = std::exchange(m_pressAt, std::nullopt);
        if (mouse->button() != Qt::LeftButton || !pressAt ||
            (mouse->position().toPoint() - *pressAt).manhattanLength() >=
                QApplication::startDragDistance())
            return false;
        readFrom(m_edit.cursorForPosition(mouse->position().toPoint()).position());
        return true;
    }
    default:
        return false;
    }
}

void ReadMode::poll() {
    if (!m_on)
        return;
    if (m_edited || m_engine.speechSession() != m_session || !m_engine.isSpeaking()) {
        clearHighlight();
        return;
    }
    const auto word = m_engine.currentWord();
    if (!word || word == m_lastSpokenWord)
        return; // paused, or still the same word
    showSpokenRange(*word, m_engine.currentSentence());
}

speech::TextRange ReadMode::toWidget(speech::TextRange spoken) {
    const TextPositions &map = positions();
    const qsizetype start = map.toWidget(spoken.offset);
    return {start, map.toWidget(spoken.offset + spoken.length) - start};
}

void ReadMode::showSpokenRange(speech::TextRange word, std::optional<speech::TextRange> sentence) {
    m_lastSpokenWord = word;
    m_word = toWidget(word);
    if (sentence)
        m_sentence = toWidget(*sentence);
    applySelections();
    moveCaretToWord();
    keepInView();
}

void ReadMode::moveCaretToWord() {
    // A magnifier or screen reader follows the caret, so it goes to each word as it is heard,
    // unless the user has selected something. Scrolling is keepInView's business, not this.
    if (m_edit.textCursor().hasSelection())
        return;
    QScrollBar *vertical = m_edit.verticalScrollBar();
    QScrollBar *horizontal = m_edit.horizontalScrollBar();
    const int top = vertical->value();
    const int left = horizontal->value();
    m_scrolling = true;
    QTextCursor cursor(m_edit.document());
    cursor.setPosition(m_word->offset);
    m_edit.setTextCursor(cursor);
    vertical->setValue(top);
    horizontal->setValue(left);
    m_scrolling = false;
}

void ReadMode::clearHighlight() {
    if (!m_word && !m_sentence)
        return;
    m_word.reset();
    m_sentence.reset();
    m_lastSpokenWord.reset();
    m_edit.setExtraSelections({});
}

void ReadMode::applySelections() {
    QList<QTextEdit::ExtraSelection> selections;
    auto add = [&](const speech::TextRange &range, const QColor &background, const QColor &text) {
        QTextEdit::ExtraSelection s;
        s.cursor = QTextCursor(m_edit.document());
        s.cursor.setPosition(range.offset);
        s.cursor.setPosition(range.offset + range.length, QTextCursor::KeepAnchor);
        s.format.setBackground(background);
        if (text.isValid())
            s.format.setForeground(text);
        selections.append(s);
    };
    if (m_sentence)
        add(*m_sentence, m_colours.sentenceBackground, QColor());
    if (m_word)
        add(*m_word, m_colours.wordBackground, m_colours.wordText);
    m_edit.setExtraSelections(selections);
}

void ReadMode::keepInView() {
    if (!m_word)
        return;
    QTextCursor cursor(m_edit.document());
    cursor.setPosition(m_word->offset);
    const QRect at = m_edit.cursorRect(cursor);
    const bool visible = m_edit.viewport()->rect().contains(at);
    if (visible) {
        m_followView = true; // the spoken word is back in view: follow it again
        return;
    }
    if (!m_followView)
        return;
    m_scrolling = true;
    m_edit.setTextCursor(cursor);
    m_edit.ensureCursorVisible();
    m_scrolling = false;
}

} // namespace readmode
