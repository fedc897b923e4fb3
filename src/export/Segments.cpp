#include "Segments.h"

#include "Chunker.h"

namespace audioexport {

std::vector<Segment> splitIntoSegments(const QString &text, qsizetype targetUnits) {
    namespace t = parlivo::text;
    const std::u16string_view units(reinterpret_cast<const char16_t *>(text.utf16()),
                                    static_cast<std::size_t>(text.size()));
    std::vector<Segment> segments;
    std::size_t position = 0;
    std::size_t runStart = 0;
    std::size_t runEnd = 0;
    bool inRun = false;
    for (;;) {
        const t::ChunkResult next = t::nextChunk(units, position, true);
        if (next.status != t::ChunkStatus::Ready)
            break;
        if (!inRun) {
            runStart = next.chunk.start;
            inRun = true;
        }
        runEnd = next.chunk.start + next.chunk.length;
        position = runEnd;
        // An empty chunk would not move us on; the chunker never makes one, but stay safe.
        if (next.chunk.length == 0)
            position = next.chunk.start + 1;
        if (static_cast<qsizetype>(runEnd - runStart) >= targetUnits) {
            segments.push_back({qsizetype(runStart), qsizetype(runEnd - runStart)});
            inRun = false;
        }
    }
    if (inRun)
        segments.push_back({qsizetype(runStart), qsizetype(runEnd - runStart)});
    return segments;
}

} // namespace audioexport
