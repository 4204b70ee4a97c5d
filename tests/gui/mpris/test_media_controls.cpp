// The desktop's media controls through the real main window. A speaking run aloud into the
// null sink is read and driven over the private session bus by an independent client (gdbus),
// as a desktop widget does: the player's identity, its status and the article being spoken,
// Pause (the sound server's stream is corked), Play, Next (also while paused) and Stop, and the
// change signals the widgets follow. Then a second Vorlix under its instance name, and a window
// that finds no bus at all.
#include "../app/news_window_rig.h"

#include "ScriptedWindows.h"
#include "SampleNewsServer.h"
#include "mpris/MprisPlayer.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace NewsRig;

namespace {
const QString kGroup = QStringLiteral("alt.test.media");
const QString kName = QStringLiteral("org.mpris.MediaPlayer2.vorlix");
const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");

// An article of some sentences: still being read while the desktop pauses, resumes and skips.
QByteArray Article(const QByteArray& from, const QByteArray& subject, const QByteArray& id, int sentences = 12)
{
    QByteArray body;
    for (int i = 1; i <= sentences; ++i)
        body += "Sentence " + QByteArray::number(i) + " of an article that is read aloud.\n";
    return "From: " + from + "\nNewsgroups: alt.test.media\nSubject: " + subject + "\nDate: -1d 10:00\nMessage-ID: "
        + id + "\n\n" + body;
}

// Runs a program to its end while this thread's events go on: the window answers the bus here.
QString Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return QStringLiteral("(%1 did not start)").arg(program);
    TestSupport::WaitFor([&p] { return p.state() == QProcess::NotRunning; }, 30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QString Call(const QString& service, const QString& method, const QStringList& args = {})
{
    return Run(QStringLiteral("gdbus"), QStringList{"call", "--session", "--dest", service, "--object-path",
                                                    "/org/mpris/MediaPlayer2", "--method", method}
                                            + args);
}

QString Get(const QString& service, const QString& interface, const QString& property)
{
    return Call(service, QStringLiteral("org.freedesktop.DBus.Properties.Get"), {interface, property});
}

QString Status()
{
    return Get(kName, kPlayer, QStringLiteral("PlaybackStatus"));
}

QString Metadata()
{
    return Get(kName, kPlayer, QStringLiteral("Metadata"));
}

qint64 Position()
{
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^\\(<int64 (\\d+)>,\\)$")).match(Get(kName, kPlayer, QStringLiteral("Position")));
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

// The track id of what Metadata() answered (empty when it holds none).
QString TrackOf(const QString& metadata)
{
    return QRegularExpression(QStringLiteral("'mpris:trackid': <objectpath '([^']*)'>")).match(metadata).captured(1);
}

// What a desktop reads as the metadata of an article of the test group.
QString Track(const QString& track, const QString& title, const QString& author)
{
    return QStringLiteral("(<{'mpris:trackid': <objectpath '%1'>, 'xesam:album': <'%2'>, 'xesam:artist': <['%3']>, "
                          "'xesam:title': <'%4'>}>,)")
        .arg(track, kGroup, author, title);
}

// Whether the sound server holds this process's stream corked (paused): "yes", "no", or
// "none" when there is no stream of this process.
QString StreamCorked()
{
    const QString pid = QString::number(QCoreApplication::applicationPid());
    for (const QString& input : Run(QStringLiteral("pactl"), {"list", "sink-inputs"}).split(QStringLiteral("Sink Input #"))) {
        if (input.contains(QStringLiteral("application.process.id = \"%1\"").arg(pid)))
            return QRegularExpression(QStringLiteral("Corked: (\\w+)")).match(input).captured(1);
    }
    return QStringLiteral("none");
}

// The player's change signals as gdbus monitor prints them, in short: "Playing", "Paused",
// "Stopped" for the status, "title" for a new track, "no track" when the metadata is emptied,
// "controls"/"no controls" when CanPlay changes.
QStringList Changes(const QString& monitorOutput)
{
    QStringList out;
    const QRegularExpression status(QStringLiteral("'PlaybackStatus': <'(\\w+)'>"));
    const QRegularExpression title(QStringLiteral("'xesam:title': <'([^']*)'>"));
    for (const QString& line : monitorOutput.split(QLatin1Char('\n'))) {
        if (!line.contains(QStringLiteral("PropertiesChanged ('org.mpris.MediaPlayer2.Player'")))
            continue;
        if (line.contains(QStringLiteral("'CanPlay': <true>")))
            out << QStringLiteral("controls");
        if (line.contains(QStringLiteral("'CanPlay': <false>")))
            out << QStringLiteral("no controls");
        if (const auto m = title.match(line); m.hasMatch())
            out << m.captured(1);
        if (line.contains(QStringLiteral("'Metadata': <@a{sv} {}>")))
            out << QStringLiteral("no track");
        if (const auto m = status.match(line); m.hasMatch())
            out << m.captured(1);
    }
    return out;
}

struct TMediaRig {
    TSampleNewsServer Server;
    Window W;

    bool Open(const QList<QByteArray>& articles)
    {
        Server.AddGroup(kGroup);
        for (const QByteArray& a : articles)
            if (!Server.AddArticle(a))
                return false;
        return Server.Listen() && W.OpenOnGroup(Server.Port(), kGroup);
    }
    TBaseTTS& Tts() const { return *W.Form->Speech; }
    TMprisPlayer& Player() const { return *W.Form->Mpris; }
    TArticleClass* Record(const QString& id) const { return W.Entry(kGroup)->Articles->FindByMessageID(id); }
    void SpeakAloud(const QStringList& ids)
    {
        for (const QString& id : ids)
            Record(id)->SetSpeakMark(1);
        W.Form->ThreadView->SaveArticles(W.Entry(kGroup));
        W.Form->Command("SpeakMarkAloud", TCommandPlace::Toolbar)->trigger();
    }
    // The window speaks the article with that subject.
    bool WaitSpeaking(const QString& subject, int ms = 30000) const
    {
        return TestSupport::WaitFor([&] { return W.Form->StatusText(1) == subject && Tts().State == tsPlay; }, ms);
    }
    bool WaitRunOver(int ms = 60000) const
    {
        return TestSupport::WaitFor([this] { return !W.Form->Speaking->Running() && !Tts().IsBusy(); }, ms);
    }
    QString Marks(const QStringList& ids) const
    {
        QString s;
        for (const QString& id : ids)
            s += QString::number(Record(id)->SpeakMark);
        return s;
    }
};
} // namespace

class TestMediaControls : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    // A run of four articles aloud, seen and driven from the desktop's side of the bus.
    void desktopDrivesARunAloud()
    {
        VORLIX_REQUIRE_PULSE();
        VORLIX_REQUIRE_DBUS();
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("gdbus"));
        TScopedScriptedWindows dialogs;
        TMediaRig rig;
        const QStringList ids{"<m1@t>", "<m2@t>", "<m3@t>", "<m4@t>"};
        QVERIFY(rig.Open({Article("\"Ann Example\" <ann@example.org>", "First article", "<m1@t>"),
                          Article("bob@example.net (Bob Builder)", "Second article", "<m2@t>"),
                          Article("Carla Speaker <carla@example.com>", "Third article", "<m3@t>"),
                          Article("Dan Reader <dan@example.org>", "Fourth article", "<m4@t>")}));
        QCOMPARE(rig.Player().ServiceName(), kName);

        // Before anything speaks.
        QCOMPARE(Call(kName, QStringLiteral("org.freedesktop.DBus.Properties.GetAll"), {kRoot}),
                 QString("({'CanQuit': <false>, 'CanRaise': <true>, 'DesktopEntry': <'vorlix'>, 'HasTrackList': "
                         "<false>, 'Identity': <'Vorlix'>, 'SupportedMimeTypes': <@as []>, 'SupportedUriSchemes': "
                         "<@as []>},)"));
        QCOMPARE(Status(), QString("(<'Stopped'>,)"));
        QCOMPARE(Metadata(), QString("(<@a{sv} {}>,)"));
        QCOMPARE(Get(kName, kPlayer, "CanPlay"), QString("(<false>,)"));
        QCOMPARE(Get(kName, kPlayer, "CanControl"), QString("(<true>,)"));
        // Raise brings the minimised window back; Stop with nothing running does nothing.
        rig.W.Form->showMinimized();
        QVERIFY(rig.W.Form->isMinimized());
        QCOMPARE(Call(kName, kRoot + ".Raise"), QString("()"));
        QVERIFY(!rig.W.Form->isMinimized() && rig.W.Form->isVisible());
        QCOMPARE(Call(kName, kPlayer + ".Stop"), QString("()"));

        // A widget following the change signals.
        QProcess monitor;
        monitor.setProcessChannelMode(QProcess::MergedChannels);
        monitor.start(QStringLiteral("gdbus"), {"monitor", "--session", "--dest", kName});
        QString watched;
        QVERIFY(TestSupport::WaitFor([&] {
            watched += QString::fromUtf8(monitor.readAll());
            return watched.contains(QStringLiteral(" is owned by "));
        }));

        rig.SpeakAloud(ids);
        QVERIFY(rig.WaitSpeaking("First article"));
        QCOMPARE(Status(), QString("(<'Playing'>,)"));
        const QString first = TrackOf(Metadata());
        QVERIFY2(first.startsWith('/') && !first.startsWith("/org/mpris"), qPrintable(first));
        QCOMPARE(Metadata(), Track(first, "First article", "Ann Example"));
        for (const char* can : {"CanGoNext", "CanPlay", "CanPause"})
            QCOMPARE(Get(kName, kPlayer, can), QString("(<true>,)"));
        for (const char* cannot : {"CanGoPrevious", "CanSeek"})
            QCOMPARE(Get(kName, kPlayer, cannot), QString("(<false>,)"));

        // Pause: the stream is corked and the position stands still.
        QVERIFY(TestSupport::WaitFor([] { return StreamCorked() == "no"; }));
        QCOMPARE(Call(kName, kPlayer + ".Pause"), QString("()"));
        QVERIFY(rig.Tts().IsPaused());
        QCOMPARE(Status(), QString("(<'Paused'>,)"));
        QVERIFY(TestSupport::WaitFor([] { return StreamCorked() == "yes"; }));
        const qint64 paused = Position();
        QVERIFY(paused > 0);
        QVERIFY(TestSupport::ExpectNothingFor(300, [&] { return Position() != paused; }));
        QVERIFY(rig.W.Form->Command("Pause", TCommandPlace::Toolbar)->isChecked());

        // Play: on from where it was.
        QCOMPARE(Call(kName, kPlayer + ".Play"), QString("()"));
        QCOMPARE(Status(), QString("(<'Playing'>,)"));
        QVERIFY(TestSupport::WaitFor([] { return StreamCorked() == "no"; }));
        QVERIFY(TestSupport::WaitFor([&] { return Position() > paused; }));
        QCOMPARE(rig.W.Form->StatusText(1), QString("First article"));

        // Next: the second article, a track of its own.
        QCOMPARE(Call(kName, kPlayer + ".Next"), QString("()"));
        QVERIFY(rig.WaitSpeaking("Second article"));
        const QString second = TrackOf(Metadata());
        QVERIFY(!second.isEmpty() && second != first);
        QCOMPARE(Metadata(), Track(second, "Second article", "Bob Builder"));

        // PlayPause pauses; Next while paused goes on with the third article.
        QCOMPARE(Call(kName, kPlayer + ".PlayPause"), QString("()"));
        QCOMPARE(Status(), QString("(<'Paused'>,)"));
        QCOMPARE(Call(kName, kPlayer + ".Next"), QString("()"));
        QVERIFY(rig.WaitSpeaking("Third article"));
        QCOMPARE(Status(), QString("(<'Playing'>,)"));
        QCOMPARE(Metadata(), Track(TrackOf(Metadata()), "Third article", "Carla Speaker"));

        // Stop ends the run after the third article: the fourth keeps its mark.
        QCOMPARE(Call(kName, kPlayer + ".Stop"), QString("()"));
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(rig.Marks(ids), QString("2221"));
        QCOMPARE(Status(), QString("(<'Stopped'>,)"));
        QCOMPARE(Metadata(), QString("(<@a{sv} {}>,)"));
        QCOMPARE(Get(kName, kPlayer, "CanPlay"), QString("(<false>,)"));
        QCOMPARE(Get(kName, kPlayer, "Position"), QString("(<int64 0>,)"));

        // Every change reached the widget, in order.
        QVERIFY(TestSupport::WaitFor([&] {
            watched += QString::fromUtf8(monitor.readAll());
            return watched.contains(QStringLiteral("'Stopped'"));
        }));
        monitor.kill();
        monitor.waitForFinished(5000);
        QCOMPARE(Changes(watched), (QStringList{"controls", "Playing", "First article", "Paused", "Playing",
                                                "Second article", "Paused", "Playing", "Third article",
                                                "no controls", "no track", "Stopped"}));
        QVERIFY(dialogs.Shown.empty());
    }

    // Another program holds the name: this Vorlix is its instance, and leaves the bus with its
    // window. Without a bus the window starts and speaks as ever, with no message.
    void instanceNameAndNoBus()
    {
        VORLIX_REQUIRE_PULSE();
        VORLIX_REQUIRE_DBUS();
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("gdbus"));
        TScopedScriptedWindows dialogs;
        const QString instance = kName + QStringLiteral(".instance") + QString::number(QCoreApplication::applicationPid());
        const auto owned = [](const QString& name) {
            return Run(QStringLiteral("gdbus"), {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                                 "/org/freedesktop/DBus", "--method",
                                                 "org.freedesktop.DBus.NameHasOwner", name});
        };
        {
            QDBusConnection other =
                QDBusConnection::connectToBus(qEnvironmentVariable("VORLIX_DBUS_ADDRESS"), QStringLiteral("other"));
            QVERIFY(other.isConnected());
            QCOMPARE(other.interface()->registerService(kName).value(), QDBusConnectionInterface::ServiceRegistered);
            {
                TMediaRig rig;
                QVERIFY(rig.Open({Article("Eve <eve@example.org>", "Only article", "<o1@t>", 1)}));
                QCOMPARE(rig.Player().ServiceName(), instance);
                QCOMPARE(Get(instance, kRoot, "Identity"), QString("(<'Vorlix'>,)"));
                QCOMPARE(Get(instance, kPlayer, "PlaybackStatus"), QString("(<'Stopped'>,)"));
            }
            QCOMPARE(owned(instance), QString("(false,)"));
            QCOMPARE(owned(kName), QString("(true,)"));
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("other"));
        QVERIFY(TestSupport::WaitFor([&] { return owned(kName) == "(false,)"; }));

        ResetProfile();
        QTemporaryDir nowhere;
        qputenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + nowhere.filePath("bus")).toUtf8());
        {
            TMediaRig rig;
            QVERIFY(rig.Open({Article("Eve <eve@example.org>", "Only article", "<o1@t>", 1)}));
            QVERIFY(rig.Player().ServiceName().isEmpty());
            rig.SpeakAloud({"<o1@t>"});
            QVERIFY(rig.WaitSpeaking("Only article"));
            QVERIFY(rig.WaitRunOver());
            QCOMPARE(rig.Marks({"<o1@t>"}), QString("2"));
        }
        TestSupport::UseTestBus();
        QCOMPARE(owned(kName), QString("(false,)"));
        QVERIFY(dialogs.Shown.empty());
    }
};

VORLIX_TEST_MAIN(TestMediaControls)
#include "test_media_controls.moc"
