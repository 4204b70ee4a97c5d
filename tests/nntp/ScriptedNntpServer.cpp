#include "ScriptedNntpServer.h"

#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

ScriptedReply& ScriptedReply::Send(const QByteArray& bytes)
{
    Chunks.append(Chunk{Chunk::Data, bytes});
    return *this;
}

ScriptedReply& ScriptedReply::SendSplit(const QByteArray& bytes, const QList<int>& cuts)
{
    int from = 0;
    for (int cut : cuts) {
        if (cut <= from || cut >= bytes.size())
            continue;
        Chunks.append(Chunk{Chunk::Data, bytes.mid(from, cut - from)});
        from = cut;
    }
    Chunks.append(Chunk{Chunk::Data, bytes.mid(from)});
    return *this;
}

ScriptedReply& ScriptedReply::Close()
{
    Chunks.append(Chunk{Chunk::Close, {}});
    return *this;
}

ScriptedReply& ScriptedReply::Reset()
{
    Chunks.append(Chunk{Chunk::Reset, {}});
    return *this;
}

ScriptedReply& ScriptedReply::StartTls()
{
    Chunks.append(Chunk{Chunk::StartTls, {}});
    return *this;
}

namespace {
// Accepts plain connections as TLS-capable sockets, so a reply can start TLS later.
class TStartTlsServer : public QTcpServer {
public:
    using QTcpServer::QTcpServer;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QSslSocket(this);
        if (socket->setSocketDescriptor(descriptor))
            addPendingConnection(socket);
        else
            delete socket;
    }
};
} // namespace

ScriptedReply& ScriptedReply::SendForever(const QByteArray& bytes)
{
    Chunks.append(Chunk{Chunk::Forever, bytes});
    return *this;
}

ScriptedNntpServer::ScriptedNntpServer(QObject* parent) : QObject(parent) {}

ScriptedNntpServer::~ScriptedNntpServer()
{
    if (client) {
        client->disconnect(this);
        client->abort();
    }
}

bool ScriptedNntpServer::Listen(const QHostAddress& address)
{
    server = new QTcpServer(this);
    connect(server, &QTcpServer::newConnection, this, &ScriptedNntpServer::Accept);
    return server->listen(address, 0);
}

bool ScriptedNntpServer::ListenTls(const QSslCertificate& certificate, const QSslKey& key,
                                   const QHostAddress& address)
{
    auto* ssl = new QSslServer(this);
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.setLocalCertificate(certificate);
    conf.setPrivateKey(key);
    conf.setPeerVerifyMode(QSslSocket::VerifyNone);
    ssl->setSslConfiguration(conf);
    server = ssl;
    tls = true;
    connect(server, &QTcpServer::pendingConnectionAvailable, this, &ScriptedNntpServer::Accept);
    return server->listen(address, 0);
}

bool ScriptedNntpServer::ListenStartTls(const QSslCertificate& certificate, const QSslKey& key,
                                        const QHostAddress& address)
{
    startTlsCertificate = certificate;
    startTlsKey = key;
    server = new TStartTlsServer(this);
    connect(server, &QTcpServer::newConnection, this, &ScriptedNntpServer::Accept);
    return server->listen(address, 0);
}

quint16 ScriptedNntpServer::Port() const
{
    return server ? server->serverPort() : 0;
}

QString ScriptedNntpServer::ServerName() const
{
    const QHostAddress a = server ? server->serverAddress() : QHostAddress();
    const QString host = a.protocol() == QAbstractSocket::IPv6Protocol ? "[" + a.toString() + "]" : a.toString();
    return (tls ? QStringLiteral("nntps://") : QString()) + host + ":" + QString::number(Port());
}

void ScriptedNntpServer::Greet(const ScriptedReply& reply)
{
    steps.append({Step::Greeting, {}, reply, false});
}

void ScriptedNntpServer::GreetNever()
{
    steps.append({Step::Greeting, {}, ScriptedReply(), true});
}

void ScriptedNntpServer::Expect(const QByteArray& command, const ScriptedReply& reply)
{
    steps.append({Step::Command, command, reply, false});
}

void ScriptedNntpServer::ExpectArticle(const ScriptedReply& reply)
{
    steps.append({Step::Article, {}, reply, false});
}

QByteArray ScriptedNntpServer::MultiLine(const QByteArray& status, const QList<QByteArray>& lines)
{
    QByteArray out = status + "\r\n";
    for (const QByteArray& line : lines) {
        if (line.startsWith('.'))
            out += '.';
        out += line + "\r\n";
    }
    out += ".\r\n";
    return out;
}

bool ScriptedNntpServer::Finished() const
{
    return steps.isEmpty() && outQueue.isEmpty() && !writing;
}

bool ScriptedNntpServer::ClientConnected() const
{
    return client && client->state() == QAbstractSocket::ConnectedState;
}

void ScriptedNntpServer::Accept()
{
    while (server->hasPendingConnections()) {
        QTcpSocket* s = server->nextPendingConnection();
        ++connections;
        if (client) {
            client->disconnect(this);
            client->abort();
            client->deleteLater();
        }
        client = s;
        inBuffer.clear();
        inArticle = false;
        outQueue.clear();
        writing = false;
        endless.clear();
        connect(s, &QIODevice::readyRead, this, &ScriptedNntpServer::ReadClient);
        connect(s, &QIODevice::bytesWritten, this, &ScriptedNntpServer::TopUpForever);
        connect(s, &QAbstractSocket::disconnected, this, &ScriptedNntpServer::ClientGone);
        if (steps.isEmpty() || steps.first().kind != Step::Greeting) {
            errors << QStringLiteral("unexpected connection #%1").arg(connections);
            Queue(ScriptedReply("400 unexpected connection\r\n").Close());
            continue;
        }
        const Step step = steps.takeFirst();
        if (!step.silent)
            Queue(step.reply);
    }
}

void ScriptedNntpServer::ClientGone()
{
    endless.clear();
    emit connectionClosed();
}

void ScriptedNntpServer::TopUpForever()
{
    // Keep about a megabyte queued: the client's reading, not this server, sets the pace.
    constexpr qint64 queued = 1024 * 1024;
    if (endless.isEmpty() || !client || client->state() != QAbstractSocket::ConnectedState)
        return;
    while (client->bytesToWrite() < queued) {
        const qint64 n = client->write(endless);
        if (n <= 0)
            return;
        endlessBytes += n;
    }
}

void ScriptedNntpServer::ReadClient()
{
    if (!client)
        return;
    inBuffer += client->readAll();
    for (;;) {
        const qsizetype lf = inBuffer.indexOf('\n');
        if (lf < 0)
            return;
        QByteArray line = inBuffer.left(lf + 1);
        inBuffer.remove(0, lf + 1);
        HandleLine(line);
        if (!client)
            return;
    }
}

void ScriptedNntpServer::HandleLine(const QByteArray& rawLine)
{
    QByteArray line = rawLine;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);

    if (!inArticle && !steps.isEmpty() && steps.first().kind == Step::Article) {
        inArticle = true;
        articleRaw.clear();
    }
    if (inArticle) {
        if (line == ".") {
            inArticle = false;
            rawArticles << articleRaw;
            // Undo the dot-stuffing line by line.
            QByteArray plain;
            const QList<QByteArray> lines = articleRaw.split('\n');
            for (int i = 0; i < lines.size(); ++i) {
                QByteArray l = lines[i];
                if (i == lines.size() - 1 && l.isEmpty())
                    break;
                if (l.startsWith('.'))
                    l.remove(0, 1);
                plain += l + '\n';
            }
            articles << plain;
            Queue(steps.takeFirst().reply);
        } else {
            articleRaw += rawLine;
        }
        return;
    }

    commands << line;
    emit commandReceived(line);
    if (steps.isEmpty() || steps.first().kind != Step::Command) {
        errors << QStringLiteral("unexpected command \"%1\"").arg(QString::fromUtf8(line));
        Queue(ScriptedReply("500 unexpected command\r\n"));
        return;
    }
    const QByteArray& expect = steps.first().expect;
    const bool match = expect.endsWith('*') ? line.startsWith(expect.chopped(1)) : line == expect;
    if (!match) {
        errors << QStringLiteral("expected \"%1\", got \"%2\"").arg(QString::fromUtf8(expect), QString::fromUtf8(line));
        Queue(ScriptedReply("500 unexpected command\r\n"));
        return;
    }
    Queue(steps.takeFirst().reply);
}

void ScriptedNntpServer::Queue(const ScriptedReply& reply)
{
    outQueue += reply.Chunks;
    if (!writing)
        WriteNext();
}

void ScriptedNntpServer::WriteNext()
{
    writing = false;
    if (outQueue.isEmpty() || !client)
        return;
    const ScriptedReply::Chunk chunk = outQueue.takeFirst();
    switch (chunk.kind) {
    case ScriptedReply::Chunk::Data:
        client->write(chunk.data);
        client->flush();
        break;
    case ScriptedReply::Chunk::Close:
        outQueue.clear();
        client->disconnectFromHost();
        return;
    case ScriptedReply::Chunk::Reset:
        outQueue.clear();
        client->flush();
        client->abort();
        return;
    case ScriptedReply::Chunk::StartTls: {
        auto* ssl = qobject_cast<QSslSocket*>(client.data());
        if (!ssl || startTlsCertificate.isNull()) {
            errors << QStringLiteral("STARTTLS scripted on a server without a certificate (ListenStartTls)");
            break;
        }
        client->flush();
        QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
        conf.setLocalCertificate(startTlsCertificate);
        conf.setPrivateKey(startTlsKey);
        conf.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->setSslConfiguration(conf);
        ssl->startServerEncryption();
        break;
    }
    case ScriptedReply::Chunk::Forever:
        outQueue.clear();
        endless = chunk.data.isEmpty() ? QByteArray("\r\n") : chunk.data;
        TopUpForever();
        return;
    }
    if (outQueue.isEmpty())
        return;
    if (outQueue.first().kind == ScriptedReply::Chunk::StartTls) {
        // At once: the client starts its handshake as soon as it reads the answer.
        WriteNext();
        return;
    }
    writing = true;
    // The next piece goes out in a later write, so the client reads the pieces separately.
    QTimer::singleShot(chunkGap, this, &ScriptedNntpServer::WriteNext);
}
