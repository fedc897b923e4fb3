// The recogniser on synthetic speech: every command in every test voice must be understood, and
// everyday phrases that are not commands must be turned down.

#include "Recogniser.h"
#include "SpokenAudio.h"

#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <random>

using voicecommands::Command;
using voicecommands::Recogniser;

namespace {

// None is a command, sounds exactly like one ("red") or contains one whole ("stopwatch").
const QStringList kUnrelatedPhrases = {
    "hello there",
    "what time is it",
    "turn on the lights",
    "good morning",
    "play some music",
    "close the window",
    "thank you very much",
    "how are you today",
    "the weather is nice",
    "call my mother",
    "delete everything",
    "print the page",
    "go to sleep",
    "next chapter",
    "send an email",
    "zoom in",
    "volume up",
    "open the door",
    "where is my phone",
    "yes",
    "no",
    "maybe later",
    "start over",
    "help me",
    "bookmark this page",
    "search the web",
    "new file",
    "undo that",
    "it is raining outside",
    "let me think",
    "one two three",
    "computer",
    "select all",
    "cancel",
    "go back",
    "scroll down",
    "shut down",
    "louder please",
    "change the voice",
    "exit",
    "speed",
    "forward",
    "reader",
};

} // namespace

class TestRecogniser : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void commandFromWords_data();
    void commandFromWords();
    void steppedSpeed_data();
    void steppedSpeed();
    void rejectsSilenceNoiseAndScraps();
    void syntheticVoices();

private:
    std::unique_ptr<Recogniser> m_recogniser;
};

void TestRecogniser::initTestCase() {
    QElapsedTimer timer;
    timer.start();
    m_recogniser = std::make_unique<Recogniser>();
    qInfo("decoder ready in %lld ms", timer.elapsed());
}

void TestRecogniser::commandFromWords_data() {
    QTest::addColumn<QString>("words");
    QTest::addColumn<int>("command"); // -1: none
    QTest::newRow("one word") << "stop" << int(Command::Stop);
    QTest::newRow("two words") << "open document" << int(Command::OpenDocument);
    QTest::newRow("alternate pronunciation") << "read(2) mode" << int(Command::ReadMode);
    QTest::newRow("silence and noise marks") << "<sil> pause [NOISE] <sil>" << int(Command::Pause);
    QTest::newRow("half a command") << "document" << -1;
    QTest::newRow("command inside fillers") << "please stop now" << -1;
    QTest::newRow("command twice") << "read read" << -1;
    QTest::newRow("nothing") << "" << -1;
}

void TestRecogniser::commandFromWords() {
    QFETCH(QString, words);
    QFETCH(int, command);
    const auto found = voicecommands::commandFromWords(words.toStdString());
    QCOMPARE(found ? int(*found) : -1, command);
}

void TestRecogniser::steppedSpeed_data() {
    QTest::addColumn<int>("current");
    QTest::addColumn<bool>("faster");
    QTest::addColumn<int>("expected");
    QTest::newRow("default, faster") << 0 << true << 200;
    QTest::newRow("default, slower") << 0 << false << 150;
    QTest::newRow("near the top") << 500 << true << 510;
    QTest::newRow("at the top") << 510 << true << 510;
    QTest::newRow("near the bottom") << 60 << false << 50;
    QTest::newRow("at the bottom") << 50 << false << 50;
}

void TestRecogniser::steppedSpeed() {
    QFETCH(int, current);
    QFETCH(bool, faster);
    QFETCH(int, expected);
    QCOMPARE(voicecommands::steppedSpeed(current, faster), expected);
}

void TestRecogniser::rejectsSilenceNoiseAndScraps() {
    const std::vector<std::int16_t> silence(Recogniser::kSampleRate, 0);
    QVERIFY(!m_recogniser->recognise(silence).command);

    std::mt19937 random(7);
    std::normal_distribution<double> gauss(0, 3000);
    std::vector<std::int16_t> noise(Recogniser::kSampleRate);
    for (auto &sample : noise)
        sample = static_cast<std::int16_t>(std::clamp(gauss(random), -32768.0, 32767.0));
    QVERIFY(!m_recogniser->recognise(noise).command);

    QVERIFY(!m_recogniser->recognise({}).command);
    QVERIFY(!m_recogniser->recognise(std::vector<std::int16_t>(100, 1000)).command);
}

// The measurement behind the rejection tuning: at least 95 % of the commands recognised as
// themselves, at most 5 % of the unrelated phrases taken for any command.
void TestRecogniser::syntheticVoices() {
    for (const char *program : {"espeak-ng", "flite"}) {
        if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(program))));
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    int commandsSaid = 0, commandsRight = 0, phrasesSaid = 0, phrasesAccepted = 0;
    QStringList mistakes;
    for (const spokenaudio::Voice &voice : spokenaudio::testVoices()) {
        int right = 0, accepted = 0;
        for (const auto &phrase : voicecommands::commandPhrases()) {
            const QString text = QString::fromLatin1(phrase.words.data(), phrase.words.size());
            const auto audio = spokenaudio::speak16k(voice, text, dir.path());
            QVERIFY2(!audio.empty(), qPrintable(voice.label + ": " + text));
            const auto heard = m_recogniser->recognise(audio);
            if (heard.command == phrase.command)
                ++right;
            else
                mistakes << QStringLiteral("%1: \"%2\" heard as \"%3\"")
                                .arg(voice.label, text, QString::fromStdString(heard.words));
        }
        for (const QString &text : kUnrelatedPhrases) {
            const auto audio = spokenaudio::speak16k(voice, text, dir.path());
            QVERIFY2(!audio.empty(), qPrintable(voice.label + ": " + text));
            const auto heard = m_recogniser->recognise(audio);
            if (heard.command) {
                ++accepted;
                mistakes << QStringLiteral("%1: unrelated \"%2\" accepted as \"%3\"")
                                .arg(voice.label, text, QString::fromStdString(heard.words));
            }
        }
        const int commandCount = static_cast<int>(voicecommands::commandPhrases().size());
        qInfo("%-20s commands %2d/%d right, unrelated %2d/%lld accepted", qPrintable(voice.label),
              right, commandCount, accepted, static_cast<long long>(kUnrelatedPhrases.size()));
        commandsSaid += commandCount;
        commandsRight += right;
        phrasesSaid += static_cast<int>(kUnrelatedPhrases.size());
        phrasesAccepted += accepted;
    }
    for (const QString &mistake : mistakes)
        qInfo("%s", qPrintable(mistake));
    qInfo("total: commands %d/%d right (%.1f %%), unrelated %d/%d accepted (%.1f %%)",
          commandsRight, commandsSaid, 100.0 * commandsRight / commandsSaid, phrasesAccepted,
          phrasesSaid, 100.0 * phrasesAccepted / phrasesSaid);
    QVERIFY(commandsRight * 100 >= commandsSaid * 95);
    QVERIFY(phrasesAccepted * 100 <= phrasesSaid * 5);
}

QTEST_GUILESS_MAIN(TestRecogniser)
#include "tst_recogniser.moc"
