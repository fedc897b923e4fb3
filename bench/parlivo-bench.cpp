// Measures the real program's parts and prints each figure next to an anchor measured in the
// same run on the same machine. Run through bench/run, which provides a sound server.

#include "BenchDocuments.h"
#include "BenchSupport.h"
#include "Chunker.h"
#include "DocumentIo.h"
#include "DocumentReader.h"
#include "DocumentText.h"
#include "Exporter.h"
#include "FileAccess.h"
#include "Form1.h"
#include "Format.h"
#include "Languages.h"
#include "ProcessExit.h"
#include "ReadMode.h"
#include "SinkClock.h"
#include "SpeechEngine.h"

#include <QAction>
#include <QApplication>
#include <QAudioDevice>
#include <QClipboard>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMediaDevices>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <thread>

using namespace bench;
using speech::SpeechEngine;

namespace {

constexpr int kRuns = 5;
constexpr int kEspeakRate = 22050;

QString writeText(const QTemporaryDir &dir, const QString &name, const QString &text) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.toUtf8());
    return path;
}

// Waits for `done` while the event loop runs; false on timeout.
bool waitFor(const std::function<bool()> &done, int timeoutMs) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

void firstAudio(Report &report, const QTemporaryDir &dir) {
    SpeechEngine engine;
    waitFor([&] { return engine.workerPid() > 0; }, 5000);
    // Warm up the sound server connection once.
    engine.speak(QStringLiteral("Ready."));
    waitFor([&] { return engine.firstFrameNs() != 0; }, 5000);
    engine.stop();
    for (const auto &[label, size] :
         {std::pair{"1 KB", qsizetype(1024)}, std::pair{"1 MB", qsizetype(1 << 20)},
          std::pair{"10 MB", qsizetype(10 << 20)}}) {
        const QString text = prose(size);
        std::vector<double> ours;
        for (int i = 0; i < kRuns; ++i) {
            const qint64 start = nowNs();
            engine.speak(text);
            if (waitFor([&] { return engine.firstFrameNs() != 0; }, 10000))
                ours.push_back(double(engine.firstFrameNs() - start) / 1e6);
            engine.stop();
            QTest::qWait(100);
        }
        const QString file = writeText(dir, QStringLiteral("first-%1.txt").arg(size), text);
        std::vector<double> anchor;
        for (int i = 0; i < kRuns; ++i) {
            // 44 bytes of header, then 100 ms of 16-bit audio.
            if (auto ms = timeToStdoutBytes("espeak-ng", {"--stdout", "-f", file},
                                            44 + kEspeakRate / 10 * 2))
                anchor.push_back(*ms);
        }
        report.add({QStringLiteral("first audio, %1 text").arg(label),
                    "ms",
                    stats(ours),
                    "espeak-ng --stdout to first 100 ms",
                    stats(anchor),
                    "< 20 ms, flat",
                    {}});
    }
}

// A WAV that is loud from its first sample, for timing paplay to the sink.
QString writeTone(const QTemporaryDir &dir) {
    constexpr int rate = 48000, count = rate / 5;
    QByteArray wav;
    auto put32 = [&](quint32 v) {
        wav.append(reinterpret_cast<const char *>(&v), 4);
    };
    auto put16 = [&](quint16 v) {
        wav.append(reinterpret_cast<const char *>(&v), 2);
    };
    wav.append("RIFF");
    put32(36 + count * 2);
    wav.append("WAVEfmt ");
    put32(16);
    put16(1);
    put16(1);
    put32(rate);
    put32(rate * 2);
    put16(2);
    put16(16);
    wav.append("data");
    put32(count * 2);
    for (int i = 0; i < count; ++i)
        put16(quint16(i % 48 < 24 ? 12000 : -12000));
    const QString path = dir.filePath("tone.wav");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(wav);
    return path;
}

// Milliseconds from `startNs` to sound (or silence) at the sink, if it came.
std::optional<double> msSince(qint64 startNs, std::optional<qint64> atNs) {
    if (!atNs)
        return std::nullopt;
    return double(*atNs - startNs) / 1e6;
}

// A program started by `start` until it is heard at the sink, `repeats` times, each after
// `quietMs` of silence.
std::vector<double> programToSound(SinkClock &sink, const QString &program, const QStringList &args,
                                   int repeats, int quietMs = 0) {
    std::vector<double> ms;
    for (int i = 0; i < repeats; ++i) {
        sink.waitForQuiet();
        QTest::qWait(quietMs);
        QProcess p;
        const qint64 start = nowNs();
        p.start(program, args);
        if (auto heard = msSince(start, sink.soundAfter(start)))
            ms.push_back(*heard);
        p.kill();
        p.waitForFinished();
    }
    return ms;
}

// Clicks a button the way a user does, and says when the click had been handled.
qint64 click(QPushButton *button) {
    QTest::mouseClick(button, Qt::LeftButton);
    return nowNs();
}

// End to end, as a user hears it: the click on a button of the real window to the first (or
// last) sound at the sound server's sink, beside paplay and espeak-ng started from scratch.
void clickToSound(Report &report, const QTemporaryDir &dir) {
    constexpr int repeats = 20;
    constexpr int kFirstClicks = 5;
    SinkClock sink;
    if (!sink.isListening()) {
        std::fprintf(stderr, "clickToSound: cannot listen to the sink\n");
        return;
    }
    const QString tone = writeTone(dir);
    const Stats paplay = stats(programToSound(sink, "paplay", {tone}, repeats));
    const Stats espeak =
        stats(programToSound(sink, "espeak-ng", {"The first sentence is here."}, repeats));
    // A window's first click comes after it has been quiet for a while (half a second here),
    // which on a virtual machine makes every thread's wake-up slower: paplay after the same.
    const Stats paplayAfterQuiet = stats(programToSound(sink, "paplay", {tone}, 5, 500));
    for (const auto &[label, size] :
         {std::pair{"1 KB", qsizetype(1024)}, std::pair{"1 MB", qsizetype(1 << 20)},
          std::pair{"10 MB", qsizetype(10 << 20)}}) {
        const QString text = prose(size);
        std::vector<double> first, warm, handled;
        // The first click of a freshly started window (and worker), several times over; the
        // last window goes on to the warm clicks.
        for (int w = 0; w < kFirstClicks; ++w) {
            Form1 window;
            window.show();
            window.document().setText(text);
            QTest::qWait(500);
            const bool last = w + 1 == kFirstClicks;
            for (int i = 0; i <= (last ? repeats : 0); ++i) {
                sink.waitForQuiet();
                // Clicks land anywhere in the sound server's cycle, as a user's do.
                QTest::qWait(20 + 37 * i % 100);
                const qint64 start = nowNs();
                const qint64 done = click(window.Command1);
                if (auto heard = msSince(start, sink.soundAfter(start)))
                    (i == 0 ? first : warm).push_back(*heard);
                if (i > 0)
                    handled.push_back(double(done - start) / 1e6);
                QTest::qWait(150);
                click(window.Command3);
            }
        }
        const QString name = QStringLiteral("\">\" to sound at the sink, %1 text").arg(label);
        report.add({name, "ms", stats(warm), "paplay of a WAV, process start to sound", paplay,
                    "<= 8 ms median, 15 ms worst",
                    "20 clicks, each after the last had gone quiet"});
        report.add({name + ", first click", "ms", stats(first),
                    "paplay of a WAV after 0.5 s of quiet", paplayAfterQuiet, "<= 8 ms median",
                    "5 windows, each one's first click 0.5 s after it was shown; espeak-ng "
                    "\"text\", start to sound: " +
                        QString::number(espeak.median, 'f', 1) + " ms"});
        report.add({QStringLiteral("UI stall: the click on \">\" handled, %1 text").arg(label),
                    "ms",
                    stats(handled),
                    "",
                    std::nullopt,
                    "< 16 ms",
                    {}});
    }

    // Gaps: the server running out of audio while more of the request was still to come.
    {
        Form1 window;
        window.show();
        window.document().setText(prose(20000));
        QTest::qWait(500);
        const auto *engine = dynamic_cast<const SpeechEngine *>(&window.talker());
        const int before = engine ? engine->underruns() : 0;
        for (int i = 0; i < repeats; ++i) {
            sink.waitForQuiet();
            click(window.Command1);
            QTest::qWait(150 + 23 * i % 100);
            click(window.Command3);
        }
        click(window.Command1);
        QTest::qWait(10000);
        click(window.Command3);
        if (engine) {
            const double gaps = engine->underruns() - before;
            report.add({"gaps in the speech (the server ran dry)", "count",
                        Stats{gaps, gaps, gaps, 1}, "target", Stats{0, 0, 0, 1}, "0",
                        "20 starts of 150 ms, then 10 s read through"});
        }
    }

    // Pause, resume and stop in the middle of speech, and ">" after the sound server's stream
    // has been idle for a long while.
    Form1 window;
    window.show();
    window.document().setText(prose(20000));
    QTest::qWait(500);
    std::vector<double> pause, resume, stop;
    for (int i = 0; i < repeats; ++i) {
        sink.waitForQuiet();
        click(window.Command1);
        QTest::qWait(600 + 29 * i % 100);
        qint64 start = nowNs();
        click(window.Command2);
        if (auto quiet = msSince(start, sink.silenceAfter(start, 200)))
            pause.push_back(*quiet);
        start = nowNs();
        click(window.Command2);
        if (auto heard = msSince(start, sink.soundAfter(start)))
            resume.push_back(*heard);
        QTest::qWait(400 + 31 * i % 100);
        start = nowNs();
        click(window.Command3);
        if (auto quiet = msSince(start, sink.silenceAfter(start, 200)))
            stop.push_back(*quiet);
    }
    const Stats target{3, 3, 3, 1};
    report.add({"\"||\" to silence at the sink", "ms", stats(pause), "target", target, "< 3 ms",
                "last loud sample after the click, 200 ms of quiet following it"});
    report.add(
        {"\"RES\" to sound at the sink", "ms", stats(resume), "target", target, "< 3 ms", {}});
    report.add(
        {"\"ST\" to silence at the sink", "ms", stats(stop), "target", target, "< 3 ms", {}});
    // A machine left quiet that long is slower to wake, whoever asks (a virtual one can take
    // several milliseconds for one pipe's round trip): paplay is timed after the same quiet.
    std::vector<double> idle, idlePaplay;
    for (int i = 0; i < 3; ++i) {
        sink.waitForQuiet();
        QTest::qWait(25000);
        const qint64 start = nowNs();
        click(window.Command1);
        if (auto heard = msSince(start, sink.soundAfter(start)))
            idle.push_back(*heard);
        QTest::qWait(150);
        click(window.Command3);
        const std::vector<double> played = programToSound(sink, "paplay", {tone}, 1, 25000);
        idlePaplay.insert(idlePaplay.end(), played.begin(), played.end());
    }
    report.add({"\">\" to sound after 25 s of quiet", "ms", stats(idle),
                "paplay of a WAV after 25 s of quiet", stats(idlePaplay), "<= 15 ms", "3 clicks"});
}

void pauseAndStop(Report &report) {
    SpeechEngine engine;
    const QString text = prose(20000);
    for (const bool isPause : {true, false}) {
        std::vector<double> latency;
        std::vector<double> buffered;
        for (int i = 0; i < kRuns; ++i) {
            engine.resume();
            engine.speak(text);
            waitFor([&] { return engine.firstFrameNs() != 0; }, 5000);
            QTest::qWait(700);
            const qint64 at = nowNs();
            isPause ? engine.pause() : engine.stop();
            QTest::qWait(300);
            latency.push_back(std::max(0.0, double(engine.lastFrameNs() - at) / 1e6));
            buffered.push_back(double(engine.sinkBufferedSamples()) * 1000.0 / kEspeakRate);
            engine.stop();
        }
        engine.resume();
        const QString what = isPause ? QStringLiteral("pause") : QStringLiteral("stop");
        report.add({what + ": last frame handed to the sink after the call", "ms", stats(latency),
                    "target", Stats{50, 50, 50, 1}, "< 50 ms",
                    QStringLiteral("sink held %1 ms of audio at its last frame (median); %2")
                        .arg(stats(buffered).median, 0, 'f', 1)
                        .arg(isPause ? "the stream is corked, so nothing more is heard"
                                     : "the stream is closed, its buffer dropped")});
    }
}

void speedChange(Report &report) {
    SpeechEngine engine;
    const QString text = prose(20000);
    std::vector<double> latency;
    for (int i = 0; i < kRuns; ++i) {
        engine.setSpeed(0);
        engine.speak(text);
        waitFor([&] { return engine.firstFrameNs() != 0; }, 5000);
        QTest::qWait(1000);
        const qint64 at = nowNs();
        engine.setSpeed(i % 2 ? 300 : 120);
        if (waitFor([&] { return engine.firstFrameNs() > at; }, 5000))
            latency.push_back(double(engine.firstFrameNs() - at) / 1e6);
        engine.stop();
    }
    report.add({"speed change: first frame at the new speed",
                "ms",
                stats(latency),
                "target",
                Stats{300, 300, 300, 1},
                "< 300 ms",
                {}});
}

// Worst lateness (ms) of a 1 ms timer while `during` runs for `ms`.
double worstStall(int ms, const std::function<void()> &during = {}) {
    qint64 last = nowNs();
    double worst = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const qint64 now = nowNs();
        worst = std::max(worst, double(now - last) / 1e6 - 1.0);
        last = now;
    });
    timer.start(1);
    if (during)
        during();
    QTest::qWait(ms);
    return worst;
}

void responsiveness(Report &report) {
    Form1 window;
    window.show();
    window.document().setText(prose(10 << 20));
    QTest::qWait(200);
    std::vector<double> idle, speaking, click;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(worstStall(1000));
        const qint64 start = nowNs();
        window.Command1->click();
        click.push_back(double(nowNs() - start) / 1e6);
        speaking.push_back(worstStall(3000));
        window.Command3->click();
    }
    report.add({"UI stall while speaking a 10 MB document", "ms", stats(speaking),
                "idle window, same run", stats(idle), "< 16 ms",
                "worst lateness of a 1 ms timer over 3 s of speech"});
    report.add({"the click on \">\" with 10 MB in the window", "ms", stats(click), "", std::nullopt,
                "", "reading the whole text out of the widget and handing it to the engine"});
}

void highlightCost(Report &report) {
    Form1 window;
    window.show();
    const QString text = prose(10 << 20);
    window.document().setText(text);
    const QString spoken = window.document().text();
    window.Command5->click();
    readmode::ReadMode &mode = window.readMode();
    mode.follow(spoken, 0);
    QTest::qWait(100);
    // Words spread through the whole document, as a long reading would move through it; the
    // first call also builds the line table once.
    std::vector<double> cost;
    const qsizetype step = spoken.size() / 400;
    for (qsizetype at = 0; at + 20 < spoken.size(); at += step) {
        qsizetype start = at;
        while (start < spoken.size() && !spoken.at(start).isLetter())
            ++start;
        const qint64 t0 = nowNs();
        mode.showSpokenRange({start, 4}, speech::TextRange{start, 40});
        cost.push_back(double(nowNs() - t0) / 1e6);
        QCoreApplication::processEvents();
    }
    const double first = cost.front();
    cost.erase(cost.begin());
    report.add({"Read Mode: one highlight move, 10 MB document", "ms", stats(cost), "target",
                Stats{1, 1, 1, 1}, "well under 1 ms",
                QStringLiteral("includes keeping the word in view; the first move also builds the "
                               "line table: %1 ms")
                    .arg(first, 0, 'f', 2)});
}

struct ExportRun {
    double audioSeconds = 0;
    double wallSeconds = 0;
};

// An export of `text` with `workers` synthesis processes.
std::optional<ExportRun> exportRun(const QString &text, int workers, const QString &path) {
    audioexport::ExportRequest request;
    request.text = text;
    request.voice = QStringLiteral("espeak:en");
    request.path = path;
    request.workers = workers;
    audioexport::Exporter exporter(request);
    std::atomic<bool> cancel{false};
    const qint64 start = nowNs();
    try {
        const auto result = exporter.run(cancel);
        return ExportRun{result.seconds(), double(nowNs() - start) / 1e9};
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

void throughput(Report &report, const QTemporaryDir &dir) {
    // 200 KB (about 2.8 hours of speech) instead of 1 MB keeps the benchmark within ten minutes.
    const QString text = prose(200 * 1024);
    const QString file = writeText(dir, "throughput.txt", text);
    const int cores = QThread::idealThreadCount();
    std::vector<int> workerCounts{1};
    if (cores > 1)
        workerCounts.push_back(cores);
    // Rounds of espeak-ng -w and then each of our exports, so that a passing load (another build)
    // falls on both sides of a ratio; the medians of the rounds are reported.
    constexpr int kRounds = 3;
    std::vector<double> anchorMs;
    std::vector<std::vector<ExportRun>> runs(workerCounts.size());
    for (int round = 0; round < kRounds; ++round) {
        if (const auto ms = timeCommand("espeak-ng",
                                        {"-v", "en", "-w", dir.filePath("anchor.wav"), "-f", file}))
            anchorMs.push_back(*ms);
        QFile::remove(dir.filePath("anchor.wav"));
        for (std::size_t i = 0; i < workerCounts.size(); ++i) {
            if (const auto run = exportRun(text, workerCounts[i], dir.filePath("export.wav")))
                runs[i].push_back(*run);
            QFile::remove(dir.filePath("export.wav"));
        }
    }
    for (std::size_t i = 0; i < workerCounts.size(); ++i) {
        std::optional<Stats> ours, anchor;
        if (!runs[i].empty()) {
            std::vector<double> rates, theirs;
            for (const ExportRun &run : runs[i])
                rates.push_back(run.audioSeconds / run.wallSeconds);
            // The same text, voice and speed give the same length of audio.
            for (const double ms : anchorMs)
                theirs.push_back(runs[i].front().audioSeconds / (ms / 1000));
            ours = stats(rates);
            if (!theirs.empty())
                anchor = stats(theirs);
        }
        report.add({QStringLiteral("export throughput, %1 worker(s), 200 KB").arg(workerCounts[i]),
                    "audio s per s", ours, "espeak-ng -w, same text, voice and speed", anchor,
                    workerCounts[i] > 1 ? "ratio > 1.0" : "",
                    QStringLiteral("medians of %1 rounds").arg(kRounds)});
    }
}

void exporting(Report &report, const QTemporaryDir &dir) {
    // The UI thread and memory while a 10 MB document is being exported with a worker per core
    // (the export runs off the UI thread, as the menu entry runs it); cancelled after 4 s.
    Form1 window;
    window.show();
    audioexport::ExportRequest request;
    request.text = prose(10 << 20);
    request.voice = QStringLiteral("espeak:en");
    request.path = dir.filePath("long.wav");
    request.workers = QThread::idealThreadCount();
    audioexport::Exporter exporter(request);
    std::atomic<bool> cancel{false};
    const qint64 rssBefore = rssKiB();
    std::thread worker([&] {
        try {
            exporter.run(cancel);
        } catch (const std::exception &) {
            // Reported as a missing figure below.
        }
    });
    qint64 peak = rssBefore;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] { peak = std::max(peak, rssKiB()); });
    sampler.start(20);
    const double stall = worstStall(4000);
    sampler.stop();
    cancel = true;
    worker.join();
    report.add({"UI stall while exporting a 10 MB document", "ms", Stats{stall, stall, stall, 1},
                "idle window (first figure above)", std::nullopt, "< 16 ms",
                "worst lateness of a 1 ms timer over 4 s of export"});
    report.add({"RSS growth while exporting 10 MB", "MiB",
                Stats{(peak - rssBefore) / 1024.0, 0, 0, 1}, "audio held in the export queues",
                Stats{double(exporter.peakBufferedBytes()) / (1 << 20), 0, 0, 1}, "bounded",
                "over 4 s of export"});
}

void memory(Report &report) {
    const qint64 before = rssKiB();
    Form1 window;
    window.show();
    QTest::qWait(500);
    window.document().setText(prose(10 << 20));
    const qint64 withText = rssKiB();
    window.Command1->click();
    qint64 peak = withText;
    for (int i = 0; i < 300; ++i) {
        QTest::qWait(10);
        peak = std::max(peak, rssKiB());
    }
    window.Command3->click();
    report.add({"RSS growth while speaking 10 MB", "MiB",
                Stats{(peak - withText) / 1024.0, 0, 0, 1}, "the 10 MB text in the widget",
                Stats{(withText - before) / 1024.0, 0, 0, 1}, "bounded",
                "over 3 s of speech, beyond what the widget holds"});
}

// VmRSS of another process, in KiB.
qint64 rssOf(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void startup(Report &report) {
    std::vector<double> shown, ready, idleRss;
    for (int i = 0; i < kRuns; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PARLIVO_REPORT_STARTUP", "1");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        const qint64 start = nowNs();
        p.start(QCoreApplication::applicationDirPath() + "/parlivo", {});
        QByteArray out;
        while (!out.contains("worker-ready") && p.waitForReadyRead(10000))
            out += p.readAllStandardOutput();
        QTest::qWait(300);
        idleRss.push_back(double(rssOf(p.processId())) / 1024.0);
        p.kill();
        p.waitForFinished();
        for (const QByteArray &line : out.split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() != 2)
                continue;
            const double ms = double(parts[1].toLongLong() - start) / 1e6;
            (parts[0] == "shown" ? shown : ready).push_back(ms);
        }
    }
    const auto trueMs = timeCommand("/bin/true", {});
    const std::optional<Stats> anchor =
        trueMs ? std::optional<Stats>(Stats{*trueMs, *trueMs, *trueMs, 1}) : std::nullopt;
    report.add({"start-up: process start to window shown", "ms", stats(shown), "starting /bin/true",
                anchor, "", "offscreen"});
    report.add({"start-up: process start to worker ready",
                "ms",
                stats(ready),
                "starting /bin/true",
                anchor,
                "",
                {}});
    report.add({"RSS of the idle window", "MiB", stats(idleRss), "", std::nullopt, "",
                "the window process alone, offscreen, after start-up (the worker is separate)"});
}

void openDocuments(Report &report, const QTemporaryDir &dir) {
    const QString path = dir.filePath("open-100mb.txt");
    {
        const QByteArray block = prose(1 << 20).toUtf8();
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return;
        for (int i = 0; i < 100; ++i)
            f.write(block);
    }
    const double mb = double(QFileInfo(path).size()) / 1e6;
    std::vector<double> ours, anchor;
    QString document;
    const qint64 rssBefore = rssKiB();
    qint64 peakExtra = 0;
    for (int i = 0; i < 3; ++i) {
        document.clear();
        document.squeeze();
        const qint64 start = nowNs();
        const QByteArray bytes = documents::readWholeFile(path);
        documents::appendFileLines(document, bytes);
        ours.push_back(mb / (double(nowNs() - start) / 1e9));
        peakExtra = std::max(peakExtra, rssKiB() - rssBefore);
        if (auto ms = timeCommand("sh", {"-c", QStringLiteral("cat '%1' > /dev/null").arg(path)}))
            anchor.push_back(mb / (*ms / 1000));
    }
    report.add({"open: read + decode + split, 100 MB", "MB/s", stats(ours), "cat FILE > /dev/null",
                stats(anchor), ">= 200 MB/s",
                QStringLiteral("RSS after reading: +%1 MiB (file bytes plus the text)")
                    .arg(peakExtra / 1024)});

    QPlainTextEdit edit;
    DocumentText text(edit);
    const qint64 start = nowNs();
    text.setText(document);
    const double setMs = double(nowNs() - start) / 1e6;
    report.add({"open: the one setText of those 100 MB", "ms", Stats{setMs, setMs, setMs, 1}, "",
                std::nullopt, "", "the text widget's own layout, once per open"});
}

// The document reader on each format, timed as the window runs it (a process per file), beside
// other programs reading the same file: pdftotext for PDF, pandoc for the rest, where installed.
void extraction(Report &report, const QTemporaryDir &dir) {
    struct Kind {
        const char *label;
        const char *suffix;
        bool (*write)(const QString &, const QStringList &);
        const char *pandocFormat; // nullptr: pandoc does not read it
    };
    const QStringList text = paragraphs(1 << 20);
    const Kind kinds[] = {
        {"DOCX, 1 MB of text", "docx", writeDocx, "docx"},
        {"EPUB, 1 MB of text", "epub", writeEpub, "epub"},
        {"ODT, 1 MB of text", "odt", writeOdt, "odt"},
        {"HTML, 1 MB of text", "html", writeHtml, "html"},
        {"Markdown, 1 MB of text", "md", writeMarkdown, "markdown"},
        {"RTF, 1 MB of text", "rtf", writeRtf, "rtf"},
        {"FB2, 1 MB of text", "fb2", writeFb2, "fb2"},
    };
    const QString reader = documents::readerProgram();
    const bool havePandoc =
        QProcess::execute(QStringLiteral("sh"), {"-c", "command -v pandoc >/dev/null"}) == 0;
    auto run = [&](const QString &label, const QString &path, const QString &format,
                   const QString &anchorName, const QString &anchorProgram,
                   const QStringList &anchorArgs) {
        std::vector<double> ours, anchor;
        qsizetype chars = 0;
        for (int i = 0; i < 3; ++i) {
            QProcess p;
            const qint64 start = nowNs();
            p.start(reader, {format, path});
            if (!p.waitForFinished(-1) || p.exitCode() != 0) {
                std::fprintf(stderr, "%s: the reader failed\n", qPrintable(label));
                return;
            }
            ours.push_back(double(nowNs() - start) / 1e6);
            chars = p.readAllStandardOutput().size();
            if (!anchorProgram.isEmpty())
                if (auto ms = timeCommand(anchorProgram, anchorArgs))
                    anchor.push_back(*ms);
        }
        const double mbPerS = double(chars) / 1e6 / (stats(ours).median / 1000);
        report.add({QStringLiteral("extract: ") + label, "ms", stats(ours),
                    anchor.empty() ? QString() : anchorName,
                    anchor.empty() ? std::nullopt : std::optional(stats(anchor)), "",
                    QStringLiteral("%1 MB/s of text given back").arg(mbPerS, 0, 'f', 1)});
    };

    const QString pdf = dir.filePath(QStringLiteral("bench.pdf"));
    if (writePdf(pdf, text, 300))
        run(QStringLiteral("PDF, 300 pages"), pdf, QStringLiteral("pdf"),
            QStringLiteral("pdftotext"), QStringLiteral("pdftotext"),
            {pdf, QStringLiteral("/dev/null")});
    for (const Kind &kind : kinds) {
        const QString path = dir.filePath(QStringLiteral("bench.") + QLatin1String(kind.suffix));
        if (!kind.write(path, text))
            continue;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const formats::Format format = formats::detect(file.read(formats::kSniffBytes), path, true);
        run(QLatin1String(kind.label), path, formats::formatName(format), QStringLiteral("pandoc"),
            havePandoc ? QStringLiteral("pandoc") : QString(),
            {QStringLiteral("-f"), QLatin1String(kind.pandocFormat), QStringLiteral("-t"),
             QStringLiteral("plain"), QStringLiteral("-o"), QStringLiteral("/dev/null"), path});
    }

    // The window while the reader works on the PDF: the Open call runs its own loop.
    Form1 window;
    window.show();
    QTest::qWait(200);
    std::vector<double> idle, reading;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(worstStall(300));
        reading.push_back(worstStall(
            0, [&] { (void)documents::readThroughReader(&window, pdf, formats::Format::Pdf); }));
    }
    report.add({"UI stall while a 300-page PDF is read", "ms", stats(reading),
                "idle window, same run", stats(idle), "< 16 ms",
                "worst lateness of a 1 ms timer while Open waits for the reader"});
}

// Paragraphs in four languages, in turn, to `size` bytes of UTF-8.
QString multilingual(qsizetype size) {
    const QStringList paragraphs{
        QStringLiteral("The weather was pleasant this morning, so we walked along the river to the "
                       "old market and bought fresh bread. Then we sat in a café for an hour."),
        QStringLiteral("Il faisait beau ce matin, alors nous avons marché le long de la rivière "
                       "jusqu'au vieux marché. Ensuite, nous nous sommes assis dans un café."),
        QStringLiteral("Das Wetter war heute Morgen angenehm, also gingen wir am Fluss entlang zum "
                       "alten Markt. Danach saßen wir eine Stunde in einem Café."),
        QStringLiteral("Сегодня утром погода была приятной, поэтому мы пошли вдоль реки на старый "
                       "рынок. Потом мы час сидели в кафе.")};
    QString text;
    qsizetype bytes = 0;
    for (int i = 0; bytes < size; ++i) {
        const QString &p = paragraphs[i % paragraphs.size()];
        text += p + QStringLiteral("\r\n");
        bytes += p.toUtf8().size() + 2;
    }
    return text;
}

void languageDetection(Report &report, const QTemporaryDir &dir) {
    // What the worker does for the automatic voice, over 1 MB: every chunk's choice, with the
    // detector run on each paragraph and each long sentence.
    const QString text = multilingual(1 << 20);
    const std::u16string units = text.toStdU16String();
    std::vector<double> ms;
    std::size_t chunks = 0;
    for (int run = 0; run < kRuns; ++run) {
        parlivo::synth::AutomaticVoice chooser("espeak:en", {"en-gb", "fr-fr", "de", "ru"});
        const qint64 start = nowNs();
        chunks = 0;
        for (std::size_t position = 0;;) {
            const auto next = parlivo::text::nextChunk(units, position, true);
            if (next.status != parlivo::text::ChunkStatus::Ready)
                break;
            (void)chooser.choose(units, next.chunk, true);
            position = next.chunk.start + next.chunk.length;
            ++chunks;
        }
        ms.push_back(double(nowNs() - start) / 1e6);
    }
    // Synthesis of the same text by espeak-ng, timed on its first 20 KB and scaled to 1 MB
    // (all of it would take minutes), in one voice, as the detection's cost does not need more.
    const QString sample = multilingual(20 * 1024);
    const QString file = writeText(dir, "languages.txt", sample);
    const auto espeakMs =
        timeCommand("espeak-ng", {"-v", "en", "-w", dir.filePath("lang.wav"), "-f", file});
    std::optional<Stats> anchor;
    if (espeakMs) {
        const double perMb = *espeakMs * double(1 << 20) / double(sample.toUtf8().size());
        anchor = Stats{perMb, perMb, perMb, 1};
    }
    report.add({QStringLiteral("language detection, 1 MB in 4 languages (%1 chunks)").arg(chunks),
                "ms per MB",
                stats(ms),
                "espeak-ng -w synthesising the same text",
                anchor,
                "negligible beside synthesis",
                {}});
}

void paste(Report &report) {
    Form1 window;
    window.show();
    std::vector<double> ours;
    for (int i = 0; i < 3; ++i) {
        window.document().setText(QString());
        QGuiApplication::clipboard()->setText(prose(20 << 20));
        const qint64 start = nowNs();
        window.mnuItemPaste->trigger();
        ours.push_back(double(nowNs() - start) / 1e6);
    }
    const QString text = prose(20 << 20);
    const qint64 start = nowNs();
    window.document().setText(text);
    const double setMs = double(nowNs() - start) / 1e6;
    report.add({"paste of 20 MB into an empty text", "ms", stats(ours), "setText of the same 20 MB",
                Stats{setMs, setMs, setMs, 1}, "a moment",
                "the widget's layout of the pasted lines dominates"});
}

int runBenchmarks(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    // To look at the files a run made: PARLIVO_BENCH_KEEP=1 leaves them where the run says.
    if (qEnvironmentVariableIsSet("PARLIVO_BENCH_KEEP")) {
        dir.setAutoRemove(false);
        std::printf("files in %s\n", qPrintable(dir.path()));
    }
    Report report;
    if (QMediaDevices::defaultAudioOutput().isNull()) {
        std::fprintf(stderr, "no sound server: run bench/run, which starts one\n");
        return 2;
    }
    std::printf("Parlivo benchmark (medians of %d runs, [min..max])\n", kRuns);
    // Any further arguments name the parts to run ("extraction", "paste"...); none runs all.
    QStringList only;
    for (int i = 2; i < argc; ++i)
        only << QString::fromLocal8Bit(argv[i]);
    const std::pair<const char *, std::function<void()>> parts[] = {
        {"firstAudio",
         [&] {
             firstAudio(report, dir);
         }},
        {"clickToSound",
         [&] {
             clickToSound(report, dir);
         }},
        {"pauseAndStop",
         [&] {
             pauseAndStop(report);
         }},
        {"speedChange",
         [&] {
             speedChange(report);
         }},
        {"responsiveness",
         [&] {
             responsiveness(report);
         }},
        {"highlightCost",
         [&] {
             highlightCost(report);
         }},
        {"throughput",
         [&] {
             throughput(report, dir);
         }},
        {"exporting",
         [&] {
             exporting(report, dir);
         }},
        {"memory",
         [&] {
             memory(report);
         }},
        {"startup",
         [&] {
             startup(report);
         }},
        {"openDocuments",
         [&] {
             openDocuments(report, dir);
         }},
        {"extraction",
         [&] {
             extraction(report, dir);
         }},
        {"paste",
         [&] {
             paste(report);
         }},
        {"languageDetection",
         [&] {
             languageDetection(report, dir);
         }},
    };
    for (const auto &[name, part] : parts) {
        if (only.isEmpty() || only.contains(QLatin1String(name)))
            part();
    }
    std::printf("\n");
    report.print();
    const QString json =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("results.json");
    if (!report.writeJson(json))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(json));
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    speech::exitAfterTeardown(runBenchmarks(argc, argv));
}
