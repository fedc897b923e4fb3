#pragma once
// Synthetic speech for the voice command tests, made at test time with the espeak-ng and Flite
// command-line programs and brought to the recogniser's 16 kHz mono.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace spokenaudio {

struct Voice {
    QString label;         // for reports: "espeak-ng en-us 130"
    QString program;       // "espeak-ng" or "flite"
    QStringList arguments; // before the text and the output file
};

// espeak-ng (US and British English at several speeds) and Flite (four voices, one slowed down
// and one sped up).
QList<Voice> testVoices();

// Speaks `text` into `wavPath` (a WAV at the voice's own rate). Returns false if the program
// is missing or failed.
bool synthesise(const Voice &voice, const QString &text, const QString &wavPath);

// The samples of a 16-bit mono WAV file and its rate; empty if it is not one.
struct Pcm {
    std::vector<std::int16_t> samples;
    int sampleRate = 0;
};
Pcm readWav(const QString &path);

// Band-limited resampling (windowed sinc), good enough for speech recognition.
std::vector<std::int16_t> resample(const std::vector<std::int16_t> &in, int fromRate, int toRate);

// synthesise + readWav + resample to 16 kHz; empty on failure.
std::vector<std::int16_t> speak16k(const Voice &voice, const QString &text, const QString &dir);

} // namespace spokenaudio
