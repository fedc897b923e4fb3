#include "PlaybackControls.h"

#include "SpeechEngine.h"

namespace speech {

void speakWholeText(SpeechEngine &engine, const QString &text) noexcept {
    try {
        engine.speak(text);
    } catch (...) {
        // ">" ignores every error by design: no box, the window stays as it was.
    }
}

QString togglePause(SpeechEngine &engine, const QString &caption) {
    if (caption == kPauseCaption) {
        engine.pause();
        return kResumeCaption;
    }
    engine.resume();
    return kPauseCaption;
}

void stopSpeaking(SpeechEngine &engine) { engine.stop(); }

} // namespace speech
