#pragma once
// Subtitle files (SRT, WebVTT) as text: what is said, one cue per line, without cue numbers,
// timings, headers, notes or styling tags.

#include "TextBuilder.h"

#include <QString>

namespace extract {

QString subtitlesToText(const QString &decoded, const Limits &limits);

} // namespace extract
