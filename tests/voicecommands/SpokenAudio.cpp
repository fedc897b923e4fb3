#include "SpokenAudio.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <cmath>
#include <numbers>

namespace spokenaudio {

QList<Voice> testVoices() {
    QList<Voice> voices;
    for (int wpm : {130, 175, 230})
        voices.append({QStringLiteral("espeak-ng en-us %1").arg(wpm),
                       QStringLiteral("espeak-ng"),
                       {"-v", "en-us", "-s", QString::number(wpm)}});
    voices.append({QStringLiteral("espeak-ng en 175"),
                   QStringLiteral("espeak-ng"),
                   {"-v", "en", "-s", "175"}});
    for (const char *name : {"slt", "rms", "awb", "kal16"})
        voices.append({QStringLiteral("flite %1").arg(QLatin1String(name)),
                       QStringLiteral("flite"),
                       {"-voice", name}});
    voices.append({QStringLiteral("flite slt slow"),
                   QStringLiteral("flite"),
                   {"-voice", "slt", "--setf", "duration_stretch=1.3"}});
    voices.append({QStringLiteral("flite rms fast"),
                   QStringLiteral("flite"),
                   {"-voice", "rms", "--setf", "duration_stretch=0.8"}});
    return voices;
}

bool synthesise(const Voice &voice, const QString &text, const QString &wavPath) {
    QStringList arguments = voice.arguments;
    if (voice.program == QLatin1String("flite"))
        arguments << "-t" << text << "-o" << wavPath;
    else
        arguments << "-w" << wavPath << text;
    QProcess process;
    process.start(voice.program, arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

namespace {

// Little-endian fields, read byte by byte (Qt's pointer-based readers trip GCC's bounds
// analysis under the sanitizers).
quint32 le(const QByteArray &bytes, qsizetype at, int size) {
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = value << 8 | static_cast<quint8>(bytes[at + i]);
    return value;
}

} // namespace

Pcm readWav(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return {};
    Pcm pcm;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const auto size = static_cast<qsizetype>(le(bytes, at + 4, 4));
        const qsizetype body = at + 8;
        // A streamed WAV may say its data runs to 2^32: take what is there.
        const qsizetype available = std::min(size, bytes.size() - at - 8);
        if (id == "fmt " && available >= 16) {
            if (le(bytes, body + 2, 2) != 1 || le(bytes, body + 14, 2) != 16)
                return {};
            pcm.sampleRate = static_cast<int>(le(bytes, body + 4, 4));
        } else if (id == "data") {
            pcm.samples.resize(static_cast<std::size_t>(available / 2));
            for (std::size_t i = 0; i < pcm.samples.size(); ++i)
                pcm.samples[i] =
                    static_cast<std::int16_t>(le(bytes, body + 2 * static_cast<qsizetype>(i), 2));
            return pcm.sampleRate > 0 ? pcm : Pcm{};
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

std::vector<std::int16_t> resample(const std::vector<std::int16_t> &in, int fromRate, int toRate) {
    if (fromRate == toRate)
        return in;
    const double step = static_cast<double>(fromRate) / toRate;
    // Cut off a little below the lower Nyquist frequency.
    const double cutoff = 0.95 * std::min(1.0, static_cast<double>(toRate) / fromRate);
    constexpr int halfTaps = 16;
    const auto outCount = static_cast<std::size_t>(static_cast<double>(in.size()) / step);
    std::vector<std::int16_t> out(outCount);
    for (std::size_t n = 0; n < outCount; ++n) {
        const double centre = static_cast<double>(n) * step;
        const auto first = static_cast<long>(std::floor(centre)) - halfTaps + 1;
        double sum = 0;
        for (long k = first; k < first + 2 * halfTaps; ++k) {
            if (k < 0 || k >= static_cast<long>(in.size()))
                continue;
            const double x = static_cast<double>(k) - centre;
            const double sinc =
                x == 0 ? 1.0
                       : std::sin(std::numbers::pi * cutoff * x) / (std::numbers::pi * cutoff * x);
            const double window =
                0.5 + 0.5 * std::cos(std::numbers::pi * x / (halfTaps + 1)); // Hann
            sum += in[static_cast<std::size_t>(k)] * cutoff * sinc * window;
        }
        out[n] = static_cast<std::int16_t>(std::clamp(std::lround(sum), -32768L, 32767L));
    }
    return out;
}

std::vector<std::int16_t> speak16k(const Voice &voice, const QString &text, const QString &dir) {
    const QString path = QDir(dir).filePath(QStringLiteral("utterance.wav"));
    if (!synthesise(voice, text, path))
        return {};
    const Pcm pcm = readWav(path);
    if (pcm.samples.empty())
        return {};
    return resample(pcm.samples, pcm.sampleRate, 16000);
}

} // namespace spokenaudio
