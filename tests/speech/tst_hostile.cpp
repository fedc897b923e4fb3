// Texts known to hurt speech engines, fed to the real worker, and a worker killed at random
// moments while the engine speaks. Whatever the input, this process survives, a dead worker is
// replaced on the next request, no request holds up the one after it, and memory stays bounded.
#include "SpeechEngine.h"
#include "SynthClient.h"
#include "TestMain.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QFile>
#include <QMediaDevices>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <mutex>

using speech::EngineError;
using speech::SpeechEngine;
using speech::SynthClient;
namespace proto = parlivo::proto;

namespace {

// Generous: what the machine may take under a sanitizer, not what it takes normally.
constexpr int kRequestMs = 60000;
// Well above what espeak-ng needs (tens of MB) and far below what an unbounded queue of a
// megabyte of text would take.
constexpr qint64 kWorkerRssLimitKb = 400 * 1024;
constexpr qint64 kOwnPeakLimitKb = 1024 * 1024;

// A field of /proc/<pid>/status in kB, or -1 if the process is gone.
qint64 statusKb(const QString &pid, const char *field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Replies {
    std::mutex mutex;
    std::uint64_t done = 0;    // guarded by mutex
    std::uint64_t audioOf = 0; // the latest request that sent audio; guarded by mutex
    int deaths = 0;            // guarded by mutex

    SynthClient::Handlers handlers() {
        SynthClient::Handlers h;
        h.audio = [this](proto::Audio &a) {
            std::scoped_lock lock(mutex);
            audioOf = a.id;
        };
        h.done = [this](const proto::Done &d) {
            std::scoped_lock lock(mutex);
            done = d.id;
        };
        h.died = [this](int) {
            std::scoped_lock lock(mutex);
            ++deaths;
        };
        return h;
    }
    template <typename T> T read(const T &field) {
        std::scoped_lock lock(mutex);
        return field;
    }
};

QString program() {
    return QCoreApplication::applicationDirPath() + "/parlivo-synth";
}

QString randomUtf16(int units, quint32 seed) {
    QRandomGenerator random(seed);
    QString s(units, Qt::Uninitialized);
    for (QChar &c : s)
        c = QChar(char16_t(random.bounded(0x10000)));
    return s;
}

QString everyControlCharacter() {
    QString s;
    for (char16_t c = 0; c < 0x20; ++c)
        s += QChar(c);
    for (char16_t c = 0x7F; c <= 0x9F; ++c)
        s += QChar(c);
    for (const char16_t c : {0x200B, 0x200E, 0x200F, 0x2028, 0x2029, 0x202E, 0xFEFF, 0xFFFE})
        s += QChar(c);
    return (s + QStringLiteral("word ")).repeated(2000);
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void hostileTextsNeverHoldUpTheNextRequest_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("killsTheWorker");
        // espeak-ng 1.51 aborts the worker on a word of 68 or more "s'" pairs.
        QTest::newRow("runs of s'")
            << (QStringLiteral("s'").repeated(300) + u' ').repeated(20) << true;
        QTest::newRow("1 MB without spaces")
            << QStringLiteral("abcdefghij").repeated(104858) << false;
        QTest::newRow("random UTF-16") << randomUtf16(512 * 1024, 8) << false;
        QTest::newRow("100k-digit number") << QStringLiteral("1234567890").repeated(10000) << false;
        QTest::newRow("punctuation runs")
            << (QStringLiteral(".").repeated(50000) + QStringLiteral("?!").repeated(20000) +
                QStringLiteral("(").repeated(20000) + QStringLiteral("\"'").repeated(20000) +
                QStringLiteral("-,;:").repeated(20000))
            << false;
        QTest::newRow("mixed scripts") << QStringLiteral("Hello Привет مرحبا 你好 नमस्ते שלום Γειά "
                                                         "😀👍🏽 e\u0301\u0302\u0303 "
                                                         "\u202Eevil\u202C ")
                                              .repeated(5000)
                                       << false;
        QTest::newRow("every control character") << everyControlCharacter() << false;
    }
    void hostileTextsNeverHoldUpTheNextRequest() {
        QFETCH(QString, text);
        QFETCH(bool, killsTheWorker);
        Replies r;
        SynthClient client(program(), r.handlers());
        client.ensureRunning();
        client.speak(1, text, 0, 0, "espeak:en");

        // Let it chew for a moment, watching the worker's memory.
        qint64 peakRss = 0;
        for (int i = 0; i < 20; ++i) {
            QTest::qWait(100);
            peakRss = std::max(peakRss, statusKb(QString::number(client.pid()), "VmRSS:"));
        }
        qInfo("worker VmRSS peak %lld kB", peakRss);
        QVERIFY2(peakRss < kWorkerRssLimitKb, qPrintable(QStringLiteral("%1 kB").arg(peakRss)));

        // The next request is spoken whatever state the worker is in, as the engine does it:
        // a dead worker is started again first.
        if (!client.isRunning())
            client.ensureRunning();
        client.speak(2, QStringLiteral("Short request."), 0, 0, "espeak:en");
        QTRY_COMPARE_WITH_TIMEOUT(r.read(r.done), std::uint64_t(2), kRequestMs);
        QCOMPARE(r.read(r.audioOf), std::uint64_t(2));
        QCOMPARE(r.read(r.deaths), killsTheWorker ? 1 : 0);
    }

    void ownMemoryStaysBounded() {
        // After every hostile text above (run in this process, one after the other).
        const qint64 peak = statusKb(QStringLiteral("self"), "VmHWM:");
        qInfo("own VmHWM %lld kB", peak);
        QVERIFY(peak > 0);
        QVERIFY2(peak < kOwnPeakLimitKb, qPrintable(QStringLiteral("%1 kB").arg(peak)));
    }

    void workerKilledAtRandomMomentsIsReportedOnceAndReplaced() {
        if (QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("no sound server: run through the project's test command");
        const quint32 seed = QRandomGenerator::global()->generate();
        qInfo("seed %u", seed);
        QRandomGenerator random(seed);
        const QString text =
            QStringLiteral("A sentence that takes a while to say, and then some. ").repeated(200);
        SpeechEngine engine;
        QSignalSpy errors(&engine, &SpeechEngine::errorOccurred);
        QTRY_VERIFY_WITH_TIMEOUT(engine.workerPid() > 0, kRequestMs);
        constexpr int kKills = 6;
        for (int kill = 0; kill < kKills; ++kill) {
            engine.speak(text);
            // Anywhere from before the first audio to well into the speech.
            QTest::qWait(int(random.bounded(1500)));
            QVERIFY(engine.isSpeaking());
            const qint64 pid = engine.workerPid();
            QVERIFY(pid > 0);
            QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
            QTRY_COMPARE_WITH_TIMEOUT(errors.size(), kill + 1, kRequestMs);
            QCOMPARE(errors.last().at(0).value<EngineError>().number(),
                     int(EngineError::WorkerDied));
            QTRY_VERIFY_WITH_TIMEOUT(!engine.isSpeaking(), kRequestMs);
        }
        // Spoken again, by a new worker, with no further report.
        engine.speak(QStringLiteral("Back to normal."));
        QTRY_VERIFY_WITH_TIMEOUT(engine.firstFrameNs() != 0, kRequestMs);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isSpeaking(), kRequestMs);
        QCOMPARE(errors.size(), kKills);
    }
};

PARLIVO_TEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
