#pragma once
// Turns the synthesiser's word events into marks on whole words of the text.
//
// espeak-ng reports positions in code points (1-based) of the string it was given, reports
// numbers and compounds more than once with shifted positions, and ends multi-line text with an
// empty event. The window wants UTF-16 ranges that cover exactly one written word, once.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace parlivo::text {

struct WordRange {
    std::size_t offset = 0;
    std::size_t length = 0;
    bool operator==(const WordRange &) const = default;
};

// The written word of `text` around `offset` (UTF-16 units): the run of non-space characters
// containing it, without punctuation at either end. An offset on white space takes the word that
// follows. None when only white space follows.
std::optional<WordRange> wordAt(std::u16string_view text, std::size_t offset);

} // namespace parlivo::text
