// Soak: speaks a long document for minutes while pausing and resuming every 100 ms and changing
// the speed every second, then checks that nothing piled up: no extra threads, no extra or
// zombie child processes, no growth of this process's memory or of the worker's.
// Usage: parlivo-soak [seconds]   (default 180)
#include "BenchSupport.h"
#include "SpeechEngine.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
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
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(30, atoi(argv[1])) : 180;
    const QString document = bench::prose(2 * 1024 * 1024);

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
    std::printf(ok ? "soak passed\n" : "soak FAILED\n");
    return ok ? 0 : 1;
}
