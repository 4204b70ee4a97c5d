#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "nntp/NntpCli.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTcpServer>

namespace {

struct Completion {
    quint8 rq;
    quint16 error;
    QString lastResponse;
};

// A client with every event recorded.
class Probe {
public:
    TNntpCli cli;
    QList<Completion> done;
    QStringList lines;
    QList<QByteArray> displayed;
    QList<TNntpState> states;
    QStringList log; // event order
    int connected = 0;
    int closed = 0;
    int dataAvailable = 0;
    std::function<void()> afterDone; // runs inside OnRequestDone (may start the next command)
    std::function<void()> onLine;    // runs inside OnMessageLine

    Probe()
    {
        cli.OnRequestDone = [this](QObject* sender, quint8 rq, quint16 error) {
            QVERIFY(sender == &cli);
            done.append({rq, error, cli.LastResponse()});
            log << QStringLiteral("done %1 %2").arg(rq).arg(error);
            if (afterDone) {
                auto f = std::move(afterDone);
                afterDone = nullptr;
                f();
            }
        };
        cli.OnSessionConnected = [this](QObject*, quint16 error) {
            QCOMPARE(error, quint16(0));
            ++connected;
            log << "connected";
        };
        cli.OnSessionClosed = [this](QObject*, quint16) {
            ++closed;
            log << "closed";
        };
        cli.OnDataAvailable = [this](QObject*, quint16) {
            ++dataAvailable;
            log << "data " + cli.LastResponse();
        };
        cli.OnMessageBegin = [this](QObject*) { log << "begin"; };
        cli.OnMessageEnd = [this](QObject*) {
            log << QStringLiteral("end (done so far %1)").arg(done.size());
        };
        cli.OnMessageLine = [this](QObject*) {
            lines << cli.LastResponse();
            if (onLine)
                onLine();
        };
        cli.OnDisplay = [this](QObject*, const char* msg, qint32 len) { displayed << QByteArray(msg, len); };
        cli.OnStateChange = [this](QObject*) { states << cli.State(); };
    }

    bool WaitDone(int count = 1, int ms = 10000)
    {
        return TestSupport::WaitFor([&] { return done.size() >= count; }, ms);
    }

    void ConnectTo(ScriptedNntpServer& server)
    {
        cli.SetHost(server.ServerName());
        const int before = connected;
        cli.Connect();
        QVERIFY(TestSupport::WaitFor([&] { return connected > before; }));
        QCOMPARE(cli.State(), nntpReady);
    }

    // Runs pending events so a completion that should not come would have arrived.
    void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

QByteArray Repeat(char c, int n)
{
    return QByteArray(n, c);
}

} // namespace

class TestNntpCli : public QObject {
    Q_OBJECT
private slots:
    void serverNames();
    void ipv6LoopbackWithPort();
    void connectGroupAndStates();
    void multiLineAnswersAndDotTransparency();
    void linesSplitOrJoinedAcrossReads();
    void connectionClosedAtAnyPoint();
    void timeoutsAndRefusedConnection();
    void longLines();
    void malformedStatusLinesAndRawBytes();
    void postStreaming();
    void authinfoDateModeReaderNewNewsQuit();
    void abortWhileAnswerArrives();
};

void TestNntpCli::serverNames()
{
    QString host;
    quint16 port = 0;
    bool tls = true;
    QString error;
    QVERIFY(TNntpCli::ParseServerName("news.example.com", host, port, &tls, &error));
    QCOMPARE(host, QString("news.example.com"));
    QCOMPARE(port, quint16(119));
    QVERIFY(!tls);
    QVERIFY(TNntpCli::ParseServerName(" news.example.com:563 ", host, port, &tls, &error));
    QCOMPARE(port, quint16(563));
    QVERIFY(tls);
    QVERIFY(TNntpCli::ParseServerName("[2001:db8::1]:1190", host, port, &tls, &error));
    QCOMPARE(host, QString("2001:db8::1"));
    QCOMPARE(port, quint16(1190));
    QVERIFY(!tls);
    QVERIFY(TNntpCli::ParseServerName("::1", host, port, &tls, &error));
    QCOMPARE(host, QString("::1"));
    QCOMPARE(port, quint16(119));
    QVERIFY(TNntpCli::ParseServerName("[::1]", host, port, &tls, &error));
    QCOMPARE(host, QString("::1"));
    QVERIFY(TNntpCli::ParseServerName("nntps://news.example.com", host, port, &tls, &error));
    QCOMPARE(port, quint16(563));
    QVERIFY(tls);
    QVERIFY(TNntpCli::ParseServerName("nntps://news.example.com:8563", host, port, &tls, &error));
    QCOMPARE(port, quint16(8563));
    QVERIFY(tls);
    QVERIFY(TNntpCli::ParseServerName("nntp://news.example.com:120/", host, port, &tls, &error));
    QCOMPARE(host, QString("news.example.com"));
    QCOMPARE(port, quint16(120));
    QVERIFY(!tls);

    const struct {
        const char* name;
        const char* message;
    } bad[] = {
        {"", "No news server name given"},
        {"   ", "No news server name given"},
        {"news:", "Invalid server name \"news:\": missing port number"},
        {"news:abc", "Invalid server name \"news:abc\": \"abc\" is not a port number"},
        {"news:70000", "Invalid server name \"news:70000\": \"70000\" is not a port number"},
        {"news:0", "Invalid server name \"news:0\": \"0\" is not a port number"},
        {"[::1", "Invalid server name \"[::1\": missing \"]\""},
        {"[::1]x", "Invalid server name \"[::1]x\": unexpected text after \"]\""},
        {":119", "Invalid server name \":119\": missing host name"},
        {"news example", "Invalid server name \"news example\": the host name contains \" \""},
        {"1:2:3", "Invalid server name \"1:2:3\": \"1:2:3\" is not an IPv6 address"},
    };
    for (const auto& b : bad) {
        QVERIFY2(!TNntpCli::ParseServerName(b.name, host, port, &tls, &error), b.name);
        QCOMPARE(error, QString(b.message));
    }

    // Connect refuses a bad name with the same message and stays unconnected.
    TNntpCli cli;
    cli.SetHost("news:abc");
    try {
        cli.Connect();
        QFAIL("Connect accepted a bad server name");
    } catch (const NntpException& e) {
        QCOMPARE(e.message(), QString("Invalid server name \"news:abc\": \"abc\" is not a port number"));
    }
    QCOMPARE(cli.State(), nntpNotConnected);
}

void TestNntpCli::ipv6LoopbackWithPort()
{
    ScriptedNntpServer server;
    if (!server.Listen(QHostAddress::LocalHostIPv6))
        QSKIP("this machine has no IPv6 loopback");
    QCOMPARE(server.ServerName(), QStringLiteral("[::1]:%1").arg(server.Port()));
    server.Greet();
    server.Expect("GROUP alt.v6", "211 1 1 1 alt.v6\r\n");
    Probe p;
    p.ConnectTo(server);
    p.cli.Group("alt.v6");
    QVERIFY(p.WaitDone(1));
    QCOMPARE(p.done[0].error, quint16(0));

    // Failures name the server the way the user wrote it, brackets included.
    server.Expect("GROUP gone", ScriptedReply().Close());
    p.cli.Group("gone");
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[1].lastResponse, QStringLiteral("[::1]:%1 closed the connection").arg(server.Port()));
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::connectGroupAndStates()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet();
    server.Expect("GROUP alt.test", "211 1234 3000 4233 alt.test\r\n");
    server.Expect("GROUP nope", "411 No such group nope\r\n");

    Probe p;
    QCOMPARE(p.cli.StatusCode(), 503);
    QCOMPARE(p.cli.ArticleFirst(), -1);
    try {
        p.cli.Group("alt.test");
        QFAIL("GROUP was sent while not connected");
    } catch (const NntpException& e) {
        QCOMPARE(e.message(), QString("Not ready for GROUP"));
    }

    p.ConnectTo(server);
    QCOMPARE(p.states, (QList<TNntpState>{nntpDnsLookup, nntpWaitingBanner, nntpReady}));
    QVERIFY(p.cli.PostingPermited());
    QCOMPARE(p.cli.StatusCode(), 200);
    QVERIFY(p.done.isEmpty()); // a successful connect has no completion of its own
    try {
        p.cli.Connect();
        QFAIL("Connect accepted while connected");
    } catch (const NntpException& e) {
        QCOMPARE(e.message(), QString("Already connected"));
    }

    // The completion handler may start the next command at once.
    p.afterDone = [&] {
        QCOMPARE(p.cli.State(), nntpReady);
        QCOMPARE(p.cli.ArticleEstimated(), 1234);
        QCOMPARE(p.cli.ArticleFirst(), 3000);
        QCOMPARE(p.cli.ArticleLast(), 4233);
        p.cli.Group("nope");
    };
    p.states.clear();
    p.cli.Group("  alt.test  ");
    QCOMPARE(p.cli.State(), nntpWaitingResponse);
    QCOMPARE(p.cli.RqType(), quint8(nntpRqGroup));
    QCOMPARE(p.cli.CommandLine(), QString("GROUP alt.test"));
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[0].rq, quint8(nntpRqGroup));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(p.done[1].error, quint16(411));
    QCOMPARE(p.done[1].lastResponse, QString("411 No such group nope"));
    QCOMPARE(p.cli.ArticleEstimated(), 0);
    QCOMPARE(p.cli.ArticleFirst(), 0);
    QCOMPARE(p.cli.ArticleLast(), 0);
    QCOMPARE(p.states, (QList<TNntpState>{nntpWaitingResponse, nntpReady, nntpWaitingResponse, nntpReady}));
    QCOMPARE(server.Commands(), (QList<QByteArray>{"GROUP alt.test", "GROUP nope"}));
    QVERIFY(server.Errors().isEmpty());

    // Other commands check the state too and name themselves.
    TNntpCli idle;
    const QList<std::pair<std::function<void()>, QString>> refusals = {
        {[&] { idle.BodyByNumber(1); }, "Not ready for BODY"},
        {[&] { idle.ArticleByID("a@b"); }, "Not ready for ARTICLE"},
        {[&] { idle.HeadByNumber(1); }, "Not ready for HEAD"},
        {[&] { idle.StatByID("a@b"); }, "Not ready for STAT"},
        {[&] { idle.XOver("1-2"); }, "Not ready for XOVER"},
        {[&] { idle.List(); }, "Not ready for LIST"},
        {[&] { idle.ListOverViewFmt(); }, "Not ready for LIST OVERVIEW.FMT"},
        {[&] { idle.ModeReader(); }, "Not ready for ModeReader"},
        {[&] { idle.Post(nullptr); }, "Not ready for POST"},
        {[&] { idle.Quit(); }, "Not ready for QUIT"},
    };
    for (const auto& [call, message] : refusals) {
        try {
            call();
            QFAIL(qPrintable("no refusal: " + message));
        } catch (const NntpException& e) {
            QCOMPARE(e.message(), message);
        }
    }
    QCOMPARE(idle.State(), nntpNotConnected);
}

void TestNntpCli::multiLineAnswersAndDotTransparency()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet("201 read only\r\n");
    server.Expect("BODY 3001",
                  "222 3001 <abc@example.com> body follows\r\n"
                  "..\r\n"
                  "..text\r\n"
                  "\r\n"
                  "plain . line\r\n"
                  ".\r\n");
    server.Expect("BODY", "420 no current article\r\n");
    server.Expect("NEXT", "223 3002 <n@x> article exists\r\n");
    server.Expect("LIST", ScriptedNntpServer::MultiLine("215 list follows", {"alt.a 10 1 y", "alt.b 5 3 n"}));
    server.Expect("ARTICLE <x@y>", "430 no such article\r\n");
    server.Expect("XHDR Subject 1-2",
                  ScriptedNntpServer::MultiLine("221 Subject follows", {"1 Hello", "2 World", ".NET 3"}));

    Probe p;
    p.ConnectTo(server);
    QVERIFY(!p.cli.PostingPermited());

    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    p.cli.BodyByNumber(3001, &stream);
    QVERIFY(p.WaitDone(1));
    QCOMPARE(p.done[0].rq, quint8(nntpRqBodyByNumber));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(p.lines, (QStringList{".", ".text", "", "plain . line"}));
    QCOMPARE(stream.data(), QByteArray(".\r\n.text\r\n\r\nplain . line\r\n"));
    QCOMPARE(p.cli.LastResponse(), QString("222 3001 <abc@example.com> body follows"));
    QCOMPARE(p.done[0].lastResponse, QString("222 3001 <abc@example.com> body follows"));
    QCOMPARE(p.cli.ArticleNumber(), 3001);
    QCOMPARE(p.cli.ArticleID(), QString("abc@example.com"));
    // OnMessageEnd comes before the completion, which comes from the event loop.
    QVERIFY(p.log.contains("begin"));
    QVERIFY(p.log.contains("end (done so far 0)"));
    QCOMPARE(p.log.last(), QString("done 10 0"));

    p.cli.BodyByNumber(0);
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[1].error, quint16(420));
    QCOMPARE(p.cli.ArticleNumber(), -1);

    p.lines.clear();
    p.cli.Next();
    QVERIFY(p.WaitDone(3));
    QCOMPARE(p.done[2].rq, quint8(nntpRqNext));
    QCOMPARE(p.done[2].error, quint16(0));
    QVERIFY(p.lines.isEmpty());
    QCOMPARE(p.cli.ArticleNumber(), 3002);
    QCOMPARE(p.cli.ArticleID(), QString("n@x"));

    QBuffer list;
    list.open(QIODevice::WriteOnly);
    p.cli.List(&list);
    QVERIFY(p.WaitDone(4));
    QCOMPARE(p.done[3].error, quint16(0));
    QCOMPARE(list.data(), QByteArray("alt.a 10 1 y\r\nalt.b 5 3 n\r\n"));

    p.cli.ArticleByID("x@y");
    QVERIFY(p.WaitDone(5));
    QCOMPARE(p.done[4].rq, quint8(nntpRqArticleByID));
    QCOMPARE(p.done[4].error, quint16(430));

    QStringList xhdr;
    int xBegin = 0, xEnd = 0;
    p.cli.OnXHdrBegin = [&](QObject*) { ++xBegin; };
    p.cli.OnXHdrLine = [&](QObject*) { xhdr << p.cli.LastResponse(); };
    p.cli.OnXHdrEnd = [&](QObject*) { ++xEnd; };
    p.cli.XHdr(nullptr, "Subject", "1-2");
    QVERIFY(p.WaitDone(6));
    QCOMPARE(p.done[5].error, quint16(0));
    // XHDR data lines are dot-stuffed like every multi-line answer.
    QCOMPARE(xhdr, (QStringList{"1 Hello", "2 World", ".NET 3"}));
    QCOMPARE(xBegin, 1);
    QCOMPARE(xEnd, 1);
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::linesSplitOrJoinedAcrossReads()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    QList<QByteArray> overview;
    for (int i = 1; i <= 6; ++i)
        overview << QByteArray::number(i) + "\tSubject " + QByteArray::number(i) + "\tA <a@b>\tdate\t<" +
                QByteArray::number(i) + "@x>\t\t100\t5";
    const QByteArray answer = ScriptedNntpServer::MultiLine("224 overview follows", overview);
    // Cut inside the status code, between CR and LF, in the middle of a line, and just before
    // the final ".".
    const int crlf = answer.indexOf("\r\n");
    const QList<int> cuts = {2, crlf + 1, crlf + 10, int(answer.size()) - 3};
    // The greeting arrives in two pieces as well.
    server.Greet(ScriptedReply().SendSplit("200 split greeting\r\n", {5}));
    server.Expect("XOVER 1-6", ScriptedReply().SendSplit(answer, cuts));
    // Status line, data lines and end in one write, followed by a stray line in the same write.
    server.Expect("XOVER 1-2", ScriptedNntpServer::MultiLine("224 ok", overview.mid(0, 2)) + "299 stray line\r\n");

    Probe p;
    p.ConnectTo(server);
    QCOMPARE(p.cli.LastResponse(), QString("200 split greeting"));
    QVERIFY(p.displayed.size() >= 2);

    p.displayed.clear();
    p.cli.XOver("1-6");
    QVERIFY(p.WaitDone(1));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(p.lines.size(), 6);
    for (int i = 0; i < 6; ++i)
        QCOMPARE(p.lines[i], QString::fromUtf8(overview[i]));
    QCOMPARE(p.displayed.join(), answer);
    // The pieces really arrived in separate reads, some ending inside a line.
    QVERIFY2(p.displayed.size() >= 3, qPrintable(QString::number(p.displayed.size())));
    QVERIFY(std::any_of(p.displayed.begin(), p.displayed.end(), [](const QByteArray& b) { return !b.endsWith('\n'); }));

    p.lines.clear();
    p.cli.XOver("1-2");
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[1].error, quint16(0));
    QCOMPARE(p.lines, (QStringList{QString::fromUtf8(overview[0]), QString::fromUtf8(overview[1])}));
    QVERIFY(TestSupport::WaitFor([&] { return p.dataAvailable == 1; }));
    QVERIFY(p.log.contains("data 299 stray line"));
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::connectionClosedAtAnyPoint()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    const QString label = server.ServerName();

    // In the middle of a multi-line answer: the lines that came are kept, the request fails.
    server.Greet();
    server.Expect("BODY 1", ScriptedReply().Send("222 1 <a@b>\r\nfirst\r\nsecond\r\n").Close());
    {
        Probe p;
        p.ConnectTo(server);
        p.cli.BodyByNumber(1);
        QVERIFY(p.WaitDone(1));
        QVERIFY(TestSupport::WaitFor([&] { return p.closed == 1; }));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].rq, quint8(nntpRqBodyByNumber));
        QCOMPARE(p.done[0].error, NntpError::ConnectionClosed);
        QCOMPARE(p.done[0].lastResponse, label + " closed the connection in the middle of an answer");
        QCOMPARE(p.lines, (QStringList{"first", "second"}));
        QCOMPARE(p.cli.State(), nntpNotConnected);
    }

    // After the command, before any answer.
    server.Greet();
    server.Expect("GROUP x", ScriptedReply().Close());
    {
        Probe p;
        p.ConnectTo(server);
        p.cli.Group("x");
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].error, NntpError::ConnectionClosed);
        QCOMPARE(p.done[0].lastResponse, label + " closed the connection");
    }

    // Before the greeting.
    server.Greet(ScriptedReply().Close());
    {
        Probe p;
        p.cli.SetHost(label);
        p.cli.Connect();
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].rq, quint8(nntpRqConnect));
        QCOMPARE(p.done[0].error, NntpError::ConnectionClosed);
        QCOMPARE(p.done[0].lastResponse, label + " closed the connection before greeting");
        QCOMPARE(p.connected, 0);
        QCOMPARE(p.cli.State(), nntpNotConnected);
    }

    // While idle after a complete answer: no completion, only the closed event.
    server.Greet();
    server.Expect("GROUP a", ScriptedReply("211 1 1 1 a\r\n").Close());
    {
        Probe p;
        p.ConnectTo(server);
        p.cli.Group("a");
        QVERIFY(p.WaitDone(1));
        QVERIFY(TestSupport::WaitFor([&] { return p.closed == 1; }));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].error, quint16(0));
        QCOMPARE(p.cli.State(), nntpNotConnected);
    }

    // A complete answer and the close in the same write: the answer counts.
    server.Greet();
    server.Expect("BODY 2", ScriptedReply().Send(ScriptedNntpServer::MultiLine("222 2 <c@d>", {"only"})).Close());
    server.SetChunkGap(0);
    {
        Probe p;
        p.ConnectTo(server);
        p.cli.BodyByNumber(2);
        QVERIFY(p.WaitDone(1));
        QVERIFY(TestSupport::WaitFor([&] { return p.closed == 1; }));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].error, quint16(0));
        QCOMPARE(p.lines, QStringList{"only"});
        QCOMPARE(p.cli.ArticleID(), QString("c@d"));
    }
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::timeoutsAndRefusedConnection()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    const QString label = server.ServerName();

    // A greeting that never comes.
    server.GreetNever();
    {
        Probe p;
        p.cli.SetConnectTimeoutMs(300);
        p.cli.SetHost(label);
        QElapsedTimer t;
        t.start();
        p.cli.Connect();
        QVERIFY(p.WaitDone(1, 5000));
        QVERIFY(t.elapsed() >= 250);
        QCOMPARE(p.done[0].rq, quint8(nntpRqConnect));
        QCOMPARE(p.done[0].error, NntpError::TimedOut);
        QCOMPARE(p.done[0].lastResponse, "No answer from " + label + " within 0.3 seconds");
        QCOMPARE(p.cli.State(), nntpNotConnected);
        QCOMPARE(p.connected, 0);
        p.Settle();
        QCOMPARE(p.done.size(), 1);
    }

    // A command that gets no answer; then an answer that trickles in slower than nothing-at-all
    // would be allowed, but never with a gap as long as the limit.
    server.Greet();
    server.Expect("GROUP slow", ScriptedReply());
    server.Greet();
    server.Expect("LIST", ScriptedReply().SendSplit(ScriptedNntpServer::MultiLine("215 list", {"a 1 1 y", "b 1 1 y"}),
                                                    {4, 8, 12, 16, 20, 24}));
    {
        Probe p;
        p.cli.SetIdleTimeoutMs(600);
        p.ConnectTo(server);
        p.cli.Group("slow");
        QVERIFY(p.WaitDone(1, 5000));
        QCOMPARE(p.done[0].rq, quint8(nntpRqGroup));
        QCOMPARE(p.done[0].error, NntpError::TimedOut);
        QCOMPARE(p.done[0].lastResponse, label + " sent nothing for 0.6 seconds; the request was ended");
        QCOMPARE(p.cli.State(), nntpNotConnected);

        server.SetChunkGap(150);
        QElapsedTimer t;
        t.start();
        p.ConnectTo(server);
        p.cli.List();
        QVERIFY(p.WaitDone(2, 5000));
        QCOMPARE(p.done[1].error, quint16(0));
        QVERIFY(t.elapsed() >= 800); // longer than the limit, but never silent that long
        QCOMPARE(p.lines, (QStringList{"a 1 1 y", "b 1 1 y"}));
    }

    // Nobody listening.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    const quint16 port = closed.serverPort();
    closed.close();
    {
        Probe p;
        p.cli.SetHost(QStringLiteral("127.0.0.1:%1").arg(port));
        p.cli.Connect();
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].rq, quint8(nntpRqConnect));
        QCOMPARE(p.done[0].error, NntpError::ConnectionRefused);
        QCOMPARE(p.done[0].lastResponse, QStringLiteral("Connection refused by 127.0.0.1:%1").arg(port));
        QCOMPARE(p.cli.State(), nntpNotConnected);
    }
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::longLines()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    const QByteArray fits = Repeat('x', TNntpCli::MaxLineLength);
    const QByteArray under = Repeat('y', TNntpCli::MaxLineLength - 1);
    const QByteArray over = Repeat('z', TNntpCli::MaxLineLength + 1);
    server.Greet();
    server.Expect("BODY 1", ScriptedNntpServer::MultiLine("222 1 <a@b>", {"short", fits, under, "after"}));
    server.Expect("BODY 2", ScriptedNntpServer::MultiLine("222 2 <c@d>", {"before", over, "never"}));

    Probe p;
    p.ConnectTo(server);
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    p.cli.BodyByNumber(1, &stream);
    QVERIFY(p.WaitDone(1, 20000));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(p.lines.size(), 4);
    QCOMPARE(p.lines[1].size(), TNntpCli::MaxLineLength);
    QCOMPARE(p.lines[1], QString::fromLatin1(fits));
    QCOMPARE(p.lines[2], QString::fromLatin1(under));
    QCOMPARE(p.lines[3], QString("after"));
    QCOMPARE(stream.data().size(), qsizetype(5 + 2 + fits.size() + 2 + under.size() + 2 + 5 + 2));

    p.lines.clear();
    p.cli.BodyByNumber(2);
    QVERIFY(p.WaitDone(2, 20000));
    QCOMPARE(p.done[1].error, NntpError::LineTooLong);
    QCOMPARE(p.done[1].lastResponse,
             server.ServerName() + " sent a line longer than 1 MiB (1048576 bytes); the request was ended");
    QCOMPARE(p.lines, QStringList{"before"});
    QVERIFY(TestSupport::WaitFor([&] { return p.cli.State() == nntpNotConnected; }));
    p.Settle();
    QCOMPARE(p.done.size(), 2);
}

void TestNntpCli::malformedStatusLinesAndRawBytes()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    const QString label = server.ServerName();

    // Greetings that are not an NNTP greeting, or a refusal.
    server.Greet("hello there\r\n");
    server.Greet("502 access denied\r\n");
    for (const auto& [code, text] : QList<std::pair<quint16, QString>>{
             {NntpError::Protocol, label + " did not greet as a news server: \"hello there\""},
             {quint16(502), QString("502 access denied")}}) {
        Probe p;
        p.cli.SetHost(label);
        p.cli.Connect();
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].rq, quint8(nntpRqConnect));
        QCOMPARE(p.done[0].error, code);
        QCOMPARE(p.done[0].lastResponse, text);
        QCOMPARE(p.connected, 0);
        QVERIFY(TestSupport::WaitFor([&] { return p.cli.State() == nntpNotConnected; }));
    }

    // Answers that are no status lines end the request and the connection.
    for (const QByteArray& garbage : QList<QByteArray>{"garbage", "21", "2115 x", "-211 1 2 3", ""}) {
        server.Greet();
        server.Expect("GROUP g", garbage + "\r\n");
        Probe p;
        p.ConnectTo(server);
        p.cli.Group("g");
        QVERIFY(p.WaitDone(1));
        QCOMPARE(p.done[0].error, NntpError::Protocol);
        QCOMPARE(p.done[0].lastResponse,
                 label + " sent an answer that is not an NNTP status line: \"" + QString::fromUtf8(garbage) + "\"");
        QVERIFY(TestSupport::WaitFor([&] { return p.cli.State() == nntpNotConnected; }));
    }

    // NUL bytes, 8-bit text that is not UTF-8, UTF-8, and numbers beyond 32 bits.
    server.Greet();
    server.Expect("GROUP big", "211 99999999999 1 2147483648 big\r\n");
    server.Expect("BODY 5", ScriptedNntpServer::MultiLine("222 5 <e@f>", {QByteArray("a\0b", 3), "caf\xe9", "caf\xc3\xa9"}));
    Probe p;
    p.ConnectTo(server);
    p.cli.Group("big");
    QVERIFY(p.WaitDone(1));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(p.cli.ArticleEstimated(), qint64(99999999999));
    QCOMPARE(p.cli.ArticleLast(), qint64(2147483648));
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    p.cli.BodyByNumber(5, &stream);
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[1].error, quint16(0));
    QCOMPARE(p.lines, (QStringList{"a b", QString::fromUtf8("caf\u00e9"), QString::fromUtf8("caf\u00e9")}));
    QCOMPARE(stream.data(), QByteArray("a b\r\ncaf\xe9\r\ncaf\xc3\xa9\r\n"));
    QVERIFY(!p.displayed.join().contains('\0'));
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::postStreaming()
{
    // The article as the posting code streams it: CR LF lines, dot-stuffed, several blocks long.
    QList<QByteArray> lines = {"From: <me@example.com>", "Newsgroups: alt.test", "Subject: dots", "", ".", ".hidden",
                               "..two", "normal"};
    for (int i = 0; i < 300; ++i)
        lines << "Line " + QByteArray::number(i) + " of a long article, long enough to need several blocks.";
    QByteArray stuffed;
    QByteArray plain;
    for (const QByteArray& l : lines) {
        stuffed += (l.startsWith('.') ? "." + l : l) + "\r\n";
        plain += l + "\r\n";
    }
    QVERIFY(stuffed.size() > 4 * TNntpCli::PostBlockSize);

    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet();
    server.Expect("POST", "340 send article\r\n");
    server.ExpectArticle("240 article posted ok\r\n");
    server.Expect("POST", "340 send article\r\n");
    server.ExpectArticle("240 article posted ok\r\n");
    server.Expect("POST", "440 posting not allowed\r\n");
    server.Expect("GROUP after", "211 0 1 0 after\r\n");
    server.Expect("POST", "340 send article\r\n");
    server.ExpectArticle(ScriptedReply().Close());

    Probe p;
    p.ConnectTo(server);
    QBuffer source(&stuffed);
    source.open(QIODevice::ReadOnly);
    p.cli.Post(&source);
    QVERIFY(p.WaitDone(1));
    QCOMPARE(p.done[0].rq, quint8(nntpRqPost));
    QCOMPARE(p.done[0].error, quint16(0));
    QCOMPARE(server.RawArticles().size(), 1);
    QCOMPARE(server.RawArticles()[0], stuffed + "\r\n");
    QCOMPARE(server.Articles()[0], plain + "\r\n");

    // An empty article is only the end sequence.
    QByteArray nothing;
    QBuffer empty(&nothing);
    empty.open(QIODevice::ReadOnly);
    p.cli.Post(&empty);
    QVERIFY(p.WaitDone(2));
    QCOMPARE(p.done[1].error, quint16(0));
    QCOMPARE(server.RawArticles()[1], QByteArray("\r\n"));

    // A refused POST sends no article: the next command is the next line the server sees.
    QBuffer again(&stuffed);
    again.open(QIODevice::ReadOnly);
    p.cli.Post(&again);
    QVERIFY(p.WaitDone(3));
    QCOMPARE(p.done[2].error, quint16(440));
    p.cli.Group("after");
    QVERIFY(p.WaitDone(4));
    QCOMPARE(p.done[3].error, quint16(0));

    // The connection lost while the article is out: "441 posting failed".
    QBuffer lost(&stuffed);
    lost.open(QIODevice::ReadOnly);
    p.cli.Post(&lost);
    QVERIFY(p.WaitDone(5));
    QCOMPARE(p.done[4].rq, quint8(nntpRqPost));
    QCOMPARE(p.done[4].error, quint16(441));
    QCOMPARE(p.done[4].lastResponse, QString("441 posting failed"));
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::authinfoDateModeReaderNewNewsQuit()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet();
    server.Expect("AUTHINFO USER joe", "381 password please\r\n");
    server.Expect("AUTHINFO PASS s3cret", "281 welcome\r\n");
    server.Expect("AUTHINFO USER joe", "381 password please\r\n");
    server.Expect("AUTHINFO PASS s3cret", "481 authentication failed\r\n");
    server.Expect("AUTHINFO USER joe", "281 no password needed\r\n");
    server.Expect("AUTHINFO USER joe", "502 not for you\r\n");
    server.Expect("DATE", "111 20240229123456\r\n");
    server.Expect("DATE", "111 not a date\r\n");
    server.Expect("MODE READER", "201 reading only\r\n");
    server.Expect("MODE READER", "502 no\r\n");
    server.Expect("NEWGROUPS 240102 030405 GMT <alt>", ScriptedNntpServer::MultiLine("231 new groups", {"alt.new 1 1 y"}));
    server.Expect("NEWNEWS * 240102 030405", ScriptedNntpServer::MultiLine("230 new news", {"<n@x>"}));
    server.Expect("QUIT", ScriptedReply("205 bye\r\n").Close());

    Probe p;
    p.ConnectTo(server);
    p.cli.SetUserName("joe");
    p.cli.SetPassWord("s3cret");
    const QList<quint16> expected = {0, 481, 0, 502};
    for (int i = 0; i < expected.size(); ++i) {
        p.cli.Authenticate();
        QCOMPARE(p.cli.CommandLine(), QString("AUTHINFO USER joe"));
        QVERIFY(p.WaitDone(i + 1));
        QCOMPARE(p.done[i].rq, quint8(nntpRqAuthenticate));
        QCOMPARE(p.done[i].error, expected[i]);
        if (i == 0)
            QCOMPARE(p.cli.CommandLine(), QString("AUTHINFO PASS ****"));
    }
    QCOMPARE(p.done[1].lastResponse, QString("481 authentication failed"));

    // Arguments with line breaks would smuggle in commands: refused, nothing sent.
    const int sent = server.Commands().size();
    p.cli.SetUserName("joe\r\nQUIT");
    try {
        p.cli.Authenticate();
        QFAIL("a user name with a line break was sent");
    } catch (const NntpException& e) {
        QCOMPARE(e.message(), QString("The user name or password contains a line break"));
    }
    try {
        p.cli.Group("alt.test\r\nQUIT");
        QFAIL("a group name with a line break was sent");
    } catch (const NntpException&) {
    }
    try {
        p.cli.BodyByID(QString("a@b") + QChar(0) + "x");
        QFAIL("a message ID with NUL was sent");
    } catch (const NntpException&) {
    }
    QCOMPARE(p.cli.State(), nntpReady);

    p.cli.Date();
    QVERIFY(p.WaitDone(5));
    QCOMPARE(p.done[4].error, quint16(0));
    QCOMPARE(p.cli.ServerDate().Value, TDateTime::Encode(2024, 2, 29, 12, 34, 56)->Value);
    p.cli.Date();
    QVERIFY(p.WaitDone(6));
    QCOMPARE(p.done[5].error, quint16(0));
    QCOMPARE(p.cli.ServerDate().Value, 0.0);

    p.cli.ModeReader();
    QVERIFY(p.WaitDone(7));
    QCOMPARE(p.done[6].error, quint16(0));
    p.cli.ModeReader();
    QVERIFY(p.WaitDone(8));
    QCOMPARE(p.done[7].error, quint16(502));

    const TDateTime when = *TDateTime::Encode(2024, 1, 2, 3, 4, 5);
    p.cli.NewGroups(when, true, "alt");
    QVERIFY(p.WaitDone(9));
    QCOMPARE(p.done[8].rq, quint8(nntpRqNewGroups));
    QCOMPARE(p.done[8].error, quint16(0));
    p.cli.NewNews("", when, false, "");
    QVERIFY(p.WaitDone(10));
    QCOMPARE(p.done[9].error, quint16(0));
    QCOMPARE(p.lines, (QStringList{"alt.new 1 1 y", "<n@x>"}));

    p.cli.Quit();
    QVERIFY(p.WaitDone(11));
    QCOMPARE(p.done[10].rq, quint8(nntpRqQuit));
    QCOMPARE(p.done[10].error, quint16(0));
    QVERIFY(TestSupport::WaitFor([&] { return p.closed == 1; }));
    p.Settle();
    QCOMPARE(p.done.size(), 11);
    QCOMPARE(p.cli.State(), nntpNotConnected);
    QCOMPARE(server.Commands().size(), sent + 7);
    QVERIFY(server.Errors().isEmpty());
}

void TestNntpCli::abortWhileAnswerArrives()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    QList<QByteArray> body;
    for (int i = 0; i < 5; ++i)
        body << "line " + QByteArray::number(i);
    const QByteArray answer = ScriptedNntpServer::MultiLine("222 1 <a@b>", body);
    const int afterSecond = answer.indexOf("line 2");

    // Aborted from inside the line event.
    server.Greet();
    server.Expect("BODY 1", answer);
    {
        Probe p;
        p.ConnectTo(server);
        p.onLine = [&] {
            if (p.lines.size() == 2)
                p.cli.Abort();
        };
        p.cli.BodyByNumber(1);
        QVERIFY(p.WaitDone(1));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].rq, quint8(nntpRqAbort));
        QCOMPARE(p.done[0].error, quint16(0));
        QCOMPARE(p.lines, (QStringList{"line 0", "line 1"}));
        QCOMPARE(p.cli.LastResponse(), QString("205 Closing connection - goodbye"));
        QCOMPARE(p.cli.StatusCode(), 205);
        QCOMPARE(p.cli.State(), nntpNotConnected);
        QCOMPARE(p.closed, 1);

        // A new session works after the abort.
        server.Greet();
        server.Expect("GROUP again", "211 1 1 1 again\r\n");
        p.ConnectTo(server);
        p.cli.Group("again");
        QVERIFY(p.WaitDone(2));
        QCOMPARE(p.done[1].error, quint16(0));
    }

    // Aborted by the caller between two pieces of the answer; the rest is never seen.
    server.Greet();
    server.Expect("BODY 1", ScriptedReply().SendSplit(answer, {afterSecond}));
    server.SetChunkGap(200);
    {
        Probe p;
        p.ConnectTo(server);
        p.cli.BodyByNumber(1);
        QVERIFY(TestSupport::WaitFor([&] { return p.lines.size() == 2; }));
        p.cli.Abort();
        QVERIFY(p.WaitDone(1));
        QVERIFY(TestSupport::WaitFor([&] { return server.Finished(); }));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].rq, quint8(nntpRqAbort));
        QCOMPARE(p.lines.size(), 2);
    }

    // Abort without a connection still completes, once.
    {
        Probe p;
        p.cli.Abort();
        QVERIFY(p.WaitDone(1));
        p.Settle();
        QCOMPARE(p.done.size(), 1);
        QCOMPARE(p.done[0].rq, quint8(nntpRqAbort));
        QCOMPARE(p.closed, 0);
    }
    QVERIFY(server.Errors().isEmpty());
}

VORLIX_TEST_MAIN_CORE(TestNntpCli)
#include "test_nntp_cli.moc"
