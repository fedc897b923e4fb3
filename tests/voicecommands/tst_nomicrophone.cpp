// "Give Command" with no sound server: a clear message box, and nothing stuck afterwards.

#include "Form1.h"
#include "TestMain.h"

#include <QApplication>
#include <QAudioDevice>
#include <QLabel>
#include <QMediaDevices>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestNoMicrophone : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QMediaDevices::defaultAudioInput().isNull())
            QSKIP("a sound input answered although PULSE_SERVER points nowhere");
    }

    void clickShowsAMessageEveryTime() {
        Form1 window;
        window.show();
        QStringList boxes;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&boxes] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                boxes << box->windowTitle() + ": " + box->text();
                box->accept();
            }
        });
        watcher.start(20);
        const QString expected =
            QStringLiteral("Parlivo: No microphone or sound input is available.");
        // Twice: a failed attempt must not leave the listener believing it is still busy.
        for (int attempt = 1; attempt <= 2; ++attempt) {
            window.Command4->click();
            QTRY_COMPARE_WITH_TIMEOUT(boxes.size(), attempt, 10000);
            QCOMPARE(boxes.last(), expected);
            QTRY_COMPARE(window.lblCommandStatus->text(), QString());
        }
    }
};

PARLIVO_TEST_MAIN(TestNoMicrophone)
#include "tst_nomicrophone.moc"
