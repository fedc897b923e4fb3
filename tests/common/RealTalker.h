#pragma once
// Tests that look inside the window's real engine (its worker's pid, its first frame, what the
// sound server heard) reach past the window's engine interface here.

#include "Form1.h"
#include "SpeechEngine.h"

inline speech::SpeechEngine &realTalker(Form1 &window) {
    return dynamic_cast<speech::SpeechEngine &>(window.talker());
}
