#include "HighlightRules.h"

#include <algorithm>
#include <cmath>

namespace readmode {

namespace {
double channel(double c) {
    c /= 255.0;
    return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double luminance(const QColor &c) {
    return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
}
QColor blend(const QColor &from, const QColor &to, double amount) {
    auto mix = [amount](int a, int b) {
        return int(std::lround(a + (b - a) * amount));
    };
    return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()),
                  mix(from.blue(), to.blue()));
}
constexpr double kMinContrast = 4.5;
} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

HighlightColours highlightColours(const QPalette &palette) {
    HighlightColours colours;
    colours.wordBackground = palette.color(QPalette::Active, QPalette::Highlight);
    colours.wordText = palette.color(QPalette::Active, QPalette::HighlightedText);
    if (contrastRatio(colours.wordBackground, colours.wordText) < kMinContrast) {
        const QColor black(Qt::black), white(Qt::white);
        colours.wordText = contrastRatio(colours.wordBackground, black) >=
                                   contrastRatio(colours.wordBackground, white)
                               ? black
                               : white;
        // A mid-tone highlight can be too weak for either: darken or lighten it until it holds.
        for (int i = 0;
             i < 20 && contrastRatio(colours.wordBackground, colours.wordText) < kMinContrast; ++i)
            colours.wordBackground =
                blend(colours.wordBackground, colours.wordText == black ? white : black, 0.15);
    }
    // The sentence: a light tint of the highlight over the text's own background, never so
    // strong that the ordinary text colour loses its contrast.
    const QColor base = palette.color(QPalette::Active, QPalette::Base);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    double amount = 0.25;
    colours.sentenceBackground = blend(base, colours.wordBackground, amount);
    while (amount > 0.0 && contrastRatio(colours.sentenceBackground, text) < kMinContrast) {
        amount -= 0.05;
        colours.sentenceBackground = blend(base, colours.wordBackground, std::max(amount, 0.0));
    }
    return colours;
}

} // namespace readmode
