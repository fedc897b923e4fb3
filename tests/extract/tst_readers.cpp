// The document readers on small made documents, each row the exact text expected back, and on
// hostile ones: deep nesting, broken markup, entity bombs, bad bytes. A row expecting an error
// names it as "error: damaged" or "error: too large".
#include "ExtractError.h"
#include "Fb2Reader.h"
#include "HtmlReader.h"
#include "MarkdownReader.h"
#include "RtfReader.h"

#include <QElapsedTimer>
#include <QTest>
#include <QThread>

#include <functional>
#include <memory>

using namespace extract;

namespace {

using Reader = std::function<QString(QByteArrayView, const Limits &)>;

QString outcome(const Reader &read, const QByteArray &input, const Limits &limits) {
    try {
        return read(input, limits);
    } catch (const ExtractError &error) {
        switch (error.kind()) {
        case ExtractError::Kind::Damaged:
            return QStringLiteral("error: damaged");
        case ExtractError::Kind::TooLarge:
            return QStringLiteral("error: too large");
        default:
            return QStringLiteral("error: other");
        }
    }
}

void addColumns() {
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("maxChars"); // 0: the default
}

void row(const char *name, const QByteArray &input, const QString &expected, int maxChars = 0) {
    QTest::newRow(name) << input << expected << maxChars;
}

void check(const Reader &read) {
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QFETCH(int, maxChars);
    Limits limits;
    if (maxChars > 0)
        limits.maxChars = maxChars;
    // On a thread with a small stack, so that a walk recursing once per level of nesting
    // fails here rather than only on a deeper document.
    QString text;
    QElapsedTimer timer;
    timer.start();
    std::unique_ptr<QThread> thread(QThread::create([&] { text = outcome(read, input, limits); }));
    thread->setStackSize(1024 * 1024);
    thread->start();
    QVERIFY(thread->wait(QDeadlineTimer(60000)));
    if (input.size() > 100000)
        qInfo("%lld bytes read in %lld ms", qint64(input.size()), timer.elapsed());
    QCOMPARE(text, expected);
}

QByteArray repeated(const char *part, int times) {
    return QByteArray(part).repeated(times);
}

} // namespace

class TestReaders : public QObject {
    Q_OBJECT

private slots:
    void html_data();
    void html() { check(htmlToText); }
    void markdown_data();
    void markdown() { check(markdownToText); }
    void fb2_data();
    void fb2() { check(fb2ToText); }
    void rtf_data();
    void rtf() { check(rtfToText); }
};

void TestReaders::html_data() {
    addColumns();
    row("paragraphs and headings",
        "<html><head><title>Tab title</title><style>p{}</style></head><body>"
        "<h1>Heading</h1><p>One\n   two <b>bold</b><i>it</i>.</p><div>Three<br>Four</div>"
        "<section><h2>Sub</h2>Loose text</section></body></html>",
        "Heading\nOne two boldit.\nThree\nFour\nSub\nLoose text");
    row("skipped content",
        "<p>a<script>alert(1)</script>b<noscript>no</noscript><template>t</template>"
        "<img alt='picture'>c<!-- comment --></p><style>x</style>",
        "abc");
    row("entities and soft hyphens", "<p>caf&eacute; &amp; t&shy;ea&nbsp;&#8212; &lt;b&gt;</p>",
        "café & tea — <b>");
    row("lists",
        "<ol start=3><li>three<li><p>four</p></li><li value=9>nine</ol>"
        "<ul><li>dot<ul><li>inner</li></ul></li><li></li></ul><p>after</p>",
        "3. three\n4. four\n9. nine\n• dot\n• inner\nafter");
    row("table",
        "<table><caption>Prices</caption><tr><th>Item<th>Cost</tr>"
        "<tr><td>Tea</td><td></td><td><p>2</p><p>euro</p></td></tr></table><p>end</p>",
        "Prices\nItem, Cost\nTea, 2 euro\nend");
    row("pre lines", "<pre>\nline one\n  line two\n\nthree</pre>after",
        "line one\nline two\nthree\nafter");
    row("unclosed tags", "<div><p>one<p>two<ul><li>a<li>b<table><tr><td>x<td>y",
        "one\ntwo\n• a\n• b\nx, y");
    row("invalid utf-8",
        QByteArray("<p>a\xff\xfe"
                   "b</p><p>\xc3</p>"),
        QStringLiteral("a\uFFFD\uFFFDb\n\uFFFD"));
    // Nesting past the walker's depth limit still reads; nesting the parser would take minutes
    // over (its time grows with the square of the depth) is refused before it starts, whatever
    // the scripts and self-closing tags around it.
    row("deep nesting",
        repeated("<div>", 2000) + "deep" + repeated("<i>", 2000) + "er" +
            repeated("</i></div>", 2000) + "<ol><li>after</ol>",
        "deeper\n1. after");
    row("too deep to parse", repeated("<div>", 30000) + "deep", "error: damaged");
    row("void, self-closing and script tags do not count",
        repeated("<br><img src=x><p>a<li>b<span/>", 5000) + "<script>" + repeated("'<b>'", 5000) +
            "</SCRIPT><div>end</div>",
        repeated("a\n\u2022 b\n", 5000) + "end");
    row("too large", "<p>" + repeated("word ", 100) + "</p>", "error: too large", 50);
}

void TestReaders::markdown_data() {
    addColumns();
    row("blocks",
        "# Title\n\nOne *two* **three**\nfour `code` ~~gone~~.  \nHard break\n\n> Quoted\n\n---\n"
        "Setext\n======\n",
        "Title\nOne two three four code gone.\nHard break\nQuoted\nSetext");
    row("lists", "3. three\n4. four\n   - inner\n\n* star\n\n  loose para\n* \n\nafter\n",
        "3. three\n4. four\n• inner\n• star\nloose para\nafter");
    row("table", "| A | B |\n|---|---|\n| 1 | |\n| | 2 |\n|x|y|\n", "A, B\n1\n2\nx, y");
    row("code block", "```\nint a;\n\n  b();\n```\n    indented\n", "int a;\nb();\nindented");
    row("links keep their text",
        "[the text](http://example.com \"t\") <http://auto.example> ![alt](i.png) [r]\n\n"
        "[r]: http://x\n",
        "the text http://auto.example r");
    row("html is text", "In <1999> a <b>bold</b> <!-- c -->\n\n<div>block</div>\n",
        "In <1999> a <b>bold</b> <!-- c -->\n<div>block</div>");
    row("entities", "caf&eacute; &amp; &#233;&#x41;&#0; &bogus; t&shy;ea",
        QStringLiteral("café & éA\uFFFD &bogus; tea"));
    row("invalid utf-8 and nul",
        QByteArray("a\xff\x00"
                   "b\xc3",
                   5),
        QStringLiteral("a\uFFFD\uFFFDb\uFFFD"));
    // Lists nested past the depth limit read as bullets.
    row("deep nesting", repeated("> ", 20000) + "- " + repeated("1. ", 1000) + "deep\n", "• deep");
    row("too large", repeated("word ", 100), "error: too large", 50);
    row("limit counts line breaks", "ab\n\ncd", "error: too large", 4);
}

namespace {

QByteArray fictionBook(const QByteArray &body, const QByteArray &prolog = {}) {
    return prolog +
           "<FictionBook xmlns=\"http://www.gribuser.ru/xml/fictionbook/2.0\" "
           "xmlns:l=\"http://www.w3.org/1999/xlink\"><description><title-info><book-title>"
           "Not read</book-title></title-info></description>" +
           body + "<binary id=\"c.jpg\" content-type=\"image/jpeg\">AAAA</binary></FictionBook>";
}

} // namespace

void TestReaders::fb2_data() {
    addColumns();
    const QByteArray book =
        "<body><title><p>Book</p><p>Two lines</p></title>"
        "<section><title><p>Chapter</p></title><epigraph><p>Saying</p>"
        "<text-author>Someone</text-author></epigraph>"
        "<p>One <emphasis>two</emphasis><a l:href=\"#n1\">1</a></p>"
        "<empty-line/><subtitle>* * *</subtitle><image l:href=\"#c.jpg\"/>"
        "<poem><stanza><v>Verse one</v><v>Verse two</v></stanza></poem>"
        "<table><tr><th>A</th> <th>B</th></tr><tr><td></td><td>2</td></tr>"
        "</table></section></body>"
        "<body name=\"notes\"><section id=\"n1\"><p>A note</p></section></body>";
    const QString text = "Book\nTwo lines\nChapter\nSaying\nSomeone\nOne two1\n* * *\n"
                         "Verse one\nVerse two\nA, B\n2\nA note";
    row("book", fictionBook(book, "<?xml version=\"1.0\" encoding=\"utf-8\"?>"), text);
    row("no declaration", fictionBook(book), text);
    row("windows-1251",
        fictionBook("<body><p>\xcf\xf0\xe8\xe2\xe5\xf2 \x98 \x85</p></body>",
                    "<?xml version='1.0' encoding='windows-1251'?>\n"),
        QStringLiteral("Привет \uFFFD …"));
    const QString utf16 = QString::fromUtf8(fictionBook(
        "<body><p>\xc3\xa9t\xc3\xa9</p></body>", "<?xml version=\"1.0\" encoding=\"UTF-16\"?>"));
    row("utf-16",
        "\xff\xfe" + QByteArray(reinterpret_cast<const char *>(utf16.utf16()), utf16.size() * 2),
        QStringLiteral("été"));
    row("unknown encoding",
        fictionBook("<body><p>x</p></body>", "<?xml version=\"1.0\" encoding=\"nope-42\"?>"),
        "error: damaged");
    row("billion laughs",
        "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
        "<!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
        "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
        "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
        "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
        "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
        "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
        "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
        "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>"
        "<FictionBook><body><p>&lol9;</p></body></FictionBook>",
        "error: damaged");
    row("truncated", fictionBook(book).chopped(200), "error: damaged");
    // A template's placeholder is left out; the five XML defines and character references stay.
    row("entities nobody declared",
        fictionBook("<body><p>About &Version; &amp; &#233;t&#xE9; &lt;x&gt;</p></body>"),
        QStringLiteral("About & été <x>"));
    row("a bare ampersand", fictionBook("<body><p>a & b</p></body>"), "error: damaged");
    row("invalid utf-8", fictionBook("<body><p>a\xff</p></body>"), "error: damaged");
    row("too deep",
        fictionBook("<body>" + repeated("<section>", 300) + "x" + repeated("</section>", 300) +
                    "</body>"),
        "error: damaged");
    row("too large", fictionBook("<body><p>" + repeated("word ", 100) + "</p></body>"),
        "error: too large", 50);
}

void TestReaders::rtf_data() {
    addColumns();
    row("paragraphs, code page, Unicode, quotes, tables",
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0 Times;}}{\\colortbl;\\red0\\green0;}"
        "{\\*\\generator Wordy;}{\\header Running head\\par}\\f0 Caf\\'e9 au lait, \\b bold\\b0  "
        "text.\\par Second \\u8364?  euro and \\ldblquote quotes\\rdblquote .\\line Same.\\par"
        "\\trowd Tea\\cell 2\\cell\\row Cake\\cell\\cell\\row{\\pict\\bin4 {}}x}After.\\par}",
        QStringLiteral("Caf\u00e9 au lait, bold text.\nSecond \u20ac euro and \u201cquotes\u201d. "
                       "Same.\nTea, 2\nCake\nAfter."));
    row("footnotes after the paragraph citing them, numbered list text kept",
        "{\\rtf1\\ansi {\\pntext 1.\\tab}First{\\super\\chftn}{\\footnote \\pard {\\super\\chftn} "
        "A note\\par in two parts.} point, still one.\\par Next{\\*\\footnote Second note.}.\\par"
        "{\\header Head{\\footnote Never.}\\par}Cut{\\footnote Half",
        QStringLiteral("1. First point, still one.\nA note in two parts.\nNext.\nSecond note.\n"
                       "Cut\nHalf"));
    row("Windows-1251 code page", "{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}",
        QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442"));
    row("not RTF", "{\\rtx1 hello}", "error: damaged");
    row("too deep", "{\\rtf1 " + repeated("{", 300) + "x" + repeated("}", 300) + "}",
        "error: damaged");
    row("unclosed groups and a cut-off escape", "{\\rtf1 {{text\\'4", QStringLiteral("text"));
}

QTEST_GUILESS_MAIN(TestReaders)
#include "tst_readers.moc"
