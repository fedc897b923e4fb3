// Edit > Copy and Edit > Paste on the real window and the real (in-process) clipboard.
#include "DocumentText.h"
#include "Form1.h"

#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>

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
        m_form = std::make_unique<Form1>();
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
        QTest::newRow("same line") << "abc" << 0 << 0 << "def"
                                   << "abcdef";
        QTest::newRow("caret in the middle") << "one\r\ntwo" << 2 << 2 << "XY"
                                             << "one\r\ntwoXY";
        QTest::newRow("selection kept") << "one\r\ntwo" << 0 << 5 << "XY"
                                        << "one\r\ntwoXY";
        QTest::newRow("CRLF") << "a" << 1 << 1 << "b\r\nc\r\n"
                              << "ab\r\nc\r\n";
        QTest::newRow("LF") << "a" << 1 << 1 << "b\nc\n"
                            << "ab\r\nc\r\n";
        QTest::newRow("lone CR") << "a" << 1 << 1 << "b\rc"
                                 << "ab\r\nc";
        QTest::newRow("onto an empty document") << "" << 0 << 0 << " x "
                                                << " x ";
        QTest::newRow("non-ASCII and emoji") << "Grüße" << 0 << 0 << " 😀\r\nčaj"
                                             << "Grüße 😀\r\nčaj";
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
    }

    void pasteWithoutTextLeavesEverythingAlone_data() {
        QTest::addColumn<bool>("image");
        QTest::newRow("empty clipboard") << false;
        QTest::newRow("image only") << true;
    }
    void pasteWithoutTextLeavesEverythingAlone() {
        QFETCH(bool, image);
        board().clear();
        if (image) {
            auto *data = new QMimeData;
            data->setData(QStringLiteral("image/png"), QByteArray("\x89PNG\r\n\x1a\n", 8));
            board().setMimeData(data);
        }
        m_form->document().setText(QStringLiteral("one\r\ntwo"));
        select(m_form->Text1, 1, 6);
        m_form->mnuItemPaste->trigger();
        QCOMPARE(m_form->document().text(), QStringLiteral("one\r\ntwo"));
        // Setting the text would have moved the caret to the start.
        QCOMPARE(m_form->Text1->textCursor().anchor(), 1);
        QCOMPARE(m_form->Text1->textCursor().position(), 6);
    }

    void copyThenPasteAddsASecondCopy() {
        const QString text = QStringLiteral("Grüße\r\nzweite 😀 Zeile\r\nEnde");
        m_form->document().setText(text);
        select(m_form->Text1, 3, 21);
        m_form->mnuItemCopy->trigger();
        m_form->mnuItemPaste->trigger();
        QCOMPARE(m_form->document().text(), text + QStringLiteral("ße\r\nzweite 😀 Zeile"));
    }

    // Only the menu entries paste at the end; the text area's own keys work on the caret.
    void textAreaKeysKeepTheirOwnBehaviour() {
        m_form->document().setText(QStringLiteral("one\r\ntwo"));
        select(m_form->Text1, 2, 5);
        QTest::keyClick(m_form->Text1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(board().text(), QStringLiteral("e\nt"));
        select(m_form->Text1, 0, 1);
        QTest::keyClick(m_form->Text1, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(m_form->document().text(), QStringLiteral("e\r\ntne\r\ntwo"));
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
        const std::clock_t cpuStart = std::clock();
        QElapsedTimer timer;
        timer.start();
        m_form->mnuItemPaste->trigger();
        const qint64 pasted = timer.elapsed();
        const auto cpu = qint64((std::clock() - cpuStart) * 1000 / CLOCKS_PER_SEC);
        QCoreApplication::processEvents();
        qInfo("20 MB paste (%lld lines): %lld ms in the handler (%lld ms CPU), %lld ms with the "
              "repaint",
              qint64(clip.size() / line.size()), pasted, cpu, qint64(timer.elapsed()));
        const QString text = m_form->document().text();
        QCOMPARE(text.size(), old.size() + clip.size());
        QVERIFY(text.startsWith(old + line));
        QVERIFY(text.endsWith(line + line));
    }

private:
    std::unique_ptr<Form1> m_form;
};

QTEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
