// Endpointing on synthetic buffers: when an utterance starts and ends, what it keeps, and when
// waiting gives up.

#include "Endpointer.h"

#include <QTest>

#include <cmath>
#include <numbers>
#include <random>

using voicecommands::Endpointer;

namespace {

constexpr int kRate = 16000;

std::vector<std::int16_t> tone(int ms, double amplitude = 8000) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(kRate / 1000 * ms));
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(
            amplitude * std::sin(2 * std::numbers::pi * 300 * static_cast<double>(i) / kRate));
    return out;
}

std::vector<std::int16_t> hiss(int ms, double deviation) {
    static std::mt19937 random(3);
    std::normal_distribution<double> gauss(0, deviation);
    std::vector<std::int16_t> out(static_cast<std::size_t>(kRate / 1000 * ms));
    for (auto &sample : out)
        sample = static_cast<std::int16_t>(std::clamp(gauss(random), -32768.0, 32767.0));
    return out;
}

std::vector<std::int16_t> operator+(std::vector<std::int16_t> a,
                                    const std::vector<std::int16_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Feeds in pieces of `chunk` samples, the way a sound input delivers them.
Endpointer::State feedInPieces(Endpointer &endpointer, const std::vector<std::int16_t> &audio,
                               std::size_t chunk = 1234) {
    for (std::size_t at = 0; at < audio.size(); at += chunk)
        endpointer.feed(std::span(audio).subspan(at, std::min(chunk, audio.size() - at)));
    return endpointer.state();
}

double ms(std::size_t samples) {
    return 1000.0 * static_cast<double>(samples) / kRate;
}

} // namespace

class TestEndpointer : public QObject {
    Q_OBJECT
private slots:
    void utteranceEndsAfterSilence_data();
    void utteranceEndsAfterSilence();
    void shortGapDoesNotEndIt();
    void waitingGivesUpWithoutSpeech_data();
    void waitingGivesUpWithoutSpeech();
    void clickIsNotSpeech();
    void longSpeechIsCut();
};

void TestEndpointer::utteranceEndsAfterSilence_data() {
    QTest::addColumn<double>("background"); // standard deviation of the room's hiss; 0: digital
    QTest::newRow("digital silence") << 0.0;
    QTest::newRow("quiet room") << 30.0;
    QTest::newRow("noisy room") << 600.0; // about -35 dBFS
}

void TestEndpointer::utteranceEndsAfterSilence() {
    QFETCH(double, background);
    Endpointer endpointer;
    const auto audio = hiss(1000, background) + tone(700) + hiss(2000, background);
    QCOMPARE(feedInPieces(endpointer, audio), Endpointer::State::Done);
    // Pre-roll (300 ms) + speech (700 ms) + the silence that ended it (600 ms), to a frame.
    QVERIFY2(std::abs(ms(endpointer.utterance().size()) - 1600) <= 60,
             qPrintable(QString::number(ms(endpointer.utterance().size()))));
    // Audio after the end is not taken in.
    endpointer.feed(tone(500));
    QCOMPARE(endpointer.state(), Endpointer::State::Done);
    QVERIFY(ms(endpointer.utterance().size()) < 1700);
}

void TestEndpointer::shortGapDoesNotEndIt() {
    // "read ... mode": a pause inside a command.
    Endpointer endpointer;
    QCOMPARE(feedInPieces(endpointer, hiss(500, 30) + tone(300) + hiss(450, 30) + tone(300)),
             Endpointer::State::InSpeech);
    QCOMPARE(feedInPieces(endpointer, hiss(700, 30)), Endpointer::State::Done);
    QVERIFY(ms(endpointer.utterance().size()) > 1650);
}

void TestEndpointer::waitingGivesUpWithoutSpeech_data() {
    QTest::addColumn<double>("background");
    QTest::newRow("digital silence") << 0.0;
    QTest::newRow("steady noise") << 600.0;
}

void TestEndpointer::waitingGivesUpWithoutSpeech() {
    QFETCH(double, background);
    Endpointer endpointer;
    QCOMPARE(feedInPieces(endpointer, hiss(4900, background)), Endpointer::State::Waiting);
    QCOMPARE(feedInPieces(endpointer, hiss(200, background)), Endpointer::State::TimedOut);
}

void TestEndpointer::clickIsNotSpeech() {
    Endpointer endpointer;
    QCOMPARE(feedInPieces(endpointer, hiss(300, 30) + tone(20, 20000) + hiss(1000, 30)),
             Endpointer::State::Waiting);
}

void TestEndpointer::longSpeechIsCut() {
    Endpointer endpointer;
    QCOMPARE(feedInPieces(endpointer, hiss(200, 30) + tone(12000)), Endpointer::State::Done);
    QVERIFY(ms(endpointer.utterance().size()) <= 8010);
}

QTEST_GUILESS_MAIN(TestEndpointer)
#include "tst_endpointer.moc"
