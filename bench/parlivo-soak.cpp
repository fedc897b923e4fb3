// Soak, in two stages.
// Exact order: a fresh engine speaks a page (about a minute of speech) while pause and resume
// alternate every 100 ms. What reaches the sound server's sink is recorded and compared, sample
// for sample, with an export of the same text rendered by one worker: with the silence taken out
// of both, they must be the same audio, so nothing was skipped or played twice however the
// pauses fell. (A sink at the synthesiser's own rate passes our samples through untouched.)
// Endurance: speaks a long document for minutes while pausing and resuming every 100 ms and
// changing the speed every second, then checks that nothing piled up: no extra threads, no extra
// or zombie child processes, no growth of this process's memory or of the worker's.
// Usage: parlivo-soak [seconds]   (default 180: the length of the endurance run)
#include "BenchSupport.h"
#include "Exporter.h"
#include "ProcessExit.h"
#include "SpeechEngine.h"
#include "VoiceChoice.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sndfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

// Growth we accept between the warmed-up start and the end: allocator slack, not a leak.
constexpr qint64 kRssSlackKiB = 16 * 1024;

struct Census {
    int threads = 0;
    int children = 0; // every child, zombies included
    int zombies = 0;
    qint64 rssKiB = 0;
    qint64 workerRssKiB = 0;
};

qint64 statusKiB(const QString &pid, const QByteArray &field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

Census census(const speech::SpeechEngine &engine) {
    Census c;
    c.threads = int(QDir(QStringLiteral("/proc/self/task"))
                        .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                        .size());
    const QByteArray self = QByteArray::number(::getpid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        if (!pid.front().isDigit())
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces, so read after the last ')'.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1] == self) {
            ++c.children;
            c.zombies += fields[0] == "Z";
        }
    }
    c.rssKiB = bench::rssKiB();
    c.workerRssKiB = statusKiB(QString::number(engine.workerPid()), "VmRSS:");
    return c;
}

void print(const char *when, const Census &c) {
    std::printf("%-6s threads %d, children %d (zombies %d), RSS %lld KiB, worker RSS %lld KiB\n",
                when, c.threads, c.children, c.zombies, c.rssKiB, c.workerRssKiB);
    std::fflush(stdout);
}

void settle(int ms) {
    // Waits in the event loop, not in a polling loop, so that the soak itself stays idle.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Samples that are not exactly zero: silence may be added anywhere (pauses, the stream running
// on silence between requests) without changing what was said.
std::vector<std::int16_t> withoutSilence(const std::vector<std::int16_t> &samples) {
    std::vector<std::int16_t> sound;
    sound.reserve(samples.size());
    for (std::int16_t s : samples) {
        if (s != 0)
            sound.push_back(s);
    }
    return sound;
}

std::vector<std::int16_t> readRaw(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    std::vector<std::int16_t> samples(std::size_t(bytes.size()) / 2);
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

std::vector<std::int16_t> readSound(const QString &path, int &rate) {
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file)
        return {};
    std::vector<std::int16_t> samples(std::size_t(info.frames));
    samples.resize(std::size_t(sf_read_short(file, samples.data(), info.frames)));
    sf_close(file);
    rate = info.samplerate;
    return samples;
}

bool pactl(const QStringList &args) {
    QProcess process;
    process.start(QStringLiteral("pactl"), args);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// The exact-order check. Returns false if what was heard differs from the export.
bool exactOrder() {
    constexpr int kRate = 22050; // espeak-ng's
    constexpr int kWpm = 175;
    const QString text = bench::prose(1024);
    QTemporaryDir dir;
    // A sink at our rate and sample format, made the default so the engine's stream goes there.
    if (!pactl({"load-module", "module-null-sink", "sink_name=exact",
                QStringLiteral("rate=%1").arg(kRate), "channels=1", "format=s16le",
                "norewinds=1"}) ||
        !pactl({"set-default-sink", "exact"})) {
        std::printf("exact order: cannot make a sink at %d Hz (no sound server?)\n", kRate);
        return false;
    }
    const QString recording = dir.filePath("heard.raw");
    QProcess parec;
    parec.setStandardOutputFile(recording);
    parec.start(QStringLiteral("parec"), {"--device=exact.monitor", "--raw", "--format=s16le",
                                          "--channels=1", QStringLiteral("--rate=%1").arg(kRate)});
    // The monitor of an idle sink takes a moment to deliver its first data.
    QElapsedTimer wait;
    wait.start();
    while (QFileInfo(recording).size() == 0 && wait.elapsed() < 10000)
        settle(50);

    int toggles = 0;
    QElapsedTimer spoken;
    {
        speech::SpeechEngine engine; // a fresh worker, as the export's is
        engine.setSpeed(kWpm);
        engine.speak(text);
        spoken.start();
        QTimer toggle;
        toggle.setInterval(100);
        QObject::connect(&toggle, &QTimer::timeout, [&] {
            engine.isPaused() ? engine.resume() : engine.pause();
            ++toggles;
        });
        toggle.start();
        while (engine.isSpeaking() && spoken.elapsed() < 900000)
            settle(100);
        toggle.stop();
        settle(1500); // the tail, through the server and the recorder
    }
    parec.terminate();
    parec.waitForFinished(5000);
    const double wall = double(spoken.elapsed()) / 1000;

    audioexport::ExportRequest request;
    request.text = text;
    request.voice = speech::defaultVoiceFor(QLocale::system());
    request.wpm = kWpm;
    request.path = dir.filePath("rendered.wav");
    request.workers = 1;
    request.segmentUnits = text.size(); // one worker from the first word to the last
    std::atomic<bool> cancel{false};
    try {
        audioexport::Exporter(request).run(cancel);
    } catch (const std::exception &e) {
        std::printf("exact order: the export failed: %s\n", e.what());
        return false;
    }
    int rate = 0;
    const std::vector<std::int16_t> rendered = withoutSilence(readSound(request.path, rate));
    const std::vector<std::int16_t> heard = withoutSilence(readRaw(recording));
    const auto [r, h] = std::mismatch(rendered.begin(), rendered.end(), heard.begin(), heard.end());
    const bool same = r == rendered.end() && h == heard.end() && !rendered.empty();
    std::printf("exact order: %.0f s of speech in %.0f s with %d pause/resume toggles; "
                "%zu sounding samples heard, %zu rendered: %s\n",
                double(rendered.size()) / kRate, wall, toggles, heard.size(), rendered.size(),
                same ? "identical" : "DIFFERENT");
    if (!same)
        std::printf("exact order: first difference after %.3f s of sounding audio\n",
                    double(r - rendered.begin()) / kRate);
    pactl({"set-default-sink", "test"});
    return same && rate == kRate;
}

// Returns the exit status once the engines and the application object are gone.
int soak(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(30, atoi(argv[1])) : 180;
    const QString document = bench::prose(2 * 1024 * 1024);

    const bool exact = exactOrder();

    speech::SpeechEngine engine;
    int errors = 0;
    QObject::connect(&engine, &speech::SpeechEngine::errorOccurred, &app,
                     [&](const speech::EngineError &e) {
                         ++errors;
                         std::printf("engine error %d: %s\n", e.number(), e.what());
                     });
    int pauses = 0;
    int speeds = 0;
    QTimer toggle;
    toggle.setInterval(100);
    QObject::connect(&toggle, &QTimer::timeout, &app, [&] {
        engine.isPaused() ? engine.resume() : engine.pause();
        ++pauses;
    });
    QTimer speed;
    speed.setInterval(1000);
    constexpr int kSpeeds[] = {175, 300, 90, 510, 50, 220, 0};
    QObject::connect(&speed, &QTimer::timeout, &app, [&] {
        engine.setSpeed(kSpeeds[speeds++ % std::size(kSpeeds)]);
        if (!engine.isSpeaking())
            engine.speak(document); // it ended (or a change came after the end): start again
    });

    try {
        engine.speak(document);
    } catch (const speech::EngineError &e) {
        std::printf("cannot speak: %s\n", e.what());
        return 2;
    }
    toggle.start();
    speed.start();
    // Warm up first: the sound stream, the worker's voices and Qt's thread pools settle in.
    settle(20000);
    const Census before = census(engine);
    print("start", before);
    QElapsedTimer soak;
    soak.start();
    while (soak.elapsed() < seconds * 1000) {
        settle(30000);
        print(qPrintable(QStringLiteral("%1 s").arg(soak.elapsed() / 1000)), census(engine));
    }
    toggle.stop();
    speed.stop();
    engine.resume();
    engine.stop();
    settle(3000);
    const Census after = census(engine);
    print("end", after);
    std::printf("%d s, %d pause/resume toggles, %d speed changes, %d engine errors\n", seconds,
                pauses, speeds, errors);

    bool ok = true;
    auto expect = [&](bool condition, const char *what) {
        if (!condition) {
            std::printf("LEAK: %s\n", what);
            ok = false;
        }
    };
    expect(after.threads <= before.threads, "threads grew");
    expect(after.children <= 1 && after.zombies == 0, "more than one worker, or a zombie");
    expect(after.rssKiB - before.rssKiB < kRssSlackKiB, "memory of this process grew");
    expect(after.workerRssKiB - before.workerRssKiB < kRssSlackKiB, "worker memory grew");
    expect(errors == 0, "the engine reported errors");
    if (!exact) {
        std::printf("ORDER: what was heard is not the rendered audio\n");
        ok = false;
    }
    std::printf(ok ? "soak passed\n" : "soak FAILED\n");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    speech::exitAfterTeardown(soak(argc, argv));
}
