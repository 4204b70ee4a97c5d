// The speak queue and the names and texts of a run: mark changes during a run, records that
// disappear from their newsgroup, file names from subjects, the spoken text of a reply.
#include "TestSupport.h"

#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "speaking/SpeakRun.h"
#include "speaking/TTSList.h"

namespace {
TArticleClass* AddRecord(TArticleList& list, const QString& id, const QString& subject, int mark = 1)
{
    auto r = std::make_unique<TArticleClass>();
    r->MessageID = id;
    r->Subject = subject;
    r->SpeakMark = mark;
    return list.Add(std::move(r));
}

QStringList Walk(TTTSList& q)
{
    QStringList ids;
    while (TArticleClass* r = q.Next())
        ids << r->MessageID;
    return ids;
}
} // namespace

class TestSpeakQueue : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::PrepareEnvironment(); }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    void queueFollowsMarksAndRecords()
    {
        TNewsStore store;
        TConfigClass* server = store.AddServerEntry(QStringLiteral("news.example.org"), {}, {}, false, QStringLiteral("S"));
        TConfigClass* group = store.AddGroupEntry(server, QStringLiteral("alt.test"), QStringLiteral("G"));
        TArticleList& list = *group->EnsureArticles();
        TArticleClass* a = AddRecord(list, "<a>", "A");
        TArticleClass* b = AddRecord(list, "<b>", "B");
        TArticleClass* c = AddRecord(list, "<c>", "C");
        TArticleClass* d = AddRecord(list, "<d>", "D", 0);

        TTTSList q(&store, false);
        for (TArticleClass* r : {a, b, c})
            q.Add(r);
        QCOMPARE(q.Next(), a);
        // Marked during the run: appended; cleared: it leaves the queue.
        d->SetSpeakMark(1);
        q.Update(d);
        b->SetSpeakMark(0);
        q.Update(b);
        QCOMPARE(q.FindByMessageID("<d>"), d);
        QVERIFY(!q.FindByMessageID("<b>"));
        // A record that leaves its newsgroup is passed over.
        list.RemoveIf([](TArticleClass* r) { return r->MessageID == QLatin1String("<c>"); });
        QCOMPARE(Walk(q), QStringList{"<d>"});

        // The current record cleared: the run ends after it.
        TTTSList q2(&store, false);
        q2.Add(a);
        q2.Add(d);
        QCOMPARE(q2.Next(), a);
        a->SetSpeakMark(0);
        q2.Update(a);
        QVERIFY(!q2.Next());

        // Selected runs ignore marks; Stop drops what follows the current record.
        TTTSList q3(&store, true);
        q3.Add(a);
        q3.Add(d);
        q3.Update(a);
        QCOMPARE(q3.Count(), 2);
        QCOMPARE(q3.Next(), a);
        q3.DropAfterCurrent();
        QVERIFY(!q3.Next());

        // The group itself goes: nothing of it is used any more.
        TTTSList q4(&store, true);
        q4.Add(d);
        store.RemoveGroupEntry(server, QStringLiteral("alt.test"));
        QVERIFY(!q4.Next());
    }

    void namesAndText()
    {
        QCOMPARE(TSpeakRun::CleanFileName("Speed of sound?"), QString("Speed_of_sound"));
        QCOMPARE(TSpeakRun::CleanFileName("Re: über  alles!!"), QString("Re_ber_alles"));
        QCOMPARE(TSpeakRun::CleanFileName("abcdefghijklmnopqrstuvwxyz"), QString("abcdefghijklmno"));
        QCOMPARE(TSpeakRun::CleanFileName("  ?!? "), QString());
        QCOMPARE(TSpeakRun::CleanFileName("a b c d e f g h i"), QString("a_b_c_d_e_f_g_h"));

        TArticleClass top, reply;
        top.Subject = QStringLiteral("Speed of sound?");
        top.FileCounter = 0;
        reply.Subject = QStringLiteral("Re: Speed of sound?");
        reply.Root = &top;
        QCOMPARE(TSpeakRun::AudioFileName(&reply), QString("Speed_of_sound_1"));
        top.FileCounter = 4;
        QCOMPARE(TSpeakRun::AudioFileName(&top), QString("Speed_of_sound_5"));
        top.Subject = QStringLiteral("!!!");
        QCOMPARE(TSpeakRun::AudioFileName(&top), QString("Article_5"));

        TArticleClass r;
        r.Subject = QStringLiteral("Re: Speed");
        QCOMPARE(TSpeakRun::ComposeSpokenText(&r, "Body."), QString("Reply,  Speed. \r\nBody."));
        r.Subject = QStringLiteral("  AW: RE: mixed ");
        QCOMPARE(TSpeakRun::ComposeSpokenText(&r, {}), QString("AW: Reply,  mixed. \r\n"));
    }
};

VORLIX_TEST_MAIN_CORE(TestSpeakQueue)
#include "test_speak_queue.moc"
