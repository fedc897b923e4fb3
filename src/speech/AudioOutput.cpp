#include "AudioOutput.h"

#include "PcmQueue.h"

#include <pulse/context.h>
#include <pulse/proplist.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <algorithm>
#include <chrono>

namespace speech {
namespace {

// How much the server holds ahead of what is being played, and how small a piece it asks for.
// Playback starts with the first sample whatever the target, and pause and stop act on the
// server at once, so the target only buys safety: at 50 ms a loaded 2-core machine still ran
// dry now and then at the start of a request; at 100 ms it did not.
constexpr int kTargetMs = 100;
constexpr int kRequestMs = 10;
// How long a stream with nothing to play stays uncorked before it is corked, so that an idle
// window does not keep the sound device awake.
constexpr int kIdleCorkMs = 20000;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The main loop's lock, as a scope.
class Locked {
public:
    explicit Locked(pa_threaded_mainloop *loop)
        : m_loop(loop) {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pa_threaded_mainloop *m_loop;
};

void unrefOperation(pa_operation *op) {
    if (op)
        pa_operation_unref(op);
}

} // namespace

AudioOutput::AudioOutput(PcmQueue &queue, std::atomic<bool> &paused)
    : m_queue(queue)
    , m_paused(paused)
    , m_loop(pa_threaded_mainloop_new())
    , m_idleTimer(this) {
    pa_threaded_mainloop_set_name(m_loop, "parlivo-pulse");
    pa_threaded_mainloop_start(m_loop);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(kIdleCorkMs);
    connect(&m_idleTimer, &QTimer::timeout, this, &AudioOutput::onIdle);
}

AudioOutput::~AudioOutput() {
    m_closing = true;
    {
        Locked lock(m_loop);
        dropConnection();
    }
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void AudioOutput::newGeneration() {
    m_firstFrameNs = 0;
    m_heard = 0;
}

void AudioOutput::wake() {
    Locked lock(m_loop);
    pump();
}

void AudioOutput::warmUp(int sampleRate) {
    Locked lock(m_loop);
    if (m_closing || m_context)
        return;
    m_quiet = true;
    m_idleCorked = true;
    want(sampleRate);
}

void AudioOutput::prepare(int sampleRate) {
    if (m_closing)
        return;
    m_idleTimer.stop();
    Locked lock(m_loop);
    m_quiet = false;
    m_idleCorked = false;
    want(sampleRate);
}

void AudioOutput::play(int sampleRate) {
    prepare(sampleRate);
}

void AudioOutput::pauseOutput() {
    Locked lock(m_loop);
    applyCork();
}

void AudioOutput::resumeOutput() {
    Locked lock(m_loop);
    // A resume with nothing left to play leaves an idle stream corked.
    if (!m_queue.finished() || m_drainedGeneration != m_queue.generation())
        m_idleCorked = false;
    applyCork();
    pump();
}

void AudioOutput::stopOutput() {
    // The engine has moved to a new, finished generation: the next pump drops what the server
    // holds of the old one.
    Locked lock(m_loop);
    pump();
}

void AudioOutput::onIdle() {
    Locked lock(m_loop);
    if (m_queue.finished() && m_drainedGeneration == m_queue.generation()) {
        m_idleCorked = true;
        applyCork();
    }
}

void AudioOutput::want(int sampleRate) {
    m_wantedRate = sampleRate;
    if (m_context) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (!PA_CONTEXT_IS_GOOD(state)) {
            dropConnection(); // a server that went away: try again, it may be back
        } else if (state == PA_CONTEXT_READY) {
            if (!m_stream || m_streamRate != sampleRate ||
                !PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
                openStream();
            else
                applyCork();
            pump();
            return;
        } else {
            return; // still connecting: the stream is opened once it is ready
        }
    }
    connectContext();
}

void AudioOutput::connectContext() {
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Parlivo");
    pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "org.parlivo.Parlivo");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Parlivo", props);
    pa_proplist_free(props);
    m_contextWasReady = false;
    pa_context_set_state_callback(
        m_context,
        [](pa_context *, void *self) { static_cast<AudioOutput *>(self)->onContextState(); }, this);
    // Never start a server of our own: one that is not there is reported, not replaced.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        onContextState();
}

void AudioOutput::onContextState() {
    const pa_context_state_t state = pa_context_get_state(m_context);
    if (state == PA_CONTEXT_READY) {
        m_contextWasReady = true;
        if (m_wantedRate > 0)
            openStream();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        m_open = false;
        reportLost(m_contextWasReady);
    }
}

void AudioOutput::closeStream() {
    m_open = false;
    if (!m_stream)
        return;
    cancelDrain();
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

void AudioOutput::openStream() {
    closeStream();
    const pa_sample_spec format{PA_SAMPLE_S16LE, std::uint32_t(m_wantedRate), 1};
    pa_proplist *props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_NAME, "Speech");
    m_stream = pa_stream_new_with_proplist(m_context, "Speech", &format, nullptr, props);
    pa_proplist_free(props);
    if (!m_stream) {
        reportLost(true);
        return;
    }
    m_streamRate = m_wantedRate;
    pa_stream_set_state_callback(
        m_stream,
        [](pa_stream *, void *self) { static_cast<AudioOutput *>(self)->onStreamState(); }, this);
    pa_stream_set_write_callback(
        m_stream, [](pa_stream *, size_t, void *self) { static_cast<AudioOutput *>(self)->pump(); },
        this);
    pa_stream_set_underflow_callback(
        m_stream,
        [](pa_stream *, void *self) {
            auto *output = static_cast<AudioOutput *>(self);
            // A flush of a request given up runs dry too; only a request with audio written
            // counts.
            if (!output->m_paused && !output->m_queue.finished() && output->m_queue.consumed() > 0)
                ++output->m_underruns;
        },
        this);
    // Playback starts with the first sample written and stops when the buffer runs dry, so
    // nothing but speech is ever queued: a new request is heard on the server's next cycle.
    const auto bytes = [&](int ms) {
        return std::uint32_t(m_wantedRate * ms / 1000 * 2);
    };
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = bytes(kTargetMs);
    attr.prebuf = 2;
    attr.minreq = bytes(kRequestMs);
    attr.fragsize = std::uint32_t(-1);
    auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                   PA_STREAM_AUTO_TIMING_UPDATE);
    if (m_paused || m_idleCorked)
        flags = pa_stream_flags_t(flags | PA_STREAM_START_CORKED);
    // A fresh stream holds nothing of the generation being played.
    m_streamGeneration = m_queue.generation();
    if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        onStreamState();
}

void AudioOutput::onStreamState() {
    const pa_stream_state_t state = pa_stream_get_state(m_stream);
    if (state == PA_STREAM_READY) {
        m_open = true;
        applyCork();
        pump();
    } else if (!PA_STREAM_IS_GOOD(state)) {
        m_open = false;
        // The connection's own failure reports itself; a stream refused on a good connection
        // does not, and is opened again by the next request.
        if (pa_context_get_state(m_context) == PA_CONTEXT_READY)
            reportLost(true);
    }
}

void AudioOutput::applyCork() {
    if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    const bool cork = m_paused || m_idleCorked;
    if (bool(pa_stream_is_corked(m_stream)) != cork)
        unrefOperation(pa_stream_cork(m_stream, cork, nullptr, nullptr));
}

void AudioOutput::pump() {
    if (!m_stream || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    const std::uint64_t generation = m_queue.generation();
    if (generation != m_streamGeneration)
        flush();
    if (!m_paused) {
        std::size_t writable = pa_stream_writable_size(m_stream);
        while (writable >= 2 && writable != std::size_t(-1)) {
            void *buffer = nullptr;
            std::size_t size = writable;
            if (pa_stream_begin_write(m_stream, &buffer, &size) < 0 || size < 2)
                break;
            std::uint64_t poppedGeneration = 0;
            const std::size_t got =
                m_queue.pop(static_cast<std::int16_t *>(buffer), size / 2, &poppedGeneration);
            if (got == 0) {
                pa_stream_cancel_write(m_stream);
                break;
            }
            // A new request may have started since the check above: its audio must not play
            // behind what is left of the old one.
            if (poppedGeneration != m_streamGeneration)
                flush();
            pa_stream_write(m_stream, buffer, got * 2, nullptr, 0, PA_SEEK_RELATIVE);
            writable -= std::min(writable, got * 2);
            const qint64 now = nowNs();
            if (m_firstFrameNs.load() == 0)
                m_firstFrameNs = now;
            m_lastFrameNs = now;
        }
    }
    updateHeard();
    if (m_queue.finished() && generation == m_streamGeneration &&
        generation != m_drainedGeneration && !(m_drain && m_drainGeneration == generation)) {
        cancelDrain();
        m_drainGeneration = generation;
        m_drain = pa_stream_drain(
            m_stream,
            [](pa_stream *, int success, void *self) {
                static_cast<AudioOutput *>(self)->onDrainDone(success != 0);
            },
            this);
    }
}

void AudioOutput::flush() {
    // Whatever the server holds belongs to a request given up: silent at once.
    cancelDrain();
    unrefOperation(pa_stream_flush(m_stream, nullptr, nullptr));
    m_streamGeneration = m_queue.generation();
}

void AudioOutput::cancelDrain() {
    if (!m_drain)
        return;
    pa_operation_cancel(m_drain);
    pa_operation_unref(m_drain);
    m_drain = nullptr;
}

void AudioOutput::updateHeard() {
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(m_stream, &latency, &negative) < 0)
        return;
    const auto pending = negative ? 0 : qint64(latency * std::uint64_t(m_streamRate) / 1000000);
    const auto consumed = qint64(m_queue.consumed());
    m_sinkBuffered = pending;
    m_heard = std::uint64_t(std::max<qint64>(0, consumed - pending));
}

void AudioOutput::onDrainDone(bool success) {
    if (m_drain) {
        pa_operation_unref(m_drain);
        m_drain = nullptr;
    }
    const std::uint64_t generation = m_drainGeneration;
    if (!success || m_closing || generation != m_queue.generation() || !m_queue.finished() ||
        generation == m_drainedGeneration)
        return;
    m_drainedGeneration = generation;
    m_heard = m_queue.consumed();
    QMetaObject::invokeMethod(
        this, [this] { m_idleTimer.start(); }, Qt::QueuedConnection);
    emit drained(generation);
}

void AudioOutput::reportLost(bool everReady) {
    if (m_closing || m_quiet)
        return;
    const std::uint64_t generation = m_queue.generation();
    if (!m_queue.finished()) {
        // Audio was still to come: it cannot be heard. Said once per request; the next request
        // connects afresh, and works again once a server is back.
        if (generation == m_failedGeneration)
            return;
        m_failedGeneration = generation;
        emit failed(generation, everReady ? tr("The connection to the sound server was lost")
                                          : tr("No sound server is available"));
    } else if (generation != m_drainedGeneration) {
        // Lost after the last sample was written: nothing more was to come.
        m_drainedGeneration = generation;
        emit drained(generation);
    }
}

void AudioOutput::dropConnection() {
    closeStream();
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

} // namespace speech
