#pragma once
// Reading exported files back with libsndfile, and looking at what a folder holds.

#include <QDir>
#include <QFile>
#include <QString>

#include <sndfile.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace exporttest {

struct SoundFile {
    bool opened = false;
    int format = 0;
    int sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    std::vector<std::int16_t> samples;
    int peak() const {
        int most = 0;
        for (std::int16_t s : samples)
            most = std::max(most, std::abs(int(s)));
        return most;
    }
};

inline SoundFile readSound(const QString &path) {
    SoundFile sound;
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return sound;
    sound.opened = true;
    sound.format = info.format;
    sound.sampleRate = info.samplerate;
    sound.channels = info.channels;
    std::vector<std::int16_t> block(65536);
    for (;;) {
        const sf_count_t n = sf_read_short(file, block.data(), sf_count_t(block.size()));
        if (n <= 0)
            break;
        sound.samples.insert(sound.samples.end(), block.begin(), block.begin() + n);
    }
    sound.frames = std::int64_t(sound.samples.size());
    sf_close(file);
    return sound;
}

// Every entry of a folder, hidden ones included: a temporary file left behind shows up here.
inline QStringList entries(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

inline QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Sentences of many shapes: numbers, quotes, line breaks, a long run without a full stop.
inline QString mixedText(int sentences) {
    static const char *const kShapes[] = {
        "The quick brown fox jumps over the lazy dog.",
        "It cost $3.50, or so they said (in 1999)!",
        "\"Is this the right way?\" she asked.",
        "Line one\r\nline two without an end",
        "Pack my box with five dozen liquor jugs; then wait",
        "Dr. Smith arrived at 10:45 a.m. on the 3rd of May.",
    };
    QString text;
    for (int i = 0; i < sentences; ++i) {
        text += QString::fromUtf8(kShapes[i % 6]);
        text += (i % 7 == 6) ? QStringLiteral("\r\n") : QStringLiteral(" ");
        if (i % 11 == 10) // longer than one chunk, with no sentence end in it
            text += QStringLiteral("and then more words ").repeated(30) + QStringLiteral(". ");
    }
    return text;
}

} // namespace exporttest
