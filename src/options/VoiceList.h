#pragma once
// How the voice choice lists the synthesisers' voices.

#include "Engine.h"

#include <QList>
#include <QString>

namespace options {

// Sorted for the list: by engine (espeak-ng first), then by shown name.
QList<speech::Voice> sortedVoices(QList<speech::Voice> voices);
// "English (Great Britain) - espeak-ng"
QString voiceLabel(const speech::Voice &voice);
// The automatic choice's entry: "Automatic (by the text's language)", or "Automatic (French)"
// while French is heard.
QString automaticLabel(const QString &language);
// Index of the voice `id` in `voices`; a bare language ("espeak:en") matches its first regional
// voice ("espeak:en-gb"). -1 if none.
int indexOfVoice(const QList<speech::Voice> &voices, const QString &id);

} // namespace options
