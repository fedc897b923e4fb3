#pragma once
// Character classes and UTF conversion shared by chunking and word marks. Pure, no Qt.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace parlivo::text {

bool isSpace(char32_t c);
bool isLineBreak(char32_t c);
// Punctuation that belongs to the sentence, not to the word next to it ("world." -> "world").
bool isEdgePunctuation(char32_t c);
bool isSentenceEnd(char32_t c);
// Quotes and brackets that may follow a sentence's final mark and still belong to it.
bool isClosing(char32_t c);

inline bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
inline bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The code point starting at `at` (a lone surrogate is returned as U+FFFD) and its width.
char32_t codePointAt(std::u16string_view s, std::size_t at, std::size_t *units = nullptr);

// UTF-8 ready for a synthesiser, with `unitOf[i]` = the UTF-16 offset (in `s`) of code point i,
// plus one last entry for the end. Lone surrogates and NULs become U+FFFD and other control
// characters a space, one code point each, so the mapping stays exact.
struct Utf8Text {
    std::string bytes;
    std::vector<std::uint32_t> unitOf;
};
Utf8Text toSynthUtf8(std::u16string_view s);

std::u16string fromUtf8(std::string_view s); // invalid bytes become U+FFFD
std::string toUtf8(std::u16string_view s);

} // namespace parlivo::text
