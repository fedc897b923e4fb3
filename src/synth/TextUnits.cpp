#include "TextUnits.h"

namespace parlivo::text {

bool isSpace(char32_t c) {
    switch (c) {
    case U' ':
    case U'\t':
    case U'\n':
    case U'\v':
    case U'\f':
    case U'\r':
    case 0x85:
    case 0xA0:
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
        return true;
    default:
        return c >= 0x2000 && c <= 0x200A;
    }
}

bool isLineBreak(char32_t c) {
    return c == U'\n' || c == U'\r' || c == 0x2028 || c == 0x2029 || c == 0x85 || c == U'\v' ||
           c == U'\f';
}

bool isSentenceEnd(char32_t c) {
    switch (c) {
    case U'.':
    case U'!':
    case U'?':
    case U';':
    case 0x2026: // ellipsis
    case 0x3002: // ideographic full stop
    case 0xFF01:
    case 0xFF1F:
    case 0x0964: // devanagari danda
    case 0x061F: // arabic question mark
        return true;
    default:
        return false;
    }
}

bool isClosing(char32_t c) {
    switch (c) {
    case U'"':
    case U'\'':
    case U')':
    case U']':
    case U'}':
    case 0xBB:   // »
    case 0x2019: // ’
    case 0x201D: // ”
    case 0x203A: // ›
    case 0x300D: // 」
    case 0x300F: // 』
        return true;
    default:
        return false;
    }
}

bool isEdgePunctuation(char32_t c) {
    if (isSentenceEnd(c) || isClosing(c))
        return true;
    switch (c) {
    case U',':
    case U':':
    case U'(':
    case U'[':
    case U'{':
    case U'-':
    case 0xA1:   // ¡
    case 0xAB:   // «
    case 0xBF:   // ¿
    case 0x2013: // –
    case 0x2014: // —
    case 0x2018: // ‘
    case 0x201A: // ‚
    case 0x201C: // “
    case 0x201E: // „
    case 0x2039: // ‹
    case 0x3001: // 、
    case 0x300C: // 「
    case 0x300E: // 『
    case 0xFF0C: // ，
        return true;
    default:
        return false;
    }
}

char32_t codePointAt(std::u16string_view s, std::size_t at, std::size_t *units) {
    const char16_t c = s[at];
    if (isHighSurrogate(c) && at + 1 < s.size() && isLowSurrogate(s[at + 1])) {
        if (units)
            *units = 2;
        return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
               (static_cast<char32_t>(s[at + 1]) - 0xDC00);
    }
    if (units)
        *units = 1;
    if (isHighSurrogate(c) || isLowSurrogate(c))
        return 0xFFFD;
    return c;
}

namespace {
void appendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}
} // namespace

Utf8Text toSynthUtf8(std::u16string_view s) {
    Utf8Text out;
    out.bytes.reserve(s.size() + s.size() / 4);
    out.unitOf.reserve(s.size() + 1);
    std::size_t at = 0;
    while (at < s.size()) {
        std::size_t units = 1;
        char32_t c = codePointAt(s, at, &units);
        if (c == 0)
            c = 0xFFFD;
        else if ((c < 0x20 && c != U'\t' && c != U'\n' && c != U'\r') || c == 0x7F ||
                 (c >= 0x80 && c < 0xA0))
            c = U' ';
        out.unitOf.push_back(static_cast<std::uint32_t>(at));
        appendUtf8(out.bytes, c);
        at += units;
    }
    out.unitOf.push_back(static_cast<std::uint32_t>(s.size()));
    return out;
}

std::string toUtf8(std::u16string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t at = 0; at < s.size();) {
        std::size_t units = 1;
        appendUtf8(out, codePointAt(s, at, &units));
        at += units;
    }
    return out;
}

std::u16string fromUtf8(std::string_view s) {
    std::u16string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        char32_t c = 0xFFFD;
        std::size_t need = 0;
        char32_t min = 0;
        if (b < 0x80) {
            c = b;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            need = 1;
            min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            need = 2;
            min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            need = 3;
            min = 0x10000;
        }
        std::size_t used = 1;
        if (need > 0 || b >= 0x80) {
            bool ok = need > 0;
            for (std::size_t k = 1; ok && k <= need; ++k) {
                if (i + k >= s.size()) {
                    ok = false;
                    break;
                }
                const auto cont = static_cast<unsigned char>(s[i + k]);
                if ((cont & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (cont & 0x3F);
            }
            if (ok && c >= min && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF)) {
                used = need + 1;
            } else {
                c = 0xFFFD;
            }
        }
        if (c >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += used;
    }
    return out;
}

} // namespace parlivo::text
