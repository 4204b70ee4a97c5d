// The main window's news commands against the sample news server running in this process (and
// the scripted server where an exact GROUP answer is needed): the first download of a group,
// expiry, bodies with the read timer, cancel, catch-up, login data and the selection guard.
#include "news_window_rig.h"

#include "ScriptedNntpServer.h"
#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "ScriptedWindows.h"
#include "core/RegistryEnhanced.h"
#include "gui/dialogs/NewsGroupTreeView.h"
#include "gui/dialogs/ServerDialog.h"
#include "gui/nntp/LoginDialogUnit.h"
#include "gui/nntp/PostReplyUnit.h"
#include "SampleNewsServer.h"

#include <QAction>
#include <QProgressBar>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QToolBar>

using namespace NewsRig;

namespace {
const QString kHiking = QStringLiteral("rec.outdoors.hiking");
const QString kLinux = QStringLiteral("comp.os.linux.misc");

QString SampleDir()
{
    return TestSupport::SourceDataDir() + QStringLiteral("/sample-news");
}

QByteArray Article(const QByteArray& group, const QByteArray& subject, const QByteArray& from,
                   const QByteArray& id, const QByteArray& body, const QByteArray& refs = QByteArray())
{
    QByteArray a = "From: " + from + "\nNewsgroups: " + group + "\nSubject: " + subject + "\nDate: -1d 10:00\n"
        + "Message-ID: " + id + "\n";
    if (!refs.isEmpty())
        a += "References: " + refs + "\n";
    return a + "\n" + body + "\n";
}

QString ServerName(const TSampleNewsServer& s)
{
    return QStringLiteral("127.0.0.1:%1").arg(s.Port());
}
} // namespace

class TestNewsCommands : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    void firstDownloadFillsTheViewAndSavesTheGroup()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        QVERIFY(server.Listen());
        const int count = server.Groups()[kHiking].Articles.size();
        WriteConfig(ServerName(server), {kHiking, kLinux});
        Window w;
        QVERIFY(w.Open());
        QVERIFY(w.Processor()->Idle());
        QVERIFY(TestSupport::Part<QTextEdit>(w.Form.get(), "memoMessage")->toPlainText().isEmpty());

        // The first selection of a group downloads its headers by itself.
        w.Select(kHiking);
        QVERIFY(w.News()->ProgressWindow());
        QCOMPARE(w.News()->ProgressWindow()->windowTitle(), QString("Downloading Headers for ") + kHiking);
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), count);
        TConfigClass* group = w.Entry(kHiking);
        QCOMPARE(group->LastArticle, server.Groups()[kHiking].High());
        QVERIFY(!group->Dirty);
        QCOMPARE(FileLines(group->FilePath()).size(), count);
        // The status bar says what the download brought.
        QCOMPARE(w.Status(), QString("%1 new headers in %2").arg(count).arg(kHiking));
        QVERIFY(FileLines(TNewsStore::ConfigPath())
                    .contains(QString("NewsGroup|%1|0|%2|0|260101000001M").arg(kHiking).arg(group->LastArticle)));
        // Everything new is bold; a reply sits below its thread top.
        for (const TArticleRow& i : w.Items())
            QCOMPARE(TThreadView::RecordOf(i)->ReadState, 1);
        TArticleRow top = w.ItemBySubject("Trip report: three days on the Ridge Trail");
        QVERIFY(top);
        QVERIFY(top->childCount() > 0);
        QCOMPARE(w.Node(kHiking)->text(0), QString("%1 (%2/%2)").arg(kHiking).arg(count));

        // Selecting the group again later in the run does not download again.
        w.Select(ServerName(server));
        QVERIFY(w.Items().empty());
        w.Form->SetStatusText("untouched");
        w.Select(kHiking);
        QVERIFY(w.Processor()->Idle());
        QCOMPARE(w.Status(), QString("untouched"));
        QCOMPARE(int(w.Items().size()), count);

        // New articles (with encoded words in Subject and From) arrive on the next download and
        // join the shown view decoded.
        QVERIFY(server.AddArticle(Article("rec.outdoors.hiking", "=?UTF-8?Q?Gr=C3=BC=C3=9Fe_vom_Gipfel?=",
                                          "=?ISO-8859-1?Q?J=F6rg_M=FCller?= <jm@example.org>",
                                          "<gipfel@example.org>", "Schön war's.")));
        QVERIFY(server.AddArticle(Article("rec.outdoors.hiking", "Re: Trip report: three days on the Ridge Trail",
                                          "Pat <pat@example.org>", "<late-reply@example.org>", "Late reply.",
                                          "<hike1@sample.vorlix.invalid>")));
        QAction* download = w.Form->FindCommand("Download Messages from Server");
        QVERIFY(download && download->isEnabled());
        download->trigger();
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), count + 2);
        QCOMPARE(w.Status(), QString("2 new headers in ") + kHiking);
        TArticleRow decoded = w.ItemBySubject(QString::fromUtf8("Grüße vom Gipfel"));
        QVERIFY(decoded);
        QCOMPARE(decoded->text(TThreadView::ColFrom), QString::fromUtf8("Jörg Müller <jm@example.org>"));
        QVERIFY(decoded->font(TThreadView::ColSubject).bold());
        TArticleRow late = w.ItemByNumber(count + 2);
        QVERIFY(late);
        top = w.ItemBySubject("Trip report: three days on the Ridge Trail"); // the view was built anew
        QCOMPARE(late->parent(), top);
        QCOMPARE(FileLines(group->FilePath()).size(), count + 2);
        QVERIFY(FileLines(group->FilePath()).join('\n').contains(QString::fromUtf8("Grüße vom Gipfel")));

        // Nothing new: the status bar says so and nothing changes.
        download->trigger();
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("No more Articles"));
        QCOMPARE(int(w.Items().size()), count + 2);
        QVERIFY(dialogs.Texts().isEmpty());

        // The group that was never selected has fetched nothing.
        QVERIFY(!QFile::exists(w.Entry(kLinux)->FilePath()));
    }

    void wrongSelectionsShowTheirMessages()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {});
        Window w;
        QVERIFY(w.Open());
        TestSupport::Part<QTreeWidget>(w.Form.get(), "tvServers")->setCurrentItem(nullptr);
        w.News()->CatchUp();
        QCOMPARE(dialogs.LastText(), QString("Select a Newsgroup first"));
        w.News()->DownloadSelected();
        QCOMPARE(dialogs.LastText(), QString("Select a Newsgroup first"));
        w.News()->CatchUpServer();
        QCOMPARE(dialogs.LastText(), QString("Select a News Server first"));
        w.Select(ServerName(server));
        w.News()->CatchUp();
        QCOMPARE(dialogs.LastText(), QString("Select a Newsgroup first"));
        w.News()->CatchUpServer();
        QCOMPARE(dialogs.LastText(), QString("You must subscribe to one or more newsgroups on this server first"));
        QCOMPARE(dialogs.Texts().size(), 5);
        QVERIFY(w.Processor()->Idle());
        QVERIFY(!w.News()->ProgressWindow());
    }

    void bodiesAndTheReadTimer()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        // A body with a very long line, binary bytes and thousands of lines.
        QByteArray big = "start \x01\x02 binary\n" + QByteArray(300000, 'x') + "\n";
        for (int i = 0; i < 5000; ++i)
            big += "line " + QByteArray::number(i) + "\n";
        QVERIFY(server.AddArticle(Article("rec.outdoors.hiking", "Big one", "big@example.org", "<big@example.org>",
                                          big)));
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking});
        Window w;
        QVERIFY(w.Open());
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        TConfigClass* group = w.Entry(kHiking);
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->setInterval(400);

        // Focusing an article shows its body; the toolbar is off while it is fetched.
        // Articles without replies, so only their own state decides how they look.
        std::vector<TArticleRow> leaves;
        for (const TArticleRow& i : w.Items()) {
            if (i->childCount() == 0)
                leaves.push_back(i);
        }
        QVERIFY(leaves.size() >= 3);
        TArticleRow first = leaves[0];
        TArticleRow second = leaves[1];
        TArticleRow third = leaves[2];
        QVERIFY(first->font(TThreadView::ColSubject).bold());
        QSignalSpy fired(TestSupport::Part<QTimer>(w.Form.get(), "Timer1"), &QTimer::timeout);
        w.SetCurrent(first);
        QVERIFY(w.Form->ToolbarDisabled());
        QVERIFY(!TestSupport::Part<QToolBar>(w.Form.get(), "ToolBar1")->isEnabled());
        QVERIFY(w.WaitIdle());
        QVERIFY(!w.Form->ToolbarDisabled());
        QVERIFY(TestSupport::Part<QToolBar>(w.Form.get(), "ToolBar1")->isEnabled());
        const int firstIndex = TThreadView::RecordOf(first)->Number - 1;
        const QStringList expected = QString::fromUtf8(server.Groups()[kHiking].Articles[firstIndex].Body)
                                         .trimmed()
                                         .split("\r\n");
        QVERIFY(expected.size() > 3);
        QCOMPARE(w.Memo().trimmed().split('\n'), expected);
        QVERIFY(TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->isActive());
        QCOMPARE(TThreadView::RecordOf(first)->ReadState, 1);
        // It becomes read when the timer fires with the article still focused, and is saved.
        QVERIFY(fired.wait(3000));
        QCOMPARE(TThreadView::RecordOf(first)->ReadState, 0);
        QVERIFY(!first->font(TThreadView::ColSubject).bold());
        QVERIFY(FileLines(group->FilePath()).join('\n').contains(
            TThreadView::RecordOf(first)->FormatRecord()));

        // Moving on before the timer fires leaves the first article new.
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->setInterval(60000);
        w.SetCurrent(second);
        QVERIFY(w.WaitIdle());
        QVERIFY(TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->isActive());
        w.SetCurrent(third);
        QVERIFY(w.WaitIdle());
        QCOMPARE(TThreadView::RecordOf(second)->ReadState, 1);
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->setInterval(300);
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->start();
        fired.clear();
        QVERIFY(fired.wait(3000));
        QCOMPARE(TThreadView::RecordOf(second)->ReadState, 1);
        QCOMPARE(TThreadView::RecordOf(third)->ReadState, 0);

        // A timer still running when the view shows another group marks nothing there.
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->setInterval(60000);
        w.SetCurrent(second);
        QVERIFY(w.WaitIdle());
        const QString secondId = TThreadView::RecordOf(second)->MessageID;
        w.Select(kLinux);
        QVERIFY(w.WaitIdle());
        QVERIFY(!w.Items().empty());
        w.Form->ThreadView->SetCurrentNode(w.Form->ThreadView->Nodes().front());
        QString before;
        for (const TArticleRow& r : w.Items())
            before += QString::number(TThreadView::RecordOf(r)->ReadState);
        w.Form->Timer1Timer();
        QString after;
        for (const TArticleRow& r : w.Items())
            after += QString::number(TThreadView::RecordOf(r)->ReadState);
        QCOMPARE(after, before);
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Entry(kHiking)->Articles->FindByMessageID(secondId)->ReadState, 1);

        // The long binary body shows, control bytes made visible, every line there
        // (bench_show_article measures how fast).
        TArticleRow bigItem = w.ItemBySubject("Big one");
        QVERIFY(bigItem);
        w.SetCurrent(bigItem);
        QVERIFY(w.WaitIdle());
        const QString memo = w.Memo();
        QVERIFY(memo.startsWith(QString::fromUtf8("start \uFFFD\uFFFD binary\n")));
        QVERIFY(memo.trimmed().endsWith("line 4999"));
        QVERIFY(QString(memo).remove('\n').contains(QString(300000, 'x')));
        QVERIFY(memo.contains("\nline 2500\n"));

        // A placeholder is never fetched: it turns italic and the pane empties.
        TArticleList* list = group->Articles.get();
        auto orphan = std::make_unique<TArticleClass>();
        orphan->Number = 77;
        orphan->MessageID = "<orphan@example.org>";
        orphan->Subject = "Re: Lost thread";
        orphan->From = "x@example.org";
        orphan->Date = TDateTime::Now();
        orphan->References = "<never-seen@example.org>";
        orphan->ReadState = 1;
        TArticleClass* orphanRec = list->Add(std::move(orphan));
        QVERIFY(orphanRec);
        QVERIFY(w.Form->ThreadView->AddArticleToTree(orphanRec));
        TArticleRow holder = w.ItemBySubject("Lost thread");
        QVERIFY(holder);
        QVERIFY(TThreadView::RecordOf(holder)->IsPlaceholder());
        holder->setExpanded(true); // collapsed with a new reply it would stay bold
        w.SetCurrent(holder);
        QVERIFY(w.Processor()->Idle());
        QCOMPARE(TThreadView::RecordOf(holder)->ReadState, 2);
        QVERIFY(holder->font(TThreadView::ColSubject).italic());
        QVERIFY(w.Memo().isEmpty());

        // An article the server no longer has: the server's answer in the status bar, unchanged.
        TArticleRow orphanItem = w.ItemBySubject("Re: Lost thread");
        QVERIFY(orphanItem);
        w.SetCurrent(orphanItem);
        QVERIFY(w.WaitIdle());
        QVERIFY2(w.Status().startsWith("423"), qPrintable(w.Status()));
        QCOMPARE(orphanRec->ReadState, 1);
        QVERIFY(!TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->isActive());
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void catchUpGroupAndServer()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking, kLinux});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgsToRetrieve", 3);
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), 3);

        // Catching up the group fetches its newest headers and leaves every article read.
        w.Form->UpdateCommands();
        QVERIFY(w.Form->Command("CatchUp", TCommandPlace::Menu)->isEnabled());
        w.Form->Command("CatchUp", TCommandPlace::Menu)->trigger();
        QVERIFY(w.News()->ProgressWindow());
        QCOMPARE(w.News()->ProgressWindow()->windowTitle(), QString("Catching Up Group ") + kHiking);
        QVERIFY(w.WaitIdle());
        const int hikingCount = server.Groups()[kHiking].Articles.size();
        QCOMPARE(int(w.Items().size()), std::min(hikingCount, 6));
        const int caughtUp = std::min(hikingCount, 6) - 3;
        QCOMPARE(w.Status(), caughtUp == 1 ? QString("1 new header in ") + kHiking
                                           : QString("%1 new headers in %2").arg(caughtUp).arg(kHiking));
        for (const TArticleRow& i : w.Items())
            QCOMPARE(TThreadView::RecordOf(i)->ReadState, 0);
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(kHiking)->FilePath()));
        QCOMPARE(reread.NewCount(), 0);
        QCOMPARE(reread.Count(), int(w.Items().size()));

        // Catching up the server reaches the group that is not shown as well.
        w.Select(ServerName(server));
        w.Form->UpdateCommands();
        QVERIFY(w.Form->Command("CatchUpServer", TCommandPlace::Menu)->isEnabled());
        QVERIFY(!w.Form->Command("CatchUp", TCommandPlace::Menu)->isEnabled());
        w.Form->Command("CatchUpServer", TCommandPlace::Menu)->trigger();
        QVERIFY(w.News()->ProgressWindow());
        QCOMPARE(w.News()->ProgressWindow()->windowTitle(), QString("Catching Up Group ") + kHiking);
        QVERIFY(w.WaitIdle());
        TArticleList other;
        QVERIFY(other.LoadFromFile(w.Entry(kLinux)->FilePath()));
        QCOMPARE(other.Count(), std::min(3, int(server.Groups()[kLinux].Articles.size())));
        QCOMPARE(other.NewCount(), 0);
        QCOMPARE(w.Entry(kLinux)->LastArticle, server.Groups()[kLinux].High());
        // Only the group that brought something is named.
        QCOMPARE(w.Status(), QString("%1 new headers in %2").arg(other.Count()).arg(kLinux));
        QVERIFY(dialogs.Texts().isEmpty());
    }

    // The same newsgroup on two servers is two groups: catching up one server fills its own
    // group, never the other server's group of that name.
    void sameGroupOnTwoServers()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer a, b;
        QVERIFY(a.LoadDirectory(SampleDir()) > 0 && b.LoadDirectory(SampleDir()) > 0);
        QVERIFY(a.Listen() && b.Listen());
        WriteLinesAtomically(GetDataFolder() + QStringLiteral("Config.chl"),
                             {QStringLiteral("NewsServer|%1|1|-1|0|260101000000|0|||").arg(ServerName(a)),
                              QStringLiteral("NewsGroup|%1|0|-1|0|260101000001M").arg(kLinux),
                              QStringLiteral("NewsServer|%1|1|-1|0|260101000002|0|||").arg(ServerName(b)),
                              QStringLiteral("NewsGroup|%1|0|-1|0|260101000003M").arg(kLinux)});
        Window w;
        QVERIFY(w.Open());
        TConfigClass* groupA = w.Form->NewsStore->Server(0)->Child(0);
        TConfigClass* groupB = w.Form->NewsStore->Server(1)->Child(0);
        QCOMPARE(w.Form->NewsStore->FindGroup(ServerName(b), kLinux), groupB);
        // The first server: a search by name alone finds the last group of that name.
        w.Form->NewsStore->Select(w.Form->NewsStore->Server(0));
        w.Form->UpdateCommands();
        w.Form->Command("CatchUpServer", TCommandPlace::Menu)->trigger();
        QVERIFY(w.WaitIdle());
        QCOMPARE(groupA->LastArticle, a.Groups()[kLinux].High());
        QCOMPARE(groupB->LastArticle, -1);
        QVERIFY(QFile::exists(groupA->FilePath()));
        QVERIFY(!QFile::exists(groupB->FilePath()));
        QVERIFY(dialogs.Texts().isEmpty());
    }

    // Catching up a server reaches groups that were never shown in this session: their stored
    // records (marks, watch flags) are read first and kept, not replaced by the new headers.
    void catchUpKeepsStoredRecords()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking, kLinux});
        const TSampleArticle& first = server.Groups()[kLinux].Articles.first();
        TArticleClass stored;
        stored.Number = first.Number;
        stored.MessageID = QString::fromUtf8(first.MessageId);
        stored.Subject = QStringLiteral("Kept");
        stored.SpeakMark = 1;
        stored.Watch = 1;
        WriteLinesAtomically(GetDataFolder() + QStringLiteral("2601010000") + QStringLiteral("02M.chl"), {stored.FormatRecord()});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgsToRetrieve", 2);
        w.Select(ServerName(server));
        w.Form->UpdateCommands();
        w.Form->Command("CatchUpServer", TCommandPlace::Menu)->trigger();
        QVERIFY(w.WaitIdle());
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(kLinux)->FilePath()));
        const TArticleClass* kept = reread.FindByMessageID(stored.MessageID);
        QVERIFY(kept);
        QCOMPARE(kept->SpeakMark, 1);
        QCOMPARE(kept->Watch, 1);
        QVERIFY(reread.Count() > 1);
    }

    void loginDataAreKeptWhenSaved()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        server.RequireLogin("ann", "secret");
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking, kLinux});
        // The server offers no encryption: the password may go in clear text, asked once.
        dialogs.PlainPasswordAnswers.push_back(TDialogAnswer::Yes);
        QStringList shownFor;
        auto answer = [&shownFor](const QString& user, const QString& pass, bool save) {
            return [&shownFor, user, pass, save](QDialog* d) {
                auto* login = qobject_cast<TLoginDialog*>(d);
                if (!login)
                    return int(QDialog::Rejected);
                shownFor << login->ServerName();
                login->Confirm(user, pass, save);
                return login->result();
            };
        };
        {
            Window w;
            QVERIFY(w.Open());
            // Typed without "Save Password": kept in memory for this run, not in the file.
            dialogs.DialogHandlers.push_back(answer("ann", "secret", false));
            w.Select(kHiking);
            QVERIFY(w.WaitIdle());
            QCOMPARE(shownFor, QStringList{ServerName(server)});
            QVERIFY(!w.Items().empty());
            TConfigClass* srv = w.Entry(ServerName(server));
            QCOMPARE(srv->UserName, QString("ann"));
            QCOMPARE(srv->Password, QString("secret"));
            QVERIFY(!srv->SavePassword);
            QVERIFY(FileLines(TNewsStore::ConfigPath()).first().endsWith("|0|ann||1|"));
            // The stored login is used without asking.
            w.Select(kLinux);
            QVERIFY(w.WaitIdle());
            QCOMPARE(shownFor.size(), 1);
            QVERIFY(w.Entry(kLinux)->LastArticle > 0);
        }
        {
            // Next run: no password stored, the window asks again; this time it is saved.
            Window w;
            QVERIFY(w.Open());
            dialogs.DialogHandlers.push_back(answer("ann", "secret", true));
            w.Select(kHiking);
            QVERIFY(w.WaitIdle());
            QCOMPARE(shownFor.size(), 2);
            QVERIFY(FileLines(TNewsStore::ConfigPath()).first().endsWith("|1|ann|secret|1|"));
        }
        {
            // The saved password logs in by itself; a cancelled window ends the job quietly.
            Window w;
            QVERIFY(w.Open());
            QCOMPARE(w.Entry(ServerName(server))->Password, QString("secret"));
            w.Select(kLinux);
            QVERIFY(w.WaitIdle());
            QCOMPARE(shownFor.size(), 2);
            QCOMPARE(w.Status(), QString("No more Articles"));
        }
        // Asked in the first run only: the answer was kept in Config.chl.
        QCOMPARE(dialogs.Texts(), QStringList{"Send the password unencrypted to " + ServerName(server) + "?"});
    }

    void selectionGuardAndCancel()
    {
        TScopedScriptedWindows dialogs;
        // A server that accepts the connection and never answers keeps the job running.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = silent.nextPendingConnection())
                held << s;
        });
        const QString host = QStringLiteral("127.0.0.1:%1").arg(silent.serverPort());
        WriteConfig(host, {kHiking, kLinux});
        const QString path = GetDataFolder() + "2601010000" + "01M.chl";
        Window w;
        QVERIFY(w.Open());
        w.Select(kHiking);
        QVERIFY(TestSupport::WaitFor([&] { return !held.isEmpty(); }));
        QVERIFY(!w.Processor()->Idle());
        QVERIFY(!w.News()->SelectionChangeAllowed());

        // Neither a click nor a key moves the selection of either tree.
        QTreeWidget* tree = TestSupport::Part<QTreeWidget>(w.Form.get(), "tvServers");
        QTreeWidgetItem* other = w.Node(kLinux);
        const QRect r = tree->visualItemRect(other);
        QVERIFY(r.isValid());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, r.center());
        QCOMPARE(tree->currentItem(), w.Node(kHiking));
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_Up);
        QCOMPARE(tree->currentItem(), w.Node(kHiking));

        // The progress window's Cancel ends the job; the window closes and the trees work again.
        QPushButton* cancel = w.News()->ProgressWindow()->CancelButton();
        QTest::mouseClick(cancel, Qt::LeftButton);
        QVERIFY(w.WaitIdle(10000));
        QVERIFY(w.News()->SelectionChangeAllowed());
        QVERIFY(!QFile::exists(path)); // nothing arrived, nothing written
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(other).center());
        QCOMPARE(tree->currentItem(), other);
        // That was kLinux's first selection: it tries to download as well; cancel that too.
        if (!w.Processor()->Idle())
            QTest::mouseClick(w.News()->ProgressWindow()->CancelButton(), Qt::LeftButton);
        QVERIFY(w.WaitIdle(10000));
        QVERIFY(dialogs.Texts().isEmpty());
        qDeleteAll(held);
    }

    void cancelWhileTheDownloadIsBeingSetUp()
    {
        TScopedScriptedDialogs dialogs;
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = silent.nextPendingConnection())
                held << s;
        });
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), {kHiking, kLinux});
        Window w;
        QVERIFY(w.Open());
        QTreeWidget* tree = TestSupport::Part<QTreeWidget>(w.Form.get(), "tvServers");

        // The moment the progress window is up and events run before the job starts: a click on
        // the other group and a click on Cancel.
        bool clicked = false;
        bool busyThen = false;
        QTimer clicker;
        clicker.setInterval(0);
        connect(&clicker, &QTimer::timeout, this, [&] {
            TProgressWindow* p = w.News()->ProgressWindow();
            if (!p || clicked)
                return;
            clicked = true;
            clicker.stop();
            busyThen = TBusyGuard::Busy();
            QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(w.Node(kLinux)).center());
            QTest::mouseClick(p->CancelButton(), Qt::LeftButton);
        });
        clicker.start();
        w.Select(kHiking); // the first selection starts the download
        QVERIFY(clicked);
        QVERIFY(busyThen);
        // The download never started, the window is gone and the selection stayed.
        QVERIFY(w.Processor()->Idle());
        QVERIFY(!w.News()->ProgressWindow());
        QCOMPARE(tree->currentItem(), w.Node(kHiking));
        QVERIFY(w.News()->SelectionChangeAllowed());

        // The command works again afterwards: this download reaches the server.
        QAction* download = w.Form->Command("Download", TCommandPlace::Toolbar);
        QVERIFY(download->isEnabled());
        download->trigger();
        QVERIFY(!w.Processor()->Idle());
        QVERIFY(TestSupport::WaitFor([&] { return !held.isEmpty(); }));
        QCOMPARE(held.size(), 1);
        QTest::mouseClick(w.News()->ProgressWindow()->CancelButton(), Qt::LeftButton);
        QVERIFY(w.WaitIdle(10000));
        QVERIFY(dialogs.Texts().isEmpty());
        qDeleteAll(held);
    }

    void postReplyAndNewsgroupListFromTheWindow()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(SampleDir()) > 0);
        QVERIFY(server.Listen());
        const int before = server.Groups()[kHiking].Articles.size();
        WriteConfig(ServerName(server), {kHiking});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("EmailAddress", "tester@example.org");
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());

        // "Post a new message": the window posts through its own processor and closes.
        QString postedTo;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* post = qobject_cast<TPostReply*>(d);
            if (!post)
                return int(QDialog::Rejected);
            post->show();
            postedTo = post->NewsGroup;
            post->SubjectEdit()->setText("Posted from the main window");
            post->BodyEdit()->setPlainText("Hello, hikers.");
            post->btnSendClick();
            TestSupport::WaitFor([post] { return post->result() == QDialog::Accepted; });
            return post->result();
        });
        QVERIFY(w.Form->Command("Post", TCommandPlace::Toolbar)->isEnabled());
        w.Form->Command("Post", TCommandPlace::Toolbar)->trigger();
        QCOMPARE(postedTo, kHiking);
        QCOMPARE(server.Groups()[kHiking].Articles.size(), before + 1);
        QCOMPARE(server.Groups()[kHiking].Articles.last().Subject, QByteArray("Posted from the main window"));
        w.Form->Command("Download", TCommandPlace::Toolbar)->trigger();
        QVERIFY(w.WaitIdle());
        QVERIFY(w.ItemBySubject("Posted from the main window"));

        // "Reply to the current message": reply mode with the shown body quoted.
        TArticleRow item = w.ItemBySubject("Posted from the main window");
        w.SetCurrent(item);
        QVERIFY(w.WaitIdle());
        QString replySubject, replyBody;
        bool replyMode = false;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* post = qobject_cast<TPostReply*>(d);
            if (!post)
                return int(QDialog::Rejected);
            post->show(); // as the real modal run does
            replyMode = post->ReplyFlag;
            replySubject = post->SubjectEdit()->text();
            replyBody = post->BodyEdit()->toPlainText();
            return int(QDialog::Rejected);
        });
        w.Form->Command("Reply", TCommandPlace::Toolbar)->trigger();
        QVERIFY(replyMode);
        QCOMPARE(replySubject, QString("Re: Posted from the main window"));
        QVERIFY2(replyBody.contains("> Hello, hikers."), qPrintable(replyBody));

        // "Display all newsgroups for current server" opens the list of the selected server.
        QString listFor;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            if (auto* list = qobject_cast<TNGDialog*>(d))
                listFor = list->ServerName;
            return int(QDialog::Rejected);
        });
        w.Form->Command("NewsgroupList", TCommandPlace::Toolbar)->trigger();
        QCOMPARE(listFor, ServerName(server));

        // Adding a server opens its newsgroup list at once when "AutoLoadNewsgroups" is on.
        w.Form->Store->SetValue("AutoLoadNewsgroups", true);
        listFor.clear();
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* add = dynamic_cast<TForm2*>(d);
            if (!add)
                return int(QDialog::Rejected);
            add->edServerName->setText("news.example.invalid");
            add->btnOkClick();
            return add->result();
        });
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            if (auto* list = qobject_cast<TNGDialog*>(d))
                listFor = list->ServerName;
            return int(QDialog::Rejected);
        });
        w.Form->Command("AddServer", TCommandPlace::Toolbar)->trigger();
        QVERIFY(w.Node("news.example.invalid"));
        QCOMPARE(listFor, QString("news.example.invalid"));
        QVERIFY(dialogs.DialogHandlers.empty());
    }

    void expiredArticlesLeaveTheView()
    {
        TScopedScriptedWindows dialogs;
        // The group had articles 1-4 and a reply to a lost article; the server now starts at 3.
        const QString group = QStringLiteral("alt.test");
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {group});
        auto rec = [](int n, const QString& id, const QString& refs, const QString& subject) {
            TArticleClass r;
            r.Number = n;
            r.MessageID = id;
            r.References = refs;
            r.Subject = subject;
            r.From = "a@example.org";
            r.Date = TDateTime(TDateTime::Now().Value - 1 + n / 100.0);
            r.ReadState = 0;
            return r.FormatRecord();
        };
        WriteLinesAtomically(GetDataFolder() + "260101000001M.chl",
                             {rec(1, "<m1@x>", "", "One"), rec(2, "<m2@x>", "<m1@x>", "Re: One"),
                              rec(3, "<m3@x>", "", "Three"), rec(4, "<m4@x>", "<lost@x>", "Re: Lost")});
        QStringList config = ReadLines(TNewsStore::ConfigPath());
        config[1].replace("|0|-1|0|", "|0|4|0|");
        WriteLinesAtomically(TNewsStore::ConfigPath(), config);
        s.Greet();
        s.Expect("GROUP alt.test", "211 3 3 5 alt.test\r\n");
        s.Expect("XOVER 5", ScriptedNntpServer::MultiLine(
                                 "224 Overview information follows",
                                 {"5\tRe: Three\tb@example.org\t" + QDateTime::currentDateTime().toString(
                                      "ddd, dd MMM yyyy hh:mm:ss").toLatin1()
                                  + "\t<m5@x>\t<m3@x>\t100\t3"}));
        Window w;
        QVERIFY(w.Open());
        w.Select(group);
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("1 new header in alt.test"));
        std::vector<int> numbers;
        for (const TArticleRow& i : w.Items())
            numbers.push_back(TThreadView::RecordOf(i)->Number);
        // 1 and 2 expired; the placeholder above 4 was rebuilt; 5 joined thread 3.
        std::sort(numbers.begin(), numbers.end());
        QCOMPARE(numbers, (std::vector<int>{-999, 3, 4, 5}));
        QCOMPARE(w.ItemByNumber(5)->parent(), w.ItemByNumber(3));
        QVERIFY(w.ItemByNumber(4)->parent());
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(group)->FilePath()));
        QStringList ids;
        for (int i = 0; i < reread.Count(); ++i)
            ids << reread.At(i)->MessageID;
        ids.sort();
        QCOMPARE(ids, (QStringList{"<lost@x>", "<m3@x>", "<m4@x>", "<m5@x>"}));
        QFile log(UtilsClass::GetLogBase() + ".dbg");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray logText = log.readAll();
        QVERIFY(logText.contains("Article 1 expired"));
        QVERIFY(logText.contains("Article 2 expired"));
        QVERIFY(!logText.contains("Article 3 expired"));
        QVERIFY(s.Errors().isEmpty());
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void renumberedServerIsFetchedAgain()
    {
        // The group's last article is far above what the server now has (it once claimed
        // 2147483647, or it was renumbered): the download takes the server's range again,
        // drops a line numbered outside it, and with nothing new taken the group's last article
        // comes down to the server's newest, so the next download asks for nothing.
        TScopedScriptedWindows dialogs;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {"alt.test"});
        QStringList config = ReadLines(TNewsStore::ConfigPath());
        config[1].replace("|0|-1|0|", "|0|2147483647|0|");
        WriteLinesAtomically(TNewsStore::ConfigPath(), config);
        auto ov = [](qint64 n, int daysAgo) {
            const QByteArray date = QLocale::c()
                                        .toString(QDateTime::currentDateTime().addDays(-daysAgo).addSecs(-3600),
                                                  "ddd, dd MMM yyyy hh:mm:ss")
                                        .toLatin1();
            return QByteArray::number(n) + "\tOld " + QByteArray::number(n) + "\ta@example.org\t" + date
                + " +0000\t<r" + QByteArray::number(n) + "@x>\t\t100\t3";
        };
        s.Greet();
        s.Expect("GROUP alt.test", "211 3 1 3 alt.test\r\n");
        s.Expect("XOVER 1-3", ScriptedNntpServer::MultiLine("224 Overview information follows",
                                                            {ov(1, 400), ov(2, 400), ov(2147483648, 0), ov(3, 400)}));
        s.Greet();
        s.Expect("GROUP alt.test", "211 3 1 3 alt.test\r\n");
        Window w;
        QVERIFY(w.Open());
        w.Select("alt.test");
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("No more Articles"));
        QVERIFY(w.Items().empty()); // the three are older than the age limit, the fourth is a lie
        QCOMPARE(w.Entry("alt.test")->LastArticle, qint64(3));
        QVERIFY(ReadLines(TNewsStore::ConfigPath()).contains("NewsGroup|alt.test|0|3|0|260101000001M"));

        w.Form->Command("Download", TCommandPlace::Toolbar)->trigger();
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("No more Articles"));
        QCOMPARE(s.Commands(), (QList<QByteArray>{"GROUP alt.test", "XOVER 1-3", "GROUP alt.test"}));
        QCOMPARE(s.Errors(), QStringList());
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void renumberedArticleKeepsItsRecord()
    {
        // An article stored under its old number comes again under a new one: the record keeps
        // its marks, takes the new number, and its body is asked for by it.
        TScopedScriptedWindows dialogs;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {"alt.test"});
        TArticleClass r;
        r.Number = 2147483000;
        r.MessageID = "<kept@x>";
        r.Subject = "Kept";
        r.From = "a@example.org";
        r.Date = TDateTime(TDateTime::Now().Value - 0.5);
        r.SetSpeakMark(1);
        WriteLinesAtomically(GetDataFolder() + "260101000001M.chl", {r.FormatRecord()});
        QStringList config = ReadLines(TNewsStore::ConfigPath());
        config[1].replace("|0|-1|0|", "|0|2147483000|0|");
        WriteLinesAtomically(TNewsStore::ConfigPath(), config);
        const QByteArray date = QLocale::c()
                                    .toString(QDateTime::currentDateTime().addSecs(-3600), "ddd, dd MMM yyyy hh:mm:ss")
                                    .toLatin1()
            + " +0000";
        s.Greet();
        s.Expect("GROUP alt.test", "211 2 1 3 alt.test\r\n");
        s.Expect("XOVER 1-3", ScriptedNntpServer::MultiLine(
                                  "224 Overview information follows",
                                  {"1\tNew\tb@example.org\t" + date + "\t<new@x>\t\t100\t3",
                                   "3\tKept\ta@example.org\t" + date + "\t<kept@x>\t\t100\t3"}));
        s.Greet();
        s.Expect("GROUP alt.test", "211 2 1 3 alt.test\r\n");
        s.Expect("BODY 3", "222 3 <kept@x>\r\nStill here.\r\n.\r\n");
        Window w;
        QVERIFY(w.Open());
        w.Select("alt.test");
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), 2);
        TArticleRow kept = w.ItemBySubject("Kept");
        QVERIFY(kept);
        QCOMPARE(TThreadView::RecordOf(kept)->Number, qint64(3));
        QCOMPARE(TThreadView::RecordOf(kept)->SpeakMark, 1);
        QCOMPARE(w.Entry("alt.test")->LastArticle, qint64(3));
        const QStringList lines = FileLines(w.Entry("alt.test")->FilePath());
        QCOMPARE(lines.filter("<kept@x>").size(), 1);
        QVERIFY(lines.filter("<kept@x>").first().startsWith("3|1|"));
        w.SetCurrent(kept);
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Memo(), QString("Still here."));
        QCOMPARE(s.Errors(), QStringList());
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void bodyWithoutIdAndLostConnection()
    {
        // A body answer naming no message ID marks the focused article italic and saves that;
        // a connection lost during a body fetch leaves the article as it was.
        TScopedScriptedWindows dialogs;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {"alt.test"});
        QStringList lines;
        for (int n = 1; n <= 2; ++n) {
            TArticleClass r;
            r.Number = n;
            r.MessageID = QString("<m%1@x>").arg(n);
            r.Subject = QString("Article %1").arg(n);
            r.From = "a@example.org";
            r.Date = TDateTime(TDateTime::Now().Value - 1 + n / 100.0);
            r.SetReadState(1);
            lines << r.FormatRecord();
        }
        WriteLinesAtomically(GetDataFolder() + "260101000001M.chl", lines);
        QStringList config = ReadLines(TNewsStore::ConfigPath());
        config[1].replace("|0|-1|0|", "|0|2|0|");
        WriteLinesAtomically(TNewsStore::ConfigPath(), config);
        // The automatic download finds nothing new.
        s.Greet();
        s.Expect("GROUP alt.test", "211 2 1 2 alt.test\r\n");
        // The body of article 1 comes without a message ID.
        s.Greet();
        s.Expect("GROUP alt.test", "211 2 1 2 alt.test\r\n");
        s.Expect("BODY 1", "222 1\r\nNo ID here.\r\n.\r\n");
        // The connection drops while article 2 is asked for.
        s.Greet();
        s.Expect("GROUP alt.test", ScriptedReply("211 2 1 2 alt.test\r\n").Reset());
        Window w;
        QVERIFY(w.Open());
        w.Select("alt.test");
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("No more Articles"));
        TArticleRow first = w.ItemByNumber(1);
        w.SetCurrent(first);
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Memo(), QString("No ID here."));
        QCOMPARE(TThreadView::RecordOf(first)->ReadState, 2);
        QVERIFY(first->font(TThreadView::ColSubject).italic());
        QVERIFY(!TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->isActive());
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry("alt.test")->FilePath()));
        QCOMPARE(reread.FindByMessageID("<m1@x>")->ReadState, 2);

        w.Form->SetStatusText("before");
        w.SetCurrent(w.ItemByNumber(2));
        QVERIFY(w.WaitIdle());
        // A network failure with a code of its own is reported in the status bar only.
        QVERIFY(dialogs.Texts().isEmpty());
        QVERIFY2(w.Status().contains("closed the connection"), qPrintable(w.Status()));
        QCOMPARE(TThreadView::RecordOf(w.ItemByNumber(2))->ReadState, 1);
        QVERIFY(TestSupport::Part<QToolBar>(w.Form.get(), "ToolBar1")->isEnabled());
    }

    void jobEndingEarlyExpiresNothing()
    {
        // A download whose GROUP was refused must not treat the old GROUP numbers as this
        // group's: the stored articles stay.
        TScopedScriptedWindows dialogs;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {"alt.gone"});
        TArticleClass r;
        r.Number = 1;
        r.MessageID = "<keep@x>";
        r.Subject = "Keep me";
        r.From = "a@example.org";
        r.Date = TDateTime::Now();
        WriteLinesAtomically(GetDataFolder() + "260101000001M.chl", {r.FormatRecord()});
        s.Greet();
        s.Expect("GROUP alt.gone", "411 No such group alt.gone\r\n");
        Window w;
        QVERIFY(w.Open());
        w.Select("alt.gone");
        QVERIFY(w.WaitIdle());
        QVERIFY2(w.Status().startsWith("411"), qPrintable(w.Status()));
        QCOMPARE(int(w.Items().size()), 1);
        QCOMPARE(FileLines(w.Entry("alt.gone")->FilePath()).size(), 1);
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void downloadedAuthorsAreStoredAsTheyRead()
    {
        // From fields of every common shape, downloaded from the server into the view and the
        // group's article file: quoted names lose their quotes and escapes, encoded words are
        // decoded exactly once, raw Latin-1 reads as Latin-1, other fields stay whole.
        TScopedScriptedWindows dialogs;
        const QString group = QStringLiteral("alt.test");
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        WriteConfig(s.ServerName(), {group});
        const QList<std::pair<QByteArray, QString>> cases{
            {"\"Eve \\\"the lurker\\\" Smith\" <eve@example.com>", "Eve \"the lurker\" Smith"},
            {"\"\" <nobody@example.org>", ""},
            {"Eve Smith <eve@example.com>", "Eve Smith <eve@example.com>"},
            {"eve@example.com (Eve)", "eve@example.com (Eve)"},
            {"\"Ann Example\" (at work) <ann@example.org>", "Ann Example"},
            {"\"=?UTF-8?Q?J=C3=BCrgen_M=C3=BCller?=\" <jm@example.de>", QString::fromUtf8("J\u00fcrgen M\u00fcller")},
            {"\"J\xfcrgen\" <j@example.de>", QString::fromUtf8("J\u00fcrgen")},
            // Decoded once: the text of this word looks like an encoded word itself.
            {"=?UTF-8?Q?=3D=3FUTF-8=3FQ=3Fx=3F=3D?= <odd@example.org>", "=?UTF-8?Q?x?= <odd@example.org>"},
            {"\"Hiking Club\": ann@example.org;", "Hiking Club"},
            {"\"unterminated <x@example.com>", "unterminated <x@example.com>"},
            {"", ""},
        };
        const QByteArray date
            = QDateTime::currentDateTime().addSecs(-3600).toString("ddd, dd MMM yyyy hh:mm:ss").toLatin1();
        QList<QByteArray> lines;
        for (int i = 0; i < cases.size(); ++i)
            lines << QByteArray::number(i + 1) + "\tAuthor " + QByteArray::number(i + 1) + "\t" + cases[i].first + "\t"
                    + date + "\t<author" + QByteArray::number(i + 1) + "@x>\t\t100\t3";
        s.Greet();
        s.Expect("GROUP alt.test", "211 " + QByteArray::number(cases.size()) + " 1 " + QByteArray::number(cases.size())
                                       + " alt.test\r\n");
        s.Expect("XOVER 1-" + QByteArray::number(cases.size()) + "*",
                 ScriptedNntpServer::MultiLine("224 Overview information follows", lines));
        Window w;
        QVERIFY(w.Open());
        w.Select(group);
        QVERIFY(w.WaitIdle());
        QVERIFY(s.Errors().isEmpty());
        QCOMPARE(int(w.Items().size()), int(cases.size()));
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(group)->FilePath()));
        QCOMPARE(reread.Count(), int(cases.size()));
        for (int i = 0; i < reread.Count(); ++i) {
            const TArticleClass* r = reread.At(i);
            QVERIFY(r->Number >= 1 && r->Number <= cases.size());
            const QString& author = cases[r->Number - 1].second;
            QCOMPARE(r->From, author);
            QCOMPARE(w.ItemByNumber(r->Number)->text(TThreadView::ColFrom), author);
        }
        QVERIFY(dialogs.Texts().isEmpty());
    }
};

VORLIX_TEST_MAIN(TestNewsCommands)
#include "test_news_commands.moc"
