#pragma once
// TNntpCli: the event-driven NNTP protocol client. One object talks to one news server over
// one TCP (or implicit TLS) connection. Every command method only starts the request; the
// answer arrives through the socket's notifications, and the end of every request is
// announced by exactly one OnRequestDone, always delivered from the event loop and never
// inside the code that ended the request.
#include "core/DateTimeValue.h"
#include "core/VorlixException.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QSslError>
#include <QString>
#include <QStringList>
#include <QStringDecoder>
#include <QTimer>
#include <functional>
#include <optional>

class QSslSocket;

// Misuse of the client (a command in the wrong state, an argument that cannot be sent).
VORLIX_DECLARE_ERROR(NntpException, EVorlixError)

enum TNntpState : quint8 {
    nntpNotConnected = 0,
    nntpDnsLookup = 1,
    nntpWaitingBanner = 2,
    nntpReady = 3,
    nntpWaitingResponse = 4,
};

// The request in progress, as reported in OnRequestDone's RqType.
enum TNntpRequestType : quint8 {
    nntpRqGroup = 0,
    nntpRqList = 1,
    nntpRqConnect = 2,
    nntpRqPost = 3,
    nntpRqHelp = 4,
    nntpRqNewGroups = 5,
    nntpRqNewNews = 6,
    nntpRqArticleByNumber = 7,
    nntpRqArticleByID = 8,
    nntpRqBodyByID = 9,
    nntpRqBodyByNumber = 10,
    nntpRqHeadByID = 11,
    nntpRqHeadByNumber = 12,
    nntpRqStatByID = 13,
    nntpRqStatByNumber = 14,
    nntpRqNext = 15,
    nntpRqLast = 16,
    nntpRqQuit = 17,
    nntpRqAbort = 18,
    nntpRqXOver = 19,
    nntpRqListOverViewFmt = 20,
    nntpRqDate = 21,
    nntpRqAuthenticate = 22,
    nntpRqModeReader = 23,
    nntpRqXHdr = 24,
    nntpRqCapabilities = 25,
    nntpRqStartTls = 26,
};

// Completion codes other than 0 and the server's status codes. They lie in the 10000 range,
// where the classic socket error numbers live, so they never clash with a status code (100-599).
// With every one of them LastResponse holds a clear, complete message for the user.
namespace NntpError {
constexpr quint16 LineTooLong = 10040;      // a received line exceeded MaxLineLength
constexpr quint16 AnswerTooLarge = 10055;   // a multi-line answer exceeded MaxAnswerBytes
constexpr quint16 NetworkDown = 10050;      // any other network failure (Qt's text in the message)
constexpr quint16 ConnectionClosed = 10054; // the server closed or reset the connection
constexpr quint16 TimedOut = 10060;         // no greeting in time, nothing received for too long, or a
                                            // request that did not end within its deadline
constexpr quint16 ConnectionRefused = 10061;
constexpr quint16 HostUnreachable = 10065;
constexpr quint16 HostNotFound = 11001;
constexpr quint16 Protocol = 10600;         // a status line that is not a status line
constexpr quint16 Tls = 10601;              // TLS handshake or certificate verification failed
} // namespace NntpError

class TNntpCli : public QObject {
    Q_OBJECT
public:
    // Event types. Sender is the client.
    using TRequestDone = std::function<void(QObject* Sender, quint8 RqType, quint16 Error)>;
    using TSessionEvent = std::function<void(QObject* Sender, quint16 Error)>;
    using TNntpDisplay = std::function<void(QObject* Sender, const char* Msg, qint32 Len)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;

    static constexpr quint16 DefaultPort = 119;
    static constexpr quint16 TlsPort = 563;
    static constexpr int DefaultConnectTimeoutMs = 30000;
    static constexpr int DefaultIdleTimeoutMs = 120000;
    static constexpr int MaxLineLength = 1024 * 1024; // bytes of one received line, without CR LF
    static constexpr int PostBlockSize = 4096;
    // Built-in limits of one request: the data of a multi-line answer, and the time from the
    // command to the end of its answer, however steadily the server keeps sending.
    static constexpr qint64 BuiltInMaxAnswerBytes = 64LL * 1024 * 1024;
    static constexpr int BuiltInRequestTimeoutMs = 10 * 60 * 1000;

    explicit TNntpCli(QObject* parent = nullptr);
    ~TNntpCli() override;

    // Commands. All but Connect and Abort require State() == nntpReady and throw NntpException
    // otherwise. Streams are not owned; they may be null.
    virtual void Connect();
    virtual void Abort();
    virtual void Quit();
    virtual void Group(const QString& groupName);
    virtual void ArticleByNumber(qint64 number, QIODevice* stream = nullptr);
    virtual void ArticleByID(const QString& id, QIODevice* stream = nullptr);
    virtual void HeadByNumber(qint64 number, QIODevice* stream = nullptr);
    virtual void HeadByID(const QString& id, QIODevice* stream = nullptr);
    virtual void BodyByNumber(qint64 number, QIODevice* stream = nullptr);
    virtual void BodyByID(const QString& id, QIODevice* stream = nullptr);
    virtual void StatByNumber(qint64 number);
    virtual void StatByID(const QString& id);
    virtual void Next();
    virtual void Last();
    virtual void List(QIODevice* stream = nullptr);
    virtual void Post(QIODevice* stream);
    virtual void Help(QIODevice* stream = nullptr);
    virtual void Authenticate();
    virtual void XOver(const QString& range, QIODevice* stream = nullptr);
    virtual void ListOverViewFmt(QIODevice* stream = nullptr);
    virtual void Date();
    virtual void ModeReader();
    virtual void XHdr(QIODevice* stream, const QString& header, const QString& range);
    // A "when" of 0 means now (local time).
    virtual void NewGroups(TDateTime when, bool gmt, const QString& distributions, QIODevice* stream = nullptr);
    virtual void NewNews(const QString& newsgroups, TDateTime when, bool gmt, const QString& distributions,
                         QIODevice* stream = nullptr);
    // CAPABILITIES: success (101) fills ServerCapabilities(); the lines are not raised as
    // message lines.
    virtual void Capabilities();
    // STARTTLS on the open connection: after 382 the TLS handshake runs with the certificate
    // verified as for port 563; the request ends with 0 once the session is encrypted, with the
    // server's code when it refuses, or with NntpError::Tls (connection closed) when the
    // handshake or the certificate fails. The capabilities known so far are forgotten.
    virtual void StartTls();

    // Properties read by callers.
    TNntpState State() const { return FState; }
    quint8 RqType() const { return FRequestType; }
    // The last line received (status or data line), or the message of the last failure.
    QString LastResponse() const;
    // The raw bytes of the line being dispatched; valid only inside OnMessageLine/OnXHdrLine/
    // OnDataAvailable. Lets a consumer parse without building a string.
    QByteArrayView LastResponseBytes() const { return FCurLine; }
    qint32 StatusCode() const { return FStatusCode; }
    QString ArticleID() const { return FArticleID; }
    // Article numbers are 64-bit (up to 2^63 - 1); larger values read as 2^63 - 1.
    qint64 ArticleNumber() const { return FArticleNumber; }
    qint64 ArticleFirst() const { return FArticleFirst; }
    qint64 ArticleLast() const { return FArticleLast; }
    qint64 ArticleEstimated() const { return FArticleEstimated; }
    TDateTime ServerDate() const { return FServerDate; }
    bool PostingPermited() const { return FPostingPermited; }
    QString ErrorMessage() const { return FErrorMessage; }
    // The command line being sent, without CR LF (the password of AUTHINFO PASS is masked).
    QString CommandLine() const;

    // Properties written by callers. Host is "name", "name:port", "[IPv6]:port" or a bare IPv6
    // address; port 563 (or the prefix "nntps://") selects NNTP over TLS.
    QString Host() const { return FHost; }
    void SetHost(const QString& host) { FHost = host; }
    QString UserName() const { return FUserName; }
    void SetUserName(const QString& userName) { FUserName = userName; }
    QString PassWord() const { return FPassWord; }
    void SetPassWord(const QString& password) { FPassWord = password; }

    // Connection settings.
    void SetConnectTimeoutMs(int ms) { FConnectTimeoutMs = ms; }
    int ConnectTimeoutMs() const { return FConnectTimeoutMs; }
    void SetIdleTimeoutMs(int ms) { FIdleTimeoutMs = ms; }
    int IdleTimeoutMs() const { return FIdleTimeoutMs; }
    // The longest a request may take from its command to the end of its answer; a server that
    // drips its answer just fast enough to beat the idle time-out is cut off here (0: none).
    void SetRequestTimeoutMs(int ms) { FRequestTimeoutMs = ms; }
    int RequestTimeoutMs() const { return FRequestTimeoutMs; }
    // The most data a multi-line answer may bring (its lines with their line ends, without the
    // status line and the closing "."; 0: no limit). A larger answer ends the request and
    // closes the connection, since the rest of it cannot be skipped safely.
    void SetMaxAnswerBytes(qint64 bytes) { FMaxAnswerBytes = bytes; }
    qint64 MaxAnswerBytes() const { return FMaxAnswerBytes; }
    // The limits every client made from now on starts with (the program sets them from its
    // settings at start-up). Values of 0 or below select the built-in limits.
    static void SetDefaultLimits(qint64 maxAnswerBytes, qint64 requestTimeoutMs);
    static qint64 DefaultMaxAnswerBytes();
    static int DefaultRequestTimeoutMs();
    // Acknowledge received data at once (TCP_QUICKACK) so a server that writes an answer in
    // pieces is not held up by delayed ACKs. On by default.
    void SetQuickAck(bool on) { FQuickAck = on; }
    bool QuickAck() const { return FQuickAck; }
    // Extra certificate authorities trusted for TLS besides the system's.
    void AddCaCertificates(const QList<QSslCertificate>& certificates);
    bool Encrypted() const;
    // Trusts the certificate authorities of a PEM file for every TLS connection of the program
    // (besides the system's). False with a message when the file holds no certificate.
    static bool TrustCaFile(const QString& path, QString* error = nullptr);
    // The lines of the last CAPABILITIES answer of this connection (empty before, or after
    // STARTTLS), and whether one of them starts with the given word (letter case ignored).
    QStringList ServerCapabilities() const { return FCapabilities; }
    bool HasCapability(const QString& word) const;

    // Splits a server name ("host", "host:port", "[IPv6]:port", a bare IPv6 address, each
    // optionally after "nntp://" or "nntps://") into host and port. tls is set for port 563 and
    // for "nntps://". Returns false with a message for a bad name.
    static bool ParseServerName(const QString& text, QString& host, quint16& port, bool* tls = nullptr,
                                QString* error = nullptr);

    // Events. An unbound event is not raised.
    TSessionEvent OnSessionConnected;
    TSessionEvent OnSessionClosed;
    TSessionEvent OnDataAvailable;
    TRequestDone OnRequestDone;
    TNntpDisplay OnDisplay;
    TNotifyEvent OnMessageBegin;
    TNotifyEvent OnMessageEnd;
    TNotifyEvent OnMessageLine;
    TNotifyEvent OnXHdrBegin;
    TNotifyEvent OnXHdrEnd;
    TNotifyEvent OnXHdrLine;
    TNotifyEvent OnStateChange;

protected:
    using TResponseHandler = void (TNntpCli::*)();

    virtual void TriggerRequestDone(quint16 error);
    virtual void TriggerStateChange();
    virtual void StateChange(TNntpState newState);
    virtual void SendRequest();
    virtual void GroupNext();
    virtual void QuitDone();
    virtual void XHdrLineNext();
    virtual void GetArticleNext();
    virtual void GetArticleLineNext();
    // Ends the request at the terminating "." (raising endEvent first) and returns false;
    // otherwise unstuffs the line, writes it to the data stream and returns true.
    bool TakeDataLine(const TNotifyEvent& endEvent);
    virtual void GetArticleByNumber(TNntpRequestType rq, qint64 number, QIODevice* stream);
    virtual void GetArticleByID(TNntpRequestType rq, const QString& id, QIODevice* stream);
    virtual void GetArticle(TNntpRequestType rq, const QString& id, QIODevice* stream);
    virtual void PostNext();
    virtual void PostSendFailed();
    virtual void PostSendNext();
    virtual void PostDone();
    virtual void DateNext();
    virtual void ModeReaderNext();
    virtual void XHdrNext();
    virtual void AuthenticateNext1();
    virtual void AuthenticateNext2();
    virtual void CapabilitiesNext();
    virtual void CapabilitiesLineNext();
    virtual void StartTlsNext();

private:
    void StartCommand(TNntpRequestType rq, const QString& line, TResponseHandler handler, const char* notReady);
    void CheckReady(const QString& notReadyMessage) const;
    void SetLastResponse(const QString& text);
    void ConnectSocketSignals();
    void SocketStateChanged();
    void SocketConnected();
    void SocketEncrypted();
    void SocketReadyRead();
    void SocketBytesWritten(qint64 bytes);
    void SocketError();
    void SocketSslErrors(const QList<QSslError>& errors);
    void SocketDisconnected();
    void ConnectTimedOut();
    void IdleTimedOut();
    void RequestTimedOut();
    // Counts a data line against MaxAnswerBytes; false (the request ended) when it is too much.
    bool WithinAnswerLimit();
    void FailRequest(quint16 code, const QString& message, bool closeConnection);
    bool ProcessReceived();
    void DispatchLine();
    void ApplyQuickAck();
    bool IsMalformedStatus() const;
    void ReportMalformed();
    void ConfigureTls();
    QString ServerLabel() const;

    TNntpState FState = nntpNotConnected;
    quint8 FRequestType = nntpRqConnect;
    bool FRequestDone = true;
    bool FEndSent = false;
    bool FPosting = false;
    QString FHost;
    QString FServerHost;
    quint16 FServerPort = DefaultPort;
    QSslSocket* FSocket = nullptr;
    QByteArray FCommandLine;
    bool FCommandHasSecret = false;
    qint32 FStatusCode = 503;
    QByteArray FSendBuffer;

    // One receive buffer: bytes [FRcvHead, FRcvTail) are not yet split into lines; the scan for
    // the next LF resumes at FRcvScan, so a long line is never rescanned.
    QByteArray FRcvBuffer;
    qsizetype FRcvHead = 0;
    qsizetype FRcvTail = 0;
    qsizetype FRcvScan = 0;
    bool FInReceive = false;
    quint64 FGeneration = 0; // changes when the connection is closed or replaced

    QByteArrayView FCurLine;
    mutable std::optional<QString> FLastResponse;
    mutable QStringDecoder FDecoder;
    QString FSavedStatusLine;
    QString FErrorMessage;
    qint64 FArticleEstimated = -1;
    qint64 FArticleFirst = -1;
    qint64 FArticleLast = -1;
    qint64 FArticleNumber = -1;
    QString FArticleID;
    TDateTime FServerDate;
    QIODevice* FDataStream = nullptr;
    QString FUserName;
    QString FPassWord;
    TResponseHandler FNext = nullptr;
    bool FPostingPermited = false;

    QTimer FConnectTimer;
    QTimer FIdleTimer;
    QTimer FRequestTimer;
    int FConnectTimeoutMs = DefaultConnectTimeoutMs;
    int FIdleTimeoutMs = DefaultIdleTimeoutMs;
    int FRequestTimeoutMs = BuiltInRequestTimeoutMs;
    qint64 FMaxAnswerBytes = BuiltInMaxAnswerBytes;
    qint64 FAnswerBytes = 0; // data of the multi-line answer in progress
    bool FQuickAck = true;
    bool FWasConnected = false;
    quint16 FLastSocketError = 0;
    QString FSslProblem;
    QList<QSslCertificate> FExtraCas;
    QStringList FCapabilities;
};
