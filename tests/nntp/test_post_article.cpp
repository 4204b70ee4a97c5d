// A new article or a reply as it is posted, without a window: the reply rules, what must be
// filled in, and the article as it reaches a loopback server.
#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "news/ArticleUnit.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/PostArticle.h"

#include <QtTest>

class TestPostArticle : public QObject {
    Q_OBJECT
private slots:
    void replyRules()
    {
        QCOMPARE(TPostArticle::ReplySubject("Remote control"), QString("Remote control"));
        QCOMPARE(TPostArticle::ReplySubject("  re: lunch"), QString("  re: lunch"));
        QCOMPARE(TPostArticle::ReplySubject("Lunch"), QString("Re: Lunch"));
        QCOMPARE(TPostArticle::ReplySubject("R e"), QString("Re: R e"));
        TArticleClass a;
        a.MessageID = "<m3@x>";
        QCOMPARE(TPostArticle::ReplyReferences(a), QString("<m3@x>"));
        a.References = " <m1@x> <m2@x>  ";
        QCOMPARE(TPostArticle::ReplyReferences(a), QString("<m1@x> <m2@x> <m3@x>"));
        QCOMPARE(TPostArticle::QuoteBody({"Sure.", ""}), (QStringList{"", "", "> Sure.", "> "}));
        QCOMPARE(TPostArticle::QuoteBody({"Sure."}, "Eve Smith <eve@x>"),
                 (QStringList{"", "", "Eve Smith wrote:", "> Sure."}));
        QCOMPARE(TPostArticle::QuoteBody({""}, "Eve Smith <eve@x>"), (QStringList{"", ""}));
        QCOMPARE(TPostArticle::QuoteBody({}), (QStringList{"", ""}));
        QCOMPARE(TPostArticle::ComposeSender("  ", "ann@example.org"), QString("<ann@example.org>"));
        QCOMPARE(TPostArticle::ComposeSender("Ann", "ann@exa\r\nmple.org"), QString("Ann <ann@exa  mple.org>"));
    }

    void attributionNameFromTheAuthor_data()
    {
        QTest::addColumn<QString>("author");
        QTest::addColumn<QString>("name");
        QTest::newRow("name and address") << "Eve Smith <eve@example.com>" << "Eve Smith";
        QTest::newRow("quoted name") << "\"Smith, Eve\" <eve@example.com>" << "Smith, Eve";
        QTest::newRow("address alone") << "<eve@example.com>" << "eve@example.com";
        QTest::newRow("bare address") << "eve@example.com" << "eve@example.com";
        QTest::newRow("name in a comment") << "eve@example.com (Eve Smith)" << "Eve Smith";
        QTest::newRow("empty comment") << "eve@example.com ()" << "eve@example.com";
        QTest::newRow("name alone") << "  Eve   Smith " << "Eve Smith";
        QTest::newRow("nothing") << "" << "";
    }
    void attributionNameFromTheAuthor()
    {
        QFETCH(QString, author);
        QFETCH(QString, name);
        QCOMPARE(TPostArticle::AttributionName(author), name);
    }

    void sendNeedsAnAddressAndText()
    {
        QCOMPARE(TPostArticle::SendRefusal("  ", "text"),
                 QString("You must enter your email address on the Newsgroup Options panel"));
        QCOMPARE(TPostArticle::SendRefusal("ann@example.org", " \n "), QString("Enter message text"));
        QCOMPARE(TPostArticle::SendRefusal("ann@example.org", "text"), QString());
    }

    void postedReplyReachesTheServer()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("POST", "340 send article\r\n");
        s.ExpectArticle(ScriptedReply("240 Article received <new@x>\r\n"));
        TNntpProcessor p;
        p.Host = s.ServerName();
        int code = 1;
        bool done = false;
        p.OnRequestDone = [&](QObject*, int c, const QString&) {
            code = c;
            done = true;
        };
        TPostArticle article;
        article.NewsGroup = "alt.test";
        article.UserName = "Jürgen";
        article.EmailAddress = "ann@example.org";
        article.ReplyToAddress = "r@example.org";
        article.References = "<m1@x> <m3@x>";
        article.Subject = "Re: Grüße";
        article.Body = {"Count me in.", ".dot", "> Sure."};
        article.PostThrough(p);
        QVERIFY(TestSupport::WaitFor([&] { return done; }));
        QCOMPARE(code, 0);
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(s.RawArticles().size(), 1);
        const QByteArray raw = s.RawArticles()[0];
        QVERIFY2(raw.startsWith("From: =?UTF-8?Q?J=C3=BCrgen?= <ann@example.org>\r\n"), raw.constData());
        QVERIFY2(raw.contains("\r\nReply-To: r@example.org\r\nReferences: <m1@x> <m3@x>\r\n"), raw.constData());
        QVERIFY2(raw.contains("\r\nSubject: Re: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"), raw.constData());
        QVERIFY2(raw.endsWith("\r\n\r\nCount me in.\r\n..dot\r\n> Sure.\r\n\r\n"), raw.constData());
    }
};

VORLIX_TEST_MAIN_CORE(TestPostArticle)
#include "test_post_article.moc"
