// Engines ended while they speak, each in a short-lived process of its own that exits right
// after, as the program does when its window is closed mid-sentence. Such an exit used to abort or
// crash inside libpulse about once in a hundred runs, so the test makes a few hundred.
#include "ProcessExit.h"
#include "SpeechEngine.h"
#include "SpeechTexts.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QProcess>
#include <QTest>

#include <cstdlib>
#include <cstring>

using speech::SpeechEngine;

namespace {

enum Ending { WhileSpeaking, AfterStop, BeforeFirstAudio, kEndings };

// One engine's life in a process of its own, ended the given way; then the process exits as
// main() does. Exit code 3: its speech never reached the sink.
[[noreturn]] void runLifetime(int argc, char **argv, Ending ending) {
    bool heard = true;
    {
        QCoreApplication app(argc, argv);
        SpeechEngine engine;
        engine.speak(kLong);
        if (ending != BeforeFirstAudio) {
            QElapsedTimer t;
            t.start();
            while (engine.firstFrameNs() == 0 && t.elapsed() < 10000)
                QTest::qWait(5);
            heard = engine.firstFrameNs() != 0;
        }
        if (ending == AfterStop)
            engine.stop(); // closes the stream and opens the next one
    }
    speech::exitAfterTeardown(heard ? 0 : 3);
}

} // namespace

class TestTeardown : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("no sound server: run through the project's test command");
    }

    void processesExitCleanlyRightAfterSpeaking() {
        // Each run is one small chance for the exit to meet the sound server's last message.
        // Two at a time keep both cores busy, as on a loaded machine.
        constexpr int kRuns = 400;
        QStringList failures;
        for (int i = 0; i < kRuns; i += 2) {
            QProcess children[2];
            for (int k = 0; k < 2; ++k) {
                children[k].setProcessChannelMode(QProcess::ForwardedChannels);
                children[k].start(
                    QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--lifetime"), QString::number((i + k) % kEndings)});
            }
            for (QProcess &child : children) {
                QVERIFY(child.waitForFinished(60000));
                if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0)
                    failures << (child.exitStatus() == QProcess::NormalExit
                                     ? QStringLiteral("exit code %1").arg(child.exitCode())
                                     : QStringLiteral("crashed"));
            }
        }
        QVERIFY2(failures.isEmpty(),
                 qPrintable(QStringLiteral("%1 of %2 runs: ").arg(failures.size()).arg(kRuns) +
                            failures.join(QStringLiteral(", "))));
    }
};

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "--lifetime") == 0)
        runLifetime(argc, argv, Ending(std::atoi(argv[2])));
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        TestTeardown test;
        status = QTest::qExec(&test, argc, argv);
    }
    // This process has a connection to the sound server too, which is told of every stream the
    // children close.
    speech::exitAfterTeardown(status);
}

#include "tst_teardown.moc"
