#include "TestSupport.h"

#include "gui/dialogs/GroupDialog.h"
#include "gui/dialogs/ServerDialog.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"

#include "ScriptedWindows.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"

#include <QCheckBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

namespace {
QStringList configLines()
{
    return QFile::exists(TNewsStore::ConfigPath()) ? ReadLines(TNewsStore::ConfigPath()) : QStringList();
}
}

class TestEntryWindows : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        TRegistryEnhanced::ResetStore();
        QFile::remove(TNewsStore::ConfigPath());
    }

    void addAndEditServers()
    {
        TScopedScriptedWindows dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        QTreeWidget tree;
        TNewsStore servers;
        TServerTree view(&tree, &servers);
        servers.Settings = &store;
        servers.Shown = true;
        BindServerWindow(servers, &store);
        int listsOpened = 0;
        servers.OnNewsgroupList = [&](TNewsStore*, TConfigClass*, std::vector<TGroupChange>&) {
            ++listsOpened;
            return false;
        };
        // Selecting the server a command just added is no selection of the user's.
        int serverSelections = 0;
        servers.OnServerSelected = [&](TNewsStore*, TConfigClass*) { ++serverSelections; };

        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* f = dynamic_cast<TForm2*>(d);
            if (!f || f->windowTitle() != "Add Server" || f->pnlInfo->isHidden() || !f->cbLoadNewsgroups->isChecked()
                || f->edServerName->isReadOnly() || !f->edServerName->text().isEmpty())
                return int(QDialog::Rejected);
            f->btnOk->click(); // empty name
            f->edServerName->setText("news|example");
            f->btnOk->click();
            f->edServerName->setText("news.example");
            f->edUserID->setText("  reader  ");
            f->edPassword->setText("pass\nword");
            f->btnOk->click();
            f->edPassword->setText("  s3cret ");
            f->cbSavePassword->setChecked(true);
            f->cbLoadNewsgroups->setChecked(false);
            f->btnOk->click();
            return f->result();
        });
        servers.AddServer();
        QCOMPARE(dialogs.Texts(), QStringList({"Server Name is required",
                                               "The server name must not contain \"|\" or line breaks.",
                                               "The password must not contain \"|\" or line breaks."}));
        QCOMPARE(tree.topLevelItemCount(), 1);
        TConfigClass* e = TServerTree::EntryOf(tree.topLevelItem(0));
        QCOMPARE(e->Name, QString("news.example"));
        QCOMPARE(e->UserName, QString("reader"));
        QCOMPARE(e->Password, QString("s3cret"));
        QVERIFY(e->SavePassword);
        QVERIFY(QRegularExpression("^\\d{12}$").match(e->FileBase).hasMatch());
        QCOMPARE(tree.currentItem(), tree.topLevelItem(0));
        QCOMPARE(configLines(), QStringList({"NewsServer|news.example|0|-1|0|" + e->FileBase + "|1|reader|s3cret|"}));
        QCOMPARE(store.GetValue("AutoLoadNewsgroups").toBool(), false);
        QCOMPARE(listsOpened, 0);
        QCOMPARE(serverSelections, 0);

        // The same name again is refused; with a trailing blank it is another server.
        dialogs.Clear();
        store.SetValue("AutoLoadNewsgroups", true);
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* f = static_cast<TForm2*>(d);
            f->edServerName->setText("news.example");
            f->btnOk->click();
            f->edServerName->setText("news.example ");
            f->btnOk->click();
            return f->result();
        });
        servers.AddServer();
        QCOMPARE(dialogs.Texts(), QStringList({"The server news.example is already configured."}));
        QCOMPARE(tree.topLevelItemCount(), 2);
        QCOMPARE(listsOpened, 1); // the newsgroup list opens for the new server
        QCOMPARE(tree.currentItem(), tree.topLevelItem(1));
        QCOMPARE(serverSelections, 0);
        QVERIFY(TServerTree::EntryOf(tree.topLevelItem(0))->FileBase != TServerTree::EntryOf(tree.topLevelItem(1))->FileBase);

        // Cancel keeps everything.
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* f = static_cast<TForm2*>(d);
            f->edServerName->setText("third.example");
            f->btnCancel->click();
            return f->result();
        });
        servers.AddServer();
        QCOMPARE(tree.topLevelItemCount(), 2);

        // Editing shows the login, never the duplicate test, and cannot rename.
        dialogs.Clear();
        tree.setCurrentItem(tree.topLevelItem(0));
        QCOMPARE(serverSelections, 1); // the user's own selections are
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* f = static_cast<TForm2*>(d);
            if (f->windowTitle() != "Edit Server" || !f->pnlInfo->isHidden() || !f->edServerName->isReadOnly()
                || f->edServerName->text() != "news.example" || f->edUserID->text() != "reader"
                || f->edPassword->text() != "s3cret" || !f->cbSavePassword->isChecked()
                || !f->cbLoadNewsgroups->isHidden())
                return int(QDialog::Rejected);
            f->edUserID->setText(" bob ");
            f->edPassword->setText("new");
            f->cbSavePassword->setChecked(false);
            f->btnOk->click();
            return f->result();
        });
        servers.EditServer();
        QVERIFY(dialogs.Shown.empty());
        e = TServerTree::EntryOf(tree.topLevelItem(0));
        QCOMPARE(e->UserName, QString("bob"));
        QCOMPARE(e->Password, QString("new"));
        QCOMPARE(configLines().at(0), "NewsServer|news.example|0|-1|0|" + e->FileBase + "|0|bob||");
    }

    void addNewsgroupsByName()
    {
        TScopedScriptedWindows dialogs;
        QTreeWidget tree;
        TNewsStore servers;
        TServerTree view(&tree, &servers);
        servers.Shown = true;
        BindGroupWindow(servers);
        QTreeWidgetItem* server = view.ItemOf(servers.AddServerEntry("news.example", {}, {}, false, "260101000000"));
        servers.AddGroupEntry(TServerTree::EntryOf(server), "zz.last", "260101000001");
        int deselected = 0;
        servers.OnDeselectAllArticles = [&](TNewsStore*) { ++deselected; };

        servers.AddGroup();
        QCOMPARE(dialogs.LastText(), QString("Select a News Server first"));

        tree.setCurrentItem(server);
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* f = static_cast<TForm3*>(d);
            if (f->windowTitle() != "Add Newsgroup" || f->lblServer->text() != "news.example"
                || !f->edNewsgroup->text().isEmpty())
                return int(QDialog::Rejected);
            f->edNewsgroup->setText("comp.a|b");
            f->btnOk->click();
            f->edNewsgroup->setText("comp.lang.misc");
            f->btnOk->click();
            return f->result();
        });
        servers.AddGroup();
        QCOMPARE(deselected, 1);
        QCOMPARE(dialogs.LastText(), QString("The newsgroup name must not contain \"|\" or line breaks."));
        QCOMPARE(server->childCount(), 2);
        QTreeWidgetItem* g = server->child(0); // sorted before zz.last
        TConfigClass* e = TServerTree::EntryOf(g);
        QCOMPARE(e->Name, QString("comp.lang.misc"));
        QCOMPARE(e->Kind, int(ckNewsGroup));
        QVERIFY(QRegularExpression("^\\d{12}M$").match(e->FileBase).hasMatch());
        QVERIFY(server->isExpanded());
        QVERIFY(configLines().contains("NewsGroup|comp.lang.misc|1|-1|0|" + e->FileBase));

        // An empty name is taken as typed; Cancel adds nothing.
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            static_cast<TForm3*>(d)->btnOk->click();
            return static_cast<TForm3*>(d)->result();
        });
        servers.AddGroup();
        QCOMPARE(server->childCount(), 3);
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* f = static_cast<TForm3*>(d);
            f->edNewsgroup->setText("x.y");
            f->btnCancel->click();
            return f->result();
        });
        servers.AddGroup();
        QCOMPARE(server->childCount(), 3);
    }
};

VORLIX_TEST_MAIN(TestEntryWindows)
#include "test_entry_windows.moc"
