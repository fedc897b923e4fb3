#include "PlaybackControls.h"

#include "Engine.h"

namespace speech {

void speakWholeText(Engine &engine, const QString &text) noexcept {
    try {
        engine.speak(text);
    } catch (...) {
        // ">" ignores every error by design: no box, the window stays as it was.
    }
}

QString togglePause(Engine &engine, const QString &caption) {
    if (caption == kPauseCaption) {
        engine.pause();
        return kResumeCaption;
    }
    engine.resume();
    return kPauseCaption;
}

void stopSpeaking(Engine &engine) {
    engine.stop();
}

} // namespace speech
