#pragma once
// The speech engine as the windows see it: what they may ask of it and what it tells them.
// Talker implements it over the synthesis worker and the sound server (speech/SpeechEngine);
// window tests that are not about speech use a fake (tests/common/FakeEngine.h).
//
// Every call is made on the UI thread and returns at once; every signal arrives on it.

#include "EngineError.h"
#include "Timeline.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace speech {

// espeak-ng's output rate: what a stream or file is opened at before the voices are known.
constexpr int kDefaultSampleRate = 22050;

struct Voice {
    QString id;
    QString name;
    QString language;
    QString engine;
    int sampleRate = 0; // what the voice's synthesiser produces, in Hz; 0 if not known
};

// One speak request, as it starts being heard.
struct SpeechRequest {
    quint64 session = 0;  // see Engine::speechSession()
    QString text;         // offsets of currentWord() and currentSentence() are into this
    qsizetype from = 0;   // where in `text` speaking starts
    bool preview = false; // a speakPreview(): heard over whatever it interrupts
};

class Engine : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,     // nothing to say
        Speaking, // speech is being heard
        Paused,   // the user's pause is on: speech, if any, waits for resume()
    };
    Q_ENUM(State)

    using QObject::QObject;

    // Replaces whatever is queued or playing. While paused, loads the text and stays silent.
    // Speaks `text` from UTF-16 offset `from` on; offsets reported stay those of `text`.
    // Throws EngineError (no audio device, worker cannot start).
    virtual void speak(const QString &text, qsizetype from = 0) = 0;
    // Speaks `text` at once, also while paused, as an interruption: once it has been heard,
    // whatever it interrupted is back as it was: speech goes on from the word it was cut at,
    // paused speech stays paused there (resume() carries it on), and idle stays idle. speak() or
    // stop() meanwhile replace or end both. Throws as speak() does.
    virtual void speakPreview(const QString &text) = 0;
    // Drops everything queued; the paused state stays as it is.
    virtual void stop() = 0;
    // Sets the paused state (also when idle) and silences output at once.
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Words per minute; applies from the word being heard. 0 is the synthesiser's default.
    virtual void setSpeed(int wpm) = 0;
    virtual int speed() const = 0;
    // Applies from the word being heard, like the speed.
    virtual void setVoice(const QString &id) = 0;
    virtual QString voice() const = 0;
    // Every voice the synthesisers offer; empty until they are known (voicesChanged).
    virtual QList<Voice> voices() const = 0;

    virtual State state() const = 0;
    bool isPaused() const { return state() == State::Paused; }
    // Some speech is being heard or waits behind the pause.
    virtual bool isSpeaking() const = 0;
    // Names what is being heard: each speak() and speakPreview() starts a new session, and
    // speech that a preview interrupted gets its own back when it goes on. A speed or voice
    // change goes on with the same text and keeps it.
    virtual quint64 speechSession() const = 0;

    // The word and sentence being heard, as ranges of the current request's text.
    virtual std::optional<TextRange> currentWord() const = 0;
    virtual std::optional<TextRange> currentSentence() const = 0;
    // With the automatic voice: the language told for the sentence being heard ("fr"), which
    // picked its voice; empty when none was told or nothing is heard.
    virtual QString currentLanguage() const { return {}; }

signals:
    void stateChanged(speech::Engine::State state);
    // A request starts being heard: emitted by speak() and speakPreview() before they return,
    // and again when speech that a preview interrupted goes on.
    void speechStarted(const speech::SpeechRequest &request);
    // Something went wrong while speaking; the speech is over.
    void errorOccurred(const speech::EngineError &error);
    void voicesChanged();
    // After setSpeed(), with the new speed in force.
    void speedChanged(int wpm);
    // currentLanguage() changed: a paragraph in another language is heard, or speech ended.
    void languageChanged(const QString &language);
};

} // namespace speech
