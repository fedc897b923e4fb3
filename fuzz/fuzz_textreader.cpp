// The document reader's text side on any bytes: the kind of file told from its head, the
// encoding told and decoded, subtitles read, and what catdoc printed for a Word file turned into
// paragraphs. Nothing may crash, and a file that is valid
// UTF-8 must come back exactly as UTF-8 decodes it.
#include "Encoding.h"
#include "ExtractError.h"
#include "Format.h"
#include "Subtitles.h"
#include "WordReader.h"

#include <QString>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)formats::detect(bytes, QStringLiteral("file.srt"), false);
    const QString text = extract::decodeText(bytes);

    if (extract::detectEncoding(bytes) == "UTF-8" && !bytes.startsWith("\xEF\xBB\xBF") &&
        QString::fromUtf8(bytes).toUtf8() == bytes && text != QString::fromUtf8(bytes))
        std::abort();

    extract::Limits limits;
    limits.maxChars = 2048;
    try {
        (void)extract::subtitlesToText(text, limits);
    } catch (const extract::ExtractError &) {
        // Over the small limit: what the limit is for.
    }
    try {
        (void)extract::catdocOutputToText(bytes, limits);
    } catch (const extract::ExtractError &) {
        // Over the small limit: what the limit is for.
    }
    return 0;
}
