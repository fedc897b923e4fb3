#pragma once
// File > Export to Wav: asks where, renders the document off the UI thread behind a progress
// dialog, and says how it went.

#include <QString>

class QWidget;

namespace speech {
class Engine;
}

namespace audioexport {

// Renders `text` with the voice and speed `talker` speaks with. Every outcome is shown to the
// user; nothing is thrown.
void exportDocument(QWidget *parent, const QString &text, const speech::Engine &talker);

} // namespace audioexport
