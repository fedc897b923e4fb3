// Below the window: decoding a file's bytes and appending its lines to the document, and
// appending to a file when a write fails half way or is refused. Missing, unreadable and
// oversized files, FIFOs and a real short write are tested through the window.
#include "DocumentIo.h"
#include "FileAccess.h"
#include "TextDecoding.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>
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
