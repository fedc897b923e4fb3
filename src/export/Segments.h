#pragma once
// How an export shares the text among its workers: runs of whole chunks, cut exactly where the
// synthesiser would cut them, so that a worker given one run makes the same chunks of it (and so
// the same audio) as a single worker given the whole text.

#include <QString>

#include <vector>

namespace audioexport {

// [start, start + length) of the document, in UTF-16 units.
struct Segment {
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const Segment &) const = default;
};

// The synthesiser's chunks of `text` grouped into runs of at least `targetUnits` UTF-16 units
// (the last may be shorter). White space between chunks belongs to no run.
std::vector<Segment> splitIntoSegments(const QString &text, qsizetype targetUnits);

} // namespace audioexport
