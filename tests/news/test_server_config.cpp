#include "TestSupport.h"

#include "news/NewsStore.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"
#include "ScriptedDialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sys/stat.h>

namespace {
QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file's access bits as the system keeps them.
unsigned modeOf(const QString& path)
{
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0xFFFF;
    return st.st_mode & 0777;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// Every entry's caption in store order, one dash per level.
QStringList captions(const TNewsStore& store)
{
    QStringList out;
    for (TConfigClass* e : store.AllEntries()) {
        int depth = 0;
        for (TConfigClass* p = e->Parent(); p; p = p->Parent())
            ++depth;
        out << QString(depth, QChar('-')) + e->Caption();
    }
    return out;
}

const QByteArray sampleConfig = "NewsServer|news.example|1|-1|0|260101120000|0|reader||\r\n"
                                "NewsGroup|comp.lang.misc|0|1043|0|260101120001M\r\n"
                                "NewsFolder|saved|0|-1|0|260101120002\r\n"
                                "NewsGroup|alt.test|1|-1|7|260101120003M\r\n"
                                "NewsServer|secure.example:563|0|-1|0|260101120004|1|  me  |  s3cret  |\r\n";
}

class TestServerConfig : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QFile::remove(TNewsStore::ConfigPath());
        QFile::remove(GetDataFolder() + "Config-damaged.chl");
    }

    void loadAndSaveByteForByte()
    {
        writeFile(TNewsStore::ConfigPath(), sampleConfig);
        TNewsStore servers;
        bool addEnabled = false;
        int resets = 0;
        servers.OnUpdateButtons = [&](TNewsStore*, bool add, bool) { addEnabled = add; };
        servers.OnReset = [&](TNewsStore*) { ++resets; };
        servers.LoadConfig();
        QVERIFY(addEnabled);
        QCOMPARE(resets, 1);
        QCOMPARE(captions(servers), QStringList({"news.example", "-comp.lang.misc", "--saved", "-alt.test",
                                                 "secure.example:563"}));
        QCOMPARE(servers.ServerCount(), 2);
        TConfigClass* news = servers.Server(0);
        TConfigClass* secure = servers.Server(1);
        QCOMPARE(news->Expanded, 1);
        QCOMPARE(secure->Expanded, 0);
        QCOMPARE(news->Child(1)->Expanded, 1);
        QCOMPARE(secure->UserName, QString("me"));
        QCOMPARE(secure->Password, QString("s3cret"));
        QVERIFY(secure->SavePassword);
        TConfigClass* misc = news->Child(0);
        QCOMPARE(misc->LastArticle, 1043);
        QCOMPARE(misc->Kind, int(ckNewsGroup));
        QCOMPARE(misc->Parent(), news);
        QCOMPARE(misc->Child(0)->Kind, int(ckNewsFolder));
        QCOMPARE(news->Child(1)->Reserved, 7);

        servers.SaveConfig();
        QCOMPARE(readAll(TNewsStore::ConfigPath()),
                 QByteArray("NewsServer|news.example|1|-1|0|260101120000|0|reader||\r\n"
                            "NewsGroup|comp.lang.misc|0|1043|0|260101120001M\r\n"
                            "NewsFolder|saved|0|-1|0|260101120002\r\n"
                            "NewsGroup|alt.test|1|-1|7|260101120003M\r\n"
                            "NewsServer|secure.example:563|0|-1|0|260101120004|1|me|s3cret|\r\n"));
        // The file holds passwords: only its owner may read it.
        QCOMPARE(modeOf(TNewsStore::ConfigPath()), 0600u);

        // A password that is not to be saved leaves the ninth field empty and reads back empty.
        secure->SavePassword = false;
        servers.SaveConfig();
        QVERIFY(readAll(TNewsStore::ConfigPath()).contains("NewsServer|secure.example:563|0|-1|0|260101120004|0|me||\r\n"));
        TNewsStore again;
        again.LoadConfig();
        QCOMPARE(again.Server(1)->Password, QString());

        // Lookups.
        QCOMPARE(servers.FindGroup("alt.test"), news->Child(1));
        QVERIFY(!servers.FindGroup("no.such.group"));
        QCOMPARE(TNewsStore::ServerOf(misc->Child(0)), news);
        QCOMPARE(TNewsStore::ServerOf(secure), secure);
        QCOMPARE(servers.FindServer("secure.example:563"), secure);
        QVERIFY(!servers.FindServer("comp.lang.misc"));
        // Expanding an entry is kept at once, and the views are told.
        QList<bool> shown;
        servers.OnExpand = [&](TNewsStore*, TConfigClass* e, bool expanded) {
            QCOMPARE(e, secure);
            shown << expanded;
        };
        servers.SetExpanded(secure, true);
        servers.SetExpanded(secure, true);
        QCOMPARE(shown, QList<bool>({true}));
        QVERIFY(readAll(TNewsStore::ConfigPath()).contains("NewsServer|secure.example:563|1|"));
        // So is the user's expanding and collapsing in a view.
        servers.ExpandedChanged(news, false);
        QVERIFY(readAll(TNewsStore::ConfigPath()).startsWith("NewsServer|news.example|0|"));
    }

    // The answer about sending a server's password unencrypted is an optional tenth field of
    // the server line: absent in older files (not asked yet), written only once answered, and
    // asked again after the user edits the server's login.
    void plainPasswordAnswerField_data()
    {
        QTest::addColumn<QByteArray>("tail");
        QTest::addColumn<int>("choice");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("older file") << QByteArray("||") << int(ppNotAsked) << QByteArray("||");
        QTest::newRow("allowed") << QByteArray("||1|") << int(ppAllowed) << QByteArray("||1|");
        QTest::newRow("refused") << QByteArray("||0|") << int(ppRefused) << QByteArray("||0|");
        QTest::newRow("without closing bar") << QByteArray("||1") << int(ppAllowed) << QByteArray("||1|");
        QTest::newRow("unknown value") << QByteArray("||yes|") << int(ppNotAsked) << QByteArray("||");
    }

    void plainPasswordAnswerField()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, choice);
        QFETCH(QByteArray, written);
        const QByteArray head = "NewsServer|news.example|1|-1|0|260101120000|0|reader";
        writeFile(TNewsStore::ConfigPath(), head + tail + "\r\nNewsGroup|comp.lang.misc|0|1043|0|260101120001M\r\n");
        TNewsStore servers;
        servers.LoadConfig();
        QCOMPARE(servers.ServerCount(), 1);
        TConfigClass* news = servers.Server(0);
        QCOMPARE(news->PlainPassword, choice);
        QCOMPARE(news->UserName, QString("reader"));
        QCOMPARE(news->ChildCount(), 1);
        QCOMPARE(int(TNewsStore::PlainPasswordChoice("news.example")), choice);
        servers.SaveConfig();
        QCOMPARE(readAll(TNewsStore::ConfigPath()),
                 head + written + "\r\nNewsGroup|comp.lang.misc|0|1043|0|260101120001M\r\n");

        servers.OnServerWindow = [](TNewsStore*, TServerEntryRequest& r) { return r.Mode == "Edit"; };
        servers.Select(news);
        servers.EditServer();
        QCOMPARE(news->PlainPassword, int(ppNotAsked));
        QVERIFY(readAll(TNewsStore::ConfigPath()).startsWith(head + "||\r\n"));
    }

    // Logins and server names come back exactly as typed, "|", "¦" and outer blanks included;
    // plain ones are written as before, and an older file's plain fields read as they did.
    void loginsRoundTripExactly()
    {
        TNewsStore servers;
        TConfigClass* odd = servers.AddServerEntry(QStringLiteral("news|odd.example"), QStringLiteral(" ann|x "),
                                                   QStringLiteral("p|a¦s s "), true, QStringLiteral("260101120010"));
        TConfigClass* plain = servers.AddServerEntry(QStringLiteral("news.example"), QStringLiteral("bob"),
                                                     QStringLiteral("s3cret"), true, QStringLiteral("260101120011"));
        QVERIFY(odd && plain);
        servers.SaveConfig();
        const QByteArray text = readAll(TNewsStore::ConfigPath());
        QVERIFY(text.contains("NewsServer|news.example|"));
        QVERIFY(text.contains("|1|bob|s3cret|\r\n"));
        QCOMPARE(text.count('\n'), 2);
        TNewsStore again;
        again.LoadConfig();
        QCOMPARE(again.ServerCount(), 2);
        QCOMPARE(again.Server(0)->Name, QStringLiteral("news|odd.example"));
        QCOMPARE(again.Server(0)->UserName, QStringLiteral(" ann|x "));
        QCOMPARE(again.Server(0)->Password, QStringLiteral("p|a¦s s "));
        QCOMPARE(again.Server(1)->Password, QStringLiteral("s3cret"));
    }

    // Article numbers beyond 32 bits go through Config.chl and the article file as decimal
    // text and come back exactly; files written with small numbers read as before.
    void sixtyFourBitArticleNumbersRoundTrip()
    {
        TNewsStore servers;
        TConfigClass* server = servers.AddServerEntry("news.example", {}, {}, false, "260101120020");
        TConfigClass* group = servers.AddGroupEntry(server, "alt.big", "260101120021");
        const TDateTime when = TDateTime::FromQDateTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        const qint64 big = 9223372036854775807LL;
        QVERIFY(servers.AddDownloadedHeader(group, 5000000000LL, "<a@x>", "Ann", "Hello", when, ""));
        QVERIFY(servers.AddDownloadedHeader(group, big, "<b@x>", "Bob", "Re: Hello", when, "<a@x>"));
        QCOMPARE(group->LastArticle, big);
        QVERIFY(servers.SaveDirtyGroups({}));
        servers.SaveConfig();
        QVERIFY(readAll(TNewsStore::ConfigPath()).contains("NewsGroup|alt.big|1|9223372036854775807|0|260101120021M\r\n"));
        const QStringList lines = ReadLines(group->FilePath());
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith("5000000000|"));
        QVERIFY(lines[1].startsWith("9223372036854775807|"));

        TNewsStore again;
        again.LoadConfig();
        TConfigClass* reread = again.FindGroup("alt.big");
        QVERIFY(reread);
        QCOMPARE(reread->LastArticle, big);
        TArticleList list(reread);
        QVERIFY(list.LoadFromFile(reread->FilePath()));
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.FindByMessageID(QStringLiteral("<a@x>"))->Number, qint64(5000000000LL));
        QCOMPARE(list.FindByMessageID(QStringLiteral("<b@x>"))->Number, big);
        QCOMPARE(list.FindByMessageID(QStringLiteral("<b@x>"))->RootNumber, qint64(5000000000LL));
        // Below the server's first number an article expires, big numbers or not.
        QCOMPARE(reread->EnsureArticles()->Count(), 2);
        QCOMPARE(again.ExpireArticles(reread, 6000000000LL), 1);
        QCOMPARE(reread->Articles->At(0)->Number, big);
        // A number beyond 64 bits is a damaged line, not a wrapped number.
        TArticleClass r;
        try {
            r.ParseRecord("9223372036854775808|0|1|0|0|<c@x>|S|F|" + TArticleClass::DateText(when) + "||0");
            QFAIL("a number beyond 64 bits was read");
        } catch (const EVorlixError& e) {
            QVERIFY2(e.message().contains("(Number)"), qPrintable(e.message()));
        }
    }

    // A damaged line costs only itself (and the lines that belong below it): every other
    // entry loads, and the next save writes the damaged lines back unchanged in their place.
    void damagedLinesAreKeptAndTheRestLoads()
    {
        TScopedScriptedDialogs dialogs;
        const QByteArray file = "NewsServer|one.example|1|-1|0|260101120000|0||secret|\r\n"
                                "NewsGroup|comp.a|0|12|0|260101120001M\r\n"
                                "NewsGroup|comp.b|0|3x0|0|260101120002M\r\n"
                                "NewsFolder|saved|0|-1|0|260101120003\r\n"
                                "NewsGroup|comp.c|1|40|0|260101120004M\r\n"
                                "NewsServer|two.example|1|-1|0|260101120005|1|ann|pw2|\r\n"
                                "NewsGroup|comp.d|0|77|0|260101120006M\r\n";
        writeFile(TNewsStore::ConfigPath(), file);
        TNewsStore servers;
        servers.LoadConfig();
        QCOMPARE(captions(servers), QStringList({"one.example", "-comp.a", "-comp.c", "two.example", "-comp.d"}));
        QCOMPARE(servers.Server(1)->Password, QString("pw2"));
        QCOMPARE(servers.Server(1)->Expanded, 1);
        QCOMPARE(servers.Server(0)->Child(1)->LastArticle, 40);
        QCOMPARE(dialogs.Shown.size(), size_t(1));
        QVERIFY2(dialogs.LastText().startsWith("Config.chl could not be read completely: line 3 is damaged ("
                                               "'3x0' is not a valid integer value (LastArticle)). It is kept "
                                               "in the file unchanged but not shown, and so are the 1 lines below "
                                               "it that belong to it. Every other server and newsgroup was loaded."),
                 qPrintable(dialogs.LastText()));
        QVERIFY(!dialogs.LastText().contains("secret"));
        const QString copy = GetDataFolder() + "Config-damaged.chl";
        QVERIFY(dialogs.LastText().contains(copy));
        QCOMPARE(readAll(copy), file);
        QCOMPARE(modeOf(copy), 0600u);

        // Saved (as at exit), nothing is lost: the damaged line and its folder follow their server.
        servers.SaveConfig();
        const QByteArray saved = readAll(TNewsStore::ConfigPath());
        QCOMPARE(saved, QByteArray("NewsServer|one.example|1|-1|0|260101120000|0|||\r\n"
                                   "NewsGroup|comp.b|0|3x0|0|260101120002M\r\n"
                                   "NewsFolder|saved|0|-1|0|260101120003\r\n"
                                   "NewsGroup|comp.a|0|12|0|260101120001M\r\n"
                                   "NewsGroup|comp.c|1|40|0|260101120004M\r\n"
                                   "NewsServer|two.example|1|-1|0|260101120005|1|ann|pw2|\r\n"
                                   "NewsGroup|comp.d|0|77|0|260101120006M\r\n"));
        // Read again it gives the same entries, and saves to the same bytes.
        {
            dialogs.Clear();
            TNewsStore again;
            again.LoadConfig();
            QCOMPARE(captions(again), captions(servers));
            QVERIFY(dialogs.LastText().contains("line 2 is damaged"));
            again.SaveConfig();
            QCOMPARE(readAll(TNewsStore::ConfigPath()), saved);
        }

        // Deleting the server takes its kept lines with it; the other server stays whole.
        dialogs.Answers = {TDialogAnswer::Yes};
        servers.Select(servers.Server(0));
        servers.DeleteServer();
        QCOMPARE(readAll(TNewsStore::ConfigPath()), QByteArray("NewsServer|two.example|1|-1|0|260101120005|1|ann|pw2|\r\n"
                                                               "NewsGroup|comp.d|0|77|0|260101120006M\r\n"));
    }

    // The lines below a damaged server line are its newsgroups: they never join another server.
    // Entries before any server cannot be placed: kept too, and both stay at the top of the file.
    void damagedServerKeepsItsGroupsAndOrphansStay()
    {
        TScopedScriptedDialogs dialogs;
        writeFile(TNewsStore::ConfigPath(), "NewsGroup|orphan|0|-1|0|260101120000M\r\n"
                                            "NewsFolder|orphan.saved|0|-1|0|260101120001\r\n"
                                            "NewsServer|one.example|0|-1|0|260101120002|0|||\r\n"
                                            "NewsGroup|comp.a|0|5|0|260101120003M\r\n"
                                            "NewsServer|bad.example|x|-1|0|260101120004|1|bob|pw|\r\n"
                                            "NewsGroup|comp.b|0|9|0|260101120005M\r\n"
                                            "NewsFolder|kept|0|-1|0|260101120006\r\n"
                                            "NewsServer|three.example|0|-1|0|260101120007|0|||\r\n"
                                            "NewsGroup|comp.c|0|7|0|260101120008M\r\n"
                                            "garbage without fields\r\n");
        TNewsStore servers;
        servers.LoadConfig();
        QCOMPARE(captions(servers), QStringList({"one.example", "-comp.a", "three.example", "-comp.c"}));
        QVERIFY2(dialogs.LastText().startsWith(
                     "Config.chl could not be read completely: line 1 is damaged (a newsgroup comes before any "
                     "server); line 5 is damaged ('x' is not a valid integer value (Expanded)); line 10 is damaged ("),
                 qPrintable(dialogs.LastText()));
        QVERIFY(dialogs.LastText().contains("They are kept in the file unchanged but not shown, and so are the 3 "
                                            "lines below them that belong to them."));
        QVERIFY(!dialogs.LastText().contains("pw"));
        QCOMPARE(servers.KeptTopLines(), QStringList({"NewsGroup|orphan|0|-1|0|260101120000M",
                                                      "NewsFolder|orphan.saved|0|-1|0|260101120001",
                                                      "NewsServer|bad.example|x|-1|0|260101120004|1|bob|pw|",
                                                      "NewsGroup|comp.b|0|9|0|260101120005M",
                                                      "NewsFolder|kept|0|-1|0|260101120006"}));
        servers.SaveConfig();
        const QByteArray saved = readAll(TNewsStore::ConfigPath());
        QVERIFY(saved.startsWith("NewsGroup|orphan|0|-1|0|260101120000M\r\n"
                                 "NewsFolder|orphan.saved|0|-1|0|260101120001\r\n"
                                 "NewsServer|bad.example|x|-1|0|260101120004|1|bob|pw|\r\n"
                                 "NewsGroup|comp.b|0|9|0|260101120005M\r\n"
                                 "NewsFolder|kept|0|-1|0|260101120006\r\n"
                                 "NewsServer|one.example|"));
        QVERIFY(saved.contains("NewsGroup|comp.c|0|7|0|260101120008M\r\ngarbage without fields\r\n"));
        TNewsStore again;
        again.LoadConfig();
        QCOMPARE(captions(again), captions(servers));
        again.SaveConfig();
        QCOMPARE(readAll(TNewsStore::ConfigPath()), saved);

        // An unknown kind word under a newsgroup is an entry of its own, written back as it was.
        dialogs.Clear();
        writeFile(TNewsStore::ConfigPath(), "NewsServer|s|0|-1|0|260101120000|0|||\r\n"
                                            "NewsGroup|g|0|-1|0|260101120001M\r\n"
                                            "NewsArchive|a|0|-1|0|260101120002\r\n");
        TNewsStore s3;
        s3.LoadConfig();
        QVERIFY(dialogs.Shown.empty());
        QCOMPARE(captions(s3), QStringList({"s", "-g", "--a"}));
        QCOMPARE(s3.Server(0)->Child(0)->Child(0)->Kind, int(ckUnknown));
        s3.SaveConfig();
        QVERIFY(readAll(TNewsStore::ConfigPath()).endsWith("NewsArchive|a|0|-1|0|260101120002\r\n"));
    }

    // A list that exists but cannot be read at all is left alone: this run knows nothing of
    // what it holds, so no save may replace it.
    void unreadableConfigIsNeverOverwritten()
    {
        TScopedScriptedDialogs dialogs;
        QVERIFY(QDir().mkpath(TNewsStore::ConfigPath())); // a folder cannot be read as a file
        TNewsStore servers;
        servers.LoadConfig();
        QCOMPARE(servers.ServerCount(), 0);
        QVERIFY2(dialogs.LastText().endsWith("\nThe file is left as it is: changes to the servers and newsgroups are "
                                             "not saved in this session."),
                 qPrintable(dialogs.LastText()));
        servers.AddServerEntry("news.example", {}, {}, false, "260101120000");
        servers.SaveConfig();
        QVERIFY(QFileInfo(TNewsStore::ConfigPath()).isDir());
        QVERIFY(QDir().rmdir(TNewsStore::ConfigPath()));
    }

    void deleteServerAndGroupsWithTheirFiles()
    {
        TScopedScriptedDialogs dialogs;
        writeFile(TNewsStore::ConfigPath(), sampleConfig);
        const QString folder = GetDataFolder();
        for (const char* base : {"260101120000", "260101120001M", "260101120002", "260101120003M", "260101120004"})
            writeFile(folder + base + ".chl", "x\r\n");
        TNewsStore servers;
        servers.Shown = true;
        int cleared = 0;
        servers.OnClearArticleView = [&](TNewsStore*) { ++cleared; };
        QStringList removed;
        servers.OnEntryRemoved = [&](TNewsStore*, TConfigClass* e, TConfigClass* parent) {
            removed << e->Name + (parent ? " from " + parent->Name : QString());
        };
        servers.LoadConfig();
        TConfigClass* news = servers.Server(0);

        // Wrong selections only tell the user.
        servers.Select(news->Child(0));
        servers.DeleteServer();
        servers.EditServer();
        servers.AddGroup();
        servers.Select(news);
        servers.DeleteGroup();
        QCOMPARE(dialogs.Texts(), QStringList({"Select a News Server to delete", "Select a Server first",
                                               "Select a News Server first", "Select a Newsgroup to delete"}));

        // Deleting a newsgroup asks first; "No" keeps everything.
        dialogs.Clear();
        servers.Select(news->Child(1));
        dialogs.Answers = {TDialogAnswer::No};
        servers.DeleteGroup();
        QCOMPARE(dialogs.LastText(), QString("Delete Newsgroup alt.test"));
        QVERIFY(QFile::exists(folder + "260101120003M.chl"));
        QVERIFY(removed.isEmpty());
        dialogs.Answers = {TDialogAnswer::Yes};
        servers.DeleteGroup();
        QVERIFY(!QFile::exists(folder + "260101120003M.chl"));
        QVERIFY(!readAll(TNewsStore::ConfigPath()).contains("alt.test"));
        QCOMPARE(removed, QStringList({"alt.test from news.example"}));
        QCOMPARE(servers.SelectedEntry(), news);

        // Deleting a server removes its list file, its groups' and folders' files and lines.
        dialogs.Answers = {TDialogAnswer::Yes};
        const int before = cleared;
        servers.DeleteServer();
        QCOMPARE(dialogs.LastText(), QString("Delete Server news.example and its associated newsgroups ? "));
        QVERIFY(cleared > before);
        for (const char* base : {"260101120000", "260101120001M", "260101120002"})
            QVERIFY2(!QFile::exists(folder + base + ".chl"), base);
        QVERIFY(QFile::exists(folder + "260101120004.chl"));
        QCOMPARE(readAll(TNewsStore::ConfigPath()),
                 QByteArray("NewsServer|secure.example:563|0|-1|0|260101120004|1|me|s3cret|\r\n"));
        QCOMPARE(removed.last(), QString("news.example"));
        QVERIFY(!servers.SelectedEntry());
        QCOMPARE(servers.ServerCount(), 1);
    }

    void groupsFromTheListAndStamps()
    {
        writeFile(TNewsStore::ConfigPath(), "NewsServer|news.example|0|-1|0|260101120000|0|||\r\n"
                                            "NewsGroup|b.group|0|-1|0|260101120001M\r\n");
        TNewsStore servers;
        servers.Shown = true;
        servers.LoadConfig();
        TConfigClass* server = servers.Server(0);
        TConfigClass* b = server->Child(0);
        QStringList changed;
        servers.OnEntryChanged = [&](TNewsStore*, TConfigClass* e) { changed << e->Caption(); };
        b->SetGroupCaption(3, 10);
        QCOMPARE(changed, QStringList({"b.group (3/10)"}));
        writeFile(b->FilePath(), "x\r\n");
        servers.Select(server);
        servers.OnNewsgroupList = [](TNewsStore*, TConfigClass* s, std::vector<TGroupChange>& changes) {
            if (s->Name != "news.example")
                return false;
            changes = {{1, "c.group"}, {2, "b.group"}, {1, "A.group"}};
            return true;
        };
        int sorted = 0;
        servers.OnSorted = [&](TNewsStore*) { ++sorted; };
        servers.NewsgroupList();
        // Unsubscribing works although the caption carries the counts; the entries are sorted.
        QCOMPARE(captions(servers), QStringList({"news.example", "-A.group", "-c.group"}));
        QCOMPARE(sorted, 1);
        QVERIFY(!QFile::exists(GetDataFolder() + "260101120001M.chl"));
        const QString c = server->Child(1)->FileBase;
        const QString a = server->Child(0)->FileBase;
        QVERIFY(QRegularExpression("^\\d{12}1M$").match(c).hasMatch());
        QCOMPARE(a, c.left(12) + "2M");
        // The server and the new groups are expanded, and that is in the file.
        QCOMPARE(server->Expanded, 1);
        QCOMPARE(server->Child(0)->Expanded, 1);
        QVERIFY(readAll(TNewsStore::ConfigPath()).startsWith("NewsServer|news.example|1|"));

        // Two additions within one second still get files of their own.
        const QString s1 = servers.NewStamp();
        servers.AddGroupEntry(server, "d.group", s1);
        const QString s2 = servers.NewStamp();
        QVERIFY(s1 != s2);
        QCOMPARE(s2.size(), 12);
    }

    void selectingEntries()
    {
        writeFile(TNewsStore::ConfigPath(), sampleConfig);
        TNewsStore servers;
        QStringList events;
        servers.OnShowGroup = [&](TNewsStore*, TConfigClass* e) { events << "show " + e->Caption(); };
        servers.OnServerSelected = [&](TNewsStore*, TConfigClass* e) { events << "server " + e->Caption(); };
        servers.OnClearArticleView = [&](TNewsStore*) { events << "clear"; };
        servers.OnFirstGroupSelection = [&](TNewsStore*, TConfigClass* e) { events << "download " + e->Caption(); };
        servers.LoadConfig();
        TConfigClass* group = servers.Server(0)->Child(0);
        servers.Select(group); // before the window is shown nothing loads
        QVERIFY(events.isEmpty());
        QCOMPARE(servers.SelectedEntry(), group);
        servers.Shown = true;
        servers.Select(servers.Server(0));
        servers.Select(group);
        servers.Select(servers.Server(1));
        servers.Select(group);
        servers.Select(group); // no change: nothing runs
        QCOMPARE(events, QStringList({"clear", "server news.example", "show comp.lang.misc", "download comp.lang.misc",
                                      "clear", "server secure.example:563", "show comp.lang.misc"}));
        // A current entry that is not selected is no selection for the commands.
        servers.SetCurrent(group, false);
        QVERIFY(!servers.SelectedEntry());
        QCOMPARE(servers.CurrentEntry(), group);

        // Unsubscribing the group of the folder entry shown empties the article view first.
        servers.Select(group->Child(0));
        events.clear();
        servers.OnNewsgroupList = [](TNewsStore*, TConfigClass*, std::vector<TGroupChange>& changes) {
            changes = {{2, "comp.lang.misc"}};
            return true;
        };
        servers.NewsgroupList();
        QCOMPARE(events, QStringList({"clear"}));
        QVERIFY(!servers.FindGroup("saved"));
        QVERIFY(!servers.CurrentEntry());
    }

    void downloadedHeadersAndExpiry()
    {
        TNewsStore servers;
        TConfigClass* server = servers.AddServerEntry("news.example", {}, {}, false, "260101120000");
        TConfigClass* group = servers.AddGroupEntry(server, "comp.test", "260101120001");
        const TDateTime when = TDateTime::FromQDateTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        TArticleClass* r = servers.AddDownloadedHeader(group, 17, "<a@x>", "Ann", "Hello", when, "");
        QVERIFY(r);
        QCOMPARE(r->ReadState, 1);
        QCOMPARE(group->LastArticle, 17);
        QVERIFY(group->Dirty);
        // The same article again is refused, but the group still moves on.
        QVERIFY(!servers.AddDownloadedHeader(group, 18, "<a@x>", "Ann", "Hello", when, ""));
        QCOMPARE(group->LastArticle, 18);
        servers.AddDownloadedHeader(group, 20, "<b@x>", "Bob", "Re: Hello", when, "<gone@x> <a@x>");
        servers.AddDownloadedHeader(group, 25, "<c@x>", "Cy", "Later", when, "");
        QCOMPARE(group->Articles->Count(), 3);

        // Changed groups are written, and are clean afterwards.
        QStringList errors;
        QVERIFY(servers.SaveDirtyGroups([&](const QString& e) { errors << e; }));
        QVERIFY(errors.isEmpty());
        QVERIFY(!group->Dirty);
        QCOMPARE(ReadLines(group->FilePath()).size(), 3);
        QVERIFY(!servers.SaveDirtyGroups([&](const QString& e) { errors << e; }));

        // Articles the server no longer has expire; nothing else does.
        QCOMPARE(servers.ExpireArticles(group, 17), 0);
        QVERIFY(!group->Dirty);
        QCOMPARE(servers.ExpireArticles(group, 21), 2);
        QVERIFY(group->Dirty);
        QCOMPARE(group->Articles->Count(), 1);
        QCOMPARE(group->Articles->At(0)->MessageID, QString("<c@x>"));

        // A file that cannot be written keeps the group Dirty and reports why.
        group->FileBase = "no/such/folder/x";
        QVERIFY(!servers.SaveDirtyGroups([&](const QString& e) { errors << e; }));
        QCOMPARE(errors.size(), 1);
        QVERIFY(group->Dirty);
        QCOMPARE(group->Articles->Count(), 1);

        // The login the user typed reaches the server with that caption.
        QCOMPARE(servers.SetLogin(" news.example ", "ann", "pw", true), server);
        QCOMPARE(server->UserName, QString("ann"));
        QVERIFY(server->SavePassword);
        QVERIFY(!servers.SetLogin("other.example", "x", "y", false));
    }
};

VORLIX_TEST_MAIN_CORE(TestServerConfig)
#include "test_server_config.moc"
