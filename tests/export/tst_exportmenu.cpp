// File > Export to Wav on the real window, with its file dialog and progress dialog driven as a
// user would.
#include "DocumentText.h"
#include "ExportTestSupport.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "RealTalker.h"
#include "SpeechEngine.h"
#include "TestMain.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace exporttest;

namespace {

// Answers every modal window while it lives: the file dialog with a type from its list and a
// name, a replace question with Yes, other boxes with OK. While the progress dialog is up it
// asks the text area to repaint and counts what the window managed meanwhile.
class ModalAnswerer : public QObject {
public:
    ModalAnswerer(Form1 &form, QString fileName, int typeIndex, bool cancel)
        : m_fileName(std::move(fileName))
        , m_typeIndex(typeIndex)
        , m_cancel(cancel)
        , m_viewport(form.Text1->viewport()) {
        m_viewport->installEventFilter(this);
        connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::answer);
        m_timer.start(10);
    }
    QList<ShownBox> boxes;
    QStringList filters;
    int progressTicks = 0;  // times this timer ran while the progress dialog was up
    int progressPaints = 0; // repaints of the text area meanwhile
    bool progressModal = false;
    bool progressNamed = false; // the dialog and its bar, for assistive technology

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_viewport && event->type() == QEvent::Paint && m_inProgress)
            ++progressPaints;
        return false;
    }

private:
    void answer() {
        QWidget *modal = QApplication::activeModalWidget();
        m_inProgress = false;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            boxes.append(answerBox(box));
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            // Seen again for long: it refused the name. (Right after a replace question it can
            // still be up for a moment before it closes.)
            if (m_dialogs++ > 0) {
                if (m_dialogs > 50)
                    dialog->reject();
                return;
            }
            filters = dialog->nameFilters();
            // Pick the type as a user does, with the keyboard on the type list.
            auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            types->setFocus();
            for (int i = 0; i < m_typeIndex; ++i)
                QTest::keyClick(types, Qt::Key_Down);
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(m_fileName);
            // Pressed after this returns: the dialog may ask whether to replace the file, in a
            // box of its own that this timer must be free to answer.
            QMetaObject::invokeMethod(
                dialog, [dialog] { static_cast<QDialog *>(dialog)->accept(); },
                Qt::QueuedConnection);
        } else if (auto *progress = qobject_cast<QProgressDialog *>(modal)) {
            m_inProgress = true;
            progressModal = progressModal || (progress->isVisible() && progress->isModal());
            const auto *bar = progress->findChild<QProgressBar *>();
            progressNamed =
                !progress->accessibleName().isEmpty() && bar && !bar->accessibleName().isEmpty();
            ++progressTicks;
            m_viewport->update();
            if (m_cancel && progressPaints > 0)
                progress->findChild<QPushButton *>()->click();
        }
    }
    QString m_fileName;
    int m_typeIndex = 0;
    bool m_cancel = false;
    QWidget *m_viewport = nullptr;
    int m_dialogs = 0;
    bool m_inProgress = false;
    QTimer m_timer;
};

} // namespace

class TestExportMenu : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void exportsThroughTheMenu_data() {
        QTest::addColumn<int>("typeIndex");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<int>("major");
        QTest::newRow("wav by default") << 0 << "speech"
                                        << "speech.wav" << int(SF_FORMAT_WAV);
        QTest::newRow("flac from the list") << 1 << "speech"
                                            << "speech.flac" << int(SF_FORMAT_FLAC);
        QTest::newRow("suffix wins over the list") << 0 << "speech.mp3"
                                                   << "speech.mp3" << int(SF_FORMAT_MPEG);
    }
    void exportsThroughTheMenu() {
        QFETCH(int, typeIndex);
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(int, major);
        Form1 form;
        form.show();
        form.document().setText(mixedText(12));
        {
            ModalAnswerer answerer(form, m_dir.filePath(typed), typeIndex, false);
            form.mnuItemExporttoWav->trigger();
            QCOMPARE(answerer.filters.size(), 4);
            QVERIFY(answerer.filters.at(0).contains(QLatin1String("*.wav")));
            QCOMPARE(answerer.boxes.size(), 1);
            const ShownBox &box = answerer.boxes.first();
            QCOMPARE(box.title, QStringLiteral("Parlivo"));
            QCOMPARE(box.icon, QMessageBox::NoIcon);
            QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
            // The duration, as m:ss or in seconds.
            const QRegularExpression duration(QStringLiteral("\\d+:\\d\\d|\\d+ seconds?"));
            QVERIFY2(box.text.contains(written) && box.text.contains(duration),
                     qPrintable(box.text));
        }
        const SoundFile sound = readSound(m_dir.filePath(written));
        QVERIFY(sound.opened);
        QCOMPARE(sound.format & SF_FORMAT_TYPEMASK, major);
        QVERIFY(sound.sampleRate == 22050 || sound.sampleRate == 16000);
        QVERIFY(sound.peak() > 1000);
        QVERIFY(QFile::remove(m_dir.filePath(written)));
        QCOMPARE(entries(m_dir.path()), QStringList());
    }

    // Cancel in the progress dialog, which only comes once the window has repainted during the
    // export: the old file stays as it was and nothing else is said.
    void cancelKeepsTheOldFile() {
        Form1 form;
        form.show();
        form.document().setText(mixedText(3000));
        const QString target = m_dir.filePath(QStringLiteral("keep.wav"));
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("the old export");
        file.close();
        {
            ModalAnswerer answerer(form, target, 0, true);
            form.mnuItemExporttoWav->trigger();
            QVERIFY(answerer.progressModal);
            QVERIFY(answerer.progressNamed);
            QVERIFY(answerer.progressTicks > 0);
            QVERIFY(answerer.progressPaints > 0);
            // Only the file dialog's question whether to replace the file.
            QCOMPARE(answerer.boxes.size(), 1);
            QVERIFY(answerer.boxes.first().buttons.testFlag(QMessageBox::Yes));
        }
        QCOMPARE(contents(target), QByteArray("the old export"));
        QCOMPARE(entries(m_dir.path()), QStringList{QStringLiteral("keep.wav")});
        QVERIFY(QFile::remove(target));
    }

    // The window's own speech goes on while an export runs on workers of its own.
    void speakingWhileExporting() {
        Form1 form;
        form.document().setText(mixedText(300));
        speech::SpeechEngine &talker = realTalker(form);
        try {
            talker.speak(form.document().text());
        } catch (const speech::EngineError &error) {
            QSKIP(qPrintable(QStringLiteral("cannot speak here (%1): run through "
                                            "scripts/with-sound-server.sh")
                                 .arg(error.description())));
        }
        QTRY_VERIFY(talker.heardSamples() > 0);
        const qint64 speaker = talker.workerPid();
        const QString target = m_dir.filePath(QStringLiteral("together.wav"));
        {
            ModalAnswerer answerer(form, target, 0, false);
            form.mnuItemExporttoWav->trigger();
            QCOMPARE(answerer.boxes.size(), 1);
            QCOMPARE(answerer.boxes.first().icon, QMessageBox::NoIcon);
        }
        QVERIFY(readSound(target).peak() > 1000);
        QVERIFY(talker.isSpeaking());
        QCOMPARE(talker.workerPid(), speaker);
        const std::uint64_t heard = talker.heardSamples();
        QTRY_VERIFY(talker.heardSamples() > heard);
        talker.stop();
        QVERIFY(QFile::remove(target));
    }

    void failureIsShown() {
        Form1 form;
        form.document().setText(mixedText(3));
        ModalAnswerer answerer(form, QStringLiteral("/proc/parlivo-export.wav"), 0, false);
        form.mnuItemExporttoWav->trigger();
        QCOMPARE(answerer.boxes.size(), 1);
        const ShownBox &box = answerer.boxes.first();
        QCOMPARE(box.title, QStringLiteral("Parlivo"));
        QCOMPARE(box.icon, QMessageBox::Critical);
        QVERIFY2(box.text.contains(QLatin1String("/proc")), qPrintable(box.text));
        QVERIFY(!QFile::exists(QStringLiteral("/proc/parlivo-export.wav")));
    }
};

PARLIVO_TEST_MAIN(TestExportMenu)
#include "tst_exportmenu.moc"
