#include "render/FeedServer.h"

#include "core/BaseUtils.h"
#include "render/PodcastFeed.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QLocale>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

namespace {
// A request's line and headers may take this much; more is refused.
constexpr qsizetype MaxRequestHead = 16 * 1024;
// A file is read in pieces of this size, and no more is handed to a socket while it still
// holds this much unsent.
constexpr qint64 Piece = 64 * 1024;
constexpr qint64 Backlog = 256 * 1024;

QString HttpDate(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss")) + QStringLiteral(" GMT");
}

QByteArray ReasonOf(int status)
{
    switch (status) {
    case 200: return "OK";
    case 206: return "Partial Content";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 416: return "Range Not Satisfiable";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Error";
    }
}

// A single byte range of a file of size bytes. Status 206 with first and last byte, 416 when it
// lies past the end, or 200 when the header is absent, malformed or asks for several ranges
// (the whole file is then the answer, as HTTP allows).
struct TRange {
    int Status = 200;
    qint64 First = 0;
    qint64 Last = -1;
};

bool Digits(const QByteArray& s)
{
    if (s.isEmpty() || s.size() > 18)
        return false;
    for (const char c : s)
        if (c < '0' || c > '9')
            return false;
    return true;
}

TRange ParseRange(const QByteArray& header, qint64 size)
{
    TRange r;
    r.Last = size - 1;
    QByteArray range = header.trimmed();
    if (!range.startsWith("bytes=") || range.contains(','))
        return r;
    range = range.mid(6).trimmed();
    const qsizetype dash = range.indexOf('-');
    if (dash < 0)
        return r;
    const QByteArray from = range.left(dash).trimmed(), to = range.mid(dash + 1).trimmed();
    if (from.isEmpty()) {
        // The last bytes of the file.
        if (!Digits(to))
            return r;
        const qint64 count = to.toLongLong();
        if (count == 0 || size == 0)
            return {416, 0, 0};
        return {206, std::max<qint64>(0, size - count), size - 1};
    }
    if (!Digits(from) || (!to.isEmpty() && !Digits(to)))
        return r;
    const qint64 first = from.toLongLong();
    const qint64 last = to.isEmpty() ? size - 1 : to.toLongLong();
    if (!to.isEmpty() && last < first)
        return r;
    if (first >= size)
        return {416, 0, 0};
    return {206, first, std::min(last, size - 1)};
}
}

// One client connection: requests are read one after the other (a client may send the next
// before the answer is through), each answer is sent completely before the next is read.
class TFeedServer::TConnection : public QObject {
public:
    TConnection(TFeedServer* server, QTcpSocket* socket)
        : QObject(server), server(server), socket(socket)
    {
        socket->setParent(this);
        peer = socket->peerAddress().toString();
        idle.setSingleShot(true);
        idle.setInterval(server->IdleTimeoutMs);
        QObject::connect(&idle, &QTimer::timeout, this, [this] {
            UtilsClass::Log(QStringLiteral("Feed server: %1 idle for %2 ms, connection closed")
                                .arg(peer)
                                .arg(this->server->IdleTimeoutMs));
            this->socket->abort();
        });
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this] { received(); });
        QObject::connect(socket, &QTcpSocket::bytesWritten, this, [this] {
            idle.start();
            if (body)
                sendMore();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, this, [this] { gone(); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
            if (this->socket->state() != QAbstractSocket::ConnectedState)
                gone();
        });
        idle.start();
    }

    ~TConnection() override
    {
        // The socket goes first, without telling this half-destroyed object.
        socket->disconnect(this);
        delete socket;
    }

    // Says "busy" and closes: there are too many connections.
    void refuse()
    {
        closeAfter = true;
        answer(503, false, {});
    }

    qint64 Queued() const { return socket->bytesToWrite(); }

    void Drop()
    {
        body.reset();
        socket->abort();
    }

private:
    void received()
    {
        idle.start();
        const QByteArray data = socket->readAll();
        if (closeAfter)
            return;
        input += data;
        if (input.size() > 4 * MaxRequestHead) {
            // Far more requests sent ahead than any client needs while a file is on its way.
            UtilsClass::Log(QStringLiteral("Feed server: %1 sent too much ahead, connection closed").arg(peer));
            Drop();
            return;
        }
        if (!body)
            next();
    }

    void gone()
    {
        if (done)
            return;
        done = true;
        if (body)
            UtilsClass::Log(QStringLiteral("Feed server: %1 went away with %2 bytes of %3 unsent")
                                .arg(peer)
                                .arg(left)
                                .arg(body->fileName()));
        body.reset();
        idle.stop();
        server->connections.remove(this);
        deleteLater();
    }

    // Answers each complete request waiting in the input, until one needs to be streamed.
    void next()
    {
        while (!body && !closeAfter && !done) {
            qsizetype end = input.indexOf("\r\n\r\n");
            qsizetype skip = 4;
            const qsizetype bare = input.indexOf("\n\n");
            if (bare >= 0 && (end < 0 || bare < end)) {
                end = bare;
                skip = 2;
            }
            if (end < 0) {
                if (input.size() > MaxRequestHead) {
                    closeAfter = true;
                    request = "(request too long)";
                    answer(431, false, {});
                }
                return;
            }
            if (end > MaxRequestHead) {
                closeAfter = true;
                request = "(request too long)";
                answer(431, false, {});
                return;
            }
            const QByteArray head = input.left(end);
            input.remove(0, end + skip);
            handle(head);
        }
    }

    void handle(const QByteArray& head)
    {
        QList<QByteArray> lines = head.split('\n');
        for (QByteArray& l : lines)
            if (l.endsWith('\r'))
                l.chop(1);
        // Blank lines before a request are allowed.
        while (!lines.isEmpty() && lines.first().isEmpty())
            lines.removeFirst();
        if (lines.isEmpty())
            return;
        request = lines.first();
        const QList<QByteArray> parts = lines.first().split(' ');
        if (parts.size() != 3 || parts[0].isEmpty() || parts[1].isEmpty()) {
            closeAfter = true;
            return answer(400, false, {});
        }
        const QByteArray& method = parts[0];
        const QByteArray& version = parts[2];
        if (version != "HTTP/1.1" && version != "HTTP/1.0") {
            closeAfter = true;
            return answer(version.startsWith("HTTP/") ? 505 : 400, false, {});
        }
        QByteArray range, ifRange, connection;
        bool hasBody = false;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& l = lines[i];
            const qsizetype colon = l.indexOf(':');
            if (colon <= 0 || l.startsWith(' ') || l.startsWith('\t')) {
                closeAfter = true;
                return answer(400, false, {});
            }
            const QByteArray name = l.left(colon).trimmed().toLower();
            const QByteArray value = l.mid(colon + 1).trimmed();
            if (name == "range")
                range = value;
            else if (name == "if-range")
                ifRange = value;
            else if (name == "connection")
                connection = value.toLower();
            else if (name == "transfer-encoding" || (name == "content-length" && value != "0"))
                hasBody = true;
        }
        closeAfter = version == "HTTP/1.0" ? !connection.contains("keep-alive") : connection.contains("close");
        if (hasBody) {
            // Requests here carry no body; one that does cannot be told from the next request.
            closeAfter = true;
            return answer(400, false, {});
        }
        const bool headOnly = method == "HEAD";
        if (method != "GET" && !headOnly)
            return answer(405, false, {});
        QString path;
        const int status = server->resolve(parts[1], path);
        if (status != 200)
            return answer(status, headOnly, {});
        serve(path, headOnly, range, ifRange);
    }

    void serve(const QString& path, bool headOnly, const QByteArray& rangeHeader, const QByteArray& ifRange)
    {
        auto file = std::make_unique<QFile>(path);
        if (!file->open(QIODevice::ReadOnly)) {
            UtilsClass::Log(QStringLiteral("Feed server: cannot open %1: %2").arg(path, file->errorString()));
            return answer(404, headOnly, {});
        }
        const QFileInfo info(path);
        const qint64 size = file->size();
        const QString modified = HttpDate(info.lastModified());
        const QByteArray tag = '"' + QByteArray::number(size, 16) + '-'
                               + QByteArray::number(info.lastModified().toMSecsSinceEpoch(), 16) + '"';
        TRange r;
        r.Last = size - 1;
        if (!rangeHeader.isEmpty() && (ifRange.isEmpty() || ifRange == tag || ifRange == modified.toLatin1()))
            r = ParseRange(rangeHeader, size);
        QByteArray headers = "Content-Type: " + TPodcastFeed::ContentType(info.fileName()).toLatin1()
                             + "\r\nAccept-Ranges: bytes\r\nLast-Modified: " + modified.toLatin1() + "\r\nETag: " + tag
                             + "\r\n";
        if (r.Status == 416) {
            headers += "Content-Range: bytes */" + QByteArray::number(size) + "\r\n";
            return answer(416, headOnly, headers);
        }
        if (r.Status == 206)
            headers += "Content-Range: bytes " + QByteArray::number(r.First) + '-' + QByteArray::number(r.Last) + '/'
                       + QByteArray::number(size) + "\r\n";
        left = r.Last - r.First + 1;
        if (r.First > 0 && !file->seek(r.First)) {
            closeAfter = true;
            return answer(500, headOnly, {});
        }
        start(r.Status, headers, left);
        if (headOnly || left == 0)
            return finished();
        body = std::move(file);
        sendMore();
    }

    // The status line and headers; contentLength bytes of body follow (or not, for HEAD).
    void start(int status, const QByteArray& headers, qint64 contentLength)
    {
        QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + ' ' + ReasonOf(status) + "\r\nDate: "
                         + HttpDate(QDateTime::currentDateTimeUtc()).toLatin1() + "\r\nServer: Vorlix\r\n" + headers
                         + "Content-Length: " + QByteArray::number(contentLength) + "\r\nConnection: "
                         + (closeAfter ? "close" : "keep-alive") + "\r\n\r\n";
        socket->write(out);
        server->logRequest(QStringLiteral("%1 %2 %3 %4")
                               .arg(peer, QString::fromLatin1(request.left(300)))
                               .arg(status)
                               .arg(contentLength));
    }

    // An answer without a file: a short text saying what went wrong.
    void answer(int status, bool headOnly, QByteArray headers)
    {
        const QByteArray text = QByteArray::number(status) + ' ' + ReasonOf(status) + '\n';
        if (status == 405)
            headers += "Allow: GET, HEAD\r\n";
        if (status >= 400)
            headers += "Content-Type: text/plain; charset=utf-8\r\n";
        start(status, headers, text.size());
        if (!headOnly)
            socket->write(text);
        finished();
    }

    // Hands the socket the next pieces of the file while it has room for them.
    void sendMore()
    {
        while (body && left > 0 && socket->bytesToWrite() < Backlog) {
            const QByteArray piece = body->read(std::min(Piece, left));
            if (piece.isEmpty()) {
                // The file shrank or failed under us: the length promised cannot be kept.
                UtilsClass::Log(QStringLiteral("Feed server: reading %1 failed: %2").arg(body->fileName(), body->errorString()));
                body.reset();
                socket->abort();
                return;
            }
            socket->write(piece);
            left -= piece.size();
        }
        if (body && left == 0) {
            body.reset();
            finished();
        }
    }

    void finished()
    {
        if (closeAfter) {
            socket->disconnectFromHost();
            return;
        }
        if (!input.isEmpty())
            QTimer::singleShot(0, this, [this] { next(); });
    }

    TFeedServer* server;
    QTcpSocket* socket;
    QString peer;
    QTimer idle;
    QByteArray input;
    QByteArray request;
    std::unique_ptr<QFile> body;
    qint64 left = 0;
    bool closeAfter = false;
    bool done = false;
};

TFeedServer::TFeedServer(const QString& folder, QObject* owner)
    : QObject(owner), folder(QDir::cleanPath(QDir(folder).absolutePath())), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, [this] { accept(); });
}

TFeedServer::~TFeedServer()
{
    Close();
}

QString TFeedServer::Listen(const QString& address, int port)
{
    Close();
    const QHostAddress host(address);
    if (host.isNull())
        return QStringLiteral("\"%1\" is not an IP address").arg(address);
    if (port < 0 || port > 65535)
        return QStringLiteral("%1 is not a port number").arg(port);
    canonicalFolder = QFileInfo(folder).canonicalFilePath();
    if (canonicalFolder.isEmpty() || !QFileInfo(canonicalFolder).isDir())
        return QStringLiteral("The output folder %1 does not exist").arg(QDir::toNativeSeparators(folder));
    if (!server->listen(host, quint16(port)))
        return QStringLiteral("Cannot serve on %1 port %2: %3").arg(address).arg(port).arg(server->errorString());
    UtilsClass::Log(QStringLiteral("Feed server: serving %1 at %2").arg(folder, BaseUrl()));
    if (feed) {
        feed->SetBaseUrl(BaseUrl());
        feedStale = true;
        refreshFeed();
    }
    return {};
}

void TFeedServer::Close()
{
    if (server->isListening()) {
        server->close();
        UtilsClass::Log(QStringLiteral("Feed server: stopped serving %1").arg(folder));
    }
    const QSet<TConnection*> open = connections;
    connections.clear();
    for (TConnection* c : open) {
        c->Drop();
        delete c;
    }
}

qint64 TFeedServer::BytesQueued() const
{
    qint64 total = 0;
    for (const TConnection* c : connections)
        total += c->Queued();
    return total;
}

bool TFeedServer::Listening() const
{
    return server->isListening();
}

quint16 TFeedServer::Port() const
{
    return server->isListening() ? server->serverPort() : 0;
}

QString TFeedServer::BaseUrl() const
{
    if (!server->isListening())
        return {};
    QHostAddress host = server->serverAddress();
    if (host == QHostAddress::Any || host == QHostAddress::AnyIPv4 || host == QHostAddress::AnyIPv6) {
        QHostAddress found;
        for (const QHostAddress& a : QNetworkInterface::allAddresses()) {
            if (a.isLoopback() || a.isLinkLocal() || (host == QHostAddress::AnyIPv4 && a.protocol() != QAbstractSocket::IPv4Protocol))
                continue;
            if (found.isNull() || (found.protocol() != QAbstractSocket::IPv4Protocol && a.protocol() == QAbstractSocket::IPv4Protocol))
                found = a;
        }
        host = found.isNull() ? QHostAddress(QHostAddress::LocalHost) : found;
    }
    QString name = host.toString();
    if (host.protocol() == QAbstractSocket::IPv6Protocol)
        name = QLatin1Char('[') + name + QLatin1Char(']');
    return QStringLiteral("http://%1:%2/").arg(name).arg(server->serverPort());
}

void TFeedServer::SetFeed(TPodcastFeed* f)
{
    feed = f;
    feedStale = true;
    if (feed && server->isListening()) {
        feed->SetBaseUrl(BaseUrl());
        refreshFeed();
    }
}

void TFeedServer::refreshFeed()
{
    if (!feed)
        return;
    const QDateTime now = QFileInfo(folder).lastModified();
    if (!feedStale && now == folderTime && QFileInfo::exists(feed->FeedPath()))
        return;
    const QString error = feed->Update({});
    if (!error.isEmpty())
        UtilsClass::Log(QStringLiteral("Feed server: ") + error);
    feedStale = !error.isEmpty();
    // The feed's own new file changed the folder too.
    folderTime = QFileInfo(folder).lastModified();
}

void TFeedServer::accept()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        auto* c = new TConnection(this, socket);
        if (connections.size() >= MaxConnections) {
            UtilsClass::Log(QStringLiteral("Feed server: %1 connections are open; %2 is turned away")
                                .arg(connections.size())
                                .arg(socket->peerAddress().toString()));
            connections.insert(c);
            c->refuse();
            continue;
        }
        connections.insert(c);
    }
}

int TFeedServer::resolve(const QByteArray& target, QString& path)
{
    if (!target.startsWith('/'))
        return 400;
    QByteArray raw = target;
    const qsizetype query = raw.indexOf('?');
    if (query >= 0)
        raw.truncate(query);
    const qsizetype fragment = raw.indexOf('#');
    if (fragment >= 0)
        raw.truncate(fragment);
    const QByteArray lowered = raw.toLower();
    if (lowered.contains("%2f") || lowered.contains("%5c") || lowered.contains("%00") || raw.contains('\\'))
        return 400;
    const QByteArray decoded = QByteArray::fromPercentEncoding(raw.mid(1));
    const QString name = QString::fromUtf8(decoded);
    if (name.toUtf8() != decoded || name.contains(QLatin1Char('/')) || name.contains(QLatin1String("..")))
        return 400;
    for (const QChar c : name)
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return 400;
    if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
        return 404;
    const bool isFeed = name == TPodcastFeed::FileName();
    if (!isFeed && !TPodcastFeed::IsAudioFileName(name))
        return 404;
    if (isFeed)
        refreshFeed();
    const QFileInfo file(canonicalFolder + QLatin1Char('/') + name);
    if (!file.isFile() || !TPodcastFeed::InFolder(file, canonicalFolder))
        return 404;
    path = file.filePath();
    return 200;
}

void TFeedServer::logRequest(const QString& line)
{
    UtilsClass::Log(QStringLiteral("Feed server: ") + line);
    if (OnRequest)
        OnRequest(this, line);
}
