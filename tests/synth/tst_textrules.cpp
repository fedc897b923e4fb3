// Chunking, word snapping and UTF conversion: the text rules both processes rely on.
#include "Chunker.h"
#include "SpeedMap.h"
#include "TextUnits.h"
#include "WordMarks.h"

#include <QTest>

using namespace parlivo::text;

namespace {
std::u16string u(const QString &s) {
    return s.toStdU16String();
}

// All chunks of a complete text, as strings.
QStringList chunksOf(const QString &text, std::size_t max = kMaxChunk) {
    const std::u16string s = u(text);
    QStringList out;
    std::size_t at = 0;
    for (;;) {
        const ChunkResult r = nextChunk(s, at, true, max);
        if (r.status != ChunkStatus::Ready)
            break;
        out << QString::fromStdU16String(s.substr(r.chunk.start, r.chunk.length));
        at = r.chunk.start + r.chunk.length;
    }
    return out;
}
} // namespace

class TestTextRules : public QObject {
    Q_OBJECT
private slots:
    void chunks_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << QString() << QStringList{};
        QTest::newRow("only space") << QStringLiteral(" \r\n\t ") << QStringList{};
        QTest::newRow("two sentences")
            << QStringLiteral("Hello world. This is a test.")
            << QStringList{QStringLiteral("Hello world."), QStringLiteral("This is a test.")};
        QTest::newRow("no final stop")
            << QStringLiteral("abc") << QStringList{QStringLiteral("abc")};
        QTest::newRow("lines end chunks")
            << QStringLiteral("Title\r\n\r\nBody text")
            << QStringList{QStringLiteral("Title"), QStringLiteral("Body text")};
        QTest::newRow("decimal point is no end")
            << QStringLiteral("It costs $1,234.56 today. Yes!")
            << QStringList{QStringLiteral("It costs $1,234.56 today."), QStringLiteral("Yes!")};
        QTest::newRow("closing quote stays")
            << QStringLiteral("He said \"stop.\" Then left?!")
            << QStringList{QStringLiteral("He said \"stop.\""), QStringLiteral("Then left?!")};
        QTest::newRow("emoji and accents")
            << QStringLiteral("Café 😀. Fin")
            << QStringList{QStringLiteral("Café 😀."), QStringLiteral("Fin")};
    }
    void chunks() {
        QFETCH(QString, text);
        QFETCH(QStringList, expected);
        QCOMPARE(chunksOf(text), expected);
    }

    void longSentencesSplitAtWords() {
        const QString sentence = QStringLiteral("word ").repeated(200); // 1000 units, no stop
        const QStringList parts = chunksOf(sentence, 100);
        QVERIFY(parts.size() >= 10);
        for (const QString &p : parts) {
            QVERIFY(p.size() <= 100);
            QVERIFY(!p.startsWith(u' ') && !p.endsWith(u' '));
            QVERIFY2(p.split(u' ').filter(QStringLiteral("word")).size() == p.split(u' ').size(),
                     qPrintable(p)); // no word cut in two
        }
        QCOMPARE(parts.join(u' '), sentence.trimmed());
    }

    void oneHugeWordIsCutWithoutBreakingSurrogates() {
        QString word;
        for (int i = 0; i < 300; ++i)
            word += QStringLiteral("😀");
        const QStringList parts = chunksOf(word, 101);
        QCOMPARE(parts.join(QString()), word);
        for (const QString &p : parts) {
            QVERIFY(p.size() <= 101);
            QVERIFY(!p.front().isLowSurrogate());
            QVERIFY(!p.back().isHighSurrogate());
        }
    }

    void punctuationRunsAreCutLikeLongWords() {
        // A sentence end followed by thousands of dots or quotes once went to the synthesiser as
        // one chunk, and a growing text ending in such a run was held back however long it got.
        const QString run =
            QStringLiteral("Wait") + QStringLiteral(".\"").repeated(300) + QStringLiteral(" done.");
        const QStringList parts = chunksOf(run, 100);
        QCOMPARE(parts.join(QString()), QString(run).remove(u' '));
        for (const QString &p : parts)
            QVERIFY(p.size() <= 100);
        const std::u16string growing =
            u(QStringLiteral("Wait") + QStringLiteral(".").repeated(500));
        QCOMPARE(nextChunk(growing, 0, false, 100).status, ChunkStatus::Ready);
    }

    void growingTextWaitsForTheSentenceEnd() {
        const std::u16string partial = u"First one. Second is not fini";
        ChunkResult r = nextChunk(partial, 0, false);
        QCOMPARE(r.status, ChunkStatus::Ready);
        QCOMPARE(r.chunk.length, std::size_t(10));
        r = nextChunk(partial, 10, false);
        QCOMPARE(r.status, ChunkStatus::NeedMore);
        // A stop at the very end of a growing text may be "3." of "3.5": wait as well.
        QCOMPARE(nextChunk(u"It is 3.", 0, false).status, ChunkStatus::NeedMore);
        QCOMPARE(nextChunk(u"It is 3.", 0, true).status, ChunkStatus::Ready);
        QCOMPARE(nextChunk(u"   ", 0, false).status, ChunkStatus::NeedMore);
        QCOMPARE(nextChunk(u"   ", 0, true).status, ChunkStatus::End);
    }

    void wordAt_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("word");
        const QString t = QStringLiteral("Hello, wörld 😀 \"$1,234.56\" -- end.");
        QTest::newRow("start") << t << 0 << QStringLiteral("Hello");
        QTest::newRow("inside, comma trimmed") << t << 3 << QStringLiteral("Hello");
        QTest::newRow("non-ASCII") << t << 7 << QStringLiteral("wörld");
        QTest::newRow("on space takes next") << t << 12 << QStringLiteral("😀");
        QTest::newRow("low surrogate half") << t << 14 << QStringLiteral("😀");
        QTest::newRow("number is one word") << t << 19 << QStringLiteral("$1,234.56");
        QTest::newRow("number shifted by one") << t << 20 << QStringLiteral("$1,234.56");
        QTest::newRow("punctuation only kept") << t << 29 << QStringLiteral("--");
        QTest::newRow("final stop trimmed") << t << 32 << QStringLiteral("end");
    }
    void wordAt() {
        QFETCH(QString, text);
        QFETCH(int, offset);
        QFETCH(QString, word);
        const std::u16string s = u(text);
        const auto range = parlivo::text::wordAt(s, std::size_t(offset));
        QVERIFY(range);
        QCOMPARE(text.mid(qsizetype(range->offset), qsizetype(range->length)), word);
    }
    void wordAtTrailingSpace() {
        QVERIFY(!parlivo::text::wordAt(u"abc   ", 4));
        QVERIFY(!parlivo::text::wordAt(u"", 0));
    }

    void synthUtf8MapsCodePointsToUnits() {
        std::u16string s = u"a😀é";
        s += char16_t(0);
        s += char16_t(0xDC00); // lone low surrogate
        s += u"\x01z";
        const Utf8Text t = toSynthUtf8(s);
        // a, 😀 (2 units), é, NUL, lone surrogate, control, z, end
        QCOMPARE(t.unitOf, (std::vector<std::uint32_t>{0, 1, 3, 4, 5, 6, 7, 8}));
        QCOMPARE(QString::fromUtf8(t.bytes.data(), qsizetype(t.bytes.size())),
                 QStringLiteral("a😀é\uFFFD\uFFFD z"));
    }

    void utf8RoundTrip() {
        const std::u16string s = u"Grüße 😀 – ok";
        QVERIFY(fromUtf8(toUtf8(s)) == s);
        QVERIFY(fromUtf8("a\xff"
                         "b\xe2\x82") == u"a\uFFFDb\uFFFD\uFFFD");
        QVERIFY(fromUtf8("\xed\xa0\x80") == u"\uFFFD\uFFFD\uFFFD"); // encoded surrogate
    }

    void speedMapping() {
        using parlivo::synth::espeakSpeed;
        QCOMPARE(espeakSpeed(0).rate, 175);
        QCOMPARE(espeakSpeed(80), (parlivo::synth::EspeakSpeed{80, 1.0}));
        QCOMPARE(espeakSpeed(510).rate, 510);
        QCOMPARE(espeakSpeed(50).rate, 80);
        QCOMPARE(espeakSpeed(50).stretch, 50.0 / 80.0);
        QVERIFY(espeakSpeed(79).stretch < 1.0);
    }
};

QTEST_APPLESS_MAIN(TestTextRules)
#include "tst_textrules.moc"
