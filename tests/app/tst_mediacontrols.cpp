// The desktop's media controls, driven by a real client (playerctl) over a private session bus
// against the real window and engine, with what is heard checked at the test sound server's
// sink. Also moving by sentence, the second instance's bus name, and a start without a bus.
#include "DocumentText.h"
#include "Form1.h"
#include "MediaControls.h"
#include "PlaybackControls.h"
#include "SinkRecorder.h"
#include "TestMain.h"

#include <QApplication>
#include <QAudioDevice>
#include <QDeadlineTimer>
#include <QMediaDevices>
#include <QProcess>
#include <QPushButton>
#include <QTest>

namespace {

const QString kText = QStringLiteral(
    "The first sentence is about apples and pears. The second one tells of bread and cheese. "
    "The third speaks of candles in the window. The fourth is about the old wooden door. The "
    "fifth and last one ends the little story.");

qsizetype sentenceStart(int n) {
    static const QStringList starts{QStringLiteral("The first"), QStringLiteral("The second"),
                                    QStringLiteral("The third"), QStringLiteral("The fourth"),
                                    QStringLiteral("The fifth")};
    return kText.indexOf(starts.at(n - 1));
}

// Runs a program to its end while the window keeps answering the bus.
QString run(const QString &program, const QStringList &args, int timeoutMs = 5000) {
    QProcess process;
    process.start(program, args);
    QDeadlineTimer deadline(timeoutMs);
    while (process.state() != QProcess::NotRunning && !deadline.hasExpired())
        QTest::qWait(2);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return QStringLiteral("<timed out>");
    }
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

class TestMediaControls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("no sound server: run through the project's test command");
        // A bus of this test's own, so that no desktop's player or widget takes part.
        m_bus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
        QVERIFY(m_bus.waitForReadyRead(5000));
        const QByteArray address = m_bus.readLine().trimmed();
        QVERIFY(!address.isEmpty());
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    }
    void cleanupTestCase() {
        m_bus.kill();
        m_bus.waitForFinished();
    }

    // Each command as the client sends it, with the state it must leave behind: the bus
    // status, the pause button's caption, whether the sink hears speech, and (for the moves)
    // the sentence being heard.
    void playerctlDrivesTheWindow() {
        Form1 w;
        w.show();
        QTRY_VERIFY(!w.mediaControls().serviceName().isEmpty());
        QCOMPARE(w.mediaControls().serviceName(), mpris::MediaControls::kServicePrefix);
        const QString player = QStringLiteral("parlivo");
        auto ctl = [&](const QString &command) {
            return run(QStringLiteral("playerctl"),
                       QStringList{QStringLiteral("-p"), player} + command.split(u' '));
        };
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Stopped"));
        // A media widget does not ask again: it follows the changes the player announces.
        QProcess follower;
        follower.start(
            QStringLiteral("playerctl"),
            {QStringLiteral("-p"), player, QStringLiteral("--follow"), QStringLiteral("status")});
        QVERIFY(follower.waitForStarted());
        QTRY_VERIFY(follower.canReadLine());
        w.document().setText(kText);

        SinkRecorder rec;
        QVERIFY(rec.start());
        // What the sink must have heard, checked once the recording is in: speech, or none, in
        // the given time after each step.
        struct Expect {
            const char *step;
            qint64 fromMs;
            bool loud;
        };
        QList<Expect> expected;
        auto expect = [&](const char *step, bool loud) {
            expected.append({step, rec.elapsedMs(), loud});
            QTest::qWait(700);
        };
        ctl(QStringLiteral("play"));
        QTRY_COMPARE(ctl(QStringLiteral("status")), QStringLiteral("Playing"));
        expect("play", true);
        QCOMPARE(ctl(QStringLiteral("metadata title")),
                 QStringLiteral("The first sentence is about apples and pears. The second one"
                                "\u2026"));

        ctl(QStringLiteral("play-pause"));
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Paused"));
        expect("play-pause (pausing)", false);

        ctl(QStringLiteral("play-pause"));
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Playing"));

        // On from wherever the first sentence got to: the second is heard next, at once.
        ctl(QStringLiteral("next"));
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(2)));
        expect("next", true);
        ctl(QStringLiteral("next"));
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(3)));
        // Previous, a while after the last: the start of the sentence being heard. Two in quick
        // succession: the one before it.
        QTest::qWait(1100);
        ctl(QStringLiteral("previous"));
        // Until the restarted sentence's first audio is heard, no sentence is current.
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(3)));
        ctl(QStringLiteral("previous"));
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(2)));
        expect("previous twice", true);

        // A move while paused stays paused, at the new place.
        ctl(QStringLiteral("pause"));
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        ctl(QStringLiteral("next"));
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Paused"));
        expect("next while paused", false);
        ctl(QStringLiteral("play"));
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(3)));

        ctl(QStringLiteral("stop"));
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Stopped"));
        expect("stop", false);
        // Nothing is being read: no moves, and nothing happens when one is asked for.
        QCOMPARE(ctl(QStringLiteral("metadata title")), QString());
        ctl(QStringLiteral("next"));
        QCOMPARE(ctl(QStringLiteral("status")), QStringLiteral("Stopped"));
        rec.stop();
        follower.terminate();
        QVERIFY(follower.waitForFinished());
        QStringList followed;
        for (const QString &line : QString::fromUtf8(follower.readAllStandardOutput()).split(u'\n'))
            if (!line.isEmpty() && (followed.isEmpty() || followed.last() != line))
                followed << line;
        QCOMPARE(followed, QStringList({"Stopped", "Playing", "Paused", "Playing", "Paused",
                                        "Playing", "Stopped"}));
        // Silence is looked for from 150 ms after the step: what the server had queued plays
        // out first.
        for (const Expect &e : expected) {
            const qint64 loud = e.loud ? rec.loudMs(e.fromMs, e.fromMs + 700)
                                       : rec.loudMs(e.fromMs + 150, e.fromMs + 700);
            QVERIFY2(e.loud ? loud > 200 : loud == 0,
                     qPrintable(QStringLiteral("%1: %2 ms loud").arg(e.step).arg(loud)));
        }
    }

    // The keys move the same way, and Next on the last sentence does nothing.
    void keysMoveBySentence() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.document().setText(kText);
        QTest::keyClick(w.Text1, Qt::Key_F5);
        QTRY_VERIFY(w.talker().currentSentence().has_value());
        for (int n = 2; n <= 5; ++n) {
            QTest::keyClick(w.Text1, Qt::Key_F4);
            QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                         qint64(sentenceStart(n)));
        }
        const quint64 session = w.talker().speechSession();
        QTest::keyClick(w.Text1, Qt::Key_F4);
        QCOMPARE(w.talker().speechSession(), session);
        QTest::keyClick(w.Text1, Qt::Key_F3);
        QTest::keyClick(w.Text1, Qt::Key_F3);
        QTRY_COMPARE(w.talker().currentSentence().value_or(speech::TextRange{}).offset,
                     qint64(sentenceStart(4)));
        QCOMPARE(QApplication::focusWidget(), w.Text1);
        w.Command3->click();
    }

    // The sentence before a place, looked for a bounded way back: after a line break, inside
    // a long run without one, and at the very start.
    void sentenceBeforeFindsTheSynthesisersPieces() {
        const QString text = QStringLiteral("One. Two two.\nThree three three. Four.");
        QCOMPARE(speech::sentenceBefore(text, text.indexOf(u'F')), text.indexOf(u'T', 14));
        QCOMPARE(speech::sentenceBefore(text, text.indexOf(u'T', 14)), text.indexOf(u'T'));
        QCOMPARE(speech::sentenceBefore(text, text.indexOf(u'T')), qsizetype(0));
        QCOMPARE(speech::sentenceBefore(text, 0), qsizetype(0));
        const QString longRun = QString(QStringLiteral("Word. ")).repeated(100000);
        const qsizetype last = longRun.size() - 6;
        QCOMPARE(speech::sentenceBefore(longRun, last), last - 6);
    }

    // A second Parlivo takes the name with its process number; one with no session bus starts
    // and runs as ever.
    void secondInstanceAndNoBus() {
        Form1 w;
        QTRY_VERIFY(!w.mediaControls().serviceName().isEmpty());
        const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/parlivo");
        QProcess second;
        second.start(program);
        QVERIFY(second.waitForStarted());
        const QString instance = QStringLiteral("parlivo.instance%1").arg(second.processId());
        QTRY_VERIFY(run(QStringLiteral("playerctl"), {QStringLiteral("-l")})
                        .split(u'\n')
                        .contains(instance));
        QCOMPARE(run(QStringLiteral("playerctl"),
                     {QStringLiteral("-p"), instance, QStringLiteral("status")}),
                 QStringLiteral("Stopped"));
        second.terminate();
        QVERIFY(second.waitForFinished());

        QProcess bare;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/bus"));
        env.insert(QStringLiteral("PARLIVO_REPORT_STARTUP"), QStringLiteral("1"));
        bare.setProcessEnvironment(env);
        bare.start(program);
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += bare.readAllStandardOutput()).contains("worker-ready") ||
                                     bare.state() != QProcess::Running,
                                 10000);
        QTest::qWait(500);
        QCOMPARE(bare.state(), QProcess::Running);
        bare.terminate();
        QVERIFY(bare.waitForFinished());
    }

private:
    QProcess m_bus;
};

PARLIVO_TEST_MAIN(TestMediaControls)
#include "tst_mediacontrols.moc"
