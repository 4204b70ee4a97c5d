#pragma once
// TNntpWrapper: the request processor's view of one NNTP session. It owns one TNntpCli, offers
// one plain call per use (numbers instead of range texts) and routes the client's completions:
// 480 (authentication required) to OnAuthenticationRequired, the end of an abort to OnAborted,
// everything else to OnRequestDone.
#include "nntp/NntpCli.h"

#include <QIODevice>
#include <QObject>
#include <QString>
#include <functional>

class TNntpWrapper : public QObject {
    Q_OBJECT
public:
    using TCompletionEvent = std::function<void(QObject* Sender, quint16 Error)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    explicit TNntpWrapper(QObject* parent = nullptr);
    ~TNntpWrapper() override;

    // Events. The processor re-binds OnRequestDone and OnMessageLine before every request.
    TCompletionEvent OnRequestDone;
    TCompletionEvent OnAborted;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnSessionClosed;
    TNotifyEvent OnAuthenticationRequired;
    TNotifyEvent OnMessageLine;

    void Connect(const QString& host);
    void Connect(const QString& host, const QString& userName, const QString& password);
    void Authenticate();
    void SetUserName(const QString& userName);
    void SetPassword(const QString& password);
    void SetGroup(const QString& groupName);
    void GetHeader(qint64 articleNumber);
    void GetBody(qint64 articleNumber);
    void GetArticle(qint64 articleNumber);
    void NextArticle();
    void GetHeaders(qint64 articleNumber);
    // Throws EVorlixError "Header range %d - %d is invalid" when last < first or a number is
    // negative (article numbers start at 0); nothing is sent.
    void GetHeaders(qint64 first, qint64 last);
    void ListGroups(QIODevice* stream);
    void Post(QIODevice* stream);
    void Abort();
    void Disconnect(); // the same as Abort
    // CAPABILITIES and STARTTLS of the client (see TNntpCli).
    void Capabilities();
    void StartTls();
    bool HasCapability(const QString& word) const;
    bool Encrypted() const;

    bool Connected() const;
    QString ArticleID() const;
    QString LastResponse() const;
    // The raw bytes of the data line being delivered (valid only inside OnMessageLine).
    QByteArrayView LastResponseBytes() const;
    // The client's LastResponse at the last failed completion; empty after a successful one.
    QString LastError() const { return FLastError; }

    TNntpCli* Client() const { return FClient; }

private:
    void ClientRequestDone(QObject* sender, quint8 rqType, quint16 error);

    TNntpCli* FClient = nullptr;
    QString FLastError;
};
