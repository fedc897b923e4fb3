// The main window on the real widgets: layout in pixels from the designed twips, captions, tab
// order, menus, the pause caption's state machine, Exit and the error box.
#include "DocumentText.h"
#include "ErrorBox.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "SpeechEngine.h"

#include <QApplication>
#include <QFontInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <csignal>

namespace {

QRect px(int left, int top, int width, int height) {
    return {left / 15, top / 15, width / 15, height / 15};
}

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private slots:
    void layoutMatchesTheDesign() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QStringLiteral("Dunmere Software - Parlivo"));
        QCOMPARE(w.centralWidget()->size(), QSize(312, 250));
        QCOMPARE(w.Text1->geometry(), px(120, 120, 3015, 2415));
        QCOMPARE(w.Command1->geometry(), px(2280, 2520, 255, 495));
        QCOMPARE(w.Command2->geometry(), px(1320, 2520, 375, 495));
        QCOMPARE(w.Command3->geometry(), px(1800, 2520, 375, 495));
        QCOMPARE(w.Command4->geometry(), px(1320, 3120, 1215, 495));
        QCOMPARE(w.Command5->geometry(), px(2640, 3120, 1215, 495));
        // The client area starts below the menu bar.
        QCOMPARE(w.centralWidget()->y(), w.menuBar()->height());
        // Fixed layout: resizing the window moves nothing.
        w.resize(800, 600);
        QTest::qWait(20);
        QCOMPARE(w.Text1->geometry(), px(120, 120, 3015, 2415));
    }

    void captionsAndText() {
        Form1 w;
        QCOMPARE(w.Command1->text(), QStringLiteral(">"));
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        QCOMPARE(w.Command3->text(), QStringLiteral("ST"));
        QCOMPARE(w.Command4->text(), QStringLiteral("Give Command"));
        QCOMPARE(w.Command5->text(), QStringLiteral("Read Mode"));
        for (QPushButton *b : {w.Command1, w.Command2, w.Command3, w.Command4, w.Command5}) {
            QVERIFY(!b->isDefault());
            QVERIFY(!b->autoDefault());
        }
        QVERIFY(w.Text1->toPlainText().isEmpty());
        QCOMPARE(w.Text1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(w.Text1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(w.Text1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        QCOMPARE(w.Text1->font().family(), QStringLiteral("Times New Roman"));
        QCOMPARE(w.Text1->font().pointSizeF(), 14.25);
        QCOMPARE(w.Text1->font().weight(), QFont::Normal);
        QVERIFY(!w.Text1->font().italic() && !w.Text1->font().underline());
        // Resolved to the metric-compatible twin.
        QCOMPARE(QFontInfo(w.Text1->font()).family(), QStringLiteral("Liberation Serif"));
    }

    void tabOrderAndEnter() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Text1->setFocus();
        const QList<QWidget *> expected{w.Command1, w.Command2, w.Command3, w.Command4, w.Command5};
        for (QWidget *next : expected) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), next);
        }
        // Enter in the text area starts a new line and presses nothing.
        w.Text1->setFocus();
        QTest::keyClicks(w.Text1, "ab");
        QTest::keyClick(w.Text1, Qt::Key_Return);
        QTest::keyClicks(w.Text1, "c");
        QCOMPARE(w.document().text(), QStringLiteral("ab\r\nc"));
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
    }

    void menuTree() {
        Form1 w;
        const QList<QAction *> bar = w.menuBar()->actions();
        QCOMPARE(bar.size(), 2);
        QCOMPARE(bar[0]->text(), QStringLiteral("&File"));
        QCOMPARE(bar[1]->text(), QStringLiteral("E&dit"));
        QStringList file;
        for (QAction *a : w.mnuItemFile->actions())
            file << a->objectName() + "=" + a->text();
        QCOMPARE(file, (QStringList{"mnuItemOpenDocument=&Open Document",
                                    "mnuItemSaveDocument=&Save Document",
                                    "mnuItemExporttoWav=Export to &Wav", "mnuItemExit=&Exit"}));
        QStringList edit;
        for (QAction *a : w.mnuItemEdit->actions())
            edit << a->objectName() + "=" + a->text();
        QCOMPARE(edit, (QStringList{"mnuItemCopy=&Copy", "mnuItemPaste=&Paste",
                                    "mnuItemOption=&Options"}));
        for (QAction *a : w.mnuItemFile->actions() + w.mnuItemEdit->actions()) {
            QVERIFY(a->shortcut().isEmpty());
            QVERIFY(a->isEnabled() && a->isVisible() && !a->isCheckable() && !a->isSeparator());
        }
    }

    void pauseCaptionStateMachine() {
        Form1 w;
        // "||" when idle still pauses.
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        QVERIFY(w.talker().isPaused());
        // "ST" while paused leaves the caption and the paused state.
        w.Command3->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        QVERIFY(w.talker().isPaused());
        // ">" while "RES" speaks (silently, loaded) and leaves the caption.
        w.document().setText(QStringLiteral("Loaded while paused."));
        w.Command1->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        // Strict alternation.
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        QVERIFY(!w.talker().isPaused());
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("RES"));
        w.Command2->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        w.Command3->click();
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
    }

    void speakReadsTheWholeTextNotTheSelection() {
        Form1 w;
        w.document().setText(QStringLiteral("One line.\r\nTwo line."));
        QTextCursor c = w.Text1->textCursor();
        c.setPosition(0);
        c.setPosition(3, QTextCursor::KeepAnchor);
        w.Text1->setTextCursor(c);
        QCOMPARE(w.document().selectedText(), QStringLiteral("One"));
        QCOMPARE(w.document().text(), QStringLiteral("One line.\r\nTwo line."));
        w.Command1->click();
        QCOMPARE(w.document().text(), QStringLiteral("One line.\r\nTwo line.")); // untouched
        w.Command3->click();
    }

    void exitClosesAtOnceAndEndsTheWorker() {
        QPointer<Form1> w = new Form1;
        w->show();
        w->document().setText(QStringLiteral("Unsaved text is discarded without a question."));
        QTRY_VERIFY(w->talker().workerPid() > 0);
        const pid_t pid = pid_t(w->talker().workerPid());
        w->Command1->click();
        w->mnuItemExit->trigger();
        QTRY_VERIFY(w.isNull());      // closed and deleted, no box asked anything
        QCOMPARE(::kill(pid, 0), -1); // no orphan worker
    }

    void closeButtonDoesTheSame() {
        QPointer<Form1> w = new Form1;
        w->show();
        QTRY_VERIFY(w->talker().workerPid() > 0);
        const pid_t pid = pid_t(w->talker().workerPid());
        w->close();
        QTRY_VERIFY(w.isNull());
        QCOMPARE(::kill(pid, 0), -1);
    }

    void failingHandlerShowsTheBoxAndCarriesOn() {
        Form1 w;
        w.show();
        w.document().setText(QStringLiteral("Precious text"));
        NextBoxCatcher catcher;
        catcher.arm();
        app::runGuarded(&w, [] { throw speech::EngineError(42, QStringLiteral("Engine broke")); });
        QCOMPARE(catcher.shown.title, QStringLiteral("Parlivo"));
        QVERIFY(catcher.shown.text.contains(QStringLiteral("42")));
        QVERIFY(catcher.shown.text.contains(QStringLiteral("Engine broke")));
        QVERIFY(w.isVisible());
        QCOMPARE(w.document().text(), QStringLiteral("Precious text"));
    }

    void crashingTextLeavesWindowAndText() {
        Form1 w;
        w.show();
        const QString crash = QStringLiteral("s'").repeated(80);
        w.document().setText(crash);
        QTRY_VERIFY(w.talker().workerPid() > 0);
        const qint64 pid = w.talker().workerPid();
        w.Command1->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.talker().workerPid() != pid, 10000);
        QCOMPARE(w.document().text(), crash);
        QVERIFY(!QApplication::activeModalWidget()); // ">" shows nothing
        w.document().setText(QStringLiteral("And now something normal."));
        w.Command1->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.talker().workerPid() > 0 && w.talker().workerPid() != pid, 5000);
        w.Command3->click();
    }

    void documentTextConversion() {
        QCOMPARE(DocumentText::toCrlf(QStringLiteral("a\nb")), QStringLiteral("a\r\nb"));
        QCOMPARE(DocumentText::toCrlf(QStringLiteral("a") + QChar::ParagraphSeparator + "b"),
                 QStringLiteral("a\r\nb"));
        QCOMPARE(DocumentText::longestRun(QStringLiteral("ab  abcd e")), qsizetype(4));
        QPlainTextEdit edit;
        DocumentText doc(edit);
        doc.setText(QStringLiteral("x\r\ny\r\n"));
        QCOMPARE(doc.text(), QStringLiteral("x\r\ny\r\n"));
        // A text with one enormous word is wrapped anywhere, so laying it out stays quick.
        doc.setText(QStringLiteral("w").repeated(100000));
        QCOMPARE(edit.wordWrapMode(), QTextOption::WrapAnywhere);
        doc.setText(QStringLiteral("short words"));
        QCOMPARE(edit.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
