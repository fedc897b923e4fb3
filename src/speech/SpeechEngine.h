#pragma once
// Talker: the window's speech engine. Every call returns at once; speech goes on in the worker
// process and on the audio thread.
//
// Threads: every public function runs on the UI thread. Audio arrives on the worker client's
// reader thread (ReplyReader.h), which only feeds the PCM queue and the timeline; everything else
// it hears reaches the UI thread as a queued signal. The AudioOutput lives on the audio thread and
// is only ever called there, through queued calls. Debug builds assert the UI-thread rule.

#include "Engine.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <optional>

namespace speech {

class AudioOutput;
class PcmQueue;
class ReplyReader;
class SynthClient;

class SpeechEngine final : public Engine {
    Q_OBJECT
public:
    // `workerProgram` empty: the parlivo-synth next to this program. The worker is started here,
    // so that the first speak() does not pay for it; a failure is reported by speak().
    explicit SpeechEngine(QObject *parent = nullptr, const QString &workerProgram = {});
    ~SpeechEngine() override;

    void speak(const QString &text, qsizetype from = 0) override;
    void speakPreview(const QString &text) override;
    bool isPreviewing() const { return m_interrupted.has_value(); }
    void stop() override;
    void pause() override;
    void resume() override;
    void setSpeed(int wpm) override;
    int speed() const override { return m_wpm; }
    void setVoice(const QString &id) override;
    QString currentLanguage() const override { return m_language; }
    QString voice() const override { return m_voice; }
    QList<Voice> voices() const override { return m_voices; }

    State state() const override;
    bool isSpeaking() const override { return m_speaking; }
    quint64 speechSession() const override { return m_session; }

    std::optional<TextRange> currentWord() const override;
    std::optional<TextRange> currentSentence() const override;

    // For measurements and tests.
    qint64 workerPid() const;
    // Monotonic (std::chrono::steady_clock) nanoseconds.
    qint64 firstFrameNs() const; // when the current request's first sample reached the sink
    qint64 lastFrameNs() const;  // when the latest sample reached the sink
    qint64 sinkBufferedSamples() const;
    int underruns() const;
    std::uint64_t heardSamples() const;

signals:
    // The synthesis worker has started and is ready for requests.
    void workerReady();

private:
    void startRequest(qsizetype from);
    // Ends the current request: its queued audio is dropped and the worker told to stop on it.
    void dropRequest();
    void restartFromHeardWord();
    void ensureAudioDevice() const;
    void onWorkerDied(int status);
    void onDrained(quint64 generation);
    void setSpeaking(bool speaking);
    // Follows the language of what is heard, for languageChanged().
    void pollLanguage();
    // Tells stateChanged() listeners if state() is no longer what they last heard.
    void updateState();
    // The rate the current voice speaks at, to open the stream before its first audio.
    int voiceRate() const;
    // After a preview: what it interrupted, back where it was.
    void goOnAfterPreview();

    std::unique_ptr<PcmQueue> m_queue;
    std::unique_ptr<Timeline> m_timeline;
    std::atomic<bool> m_paused{false}; // the user's pause: pause() until resume()
    std::atomic<bool> m_outputHeld{
        false}; // what the audio output obeys: paused, unless a preview plays
    std::atomic<bool> m_firstAudioSeen{false};
    QThread m_audioThread;
    AudioOutput *m_output = nullptr;        // lives on m_audioThread
    std::unique_ptr<ReplyReader> m_replies; // its handlers run on the client's reader thread
    std::unique_ptr<SynthClient> m_client;

    QString m_text; // what the last speak() was given
    quint64 m_generation = 0;
    quint64 m_session = 0;
    qsizetype m_requestStart = 0;
    int m_wpm = 0;
    QString m_voice;
    QList<Voice> m_voices;
    bool m_speaking = false;
    QString m_language;
    QTimer *m_languagePoll = nullptr;
    State m_reportedState = State::Idle;
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
