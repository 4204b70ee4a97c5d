// The post window end to end: the main window's checks, the window's own checks, the exact
// article on the wire (loopback server that records it), failure and retry, replies, text
// beyond ASCII, and a real post to the INN test server read back from its spool.
#include "ScriptedNntpServer.h"
#include "TestSupport.h"

#include "ScriptedWindows.h"
#include "core/RegistryUnit.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "nntp/NNTPProcessor.h"
#include "gui/nntp/PostReplyUnit.h"
#include "nntp/PostArticle.h"
#include "nntp/Rfc2047.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <functional>

namespace {

const QString NoEmail = QStringLiteral("You must enter your email address on the Newsgroup Options panel");

// A news store with one server and one newsgroup on it.
struct Fixture {
    TNewsStore tree;
    TMyRegistryClass store;
    TConfigClass* server = nullptr;
    TConfigClass* group = nullptr;

    Fixture(const QString& host, const QString& groupName, const QString& user = QString(),
            const QString& pass = QString())
    {
        server = tree.AddServerEntry(host, user, pass, false, QStringLiteral("250101120000"));
        group = tree.AddGroupEntry(server, groupName, QStringLiteral("250101120001"));
        store.SetValue(QStringLiteral("EmailAddress"), QStringLiteral("ann@example.org"));
        store.SetValue(QStringLiteral("UserName"), QStringLiteral("Ann"));
        store.SetValue(QStringLiteral("ReplyToAddress"), QString());
    }
};

// Runs the window the command opens through the scripted dialog service.
using TDriver = std::function<int(TPostReply*)>;
void QueueDriver(TScopedScriptedWindows& d, TDriver drive)
{
    d.DialogHandlers.push_back([drive](QDialog* dlg) {
        auto* w = qobject_cast<TPostReply*>(dlg);
        if (!w)
            return int(QDialog::Rejected);
        w->show();
        return drive(w);
    });
}

// Clicks Send and waits for the post to end; the result the window ended with, or -1 when it
// is still open.
int SendAndWait(TPostReply* w)
{
    w->SendButton()->click();
    // A refusal of the window's own checks is immediate: nothing is on its way.
    if (!w->Processor() || w->Processor()->Idle())
        return w->isVisible() ? -1 : w->result();
    if (!TestSupport::WaitFor([w] { return !w->isVisible() || (w->Processor() && w->Processor()->Idle()); }))
        return -2;
    return w->isVisible() ? -1 : w->result();
}

QByteArray Head(const QByteArray& from, const QByteArray& subject, const QByteArray& extra = {})
{
    return "From: " + from + "\r\nNewsgroups: alt.test\r\nSubject: " + subject + "\r\nOrganization: None\r\n" + extra
        + "X-Newsreader: " + TNntpProcessor::NewsreaderText().toUtf8() + "\r\n";
}

void ExpectPost(ScriptedNntpServer& s, const QByteArray& answer = "240 Article received <new@x>\r\n")
{
    s.Greet();
    s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
    s.Expect("POST", "340 send article\r\n");
    s.ExpectArticle(ScriptedReply(answer));
}

// One command and its status line, read with a plain socket.
QByteArray Command(QTcpSocket& sock, const QByteArray& line)
{
    sock.write(line + "\r\n");
    while (!sock.canReadLine())
        if (!sock.waitForReadyRead(5000))
            return {};
    return sock.readLine();
}

QByteArray ReadMultiLine(QTcpSocket& sock)
{
    QByteArray out;
    for (;;) {
        while (!sock.canReadLine())
            if (!sock.waitForReadyRead(5000))
                return out;
        const QByteArray line = sock.readLine();
        if (line == ".\r\n")
            return out;
        out += line.startsWith("..") ? line.mid(1) : line;
    }
}

} // namespace

class TestPostReply : public QObject {
    Q_OBJECT
private slots:
    void commandChecksInOrder()
    {
        Fixture f(QStringLiteral("news.example"), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        TArticleClass a;
        a.MessageID = QStringLiteral("<m@x>");

        f.store.SetValue(QStringLiteral("EmailAddress"), QStringLiteral("   "));
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        TPostReply::ReplyToMessage(nullptr, &f.store, nullptr, {}, {});
        QCOMPARE(d.Texts(), (QStringList{NoEmail, NoEmail}));

        d.Clear();
        f.store.SetValue(QStringLiteral("EmailAddress"), QStringLiteral("ann@example.org"));
        TPostReply::PostNewMessage(nullptr, &f.store, nullptr);
        TPostReply::PostNewMessage(nullptr, &f.store, f.server);
        TPostReply::ReplyToMessage(nullptr, &f.store, f.server, {&a}, {});
        TPostReply::ReplyToMessage(nullptr, &f.store, f.group, {}, {});
        TPostReply::ReplyToMessage(nullptr, &f.store, f.group, {&a, &a}, {});
        QCOMPARE(d.Texts(), (QStringList{QStringLiteral("Select a newsgroup"),
                                         QStringLiteral("Select a newsgroup for server news.example"),
                                         QStringLiteral("Select a newsgroup for server news.example"),
                                         QStringLiteral("Select 1 message to reply to"),
                                         QStringLiteral("Select 1 message to reply to")}));
        QVERIFY(d.DialogTitles.isEmpty());
    }

    void windowChecksSendNothing()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        QueueDriver(d, [&](TPostReply* w) {
            [&] {
                QCOMPARE(w->windowTitle(), QStringLiteral("Post New Message"));
                QCOMPARE(w->NewsgroupLabel()->text(), QStringLiteral("alt.test"));
                QVERIFY(!w->SubjectEdit()->isReadOnly());
                QCOMPARE(w->focusWidget(), static_cast<QWidget*>(w->SubjectEdit()));
                w->SubjectEdit()->setText(QStringLiteral("Subject"));
                w->BodyEdit()->setPlainText(QStringLiteral("  \n\t\n"));
                QCOMPARE(SendAndWait(w), -1);
                w->BodyEdit()->setPlainText(QStringLiteral("text"));
                w->EmailAddress = QStringLiteral(" ");
                QCOMPARE(SendAndWait(w), -1);
            }();
            return int(QDialog::Rejected);
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(d.DialogTitles, QStringList{QStringLiteral("Post New Message")});
        QCOMPARE(d.Texts(), (QStringList{QStringLiteral("Enter message text"), NoEmail}));
        QCOMPARE(s.Connections(), 0);
    }

    // A written draft is not lost to Escape or Cancel unasked; an untouched window closes.
    void draftIsNotDiscardedUnasked()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        int finishedAfterNo = -1, finishedAfterYes = -1, finishedUntouched = -1;
        QueueDriver(d, [&](TPostReply* w) {
            QSignalSpy finished(w, &QDialog::finished);
            w->SubjectEdit()->setText(QStringLiteral("A draft"));
            w->BodyEdit()->setPlainText(QStringLiteral("Words I do not want to lose."));
            d.Answers.push_back(TDialogAnswer::No);
            QTest::keyClick(w, Qt::Key_Escape);
            finishedAfterNo = int(finished.count());
            d.Answers.push_back(TDialogAnswer::Yes);
            w->CancelButton()->click();
            finishedAfterYes = int(finished.count());
            return w->result();
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(finishedAfterNo, 0);
        QCOMPARE(finishedAfterYes, 1);
        QCOMPARE(d.Texts(), (QStringList{"Discard the message you have written?", "Discard the message you have written?"}));
        d.Clear();
        QueueDriver(d, [&](TPostReply* w) {
            QSignalSpy finished(w, &QDialog::finished);
            QTest::keyClick(w, Qt::Key_Escape);
            finishedUntouched = int(finished.count());
            return w->result();
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(finishedUntouched, 1);
        QVERIFY(d.Texts().isEmpty());
        QCOMPARE(s.Connections(), 0);
    }

    void newArticleExactLines()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        ExpectPost(s);
        ExpectPost(s);
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        int result = -3;
        auto drive = [&](const QString& subject, const QString& body) {
            QueueDriver(d, [&, subject, body](TPostReply* w) {
                w->SubjectEdit()->setText(subject);
                w->BodyEdit()->setPlainText(body);
                result = SendAndWait(w);
                return result;
            });
            TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        };
        // Blank display name: the sender is the bracketed address alone; a reply-to of blanks
        // gives no Reply-To line; lines that begin with a dot get a second one.
        f.store.SetValue(QStringLiteral("UserName"), QStringLiteral("  "));
        f.store.SetValue(QStringLiteral("ReplyToAddress"), QStringLiteral("   "));
        drive(QStringLiteral("Test"), QStringLiteral("Hello\n.\n.dot first\nend."));
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(s.RawArticles().size(), 1);
        QCOMPARE(s.RawArticles()[0], Head("<ann@example.org>", "Test") + "\r\nHello\r\n..\r\n..dot first\r\nend.\r\n\r\n");

        // A name and a reply-to address (written untrimmed), one-line body.
        f.store.SetValue(QStringLiteral("UserName"), QStringLiteral(" Ann Smith "));
        f.store.SetValue(QStringLiteral("ReplyToAddress"), QStringLiteral(" ann@reply.example "));
        drive(QStringLiteral("Second"), QStringLiteral("One line"));
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(s.RawArticles().size(), 2);
        QCOMPARE(s.RawArticles()[1],
                 Head("Ann Smith <ann@example.org>", "Second", "Reply-To:  ann@reply.example \r\n") + "\r\nOne line\r\n\r\n");
        QCOMPARE(s.Errors(), QStringList());
        QVERIFY(d.Texts().isEmpty());
    }

    void refusedPostKeepsWindowAndRetries()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        ExpectPost(s, "441 Posting failed: no thanks\r\n");
        s.Greet();
        s.Expect("GROUP alt.test", "211 10 3000 3009 alt.test\r\n");
        s.Expect("POST", "440 Posting not allowed\r\n");
        ExpectPost(s);
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        QList<int> results;
        QueueDriver(d, [&](TPostReply* w) {
            w->SubjectEdit()->setText(QStringLiteral("Retry"));
            w->BodyEdit()->setPlainText(QStringLiteral("Body"));
            results << SendAndWait(w);
            results << SendAndWait(w);
            results << SendAndWait(w);
            return results.last();
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(results, (QList<int>{-1, -1, int(QDialog::Accepted)}));
        QCOMPARE(d.Texts(), (QStringList{QStringLiteral("441 Posting failed: no thanks"),
                                         QStringLiteral("440 Posting not allowed")}));
        QCOMPARE(d.Shown.front().Kind, TMessageKind::Error);
        QCOMPARE(s.RawArticles().size(), 2);
        QCOMPARE(s.RawArticles()[0], s.RawArticles()[1]);

        // A server that is not there: the socket's error, the window stays.
        d.Clear();
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        const quint16 freePort = probe.serverPort();
        probe.close();
        Fixture f2(QStringLiteral("127.0.0.1:") + QString::number(freePort), QStringLiteral("alt.test"));
        int lost = 0;
        QueueDriver(d, [&](TPostReply* w) {
            w->BodyEdit()->setPlainText(QStringLiteral("Body"));
            lost = SendAndWait(w);
            return int(QDialog::Rejected);
        });
        TPostReply::PostNewMessage(nullptr, &f2.store, f2.group);
        QCOMPARE(lost, -1);
        QCOMPARE(d.Texts().size(), 1);
        QVERIFY(!d.LastText().isEmpty());
    }

    void replyRulesAndLines()
    {
        QCOMPARE(TPostArticle::ReplySubject(QStringLiteral("Remote control")), QStringLiteral("Remote control"));
        QCOMPARE(TPostArticle::ReplySubject(QStringLiteral("  re: lunch")), QStringLiteral("  re: lunch"));
        QCOMPARE(TPostArticle::ReplySubject(QStringLiteral("RE: x")), QStringLiteral("RE: x"));
        QCOMPARE(TPostArticle::ReplySubject(QStringLiteral("Lunch")), QStringLiteral("Re: Lunch"));
        QCOMPARE(TPostArticle::ReplySubject(QStringLiteral("R e")), QStringLiteral("Re: R e"));
        TArticleClass a;
        a.MessageID = QStringLiteral("<m3@x>");
        QCOMPARE(TPostArticle::ReplyReferences(a), QStringLiteral("<m3@x>"));
        a.References = QStringLiteral(" <m1@x> <m2@x>  ");
        QCOMPARE(TPostArticle::ReplyReferences(a), QStringLiteral("<m1@x> <m2@x> <m3@x>"));

        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        ExpectPost(s);
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        f.store.SetValue(QStringLiteral("ReplyToAddress"), QStringLiteral("r@example.org"));
        TScopedScriptedWindows d;
        a.Subject = QStringLiteral("  Lunch today?  ");
        int result = -3;
        QueueDriver(d, [&](TPostReply* w) {
            [&] {
                QCOMPARE(w->windowTitle(), QStringLiteral("Reply to Message"));
                QVERIFY(w->SubjectEdit()->isReadOnly());
                QCOMPARE(w->SubjectEdit()->text(), QStringLiteral("Re: Lunch today?"));
                QCOMPARE(w->BodyEdit()->toPlainText(), QStringLiteral("\n\n> Sure.\n> .\n> \n> See you"));
                QCOMPARE(w->BodyEdit()->textCursor().position(), 0);
                QCOMPARE(w->focusWidget(), static_cast<QWidget*>(w->BodyEdit()));
            }();
            w->BodyEdit()->insertPlainText(QStringLiteral("Count me in."));
            result = SendAndWait(w);
            return result;
        });
        TPostReply::ReplyToMessage(nullptr, &f.store, f.group, {&a},
                                   {QStringLiteral("Sure."), QStringLiteral("."), QString(), QStringLiteral("See you")});
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(s.RawArticles().size(), 1);
        QCOMPARE(s.RawArticles()[0],
                 Head("Ann <ann@example.org>", "Re: Lunch today?",
                      "Reply-To: r@example.org\r\nReferences: <m1@x> <m2@x> <m3@x>\r\n")
                     + "\r\nCount me in.\r\n\r\n> Sure.\r\n> .\r\n> \r\n> See you\r\n\r\n");
    }

    void textBeyondAsciiIsDeclared()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        ExpectPost(s);
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        f.store.SetValue(QStringLiteral("UserName"), QStringLiteral("Jürgen"));
        TScopedScriptedWindows d;
        int result = -3;
        QueueDriver(d, [&](TPostReply* w) {
            w->SubjectEdit()->setText(QStringLiteral("Grüße"));
            w->BodyEdit()->setPlainText(QStringLiteral("Schöne Grüße\n.€"));
            result = SendAndWait(w);
            return result;
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(s.RawArticles().size(), 1);
        const QByteArray article = s.RawArticles()[0];
        const QByteArray head = article.left(article.indexOf("\r\n\r\n") + 2);
        const QByteArray body = article.mid(article.indexOf("\r\n\r\n") + 4);
        QVERIFY2(head.startsWith("From: =?UTF-8?Q?J=C3=BCrgen?= <ann@example.org>\r\n"), head.constData());
        QVERIFY(head.contains("\r\nSubject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"));
        QVERIFY(head.contains("\r\nMIME-Version: 1.0\r\n"));
        QVERIFY(head.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
        QVERIFY(head.contains("\r\nContent-Transfer-Encoding: 8bit\r\n"));
        for (char c : head)
            QVERIFY(uchar(c) < 0x80);
        QCOMPARE(body, QStringLiteral("Schöne Grüße\r\n..€\r\n\r\n").toUtf8());
        // Readers decode the head back to what was typed.
        QCOMPARE(DecodeHeaderText(QByteArray("=?UTF-8?Q?J=C3=BCrgen?= <ann@example.org>")),
                 QStringLiteral("Jürgen <ann@example.org>"));
    }

    void subjectAloneBeyondAsciiIsDeclared()
    {
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        ExpectPost(s);
        Fixture f(s.ServerName(), QStringLiteral("alt.test"));
        TScopedScriptedWindows d;
        int result = -3;
        QueueDriver(d, [&](TPostReply* w) {
            w->SubjectEdit()->setText(QStringLiteral("Café tonight"));
            w->BodyEdit()->setPlainText(QStringLiteral("Plain ASCII body"));
            result = SendAndWait(w);
            return result;
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(result, int(QDialog::Accepted));
        QCOMPARE(s.RawArticles().size(), 1);
        const QByteArray article = s.RawArticles()[0];
        const QByteArray head = article.left(article.indexOf("\r\n\r\n") + 2);
        QVERIFY2(head.contains("\r\nSubject: =?UTF-8?"), head.constData());
        QVERIFY(head.contains("\r\nMIME-Version: 1.0\r\n"));
        QVERIFY(head.contains("\r\nContent-Type: text/plain; charset=UTF-8\r\n"));
    }

    void wrappedLinesAreSentAsShown()
    {
        TPostReply w;
        w.resize(260, 300);
        w.show();
        const QString para = QStringLiteral("one two three four five six seven eight nine ten eleven twelve "
                                            "thirteen fourteen fifteen sixteen seventeen eighteen nineteen");
        w.BodyEdit()->setPlainText(para + QStringLiteral("\n\nshort"));
        QVERIFY(TestSupport::WaitFor([&] { return w.BodyLines().size() > 3; }));
        const QStringList lines = w.BodyLines();
        QCOMPARE(lines.last(), QStringLiteral("short"));
        QCOMPARE(lines.at(lines.size() - 2), QString());
        const QStringList wrapped = lines.mid(0, lines.size() - 2);
        QVERIFY(wrapped.size() > 1);
        QCOMPARE(wrapped.join(QLatin1Char(' ')), para);
        for (const QString& l : wrapped)
            QVERIFY(!l.endsWith(QLatin1Char(' ')));
    }

    void postAndReplyOnInn()
    {
        VORLIX_REQUIRE_INN();
        const QString host = qEnvironmentVariable("VORLIX_INN_HOST");
        const quint16 port = quint16(qEnvironmentVariableIntValue("VORLIX_INN_PORT"));
        const QString group = qEnvironmentVariable("VORLIX_INN_POST_GROUP", QStringLiteral("vorlix.test.post"));
        Fixture f(host + QLatin1Char(':') + QString::number(port), group);
        f.store.SetValue(QStringLiteral("UserName"), QStringLiteral("Zoë Tester"));
        const QString tag = QString::number(QDateTime::currentMSecsSinceEpoch());
        TScopedScriptedWindows d;
        int result = -3;
        QueueDriver(d, [&](TPostReply* w) {
            w->SubjectEdit()->setText(QStringLiteral("Grüße ") + tag);
            w->BodyEdit()->setPlainText(QStringLiteral("First line\n.\nÄrger mit Umlauten"));
            result = SendAndWait(w);
            return result;
        });
        TPostReply::PostNewMessage(nullptr, &f.store, f.group);
        QCOMPARE(d.Texts(), QStringList());
        QCOMPARE(result, int(QDialog::Accepted));

        QTcpSocket sock;
        sock.connectToHost(host, port);
        QVERIFY(sock.waitForConnected(5000));
        QVERIFY(sock.waitForReadyRead(5000));
        QVERIFY(sock.readLine().startsWith("20"));
        const QList<QByteArray> groupAnswer = Command(sock, "GROUP " + group.toUtf8()).trimmed().split(' ');
        QCOMPARE(groupAnswer.value(0), QByteArray("211"));
        const QByteArray last = groupAnswer.value(3);
        QVERIFY(Command(sock, "ARTICLE " + last).startsWith("220"));
        const QByteArray article = ReadMultiLine(sock);
        const QByteArray head = article.left(article.indexOf("\r\n\r\n") + 2);
        QVERIFY2(head.contains("From: =?UTF-8?Q?Zo=C3=AB_Tester?= <ann@example.org>\r\n"), head.constData());
        QVERIFY(head.contains("MIME-Version: 1.0\r\n"));
        QVERIFY(head.contains("Content-Type: text/plain; charset=UTF-8\r\n"));
        QString subject;
        for (const QByteArray& l : head.split('\n'))
            if (l.startsWith("Subject: "))
                subject = DecodeHeaderText(l.mid(9).trimmed());
        QCOMPARE(subject, QStringLiteral("Grüße ") + tag);
        QCOMPARE(article.mid(article.indexOf("\r\n\r\n") + 4),
                 QStringLiteral("First line\r\n.\r\nÄrger mit Umlauten\r\n\r\n").toUtf8());
        const QByteArray headLine = Command(sock, "STAT " + last);
        const QByteArray messageId = headLine.mid(headLine.indexOf('<'), headLine.indexOf('>') - headLine.indexOf('<') + 1);
        QVERIFY(messageId.startsWith('<'));

        // The reply to it arrives with its References and quoted text.
        TArticleClass a;
        a.Subject = subject;
        a.MessageID = QString::fromUtf8(messageId);
        QueueDriver(d, [&](TPostReply* w) {
            w->BodyEdit()->insertPlainText(QStringLiteral("Agreed."));
            result = SendAndWait(w);
            return result;
        });
        TPostReply::ReplyToMessage(nullptr, &f.store, f.group, {&a}, {QStringLiteral("First line")});
        QCOMPARE(d.Texts(), QStringList());
        QCOMPARE(result, int(QDialog::Accepted));
        const QList<QByteArray> again = Command(sock, "GROUP " + group.toUtf8()).trimmed().split(' ');
        QVERIFY(Command(sock, "ARTICLE " + again.value(3)).startsWith("220"));
        const QByteArray reply = ReadMultiLine(sock);
        QVERIFY(reply.contains("\r\nReferences: " + messageId + "\r\n"));
        QVERIFY(reply.endsWith("\r\n\r\nAgreed.\r\n\r\n> First line\r\n\r\n"));
        Command(sock, "QUIT");
    }
};

VORLIX_TEST_MAIN(TestPostReply)
#include "test_post_reply.moc"
