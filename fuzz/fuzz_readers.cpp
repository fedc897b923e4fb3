// The document readers on any bytes, with small limits so that the limits themselves are hit:
// a reader may refuse the input with an ExtractError, and otherwise its text must keep the
// builder's form (no empty line, no line starting or ending in a space) and stay under the limit.
#include "DocReader.h"
#include "ExtractError.h"
#include "Fb2Reader.h"
#include "HtmlReader.h"
#include "MarkdownReader.h"
#include "RtfReader.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    extract::Limits limits;
    limits.maxChars = 2000;
    limits.maxDepth = 24;
    QString text;
    try {
#if PARLIVO_FUZZ_READER == 1
        // As the reader runs it: the page's declared encoding first.
        text = extract::htmlToText(extract::decodeHtml(bytes).toUtf8(), limits);
#elif PARLIVO_FUZZ_READER == 2
        text = extract::markdownToText(bytes, limits);
#elif PARLIVO_FUZZ_READER == 4
        text = extract::rtfToText(bytes, limits);
#elif PARLIVO_FUZZ_READER == 5
        // A file this reader does not handle goes to catdoc: nothing to check here.
        text = extract::docToText(bytes, limits).value_or(QString());
#else
        text = extract::fb2ToText(bytes, limits);
#endif
    } catch (const extract::ExtractError &) {
        return 0;
    }
    if (text.size() > limits.maxChars)
        std::abort();
    if (text.isEmpty())
        return 0; // nothing to read: the caller says so
    for (const QStringView line : QStringView(text).split(u'\n')) {
        if (line.isEmpty() || line.front() == u' ' || line.back() == u' ')
            std::abort();
    }
    return 0;
}
