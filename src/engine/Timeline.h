#pragma once
// Which word and sentence are heard at a given sample of the current request. Written by the
// thread that receives audio, read by the UI thread.

#include "Protocol.h"

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace speech {

struct TextRange {
    qint64 offset = 0;
    qint64 length = 0;
    bool operator==(const TextRange &) const = default;
};

class Timeline {
public:
    void reset(std::uint64_t generation);
    void addWords(std::uint64_t generation, const std::vector<parlivo::proto::WordMark> &marks);
    void addSentence(const parlivo::proto::Sentence &sentence);

    // The last word / sentence that starts at or before `sample`. Marks well behind it are
    // forgotten, so memory stays bounded however long the text is.
    std::optional<TextRange> wordAt(std::uint64_t sample);
    std::optional<TextRange> sentenceAt(std::uint64_t sample);
    // The language the worker told for that sentence ("fr"); empty if none was.
    std::string languageAt(std::uint64_t sample);
    // Forgets what lies wholly before `sample`.
    void forgetBefore(std::uint64_t sample);

private:
    struct Entry {
        std::uint64_t sample;
        TextRange range;
        std::string language;
    };
    static const Entry *lookup(std::deque<Entry> &entries, std::uint64_t sample);

    std::mutex m_mutex;
    std::uint64_t m_generation = 0; // guarded by m_mutex
    std::deque<Entry> m_words;      // guarded by m_mutex
    std::deque<Entry> m_sentences;  // guarded by m_mutex
};

} // namespace speech
