#pragma once
// The output folder over HTTP, for podcast apps: GET and HEAD of feed.xml and of the folder's
// audio files, nothing else (no sub-folders, hidden files, links leading out of the folder or
// other files). Byte ranges are answered (206) as players seek and resume with them; files
// are sent in pieces as each client takes them, so a slow client holds only its own
// connection, and one that sends or takes nothing for IdleTimeoutMs is dropped. Every request
// is written to the debug log.
#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class QTcpServer;
class TPodcastFeed;

class TFeedServer : public QObject {
public:
    explicit TFeedServer(const QString& folder, QObject* owner = nullptr);
    ~TFeedServer() override;

    // Listens on address (an IP address: "127.0.0.1" serves this machine only, "0.0.0.0" every
    // network) and port (0: a free one, see Port()). Returns "" or why it cannot listen.
    QString Listen(const QString& address = QStringLiteral("127.0.0.1"), int port = 0);
    void Close();
    bool Listening() const;
    quint16 Port() const;
    // Where the folder is served, such as "http://127.0.0.1:8080/" (an IPv6 address in
    // brackets; listening on every network: this machine's first address on the network).
    // Empty while not listening.
    QString BaseUrl() const;

    // The feed of the folder. While serving, its enclosures point at BaseUrl(), and it is
    // brought up to date before feed.xml is sent whenever files came or went in the folder.
    void SetFeed(TPodcastFeed* feed);

    int ConnectionCount() const { return int(connections.size()); }
    // Bytes handed to the connections and not sent yet: a few hundred kilobytes each at most,
    // however large the files.
    qint64 BytesQueued() const;

    // A connection that neither sends nor takes anything for this long is closed.
    int IdleTimeoutMs = 60000;
    // More connections at once are answered 503 and closed.
    int MaxConnections = 256;

    // Each answered request, as logged: "127.0.0.1 GET /feed.xml HTTP/1.1 200 2048" (the
    // request line, the status and the length of the answer).
    std::function<void(TFeedServer*, const QString& line)> OnRequest;

private:
    class TConnection;
    friend class TConnection;
    void accept();
    void refreshFeed();
    // The file a request target names, or the status to answer instead (400 or 404).
    int resolve(const QByteArray& target, QString& path);
    void logRequest(const QString& line);

    QString folder;
    QString canonicalFolder;
    QTcpServer* server;
    QSet<TConnection*> connections;
    TPodcastFeed* feed = nullptr;
    bool feedStale = true;
    QDateTime folderTime; // the folder's modification time when the feed was last brought up to date
};
