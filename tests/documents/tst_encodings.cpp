// Telling a file's kind and encoding from its bytes, and subtitles read as what is said.

#include "Encoding.h"
#include "Format.h"
#include "Subtitles.h"

#include <QTest>

#include <iconv.h>

using formats::Format;

namespace {

// The text in `encoding`, made by iconv: the bytes an old editor would have saved.
QByteArray encoded(const QString &text, const char *encoding) {
    const QByteArray utf8 = text.toUtf8();
    iconv_t cd = iconv_open(encoding, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return {};
    QByteArray out(utf8.size() * 4 + 16, Qt::Uninitialized);
    char *in = const_cast<char *>(utf8.constData());
    std::size_t inLeft = std::size_t(utf8.size());
    char *at = out.data();
    std::size_t outLeft = std::size_t(out.size());
    const std::size_t result = iconv(cd, &in, &inLeft, &at, &outLeft);
    iconv_close(cd);
    if (result == std::size_t(-1))
        return {};
    out.truncate(out.size() - qsizetype(outLeft));
    return out;
}

QByteArray zipWithFirstEntry(QByteArrayView name, QByteArrayView content) {
    QByteArray zip("PK\x03\x04", 4);
    zip += QByteArray(22, '\0');
    zip += char(name.size());
    zip += '\0';
    zip += QByteArray(2, '\0');
    zip += name;
    zip += content;
    return zip;
}

} // namespace

class TestEncodings : public QObject {
    Q_OBJECT
private slots:
    // One short paragraph each, as people send them: every one must come back letter for letter.
    void decodesWhatOldEditorsSaved_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        const auto row = [](const char *name, const QString &text, const char *encoding) {
            QTest::newRow(name) << text << encoded(text, encoding);
        };
        const QString russian = QStringLiteral(
            "Привет, мир! Это проверка кодировки, которая должна определяться даже в коротком "
            "абзаце текста.");
        const QString czech = QStringLiteral(
            "Žluťoučký kůň úpěl ďábelské ódy. Příliš žluťoučký kůň se napil vody z řeky.");
        const QString english = QStringLiteral("Plain English, saved as UTF-16 without a mark.");
        row("Windows-1251", russian, "WINDOWS-1251");
        row("KOI8-R", russian, "KOI8-R");
        row("Shift-JIS",
            QStringLiteral(
                "これは日本語のテキストです。文字コードを正しく判定できるか確認します。"),
            "SHIFT_JIS");
        row("GB18030", QStringLiteral("这是一段中文文本，用来检查编码是否能够被正确地识别出来。"),
            "GB18030");
        row("ISO-8859-2", czech, "ISO-8859-2");
        row("Windows-1250", czech, "WINDOWS-1250");
        row("Windows-1252", QStringLiteral("Déjà vu « à la française » – l’été coûte 5 €."),
            "WINDOWS-1252");
        row("UTF-16LE, no mark", english, "UTF-16LE");
        row("UTF-16BE, no mark", english, "UTF-16BE");
        row("UTF-8", QStringLiteral("Ελληνικά και русский в UTF-8."), "UTF-8");
        QTest::newRow("undecodable bytes stay, as Windows-1252")
            << QStringLiteral("\u00FF\u00FE\u00FD") << QByteArray("\xFF\xFE\xFD");
    }
    void decodesWhatOldEditorsSaved() {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QVERIFY(!bytes.isEmpty());
        QCOMPARE(extract::decodeText(bytes), text);
    }

    void tellsTheKindFromTheContentFirst_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("validUtf8");
        QTest::addColumn<Format>("format");
        QTest::newRow("PDF named .txt")
            << QByteArray("%PDF-1.7\n") << "a.txt" << false << Format::Pdf;
        QTest::newRow("EPUB") << zipWithFirstEntry("mimetype", "application/epub+zip") << "book.zip"
                              << false << Format::Epub;
        QTest::newRow("ODT") << zipWithFirstEntry("mimetype",
                                                  "application/vnd.oasis.opendocument.text")
                             << "letter" << false << Format::Odt;
        QTest::newRow("DOCX") << zipWithFirstEntry("[Content_Types].xml", "<Types/>word/")
                              << "letter" << false << Format::Docx;
        QTest::newRow("DOC") << QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) << "a.txt"
                             << false << Format::Doc;
        QTest::newRow("RTF after a mark")
            << QByteArray("\xEF\xBB\xBF{\\rtf1\\ansi") << "a.txt" << true << Format::Rtf;
        QTest::newRow("FB2") << QByteArray("<?xml version=\"1.0\"?>\n<FictionBook xmlns=") << "b"
                             << true << Format::Fb2;
        QTest::newRow("HTML, any case")
            << QByteArray("  <!DocType HTML><p>") << "page.txt" << true << Format::Html;
        QTest::newRow("WebVTT") << QByteArray("WEBVTT\n\n") << "talk" << true << Format::Subtitles;
        QTest::newRow("by name: .md")
            << QByteArray("# Title") << "notes.MD" << true << Format::Markdown;
        QTest::newRow("by name: .srt")
            << QByteArray("1\n") << "film.srt" << true << Format::Subtitles;
        QTest::newRow("UTF-8 text") << QByteArray("hello") << "a.txt" << true << Format::PlainText;
        QTest::newRow("UTF-16 with a mark")
            << QByteArray("\xFF\xFEh\0i\0", 6) << "a.txt" << false << Format::PlainText;
        QTest::newRow("some other encoding")
            << QByteArray("caf\xE9") << "a.txt" << false << Format::Text;
    }
    void tellsTheKindFromTheContentFirst() {
        QFETCH(QByteArray, head);
        QFETCH(QString, name);
        QFETCH(bool, validUtf8);
        QFETCH(Format, format);
        QCOMPARE(formats::detect(head, name, validUtf8), format);
        QCOMPARE(formats::formatFromName(formats::formatName(format)), format);
    }

    void subtitlesKeepOnlyWhatIsSaid_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("SRT")
            << QStringLiteral(
                   "1\r\n00:00:01,000 --> 00:00:04,000\r\n<i>Hello</i> there,\r\nfriend.\r\n\r\n"
                   "2\r\n00:00:05,000 --> 00:00:06,500\r\n{\\an8}1984\r\n")
            << QStringLiteral("Hello there, friend.\n1984");
        QTest::newRow("WebVTT")
            << QStringLiteral(
                   "WEBVTT - a talk\n\nNOTE made by hand\nover two lines\n\nSTYLE\n::cue { color: "
                   "red }\n"
                   "\nintro\n00:01.000 --> 00:04.000 align:start\n<v Ann>Good <b>morning</b>.\n\n"
                   "00:05.000 --> 00:06.000\nSee you.\n")
            << QStringLiteral("Good morning.\nSee you.");
    }
    void subtitlesKeepOnlyWhatIsSaid() {
        QFETCH(QString, file);
        QFETCH(QString, text);
        QCOMPARE(extract::subtitlesToText(file, {}), text);
    }
};

QTEST_GUILESS_MAIN(TestEncodings)
#include "tst_encodings.moc"
