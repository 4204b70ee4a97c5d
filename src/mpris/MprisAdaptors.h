#pragma once
// The two D-Bus interfaces of the media player, org.mpris.MediaPlayer2 and
// org.mpris.MediaPlayer2.Player, as adaptors of TMprisPlayer: Qt DBus exports their properties,
// methods and signals, and each hands over to the player. Only MprisPlayer.cpp uses them.
#include <QDBusAbstractAdaptor>
#include <QDBusObjectPath>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class TMprisPlayer;

class TMprisRootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ CanQuit)
    Q_PROPERTY(bool CanRaise READ CanRaise)
    Q_PROPERTY(bool HasTrackList READ HasTrackList)
    Q_PROPERTY(QString Identity READ Identity)
    Q_PROPERTY(QString DesktopEntry READ DesktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ SupportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ SupportedMimeTypes)
public:
    explicit TMprisRootAdaptor(TMprisPlayer* player);

    bool CanQuit() const { return false; }
    bool CanRaise() const { return true; }
    bool HasTrackList() const { return false; }
    QString Identity() const { return QStringLiteral("Vorlix"); }
    QString DesktopEntry() const { return QStringLiteral("vorlix"); }
    QStringList SupportedUriSchemes() const { return {}; }
    QStringList SupportedMimeTypes() const { return {}; }

public slots:
    void Raise();
    // The desktop may not end Vorlix (CanQuit is false).
    void Quit() {}

private:
    TMprisPlayer* player;
};

class TMprisPlayerAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ PlaybackStatus)
    Q_PROPERTY(double Rate READ Rate WRITE SetRate)
    Q_PROPERTY(QVariantMap Metadata READ Metadata)
    Q_PROPERTY(double Volume READ Volume WRITE SetVolume)
    Q_PROPERTY(qlonglong Position READ Position)
    Q_PROPERTY(double MinimumRate READ Rate)
    Q_PROPERTY(double MaximumRate READ Rate)
    Q_PROPERTY(bool CanGoNext READ CanControlRun)
    Q_PROPERTY(bool CanGoPrevious READ Cannot)
    Q_PROPERTY(bool CanPlay READ CanControlRun)
    Q_PROPERTY(bool CanPause READ CanControlRun)
    Q_PROPERTY(bool CanSeek READ Cannot)
    Q_PROPERTY(bool CanControl READ CanControl)
public:
    explicit TMprisPlayerAdaptor(TMprisPlayer* player);

    QString PlaybackStatus() const;
    QVariantMap Metadata() const;
    qlonglong Position() const;
    // Speech goes at the voice's own speed and volume: the desktop cannot change them.
    double Rate() const { return 1.0; }
    void SetRate(double) {}
    double Volume() const { return 1.0; }
    void SetVolume(double) {}
    bool CanControlRun() const;
    bool Cannot() const { return false; }
    bool CanControl() const { return true; }

public slots:
    void Next();
    void Previous() {}
    void Pause();
    void PlayPause();
    void Stop();
    void Play();
    // Speech has no place to seek to and opens no addresses.
    void Seek(qlonglong Offset) {}
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {}
    void OpenUri(const QString& Uri) {}

signals:
    void Seeked(qlonglong Position);

private:
    TMprisPlayer* player;
};
