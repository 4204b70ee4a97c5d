// The server tree as a view of the news store: it shows what the store holds and follows
// each change, and what the user does in it reaches the store.
#include "TestSupport.h"

#include "ScriptedDialogs.h"
#include "core/TextFiles.h"
#include "gui/news/NewsIcons.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"

#include <QFile>
#include <QTreeWidget>

namespace {
// Every item's text in tree order, one dash per level; expanded items end with " +".
QStringList shown(QTreeWidget& tree)
{
    QStringList out;
    std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* n, int depth) {
        out << QString(depth, QChar('-')) + n->text(0) + (n->isExpanded() ? " +" : "");
        for (int i = 0; i < n->childCount(); ++i)
            walk(n->child(i), depth + 1);
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        walk(tree.topLevelItem(i), 0);
    return out;
}

// The same from the store's side.
QStringList stored(const TNewsStore& store)
{
    QStringList out;
    for (TConfigClass* e : store.AllEntries()) {
        int depth = 0;
        for (TConfigClass* p = e->Parent(); p; p = p->Parent())
            ++depth;
        out << QString(depth, QChar('-')) + e->Caption() + (e->Expanded == 1 ? " +" : "");
    }
    return out;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeConfig(const QByteArray& data)
{
    QFile f(TNewsStore::ConfigPath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
}

class TestServerTree : public QObject {
    Q_OBJECT
private slots:
    void init() { QFile::remove(TNewsStore::ConfigPath()); }

    void followsTheStore()
    {
        writeConfig("NewsServer|zeta.example|0|-1|0|260101120000|0|||\r\n"
                    "NewsServer|alpha.example|1|-1|0|260101120001|0|||\r\n"
                    "NewsGroup|comp.b|1|-1|0|260101120002M\r\n"
                    "NewsFolder|saved|0|-1|0|260101120003\r\n"
                    "NewsArchive|old|0|-1|0|260101120004\r\n");
        TScopedScriptedDialogs dialogs;
        TNewsStore store;
        QTreeWidget tree;
        TServerTree view(&tree, &store);
        store.Shown = true;
        int saves = 0; // every save ends by updating the buttons, and so does loading
        store.OnUpdateButtons = [&](TNewsStore*, bool, bool) { ++saves; };
        store.LoadConfig();
        // The file's order, the stored expansions, nothing saved for showing them.
        QCOMPARE(shown(tree), QStringList({"zeta.example", "alpha.example +", "-comp.b +", "--saved", "--old"}));
        QCOMPARE(shown(tree), stored(store));
        QCOMPARE(saves, 1);
        QCOMPARE(view.SelectedKind(), int(ckUnknown));
        QVERIFY(!view.SelectedEntry());

        // Items map to entries both ways; kinds as the enabling rules ask them.
        TConfigClass* alpha = store.Server(1);
        TConfigClass* group = alpha->Child(0);
        QCOMPARE(TServerTree::EntryOf(view.ItemOf(group)), group);
        tree.setCurrentItem(view.ItemOf(group->Child(1)));
        QCOMPARE(view.SelectedKind(), int(ckNewsFolder)); // an unknown kind counts as a folder
        tree.setCurrentItem(view.ItemOf(alpha));
        QCOMPARE(view.SelectedKind(), int(ckServer));
        QCOMPARE(view.SelectedEntry(), alpha);
        QCOMPARE(store.SelectedEntry(), alpha);

        // A newsgroup added by the command: inserted, sorted, expanded, selection kept.
        store.OnGroupWindow = [](TNewsStore*, const QString& server, QString& name) {
            name = server == "alpha.example" ? "a.first" : "wrong";
            return true;
        };
        store.AddGroup();
        QCOMPARE(shown(tree), QStringList({"alpha.example +", "-a.first +", "-comp.b +", "--old", "--saved",
                                           "zeta.example"}));
        QCOMPARE(shown(tree), stored(store));
        QCOMPARE(tree.currentItem(), view.ItemOf(alpha));

        // Captions and pictures follow the entry.
        group->SetGroupCaption(2, 9);
        QCOMPARE(view.ItemOf(group)->text(0), QString("comp.b (2/9)"));
        const qint64 speaking = NewsPicture(npSpeakingGroup).cacheKey();
        QVERIFY(view.ItemOf(group)->icon(0).cacheKey() != speaking);
        group->SetPicture(npSpeakingGroup);
        QCOMPARE(view.ItemOf(group)->icon(0).cacheKey(), speaking);

        // Deleting the selected newsgroup removes its item and selects its server.
        QStringList selections;
        store.OnServerSelected = [&](TNewsStore*, TConfigClass* e) { selections << e->Name; };
        tree.setCurrentItem(view.ItemOf(group));
        dialogs.Answers = {TDialogAnswer::Yes};
        store.DeleteGroup();
        QCOMPARE(dialogs.LastText(), QString("Delete Newsgroup comp.b (2/9)"));
        QVERIFY(!view.ItemOf(group));
        QCOMPARE(shown(tree), QStringList({"alpha.example +", "-a.first +", "zeta.example"}));
        QCOMPARE(tree.currentItem(), view.ItemOf(alpha));
        QCOMPARE(store.SelectedEntry(), alpha);
        QCOMPARE(selections, QStringList({"alpha.example"}));

        // The user's collapsing reaches the store and the file at once.
        view.ItemOf(alpha)->setExpanded(false);
        QCOMPARE(alpha->Expanded, 0);
        QVERIFY(readAll(TNewsStore::ConfigPath()).contains("NewsServer|alpha.example|0|"));
        QCOMPARE(shown(tree), stored(store));

        // A current item that the user deselected is no selection for the commands.
        tree.currentItem()->setSelected(false);
        QVERIFY(!store.SelectedEntry());
        QCOMPARE(view.SelectedKind(), int(ckServer));
        store.DeleteServer();
        QCOMPARE(dialogs.LastText(), QString("Select a News Server to delete"));
        QCOMPARE(store.ServerCount(), 2);
    }
};

VORLIX_TEST_MAIN(TestServerTree)
#include "test_server_tree.moc"
