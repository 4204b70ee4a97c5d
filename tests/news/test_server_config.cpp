#include "TestSupport.h"

#include "news/ConfigUnit.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"
#include "ScriptedDialogs.h"

#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

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

QStringList captions(QTreeWidget& tree)
{
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* n, int depth) {
        out << QString(depth, QChar('-')) + n->text(0);
        for (int i = 0; i < n->childCount(); ++i)
            walk(n->child(i), depth + 1);
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        walk(tree.topLevelItem(i), 0);
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
        QFile::remove(TServerTree::ConfigPath());
        QFile::remove(GetDataFolder() + "Config-damaged.chl");
    }

    void loadAndSaveByteForByte()
    {
        writeFile(TServerTree::ConfigPath(), sampleConfig);
        QTreeWidget tree;
        TServerTree servers(&tree);
        bool addEnabled = false;
        servers.OnUpdateButtons = [&](TServerTree*, bool add, bool) { addEnabled = add; };
        servers.LoadConfig();
        QVERIFY(addEnabled);
        QCOMPARE(captions(tree), QStringList({"news.example", "-comp.lang.misc", "--saved", "-alt.test",
                                              "secure.example:563"}));
        QVERIFY(tree.topLevelItem(0)->isExpanded());
        QVERIFY(!tree.topLevelItem(1)->isExpanded());
        QVERIFY(tree.topLevelItem(0)->child(1)->isExpanded());
        TConfigClass* secure = TServerTree::EntryOf(tree.topLevelItem(1));
        QCOMPARE(secure->UserName, QString("me"));
        QCOMPARE(secure->Password, QString("s3cret"));
        QVERIFY(secure->SavePassword);
        TConfigClass* misc = TServerTree::EntryOf(tree.topLevelItem(0)->child(0));
        QCOMPARE(misc->LastArticle, 1043);
        QCOMPARE(misc->Kind, int(ckNewsGroup));
        QCOMPARE(TServerTree::EntryOf(tree.topLevelItem(0)->child(0)->child(0))->Kind, int(ckNewsFolder));
        QCOMPARE(TServerTree::EntryOf(tree.topLevelItem(0)->child(1))->Reserved, 7);

        servers.SaveConfig();
        QCOMPARE(readAll(TServerTree::ConfigPath()),
                 QByteArray("NewsServer|news.example|1|-1|0|260101120000|0|reader||\r\n"
                            "NewsGroup|comp.lang.misc|0|1043|0|260101120001M\r\n"
                            "NewsFolder|saved|0|-1|0|260101120002\r\n"
                            "NewsGroup|alt.test|1|-1|7|260101120003M\r\n"
                            "NewsServer|secure.example:563|0|-1|0|260101120004|1|me|s3cret|\r\n"));
        // The file holds passwords: only its owner may read it.
        QCOMPARE(modeOf(TServerTree::ConfigPath()), 0600u);

        // A password that is not to be saved leaves the ninth field empty and reads back empty.
        secure->SavePassword = false;
        servers.SaveConfig();
        QVERIFY(readAll(TServerTree::ConfigPath()).contains("NewsServer|secure.example:563|0|-1|0|260101120004|0|me||\r\n"));
        QTreeWidget tree2;
        TServerTree again(&tree2);
        again.LoadConfig();
        QCOMPARE(TServerTree::EntryOf(tree2.topLevelItem(1))->Password, QString());

        // Lookups.
        QCOMPARE(servers.FindGroupNode("alt.test"), tree.topLevelItem(0)->child(1));
        QVERIFY(!servers.FindGroupNode("no.such.group"));
        QCOMPARE(TServerTree::ServerNodeOf(tree.topLevelItem(0)->child(0)->child(0)), tree.topLevelItem(0));
        QCOMPARE(TServerTree::ServerNodeOf(tree.topLevelItem(1)), tree.topLevelItem(1));
        // Expanding a node is kept at once.
        tree.topLevelItem(1)->setExpanded(true);
        QVERIFY(readAll(TServerTree::ConfigPath()).contains("NewsServer|secure.example:563|1|"));
    }

    void damagedConfigLoadsTheLinesBefore()
    {
        TScopedScriptedDialogs dialogs;
        writeFile(TServerTree::ConfigPath(), "NewsServer|one.example|0|-1|0|260101120000|0||secret|\r\n"
                                             "NewsGroup|comp.a|0|12|0|260101120001M\r\n"
                                             "NewsGroup|comp.b|0|twelve|0|260101120002M\r\n"
                                             "NewsServer|two.example|0|-1|0|260101120003|0|||\r\n");
        QTreeWidget tree;
        TServerTree servers(&tree);
        servers.LoadConfig();
        QCOMPARE(captions(tree), QStringList({"one.example", "-comp.a"}));
        QCOMPARE(dialogs.Shown.size(), size_t(1));
        QVERIFY(dialogs.LastText().startsWith("Config.chl could not be read completely: line 3 is damaged"));
        QVERIFY(!dialogs.LastText().contains("secret"));
        const QString copy = GetDataFolder() + "Config-damaged.chl";
        QVERIFY(dialogs.LastText().contains(copy));
        QVERIFY(readAll(copy).contains("two.example"));
        QCOMPARE(modeOf(copy), 0600u);

        // Entries without their parent are damaged lines too, never a crash.
        dialogs.Clear();
        writeFile(TServerTree::ConfigPath(), "NewsGroup|orphan|0|-1|0|260101120001M\r\n");
        QTreeWidget tree2;
        TServerTree s2(&tree2);
        s2.LoadConfig();
        QCOMPARE(tree2.topLevelItemCount(), 0);
        QVERIFY(dialogs.LastText().contains("line 1 is damaged (a newsgroup comes before any server)"));

        // An unknown kind word under a newsgroup is kept and written back as it was.
        dialogs.Clear();
        writeFile(TServerTree::ConfigPath(), "NewsServer|s|0|-1|0|260101120000|0|||\r\n"
                                             "NewsGroup|g|0|-1|0|260101120001M\r\n"
                                             "NewsArchive|a|0|-1|0|260101120002\r\n");
        QTreeWidget tree3;
        TServerTree s3(&tree3);
        s3.LoadConfig();
        QVERIFY(dialogs.Shown.empty());
        QCOMPARE(captions(tree3), QStringList({"s", "-g", "--a"}));
        s3.SaveConfig();
        QVERIFY(readAll(TServerTree::ConfigPath()).endsWith("NewsArchive|a|0|-1|0|260101120002\r\n"));
    }

    void deleteServerAndGroupsWithTheirFiles()
    {
        TScopedScriptedDialogs dialogs;
        writeFile(TServerTree::ConfigPath(), sampleConfig);
        const QString folder = GetDataFolder();
        for (const char* base : {"260101120000", "260101120001M", "260101120002", "260101120003M", "260101120004"})
            writeFile(folder + base + ".chl", "x\r\n");
        QTreeWidget tree;
        TServerTree servers(&tree);
        servers.Shown = true;
        int cleared = 0;
        servers.OnClearArticleView = [&](TServerTree*) { ++cleared; };
        servers.LoadConfig();

        // Wrong selections only tell the user.
        tree.setCurrentItem(tree.topLevelItem(0)->child(0));
        servers.DeleteServer();
        servers.EditServer();
        servers.AddGroup();
        tree.setCurrentItem(tree.topLevelItem(0));
        servers.DeleteGroup();
        QCOMPARE(dialogs.Texts(), QStringList({"Select a News Server to delete", "Select a Server first",
                                               "Select a News Server first", "Select a Newsgroup to delete"}));

        // Deleting a newsgroup asks first; "No" keeps everything.
        dialogs.Clear();
        tree.setCurrentItem(tree.topLevelItem(0)->child(1));
        dialogs.Answers = {TDialogAnswer::No};
        servers.DeleteGroup();
        QCOMPARE(dialogs.LastText(), QString("Delete Newsgroup alt.test"));
        QVERIFY(QFile::exists(folder + "260101120003M.chl"));
        dialogs.Answers = {TDialogAnswer::Yes};
        servers.DeleteGroup();
        QVERIFY(!QFile::exists(folder + "260101120003M.chl"));
        QVERIFY(!readAll(TServerTree::ConfigPath()).contains("alt.test"));
        QCOMPARE(tree.currentItem(), tree.topLevelItem(0));

        // Deleting a server removes its list file, its groups' and folders' files and lines.
        dialogs.Answers = {TDialogAnswer::Yes};
        const int before = cleared;
        servers.DeleteServer();
        QCOMPARE(dialogs.LastText(), QString("Delete Server news.example and its associated newsgroups ? "));
        QVERIFY(cleared > before);
        for (const char* base : {"260101120000", "260101120001M", "260101120002"})
            QVERIFY2(!QFile::exists(folder + base + ".chl"), base);
        QVERIFY(QFile::exists(folder + "260101120004.chl"));
        QCOMPARE(readAll(TServerTree::ConfigPath()),
                 QByteArray("NewsServer|secure.example:563|0|-1|0|260101120004|1|me|s3cret|\r\n"));
    }

    void groupsFromTheListAndStamps()
    {
        writeFile(TServerTree::ConfigPath(), "NewsServer|news.example|0|-1|0|260101120000|0|||\r\n"
                                             "NewsGroup|b.group|0|-1|0|260101120001M\r\n");
        QTreeWidget tree;
        TServerTree servers(&tree);
        servers.Shown = true;
        servers.LoadConfig();
        QTreeWidgetItem* server = tree.topLevelItem(0);
        QTreeWidgetItem* b = server->child(0);
        TServerTree::EntryOf(b)->SetGroupCaption(3, 10);
        writeFile(TServerTree::EntryOf(b)->FilePath(), "x\r\n");
        tree.setCurrentItem(server);
        servers.OnNewsgroupList = [](TServerTree*, TConfigClass* s, std::vector<TGroupChange>& changes) {
            if (s->Name != "news.example")
                return false;
            changes = {{1, "c.group"}, {2, "b.group"}, {1, "A.group"}};
            return true;
        };
        servers.NewsgroupList();
        // Unsubscribing works although the caption carries the counts; the tree is sorted.
        QCOMPARE(captions(tree), QStringList({"news.example", "-A.group", "-c.group"}));
        QVERIFY(!QFile::exists(GetDataFolder() + "260101120001M.chl"));
        const QString c = TServerTree::EntryOf(server->child(1))->FileBase;
        const QString a = TServerTree::EntryOf(server->child(0))->FileBase;
        QVERIFY(QRegularExpression("^\\d{12}1M$").match(c).hasMatch());
        QCOMPARE(a, c.left(12) + "2M");

        // Two additions within one second still get files of their own.
        const QString s1 = servers.NewStamp();
        servers.AddGroupNode(server, "d.group", s1);
        const QString s2 = servers.NewStamp();
        QVERIFY(s1 != s2);
        QCOMPARE(s2.size(), 12);
    }

    void selectingNodes()
    {
        writeFile(TServerTree::ConfigPath(), sampleConfig);
        QTreeWidget tree;
        TServerTree servers(&tree);
        QStringList events;
        servers.OnShowGroup = [&](TServerTree*, QTreeWidgetItem* n) { events << "show " + n->text(0); };
        servers.OnServerSelected = [&](TServerTree*, QTreeWidgetItem* n) { events << "server " + n->text(0); };
        servers.OnClearArticleView = [&](TServerTree*) { events << "clear"; };
        servers.OnFirstGroupSelection = [&](TServerTree*, QTreeWidgetItem* n) { events << "download " + n->text(0); };
        servers.LoadConfig();
        QTreeWidgetItem* group = tree.topLevelItem(0)->child(0);
        tree.setCurrentItem(group); // before the window is shown nothing loads
        QVERIFY(events.isEmpty());
        servers.Shown = true;
        tree.setCurrentItem(tree.topLevelItem(0));
        tree.setCurrentItem(group);
        tree.setCurrentItem(tree.topLevelItem(1));
        tree.setCurrentItem(group);
        QCOMPARE(events, QStringList({"clear", "server news.example", "show comp.lang.misc", "download comp.lang.misc",
                                      "clear", "server secure.example:563", "show comp.lang.misc"}));
    }
};

VORLIX_TEST_MAIN(TestServerConfig)
#include "test_server_config.moc"
