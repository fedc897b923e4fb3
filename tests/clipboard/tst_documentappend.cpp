// DocumentText::append must leave the widget exactly as setting the joined text would, only
// faster: same text and lines, same wrap mode, caret at the start and no undo history.
#include "DocumentText.h"

#include <QPlainTextEdit>
#include <QTest>

class TestDocumentAppend : public QObject {
    Q_OBJECT
private slots:
    void appendMatchesSettingTheJoinedText_data() {
        QTest::addColumn<QString>("old");
        QTest::addColumn<QString>("more");
        QTest::addColumn<bool>("wrapAnywhere");
        const QString run(3000, QLatin1Char('x'));
        QTest::newRow("same line") << "abc"
                                   << "def" << false;
        QTest::newRow("CRLF lines") << "a\r\nb"
                                    << "c\r\nd" << false;
        QTest::newRow("LF lines, trailing break") << "a\r\nb"
                                                  << "c\nd\n"
                                                  << false;
        QTest::newRow("lone CR") << "a"
                                 << "b\rc" << false;
        QTest::newRow("only a break") << "a"
                                      << "\r\n"
                                      << false;
        QTest::newRow("onto an empty last line") << "a\r\n"
                                                 << "\r\nb" << false;
        QTest::newRow("onto nothing") << ""
                                      << "x\r\n"
                                      << false;
        QTest::newRow("run continued across the join") << "a " + run << run + " b" << true;
        QTest::newRow("runs split at the join") << "a " + run + " " << run << false;
        QTest::newRow("long run in the old text") << run + run << "short" << true;
        QTest::newRow("long run added") << "short " << run + run << true;
    }
    void appendMatchesSettingTheJoinedText() {
        QFETCH(QString, old);
        QFETCH(QString, more);
        QFETCH(bool, wrapAnywhere);
        QPlainTextEdit setEdit;
        DocumentText setDoc(setEdit);
        setDoc.setText(old + more);

        // The old text arrives as an edit, the way a user's typing does: undoable, caret at the
        // end, and the wrap mode still the one chosen for the empty text.
        QPlainTextEdit appendEdit;
        DocumentText appendDoc(appendEdit);
        appendDoc.setText(QString());
        appendEdit.insertPlainText(old);
        appendDoc.append(more);

        QCOMPARE(appendDoc.text(), setDoc.text());
        QCOMPARE(appendEdit.blockCount(), setEdit.blockCount());
        QCOMPARE(appendEdit.wordWrapMode(), setEdit.wordWrapMode());
        QCOMPARE(appendEdit.wordWrapMode() == QTextOption::WrapAnywhere, wrapAnywhere);
        QCOMPARE(appendEdit.textCursor().position(), 0);
        QVERIFY(!appendEdit.textCursor().hasSelection());
        QVERIFY(!appendEdit.document()->isUndoAvailable());
    }
};

QTEST_MAIN(TestDocumentAppend)
#include "tst_documentappend.moc"
