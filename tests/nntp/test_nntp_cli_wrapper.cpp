#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "nntp/NNTPWrapper.h"

#include <QBuffer>

namespace {

// A wrapper with its six events recorded in order.
class WrapperProbe {
public:
    TNntpWrapper w;
    QStringList events;
    QStringList lines;

    WrapperProbe()
    {
        w.OnRequestDone = [this](QObject* s, quint16 e) {
            QVERIFY(s == &w);
            events << QStringLiteral("done %1").arg(e);
        };
        w.OnAborted = [this](QObject* s, quint16 e) {
            QVERIFY(s == &w);
            events << QStringLiteral("aborted %1").arg(e);
        };
        w.OnSessionConnected = [this](QObject*) { events << "connected"; };
        w.OnSessionClosed = [this](QObject*) { events << "closed"; };
        w.OnAuthenticationRequired = [this](QObject*) { events << "auth"; };
        w.OnMessageLine = [this](QObject*) { lines << w.LastResponse(); };
    }

    bool WaitEvents(int n) { return TestSupport::WaitFor([&] { return events.size() >= n; }); }
    void Settle()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

} // namespace

class TestNntpCliWrapper : public QObject {
    Q_OBJECT
private slots:
    void completionRoutingAndVocabulary();
    void destroyedWithCompletionPending();
};

void TestNntpCliWrapper::completionRoutingAndVocabulary()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet();
    server.Expect("GROUP locked", "480 authentication required\r\n");
    server.Expect("AUTHINFO USER joe", "381 more\r\n");
    server.Expect("AUTHINFO PASS pw", "281 ok\r\n");
    server.Expect("GROUP open", "211 3 5 7 open\r\n");
    server.Expect("XOVER 5-5", ScriptedNntpServer::MultiLine("224 overview", {"5\tOne\ta@b\td\t<5@x>\t\t1\t1"}));
    server.Expect("XOVER 7", ScriptedNntpServer::MultiLine("224 overview", {"7\tSeven\ta@b\td\t<7@x>\t\t1\t1"}));
    server.Expect("BODY 3", "423 no such article number\r\n");
    server.Expect("BODY 6", ScriptedNntpServer::MultiLine("222 6 <6@x>", {"body"}));
    server.Expect("LIST", ScriptedNntpServer::MultiLine("215 list", {"alt.a 2 1 y"}));
    server.Expect("HEAD 6", ScriptedNntpServer::MultiLine("221 6 <6@x>", {"Subject: s"}));
    server.Expect("NEXT", "421 no next article\r\n");
    server.Expect("POST", "340 go\r\n");
    server.ExpectArticle("240 posted\r\n");

    WrapperProbe p;
    QVERIFY(!p.w.Connected());
    p.w.Connect(server.ServerName(), "joe", "pw");
    QVERIFY(p.WaitEvents(1));
    QCOMPARE(p.events, QStringList{"connected"});
    QVERIFY(p.w.Connected());
    QCOMPARE(p.w.Client()->UserName(), QString("joe"));

    // 480 goes to the authentication event only, whatever the request.
    p.w.SetGroup("locked");
    QVERIFY(p.WaitEvents(2));
    p.Settle();
    QCOMPARE(p.events, (QStringList{"connected", "auth"}));
    QCOMPARE(p.w.LastError(), QString("480 authentication required"));

    p.w.SetUserName("joe");
    p.w.SetPassword("pw");
    p.w.Authenticate();
    QVERIFY(p.WaitEvents(3));
    QCOMPARE(p.events.last(), QString("done 0"));
    // A success after a failure empties LastError.
    QCOMPARE(p.w.LastError(), QString());

    p.w.SetGroup("open");
    QVERIFY(p.WaitEvents(4));
    QCOMPARE(p.events.last(), QString("done 0"));
    QCOMPARE(p.w.LastResponse(), QString("211 3 5 7 open"));

    // A range of one is still sent as a range; a single number as a number.
    p.w.GetHeaders(5, 5);
    QVERIFY(p.WaitEvents(5));
    p.w.GetHeaders(7);
    QVERIFY(p.WaitEvents(6));
    QCOMPARE(p.lines, (QStringList{"5\tOne\ta@b\td\t<5@x>\t\t1\t1", "7\tSeven\ta@b\td\t<7@x>\t\t1\t1"}));

    // An empty range is refused before anything is sent.
    const int sent = server.Commands().size();
    try {
        p.w.GetHeaders(5, 4);
        QFAIL("an empty range was accepted");
    } catch (const EVorlixError& e) {
        QCOMPARE(e.message(), QString("Header range 5 - 4 is invalid"));
    }
    QCOMPARE(p.w.Client()->State(), nntpReady);

    p.w.GetBody(3);
    QVERIFY(p.WaitEvents(7));
    QCOMPARE(p.events.last(), QString("done 423"));
    QCOMPARE(p.w.LastError(), QString("423 no such article number"));
    QCOMPARE(server.Commands().size(), sent + 1);

    p.lines.clear();
    p.w.GetBody(6);
    QVERIFY(p.WaitEvents(8));
    QCOMPARE(p.events.last(), QString("done 0"));
    QCOMPARE(p.lines, QStringList{"body"});
    QCOMPARE(p.w.ArticleID(), QString("6@x"));

    QBuffer list;
    list.open(QIODevice::WriteOnly);
    p.w.ListGroups(&list);
    QVERIFY(p.WaitEvents(9));
    QCOMPARE(list.data(), QByteArray("alt.a 2 1 y\r\n"));

    p.w.GetHeader(6);
    QVERIFY(p.WaitEvents(10));
    QCOMPARE(p.events.last(), QString("done 0"));
    p.w.NextArticle();
    QVERIFY(p.WaitEvents(11));
    QCOMPARE(p.events.last(), QString("done 421"));

    QByteArray article = "Subject: x\r\n\r\nbody\r\n";
    QBuffer source(&article);
    source.open(QIODevice::ReadOnly);
    p.w.Post(&source);
    QVERIFY(p.WaitEvents(12));
    QCOMPARE(p.events.last(), QString("done 0"));
    QCOMPARE(server.RawArticles(), QList<QByteArray>{article + "\r\n"});

    // The end of an abort goes to OnAborted, with the session-closed event before it.
    p.w.Abort();
    QVERIFY(p.WaitEvents(14));
    p.Settle();
    QCOMPARE(p.events.mid(12), (QStringList{"closed", "aborted 0"}));
    QVERIFY(!p.w.Connected());
    // Disconnect without a session: only the abort completion.
    p.w.Disconnect();
    QVERIFY(p.WaitEvents(15));
    p.Settle();
    QCOMPARE(p.events.size(), 15);
    QCOMPARE(p.events.last(), QString("aborted 0"));

    // The client's misuse exceptions pass through.
    try {
        p.w.SetGroup("x");
        QFAIL("GROUP accepted without a connection");
    } catch (const NntpException& e) {
        QCOMPARE(e.message(), QString("Not ready for GROUP"));
    }
    QVERIFY(server.Errors().isEmpty());

    // A server that drops the session: a failing completion and the closed event.
    server.Greet();
    server.Expect("GROUP gone", ScriptedReply().Close());
    p.events.clear();
    p.w.Connect(server.ServerName());
    QVERIFY(p.WaitEvents(1));
    QCOMPARE(p.w.Client()->UserName(), QString());
    p.w.SetGroup("gone");
    QVERIFY(p.WaitEvents(3));
    p.Settle();
    QVERIFY(p.events.contains("closed"));
    QVERIFY(p.events.contains(QStringLiteral("done %1").arg(NntpError::ConnectionClosed)));
    QCOMPARE(p.w.LastError(), server.ServerName() + " closed the connection");
    QVERIFY(!p.w.Connected());
}

void TestNntpCliWrapper::destroyedWithCompletionPending()
{
    ScriptedNntpServer server;
    QVERIFY(server.Listen());
    server.Greet();
    bool fired = false;
    auto* w = new TNntpWrapper;
    bool connected = false;
    w->OnSessionConnected = [&](QObject*) { connected = true; };
    w->OnAborted = [&](QObject*, quint16) { fired = true; };
    w->Connect(server.ServerName());
    QVERIFY(TestSupport::WaitFor([&] { return connected; }));
    // The abort's completion is queued, not delivered: the wrapper goes away first.
    w->Abort();
    QVERIFY(!fired);
    delete w;
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    QVERIFY(!fired);
}

VORLIX_TEST_MAIN_CORE(TestNntpCliWrapper)
#include "test_nntp_cli_wrapper.moc"
