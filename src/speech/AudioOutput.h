#pragma once
// Plays the PCM queue through a QAudioSink in pull mode. Lives on its own thread: every slot is
// called through a queued connection, and the sink's reads happen there too.

#include <QAudioSink>
#include <QIODevice>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <memory>

namespace speech {

class PcmQueue;

class AudioOutput : public QObject {
    Q_OBJECT
public:
    AudioOutput(PcmQueue &queue, std::atomic<bool> &paused);
    ~AudioOutput() override;

    // Samples of the current generation that have left the sink's buffer (heard, give or take
    // the sound server's own latency). Any thread.
    std::uint64_t heardSamples() const { return m_heard.load(); }
    // Monotonic time (ns) when the first sample of the current generation was handed to the sink;
    // 0 until then. Any thread.
    qint64 firstFrameNs() const { return m_firstFrameNs.load(); }
    // When a sample was last handed to the sink, and how much the sink then held (for
    // measuring how quickly pause and stop fall silent). Any thread.
    qint64 lastFrameNs() const { return m_lastFrameNs.load(); }
    qint64 sinkBufferedSamples() const { return m_sinkBuffered.load(); }
    bool isOpen() const { return m_open.load(); }

    // A new request starts: forget the previous one's first frame and position. Any thread.
    void newGeneration();

public slots:
    // Opens the sink ahead of the first audio, corked, so that starting to play costs only a
    // resume. Failures are left for play() to report.
    void prepare(int sampleRate);
    // Audio of a generation is arriving at `sampleRate`: make sure the sink runs (unless paused).
    void play(int sampleRate);
    void pauseOutput();
    void resumeOutput();
    // Drops what the sink holds: silent at once.
    void stopOutput();

signals:
    // Audio of `generation` cannot be heard.
    void failed(quint64 generation, const QString &reason);
    // Everything of `generation` has been played.
    void drained(quint64 generation);

private:
    class Source;
    friend class Source;
    qint64 fill(char *data, qint64 maxBytes);
    bool open(int sampleRate, bool reportFailure);
    void close();
    void onDrainedInSink(quint64 generation);
    void onIdle();
    void onSinkStopped();
    void checkPulling();
    void sinkLost();

    PcmQueue &m_queue;
    std::atomic<bool> &m_paused;
    std::unique_ptr<QAudioSink> m_sink;
    std::unique_ptr<Source> m_source;
    QTimer m_idleTimer;
    QTimer m_stallTimer;
    qint64 m_lastPullNs = 0; // when the sink last pulled; audio thread only
    int m_sampleRate = 0;
    int m_wantedRate = 0;
    std::atomic<qint64> m_trailingSilence{0}; // silence fed since the queue ran dry at its end
    quint64 m_drainedGeneration = 0;          // last generation reported as drained
    std::atomic<std::uint64_t> m_heard{0};
    std::atomic<qint64> m_firstFrameNs{0};
    std::atomic<qint64> m_lastFrameNs{0};
    std::atomic<qint64> m_sinkBuffered{0};
    std::atomic<bool> m_open{false};
    // Set while the destructor runs: closing the sink processes queued events, and a queued
    // prepare(), play() or stopOutput() must not open a new sink on an object going away.
    bool m_closing = false;
};

} // namespace speech
