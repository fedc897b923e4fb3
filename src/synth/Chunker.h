#pragma once
// Splits text into the pieces the synthesiser gets one at a time: sentences, and long sentences
// at word boundaries. Small pieces give early first audio and prompt cancelling.

#include <cstddef>
#include <string_view>

namespace parlivo::text {

inline constexpr std::size_t kMaxChunk = 400; // UTF-16 units

struct Chunk {
    std::size_t start = 0;
    std::size_t length = 0;
    bool operator==(const Chunk &) const = default;
};

enum class ChunkStatus { Ready, NeedMore, End };

struct ChunkResult {
    ChunkStatus status = ChunkStatus::End;
    Chunk chunk;
};

// The next chunk at or after `from`. Leading white space is skipped and never part of a chunk.
// With `final` false the text may still grow, so a sentence that reaches the end of `text` is
// not cut off: NeedMore is returned instead, unless it is already long enough to split.
ChunkResult nextChunk(std::u16string_view text, std::size_t from, bool final,
                      std::size_t maxLength = kMaxChunk);

} // namespace parlivo::text
