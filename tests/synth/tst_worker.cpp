// The real parlivo-synth process with espeak-ng, driven through the window's own client.
#include "SynthClient.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <mutex>

using namespace speech;
namespace proto = parlivo::proto;

namespace {

// Collects everything the worker sends, safely across the reader thread.
struct Collector {
    std::mutex mutex;
    std::vector<proto::WordMark> marks;
    std::vector<proto::Sentence> sentences;
    std::vector<std::int16_t> audio; // kept only when `keepAudio`
    bool keepAudio = false;
    std::uint64_t only = 0; // if set: what other requests send is left out
    int audioFrames = 0;
    std::uint64_t samples = 0;
    std::uint64_t doneTotal = 0;
    std::uint64_t doneId = 0;
    int rate = 0;
    bool died = false;
    std::vector<proto::VoiceInfo> voices;

    SynthClient::Handlers handlers() {
        SynthClient::Handlers h;
        h.audio = [this](proto::Audio &a) {
            std::scoped_lock lock(mutex);
            if (only && a.id != only)
                return;
            marks.insert(marks.end(), a.marks.begin(), a.marks.end());
            if (keepAudio)
                audio.insert(audio.end(), a.samples.begin(), a.samples.end());
            ++audioFrames;
            samples += a.samples.size();
            rate = int(a.sampleRate);
        };
        h.sentence = [this](const proto::Sentence &s) {
            std::scoped_lock lock(mutex);
            if (only && s.id != only)
                return;
            sentences.push_back(s);
        };
        h.done = [this](const proto::Done &d) {
            std::scoped_lock lock(mutex);
            doneId = d.id;
            doneTotal = d.totalSamples;
        };
        h.voices = [this](const proto::Voices &v) {
            std::scoped_lock lock(mutex);
            voices = v.voices;
        };
        h.died = [this](int) {
            std::scoped_lock lock(mutex);
            died = true;
        };
        return h;
    }
    void clear() {
        std::scoped_lock lock(mutex);
        marks.clear();
        sentences.clear();
        audio.clear();
        audioFrames = 0;
        samples = doneTotal = doneId = 0;
    }
    std::uint64_t done() {
        std::scoped_lock lock(mutex);
        return doneId;
    }
    bool hasDied() {
        std::scoped_lock lock(mutex);
        return died;
    }
    bool hasAudio() {
        std::scoped_lock lock(mutex);
        return samples > 0;
    }
};

QString program() {
    return QCoreApplication::applicationDirPath() + "/parlivo-synth";
}

// Total samples for `text` at `wpm`.
std::uint64_t lengthAt(SynthClient &client, Collector &c, std::uint64_t id, const QString &text,
                       int wpm, const std::string &voice = "espeak:en") {
    c.clear();
    client.speak(id, text, 0, wpm, voice);
    if (!QTest::qWaitFor([&] { return c.done() == id; }, 10000))
        return 0;
    std::scoped_lock lock(c.mutex);
    return c.doneTotal;
}

} // namespace

class TestWorker : public QObject {
    Q_OBJECT
private slots:
    void wordMarksCoverTheWrittenWords() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        const QString text = QStringLiteral("Hello wörld 😀. This is a test, $1,234.56 too.");
        client.speak(1, text, 0, 0, "espeak:en");
        QTRY_COMPARE_WITH_TIMEOUT(c.done(), std::uint64_t(1), 10000);
        std::scoped_lock lock(c.mutex);
        QStringList words;
        std::uint64_t lastSample = 0;
        for (const auto &m : c.marks) {
            words << text.mid(m.offset, m.length);
            QVERIFY(m.sample >= lastSample); // in the order they are heard
            QVERIFY(m.sample <= c.doneTotal);
            lastSample = m.sample;
        }
        QCOMPARE(words, (QStringList{"Hello", "wörld", "😀", "This", "is", "a", "test", "$1,234.56",
                                     "too"}));
        QCOMPARE(c.samples, c.doneTotal);
        QCOMPARE(c.rate, 22050);
        QCOMPARE(c.sentences.size(), std::size_t(2));
        QCOMPARE(text.mid(c.sentences[1].offset, c.sentences[1].length),
                 QStringLiteral("This is a test, $1,234.56 too."));
    }

    void offsetsCountFromTheWholeText() {
        // A request that starts in the middle reports offsets into the whole text.
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        const QString text = QStringLiteral("Skip this part. Read from here.");
        client.speak(1, text, 16, 0, "espeak:en");
        QTRY_COMPARE_WITH_TIMEOUT(c.done(), std::uint64_t(1), 10000);
        std::scoped_lock lock(c.mutex);
        QVERIFY(!c.marks.empty());
        QCOMPARE(text.mid(c.marks.front().offset, c.marks.front().length), QStringLiteral("Read"));
    }

    void longTextArrivesInPiecesAndIsSpokenWhole() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        // Longer than the first piece, with a word across the piece boundary.
        QString text = QStringLiteral("x").repeated(2040) + QStringLiteral(" boundaryword end.");
        client.speak(1, text, 0, 510, "espeak:en");
        QTRY_COMPARE_WITH_TIMEOUT(c.done(), std::uint64_t(1), 30000);
        std::scoped_lock lock(c.mutex);
        QStringList words;
        for (const auto &m : c.marks)
            words << text.mid(m.offset, m.length);
        QVERIFY2(words.contains(QStringLiteral("boundaryword")), qPrintable(words.join(',')));
    }

    void everySpeedIsDistinct_data() {
        QTest::addColumn<QString>("voice");
        QTest::newRow("espeak-ng") << QStringLiteral("espeak:en");
        QTest::newRow("flite slt") << QStringLiteral("flite:slt");
        QTest::newRow("flite kal16") << QStringLiteral("flite:kal16");
    }
    void everySpeedIsDistinct() {
        QFETCH(QString, voice);
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        const QString text = QStringLiteral("The quick brown fox jumps over the lazy dog.");
        std::uint64_t previous = 0;
        std::uint64_t id = 1;
        for (const int wpm : {510, 175, 80, 50}) {
            const std::uint64_t length = lengthAt(client, c, id++, text, wpm, voice.toStdString());
            QVERIFY(length > 0);
            if (previous)
                QVERIFY2(
                    length > previous * 1.2,
                    qPrintable(
                        QStringLiteral("%1 wpm: %2 vs %3").arg(wpm).arg(length).arg(previous)));
            previous = length;
        }
        if (voice.startsWith(QLatin1String("espeak"))) {
            // Below espeak-ng's floor of 80, time-stretching makes 50 about 80/50 times as long.
            const std::uint64_t at80 = lengthAt(client, c, id++, text, 80);
            const std::uint64_t at50 = lengthAt(client, c, id++, text, 50);
            QVERIFY(std::abs(double(at50) / double(at80) - 1.6) < 0.1);
        }
    }

    void fliteMarksAndRate() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        const QString text = QStringLiteral("Hello world. It costs $1,234.56 today, okay?");
        QVERIFY(lengthAt(client, c, 1, text, 0, "flite:slt") > 0);
        std::scoped_lock lock(c.mutex);
        QCOMPARE(c.rate, 16000);
        QStringList words;
        for (const auto &m : c.marks)
            words << text.mid(m.offset, m.length);
        QCOMPARE(words,
                 (QStringList{"Hello", "world", "It", "costs", "$1,234.56", "today", "okay"}));
    }

    void batchGivesTheStreamedAudio_data() {
        QTest::addColumn<QString>("voice");
        QTest::addColumn<int>("wpm");
        QTest::newRow("espeak-ng") << QStringLiteral("espeak:en") << 0;
        QTest::newRow("espeak-ng stretched") << QStringLiteral("espeak:en") << 50;
        QTest::newRow("flite") << QStringLiteral("flite:slt") << 0;
    }
    void batchGivesTheStreamedAudio() {
        // An export asks for its audio in large blocks without word marks; the samples and the
        // sentences must be those a listener gets from a fresh worker (espeak-ng carries state
        // from one text to the next), and every batch request on one worker must sound so.
        QFETCH(QString, voice);
        QFETCH(int, wpm);
        const QString text =
            QStringLiteral("The first line has two sentences. This is the second one!\n"
                           "A new line, with $1,234.56 in it; and a long, long tail of words "
                           "that goes on for a while before it ends.")
                .repeated(4);
        Collector streamed, batched;
        streamed.keepAudio = batched.keepAudio = true;
        {
            SynthClient client(program(), streamed.handlers());
            client.ensureRunning();
            client.speak(1, text, 0, wpm, voice.toStdString());
            QTRY_COMPARE_WITH_TIMEOUT(streamed.done(), std::uint64_t(1), 30000);
        }
        SynthClient client(program(), batched.handlers());
        client.ensureRunning();
        for (std::uint64_t id = 1; id <= 3; ++id) {
            batched.clear();
            {
                std::scoped_lock lock(batched.mutex);
                batched.only = id; // the cancelled one may still be on its way out
            }
            if (id == 2) { // one cancelled early, too
                client.speak(id, text, 0, wpm, voice.toStdString(), true);
                QTRY_VERIFY_WITH_TIMEOUT(batched.hasAudio(), 10000);
                client.cancel(id);
                continue;
            }
            client.speak(id, text, 0, wpm, voice.toStdString(), true);
            QTRY_COMPARE_WITH_TIMEOUT(batched.done(), id, 30000);
        }
        std::scoped_lock lock(streamed.mutex, batched.mutex);
        QVERIFY(streamed.audio.size() > 100000);
        QVERIFY(batched.audio == streamed.audio);
        QCOMPARE(batched.doneTotal, streamed.doneTotal);
        QCOMPARE(batched.sentences.size(), streamed.sentences.size());
        for (std::size_t i = 0; i < batched.sentences.size(); ++i) {
            QCOMPARE(batched.sentences[i].sample, streamed.sentences[i].sample);
            QCOMPARE(batched.sentences[i].offset, streamed.sentences[i].offset);
        }
        QVERIFY(!streamed.marks.empty());
        QVERIFY(batched.marks.empty());
        // At most one short block per sentence beside the full ones.
        QVERIFY2(batched.audioFrames <=
                     int(batched.sentences.size()) + int(batched.audio.size() / 32768) + 1,
                 qPrintable(QString::number(batched.audioFrames)));
    }

    void unknownVoiceFallsBack() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        QVERIFY(lengthAt(client, c, 1, QStringLiteral("Still spoken."), 0, "flite:nobody") > 0);
        QVERIFY(lengthAt(client, c, 2, QStringLiteral("Still spoken."), 0, "espeak:de-xx") > 0);
        std::scoped_lock lock(c.mutex);
        QCOMPARE(c.rate, 22050);
    }

    void automaticVoiceReadsEachParagraphInItsLanguage() {
        // Each paragraph of a mixed text sounds as espeak-ng speaks it in that language alone,
        // and says so; a chosen voice reads all of it in that one voice.
        const QStringList paragraphs{
            QStringLiteral("The weather was pleasant this morning, so we walked to the market."),
            QStringLiteral("Il faisait beau ce matin, alors nous avons marché jusqu'au marché."),
            QStringLiteral("Das Wetter war heute Morgen angenehm, also gingen wir zum Markt.")};
        const QStringList voices{"espeak:en-us", "espeak:fr", "espeak:de"};
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        QList<std::uint64_t> alone;
        for (int i = 0; i < paragraphs.size(); ++i)
            alone << lengthAt(client, c, 10 + i, paragraphs[i], 0, voices[i].toStdString());
        const QString mixed = paragraphs.join(u'\n');
        const auto spans = [&](const std::string &voice, QStringList *languages) {
            const std::uint64_t total =
                lengthAt(client, c, 20 + languages->size(), mixed, 0, voice);
            std::scoped_lock lock(c.mutex);
            QList<std::uint64_t> lengths;
            for (std::size_t i = 0; i < c.sentences.size(); ++i) {
                lengths << (i + 1 < c.sentences.size() ? c.sentences[i + 1].sample : total) -
                               c.sentences[i].sample;
                *languages << QString::fromStdString(c.sentences[i].language);
            }
            return lengths;
        };
        // espeak-ng carries a little state from one text to the next (a few ms of pause), so
        // lengths are compared within 1 %; another language's phonetics differ by far more.
        const auto near = [](std::uint64_t a, std::uint64_t b) {
            return std::abs(double(a) - double(b)) <= 0.01 * double(b);
        };
        QStringList told;
        const QList<std::uint64_t> automatic = spans("auto:espeak:en-us", &told);
        QCOMPARE(told, (QStringList{"en", "fr", "de"}));
        QStringList none;
        const QList<std::uint64_t> english = spans("espeak:en-us", &none);
        QCOMPARE(none, (QStringList{"", "", ""}));
        for (int i = 0; i < paragraphs.size(); ++i) {
            QVERIFY(near(automatic[i], alone[i]));
            QCOMPARE(near(english[i], alone[i]), i == 0);
        }
    }

    void cancelStopsPromptly() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        // Nobody plays this audio, so the worker only runs ahead as far as the pipe allows; a
        // newer request must still get through at once.
        client.speak(1, QStringLiteral("This is a long sentence. ").repeated(2000), 0, 0,
                     "espeak:en");
        // Under way on the long one before the next comes.
        QTRY_VERIFY_WITH_TIMEOUT(c.hasAudio(), 10000);
        client.speak(2, QStringLiteral("Short."), 0, 0, "espeak:en");
        QTRY_COMPARE_WITH_TIMEOUT(c.done(), std::uint64_t(2), 5000);
    }

    void crashingInputKillsOnlyTheWorker() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        const qint64 firstPid = client.pid();
        // espeak-ng 1.51 aborts on a word of 68 or more "s'" pairs.
        client.speak(1, QStringLiteral("s'").repeated(80), 0, 0, "espeak:en");
        QTRY_VERIFY_WITH_TIMEOUT(c.hasDied(), 10000);
        QVERIFY(!client.isRunning());
        client.ensureRunning();
        QVERIFY(client.pid() != firstPid);
        QVERIFY(lengthAt(client, c, 2, QStringLiteral("Still here."), 0) > 0);
    }

    void killedWorkerIsRestarted() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        client.speak(1, QStringLiteral("Some words to say. ").repeated(500), 0, 0, "espeak:en");
        QTRY_VERIFY_WITH_TIMEOUT(c.hasAudio(), 10000); // killed while it speaks
        ::kill(client.pid(), SIGKILL);
        QTRY_VERIFY_WITH_TIMEOUT(c.hasDied(), 5000);
        client.ensureRunning();
        QVERIFY(lengthAt(client, c, 2, QStringLiteral("Back again."), 0) > 0);
    }

    void listsVoices() {
        Collector c;
        SynthClient client(program(), c.handlers());
        client.ensureRunning();
        client.listVoices();
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     std::scoped_lock lock(c.mutex);
                                     return c.voices.size() > 50;
                                 }()),
                                 5000);
        std::scoped_lock lock(c.mutex);
        const bool hasEnglish = std::any_of(c.voices.begin(), c.voices.end(), [](const auto &v) {
            return v.id == "espeak:en" || v.language.rfind("en", 0) == 0;
        });
        QVERIFY(hasEnglish);
    }

    void shutdownLeavesNoProcess() {
        Collector c;
        qint64 pid = 0;
        {
            SynthClient client(program(), c.handlers());
            client.ensureRunning();
            pid = client.pid();
            client.speak(1, QStringLiteral("Talking while we leave. ").repeated(100), 0, 0,
                         "espeak:en");
            QTRY_VERIFY_WITH_TIMEOUT(c.hasAudio(), 10000);
        }
        QVERIFY(pid > 0);
        QVERIFY(::kill(pid_t(pid), 0) != 0); // reaped, gone
    }
};

QTEST_GUILESS_MAIN(TestWorker)
#include "tst_worker.moc"
