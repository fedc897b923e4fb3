#include "Chunker.h"

#include "TextUnits.h"

#include <algorithm>

namespace parlivo::text {
namespace {

std::size_t trimTrailingSpace(std::u16string_view text, std::size_t start, std::size_t end) {
    while (end > start && isSpace(text[end - 1]))
        --end;
    return end;
}

// Where to cut a run that has no sentence end within `maxLength`: after the last white space,
// or, for one enormous word, at the limit itself (never inside a surrogate pair).
std::size_t splitPoint(std::u16string_view text, std::size_t start, std::size_t maxLength) {
    const std::size_t limit = start + maxLength;
    for (std::size_t i = limit; i > start + maxLength / 4; --i) {
        if (isSpace(text[i - 1]))
            return i;
    }
    std::size_t cut = limit;
    if (isLowSurrogate(text[cut]) && isHighSurrogate(text[cut - 1]))
        --cut;
    return cut;
}

} // namespace

ChunkResult nextChunk(std::u16string_view text, std::size_t from, bool final,
                      std::size_t maxLength) {
    // A surrogate pair must fit into one chunk, or a text of emoji would never move on.
    maxLength = std::max<std::size_t>(maxLength, 2);
    std::size_t start = from;
    while (start < text.size() && isSpace(text[start]))
        ++start;
    if (start >= text.size())
        return {final ? ChunkStatus::End : ChunkStatus::NeedMore, {}};

    std::size_t i = start;
    while (i < text.size()) {
        std::size_t units = 1;
        const char32_t c = codePointAt(text, i, &units);
        if (i + units - start > maxLength)
            break;
        if (isLineBreak(c))
            return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, i) - start}};
        i += units;
        if (isSentenceEnd(c)) {
            // The sentence's closing marks and quotes belong to it, but only up to the limit: a
            // run of thousands of dots is cut like a long word, not handed over whole.
            std::size_t end = i;
            while (end < text.size() && end - start < maxLength &&
                   (isSentenceEnd(text[end]) || isClosing(text[end])))
                ++end;
            if (end < text.size() && isSpace(text[end]))
                return {ChunkStatus::Ready, {start, end - start}};
            if (end == text.size() && final)
                return {ChunkStatus::Ready, {start, end - start}};
            if (end == text.size())
                return {ChunkStatus::NeedMore, {}};
            i = end;
        }
    }
    if (i < text.size()) {
        // Stopped at the limit with more text after it.
        const std::size_t cut = splitPoint(text, start, maxLength);
        return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, cut) - start}};
    }
    if (!final)
        return {ChunkStatus::NeedMore, {}};
    return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, text.size()) - start}};
}

} // namespace parlivo::text
