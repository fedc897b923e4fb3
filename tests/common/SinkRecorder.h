#pragma once
// Records what reaches the test PulseAudio server's null sink, through its monitor source.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

class SinkRecorder {
public:
    static constexpr int kRate = 48000;

    // Starts parec and waits until data flows (the monitor of an idle sink takes ~2 s).
    // Returns false if no sound server or no recorder is available.
    bool start();
    // Stops recording and loads what was recorded.
    void stop();
    qint64 elapsedMs() const; // since data started flowing

    const std::vector<std::int16_t> &samples() const { return m_samples; }
    // Peak absolute sample in [fromMs, toMs) of the recording (toMs < 0: to the end).
    int peak(qint64 fromMs, qint64 toMs = -1) const;
    // Milliseconds whose 10 ms window is louder than `threshold` (RMS).
    qint64 loudMs(qint64 fromMs = 0, qint64 toMs = -1, double threshold = 300) const;
    // First / last loud 10 ms window, in ms; -1 when there is none.
    qint64 firstLoudMs(qint64 fromMs = 0, double threshold = 300) const;
    qint64 lastLoudMs(double threshold = 300) const;

private:
    double rms(std::size_t from, std::size_t count) const;

    QTemporaryDir m_dir;
    QProcess m_parec;
    QString m_path;
    std::vector<std::int16_t> m_samples;
    qint64 m_startMs = 0;
    qint64 m_skipBytes = 0;
};
