#pragma once
// Plays the PCM queue through a stream of our own at the PulseAudio server (libpulse's
// asynchronous API on a threaded main loop). Speech is written the moment it arrives and the
// server holds only a few tens of milliseconds of it; between requests nothing is queued at
// all, so the first audio of the next request is heard on the server's next cycle instead of
// behind a buffer of silence.
//
// The slots are called on the engine's audio thread through queued connections; the stream's
// own callbacks run on libpulse's thread. Everything they share is guarded by that main loop's
// lock, and nothing here ever waits for the server: connecting, failing and draining are all
// reported by callbacks.

#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <cstdint>

struct pa_context;
struct pa_operation;
struct pa_stream;
struct pa_threaded_mainloop;

namespace speech {

class PcmQueue;

class AudioOutput : public QObject {
    Q_OBJECT
public:
    AudioOutput(PcmQueue &queue, std::atomic<bool> &paused);
    ~AudioOutput() override;

    // Samples of the current generation that have been played (heard, give or take the sound
    // device's own latency). Any thread.
    std::uint64_t heardSamples() const { return m_heard.load(); }
    // Monotonic time (ns) when the first sample of the current generation was handed to the
    // server; 0 until then. Any thread.
    qint64 firstFrameNs() const { return m_firstFrameNs.load(); }
    // When a sample was last handed to the server, and how much the server then held still to
    // be played (for measuring how quickly pause and stop fall silent). Any thread.
    qint64 lastFrameNs() const { return m_lastFrameNs.load(); }
    qint64 sinkBufferedSamples() const { return m_sinkBuffered.load(); }
    // Times the server ran out of audio while more of the request was still to come: each one
    // a gap in the speech. Any thread.
    int underruns() const { return m_underruns.load(); }
    bool isOpen() const { return m_open.load(); }

    // A new request starts: forget the previous one's first frame and position. Any thread.
    void newGeneration();
    // Audio was queued, or the queue was finished: write it now if the stream is waiting for
    // it. Any thread.
    void wake();

public slots:
    // Connects to the server and opens a corked stream at `sampleRate` ahead of any request, so
    // that the first one costs no connecting. A failure here is not reported: the first request
    // tries again and reports for itself.
    void warmUp(int sampleRate);
    // A request starts: drop what the server still holds of the last one and have a stream at
    // `sampleRate` ready (connecting if need be) for the first audio.
    void prepare(int sampleRate);
    // The first audio of a generation has arrived at `sampleRate`.
    void play(int sampleRate);
    void pauseOutput();
    void resumeOutput();
    // Drops what the server holds: silent at once.
    void stopOutput();

signals:
    // Audio of `generation` cannot be heard.
    void failed(quint64 generation, const QString &reason);
    // Everything of `generation` has been played.
    void drained(quint64 generation);

private:
    // All of these run with the main loop locked.
    void want(int sampleRate);
    void connectContext();
    void openStream();
    void closeStream();
    void pump();
    void flush();
    void cancelDrain();
    void updateHeard();
    void dropConnection();
    void onContextState();
    void onStreamState();
    void onDrainDone(bool success);
    void reportLost(bool everReady);
    void applyCork();

    void onIdle(); // audio thread

    PcmQueue &m_queue;
    std::atomic<bool> &m_paused;
    pa_threaded_mainloop *m_loop = nullptr;
    // Guarded by the main loop's lock:
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    pa_operation *m_drain = nullptr;
    bool m_contextWasReady = false;
    int m_streamRate = 0;
    int m_wantedRate = 0;            // 0: nothing to play (stopped, or given up after a failure)
    bool m_idleCorked = false;       // corked after a long quiet spell, not by a pause
    bool m_quiet = false;            // warming up: a failure is not reported
    quint64 m_drainGeneration = 0;   // generation the pending drain is for
    quint64 m_drainedGeneration = 0; // last generation reported as drained
    quint64 m_failedGeneration = 0;  // last generation reported as failed
    std::uint64_t m_streamGeneration = 0; // generation whose audio the server holds

    QTimer m_idleTimer; // audio thread
    std::atomic<std::uint64_t> m_heard{0};
    std::atomic<qint64> m_firstFrameNs{0};
    std::atomic<qint64> m_lastFrameNs{0};
    std::atomic<qint64> m_sinkBuffered{0};
    std::atomic<int> m_underruns{0};
    std::atomic<bool> m_open{false};
    std::atomic<bool> m_closing{false};
};

} // namespace speech
