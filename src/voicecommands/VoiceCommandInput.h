#pragma once
// The window's side of spoken commands: owns the listener's thread and hands its results back on
// the owner's thread.

#include <QObject>
#include <QThread>

namespace voicecommands {

class CommandListener;

class VoiceCommandInput : public QObject {
    Q_OBJECT
public:
    explicit VoiceCommandInput(QObject *parent = nullptr);
    ~VoiceCommandInput() override;

    // Starts listening for one command; ignored while a previous one is still being heard.
    void listen();
    bool isBusy() const { return m_busy; }

signals:
    void listening();
    void heard(int command, const QString &words); // -1: not a command
    void nothingHeard();
    void failed(const QString &reason);

private:
    QThread m_thread;
    CommandListener *m_listener = nullptr; // lives on m_thread
    bool m_busy = false;
};

} // namespace voicecommands
