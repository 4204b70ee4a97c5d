// The main window's comfort and safety: where extra room goes, what is never cut short,
// questions before deletions, sizes and placements kept between sessions, icons that stay
// sharp, and the entries a folder entry offers.
#include "TestSupport.h"
#include "ScriptedDialogs.h"
#include "news_window_rig.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/VorlixApplication.h"
#include "gui/app/WidgetDialogService.h"
#include "gui/app/WindowPlacement.h"
#include "gui/dialogs/ServerDialog.h"
#include "gui/news/NewsIcons.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QToolBar>

using namespace NewsRig;

namespace {
const QString LongGroup = QStringLiteral("comp.os.linux.networking.wireless.troubleshooting.archive");

// A server with two groups, the second with a folder entry below it.
void WriteTree()
{
    WriteConfig(QStringLiteral("news.example.invalid"), {QStringLiteral("alt.test"), LongGroup});
    QStringList lines = ReadLines(GetDataFolder() + QStringLiteral("Config.chl"));
    lines << QStringLiteral("NewsFolder|Saved|0|-1|0|260101000099F");
    WriteLinesAtomically(GetDataFolder() + QStringLiteral("Config.chl"), lines);
}
}

class TestWindowComfort : public QObject {
    Q_OBJECT
private slots:
    void init() { ResetProfile(); }

    // Delete Server, Delete Newsgroup and Delete Old Threads ask first, with No as the
    // default; No keeps everything.
    void deletionsAskWithNoAsTheDefault()
    {
        WriteTree();
        TScopedScriptedDialogs dialogs;
        Window w;
        QVERIFY(w.Open());
        w.Select(QStringLiteral("news.example.invalid"));
        w.Form->poDeleteServerClick();
        QCOMPARE(dialogs.LastText(), QString("Delete Server news.example.invalid and its associated newsgroups ? "));
        QCOMPARE(dialogs.Shown.back().Buttons, TDialogButtons::YesNoDefaultNo);
        QVERIFY(w.Node(QStringLiteral("news.example.invalid")));

        w.Select(QStringLiteral("alt.test"));
        QVERIFY(w.WaitIdle());
        dialogs.Clear();
        w.Form->poDeleteGroupClick();
        QCOMPARE(dialogs.LastText(), QString("Delete Newsgroup alt.test"));
        QCOMPARE(dialogs.Shown.back().Buttons, TDialogButtons::YesNoDefaultNo);
        QVERIFY(w.Node(QStringLiteral("alt.test")));

        dialogs.Clear();
        w.Form->DeleteOldThreads1Click();
        QCOMPARE(dialogs.Texts(), QStringList{"Delete the threads of alt.test with no article in the last 30 days?"});
        QCOMPARE(dialogs.Shown.back().Buttons, TDialogButtons::YesNoDefaultNo);

        // The wizard's way out asks the same way.
        TMyRegistryClass store;
        TNewsgroupPreferences wizard;
        wizard.SettingsStore = &store;
        wizard.WizardMode = true;
        wizard.PrepareShow();
        dialogs.Clear();
        wizard.CancelClick();
        QCOMPARE(dialogs.Texts(), QStringList{"Are you sure you want to exit?"});
        QCOMPARE(dialogs.Shown.back().Buttons, TDialogButtons::YesNoDefaultNo);
    }

    // The real message box of such a question: No is the default button, Enter answers No.
    void enterAnswersNoToADeletion()
    {
        bool defaultWasNo = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            defaultWasNo = box->defaultButton() == box->button(QMessageBox::No);
            QTest::keyClick(box, Qt::Key_Return);
        });
        const TDialogAnswer a = TWidgetDialogService::Program().Ask("Delete it?", TDialogButtons::YesNoDefaultNo,
                                                                   TMessageKind::Question);
        QVERIFY(defaultWasNo);
        QCOMPARE(a, TDialogAnswer::No);
    }

    // A folder entry is no newsgroup: the pop-up and the toolbar offer it none of the
    // newsgroup's entries; a newsgroup gets them.
    void folderEntryGetsNoNewsgroupEntries()
    {
        WriteTree();
        TScopedScriptedDialogs dialogs;
        Window w;
        QVERIFY(w.Open());
        auto enabled = [&](const char* id, TCommandPlace place) {
            w.Form->UpdateCommands();
            return w.Form->Command(id, place)->isEnabled();
        };
        w.Select(QStringLiteral("Saved"));
        QVERIFY(w.WaitIdle());
        for (const char* id : {"DeleteGroup", "Download", "CatchUp", "SpeakMarkAloud", "SpeakMarkFile"})
            QVERIFY2(!enabled(id, TCommandPlace::ServerPopup), id);
        QVERIFY(!enabled("DeleteGroup", TCommandPlace::Toolbar));
        QVERIFY(!enabled("Download", TCommandPlace::Menu));
        QVERIFY(enabled("AddGroup", TCommandPlace::ServerPopup));

        w.Select(QStringLiteral("alt.test"));
        QVERIFY(w.WaitIdle());
        for (const char* id : {"DeleteGroup", "Download", "CatchUp"})
            QVERIFY2(enabled(id, TCommandPlace::ServerPopup), id);
        QVERIFY(enabled("DeleteGroup", TCommandPlace::Toolbar));
    }

    // A wider window widens the article view, not the tree; the Subject column takes the
    // room; dates and group captions are shown whole. The panel sizes of the session are
    // kept at exit even when no splitter was dragged, and come back.
    void extraWidthGoesToTheArticleViewAndSizesAreKept()
    {
        WriteTree();
        TScopedScriptedDialogs dialogs;
        int treeWidth = 0;
        {
            Window w;
            QVERIFY(w.Open());
            w.Form->resize(1000, 700);
            auto* tree = TestSupport::Part<QTreeWidget>(w.Form.get(), "tvServers");
            auto* articles = TestSupport::Part<QTreeView>(w.Form.get(), "tvArticles");
            treeWidth = tree->width();
            const int subject = articles->columnWidth(TThreadView::ColSubject);
            const int view = articles->width();
            w.Form->resize(1600, 1000);
            QTRY_COMPARE(articles->width(), view + 600);
            QCOMPARE(tree->width(), treeWidth);
            QVERIFY(articles->columnWidth(TThreadView::ColSubject) >= subject + 550);

            QFont bold = articles->font();
            bold.setBold(true);
            const QString date = TArticleClass::DateText(TDateTime::FromQDateTime(QDateTime(QDate(2026, 12, 28), QTime(23, 58, 58))));
            QVERIFY(QFontMetrics(bold).horizontalAdvance(date) + 8 <= articles->columnWidth(TThreadView::ColDate));
            QTreeWidgetItem* longNode = w.Node(LongGroup);
            QVERIFY(longNode);
            QVERIFY(tree->header()->sectionSize(0)
                    > tree->fontMetrics().horizontalAdvance(longNode->text(0)) + 2 * tree->indentation());
            w.Form->resize(1000, 700);

            // Sizes set without a drag (as a window manager's resize does) are saved at exit.
            TestSupport::Part<QSplitter>(w.Form.get(), "Splitter1")->setSizes({260, 735});
            TestSupport::Part<QSplitter>(w.Form.get(), "Splitter2")->setSizes({200, 400});
            treeWidth = tree->width();
            QCOMPARE(treeWidth, 260);
        }
        TRegistryEnhanced::ResetStore();
        Window again;
        QVERIFY(again.Open());
        QTRY_COMPARE(TestSupport::Part<QTreeWidget>(again.Form.get(), "tvServers")->width(), treeWidth);
        QCOMPARE(TestSupport::Part<QTreeView>(again.Form.get(), "tvArticles")->height(), 200);
    }

    // A second start brings a maximised window that was minimised back maximised.
    void secondStartKeepsAMaximisedWindowMaximised()
    {
        QWidget window;
        window.showMaximized();
        window.showMinimized();
        QVERIFY(window.isMinimized());
        TSingleInstance instance;
        QVERIFY(instance.Listen(&window));
        QVERIFY(TSingleInstance::SignalRunningInstance());
        QTRY_VERIFY(!window.isMinimized());
        QVERIFY(window.isMaximized());
    }

    // "Vorlix Options" opens where it was closed.
    void optionsWindowKeepsItsPlace()
    {
        TMyRegistryClass store;
        const QRect place(40, 50, 620, 520);
        {
            TNewsgroupPreferences prefs;
            prefs.SettingsStore = &store;
            prefs.WizardMode = false;
            prefs.show();
            prefs.setGeometry(place);
            QTRY_COMPARE(prefs.geometry(), place);
            prefs.done(QDialog::Rejected);
        }
        TNewsgroupPreferences prefs;
        prefs.SettingsStore = &store;
        prefs.WizardMode = false;
        prefs.show();
        QTRY_COMPARE(prefs.geometry().size(), place.size());
        QCOMPARE(prefs.geometry().topLeft(), place.topLeft());
    }

    // Edit Server is as wide as Add Server and shows a long name whole; the password shows
    // as "*".
    void serverWindowWidthAndPassword()
    {
        TForm2 add(nullptr, {});
        add.Mode = "Add";
        add.FormShow();
        add.show();
        const int addWidth = add.width();

        const QString name = "news.a-rather-long-provider-name.example.invalid:563";
        TForm2 edit(nullptr, {});
        edit.Mode = "Edit";
        edit.ServerName = name;
        edit.Password = "secret";
        edit.FormShow();
        edit.show();
        QVERIFY(edit.width() >= addWidth);
        QVERIFY(edit.edServerName->width() > edit.edServerName->fontMetrics().horizontalAdvance(name));
        QCOMPARE(edit.edPassword->displayText(), QString("******"));
    }

    // The toolbar pictures are scalable: sharp at twice and three times their size.
    void toolbarPicturesAreScalable()
    {
        WriteTree();
        TScopedScriptedDialogs dialogs;
        Window w;
        QVERIFY(w.Open());
        QToolBar* bar = TestSupport::Part<QToolBar>(w.Form.get(), "ToolBar1");
        int checked = 0;
        for (QAction* a : bar->actions()) {
            if (a->isSeparator())
                continue;
            for (int size : {32, 48}) {
                const QPixmap pm = a->icon().pixmap(QSize(size, size));
                QVERIFY2(pm.width() == size && pm.height() == size, qPrintable(a->toolTip()));
            }
            ++checked;
        }
        QCOMPARE(checked, 14);
        // Post is drawn in full colour, not the grey of a disabled button.
        const QImage post = QIcon(CommandIconFile("Post")).pixmap(32, 32).toImage();
        int coloured = 0;
        for (int y = 0; y < post.height(); ++y)
            for (int x = 0; x < post.width(); ++x) {
                const QColor c = post.pixelColor(x, y);
                if (c.alpha() > 200 && c.hsvSaturation() > 120)
                    ++coloured;
            }
        QVERIFY(coloured > 20);
    }
};

VORLIX_TEST_MAIN_APP(TestWindowComfort, TVorlixApplication)
#include "test_window_comfort.moc"
