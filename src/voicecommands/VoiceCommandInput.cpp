#include "VoiceCommandInput.h"

#include "CommandListener.h"

namespace voicecommands {

VoiceCommandInput::VoiceCommandInput(QObject *parent)
    : QObject(parent)
    , m_listener(new CommandListener) {
    m_thread.setObjectName(QStringLiteral("VoiceCommands"));
    m_listener->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_listener, &QObject::deleteLater);
    // The listener is on another thread: these connections are queued.
    connect(m_listener, &CommandListener::listening, this, &VoiceCommandInput::listening);
    connect(m_listener, &CommandListener::heard, this, [this](int command, const QString &words) {
        m_busy = false;
        emit heard(command, words);
    });
    connect(m_listener, &CommandListener::nothingHeard, this, [this] {
        m_busy = false;
        emit nothingHeard();
    });
    connect(m_listener, &CommandListener::failed, this, [this](const QString &reason) {
        m_busy = false;
        emit failed(reason);
    });
    m_thread.start();
}

VoiceCommandInput::~VoiceCommandInput() {
    m_thread.quit();
    m_thread.wait();
}

void VoiceCommandInput::listen() {
    if (m_busy)
        return;
    m_busy = true;
    QMetaObject::invokeMethod(m_listener, &CommandListener::listen, Qt::QueuedConnection);
}

} // namespace voicecommands
