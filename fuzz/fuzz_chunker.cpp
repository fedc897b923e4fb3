// The sentence chunker, on the complete text and on the same text arriving in pieces the way
// the worker receives it. Chunks must come in order, inside the text, within the length limit,
// never cut a surrogate pair, always make progress, drop nothing but white space, and a text
// that is still growing must give exactly the chunks the complete text gives.
#include "Chunker.h"
#include "FuzzText.h"
#include "TextUnits.h"

#include <cstdlib>
#include <vector>

using parlivo::text::ChunkResult;
using parlivo::text::ChunkStatus;
using parlivo::text::isSpace;
using parlivo::text::nextChunk;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

bool onlySpace(std::u16string_view s, std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
        if (!isSpace(s[i]))
            return false;
    }
    return true;
}

// One step at `at` with every invariant checked; returns where the next step starts, or
// npos when this text has nothing more to give for now.
std::size_t step(std::u16string_view text, std::size_t at, bool final, std::size_t maxLength,
                 std::vector<parlivo::text::Chunk> &out) {
    const ChunkResult r = nextChunk(text, at, final, maxLength);
    switch (r.status) {
    case ChunkStatus::End:
        check(final);
        check(onlySpace(text, at, text.size()));
        return std::u16string_view::npos;
    case ChunkStatus::NeedMore: {
        check(!final);
        // Held back only while the rest might still end its sentence: a run longer than the
        // limit has to be split now, or a never-ending text would never be spoken.
        std::size_t start = at;
        while (start < text.size() && isSpace(text[start]))
            ++start;
        check(text.size() - start <= maxLength + 1);
        return std::u16string_view::npos;
    }
    case ChunkStatus::Ready:
        break;
    }
    const auto [start, length] = r.chunk;
    check(start >= at);
    check(length > 0);
    check(length <= maxLength);
    check(start + length <= text.size());
    check(onlySpace(text, at, start));
    check(!isSpace(text[start]));
    check(!isSpace(text[start + length - 1]));
    check(!fuzztext::splitsPair(text, start));
    check(!fuzztext::splitsPair(text, start + length));
    out.push_back(r.chunk);
    return start + length;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    // Small limits reach the splitting rules with short inputs; now and then the real one.
    const std::size_t maxLength = data[0] == 0xFF ? parlivo::text::kMaxChunk : 2 + data[0] % 40;
    const std::size_t piece = 1 + data[1] % 64;
    const std::u16string text = fuzztext::toText(data + 2, size - 2);

    std::vector<parlivo::text::Chunk> whole;
    for (std::size_t at = 0; at != std::u16string_view::npos;)
        at = step(text, at, true, maxLength, whole);

    // The same text in pieces. Like the window's client, never cut between the two halves of a
    // surrogate pair.
    std::vector<parlivo::text::Chunk> grown;
    std::size_t have = 0;
    std::size_t at = 0;
    while (true) {
        std::size_t next = std::min(text.size(), have + piece);
        if (next < text.size() && fuzztext::splitsPair(text, next))
            ++next;
        have = next;
        const bool final = have == text.size();
        const std::u16string_view visible(text.data(), have);
        for (;;) {
            const std::size_t after = step(visible, at, final, maxLength, grown);
            if (after == std::u16string_view::npos)
                break;
            check(after > at);
            at = after;
        }
        if (final)
            break;
    }
    check(grown == whole);
    return 0;
}
