#include "Encoding.h"

#include "Cp1252.h"

#include <QSysInfo>

#include <uchardet/uchardet.h>

#include <iconv.h>

#include <algorithm>
#include <memory>
#include <type_traits>

namespace extract {
namespace {

constexpr qsizetype kPatternBytes = 4096;
// uchardet is sure of a language's encoding long before this much text.
constexpr qsizetype kDetectBytes = 1 << 20;

bool validUtf8(QByteArrayView bytes) {
    // Every invalid or cut-off sequence comes back as U+FFFD, which is other bytes. (A decoder's
    // hasError() would miss a sequence cut off at the end: it waits for more.)
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// UTF-16 without a byte order mark: text in Latin letters has a zero byte in every other
// place, and almost nowhere else. Counted over the start of the file.
QByteArray utf16ByPattern(QByteArrayView bytes) {
    const qsizetype n = std::min(bytes.size(), kPatternBytes) & ~qsizetype(1);
    if (n < 4)
        return {};
    qsizetype zeroEven = 0;
    qsizetype zeroOdd = 0;
    for (qsizetype i = 0; i < n; i += 2) {
        zeroEven += bytes[i] == 0;
        zeroOdd += bytes[i + 1] == 0;
    }
    const qsizetype units = n / 2;
    if (zeroOdd * 10 >= units * 4 && zeroEven * 20 <= units)
        return "UTF-16LE";
    if (zeroEven * 10 >= units * 4 && zeroOdd * 20 <= units)
        return "UTF-16BE";
    return {};
}

QByteArray byStatistics(QByteArrayView bytes) {
    std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(
        uchardet_new(), uchardet_delete);
    if (!detector)
        return {};
    const QByteArrayView sample = bytes.first(std::min(bytes.size(), kDetectBytes));
    if (uchardet_handle_data(detector.get(), sample.data(), std::size_t(sample.size())) != 0)
        return {};
    uchardet_data_end(detector.get());
    QByteArray name(uchardet_get_charset(detector.get()));
    // ASCII would have been UTF-8; Latin-1 is better read as its superset Windows-1252, which
    // gives the quotes and dashes of 0x80..0x9F their meaning.
    if (name.isEmpty() || name == "ASCII" || name == "ISO-8859-1")
        return {};
    // The two Central European encodings share most letters, and uchardet often takes one for
    // the other. But Windows-1250 keeps Š, š, Ť, ť, Ž, ž, Ś, ś, Ź, ź in 0x80..0x9F, where
    // ISO-8859-2 has only control codes that no text contains: those bytes tell them apart.
    if (name == "WINDOWS-1250" || name == "ISO-8859-2") {
        const bool windows = std::any_of(sample.begin(), sample.end(), [](char c) {
            const auto byte = static_cast<unsigned char>(c);
            return byte >= 0x80 && byte < 0xA0;
        });
        return windows ? "WINDOWS-1250" : "ISO-8859-2";
    }
    return name;
}

QString cp1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes)
        *out++ = QChar(parlivo::cp1252ToUnicode(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

std::optional<QString> decodeAs(QByteArrayView bytes, const QByteArray &encoding) {
    const char *const host =
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
    iconv_t cd = iconv_open(host, encoding.constData());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    // Every encoding uchardet names takes at least one byte per UTF-16 unit, except GB18030's
    // four-byte sequences that make a surrogate pair (two units from four bytes).
    QString text(bytes.size() + 1, Qt::Uninitialized);
    char *in = const_cast<char *>(bytes.data());
    std::size_t inLeft = std::size_t(bytes.size());
    char *out = reinterpret_cast<char *>(text.data());
    std::size_t outLeft = std::size_t(text.size()) * 2;
    const std::size_t result = iconv(cd, &in, &inLeft, &out, &outLeft);
    iconv_close(cd);
    if (result == std::size_t(-1) || inLeft != 0)
        return std::nullopt;
    text.truncate(text.size() - qsizetype(outLeft / 2));
    return text;
}

QByteArray detectEncoding(QByteArrayView bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return "UTF-8";
    if (bytes.startsWith("\xFF\xFE"))
        return "UTF-16LE";
    if (bytes.startsWith("\xFE\xFF"))
        return "UTF-16BE";
    if (QByteArray utf16 = utf16ByPattern(bytes); !utf16.isEmpty())
        return utf16;
    if (validUtf8(bytes))
        return "UTF-8";
    if (QByteArray found = byStatistics(bytes); !found.isEmpty())
        return found;
    return "WINDOWS-1252";
}

QString decodeText(QByteArrayView bytes) {
    const QByteArray encoding = detectEncoding(bytes);
    if (encoding == "WINDOWS-1252")
        return cp1252(bytes);
    if (encoding == "UTF-8") {
        // Also what uchardet says of UTF-8 with a damaged sequence or two: those become U+FFFD,
        // and the rest of the file reads as written, not as Windows-1252 letter salad.
        return QString::fromUtf8(bytes.startsWith("\xEF\xBB\xBF") ? bytes.sliced(3) : bytes);
    }
    std::optional<QString> decoded = decodeAs(bytes, encoding);
    if (!decoded)
        return cp1252(bytes);
    QString text = std::move(*decoded);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    return text;
}

} // namespace extract
