#pragma once
// Talker: the window's speech engine. Every call returns at once; speech goes on in the worker
// process and on the audio thread.

#include "EngineError.h"
#include "Timeline.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <memory>
#include <optional>

namespace speech {

class AudioOutput;
class PcmQueue;
class SynthClient;

struct Voice {
    QString id;
    QString name;
    QString language;
    QString engine;
};

class SpeechEngine : public QObject {
    Q_OBJECT
public:
    static constexpr int kMinSpeed = 50;
    static constexpr int kMaxSpeed = 510;

    // `workerProgram` empty: the parlivo-synth next to this program. The worker is started here,
    // so that the first speak() does not pay for it; a failure is reported by speak().
    explicit SpeechEngine(QObject *parent = nullptr, const QString &workerProgram = {});
    ~SpeechEngine() override;

    // Replaces whatever is queued or playing. While paused, loads the text and stays silent.
    // Throws EngineError (no audio device, worker cannot start).
    void speak(const QString &text);
    // Speaks `text` from UTF-16 offset `from` to its end; offsets reported stay those of `text`.
    void speak(const QString &text, qsizetype from);
    // Speaks `text` at once, also while paused, as an interruption: once it has been heard,
    // whatever it interrupted is back as it was: speech goes on from the word it was cut at, paused
    // speech stays paused there (resume() carries it on), and idle stays idle. speak() or stop()
    // meanwhile replace or end both. Throws as speak() does.
    void speakPreview(const QString &text);
    bool isPreviewing() const { return m_interrupted.has_value(); }
    // Drops everything queued; the paused state stays as it is.
    void stop();
    // Sets the paused state (also when idle) and silences output at once.
    void pause();
    void resume();
    // Words per minute; applies from the word being heard. 0 is the synthesiser's default.
    void setSpeed(int wpm);
    int speed() const { return m_wpm; }
    // Applies from the word being heard, like the speed.
    void setVoice(const QString &id);
    QString voice() const { return m_voice; }
    // Every voice the synthesisers offer; empty until the worker has answered (voicesChanged).
    QList<Voice> voices() const { return m_voices; }

    bool isPaused() const { return m_paused.load(); }
    bool isSpeaking() const { return m_speaking; }
    // Names what is being heard: each speak() and speakPreview() starts a new session, and speech
    // that a preview interrupted gets its own back when it goes on. A speed or voice change goes
    // on with the same text and keeps it, so a caller can tell whether what is heard is still
    // what it asked for.
    quint64 speechSession() const { return m_session; }

    // The word and sentence being heard, as ranges of the text last given to speak().
    std::optional<TextRange> currentWord() const;
    std::optional<TextRange> currentSentence() const;

    // For measurements and tests.
    qint64 workerPid() const;
    // Monotonic (std::chrono::steady_clock) nanoseconds.
    qint64 firstFrameNs() const; // when the current request's first sample reached the sink
    qint64 lastFrameNs() const;  // when the latest sample reached the sink
    qint64 sinkBufferedSamples() const;
    std::uint64_t heardSamples() const;

    // The voice for a locale's language, falling back to English.
    static QString defaultVoiceFor(const QLocale &locale);

signals:
    void speakingChanged(bool speaking);
    void voicesChanged();
    // The synthesis worker has started and is ready for requests.
    void workerReady();
    // Emitted by setSpeed(), after the new speed is in force.
    void speedChanged(int wpm);
    void errorOccurred(const speech::EngineError &error);

private:
    void startRequest(qsizetype from);
    // Ends the current request: its queued audio is dropped and the worker told to stop on it.
    void dropRequest();
    void restartFromHeardWord();
    void ensureAudioDevice() const;
    void onWorkerDied(int status);
    void onDrained(quint64 generation);
    void setSpeaking(bool speaking);
    // After a preview: what it interrupted, back where it was.
    void goOnAfterPreview();

    std::unique_ptr<PcmQueue> m_queue;
    std::unique_ptr<Timeline> m_timeline;
    std::atomic<bool> m_paused{false}; // the user's pause: pause() until resume()
    std::atomic<bool> m_outputHeld{
        false}; // what the audio output obeys: paused, unless a preview plays
    std::atomic<bool> m_firstAudioSeen{false};
    QThread m_audioThread;
    AudioOutput *m_output = nullptr; // lives on m_audioThread
    std::unique_ptr<SynthClient> m_client;

    QString m_text; // what the last speak() was given
    quint64 m_generation = 0;
    quint64 m_session = 0;
    qsizetype m_requestStart = 0;
    int m_wpm = 0;
    QString m_voice;
    QList<Voice> m_voices;
    bool m_speaking = false;
    // What a preview interrupted: the text, where to go on from, and its session.
    struct Interrupted {
        QString text;
        qsizetype from = 0;
        quint64 session = 0;
    };
    std::optional<Interrupted> m_interrupted; // set while a preview plays over speech
    bool m_previewOverIdle = false;           // a preview plays with nothing behind it
};

} // namespace speech
