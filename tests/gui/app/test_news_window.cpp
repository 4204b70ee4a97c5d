#include "TestSupport.h"
#include "core/TextFiles.h"

#include "ScriptedWindows.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/UsenetUnit.h"
#include "gui/dialogs/GroupDialog.h"
#include "gui/dialogs/ServerDialog.h"
#include "news/ArticleUnit.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"
#include "gui/news/ThreadView.h"
#include "ArticleRows.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

namespace {
QStringList fileLines(const QString& path)
{
    return QFile::exists(path) ? ReadLines(path) : QStringList();
}

QTreeWidgetItem* nodeNamed(TForm1& form, const QString& name)
{
    for (QTreeWidgetItemIterator it(TestSupport::Part<QTreeWidget>(&form, "tvServers")); *it; ++it) {
        if (TConfigClass* e = TServerTree::EntryOf(*it); e && e->Name == name)
            return *it;
    }
    return nullptr;
}

TArticleRow itemBySubject(TForm1& form, const QString& subject)
{
    for (const TArticleRow& row : ArticleRows(*form.ThreadView)) {
        if (TThreadView::RecordOf(row)->Subject == subject)
            return row;
    }
    return {};
}

// Focusing an article fetches its body, and the trees take no clicks until that ends.
bool settle(TForm1& form)
{
    return TestSupport::WaitFor([&] { return !form.ToolbarDisabled(); }, 20000);
}

// A press on the cell of the given column, as the user clicks it.
void clickCell(TForm1& form, const TArticleRow& item, int column)
{
    QTreeView* v = TestSupport::Part<QTreeView>(&form, "tvArticles");
    v->scrollTo(item.Index());
    const QRect row = v->visualRect(item.Index());
    const int x = v->header()->sectionViewportPosition(column) + v->header()->sectionSize(column) / 2;
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, QPoint(x, row.center().y()));
    settle(form);
}

// The server is on loopback port 1: should a download start when the group is first
// selected, it ends at once without touching the network.
const QString host = "127.0.0.1:1";
}

class TestNewsWindow : public QObject {
    Q_OBJECT
private slots:
    // The server list cannot be written at exit: the user is told which file and why.
    void configSaveFailureAtExitIsReported()
    {
        WriteProgramValue("ShowTips", "N");
        TScopedScriptedWindows dialogs;
        const QString config = GetDataFolder() + QStringLiteral("Config.chl");
        WriteLinesAtomically(config, {QStringLiteral("NewsServer|%1|1|-1|0|260101000000|0|||").arg(host)});
        {
            TForm1::Shown = false;
            TForm1 form;
            form.show();
            QVERIFY(TestSupport::WaitFor([] { return TForm1::Shown; }));
            // Something else took the file's place: it cannot be replaced.
            QVERIFY(QFile::remove(config));
            QVERIFY(QDir().mkpath(config + QStringLiteral("/in-the-way")));
            dialogs.Clear();
            form.close();
        }
        QVERIFY2(dialogs.LastText().startsWith(QStringLiteral("The server and newsgroup list could not be saved."))
                     && dialogs.LastText().contains(config),
                 qPrintable(dialogs.LastText()));
        QDir(config).removeRecursively();
    }

    void serversGroupsAndMarksThroughTheWindow()
    {
        WriteProgramValue("ShowTips", "N");
        TScopedScriptedWindows dialogs;
        QString groupFile;
        {
            // First start with an empty data folder: the Add Server window opens by itself.
            dialogs.DialogHandlers.push_back([](QDialog* d) {
                auto* f = dynamic_cast<TForm2*>(d);
                if (!f || f->windowTitle() != "Add Server")
                    return int(QDialog::Rejected);
                f->edServerName->setText(host);
                f->cbLoadNewsgroups->setChecked(false);
                f->btnOk->click();
                return f->result();
            });
            TForm1::Shown = false;
            TForm1 form;
            form.resize(1100, 700);
            form.show();
            QVERIFY(TestSupport::WaitFor([&] { return TestSupport::Part<QTreeWidget>(&form, "tvServers")->topLevelItemCount() == 1; }));
            QCOMPARE(dialogs.DialogTitles, QStringList({"Add Server"}));
            QVERIFY(form.Command("AddGroup", TCommandPlace::Toolbar)->isEnabled());
            QTreeWidgetItem* server = nodeNamed(form, host);
            QCOMPARE(TestSupport::Part<QTreeWidget>(&form, "tvServers")->currentItem(), server);

            // Add a newsgroup by name from the toolbar.
            dialogs.DialogHandlers.push_back([](QDialog* d) {
                auto* f = dynamic_cast<TForm3*>(d);
                if (!f)
                    return int(QDialog::Rejected);
                f->edNewsgroup->setText("comp.test");
                f->btnOk->click();
                return f->result();
            });
            form.Command("AddGroup", TCommandPlace::Toolbar)->trigger();
            QTreeWidgetItem* group = nodeNamed(form, "comp.test");
            QVERIFY(group);
            const QStringList config = fileLines(GetDataFolder() + "Config.chl");
            QCOMPARE(config.size(), 2);
            QVERIFY(config.at(0).startsWith("NewsServer|" + host + "|1|-1|0|"));
            QVERIFY(config.at(1).startsWith("NewsGroup|comp.test|"));

            // Its article file, as an earlier download left it.
            groupFile = TServerTree::EntryOf(group)->FilePath();
            WriteLinesAtomically(groupFile, {"11|0|1|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                             "12|0|1|0|0|<b>|Re: Alpha|Bo|09/12/2025 10:00:00|<a>|0",
                                             "13|0|0|0|0|<c>|Beta|Cy|10/12/2025 09:00:00||0",
                                             "14|0|1|0|0|<d>|Re: Gamma|Di|11/12/2025 09:00:00|<g>|0"});
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
            TServerTree::EntryOf(group)->Downloaded = true; // no automatic download in this test
            TestSupport::Part<QTreeWidget>(&form, "tvServers")->setCurrentItem(group);
            QVERIFY(TestSupport::WaitFor([&] { return itemBySubject(form, "Beta") != nullptr; }));
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->model()->rowCount(), 3);
            QCOMPARE(group->text(0), QString("comp.test (3/5)"));
            QVERIFY(form.Command("DeleteGroup", TCommandPlace::Toolbar)->isEnabled());

            // Marks by clicks: column 0 of the collapsed thread top marks the whole thread.
            TArticleRow alpha = itemBySubject(form, "Alpha");
            clickCell(form, alpha, 0);
            QVERIFY(fileLines(groupFile).at(0).startsWith("11|1|1|"));
            QVERIFY(fileLines(groupFile).at(1).startsWith("12|1|1|"));
            clickCell(form, itemBySubject(form, "Beta"), 4);
            QVERIFY(fileLines(groupFile).at(2).endsWith("|1"));

            // Marks from the menus on the selection.
            TestSupport::Part<QTreeView>(&form, "tvArticles")->clearSelection();
            itemBySubject(form, "Beta")->setSelected(true);
            form.Command("MarkSpoken", TCommandPlace::Menu)->trigger();
            QVERIFY(fileLines(groupFile).at(2).startsWith("13|2|0|"));
            form.Command("Unwatch", TCommandPlace::ArticlePopup)->trigger();
            QVERIFY(fileLines(groupFile).at(2).endsWith("|0"));
            form.Command("SelectAll", TCommandPlace::Menu)->trigger();
            form.Command("MarkRead", TCommandPlace::Menu)->trigger();
            QCOMPARE(group->text(0), QString("comp.test (0/5)"));
            form.Command("DeselectAll", TCommandPlace::Menu)->trigger();
            form.Command("Watch", TCommandPlace::ArticlePopup)->trigger();
            QCOMPARE(dialogs.LastText(), QString("Select at least one message header at the top of a thread"));
            alpha->setExpanded(true);
            QVERIFY(fileLines(groupFile).at(0).startsWith("11|1|0|1|"));
            TestSupport::Part<QTreeView>(&form, "tvArticles")->header()->resizeSection(2, 260);

            // Header boxes.
            const int before = int(dialogs.Shown.size());
            QHeaderView* h = TestSupport::Part<QTreeView>(&form, "tvArticles")->header();
            QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                              QPoint(h->sectionViewportPosition(0) + h->sectionSize(0) / 2, h->height() / 2));
            QCOMPARE(int(dialogs.Shown.size()), before + 1);
            QCOMPARE(dialogs.LastText(), SpeakColumnInfo);
            form.close();
        }
        // Restart: the tree, the group's articles with their marks and the column width return.
        {
            TForm1::Shown = false;
            TForm1 form;
            form.resize(1100, 700);
            form.show();
            QVERIFY(TestSupport::WaitFor([] { return TForm1::Shown; }));
            QCOMPARE(dialogs.DialogTitles.count("Add Server"), 1);
            QTreeWidgetItem* server = TestSupport::Part<QTreeWidget>(&form, "tvServers")->topLevelItem(0);
            QVERIFY(server && server->isExpanded());
            QTreeWidgetItem* group = nodeNamed(form, "comp.test");
            QCOMPARE(group->text(0), QString("comp.test"));
            TServerTree::EntryOf(group)->Downloaded = true;
            TestSupport::Part<QTreeWidget>(&form, "tvServers")->setCurrentItem(group);
            QVERIFY(TestSupport::WaitFor([&] { return itemBySubject(form, "Alpha") != nullptr; }));
            TArticleRow alpha = itemBySubject(form, "Alpha");
            QVERIFY(alpha->isExpanded());
            QCOMPARE(TThreadView::RecordOf(alpha)->SpeakMark, 1);
            QCOMPARE(TThreadView::RecordOf(itemBySubject(form, "Beta"))->SpeakMark, 2);
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->columnWidth(2), 260);

            // Deleting the newsgroup removes its file; deleting the server empties the tree.
            dialogs.Answers = {TDialogAnswer::Yes, TDialogAnswer::Yes};
            TestSupport::Part<QTreeWidget>(&form, "tvServers")->setCurrentItem(group);
            form.Command("DeleteGroup", TCommandPlace::Menu)->trigger();
            QVERIFY(!QFile::exists(groupFile));
            QCOMPARE(TestSupport::Part<QTreeView>(&form, "tvArticles")->model()->rowCount(), 0);
            TestSupport::Part<QTreeWidget>(&form, "tvServers")->setCurrentItem(TestSupport::Part<QTreeWidget>(&form, "tvServers")->topLevelItem(0));
            form.Command("DeleteServer", TCommandPlace::ServerPopup)->trigger();
            QCOMPARE(TestSupport::Part<QTreeWidget>(&form, "tvServers")->topLevelItemCount(), 0);
            QCOMPARE(fileLines(GetDataFolder() + "Config.chl"), QStringList());
            form.close();
        }
        QLocale::setDefault(QLocale::c());
        TForm1::Shown = false;
    }
};

VORLIX_TEST_MAIN(TestNewsWindow)
#include "test_news_window.moc"
