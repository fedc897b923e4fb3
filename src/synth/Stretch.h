#pragma once
// Time-stretching of 16-bit mono PCM with the pitch kept.

#include <cstdint>
#include <vector>

struct sonicStreamStruct;

namespace parlivo::synth {

class Stretch {
public:
    Stretch(int sampleRate, double speed);
    ~Stretch();
    Stretch(const Stretch &) = delete;
    Stretch &operator=(const Stretch &) = delete;

    // Feeds input and returns what is ready so far.
    std::vector<std::int16_t> process(const std::int16_t *samples, int count);
    // Returns the rest once the input has ended.
    std::vector<std::int16_t> flush();

private:
    std::vector<std::int16_t> drain();
    sonicStreamStruct *m_stream;
};

} // namespace parlivo::synth
