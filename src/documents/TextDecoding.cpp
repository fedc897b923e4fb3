#include "TextDecoding.h"

#include "Cp1252.h"

#include <QStringDecoder>

#include <optional>

namespace documents {

namespace {

constexpr QByteArrayView kUtf16LEBom("\xFF\xFE", 2);
constexpr QByteArrayView kUtf16BEBom("\xFE\xFF", 2);

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
    for (const char c : bytes)
        *at++ = QChar(parlivo::cp1252ToUnicode(static_cast<unsigned char>(c)));
    return at;
}

} // namespace

bool startsWithUtf16Bom(QByteArrayView bytes) {
    return bytes.startsWith(kUtf16LEBom) || bytes.startsWith(kUtf16BEBom);
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
