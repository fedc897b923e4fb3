// PDFs made here, page by page, from a known text: paragraphs come out whole and in order,
// running headers and page numbers do not, a word hyphenated at a line end is whole again; and
// PDFs with nothing to read or nothing readable say so.

#include "ExtractError.h"
#include "PdfReader.h"
#include "Progress.h"

#include <QTest>

using extract::ExtractError;

namespace {

// One page's lines: (y from the bottom, text), in Helvetica 12.
using PageLines = QList<std::pair<int, QByteArray>>;

QByteArray makePdf(const QList<PageLines> &pages) {
    QList<QByteArray> objects; // object i + 1
    objects.append("<< /Type /Catalog /Pages 2 0 R >>");
    objects.append(QByteArray()); // the page tree, once the pages are numbered
    objects.append("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    QByteArray kids;
    for (const PageLines &lines : pages) {
        QByteArray content;
        for (const auto &[y, text] : lines)
            content += "BT /F1 12 Tf 72 " + QByteArray::number(y) + " Td (" + text + ") Tj ET\n";
        objects.append("<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" +
                       content + "endstream");
        const qsizetype contentNumber = objects.size();
        objects.append("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font "
                       "<< /F1 3 0 R >> >> /Contents " +
                       QByteArray::number(contentNumber) + " 0 R >>");
        kids += QByteArray::number(objects.size()) + " 0 R ";
    }
    objects[1] =
        "<< /Type /Pages /Kids [" + kids + "] /Count " + QByteArray::number(pages.size()) + " >>";
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (const qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

class TestPdf : public QObject {
    Q_OBJECT
private slots:
    void paragraphsWholeWithoutRunningHeaders() {
        QList<PageLines> pages;
        for (int page = 1; page <= 4; ++page)
            pages.append({{760, "Annual Report 2026"},
                          {700, "Paragraph " + QByteArray::number(page) + " starts here and is"},
                          {686, "continued on a second line with a hyphen-"},
                          {672, "ated word."},
                          {600, "Another paragraph on page " + QByteArray::number(page) + "."},
                          {40, QByteArray::number(page)}});
        static QList<std::pair<int, int>> reported;
        extract::setProgressReporter([](int done, int total) { reported.append({done, total}); });
        const QString text = extract::pdfToText(makePdf(pages), {});
        extract::setProgressReporter(nullptr);
        // Each page as it is read, for the window's progress bar.
        QCOMPARE(reported, (QList<std::pair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
        QStringList expected;
        for (int page = 1; page <= 4; ++page)
            expected << QStringLiteral("Paragraph %1 starts here and is continued on a second "
                                       "line with a hyphenated word.")
                            .arg(page)
                     << QStringLiteral("Another paragraph on page %1.").arg(page);
        QCOMPARE(text, expected.join(u'\n'));

        // A paragraph carried over to the next page, under its running header, is one again;
        // one that ends its page with a full stop, or a heading before a capital, is not.
        const QList<PageLines> carried{
            {{760, "Annual Report 2026"}, {700, "The committee met on a cold"}, {40, "1"}},
            {{760, "Annual Report 2026"},
             {700, "morning in May, and agreed."},
             {650, "Results"},
             {600, "Three of five were read."},
             {40, "2"}},
            {{760, "Annual Report 2026"}, {700, "then the rest."}, {40, "3"}}};
        QCOMPARE(extract::pdfToText(makePdf(carried), {}),
                 QStringLiteral("The committee met on a cold morning in May, and agreed.\nResults\n"
                                "Three of five were read.\nthen the rest."));

        // A book's title on even pages and its chapter's title on odd ones: both are dropped,
        // though no chapter heads half of all the pages.
        QList<PageLines> book;
        for (int page = 1; page <= 12; ++page)
            book.append({{760, page % 2 == 0 ? QByteArray("A Short History")
                               : page < 7    ? QByteArray("Chapter One: Origins")
                                             : QByteArray("Chapter Two: Growth")},
                         {700, "Page " + QByteArray::number(page) + " of the story."}});
        QStringList story;
        for (int page = 1; page <= 12; ++page)
            story << QStringLiteral("Page %1 of the story.").arg(page);
        QCOMPARE(extract::pdfToText(makePdf(book), {}), story.join(u'\n'));
    }

    void nothingToReadSaysWhy_data() {
        QTest::addColumn<QByteArray>("pdf");
        QTest::addColumn<int>("kind");
        QTest::newRow("pages without text") << makePdf({{}, {}}) << int(ExtractError::Kind::NoText);
        QTest::newRow("garbage after the header")
            << QByteArray("%PDF-1.7\n\x01\x02 nothing here") << int(ExtractError::Kind::Damaged);
    }
    void nothingToReadSaysWhy() {
        QFETCH(QByteArray, pdf);
        QFETCH(int, kind);
        try {
            (void)extract::pdfToText(pdf, {});
            QFAIL("read");
        } catch (const ExtractError &error) {
            QCOMPARE(int(error.kind()), kind);
        }
    }
};

QTEST_GUILESS_MAIN(TestPdf)
#include "tst_pdf.moc"
