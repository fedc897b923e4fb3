#pragma once
// Renders a text to an audio file exactly as the window would speak it: the same chunks, voice
// and speed, through parlivo-synth workers. Free of widgets; the window drives it from a thread.

#include "AudioFile.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>

namespace audioexport {

struct ExportRequest {
    QString text;  // the document, as the window speaks it
    QString voice; // e.g. "espeak:en"; empty: the worker's default
    // What the voice speaks at (the engine's voice list says), for a text with no audio at all,
    // whose file must still name a rate; 0: espeak-ng's 22050 Hz.
    int sampleRate = 0;
    int wpm = 0;  // 0: the synthesiser's default
    QString path; // the file to write (replaced only when complete)
    FileFormat format = FileFormat::Wav;
    int workers = 1;            // synthesis processes working side by side
    QString workerProgram;      // empty: the parlivo-synth next to this program
    qsizetype segmentUnits = 0; // text per segment; 0: chosen from the speed
};

struct ExportProgress {
    qsizetype textDone = 0; // UTF-16 units of the text rendered (up to the current sentence)
    qsizetype textTotal = 0;
    std::uint64_t frames = 0; // written so far
    int sampleRate = 0;       // 0 until the first audio
};

struct ExportResult {
    bool completed = false; // false: cancelled, nothing was written
    std::uint64_t frames = 0;
    int sampleRate = 0;
    double seconds() const { return sampleRate > 0 ? double(frames) / sampleRate : 0.0; }
};

class Exporter {
public:
    // Audio waiting per lane, in samples (4 MiB): about 95 s at 22050 Hz. With less, a lane
    // that is ahead fills its queue before the current segment is done and waits (2 to 6 % of
    // the lanes' time with 3 MiB, depending on the text).
    static constexpr std::size_t kLaneSamples = 2048 * 1024;

    explicit Exporter(ExportRequest request);

    using ProgressHandler = std::function<void(const ExportProgress &)>;
    // Renders the whole text; blocks until done. `progress` is called on this thread, a few
    // times a second at most. Setting `cancel` (from any thread) ends it promptly with nothing
    // written. Throws ExportError; the target is then as it was.
    ExportResult run(const std::atomic<bool> &cancel, const ProgressHandler &progress = {});

    // The most audio that waited in the queues at any one time, in bytes.
    std::size_t peakBufferedBytes() const { return m_peakBuffered.load(); }

private:
    const ExportRequest m_request;
    std::atomic<std::size_t> m_peakBuffered{0};
};

} // namespace audioexport
