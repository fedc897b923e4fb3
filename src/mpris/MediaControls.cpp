#include "MediaControls.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QStringList>

namespace mpris {
namespace {

const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
// One "track" is the document being read; a new text gives a new one.
const QString kReadingTrack = QStringLiteral("/org/parlivo/Parlivo/Reading");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
constexpr qsizetype kTitleChars = 60;

// org.mpris.MediaPlayer2: who the player is.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ no)
    Q_PROPERTY(bool CanRaise READ yes)
    Q_PROPERTY(bool HasTrackList READ no)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ none)
    Q_PROPERTY(QStringList SupportedMimeTypes READ none)
public:
    explicit RootAdaptor(MediaControls *controls)
        : QDBusAbstractAdaptor(controls)
        , m_controls(controls) {}
    bool no() const { return false; }
    bool yes() const { return true; }
    QString identity() const { return QStringLiteral("Parlivo"); }
    QString desktopEntry() const { return QStringLiteral("org.parlivo.Parlivo"); }
    QStringList none() const { return {}; }

public slots:
    void Raise() { m_controls->player().raise(); }
    // Quitting from outside could take a text the user has not saved: the window decides.
    void Quit() {}

private:
    MediaControls *m_controls;
};

// org.mpris.MediaPlayer2.Player: the transport. Seeking by time means nothing for a text being
// synthesised, so only Next and Previous move, by sentence.
class PlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(double Rate READ one WRITE ignore)
    Q_PROPERTY(double MinimumRate READ one)
    Q_PROPERTY(double MaximumRate READ one)
    Q_PROPERTY(double Volume READ one WRITE ignore)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoNext)
    Q_PROPERTY(bool CanPlay READ yes)
    Q_PROPERTY(bool CanPause READ yes)
    Q_PROPERTY(bool CanSeek READ no)
    Q_PROPERTY(bool CanControl READ yes)
public:
    explicit PlayerAdaptor(MediaControls *controls)
        : QDBusAbstractAdaptor(controls)
        , m_controls(controls) {}
    QString playbackStatus() const { return m_controls->playbackStatus(); }
    QVariantMap metadata() const { return m_controls->metadata(); }
    bool canGoNext() const { return m_controls->canGoNext(); }
    double one() const { return 1.0; }
    void ignore(double) {}
    qlonglong position() const { return 0; }
    bool yes() const { return true; }
    bool no() const { return false; }

public slots:
    void Next() { m_controls->player().next(); }
    void Previous() { m_controls->player().previous(); }
    void Pause() { m_controls->player().pause(); }
    void PlayPause() { m_controls->player().playPause(); }
    void Stop() { m_controls->player().stop(); }
    void Play() { m_controls->player().play(); }
    void Seek(qlonglong) {}
    void SetPosition(const QDBusObjectPath &, qlonglong) {}
    void OpenUri(const QString &) {}

signals:
    void Seeked(qlonglong position);

private:
    MediaControls *m_controls;
};

} // namespace

MediaControls::MediaControls(speech::Engine &engine, Player player, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_player(std::move(player)) {
    new RootAdaptor(this);
    new PlayerAdaptor(this);
    connect(&m_engine, &speech::Engine::stateChanged, this, &MediaControls::publish);
    // Queued: the window learns of the new request from the same signal, and the text being
    // read is the window's to tell.
    connect(&m_engine, &speech::Engine::speechStarted, this, &MediaControls::publish,
            Qt::QueuedConnection);
}

MediaControls::~MediaControls() {
    if (m_service.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    bus.unregisterService(m_service);
}

bool MediaControls::registerOnBus() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return false;
    if (!bus.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    // Two windows are two independent players: the second takes the name with its process
    // number, as media players do, and a counter in the unlikely case that is taken too.
    const QString instance =
        QStringLiteral("%1.instance%2").arg(kServicePrefix).arg(QCoreApplication::applicationPid());
    QStringList names{kServicePrefix, instance};
    for (int i = 2; i <= 9; ++i)
        names << QStringLiteral("%1_%2").arg(instance).arg(i);
    for (const QString &name : names) {
        const auto reply =
            bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                             QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            m_service = name;
            m_published = changingProperties();
            return true;
        }
    }
    bus.unregisterObject(kObjectPath);
    return false;
}

QString MediaControls::playbackStatus() const {
    switch (m_engine.state()) {
    case speech::Engine::State::Speaking:
        return QStringLiteral("Playing");
    case speech::Engine::State::Paused:
        return QStringLiteral("Paused");
    case speech::Engine::State::Idle:
        break;
    }
    return QStringLiteral("Stopped");
}

QVariantMap MediaControls::metadata() const {
    const QString text = m_player.readingText();
    if (text.isEmpty())
        return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack))}};
    return {{QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kReadingTrack))},
            {QStringLiteral("xesam:title"), titleOf(text)}};
}

bool MediaControls::canGoNext() const {
    return !m_player.readingText().isEmpty();
}

QString MediaControls::titleOf(QStringView text) {
    // Only the start is looked at, whatever the size of the document.
    QString start =
        text.first(std::min<qsizetype>(text.size(), 4 * kTitleChars)).toString().simplified();
    if (start.size() <= kTitleChars)
        return start;
    const qsizetype space = start.lastIndexOf(u' ', kTitleChars);
    start.truncate(space > 0 ? space : kTitleChars);
    return start + QChar(0x2026);
}

QVariantMap MediaControls::changingProperties() const {
    return {{QStringLiteral("PlaybackStatus"), playbackStatus()},
            {QStringLiteral("Metadata"), metadata()},
            {QStringLiteral("CanGoNext"), canGoNext()},
            {QStringLiteral("CanGoPrevious"), canGoNext()}};
}

void MediaControls::publish() {
    if (m_service.isEmpty())
        return;
    const QVariantMap now = changingProperties();
    QVariantMap changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (m_published.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    m_published = now;
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
}

} // namespace mpris

#include "MediaControls.moc"
