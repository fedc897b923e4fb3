// Open's decoding and line splitting on any bytes. The one-pass fast path must give exactly
// what the general decoder followed by the line-end pass gives, and the document must come out
// in its own form: lines joined by "\r\n" only, no NUL, nothing added for an empty file.
#include "DocumentIo.h"
#include "TextDecoding.h"

#include <QString>

#include <cstdlib>

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

// The slow, obvious way: decode everything, then fix the line ends and NULs.
QString reference(const QString &before, QByteArrayView bytes) {
    QString lines = documents::decodeText(bytes);
    documents::normaliseLineEnds(lines, 0);
    if (lines.isEmpty())
        return before;
    if (lines.endsWith(QLatin1String("\r\n")))
        lines.chop(2);
    return before + QLatin1String("\r\n") + lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    // A document that already holds text, as after an earlier Open.
    const QString before = QStringLiteral("earlier\r\ntext");
    QString document = before;
    documents::appendFileLines(document, bytes);

    check(document.startsWith(before));
    const QStringView added = QStringView(document).sliced(before.size());
    if (!added.isEmpty())
        check(added.startsWith(QLatin1String("\r\n")));
    for (qsizetype i = 0; i < added.size(); ++i) {
        const QChar c = added[i];
        check(c != QChar(0));
        if (c == u'\r')
            check(i + 1 < added.size() && added[i + 1] == u'\n');
        if (c == u'\n')
            check(i > 0 && added[i - 1] == u'\r');
    }
    check(document == reference(before, bytes));
    return 0;
}
