#include "Stretch.h"

#include <sonic.h>
#include <stdexcept>

namespace parlivo::synth {

Stretch::Stretch(int sampleRate, double speed)
    : m_stream(sonicCreateStream(sampleRate, 1)) {
    if (!m_stream)
        throw std::runtime_error("cannot create the time-stretch stream");
    sonicSetSpeed(m_stream, static_cast<float>(speed));
}

Stretch::~Stretch() {
    sonicDestroyStream(m_stream);
}

std::vector<std::int16_t> Stretch::process(const std::int16_t *samples, int count) {
    if (count > 0)
        sonicWriteShortToStream(m_stream, const_cast<short *>(samples), count);
    return drain();
}

std::vector<std::int16_t> Stretch::flush() {
    sonicFlushStream(m_stream);
    return drain();
}

std::vector<std::int16_t> Stretch::drain() {
    std::vector<std::int16_t> out(static_cast<std::size_t>(sonicSamplesAvailable(m_stream)));
    if (!out.empty()) {
        const int got =
            sonicReadShortFromStream(m_stream, out.data(), static_cast<int>(out.size()));
        out.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    }
    return out;
}

} // namespace parlivo::synth
