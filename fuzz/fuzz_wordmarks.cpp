// Word-mark mapping: for any text and any offset the synthesiser may report, the word found
// lies inside the text, cuts no surrogate pair, holds no white space, and belongs to the run of
// non-space characters at the offset (or to the first one after it, from white space).
#include "FuzzText.h"
#include "TextUnits.h"
#include "WordMarks.h"

#include <cstdlib>

using parlivo::text::isSpace;
using parlivo::text::wordAt;

namespace {

void check(bool ok) {
    if (!ok)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::u16string text = fuzztext::toText(data + 2, size - 2);
    // Offsets past the end are asked for too: the synthesiser's positions are not trusted.
    const std::size_t offset = (data[0] | (data[1] << 8)) % (text.size() + 3);
    const auto word = wordAt(text, offset);

    std::size_t at = offset;
    if (at < text.size() && fuzztext::splitsPair(text, at))
        --at;
    while (at < text.size() && isSpace(text[at]))
        ++at;
    if (at >= text.size()) {
        check(!word);
        return 0;
    }
    check(word.has_value());
    const std::size_t first = word->offset;
    const std::size_t last = word->offset + word->length;
    check(word->length > 0);
    check(last <= text.size());
    check(!fuzztext::splitsPair(text, first));
    check(!fuzztext::splitsPair(text, last));
    for (std::size_t i = first; i < last; ++i)
        check(!isSpace(text[i]));

    // The run of non-space characters around `at` holds the word.
    std::size_t runBegin = at;
    while (runBegin > 0 && !isSpace(text[runBegin - 1]))
        --runBegin;
    std::size_t runEnd = at;
    while (runEnd < text.size() && !isSpace(text[runEnd]))
        ++runEnd;
    check(first >= runBegin && last <= runEnd);
    return 0;
}
