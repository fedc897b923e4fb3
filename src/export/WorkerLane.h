#pragma once
// One lane of an export: renders its share of the text, one segment after another, into a
// bounded queue that the file empties in document order. espeak-ng carries state (pitch flutter,
// wave phase) from one utterance to the next within a process, so a segment must start from the
// state of a fresh worker to sound the same whichever lane renders it: the lane's one
// parlivo-synth renders each segment, a batch request, in a fresh copy of itself.
//
// The client's reader thread blocks on the full queue, and then the worker blocks on its pipe:
// a lane whose audio is not due yet runs at most a queue's worth ahead.

#include "Segments.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace parlivo::proto {
struct Audio;
struct Done;
struct Error;
struct Sentence;
} // namespace parlivo::proto

namespace speech {
class SynthClient;
}

namespace audioexport {

// What the lanes hold in total, for keeping memory in check and for measuring it.
class BufferGauge {
public:
    void add(std::size_t bytes);
    void remove(std::size_t bytes);
    std::size_t peak() const { return m_peak.load(); }

private:
    std::atomic<std::size_t> m_current{0};
    std::atomic<std::size_t> m_peak{0};
};

struct LaneItem {
    enum class Kind { Audio, Sentence, SegmentEnd, Failure };
    Kind kind = Kind::Audio;
    std::uint32_t sampleRate = 0;
    std::vector<std::int16_t> samples; // Audio
    qsizetype textOffset = 0;          // Sentence: where it starts in the document
    int number = 0;                    // Failure: an ExportError number
    QString message;                   // Failure
};

class WorkerLane {
public:
    struct Settings {
        QString program;
        int wpm = 0;
        std::string voice;
        std::size_t capacitySamples = 0;
    };

    // `text` is the whole document; `segments` are this lane's share, in order. Starts at once.
    WorkerLane(const Settings &settings, const QString &text, std::vector<Segment> segments,
               BufferGauge &gauge);
    // Stops the workers; audio still queued is dropped.
    ~WorkerLane();
    WorkerLane(const WorkerLane &) = delete;
    WorkerLane &operator=(const WorkerLane &) = delete;

    // Moves the items waiting, in order, into `items`, up to the end of the current segment;
    // waits up to `wait` for some. Taking them in batches saves a thread switch per block.
    void take(std::vector<LaneItem> &items, std::chrono::milliseconds wait);

private:
    void run();
    std::unique_ptr<speech::SynthClient> startWorker();
    // False if the lane was closed or the segment failed before it was done.
    bool awaitSegmentEnd(std::uint64_t id);

    // Reader threads of the clients.
    void onAudio(parlivo::proto::Audio &audio);
    void onSentence(const parlivo::proto::Sentence &sentence);
    void onDone(const parlivo::proto::Done &done);
    void onError(const parlivo::proto::Error &error);
    void onDied(int status);

    void push(LaneItem item);
    void fail(int number, const QString &message);
    void close();

    const Settings m_settings;
    const QString m_text;
    const std::vector<Segment> m_segments;
    BufferGauge &m_gauge;
    // The segment being rendered, as request id (index + 1); 0 between segments.
    std::atomic<std::uint64_t> m_current{0};

    std::mutex m_mutex;
    std::condition_variable m_space;   // room in the queue, or closed
    std::condition_variable m_ready;   // an item in the queue
    std::condition_variable m_changed; // a segment ended, failed, or the lane closed
    std::deque<LaneItem> m_items;      // guarded by m_mutex
    std::size_t m_queuedSamples = 0;   // guarded by m_mutex
    std::uint64_t m_finished = 0;      // guarded by m_mutex: the last segment id done
    bool m_failed = false;             // guarded by m_mutex
    bool m_closed = false;             // guarded by m_mutex

    std::thread m_thread; // last: it uses everything above
};

} // namespace audioexport
