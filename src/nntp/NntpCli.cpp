#include "nntp/NntpCli.h"

#include "core/BaseUtils.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QPointer>
#include <QSslCipher>
#include <QSslConfiguration>
#include <QSslSocket>

#include <algorithm>
#include <cstring>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// Reads the numbers of a status line one after the other: blanks (space, tab, CR, LF) are
// skipped, one optional sign is accepted, then decimal digits up to the first non-digit;
// no digits give 0. Article numbers are 64-bit; values beyond that are clamped.
class TStatusReader {
public:
    explicit TStatusReader(QByteArrayView line) : s(line) {}

    qint64 Number()
    {
        SkipBlanks();
        bool negative = false;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
            negative = s[pos] == '-';
            ++pos;
        }
        constexpr qint64 max = std::numeric_limits<qint64>::max();
        qint64 value = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            const int digit = s[pos] - '0';
            value = value > (max - digit) / 10 ? max : value * 10 + digit;
            ++pos;
        }
        return negative ? -value : value;
    }

    // A status code (or any small number): the next number, clamped to 32 bits.
    qint32 Code()
    {
        const qint64 v = Number();
        return qint32(std::clamp<qint64>(v, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
    }

    // The message ID after the current position, without its angle brackets; empty without "<".
    QString MessageID()
    {
        SkipBlanks();
        const qsizetype open = s.sliced(pos).indexOf('<');
        if (open < 0)
            return QString();
        const QByteArrayView rest = s.sliced(pos + open + 1);
        const qsizetype close = rest.indexOf('>');
        return QString::fromUtf8(close < 0 ? rest : rest.first(close));
    }

    QByteArrayView Rest() const { return s.sliced(pos); }

private:
    void SkipBlanks()
    {
        while (pos < s.size() && (s[pos] == ' ' || s[pos] == '\t' || s[pos] == '\r' || s[pos] == '\n'))
            ++pos;
    }

    QByteArrayView s;
    qsizetype pos = 0;
};

qint32 StatusOf(QByteArrayView line)
{
    return TStatusReader(line).Code();
}

const char* ArticleCommand(TNntpRequestType rq)
{
    switch (rq) {
    case nntpRqArticleByNumber:
    case nntpRqArticleByID:
        return "ARTICLE";
    case nntpRqHeadByNumber:
    case nntpRqHeadByID:
        return "HEAD";
    case nntpRqBodyByNumber:
    case nntpRqBodyByID:
        return "BODY";
    case nntpRqStatByNumber:
    case nntpRqStatByID:
        return "STAT";
    default:
        throw NntpException(QStringLiteral("Internal error: Invalid Request Type"));
    }
}

QString SecondsText(int ms)
{
    return QString::number(ms / 1000.0);
}

// "64 MB", "1.5 MB", "256 KB", "800 bytes": sizes in binary units for the user's messages.
QString SizeText(qint64 bytes)
{
    constexpr qint64 kb = 1024;
    constexpr qint64 mb = 1024 * kb;
    if (bytes < kb)
        return QStringLiteral("%1 bytes").arg(bytes);
    const qint64 unit = bytes < mb ? kb : mb;
    const QString name = bytes < mb ? QStringLiteral("KB") : QStringLiteral("MB");
    if (bytes % unit == 0)
        return QStringLiteral("%1 %2").arg(bytes / unit).arg(name);
    return QStringLiteral("%1 %2").arg(double(bytes) / double(unit), 0, 'f', 1).arg(name);
}

QString WhenText(TDateTime when)
{
    const QDateTime dt = when.Value == 0.0 ? QDateTime::currentDateTime() : when.ToQDateTime();
    return dt.toString(QStringLiteral("yyMMdd HHmmss"));
}

constexpr qsizetype MinReadRoom = 16 * 1024;

qint64 gDefaultMaxAnswerBytes = TNntpCli::BuiltInMaxAnswerBytes;
int gDefaultRequestTimeoutMs = TNntpCli::BuiltInRequestTimeoutMs;

} // namespace

void TNntpCli::SetDefaultLimits(qint64 maxAnswerBytes, qint64 requestTimeoutMs)
{
    gDefaultMaxAnswerBytes = maxAnswerBytes > 0 ? maxAnswerBytes : BuiltInMaxAnswerBytes;
    // A timer counts milliseconds in an int: longer deadlines are as good as none.
    gDefaultRequestTimeoutMs = requestTimeoutMs <= 0 ? BuiltInRequestTimeoutMs
                                                     : int(std::min<qint64>(requestTimeoutMs,
                                                                            std::numeric_limits<int>::max()));
}

qint64 TNntpCli::DefaultMaxAnswerBytes()
{
    return gDefaultMaxAnswerBytes;
}

int TNntpCli::DefaultRequestTimeoutMs()
{
    return gDefaultRequestTimeoutMs;
}

TNntpCli::TNntpCli(QObject* parent)
    : QObject(parent), FDecoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
{
    FSendBuffer.resize(PostBlockSize);
    FRcvBuffer.resize(64 * 1024);
    FMaxAnswerBytes = gDefaultMaxAnswerBytes;
    FRequestTimeoutMs = gDefaultRequestTimeoutMs;
    FConnectTimer.setSingleShot(true);
    FIdleTimer.setSingleShot(true);
    FRequestTimer.setSingleShot(true);
    connect(&FConnectTimer, &QTimer::timeout, this, &TNntpCli::ConnectTimedOut);
    connect(&FIdleTimer, &QTimer::timeout, this, &TNntpCli::IdleTimedOut);
    connect(&FRequestTimer, &QTimer::timeout, this, &TNntpCli::RequestTimedOut);
    FSocket = new QSslSocket(this);
    ConnectSocketSignals();
}

TNntpCli::~TNntpCli()
{
    // The socket must not call back into a half-destroyed client.
    if (FSocket) {
        FSocket->disconnect(this);
        FSocket->abort();
        delete FSocket;
        FSocket = nullptr;
    }
}

void TNntpCli::ConnectSocketSignals()
{
    connect(FSocket, &QAbstractSocket::stateChanged, this, &TNntpCli::SocketStateChanged);
    connect(FSocket, &QAbstractSocket::connected, this, &TNntpCli::SocketConnected);
    connect(FSocket, &QSslSocket::encrypted, this, &TNntpCli::SocketEncrypted);
    connect(FSocket, &QIODevice::readyRead, this, &TNntpCli::SocketReadyRead);
    connect(FSocket, &QIODevice::bytesWritten, this, &TNntpCli::SocketBytesWritten);
    connect(FSocket, &QAbstractSocket::errorOccurred, this, &TNntpCli::SocketError);
    connect(FSocket, &QSslSocket::sslErrors, this, &TNntpCli::SocketSslErrors);
    connect(FSocket, &QAbstractSocket::disconnected, this, &TNntpCli::SocketDisconnected);
}

// ---------------------------------------------------------------------------------------------
// Properties

QString TNntpCli::LastResponse() const
{
    if (!FLastResponse) {
        // Most lines are plain ASCII: Latin-1 conversion is the fastest exact decoding for them.
        const uchar* p = reinterpret_cast<const uchar*>(FCurLine.data());
        const uchar* end = p + FCurLine.size();
        uchar high = 0;
        for (; p != end; ++p)
            high |= *p;
        if (high < 0x80) {
            FLastResponse = QString::fromLatin1(FCurLine);
            return *FLastResponse;
        }
        QString text = FDecoder.decode(FCurLine);
        if (FDecoder.hasError()) {
            // Not UTF-8: old 8-bit articles are taken as Latin-1 rather than losing characters.
            FDecoder.resetState();
            text = QString::fromLatin1(FCurLine);
        }
        FLastResponse = std::move(text);
    }
    return *FLastResponse;
}

void TNntpCli::SetLastResponse(const QString& text)
{
    FCurLine = QByteArrayView();
    FLastResponse = text;
}

QString TNntpCli::CommandLine() const
{
    if (FCommandHasSecret)
        return QStringLiteral("AUTHINFO PASS ****");
    return QString::fromUtf8(FCommandLine);
}

bool TNntpCli::Encrypted() const
{
    return FSocket && FSocket->isEncrypted();
}

void TNntpCli::AddCaCertificates(const QList<QSslCertificate>& certificates)
{
    FExtraCas += certificates;
}

QString TNntpCli::ServerLabel() const
{
    const QString host = FServerHost.contains(':') ? "[" + FServerHost + "]" : FServerHost;
    return host + ":" + QString::number(FServerPort);
}

bool TNntpCli::ParseServerName(const QString& text, QString& host, quint16& port, bool* tls, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Invalid server name \"%1\": %2").arg(text, why);
        return false;
    };
    QString t = text.trimmed();
    bool tlsScheme = false;
    if (t.startsWith(QStringLiteral("nntps://"), Qt::CaseInsensitive)) {
        tlsScheme = true;
        t = t.mid(8);
    } else if (t.startsWith(QStringLiteral("nntp://"), Qt::CaseInsensitive)) {
        t = t.mid(7);
    }
    if (t.endsWith('/'))
        t.chop(1);
    if (t.isEmpty()) {
        if (error)
            *error = QStringLiteral("No news server name given");
        return false;
    }
    QString portText;
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close < 0)
            return fail(QStringLiteral("missing \"]\""));
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return fail(QStringLiteral("unexpected text after \"]\""));
            portText = rest.mid(1);
            if (portText.isEmpty())
                return fail(QStringLiteral("missing port number"));
        }
    } else {
        const qsizetype colons = t.count(':');
        if (colons == 1) {
            const qsizetype colon = t.indexOf(':');
            host = t.left(colon);
            portText = t.mid(colon + 1);
            if (portText.isEmpty())
                return fail(QStringLiteral("missing port number"));
        } else {
            host = t; // a plain name, or an IPv6 address without brackets
        }
    }
    if (host.isEmpty())
        return fail(QStringLiteral("missing host name"));
    for (QChar c : host) {
        if (c.isSpace() || c == '/' || c == '[' || c == ']')
            return fail(QStringLiteral("the host name contains \"%1\"").arg(c.isSpace() ? QStringLiteral(" ") : QString(c)));
    }
    if (host.contains(':') && QHostAddress(host).protocol() != QAbstractSocket::IPv6Protocol)
        return fail(QStringLiteral("\"%1\" is not an IPv6 address").arg(host));
    port = DefaultPort;
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint p = portText.toUInt(&ok);
        if (!ok || p == 0 || p > 65535)
            return fail(QStringLiteral("\"%1\" is not a port number").arg(portText));
        port = static_cast<quint16>(p);
    } else if (tlsScheme) {
        port = TlsPort;
    }
    if (tls)
        *tls = tlsScheme || port == TlsPort;
    return true;
}

// ---------------------------------------------------------------------------------------------
// State and completion

void TNntpCli::TriggerStateChange()
{
    if (OnStateChange)
        OnStateChange(this);
}

void TNntpCli::StateChange(TNntpState newState)
{
    if (FState == newState)
        return;
    FState = newState;
    TriggerStateChange();
}

void TNntpCli::TriggerRequestDone(quint16 error)
{
    if (!FRequestDone) {
        // Delivered from the event loop, never inside the code that ended the request.
        const quint8 rq = FRequestType;
        QMetaObject::invokeMethod(
            this,
            [this, rq, error] {
                if (OnRequestDone)
                    OnRequestDone(this, rq, error);
            },
            Qt::QueuedConnection);
    }
    FRequestDone = true;
    FNext = nullptr;
    FPosting = false;
    FIdleTimer.stop();
    FConnectTimer.stop();
    FRequestTimer.stop();
    const bool connected = FSocket && FSocket->state() == QAbstractSocket::ConnectedState;
    StateChange(connected ? nntpReady : nntpNotConnected);
}

void TNntpCli::FailRequest(quint16 code, const QString& message, bool closeConnection)
{
    if (!FRequestDone) {
        FErrorMessage = message;
        SetLastResponse(message);
        UtilsClass::Log(QStringLiteral("NNTP request failed [%1]: %2").arg(code).arg(message));
        TriggerRequestDone(code);
    }
    if (closeConnection && FSocket && FSocket->state() != QAbstractSocket::UnconnectedState) {
        // The answer in progress can no longer be read in step with the server: close.
        ++FGeneration;
        FRcvHead = FRcvTail = FRcvScan = 0;
        FSocket->abort();
        if (FState != nntpNotConnected)
            StateChange(nntpNotConnected);
    }
}

// ---------------------------------------------------------------------------------------------
// Commands

void TNntpCli::Connect()
{
    if (FState != nntpNotConnected)
        throw NntpException(QStringLiteral("Already connected"));
    QString host;
    quint16 port = DefaultPort;
    QString error;
    bool tls = false;
    if (!ParseServerName(FHost, host, port, &tls, &error))
        throw NntpException(error);
    if (tls && !QSslSocket::supportsSsl())
        throw NntpException(QStringLiteral("NNTP over TLS is not available: no TLS library"));

    FServerHost = host;
    FServerPort = port;
    FRequestType = nntpRqConnect;
    FRequestDone = false;
    SetLastResponse(QString());
    FRcvHead = FRcvTail = FRcvScan = 0;
    ++FGeneration;
    FCommandLine.clear();
    FCommandHasSecret = false;
    FArticleNumber = FArticleFirst = FArticleLast = FArticleEstimated = -1;
    FArticleID.clear();
    FNext = nullptr;
    FDataStream = nullptr;
    FPosting = false;
    FSslProblem.clear();
    FLastSocketError = 0;
    FWasConnected = false;

    // A fresh socket per session: nothing of an earlier connection can leak into this one.
    if (FSocket) {
        FSocket->disconnect(this);
        FSocket->abort();
        FSocket->deleteLater();
    }
    FSocket = new QSslSocket(this);
    ConnectSocketSignals();

    StateChange(nntpDnsLookup);
    FConnectTimer.start(FConnectTimeoutMs);
    FCapabilities.clear();
    if (tls) {
        ConfigureTls();
        FSocket->connectToHostEncrypted(host, port);
    } else {
        FSocket->connectToHost(host, port);
    }
}

void TNntpCli::ConfigureTls()
{
    // The same verification for NNTP over TLS and for STARTTLS: the system's authorities, those
    // the program trusts and this client's own, and the certificate must name the server.
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    if (!FExtraCas.isEmpty())
        conf.addCaCertificates(FExtraCas);
    conf.setPeerVerifyMode(QSslSocket::VerifyPeer);
    FSocket->setSslConfiguration(conf);
    FSocket->setPeerVerifyName(FServerHost);
}

bool TNntpCli::TrustCaFile(const QString& path, QString* error)
{
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(path, QSsl::Pem);
    if (certificates.isEmpty()) {
        if (error)
            *error = QStringLiteral("No certificate could be read from \"%1\"").arg(path);
        return false;
    }
    QSslConfiguration conf = QSslConfiguration::defaultConfiguration();
    conf.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(conf);
    UtilsClass::Log(QStringLiteral("Trusting the certificate authorities of %1 (%2)").arg(path).arg(certificates.size()));
    return true;
}

bool TNntpCli::HasCapability(const QString& word) const
{
    for (const QString& line : FCapabilities) {
        const QString first = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
        if (first.compare(word, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void TNntpCli::Abort()
{
    FRequestType = nntpRqAbort;
    FConnectTimer.stop();
    FIdleTimer.stop();
    FRequestTimer.stop();
    FPosting = false;
    FNext = nullptr;
    ++FGeneration;
    SetLastResponse(QString());
    FRcvHead = FRcvTail = FRcvScan = 0;
    if (FSocket && FSocket->state() != QAbstractSocket::UnconnectedState)
        FSocket->abort();
    SetLastResponse(QStringLiteral("205 Closing connection - goodbye"));
    FStatusCode = 205;
    FRequestDone = false;
    TriggerRequestDone(0);
}

void TNntpCli::CheckReady(const QString& notReadyMessage) const
{
    if (FState != nntpReady)
        throw NntpException(notReadyMessage);
}

void TNntpCli::StartCommand(TNntpRequestType rq, const QString& line, TResponseHandler handler,
                            const char* notReady)
{
    CheckReady(QString::fromUtf8(notReady));
    for (QChar c : line) {
        if (c == '\r' || c == '\n' || c == QChar(0))
            throw NntpException(QStringLiteral("Invalid character (line break or NUL) in NNTP command: %1")
                                    .arg(QString(line).replace('\r', ' ').replace('\n', ' ').replace(QChar(0), ' ')));
    }
    FRequestType = rq;
    FRequestDone = false;
    FCommandLine = line.toUtf8();
    FCommandHasSecret = false;
    FNext = handler;
    StateChange(nntpWaitingResponse);
    FSavedStatusLine.clear();
    FAnswerBytes = 0;
    // The deadline covers the whole request, the second line of AUTHINFO included.
    if (FRequestTimeoutMs > 0)
        FRequestTimer.start(FRequestTimeoutMs);
    else
        FRequestTimer.stop();
    SendRequest();
}

void TNntpCli::SendRequest()
{
    QByteArray data;
    data.reserve(FCommandLine.size() + 2);
    data += FCommandLine;
    data += "\r\n";
    FIdleTimer.start(FIdleTimeoutMs);
    if (FSocket->write(data) != data.size())
        FailRequest(NntpError::NetworkDown,
                    QStringLiteral("Cannot send to %1: %2").arg(ServerLabel(), FSocket->errorString()), true);
}

void TNntpCli::Quit()
{
    StartCommand(nntpRqQuit, QStringLiteral("QUIT"), &TNntpCli::QuitDone, "Not ready for QUIT");
}

void TNntpCli::Group(const QString& groupName)
{
    StartCommand(nntpRqGroup, QStringLiteral("GROUP ") + groupName.trimmed(), &TNntpCli::GroupNext,
                 "Not ready for GROUP");
}

void TNntpCli::GetArticle(TNntpRequestType rq, const QString& id, QIODevice* stream)
{
    const QString cmd = QString::fromLatin1(ArticleCommand(rq));
    const QByteArray notReady = ("Not ready for " + cmd).toUtf8();
    CheckReady(QString::fromUtf8(notReady));
    QIODevice* previous = FDataStream;
    FDataStream = stream;
    FArticleNumber = -1;
    FArticleID.clear();
    try {
        StartCommand(rq, cmd + id, &TNntpCli::GetArticleNext, notReady.constData());
    } catch (...) {
        FDataStream = previous;
        throw;
    }
}

void TNntpCli::GetArticleByNumber(TNntpRequestType rq, qint64 number, QIODevice* stream)
{
    GetArticle(rq, number < 1 ? QString() : " " + QString::number(number), stream);
}

void TNntpCli::GetArticleByID(TNntpRequestType rq, const QString& id, QIODevice* stream)
{
    GetArticle(rq, " <" + id + ">", stream);
}

void TNntpCli::ArticleByNumber(qint64 number, QIODevice* stream)
{
    GetArticleByNumber(nntpRqArticleByNumber, number, stream);
}
void TNntpCli::ArticleByID(const QString& id, QIODevice* stream)
{
    GetArticleByID(nntpRqArticleByID, id, stream);
}
void TNntpCli::HeadByNumber(qint64 number, QIODevice* stream)
{
    GetArticleByNumber(nntpRqHeadByNumber, number, stream);
}
void TNntpCli::HeadByID(const QString& id, QIODevice* stream)
{
    GetArticleByID(nntpRqHeadByID, id, stream);
}
void TNntpCli::BodyByNumber(qint64 number, QIODevice* stream)
{
    GetArticleByNumber(nntpRqBodyByNumber, number, stream);
}
void TNntpCli::BodyByID(const QString& id, QIODevice* stream)
{
    GetArticleByID(nntpRqBodyByID, id, stream);
}
void TNntpCli::StatByNumber(qint64 number)
{
    GetArticleByNumber(nntpRqStatByNumber, number, nullptr);
}
void TNntpCli::StatByID(const QString& id)
{
    GetArticleByID(nntpRqStatByID, id, nullptr);
}

void TNntpCli::Next()
{
    CheckReady(QStringLiteral("Not ready for NEXT"));
    FDataStream = nullptr;
    FArticleNumber = -1;
    FArticleID.clear();
    StartCommand(nntpRqNext, QStringLiteral("NEXT"), &TNntpCli::GetArticleNext, "Not ready for NEXT");
}

void TNntpCli::Last()
{
    CheckReady(QStringLiteral("Not ready for LAST"));
    FDataStream = nullptr;
    FArticleNumber = -1;
    FArticleID.clear();
    StartCommand(nntpRqLast, QStringLiteral("LAST"), &TNntpCli::GetArticleNext, "Not ready for LAST");
}

void TNntpCli::List(QIODevice* stream)
{
    CheckReady(QStringLiteral("Not ready for LIST"));
    FDataStream = stream;
    StartCommand(nntpRqList, QStringLiteral("LIST"), &TNntpCli::GetArticleNext, "Not ready for LIST");
}

void TNntpCli::Help(QIODevice* stream)
{
    CheckReady(QStringLiteral("Not ready for HELP"));
    FDataStream = stream;
    StartCommand(nntpRqHelp, QStringLiteral("HELP"), &TNntpCli::GetArticleNext, "Not ready for HELP");
}

void TNntpCli::XOver(const QString& range, QIODevice* stream)
{
    const QString line = QStringLiteral("XOVER ") + range;
    CheckReady(QStringLiteral("Not ready for XOVER"));
    QIODevice* previous = FDataStream;
    FDataStream = stream;
    try {
        StartCommand(nntpRqXOver, line, &TNntpCli::GetArticleNext, "Not ready for XOVER");
    } catch (...) {
        FDataStream = previous;
        throw;
    }
}

void TNntpCli::ListOverViewFmt(QIODevice* stream)
{
    CheckReady(QStringLiteral("Not ready for LIST OVERVIEW.FMT"));
    FDataStream = stream;
    StartCommand(nntpRqListOverViewFmt, QStringLiteral("LIST OVERVIEW.FMT"), &TNntpCli::GetArticleNext,
                 "Not ready for LIST OVERVIEW.FMT");
}

void TNntpCli::Date()
{
    CheckReady(QStringLiteral("Not ready for DATE"));
    FServerDate = TDateTime(0.0);
    StartCommand(nntpRqDate, QStringLiteral("DATE"), &TNntpCli::DateNext, "Not ready for DATE");
}

void TNntpCli::ModeReader()
{
    StartCommand(nntpRqModeReader, QStringLiteral("MODE READER"), &TNntpCli::ModeReaderNext,
                 "Not ready for ModeReader");
}

void TNntpCli::XHdr(QIODevice* stream, const QString& header, const QString& range)
{
    QString line = QStringLiteral("XHDR ") + header;
    if (!range.isEmpty())
        line += " " + range;
    CheckReady(QStringLiteral("Not ready for XHDR"));
    QIODevice* previous = FDataStream;
    FDataStream = stream;
    try {
        StartCommand(nntpRqXHdr, line, &TNntpCli::XHdrNext, "Not ready for XHDR");
    } catch (...) {
        FDataStream = previous;
        throw;
    }
}

void TNntpCli::NewGroups(TDateTime when, bool gmt, const QString& distributions, QIODevice* stream)
{
    QString line = QStringLiteral("NEWGROUPS ") + WhenText(when);
    if (gmt)
        line += QStringLiteral(" GMT");
    if (!distributions.isEmpty())
        line += " <" + distributions + ">";
    CheckReady(QStringLiteral("Not ready for NEWGROUPS"));
    QIODevice* previous = FDataStream;
    FDataStream = stream;
    try {
        StartCommand(nntpRqNewGroups, line, &TNntpCli::GetArticleNext, "Not ready for NEWGROUPS");
    } catch (...) {
        FDataStream = previous;
        throw;
    }
}

void TNntpCli::NewNews(const QString& newsgroups, TDateTime when, bool gmt, const QString& distributions,
                       QIODevice* stream)
{
    QString line = QStringLiteral("NEWNEWS ") + (newsgroups.isEmpty() ? QStringLiteral("*") : newsgroups) + " "
        + WhenText(when);
    if (gmt)
        line += QStringLiteral(" GMT");
    if (!distributions.isEmpty())
        line += " <" + distributions + ">";
    CheckReady(QStringLiteral("Not ready for NEWNEWS"));
    QIODevice* previous = FDataStream;
    FDataStream = stream;
    try {
        StartCommand(nntpRqNewNews, line, &TNntpCli::GetArticleNext, "Not ready for NEWNEWS");
    } catch (...) {
        FDataStream = previous;
        throw;
    }
}

void TNntpCli::Post(QIODevice* stream)
{
    CheckReady(QStringLiteral("Not ready for POST"));
    FDataStream = stream;
    FEndSent = false;
    StartCommand(nntpRqPost, QStringLiteral("POST"), &TNntpCli::PostNext, "Not ready for POST");
}

void TNntpCli::Authenticate()
{
    CheckReady(QStringLiteral("Not ready for AUTHINFO"));
    for (const QString& s : {FUserName, FPassWord}) {
        if (s.contains('\r') || s.contains('\n') || s.contains(QChar(0)))
            throw NntpException(QStringLiteral("The user name or password contains a line break"));
    }
    StartCommand(nntpRqAuthenticate, QStringLiteral("AUTHINFO USER ") + FUserName, &TNntpCli::AuthenticateNext1,
                 "Not ready for AUTHINFO");
}

void TNntpCli::Capabilities()
{
    CheckReady(QStringLiteral("Not ready for CAPABILITIES"));
    FDataStream = nullptr;
    StartCommand(nntpRqCapabilities, QStringLiteral("CAPABILITIES"), &TNntpCli::CapabilitiesNext,
                 "Not ready for CAPABILITIES");
}

void TNntpCli::StartTls()
{
    CheckReady(QStringLiteral("Not ready for STARTTLS"));
    if (Encrypted())
        throw NntpException(QStringLiteral("The connection is already encrypted"));
    if (!QSslSocket::supportsSsl())
        throw NntpException(QStringLiteral("NNTP over TLS is not available: no TLS library"));
    StartCommand(nntpRqStartTls, QStringLiteral("STARTTLS"), &TNntpCli::StartTlsNext, "Not ready for STARTTLS");
}

// ---------------------------------------------------------------------------------------------
// Response handlers

bool TNntpCli::IsMalformedStatus() const
{
    // A status line starts with three digits; anything else means the stream is not NNTP.
    const QByteArrayView line = FCurLine.isNull() ? QByteArrayView() : FCurLine;
    if (line.size() < 3)
        return true;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return true;
    }
    if (line.size() > 3 && line[3] != ' ' && line[3] != '\t')
        return true;
    const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
    return code < 100 || code > 599;
}

void TNntpCli::ReportMalformed()
{
    const QString line = LastResponse();
    FailRequest(NntpError::Protocol,
                QStringLiteral("%1 sent an answer that is not an NNTP status line: \"%2\"")
                    .arg(ServerLabel(), line.left(200)),
                true);
}

void TNntpCli::GroupNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    TStatusReader r(FCurLine);
    FStatusCode = r.Code();
    FArticleEstimated = r.Number();
    FArticleFirst = r.Number();
    FArticleLast = r.Number();
    TriggerRequestDone(FStatusCode == 211 ? 0 : static_cast<quint16>(FStatusCode));
}

void TNntpCli::QuitDone()
{
    FStatusCode = StatusOf(FCurLine);
    TriggerRequestDone(0);
}

void TNntpCli::GetArticleNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    TStatusReader r(FCurLine);
    FStatusCode = r.Code();
    switch (FStatusCode) {
    case 100:
    case 215:
    case 220:
    case 221:
    case 222:
    case 223:
    case 224:
    case 230:
    case 231:
        break;
    default:
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    FArticleNumber = r.Number();
    FArticleID = r.MessageID();
    if (FStatusCode == 223) {
        TriggerRequestDone(0);
        return;
    }
    FSavedStatusLine = LastResponse();
    FNext = &TNntpCli::GetArticleLineNext;
    StateChange(nntpWaitingResponse);
    if (OnMessageBegin)
        OnMessageBegin(this);
}

bool TNntpCli::TakeDataLine(const TNotifyEvent& endEvent)
{
    if (FCurLine.size() == 1 && FCurLine[0] == '.') {
        SetLastResponse(FSavedStatusLine);
        FSavedStatusLine.clear();
        if (endEvent)
            endEvent(this);
        TriggerRequestDone(0);
        return false;
    }
    if (!WithinAnswerLimit())
        return false;
    // Every multi-line answer is dot-stuffed, XHDR's too.
    if (!FCurLine.isEmpty() && FCurLine[0] == '.') {
        FCurLine = FCurLine.sliced(1);
        FLastResponse.reset();
    }
    if (FDataStream) {
        if (!FCurLine.isEmpty())
            FDataStream->write(FCurLine.data(), FCurLine.size());
        FDataStream->write("\r\n", 2);
    }
    return true;
}

bool TNntpCli::WithinAnswerLimit()
{
    FAnswerBytes += FCurLine.size() + 2;
    if (FMaxAnswerBytes <= 0 || FAnswerBytes <= FMaxAnswerBytes)
        return true;
    const QString command = CommandLine().section(QLatin1Char(' '), 0, 0);
    FailRequest(NntpError::AnswerTooLarge,
                QStringLiteral("The answer of %1 to %2 grew beyond %3; the request was ended and the connection "
                               "closed")
                    .arg(ServerLabel(), command, SizeText(FMaxAnswerBytes)),
                true);
    return false;
}

void TNntpCli::GetArticleLineNext()
{
    if (TakeDataLine(OnMessageEnd) && OnMessageLine)
        OnMessageLine(this);
}

void TNntpCli::XHdrNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    if (FStatusCode != 221) {
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    FSavedStatusLine = LastResponse();
    FNext = &TNntpCli::XHdrLineNext;
    StateChange(nntpWaitingResponse);
    if (OnXHdrBegin)
        OnXHdrBegin(this);
}

void TNntpCli::XHdrLineNext()
{
    if (TakeDataLine(OnXHdrEnd) && OnXHdrLine)
        OnXHdrLine(this);
}

void TNntpCli::PostNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    if (FStatusCode != 340) {
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    FNext = &TNntpCli::PostDone;
    FEndSent = false;
    FPosting = true;
    PostSendNext();
}

void TNntpCli::PostSendNext()
{
    if (!FPosting || !FSocket || FSocket->bytesToWrite() > 0)
        return;
    qint64 n = 0;
    if (FDataStream) {
        n = FDataStream->read(FSendBuffer.data(), PostBlockSize);
        if (n < 0) {
            UtilsClass::Log(QStringLiteral("POST: the article could not be read: ") + FDataStream->errorString());
            PostSendFailed();
            return;
        }
    }
    if (n > 0) {
        FSocket->write(FSendBuffer.constData(), n);
    } else if (!FEndSent) {
        FEndSent = true;
        FSocket->write("\r\n.\r\n", 5);
    }
}

void TNntpCli::PostSendFailed()
{
    SetLastResponse(QStringLiteral("441 posting failed"));
    PostDone();
}

void TNntpCli::PostDone()
{
    FPosting = false;
    FStatusCode = StatusOf(LastResponse().toUtf8());
    TriggerRequestDone(FStatusCode == 240 ? 0 : static_cast<quint16>(FStatusCode));
}

void TNntpCli::DateNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    TStatusReader r(FCurLine);
    FStatusCode = r.Code();
    if (FStatusCode != 111) {
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    const QByteArray rest = r.Rest().toByteArray().trimmed();
    if (rest.size() == 14) {
        bool allDigits = true;
        for (char c : rest)
            allDigits = allDigits && c >= '0' && c <= '9';
        if (allDigits) {
            auto part = [&](int from, int len) { return rest.mid(from, len).toInt(); };
            if (auto dt = TDateTime::Encode(part(0, 4), part(4, 2), part(6, 2), part(8, 2), part(10, 2), part(12, 2)))
                FServerDate = *dt;
        }
    }
    TriggerRequestDone(0);
}

void TNntpCli::ModeReaderNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    TriggerRequestDone(FStatusCode == 200 || FStatusCode == 201 ? 0 : static_cast<quint16>(FStatusCode));
}

void TNntpCli::AuthenticateNext1()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    if (FStatusCode == 381) {
        FNext = &TNntpCli::AuthenticateNext2;
        FCommandLine = (QStringLiteral("AUTHINFO PASS ") + FPassWord).toUtf8();
        FCommandHasSecret = true;
        SendRequest();
        return;
    }
    // 281 right after the user name: the server needs no password, the login succeeded.
    TriggerRequestDone(FStatusCode == 281 ? 0 : static_cast<quint16>(FStatusCode));
}

void TNntpCli::AuthenticateNext2()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    TriggerRequestDone(FStatusCode == 281 ? 0 : static_cast<quint16>(FStatusCode));
}

void TNntpCli::CapabilitiesNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    if (FStatusCode != 101) {
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    FCapabilities.clear();
    FSavedStatusLine = LastResponse();
    FNext = &TNntpCli::CapabilitiesLineNext;
}

void TNntpCli::CapabilitiesLineNext()
{
    if (TakeDataLine(TNotifyEvent()))
        FCapabilities << LastResponse();
}

void TNntpCli::StartTlsNext()
{
    if (IsMalformedStatus()) {
        ReportMalformed();
        return;
    }
    FStatusCode = StatusOf(FCurLine);
    if (FStatusCode != 382) {
        // 580 (the server cannot start TLS) or 502: the connection stays as it was, unencrypted.
        TriggerRequestDone(static_cast<quint16>(FStatusCode));
        return;
    }
    // Nothing may come in clear text between 382 and the handshake: a line now would be an
    // attempt to slip something in.
    FNext = &TNntpCli::ReportMalformed;
    FCapabilities.clear();
    FSslProblem.clear();
    ConfigureTls();
    FSocket->startClientEncryption();
}

// ---------------------------------------------------------------------------------------------
// Receiving

void TNntpCli::DispatchLine()
{
    switch (FState) {
    case nntpDnsLookup:
    case nntpWaitingBanner: {
        FConnectTimer.stop();
        if (IsMalformedStatus()) {
            FStatusCode = 0;
            const QString line = LastResponse();
            FailRequest(NntpError::Protocol,
                        QStringLiteral("%1 did not greet as a news server: \"%2\"").arg(ServerLabel(), line.left(200)),
                        true);
            return;
        }
        FStatusCode = StatusOf(FCurLine);
        if (FStatusCode != 200 && FStatusCode != 201) {
            // 400 or 502: the server refuses service; its line is the message.
            const QString line = LastResponse();
            FailRequest(static_cast<quint16>(FStatusCode), line, true);
            return;
        }
        FPostingPermited = FStatusCode == 200;
        FRequestDone = true; // Connect ends with OnSessionConnected, without a completion
        StateChange(nntpReady);
        if (OnSessionConnected)
            OnSessionConnected(this, 0);
        return;
    }
    case nntpWaitingResponse:
        if (FNext)
            (this->*FNext)();
        else
            StateChange(nntpReady);
        return;
    default:
        if (OnDataAvailable)
            OnDataAvailable(this, 0);
        return;
    }
}

void TNntpCli::ApplyQuickAck()
{
    if (!FQuickAck || !FSocket)
        return;
    const qintptr fd = FSocket->socketDescriptor();
    if (fd < 0)
        return;
    int one = 1;
    ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
}

bool TNntpCli::ProcessReceived()
{
    if (FInReceive || !FSocket)
        return true;
    QPointer<TNntpCli> self(this);
    FInReceive = true;
    // An exception from an event handler travels on to the application's handler; the client
    // must still take the next data then.
    struct TReceiveGuard {
        QPointer<TNntpCli>& client;
        ~TReceiveGuard()
        {
            if (client)
                client->FInReceive = false;
        }
    } guard{self};
    const quint64 generation = FGeneration;
    while (FSocket->bytesAvailable() > 0) {
        // The line views point into the buffer: keep the last one as text before it changes.
        if (!FLastResponse)
            LastResponse();
        FCurLine = QByteArrayView();

        if (FRcvHead == FRcvTail)
            FRcvHead = FRcvTail = FRcvScan = 0;
        if (FRcvBuffer.size() - FRcvTail < MinReadRoom) {
            if (FRcvHead > 0) {
                std::memmove(FRcvBuffer.data(), FRcvBuffer.constData() + FRcvHead, FRcvTail - FRcvHead);
                FRcvTail -= FRcvHead;
                FRcvScan -= FRcvHead;
                FRcvHead = 0;
            }
            if (FRcvBuffer.size() - FRcvTail < MinReadRoom)
                FRcvBuffer.resize(FRcvBuffer.size() * 2);
        }
        char* base = FRcvBuffer.data();
        const qint64 n = FSocket->read(base + FRcvTail, FRcvBuffer.size() - FRcvTail);
        if (n <= 0)
            break;
        if (FRequestType == nntpRqAbort)
            continue; // discarded
        char* fresh = base + FRcvTail;
        for (char* p = fresh; (p = static_cast<char*>(std::memchr(p, 0, fresh + n - p))) != nullptr; ++p)
            *p = ' ';
        if (FState == nntpWaitingResponse && !FRequestDone)
            FIdleTimer.start(FIdleTimeoutMs);
        ApplyQuickAck();
        if (OnDisplay) {
            OnDisplay(this, fresh, static_cast<qint32>(n));
            if (!self)
                return false;
            if (generation != FGeneration)
                break;
        }
        FRcvTail += n;

        for (;;) {
            const char* start = base + FRcvScan;
            const char* lf = static_cast<const char*>(std::memchr(start, '\n', FRcvTail - FRcvScan));
            if (!lf) {
                FRcvScan = FRcvTail;
                if (FRcvTail - FRcvHead > qsizetype(MaxLineLength) + 1) {
                    FailRequest(NntpError::LineTooLong,
                                QStringLiteral("%1 sent a line longer than 1 MiB (%2 bytes); the request was ended")
                                    .arg(ServerLabel())
                                    .arg(MaxLineLength),
                                true);
                    FRcvHead = FRcvTail = FRcvScan = 0;
                    return true;
                }
                break;
            }
            const qsizetype end = lf - base;
            qsizetype len = end - FRcvHead;
            if (len > 0 && base[end - 1] == '\r')
                --len;
            if (len > MaxLineLength) {
                FailRequest(NntpError::LineTooLong,
                            QStringLiteral("%1 sent a line longer than 1 MiB (%2 bytes); the request was ended")
                                .arg(ServerLabel())
                                .arg(MaxLineLength),
                            true);
                FRcvHead = FRcvTail = FRcvScan = 0;
                return true;
            }
            FCurLine = QByteArrayView(base + FRcvHead, len);
            FLastResponse.reset();
            FRcvHead = FRcvScan = end + 1;
            DispatchLine();
            if (!self)
                return false;
            if (generation != FGeneration)
                break;
        }
        if (generation != FGeneration)
            break;
    }
    if (generation == FGeneration && !FLastResponse)
        LastResponse();
    if (FRcvHead == FRcvTail && FRcvBuffer.size() > 4 * 64 * 1024) {
        // A very long line made the buffer grow; give the memory back once it is consumed.
        FCurLine = QByteArrayView();
        FRcvHead = FRcvTail = FRcvScan = 0;
        FRcvBuffer.resize(64 * 1024);
        FRcvBuffer.squeeze();
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Socket notifications

void TNntpCli::SocketStateChanged()
{
    if (FSocket->state() == QAbstractSocket::ConnectingState && FState == nntpDnsLookup)
        StateChange(nntpWaitingBanner);
}

void TNntpCli::SocketConnected()
{
    FWasConnected = true;
    if (FState == nntpDnsLookup)
        StateChange(nntpWaitingBanner);
    ApplyQuickAck();
}

void TNntpCli::SocketEncrypted()
{
    UtilsClass::Log(QStringLiteral("TLS session with %1 established (%2)")
                        .arg(ServerLabel(), FSocket->sessionCipher().name()));
    if (FRequestType == nntpRqStartTls && !FRequestDone)
        TriggerRequestDone(0);
}

void TNntpCli::SocketReadyRead()
{
    ProcessReceived();
}

void TNntpCli::SocketBytesWritten(qint64)
{
    if (FState == nntpWaitingResponse && !FRequestDone)
        FIdleTimer.start(FIdleTimeoutMs);
    if (FPosting)
        PostSendNext();
}

void TNntpCli::SocketSslErrors(const QList<QSslError>& errors)
{
    QStringList texts;
    for (const QSslError& e : errors)
        texts << e.errorString();
    FSslProblem = texts.join(QStringLiteral("; "));
    UtilsClass::Log(QStringLiteral("TLS certificate of %1 refused: %2").arg(ServerLabel(), FSslProblem));
}

void TNntpCli::SocketError()
{
    if (!FSocket || FRequestType == nntpRqAbort)
        return;
    // Lines that arrived before the failure are still taken.
    QPointer<TNntpCli> self(this);
    if (!ProcessReceived() || !self)
        return;
    const QAbstractSocket::SocketError err = FSocket->error();
    if (FRequestDone) {
        FLastSocketError = err == QAbstractSocket::RemoteHostClosedError ? 0 : NntpError::NetworkDown;
        return;
    }
    if (FPosting) {
        UtilsClass::Log(QStringLiteral("POST: sending failed: ") + FSocket->errorString());
        PostSendFailed();
        return;
    }
    const QString server = ServerLabel();
    quint16 code = NntpError::NetworkDown;
    QString message;
    switch (err) {
    case QAbstractSocket::ConnectionRefusedError:
        code = NntpError::ConnectionRefused;
        message = QStringLiteral("Connection refused by %1").arg(server);
        break;
    case QAbstractSocket::HostNotFoundError:
        code = NntpError::HostNotFound;
        message = QStringLiteral("News server not found: %1").arg(FServerHost);
        break;
    case QAbstractSocket::RemoteHostClosedError:
        code = NntpError::ConnectionClosed;
        if (FState == nntpWaitingBanner || FState == nntpDnsLookup)
            message = QStringLiteral("%1 closed the connection before greeting").arg(server);
        else if (!FSavedStatusLine.isEmpty())
            message = QStringLiteral("%1 closed the connection in the middle of an answer").arg(server);
        else
            message = QStringLiteral("%1 closed the connection").arg(server);
        break;
    case QAbstractSocket::SocketTimeoutError:
        code = NntpError::TimedOut;
        message = QStringLiteral("Connection to %1 timed out").arg(server);
        break;
    case QAbstractSocket::NetworkError:
        code = NntpError::HostUnreachable;
        message = QStringLiteral("Network error with %1: %2").arg(server, FSocket->errorString());
        break;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError:
        code = NntpError::Tls;
        if (!FSslProblem.isEmpty())
            message = QStringLiteral("The TLS certificate of %1 could not be verified: %2. The connection was closed.")
                          .arg(server, FSslProblem);
        else
            message = QStringLiteral("TLS connection to %1 failed: %2").arg(server, FSocket->errorString());
        break;
    default:
        message = QStringLiteral("Network error with %1: %2").arg(server, FSocket->errorString());
        break;
    }
    FLastSocketError = code;
    // A connection whose TLS failed is never used on in clear text.
    FailRequest(code, message, code == NntpError::Tls);
}

void TNntpCli::SocketDisconnected()
{
    QPointer<TNntpCli> self(this);
    if (FRequestType != nntpRqAbort && (!ProcessReceived() || !self))
        return;
    FConnectTimer.stop();
    FIdleTimer.stop();
    FRequestTimer.stop();
    if (FRequestType != nntpRqAbort && !FRequestDone) {
        FLastSocketError = NntpError::ConnectionClosed;
        if (FPosting) {
            PostSendFailed();
        } else {
            const QString message = !FSavedStatusLine.isEmpty()
                ? QStringLiteral("%1 closed the connection in the middle of an answer").arg(ServerLabel())
                : QStringLiteral("%1 closed the connection").arg(ServerLabel());
            FailRequest(NntpError::ConnectionClosed, message, false);
        }
    }
    const quint16 closeCode = FLastSocketError;
    const bool wasConnected = FWasConnected;
    FWasConnected = false;
    StateChange(nntpNotConnected);
    if (wasConnected && OnSessionClosed)
        OnSessionClosed(this, closeCode);
}

void TNntpCli::ConnectTimedOut()
{
    if (FRequestDone || (FState != nntpDnsLookup && FState != nntpWaitingBanner))
        return;
    FLastSocketError = NntpError::TimedOut;
    FailRequest(NntpError::TimedOut,
                QStringLiteral("No answer from %1 within %2 seconds").arg(ServerLabel(), SecondsText(FConnectTimeoutMs)),
                true);
    if (FSocket && FSocket->state() != QAbstractSocket::UnconnectedState)
        FSocket->abort();
    StateChange(nntpNotConnected);
}

void TNntpCli::IdleTimedOut()
{
    if (FRequestDone)
        return;
    FLastSocketError = NntpError::TimedOut;
    FailRequest(NntpError::TimedOut,
                QStringLiteral("%1 sent nothing for %2 seconds; the request was ended")
                    .arg(ServerLabel(), SecondsText(FIdleTimeoutMs)),
                true);
}

void TNntpCli::RequestTimedOut()
{
    if (FRequestDone)
        return;
    FLastSocketError = NntpError::TimedOut;
    const QString command = CommandLine().section(QLatin1Char(' '), 0, 0);
    FailRequest(NntpError::TimedOut,
                QStringLiteral("%1 did not finish its answer to %2 within %3 seconds; the request was ended")
                    .arg(ServerLabel(), command, SecondsText(FRequestTimeoutMs)),
                true);
}
