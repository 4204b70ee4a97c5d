// Speaking runs through the real main window against the sample news server, with the real
// engines: marked articles aloud into the null sink with a Stop, a Skip and an article added
// by a click during the run; runs into MP3 files per thread and per article (names, counters,
// tags and chapters); an article the server no longer has; a connection that goes away; and
// bodies and subjects that are not plain text.
#include "../app/news_window_rig.h"

#include "ScriptedWindows.h"
#include "core/RegistryEnhanced.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"
#include "SampleNewsServer.h"

#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QTemporaryDir>

using namespace NewsRig;

namespace {
const QString kGroup = QStringLiteral("alt.test.speaking");

QByteArray Article(const QByteArray& subject, const QByteArray& id, const QByteArray& refs = QByteArray(),
                   const QByteArray& body = "One two three.", const QByteArray& extraHeaders = QByteArray())
{
    QByteArray a = "From: Eve Smith <eve@example.org>\nNewsgroups: alt.test.speaking\nSubject: " + subject
        + "\nDate: -1d 10:00\nMessage-ID: " + id + "\n" + extraHeaders;
    if (!refs.isEmpty())
        a += "References: " + refs + "\n";
    return a + "\n" + body + "\n";
}

// A group of two threads: A (top and one reply) and B (top and two replies).
void FillGroup(TSampleNewsServer& server)
{
    server.AddGroup(kGroup);
    QVERIFY(server.AddArticle(Article("Thread A", "<a1@t>")));
    QVERIFY(server.AddArticle(Article("Re: Thread A", "<a2@t>", "<a1@t>")));
    QVERIFY(server.AddArticle(Article("Thread B", "<b1@t>")));
    QVERIFY(server.AddArticle(Article("Re: Thread B", "<b2@t>", "<b1@t>")));
    QVERIFY(server.AddArticle(Article("Re: Thread B", "<b3@t>", "<b1@t>")));
}

struct TRunRig {
    TSampleNewsServer Server;
    Window W;
    QStringList Spoken; // subjects shown in status panel 1, in order

    bool Open()
    {
        if (!Server.Listen() || !W.OpenOnGroup(Server.Port(), kGroup))
            return false;
        W.Form->Speaking->OnStatus = [this, inner = W.Form->Speaking->OnStatus](TSpeakRun* r, int panel,
                                                                             const QString& text) {
            inner(r, panel, text);
            if (panel == 1 && !text.isEmpty() && text != QLatin1String("Converting to MP3"))
                Spoken << text;
        };
        return true;
    }
    // Runs to file write into folder, in that format, one file per thread when asked.
    TBaseTTS& ToFiles(const QString& folder, const QString& format, bool perThread = false)
    {
        TBaseTTS& tts = *W.Form->Speech;
        tts.OutputDir = folder;
        tts.SetOutputFormat(format);
        W.Form->Store->SetValue("ThreadFileOption", perThread ? 1 : 0);
        return tts;
    }
    TArticleClass* Record(const QString& id) const { return W.Entry(kGroup)->Articles->FindByMessageID(id); }
    void Mark(const QStringList& ids)
    {
        for (const QString& id : ids)
            Record(id)->SetSpeakMark(1);
        W.Form->ThreadView->SaveArticles(W.Entry(kGroup));
    }
    bool WaitRunOver(int ms = 60000) const
    {
        return TestSupport::WaitFor([this] { return !W.Form->Speaking->Running() && !W.Form->Speech->IsBusy(); }, ms);
    }
    // Marks as stored in the group's file.
    QString StoredMarks(const QStringList& ids) const
    {
        TArticleList reread;
        reread.LoadFromFile(W.Entry(kGroup)->FilePath());
        QString s;
        for (const QString& id : ids)
            s += QString::number(reread.FindByMessageID(id)->SpeakMark);
        return s;
    }
};

QString Mutagen(const QString& file, const QString& code)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            {QStringLiteral("-c"), QStringLiteral("import sys, mutagen.id3\nt = mutagen.id3.ID3(sys.argv[1])\n") + code, file});
    p.waitForFinished(30000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}
} // namespace

class TestSpeakingRun : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    // Five marked articles aloud: the subjects one after another in status panel 1, the
    // group's run picture, Stop during the second article: it is marked spoken, the other
    // three keep their marks, the run ends and the picture goes back.
    void markedRunAloudWithStop()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedWindows dialogs;
        TRunRig rig;
        FillGroup(rig.Server);
        QVERIFY(rig.Open());
        const QStringList ids{"<a1@t>", "<a2@t>", "<b1@t>", "<b2@t>", "<b3@t>"};
        rig.Mark(ids);
        rig.W.Form->Command("SpeakMarkAloud", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.W.Form->Speaking->Running());
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpMarkedAloud));
        QVERIFY(TestSupport::Part<QProgressBar>(rig.W.Form.get(), "QueueProgress")->isVisible());
        QCOMPARE(TestSupport::Part<QProgressBar>(rig.W.Form.get(), "QueueProgress")->maximum(), 5);
        QVERIFY(TestSupport::WaitFor([&] { return rig.Spoken.size() == 2; }, 30000));
        QVERIFY(TestSupport::WaitFor([&] { return rig.W.Form->Speech->State == tsPlay; }, 10000));
        rig.W.Form->Command("Stop", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(rig.Spoken, (QStringList{"Thread A", "Re: Thread A"}));
        QCOMPARE(rig.StoredMarks(ids), QString("22111"));
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpGroup));
        QVERIFY(!TestSupport::Part<QProgressBar>(rig.W.Form.get(), "ArticleProgress")->isVisible());
        QVERIFY(dialogs.Shown.empty());

        // The next run continues where this one stopped.
        rig.Spoken.clear();
        rig.W.Form->Command("SpeakMarkAloud", TCommandPlace::Menu)->trigger();
        QVERIFY(TestSupport::WaitFor([&] { return rig.Spoken.size() == 1; }, 30000));
        QCOMPARE(rig.Spoken.first(), QString("Thread B"));
        rig.W.Form->Command("Stop", TCommandPlace::Menu)->trigger();
        QVERIFY(rig.WaitRunOver());
    }

    // Skip moves on and marks the skipped article spoken; a click on column 0 during the run
    // appends an article; an article the server no longer has turns italic and is passed over.
    void skipClickAndMissingArticle()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedWindows dialogs;
        TRunRig rig;
        FillGroup(rig.Server);
        QVERIFY(rig.Open());
        rig.Mark({"<a1@t>", "<a2@t>"});
        QVERIFY(rig.Server.RemoveArticle(kGroup, rig.Record("<a2@t>")->Number));
        rig.W.Form->Command("SpeakMarkAloud", TCommandPlace::ServerPopup)->trigger();
        QVERIFY(TestSupport::WaitFor([&] { return rig.W.Form->Speech->State == tsPlay; }, 30000));
        TThreadView* view = rig.W.Form->ThreadView.get();
        view->ClickItem(view->NodeOf(rig.Record("<b3@t>")), TThreadView::ColSpeak);
        QCOMPARE(rig.Record("<b3@t>")->SpeakMark, 1);
        rig.W.Form->Command("Skip", TCommandPlace::Menu)->trigger();
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(rig.Spoken, (QStringList{"Thread A", "Re: Thread B"}));
        QCOMPARE(rig.StoredMarks({"<a1@t>", "<a2@t>", "<b3@t>"}), QString("222"));
        QCOMPARE(rig.Record("<a2@t>")->ReadState, 2);
        QVERIFY(view->Font(view->NodeOf(rig.Record("<a2@t>")), TThreadView::ColSubject).italic());
        QVERIFY(dialogs.Shown.empty());
    }

    // Into MP3 files: one per thread with a chapter per article, then one per article with
    // consecutive numbers; names, counters kept in the group file, tags.
    void runsIntoFiles()
    {
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("mid3v2"));
        TScopedScriptedWindows dialogs;
        TRunRig rig;
        FillGroup(rig.Server);
        QVERIFY(rig.Open());
        QTemporaryDir out;
        rig.ToFiles(out.path(), QStringLiteral("MP3"), true);
        const QStringList ids{"<a1@t>", "<a2@t>", "<b1@t>", "<b2@t>", "<b3@t>"};
        rig.Mark(ids);
        rig.W.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpMarkedFile));
        QVERIFY(rig.WaitRunOver(120000));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), (QStringList{"Thread_A_1.mp3", "Thread_B_1.mp3"}));
        QCOMPARE(rig.StoredMarks(ids), QString("22222"));
        QCOMPARE(rig.Record("<a1@t>")->FileCounter, 1);
        QCOMPARE(rig.Record("<b1@t>")->FileCounter, 1);
        TArticleList reread;
        reread.LoadFromFile(rig.W.Entry(kGroup)->FilePath());
        QCOMPARE(reread.FindByMessageID("<b1@t>")->FileCounter, 1);
        const QString threadB = out.filePath("Thread_B_1.mp3");
        QCOMPARE(Mutagen(threadB, "print(t['TPE1'].text[0].startswith('Vorlix: '))"), QString("True"));
        QCOMPARE(Mutagen(threadB, "print(t.getall('CTOC')[0].child_element_ids)"), QString("['chp1', 'chp2', 'chp3']"));
        QCOMPARE(Mutagen(threadB, "print('|'.join(c.sub_frames['TIT2'].text[0] for c in sorted(t.getall('CHAP'), key=lambda c: c.start_time)))"),
                 QString("Thread B — Eve Smith|Re: Thread B — Eve Smith|Re: Thread B — Eve Smith"));
        QCOMPARE(Mutagen(threadB, "s=sorted(c.start_time for c in t.getall('CHAP')); print(s[0] == 0 and s[0] < s[1] < s[2])"),
                 QString("True"));

        // One file per article: the thread's counter goes on from where it is.
        rig.W.Form->Store->SetValue("ThreadFileOption", 0);
        for (const QString& id : ids)
            rig.Record(id)->SetSpeakMark(1);
        rig.W.Form->Command("SpeakMarkFile", TCommandPlace::Menu)->trigger();
        QVERIFY(rig.WaitRunOver(120000));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files),
                 (QStringList{"Thread_A_1.mp3", "Thread_A_2.mp3", "Thread_A_3.mp3", "Thread_B_1.mp3", "Thread_B_2.mp3",
                              "Thread_B_3.mp3", "Thread_B_4.mp3"}));
        QCOMPARE(rig.Record("<b1@t>")->FileCounter, 4);
        QVERIFY(dialogs.Shown.empty());
    }

    // Runs over the selected articles: nothing selected is refused with a message; two
    // articles of a thread make one file per thread, or consecutive files per article; a
    // one-article run shows only the article progress, at full height.
    void selectedRuns()
    {
        TScopedScriptedWindows dialogs;
        TRunRig rig;
        FillGroup(rig.Server);
        QVERIFY(rig.Open());
        QTemporaryDir out;
        rig.ToFiles(out.path(), QStringLiteral("Wav"), true);
        TThreadView* view = rig.W.Form->ThreadView.get();
        auto* tree = TestSupport::Part<QTreeView>(rig.W.Form.get(), "tvArticles");
        const auto select = [&](const QStringList& ids) {
            view->DeselectAll();
            for (const QString& id : ids)
                tree->selectionModel()->select(view->IndexOf(view->NodeOf(rig.Record(id)), 0),
                                               QItemSelectionModel::Select | QItemSelectionModel::Rows);
        };
        select({});
        rig.W.Form->Command("SpeakSelFile", TCommandPlace::Toolbar)->trigger();
        QCOMPARE(dialogs.LastText(), QString("Select one or more messages to be spoken aloud"));
        QVERIFY(!rig.W.Form->Speaking->Running());

        select({"<b2@t>", "<b3@t>"});
        rig.W.Form->Command("SpeakSelFile", TCommandPlace::ArticlePopup)->trigger();
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpSelectedFile));
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList{"Thread_B_1.wav"});
        QCOMPARE(rig.StoredMarks({"<b1@t>", "<b2@t>", "<b3@t>"}), QString("022"));

        rig.W.Form->Store->SetValue("ThreadFileOption", 0);
        select({"<a2@t>"});
        rig.W.Form->Command("SpeakSelFile", TCommandPlace::Menu)->trigger();
        auto* article = TestSupport::Part<QProgressBar>(rig.W.Form.get(), "ArticleProgress");
        QVERIFY(article->isVisible() && article->height() == 15);
        QVERIFY(!TestSupport::Part<QProgressBar>(rig.W.Form.get(), "QueueProgress")->isVisible());
        QVERIFY(rig.WaitRunOver());
        select({"<b2@t>", "<b3@t>"});
        rig.W.Form->Command("SpeakSelFile", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(QDir(out.path()).entryList(QDir::Files),
                 (QStringList{"Thread_A_1.wav", "Thread_B_1.wav", "Thread_B_2.wav", "Thread_B_3.wav"}));
        QCOMPARE(int(dialogs.Shown.size()), 1);
    }

    // Bodies that are not plain text, an empty body and a subject of symbols only, into WAV
    // files; then an output folder that vanished and a server that went away: a clear error
    // each time, and the run stops cleanly.
    void badInput()
    {
        TScopedScriptedWindows dialogs;
        TRunRig rig;
        rig.Server.AddGroup(kGroup);
        QVERIFY(rig.Server.AddArticle(Article("?!?", "<s1@t>", {}, "")));
        QVERIFY(rig.Server.AddArticle(Article("Picture", "<p1@t>", {},
                                              "--XX\nContent-Type: text/plain\n\nSee the picture.\n--XX\n"
                                              "Content-Type: image/jpeg; name=\"picture.jpg\"\n"
                                              "Content-Transfer-Encoding: base64\n\n"
                                                  + QByteArray(4000, 'A').toBase64() + "\n--XX--",
                                              "MIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"XX\"\n")));
        QVERIFY(rig.Server.AddArticle(Article("Long line", "<l1@t>", {}, QByteArray(1200000, 'x'))));
        QByteArray big;
        while (big.size() < 1100000)
            big += "A long body goes on and on, line after line, for more than a megabyte.\n";
        QVERIFY(rig.Server.AddArticle(Article("Big one", "<g1@t>", {}, big)));
        QVERIFY(rig.Open());
        QTemporaryDir out;
        TBaseTTS& tts = rig.ToFiles(out.path(), QStringLiteral("Wav"));
        rig.Mark({"<s1@t>", "<p1@t>", "<l1@t>", "<g1@t>"});
        rig.W.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
        // The megabyte body is being written: Skip ends it, and the window stays live meanwhile.
        QVERIFY(TestSupport::WaitFor([&] { return rig.Spoken.contains("Big one") && tts.State == tsPlay; }, 60000));
        rig.W.Form->Command("Skip", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.WaitRunOver(120000));
        QCOMPARE(rig.Spoken, (QStringList{"?!?", "Picture", "Big one"}));
        QCOMPARE(QDir(out.path()).entryList(QDir::Files).join(' '), QString("Article_1.wav Big_one_1.wav Picture_1.wav"));
        // A line of more than a megabyte is not an article: passed over, shown in italics.
        QCOMPARE(rig.Record("<l1@t>")->ReadState, 2);
        QCOMPARE(rig.StoredMarks({"<s1@t>", "<p1@t>", "<l1@t>", "<g1@t>"}), QString("2222"));
        QVERIFY(dialogs.Shown.empty());

        // The output folder has gone.
        for (const QString& id : {QStringLiteral("<s1@t>"), QStringLiteral("<p1@t>")})
            rig.Record(id)->SetSpeakMark(1);
        tts.OutputDir = out.filePath("gone");
        rig.W.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(dialogs.LastText(), QString("Output directory does not exist"));
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpGroup));

        // The server goes away during the run.
        dialogs.Clear();
        tts.OutputDir = out.path();
        rig.Server.Close();
        rig.W.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
        QVERIFY(rig.WaitRunOver());
        QCOMPARE(int(dialogs.Shown.size()), 1);
        QCOMPARE(dialogs.Shown.front().Kind, TMessageKind::Error);
        QCOMPARE(rig.Record("<s1@t>")->SpeakMark, 1);
        QCOMPARE(rig.Record("<p1@t>")->SpeakMark, 1);
        QCOMPARE(rig.W.Entry(kGroup)->Picture(), int(rpGroup));
    }
};

VORLIX_TEST_MAIN(TestSpeakingRun)
#include "test_speaking_run.moc"
