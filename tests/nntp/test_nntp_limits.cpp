// Servers that lie or never stop, against the scripted loopback server: article numbers beyond
// 32 bits and outside the range GROUP reported, a renumbered group, an answer without end and
// an answer that drips just fast enough to beat the idle time-out.
#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "core/RegistryUnit.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NNTPWrapper.h"
#include "nntp/NntpCli.h"
#include "test_nntp_processor_probe.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLocale>
#include <QFile>
#include <QTest>
#include <limits>

namespace {

constexpr qint64 kMax64 = std::numeric_limits<qint64>::max();

struct Completion {
    quint8 rq;
    quint16 error;
    QString lastResponse;
};

// A client with its completions and data lines recorded.
struct CliProbe {
    TNntpCli cli;
    QList<Completion> done;
    QStringList lines;
    qint64 lineBytes = 0;
    int connected = 0;

    CliProbe()
    {
        cli.OnRequestDone = [this](QObject*, quint8 rq, quint16 error) {
            done.append({rq, error, cli.LastResponse()});
        };
        cli.OnSessionConnected = [this](QObject*, quint16) { ++connected; };
        cli.OnMessageLine = [this](QObject*) {
            lines << cli.LastResponse();
            lineBytes += cli.LastResponseBytes().size() + 2;
        };
    }
    void ConnectTo(ScriptedNntpServer& server)
    {
        cli.SetHost(server.ServerName());
        const int before = connected;
        cli.Connect();
        QVERIFY(TestSupport::WaitFor([&] { return connected > before; }));
    }
    bool WaitDone(int count, int ms = 15000)
    {
        return TestSupport::WaitFor([&] { return done.size() >= count; }, ms);
    }
    // Lets queued events run, so a completion that should not come would have arrived.
    void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

QByteArray DateNow()
{
    return QLocale::c()
               .toString(QDateTime::currentDateTime().addSecs(-3600), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss"))
               .toLatin1()
        + " +0000";
}

QByteArray Ov(qint64 n, const QByteArray& date = DateNow())
{
    const QByteArray num = QByteArray::number(n);
    return num + "\tSubject " + num + "\ta@example.org\t" + date + "\t<m" + num + "@example.org>\t\t100\t3";
}

QByteArray Xover(const QList<QByteArray>& lines)
{
    return ScriptedNntpServer::MultiLine("224 Overview information follows", lines);
}

QByteArray LogText()
{
    QFile log(UtilsClass::GetLogBase() + ".dbg");
    if (!log.open(QIODevice::ReadOnly))
        return QByteArray();
    return log.readAll();
}

// Every byte of the text its own write.
QList<int> EveryByte(const QByteArray& text)
{
    QList<int> cuts;
    for (int i = 1; i < text.size(); ++i)
        cuts << i;
    return cuts;
}

} // namespace

class TestNntpLimits : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { TNntpCli::SetDefaultLimits(0, 0); }

    // GROUP, BODY and XOVER carry numbers up to 2^63 - 1; larger ones read as 2^63 - 1.
    void sixtyFourBitNumbersOnTheWire()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.big", "211 5 9000000000 9223372036854775807 alt.big\r\n");
        s.Expect("BODY 9223372036854775807", "222 9223372036854775807 <a@b>\r\nx\r\n.\r\n");
        s.Expect("GROUP alt.huge", "211 1 1 99999999999999999999999 alt.huge\r\n");
        s.Expect("XOVER 5000000000-5000000099", Xover({}));
        CliProbe p;
        p.ConnectTo(s);
        p.cli.Group("alt.big");
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].error, quint16(0));
        QCOMPARE(p.cli.ArticleEstimated(), qint64(5));
        QCOMPARE(p.cli.ArticleFirst(), qint64(9000000000));
        QCOMPARE(p.cli.ArticleLast(), kMax64);
        p.cli.BodyByNumber(kMax64);
        QVERIFY(p.WaitDone(2));
        QCOMPARE(p.done[1].error, quint16(0));
        QCOMPARE(p.cli.ArticleNumber(), kMax64);
        p.cli.Group("alt.huge");
        QVERIFY(p.WaitDone(3));
        QCOMPARE(p.cli.ArticleLast(), kMax64);

        // Overview lines carry the same numbers.
        TNntpHeader h;
        bool dateReadable = false;
        TNntpProcessor::ParseOverviewLine("9223372036854775807\tS\ta@b\t\t<x@y>", h, dateReadable);
        QCOMPARE(h.Number, kMax64);

        TNntpWrapper w;
        // The wrapper refuses ranges no server has; nothing is sent for them.
        for (auto [first, last] : QList<std::pair<qint64, qint64>>{{-2147483648LL, -2147483599LL}, {7, 6}}) {
            try {
                w.GetHeaders(first, last);
                QFAIL("an invalid range was sent");
            } catch (const EVorlixError& e) {
                QCOMPARE(e.message(), QString("Header range %1 - %2 is invalid").arg(first).arg(last));
            }
        }
        try {
            w.GetHeaders(qint64(-1));
            QFAIL("an invalid number was sent");
        } catch (const EVorlixError& e) {
            QCOMPARE(e.message(), QString("Header number -1 is invalid"));
        }
        QCOMPARE(p.cli.State(), nntpReady);
        QCOMPARE(s.Errors(), QStringList());
        // The client that the wrapper does not own sends the 64-bit range as it is.
        p.cli.XOver(QString::number(5000000000LL) + "-" + QString::number(5000000099LL));
        QVERIFY(p.WaitDone(4));
        QCOMPARE(p.done[3].error, quint16(0));
        QCOMPARE(s.Errors(), QStringList());
    }

    // Overview lines numbered outside the GROUP range are dropped; a group whose newest article
    // lies below the last one we have was renumbered and is fetched from its oldest again.
    void downloadKeepsToTheServersRange_data()
    {
        QTest::addColumn<QByteArray>("groupAnswer");
        QTest::addColumn<qint64>("lastKnown");
        QTest::addColumn<QByteArray>("xover"); // empty: no XOVER may be sent
        QTest::addColumn<QList<qint64>>("sent");
        QTest::addColumn<QList<qint64>>("taken");
        QTest::addColumn<QByteArray>("logged");

        QTest::newRow("lines outside the range")
            << QByteArray("211 3 3000 3002 alt.t") << qint64(-1) << QByteArray("XOVER 3000-3002")
            << QList<qint64>{3000, 2147483647, 3001, 99, 3002} << QList<qint64>{3000, 3001, 3002}
            << QByteArray("Overview line ignored: article 2147483647 lies outside the group's range 3000 - 3002");
        QTest::newRow("renumbered below the last known")
            << QByteArray("211 3 1 3 alt.t") << qint64(2147483647) << QByteArray("XOVER 1-3")
            << QList<qint64>{1, 2, 3} << QList<qint64>{1, 2, 3}
            << QByteArray("Group alt.t was renumbered: the server's articles run 1 - 3, below the last one "
                          "received (2147483647); downloading from 1");
        QTest::newRow("up to date is not renumbered")
            << QByteArray("211 3 1 3 alt.t") << qint64(3) << QByteArray() << QList<qint64>{} << QList<qint64>{}
            << QByteArray();
        QTest::newRow("beyond 32 bits")
            << QByteArray("211 2 4000000000 5000000002 alt.t") << qint64(5000000000) << QByteArray("XOVER 5000000001-5000000002")
            << QList<qint64>{5000000001, 5000000002} << QList<qint64>{5000000001, 5000000002} << QByteArray();
        QTest::newRow("at the 64-bit end")
            << QByteArray("211 3 9223372036854775805 9223372036854775807 alt.t") << qint64(-1)
            << QByteArray("XOVER 9223372036854775805-9223372036854775807")
            << QList<qint64>{9223372036854775805, 9223372036854775807}
            << QList<qint64>{9223372036854775805, 9223372036854775807} << QByteArray();
    }

    void downloadKeepsToTheServersRange()
    {
        QFETCH(QByteArray, groupAnswer);
        QFETCH(qint64, lastKnown);
        QFETCH(QByteArray, xover);
        QFETCH(QList<qint64>, sent);
        QFETCH(QList<qint64>, taken);
        QFETCH(QByteArray, logged);

        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.t", groupAnswer + "\r\n");
        if (!xover.isEmpty()) {
            QList<QByteArray> lines;
            for (qint64 n : sent)
                lines << Ov(n);
            s.Expect(xover, Xover(lines));
        }
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.DownloadHeaders("alt.t", lastKnown, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("No more Articles"));
        QList<qint64> numbers;
        for (const TNntpHeader& h : probe.Headers)
            numbers << h.Number;
        QCOMPARE(numbers, taken);
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(s.Commands().size(), xover.isEmpty() ? 1 : 2);
        if (!logged.isEmpty())
            QVERIFY2(LogText().contains(logged), logged.constData());
    }

    // A catch-up at the top of the 64-bit range asks for the newest articles without overflow.
    void catchUpAtTheSixtyFourBitEnd()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.t", "211 3 9223372036854775805 9223372036854775807 alt.t\r\n");
        s.Expect("XOVER 9223372036854775805-9223372036854775807", Xover({Ov(kMax64)}));
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        TCatchUpRecord record;
        record.Host = s.ServerName();
        record.Groups << "alt.t";
        record.Count = 100;
        p.CatchUp({record}, -1);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Headers.size()), 1);
        QCOMPARE(probe.Headers[0].Number, kMax64);
        QCOMPARE(s.Errors(), QStringList());
    }

    // A multi-line answer may bring MaxAnswerBytes of data, counted per request; one byte
    // more ends the request with a clear message and closes the connection.
    void answerSizeLimit()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        const QString label = s.ServerName();
        const QByteArray line98(98, 'a'); // 100 bytes with its CR LF
        QList<QByteArray> exactly(10, line98);
        QList<QByteArray> over = exactly;
        over.last() += 'b';
        s.Greet();
        s.Expect("BODY 1", ScriptedNntpServer::MultiLine("222 1 <a@b>", exactly));
        s.Expect("BODY 2", ScriptedNntpServer::MultiLine("222 2 <c@d>", exactly));
        s.Expect("BODY 3", ScriptedNntpServer::MultiLine("222 3 <e@f>", over));
        CliProbe p;
        p.cli.SetMaxAnswerBytes(1000);
        p.ConnectTo(s);
        for (int n = 1; n <= 2; ++n) {
            p.cli.BodyByNumber(n);
            QVERIFY(p.WaitDone(n));
            QCOMPARE(p.done[n - 1].error, quint16(0));
        }
        QCOMPARE(p.lines.size(), 20);
        p.lines.clear();
        p.cli.BodyByNumber(3);
        QVERIFY(p.WaitDone(3));
        QCOMPARE(p.done[2].rq, quint8(nntpRqBodyByNumber));
        QCOMPARE(p.done[2].error, NntpError::AnswerTooLarge);
        QCOMPARE(p.done[2].lastResponse,
                 "The answer of " + label + " to BODY grew beyond 1000 bytes; the request was ended and the "
                                            "connection closed");
        QCOMPARE(p.lines.size(), 9); // the line that passed the limit is not handed on
        QCOMPARE(p.cli.State(), nntpNotConnected);
        p.Settle();
        QCOMPARE(p.done.size(), 3);

        // A body without end: the client stops at the limit while the server would go on.
        s.Greet();
        s.Expect("BODY 4", ScriptedReply("222 4 <g@h>\r\n").SendForever(QByteArray(998, 'x') + "\r\n"));
        CliProbe q;
        q.cli.SetMaxAnswerBytes(1024 * 1024);
        q.ConnectTo(s);
        q.cli.BodyByNumber(4);
        QVERIFY(q.WaitDone(1, 30000));
        QCOMPARE(q.done[0].error, NntpError::AnswerTooLarge);
        QCOMPARE(q.done[0].lastResponse,
                 "The answer of " + label + " to BODY grew beyond 1 MB; the request was ended and the "
                                            "connection closed");
        QVERIFY(q.lineBytes <= 1024 * 1024);
        QVERIFY(q.lineBytes > 1024 * 1024 - 1000);
        QVERIFY(s.ForeverBytes() > 1024 * 1024);
        QCOMPARE(q.cli.State(), nntpNotConnected);
        QVERIFY(TestSupport::WaitFor([&] { return !s.ClientConnected(); }));
        q.Settle();
        QCOMPARE(q.done.size(), 1);
        QCOMPARE(s.Errors(), QStringList());
    }

    // An answer that drips a byte at a time keeps the idle timer from firing; the request's
    // deadline ends it all the same.
    void requestDeadline()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        const QString label = s.ServerName();
        const QByteArray list = ScriptedNntpServer::MultiLine("215 list follows", {"alt.a 1 1 y", "alt.b 1 1 y"});
        s.SetChunkGap(100);
        s.Greet();
        s.Expect("LIST", ScriptedReply().SendSplit(list, EveryByte(list))); // about 4.5 s
        CliProbe p;
        p.cli.SetIdleTimeoutMs(400);
        p.cli.SetRequestTimeoutMs(1500);
        p.ConnectTo(s);
        QElapsedTimer t;
        t.start();
        p.cli.List();
        QVERIFY(p.WaitDone(1));
        QVERIFY2(t.elapsed() >= 1400, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(p.done[0].rq, quint8(nntpRqList));
        QCOMPARE(p.done[0].error, NntpError::TimedOut);
        QCOMPARE(p.done[0].lastResponse,
                 label + " did not finish its answer to LIST within 1.5 seconds; the request was ended");
        QCOMPARE(p.cli.State(), nntpNotConnected);
        QVERIFY(TestSupport::WaitFor([&] { return !s.ClientConnected(); }));

        // Requests that end in time are not touched by their deadline afterwards, and each
        // request has a deadline of its own.
        s.SetChunkGap(20);
        s.Greet();
        s.Expect("GROUP alt.a", "211 1 1 1 alt.a\r\n");
        s.Expect("LIST", ScriptedReply().SendSplit(list, {10, 20, 30}));
        CliProbe q;
        q.cli.SetRequestTimeoutMs(300);
        q.ConnectTo(s);
        q.cli.Group("alt.a");
        QVERIFY(q.WaitDone(1));
        QTest::qWait(400); // longer than the deadline: nothing may happen to the idle client
        QCOMPARE(q.done.size(), 1);
        QCOMPARE(q.cli.State(), nntpReady);
        q.cli.List();
        QVERIFY(q.WaitDone(2));
        QCOMPARE(q.done[1].error, quint16(0));
        QCOMPARE(q.lines, (QStringList{"alt.a 1 1 y", "alt.b 1 1 y"}));
        QCOMPARE(s.Errors(), QStringList());
    }

    // The processor ends the job with the client's message, delivers nothing of the cut-off
    // answer, and its next job runs as usual.
    void runawayAnswersEndTheJob_data()
    {
        QTest::addColumn<bool>("endless");
        QTest::newRow("body without end") << true;
        QTest::newRow("body dripping") << false;
    }

    void runawayAnswersEndTheJob()
    {
        QFETCH(bool, endless);
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        const QString label = s.ServerName();
        s.Greet();
        s.Expect("GROUP alt.t", "211 2 1 2 alt.t\r\n");
        const QByteArray body = ScriptedNntpServer::MultiLine("222 1 <m1@x>", {"Hello", "World"});
        if (endless) {
            s.Expect("BODY 1", ScriptedReply("222 1 <m1@x>\r\n").SendForever("All work and no play.\r\n"));
        } else {
            s.SetChunkGap(100);
            s.Expect("BODY 1", ScriptedReply().SendSplit(body, EveryByte(body)));
        }
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Wrapper()->Client()->SetIdleTimeoutMs(400);
        p.Wrapper()->Client()->SetRequestTimeoutMs(endless ? 60000 : 1200);
        p.Wrapper()->Client()->SetMaxAnswerBytes(256 * 1024);
        p.Host = s.ServerName();
        p.Group = "alt.t";
        p.GetBody(1);
        QVERIFY(probe.WaitDone(1, 30000));
        if (endless) {
            QCOMPARE(probe.LastCode(), int(NntpError::AnswerTooLarge));
            QCOMPARE(probe.LastMessage(), "The answer of " + label + " to BODY grew beyond 256 KB"
                                          "; the request was ended and the connection closed");
        } else {
            QCOMPARE(probe.LastCode(), int(NntpError::TimedOut));
            QCOMPARE(probe.LastMessage(),
                     label + " did not finish its answer to BODY within 1.2 seconds; the request was ended");
        }
        QVERIFY(probe.Bodies.empty());
        QVERIFY(p.Idle());

        s.SetChunkGap(20);
        s.Greet();
        s.Expect("GROUP alt.t", "211 2 1 2 alt.t\r\n");
        s.Expect("BODY 2", ScriptedNntpServer::MultiLine("222 2 <m2@x>", {"Fine"}));
        p.GetBody(2);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Bodies.size()), 1);
        QCOMPARE(probe.Bodies[0].Lines, QStringList{"Fine"});
        QCOMPARE(s.Errors(), QStringList());
    }

    // The settings store holds both limits with their defaults; every client made after
    // SetDefaultLimits starts with them, and values of 0 or below select the built-in ones.
    void limitsFromTheSettings()
    {
        TMyRegistryClass store;
        store.LoadAll();
        QCOMPARE(store.GetValue("MaxArticleBytes").toLongLong(), TNntpCli::BuiltInMaxAnswerBytes);
        QCOMPARE(store.GetValue("RequestTimeout").toLongLong() * 1000, qint64(TNntpCli::BuiltInRequestTimeoutMs));
        {
            TNntpCli cli;
            QCOMPARE(cli.MaxAnswerBytes(), qint64(64 * 1024 * 1024));
            QCOMPARE(cli.RequestTimeoutMs(), 600000);
        }
        TNntpCli::SetDefaultLimits(5000, 7000);
        {
            TNntpCli cli;
            QCOMPARE(cli.MaxAnswerBytes(), qint64(5000));
            QCOMPARE(cli.RequestTimeoutMs(), 7000);
        }
        TNntpCli::SetDefaultLimits(-1, 30LL * 24 * 3600 * 1000); // a month does not fit a timer
        {
            TNntpCli cli;
            QCOMPARE(cli.MaxAnswerBytes(), TNntpCli::BuiltInMaxAnswerBytes);
            QCOMPARE(cli.RequestTimeoutMs(), std::numeric_limits<int>::max());
        }
    }
};

VORLIX_TEST_MAIN_CORE(TestNntpLimits)
#include "test_nntp_limits.moc"
