#pragma once

#include "Backend.h"
#include "SpeedMap.h"

#include <memory>

namespace parlivo::synth {

class Stretch;

// espeak-ng, synchronous mode. espeak-ng keeps global state, so exactly one instance exists and
// every call comes from the one thread that created it.
class EspeakBackend final : public Backend {
public:
    EspeakBackend(); // throws std::runtime_error if espeak-ng cannot start
    ~EspeakBackend() override;

    int sampleRate() const override { return m_sampleRate; }
    std::vector<proto::VoiceInfo> voices() override;
    bool setVoice(const std::string &name) override;
    void setSpeed(int wpm) override;
    bool synthesise(std::u16string_view chunk, const AudioSink &sink) override;

private:
    int m_sampleRate = 22050;
    EspeakSpeed m_speed;
};

} // namespace parlivo::synth
