// The newsgroup list window against real servers on loopback: the first download into the
// list file, the backup put back after a failed or cancelled refresh, the dotted tree, the
// search, the marks, and OK applied to the server tree and its files.
#include "ScriptedNntpServer.h"
#include "SampleNewsServer.h"
#include "TestSupport.h"

#include "ScriptedWindows.h"
#include "gui/dialogs/NewsGroupTreeView.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "gui/app/ProgressWindow.h"
#include "core/TextFiles.h"
#include "gui/news/NewsIcons.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTcpServer>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

namespace {

QByteArray ListBytes(const QStringList& names)
{
    QByteArray out;
    for (const QString& n : names)
        out += n.toUtf8() + " 0000000010 0000000001 y\r\n";
    return out;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Top-level texts, each followed by its children in brackets: "alt[alt.a,alt.b] comp[comp.x]".
QString Shape(QTreeWidgetItem* node)
{
    QString s = node->text(0);
    if (node->childCount() > 0) {
        QStringList children;
        for (int i = 0; i < node->childCount(); ++i)
            children << Shape(node->child(i));
        s += QLatin1Char('[') + children.join(QLatin1Char(',')) + QLatin1Char(']');
    }
    return s;
}

QString Shape(QTreeWidget* tree)
{
    QStringList roots;
    for (int i = 0; i < tree->topLevelItemCount(); ++i)
        roots << Shape(tree->topLevelItem(i));
    return roots.join(QLatin1Char(' '));
}

QTreeWidgetItem* FindNode(QTreeWidget* tree, const QString& text)
{
    const QList<QTreeWidgetItem*> found = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QStringList ResultNames(QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// A news store with one server whose groups are given.
struct Fixture {
    TNewsStore tree;
    TConfigClass* server = nullptr;
    Fixture(const QString& host, const QStringList& groups)
    {
        server = tree.AddServerEntry(host, QString(), QString(), false, QStringLiteral("250101120000"));
        int n = 0;
        for (const QString& g : groups)
            tree.AddGroupEntry(server, g, QStringLiteral("2501011200%1").arg(++n, 2, 10, QLatin1Char('0')));
    }
    TConfigClass* Server() const { return server; }
    QString ListFile() const { return GetDataFolder() + Server()->FileBase + QStringLiteral(".chl"); }
};

// A window for the fixture's server, shown; waits until its first list is in the tree.
struct Window {
    TNGDialog dlg;
    QSignalSpy loaded{&dlg, &TNGDialog::listLoaded};
    explicit Window(const Fixture& f, const QString& host = QString())
    {
        dlg.ServerName = host.isEmpty() ? f.Server()->Name : host;
        dlg.ListFile = f.ListFile();
        dlg.ServerEntry = f.server;
    }
    bool ShowAndLoad()
    {
        dlg.show();
        return TestSupport::WaitFor([this] { return loaded.count() > 0 && !dlg.Busy(); }, 20000);
    }
};

} // namespace

class TestNewsgroupList : public QObject {
    Q_OBJECT
private slots:
    void treeFollowsTheFileOrder()
    {
        struct Case {
            QStringList names;
            QString shape;
        };
        const QList<Case> cases{
            {{"alt.a", "alt.b", "comp.x"}, "alt[alt.a,alt.b] comp[comp.x]"},
            {{"alt.a", "comp.x", "alt.b"}, "alt[alt.a] comp[comp.x] alt[alt.b]"},
            {{"misc", "a.b.c.d", "a.b.e"}, "misc a[a.b[a.b.c[a.b.c.d],a.b.e]]"},
            // A group that is also the folder of the groups after it (or before it) is one node.
            {{"comp.lang", "comp.lang.c", "comp.lang.c.moderated"}, "comp[comp.lang[comp.lang.c[comp.lang.c.moderated]]]"},
            {{"comp.lang.c", "comp.lang"}, "comp[comp.lang[comp.lang.c]]"},
            // Empty name parts end the walk; blank and odd lines do no harm.
            {{"", "x..y", "z. .w"}, "x z"},
        };
        for (const Case& c : cases) {
            Fixture f(QStringLiteral("news.example"), {QStringLiteral("alt.b"), QStringLiteral("comp.lang")});
            WriteFile(f.ListFile(), ListBytes(c.names));
            Window w(f);
            QVERIFY(w.ShowAndLoad());
            QCOMPARE(Shape(w.dlg.Tree()), c.shape);
        }

        Fixture f(QStringLiteral("news.example"), {QStringLiteral("alt.b")});
        WriteFile(f.ListFile(), ListBytes({"alt.a", "alt.b", "misc", "comp.x"}));
        Window w(f);
        QVERIFY(w.ShowAndLoad());
        QCOMPARE(w.dlg.ServerLabel()->text(), QStringLiteral("news.example"));
        QCOMPARE(w.dlg.RefreshButton()->text(), QStringLiteral("Refresh List"));
        QVERIFY(w.dlg.Pages()->isTabVisible(1));
        QTreeWidgetItem* alt = FindNode(w.dlg.Tree(), "alt");
        QCOMPARE(TNGDialog::NodePicture(alt), int(npFolder));
        QCOMPARE(TNGDialog::NodePicture(FindNode(w.dlg.Tree(), "alt.a")), -1);
        QCOMPARE(TNGDialog::NodePicture(FindNode(w.dlg.Tree(), "alt.b")), int(npNewsGroup));
        QCOMPARE(TNGDialog::NodePicture(FindNode(w.dlg.Tree(), "misc")), -1);
        QVERIFY(!TNGDialog::IsFolder(FindNode(w.dlg.Tree(), "misc")));
        QVERIFY(!w.dlg.SubscribeButton()->isEnabled() && !w.dlg.UnsubscribeButton()->isEnabled());

        // Expanding selects the folder and opens its picture; collapsing closes it.
        alt->setExpanded(true);
        QCOMPARE(w.dlg.Tree()->currentItem(), alt);
        QCOMPARE(TNGDialog::NodePicture(alt), int(npFolderSelected));
        alt->setExpanded(false);
        QCOMPARE(TNGDialog::NodePicture(alt), int(npFolder));

        // The buttons follow the selected node.
        w.dlg.Tree()->setCurrentItem(FindNode(w.dlg.Tree(), "alt.a"));
        QVERIFY(w.dlg.SubscribeButton()->isEnabled() && !w.dlg.UnsubscribeButton()->isEnabled());
        w.dlg.Tree()->setCurrentItem(FindNode(w.dlg.Tree(), "alt.b"));
        QVERIFY(!w.dlg.SubscribeButton()->isEnabled() && w.dlg.UnsubscribeButton()->isEnabled());
        w.dlg.Tree()->setCurrentItem(FindNode(w.dlg.Tree(), "comp"));
        QVERIFY(!w.dlg.SubscribeButton()->isEnabled() && !w.dlg.UnsubscribeButton()->isEnabled());

        // Pages: the search page switches the refresh button off and both mark buttons on.
        w.dlg.Pages()->setCurrentIndex(1);
        QVERIFY(!w.dlg.RefreshButton()->isEnabled());
        QVERIFY(w.dlg.SubscribeButton()->isEnabled() && w.dlg.UnsubscribeButton()->isEnabled());
        w.dlg.Pages()->setCurrentIndex(0);
        QVERIFY(w.dlg.RefreshButton()->isEnabled());
    }

    void progressTextAndBackupName()
    {
        QCOMPARE(TNGDialog::ProgressText(0), QStringLiteral("Downloaded 0.00 K"));
        QCOMPARE(TNGDialog::ProgressText(2048), QStringLiteral("Downloaded 2.00 K"));
        QCOMPARE(TNGDialog::ProgressText(1022976), QStringLiteral("Downloaded 999.00 K"));
        QCOMPARE(TNGDialog::ProgressText(1022977), QStringLiteral("Downloaded 1.00 M"));
        QCOMPARE(TNGDialog::ProgressText(2048000), QStringLiteral("Downloaded 2.00 M"));
        QCOMPARE(TNGDialog::BackupFileName(QStringLiteral("/d/Files/250101120000.chl")),
                 QStringLiteral("/d/Files/250101120000_BU.chl"));
    }

    void firstOpeningDownloadsTheList()
    {
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) > 0);
        QVERIFY(server.Listen());
        const QString host = QStringLiteral("127.0.0.1:") + QString::number(server.Port());
        Fixture f(host, {});
        QFile::remove(f.ListFile());
        Window w(f);
        QSignalSpy done(&w.dlg, &TNGDialog::downloadFinished);
        QVERIFY(w.ShowAndLoad());
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).toInt(), 0);
        QVERIFY(!w.dlg.ProgressWindow());
        QVERIFY(!QFileInfo::exists(TNGDialog::BackupFileName(f.ListFile())));

        QByteArray expected;
        for (const TSampleGroup& g : server.Groups())
            expected += g.Name.toLatin1() + ' ' + QByteArray::number(g.High()) + ' ' + QByteArray::number(g.Low()) + " y\r\n";
        QCOMPARE(ReadFile(f.ListFile()), expected);
        for (const TSampleGroup& g : server.Groups())
            QVERIFY2(FindNode(w.dlg.Tree(), g.Name), qPrintable(g.Name));
        QCOMPARE(w.dlg.RefreshButton()->text(), QStringLiteral("Refresh List"));

        // A later opening reads the file and does not ask the server.
        Window again(f);
        QSignalSpy done2(&again.dlg, &TNGDialog::downloadFinished);
        QVERIFY(again.ShowAndLoad());
        QCOMPARE(done2.count(), 0);
        QCOMPARE(Shape(again.dlg.Tree()), Shape(w.dlg.Tree()));
    }

    // A login typed in the window that the list download opens is kept with the server when
    // "Save Password" is ticked: the next download does not ask again.
    void loginOfTheListDownloadIsKept()
    {
        TScopedScriptedDialogs dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) > 0);
        server.RequireLogin(QStringLiteral("ann"), QStringLiteral("secret"));
        QVERIFY(server.Listen());
        Fixture f(QStringLiteral("127.0.0.1:") + QString::number(server.Port()), {});
        QFile::remove(f.ListFile());
        dialogs.CredentialAnswers.push_back({true, QStringLiteral("ann"), QStringLiteral("secret"), true});
        dialogs.PlainPasswordAnswers.push_back(TDialogAnswer::Yes); // the server has no encryption
        {
            Window w(f);
            QVERIFY(w.ShowAndLoad());
        }
        QCOMPARE(int(dialogs.CredentialRequests.size()), 1);
        QCOMPARE(f.server->UserName, QStringLiteral("ann"));
        QCOMPARE(f.server->Password, QStringLiteral("secret"));
        QVERIFY(f.server->SavePassword);
        QVERIFY(ReadFile(TNewsStore::ConfigPath()).contains("|ann|secret|"));
        // The next download uses the kept login.
        QFile::remove(f.ListFile());
        Window again(f);
        again.dlg.ServerUserName = f.server->UserName;
        again.dlg.ServerPassword = f.server->Password;
        QVERIFY(again.ShowAndLoad());
        QCOMPARE(int(dialogs.CredentialRequests.size()), 1);
        // The answer about the unencrypted password is the server's: asked once.
        QCOMPARE(int(dialogs.PlainPasswordRequests.size()), 1);
    }

    void failedRefreshPutsTheOldListBack()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("LIST", "502 Permission denied\r\n");
        Fixture f(s.ServerName(), {});
        const QByteArray old = ListBytes({"alt.old", "alt.older"});
        WriteFile(f.ListFile(), old);
        Window w(f);
        QVERIFY(w.ShowAndLoad());
        QCOMPARE(Shape(w.dlg.Tree()), QStringLiteral("alt[alt.old,alt.older]"));

        QSignalSpy done(&w.dlg, &TNGDialog::downloadFinished);
        w.dlg.RefreshButton()->click();
        QVERIFY(TestSupport::WaitFor([&] { return done.count() == 1 && !w.dlg.Busy(); }));
        QCOMPARE(done.at(0).at(0).toInt(), 502);
        QCOMPARE(w.dlg.LastFailure(), QStringLiteral("502 Permission denied"));
        QCOMPARE(ReadFile(f.ListFile()), old);
        QVERIFY(!QFileInfo::exists(TNGDialog::BackupFileName(f.ListFile())));
        QCOMPARE(Shape(w.dlg.Tree()), QStringLiteral("alt[alt.old,alt.older]"));
        QCOMPARE(s.Errors(), QStringList());

        // No list at all and a server that is not there: an empty tree, "Load", no search page.
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const QString gone = QStringLiteral("127.0.0.1:") + QString::number(probe.serverPort());
        probe.close();
        Fixture none(gone, {});
        QFile::remove(none.ListFile());
        Window empty(none);
        QVERIFY(empty.ShowAndLoad());
        QCOMPARE(empty.dlg.Tree()->topLevelItemCount(), 0);
        QCOMPARE(empty.dlg.RefreshButton()->text(), QStringLiteral("Load"));
        QVERIFY(!empty.dlg.Pages()->isTabVisible(1));
        QVERIFY(!empty.dlg.LastFailure().isEmpty());
    }

    void progressAndCancelKeepTheOldList()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.SetChunkGap(1500);
        s.Greet();
        // 2048 bytes of list, then a long silence: the download is still running.
        QByteArray part = "215 list follows\r\n";
        QByteArray lines;
        for (int i = 0; lines.size() < 2048; ++i)
            lines += "alt.slow.group" + QByteArray::number(1000 + i) + " 10 1 y\r\n";
        lines.truncate(2048 - 2);
        lines += "\r\n";
        s.Expect("LIST", ScriptedReply().SendSplit(part + lines + "alt.never", {int(part.size())}));
        Fixture f(s.ServerName(), {});
        const QByteArray old = ListBytes({"alt.old"});
        WriteFile(f.ListFile(), old);
        Window w(f);
        QVERIFY(w.ShowAndLoad());

        QSignalSpy done(&w.dlg, &TNGDialog::downloadFinished);
        w.dlg.RefreshButton()->click();
        QVERIFY(w.dlg.Downloading());
        QVERIFY(w.dlg.ProgressWindow());
        QCOMPARE(w.dlg.ProgressWindow()->windowTitle(), QStringLiteral("Downloading Newsgroups from Server ..."));
        QCOMPARE(ReadFile(TNGDialog::BackupFileName(f.ListFile())), old);
        QVERIFY(TestSupport::WaitFor([&] {
            return w.dlg.ProgressWindow() && w.dlg.ProgressWindow()->Status() == QStringLiteral("Downloaded 2.00 K");
        }));
        w.dlg.ProgressWindow()->CancelButton()->click();
        QVERIFY(TestSupport::WaitFor([&] { return done.count() == 1 && !w.dlg.Busy(); }));
        QCOMPARE(ReadFile(f.ListFile()), old);
        QVERIFY(!QFileInfo::exists(TNGDialog::BackupFileName(f.ListFile())));
        QCOMPARE(Shape(w.dlg.Tree()), QStringLiteral("alt[alt.old]"));
    }

    void brokenFirstDownloadLeavesNoList()
    {
        // The connection breaks in the middle of the list: nothing half-received stays behind,
        // so the next opening asks the server again.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("LIST", ScriptedReply().Send("215 list follows\r\nalt.first 1 1 y\r\nalt.sec").Reset());
        Fixture f(s.ServerName(), {});
        QFile::remove(f.ListFile());
        Window w(f);
        QSignalSpy done(&w.dlg, &TNGDialog::downloadFinished);
        QVERIFY(w.ShowAndLoad());
        QCOMPARE(done.count(), 1);
        QVERIFY(done.at(0).at(0).toInt() != 0);
        QVERIFY(!QFileInfo::exists(f.ListFile()));
        QVERIFY(!QFileInfo::exists(TNGDialog::BackupFileName(f.ListFile())));
        QCOMPARE(w.dlg.Tree()->topLevelItemCount(), 0);
        QCOMPARE(w.dlg.RefreshButton()->text(), QStringLiteral("Load"));
    }

    void cancelWhileTheTreeLoads()
    {
        // Cancel pressed while a long list is loading ends the load at its next turn and
        // closes the window; the list file is untouched.
        Fixture f(QStringLiteral("news.example"), {});
        QStringList names;
        for (int i = 0; i < 60000; ++i)
            names << QStringLiteral("alt.load.g%1").arg(i);
        const QByteArray bytes = ListBytes(names);
        WriteFile(f.ListFile(), bytes);
        Window w(f);
        bool clicked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (w.dlg.Busy() && !clicked) {
                clicked = true;
                w.dlg.CancelButton()->click();
            }
        });
        poll.start(0);
        w.dlg.show();
        QVERIFY(TestSupport::WaitFor([&] { return clicked && !w.dlg.Busy() && !w.dlg.isVisible(); }));
        QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
        QCOMPARE(w.dlg.Tree()->topLevelItemCount(), 0);
        QCOMPARE(ReadFile(f.ListFile()), bytes);
    }

    void closingDuringADownloadKeepsTheOldList()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("LIST", ScriptedReply("215 list follows\r\nalt.partial 1 1 y\r\n"));
        Fixture f(s.ServerName(), {});
        const QByteArray old = ListBytes({"alt.old"});
        WriteFile(f.ListFile(), old);
        {
            Window w(f);
            QVERIFY(w.ShowAndLoad());
            w.dlg.RefreshButton()->click();
            QVERIFY(TestSupport::WaitFor([&] { return s.Commands().contains("LIST"); }));
            w.dlg.CancelButton()->click();
            QCOMPARE(w.dlg.result(), int(QDialog::Rejected));
        }
        QCOMPARE(ReadFile(f.ListFile()), old);
        QVERIFY(!QFileInfo::exists(TNGDialog::BackupFileName(f.ListFile())));
    }

    void searchIsACaseSensitiveSubstring()
    {
        Fixture f(QStringLiteral("news.example"), {QStringLiteral("comp.lang.python")});
        WriteFile(f.ListFile(), ListBytes({"comp.lang.c", "comp.lang.python", "alt.Python", "rec.pythons.care"}));
        Window w(f);
        QVERIFY(w.ShowAndLoad());
        TScopedScriptedWindows d;
        QSignalSpy searched(&w.dlg, &TNGDialog::searchFinished);
        w.dlg.Pages()->setCurrentIndex(1);

        w.dlg.SearchEdit()->setText(QStringLiteral("   "));
        w.dlg.SearchButton()->click();
        QCOMPARE(d.Texts(), QStringList{QStringLiteral("Enter a search string")});

        w.dlg.SearchEdit()->setText(QStringLiteral("python"));
        w.dlg.SearchButton()->click();
        QCOMPARE(ResultNames(w.dlg.Results()), (QStringList{"comp.lang.python", "rec.pythons.care"}));
        QCOMPARE(TNGDialog::ResultPicture(w.dlg.Results()->item(0)), int(npNewsGroup));
        QCOMPARE(TNGDialog::ResultPicture(w.dlg.Results()->item(1)), -1);
        QCOMPARE(w.dlg.Results()->currentRow(), 0);

        w.dlg.SearchEdit()->setText(QStringLiteral("Python"));
        w.dlg.SearchButton()->click();
        QCOMPARE(ResultNames(w.dlg.Results()), QStringList{"alt.Python"});

        w.dlg.SearchEdit()->setText(QStringLiteral("PYTHON"));
        w.dlg.SearchButton()->click();
        QCOMPARE(w.dlg.Results()->count(), 0);
        QCOMPARE(d.LastText(), QStringLiteral("No Newsgroups found matching PYTHON"));
        QCOMPARE(searched.count(), 3);

        // A list file that vanished leaves the window working: nothing is found.
        QVERIFY(QFile::remove(f.ListFile()));
        w.dlg.SearchEdit()->setText(QStringLiteral("comp"));
        w.dlg.SearchButton()->click();
        QCOMPARE(d.LastText(), QStringLiteral("No Newsgroups found matching comp"));
        QVERIFY(w.dlg.isVisible());
    }

    void marksFollowTheRules()
    {
        Fixture f(QStringLiteral("news.example"), {QStringLiteral("alt.kept"), QStringLiteral("alt.dropped")});
        WriteFile(f.ListFile(), ListBytes({"alt.kept", "alt.dropped", "alt.new", "alt.other", "comp.twice"}));
        Window w(f);
        QVERIFY(w.ShowAndLoad());
        QTreeWidget* tree = w.dlg.Tree();
        auto state = [&](const char* name) {
            const TSubscribeRec* r = w.dlg.SubscribeList.Find(QString::fromLatin1(name));
            return r ? r->State : -1;
        };
        QCOMPARE(w.dlg.SubscribeList.Count(), 2);

        // New group subscribed and dropped again in one visit: no mark is left.
        tree->setCurrentItem(FindNode(tree, "alt.new"));
        w.dlg.SubscribeButton()->click();
        QCOMPARE(state("alt.new"), 1);
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "alt.new")), int(npNewsGroup));
        QVERIFY(!w.dlg.SubscribeButton()->isEnabled() && w.dlg.UnsubscribeButton()->isEnabled());
        w.dlg.UnsubscribeButton()->click();
        QCOMPARE(state("alt.new"), -1);
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "alt.new")), -1);
        QVERIFY(w.dlg.SubscribeButton()->isEnabled() && !w.dlg.UnsubscribeButton()->isEnabled());

        // An existing group dropped and taken back keeps state 0.
        tree->setCurrentItem(FindNode(tree, "alt.kept"));
        w.dlg.UnsubscribeButton()->click();
        QCOMPARE(state("alt.kept"), 2);
        w.dlg.SubscribeButton()->click();
        QCOMPARE(state("alt.kept"), 0);

        // Unsubscribing a group without a mark does nothing.
        tree->setCurrentItem(FindNode(tree, "alt.other"));
        w.dlg.UnsubscribeButton()->click();
        QCOMPARE(state("alt.other"), -1);

        // Double clicks toggle.
        QTreeWidgetItem* dropped = FindNode(tree, "alt.dropped");
        emit tree->itemDoubleClicked(dropped, 0);
        QCOMPARE(state("alt.dropped"), 2);
        QCOMPARE(TNGDialog::NodePicture(dropped), -1);

        // On the search page: every selected result; subscribing twice keeps the group new.
        w.dlg.Pages()->setCurrentIndex(1);
        w.dlg.SearchEdit()->setText(QStringLiteral("comp"));
        w.dlg.SearchButton()->click();
        QCOMPARE(ResultNames(w.dlg.Results()), QStringList{"comp.twice"});
        w.dlg.Results()->item(0)->setSelected(true);
        w.dlg.SubscribeButton()->click();
        w.dlg.SubscribeButton()->click();
        QCOMPARE(state("comp.twice"), 1);
        QCOMPARE(TNGDialog::ResultPicture(w.dlg.Results()->item(0)), int(npNewsGroup));
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "comp.twice")), int(npNewsGroup));

        // Marks made in this visit survive a reload of the list.
        w.dlg.LoadList();
        QCOMPARE(state("comp.twice"), 1);
        QCOMPARE(state("alt.dropped"), 2);
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "comp.twice")), int(npNewsGroup));
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "alt.dropped")), -1);
        QCOMPARE(TNGDialog::NodePicture(FindNode(tree, "alt.kept")), int(npNewsGroup));
        // A group to be dropped shows unsubscribed in the search results too.
        w.dlg.SearchEdit()->setText(QStringLiteral("alt.d"));
        w.dlg.SearchButton()->click();
        QCOMPARE(ResultNames(w.dlg.Results()), QStringList{"alt.dropped"});
        QCOMPARE(TNGDialog::ResultPicture(w.dlg.Results()->item(0)), -1);
    }

    void okAppliesTheMarksToTheServerTree()
    {
        Fixture f(QStringLiteral("news.example"), {QStringLiteral("alt.kept"), QStringLiteral("alt.dropped")});
        WriteFile(f.ListFile(), ListBytes({"alt.kept", "alt.dropped", "alt.new", "comp.x"}));
        const QString droppedFile = f.tree.FindGroup(QStringLiteral("alt.dropped"))->FilePath();
        WriteFile(droppedFile, "1|0|1|0|0|0|<a@x>|s|f|45000|\r\n");
        f.tree.Select(f.server);

        f.tree.OnNewsgroupList = [](TNewsStore*, TConfigClass* server, std::vector<TGroupChange>& changes) {
            return TNGDialog::Execute(server, changes);
        };
        TScopedScriptedWindows d;
        d.DialogHandlers.push_back([](QDialog* dialog) {
            auto* ng = qobject_cast<TNGDialog*>(dialog);
            QSignalSpy loaded(ng, &TNGDialog::listLoaded);
            ng->show();
            if (!TestSupport::WaitFor([&] { return loaded.count() > 0; }))
                return int(QDialog::Rejected);
            QTreeWidget* tree = ng->Tree();
            for (const char* name : {"comp.x", "alt.new"}) {
                tree->setCurrentItem(FindNode(tree, name));
                ng->SubscribeButton()->click();
            }
            tree->setCurrentItem(FindNode(tree, "alt.dropped"));
            ng->UnsubscribeButton()->click();
            ng->OkButton()->click();
            return ng->result();
        });
        f.tree.NewsgroupList();
        QCOMPARE(d.DialogTitles, QStringList{QStringLiteral("Newsgroup List")});

        QStringList children;
        for (int i = 0; i < f.server->ChildCount(); ++i)
            children << f.server->Child(i)->Name;
        QCOMPARE(children, (QStringList{"alt.kept", "alt.new", "comp.x"}));
        const QString comp = f.tree.FindGroup("comp.x")->FileBase;
        const QString altNew = f.tree.FindGroup("alt.new")->FileBase;
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{12}1M$")).match(comp).hasMatch());
        QCOMPARE(altNew, comp.left(12) + QStringLiteral("2M"));
        QVERIFY(!QFileInfo::exists(droppedFile));
        const QByteArray config = ReadFile(TNewsStore::ConfigPath());
        QVERIFY(config.contains("NewsGroup|comp.x|"));
        QVERIFY(!config.contains("alt.dropped"));

        // Cancel changes nothing.
        d.DialogHandlers.push_back([](QDialog* dialog) {
            auto* ng = qobject_cast<TNGDialog*>(dialog);
            QSignalSpy loaded(ng, &TNGDialog::listLoaded);
            ng->show();
            TestSupport::WaitFor([&] { return loaded.count() > 0; });
            ng->Tree()->setCurrentItem(FindNode(ng->Tree(), "alt.kept"));
            ng->UnsubscribeButton()->click();
            ng->CancelButton()->click();
            return ng->result();
        });
        f.tree.NewsgroupList();
        QVERIFY(f.tree.FindGroup(QStringLiteral("alt.kept")));
    }

    void damagedListFileLoads()
    {
        Fixture f(QStringLiteral("news.example"), {});
        QByteArray bytes = ListBytes({"alt.good"});
        bytes += QByteArray("\x00\xFF\xFE binary junk\r\n", 17);
        bytes += "comp.cut.of";  // the last line cut off
        WriteFile(f.ListFile(), bytes);
        Window w(f);
        QVERIFY(w.ShowAndLoad());
        QVERIFY(FindNode(w.dlg.Tree(), "alt.good"));
        QVERIFY(FindNode(w.dlg.Tree(), "comp.cut.of"));
        QCOMPARE(w.dlg.RefreshButton()->text(), QStringLiteral("Refresh List"));
    }

    void downloadFromInn()
    {
        VORLIX_REQUIRE_INN();
        const QString server = qEnvironmentVariable("VORLIX_INN_HOST") + QLatin1Char(':') + qEnvironmentVariable("VORLIX_INN_PORT");
        const QString group = qEnvironmentVariable("VORLIX_INN_GROUP", QStringLiteral("vorlix.test.talk"));
        Fixture f(server, {});
        QFile::remove(f.ListFile());
        Window w(f);
        QSignalSpy done(&w.dlg, &TNGDialog::downloadFinished);
        QVERIFY(w.ShowAndLoad());
        QCOMPARE(done.count(), 1);
        QCOMPARE(done.at(0).at(0).toInt(), 0);
        const QByteArray list = ReadFile(f.ListFile());
        QVERIFY2(list.contains("\r\n" + group.toUtf8() + ' ') || list.startsWith(group.toUtf8() + ' '), list.constData());
        QVERIFY(list.endsWith("\r\n"));
        QVERIFY(FindNode(w.dlg.Tree(), group));
        QVERIFY(TNGDialog::IsFolder(FindNode(w.dlg.Tree(), group.section(QLatin1Char('.'), 0, 0))));

        TScopedScriptedWindows d;
        w.dlg.Pages()->setCurrentIndex(1);
        w.dlg.SearchEdit()->setText(group.section(QLatin1Char('.'), -1));
        w.dlg.SearchButton()->click();
        QVERIFY(ResultNames(w.dlg.Results()).contains(group));
    }
};

VORLIX_TEST_MAIN(TestNewsgroupList)
#include "test_newsgroup_list.moc"
