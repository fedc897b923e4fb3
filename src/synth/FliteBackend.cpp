#include "FliteBackend.h"

#include "SpeedMap.h"
#include "TextUnits.h"

extern "C" {
#include <flite/flite.h>
cst_voice *register_cmu_us_slt(const char *voxdir);
cst_voice *register_cmu_us_kal16(const char *voxdir);
cst_voice *register_cmu_us_rms(const char *voxdir);
cst_voice *register_cmu_us_awb(const char *voxdir);
}

#include <cmath>
#include <memory>
#include <stdexcept>

namespace parlivo::synth {
namespace {

struct KnownVoice {
    const char *id;
    const char *name;
    cst_voice *(*registerVoice)(const char *);
};

constexpr KnownVoice kKnown[] = {
    {"slt", "Flite slt (US English, female)", register_cmu_us_slt},
    {"kal16", "Flite kal16 (US English, male)", register_cmu_us_kal16},
    {"rms", "Flite rms (US English, male)", register_cmu_us_rms},
    {"awb", "Flite awb (Scottish English, male)", register_cmu_us_awb},
};

struct UtteranceDeleter {
    void operator()(cst_utterance *u) const { delete_utterance(u); }
};

// Where the written token `name` starts in `chunk`, searching from `from`. Flite's tokens are the
// written words with punctuation split off, so they appear in order.
std::size_t findToken(const std::u16string &chunk, const std::u16string &name, std::size_t from) {
    if (name.empty())
        return std::u16string::npos;
    return chunk.find(name, from);
}

} // namespace

FliteBackend::FliteBackend() {
    static const bool initialised = [] {
        flite_init();
        return true;
    }();
    (void)initialised;
}

std::vector<proto::VoiceInfo> FliteBackend::voices() {
    std::vector<proto::VoiceInfo> out;
    for (const KnownVoice &v : kKnown)
        out.push_back({std::string("flite:") + v.id, v.name,
                       std::string(v.id) == "awb" ? "en-gb-scotland" : "en-us", "flite",
                       std::uint32_t{kRate}});
    return out;
}

cst_voice *FliteBackend::voice(const std::string &name) {
    if (auto it = m_voices.find(name); it != m_voices.end())
        return it->second;
    for (const KnownVoice &v : kKnown) {
        if (name == v.id) {
            cst_voice *voice = v.registerVoice(nullptr);
            m_voices[name] = voice;
            return voice;
        }
    }
    return nullptr;
}

bool FliteBackend::setVoice(const std::string &name) {
    cst_voice *v = voice(name);
    if (!v)
        return false;
    m_current = v;
    return true;
}

void FliteBackend::setSpeed(int wpm) {
    // Flite speaks at about the same default pace as espeak-ng; longer durations mean slower.
    m_stretch = wpm > 0 ? static_cast<float>(kEspeakDefaultWpm) / static_cast<float>(wpm) : 1.0f;
}

bool FliteBackend::synthesise(std::u16string_view chunkView, const AudioSink &sink) {
    if (!m_current && !setVoice("slt"))
        throw std::runtime_error("Flite has no voice");
    const std::u16string chunk(chunkView);
    const text::Utf8Text utf8 = text::toSynthUtf8(chunk);
    flite_feat_set_float(m_current->features, "duration_stretch", m_stretch);
    std::unique_ptr<cst_utterance, UtteranceDeleter> utt(
        flite_synth_text(utf8.bytes.c_str(), m_current));
    if (!utt)
        throw std::runtime_error("Flite failed to synthesise");
    cst_wave *wave = utt_wave(utt.get());
    if (!wave || wave->num_samples <= 0)
        return true;
    const int rate = wave->sample_rate;

    // Word marks from the Token relation: each token's start time is the start of the first
    // segment of its first word.
    std::vector<ChunkWord> words;
    std::size_t cursor = 0;
    for (cst_item *token = relation_head(utt_relation(utt.get(), "Token")); token;
         token = item_next(token)) {
        const std::u16string name = text::fromUtf8(flite_ffeature_string(token, "name"));
        const std::size_t at = findToken(chunk, name, cursor);
        if (at == std::u16string::npos || !item_daughter(token))
            continue;
        cursor = at + name.size();
        const float start = flite_ffeature_float(
            token, "daughter1.R:SylStructure.daughter1.daughter1.R:Segment.p.end");
        const auto sample = static_cast<std::uint64_t>(std::max(0.0f, start) * rate);
        words.push_back({std::min<std::uint64_t>(sample, std::uint64_t(wave->num_samples)), at});
    }

    // Hand the audio over in pieces, each with the words that start within it.
    const std::size_t piece = static_cast<std::size_t>(rate) / 50; // 20 ms
    std::size_t next = 0;
    const auto total = static_cast<std::size_t>(wave->num_samples);
    for (std::size_t at = 0; at < total; at += piece) {
        const std::size_t n = std::min(piece, total - at);
        std::vector<ChunkWord> here;
        while (next < words.size() && words[next].sample < at + n)
            here.push_back(words[next++]);
        if (!sink(reinterpret_cast<const std::int16_t *>(wave->samples) + at, n, here))
            return false;
    }
    return true;
}

} // namespace parlivo::synth
