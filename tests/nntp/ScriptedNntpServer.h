#pragma once
// A small NNTP server on loopback that follows a script: tests list the greeting, the command
// lines they expect in order and the exact bytes to answer with, including answers split at
// chosen byte positions (each piece its own write), several lines in one write, a connection
// dropped at any point, or no answer at all. Everything the client sent is recorded.
//
//   ScriptedNntpServer server;
//   server.Listen();
//   server.Greet();                                         // "200 ..." on the next connection
//   server.Expect("GROUP alt.test", "211 3 1 3 alt.test\r\n");
//   server.Expect("BODY 1", ScriptedReply().Send("222 1 <a@b>\r\nline\r\n").Close());
//   client.SetHost(server.ServerName());
//
// A command that does not match the next step is answered "500 unexpected command" and noted
// in Errors(), so a test can check that the client sent exactly what it should.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

class ScriptedReply {
public:
    ScriptedReply() = default;
    ScriptedReply(const char* text) { Send(QByteArray(text)); }
    ScriptedReply(const QByteArray& text) { Send(text); }

    // One write of these bytes.
    ScriptedReply& Send(const QByteArray& bytes);
    // The bytes in several writes, cut at the given offsets (ascending, inside the text).
    ScriptedReply& SendSplit(const QByteArray& bytes, const QList<int>& cuts);
    // Close the connection in an orderly way after the writes before this.
    ScriptedReply& Close();
    // Drop the connection at once (reset) after the writes before this.
    ScriptedReply& Reset();
    // Start TLS on the connection after the writes before this (STARTTLS; see ListenStartTls).
    ScriptedReply& StartTls();

    // Send these bytes again and again, as fast as the client takes them, until it goes away
    // (an answer that never ends). Nothing after this is sent.
    ScriptedReply& SendForever(const QByteArray& bytes);

    struct Chunk {
        enum Kind { Data, Close, Reset, StartTls, Forever } kind = Data;
        QByteArray data;
    };
    QList<Chunk> Chunks;
};

class ScriptedNntpServer : public QObject {
    Q_OBJECT
public:
    explicit ScriptedNntpServer(QObject* parent = nullptr);
    ~ScriptedNntpServer() override;

    // Plain NNTP on 127.0.0.1 (or the given address), on a free port.
    bool Listen(const QHostAddress& address = QHostAddress::LocalHost);
    // Implicit TLS with this certificate and key.
    bool ListenTls(const QSslCertificate& certificate, const QSslKey& key,
                   const QHostAddress& address = QHostAddress::LocalHost);
    // Plain NNTP that can switch a connection to TLS with this certificate and key, where a
    // reply says StartTls().
    bool ListenStartTls(const QSslCertificate& certificate, const QSslKey& key,
                        const QHostAddress& address = QHostAddress::LocalHost);
    quint16 Port() const;
    // The server name a client connects to: "127.0.0.1:<port>" ("nntps://..." with TLS).
    QString ServerName() const;

    // Script steps, taken in order.
    void Greet(const ScriptedReply& reply = ScriptedReply("200 Vorlix scripted server ready, posting ok\r\n"));
    void GreetNever();                                   // accept the next connection and stay silent
    // The next command line must equal command (a trailing '*' matches any rest).
    void Expect(const QByteArray& command, const ScriptedReply& reply);
    // After a 340: read the article up to the "." line, then answer.
    void ExpectArticle(const ScriptedReply& reply);
    // Time between the writes of one reply (default 20 ms) so each arrives in a read of its own.
    void SetChunkGap(int ms) { chunkGap = ms; }

    // A multi-line answer: the status line, the lines dot-stuffed, the "." line.
    static QByteArray MultiLine(const QByteArray& status, const QList<QByteArray>& lines);

    QList<QByteArray> Commands() const { return commands; }
    // Each posted article as sent on the wire (dot-stuffed, CR LF, without the final "." line).
    QList<QByteArray> RawArticles() const { return rawArticles; }
    // Each posted article with the dot-stuffing removed.
    QList<QByteArray> Articles() const { return articles; }
    QStringList Errors() const { return errors; }
    int Connections() const { return connections; }
    // Bytes written by SendForever replies so far.
    qint64 ForeverBytes() const { return endlessBytes; }
    // True when every step was taken and every write of its reply was made.
    bool Finished() const;
    bool ClientConnected() const;

signals:
    void commandReceived(const QByteArray& line);
    void connectionClosed();

private:
    struct Step {
        enum Kind { Greeting, Command, Article } kind = Command;
        QByteArray expect;
        ScriptedReply reply;
        bool silent = false;
    };

    void Accept();
    void ReadClient();
    void HandleLine(const QByteArray& line);
    void Queue(const ScriptedReply& reply);
    void WriteNext();
    void ClientGone();
    void TopUpForever();

    QTcpServer* server = nullptr;
    bool tls = false;
    QSslCertificate startTlsCertificate;
    QSslKey startTlsKey;
    QPointer<QTcpSocket> client;
    QByteArray inBuffer;
    bool inArticle = false;
    QByteArray articleRaw;
    QList<Step> steps;
    QList<ScriptedReply::Chunk> outQueue;
    bool writing = false;
    int chunkGap = 20;
    QList<QByteArray> commands;
    QList<QByteArray> rawArticles;
    QList<QByteArray> articles;
    QStringList errors;
    int connections = 0;
    QByteArray endless; // being sent again and again
    qint64 endlessBytes = 0;
};
