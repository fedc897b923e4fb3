#pragma once
// What the three playback buttons do. The pause button keeps its state in its caption.

#include <QString>

namespace speech {

class Engine;

inline const QString kPauseCaption = QStringLiteral("||");
inline const QString kResumeCaption = QStringLiteral("RES");

// ">": speaks the whole text. Every failure is ignored: nothing is shown.
void speakWholeText(Engine &engine, const QString &text) noexcept;

// "||" / "RES": pauses when the caption is exactly "||", resumes otherwise, and returns the
// caption the button must show next. Throws EngineError before any caption change.
QString togglePause(Engine &engine, const QString &caption);

// "ST": stops; the pause caption is not touched.
void stopSpeaking(Engine &engine);

} // namespace speech
