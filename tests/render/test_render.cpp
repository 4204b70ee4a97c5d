// `vorlix render`, the real program run as a user runs it: against the INN test server it
// downloads and renders the new articles into MP3 files per thread (files, tags, chapters,
// marks and counters afterwards, and nothing new the second time); it refuses while the
// window holds the profile and the window refuses while it renders; and bad usage or
// configuration ends with exit code 2 and a clear message, a server that is down with 1.
#include "FeedCheck.h"
#include "SampleNewsServer.h"
#include "TestSupport.h"

#include "core/BaseUtils.h"
#include "core/ProfileLock.h"
#include "core/RegistryEnhanced.h"
#include "core/TextFiles.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"

#include <QDir>
#include <QEventLoop>
#include <QProcess>
#include <QTcpServer>
#include <QTimer>
#include <csignal>

namespace {
QString Env(const char* name)
{
    return qEnvironmentVariable(name);
}

struct TResult {
    int Code = -1;
    QString Out;
    QString Err;
};

// Runs `vorlix render` with these arguments. This process's events run meanwhile, so a news
// server of its own keeps serving.
TResult Render(const QStringList& args)
{
    QProcess p;
    QEventLoop loop;
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    // A render that hangs fails the test instead of holding it.
    QTimer::singleShot(180000, &loop, &QEventLoop::quit);
    p.start(QStringLiteral(VORLIX_PROGRAM), QStringList{QStringLiteral("render")} + args);
    if (p.waitForStarted())
        loop.exec();
    TResult r;
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished();
        r.Err = QStringLiteral("timed out\n");
    }
    r.Code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.Err += QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

QString Described(const TResult& r)
{
    return QStringLiteral("exit %1\n--- stdout\n%2--- stderr\n%3").arg(r.Code).arg(r.Out, r.Err);
}

void WriteSetting(const QString& section, const QString& name, const QVariant& value)
{
    TRegistryEnhanced(QStringLiteral("Software\\QuenradTech\\") + section).WriteValue(name, value);
}

// A profile that was set up in the window: the server with its groups, MP3 files into
// folder, one per thread, every article kept however old.
void WriteProfile(const QString& server, const QStringList& groups, const QString& folder, bool makeFolder = true)
{
    TRegistryEnhanced::ResetStore();
    QFile::remove(TRegistryEnhanced::SettingsFilePath());
    QDir(UtilsClass::GetProgramFolder()).removeRecursively();
    if (makeFolder)
        QVERIFY(QDir().mkpath(folder));
    QDir().mkpath(TNewsStore::ConfigPath().section(QLatin1Char('/'), 0, -2));
    WriteSetting(QStringLiteral("Vorlix"), QStringLiteral("StartupSaved"), QStringLiteral("1"));
    WriteSetting(QStringLiteral("Vorlix"), QStringLiteral("MsgDeleteDays"), -1);
    WriteSetting(QStringLiteral("Vorlix"), QStringLiteral("ThreadFileOption"), 1);
    WriteSetting(QStringLiteral("Vorlix\\BaseTTS"), QStringLiteral("TTS_OutputDir"), folder);
    WriteSetting(QStringLiteral("Vorlix\\BaseTTS"), QStringLiteral("TTS_OutputFormat"), QStringLiteral("MP3"));
    QVERIFY(TRegistryEnhanced::Flush());
    QStringList lines{QStringLiteral("NewsServer|%1|1|-1|0|260101000000|0|||").arg(server)};
    int n = 0;
    for (const QString& g : groups)
        lines << QStringLiteral("NewsGroup|%1|0|-1|0|2601010000%2M").arg(g).arg(++n, 2, 10, QLatin1Char('0'));
    WriteLinesAtomically(TNewsStore::ConfigPath(), lines);
}

QString InnServer()
{
    return Env("VORLIX_INN_HOST") + QLatin1Char(':') + Env("VORLIX_INN_PORT");
}

// The group's records as stored, by Message-ID.
std::unique_ptr<TArticleList> Stored(const QString& group)
{
    TNewsStore store;
    store.LoadConfig();
    TConfigClass* entry = store.FindGroup(group);
    auto list = std::make_unique<TArticleList>();
    if (entry)
        list->LoadFromFile(entry->FilePath());
    return list;
}

QStringList AudioFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.mp3"), QStringLiteral("*.wav")}, QDir::Files, QDir::Name);
}

QString Python(const QString& code, const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), code} + args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed() + QString::fromUtf8(p.readAllStandardError()).trimmed();
}
} // namespace

class TestRender : public QObject {
    Q_OBJECT

private slots:
    void downloadAndRenderNewArticlesPerThread()
    {
        VORLIX_REQUIRE_INN();
        const QString group = Env("VORLIX_INN_GROUP");
        const int count = Env("VORLIX_INN_GROUP_COUNT").toInt();
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        WriteProfile(InnServer(), {group}, folder);

        const TResult first = Render({QStringLiteral("--download"), QStringLiteral("--new"), QStringLiteral("--feed")});
        QVERIFY2(first.Code == 0 && first.Err.isEmpty(), qPrintable(Described(first)));
        QVERIFY2(first.Out.contains(QStringLiteral("%1 new headers in %2").arg(count).arg(group)), qPrintable(first.Out));

        // Every article was spoken once, into one file per thread, in view order.
        auto stored = Stored(group);
        int articles = 0;
        QSet<QString> threads;
        for (int i = 0; i < stored->Count(); ++i) {
            const TArticleClass* r = stored->At(i);
            if (r->IsPlaceholder())
                continue;
            ++articles;
            QCOMPARE(r->SpeakMark, 2);
            threads.insert(r->Root ? r->Root->MessageID : r->MessageID);
        }
        QCOMPARE(articles, count);
        const QStringList files = AudioFiles(folder);
        QCOMPARE(files.size(), threads.size());
        QVERIFY2(first.Out.contains(QStringLiteral("Rendered %1 articles into %2 files").arg(count).arg(files.size())),
                 qPrintable(first.Out));
        for (const QString& f : files) {
            QVERIFY2(f.endsWith(QLatin1String("_1.mp3")), qPrintable(f)); // each thread's first file
            QVERIFY(QFileInfo(folder + QLatin1Char('/') + f).size() > 1000);
        }
        // The thread files carry a chapter per article, all of them together one per article,
        // and the tags a window run writes: the file's name as title, the voice as Vorlix's.
        int chapters = 0;
        for (const QString& f : files) {
            const QStringList tags = Python(QStringLiteral("import sys, mutagen.id3\nt = mutagen.id3.ID3(sys.argv[1])\n"
                                                           "print(len(t.getall('CHAP')))\nprint(t['TIT2'].text[0])\n"
                                                           "print(t['TPE1'].text[0])"),
                                           {folder + QLatin1Char('/') + f})
                                         .split(QLatin1Char('\n'));
            QCOMPARE(tags.size(), 3);
            chapters += tags[0].toInt();
            QCOMPARE(tags[1], f);
            QVERIFY2(tags[2].startsWith(QLatin1String("Vorlix: ")), qPrintable(tags[2]));
        }
        QCOMPARE(chapters, count);
        // Each thread's counter moved on, so the next file of a thread gets the next number.
        for (int i = 0; i < stored->Count(); ++i) {
            const TArticleClass* r = stored->At(i);
            if (!r->Root && !r->IsPlaceholder())
                QCOMPARE(r->FileCounter, 1);
        }

        // The podcast feed lists every file once, titled by its thread, as an independent
        // reader sees it.
        const QJsonObject feed = FeedCheck::Parse(folder + QStringLiteral("/feed.xml"), false);
        QVERIFY2(!feed.value("bozo").toBool(), qPrintable(feed.value("error").toString()));
        const QJsonArray items = feed.value("items").toArray();
        QCOMPARE(items.size(), files.size());
        QStringList titles, ids;
        for (const QJsonValue& v : items) {
            const QJsonObject item = v.toObject();
            titles << item.value("title").toString();
            ids << item.value("id").toString();
            QVERIFY2(item.value("summary").toString().contains(group), qPrintable(item.value("summary").toString()));
            QCOMPARE(item.value("type").toString(), QString("audio/mpeg"));
        }
        QVERIFY(titles.contains(QStringLiteral("Welcome to the speaking newsreader group")));

        // A second run finds nothing new, and writes nothing; the feed keeps its items.
        const TResult second = Render({QStringLiteral("--download"), QStringLiteral("--new"), QStringLiteral("--feed")});
        QVERIFY2(second.Code == 0, qPrintable(Described(second)));
        QVERIFY2(second.Out.contains(QStringLiteral("Nothing new to render.")), qPrintable(second.Out));
        QCOMPARE(AudioFiles(folder), files);
        QCOMPARE(FeedCheck::Ids(FeedCheck::Parse(folder + QStringLiteral("/feed.xml"), false)), ids);

        // Without --new only what the user marked is rendered: one article, one new file.
        {
            TNewsStore store;
            store.LoadConfig();
            TConfigClass* entry = store.FindGroup(group);
            QVERIFY(entry && entry->EnsureArticles());
            TArticleClass* welcome = entry->Articles->FindByMessageID(QStringLiteral("<welcome.1@vorlix.invalid>"));
            QVERIFY(welcome);
            welcome->SetSpeakMark(1);
            entry->Articles->SaveFromList();
        }
        const TResult marked = Render({group});
        QVERIFY2(marked.Code == 0, qPrintable(Described(marked)));
        QCOMPARE(AudioFiles(folder).size(), files.size() + 1);
        QVERIFY2(AudioFiles(folder).join(' ').contains(QLatin1String("_2.mp3")), qPrintable(AudioFiles(folder).join(' ')));

        // Served over HTTP: the feed's enclosures point at the server, and a podcast app can
        // fetch them; Ctrl+C (SIGTERM here) ends the server cleanly.
        QProcess serving;
        serving.start(QStringLiteral(VORLIX_PROGRAM),
                      {QStringLiteral("render"), QStringLiteral("--serve"), QStringLiteral("0")});
        QString url;
        QVERIFY(TestSupport::WaitFor([&] {
            const QString out = QString::fromLocal8Bit(serving.peek(1 << 16));
            const qsizetype at = out.indexOf(QLatin1String("http://127.0.0.1:"));
            if (at < 0)
                return false;
            url = out.mid(at).section(QLatin1Char(' '), 0, 0);
            return url.endsWith(QLatin1String("feed.xml"));
        }, 60000));
        const QJsonObject served = FeedCheck::Parse(url, false);
        QVERIFY2(!served.value("bozo").toBool(), qPrintable(served.value("error").toString()));
        QCOMPARE(served.value("items").toArray().size(), files.size() + 1);
        for (const QJsonValue& v : served.value("items").toArray())
            QVERIFY(v.toObject().value("href").toString().startsWith(url.chopped(8)));
        // The window may open while the folder is only served.
        TProfileLock window;
        QVERIFY(window.TryLock(TProfileLock::hWindow));
        window.Unlock();
        serving.terminate();
        QVERIFY(serving.waitForFinished(30000));
        QCOMPARE(serving.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(serving.readAllStandardOutput()).contains(QLatin1String("Serving stopped.")));
    }

    // A group that needs a login renders with the login saved in the window (through TLS,
    // the server's certificate trusted by the profile's NewsCAFile); without one it is named
    // as failed with the reason, and nothing is asked of anyone.
    void savedLoginThroughTls()
    {
        VORLIX_REQUIRE_INN();
        const QString group = Env("VORLIX_INN_AUTH_GROUP");
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        WriteProfile(InnServer(), {group}, folder);
        WriteSetting(QStringLiteral("Vorlix"), QStringLiteral("NewsCAFile"), Env("VORLIX_INN_CA"));
        QVERIFY(TRegistryEnhanced::Flush());
        const QStringList unsaved = ReadLines(TNewsStore::ConfigPath());

        TResult r = Render({QStringLiteral("--download"), QStringLiteral("--new")});
        QVERIFY2(r.Code == 1, qPrintable(Described(r)));
        QVERIFY2(r.Err.contains(QStringLiteral("asks for a login that this profile does not hold")), qPrintable(r.Err));
        QVERIFY2(r.Err.contains(QStringLiteral("Downloading %1 from %2: ").arg(group, InnServer())), qPrintable(r.Err));
        QCOMPARE(ReadLines(TNewsStore::ConfigPath()), unsaved);
        QVERIFY(AudioFiles(folder).isEmpty());

        QStringList saved = unsaved;
        saved[0] = QStringLiteral("NewsServer|%1|1|-1|0|260101000000|1|%2|%3|")
                       .arg(InnServer(), Env("VORLIX_INN_USER"), Env("VORLIX_INN_PASS"));
        WriteLinesAtomically(TNewsStore::ConfigPath(), saved);
        r = Render({QStringLiteral("--download"), QStringLiteral("--new")});
        QVERIFY2(r.Code == 0 && r.Err.isEmpty(), qPrintable(Described(r)));
        const int count = Env("VORLIX_INN_AUTH_COUNT").toInt();
        QVERIFY2(r.Out.contains(QStringLiteral("Rendered %1 articles").arg(count)), qPrintable(r.Out));
        QVERIFY(!AudioFiles(folder).isEmpty());
    }

    // Ctrl+C (SIGINT) ends the render after the article being rendered: that one is
    // finished and stored as spoken, the rest keep their marks for the next run, exit 1.
    void interruptStopsAfterTheCurrentArticle()
    {
        VORLIX_REQUIRE_INN();
        const QString group = Env("VORLIX_INN_GROUP");
        const int count = Env("VORLIX_INN_GROUP_COUNT").toInt();
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        WriteProfile(InnServer(), {group}, folder);
        WriteSetting(QStringLiteral("Vorlix"), QStringLiteral("ThreadFileOption"), 0);
        QVERIFY(TRegistryEnhanced::Flush());
        QVERIFY(Render({QStringLiteral("--download"), QStringLiteral("--quiet")}).Code == 0);

        QProcess p;
        p.start(QStringLiteral(VORLIX_PROGRAM), {QStringLiteral("render"), QStringLiteral("--new")});
        QVERIFY(TestSupport::WaitFor([&] { return p.peek(1 << 16).contains("[2/"); }, 60000));
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(60000));
        const QString err = QString::fromLocal8Bit(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 1);
        QVERIFY2(err.contains(QStringLiteral("interrupted: stopping after the current article")), qPrintable(err));

        auto stored = Stored(group);
        int spoken = 0, marked = 0;
        for (int i = 0; i < stored->Count(); ++i) {
            spoken += stored->At(i)->SpeakMark == 2 ? 1 : 0;
            marked += stored->At(i)->SpeakMark == 1 ? 1 : 0;
        }
        QVERIFY2(spoken >= 2 && spoken < count, qPrintable(QString::number(spoken)));
        QCOMPARE(spoken + marked, count);
        // One whole file per finished article, none cut short.
        const QStringList files = AudioFiles(folder);
        QCOMPARE(files.size(), spoken);
        for (const QString& f : files)
            QVERIFY(FeedCheck::ReadAll(folder + QLatin1Char('/') + f).size() > 1000);
        // The next run renders the rest.
        const TResult rest = Render({QStringLiteral("--new")});
        QVERIFY2(rest.Code == 0, qPrintable(Described(rest)));
        QCOMPARE(AudioFiles(folder).size(), count);
    }

    // A server that lies: an article its overview listed is gone when it is fetched. The
    // render goes on with the others, names the missing one with the server's answer and
    // exits 1; the next run does not try it again.
    void articleGoneFromTheServer()
    {
        TSampleNewsServer server;
        server.AddGroup(QStringLiteral("alt.test.gone"));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(server.AddArticle("From: Eve <eve@example.org>\nNewsgroups: alt.test.gone\nSubject: Topic "
                                      + QByteArray::number(i) + "\nDate: -1d 10:00\nMessage-ID: <g" + QByteArray::number(i)
                                      + "@t>\n\nShort text number " + QByteArray::number(i) + ".\n"));
        QVERIFY(server.Listen());
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        WriteProfile(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {QStringLiteral("alt.test.gone")}, folder);
        TResult r = Render({QStringLiteral("--download"), QStringLiteral("--quiet")});
        QVERIFY2(r.Code == 0, qPrintable(Described(r)));
        QVERIFY(server.RemoveArticle(QStringLiteral("alt.test.gone"), 2));

        r = Render({QStringLiteral("--new")});
        QVERIFY2(r.Code == 1, qPrintable(Described(r)));
        QVERIFY2(r.Err.contains(QStringLiteral("alt.test.gone: \"Topic 2\" <g2@t>: 423 No such article number")),
                 qPrintable(r.Err));
        QVERIFY2(r.Out.contains(QStringLiteral("Rendered 2 articles into 2 files")), qPrintable(r.Out));
        // The thread of the missing article leaves no empty file behind.
        QCOMPARE(AudioFiles(folder), (QStringList{"Topic_1_1.mp3", "Topic_3_1.mp3"}));
        r = Render({QStringLiteral("--new")});
        QVERIFY2(r.Code == 0 && r.Out.contains(QStringLiteral("Nothing new to render.")), qPrintable(Described(r)));
    }

    // Nothing is written by both at once: the renderer refuses while the window holds the
    // profile, and the window does not open while the renderer holds it.
    void oneProgramPerProfile()
    {
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        QVERIFY(QDir().mkpath(folder));
        WriteProfile(QStringLiteral("127.0.0.1:9"), {QStringLiteral("alt.test")}, folder);
        const QString settingsBefore = QString::fromUtf8(FeedCheck::ReadAll(TNewsStore::ConfigPath()));

        QProcess window;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VORLIX_NO_SPLASH"), QStringLiteral("1"));
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(VORLIX_PROGRAM), {});
        QVERIFY(window.waitForStarted());
        const QString owner = TProfileLock::LockFilePath() + QStringLiteral(".owner");
        QVERIFY(TestSupport::WaitFor([&] { return FeedCheck::ReadAll(owner) == "window"; }, 30000));
        const TResult refused = Render({});
        window.kill();
        window.waitForFinished();
        QCOMPARE(refused.Code, 2);
        QVERIFY2(refused.Err.contains(QStringLiteral("is open with the profile")), qPrintable(refused.Err));
        QCOMPARE(QString::fromUtf8(FeedCheck::ReadAll(TNewsStore::ConfigPath())), settingsBefore);

        // The lock of a program that died is taken over; one that lives is respected.
        TProfileLock rendering;
        QVERIFY(rendering.TryLock(TProfileLock::hRenderer));
        QProcess second;
        second.setProcessEnvironment(env);
        second.start(QStringLiteral(VORLIX_PROGRAM), {});
        QVERIFY(second.waitForStarted());
        // The window says why in a message box it cannot get past; its log tells the same.
        const QString log = UtilsClass::GetLogBase() + QStringLiteral(".dbg");
        QVERIFY(TestSupport::WaitFor(
            [&] { return FeedCheck::ReadAll(log).contains("Profile lock refused: vorlix render (process "); }, 30000));
        QVERIFY(FeedCheck::ReadAll(owner) == "render");
        second.kill();
        second.waitForFinished();
    }

    void badUsageAndConfiguration()
    {
        const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("audio");
        QVERIFY(QDir().mkpath(folder));

        TResult r = Render({QStringLiteral("--frobnicate")});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("unknown option --frobnicate")), qPrintable(r.Err));
        r = Render({QStringLiteral("--help")});
        QCOMPARE(r.Code, 0);
        QVERIFY(r.Out.contains(QStringLiteral("Usage: vorlix render")));
        r = Render({QStringLiteral("--home"), folder + QStringLiteral("/nowhere")});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("does not exist")), qPrintable(r.Err));

        // A profile never set up.
        TRegistryEnhanced::ResetStore();
        QFile::remove(TRegistryEnhanced::SettingsFilePath());
        r = Render({});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("has not been set up")), qPrintable(r.Err));

        // A group that is not subscribed, a server that is not there.
        WriteProfile(QStringLiteral("127.0.0.1:9"), {QStringLiteral("alt.test")}, folder);
        r = Render({QStringLiteral("alt.nothere")});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("\"alt.nothere\" is not a subscribed newsgroup")), qPrintable(r.Err));
        r = Render({QStringLiteral("--server"), QStringLiteral("news.nothere")});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("no news server \"news.nothere\" in this profile (its servers: 127.0.0.1:9)")),
                 qPrintable(r.Err));

        // The output folder is gone.
        WriteProfile(QStringLiteral("127.0.0.1:9"), {QStringLiteral("alt.test")}, folder + QStringLiteral("/gone"), false);
        r = Render({});
        QCOMPARE(r.Code, 2);
        QVERIFY2(r.Err.contains(QStringLiteral("The output directory specified does not exist")), qPrintable(r.Err));

        // A server that is down: named, exit 1, and the files are as they were.
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const QString down = QStringLiteral("127.0.0.1:%1").arg(port);
        WriteProfile(down, {QStringLiteral("alt.test"), QStringLiteral("alt.test2")}, folder);
        const QByteArray config = FeedCheck::ReadAll(TNewsStore::ConfigPath());
        r = Render({QStringLiteral("--download"), QStringLiteral("--new")});
        QVERIFY2(r.Code == 1, qPrintable(Described(r)));
        QVERIFY2(r.Err.contains(QStringLiteral("Downloading alt.test from %1: ").arg(down)), qPrintable(r.Err));
        QVERIFY2(r.Err.contains(QStringLiteral("Downloading alt.test2 from %1: skipped").arg(down)), qPrintable(r.Err));
        QCOMPARE(FeedCheck::ReadAll(TNewsStore::ConfigPath()), config);
        QVERIFY(AudioFiles(folder).isEmpty());
    }
};

VORLIX_TEST_MAIN_CORE(TestRender)
#include "test_render.moc"
