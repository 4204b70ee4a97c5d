#include "mpris/MprisPlayer.h"

#include "core/BaseUtils.h"
#include "core/VorlixException.h"
#include "mpris/MprisAdaptors.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QPointer>

namespace {
void Log(const QString& text)
{
    UtilsClass::Log(QStringLiteral("Media controls: ") + text);
}

// Each player has a connection of its own, so it leaves the bus with it.
int connectionCount = 0;

const QString kTrackPath = QStringLiteral("/org/vorlix/Vorlix/Article/");
} // namespace

// ---------------------------------------------------------------- the adaptors

TMprisRootAdaptor::TMprisRootAdaptor(TMprisPlayer* player_) : QDBusAbstractAdaptor(player_), player(player_) {}

void TMprisRootAdaptor::Raise()
{
    player->Raise();
}

TMprisPlayerAdaptor::TMprisPlayerAdaptor(TMprisPlayer* player_) : QDBusAbstractAdaptor(player_), player(player_) {}

QString TMprisPlayerAdaptor::PlaybackStatus() const
{
    return player->PlaybackStatus();
}

QVariantMap TMprisPlayerAdaptor::Metadata() const
{
    return player->Metadata();
}

qlonglong TMprisPlayerAdaptor::Position() const
{
    return player->Position();
}

bool TMprisPlayerAdaptor::CanControlRun() const
{
    return player->RunAloud();
}

void TMprisPlayerAdaptor::Next()
{
    player->Next();
}

void TMprisPlayerAdaptor::Pause()
{
    player->Pause();
}

void TMprisPlayerAdaptor::PlayPause()
{
    player->PlayPause();
}

void TMprisPlayerAdaptor::Stop()
{
    player->Stop();
}

void TMprisPlayerAdaptor::Play()
{
    player->Play();
}

// ---------------------------------------------------------------- the player

TMprisPlayer::TMprisPlayer(TBaseTTS* tts_, TSpeakRun* run_, QObject* owner) : QObject(owner), tts(tts_), run(run_)
{
    new TMprisRootAdaptor(this);
    new TMprisPlayerAdaptor(this);
    // Every change of the manager's state reaches the player as it reaches the window's
    // buttons. The manager keeps its controls as long as it lives: a player gone is not called.
    QPointer<TMprisPlayer> self(this);
    tts->RegisterControl(ckPauseResume, [self](bool) {
        if (self)
            self->refresh();
    });
}

TMprisPlayer::~TMprisPlayer()
{
    if (!connectionName.isEmpty())
        QDBusConnection::disconnectFromBus(connectionName);
}

bool TMprisPlayer::Start()
{
    if (!serviceName.isEmpty())
        return true;
    connectionName = QStringLiteral("vorlix-mpris-%1").arg(++connectionCount);
    // The address is read now, so the bus is the one of the environment the window starts in.
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    QDBusConnection bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)
                                            : QDBusConnection::connectToBus(address, connectionName);
    const auto giveUp = [this](const QString& why) {
        Log(why + QStringLiteral("; Vorlix does not appear as a media player"));
        QDBusConnection::disconnectFromBus(connectionName);
        connectionName.clear();
        return false;
    };
    if (!bus.isConnected())
        return giveUp(QStringLiteral("no session bus (") + bus.lastError().message() + QLatin1Char(')'));
    if (!bus.registerObject(QString::fromLatin1(ObjectPath), this, QDBusConnection::ExportAdaptors))
        return giveUp(QStringLiteral("the object could not be published (") + bus.lastError().message()
                      + QLatin1Char(')'));
    // Another Vorlix (of another profile) may hold the name: this one is then its instance.
    const QString names[] = {QString::fromLatin1(BusName),
                             QString::fromLatin1(BusName) + QStringLiteral(".instance")
                                 + QString::number(QCoreApplication::applicationPid())};
    for (const QString& name : names) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = bus.interface()->registerService(
            name, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
            serviceName = name;
            break;
        }
    }
    if (serviceName.isEmpty())
        return giveUp(QStringLiteral("the bus names are taken"));
    Log(QStringLiteral("on the session bus as ") + serviceName);
    refresh();
    return true;
}

void TMprisPlayer::RunChanged()
{
    refresh();
}

bool TMprisPlayer::RunAloud() const
{
    return run && run->Running() && !run->ToFile;
}

QString TMprisPlayer::PlaybackStatus() const
{
    if (!RunAloud())
        return QStringLiteral("Stopped");
    // Between two articles the run goes on: it is still playing.
    return tts->IsPaused() ? QStringLiteral("Paused") : QStringLiteral("Playing");
}

qint64 TMprisPlayer::Position() const
{
    return (playedMs + (playing.isValid() ? playing.elapsed() : 0)) * 1000;
}

void TMprisPlayer::updateTrack()
{
    if (!RunAloud()) {
        metadata.clear();
        trackID.clear();
        playedMs = 0;
        return;
    }
    // Between two articles, or when the record went during the run, the last one stays.
    const TArticleClass* record = run->SpokenRecord();
    if (!record)
        return;
    const QString id = kTrackPath + QString::fromLatin1(
        QCryptographicHash::hash(record->MessageID.toUtf8(), QCryptographicHash::Sha1).toHex());
    if (id == trackID)
        return;
    trackID = id;
    metadata.clear();
    metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(id)));
    metadata.insert(QStringLiteral("xesam:title"), record->Subject);
    const QString author = TSpeakRun::AuthorName(record->From);
    if (!author.isEmpty())
        metadata.insert(QStringLiteral("xesam:artist"), QStringList{author});
    if (record->Owner && record->Owner->Config)
        metadata.insert(QStringLiteral("xesam:album"), record->Owner->Config->Name);
    playedMs = 0;
    if (playing.isValid())
        playing.restart();
}

void TMprisPlayer::updateClock()
{
    const bool speaking = RunAloud() && tts->State == tsPlay;
    if (speaking && !playing.isValid()) {
        playing.start();
    } else if (!speaking && playing.isValid()) {
        playedMs += playing.elapsed();
        playing.invalidate();
    }
}

void TMprisPlayer::refresh()
{
    updateClock();
    updateTrack();
    const bool controls = RunAloud();
    // The track is told by its id: the rest of the metadata belongs to it.
    const QVariantMap now{{QStringLiteral("PlaybackStatus"), PlaybackStatus()},
                          {QStringLiteral("Metadata"), trackID},
                          {QStringLiteral("CanGoNext"), controls},
                          {QStringLiteral("CanPlay"), controls},
                          {QStringLiteral("CanPause"), controls}};
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        const auto before = announced.constFind(it.key());
        if (before == announced.cend() || *before != *it)
            changed.insert(it.key(), it.key() == QLatin1String("Metadata") ? QVariant(metadata) : *it);
    }
    announced = now;
    if (changed.isEmpty() || serviceName.isEmpty())
        return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(ObjectPath),
                                                     QStringLiteral("org.freedesktop.DBus.Properties"),
                                                     QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(PlayerInterface) << changed << QStringList();
    QDBusConnection(connectionName).send(signal);
}

void TMprisPlayer::command(const char* name, const std::function<void()>& work)
{
    try {
        work();
    } catch (const EVorlixError& e) {
        Log(QString::fromLatin1(name) + QStringLiteral(" failed: ") + e.message());
    }
}

void TMprisPlayer::Play()
{
    if (RunAloud() && tts->IsPaused())
        command("Play", [this] { tts->Resume(); });
}

void TMprisPlayer::Pause()
{
    if (RunAloud() && tts->State == tsPlay)
        command("Pause", [this] { tts->Pause(); });
}

void TMprisPlayer::PlayPause()
{
    if (tts->IsPaused())
        Play();
    else
        Pause();
}

void TMprisPlayer::Next()
{
    // Also while paused: the next article starts.
    if (RunAloud() && (tts->State == tsPlay || tts->State == tsPause))
        command("Next", [this] { tts->Skip(); });
}

void TMprisPlayer::Stop()
{
    if (RunAloud() && OnStop)
        OnStop(this);
}

void TMprisPlayer::Raise()
{
    if (OnRaise)
        OnRaise(this);
}
