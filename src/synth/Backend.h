#pragma once
// What the worker needs of a synthesiser.

#include "Protocol.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace parlivo::synth {

// A word heard at `sample` (counted from the start of the chunk's audio), given as a UTF-16
// offset into the chunk.
struct ChunkWord {
    std::uint64_t sample = 0;
    std::size_t offset = 0;
};

// Receives audio as it is made. Returning false cancels the rest of the chunk.
using AudioSink = std::function<bool(const std::int16_t *samples, std::size_t count,
                                     const std::vector<ChunkWord> &words)>;

class Backend {
public:
    virtual ~Backend() = default;
    virtual int sampleRate() const = 0;
    virtual std::vector<proto::VoiceInfo> voices() = 0;
    // Selects the voice by its id without the engine prefix; false if there is no such voice.
    virtual bool setVoice(const std::string &name) = 0;
    virtual void setSpeed(int wpm) = 0;
    // Synthesises one chunk of text. Returns false if it was cancelled through the sink.
    virtual bool synthesise(std::u16string_view chunk, const AudioSink &sink) = 0;
};

} // namespace parlivo::synth
