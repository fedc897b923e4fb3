#include "DocumentIo.h"

#include "FastLines.h"
#include "TextDecoding.h"

#include <QStringEncoder>

namespace documents {

namespace {

constexpr char16_t kCr = u'\r';
constexpr char16_t kLf = u'\n';

} // namespace

void normaliseLineEnds(QString &text, qsizetype from) {
    // First pass: replace NULs and count the line ends that are one character long, each of
    // which needs one more. The text is large (up to hundreds of MB), so no per-line strings.
    char16_t *data = reinterpret_cast<char16_t *>(text.data());
    const qsizetype size = text.size();
    qsizetype missing = 0;
    for (qsizetype i = from; i < size; ++i) {
        const char16_t c = data[i];
        if (c > kCr)
            continue;
        if (c == kCr) {
            if (i + 1 < size && data[i + 1] == kLf)
                ++i;
            else
                ++missing;
        } else if (c == kLf) {
            ++missing;
        } else if (c == 0) {
            data[i] = QChar::ReplacementCharacter;
        }
    }
    if (missing == 0)
        return;

    // Second pass, from the back so the text grows in place: a lone CR or LF becomes CRLF.
    text.resize(size + missing);
    data = reinterpret_cast<char16_t *>(text.data());
    qsizetype read = size;
    qsizetype write = size + missing;
    while (missing > 0) {
        const char16_t c = data[--read];
        if (c == kLf) {
            data[--write] = kLf;
            data[--write] = kCr;
            if (read > from && data[read - 1] == kCr)
                --read;
            else
                --missing;
        } else if (c == kCr) {
            // Not followed by LF, or the LF branch would have taken it.
            data[--write] = kLf;
            data[--write] = kCr;
            --missing;
        } else {
            data[--write] = c;
        }
    }
}

namespace {

// appendFileLines, and when `orCp1252` is false, nothing but false for a file that is neither
// valid UTF-8 nor marked as UTF-8 or UTF-16.
bool appendLines(QString &document, QByteArrayView fileBytes, bool orCp1252) {
    const qsizetype start = document.size();
    const QLatin1StringView crlf("\r\n");
    // One allocation for everything: the separator, the decoded text, and room for every line
    // end to grow to two characters.
    const qsizetype room = decodedLengthBound(fileBytes) + countLineEndBytes(fileBytes);
    document.reserve(start + crlf.size() + room);
    document.append(crlf);
    const qsizetype linesStart = document.size();

    const bool utf8Bom = fileBytes.startsWith(kUtf8Bom);
    document.resize(linesStart + room);
    QChar *const out = document.data() + linesStart;
    QChar *end = nullptr;
    if (!startsWithUtf16Bom(fileBytes)) {
        // Most files: one pass from bytes to lines, written where they belong.
        const QByteArrayView body = utf8Bom ? fileBytes.sliced(kUtf8Bom.size()) : fileBytes;
        end = appendUtf8Lines(out, body);
        if (!end && !utf8Bom) {
            if (!orCp1252) {
                document.truncate(start);
                return false;
            }
            end = appendCp1252Lines(out, fileBytes);
        }
    }
    if (end) {
        document.resize(end - document.constData());
    } else {
        // UTF-16, or a UTF-8 file with a byte order mark and a bad sequence in it: rare enough
        // for the general decoder and a second pass over the lines.
        document.resize(linesStart);
        appendDecoded(document, fileBytes);
        normaliseLineEnds(document, linesStart);
    }
    if (document.size() == linesStart) {
        // An empty file (or one with nothing but a byte order mark) has no lines at all.
        document.truncate(start);
        return true;
    }
    // The last line end closes the last line; it does not start an empty one.
    if (document.endsWith(crlf))
        document.chop(crlf.size());
    return true;
}

} // namespace

void appendFileLines(QString &document, QByteArrayView fileBytes) {
    appendLines(document, fileBytes, true);
}

bool appendUnicodeFileLines(QString &document, QByteArrayView fileBytes) {
    return appendLines(document, fileBytes, false);
}

QByteArray savedBytes(const QString &document) {
    QStringEncoder encoder(QStringConverter::Utf8);
    QByteArray bytes(encoder.requiredSpace(document.size()) + 2, Qt::Uninitialized);
    char *end = encoder.appendToBuffer(bytes.data(), document);
    *end++ = '\r';
    *end++ = '\n';
    bytes.truncate(end - bytes.constData());
    return bytes;
}

} // namespace documents
