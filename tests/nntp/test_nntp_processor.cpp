// The request processor against the scripted loopback server: exact command sequences of each
// job, the header-window arithmetic, the age limit, completion codes and messages, aborts.
#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "ScriptedDialogs.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NNTPWrapper.h"
#include "test_nntp_processor_probe.h"

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QByteArray DateText(const QDateTime& local)
{
    return QLocale::c().toString(local, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")).toLatin1() + " +0000";
}

QByteArray Ov(int n, const QByteArray& subject = "Subject", const QByteArray& from = "a@example.org",
              const QByteArray& date = QByteArray(), const QByteArray& refs = QByteArray())
{
    const QByteArray d = date.isNull() ? DateText(QDateTime::currentDateTime().addSecs(-3600)) : date;
    return QByteArray::number(n) + '\t' + subject + '\t' + from + '\t' + d + "\t<m" + QByteArray::number(n)
        + "@example.org>\t" + refs + "\t1234\t12\tXref: x g:" + QByteArray::number(n);
}

QList<QByteArray> OvRange(int first, int last)
{
    QList<QByteArray> lines;
    for (int i = first; i <= last; ++i)
        lines << Ov(i);
    return lines;
}

QByteArray Xover(const QList<QByteArray>& lines)
{
    return ScriptedNntpServer::MultiLine("224 Overview information follows", lines);
}

} // namespace

class TestNntpProcessor : public QObject {
    Q_OBJECT

    // A processor aimed at the scripted server.
    void Aim(TNntpProcessor& p, ScriptedNntpServer& s)
    {
        p.Host = s.ServerName();
        p.UserName.clear();
        p.Password.clear();
    }

private slots:
    void queueTakeRepeatAbort()
    {
        TNntpRequestList q;
        QVERIFY(q.TakeNext() == nullptr); // an empty queue has nothing to run
        TNntpRequest* a = q.Add(NntpStep::Disconnect);
        TNntpRequest* b = q.Add(NntpStep::Connect);
        b->Lines() << "host" << "" << "";
        TNntpRequest* c = q.Add(NntpStep::Disconnect);
        QCOMPARE(q.TakeNext(), a);
        QCOMPARE(a->RemainingRuns, 0);
        QCOMPARE(q.TakeNext(), b);
        QCOMPARE(q.Current(), b);
        q.Repeat();
        QCOMPARE(q.TakeNext(), b); // repeated once
        QCOMPARE(b->Line(0), QString("host"));
        QCOMPARE(q.TakeNext(), c);
        QVERIFY(b->DataLines == nullptr); // released when passed
        QVERIFY(q.TakeNext() == nullptr);
        QVERIFY(q.TakeNext() == nullptr);

        TNntpRequestList r;
        r.Add(NntpStep::Disconnect);
        r.Add(NntpStep::SetGroup);
        TNntpRequest* last = r.Add(NntpStep::Disconnect);
        r.TakeNext();
        r.AbortAll();
        QCOMPARE(r.Current(), last);
        QVERIFY(r.TakeNext() == nullptr);
    }

    void overviewParsingAndAgeLimit()
    {
        TNntpHeader h;
        bool ok = false;
        TNntpProcessor::ParseOverviewLine(
            "4231\tRe: Hello\t\"Ann Example\" <ann@example.org>\tSun, 06 Nov 2005 08:49:37 GMT\t<a@b>\t<r1@b> <r2@b>\t99\t3",
            h, ok);
        QVERIFY(ok);
        QCOMPARE(h.Number, 4231);
        QCOMPARE(h.Subject, QString("Re: Hello"));
        QCOMPARE(h.From, QString("Ann Example"));
        QCOMPARE(h.MessageID, QString("<a@b>"));
        QCOMPARE(h.References, QString("<r1@b> <r2@b>"));
        QCOMPARE(h.Date.ToQDateTime(), QDateTime(QDate(2005, 11, 6), QTime(8, 49, 37)));

        // Empty fields keep their place; two quotes with nothing between give an empty From;
        // a From without quotes is trimmed; a line that stops early leaves the rest empty.
        TNntpProcessor::ParseOverviewLine("7\t\t\"\" <x@y>\t6 Nov 2005 08:49:37 -0800\t\t", h, ok);
        QCOMPARE(h.Subject, QString());
        QCOMPARE(h.From, QString());
        QCOMPARE(h.MessageID, QString());
        QCOMPARE(h.References, QString());
        TNntpProcessor::ParseOverviewLine("8\tS\t  bob@example.net (Bob)  ", h, ok);
        QCOMPARE(h.From, QString("bob@example.net (Bob)"));
        QVERIFY(!ok); // no date at all
        QVERIFY(qAbs(h.Date.Value - TDateTime::Now().Value) < 0.01); // dated at download

        // UTF-8 and 8-bit text.
        TNntpProcessor::ParseOverviewLine("9\tGr\xc3\xbc\xc3\x9f" "e\tJ\xfcrgen <j@x>\t", h, ok);
        QCOMPARE(h.Subject, QString::fromUtf8("Grüße"));
        QCOMPARE(h.From, QString::fromLatin1("J\xfcrgen <j@x>"));

        // Lines without a readable number are refused.
        for (const char* bad : {"\tS\tF", "abc\tS", "12x\tS", "9223372036854775808\tS", "-5\tS", ""}) {
            bool refused = false;
            try {
                TNntpProcessor::ParseOverviewLine(QByteArrayView(bad), h, ok);
            } catch (const EVorlixError&) {
                refused = true;
            }
            QVERIFY2(refused, bad);
        }

        // Age in whole days, halves to even: 0.5 days is age 0, 1.5 days is age 2.
        const TDateTime now = TDateTime::Now();
        QVERIFY(TNntpProcessor::WithinAge(TDateTime(now.Value - 0.5), 0, now));
        QVERIFY(!TNntpProcessor::WithinAge(TDateTime(now.Value - 0.51), 0, now));
        QVERIFY(!TNntpProcessor::WithinAge(TDateTime(now.Value - 1.5), 1, now));
        QVERIFY(TNntpProcessor::WithinAge(TDateTime(now.Value - 1.5), 2, now));
        QVERIFY(TNntpProcessor::WithinAge(TDateTime(now.Value - 5000), -1, now));
        QVERIFY(TNntpProcessor::WithinAge(TDateTime(now.Value + 3), 0, now)); // dated in the future
        QVERIFY(!TNntpProcessor::WithinAge(now, -2, now));                   // below -1 refuses all
    }

    // A server that claims two thousand million articles and sends none: a few empty windows,
    // one look at the newest window it claims, and the job ends.
    void emptyWindowsDoNotGoOnForever()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.lies", "211 0 1 2147483647 alt.lies\r\n");
        for (const char* range : {"XOVER 1-100", "XOVER 101-200", "XOVER 201-300", "XOVER 2147483548-2147483647"})
            s.Expect(range, Xover({}));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.lies", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("No more Articles"));
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(s.Commands().size(), 5);
        QVERIFY(probe.Headers.empty());
    }

    void downloadAfterLastKnownEndsWithNoMoreArticles()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 1234 3000 4233 alt.test\r\n");
        s.Expect("XOVER 4231-4233",
                 Xover({Ov(4231, "First", "\"Ann Example\" <ann@example.org>"), Ov(4232, "Second"),
                        Ov(4233, "Third", "b@example.org", QByteArray(), "<m4231@example.org>")}));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", 4230, -1, 100);
        QVERIFY(!p.Idle());
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("No more Articles"));
        QVERIFY(p.Idle());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(s.Commands(), (QList<QByteArray>{"GROUP alt.test", "XOVER 4231-4233"}));
        QCOMPARE(int(probe.Headers.size()), 3);
        QCOMPARE(probe.Headers[0].From, QString("Ann Example"));
        QCOMPARE(probe.Headers[0].Host, s.ServerName());
        QCOMPARE(probe.Headers[0].Group, QString("alt.test"));
        QCOMPARE(probe.Headers[2].References, QString("<m4231@example.org>"));
        QCOMPARE(p.First(), 3000);
        QCOMPARE(p.Last(), 4233);
        QCOMPARE(p.Estimated(), 1234);
        QVERIFY(probe.Statuses.contains("Connecting to " + s.ServerName()));
        QVERIFY(probe.Statuses.contains("Setting Group"));
        QVERIFY(probe.Statuses.contains("Downloading headers: 4231 - 4233"));
        QCOMPARE(int(probe.Dones.size()), 1);
        // The connection does not stay open after a job that ended early.
        QVERIFY(TestSupport::WaitFor([&] { return !s.ClientConnected(); }, 5000));
    }

    void windowsStopAtTheLimitAndSkipRefusedLines()
    {
        // First download: from the group's first article, 100 headers at most. The first window
        // brings 60 accepted headers (one line is malformed, one too old, two numbers missing),
        // so the next window starts after the last number asked and spans the 40 still wanted.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 6000 3000 9000 alt.test\r\n");
        QList<QByteArray> first = OvRange(3000, 3059);
        first << "bogus\tNot a number\tx@y\t\t<bad@x>\t";
        first << Ov(3061, "Too old", "x@y", DateText(QDateTime::currentDateTime().addDays(-40)));
        s.Expect("XOVER 3000-3099", Xover(first));
        s.Expect("XOVER 3100-3139", Xover(OvRange(3100, 3139)));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", -1, 30, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), 0); // the limit was reached: normal end after the Disconnect
        QCOMPARE(int(probe.Headers.size()), 100);
        QCOMPARE(p.Received(), 100);
        QCOMPARE(int(probe.Skipped.size()), 1);
        QCOMPARE(probe.Skipped[0].Subject, QString("Too old"));
        QCOMPARE(s.Commands().size(), 3);
        QVERIFY(probe.Statuses.contains("Disconnecting"));
    }

    void limitReachedInOneWindowAsksNoMore()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 6000 3000 9000 alt.test\r\n");
        s.Expect("XOVER 3000-3099", Xover(OvRange(3000, 3099)));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(probe.LastMessage(), QString());
        QCOMPARE(s.Commands(), (QList<QByteArray>{"GROUP alt.test", "XOVER 3000-3099"}));
        // A single article left gets XOVER with one number.
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        s2.Expect("GROUP alt.test", "211 1 3000 3000 alt.test\r\n");
        s2.Expect("XOVER 3000", Xover(OvRange(3000, 3000)));
        Aim(p, s2);
        p.DownloadHeaders("alt.test", 2999, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(s2.Errors(), QStringList());
        QVERIFY(probe.Statuses.contains("Downloading header: 3000"));
    }

    void zeroLimitAndBadAnswersEndTheJob()
    {
        // MsgsToRetrieve 0 asks for a window that ends below its start: refused before sending.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", -1, -1, 0);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -1);
        QCOMPARE(probe.LastMessage(), QString("Header range 3000 - 2999 is invalid"));
        QCOMPARE(s.Commands(), (QList<QByteArray>{"GROUP alt.test"}));

        // A GROUP answer without readable numbers ends the job with -1, it does not guess.
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        s2.Expect("GROUP alt.test", "211 many first last alt.test\r\n");
        Aim(p, s2);
        p.DownloadHeaders("alt.test", -1, -1, 10);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -1);
        QVERIFY(probe.LastMessage().contains("211 many first last alt.test"));

        // A refused group ends with the server's code and line.
        ScriptedNntpServer s3;
        QVERIFY(s3.Listen());
        s3.Greet();
        s3.Expect("GROUP no.such", "411 No such group no.such\r\n");
        Aim(p, s3);
        p.DownloadHeaders("no.such", -1, -1, 10);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), 411);
        QCOMPARE(probe.LastMessage(), QString("411 No such group no.such"));

        // Nobody listening: the connection failure is the job's end, with a message.
        quint16 freePort;
        {
            ScriptedNntpServer gone;
            QVERIFY(gone.Listen());
            freePort = gone.Port();
        }
        p.Host = QStringLiteral("127.0.0.1:%1").arg(freePort);
        p.DownloadHeaders("alt.test", -1, -1, 10);
        QVERIFY(probe.WaitDone(4));
        QVERIFY(probe.LastCode() > 0);
        QVERIFY(!probe.LastMessage().isEmpty());
        QCOMPARE(int(probe.Dones.size()), 4);

        // No server name at all: refused before any connection, the job ends with -1 and why.
        p.Host = "  ";
        p.DownloadHeaders("alt.test", -1, -1, 10);
        QVERIFY(probe.WaitDone(5));
        QCOMPARE(probe.LastCode(), -1);
        QVERIFY(!probe.LastMessage().isEmpty());
        QVERIFY(p.Idle());
    }

    void unreadableDatesAreToldOncePerJob()
    {
        TScopedScriptedDialogs dialogs;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 3 1 3 alt.test\r\n");
        s.Expect("XOVER 1-3", Xover({Ov(1, "A", "x@y", "yesterday-ish"), Ov(2, "B"), Ov(3, "C", "x@y", "32 Foo 2020")}));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", -1, 30, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        // The articles are kept (dated at download, so the age limit lets them through) and the
        // user hears of it once, after the job.
        QCOMPARE(int(probe.Headers.size()), 3);
        QCOMPARE(int(dialogs.Shown.size()), 1);
        QVERIFY(dialogs.LastText().startsWith("2 of the downloaded headers had a date that could not be read"));
        QVERIFY(dialogs.LastText().contains("\"yesterday-ish\""));
    }

    void catchUpGoesThroughEveryGroup()
    {
        // Count 50 of a group 10..30 asks 10-30; an empty group (last below first) is passed
        // with its reason as status; a second server record gets its own connection.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP g.one", "211 21 10 30 g.one\r\n");
        s.Expect("XOVER 10-30", Xover(OvRange(10, 30)));
        s.Expect("GROUP g.empty", "211 0 1 0 g.empty\r\n");
        s.Expect("GROUP g.big", "211 900 100 999 g.big\r\n");
        s.Expect("XOVER 950-999", Xover(OvRange(950, 999)));
        s.Greet();
        s.Expect("GROUP g.two", "211 5 1 5 g.two\r\n");
        s.Expect("XOVER 1-5", Xover(OvRange(1, 5)));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        TCatchUpRecord a;
        a.Host = s.ServerName();
        a.Groups << "g.one" << "g.empty" << "g.big";
        a.Count = 50;
        TCatchUpRecord b = a;
        b.Groups = QStringList{"g.two"};
        p.CatchUp({a, b}, -1);
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(s.Connections(), 2);
        QCOMPARE(int(probe.Headers.size()), 21 + 50 + 5);
        const QString h = s.ServerName();
        QCOMPARE(probe.CaughtUp, (QStringList{h + "|g.one", h + "|g.big", h + "|g.two"}));
        QVERIFY(probe.Statuses.contains("Header range 1 - 0 is invalid"));
        QVERIFY(probe.Statuses.contains("Catching up"));

        // No records: the job ends at once, normally.
        p.CatchUp({}, -1);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
    }

    void bodyJob()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("BODY 3001",
                 ScriptedNntpServer::MultiLine("222 3001 <body.1@example.org> body",
                                               {"First line", ".", "..two", "", "Last line"}));
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("BODY 3002", ScriptedNntpServer::MultiLine("222 3002 noangle@example.org", {"x"}));
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("BODY 3004", ScriptedNntpServer::MultiLine("222 3004", {"y"}));
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("BODY 3003", "423 No such article number 3003\r\n");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.Group = "alt.test";
        p.GetBody(3001);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Bodies.size()), 1);
        QCOMPARE(probe.Bodies[0].Lines, (QStringList{"First line", ".", "..two", "", "Last line"}));
        QCOMPARE(probe.Bodies[0].MessageID, QString("<body.1@example.org>"));
        QCOMPARE(probe.Bodies[0].Group, QString("alt.test"));
        QCOMPARE(probe.Bodies[0].Host, s.ServerName());

        p.GetBody(3002);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(probe.Bodies[1].MessageID, QString("<noangle@example.org>"));
        p.GetBody(3004);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.Bodies[2].MessageID, QString("<>"));

        p.GetBody(3003);
        QVERIFY(probe.WaitDone(4));
        QCOMPARE(probe.LastCode(), 423);
        QCOMPARE(probe.LastMessage(), QString("423 No such article number 3003"));
        QCOMPARE(int(probe.Bodies.size()), 3);
        QCOMPARE(s.Errors(), QStringList());

        // An article known only by reference: no connection at all.
        const int before = s.Connections();
        p.GetBody(NntpArticleUnknown);
        QVERIFY(!p.Idle());
        QVERIFY(probe.WaitDone(5));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("Article does not exist"));
        QCOMPARE(s.Connections(), before);
    }

    void bodyCutOffIsNotDelivered()
    {
        // The server drops the connection in the middle of the body: the job fails with the
        // connection's code and the part that came is not passed on as the article.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("BODY 3001", ScriptedReply("222 3001 <cut@x> body\r\nline one\r\nline tw").Close());
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.Group = "alt.test";
        p.GetBody(3001);
        QVERIFY(probe.WaitDone());
        QVERIFY2(probe.LastCode() > 0, qPrintable(QString::number(probe.LastCode())));
        QVERIFY(!probe.LastMessage().isEmpty());
        QCOMPARE(int(probe.Bodies.size()), 0);
    }

    void articleJob()
    {
        // The whole article: its header lines as sent (a folded one stays two lines), the empty
        // line, the body dot-unstuffed; ends like a body job.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        for (int n : {3001, 3002, 3003}) {
            s.Greet();
            s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
            const QByteArray command = "ARTICLE " + QByteArray::number(n);
            if (n == 3001)
                s.Expect(command, ScriptedNntpServer::MultiLine(
                                      "220 3001 <art.1@example.org> article",
                                      {"From: Eve <eve@example.org>", "Subject: A subject long enough to be",
                                       "\tfolded onto a second line", "Content-Type: text/plain; charset=UTF-8",
                                       "", ".", "Grüße", ""}));
            else if (n == 3002)
                s.Expect(command, ScriptedNntpServer::MultiLine("220 3002 noangle@example.org", {"Subject: x", "", "y"}));
            else
                s.Expect(command, "423 No such article number 3003\r\n");
        }
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.Group = "alt.test";
        p.GetArticle(3001);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Bodies.size()), 1);
        QCOMPARE(probe.Bodies[0].Lines,
                 (QStringList{"From: Eve <eve@example.org>", "Subject: A subject long enough to be",
                              "\tfolded onto a second line", "Content-Type: text/plain; charset=UTF-8", "", ".",
                              "Grüße", ""}));
        QCOMPARE(probe.Bodies[0].MessageID, QString("<art.1@example.org>"));
        QCOMPARE(probe.Bodies[0].Group, QString("alt.test"));

        p.GetArticle(3002);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(probe.Bodies[1].MessageID, QString("<noangle@example.org>"));
        QCOMPARE(probe.Bodies[1].Lines, (QStringList{"Subject: x", "", "y"}));

        p.GetArticle(3003);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), 423);
        QCOMPARE(probe.LastMessage(), QString("423 No such article number 3003"));
        QCOMPARE(int(probe.Bodies.size()), 2);
        QCOMPARE(s.Errors(), QStringList());

        const int before = s.Connections();
        p.GetArticle(NntpArticleUnknown);
        QVERIFY(probe.WaitDone(4));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(s.Connections(), before);
    }

    void groupListToFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("list.chl");
        {
            QFile old(file);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old content that must go\r\n");
        }
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        const QByteArray list = ScriptedNntpServer::MultiLine(
            "215 list follows", {"alt.test 0000000010 0000000001 y", "comp.lang.c 12 3 m"});
        s.SetChunkGap(300);
        s.Expect("LIST", ScriptedReply().SendSplit(list, {int(list.indexOf("comp"))}));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        QCOMPARE(p.DownloadedSize(), 0);
        p.DownloadGroupList(file);
        // The size grows while the list arrives (the list window shows it as progress).
        QVERIFY(TestSupport::WaitFor([&] { return p.DownloadedSize() > 0; }, 5000));
        QCOMPARE(p.DownloadedSize(), qint64(strlen("alt.test 0000000010 0000000001 y\r\n")));
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(p.DownloadedSize(), 0); // the file is closed with the job
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("alt.test 0000000010 0000000001 y\r\ncomp.lang.c 12 3 m\r\n"));

        // A file that cannot be created ends the job with -1 and says why.
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        Aim(p, s2);
        p.DownloadGroupList(dir.filePath("no/such/folder/list.chl"));
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -1);
        QVERIFY(probe.LastMessage().startsWith("Cannot create the file"));
        QCOMPARE(s2.Commands(), QList<QByteArray>());
    }

    void postArticle()
    {
        const QStringList lines = TNntpProcessor::ComposeArticle(
            "alt.test", "Ann <ann@example.org>", "   ", " <r@x> ", "None", "Hello", {"Body"});
        QCOMPARE(lines, (QStringList{"From: Ann <ann@example.org>", "Newsgroups: alt.test", "Subject: Hello",
                                     "Organization: None", "References:  <r@x> ",
                                     "X-Newsreader: " + TNntpProcessor::NewsreaderText(), "", "Body"}));
        // Text beyond ASCII says it is UTF-8; a line break in a header value cannot start a header.
        const QStringList utf = TNntpProcessor::ComposeArticle("alt.test", "<a@b>", "r@x", "", "None",
                                                               "Grüße\r\nX-Evil: yes", {"ok"});
        QVERIFY(utf.contains("Reply-To: r@x"));
        QVERIFY(utf.contains("Subject: Grüße X-Evil: yes"));
        QVERIFY(utf.contains("Content-Type: text/plain; charset=UTF-8"));

        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("POST", "340 send article\r\n");
        s.ExpectArticle("240 Article received <new@x>\r\n");
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("POST", "440 Posting not allowed\r\n");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.PostArticle("alt.test", "alt.test", "<me@example.org>", "", "", "None", "Test",
                      {"Hello", ".", ".dot first", "two\nlines", ""});
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), 0);
        QVERIFY(probe.Statuses.contains("Posting message"));
        QCOMPARE(s.RawArticles().size(), 1);
        const QByteArray expected = "From: <me@example.org>\r\nNewsgroups: alt.test\r\nSubject: Test\r\n"
                                    "Organization: None\r\nX-Newsreader: "
            + TNntpProcessor::NewsreaderText().toUtf8()
            + "\r\n\r\nHello\r\n..\r\n..dot first\r\ntwo\r\nlines\r\n\r\n"
            "\r\n"; // the client's CR LF before the final "."
        QCOMPARE(s.RawArticles()[0], expected);

        p.PostArticle("alt.test", "alt.test", "<me@example.org>", "", "", "None", "Test", {"Hello"});
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 440);
        QCOMPARE(probe.LastMessage(), QString("440 Posting not allowed"));
    }

    void abortEndsOnceAndTheNextJobRuns()
    {
        // A download aborted while its headers arrive ends once with code 0; a job started from
        // that completion runs normally, untouched by the abort's late notices.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.SetChunkGap(30);
        s.Greet();
        s.Expect("GROUP alt.test", "211 6000 3000 9000 alt.test\r\n");
        const QByteArray answer = Xover(OvRange(3000, 3099));
        QList<int> cuts;
        for (int i = 1; i < 40; ++i)
            cuts << i * answer.size() / 40;
        s.Expect("XOVER 3000-3099", ScriptedReply().SendSplit(answer, cuts));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        size_t headersAtAbort = 0;
        probe.AfterHeader = [&](const TNntpHeader& h) {
            if (h.Number == 3005) {
                // As the Cancel button would: from the event loop.
                QTimer::singleShot(0, &p, [&] {
                    headersAtAbort = probe.Headers.size();
                    p.Abort();
                });
            }
        };
        bool started = false;
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        s2.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s2.Expect("BODY 3001", ScriptedNntpServer::MultiLine("222 3001 <b@x>", {"text"}));
        probe.AfterDone = [&](int) {
            if (!started) {
                started = true;
                p.Host = s2.ServerName();
                p.Group = "alt.test";
                p.GetBody(3001);
            }
        };
        p.DownloadHeaders("alt.test", -1, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.Dones[0].Code, 0);
        QCOMPARE(probe.Dones[1].Code, 0);
        QVERIFY(probe.Headers.size() < 100);
        QCOMPARE(probe.Headers.size(), headersAtAbort); // nothing is delivered after the abort
        QCOMPARE(int(probe.Bodies.size()), 1);
        QCOMPARE(s2.Errors(), QStringList());
        // Abort when idle does nothing; starting a job while one runs is refused.
        p.Abort();
        QCOMPARE(int(probe.Dones.size()), 2);
        ScriptedNntpServer s3;
        QVERIFY(s3.Listen());
        s3.GreetNever();
        p.Host = s3.ServerName();
        p.DownloadHeaders("alt.test", -1, -1, 10);
        bool refused = false;
        try {
            p.GetBody(1);
        } catch (const EVorlixError&) {
            refused = true;
        }
        QVERIFY(refused);
        p.Abort();
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Dones.size()), 3);
    }

    void ownerMayDeleteTheProcessorWhenTheJobEnds()
    {
        // A post window closes (and releases its processor) from the completion event.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("POST", "340 send article\r\n");
        s.ExpectArticle("240 Article received <new@x>\r\n");
        s.Greet();
        s.Expect("GROUP alt.test", "411 No such group\r\n");
        for (int round = 0; round < 2; ++round) {
            auto* p = new TNntpProcessor;
            int code = -9999;
            p->OnRequestDone = [&](QObject* sender, int c, const QString&) {
                code = c;
                delete static_cast<TNntpProcessor*>(sender);
            };
            p->Host = s.ServerName();
            p->PostArticle("alt.test", "alt.test", "<me@example.org>", "", "", "None", "Test", {"Hello"});
            QVERIFY(TestSupport::WaitFor([&] { return code != -9999; }));
            QCOMPARE(code, round == 0 ? 0 : 411);
        }
        QVERIFY(TestSupport::WaitFor([&] { return !s.ClientConnected(); }));
        QCOMPARE(s.Errors(), QStringList());
    }

    void silentServerTimesOut()
    {
        // A greeting that never comes ends the job as a failure instead of hanging.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.GreetNever();
        TNntpProcessor p;
        p.Wrapper()->Client()->SetConnectTimeoutMs(300);
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p, s);
        p.DownloadHeaders("alt.test", -1, -1, 10);
        QVERIFY(probe.WaitDone());
        QVERIFY(probe.LastCode() > 0);
        QVERIFY(!probe.LastMessage().isEmpty());
    }
};

VORLIX_TEST_MAIN_CORE(TestNntpProcessor)
#include "test_nntp_processor.moc"
