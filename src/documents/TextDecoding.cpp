#include "TextDecoding.h"

#include <QStringDecoder>

#include <array>
#include <optional>

namespace documents {

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF", 3);
constexpr QByteArrayView kUtf16LEBom("\xFF\xFE", 2);
constexpr QByteArrayView kUtf16BEBom("\xFE\xFF", 2);

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. The five bytes it leaves undefined map
// to the C1 control with the same number, as Windows itself does, so no byte is lost.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

struct ByteOrderMark {
    QStringConverter::Encoding encoding;
    qsizetype length;
};

std::optional<ByteOrderMark> byteOrderMark(QByteArrayView bytes) {
    if (bytes.startsWith(kUtf8Bom))
        return ByteOrderMark{QStringConverter::Utf8, kUtf8Bom.size()};
    if (bytes.startsWith(kUtf16LEBom))
        return ByteOrderMark{QStringConverter::Utf16LE, kUtf16LEBom.size()};
    if (bytes.startsWith(kUtf16BEBom))
        return ByteOrderMark{QStringConverter::Utf16BE, kUtf16BEBom.size()};
    return std::nullopt;
}

// The whole file is one piece, so the decoder keeps no state between calls, and a second byte
// order mark after the first is text, not a mark to drop.
constexpr auto kWholeFile =
    QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom;

// Decodes with Qt's decoder into `out` from `at`; returns the end, or nullptr if the bytes are
// not valid in that encoding.
QChar *decodeWithQt(QStringConverter::Encoding encoding, QByteArrayView bytes, QChar *at) {
    QStringDecoder decoder(encoding, kWholeFile);
    QChar *end = decoder.appendToBuffer(at, bytes);
    return decoder.hasError() ? nullptr : end;
}

QChar *decodeCp1252(QByteArrayView bytes, QChar *at) {
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *at++ = QChar(byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : char16_t(byte));
    }
    return at;
}

} // namespace

TextEncoding detectEncoding(QByteArrayView bytes) {
    if (const auto bom = byteOrderMark(bytes)) {
        switch (bom->encoding) {
        case QStringConverter::Utf16LE:
            return TextEncoding::Utf16LE;
        case QStringConverter::Utf16BE:
            return TextEncoding::Utf16BE;
        default:
            return TextEncoding::Utf8;
        }
    }
    QString scratch(decodedLengthBound(bytes), Qt::Uninitialized);
    return decodeWithQt(QStringConverter::Utf8, bytes, scratch.data()) ? TextEncoding::Utf8
                                                                       : TextEncoding::Windows1252;
}

qsizetype decodedLengthBound(QByteArrayView bytes) {
    // UTF-8 and Windows-1252 give at most one unit per byte, UTF-16 one per two bytes; the
    // decoder may add one for a trailing incomplete sequence.
    return bytes.size() + 1;
}

void appendDecoded(QString &out, QByteArrayView bytes) {
    const qsizetype start = out.size();
    // Grows within the capacity the caller reserved; the slack is cut off below.
    out.resize(start + decodedLengthBound(bytes));
    QChar *const at = out.data() + start;
    QChar *end = nullptr;

    if (const auto bom = byteOrderMark(bytes)) {
        // A file that says what it is keeps that encoding even with a bad sequence in it (an odd
        // last byte, a lone surrogate): Qt puts U+FFFD there, the rest reads right.
        QStringDecoder decoder(bom->encoding, kWholeFile);
        end = decoder.appendToBuffer(at, bytes.sliced(bom->length));
    } else {
        end = decodeWithQt(QStringConverter::Utf8, bytes, at);
        // One invalid sequence anywhere means the file was never UTF-8: decode all of it again
        // as Windows-1252.
        if (!end)
            end = decodeCp1252(bytes, at);
    }
    out.resize(end - out.constData());
}

QString decodeText(QByteArrayView bytes) {
    QString text;
    text.reserve(decodedLengthBound(bytes));
    appendDecoded(text, bytes);
    return text;
}

} // namespace documents
