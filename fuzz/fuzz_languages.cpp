// The automatic voice's choices on any text: every chunk of a complete text gets a voice, and
// the same text arriving in pieces, as the worker receives it, gets exactly the same voices,
// chunk by chunk, never a different one for having seen less of it.
#include "Chunker.h"
#include "FuzzText.h"
#include "Languages.h"

#include <cstdlib>
#include <vector>

namespace {

using parlivo::synth::AutomaticVoice;
namespace text = parlivo::text;

void check(bool ok) {
    if (!ok)
        std::abort();
}

AutomaticVoice chooser() {
    return AutomaticVoice("espeak:en-us", {"en-us", "fr-fr", "de", "ru", "cmn", "ja"});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size < 1)
        return 0;
    const std::size_t piece = 1 + data[0] * 8u; // how much more arrives each time
    const std::u16string whole = fuzztext::toText(data + 1, size - 1);

    std::vector<std::string> voices;
    AutomaticVoice complete = chooser();
    for (std::size_t position = 0;;) {
        const auto next = text::nextChunk(whole, position, true);
        if (next.status != text::ChunkStatus::Ready)
            break;
        const auto choice = complete.choose(whole, next.chunk, true);
        check(choice.has_value() && !choice->voice.empty());
        voices.push_back(choice->voice);
        position = next.chunk.start + next.chunk.length;
    }

    AutomaticVoice pieced = chooser();
    std::size_t arrived = std::min(piece, whole.size());
    std::size_t index = 0;
    for (std::size_t position = 0;;) {
        const bool final = arrived == whole.size();
        const std::u16string_view seen(whole.data(), arrived);
        const auto next = text::nextChunk(seen, position, final);
        if (next.status == text::ChunkStatus::End)
            break;
        std::optional<AutomaticVoice::Choice> choice;
        if (next.status == text::ChunkStatus::Ready)
            choice = pieced.choose(seen, next.chunk, final);
        if (!choice) {
            check(!final); // the whole text never waits
            arrived = std::min(arrived + piece, whole.size());
            continue;
        }
        check(index < voices.size() && choice->voice == voices[index]);
        ++index;
        position = next.chunk.start + next.chunk.length;
    }
    check(index == voices.size());
    return 0;
}
