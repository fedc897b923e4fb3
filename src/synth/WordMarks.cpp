#include "WordMarks.h"

#include "TextUnits.h"

namespace parlivo::text {

std::optional<WordRange> wordAt(std::u16string_view text, std::size_t offset) {
    if (offset >= text.size())
        return std::nullopt;
    if (isLowSurrogate(text[offset]) && offset > 0 && isHighSurrogate(text[offset - 1]))
        --offset;
    while (offset < text.size() && isSpace(text[offset]))
        ++offset;
    if (offset >= text.size())
        return std::nullopt;

    std::size_t begin = offset;
    while (begin > 0 && !isSpace(text[begin - 1]))
        --begin;
    std::size_t end = offset;
    while (end < text.size() && !isSpace(text[end]))
        ++end;

    // Trim punctuation, but keep a run made only of punctuation as it is ("--", "...").
    std::size_t first = begin;
    while (first < end && isEdgePunctuation(text[first]))
        ++first;
    std::size_t last = end;
    while (last > first && isEdgePunctuation(text[last - 1]))
        --last;
    if (first == last)
        return WordRange{begin, end - begin};
    return WordRange{first, last - first};
}

} // namespace parlivo::text
