// Below the window: decoding a file's bytes and appending its lines to the document, and
// appending to a file when a write fails half way or is refused, and reading a file that changes
// while it is read. Missing, unreadable and
// oversized files, FIFOs and a real short write are tested through the window.
#include "DocumentIo.h"
#include "FileAccess.h"
#include "TextDecoding.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

QByteArray bytes(const char *data, qsizetype size) {
    return QByteArray(data, size);
}

// Straightforward version of the line rules, to compare the in-place one against.
QString appendedSlowly(QString document, const QString &decoded) {
    if (decoded.isEmpty())
        return document;
    QStringList lines = decoded.split(QRegularExpression(QStringLiteral("\r\n|\n|\r")));
    if (lines.size() > 1 && lines.constLast().isEmpty())
        lines.removeLast();
    for (QString &line : lines)
        document += QLatin1String("\r\n") + line.replace(QChar(0), QChar::ReplacementCharacter);
    return document;
}

} // namespace

class TestDocumentIo : public QObject {
    Q_OBJECT
private slots:
    void decoding_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("utf-8 accents and emoji")
            << QByteArray("caf\xC3\xA9 \xF0\x9F\x98\x80") << QStringLiteral("café 😀");
        QTest::newRow("utf-8 bom dropped")
            << QByteArray("\xEF\xBB\xBFna\xC3\xAFve") << QStringLiteral("naïve");
        QTest::newRow("only the first bom is a mark")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx") << QStringLiteral("\uFEFFx");
        QTest::newRow("utf-16le bom")
            << bytes("\xFF\xFEh\0\xE9\0=\xD8\0\xDE", 10) << QStringLiteral("hé😀");
        QTest::newRow("utf-16be bom")
            << bytes("\xFE\xFF\0h\0\xE9\xD8=\xDE\0", 10) << QStringLiteral("hé😀");
        QTest::newRow("utf-16le odd last byte")
            << bytes("\xFF\xFEh\0i", 5) << QStringLiteral("h\uFFFD");
        QTest::newRow("utf-8 bom keeps utf-8 despite a bad byte")
            << QByteArray("\xEF\xBB\xBFo\xFFk") << QStringLiteral("o\uFFFDk");
        QTest::newRow("0x80 is euro") << QByteArray("\x80 5") << QStringLiteral("€ 5");
        QTest::newRow("0xE9 is e acute") << QByteArray("caf\xE9") << QStringLiteral("café");
        QTest::newRow("one bad byte makes the whole file cp1252")
            << QByteArray("\xC3\xA9 \xE9") << QStringLiteral("Ã© é");
        QTest::newRow("cut-off sequence at the end")
            << QByteArray("ab\xC3") << QStringLiteral("abÃ");
        QTest::newRow("cp1252 high table and undefined bytes")
            << QByteArray("\x81\x8A\x9F\x99\xA0\xFF") << QStringLiteral("\u0081Š\u0178™\u00A0ÿ");
    }
    void decoding() {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        QCOMPARE(documents::decodeText(file), text);
    }

    void appendingLines_data() {
        QTest::addColumn<QString>("document");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("expected");
        QTest::newRow("line kept as it stands")
            << QStringLiteral("x") << QByteArray("a,b") << QStringLiteral("x\r\na,b");
        QTest::newRow("quotes, spaces and digits untouched")
            << QString() << QByteArray("  \"1,2\", 3 ,\n\t0042 ")
            << QStringLiteral("\r\n  \"1,2\", 3 ,\r\n\t0042 ");
        QTest::newRow("into an empty text")
            << QString() << QByteArray("abc") << QStringLiteral("\r\nabc");
        QTest::newRow("empty file adds nothing")
            << QStringLiteral("x") << QByteArray() << QStringLiteral("x");
        QTest::newRow("bom only adds nothing")
            << QStringLiteral("x") << QByteArray("\xEF\xBB\xBF") << QStringLiteral("x");
        QTest::newRow("one line end is one empty line")
            << QStringLiteral("x") << QByteArray("\n") << QStringLiteral("x\r\n");
        QTest::newRow("last line end starts no line")
            << QString() << QByteArray("a\r\nb\r\n") << QStringLiteral("\r\na\r\nb");
        QTest::newRow("blank lines kept")
            << QString() << QByteArray("a\n\nb\n\n") << QStringLiteral("\r\na\r\n\r\nb\r\n");
        QTest::newRow("cr only") << QString() << QByteArray("a\rb\r\r")
                                 << QStringLiteral("\r\na\r\nb\r\n");
        QTest::newRow("lf cr is two line ends")
            << QString() << QByteArray("a\n\rb") << QStringLiteral("\r\na\r\n\r\nb");
        QTest::newRow("cr before crlf")
            << QString() << QByteArray("\r\r\nz") << QStringLiteral("\r\n\r\n\r\nz");
        QTest::newRow("document ending in a line end still gets one")
            << QStringLiteral("x\r\n") << QByteArray("a") << QStringLiteral("x\r\n\r\na");
        QTest::newRow("nul becomes replacement")
            << QString() << bytes("a\0b\n\0", 5) << QStringLiteral("\r\na\uFFFDb\r\n\uFFFD");
        QTest::newRow("utf-16 line ends") << QString() << bytes("\xFF\xFE\x61\0\r\0\x62\0\n\0", 10)
                                          << QStringLiteral("\r\na\r\nb");
        QTest::newRow("cp1252 with cr line ends")
            << QString() << QByteArray("\x80\r\xE9\r") << QStringLiteral("\r\n€\r\né");
    }
    void appendingLines() {
        QFETCH(QString, document);
        QFETCH(QByteArray, file);
        QFETCH(QString, expected);
        documents::appendFileLines(document, file);
        QCOMPARE(document, expected);
    }

    // The one-pass decoder and line splitter against Qt's decoder and a plain split, on many
    // short random files made of the pieces that matter: line ends, NUL, valid multi-byte
    // characters and the invalid sequences that must turn a file into Windows-1252.
    void appendingMatchesThePlainRules() {
        const QByteArray pieces[] = {"a",
                                     "\r",
                                     "\n",
                                     QByteArray(1, '\0'),
                                     ",",
                                     "\xC3\xA9",
                                     "\xE2\x82\xAC",
                                     "\xF0\x9F\x98\x80",
                                     "\xEF\xBF\xBE",
                                     "\xC3",
                                     "\x80",
                                     "\xED\xA0\x80",
                                     "\xF4\x90\x80\x80",
                                     "\xC0\x80",
                                     "\xE0\x80\x80",
                                     "\xF0\x80\x80\x80",
                                     "\xFF",
                                     "\xEF\xBB\xBF",
                                     QByteArray(17, 'b')};
        QRandomGenerator random(20261208);
        for (int round = 0; round < 20000; ++round) {
            QByteArray file;
            const int count = int(random.bounded(10));
            for (int i = 0; i < count; ++i)
                file += pieces[random.bounded(int(std::size(pieces)))];
            // Now and then mostly valid text, so the UTF-8 path runs to the end.
            if (round % 3 == 0)
                file.replace("\xC3", "\xC3\xA9").replace("\x80", "");
            const QString start = random.bounded(2) ? QStringLiteral("doc") : QString();
            QString document = start;
            documents::appendFileLines(document, file);
            QCOMPARE(document, appendedSlowly(start, documents::decodeText(file)));
        }
    }

    // A write that stops half way fails the save and puts the file back byte for byte (or
    // removes it if the save created it); an interrupted one is simply retried.
    void appendRollsBack_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("reported");
        QTest::newRow("disk full") << ENOSPC << ENOSPC;
        QTest::newRow("io error") << EIO << EIO;
        QTest::newRow("write takes nothing") << 0 << ENOSPC;
        QTest::newRow("interrupted") << EINTR << 0;
    }
    void appendRollsBack() {
        QFETCH(int, failure);
        QFETCH(int, reported);
        QTemporaryDir dir;
        const QString existing = dir.filePath("existing");
        const QByteArray old("old\r\n\0\xFF", 7);
        QFile file(existing);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(old) == old.size());
        file.close();
        for (const QString &path : {existing, dir.filePath("created")}) {
            int calls = 0;
            auto halfThenFail = [&](int fd, const void *data, std::size_t size) -> ssize_t {
                if (++calls == 2) {
                    errno = failure;
                    return failure ? -1 : 0;
                }
                return ::write(fd, data, calls == 1 ? size / 2 : size);
            };
            const QByteArray before = path == existing ? old : QByteArray();
            int number = 0;
            try {
                documents::appendToFile(path, "new text", halfThenFail);
            } catch (const documents::FileError &error) {
                number = error.number();
            }
            QCOMPARE(number, reported);
            QFile result(path);
            QCOMPARE(result.exists(), path == existing || !reported);
            QVERIFY(!result.exists() || result.open(QIODevice::ReadOnly));
            QCOMPARE(result.readAll(), reported ? before : before + "new text");
        }
    }

    // A file that another program changes while we read it: what is read is what the file held
    // up to the end the last read saw, never stale or foreign bytes, and a file that keeps
    // growing is cut off at the size limit instead of being read without end.
    void readingAFileThatChanges_data() {
        QTest::addColumn<int>("initial");
        QTest::addColumn<int>("change"); // > 0: appended after each read; < 0: truncated to -n
        QTest::addColumn<int>("changes");
        QTest::addColumn<int>("expected"); // length read, or -1 for "too large"
        QTest::newRow("grows once") << 10000 << 30000 << 1 << 40000;
        QTest::newRow("grows several times") << 10000 << 5000 << 4 << 30000;
        QTest::newRow("shrinks") << 10000 << -6000 << 1 << 6000;
        QTest::newRow("shrinks to where the read is") << 10000 << -4096 << 1 << 4096;
        QTest::newRow("emptied") << 10000 << 0 << 1 << 4096;
        QTest::newRow("grows past the limit") << 10000 << 50000 << 2 << -1;
        QTest::newRow("never stops growing") << 1000 << 4096 << 1000000 << -1;
    }
    void readingAFileThatChanges() {
        QFETCH(int, initial);
        QFETCH(int, change);
        QFETCH(int, changes);
        QFETCH(int, expected);
        constexpr qint64 kLimit = 64 * 1024;
        QTemporaryDir dir;
        const QString path = dir.filePath("changing.txt");
        QByteArray content;
        for (int i = 0; content.size() < initial; ++i)
            content += QByteArray::number(i) + ' ';
        content.truncate(initial);
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly));
        QCOMPARE(writer.write(content), qint64(initial));
        writer.flush();

        int done = 0;
        // Reads of at most 4 KiB, so that the change lands in the middle of the file.
        auto readThenChange = [&](int fd, void *data, std::size_t size) -> ssize_t {
            const ssize_t got = ::read(fd, data, std::min<std::size_t>(size, 4096));
            if (done < changes) {
                ++done;
                if (change > 0) {
                    const QByteArray more(change, char('a' + done % 26));
                    writer.write(more);
                    content += more;
                } else {
                    writer.resize(-change); // `content` keeps what the file held before
                }
                writer.flush();
            }
            return got;
        };
        try {
            const QByteArray read = documents::readWholeFile(path, kLimit, readThenChange);
            QCOMPARE(read.size(), qsizetype(expected));
            // Bytes already read stay as they were read, even if the file lost them since.
            QVERIFY(read == content.left(expected));
        } catch (const documents::FileError &error) {
            QCOMPARE(expected, -1);
            QCOMPARE(error.number(), EFBIG);
            QVERIFY(done < 100); // stopped soon after passing the limit
        }
    }

    // The same with a real writer racing the reader: every read is a prefix of what the file
    // finally holds, at least as long as the file was when the read began.
    void readingWhileAnotherProgramAppends() {
        QTemporaryDir dir;
        const QString path = dir.filePath("log.txt");
        QFile writer(path);
        QVERIFY(writer.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered));
        std::atomic<bool> stop{false};
        std::thread appender([&] {
            for (int line = 0; !stop; ++line) {
                writer.write(QByteArray::number(line).rightJustified(12, '0') + "\r\n");
                if (writer.size() > 8 * 1024 * 1024)
                    break;
            }
        });
        std::vector<std::pair<qint64, QByteArray>> reads;
        for (int i = 0; i < 40; ++i) {
            const qint64 before = QFileInfo(path).size();
            reads.emplace_back(before, documents::readWholeFile(path));
        }
        stop = true;
        appender.join();
        writer.close();
        QFile final(path);
        QVERIFY(final.open(QIODevice::ReadOnly));
        const QByteArray all = final.readAll();
        for (const auto &[before, read] : reads) {
            QVERIFY(read.size() >= before);
            QVERIFY(all.startsWith(read));
        }
    }

    // Only a regular file can be put back after a failed append; opening a FIFO for writing
    // could block, and a device may act on being opened.
    void appendRefusesNonFiles() {
        QTemporaryDir dir;
        const QString fifo = dir.filePath("fifo");
        QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
        for (const QString &target : {QStringLiteral("/dev/full"), fifo}) {
            try {
                documents::appendToFile(target, "x");
                QFAIL(qPrintable(target));
            } catch (const documents::FileError &error) {
                QVERIFY2(error.reason().contains("not a file"), qPrintable(error.reason()));
            }
        }
    }
};

QTEST_APPLESS_MAIN(TestDocumentIo)
#include "tst_documentio.moc"
