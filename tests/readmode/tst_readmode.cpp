// Read Mode on the real window with the real engine and sound server.
#include "DocumentText.h"
#include "Form1.h"
#include "HighlightRules.h"
#include "ReadMode.h"
#include "RealTalker.h"
#include "SpeechEngine.h"
#include "TestMain.h"

#include <QAccessible>
#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

namespace {

QString highlighted(Form1 &w) {
    const auto range = w.readMode().wordHighlight();
    if (!range)
        return {};
    QTextCursor c(w.Text1->document());
    c.setPosition(range->offset);
    c.setPosition(range->offset + range->length, QTextCursor::KeepAnchor);
    return c.selectedText();
}

// Every distinct word highlighted until speech ends, in order.
QStringList wordsHighlighted(Form1 &w, int timeoutMs = 30000) {
    QStringList words;
    QElapsedTimer t;
    t.start();
    // Speech may not have started on a slow machine yet; the caller checks the words.
    if (!QTest::qWaitFor([&] { return w.talker().isSpeaking(); }, 10000))
        return words;
    // Looked at every 5 ms, far more often than words change, so that none is missed.
    while (w.talker().isSpeaking() && t.elapsed() < timeoutMs) {
        const QString word = highlighted(w);
        if (!word.isEmpty() && (words.isEmpty() || words.last() != word))
            words << word;
        QTest::qWait(5);
    }
    return words;
}

const QString kLong =
    QStringLiteral("The lighthouse keeper climbed the stairs every evening. ").repeated(40);

} // namespace

class TestReadMode : public QObject {
    Q_OBJECT
private slots:
    // Offsets into the spoken text and positions in the widget, through line breaks, empty
    // lines, Shift+Enter's line separator and a long word held in joined blocks: every
    // character maps to itself and back.
    void positionsMapBothWays() {
        QPlainTextEdit edit;
        DocumentText doc(edit);
        const QString run(3000, u'r');
        doc.setText(QStringLiteral("ab\r\ncd\r\n\r\ne\u2028f ") + run + QStringLiteral(" g\r\nh"));
        QVERIFY(DocumentText::isJoined(edit.document()->findBlockByNumber(4)));
        const QString spoken = doc.text();
        const QString widget = edit.document()->toRawText();
        const TextPositions map(*edit.document());
        for (qsizetype offset = 0; offset < spoken.size(); ++offset) {
            if (spoken[offset] == u'\r' || spoken[offset] == u'\n')
                continue;
            const qsizetype position = map.toWidget(offset);
            QCOMPARE(widget.at(position), spoken.at(offset));
            QCOMPARE(map.toOffset(position), offset);
        }
    }

    void coloursKeepTheTextReadable_data() {
        QTest::addColumn<QColor>("base");
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("highlight");
        QTest::addColumn<QColor>("highlightedText");
        QTest::newRow("light") << QColor(Qt::white) << QColor(Qt::black) << QColor(48, 140, 198)
                               << QColor(Qt::white);
        QTest::newRow("dark") << QColor(30, 30, 30) << QColor(230, 230, 230) << QColor(42, 130, 218)
                              << QColor(Qt::black);
        QTest::newRow("weak selection") << QColor(Qt::white) << QColor(Qt::black)
                                        << QColor(128, 128, 128) << QColor(140, 140, 140);
    }
    void coloursKeepTheTextReadable() {
        QFETCH(QColor, base);
        QFETCH(QColor, text);
        QFETCH(QColor, highlight);
        QFETCH(QColor, highlightedText);
        QPalette p;
        p.setColor(QPalette::Base, base);
        p.setColor(QPalette::Text, text);
        p.setColor(QPalette::Highlight, highlight);
        p.setColor(QPalette::HighlightedText, highlightedText);
        const auto c = readmode::highlightColours(p);
        QVERIFY(readmode::contrastRatio(c.wordBackground, c.wordText) >= 4.5);
        QVERIFY(readmode::contrastRatio(c.sentenceBackground, text) >= 4.5);
        QVERIFY(c.sentenceBackground != base); // still visible as a shade
    }

    void initTestCase() {
        if (QMediaDevices::defaultAudioOutput().isNull())
            QSKIP("no sound server: run through the project's test command");
    }

    void toggleMakesTheTextReadOnly() {
        Form1 w;
        w.show();
        w.document().setText(QStringLiteral("abc"));
        QVERIFY(w.Command5->isCheckable());
        QCOMPARE(w.Command5->accessibleName(), QStringLiteral("Read Mode, off"));
        w.Command5->click();
        QVERIFY(w.Command5->isChecked());
        QCOMPARE(w.Command5->text(), QStringLiteral("Read Mode"));
        QCOMPARE(w.Command5->accessibleName(), QStringLiteral("Read Mode, on"));
        QVERIFY(w.Text1->isReadOnly());
        w.Text1->setFocus();
        QTest::keyClicks(w.Text1, "xyz");
        QCOMPARE(w.document().text(), QStringLiteral("abc"));
        w.Command5->click();
        QVERIFY(!w.Command5->isChecked());
        QVERIFY(!w.Text1->isReadOnly());
        QTest::keyClick(w.Text1, Qt::Key_End);
        QTest::keyClicks(w.Text1, "d");
        QCOMPARE(w.document().text(), QStringLiteral("abcd"));
    }

    void highlightFollowsTheWordsHeard() {
        Form1 w;
        w.show();
        w.document().setText(
            QStringLiteral("Hello, wörld.\r\nIt costs $1,234.56 today! Smile 😀 now."));
        w.Command5->click();
        w.Command1->click();
        const QStringList words = wordsHighlighted(w);
        QCOMPARE(words, (QStringList{"Hello", "wörld", "It", "costs", "$1,234.56", "today", "Smile",
                                     "😀", "now"}));
        // Speech over: the highlight is gone.
        QVERIFY(!w.readMode().wordHighlight());
        QVERIFY(!w.readMode().sentenceHighlight());
    }

    void sentenceIsShadedAroundTheWord() {
        Form1 w;
        w.show();
        w.document().setText(
            QStringLiteral("First sentence here. Second one is longer than that."));
        w.Command5->click();
        w.Command1->click();
        QTRY_VERIFY_WITH_TIMEOUT(highlighted(w) == QStringLiteral("longer"), 15000);
        const auto sentence = w.readMode().sentenceHighlight();
        QVERIFY(sentence);
        QCOMPARE(w.Text1->toPlainText().mid(sentence->offset, sentence->length),
                 QStringLiteral("Second one is longer than that."));
        w.Command3->click();
    }

    void spacePausesAndFreezesEscapeStops() {
        Form1 w;
        w.show();
        w.document().setText(kLong);
        w.Command5->click();
        w.Command1->click();
        // The highlight moving with the speech, past its first word, before the pause.
        QTRY_VERIFY_WITH_TIMEOUT(
            !highlighted(w).isEmpty() && highlighted(w) != QStringLiteral("The"), 10000);
        w.Text1->setFocus();
        QTest::keyClick(w.Text1, Qt::Key_Space);
        QCOMPARE(w.Command2->text(), QStringLiteral("RES")); // through the button's own path
        // The pause takes hold at the sound server; from then on the word heard stays put.
        QTest::qWait(200);
        const auto frozen = w.readMode().wordHighlight();
        QVERIFY(frozen);
        QTest::qWait(800); // and stays put while paused
        QCOMPARE(w.readMode().wordHighlight(), frozen);
        QCOMPARE(w.document().text(), kLong); // Space typed nothing
        QTest::keyClick(w.Text1, Qt::Key_Space);
        QCOMPARE(w.Command2->text(), QStringLiteral("||"));
        QTRY_VERIFY_WITH_TIMEOUT(w.readMode().wordHighlight() != frozen, 10000);
        QTest::keyClick(w.Text1, Qt::Key_Escape);
        QTRY_VERIFY(!w.readMode().wordHighlight());
        QVERIFY(!w.talker().isSpeaking());
    }

    void clickReadsFromTheWord() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        // A line separator (Shift+Enter) is one position in the widget, two in the spoken text.
        w.document().setText(QStringLiteral("Alpha beta\u2028gamma.\r\nDelta epsilon zeta eta."));
        w.Command5->click();
        const auto pointAt = [&w](const QString &word, int into) {
            QTextCursor c(w.Text1->document());
            c.setPosition(w.Text1->document()->toRawText().indexOf(word) + into);
            return w.Text1->cursorRect(c).center();
        };
        // A drag selects and a modified click extends the selection: neither reads.
        QWidget *view = w.Text1->viewport();
        QTest::mousePress(view, Qt::LeftButton, {}, pointAt(QStringLiteral("Alpha"), 0));
        QTest::mouseMove(view, pointAt(QStringLiteral("gamma"), 3));
        QTest::mouseRelease(view, Qt::LeftButton, {}, pointAt(QStringLiteral("gamma"), 3));
        QVERIFY(w.Text1->textCursor().hasSelection());
        QTest::mouseClick(view, Qt::LeftButton, Qt::ShiftModifier,
                          pointAt(QStringLiteral("zeta"), 1));
        QTest::qWait(100); // time for reading to start, which it must not
        QVERIFY(!w.talker().isSpeaking());
        QVERIFY(w.Text1->textCursor().selectedText().endsWith(QLatin1Char('z')));
        // A click in the middle of "epsilon", on the second line.
        QTest::mouseClick(view, Qt::LeftButton, {}, pointAt(QStringLiteral("epsilon"), 3));
        const QStringList words = wordsHighlighted(w);
        QVERIFY(!words.isEmpty());
        QCOMPARE(words.first(), QStringLiteral("epsilon"));
        QCOMPARE(words, (QStringList{"epsilon", "zeta", "eta"}));
    }

    void pickedUpAfterSpeakingUnlessEdited() {
        Form1 w;
        w.show();
        w.document().setText(kLong);
        w.Command1->click(); // Read Mode off
        // A word is being heard when Read Mode is turned on.
        QTRY_VERIFY_WITH_TIMEOUT(realTalker(w).currentWord().has_value(), 10000);
        w.Command5->click();
        QTRY_VERIFY_WITH_TIMEOUT(!highlighted(w).isEmpty(), 3000);
        w.Command5->click(); // off again: the highlight goes
        QVERIFY(!w.readMode().wordHighlight());
        QVERIFY(w.Text1->extraSelections().isEmpty());
        // An edit makes the spoken offsets meaningless: nothing is highlighted any more.
        w.Text1->moveCursor(QTextCursor::End);
        w.Text1->insertPlainText(QStringLiteral(" more"));
        w.Command5->click();
        QTest::qWait(300); // a dozen polls: none may highlight
        QVERIFY(!w.readMode().wordHighlight());
        w.Command3->click();
    }

    void testSentenceIsNeverHighlighted() {
        Form1 w;
        w.show();
        w.document().setText(QStringLiteral("This is a test of the diction settings."));
        w.Command5->click();
        // What "Test Settings" does; the same words as the document must not fool the highlight.
        w.talker().speakPreview(QStringLiteral("This is a test of the diction settings."));
        QTRY_VERIFY_WITH_TIMEOUT(realTalker(w).firstFrameNs() != 0, 5000);
        while (w.talker().isSpeaking()) {
            QVERIFY(!w.readMode().wordHighlight());
            QTest::qWait(20);
        }
    }

    void userScrollingIsRespected() {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QString text;
        for (int i = 0; i < 60; ++i)
            text += QStringLiteral("Line %1 of the story goes on.\r\n").arg(i);
        w.document().setText(text);
        w.Command5->click();
        // Start near the end, so the view has to follow the speech down.
        const qsizetype at = w.Text1->toPlainText().indexOf(QStringLiteral("Line 50"));
        w.readMode().readFrom(at);
        QTRY_VERIFY_WITH_TIMEOUT(!highlighted(w).isEmpty(), 5000);
        QTRY_VERIFY(w.Text1->verticalScrollBar()->value() > 0);
        QVERIFY(w.readMode().isFollowingView());
        w.Text1->verticalScrollBar()->setValue(0); // the user looks at the top
        QVERIFY(!w.readMode().isFollowingView());
        // The speech goes on meanwhile.
        QTest::qWait(600);
        QCOMPARE(w.Text1->verticalScrollBar()->value(), 0); // not pulled back
        w.Command3->click();
    }
};

PARLIVO_TEST_MAIN(TestReadMode)
#include "tst_readmode.moc"
