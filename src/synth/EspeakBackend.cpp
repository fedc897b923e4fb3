#include "EspeakBackend.h"

#include "Stretch.h"
#include "TextUnits.h"

#include <espeak-ng/speak_lib.h>

#include <cmath>
#include <stdexcept>

namespace parlivo::synth {
namespace {

// Audio is handed over in pieces of this length, which bounds the latency of first audio and of
// cancelling.
constexpr int kBufferMs = 20;

struct SynthContext {
    const text::Utf8Text *utf8 = nullptr;
    const AudioSink *sink = nullptr;
    Stretch *stretch = nullptr;
    double speed = 1.0;
    std::uint64_t inputSamples = 0;  // what espeak-ng produced
    std::uint64_t outputSamples = 0; // what was handed on, after stretching
    int sampleRate = 22050;
    bool cancelled = false;
};

// espeak-ng's callback is a plain function; synthesis runs on one thread, one chunk at a time.
SynthContext *g_context = nullptr;

int onSynth(short *wav, int count, espeak_EVENT *events) {
    SynthContext *ctx = g_context;
    if (!ctx || ctx->cancelled)
        return 1;
    std::vector<ChunkWord> words;
    for (espeak_EVENT *e = events; e->type != espeakEVENT_LIST_TERMINATED; ++e) {
        if (e->type != espeakEVENT_WORD || e->length <= 0 || e->text_position <= 0)
            continue;
        const auto index = static_cast<std::size_t>(e->text_position - 1);
        if (index + 1 >= ctx->utf8->unitOf.size())
            continue;
        // audio_position is in ms from the start of this synthesis, before stretching. In
        // doubles: a chunk of unusual text can run past 97 s, where ms * rate overflows an int.
        const double inputSample =
            std::round(static_cast<double>(e->audio_position) * ctx->sampleRate / 1000.0);
        words.push_back(
            {static_cast<std::uint64_t>(inputSample / ctx->speed), ctx->utf8->unitOf[index]});
    }
    bool keepGoing = true;
    if (ctx->stretch) {
        const auto out = ctx->stretch->process(wav, count > 0 ? count : 0);
        if (!out.empty() || !words.empty())
            keepGoing = (*ctx->sink)(out.data(), out.size(), words);
        ctx->outputSamples += out.size();
    } else if (count > 0 || !words.empty()) {
        keepGoing = (*ctx->sink)(reinterpret_cast<const std::int16_t *>(wav),
                                 static_cast<std::size_t>(count > 0 ? count : 0), words);
        ctx->outputSamples += static_cast<std::uint64_t>(count > 0 ? count : 0);
    }
    ctx->inputSamples += static_cast<std::uint64_t>(count > 0 ? count : 0);
    if (!keepGoing)
        ctx->cancelled = true;
    return ctx->cancelled ? 1 : 0;
}

std::string firstLanguage(const char *languages) {
    // A list of (priority byte, zero-terminated name) pairs.
    if (!languages || !languages[0])
        return {};
    return std::string(languages + 1);
}

} // namespace

EspeakBackend::EspeakBackend() {
    const int rate =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, kBufferMs, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (rate <= 0)
        throw std::runtime_error("espeak-ng could not start (is espeak-ng-data installed?)");
    m_sampleRate = rate;
    espeak_SetSynthCallback(onSynth);
    if (espeak_SetVoiceByName("en") != EE_OK)
        throw std::runtime_error("espeak-ng has no English voice");
}

EspeakBackend::~EspeakBackend() {
    espeak_Terminate();
}

std::vector<proto::VoiceInfo> EspeakBackend::voices() {
    std::vector<proto::VoiceInfo> result;
    const espeak_VOICE **list = espeak_ListVoices(nullptr);
    for (; list && *list; ++list) {
        const espeak_VOICE *v = *list;
        const std::string language = firstLanguage(v->languages);
        if (language.empty() || !v->name)
            continue;
        result.push_back({"espeak:" + language, v->name, language, "espeak-ng",
                          static_cast<std::uint32_t>(m_sampleRate)});
    }
    return result;
}

bool EspeakBackend::setVoice(const std::string &name) {
    return !name.empty() && espeak_SetVoiceByName(name.c_str()) == EE_OK;
}

void EspeakBackend::setSpeed(int wpm) {
    m_speed = espeakSpeed(wpm);
    espeak_SetParameter(espeakRATE, m_speed.rate, 0);
}

bool EspeakBackend::synthesise(std::u16string_view chunk, const AudioSink &sink) {
    const text::Utf8Text utf8 = text::toSynthUtf8(chunk);
    SynthContext ctx;
    ctx.utf8 = &utf8;
    ctx.sink = &sink;
    ctx.speed = m_speed.stretch;
    ctx.sampleRate = m_sampleRate;
    std::unique_ptr<Stretch> stretch;
    if (m_speed.stretch != 1.0) {
        stretch = std::make_unique<Stretch>(m_sampleRate, m_speed.stretch);
        ctx.stretch = stretch.get();
    }
    g_context = &ctx;
    const espeak_ERROR err = espeak_Synth(utf8.bytes.c_str(), utf8.bytes.size() + 1, 0,
                                          POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    g_context = nullptr;
    if (err != EE_OK && !ctx.cancelled)
        throw std::runtime_error("espeak-ng failed to synthesise");
    if (!ctx.cancelled && stretch) {
        const auto rest = stretch->flush();
        if (!rest.empty() && !sink(rest.data(), rest.size(), {}))
            ctx.cancelled = true;
    }
    return !ctx.cancelled;
}

} // namespace parlivo::synth
