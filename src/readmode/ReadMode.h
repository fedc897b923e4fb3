#pragma once
// Read Mode: while on, the text is read-only, the word being heard is highlighted with its
// sentence lightly shaded and kept in view, and a click on a word reads from there.

#include "DocumentText.h"
#include "HighlightRules.h"
#include "Timeline.h"

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class QPlainTextEdit;
class QPushButton;

namespace speech {
class Engine;
}

namespace readmode {

class ReadMode : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> pauseOrResume;   // the "||" button's own handler
        std::function<void()> stop;            // the "ST" button's own handler
        std::function<QString()> documentText; // the whole text in CRLF form
    };

    ReadMode(QPlainTextEdit &edit, QPushButton &button, speech::Engine &engine, Actions actions);

    void setOn(bool on);
    bool isOn() const { return m_on; }

    // The document text `text` (CRLF form) is now being spoken in speech session `session`.
    // Called for every request the engine starts; public for the benchmark, which times it.
    void follow(const QString &text, quint64 session);
    // Speaks the document from the word at widget position `position`, like ">".
    void readFrom(qsizetype position);

    // Widget ranges (position, length) of the highlight; none when nothing is highlighted.
    std::optional<speech::TextRange> wordHighlight() const { return m_word; }
    std::optional<speech::TextRange> sentenceHighlight() const { return m_sentence; }
    bool isFollowingView() const { return m_followView; }
    HighlightColours colours() const { return m_colours; }

    // Moves the highlight to a word and sentence given as offsets of the spoken text. Public so
    // that its cost can be measured; normally driven by the engine.
    void showSpokenRange(speech::TextRange word, std::optional<speech::TextRange> sentence);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void poll();
    void clearHighlight();
    void applySelections();
    void keepInView();
    void moveCaretToWord();
    speech::TextRange toWidget(speech::TextRange spoken);
    const TextPositions &positions();

    QPlainTextEdit &m_edit;
    QPushButton &m_button;
    speech::Engine &m_engine;
    Actions m_actions;
    QObject *m_viewport; // the text area's, which clicks land on
    QTimer m_poll;
    bool m_on = false;

    QString m_spokenText;  // shares the characters of what was spoken
    quint64 m_session = 0; // the engine's session that speaks the document
    bool m_edited = true;  // the text changed since it was spoken: offsets mean nothing now
    std::optional<TextPositions> m_positions; // of the widget as it was spoken
    std::optional<speech::TextRange> m_lastSpokenWord;
    std::optional<speech::TextRange> m_word;
    std::optional<speech::TextRange> m_sentence;
    HighlightColours m_colours;
    bool m_followView = true;
    bool m_scrolling = false;        // our own scrolling, not the user's
    std::optional<QPoint> m_pressAt; // where a plain left press began what may be a click
};

} // namespace readmode
