#pragma once
// Reading each paragraph in the voice of its own language: the language is told from the text
// (Compact Language Detector 2) and named as the espeak-ng voice that speaks it.
//
// Only text long enough to tell is trusted. A short paragraph (a name, a number, a two-word
// heading) takes the language of the text it introduces, or else of the text before it; inside
// a paragraph only a long sentence may switch, so a single foreign word never does, unless no
// language has most of the paragraph: then each sentence that can be told is.
//
// Every choice depends on the request's text alone, never on how much of it had arrived: a
// choice that needs text not yet here waits for it. So the same text is always read with the
// same voices, whether it is played or exported in pieces.

#include "Chunker.h"

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace parlivo::synth {

// A language told from text: its code ("fr", "nb", "zh") when the detector is sure, else none.
// `weight` says how much there is to go on (letters, an ideograph counting as three).
struct Guess {
    std::optional<std::string> language;
    std::size_t weight = 0;
    int percent = 0; // of the text in that language
};
Guess guessLanguage(std::u16string_view text);

class AutomaticVoice {
public:
    // `fallback` is the voice for text whose language cannot be told (the locale's, such as
    // "espeak:en-us"), also used for its own language; `available` lists the espeak-ng voice
    // names there are ("fr", "nb", "en-us"...).
    AutomaticVoice(std::string fallback, std::set<std::string> available);

    struct Choice {
        std::string voice;    // e.g. "espeak:fr"
        std::string language; // what was told, e.g. "fr"; empty for the fallback
    };
    // The voice for `chunk` of `text`, or none while `text` may still grow (`final` false) and
    // the choice needs text beyond its end.
    std::optional<Choice> choose(std::u16string_view text, text::Chunk chunk, bool final);

private:
    struct Paragraph {
        std::size_t start = 0;
        std::size_t end = 0;
    };
    std::optional<Paragraph> paragraphAt(std::u16string_view text, std::size_t at,
                                         bool final) const;
    struct Told {
        std::optional<std::string> language; // none: too short or uncertain
        bool mixed = false;                  // no language has most of it
    };
    // What the paragraph's own text tells (cached by its start); none while it is not all here.
    std::optional<Told> told(std::u16string_view text, std::size_t at, bool final);
    bool speakable(const std::optional<std::string> &language) const;
    Choice choiceFor(const std::string &language) const;

    std::string m_fallback;
    std::string m_fallbackLanguage;
    std::set<std::string> m_available;
    std::map<std::size_t, Told> m_told;   // by paragraph start
    std::optional<std::string> m_current; // the last language told in this request
};

} // namespace parlivo::synth
