#pragma once
// What the three playback buttons do. The pause button keeps its state in its caption.

#include <QString>
#include <QStringView>

namespace speech {

class Engine;
struct SpeechRequest;

inline const QString kPauseCaption = QStringLiteral("||");
inline const QString kResumeCaption = QStringLiteral("RES");

// ">": speaks the whole text. Every failure is ignored: nothing is shown.
void speakWholeText(Engine &engine, const QString &text) noexcept;

// "||" / "RES": pauses when the caption is exactly "||", resumes otherwise, and returns the
// caption the button must show next. Throws EngineError before any caption change.
QString togglePause(Engine &engine, const QString &caption);

// "ST": stops; the pause caption is not touched.
void stopSpeaking(Engine &engine);

// Moving by sentence while reading. Sentences are the pieces the synthesiser speaks one at a time
// (a very long sentence is several), so a move lands exactly where the voice starts.
enum class SentenceMove {
    Next,    // the sentence after the one being heard
    Restart, // the start of the one being heard
    Back,    // the sentence before the one being heard
};

// Speaks `reading` (the request being heard) on from where `move` goes, paused or not as it
// was. Returns false, doing nothing, when there is no such sentence (Next on the last one).
// Throws EngineError as Engine::speak() does.
bool moveBySentence(Engine &engine, const SpeechRequest &reading, SentenceMove move);

// Where the sentence before the one starting at `start` starts in `text`; `start` itself when
// there is none. Looks back a bounded way, so it costs the same in any size of document.
qsizetype sentenceBefore(QStringView text, qsizetype start);

} // namespace speech
