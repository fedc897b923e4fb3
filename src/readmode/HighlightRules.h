#pragma once
// Pure rules behind Read Mode's highlight: mapping offsets of the spoken text (lines separated by
// "\r\n") to positions in the text widget (one position per line break), and colours that keep
// the text readable.

#include <QColor>
#include <QPalette>
#include <QString>

#include <vector>

namespace readmode {

class LineMap {
public:
    LineMap() = default;
    explicit LineMap(const QString &crlfText);
    // Widget position of an offset into the spoken text.
    qsizetype toWidget(qsizetype offset) const;
    // Offset into the spoken text of a widget position in block number `block`.
    static qsizetype toSpoken(qsizetype position, int block) { return position + block; }

private:
    std::vector<qsizetype> m_breaks; // offsets of each "\r\n"
};

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
