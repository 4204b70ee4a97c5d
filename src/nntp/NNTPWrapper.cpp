#include "nntp/NNTPWrapper.h"

TNntpWrapper::TNntpWrapper(QObject* parent) : QObject(parent), FClient(new TNntpCli(this))
{
    FClient->OnRequestDone = [this](QObject* sender, quint8 rqType, quint16 error) {
        ClientRequestDone(sender, rqType, error);
    };
    FClient->OnSessionConnected = [this](QObject*, quint16) {
        if (OnSessionConnected)
            OnSessionConnected(this);
    };
    FClient->OnSessionClosed = [this](QObject*, quint16) {
        if (OnSessionClosed)
            OnSessionClosed(this);
    };
    FClient->OnMessageLine = [this](QObject*) {
        if (OnMessageLine)
            OnMessageLine(this);
    };
}

TNntpWrapper::~TNntpWrapper()
{
    // No event of the client may reach a wrapper that is going away.
    FClient->OnRequestDone = nullptr;
    FClient->OnSessionConnected = nullptr;
    FClient->OnSessionClosed = nullptr;
    FClient->OnMessageLine = nullptr;
    delete FClient;
    FClient = nullptr;
}

void TNntpWrapper::ClientRequestDone(QObject*, quint8 rqType, quint16 error)
{
    if (error != 0)
        FLastError = FClient->LastResponse();
    else
        FLastError.clear();
    if (error == 480) {
        if (OnAuthenticationRequired)
            OnAuthenticationRequired(this);
    } else if (rqType != nntpRqAbort) {
        if (OnRequestDone)
            OnRequestDone(this, error);
    } else {
        if (OnAborted)
            OnAborted(this, error);
    }
}

void TNntpWrapper::Connect(const QString& host)
{
    Connect(host, QString(), QString());
}

void TNntpWrapper::Connect(const QString& host, const QString& userName, const QString& password)
{
    FClient->SetHost(host);
    FClient->SetUserName(userName);
    FClient->SetPassWord(password);
    FClient->Connect();
}

void TNntpWrapper::Authenticate()
{
    FClient->Authenticate();
}

void TNntpWrapper::SetUserName(const QString& userName)
{
    FClient->SetUserName(userName);
}

void TNntpWrapper::SetPassword(const QString& password)
{
    FClient->SetPassWord(password);
}

void TNntpWrapper::SetGroup(const QString& groupName)
{
    FClient->Group(groupName);
}

void TNntpWrapper::GetHeader(qint64 articleNumber)
{
    FClient->HeadByNumber(articleNumber, nullptr);
}

void TNntpWrapper::GetBody(qint64 articleNumber)
{
    FClient->BodyByNumber(articleNumber, nullptr);
}

void TNntpWrapper::GetArticle(qint64 articleNumber)
{
    FClient->ArticleByNumber(articleNumber, nullptr);
}

void TNntpWrapper::NextArticle()
{
    FClient->Next();
}

void TNntpWrapper::GetHeaders(qint64 articleNumber)
{
    if (articleNumber < 0)
        throw EVorlixError(QStringLiteral("Header number %1 is invalid").arg(articleNumber));
    FClient->XOver(QString::number(articleNumber), nullptr);
}

void TNntpWrapper::GetHeaders(qint64 first, qint64 last)
{
    if (last < first || first < 0)
        throw EVorlixError(QStringLiteral("Header range %1 - %2 is invalid").arg(first).arg(last));
    FClient->XOver(QString::number(first) + "-" + QString::number(last), nullptr);
}

void TNntpWrapper::ListGroups(QIODevice* stream)
{
    FClient->List(stream);
}

void TNntpWrapper::Post(QIODevice* stream)
{
    FClient->Post(stream);
}

void TNntpWrapper::Abort()
{
    FClient->Abort();
}

void TNntpWrapper::Disconnect()
{
    FClient->Abort();
}

bool TNntpWrapper::Connected() const
{
    return FClient->State() != nntpNotConnected;
}

QString TNntpWrapper::ArticleID() const
{
    return FClient->ArticleID();
}

QString TNntpWrapper::LastResponse() const
{
    return FClient->LastResponse();
}

QByteArrayView TNntpWrapper::LastResponseBytes() const
{
    return FClient->LastResponseBytes();
}

void TNntpWrapper::Capabilities()
{
    FClient->Capabilities();
}

void TNntpWrapper::StartTls()
{
    FClient->StartTls();
}

bool TNntpWrapper::HasCapability(const QString& word) const
{
    return FClient->HasCapability(word);
}

bool TNntpWrapper::Encrypted() const
{
    return FClient->Encrypted();
}
