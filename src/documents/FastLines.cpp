#include "FastLines.h"

#include "Cp1252.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace documents {

namespace {

using Byte = unsigned char;

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

// Writes the character for an ASCII control byte at in[i] (CR, LF or NUL need care) and
// returns the index of the next byte to read.
inline qsizetype putControl(char16_t *&out, const Byte *in, qsizetype i, qsizetype size) {
    const Byte b = in[i];
    if (b == '\r' || b == '\n') {
        *out++ = kCr;
        *out++ = kLf;
        // CR LF is one line end, not two.
        return b == '\r' && i + 1 < size && in[i + 1] == '\n' ? i + 2 : i + 1;
    }
    *out++ = b == 0 ? char16_t(QChar::ReplacementCharacter) : char16_t(b);
    return i + 1;
}

// Copies plain ASCII bytes (no controls below 14, nothing above 127), which is nearly every
// byte of an English text, 16 at a time. Returns how many bytes it took from `in`.
inline qsizetype copyPlainAscii(char16_t *&out, const Byte *in, qsizetype size) {
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    // Signed compare: bytes of 0x80 and up are negative, so one test catches both kinds.
    const __m128i limit = _mm_set1_epi8(14);
    while (i + 16 <= size) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        // All 16 are stored even when a line end is among them: the output always has room for
        // at least as many units as there are bytes left, and what lies past the plain prefix
        // is overwritten next.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8), _mm_unpackhi_epi8(chunk, zero));
        if (const int stops = _mm_movemask_epi8(_mm_cmplt_epi8(chunk, limit))) {
            const int plain = __builtin_ctz(unsigned(stops));
            out += plain;
            return i + plain;
        }
        out += 16;
        i += 16;
    }
#endif
    while (i < size && in[i] >= 14 && in[i] < 0x80)
        *out++ = in[i++];
    return i;
}

inline bool isContinuation(Byte b) {
    return (b & 0xC0) == 0x80;
}

// Decodes the multi-byte sequence at in[i]; returns the index after it, or -1 if it is not
// valid UTF-8 (overlong, a surrogate, past U+10FFFF, cut off, or a stray continuation byte).
inline qsizetype putMultiByte(char16_t *&out, const Byte *in, qsizetype i, qsizetype size) {
    const Byte lead = in[i];
    if (lead >= 0xC2 && lead <= 0xDF) {
        if (i + 1 >= size || !isContinuation(in[i + 1]))
            return -1;
        *out++ = char16_t(((lead & 0x1F) << 6) | (in[i + 1] & 0x3F));
        return i + 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        if (i + 2 >= size || !isContinuation(in[i + 1]) || !isContinuation(in[i + 2]))
            return -1;
        // The second byte's range rules out overlong forms (E0) and surrogates (ED).
        if ((lead == 0xE0 && in[i + 1] < 0xA0) || (lead == 0xED && in[i + 1] > 0x9F))
            return -1;
        *out++ = char16_t(((lead & 0x0F) << 12) | ((in[i + 1] & 0x3F) << 6) | (in[i + 2] & 0x3F));
        return i + 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        if (i + 3 >= size || !isContinuation(in[i + 1]) || !isContinuation(in[i + 2]) ||
            !isContinuation(in[i + 3]))
            return -1;
        // Overlong forms (F0) and code points past U+10FFFF (F4).
        if ((lead == 0xF0 && in[i + 1] < 0x90) || (lead == 0xF4 && in[i + 1] > 0x8F))
            return -1;
        const char32_t ucs = (char32_t(lead & 0x07) << 18) | (char32_t(in[i + 1] & 0x3F) << 12) |
                             (char32_t(in[i + 2] & 0x3F) << 6) | char32_t(in[i + 3] & 0x3F);
        *out++ = QChar::highSurrogate(ucs);
        *out++ = QChar::lowSurrogate(ucs);
        return i + 4;
    }
    return -1;
}

} // namespace

qsizetype countLineEndBytes(QByteArrayView bytes) {
    const auto *in = reinterpret_cast<const Byte *>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype count = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; i + 16 <= size; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(in + i));
        const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(chunk, cr), _mm_cmpeq_epi8(chunk, lf));
        count += __builtin_popcount(unsigned(_mm_movemask_epi8(ends)));
    }
#endif
    for (; i < size; ++i)
        count += in[i] == '\r' || in[i] == '\n';
    return count;
}

namespace {

// The loop both decoders share: runs of plain ASCII in bulk, controls and line ends one by one,
// and each byte from 0x80 up through `putHigh`, which writes its character(s) and returns the
// index after them, or -1 if the bytes are not valid text.
template <typename PutHigh>
inline QChar *appendLines(QChar *result, QByteArrayView bytes, PutHigh putHigh) {
    auto *out = reinterpret_cast<char16_t *>(result);
    const auto *in = reinterpret_cast<const Byte *>(bytes.data());
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        i += copyPlainAscii(out, in + i, size - i);
        if (i == size)
            break;
        i = in[i] < 0x80 ? putControl(out, in, i, size) : putHigh(out, in, i, size);
        if (i < 0)
            return nullptr;
    }
    return reinterpret_cast<QChar *>(out);
}

} // namespace

QChar *appendUtf8Lines(QChar *result, QByteArrayView bytes) {
    // A lambda, not the function's address: its own type lets the compiler inline the call.
    return appendLines(result, bytes,
                       [](char16_t *&out, const Byte *in, qsizetype i, qsizetype size) {
                           return putMultiByte(out, in, i, size);
                       });
}

QChar *appendCp1252Lines(QChar *result, QByteArrayView bytes) {
    // Every byte is a character in Windows-1252, so this never fails.
    return appendLines(result, bytes, [](char16_t *&out, const Byte *in, qsizetype i, qsizetype) {
        *out++ = parlivo::cp1252ToUnicode(in[i]);
        return i + 1;
    });
}

} // namespace documents
