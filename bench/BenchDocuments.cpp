#include "BenchDocuments.h"
#include "BenchSupport.h"

#include <QFile>

#include <zip.h>

#include <memory>
#include <utility>
#include <vector>

namespace bench {
namespace {

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray xmlEscaped(const QString &text) {
    return text.toHtmlEscaped().toUtf8();
}

// A zip package; the first entry is stored, as EPUB and ODT want their `mimetype`.
bool writeZip(const QString &path, const std::vector<std::pair<const char *, QByteArray>> &parts) {
    int error = 0;
    zip_t *zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!zip)
        return false;
    bool ok = true;
    for (std::size_t i = 0; i < parts.size() && ok; ++i) {
        const QByteArray &bytes = parts[i].second;
        zip_source_t *source =
            zip_source_buffer(zip, bytes.constData(), zip_uint64_t(bytes.size()), 0);
        const zip_int64_t index = source ? zip_file_add(zip, parts[i].first, source, 0) : -1;
        if (index < 0) {
            zip_source_free(source);
            ok = false;
        } else if (i == 0) {
            zip_set_file_compression(zip, zip_uint64_t(index), ZIP_CM_STORE, 0);
        }
    }
    // The buffers must outlive zip_close, which is when they are compressed and written.
    if (!ok) {
        zip_discard(zip);
        return false;
    }
    return zip_close(zip) == 0;
}

QByteArray pdfString(const QString &line) {
    QByteArray out = line.toLatin1();
    out.replace('\\', "\\\\").replace('(', "\\(").replace(')', "\\)");
    return '(' + out + ')';
}

} // namespace

QStringList paragraphs(qsizetype bytes) {
    QStringList out = prose(bytes).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (QString &p : out)
        p = p.trimmed();
    return out;
}

// Helvetica lines of about 90 characters, 50 to a page, a blank line between paragraphs: the
// visual line breaks a reader has to join again.
bool writePdf(const QString &path, const QStringList &paragraphs, int pages) {
    std::vector<QByteArray> pageStreams;
    QByteArray stream;
    int lines = 0;
    auto line = [&](const QString &text) {
        if (lines == 0)
            stream = "BT /F1 11 Tf 14 TL 60 770 Td\n";
        stream += pdfString(text) + " '\n";
        if (++lines == 50) {
            pageStreams.push_back(stream + "ET\n");
            lines = 0;
        }
    };
    for (qsizetype p = 0; int(pageStreams.size()) < pages; ++p) {
        const QStringList words = paragraphs[p % paragraphs.size()].split(u' ');
        QString current;
        for (const QString &w : words) {
            if (current.size() + w.size() > 90) {
                line(current);
                current.clear();
            }
            current += (current.isEmpty() ? QString() : QStringLiteral(" ")) + w;
        }
        line(current);
        line(QString());
    }
    QByteArray pdf = "%PDF-1.4\n";
    std::vector<qsizetype> offsets;
    auto object = [&](const QByteArray &body) {
        offsets.push_back(pdf.size());
        pdf += QByteArray::number(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    const int n = int(pageStreams.size());
    // 1 catalog, 2 pages, 3 font, then a page and its content for each page.
    object("<< /Type /Catalog /Pages 2 0 R >>");
    QByteArray kids;
    for (int i = 0; i < n; ++i)
        kids += QByteArray::number(4 + 2 * i) + " 0 R ";
    object("<< /Type /Pages /Count " + QByteArray::number(n) + " /Kids [" + kids + "] >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < n; ++i) {
        object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 "
               "3 0 R >> >> /Contents " +
               QByteArray::number(5 + 2 * i) + " 0 R >>");
        object("<< /Length " + QByteArray::number(pageStreams[i].size()) + " >>\nstream\n" +
               pageStreams[i] + "endstream");
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype at : offsets)
        pdf += QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(offsets.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return writeFile(path, pdf);
}

bool writeDocx(const QString &path, const QStringList &paragraphs) {
    QByteArray body;
    for (const QString &p : paragraphs)
        body += "<w:p><w:r><w:t xml:space=\"preserve\">" + xmlEscaped(p) + "</w:t></w:r></w:p>";
    const QByteArray ns = "http://schemas.openxmlformats.org/";
    return writeZip(
        path,
        {{"[Content_Types].xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"" + ns +
              "package/2006/content-types\"><Default Extension=\"rels\" "
              "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
              "<Default Extension=\"xml\" ContentType=\"application/xml\"/><Override "
              "PartName=\"/word/document.xml\" ContentType=\"application/"
              "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>"},
         {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"" + ns +
                             "package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"" + ns +
                             "officeDocument/2006/relationships/officeDocument\" "
                             "Target=\"word/document.xml\"/></Relationships>"},
         {"word/document.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><w:document xmlns:w=\"" +
                                   ns + "wordprocessingml/2006/main\"><w:body>" + body +
                                   "</w:body></w:document>"}});
}

bool writeOdt(const QString &path, const QStringList &paragraphs) {
    QByteArray body;
    for (const QString &p : paragraphs)
        body += "<text:p>" + xmlEscaped(p) + "</text:p>";
    return writeZip(
        path,
        {{"mimetype", "application/vnd.oasis.opendocument.text"},
         {"META-INF/manifest.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><manifest:manifest xmlns:manifest=\"urn:"
          "oasis:names:tc:opendocument:xmlns:manifest:1.0\"><manifest:file-entry "
          "manifest:full-path=\"/\" manifest:media-type=\"application/"
          "vnd.oasis.opendocument.text\"/><manifest:file-entry manifest:full-path=\"content.xml\" "
          "manifest:media-type=\"text/xml\"/></manifest:manifest>"},
         {"styles.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-styles "
                        "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                        "office:version=\"1.2\"/>"},
         {"content.xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content "
          "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body>"
          "<office:text>" +
              body + "</office:text></office:body></office:document-content>"}});
}

// Twenty chapters, each its own XHTML file in the spine.
bool writeEpub(const QString &path, const QStringList &paragraphs) {
    constexpr int kChapters = 20;
    std::vector<std::pair<QByteArray, QByteArray>> chapters(kChapters);
    for (qsizetype i = 0; i < paragraphs.size(); ++i)
        chapters[std::size_t(i * kChapters / paragraphs.size())].second +=
            "<p>" + xmlEscaped(paragraphs[i]) + "</p>\n";
    QByteArray manifest, spine;
    for (int i = 0; i < kChapters; ++i) {
        const QByteArray id = "c" + QByteArray::number(i);
        chapters[std::size_t(i)].first = "OEBPS/" + id + ".xhtml";
        chapters[std::size_t(i)].second =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html xmlns=\"http://www.w3.org/1999/"
            "xhtml\"><head><title>" +
            id + "</title></head><body><h1>Chapter " + QByteArray::number(i + 1) + "</h1>\n" +
            chapters[std::size_t(i)].second + "</body></html>";
        manifest += "<item id=\"" + id + "\" href=\"" + id +
                    ".xhtml\" media-type=\"application/xhtml+xml\"/>";
        spine += "<itemref idref=\"" + id + "\"/>";
    }
    std::vector<std::pair<const char *, QByteArray>> parts{
        {"mimetype", "application/epub+zip"},
        {"META-INF/container.xml",
         "<?xml version=\"1.0\"?><container version=\"1.0\" "
         "xmlns=\"urn:oasis:names:tc:opendocument:xmlns:container\"><rootfiles><rootfile "
         "full-path=\"OEBPS/content.opf\" media-type=\"application/oebps-package+xml\"/>"
         "</rootfiles></container>"},
        {"OEBPS/content.opf",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><package "
         "xmlns=\"http://www.idpf.org/2007/opf\" "
         "version=\"3.0\" unique-identifier=\"id\"><metadata "
         "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:identifier id=\"id\">bench</"
         "dc:identifier><dc:title>Bench</dc:title><dc:language>en</dc:language></metadata>"
         "<manifest>" +
             manifest + "</manifest><spine>" + spine + "</spine></package>"}};
    for (const auto &[name, xhtml] : chapters)
        parts.emplace_back(name.constData(), xhtml);
    return writeZip(path, parts);
}

namespace {

// A text file of the paragraphs, each turned into bytes by `paragraph`, between `head` and `tail`.
bool writeMarkup(const QString &path, const QByteArray &head, const QStringList &paragraphs,
                 QByteArray (*paragraph)(const QString &), const QByteArray &tail) {
    QByteArray out = head;
    for (const QString &p : paragraphs)
        out += paragraph(p);
    return writeFile(path, out + tail);
}

QByteArray xmlParagraph(const QString &p) {
    return "<p>" + xmlEscaped(p) + "</p>\n";
}

} // namespace

bool writeHtml(const QString &path, const QStringList &paragraphs) {
    return writeMarkup(path,
                       "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Bench</title>"
                       "</head><body>\n",
                       paragraphs, xmlParagraph, "</body></html>\n");
}

bool writeMarkdown(const QString &path, const QStringList &paragraphs) {
    return writeMarkup(path, {}, paragraphs, [](const QString &p) { return p.toUtf8() + "\n\n"; },
                       {});
}

bool writeRtf(const QString &path, const QStringList &paragraphs) {
    return writeMarkup(
        path, "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Times New Roman;}}\n", paragraphs,
        [](const QString &p) { return "\\pard " + p.toLatin1() + "\\par\n"; }, "}\n");
}

bool writeFb2(const QString &path, const QStringList &paragraphs) {
    return writeMarkup(path,
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><FictionBook "
                       "xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\"><body><section>\n",
                       paragraphs, xmlParagraph, "</section></body></FictionBook>\n");
}

} // namespace bench
