#include "ScriptedDialogs.h"
#include "ScriptedNntpServer.h"
#include "TestSupport.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NNTPWrapper.h"
#include "nntp/NntpCli.h"

#include <QFile>
#include <QProcess>
#include <QSslKey>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

struct TCertificate {
    QSslCertificate certificate;
    QSslKey key;
};

// A self-signed certificate made with the openssl command for the given names.
TCertificate MakeCertificate(const QString& folder, const QString& name, const QString& altNames)
{
    const QString keyFile = folder + "/" + name + ".key";
    const QString certFile = folder + "/" + name + ".pem";
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", keyFile, "-out", certFile,
                              "-days", "2", "-subj", "/CN=" + name, "-addext", "subjectAltName=" + altNames});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0) {
        qWarning() << openssl.readAllStandardError();
        return TCertificate{QSslCertificate(), QSslKey()};
    }
    QFile c(certFile), k(keyFile);
    if (!c.open(QIODevice::ReadOnly) || !k.open(QIODevice::ReadOnly))
        return TCertificate{QSslCertificate(), QSslKey()};
    return {QSslCertificate(c.readAll(), QSsl::Pem), QSslKey(k.readAll(), QSsl::Rsa, QSsl::Pem)};
}

struct TlsProbe {
    TNntpCli cli;
    QList<std::pair<quint8, quint16>> done;
    QStringList lines;
    int connected = 0;
    TlsProbe()
    {
        cli.OnRequestDone = [this](QObject*, quint8 rq, quint16 e) { done.append({rq, e}); };
        cli.OnSessionConnected = [this](QObject*, quint16) { ++connected; };
        cli.OnMessageLine = [this](QObject*) { lines << cli.LastResponse(); };
    }
};

} // namespace

class TestNntpCliTls : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void certificateVerification();
    void startTlsBeforeTheLogin();

private:
    QTemporaryDir dir;
    TCertificate loopback; // valid for 127.0.0.1, but self-signed
    TCertificate other;    // names another host only
};

void TestNntpCliTls::initTestCase()
{
    QVERIFY(QSslSocket::supportsSsl());
    VORLIX_REQUIRE_PROGRAM(QStringLiteral("openssl")); // it makes the test certificates
    QVERIFY(dir.isValid());
    loopback = MakeCertificate(dir.path(), "localhost", "DNS:localhost,IP:127.0.0.1");
    other = MakeCertificate(dir.path(), "news.other.example", "DNS:news.other.example");
    QVERIFY(!loopback.certificate.isNull() && !loopback.key.isNull());
    QVERIFY(!other.certificate.isNull() && !other.key.isNull());
}

void TestNntpCliTls::certificateVerification()
{
    // Untrusted (self-signed) certificate: refused with a message naming the problem.
    {
        ScriptedNntpServer server;
        QVERIFY(server.ListenTls(loopback.certificate, loopback.key));
        server.Greet();
        QVERIFY(server.ServerName().startsWith("nntps://127.0.0.1:"));
        TlsProbe p;
        p.cli.SetHost(server.ServerName());
        p.cli.Connect();
        QVERIFY(TestSupport::WaitFor([&] { return !p.done.isEmpty(); }));
        QCOMPARE(p.done[0].first, quint8(nntpRqConnect));
        QCOMPARE(p.done[0].second, NntpError::Tls);
        const QString label = server.ServerName().mid(8);
        const QString message = p.cli.LastResponse();
        QVERIFY2(message.startsWith("The TLS certificate of " + label + " could not be verified: "), qPrintable(message));
        QVERIFY2(message.contains("self signed", Qt::CaseInsensitive) || message.contains("self-signed", Qt::CaseInsensitive),
                 qPrintable(message));
        QVERIFY(message.endsWith("The connection was closed."));
        QCOMPARE(p.connected, 0);
        QVERIFY(TestSupport::WaitFor([&] { return p.cli.State() == nntpNotConnected; }));
        QVERIFY(!p.cli.Encrypted());
    }

    // Trusted authority, but the certificate names another host.
    {
        ScriptedNntpServer server;
        QVERIFY(server.ListenTls(other.certificate, other.key));
        server.Greet();
        TlsProbe p;
        p.cli.AddCaCertificates({other.certificate});
        p.cli.SetHost(server.ServerName());
        p.cli.Connect();
        QVERIFY(TestSupport::WaitFor([&] { return !p.done.isEmpty(); }));
        QCOMPARE(p.done[0].second, NntpError::Tls);
        QVERIFY2(p.cli.LastResponse().contains("host name did not match", Qt::CaseInsensitive),
                 qPrintable(p.cli.LastResponse()));
        QCOMPARE(p.connected, 0);
    }

    // Trusted and matching: an ordinary session over TLS.
    {
        ScriptedNntpServer server;
        QVERIFY(server.ListenTls(loopback.certificate, loopback.key));
        server.Greet();
        server.Expect("GROUP alt.tls", "211 2 1 2 alt.tls\r\n");
        server.Expect("BODY 2", ScriptedNntpServer::MultiLine("222 2 <t@x>", {"secret", ".dot"}));
        TlsProbe p;
        p.cli.AddCaCertificates({loopback.certificate});
        p.cli.SetHost(server.ServerName());
        p.cli.Connect();
        QVERIFY(TestSupport::WaitFor([&] { return p.connected == 1; }));
        QVERIFY(p.cli.Encrypted());
        QVERIFY(p.done.isEmpty());
        p.cli.Group("alt.tls");
        QVERIFY(TestSupport::WaitFor([&] { return p.done.size() == 1; }));
        QCOMPARE(p.done[0].second, quint16(0));
        QCOMPARE(p.cli.ArticleLast(), 2);
        p.cli.BodyByNumber(2);
        QVERIFY(TestSupport::WaitFor([&] { return p.done.size() == 2; }));
        QCOMPARE(p.done[1].second, quint16(0));
        QCOMPARE(p.lines, (QStringList{"secret", ".dot"}));
        QVERIFY(server.Errors().isEmpty());
    }
}

void TestNntpCliTls::startTlsBeforeTheLogin()
{
    // A server that offers STARTTLS and refuses XOVER before a login: the session turns to TLS,
    // the capabilities are asked again, the login goes inside TLS, and as TLS starts the
    // session afresh the group is selected again before the refused XOVER runs once more.
    TScopedScriptedDialogs dialogs;
    dialogs.DefaultAnswer = TDialogAnswer::Yes; // would allow clear text, were it asked
    ScriptedNntpServer s;
    QVERIFY(s.ListenStartTls(loopback.certificate, loopback.key));
    s.Greet();
    s.Expect("GROUP priv.group", "211 1 1 1 priv.group\r\n");
    s.Expect("XOVER 1", "480 Authentication required\r\n");
    s.Expect("CAPABILITIES",
             ScriptedNntpServer::MultiLine("101 Capability list:", {"VERSION 2", "READER", "STARTTLS"}));
    s.Expect("STARTTLS", ScriptedReply("382 Continue with TLS negotiation\r\n").StartTls());
    s.Expect("CAPABILITIES",
             ScriptedNntpServer::MultiLine("101 Capability list:", {"VERSION 2", "READER", "AUTHINFO USER"}));
    s.Expect("AUTHINFO USER ann", "381 Enter password\r\n");
    s.Expect("AUTHINFO PASS secret", "281 Ok\r\n");
    s.Expect("GROUP priv.group", "211 1 1 1 priv.group\r\n");
    s.Expect("XOVER 1", ScriptedNntpServer::MultiLine("224 Overview follows",
                                                      {"1\tA\ta@x\tSun, 06 Nov 2005 08:49:37 GMT\t<1@x>\t"}));
    TNntpProcessor p;
    TNntpCli* cli = p.Wrapper()->Client();
    cli->AddCaCertificates({loopback.certificate});
    QList<int> codes;
    int headers = 0;
    bool encryptedAtLogin = false;
    bool encryptedAtHeader = false;
    p.OnRequestDone = [&](QObject*, int code, const QString&) { codes << code; };
    p.OnStatus = [&](QObject*, const QString& text) {
        if (text == "Authenticating")
            encryptedAtLogin = cli->Encrypted() && !cli->HasCapability("STARTTLS") && cli->HasCapability("AUTHINFO");
    };
    p.OnHeader = [&](QObject*, const QString&, const TNntpHeader&, const QString&) {
        ++headers;
        encryptedAtHeader = cli->Encrypted();
    };
    p.Host = s.ServerName();
    p.UserName = "ann";
    p.Password = "secret";
    p.DownloadHeaders("priv.group", -1, -1, 100);
    QVERIFY(TestSupport::WaitFor([&] { return !codes.isEmpty(); }));
    QCOMPARE(s.Errors(), QStringList());
    QCOMPARE(codes, QList<int>{-2}); // "No more Articles": the group was read to its end
    QCOMPARE(headers, 1);
    QVERIFY(encryptedAtLogin);
    QVERIFY(encryptedAtHeader);
    QVERIFY(s.Finished());
    QVERIFY(dialogs.Shown.empty());
}

VORLIX_TEST_MAIN_CORE(TestNntpCliTls)
#include "test_nntp_cli_tls.moc"
