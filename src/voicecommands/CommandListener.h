#pragma once
// Listens on the default audio input for one spoken command and recognises it. Lives on its own
// thread (see VoiceCommandInput): capture, endpointing and decoding never run on the UI thread.
// Every slot is called through a queued connection; results leave as signals.

#include "Endpointer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QAudioSource;
class QIODevice;

namespace voicecommands {

class Recogniser;

class CommandListener : public QObject {
    Q_OBJECT
public:
    explicit CommandListener(QObject *parent = nullptr);
    ~CommandListener() override;

public slots:
    // Loads the recogniser the first time, then opens the input and waits for one utterance.
    // Ignored while already listening.
    void listen();

signals:
    // The input delivers audio: speaking now is heard.
    void listening();
    // `command` is an int of Command, or -1 when the utterance was not a command.
    void heard(int command, const QString &words);
    // Nobody spoke within the wait.
    void nothingHeard();
    // No input device, no sound server, no model: `reason` says which.
    void failed(const QString &reason);

private:
    void onAudioReady();
    void onTick();
    void finish();
    void closeInput();

    std::unique_ptr<Recogniser> m_recogniser;
    std::unique_ptr<QAudioSource> m_source;
    QIODevice *m_input = nullptr; // owned by m_source
    Endpointer m_endpointer;
    QTimer m_tick;
    QElapsedTimer m_sinceStart;
    bool m_receiving = false;
};

} // namespace voicecommands
