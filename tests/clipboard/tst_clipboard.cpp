// Edit > Copy and Edit > Paste on the real window and the real (in-process) clipboard, and the
// DocumentText::append that Paste is built on. The window speaks through a fake engine: these
// tests are about the text, and ">" only has to be handed exactly what was pasted.
#include "DocumentText.h"
#include "FakeEngine.h"
#include "Form1.h"
#include "TestMain.h"

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>

#include <ctime>
#include <memory>

namespace {

void select(QPlainTextEdit *edit, int anchor, int position) {
    QTextCursor cursor(edit->document());
    cursor.setPosition(anchor);
    cursor.setPosition(position, QTextCursor::KeepAnchor);
    edit->setTextCursor(cursor);
}

QClipboard &board() {
    return *QGuiApplication::clipboard();
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        auto engine = std::make_unique<FakeEngine>();
        m_engine = engine.get();
        m_form = std::make_unique<Form1>(std::move(engine));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    void cleanupTestCase() { m_form.reset(); }

    void copyPutsTheSelectionInCrlfForm_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("expected");
        QTest::newRow("across lines") << "one\r\ntwo\r\nthree" << 1 << 9 << "ne\r\ntwo\r\nt";
        QTest::newRow("selected backwards") << "one\r\ntwo" << 5 << 2 << "e\r\nt";
        QTest::newRow("ending in a break") << "a\r\n" << 0 << 2 << "a\r\n";
        QTest::newRow("nothing selected") << "one\r\ntwo" << 2 << 2 << "";
        QTest::newRow("non-ASCII and emoji") << "Grüße 😀\r\nčaj" << 0 << 12 << "Grüße 😀\r\nčaj";
    }
    void copyPutsTheSelectionInCrlfForm() {
        QFETCH(QString, text);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, expected);
        board().setText(QStringLiteral("stale"));
        m_form->document().setText(text);
        select(m_form->Text1, anchor, position);
        m_form->mnuItemCopy->trigger();
        QCOMPARE(board().text(), expected);
        QCOMPARE(m_form->document().text(), text);
    }

    void pasteAddsAtTheVeryEnd_data() {
        QTest::addColumn<QString>("old");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const char *old, int anchor, int position,
                            const char *clip, const char *expected) {
            QTest::newRow(name) << QString::fromUtf8(old) << anchor << position
                                << QString::fromUtf8(clip) << QString::fromUtf8(expected);
        };
        row("same line", "abc", 0, 0, "def", "abcdef");
        row("caret in the middle", "one\r\ntwo", 2, 2, "XY", "one\r\ntwoXY");
        row("selection kept", "one\r\ntwo", 0, 5, "XY", "one\r\ntwoXY");
        row("CRLF", "a", 1, 1, "b\r\nc\r\n", "ab\r\nc\r\n");
        row("LF", "a", 1, 1, "b\nc\n", "ab\r\nc\r\n");
        row("lone CR", "a", 1, 1, "b\rc", "ab\r\nc");
        row("onto an empty document", "", 0, 0, " x ", " x ");
        row("non-ASCII and emoji", "Grüße", 0, 0, " 😀\r\nčaj", "Grüße 😀\r\nčaj");
    }
    void pasteAddsAtTheVeryEnd() {
        QFETCH(QString, old);
        QFETCH(int, anchor);
        QFETCH(int, position);
        QFETCH(QString, clip);
        QFETCH(QString, expected);
        m_form->document().setText(old);
        select(m_form->Text1, anchor, position);
        board().setText(clip);
        m_form->mnuItemPaste->trigger();
        QCOMPARE(m_form->document().text(), expected);
        QCOMPARE(board().text(), clip);
        // ">" speaks what the user sees now, old text and pasted text alike, to the end.
        m_form->Command1->click();
        QCOMPARE(m_engine->requests.constLast().text, expected);
        QTRY_COMPARE(m_engine->state(), speech::Engine::State::Idle);
    }

    void pasteWithoutTextLeavesEverythingAlone() {
        auto *imageOnly = new QMimeData;
        imageOnly->setData(QStringLiteral("image/png"), QByteArray("\x89PNG\r\n\x1a\n", 8));
        for (QMimeData *data : {static_cast<QMimeData *>(nullptr), imageOnly}) {
            board().clear();
            if (data)
                board().setMimeData(data);
            m_form->document().setText(QStringLiteral("one\r\ntwo"));
            select(m_form->Text1, 1, 6);
            m_form->mnuItemPaste->trigger();
            QCOMPARE(m_form->document().text(), QStringLiteral("one\r\ntwo"));
            // Setting the text would have moved the caret to the start.
            QCOMPARE(m_form->Text1->textCursor().anchor(), 1);
            QCOMPARE(m_form->Text1->textCursor().position(), 6);
        }
    }

    void copyThenPasteAddsASecondCopy() {
        const QString text = QStringLiteral("Grüße\r\nzweite 😀 Zeile\r\nEnde");
        m_form->document().setText(text);
        select(m_form->Text1, 3, 21);
        m_form->mnuItemCopy->trigger();
        m_form->mnuItemPaste->trigger();
        QCOMPARE(m_form->document().text(), text + QStringLiteral("ße\r\nzweite 😀 Zeile"));
    }

    // append must leave the widget exactly as setting the joined text would, only faster.
    void appendMatchesSettingTheJoinedText_data() {
        QTest::addColumn<QString>("old");
        QTest::addColumn<QString>("more");
        const QString run(3000, QLatin1Char('x'));
        const auto row = [](const char *name, const QString &old, const QString &more) {
            QTest::newRow(name) << old << more;
        };
        row("same line", "abc", "def");
        row("CRLF lines", "a\r\nb", "c\r\nd");
        row("LF lines, trailing break", "a\r\nb", "c\nd\n");
        row("lone CR", "a", "b\rc");
        row("only a break", "a", "\r\n");
        row("onto an empty last line", "a\r\n", "\r\nb");
        row("onto nothing", "", "x\r\n");
        row("run continued across the join", "a " + run, run + " b");
        row("runs split at the join", "a " + run + " ", run);
        row("long run in the old text", run + run, "short");
        row("long run added", "short ", run + run);
    }
    void appendMatchesSettingTheJoinedText() {
        QFETCH(QString, old);
        QFETCH(QString, more);
        QPlainTextEdit setEdit;
        DocumentText setDoc(setEdit);
        setDoc.setText(old + more);

        // The old text arrives as an edit, the way a user's typing does: undoable, caret at the
        // end, in one block however long.
        QPlainTextEdit appendEdit;
        DocumentText appendDoc(appendEdit);
        appendDoc.setText(QString());
        appendEdit.insertPlainText(old);
        const int oldBlocks = appendEdit.blockCount();
        appendDoc.append(more);

        QCOMPARE(appendDoc.text(), setDoc.text());
        // Every block the added text went into stays short enough to lay out quickly.
        for (QTextBlock b = appendEdit.document()->findBlockByNumber(oldBlocks); b.isValid();
             b = b.next())
            QVERIFY(b.length() <= DocumentText::kMaxRun + 3);
        QCOMPARE(appendEdit.textCursor().position(), 0);
        QVERIFY(!appendEdit.textCursor().hasSelection());
        QVERIFY(!appendEdit.document()->isUndoAvailable());
    }

    // Reports how long a 20 MB paste holds the window; bench/ owns the target.
    void pasteOfTwentyMegabytes() {
        const QString line =
            QStringLiteral("The quick brown fox jumps over the lazy dog, again.\r\n");
        QString clip;
        while (clip.size() < 20 * 1024 * 1024)
            clip += line;
        const QString old = QStringLiteral("Before the paste.");
        m_form->document().setText(old);
        board().setText(clip);
        // CPU time too: the wall clock counts whatever else the machine is doing.
        const std::clock_t cpu = std::clock();
        QElapsedTimer wall;
        wall.start();
        m_form->mnuItemPaste->trigger();
        qInfo("20 MB paste (%lld lines): %lld ms, %lld ms CPU", qint64(clip.size() / line.size()),
              wall.elapsed(), qint64((std::clock() - cpu) * 1000 / CLOCKS_PER_SEC));
        const QString text = m_form->document().text();
        QCOMPARE(text.size(), old.size() + clip.size());
        QVERIFY(text.startsWith(old + line));
        QVERIFY(text.endsWith(line + line));
    }

private:
    std::unique_ptr<Form1> m_form;
    FakeEngine *m_engine = nullptr; // owned by the window
};

PARLIVO_TEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
