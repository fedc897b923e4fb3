// The main window on the real widgets: layout in pixels from the designed twips, captions, tab
// order, menus, the pause caption's state machine, Exit and the error box.
#include "DocumentText.h"
#include "ErrorBox.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "RealTalker.h"
#include "SpeechEngine.h"
#include "TestMain.h"
#include "frmOptions.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <csignal>
#include <functional>

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
        QTest::qWait(20); // whatever the resize causes arrives as events: let them run
        QCOMPARE(w.Text1->geometry(), px(120, 120, 3015, 2415));
    }

    // Every caption of both windows is drawn whole inside its control, at the default font and
    // at a larger desktop font: the text's pixels (the control drawn with its caption against
    // the control drawn without) stay off the control's inner edges.
    void captionsFitTheirControls_data() {
        QTest::addColumn<qreal>("pointSize");
        QTest::newRow("default font") << 0.0;
        QTest::newRow("desktop font of 11 pt") << 11.0;
    }
    void captionsFitTheirControls() {
        QFETCH(qreal, pointSize);
        const QFont desktop = QApplication::font();
        QFont font = desktop;
        if (pointSize > 0)
            font.setPointSizeF(pointSize);
        QApplication::setFont(font);
        const auto restore = qScopeGuard([&] { QApplication::setFont(desktop); });
        Form1 w;
        w.show();
        frmOptions d([&w]() -> speech::Engine & { return w.talker(); });
        d.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w) && QTest::qWaitForWindowExposed(&d));
        d.Label2->setText(QStringLiteral("Speed Factor: 510"));
        const auto textPixels = [](QWidget *control, const std::function<void()> &blank,
                                   const std::function<void()> &back) {
            const QImage with = control->grab().toImage();
            blank();
            const QImage without = control->grab().toImage();
            back();
            QRect box;
            for (int y = 0; y < with.height(); ++y)
                for (int x = 0; x < with.width(); ++x)
                    if (with.pixel(x, y) != without.pixel(x, y))
                        box |= QRect(x, y, 1, 1);
            return box;
        };
        const auto check = [&](QAbstractButton *button, const QString &caption) {
            button->setText(caption);
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = caption;
            const QRect inner =
                button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
            const QRect text = textPixels(
                button, [&] { button->setText({}); }, [&] { button->setText(caption); });
            QVERIFY2(!text.isEmpty(), qPrintable(caption));
            QVERIFY2(inner.adjusted(1, 1, -1, -1).contains(text),
                     qPrintable(QStringLiteral("\"%1\": text %2,%3 %4x%5 in %6,%7 %8x%9")
                                    .arg(caption)
                                    .arg(text.x())
                                    .arg(text.y())
                                    .arg(text.width())
                                    .arg(text.height())
                                    .arg(inner.x())
                                    .arg(inner.y())
                                    .arg(inner.width())
                                    .arg(inner.height())));
        };
        for (QPushButton *b :
             {w.Command1, w.Command3, w.Command4, w.Command5, d.Command1, d.Command2})
            check(b, b->text());
        check(w.Command2, QStringLiteral("||"));
        check(w.Command2, QStringLiteral("RES"));
        for (QLabel *label : {d.Label2, d.Label3}) {
            const QString caption = label->text();
            const QRect text = textPixels(
                label, [&] { label->setText({}); }, [&] { label->setText(caption); });
            // Left-aligned: only the other three edges can cut it.
            QVERIFY2(!text.isEmpty() && text.top() > 0 && text.right() < label->width() - 1 &&
                         text.bottom() < label->height() - 1,
                     qPrintable(caption));
        }
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
        QTRY_VERIFY(realTalker(*w).workerPid() > 0);
        const pid_t pid = pid_t(realTalker(*w).workerPid());
        w->Command1->click();
        w->mnuItemExit->trigger();
        QTRY_VERIFY(w.isNull());      // closed and deleted, no box asked anything
        QCOMPARE(::kill(pid, 0), -1); // no orphan worker
    }

    void closeButtonDoesTheSame() {
        QPointer<Form1> w = new Form1;
        w->show();
        QTRY_VERIFY(realTalker(*w).workerPid() > 0);
        const pid_t pid = pid_t(realTalker(*w).workerPid());
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
        ui::runGuarded(&w, [] { throw speech::EngineError(42, QStringLiteral("Engine broke")); });
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
        QTRY_VERIFY(realTalker(w).workerPid() > 0);
        const qint64 pid = realTalker(w).workerPid();
        w.Command1->click();
        QTRY_VERIFY_WITH_TIMEOUT(realTalker(w).workerPid() != pid, 10000);
        QCOMPARE(w.document().text(), crash);
        QVERIFY(!QApplication::activeModalWidget()); // ">" shows nothing
        // ... but the status line says why the speech stopped, until the next ">".
        QTRY_VERIFY_WITH_TIMEOUT(
            w.lblCommandStatus->text().startsWith(
                QStringLiteral("Speech stopped: the speech synthesiser stopped unexpectedly")),
            5000);
        // Said to assistive technology as a notification whose name is the text.
        QAccessibleInterface *status = QAccessible::queryAccessibleInterface(w.lblCommandStatus);
        QCOMPARE(status->role(), QAccessible::Notification);
        QCOMPARE(status->text(QAccessible::Name), w.lblCommandStatus->text());
        w.document().setText(QStringLiteral("And now something normal."));
        w.Command1->click();
        QCOMPARE(w.lblCommandStatus->text(), QStringLiteral("Reading"));
        QTRY_VERIFY_WITH_TIMEOUT(realTalker(w).workerPid() > 0 && realTalker(w).workerPid() != pid,
                                 5000);
        w.Command3->click();
    }

    void languageChangeIsSaid() {
        // A new window reads in the voice of each paragraph's language and says when it changes.
        Form1 w;
        w.show();
        w.document().setText(
            QStringLiteral("The weather was pleasant this morning, so we walked to the market.\r\n"
                           "Das Wetter war heute Morgen angenehm, also gingen wir zum Markt."));
        w.Command1->click();
        QCOMPARE(w.lblCommandStatus->text(), QStringLiteral("Reading"));
        QTRY_COMPARE_WITH_TIMEOUT(w.lblCommandStatus->text(), QStringLiteral("Reading German"),
                                  15000);
        QCOMPARE(realTalker(w).currentLanguage(), QStringLiteral("de"));
        w.Command3->click();
    }

    // Long lines are held as several joined blocks, none of which takes long to lay out.
    void longLinesAreCut_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("before"); // the block's text before the line
        QTest::addColumn<QList<qsizetype>>("cuts");
        const auto x = [](qsizetype n) {
            return QString(n, u'x');
        };
        QTest::newRow("short") << QStringLiteral("a short line") << QString() << QList<qsizetype>{};
        QTest::newRow("long run") << x(5000) << QString() << QList<qsizetype>{2048, 4096};
        QTest::newRow("run the block began") << x(1000) << "a " + x(1500) << QList<qsizetype>{548};
        QTest::newRow("block already too long")
            << QStringLiteral("ab") << x(3000) << QList<qsizetype>{0};
        QTest::newRow("surrogate pair")
            << x(2047) + QStringLiteral("\U0001F600yy") << QString() << QList<qsizetype>{2047};
        QTest::newRow("combining mark")
            << x(2048) + QStringLiteral("\u0301yy") << QString() << QList<qsizetype>{2047};
        QTest::newRow("words, cut after a space")
            << QStringLiteral("abcd ").repeated(14000) << QString() << QList<qsizetype>{65535};
    }
    void longLinesAreCut() {
        QFETCH(QString, line);
        QFETCH(QString, before);
        QFETCH(QList<qsizetype>, cuts);
        const std::vector<qsizetype> got = DocumentText::cuts(line, before);
        QCOMPARE(QList<qsizetype>(got.begin(), got.end()), cuts);

        // In the widget: typed after `before`, the text is exactly what went in.
        QPlainTextEdit edit;
        DocumentText doc(edit);
        edit.insertPlainText(before);
        doc.append(line);
        QCOMPARE(doc.text(), before + line);
        QCOMPARE(edit.blockCount(), int(cuts.size()) + 1);
    }

    // A join is no character: keys next to it act on the characters around it, Enter there
    // still breaks the line, undo brings back the exact text, and copying leaves no break.
    void editingAtAJoin() {
        DocumentEdit edit;
        DocumentText doc(edit);
        const QString run(3000, u'x');
        const QString text = "a " + run + QStringLiteral(" b\u00A0c");
        doc.setText(text);
        QCOMPARE(edit.blockCount(), 2);
        QVERIFY(DocumentText::isJoined(edit.document()->lastBlock()));
        const auto caretAt = [&edit](int fromJoin) {
            QTextCursor cursor = edit.textCursor();
            cursor.setPosition(edit.document()->lastBlock().position() + fromJoin);
            edit.setTextCursor(cursor);
        };
        caretAt(0);
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(doc.text(), "a " + run.left(2999) + QStringLiteral(" b\u00A0c"));
        caretAt(-1);
        QTest::keyClick(&edit, Qt::Key_Delete);
        QCOMPARE(doc.text(), "a " + run.left(2998) + QStringLiteral(" b\u00A0c"));
        QTest::keyClick(&edit, Qt::Key_Return);
        QTest::keyClick(&edit, Qt::Key_Return, Qt::ShiftModifier); // U+2028, a line break too
        QCOMPARE(doc.text(),
                 "a " + run.left(2047) + "\r\n\r\n" + run.left(951) + QStringLiteral(" b\u00A0c"));
        edit.selectAll();
        QTest::keyClick(&edit, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), doc.text());
        while (edit.document()->isUndoAvailable())
            edit.undo();
        QCOMPARE(doc.text(), text);
        // Enter over a selection that starts in a joined block breaks the line too.
        doc.setText(QString(5000, u'y'));
        QVERIFY(DocumentText::isJoined(edit.document()->lastBlock()));
        QTextCursor selection(edit.document());
        selection.setPosition(edit.document()->lastBlock().position() + 2);
        selection.setPosition(selection.position() + 3, QTextCursor::KeepAnchor);
        edit.setTextCursor(selection);
        QTest::keyClick(&edit, Qt::Key_Return);
        QCOMPARE(doc.text(), QString(4098, u'y') + "\r\n" + QString(899, u'y'));
    }

    // The text is kept between changes and built again in slices while the window is idle:
    // after every kind of change, asked for at once or after the idle build, it is exactly what
    // the widget holds.
    void documentTextFollowsEveryChange() {
        DocumentEdit edit;
        DocumentText doc(edit);
        const auto direct = [&] {
            return DocumentText::toDocument(*edit.document(), 0, edit.document()->toRawText());
        };
        const QString run(3000, u'x');
        QString line = QStringLiteral("A line of words, ");
        // Several slices' worth of lines, some long enough to be joined blocks.
        const QString big = (line.repeated(10) + "\r\n" + run + "\r\n").repeated(400);
        const std::vector<std::pair<const char *, std::function<void()>>> changes{
            {"set",
             [&] {
                 doc.setText(big);
             }},
            {"type at the start",
             [&] {
                 QTest::keyClicks(&edit, QStringLiteral("Hi "));
             }},
            {"Shift+Enter",
             [&] {
                 QTest::keyClick(&edit, Qt::Key_Return, Qt::ShiftModifier);
             }},
            {"delete at a join",
             [&] {
                 QTextCursor c(edit.document()->findBlockByNumber(3));
                 edit.setTextCursor(c);
                 QTest::keyClick(&edit, Qt::Key_Backspace);
             }},
            {"append",
             [&] {
                 doc.append(QStringLiteral("\r\nThe end.") + run);
             }},
            {"undo",
             [&] {
                 edit.undo();
             }},
            {"clear",
             [&] {
                 edit.clear();
             }},
        };
        // Asked for at once, while the idle build is under way, and once it is done.
        for (const int waitMs : {0, 201, 400}) {
            for (const auto &[name, change] : changes) {
                change();
                QTest::qWait(waitMs);
                QVERIFY2(
                    doc.text() == direct(),
                    qPrintable(
                        QStringLiteral("%1 after %2 ms").arg(QLatin1String(name)).arg(waitMs)));
            }
        }
    }

    // Ctrl+V of a long run goes in as short joined blocks: the window lays out only what it
    // shows, instead of wrapping a megabyte-long word for minutes.
    void pasteOfALongRun() {
        Form1 w;
        w.document().setText(QStringLiteral("Before "));
        QTextCursor end = w.Text1->textCursor();
        end.movePosition(QTextCursor::End);
        w.Text1->setTextCursor(end);
        const QString run(1 << 20, u'w');
        QGuiApplication::clipboard()->setText(run);
        QTest::keyClick(w.Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.document().text(), "Before " + run);
        QCOMPARE(w.Text1->blockCount(), (1 << 20) / DocumentText::kMaxRun);
        for (QTextBlock b = w.Text1->document()->begin(); b.isValid(); b = b.next())
            QVERIFY(b.length() <= DocumentText::kMaxRun + 8);
        QTest::keyClick(w.Text1, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(w.document().text(), QStringLiteral("Before "));
    }
};

PARLIVO_TEST_MAIN(TestForm1)
#include "tst_form1.moc"
