// With no sound server: ">" shows nothing and changes nothing, "||" and "ST" still work on the
// state, nothing hangs.
#include "DocumentText.h"
#include "Form1.h"
#include "SpeechEngine.h"
#include "TestMain.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPushButton>
#include <QTest>

class TestNoSound : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        if (!QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("a sound server answered although PULSE_SERVER points nowhere");
    }

    void speakFailsWithAClearError() {
        speech::SpeechEngine engine;
        try {
            engine.speak(QStringLiteral("Nobody hears this."));
            QFAIL("speak() should have failed");
        } catch (const speech::EngineError &e) {
            QCOMPARE(e.number(), int(speech::EngineError::NoAudioDevice));
            QCOMPARE(e.description(), QStringLiteral("No audio output device is available"));
        }
        QVERIFY(!engine.isSpeaking());
    }

    void buttonsKeepWorking() {
        Form1 w;
        w.show();
        w.document().setText(QStringLiteral("Text stays."));
        w.Command1->click();
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(w.document().text(), QStringLiteral("Text stays."));
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        w.Command3->click();
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
    }
};

PARLIVO_TEST_MAIN(TestNoSound)
#include "tst_nosound.moc"
