#pragma once
// A speech engine for window tests that are not about speech: no worker, no sound server. It
// "speaks" one word per tick of a timer, so state changes, word positions and the end of speech
// arrive from the event loop as the real engine's do. The real engine has its own tests.

#include "Engine.h"

#include <QList>
#include <QRegularExpression>
#include <QTimer>

class FakeEngine final : public speech::Engine {
public:
    explicit FakeEngine(int msPerWord = 5) {
        m_tick.setInterval(msPerWord);
        connect(&m_tick, &QTimer::timeout, this, [this] {
            if (++m_word >= m_words.size())
                finish();
        });
    }

    void speak(const QString &text, qsizetype from = 0) override { start(text, from, false); }
    // Unlike the real engine, what a preview interrupts does not come back after it.
    void speakPreview(const QString &text) override { start(text, 0, true); }
    void stop() override {
        m_words.clear();
        finish();
    }
    void pause() override {
        m_paused = true;
        m_tick.stop();
        setState(State::Paused);
    }
    void resume() override {
        m_paused = false;
        if (isSpeaking())
            m_tick.start();
        setState(isSpeaking() ? State::Speaking : State::Idle);
    }
    void setSpeed(int wpm) override {
        m_wpm = wpm;
        emit speedChanged(wpm);
    }
    int speed() const override { return m_wpm; }
    void setVoice(const QString &id) override { m_voice = id; }
    QString voice() const override { return m_voice; }
    QList<speech::Voice> voices() const override {
        return {{QStringLiteral("fake:en"), QStringLiteral("English"), QStringLiteral("en"),
                 QStringLiteral("fake"), 22050}};
    }
    State state() const override { return m_state; }
    bool isSpeaking() const override { return m_word < m_words.size(); }
    quint64 speechSession() const override { return m_session; }
    std::optional<speech::TextRange> currentWord() const override {
        if (!isSpeaking())
            return std::nullopt;
        return m_words.at(m_word);
    }
    std::optional<speech::TextRange> currentSentence() const override { return currentWord(); }

    // Every request, in order, as speechStarted carried it.
    QList<speech::SpeechRequest> requests;

private:
    void start(const QString &text, qsizetype from, bool preview) {
        m_words.clear();
        static const QRegularExpression word(QStringLiteral("\\S+"));
        for (auto it = word.globalMatch(text, from); it.hasNext();) {
            const auto match = it.next();
            m_words.append({match.capturedStart(), match.capturedLength()});
        }
        m_word = 0;
        ++m_session;
        requests.append({m_session, text, from, preview});
        emit speechStarted(requests.constLast());
        if (!isSpeaking()) {
            finish();
        } else if (!m_paused) {
            m_tick.start();
            setState(State::Speaking);
        }
    }
    void finish() {
        m_tick.stop();
        m_word = m_words.size();
        setState(m_paused ? State::Paused : State::Idle);
    }
    void setState(State state) {
        if (std::exchange(m_state, state) != state)
            emit stateChanged(state);
    }

    QTimer m_tick;
    QList<speech::TextRange> m_words;
    qsizetype m_word = 0;
    quint64 m_session = 0;
    bool m_paused = false;
    State m_state = State::Idle;
    int m_wpm = 0;
    QString m_voice;
};
