#include "Protocol.h"

#include <QTest>

using namespace parlivo::proto;

namespace {
std::vector<std::uint8_t> bytesOf(const std::string &s) {
    return {reinterpret_cast<const std::uint8_t *>(s.data()),
            reinterpret_cast<const std::uint8_t *>(s.data()) + s.size()};
}
// Decodes one whole frame, length prefix included.
Message decodeFrame(const std::string &frame) {
    FrameReader reader;
    const auto bytes = bytesOf(frame);
    reader.feed(bytes);
    auto message = reader.next();
    if (!message)
        throw ProtocolError("incomplete");
    return *message;
}
} // namespace

class TestProtocol : public QObject {
    Q_OBJECT
private slots:
    void speakRoundTripKeepsEveryUnit() {
        Speak s;
        s.id = 0x0102030405060708ull;
        s.wpm = 510;
        s.baseOffset = 123456;
        s.final = false;
        s.batch = true;
        s.voice = "espeak:pt-br";
        // NUL, a lone surrogate and an emoji must travel untouched.
        s.text = std::u16string{u'a', u'\0', u'b', char16_t(0xD800), 0xD83D, 0xDE00, u' ', u'é'};
        const auto m = std::get<Speak>(decodeFrame(encode(s)));
        QCOMPARE(m.id, s.id);
        QCOMPARE(m.wpm, s.wpm);
        QCOMPARE(m.baseOffset, s.baseOffset);
        QCOMPARE(m.final, false);
        QCOMPARE(m.batch, true);
        QCOMPARE(m.voice, s.voice);
        QVERIFY(m.text == s.text);
    }

    void audioRoundTrip() {
        Audio a;
        a.id = 9;
        a.sampleRate = 22050;
        a.firstSample = 1ull << 40;
        a.marks = {{1, 2, 3}, {0xFFFFFFFFFFull, 0xFFFFFFFFu, 7}};
        a.samples = {0, -1, 32767, -32768, 5};
        const auto m = std::get<Audio>(decodeFrame(encode(a)));
        QCOMPARE(m.firstSample, a.firstSample);
        QVERIFY(m.marks == a.marks);
        QVERIFY(m.samples == a.samples);
    }

    void smallMessagesRoundTrip() {
        QCOMPARE(std::get<Cancel>(decodeFrame(encode(Cancel{42}))).id, 42u);
        QVERIFY(std::holds_alternative<ListVoices>(decodeFrame(encode(ListVoices{}))));
        QCOMPARE(std::get<Ready>(decodeFrame(encode(Ready{}))).version, kVersion);
        const auto d = std::get<Done>(decodeFrame(encode(Done{3, 99})));
        QCOMPARE(d.totalSamples, 99u);
        const auto e = std::get<Error>(decodeFrame(encode(Error{3, 2, "boom"})));
        QCOMPARE(e.message, std::string("boom"));
        const auto t = std::get<Sentence>(decodeFrame(encode(Sentence{1, 2, 3, 4, "fr"})));
        QCOMPARE(t.length, 4u);
        QCOMPARE(t.language, std::string("fr"));
        Voices v{{{"espeak:en", "English", "en", "espeak-ng", 22050},
                  {"flite:slt", "slt", "en-us", "flite", 16000}}};
        QVERIFY(std::get<Voices>(decodeFrame(encode(v))).voices == v.voices);
        const auto more = std::get<SpeakMore>(decodeFrame(encode(SpeakMore{5, true, u"xyz"})));
        QVERIFY(more.text == u"xyz");
    }

    void framesSplitAnywhereAreReassembled() {
        const std::string stream =
            encode(Cancel{1}) + encode(Speak{2, 0, 0, true, "", u"hi"}) + encode(Done{2, 10});
        FrameReader reader;
        std::vector<Message> got;
        for (const char c : stream) {
            const auto b = static_cast<std::uint8_t>(c);
            reader.feed({&b, 1});
            while (auto m = reader.next())
                got.push_back(*m);
        }
        QCOMPARE(got.size(), std::size_t(3));
        QVERIFY(std::get<Speak>(got[1]).text == u"hi");
        QCOMPARE(reader.buffered(), std::size_t(0));
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("frame");
        auto frame = [](std::string body) {
            std::string f(4, '\0');
            const auto n = static_cast<std::uint32_t>(body.size());
            for (int i = 0; i < 4; ++i)
                f[std::size_t(i)] = char(n >> (8 * i));
            return QByteArray::fromStdString(f + body);
        };
        QTest::newRow("unknown type") << frame(std::string(1, char(200)));
        QTest::newRow("truncated cancel") << frame(std::string(1, char(Type::Cancel)) + "abc");
        QTest::newRow("trailing bytes")
            << frame(std::string(1, char(Type::Cancel)) + std::string(9, 'x'));
        QTest::newRow("odd text bytes")
            << frame(encode(Speak{1, 0, 0, true, "", u""}).substr(4) + "x");
        QTest::newRow("bad flag") << frame(std::string(1, char(Type::SpeakMore)) +
                                           std::string(8, '\0') + "\x02");
        std::string hugeMarks = encode(Audio{1, 22050, 0, {}, {}}).substr(4);
        hugeMarks.replace(hugeMarks.size() - 4, 4, "\xff\xff\xff\x7f");
        QTest::newRow("mark count beyond message") << frame(hugeMarks);
        std::string longString = encode(Error{1, 1, ""}).substr(4);
        longString.replace(longString.size() - 4, 4, "\xff\xff\xff\xff");
        QTest::newRow("string longer than message") << frame(longString);
        QTest::newRow("zero length") << QByteArray(4, '\0');
        QTest::newRow("length over limit") << QByteArray("\xff\xff\xff\xff", 4);
    }

    void malformed() {
        QFETCH(QByteArray, frame);
        FrameReader reader;
        reader.feed({reinterpret_cast<const std::uint8_t *>(frame.constData()),
                     static_cast<std::size_t>(frame.size())});
        QVERIFY_THROWS_EXCEPTION(ProtocolError, reader.next());
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
