#pragma once
// A small NNTP server for demonstrations and tests. It serves the sample articles shipped in
// data/sample-news (one folder per newsgroup, one file per article) and accepts posts, which it
// keeps in memory. Dates in the sample files may be relative to now ("Date: -2d 09:14"), so the
// samples always look recent.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

struct TSampleArticle {
    int Number = 0;
    QByteArray Head;  // header lines, CR LF separated, without the blank line
    QByteArray Body;  // body lines, CR LF separated
    QByteArray MessageId, Subject, From, Date, References;
    int Lines = 0;
    QByteArray Header(const QByteArray& name) const;
};

struct TSampleGroup {
    QString Name;
    QString Description;
    QList<TSampleArticle> Articles;
    int High() const { return Articles.isEmpty() ? 0 : Articles.last().Number; }
    int Low() const { return Articles.isEmpty() ? 1 : Articles.first().Number; }
};

class TSampleNewsServer : public QObject {
    Q_OBJECT
public:
    explicit TSampleNewsServer(QObject* parent = nullptr);
    ~TSampleNewsServer() override;

    // Loads every group folder below dir. Returns the number of articles loaded.
    int LoadDirectory(const QString& dir);
    // Listens on the loopback address; port 0 picks a free one.
    bool Listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    quint16 Port() const;

    // Groups whose reading needs AUTHINFO USER/PASS with these credentials.
    void RequireLogin(const QString& user, const QString& password) { LoginUser = user; LoginPass = password; }

    const QMap<QString, TSampleGroup>& Groups() const { return groups; }
    // Adds one article (complete headers and body, CR LF or LF) to the groups it names.
    bool AddArticle(const QByteArray& text, QString* error = nullptr);
    // Creates an empty newsgroup (nothing happens when it exists).
    void AddGroup(const QString& name, const QString& description = QString());
    // Takes an article off the server, as an expiry does. False when the group lacks it.
    bool RemoveArticle(const QString& group, int number);
    // Stops listening and drops every connection, as a server that goes away.
    void Close();

private:
    struct Session;
    void onConnection();
    void handleLine(Session* s, const QByteArray& line);
    void send(Session* s, const QByteArray& data);
    QByteArray overview(const TSampleArticle& a) const;
    const TSampleArticle* findArticle(Session* s, const QByteArray& arg, int* number);

    QTcpServer* server;
    QMap<QString, TSampleGroup> groups;
    QString LoginUser, LoginPass;
    int nextPosted = 1;
};
