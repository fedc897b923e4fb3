#pragma once
// Finds one utterance in a stream of 16 kHz mono PCM by its energy: waits for speech to start,
// and ends it at a stretch of silence. Pure: fed buffers of any size, no clocks of its own (time
// is counted in samples fed).

#include <cstdint>
#include <span>
#include <vector>

namespace voicecommands {

struct EndpointSettings {
    int sampleRate = 16000;
    int startTimeoutMs = 5000;       // no speech by then: give up
    int trailingSilenceMs = 600;     // silence that ends the utterance
    int minSpeechMs = 50;            // louder than this long counts as speech (not a click)
    int maxUtteranceMs = 8000;       // a command is short: never record more
    int preRollMs = 300;             // kept from before the start, for soft onsets ("f", "s")
    double speechAboveNoiseDb = 12;  // how far speech stands above the background
    double quietestSpeechDbfs = -50; // anything fainter is background, however quiet the room
};

class Endpointer {
public:
    enum class State { Waiting, InSpeech, Done, TimedOut };

    explicit Endpointer(const EndpointSettings &settings = {});

    // Feeds captured audio; returns the state after it. Audio fed once Done or TimedOut is ignored.
    State feed(std::span<const std::int16_t> samples);
    State state() const { return m_state; }
    // The utterance with its pre-roll and trailing silence; complete once Done.
    const std::vector<std::int16_t> &utterance() const { return m_utterance; }

    void reset();

private:
    void onFrame(std::span<const std::int16_t> frame);

    EndpointSettings m_settings;
    int m_frameSamples;
    State m_state = State::Waiting;
    std::vector<std::int16_t> m_partial; // an incomplete frame
    std::vector<std::int16_t> m_preRoll; // the latest audio while waiting
    std::vector<std::int16_t> m_utterance;
    double m_noiseFloorDb = 0;
    bool m_haveFloor = false;
    long m_framesWaited = 0;
    int m_loudRun = 0;  // consecutive loud frames while waiting
    int m_quietRun = 0; // consecutive quiet frames in speech
};

} // namespace voicecommands
