#pragma once
// Words per minute -> what the synthesisers are asked for.

#include "Speeds.h"

#include <algorithm>

namespace parlivo::synth {

// What espeak-ng speaks at when asked for nothing in particular.
inline constexpr int kEspeakDefaultWpm = parlivo::kDefaultWpm;
inline constexpr int kEspeakFloorWpm = 80;

struct EspeakSpeed {
    int rate = kEspeakDefaultWpm; // espeak-ng's own rate parameter
    double stretch = 1.0;         // played-back speed factor applied afterwards (<1 is slower)
    bool operator==(const EspeakSpeed &) const = default;
};

// espeak-ng speaks anything below 80 wpm at 80, so the slow end of the range is synthesised at 80
// and slowed down by time-stretching, keeping the pitch. 0 means the synthesiser's default.
inline EspeakSpeed espeakSpeed(int wpm) {
    if (wpm <= 0)
        return {};
    if (wpm < kEspeakFloorWpm)
        return {kEspeakFloorWpm, static_cast<double>(wpm) / kEspeakFloorWpm};
    return {wpm, 1.0};
}

} // namespace parlivo::synth
