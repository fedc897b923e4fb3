// File > Open Document and File > Save Document on the real window, with the real (non-native)
// file dialog driven as a user would, and real files.
#include "DocumentText.h"
#include "Form1.h"
#include "MessageBoxes.h"
#include "TestMain.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <sys/fsuid.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The main window with a menu command that answers its modal windows: the file dialog with a
// file name (Cancel if empty), each message box with OK, keeping what was shown.
class Window : public QObject {
public:
    Window() {
        form.CommonDialog1->setOption(QFileDialog::DontUseNativeDialog);
        connect(&m_timer, &QTimer::timeout, this, &Window::answer);
    }
    QList<ShownBox> open(const QString &file) { return run(form.mnuItemOpenDocument, file); }
    QList<ShownBox> save(const QString &file) { return run(form.mnuItemSaveDocument, file); }
    DocumentText &document() { return form.document(); }

    Form1 form;
    int dialogs = 0;
    QFileDialog::AcceptMode acceptMode = QFileDialog::AcceptOpen;
    QFileDialog::FileMode fileMode = QFileDialog::AnyFile;

private:
    QList<ShownBox> run(QAction *command, const QString &file) {
        m_file = file;
        m_boxes.clear();
        m_answered = false;
        m_timer.start(10);
        command->trigger();
        m_timer.stop();
        return m_boxes;
    }
    void answer() {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            m_boxes.append(answerBox(box));
        } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
            ++dialogs;
            acceptMode = dialog->acceptMode();
            fileMode = dialog->fileMode();
            // Seen again: the dialog refused the name (its own box is in m_boxes); give up.
            if (std::exchange(m_answered, true) || m_file.isEmpty()) {
                dialog->reject();
                return;
            }
            dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(m_file);
            // As pressing Open or Save: QFileDialog's own accept() checks the name first.
            static_cast<QDialog *>(dialog)->accept();
        }
    }
    QTimer m_timer;
    QString m_file;
    bool m_answered = false;
    QList<ShownBox> m_boxes;
};

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray contents(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A file made elsewhere, kept beside this test.
QByteArray fixture(const char *name) {
    return contents(QStringLiteral(PARLIVO_TEST_DATA "/") + QLatin1String(name));
}

// data/letter.doc with bits of a 16-bit field of its FIB kept by `keep`, then `set`. The FIB
// starts the WordDocument stream, the one sector to start with 0xA5EC.
QByteArray letterWithFib(int at, quint16 keep, quint16 set) {
    QByteArray doc = fixture("letter.doc");
    for (qsizetype sector = 512; sector + 512 <= doc.size(); sector += 512) {
        if (doc.mid(sector, 2) == "\xEC\xA5") {
            const int old = quint8(doc[sector + at]) | quint8(doc[sector + at + 1]) << 8;
            const int value = (old & keep) | set;
            doc[sector + at] = char(value & 0xFF);
            doc[sector + at + 1] = char(value >> 8);
        }
    }
    return doc;
}

constexpr uid_t kNobody = 65534;

const QString kSaved = QStringLiteral(
    "Your file(s) has been successfully saved. You can now run the client with your new "
    "settings.");

} // namespace

class TestDocumentFiles : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void openAppendsEveryLine() {
        writeFile(path("list.txt"), "a,b\r\n  \"q\", 12\n\nlast");
        writeFile(path("empty.txt"), {});
        Window w;
        QCOMPARE(w.open(path("list.txt")).size(), 0);
        QCOMPARE(w.acceptMode, QFileDialog::AcceptOpen);
        QCOMPARE(w.fileMode, QFileDialog::ExistingFile);
        const QString lines = QStringLiteral("\r\na,b\r\n  \"q\", 12\r\n\r\nlast");
        QCOMPARE(w.document().text(), lines);
        w.open(path("list.txt"));
        QCOMPARE(w.document().text(), lines + lines);
        QCOMPARE(w.open(path("empty.txt")).size(), 0);
        QCOMPARE(w.document().text(), lines + lines);
    }

    // Characters reach the file, the clipboard and the window again exactly as the user sees
    // them: every line break as "\r\n", everything else untouched, however it was typed.
    void charactersSurviveSaveOpenAndCopy_data() {
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<bool>("shiftEnter"); // typed "a", Shift+Enter, "b" before the paste
        QTest::addColumn<QString>("document");
        const auto row = [](const char *name, const QString &pasted, const QString &document,
                            bool shiftEnter = false) {
            QTest::newRow(name) << pasted << shiftEnter << document;
        };
        row("no-break space", QStringLiteral("three\u00A0nb"), QStringLiteral("three\u00A0nb"));
        row("tab", QStringLiteral("a\tb"), QStringLiteral("a\tb"));
        row("zero-width no-break space", QStringLiteral("a\uFEFFb"), QStringLiteral("a\uFEFFb"));
        row("line separator pasted", QStringLiteral("a\u2028b"), QStringLiteral("a\r\nb"));
        row("line separator typed", QString(), QStringLiteral("a\r\nb"), true);
        row("paragraph separator", QStringLiteral("a\u2029b"), QStringLiteral("a\r\nb"));
        row("lone CR", QStringLiteral("a\rb"), QStringLiteral("a\r\nb"));
        row("LF", QStringLiteral("a\nb"), QStringLiteral("a\r\nb"));
        row("word longer than a block", QString(5000, u'w'), QString(5000, u'w'));
    }
    void charactersSurviveSaveOpenAndCopy() {
        QFETCH(QString, pasted);
        QFETCH(bool, shiftEnter);
        QFETCH(QString, document);
        Window w;
        QPlainTextEdit *text = w.form.Text1;
        if (shiftEnter) {
            QTest::keyClicks(text, QStringLiteral("a"));
            QTest::keyClick(text, Qt::Key_Return, Qt::ShiftModifier);
            QTest::keyClicks(text, QStringLiteral("b"));
        }
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(text, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w.document().text(), document);

        text->selectAll();
        w.form.mnuItemCopy->trigger();
        QCOMPARE(QGuiApplication::clipboard()->text(), document);
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QGuiApplication::clipboard()->text(), document);

        const QString file = path(QStringLiteral("chars-%1.txt").arg(QTest::currentDataTag()));
        QCOMPARE(w.save(file).size(), 1);
        QCOMPARE(contents(file), document.toUtf8() + "\r\n");
        // Opening adds the file's lines and leaves the text already there as it was.
        QCOMPARE(w.open(file).size(), 0);
        QCOMPARE(w.document().text(), document + "\r\n" + document);
    }

    // Files that are not plain UTF-8 go through the document reader: their text is appended as
    // lines like any other, and what cannot be read says why and leaves the text alone.
    void openReadsOtherDocuments_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("added");  // after "kept"; empty: nothing may be added
        QTest::addColumn<QString>("reason"); // in the box, if one must show
        // "Привет, мир! Это проверка кодировки." and "Вторая строка." in Windows-1251.
        QTest::newRow("Windows-1251")
            << "letter.txt"
            << QByteArray("\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0! \xdd\xf2\xee "
                          "\xef\xf0\xee\xe2\xe5\xf0\xea\xe0 \xea\xee\xe4\xe8\xf0\xee\xe2\xea\xe8."
                          "\r\n\xc2\xf2\xee\xf0\xe0\xff \xf1\xf2\xf0\xee\xea\xe0.")
            << QStringLiteral("\r\nПривет, мир! Это проверка кодировки.\r\nВторая строка.")
            << QString();
        QTest::newRow("SRT") << "film.srt"
                             << QByteArray("1\n00:00:01,000 --> 00:00:02,000\nOne.\n\n2\n"
                                           "00:00:03,000 --> 00:00:04,000\nTwo,\nthree.\n")
                             << QStringLiteral("\r\nOne.\r\nTwo, three.") << QString();
        QTest::newRow("HTML named .txt")
            << "page.txt"
            << QByteArray("<!DOCTYPE html><title>Not read</title><h1>News</h1><p>Caf&eacute; "
                          "opens.<script>x()</script><ul><li>tea<li>cake</ul>")
            << QStringLiteral("\r\nNews\r\nCafé opens.\r\n• tea\r\n• cake") << QString();
        // Two letters of KOI8-R tell nothing by themselves: the page's declaration does.
        QTest::newRow("HTML declaring its encoding")
            << "page.html"
            << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=KOI8-R\">"
                          "<p>\xe4\xc1!</p>")
            << QStringLiteral("\r\nДа!") << QString();
        QTest::newRow("Markdown") << "notes.md" << QByteArray("# To do\n\n1. *Buy* [milk](x)\n")
                                  << QStringLiteral("\r\nTo do\r\n1. Buy milk") << QString();
        QTest::newRow("FB2 entity bomb")
            << "bomb.fb2"
            << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE b [<!ENTITY a \"aaaaaaaaaa\">"
                          "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">]>"
                          "<FictionBook><body><p>&b;</p></body></FictionBook>")
            << QString() << QStringLiteral("damaged");
        QTest::newRow("a broken PDF")
            << "paper.txt" << QByteArray("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n") << QString()
            << QStringLiteral("The file is damaged or incomplete");
        QTest::newRow("RTF") << "letter.txt" << QByteArray("{\\rtf1\\ansi Caf\\'e9.\\par Two.}")
                             << QStringLiteral("\r\nCafé.\r\nTwo.") << QString();
        // Made by a word processor from data/letter.md, which put the two items in lists of
        // their own: it numbers both "1." as well.
        const QString letter = QStringLiteral(
            "\r\nThe Lighthouse Keeper\r\nThe keeper climbed the stairs every evening at dusk, "
            "long before the ships appeared on the horizon, and lit the lamp that had burned for "
            "ninety years. Café, naïve, Ærø, Привет.\r\n%1Supplies\r\n%2Oil for the lamp\r\n"
            "%2Bread and cheese\r\nItem, Count\r\nCandles, 12\r\nMatches, 40\r\nThe last "
            "paragraph closes the letter.%3");
        QTest::newRow("Word 97") << "letter.doc" << fixture("letter.doc")
                                 << letter.arg(QStringLiteral("Built in 1885.\r\n"),
                                               QStringLiteral("1. "), QString())
                                 << QString();
        // From data/lists.fodt: text in an 8-bit piece and a UTF-16 one, fields, nested lists.
        QTest::newRow("Word 97 lists and notes")
            << "lists.doc" << fixture("lists.doc")
            << QStringLiteral("\r\nPacking List\r\nThis is page 1 of the list on our site. Pack "
                              "by Friday – or sooner.\r\nChecked twice.\r\nOr Saturday, at the "
                              "latest.\r\n• Rope\r\n• Lantern\r\n1. Food\r\na) Bread\r\n"
                              "b) Cheese\r\ni. Hard\r\nii. Soft\r\n2. Water\r\na) Bottles\r\n"
                              "A well-known route, no detours.")
            << QString();
        // Word 95 and older are left to catdoc, which reads notes last and no list numbers.
        QTest::newRow("Word 95 goes to catdoc")
            << "letter.doc" << letterWithFib(2, 0x0000, 0x0068)
            << letter.arg(QString(), QString(), QStringLiteral("\r\nBuilt in 1885.")) << QString();
        QTest::newRow("password-protected Word 97")
            << "letter.doc" << letterWithFib(10, 0xFFFF, 0x0100) << QString()
            << QStringLiteral("The file is password-protected");
        QTest::newRow("a broken Word file")
            << "letter.doc" << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1 word 97", 17)
            << QString() << QStringLiteral("The file is damaged or incomplete");
    }
    void openReadsOtherDocuments() {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, added);
        QFETCH(QString, reason);
        writeFile(path(name), bytes);
        Window w;
        w.document().setText(QStringLiteral("kept"));
        const QList<ShownBox> boxes = w.open(path(name));
        QCOMPARE(w.document().text(), QStringLiteral("kept") + added);
        QCOMPARE(boxes.size(), reason.isEmpty() ? 0 : 1);
        if (!reason.isEmpty())
            QVERIFY2(boxes[0].text.contains(reason), qPrintable(boxes[0].text));
    }

    // Real documents nobody here wrote, shipped by packages the build installs, read through
    // the window's Open: their first paragraph, one from inside, and many more.
    void opensRealDocuments_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("inside");
        QTest::newRow("ODT: the Sonic paper") << "/usr/share/doc/libsonic-dev/sonic.odt"
                                              << "The Sonic Speech Speedup Algorithm"
                                              << "newSamples = period/(speed - 1.0)";
        // The one PDF the shared-mime-info package ships.
        const QDir mimeInfo(QStringLiteral("/usr/share/doc/shared-mime-info"));
        const QStringList pdfs = mimeInfo.entryList({QStringLiteral("*.pdf")}, QDir::Files);
        QTest::newRow("PDF: the shared MIME-info database document")
            << (pdfs.isEmpty() ? QString() : mimeInfo.filePath(pdfs.first()))
            << "Shared MIME-info Database"
            << "1.1. Version";
    }
    void opensRealDocuments() {
        QFETCH(QString, file);
        QFETCH(QString, first);
        QFETCH(QString, inside);
        if (file.isEmpty() || !QFile::exists(file))
            QSKIP("this system leaves out /usr/share/doc");
        Window w;
        QCOMPARE(w.open(file).size(), 0);
        const QStringList paragraphs = w.document().text().split(QStringLiteral("\r\n"));
        QCOMPARE(paragraphs.value(1), first);
        QVERIFY(paragraphs.contains(inside));
        QVERIFY(paragraphs.size() > 10);
    }

    // A reader that runs too long or dies: the text stays, and the box says what happened.
    void aStuckOrDeadReaderLeavesTheText_data() {
        QTest::addColumn<bool>("kill");
        QTest::addColumn<QString>("reason");
        QTest::newRow("time limit") << false << QStringLiteral("Reading stopped after 2 seconds");
        QTest::newRow("killed") << true << QStringLiteral("stopped unexpectedly");
    }
    void aStuckOrDeadReaderLeavesTheText() {
        QFETCH(bool, kill);
        QFETCH(QString, reason);
        // No document keeps the real reader busy for long any more, so a stand-in of the same
        // name takes its place and never finishes.
        writeFile(path("page.html"), "<p>never read</p>");
        const QString stuck = path("stuck/parlivo-extract");
        QDir().mkpath(path("stuck"));
        writeFile(stuck, "#!/bin/sh\nwhile :; do :; done\n");
        QFile::setPermissions(stuck, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PARLIVO_EXTRACT", QFile::encodeName(stuck));
        qputenv("PARLIVO_EXTRACT_SECONDS", kill ? "60" : "2");
        Window w;
        w.document().setText(QStringLiteral("kept"));
        if (kill)
            QTimer::singleShot(1500, [] {
                QProcess::execute(QStringLiteral("pkill"),
                                  {QStringLiteral("-KILL"), QStringLiteral("-x"),
                                   QStringLiteral("parlivo-extract")});
            });
        const QList<ShownBox> boxes = w.open(path("page.html"));
        qunsetenv("PARLIVO_EXTRACT_SECONDS");
        qunsetenv("PARLIVO_EXTRACT");
        QCOMPARE(w.document().text(), QStringLiteral("kept"));
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains(reason), qPrintable(boxes[0].text));
    }

    void cancelDoesNothing() {
        Window w;
        w.document().setText(QStringLiteral("kept"));
        const QStringList before = QDir(m_dir.path()).entryList(QDir::Files);
        QCOMPARE(w.open({}).size(), 0);
        QCOMPARE(w.save({}).size(), 0);
        QCOMPARE(w.dialogs, 2);
        QCOMPARE(w.document().text(), QStringLiteral("kept"));
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files), before);
    }

    // Files that pass the dialog and still cannot be read; some are swapped in after the dialog
    // accepted the name, as another program could do.
    void openRefusesWithAMessage_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "gone.txt"
                                 << "No such file or directory";
        QTest::newRow("directory") << "dir.txt"
                                   << "Is a directory";
        QTest::newRow("fifo, nobody writing") << "fifo.txt"
                                              << "pipe";
        QTest::newRow("over 256 MiB") << "huge.txt"
                                      << "larger than 256 MiB";
        QTest::newRow("unreadable") << "secret.txt"
                                    << "Permission denied";
    }
    void openRefusesWithAMessage() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        const QString file = path(name);
        if (name == "fifo.txt")
            QVERIFY(::mkfifo(QFile::encodeName(file).constData(), 0600) == 0);
        else
            writeFile(file, "x");
        if (name == "huge.txt")
            QVERIFY(QFile::resize(file, qint64(256) * 1024 * 1024 + 1)); // sparse, no disk used
        if (name == "secret.txt")
            QVERIFY(QFile::setPermissions(file, {}));
        Window w;
        w.document().setText(QStringLiteral("kept"));
        connect(w.form.CommonDialog1, &QFileDialog::filesSelected, this, [&] {
            if (name == "gone.txt" || name == "dir.txt")
                QVERIFY(QFile::remove(file));
            if (name == "dir.txt")
                QVERIFY(QDir().mkdir(file));
            // Root reads any file; as anyone else (for file access, on this thread) the
            // permissions count.
            if (name == "secret.txt")
                ::setfsuid(kNobody);
        });
        const QList<ShownBox> boxes = w.open(file);
        ::setfsuid(::getuid());
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("Parlivo"));
        QVERIFY2(boxes[0].text.contains(file) && boxes[0].text.contains(reason),
                 qPrintable(boxes[0].text));
        QCOMPARE(w.document().text(), QStringLiteral("kept"));
    }

    void saveAppendsAndConfirms() {
        Window w;
        w.document().setText(QStringLiteral("line 1\r\nline 2"));
        const QString file = path("saved.txt");
        const QList<ShownBox> boxes = w.save(file);
        QCOMPARE(w.acceptMode, QFileDialog::AcceptSave);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("Parlivo"));
        QCOMPARE(boxes[0].text, kSaved);
        QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
        QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QCOMPARE(contents(file), QByteArray("line 1\r\nline 2\r\n"));
        // An existing file is added to, without asking whether to replace it.
        QCOMPARE(w.save(file).size(), 1);
        QCOMPARE(contents(file), QByteArray("line 1\r\nline 2\r\nline 1\r\nline 2\r\n"));
        QCOMPARE(w.document().text(), QStringLiteral("line 1\r\nline 2"));

        writeFile(path("other.txt"), "old data");
        for (const QString &text : {QString(), QStringLiteral("end\r\n")}) {
            w.document().setText(text);
            const QList<ShownBox> confirmed = w.save(path("other.txt"));
            QCOMPARE(confirmed.size(), 1);
            QCOMPARE(confirmed[0].text, kSaved);
        }
        QCOMPARE(contents(path("other.txt")), QByteArray("old data\r\nend\r\n\r\n"));
    }

    void saveFailureLeavesTheFile() {
        Window w;
        w.document().setText(QStringLiteral("some text that will not fit"));
        const QString nowhere = path("no such folder/out.txt");
        QList<ShownBox> boxes = w.save(nowhere);
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].title, QStringLiteral("Parlivo"));
        QVERIFY(boxes[0].text.contains(nowhere) &&
                boxes[0].text.contains("No such file or directory"));
        QVERIFY(!QFileInfo::exists(path("no such folder")));

        // The kernel cuts the write short and then fails it, as on a full disk.
        const QString file = path("limited.txt");
        writeFile(file, "0123456789");
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        rlimit limit = saved;
        limit.rlim_cur = 14;
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        QVERIFY(::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        boxes = w.save(file);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QCOMPARE(boxes.size(), 1);
        QVERIFY2(boxes[0].text.contains(file) && boxes[0].text.contains("too large"),
                 qPrintable(boxes[0].text));
        QCOMPARE(contents(file), QByteArray("0123456789"));
    }

    // What Open reads, Save writes back: a line end in front of every line and one at the end.
    void roundTrip_data() {
        QTest::addColumn<QByteArray>("original");
        QTest::addColumn<QByteArray>("saved");
        QTest::newRow("lf, no last line end")
            << QByteArray("Cr\xC3\xA8me br\xC3\xBBl\xC3\xA9\x65\n\xF0\x9F\x98\x80 \"x, y\"\n\n  z")
            << QByteArray("\r\nCr\xC3\xA8me br\xC3\xBBl\xC3\xA9\x65\r\n\xF0\x9F\x98\x80 \"x, "
                          "y\"\r\n\r\n  z\r\n");
        QTest::newRow("bom and crlf") << QByteArray("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9\r\n\r\n")
                                      << QByteArray("\r\n\xC3\xA9t\xC3\xA9\r\n\r\n");
    }
    void roundTrip() {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, saved);
        writeFile(path("in.txt"), original);
        QFile::remove(path("out.txt"));
        Window w;
        QCOMPARE(w.open(path("in.txt")).size(), 0);
        QCOMPARE(w.save(path("out.txt")).size(), 1);
        QCOMPARE(contents(path("out.txt")), saved);
    }
};

PARLIVO_TEST_MAIN(TestDocumentFiles)
#include "tst_documentfiles.moc"
