#include "WorkerLane.h"

#include "EngineError.h"
#include "ExportError.h"
#include "SynthClient.h"

#include <sys/wait.h>

namespace audioexport {
namespace proto = parlivo::proto;

void BufferGauge::add(std::size_t bytes) {
    const std::size_t now = m_current.fetch_add(bytes) + bytes;
    std::size_t peak = m_peak.load();
    while (now > peak && !m_peak.compare_exchange_weak(peak, now)) {
        // `peak` now holds the newer value; try again if ours is still higher
    }
}

void BufferGauge::remove(std::size_t bytes) {
    m_current.fetch_sub(bytes);
}

WorkerLane::WorkerLane(const Settings &settings, const QString &text, std::vector<Segment> segments,
                       BufferGauge &gauge)
    : m_settings(settings)
    , m_text(text)
    , m_segments(std::move(segments))
    , m_gauge(gauge)
    , m_thread([this] { run(); }) {}

WorkerLane::~WorkerLane() {
    close();
    m_thread.join();
    std::scoped_lock lock(m_mutex);
    for (const LaneItem &item : m_items)
        m_gauge.remove(item.samples.size() * sizeof(std::int16_t));
}

std::unique_ptr<speech::SynthClient> WorkerLane::startWorker() {
    speech::SynthClient::Handlers handlers;
    handlers.audio = [this](proto::Audio &audio) {
        onAudio(audio);
    };
    handlers.sentence = [this](const proto::Sentence &sentence) {
        onSentence(sentence);
    };
    handlers.done = [this](const proto::Done &done) {
        onDone(done);
    };
    handlers.error = [this](const proto::Error &error) {
        onError(error);
    };
    handlers.died = [this](int status) {
        onDied(status);
    };
    auto client = std::make_unique<speech::SynthClient>(m_settings.program, std::move(handlers));
    try {
        client->ensureRunning();
    } catch (const speech::EngineError &error) {
        throw ExportError(ExportError::WorkerStart, error.description());
    }
    return client;
}

void WorkerLane::run() {
    try {
        // One worker for all of the lane's segments: it renders each batch request in a fresh
        // copy of itself, so a segment sounds the same whatever came before it on this lane.
        std::unique_ptr<speech::SynthClient> worker = startWorker();
        for (std::size_t i = 0; i < m_segments.size(); ++i) {
            const std::uint64_t id = i + 1;
            const Segment &segment = m_segments[i];
            m_current = id;
            worker->speak(id, m_text.mid(segment.start, segment.length), 0, m_settings.wpm,
                          m_settings.voice, true);
            if (!awaitSegmentEnd(id)) {
                m_current = 0;
                worker->cancel(id); // stops it within a block instead of at the end of its text
                return;
            }
            m_current = 0;
        }
    } catch (const ExportError &error) {
        fail(error.number(), error.description());
    } catch (const std::exception &error) {
        // Out of memory or threads: nothing may leave this thread but a failure the file sees.
        fail(ExportError::WorkerStart, QString::fromLocal8Bit(error.what()));
    }
}

bool WorkerLane::awaitSegmentEnd(std::uint64_t id) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_finished == id || m_failed || m_closed; });
    return m_finished == id && !m_failed && !m_closed;
}

void WorkerLane::take(std::vector<LaneItem> &items, std::chrono::milliseconds wait) {
    std::unique_lock lock(m_mutex);
    if (!m_ready.wait_for(lock, wait, [&] { return !m_items.empty(); }))
        return;
    std::size_t taken = 0;
    while (!m_items.empty()) {
        LaneItem &item = m_items.front();
        const bool last = item.kind == LaneItem::Kind::SegmentEnd;
        taken += item.samples.size();
        items.push_back(std::move(item));
        m_items.pop_front();
        if (last)
            break; // what follows belongs to this lane's next segment, which is not due yet
    }
    m_queuedSamples -= taken;
    m_gauge.remove(taken * sizeof(std::int16_t));
    lock.unlock();
    m_space.notify_all();
}

void WorkerLane::push(LaneItem item) {
    std::unique_lock lock(m_mutex);
    const std::size_t count = item.samples.size();
    // Items without audio never wait, and one block is always let into an empty queue however
    // large it is, so that nothing can wedge the lane.
    m_space.wait(lock, [&] {
        return m_closed || count == 0 || m_queuedSamples == 0 ||
               m_queuedSamples + count <= m_settings.capacitySamples;
    });
    if (m_closed)
        return; // the export is over; nobody will read this
    m_queuedSamples += count;
    m_gauge.add(count * sizeof(std::int16_t));
    // Blocks come every 20 ms of audio; waking the file's thread for each would cost more than
    // writing them. Wake it for a good batch, or for what ends a segment.
    const bool wake =
        (item.kind != LaneItem::Kind::Audio && item.kind != LaneItem::Kind::Sentence) ||
        m_queuedSamples >= m_settings.capacitySamples / 8;
    m_items.push_back(std::move(item));
    lock.unlock();
    if (wake)
        m_ready.notify_all();
}

void WorkerLane::fail(int number, const QString &message) {
    LaneItem item;
    item.kind = LaneItem::Kind::Failure;
    item.number = number;
    item.message = message;
    push(std::move(item));
    {
        std::scoped_lock lock(m_mutex);
        m_failed = true;
    }
    m_changed.notify_all();
}

void WorkerLane::close() {
    {
        std::scoped_lock lock(m_mutex);
        m_closed = true;
    }
    m_space.notify_all();
    m_changed.notify_all();
}

void WorkerLane::onAudio(proto::Audio &audio) {
    if (audio.id != m_current.load() || audio.samples.empty())
        return;
    LaneItem item;
    item.kind = LaneItem::Kind::Audio;
    item.sampleRate = audio.sampleRate;
    item.samples = std::move(audio.samples);
    push(std::move(item));
}

void WorkerLane::onSentence(const proto::Sentence &sentence) {
    const std::uint64_t id = sentence.id;
    if (id == 0 || id != m_current.load())
        return;
    LaneItem item;
    item.kind = LaneItem::Kind::Sentence;
    item.textOffset = m_segments[id - 1].start + static_cast<qsizetype>(sentence.offset);
    push(std::move(item));
}

void WorkerLane::onDone(const proto::Done &done) {
    const std::uint64_t id = done.id;
    if (id == 0 || id != m_current.load())
        return;
    LaneItem item;
    item.kind = LaneItem::Kind::SegmentEnd;
    push(std::move(item));
    {
        std::scoped_lock lock(m_mutex);
        m_finished = id;
    }
    m_changed.notify_all();
}

void WorkerLane::onError(const proto::Error &error) {
    fail(ExportError::Synthesis, QStringLiteral("The speech synthesiser failed: %1")
                                     .arg(QString::fromStdString(error.message)));
}

void WorkerLane::onDied(int status) {
    fail(ExportError::WorkerDied,
         WIFSIGNALED(status)
             ? QStringLiteral("The speech synthesiser stopped unexpectedly (signal %1)")
                   .arg(WTERMSIG(status))
             : QStringLiteral("The speech synthesiser stopped unexpectedly (exit code %1)")
                   .arg(WEXITSTATUS(status)));
}

} // namespace audioexport
