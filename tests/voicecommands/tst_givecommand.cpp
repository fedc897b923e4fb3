// "Give Command" through the real audio path: the test sound server's sink monitor (remapped
// into a source) is the default input, a synthesised command is played into the sink, and the
// window must do it.

#include "DocumentText.h"
#include "Form1.h"
#include "PlaybackControls.h"
#include "RealTalker.h"
#include "SpeechEngine.h"
#include "SpokenAudio.h"
#include "TestMain.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

// While listening, the status line says what can be said.
const QString kListening = QStringLiteral(
    "Listening... Say: read, pause, resume, stop, faster, slower, open document, save document, "
    "export, copy, paste, options, read mode");

bool run(const QString &program, const QStringList &arguments) {
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

class TestGiveCommand : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void readModeBySpeech();
    void stopWhileSpeaking();
    void unrelatedSpeechChangesNothing();

private:
    QString utterance(const QString &text);
    void sayCommand(const QString &text);

    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_window;
    QProcess m_player;
    // A failure shows a modal message box; the watcher closes it and keeps its text, so that a
    // test reports the failure instead of waiting behind the box.
    QTimer m_errorBoxWatcher;
    QString m_errorBoxText;
    QString m_remapModule;
};

void TestGiveCommand::initTestCase() {
    if (QStandardPaths::findExecutable(QStringLiteral("flite")).isEmpty())
        QSKIP("flite is not installed");
    // Qt lists no monitor sources as inputs, so the sink's monitor is offered as a source of its
    // own. Only the private test server has a sink named "test": a real desktop is never touched.
    QProcess load;
    load.start(QStringLiteral("pactl"), {"load-module", "module-remap-source",
                                         "master=test.monitor", "source_name=parlivo_test_mic"});
    if (!load.waitForFinished(10000) || load.exitCode() != 0)
        QSKIP("needs the test sound server (scripts/with-sound-server.sh)");
    m_remapModule = QString::fromLatin1(load.readAllStandardOutput()).trimmed();
    QVERIFY(run(QStringLiteral("pactl"), {"set-default-source", "parlivo_test_mic"}));
    QVERIFY(m_dir.isValid());
    connect(&m_errorBoxWatcher, &QTimer::timeout, this, [this] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            m_errorBoxText = box->text();
            box->reject();
        }
    });
    m_errorBoxWatcher.start(50);
}

void TestGiveCommand::cleanupTestCase() {
    if (!m_remapModule.isEmpty())
        run(QStringLiteral("pactl"), {"unload-module", m_remapModule});
}

void TestGiveCommand::init() {
    m_errorBoxText.clear();
    m_window = std::make_unique<Form1>();
    m_window->setAttribute(Qt::WA_DeleteOnClose, false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestGiveCommand::cleanup() {
    m_player.waitForFinished(10000);
    m_window.reset();
}

QString TestGiveCommand::utterance(const QString &text) {
    const QString path = m_dir.filePath(QString(text).replace(' ', '_') + ".wav");
    if (!QFile::exists(path))
        spokenaudio::synthesise({"flite slt", "flite", {"-voice", "slt"}}, text, path);
    return path;
}

// Clicks "Give Command", waits until audio is coming in, then speaks `text` into the sink.
void TestGiveCommand::sayCommand(const QString &text) {
    const QString wav = utterance(text);
    QVERIFY(QFile::exists(wav));
    m_window->Command4->click();
    // Listening, or an error box that says why not.
    QTRY_VERIFY_WITH_TIMEOUT(
        m_window->lblCommandStatus->text() == kListening || !m_errorBoxText.isEmpty(), 15000);
    QVERIFY2(m_errorBoxText.isEmpty(), qPrintable(m_errorBoxText));
    QCOMPARE(m_window->lblCommandStatus->text(), kListening);
    m_player.start(QStringLiteral("paplay"), {"-d", "test", wav});
    QVERIFY(m_player.waitForStarted());
}

void TestGiveCommand::readModeBySpeech() {
    QVERIFY(!m_window->Command5->isChecked());
    sayCommand(QStringLiteral("read mode"));
    QTRY_VERIFY_WITH_TIMEOUT(m_window->Command5->isChecked(), 15000);
    QCOMPARE(m_window->lblCommandStatus->text(), QStringLiteral("Heard: read mode"));
    // The result does not stay for ever.
    QTRY_COMPARE_WITH_TIMEOUT(m_window->lblCommandStatus->text(), QString(), 6000);
    // What can be said is never a guess: the button lists it too.
    QVERIFY(m_window->Command4->accessibleDescription().endsWith(kListening.mid(18) + '.'));
    QVERIFY(m_window->Command4->toolTip().contains(QStringLiteral("open document")));
}

void TestGiveCommand::stopWhileSpeaking() {
    speech::SpeechEngine &talker = realTalker(*m_window);
    m_window->document().setText(
        QString("This sentence keeps the speech engine busy. ").repeated(40));
    m_window->Command1->click();
    QTRY_VERIFY_WITH_TIMEOUT(talker.isSpeaking(), 10000);

    sayCommand(QStringLiteral("stop"));
    // Our own voice is held back while the command is heard.
    QVERIFY(talker.isPaused());
    QTRY_VERIFY_WITH_TIMEOUT(!talker.isSpeaking(), 15000);
    QCOMPARE(m_window->lblCommandStatus->text(), QStringLiteral("Heard: stop"));
    // Stopped, and not left paused behind a "||" caption.
    QVERIFY(!talker.isPaused());
    QCOMPARE(m_window->Command2->text(), speech::kPauseCaption);
}

void TestGiveCommand::unrelatedSpeechChangesNothing() {
    speech::SpeechEngine &talker = realTalker(*m_window);
    m_window->document().setText(
        QString("This sentence keeps the speech engine busy. ").repeated(40));
    m_window->Command1->click();
    QTRY_VERIFY_WITH_TIMEOUT(talker.isSpeaking(), 10000);

    sayCommand(QStringLiteral("thank you very much"));
    QTRY_COMPARE_WITH_TIMEOUT(m_window->lblCommandStatus->text(),
                              QStringLiteral("Command not understood"), 15000);
    // Speech carries on where it was held.
    QVERIFY(talker.isSpeaking());
    QVERIFY(!talker.isPaused());
    QVERIFY(!m_window->Command5->isChecked());
    QCOMPARE(m_window->Command2->text(), speech::kPauseCaption);
}

PARLIVO_TEST_MAIN(TestGiveCommand)
#include "tst_givecommand.moc"
