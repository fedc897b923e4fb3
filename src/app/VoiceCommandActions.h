#pragma once
// What a spoken command does in the main window: exactly what pressing its button or choosing
// its menu entry does, through that same control, so that captions and state stay true.

#include "Commands.h"

#include <QString>

class Form1;

namespace app {

// Performs `command`. "pause" and "resume" act only when the pause button's caption offers
// them. Returns false if the command did not apply (e.g. "resume" while speaking).
bool performVoiceCommand(Form1 &window, voicecommands::Command command);

// The status line for a recognised command: "Heard: read mode".
QString heardCaption(voicecommands::Command command);

// Every phrase "Give Command" understands: "read, pause, ..., read mode".
QString commandList();

// The status line for speech that failed while speaking, from the engine's description:
// "Speech stopped: the connection to the sound server was lost."
QString speechStoppedCaption(const QString &description);

} // namespace app
