// The main window's news commands against the real INN server (scripts/test-services/inn.sh):
// first and next download, body with the read timer, cancel during a long download, a group
// that needs a login, and catching up the server.
#include "news_window_rig.h"

#include "ScriptedWindows.h"
#include "core/BaseUtils.h"
#include "core/RegistryEnhanced.h"
#include "gui/nntp/LoginDialogUnit.h"

#include <QPushButton>
#include <QSignalSpy>

using namespace NewsRig;

namespace {
QString Env(const char* name)
{
    return qEnvironmentVariable(name);
}
QString InnServer()
{
    return Env("VORLIX_INN_HOST") + QLatin1Char(':') + Env("VORLIX_INN_PORT");
}
} // namespace

class TestNewsCommandsInn : public QObject {
    Q_OBJECT

private slots:
    // Every test here talks to the INN test server.
    void initTestCase()
    {
        VORLIX_REQUIRE_INN();
    }

    void init() { ResetProfile(); }

    void downloadReadAndDownloadAgain()
    {
        TScopedScriptedWindows dialogs;
        const QString group = Env("VORLIX_INN_GROUP");
        const int count = Env("VORLIX_INN_GROUP_COUNT").toInt();
        WriteConfig(InnServer(), {group});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgDeleteDays", -1); // the group holds an old article too
        w.Select(group);
        QVERIFY(w.News()->ProgressWindow());
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), count);
        QCOMPARE(w.Status(), QString("%1 new headers in %2").arg(count).arg(group));
        QCOMPARE(w.Entry(group)->LastArticle, count);
        QCOMPARE(FileLines(w.Entry(group)->FilePath()).size(), count);
        TArticleRow welcome = w.ItemBySubject("Welcome to the speaking newsreader group");
        QVERIFY(welcome);
        QCOMPARE(welcome->text(2), QString("Ann Example"));

        // Its body, then read after the timer, saved.
        TestSupport::Part<QTimer>(w.Form.get(), "Timer1")->setInterval(250);
        QSignalSpy fired(TestSupport::Part<QTimer>(w.Form.get(), "Timer1"), &QTimer::timeout);
        w.SetCurrent(welcome);
        QVERIFY(w.WaitIdle());
        QVERIFY(!w.Memo().isEmpty());
        QVERIFY(fired.wait(3000));
        QCOMPARE(TThreadView::RecordOf(welcome)->ReadState, 0);
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(group)->FilePath()));
        QCOMPARE(reread.FindByMessageID("<welcome.1@vorlix.invalid>")->ReadState, 0);
        QCOMPARE(reread.NewCount(), count - 1);

        // Nothing new on the server.
        w.Form->Command("Download", TCommandPlace::Menu)->trigger();
        QVERIFY(w.WaitIdle());
        QCOMPARE(w.Status(), QString("No more Articles"));
        QCOMPARE(int(w.Items().size()), count);
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void cancelKeepsWhatArrived()
    {
        TScopedScriptedWindows dialogs;
        const QString group = Env("VORLIX_INN_BIG_GROUP");
        WriteConfig(InnServer(), {group});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgDeleteDays", -1);
        w.Form->Store->SetValue("MsgsToRetrieve", 10000);
        w.Select(group);
        QVERIFY(TestSupport::WaitFor([&] { return w.News()->HeaderCount() >= 300; }, 20000));
        QVERIFY(w.News()->ProgressWindow());
        const int percent = w.News()->ProgressWindow()->Percent();
        QVERIFY(percent >= 3);
        QTest::mouseClick(w.News()->ProgressWindow()->CancelButton(), Qt::LeftButton);
        QVERIFY(w.WaitIdle());
        const int kept = int(w.Items().size());
        QVERIFY2(kept >= 300 && kept < Env("VORLIX_INN_BIG_COUNT").toInt(), qPrintable(QString::number(kept)));
        QCOMPARE(FileLines(w.Entry(group)->FilePath()).size(), kept);
        qint64 highest = 0;
        for (const TArticleRow& i : w.Items())
            highest = std::max(highest, TThreadView::RecordOf(i)->Number);
        QCOMPARE(w.Entry(group)->LastArticle, highest);
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void loginWindowAndSavedPassword()
    {
        TScopedScriptedWindows dialogs;
        const QString group = Env("VORLIX_INN_AUTH_GROUP");
        WriteConfig(InnServer(), {group});
        int windows = 0;
        dialogs.DialogHandlers.push_back([&](QDialog* d) {
            auto* login = qobject_cast<TLoginDialog*>(d);
            if (!login)
                return int(QDialog::Rejected);
            ++windows;
            login->Confirm(Env("VORLIX_INN_USER"), Env("VORLIX_INN_PASS"), true);
            return login->result();
        });
        // The server's certificate comes from an authority of its own, named in the settings.
        {
            TMyRegistryClass settings;
            settings.LoadAll();
            settings.SetValue("NewsCAFile", Env("VORLIX_INN_CA"));
            settings.SaveAll();
        }
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgDeleteDays", -1);
        w.Select(group);
        QVERIFY(w.WaitIdle());
        QCOMPARE(windows, 1);
        QFile log(UtilsClass::GetLogBase() + ".dbg");
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().contains("TLS session with " + InnServer().toUtf8() + " established"));
        QCOMPARE(int(w.Items().size()), Env("VORLIX_INN_AUTH_COUNT").toInt());
        QVERIFY(FileLines(TNewsStore::ConfigPath())
                    .first()
                    .endsWith(QString("|1|%1|%2|").arg(Env("VORLIX_INN_USER"), Env("VORLIX_INN_PASS"))));
        // A body of the protected group logs in with the kept password, without a window.
        w.SetCurrent(w.Items().front());
        QVERIFY(w.WaitIdle());
        QVERIFY(!w.Memo().isEmpty());
        QCOMPARE(windows, 1);
        QVERIFY(dialogs.Texts().isEmpty());
    }

    void catchUpServerReadsEveryGroup()
    {
        TScopedScriptedWindows dialogs;
        const QString group = Env("VORLIX_INN_GROUP");
        const QString empty = Env("VORLIX_INN_EMPTY_GROUP");
        WriteConfig(InnServer(), {group, empty});
        Window w;
        QVERIFY(w.Open());
        w.Form->Store->SetValue("MsgDeleteDays", -1);
        w.Form->Store->SetValue("MsgsToRetrieve", 4);
        w.Select(InnServer());
        w.News()->CatchUpServer();
        QVERIFY(w.WaitIdle());
        TArticleList reread;
        QVERIFY(reread.LoadFromFile(w.Entry(group)->FilePath()));
        QCOMPARE(reread.Count(), 4);
        QCOMPARE(reread.NewCount(), 0);
        QCOMPARE(reread.At(3)->Number, Env("VORLIX_INN_GROUP_COUNT").toInt());
        QVERIFY(!QFile::exists(w.Entry(empty)->FilePath()));
        QVERIFY(dialogs.Texts().isEmpty());
    }
};

VORLIX_TEST_MAIN(TestNewsCommandsInn)
#include "test_news_commands_inn.moc"
