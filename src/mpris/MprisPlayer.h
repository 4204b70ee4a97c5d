#pragma once
// The desktop's media controls: Vorlix as a media player on the session bus (MPRIS 2, bus name
// org.mpris.MediaPlayer2.vorlix, object /org/mpris/MediaPlayer2). The player follows the speech
// manager and the speaking run: while a run speaks aloud it is Playing or Paused, its track is
// the article being spoken (subject, author, newsgroup), and the desktop's buttons pause,
// resume and skip through the speech manager. Stop and Raise are the window's: they reach it
// as events. A run into files is not played aloud, so the player stays Stopped meanwhile.
//
// Without a session bus nothing fails and nothing waits: Start logs one line and the player
// stays off the bus. When another Vorlix (another profile) holds the name, this one takes
// org.mpris.MediaPlayer2.vorlix.instance<pid>.
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <functional>

class TBaseTTS;
class TSpeakRun;

class TMprisPlayer : public QObject {
    Q_OBJECT
public:
    static constexpr const char* BusName = "org.mpris.MediaPlayer2.vorlix";
    static constexpr const char* ObjectPath = "/org/mpris/MediaPlayer2";
    static constexpr const char* PlayerInterface = "org.mpris.MediaPlayer2.Player";

    // Follows tts (it registers with the manager as one of its controls) and run; the owner
    // tells it when the run starts, moves on and ends (RunChanged).
    TMprisPlayer(TBaseTTS* tts, TSpeakRun* run, QObject* owner = nullptr);
    ~TMprisPlayer() override;

    // Connects to the session bus (the one DBUS_SESSION_BUS_ADDRESS names, else the one libdbus
    // finds), publishes the object and takes the bus name, or this process's instance name when
    // another program holds it. False, with a line in the log, when that cannot be done.
    bool Start();
    // The bus name held; empty while the player is not on a bus.
    QString ServiceName() const { return serviceName; }

    // The run started, went on to another article or ended: status, track and controls are
    // read again, and the desktop is told what changed.
    void RunChanged();

    // --- what the desktop reads ---
    // A run speaks aloud: the controls work.
    bool RunAloud() const;
    // "Playing", "Paused" or "Stopped".
    QString PlaybackStatus() const;
    // The article being spoken: mpris:trackid, xesam:title, xesam:artist, xesam:album; empty
    // when there is none.
    QVariantMap Metadata() const { return metadata; }
    // Microseconds the current article has been speaking (pauses not counted).
    qint64 Position() const;

    // --- what the desktop asks ---
    // Play resumes paused speech; Pause pauses it; Next skips to the next article (also while
    // paused); Stop and Raise raise the window's events. Anything else has no effect.
    void Play();
    void Pause();
    void PlayPause();
    void Next();
    void Stop();
    void Raise();

    // --- for the window (unbound: not raised) ---
    // The main window comes to the front.
    std::function<void(TMprisPlayer*)> OnRaise;
    // The window's Stop command: the speech stops and the run ends.
    std::function<void(TMprisPlayer*)> OnStop;

private:
    // Reads everything again and sends PropertiesChanged with what differs from what the
    // desktop was last told.
    void refresh();
    void updateTrack();
    void updateClock();
    // Runs a speech manager operation; an error is logged (the speech output reports its own
    // failures to the window).
    void command(const char* name, const std::function<void()>& work);

    TBaseTTS* tts;
    TSpeakRun* run;
    QString connectionName;
    QString serviceName;
    QVariantMap metadata;
    QString trackID;
    // What the desktop was last told of the player interface.
    QVariantMap announced;
    // The current article's speaking time: what was played before the last pause, and the
    // clock of the present stretch (invalid while not playing).
    qint64 playedMs = 0;
    QElapsedTimer playing;
};
