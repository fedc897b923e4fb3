#pragma once
// Pure rules behind Read Mode's highlight: colours that keep the text readable.

#include <QColor>
#include <QPalette>

namespace readmode {

// WCAG contrast ratio of two colours (1 to 21).
double contrastRatio(const QColor &a, const QColor &b);

struct HighlightColours {
    QColor wordBackground;
    QColor wordText;
    QColor sentenceBackground;
};

// From the palette: the word in the selection colours, the sentence in a light shade of them;
// each with a contrast of at least 4.5:1 against its text.
HighlightColours highlightColours(const QPalette &palette);

} // namespace readmode
