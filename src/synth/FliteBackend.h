#pragma once

#include "Backend.h"

#include <map>
#include <string>

struct cst_voice_struct;

namespace parlivo::synth {

// Flite's English voices (16 kHz). Each chunk is synthesised whole: Flite's first audio comes
// later the longer the text, so it only ever gets one sentence at a time.
class FliteBackend final : public Backend {
public:
    FliteBackend();

    int sampleRate() const override { return kRate; }
    std::vector<proto::VoiceInfo> voices() override;
    bool setVoice(const std::string &name) override;
    void setSpeed(int wpm) override;
    bool synthesise(std::u16string_view chunk, const AudioSink &sink) override;

    static constexpr int kRate = 16000;

private:
    cst_voice_struct *voice(const std::string &name);

    std::map<std::string, cst_voice_struct *> m_voices; // registered on first use
    cst_voice_struct *m_current = nullptr;
    float m_stretch = 1.0f;
};

} // namespace parlivo::synth
