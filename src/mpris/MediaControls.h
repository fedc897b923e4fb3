#pragma once
// Parlivo as a media player on the session bus (MPRIS 2), so that headset buttons, media keys
// and the desktops' media widgets can play, pause, stop and move by sentence. Every action goes
// through the window's own handlers; what the player reports follows the engine.
//
// Without a session bus nothing is registered and nothing is said: the window works as before.

#include "Engine.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace mpris {

// What the controls ask of the window.
struct Player {
    std::function<void()> play;
    std::function<void()> pause;
    std::function<void()> playPause;
    std::function<void()> stop;
    std::function<void()> next;
    std::function<void()> previous;
    std::function<void()> raise;
    // The document's text being read (not a test sentence); empty when nothing is.
    std::function<QString()> readingText;
};

class MediaControls : public QObject {
    Q_OBJECT
public:
    inline static const QString kServicePrefix = QStringLiteral("org.mpris.MediaPlayer2.parlivo");

    MediaControls(speech::Engine &engine, Player player, QObject *parent = nullptr);
    ~MediaControls() override;

    // Takes a name on the session bus: the plain one, or one with an instance suffix when
    // another Parlivo holds it. False (and silent) without a bus.
    bool registerOnBus();
    // The name taken; empty when not registered.
    QString serviceName() const { return m_service; }

    // What the adaptors publish.
    const Player &player() const { return m_player; }
    QString playbackStatus() const;
    QVariantMap metadata() const;
    bool canGoNext() const;

    // The first words of `text`, as a title a media widget can show in a line.
    static QString titleOf(QStringView text);

private:
    // The player's properties that change while it runs, as PropertiesChanged names them.
    QVariantMap changingProperties() const;
    // Sends PropertiesChanged for whatever differs from what was last published.
    void publish();

    speech::Engine &m_engine;
    Player m_player;
    QString m_service;
    QVariantMap m_published;
};

} // namespace mpris
