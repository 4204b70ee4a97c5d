// Logins to the INN test server, which offers STARTTLS on its reader port with a certificate of
// the test authority (VORLIX_INN_CA): the password goes out only inside TLS, and a certificate
// that cannot be verified ends the job before anything secret is sent. A relay between the
// client and INN records every byte the client sends, so the tests look at the real wire.
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NNTPWrapper.h"
#include "nntp/NntpCli.h"
#include "test_nntp_processor_probe.h"

#include <QPointer>
#include <QProcess>
#include <QSslConfiguration>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString Env(const char* name)
{
    return qEnvironmentVariable(name);
}

// Passes one connection at a time on to the server and keeps what the client sent.
class TWireRelay : public QObject {
public:
    TWireRelay(const QString& host, quint16 port) : targetHost(host), targetPort(port)
    {
        connect(&listener, &QTcpServer::newConnection, this, &TWireRelay::Accept);
    }
    bool Listen() { return listener.listen(QHostAddress::LocalHost); }
    QString ServerName() const { return QStringLiteral("127.0.0.1:%1").arg(listener.serverPort()); }
    QByteArray FromClient;

private:
    void Accept()
    {
        QTcpSocket* down = listener.nextPendingConnection();
        auto* up = new QTcpSocket(down);
        connect(down, &QTcpSocket::readyRead, this, [this, down, up] {
            const QByteArray bytes = down->readAll();
            FromClient += bytes;
            up->write(bytes);
        });
        connect(up, &QTcpSocket::readyRead, down, [down, up] { down->write(up->readAll()); });
        connect(up, &QTcpSocket::disconnected, down, [down] { down->disconnectFromHost(); });
        connect(down, &QTcpSocket::disconnected, down, [down, up] {
            up->disconnectFromHost();
            down->deleteLater();
        });
        up->connectToHost(targetHost, targetPort);
    }

    QTcpServer listener;
    QString targetHost;
    quint16 targetPort;
};

} // namespace

class TestNntpStartTlsInn : public QObject {
    Q_OBJECT

    QSslConfiguration original;
    QTemporaryDir dir;

    // A job on the protected group through a relay, with the stored login of the test server.
    void DownloadProtected(TWireRelay& relay, TNntpProcessor& p, TProcessorProbe& probe)
    {
        QVERIFY(relay.Listen());
        probe.Attach(p);
        p.Host = relay.ServerName();
        p.UserName = Env("VORLIX_INN_USER");
        p.Password = Env("VORLIX_INN_PASS");
        p.DownloadHeaders(Env("VORLIX_INN_AUTH_GROUP"), -1, -1, 100);
        QVERIFY(probe.WaitDone());
    }

private slots:
    void initTestCase()
    {
        VORLIX_REQUIRE_INN();
        QVERIFY(QSslSocket::supportsSsl());
        QVERIFY2(QFile::exists(Env("VORLIX_INN_CA")), "the INN test server names its certificate authority");
        original = QSslConfiguration::defaultConfiguration();
    }

    // Each test decides what the program trusts.
    void init() { QSslConfiguration::setDefaultConfiguration(original); }
    void cleanupTestCase() { QSslConfiguration::setDefaultConfiguration(original); }

    void loginGoesThroughTls()
    {
        QVERIFY(TNntpCli::TrustCaFile(Env("VORLIX_INN_CA")));
        TScopedScriptedDialogs dialogs;
        TWireRelay relay(Env("VORLIX_INN_HOST"), quint16(Env("VORLIX_INN_PORT").toUInt()));
        TNntpProcessor p;
        TProcessorProbe probe;
        bool encryptedWhileReading = false;
        probe.AfterHeader = [&](const TNntpHeader&) { encryptedWhileReading = p.Wrapper()->Encrypted(); };
        DownloadProtected(relay, p, probe);
        QCOMPARE(probe.LastCode(), -2); // "No more Articles": everything was read
        QCOMPARE(int(probe.Headers.size()), Env("VORLIX_INN_AUTH_COUNT").toInt());
        QVERIFY(encryptedWhileReading);
        QVERIFY(probe.Statuses.contains("Starting encryption"));
        // On the wire: the refused GROUP and the encryption request in clear text, then only TLS.
        const QByteArray wire = relay.FromClient;
        QVERIFY(wire.startsWith("GROUP " + Env("VORLIX_INN_AUTH_GROUP").toUtf8() + "\r\nCAPABILITIES\r\nSTARTTLS\r\n"));
        QVERIFY(!wire.contains("AUTHINFO"));
        QVERIFY(!wire.contains(Env("VORLIX_INN_PASS").toUtf8()));
        QVERIFY(dialogs.Shown.empty()); // nothing to ask: the password went encrypted
    }

    void unverifiedCertificateSendsNoPassword()
    {
        // The program trusts another authority only: INN's certificate cannot be verified.
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("openssl"));
        QVERIFY(dir.isValid());
        const QString otherCa = dir.path() + "/other-ca.pem";
        QProcess openssl;
        openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout",
                                  dir.path() + "/other-ca.key", "-out", otherCa, "-days", "2", "-subj",
                                  "/CN=Another test CA"});
        QVERIFY(openssl.waitForFinished(60000) && openssl.exitCode() == 0);
        QVERIFY(TNntpCli::TrustCaFile(otherCa));

        TScopedScriptedDialogs dialogs;
        dialogs.DefaultAnswer = TDialogAnswer::Yes; // would allow clear text, were it asked
        TWireRelay relay(Env("VORLIX_INN_HOST"), quint16(Env("VORLIX_INN_PORT").toUInt()));
        TNntpProcessor p;
        TProcessorProbe probe;
        DownloadProtected(relay, p, probe);
        QCOMPARE(probe.LastCode(), int(NntpError::Tls));
        const QString message = probe.LastMessage();
        QVERIFY2(message.startsWith("The TLS certificate of " + relay.ServerName() + " could not be verified: "),
                 qPrintable(message));
        QVERIFY2(message.endsWith("The password was not sent."), qPrintable(message));
        QVERIFY(probe.Headers.empty());
        QVERIFY(!p.Wrapper()->Connected());
        const QByteArray wire = relay.FromClient;
        QVERIFY(wire.contains("STARTTLS\r\n"));
        QVERIFY(!wire.contains("AUTHINFO"));
        QVERIFY(!wire.contains(Env("VORLIX_INN_PASS").toUtf8()));
        QVERIFY(dialogs.Shown.empty());
        QVERIFY(dialogs.CredentialRequests.empty());
    }

    void unreadableCaFileIsRefused()
    {
        QString error;
        QVERIFY(!TNntpCli::TrustCaFile(dir.path() + "/missing.pem", &error));
        QCOMPARE(error, "No certificate could be read from \"" + dir.path() + "/missing.pem\"");
        QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates(), original.caCertificates());
    }
};

VORLIX_TEST_MAIN_CORE(TestNntpStartTlsInn)
#include "test_nntp_starttls_inn.moc"
