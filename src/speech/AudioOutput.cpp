#include "AudioOutput.h"

#include "PcmQueue.h"
#include "SoundServerProbe.h"

#include <QAudioFormat>
#include <QMediaDevices>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace speech {
namespace {

// A small sink buffer keeps the heard position close to what was handed over. (Pause corks the
// stream and stop disconnects it, so neither waits for the buffer to play out.) Below about 60 ms
// the sound server waits for more than the sink ever writes and playback never starts.
constexpr int kSinkBufferMs = 60;
// After the last sample, keep feeding silence this long so the sound server plays the tail out
// before the stream is suspended.
constexpr int kTailMs = 250;
// How long a stream with nothing to play keeps running before it is corked.
constexpr int kIdleCorkMs = 20000;
// A running stream is pulled every 20 ms. One that has not been pulled for this long is not
// being played any more: if its sound server no longer listens, it has gone. A server that still
// listens may only be busy or stopped for a moment, and gets longer; but a socket can also be
// kept by the session for a server it starts again, behind a connection of ours that is dead.
constexpr int kStallMs = 2000;
constexpr int kListeningStallMs = 10000;
constexpr int kStallCheckMs = 500;

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The sink pulls from here. It never runs dry: when the queue is empty it gets silence, so the
// stream never drops into its idle state, whose recovery would cut or delay audio.
class AudioOutput::Source : public QIODevice {
public:
    explicit Source(AudioOutput &owner)
        : m_owner(owner) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    qint64 readData(char *data, qint64 maxBytes) override { return m_owner.fill(data, maxBytes); }
    qint64 writeData(const char *, qint64) override { return -1; }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return 1 << 20; }

private:
    AudioOutput &m_owner;
};

AudioOutput::AudioOutput(PcmQueue &queue, std::atomic<bool> &paused)
    : m_queue(queue)
    , m_paused(paused)
    , m_idleTimer(this)
    , m_stallTimer(this) {
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(kIdleCorkMs);
    connect(&m_idleTimer, &QTimer::timeout, this, &AudioOutput::onIdle);
    m_stallTimer.setInterval(kStallCheckMs);
    connect(&m_stallTimer, &QTimer::timeout, this, &AudioOutput::checkPulling);
}

AudioOutput::~AudioOutput() {
    m_closing = true;
    close();
}

qint64 AudioOutput::fill(char *data, qint64 maxBytes) {
    const auto maxSamples = static_cast<std::size_t>(maxBytes / 2);
    auto *out = reinterpret_cast<std::int16_t *>(data);
    m_lastPullNs = nowNs();
    std::size_t got = 0;
    if (!m_paused)
        got = m_queue.pop(out, maxSamples);
    if (got > 0) {
        const qint64 now = nowNs();
        if (m_firstFrameNs.load() == 0)
            m_firstFrameNs = now;
        m_lastFrameNs = now;
    }
    std::memset(out + got, 0, (maxSamples - got) * sizeof(std::int16_t));

    const qint64 buffered = m_sink ? (m_sink->bufferSize() - m_sink->bytesFree()) / 2 : 0;
    if (got > 0)
        m_sinkBuffered = buffered;
    const auto consumed = static_cast<qint64>(m_queue.consumed());
    m_heard = static_cast<std::uint64_t>(std::max<qint64>(0, consumed - buffered));

    if (got == 0 && !m_paused && m_queue.finished()) {
        m_trailingSilence += static_cast<qint64>(maxSamples);
        const quint64 generation = m_queue.generation();
        if (m_trailingSilence >= qint64(m_sampleRate) * kTailMs / 1000 &&
            generation != m_drainedGeneration) {
            m_drainedGeneration = generation;
            m_heard = m_queue.consumed();
            QMetaObject::invokeMethod(
                this, [this, generation] { onDrainedInSink(generation); }, Qt::QueuedConnection);
        }
    } else if (got > 0) {
        m_trailingSilence = 0;
    }
    return static_cast<qint64>(maxSamples * 2);
}

void AudioOutput::onDrainedInSink(quint64 generation) {
    // Keep the stream running on silence for a while: the sink pulls on a fixed 20 ms tick that
    // restarts from zero on every resume, so a running stream takes the next request's first
    // audio sooner. After a longer quiet spell it is corked to save the wake-ups.
    m_idleTimer.start();
    emit drained(generation);
}

void AudioOutput::onIdle() {
    if (m_sink && m_sink->state() != QAudio::SuspendedState && m_queue.finished())
        m_sink->suspend();
}

bool AudioOutput::open(int sampleRate, bool reportFailure) {
    close();
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) {
        if (reportFailure)
            emit failed(m_queue.generation(), tr("No audio output device is available"));
        return false;
    }
    QAudioFormat format;
    format.setSampleRate(sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    m_sink = std::make_unique<QAudioSink>(device, format);
    m_sink->setBufferSize(sampleRate * kSinkBufferMs / 1000 * 2); // whole frames
    m_source = std::make_unique<Source>(*this);
    m_sampleRate = sampleRate;
    m_trailingSilence = 0;
    m_sink->start(m_source.get());
    if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
        const QAudio::Error error = m_sink->error();
        close();
        if (!reportFailure)
            return false;
        if (error == QAudio::OpenError)
            emit failed(m_queue.generation(), tr("The audio output could not be opened"));
        else if (error == QAudio::FatalError) // the backend has no connection to a server
            emit failed(m_queue.generation(), tr("No sound server is available"));
        else
            emit failed(m_queue.generation(), tr("The audio output failed"));
        return false;
    }
    // When the sound server goes away, Qt stops the sink with an error and does nothing more:
    // with nothing pulled any more the request would never drain, and the engine would say it
    // was speaking forever. Handled from the event loop, not inside the signal, because handling
    // it closes the sink that emits it.
    connect(m_sink.get(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState)
            QMetaObject::invokeMethod(this, &AudioOutput::onSinkStopped, Qt::QueuedConnection);
    });
    // Qt does not always say so: once it has reconnected to a restarted server, losing that
    // server too leaves the sink in its running state, silent and without an error. Only the
    // missing pulls tell.
    m_lastPullNs = nowNs();
    m_stallTimer.start();
    m_open = true;
    return true;
}

void AudioOutput::onSinkStopped() {
    // Only the sink open now, and only if it stopped on its own: close() stops a sink without an
    // error, and by the time this runs it may already have been replaced.
    if (m_sink && m_sink->state() == QAudio::StoppedState && m_sink->error() != QAudio::NoError)
        sinkLost();
}

void AudioOutput::checkPulling() {
    // A corked stream is rightly not pulled; its time corked does not count.
    if (!m_sink || m_sink->state() == QAudio::SuspendedState) {
        m_lastPullNs = nowNs();
        return;
    }
    const qint64 stalledMs = (nowNs() - m_lastPullNs) / 1000000;
    if (stalledMs <= kStallMs)
        return;
    if (stalledMs > kListeningStallMs || probeSoundServer() == SoundServer::Gone)
        sinkLost();
}

void AudioOutput::sinkLost() {
    // The dead sink is dropped; the next request opens a fresh one, which works again once Qt
    // has reconnected to a server and reports the failure while it has not.
    close();
    m_idleTimer.stop();
    const quint64 generation = m_queue.generation();
    if (!m_queue.finished()) {
        // Audio was still to come: it cannot be heard. Reported once, here; a resume must not
        // open a new sink for the rest of a request that has been given up.
        m_wantedRate = 0;
        emit failed(m_queue.generation(), tr("The connection to the sound server was lost"));
    } else if (generation != m_drainedGeneration) {
        // Lost during the silence after the last sample: everything was played.
        m_drainedGeneration = generation;
        emit drained(generation);
    }
}

void AudioOutput::close() {
    // Take both out first: destroying a Qt 6.4 PulseAudio sink processes pending events, which
    // may run one of our queued slots and open a new sink and source before this returns.
    std::unique_ptr<QAudioSink> sink = std::move(m_sink);
    std::unique_ptr<Source> source = std::move(m_source);
    m_open = false;
    m_stallTimer.stop();
    if (sink)
        sink->stop();
    sink.reset(); // before its source
}

void AudioOutput::newGeneration() {
    m_firstFrameNs = 0;
    m_trailingSilence = 0;
    m_heard = 0;
}

void AudioOutput::prepare(int sampleRate) {
    if (m_closing)
        return;
    m_idleTimer.stop();
    if (!m_sink || m_sampleRate != sampleRate) {
        if (!open(sampleRate, false))
            return;
    }
    // Running on silence until the audio arrives, unless paused.
    if (m_paused && m_sink->state() != QAudio::SuspendedState)
        m_sink->suspend();
    else if (!m_paused && m_sink->state() == QAudio::SuspendedState)
        m_sink->resume();
}

void AudioOutput::play(int sampleRate) {
    if (m_closing)
        return;
    m_idleTimer.stop();
    m_wantedRate = sampleRate;
    if (m_paused)
        return;
    if (!m_sink || m_sampleRate != sampleRate) {
        open(sampleRate, true);
        return;
    }
    m_trailingSilence = 0;
    if (m_sink->state() == QAudio::SuspendedState)
        m_sink->resume();
}

void AudioOutput::pauseOutput() {
    if (m_sink && m_sink->state() != QAudio::SuspendedState)
        m_sink->suspend();
}

void AudioOutput::resumeOutput() {
    // Once the queue is empty and complete, the sink may still hold the last moment of speech:
    // that must play out (and end the speech) unless it already has.
    if (m_paused || m_wantedRate == 0 ||
        (m_queue.finished() && m_drainedGeneration == m_queue.generation()))
        return;
    // The silence pulled before the pause still counts towards the end of the speech, less the
    // sink's buffer, which may hold audio that has yet to play. Starting the count again would
    // let pause and resume in quick succession keep the speech from ever ending.
    const qint64 silence =
        std::min(m_trailingSilence.load(), qint64(m_wantedRate) * (kTailMs - kSinkBufferMs) / 1000);
    play(m_wantedRate);
    m_trailingSilence = silence;
}

void AudioOutput::stopOutput() {
    // Closing drops what the sound server still holds; a fresh stream is ready for the next
    // request.
    if (m_closing)
        return;
    const int rate = m_sampleRate;
    close();
    m_wantedRate = 0;
    if (rate > 0)
        prepare(rate);
}

} // namespace speech
