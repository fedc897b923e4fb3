// Word-processor files and e-books made here from a known text, read back paragraph by
// paragraph; and archives built to hurt: a zip bomb, an encrypted part, a cut-off file.

#include "ExtractError.h"
#include "PackageReaders.h"

#include <QTest>

#include <zip.h>

#include <functional>
#include <utility>
#include <vector>

using extract::ExtractError;

namespace {

using Entries = std::vector<std::pair<const char *, QByteArray>>;

// A zip of `entries`, in order, deflated; `encrypt` names one to encrypt with a password.
QByteArray makeZip(const Entries &entries, const char *encrypt = nullptr) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
    zip_t *archive = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
    zip_source_keep(buffer);
    std::vector<QByteArray> kept;
    for (const auto &[name, content] : entries) {
        kept.push_back(content);
        zip_source_t *data = zip_source_buffer(archive, kept.back().constData(),
                                               zip_uint64_t(kept.back().size()), 0);
        const zip_int64_t index = zip_file_add(archive, name, data, ZIP_FL_ENC_UTF_8);
        if (encrypt && QByteArrayView(name) == encrypt)
            zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, "secret");
    }
    zip_close(archive);
    QByteArray out;
    zip_source_open(buffer);
    zip_source_seek(buffer, 0, SEEK_END);
    out.resize(qsizetype(zip_source_tell(buffer)));
    zip_source_seek(buffer, 0, SEEK_SET);
    zip_source_read(buffer, out.data(), zip_uint64_t(out.size()));
    zip_source_close(buffer);
    zip_source_free(buffer);
    zip_error_fini(&error);
    return out;
}

QByteArray docx(const QByteArray &body, const QByteArray &numbering = {},
                const QByteArray &footnotes = {}) {
    Entries entries{
        {"[Content_Types].xml", "<Types/>"},
        {"word/document.xml", "<?xml version=\"1.0\"?><w:document xmlns:w=\"w\"><w:body>" + body +
                                  "</w:body></w:document>"}};
    if (!numbering.isEmpty())
        entries.push_back(
            {"word/numbering.xml", "<w:numbering xmlns:w=\"w\">" + numbering + "</w:numbering>"});
    if (!footnotes.isEmpty())
        entries.push_back(
            {"word/footnotes.xml", "<w:footnotes xmlns:w=\"w\">" + footnotes + "</w:footnotes>"});
    return makeZip(entries);
}

QByteArray wp(const QByteArray &text, const QByteArray &props = {}) {
    return "<w:p>" + props + "<w:r><w:t>" + text + "</w:t></w:r></w:p>";
}

QByteArray listItem(const QByteArray &text, int numId) {
    return wp(text, "<w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"" +
                        QByteArray::number(numId) + "\"/></w:numPr></w:pPr>");
}

QByteArray odt(const QByteArray &text, const QByteArray &automaticStyles = {}) {
    return makeZip({{"mimetype", "application/vnd.oasis.opendocument.text"},
                    {"content.xml",
                     "<?xml version=\"1.0\"?><office:document-content xmlns:office=\"o\" "
                     "xmlns:text=\"t\" xmlns:table=\"b\" xmlns:style=\"s\">"
                     "<office:automatic-styles>" +
                         automaticStyles + "</office:automatic-styles><office:body><office:text>" +
                         text + "</office:text></office:body></office:document-content>"}});
}

QByteArray epub() {
    const auto chapter = [](const QByteArray &body) {
        return "<?xml version=\"1.0\"?><html xmlns=\"http://www.w3.org/1999/xhtml\"><head>"
               "<title>Not read</title></head><body>" +
               body + "</body></html>";
    };
    return makeZip(
        {{"mimetype", "application/epub+zip"},
         {"META-INF/container.xml",
          "<container><rootfiles><rootfile full-path=\"OEBPS/book.opf\"/></rootfiles>"
          "</container>"},
         {"OEBPS/book.opf",
          "<package><manifest><item id=\"b\" href=\"Text/two%20words.xhtml\"/>"
          "<item id=\"a\" href=\"Text/one.xhtml\"/><item id=\"c\" href=\"cover.jpg\"/>"
          "</manifest><spine><itemref idref=\"a\"/><itemref idref=\"b\"/></spine></package>"},
         {"OEBPS/Text/two words.xhtml", chapter("<h2>Chapter two</h2><p>The end.</p>")},
         {"OEBPS/Text/one.xhtml", chapter("<h2>Chapter one</h2><p>It began.</p><ol><li>a</li>"
                                          "<li>b</li></ol>")}});
}

} // namespace

Q_DECLARE_METATYPE(std::function<QString()>)

class TestPackages : public QObject {
    Q_OBJECT
private slots:
    void readsParagraphByParagraph_data() {
        QTest::addColumn<std::function<QString()>>("read");
        QTest::addColumn<QString>("text");
        const QByteArray numbering =
            "<w:abstractNum w:abstractNumId=\"7\"><w:lvl w:ilvl=\"0\"><w:numFmt w:val=\"decimal\"/>"
            "</w:lvl></w:abstractNum><w:abstractNum w:abstractNumId=\"8\"><w:lvl w:ilvl=\"0\">"
            "<w:numFmt w:val=\"bullet\"/></w:lvl></w:abstractNum><w:num w:numId=\"1\">"
            "<w:abstractNumId w:val=\"7\"/></w:num><w:num w:numId=\"2\"><w:abstractNumId "
            "w:val=\"8\"/></w:num>";
        const QByteArray body =
            wp("Heading", "<w:pPr><w:pStyle w:val=\"Heading1\"/></w:pPr>") +
            "<w:p><w:r><w:t>One para</w:t></w:r><w:r><w:t xml:space=\"preserve\">graph, "
            "</w:t></w:r><w:del><w:r><w:delText>gone</w:delText></w:r></w:del><w:r><w:tab/>"
            "<w:t>joined.</w:t></w:r><w:r><w:footnoteReference w:id=\"1\"/></w:r></w:p>" +
            listItem("first", 1) + listItem("second", 1) + listItem("dot", 2) +
            "<w:tbl><w:tr><w:tc>" + wp("Tea") + "</w:tc><w:tc>" + wp("2") +
            "</w:tc></w:tr><w:tr><w:tc>" + wp("Cake") + "</w:tc><w:tc></w:tc></w:tr></w:tbl>" +
            wp("After.");
        // The separator is what word processors keep first in the notes part.
        const QByteArray footnotes =
            "<w:footnote w:type=\"separator\" w:id=\"0\"><w:p><w:r><w:separator/></w:r></w:p>"
            "</w:footnote><w:footnote w:id=\"1\"><w:p><w:r><w:footnoteRef/></w:r><w:r><w:t>"
            "A note</w:t></w:r></w:p><w:p><w:r><w:t>in two parts.</w:t></w:r></w:p></w:footnote>";
        const QByteArray file = docx(body, numbering, footnotes);
        QTest::newRow("DOCX") << std::function<QString()>(
                                     [file] { return extract::docxToText(file, {}); })
                              << QStringLiteral("Heading\nOne paragraph, joined.\nA note in two "
                                                "parts.\n1. first\n2. second\n\u2022 dot\n"
                                                "Tea, 2\nCake\nAfter.");
        const QByteArray content = odt(
            "<text:h>Title</text:h><text:p>Two<text:s/>words<text:note><text:note-citation>1</"
            "text:note-citation>"
            "<text:note-body><text:p>A no<text:span>te</text:span></text:p></text:note-body>"
            "</text:note> here.</text:p><text:list>"
            "<text:list-item><text:p>milk</text:p></text:list-item><text:list-item><text:p>eggs"
            "</text:p></text:list-item></text:list><text:list text:style-name=\"L1\">"
            "<text:list-item><text:p>Mix</text:p><text:list><text:list-item><text:p>slowly"
            "</text:p></text:list-item></text:list></text:list-item><text:list-item><text:p>Bake"
            "</text:p></text:list-item></text:list><table:table><table:table-row>"
            "<table:table-cell><text:p>A</text:p></table:table-cell><table:table-cell><text:p>B"
            "</text:p></table:table-cell></table:table-row></table:table><text:p>End.</text:p>",
            "<text:list-style style:name=\"L1\"><text:list-level-style-number text:level=\"1\" "
            "style:num-format=\"1\"/><text:list-level-style-bullet text:level=\"2\"/>"
            "</text:list-style>");
        QTest::newRow("ODT")
            << std::function<QString()>([content] { return extract::odtToText(content, {}); })
            << QStringLiteral("Title\nTwo words here.\nA note\n\u2022 milk\n\u2022 eggs\n1. Mix\n"
                              "\u2022 slowly\n2. Bake\nA, B\nEnd.");
        const QByteArray book = epub();
        QTest::newRow("EPUB, chapters in spine order")
            << std::function<QString()>([book] { return extract::epubToText(book, {}); })
            << QStringLiteral("Chapter one\nIt began.\n1. a\n2. b\nChapter two\nThe end.");
    }
    void readsParagraphByParagraph() {
        QFETCH(std::function<QString()>, read);
        QFETCH(QString, text);
        QCOMPARE(read(), text);
    }

    void hostileArchivesAreRefused_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("kind");
        // 64 MB of one byte packs into about 64 KB: refused before it is unpacked.
        QTest::newRow("zip bomb") << docx(wp(QByteArray(64 * 1024 * 1024, 'a')))
                                  << int(ExtractError::Kind::TooLarge);
        QTest::newRow("encrypted")
            << makeZip({{"word/document.xml", "<w:document/>"}}, "word/document.xml")
            << int(ExtractError::Kind::Encrypted);
        QTest::newRow("cut off") << docx(wp("text")).left(60) << int(ExtractError::Kind::Damaged);
        QTest::newRow("not a zip")
            << QByteArray("PK\x03\x04 nothing") << int(ExtractError::Kind::Damaged);
        QTest::newRow("entity bomb")
            << docx("<!DOCTYPE d [<!ENTITY a \"aaaaaaaa\">]>") << int(ExtractError::Kind::Damaged);
    }
    void hostileArchivesAreRefused() {
        QFETCH(QByteArray, file);
        QFETCH(int, kind);
        try {
            (void)extract::docxToText(file, {});
            QFAIL("read");
        } catch (const ExtractError &error) {
            QCOMPARE(int(error.kind()), kind);
        }
    }
};

QTEST_GUILESS_MAIN(TestPackages)
#include "tst_packages.moc"
