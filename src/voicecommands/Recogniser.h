#pragma once
// Recognises one spoken command in a buffer of 16 kHz mono PCM, or rejects it. Pure: no audio
// devices, no Qt. The decoder is built once by the constructor (about a tenth of a second) and
// then serves any number of utterances from the one thread that uses it.

#include "Commands.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace voicecommands {

// Where the acoustic model, the pronouncing dictionary and the language model are installed.
struct ModelFiles {
    std::string acousticModel;
    std::string dictionary;
    std::string languageModel; // only its commonest words are used, as the rejection fillers

    // The Debian package's copy of the US English model.
    static ModelFiles installed();
};

class RecogniserError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Recognition {
    std::optional<Command> command; // nothing: the utterance was not a command
    std::string words;              // what the decoder heard, for display and diagnosis
};

class Recogniser {
public:
    static constexpr int kSampleRate = 16000;

    // Throws RecogniserError when a model file is missing or unusable.
    explicit Recogniser(const ModelFiles &files = ModelFiles::installed());
    ~Recogniser();
    Recogniser(const Recogniser &) = delete;
    Recogniser &operator=(const Recogniser &) = delete;

    // One whole utterance, endpointed, 16 kHz mono. Throws RecogniserError if decoding fails.
    Recognition recognise(std::span<const std::int16_t> samples);

private:
    struct Decoder;
    std::unique_ptr<Decoder> m_decoder;
};

} // namespace voicecommands
