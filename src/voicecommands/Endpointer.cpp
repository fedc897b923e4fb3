#include "Endpointer.h"

#include <algorithm>
#include <cmath>

namespace voicecommands {

namespace {

constexpr int kFrameMs = 10;
constexpr double kSilentDbfs = -100;
// The background estimate follows a quieter room at once and a louder one slowly, so that the
// start of speech does not raise it before it has been recognised as speech.
constexpr double kFloorRise = 0.02;
// Once in speech, a frame needs to fall a little further to count as silence, so that a word's
// fading end does not flicker between the two.
constexpr double kEndHysteresisDb = 3;

double levelDbfs(std::span<const std::int16_t> frame) {
    double sum = 0;
    for (std::int16_t sample : frame)
        sum += static_cast<double>(sample) * sample;
    const double meanSquare = sum / static_cast<double>(frame.size()) / (32768.0 * 32768.0);
    return meanSquare > 0 ? std::max(kSilentDbfs, 10 * std::log10(meanSquare)) : kSilentDbfs;
}

int framesFor(int ms) {
    return std::max(1, ms / kFrameMs);
}

} // namespace

Endpointer::Endpointer(const EndpointSettings &settings)
    : m_settings(settings)
    , m_frameSamples(settings.sampleRate * kFrameMs / 1000) {}

void Endpointer::reset() {
    *this = Endpointer(m_settings);
}

Endpointer::State Endpointer::feed(std::span<const std::int16_t> samples) {
    while (!samples.empty() && (m_state == State::Waiting || m_state == State::InSpeech)) {
        const auto take = std::min(samples.size(), m_frameSamples - m_partial.size());
        m_partial.insert(m_partial.end(), samples.begin(), samples.begin() + take);
        samples = samples.subspan(take);
        if (m_partial.size() == static_cast<std::size_t>(m_frameSamples)) {
            onFrame(m_partial);
            m_partial.clear();
        }
    }
    return m_state;
}

void Endpointer::onFrame(std::span<const std::int16_t> frame) {
    const double level = levelDbfs(frame);
    if (m_state == State::Waiting) {
        if (!m_haveFloor || level < m_noiseFloorDb) {
            m_noiseFloorDb = level;
            m_haveFloor = true;
        }
        const double threshold =
            std::max(m_noiseFloorDb + m_settings.speechAboveNoiseDb, m_settings.quietestSpeechDbfs);
        m_loudRun = level > threshold ? m_loudRun + 1 : 0;
        if (m_loudRun == 0)
            m_noiseFloorDb += kFloorRise * (level - m_noiseFloorDb);

        m_preRoll.insert(m_preRoll.end(), frame.begin(), frame.end());
        // What precedes the loud run plus the pre-roll; the rest is dropped.
        const auto keep = static_cast<std::size_t>(
            m_settings.sampleRate / 1000 * m_settings.preRollMs + m_loudRun * m_frameSamples);
        if (m_preRoll.size() > keep)
            m_preRoll.erase(m_preRoll.begin(),
                            m_preRoll.begin() + static_cast<long>(m_preRoll.size() - keep));

        if (m_loudRun >= framesFor(m_settings.minSpeechMs)) {
            m_state = State::InSpeech;
            m_utterance = std::move(m_preRoll);
            m_preRoll.clear();
            m_quietRun = 0;
        } else if (++m_framesWaited >= framesFor(m_settings.startTimeoutMs)) {
            m_state = State::TimedOut;
        }
        return;
    }

    m_utterance.insert(m_utterance.end(), frame.begin(), frame.end());
    const double endThreshold =
        std::max(m_noiseFloorDb + m_settings.speechAboveNoiseDb, m_settings.quietestSpeechDbfs) -
        kEndHysteresisDb;
    m_quietRun = level > endThreshold ? 0 : m_quietRun + 1;
    const auto maxSamples =
        static_cast<std::size_t>(m_settings.sampleRate / 1000 * m_settings.maxUtteranceMs);
    if (m_quietRun >= framesFor(m_settings.trailingSilenceMs) || m_utterance.size() >= maxSamples)
        m_state = State::Done;
}

} // namespace voicecommands
