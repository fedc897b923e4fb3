#include "Timeline.h"

#include <algorithm>

namespace speech {

void Timeline::reset(std::uint64_t generation) {
    std::scoped_lock lock(m_mutex);
    m_generation = generation;
    m_words.clear();
    m_sentences.clear();
}

void Timeline::addWords(std::uint64_t generation,
                        const std::vector<parlivo::proto::WordMark> &marks) {
    std::scoped_lock lock(m_mutex);
    if (generation != m_generation)
        return;
    for (const auto &m : marks)
        m_words.push_back({m.sample, {m.offset, m.length}, {}});
}

void Timeline::addSentence(const parlivo::proto::Sentence &sentence) {
    std::scoped_lock lock(m_mutex);
    if (sentence.id != m_generation)
        return;
    m_sentences.push_back({sentence.sample, {sentence.offset, sentence.length}, sentence.language});
}

const Timeline::Entry *Timeline::lookup(std::deque<Entry> &entries, std::uint64_t sample) {
    const auto after =
        std::upper_bound(entries.begin(), entries.end(), sample,
                         [](std::uint64_t s, const Entry &e) { return s < e.sample; });
    if (after == entries.begin())
        return nullptr;
    // Erasing at the front of a deque leaves the entries after it where they are.
    entries.erase(entries.begin(), std::prev(after));
    return &entries.front();
}

void Timeline::forgetBefore(std::uint64_t sample) {
    std::scoped_lock lock(m_mutex);
    lookup(m_words, sample);
    lookup(m_sentences, sample);
}

std::optional<TextRange> Timeline::wordAt(std::uint64_t sample) {
    std::scoped_lock lock(m_mutex);
    const Entry *found = lookup(m_words, sample);
    return found ? std::optional(found->range) : std::nullopt;
}

std::optional<TextRange> Timeline::sentenceAt(std::uint64_t sample) {
    std::scoped_lock lock(m_mutex);
    const Entry *found = lookup(m_sentences, sample);
    return found ? std::optional(found->range) : std::nullopt;
}

std::string Timeline::languageAt(std::uint64_t sample) {
    std::scoped_lock lock(m_mutex);
    const Entry *found = lookup(m_sentences, sample);
    return found ? found->language : std::string();
}

} // namespace speech
