#pragma once
// Turns fuzzer bytes into UTF-16 text rich in what the text rules care about. Raw 16-bit units
// would almost never hit a sentence end next to a surrogate pair, so most bytes pick from a
// small alphabet of interesting units; a byte of 0xF0 or more takes the next two bytes as one
// raw unit, so that every other unit can still occur.

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzztext {

inline constexpr char16_t kAlphabet[] = {
    u'a',   u'b',   u'Z',   u'1',   u' ',   u' ',   u'\t',  u'\n',  u'\r',  u'.',
    u'!',   u'?',   u';',   u',',   u'\'',  u'"',   u')',   u'(',   u'-',   u's',
    0x00A0, 0x2029, 0x2026, 0x3002, 0x201D, 0x00BF, 0x3000, 0x0085, 0xD83D, 0xDE00,
    0xD800, 0xDC00, 0x0000, 0x00E9, 0x0645, 0x4E2D, 0xFFFD, 0x200B, 0x2028, 0xFF01,
};

inline std::u16string toText(const std::uint8_t *data, std::size_t size) {
    std::u16string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = data[i];
        if (b >= 0xF0 && i + 2 < size) {
            text += static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        } else if (b % 8 == 7) {
            // A whole surrogate pair (an emoji), so that pairs are common, not only halves.
            text += u"\U0001F600";
        } else {
            text += kAlphabet[b % std::size(kAlphabet)];
        }
    }
    return text;
}

inline bool isHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// True if a cut before `at` would separate the two halves of a surrogate pair.
inline bool splitsPair(std::u16string_view s, std::size_t at) {
    return at > 0 && at < s.size() && isHigh(s[at - 1]) && isLow(s[at]);
}

} // namespace fuzztext
