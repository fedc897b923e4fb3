#pragma once
// Windows-1252, the single-byte encoding of most old text files written on Windows in Western
// European languages.

#include <array>

namespace parlivo {

// It differs from Latin-1 only in 0x80..0x9F. The five bytes it leaves undefined map to the C1
// control with the same number, as Windows itself does, so no byte is lost.
inline constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

inline constexpr char16_t cp1252ToUnicode(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte);
}

} // namespace parlivo
