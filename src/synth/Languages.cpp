#include "Languages.h"

#include "TextUnits.h"

// The detector's header uses FILE without including its declaration.
#include <cstdio>

#include <cld2/public/compact_lang_det.h>

namespace CLD2 {
const char *LanguageCode(Language lang); // declared in the library's internal header only
}

namespace parlivo::synth {
namespace {

// How much a paragraph needs to be told by itself: about four words. Below that the detector
// guesses, and a name or a heading is better read like the text around it.
constexpr std::size_t kParagraphWeight = 20;
// A sentence inside a paragraph switches only when it is long: a quotation, not a word.
constexpr std::size_t kSentenceWeight = 60;
constexpr int kSentencePercent = 80;
// Below this share for its first language a paragraph is a mix, told sentence by sentence.
constexpr int kMixedPercent = 70;
// What is looked at: the start of a long paragraph is enough to tell it, and a short one looks
// this far ahead for the text it introduces.
constexpr std::size_t kWindow = 2000;
constexpr std::size_t kLookAhead = 1000;

bool isBreakUnit(char16_t unit) {
    return text::isLineBreak(unit);
}

std::size_t weightOf(std::u16string_view s) {
    std::size_t weight = 0;
    for (std::size_t i = 0; i < s.size();) {
        std::size_t width = 1;
        const char32_t c = text::codePointAt(s, i, &width);
        i += width;
        if (c >= 0x2E80 && c < 0xD800) // CJK, kana and hangul: a syllable or a word each
            weight += 3;
        else if (c > 0x7F ? !text::isSpace(c) && !text::isEdgePunctuation(c)
                          : (c | 0x20) >= 'a' && (c | 0x20) <= 'z')
            weight += 1;
    }
    return weight;
}

// The detector's codes where espeak-ng names the language otherwise.
std::string voiceNameOf(const std::string &code) {
    if (code == "no" || code == "nn")
        return "nb";
    if (code == "iw")
        return "he";
    if (code == "zh" || code == "zh-Hant")
        return "cmn";
    return code;
}

std::string languageOfVoice(const std::string &voice) {
    std::string name = voice.substr(voice.find(':') + 1);
    return name.substr(0, name.find('-'));
}

} // namespace

Guess guessLanguage(std::u16string_view text) {
    Guess guess;
    guess.weight = weightOf(text);
    const text::Utf8Text utf8 = text::toSynthUtf8(text); // always valid UTF-8
    CLD2::Language languages[3];
    int percents[3] = {0, 0, 0};
    int textBytes = 0;
    bool reliable = false;
    const CLD2::Language top =
        CLD2::DetectLanguageSummary(utf8.bytes.data(), static_cast<int>(utf8.bytes.size()), true,
                                    languages, percents, &textBytes, &reliable);
    guess.percent = percents[0];
    if (reliable && top != CLD2::UNKNOWN_LANGUAGE && top != CLD2::TG_UNKNOWN_LANGUAGE)
        guess.language = CLD2::LanguageCode(top);
    return guess;
}

AutomaticVoice::AutomaticVoice(std::string fallback, std::set<std::string> available)
    : m_fallback(std::move(fallback))
    , m_fallbackLanguage(languageOfVoice(m_fallback)) {
    for (const std::string &name : available) {
        m_available.insert(name);
        m_available.insert(name.substr(0, name.find('-'))); // "fr-fr" speaks "fr"
    }
}

std::optional<AutomaticVoice::Paragraph>
AutomaticVoice::paragraphAt(std::u16string_view text, std::size_t at, bool final) const {
    Paragraph p;
    p.start = at;
    const std::size_t backTo = at > kWindow ? at - kWindow : 0;
    while (p.start > backTo && !isBreakUnit(text[p.start - 1]))
        --p.start;
    if (p.start > 0 && !isBreakUnit(text[p.start - 1]))
        p.start = at; // a paragraph longer than the window: told from here on
    const std::size_t limit = p.start + kWindow;
    p.end = p.start;
    while (p.end < text.size() && p.end < limit && !isBreakUnit(text[p.end]))
        ++p.end;
    if (p.end == text.size() && p.end < limit && !final)
        return std::nullopt; // the paragraph, or its window, is not all here yet
    return p;
}

std::optional<AutomaticVoice::Told> AutomaticVoice::told(std::u16string_view text, std::size_t at,
                                                         bool final) {
    const auto p = paragraphAt(text, at, final);
    if (!p)
        return std::nullopt;
    if (const auto it = m_told.find(p->start); it != m_told.end())
        return it->second;
    const Guess guess = guessLanguage(text.substr(p->start, p->end - p->start));
    Told told;
    if (guess.weight >= kParagraphWeight && speakable(guess.language)) {
        told.language = guess.language;
        told.mixed = guess.percent < kMixedPercent;
    }
    // Requests move forward only: what lies behind is not asked for again.
    m_told.erase(m_told.begin(), m_told.lower_bound(at > kWindow ? at - kWindow : 0));
    m_told.emplace(p->start, told);
    return told;
}

bool AutomaticVoice::speakable(const std::optional<std::string> &language) const {
    return language &&
           (*language == m_fallbackLanguage || m_available.count(voiceNameOf(*language)) > 0);
}

AutomaticVoice::Choice AutomaticVoice::choiceFor(const std::string &language) const {
    if (language.empty() || language == m_fallbackLanguage)
        return {m_fallback, language};
    return {"espeak:" + voiceNameOf(language), language};
}

std::optional<AutomaticVoice::Choice> AutomaticVoice::choose(std::u16string_view text,
                                                             text::Chunk chunk, bool final) {
    const auto own = told(text, chunk.start, final);
    if (!own)
        return std::nullopt;
    if (own->language) {
        m_current = own->language;
        std::string language = *own->language;
        const std::u16string_view sentence = text.substr(chunk.start, chunk.length);
        if (weightOf(sentence) >= (own->mixed ? kParagraphWeight : kSentenceWeight)) {
            const Guess guess = guessLanguage(sentence);
            if (guess.percent >= kSentencePercent && speakable(guess.language))
                language = *guess.language;
        }
        return choiceFor(language);
    }
    // Too short to tell: the language of the paragraphs that follow, within reach. One that
    // fills the window without telling a language has nothing to look ahead to.
    const auto p = paragraphAt(text, chunk.start, final);
    const bool cut = p->end < text.size() && !isBreakUnit(text[p->end]);
    std::size_t next = p->end;
    while (!cut && next < p->end + kLookAhead) {
        while (next < text.size() && isBreakUnit(text[next]))
            ++next;
        if (next >= text.size()) {
            if (!final)
                return std::nullopt;
            break;
        }
        const auto after = told(text, next, final);
        if (!after)
            return std::nullopt;
        if (after->language)
            return choiceFor(*after->language);
        const std::size_t end = paragraphAt(text, next, final)->end;
        if (end <= next || (end < text.size() && !isBreakUnit(text[end])))
            break;
        next = end;
    }
    return choiceFor(m_current.value_or(std::string()));
}

} // namespace parlivo::synth
