// The zip-based readers (DOCX, ODT, EPUB) on any bytes, with small limits: refusing is fine,
// crashing, hanging or unpacking past the limits is not.
#include "ExtractError.h"
#include "PackageReaders.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    extract::Limits limits;
    limits.maxChars = 1 << 16;
    limits.maxDepth = 64;
    for (auto read : {extract::docxToText, extract::odtToText, extract::epubToText}) {
        try {
            (void)read(bytes, limits);
        } catch (const extract::ExtractError &) {
        }
    }
    return 0;
}
