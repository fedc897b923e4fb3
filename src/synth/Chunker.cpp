#include "Chunker.h"

#include "TextUnits.h"

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
    std::size_t start = from;
    while (start < text.size() && isSpace(text[start]))
        ++start;
    if (start >= text.size())
        return {final ? ChunkStatus::End : ChunkStatus::NeedMore, {}};

    std::size_t i = start;
    while (i < text.size() && i - start < maxLength) {
        std::size_t units = 1;
        const char32_t c = codePointAt(text, i, &units);
        if (isLineBreak(c))
            return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, i) - start}};
        i += units;
        if (isSentenceEnd(c)) {
            std::size_t end = i;
            while (end < text.size() && (isSentenceEnd(text[end]) || isClosing(text[end])))
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
    if (i - start >= maxLength && i < text.size()) {
        const std::size_t cut = splitPoint(text, start, maxLength);
        return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, cut) - start}};
    }
    if (!final)
        return {ChunkStatus::NeedMore, {}};
    return {ChunkStatus::Ready, {start, trimTrailingSpace(text, start, text.size()) - start}};
}

} // namespace parlivo::text
