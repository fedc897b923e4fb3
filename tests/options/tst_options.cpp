// The Options dialog on the real widgets, with the main window's real engine.
#include "DocumentText.h"
#include "Form1.h"
#include "SpeechEngine.h"
#include "TestMain.h"
#include "VoiceChoice.h"
#include "VoiceList.h"
#include "frmOptions.h"

#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>

namespace {

QRect px(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

// Runs `body` on the modal Options dialog once it is open (Edit > Options blocks in exec()).
void withOpenDialog(Form1 &w, const std::function<void(frmOptions &)> &body) {
    bool ran = false;
    std::function<void()> poll;
    poll = [&] {
        if (auto *d = qobject_cast<frmOptions *>(QApplication::activeModalWidget())) {
            body(*d);
            ran = true;
            if (d->isVisible())
                d->Command2->click();
            return;
        }
        QTimer::singleShot(10, poll);
    };
    QTimer::singleShot(0, poll);
    w.mnuItemOption->trigger();
    QVERIFY(ran);
}

} // namespace

class TestOptions : public QObject {
    Q_OBJECT
private:
    speech::SpeechEngine *m_engine = nullptr;

private slots:
    void initTestCase() { m_engine = new speech::SpeechEngine(this); }

    void layoutAndInitialState() {
        frmOptions d([this]() -> speech::SpeechEngine & { return *m_engine; });
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QCOMPARE(d.windowTitle(), QStringLiteral("Options"));
        QCOMPARE(d.size(), QSize(312, 213));
        QVERIFY(!d.parentWidget());
        QCOMPARE(d.Frame1->geometry(), px(120, 120, 2175, 1695));
        QCOMPARE(d.Frame1->title(), QStringLiteral("Voice"));
        QCOMPARE(d.Frame2->geometry(), px(2400, 120, 2175, 1695));
        QCOMPARE(d.Frame2->title(), QStringLiteral("Speed"));
        QCOMPARE(d.Label3->parentWidget(), d.Frame2);
        QCOMPARE(d.Label3->geometry(), px(120, 240, 1935, 255));
        QCOMPARE(d.Label3->text(), QStringLiteral("Set speed here:"));
        QCOMPARE(d.Label2->geometry(), px(120, 1320, 1935, 255));
        QCOMPARE(d.Label2->text(), QStringLiteral("Speed Factor:"));
        QCOMPARE(d.Slider1->parentWidget(), &d); // the dialog's, not the frame's
        QCOMPARE(d.Slider1->geometry(), px(2520, 720, 1935, 615));
        QCOMPARE(d.Command1->geometry(), px(120, 1920, 1215, 495));
        QCOMPARE(d.Command1->text(), QStringLiteral("Test Settings"));
        QCOMPARE(d.Command2->geometry(), px(3360, 2640, 1215, 495));
        QCOMPARE(d.Command2->text(), QStringLiteral("OK"));
        QVERIFY(!d.Command1->autoDefault() && !d.Command2->autoDefault());

        QCOMPARE(d.Slider1->orientation(), Qt::Horizontal);
        QCOMPARE(d.Slider1->minimum(), 50);
        QCOMPARE(d.Slider1->maximum(), 510);
        QCOMPARE(d.Slider1->value(), 50);
        QCOMPARE(d.Slider1->singleStep(), 1);
        QCOMPARE(d.Slider1->pageStep(), 5);
        QCOMPARE(d.Slider1->tickPosition(), QSlider::TicksBelow);
        QCOMPARE(d.Slider1->tickInterval(), 1);
        QTRY_COMPARE(QApplication::focusWidget(), d.Slider1);
        // Tab order: the voice frame's choice comes first, then the slider and the two buttons.
        d.cboVoice->setFocus();
        for (QWidget *next : {static_cast<QWidget *>(d.Slider1), static_cast<QWidget *>(d.Command1),
                              static_cast<QWidget *>(d.Command2)}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
    }

    void keysMoveTheSpeedLabelFirst() {
        frmOptions d([this]() -> speech::SpeechEngine & { return *m_engine; });
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QStringList labelWhenSpeedArrived;
        QList<int> speeds;
        auto c = connect(m_engine, &speech::SpeechEngine::speedChanged, this, [&](int wpm) {
            speeds << wpm;
            labelWhenSpeedArrived << d.Label2->text();
        });
        QTest::keyClick(d.Slider1, Qt::Key_Right);
        QCOMPARE(d.Label2->text(), QStringLiteral("Speed Factor: 51"));
        QCOMPARE(m_engine->speed(), 51);
        QTest::keyClick(d.Slider1, Qt::Key_PageUp);
        QCOMPARE(m_engine->speed(), 56);
        QTest::keyClick(d.Slider1, Qt::Key_PageDown);
        QCOMPARE(m_engine->speed(), 51);
        QTest::keyClick(d.Slider1, Qt::Key_End);
        QCOMPARE(d.Label2->text(), QStringLiteral("Speed Factor: 510"));
        QTest::keyClick(d.Slider1, Qt::Key_Right); // already at the end: nothing past 510
        QTest::keyClick(d.Slider1, Qt::Key_Home);
        QCOMPARE(m_engine->speed(), 50);
        disconnect(c);
        QCOMPARE(speeds, (QList<int>{51, 56, 51, 510, 50}));
        // When each speed reached the engine, the label already showed it.
        QCOMPARE(labelWhenSpeedArrived,
                 (QStringList{"Speed Factor: 51", "Speed Factor: 56", "Speed Factor: 51",
                              "Speed Factor: 510", "Speed Factor: 50"}));
    }

    void dragSendsEveryPosition() {
        frmOptions d([this]() -> speech::SpeechEngine & { return *m_engine; });
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&d));
        QSignalSpy speeds(m_engine, &speech::SpeechEngine::speedChanged);
        QStyleOptionSlider opt;
        opt.initFrom(d.Slider1);
        opt.orientation = Qt::Horizontal;
        opt.minimum = d.Slider1->minimum();
        opt.maximum = d.Slider1->maximum();
        opt.sliderPosition = d.Slider1->value();
        opt.tickPosition = d.Slider1->tickPosition();
        const QRect handle = d.Slider1->style()->subControlRect(QStyle::CC_Slider, &opt,
                                                                QStyle::SC_SliderHandle, d.Slider1);
        QPoint at = handle.center();
        QTest::mousePress(d.Slider1, Qt::LeftButton, {}, at);
        for (int step = 0; step < 20; ++step) {
            at.rx() += 3;
            QMouseEvent move(QEvent::MouseMove, at, d.Slider1->mapToGlobal(at), Qt::NoButton,
                             Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(d.Slider1, &move);
        }
        QTest::mouseRelease(d.Slider1, Qt::LeftButton, {}, at);
        // One speed per position passed, following the thumb, not one at the end.
        QVERIFY2(speeds.size() >= 10, qPrintable(QString::number(speeds.size())));
        QCOMPARE(speeds.last().at(0).toInt(), d.Slider1->value());
        QCOMPARE(d.Label2->text(), QStringLiteral("Speed Factor: %1").arg(d.Slider1->value()));
        for (int i = 1; i < speeds.size(); ++i)
            QVERIFY(speeds.at(i).at(0).toInt() > speeds.at(i - 1).at(0).toInt());
    }

    void enterAndEscapeDoNotClose() {
        frmOptions d([this]() -> speech::SpeechEngine & { return *m_engine; });
        d.show();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QTest::keyClick(d.Slider1, Qt::Key_Escape);
        QTest::keyClick(d.Slider1, Qt::Key_Return);
        QTest::keyClick(d.Slider1, Qt::Key_Enter);
        QTest::keyClick(&d, Qt::Key_Escape);
        QVERIFY(d.isVisible());
        QCOMPARE(d.result(), 0);
    }

    void eachOpeningStartsFreshAndTheMainWindowWaits() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        withOpenDialog(w, [&](frmOptions &d) {
            QCOMPARE(d.windowModality(), Qt::ApplicationModal);
            QVERIFY(!d.parentWidget());
            // The main window takes no input meanwhile: a click through the window system is
            // swallowed.
            const QPoint onPause = w.Command2->mapTo(&w, w.Command2->rect().center());
            QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, onPause);
            QCOMPARE(w.Command2->text(), QStringLiteral("||"));
            d.Slider1->setFocus();
            QTest::keyClick(d.Slider1, Qt::Key_PageUp);
            QCOMPARE(w.talker().speed(), 55);
        });
        withOpenDialog(w, [&](frmOptions &d) {
            QCOMPARE(d.Slider1->value(), 50);
            QCOMPARE(d.Label2->text(), QStringLiteral("Speed Factor:"));
            QCOMPARE(w.talker().speed(), 55); // the engine keeps what it was given
        });
        // With the dialog gone the same click reaches the button.
        const QPoint onPause = w.Command2->mapTo(&w, w.Command2->rect().center());
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, onPause);
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
    }

    void closeButtonClosesLikeOk() {
        Form1 w;
        w.show();
        withOpenDialog(w, [](frmOptions &d) { d.close(); });
        QVERIFY(!QApplication::activeModalWidget());
    }

    void testSettingsSpeaksAtTheEnginesOwnSpeed() {
        Form1 w;
        w.show();
        withOpenDialog(w, [&](frmOptions &d) {
            d.Command1->click();
            QCOMPARE(w.talker().speed(), 0); // the slider's 50 was never sent
            QVERIFY(w.talker().isSpeaking());
            d.Command1->click(); // twice is simply spoken again
            QVERIFY(w.talker().isSpeaking());
        });
        w.talker().stop();
    }

    // Test Settings over a paused document: the sentence is a preview. The pause button keeps
    // saying "RES", and afterwards "RES" resumes the document, not the sentence.
    void testSettingsLeavesThePausedDocumentWhereItWas() {
        Form1 w;
        w.show();
        w.document().setText(QStringLiteral("One two three four five six seven. ").repeated(20));
        w.Command1->click();
        const quint64 document = w.talker().speechSession();
        QTRY_VERIFY_WITH_TIMEOUT(w.talker().currentWord().has_value(), 10000);
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        withOpenDialog(w, [&](frmOptions &d) {
            d.Command1->click();
            QVERIFY(w.talker().speechSession() != document);
            QTRY_COMPARE_WITH_TIMEOUT(w.talker().speechSession(), document, 15000);
        });
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        QVERIFY(w.talker().isPaused());
        w.Command2->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.talker().currentWord().has_value(), 5000);
        QCOMPARE(w.talker().speechSession(), document);
        w.Command3->click();
    }

    void voiceChoiceListsBothEnginesAndApplies() {
        frmOptions d([this]() -> speech::SpeechEngine & { return *m_engine; });
        QTRY_VERIFY_WITH_TIMEOUT(d.cboVoice->count() > 50, 5000);
        QStringList ids;
        for (int i = 0; i < d.cboVoice->count(); ++i)
            ids << d.cboVoice->itemData(i).toString();
        for (const char *flite : {"flite:slt", "flite:kal16", "flite:rms", "flite:awb"})
            QVERIFY2(ids.contains(QLatin1String(flite)), flite);
        // A new window reads each paragraph in its language's voice, and the entry says which.
        QCOMPARE(ids.first(), speech::kAutomaticVoice);
        QCOMPARE(d.cboVoice->currentIndex(), 0);
        QCOMPARE(d.cboVoice->currentText(), QStringLiteral("Automatic (by the text's language)"));
        m_engine->speak(QStringLiteral("Il faisait beau ce matin, alors nous avons marché le long "
                                       "de la rivière jusqu'au vieux marché."));
        QTRY_COMPARE_WITH_TIMEOUT(d.cboVoice->currentText(), QStringLiteral("Automatic (French)"),
                                  5000);
        m_engine->stop();
        QTRY_COMPARE_WITH_TIMEOUT(d.cboVoice->currentText(),
                                  QStringLiteral("Automatic (by the text's language)"), 5000);
        const int slt = int(ids.indexOf(QStringLiteral("flite:slt")));
        d.cboVoice->setCurrentIndex(slt);
        emit d.cboVoice->activated(slt);
        QCOMPARE(m_engine->voice(), QStringLiteral("flite:slt"));
        QVERIFY(d.cboVoice->itemText(slt).contains(QStringLiteral("flite")));
    }

    void voiceMatching() {
        const QList<speech::Voice> voices{{"espeak:de", "German", "de", "espeak-ng"},
                                          {"espeak:en-gb", "English", "en-gb", "espeak-ng"},
                                          {"flite:slt", "slt", "en-us", "flite"}};
        QCOMPARE(options::indexOfVoice(voices, "espeak:en"), 1);
        QCOMPARE(options::indexOfVoice(voices, "flite:slt"), 2);
        QCOMPARE(options::indexOfVoice(voices, "espeak:e"), -1);
        const auto sorted = options::sortedVoices({voices[2], voices[1], voices[0]});
        QCOMPARE(sorted.last().engine, QStringLiteral("flite"));
        QCOMPARE(sorted.first().id, QStringLiteral("espeak:en-gb"));
    }
};

PARLIVO_TEST_MAIN(TestOptions)
#include "tst_options.moc"
