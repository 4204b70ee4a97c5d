// Authentication on demand: 480 leads to AUTHINFO with stored or typed credentials, refusals
// (481, 502) ask again, other endings end the job, and the refused command runs once more.
#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "ScriptedDialogs.h"
#include "news/NewsStore.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NntpCli.h"
#include "core/TextFiles.h"
#include "test_nntp_processor_probe.h"

#include <QFile>
#include <QTest>
#include <QTimer>

Q_DECLARE_METATYPE(ScriptedReply)

namespace {

QByteArray Xover3()
{
    return ScriptedNntpServer::MultiLine(
        "224 Overview follows",
        {"1\tA\ta@x\tSun, 06 Nov 2005 08:49:37 GMT\t<1@x>\t", "2\tB\tb@x\tSun, 06 Nov 2005 08:49:37 GMT\t<2@x>\t",
         "3\tC\tc@x\tSun, 06 Nov 2005 08:49:37 GMT\t<3@x>\t"});
}

// The capabilities of a server that offers no encryption.
QByteArray NoTls()
{
    return ScriptedNntpServer::MultiLine("101 Capability list:", {"VERSION 2", "READER", "AUTHINFO USER"});
}

// One typed login: the name, the password and "save password".
TScriptedDialogService::Credentials Typed(const QString& user, const QString& pass, bool save)
{
    return {true, user, pass, save};
}

} // namespace

class TestNntpAuth : public QObject {
    Q_OBJECT

private slots:
    void storedCredentialsLogInWithoutAWindow()
    {
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s.Expect("AUTHINFO PASS secret", "281 Authentication accepted\r\n");
        s.Expect("GROUP priv.group", "211 3 1 3 priv.group\r\n");
        s.Expect("XOVER 1-3", Xover3());
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.UserName = "ann";
        p.Password = "secret";
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(probe.Headers.size()), 3);
        QVERIFY(dialogs.CredentialRequests.empty());
        // Stored credentials are not handed back to be kept: the owner's "Save Password"
        // choice stays as it is, and no password is written against it.
        QVERIFY(probe.Logins.empty());
        QVERIFY(probe.Statuses.contains("Authenticating"));
        // The log tells of the login, never of the password.
        QFile log(UtilsClass::GetLogBase() + ".dbg");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray logged = log.readAll();
        QVERIFY(logged.contains("AuthenticationProcessedHandler"));
        QVERIFY(!logged.contains("secret"));
        QCOMPARE(s.Commands().count("GROUP priv.group"), 2); // the refused command, once more
    }

    void refusalsAskAgainUntilAccepted()
    {
        // No password stored, a blank-only user name: the window asks. The server refuses with
        // 481 (as RFC 4643 servers do) and then 502; each time the window opens again with the
        // server's answer, the last user name, an empty password and "Save Password" unchecked.
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        dialogs.CredentialAnswers.push_back(Typed("ann", "wrong", true));
        dialogs.CredentialAnswers.push_back(Typed("ann", "wrong2", true));
        dialogs.CredentialAnswers.push_back(Typed("ann", "secret", false));
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s.Expect("AUTHINFO PASS wrong", "481 Authentication failed\r\n");
        s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s.Expect("AUTHINFO PASS wrong2", "502 Permission denied\r\n");
        s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s.Expect("AUTHINFO PASS secret", "281 Ok\r\n");
        s.Expect("GROUP priv.group", "211 3 1 3 priv.group\r\n");
        s.Expect("XOVER 1-3", Xover3());
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.UserName = "   ";
        p.Password = "stored";
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), -2);
        const auto& seen = dialogs.CredentialRequests;
        QCOMPARE(int(seen.size()), 3);
        QCOMPARE(seen[0].Host, s.ServerName());
        QCOMPARE(seen[0].UserName, QString("   "));
        QCOMPARE(seen[0].Status, QString("Authentication required"));
        QCOMPARE(seen[1].UserName, QString("ann"));
        QCOMPARE(seen[1].Status, QString("481 Authentication failed"));
        QCOMPARE(seen[2].Status, QString("502 Permission denied"));
        QCOMPARE(int(probe.Logins.size()), 1);
        QCOMPARE(probe.Logins[0].Password, QString("secret"));
        QVERIFY(!probe.Logins[0].Save);
        QCOMPARE(int(probe.Headers.size()), 3);
    }

    void cancelAndEmptyEntriesEndTheJob()
    {
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        dialogs.CredentialAnswers.push_back({false, {}, {}, false}); // Cancel
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("Login cancelled"));
        QVERIFY(p.Idle());

        // "Ok" with an empty password (the window itself would not allow it): the job ends
        // instead of waiting for ever, and nothing is sent.
        dialogs.CredentialAnswers.push_back(Typed("ann", "", false));
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        s2.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s2.Expect("CAPABILITIES", NoTls());
        p.Host = s2.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -2);
        QVERIFY(probe.LastMessage().startsWith("Login cancelled"));
        QCOMPARE(s2.Commands(), (QList<QByteArray>{"GROUP priv.group", "CAPABILITIES"}));
        QVERIFY(p.Idle());
        QCOMPARE(int(probe.Logins.size()), 0);
    }

    void otherAuthinfoEndingsEndTheJob()
    {
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.UserName = "ann";
        p.Password = "secret";

        // 482: the server's code and line.
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        s.Expect("AUTHINFO USER ann", "482 Authentication commands issued out of sequence\r\n");
        p.Host = s.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 482);
        QCOMPARE(probe.LastMessage(), QString("482 Authentication commands issued out of sequence"));

        // The connection drops during AUTHINFO: the network error ends the job.
        ScriptedNntpServer s2;
        QVERIFY(s2.Listen());
        s2.Greet();
        s2.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s2.Expect("CAPABILITIES", NoTls());
        s2.Expect("AUTHINFO USER ann", ScriptedReply().Close());
        p.Host = s2.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QVERIFY(probe.LastCode() > 0);
        QVERIFY(!probe.LastMessage().isEmpty());

        // Accepted, yet the command is refused again: no endless round of logins.
        ScriptedNntpServer s3;
        QVERIFY(s3.Listen());
        s3.Greet();
        s3.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s3.Expect("CAPABILITIES", NoTls());
        s3.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s3.Expect("AUTHINFO PASS secret", "281 Ok\r\n");
        s3.Expect("GROUP priv.group", "480 Read access denied\r\n");
        p.Host = s3.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(s3.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), 480);
        QCOMPARE(probe.LastMessage(), QString("480 Read access denied"));
        QVERIFY(dialogs.CredentialRequests.empty());
        QCOMPARE(int(probe.Dones.size()), 3);
    }

    void refusedWindowIsAskedAgainAfterLogin()
    {
        // XOVER itself answered with 480: after the login the same window is asked again,
        // not the one after it.
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "211 3 1 3 priv.group\r\n");
        s.Expect("XOVER 1-3", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
        s.Expect("AUTHINFO PASS secret", "281 Ok\r\n");
        s.Expect("XOVER 1-3", Xover3());
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.UserName = "ann";
        p.Password = "secret";
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(s.Errors(), QStringList());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(probe.Headers.size()), 3);
    }

    // A server without STARTTLS asks for a login: the user is asked once per server whether the
    // password may go unencrypted, the answer is kept with the server in Config.chl, and only
    // Yes lets AUTHINFO out. Without anybody to answer nothing is sent and nothing kept.
    void plainPasswordIsAskedOncePerServer_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("questions");
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("kept");
        QTest::newRow("yes") << int(TDialogAnswer::Yes) << true << 1 << "1|" << int(ppAllowed);
        QTest::newRow("no") << int(TDialogAnswer::No) << false << 1 << "0|" << int(ppRefused);
        QTest::newRow("nobody to ask") << int(TDialogAnswer::Cancel) << false << 2 << "" << int(ppNotAsked);
    }

    void plainPasswordIsAskedOncePerServer()
    {
        QFETCH(int, answer);
        QFETCH(bool, sent);
        QFETCH(int, questions);
        QFETCH(QString, field);
        QFETCH(int, kept);
        QFile::remove(TNewsStore::ConfigPath());
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer(answer); // every time it is asked
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        for (int job = 0; job < 2; ++job) {
            s.Greet();
            s.Expect("GROUP priv.group", "480 Authentication required\r\n");
            s.Expect("CAPABILITIES", NoTls());
            if (sent) {
                s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
                s.Expect("AUTHINFO PASS secret", "281 Ok\r\n");
                s.Expect("GROUP priv.group", "211 3 1 3 priv.group\r\n");
                s.Expect("XOVER 1-3", Xover3());
            }
        }
        {
            TNewsStore store;
            store.AddServerEntry(s.ServerName(), "ann", "secret", true, "260101000000");
            store.SaveConfig();
            TNntpProcessor p;
            TProcessorProbe probe;
            probe.Attach(p);
            p.Host = s.ServerName();
            p.UserName = "ann";
            p.Password = "secret";
            p.DownloadHeaders("priv.group", -1, -1, 100);
            QVERIFY(probe.WaitDone());
            p.DownloadHeaders("priv.group", -1, -1, 100);
            QVERIFY(probe.WaitDone(2));
            QCOMPARE(s.Errors(), QStringList());
            QCOMPARE(int(probe.Headers.size()), sent ? 6 : 0);
            QCOMPARE(probe.LastCode(), -2);
            if (!sent)
                QCOMPARE(probe.LastMessage(), "Login cancelled: " + s.ServerName()
                                                  + " offers no encryption, and the password is not sent unencrypted");
        }
        QCOMPARE(int(s.Commands().count("AUTHINFO USER ann")), sent ? 2 : 0);
        QCOMPARE(int(dialogs.PlainPasswordRequests.size()), questions);
        QCOMPARE(dialogs.PlainPasswordRequests.front(), s.ServerName());
        QCOMPARE(dialogs.Texts().front(), "Send the password unencrypted to " + s.ServerName() + "?");
        QVERIFY(dialogs.CredentialRequests.empty());

        // The answer is a field of the server line of its own, and it reads back.
        const QStringList lines = ReadLines(TNewsStore::ConfigPath());
        QCOMPARE(lines.size(), 1);
        QCOMPARE(lines[0], "NewsServer|" + s.ServerName() + "|0|-1|0|260101000000|1|ann|secret|" + field);
        TNewsStore reloaded;
        reloaded.LoadConfig();
        QCOMPARE(reloaded.ServerCount(), 1);
        QCOMPARE(reloaded.Server(0)->PlainPassword, kept);
        QCOMPARE(reloaded.Server(0)->Password, QString("secret"));
        QCOMPARE(int(TNewsStore::PlainPasswordChoice(s.ServerName())), kept);
    }

    // A server that offers STARTTLS and then does not start TLS ends the job with a message;
    // the login never falls back to clear text, and nobody is asked.
    void failedStartTlsSendsNoPassword_data()
    {
        QTest::addColumn<ScriptedReply>("reply");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("580") << ScriptedReply("580 Can not initiate TLS negotiation\r\n") << 580
                             << "did not start it: 580 Can not initiate TLS negotiation.";
        const QByteArray garbage = "382 Begin TLS negotiation now\r\nthis is no TLS handshake\r\n";
        QTest::newRow("handshake fails") << ScriptedReply().SendSplit(garbage, {31}) << int(NntpError::Tls)
                                         << "TLS";
    }

    void failedStartTlsSendsNoPassword()
    {
        QFETCH(ScriptedReply, reply);
        QFETCH(int, code);
        QFETCH(QString, says);
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes;
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", ScriptedNntpServer::MultiLine("101 Capability list:",
                                                               {"VERSION 2", "READER", "STARTTLS", "AUTHINFO USER"}));
        s.Expect("STARTTLS", reply);
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        p.Host = s.ServerName();
        p.UserName = "ann";
        p.Password = "secret";
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), code);
        QVERIFY2(probe.LastMessage().contains(says), qPrintable(probe.LastMessage()));
        QVERIFY2(probe.LastMessage().endsWith("The password was not sent."), qPrintable(probe.LastMessage()));
        QTRY_VERIFY(!s.ClientConnected());
        // After STARTTLS only the client's TLS handshake, if anything, reached the server.
        QCOMPARE(s.Commands().mid(0, 3), (QList<QByteArray>{"GROUP priv.group", "CAPABILITIES", "STARTTLS"}));
        for (const QByteArray& line : s.Commands())
            QVERIFY(!line.contains("AUTHINFO") && !line.contains("secret"));
        QVERIFY(dialogs.Shown.empty());
        QVERIFY(dialogs.CredentialRequests.empty());
        QCOMPARE(int(probe.Dones.size()), 1);
    }

    void abortWhileTheWindowIsOpen()
    {
        // The user aborts the job while the owner asks for the login (a Cancel elsewhere):
        // the job ends once, and the answer given afterwards sends nothing.
        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // the password may go unencrypted
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        int asked = 0;
        p.OnNeedCredentials = [&](QObject* sender, const QString& host, QString& user, QString& password,
                                  bool& save, const QString& status) {
            ++asked;
            if (sender != &p || host != p.Host || status != "Authentication required")
                return false;
            p.Abort();
            TestSupport::WaitFor([&] { return !probe.Dones.empty(); }, 5000);
            user = "ann";
            password = "secret";
            save = true;
            return true;
        };
        ScriptedNntpServer s;
        QVERIFY(s.Listen());
        s.Greet();
        s.Expect("GROUP priv.group", "480 Authentication required\r\n");
        s.Expect("CAPABILITIES", NoTls());
        p.Host = s.ServerName();
        p.DownloadHeaders("priv.group", -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QVERIFY(p.Idle());
        QCOMPARE(s.Commands(), (QList<QByteArray>{"GROUP priv.group", "CAPABILITIES"}));
        QCOMPARE(int(probe.Dones.size()), 1);
        QCOMPARE(int(probe.Logins.size()), 0);
        QCOMPARE(asked, 1);
        QVERIFY(dialogs.CredentialRequests.empty()); // the bound event answered, not the service
    }
};

VORLIX_TEST_MAIN_CORE(TestNntpAuth)
#include "test_nntp_auth.moc"
