#include "SinkRecorder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cmath>
#include <cstring>

bool SinkRecorder::start() {
    m_path = m_dir.filePath(QStringLiteral("sink.raw"));
    m_parec.setProgram(QStringLiteral("parec"));
    m_parec.setArguments({QStringLiteral("-d"), QStringLiteral("test.monitor"),
                          QStringLiteral("--raw"), QStringLiteral("--format=s16le"),
                          QStringLiteral("--rate=%1").arg(kRate), QStringLiteral("--channels=1"),
                          QStringLiteral("--latency-msec=10"), m_path});
    m_parec.start();
    if (!m_parec.waitForStarted(3000))
        return false;
    // Wait until the file grows: before that, what is played is not recorded.
    for (int i = 0; i < 100; ++i) {
        QThread::msleep(50);
        const qint64 size = QFileInfo(m_path).size();
        if (size > 0) {
            m_skipBytes = size - (size % 2);
            m_startMs = QDateTime::currentMSecsSinceEpoch();
            return true;
        }
        if (m_parec.state() != QProcess::Running)
            return false;
    }
    return false;
}

qint64 SinkRecorder::elapsedMs() const {
    return QDateTime::currentMSecsSinceEpoch() - m_startMs;
}

void SinkRecorder::stop() {
    // Let the last audio through the monitor before stopping.
    QThread::msleep(100);
    m_parec.terminate();
    m_parec.waitForFinished(3000);
    QFile file(m_path);
    m_samples.clear();
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.seek(m_skipBytes);
    const QByteArray bytes = file.readAll();
    m_samples.resize(static_cast<std::size_t>(bytes.size() / 2));
    std::memcpy(m_samples.data(), bytes.constData(), m_samples.size() * 2);
}

double SinkRecorder::rms(std::size_t from, std::size_t count) const {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < m_samples.size(); ++i)
        sum += double(m_samples[i]) * m_samples[i];
    return count ? std::sqrt(sum / double(count)) : 0;
}

int SinkRecorder::peak(qint64 fromMs, qint64 toMs) const {
    const auto from = static_cast<std::size_t>(std::max<qint64>(0, fromMs) * kRate / 1000);
    const std::size_t to =
        toMs < 0 ? m_samples.size()
                 : std::min(m_samples.size(), static_cast<std::size_t>(toMs * kRate / 1000));
    int best = 0;
    for (std::size_t i = from; i < to; ++i)
        best = std::max(best, std::abs(int(m_samples[i])));
    return best;
}

qint64 SinkRecorder::loudMs(qint64 fromMs, qint64 toMs, double threshold) const {
    const std::size_t window = kRate / 100;
    const qint64 endMs = toMs < 0 ? qint64(m_samples.size()) * 1000 / kRate : toMs;
    qint64 loud = 0;
    for (qint64 ms = fromMs; ms + 10 <= endMs; ms += 10) {
        if (rms(static_cast<std::size_t>(ms * kRate / 1000), window) > threshold)
            loud += 10;
    }
    return loud;
}

qint64 SinkRecorder::firstLoudMs(qint64 fromMs, double threshold) const {
    const std::size_t window = kRate / 100;
    const qint64 endMs = qint64(m_samples.size()) * 1000 / kRate;
    for (qint64 ms = fromMs; ms + 10 <= endMs; ms += 10) {
        if (rms(static_cast<std::size_t>(ms * kRate / 1000), window) > threshold)
            return ms;
    }
    return -1;
}

qint64 SinkRecorder::lastLoudMs(double threshold) const {
    const std::size_t window = kRate / 100;
    for (qint64 ms = qint64(m_samples.size()) * 1000 / kRate - 10; ms >= 0; ms -= 10) {
        if (rms(static_cast<std::size_t>(ms * kRate / 1000), window) > threshold)
            return ms;
    }
    return -1;
}
