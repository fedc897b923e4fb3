#include "Recogniser.h"

#include <fsg_model.h>
#include <ngram_model.h>
#include <pocketsphinx.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <sstream>
#include <vector>

namespace voicecommands {

namespace {

// Rejection: the grammar offers, beside the commands, a loop over the language's commonest words.
// Speech that is not a command is then better explained by a few everyday words than by forcing
// it onto the nearest command. A plain command grammar has no such way out and accepted most of
// the unrelated phrases we tried. The numbers below were tuned on synthetic voices of both
// synthesisers at several speeds (see tests/voicecommands): more fillers or a higher entry weight
// reject more, at the cost of commands said unclearly.
constexpr int kFillerWords = 500;
constexpr double kFillerEntryWeight = 0.1; // against 1.0 for all the commands together
constexpr double kFillerRepeat = 0.5;      // chance of one more filler word
constexpr float kLanguageWeight = 6.5f;    // the decoder's default, which scales grammar weights

// Pronunciations the US dictionary lacks: British and careful-speech forms of command words.
// Without them "faster" with a long A and "resume" with a Y was heard as fillers.
constexpr const char *kExtraPronunciations[][2] = {
    {"faster(2)", "F AA S T AH"},
    {"slower(2)", "S L OW AH"},
    {"resume(4)", "R IH Z Y UW M"},
    {"export(2)", "EH K S P AO T"},
    {"stop(2)", "S T AO P"},
    {"copy(2)", "K AO P IY"},
    {"document(3)", "D AA K Y UH M AH N T"},
    {"options(3)", "AO P SH AH N Z"},
};

// Exact digital silence (synthetic speech, a muted input, a sound server's monitor) has no
// counterpart in the recordings the acoustic model learned from: its log energies sink to the
// floor and drag the utterance's feature mean with them, and commands were then lost to fillers
// (117 of 130 right instead of 126). A faint, fixed background hiss, about -64 dBFS, is far below
// any real microphone's own noise and so changes nothing for live input.
constexpr double kBackgroundNoise = 20.0;

std::vector<std::int16_t> withBackground(std::span<const std::int16_t> samples) {
    std::minstd_rand random(1); // the same hiss every time: results stay reproducible
    std::normal_distribution<double> noise(0.0, kBackgroundNoise);
    std::vector<std::int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i)
        out[i] = static_cast<std::int16_t>(
            std::clamp(std::lround(samples[i] + noise(random)), -32768L, 32767L));
    return out;
}

struct ConfigFree {
    void operator()(cmd_ln_t *config) const { cmd_ln_free_r(config); }
};
struct DecoderFree {
    void operator()(ps_decoder_t *decoder) const { ps_free(decoder); }
};
struct NgramFree {
    void operator()(ngram_model_t *model) const { ngram_model_free(model); }
};
struct FsgFree {
    void operator()(fsg_model_t *fsg) const { fsg_model_free(fsg); }
};

std::vector<std::string> splitWords(std::string_view text) {
    std::istringstream in{std::string(text)};
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Every pronunciation the decoder knows for `word`: "word", "word(2)", ...
std::vector<std::string> pronunciations(ps_decoder_t *decoder, const std::string &word) {
    std::vector<std::string> found;
    for (int variant = 1; variant < 10; ++variant) {
        const std::string key = variant == 1 ? word : word + '(' + std::to_string(variant) + ')';
        char *phones = ps_lookup_word(decoder, key.c_str());
        if (!phones)
            break;
        found.emplace_back(phones);
        ckd_free(phones);
    }
    return found;
}

} // namespace

struct Recogniser::Decoder {
    std::unique_ptr<cmd_ln_t, ConfigFree> config;
    std::unique_ptr<ps_decoder_t, DecoderFree> decoder;
};

ModelFiles ModelFiles::installed() {
    const std::string root = "/usr/share/pocketsphinx/model/en-us/";
    return {root + "en-us", root + "cmudict-en-us.dict", root + "en-us.lm.bin"};
}

Recogniser::Recogniser(const ModelFiles &files)
    : m_decoder(std::make_unique<Decoder>()) {
    // The decoder's log goes nowhere: it is chatty and says nothing a user could act on.
    m_decoder->config.reset(cmd_ln_init(nullptr, ps_args(), 1, "-hmm", files.acousticModel.c_str(),
                                        "-dict", files.dictionary.c_str(), "-logfn", "/dev/null",
                                        nullptr));
    if (!m_decoder->config)
        throw RecogniserError("The speech recognition settings were refused.");
    m_decoder->decoder.reset(ps_init(m_decoder->config.get()));
    if (!m_decoder->decoder)
        throw RecogniserError("The speech recognition model could not be loaded from " +
                              files.acousticModel + ".");
    ps_decoder_t *decoder = m_decoder->decoder.get();
    for (const auto &[word, phones] : kExtraPronunciations)
        ps_add_word(decoder, word, phones, 0);

    // The sounds of the command words: a filler that sounds the same ("red", "paws") would make
    // a command lose against itself.
    std::set<std::string> commandWords;
    std::set<std::string> commandSounds;
    for (const CommandPhrase &phrase : commandPhrases()) {
        for (const std::string &word : splitWords(phrase.words)) {
            commandWords.insert(word);
            for (std::string &phones : pronunciations(decoder, word))
                commandSounds.insert(std::move(phones));
        }
    }

    std::unique_ptr<ngram_model_t, NgramFree> language(ngram_model_read(
        m_decoder->config.get(), files.languageModel.c_str(), NGRAM_AUTO, ps_get_logmath(decoder)));
    if (!language)
        throw RecogniserError("The language model could not be loaded from " + files.languageModel +
                              ".");
    std::vector<std::pair<int, std::string>> unigrams;
    const int vocabulary = static_cast<int>(ngram_model_get_counts(language.get())[0]);
    for (int id = 0; id < vocabulary; ++id) {
        int32 used = 0;
        unigrams.emplace_back(ngram_ng_score(language.get(), id, nullptr, 0, &used),
                              ngram_word(language.get(), id));
    }
    std::stable_sort(unigrams.begin(), unigrams.end(),
                     [](const auto &a, const auto &b) { return a.first > b.first; });
    std::vector<std::string> fillers;
    for (const auto &[score, word] : unigrams) {
        if (static_cast<int>(fillers.size()) == kFillerWords)
            break;
        if (word.empty() || word.find_first_not_of("abcdefghijklmnopqrstuvwxyz'") != word.npos ||
            commandWords.count(word))
            continue;
        const std::vector<std::string> sounds = pronunciations(decoder, word);
        if (sounds.empty() || std::any_of(sounds.begin(), sounds.end(), [&](const auto &s) {
                return commandSounds.count(s) > 0;
            }))
            continue;
        fillers.push_back(word);
    }
    language.reset();

    // States: 0 start, 1 end, 2 inside the filler loop, then one per two-word command.
    int twoWordCommands = 0;
    for (const CommandPhrase &phrase : commandPhrases())
        twoWordCommands += splitWords(phrase.words).size() > 1 ? 1 : 0;
    logmath_t *logMath = ps_get_logmath(decoder);
    auto weight = [&](double probability) {
        return static_cast<int32>(logmath_log(logMath, probability) * kLanguageWeight);
    };
    std::unique_ptr<fsg_model_t, FsgFree> grammar(
        fsg_model_init("commands", logMath, kLanguageWeight, 3 + twoWordCommands));
    grammar->start_state = 0;
    grammar->final_state = 1;
    const double commandShare = 1.0 / static_cast<double>(commandPhrases().size());
    int nextState = 3;
    for (const CommandPhrase &phrase : commandPhrases()) {
        const std::vector<std::string> words = splitWords(phrase.words);
        int from = 0;
        for (std::size_t i = 0; i < words.size(); ++i) {
            const int to = i + 1 == words.size() ? 1 : nextState++;
            fsg_model_trans_add(grammar.get(), from, to, i == 0 ? weight(commandShare) : 0,
                                fsg_model_word_add(grammar.get(), words[i].c_str()));
            from = to;
        }
    }
    const double fillerShare = 1.0 / static_cast<double>(fillers.size());
    for (const std::string &filler : fillers) {
        const int id = fsg_model_word_add(grammar.get(), filler.c_str());
        fsg_model_trans_add(grammar.get(), 0, 2, weight(kFillerEntryWeight * fillerShare), id);
        fsg_model_trans_add(grammar.get(), 2, 2, weight(kFillerRepeat * fillerShare), id);
    }
    fsg_model_null_trans_add(grammar.get(), 2, 1, weight(1.0 - kFillerRepeat));
    // The search keeps its own reference to the grammar.
    if (ps_set_fsg(decoder, "commands", grammar.get()) < 0 ||
        ps_set_search(decoder, "commands") < 0)
        throw RecogniserError("The command grammar was refused by the speech recogniser.");
}

Recogniser::~Recogniser() = default;

Recognition Recogniser::recognise(std::span<const std::int16_t> samples) {
    // Under a tenth of a second there is no word to find; the decoder would only guess.
    if (samples.size() < kSampleRate / 10)
        return {};
    ps_decoder_t *decoder = m_decoder->decoder.get();
    if (ps_start_utt(decoder) < 0)
        throw RecogniserError("The speech recogniser could not start an utterance.");
    // The whole utterance at once: the model normalises with the utterance's own mean.
    const std::vector<std::int16_t> audio = withBackground(samples);
    const int processed = ps_process_raw(decoder, audio.data(), audio.size(), 0, 1);
    const int ended = ps_end_utt(decoder);
    if (processed < 0 || ended < 0)
        throw RecogniserError("The speech recogniser failed on the recorded audio.");
    int32 score = 0;
    const char *hypothesis = ps_get_hyp(decoder, &score);
    Recognition result;
    if (!hypothesis)
        return result;
    result.words = hypothesis;
    result.command = commandFromWords(result.words);
    return result;
}

} // namespace voicecommands
