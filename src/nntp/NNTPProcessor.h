#pragma once
// TNntpProcessor turns a news job (new headers of a group, one article or its body, a catch-up of
// groups, a server's group list into a file, posting an article) into a queue of protocol
// steps and runs them one after another over one TNntpWrapper session. Each job opens its own
// connection and closes it again; results reach the owner through events, and every job ends
// with exactly one OnRequestDone carrying a completion code and a message:
//    0  the queue ran out (normal end, also after Abort)
//   >0  a step failed with this NNTP status code or connection error; the message is the
//       server's line (or the client's description of the network failure)
//   -1  the connection was lost ("Server dropped connection") or an unexpected error
//   -2  an expected end: "No more Articles", "Article does not exist", "Login cancelled"
//   -3  "Request Aborted"
// Servers that answer 480 get AUTHINFO USER/PASS with the stored credentials, or with those
// the user types into TLoginDialog; the refused command then runs again. The password goes out
// only encrypted (port 563, or STARTTLS when the server offers it) or, on a server without
// encryption, after the user allowed it once for that server.
#include "core/DateTimeValue.h"
#include "core/VorlixException.h"

#include <QBuffer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TNntpWrapper;
class TLoginDialog;
class TNntpProcessor;

// An expected, non-fatal end of a job (completion code -2).
VORLIX_DECLARE_ERROR(ENonSevereException, EVorlixError)

// Article number of an article known only by reference (it has no number on the server).
constexpr qint64 NntpArticleUnknown = -999;

// Step kinds of the request queue.
namespace NntpStep {
constexpr quint8 Disconnect = 0;
constexpr quint8 Connect = 1;
constexpr quint8 SetGroup = 2;
constexpr quint8 GetHeader = 4;
constexpr quint8 Next = 5;
constexpr quint8 GetBody = 6;
constexpr quint8 ListToFile = 7;
constexpr quint8 DownloadHeaders = 8;
constexpr quint8 CatchUpGroup = 9;
constexpr quint8 Post = 10;
constexpr quint8 GetArticle = 11;
} // namespace NntpStep

// One queued step.
struct TNntpRequest {
    using TCompletionHandler = void (TNntpProcessor::*)(QObject* Sender, quint16 Error);
    using TLineHandler = void (TNntpProcessor::*)(QObject* Sender);

    quint8 RequestType = NntpStep::Disconnect;
    qint32 RemainingRuns = 1;       // how many more times the step is to be executed
    std::unique_ptr<QStringList> DataLines; // the step's text arguments, created on first use
    qint64 Number = 0;              // the step's numeric argument
    TCompletionHandler CompletionHandler = nullptr; // none: the default handler
    TLineHandler LineHandler = nullptr;             // none: data lines are not looked at

    QStringList& Lines();
    QString Line(int index) const;  // empty when missing
};

// The queue of one job: steps in execution order and a cursor.
class TNntpRequestList {
public:
    TNntpRequest* Add(quint8 requestType);
    // The request at the cursor when it still has runs, else the next one; nullptr when the
    // queue is exhausted. The request taken has one run less.
    TNntpRequest* TakeNext();
    TNntpRequest* Current() const;
    // The current request runs once more.
    void Repeat();
    // Nothing more runs: every request gets 0 runs and the cursor goes to the last request.
    void AbortAll();
    int Count() const { return int(Items.size()); }
    int Cursor() const { return FCursor; }
    TNntpRequest* At(int index) const { return Items.at(size_t(index)).get(); }

private:
    std::vector<std::unique_ptr<TNntpRequest>> Items;
    int FCursor = 0;
};

// One overview line as handed to the owner.
struct TNntpHeader {
    QString Host;
    QString Group;
    qint64 Number = 0;   // 64-bit, as servers may number up to 2^63 - 1
    QString MessageID;   // as the server sent it, with its angle brackets
    QString From;        // the author, decoded (nntp/FromField.h)
    QString Subject;     // as sent, encoded words and all
    TDateTime Date;      // as written in the line, time zone ignored
    QString References;  // as sent
};

// Input of a catch-up job for one server.
struct TCatchUpRecord {
    QStringList Groups;
    QString Host;
    QString UserName;
    QString Password;
    qint32 Count = 0;    // how many of the newest articles of each group to fetch
};

// The in-memory article being posted: lines are dot-stuffed and end in CR LF.
class TPostDataStream : public QBuffer {
public:
    TPostDataStream();
    void AddLine(const QString& line);
};

class TNntpProcessor : public QObject {
    Q_OBJECT
public:
    using TRequestDoneEvent = std::function<void(QObject* Sender, int Code, const QString& Message)>;
    using TNotifyEvent = std::function<void(QObject* Sender)>;
    using THeaderEvent = std::function<void(QObject* Sender, const QString& Host, const TNntpHeader& Header,
                                            const QString& Group)>;
    using TBodyEvent = std::function<void(QObject* Sender, const QString& Host, const QStringList& Lines,
                                          const QString& MessageID, const QString& Group)>;
    using THeaderSkippedEvent = std::function<void(QObject* Sender, const TNntpHeader& Header)>;
    using TAuthenticatedEvent = std::function<void(QObject* Sender, const QString& Host, const QString& UserName,
                                                   const QString& Password, bool SavePassword)>;
    using TCaughtUpEvent = std::function<void(QObject* Sender, const QString& Host, const QString& Group)>;
    using TStatusEvent = std::function<void(QObject* Sender, const QString& Text)>;
    // Asks for a login: UserName comes in as known so far, Status is the line to show
    // ("Authentication required" or what the server said after a refusal). True with the
    // values filled in, false when the user cancels.
    using TNeedCredentialsEvent = std::function<bool(QObject* Sender, const QString& Host, QString& UserName,
                                                     QString& Password, bool& SavePassword, const QString& Status)>;

    explicit TNntpProcessor(QObject* parent = nullptr);
    ~TNntpProcessor() override;

    // Jobs. A job must not be started while another runs (check Idle()).
    // Headers after lastKnown (-1: from the oldest the server has), at most msgsToRetrieve,
    // none older than maxAgeDays days (-1: no limit). When the server's newest article lies
    // below lastKnown, the group was renumbered: the download starts at the server's oldest.
    // Overview lines numbered outside the range of the GROUP answer are dropped and logged.
    void DownloadHeaders(const QString& group, qint64 lastKnown, qint32 maxAgeDays, qint32 msgsToRetrieve);
    // The body of one article of Group on Host (set Host, UserName, Password, Group first).
    void GetBody(qint64 articleNumber);
    // As GetBody, with the whole article (ARTICLE): OnBody's lines are then the header lines,
    // one empty line and the body lines.
    void GetArticle(qint64 articleNumber);
    // The server's group list (LIST) into a file, replacing it (set Host, UserName, Password first).
    void DownloadGroupList(const QString& fileName);
    // The newest Count headers of every group of every record, one connection per record.
    void CatchUp(const std::vector<TCatchUpRecord>& records, qint32 maxAgeDays);
    // Posts an article to group (set Host, UserName, Password first).
    void PostArticle(const QString& group, const QString& newsgroups, const QString& from, const QString& replyTo,
                     const QString& references, const QString& organization, const QString& subject,
                     const QStringList& body);
    // The article lines PostArticle sends, in order.
    static QStringList ComposeArticle(const QString& newsgroups, const QString& from, const QString& replyTo,
                                      const QString& references, const QString& organization,
                                      const QString& subject, const QStringList& body);
    static QString NewsreaderText();

    // Ends the running job (normally with code 0 after the final Disconnect); no effect when idle.
    void Abort();
    bool Idle() const { return FIdle; }
    // Bytes written so far to the job's file (the group list), 0 when there is none.
    qint64 DownloadedSize() const;

    // The numbers of the last successful GROUP answer.
    qint64 Estimated() const { return FEstimated; }
    qint64 First() const { return FFirst; }
    qint64 Last() const { return FLast; }
    qint32 MsgsToRetrieve() const { return FMsgsToRetrieve; }
    qint32 Received() const { return FReceived; }
    QString LastErrorText() const { return FLastError; }
    const TNntpHeader& CurrentHeader() const { return FCurrentHeader; }
    TNntpWrapper* Wrapper() const { return FWrapper; }
    const TNntpRequestList* Queue() const { return FQueue.get(); }

    // Credentials and group of the current server; written by callers before GetBody,
    // DownloadGroupList and PostArticle, and by every Connect / SetGroup step.
    QString Host;
    QString UserName;
    QString Password;
    QString Group;
    qint32 MaxAgeDays = 0;
    bool SavePassword = true;
    quint8 JobTag = 0; // free for the owner

    // Events (Sender is the processor). An unbound event is not raised.
    TRequestDoneEvent OnRequestDone;
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnSessionClosed;
    THeaderEvent OnHeader;
    TBodyEvent OnBody;
    THeaderSkippedEvent OnHeaderSkipped;
    TAuthenticatedEvent OnAuthenticated;
    // Unbound, the login is asked through Dialogs().RequestCredentials.
    TNeedCredentialsEvent OnNeedCredentials;
    TCaughtUpEvent OnCaughtUp;
    TStatusEvent OnStatus;

    // Parses one overview line into header (Host and Group are left alone). Throws EVorlixError
    // for a line without a readable article number. dateReadable tells whether the date field
    // could be read; when not, Date is the time of download.
    static void ParseOverviewLine(QByteArrayView line, TNntpHeader& header, bool& dateReadable);
    // Whether a header dated date passes an age limit of maxAgeDays (-1: no limit) at now.
    static bool WithinAge(TDateTime date, qint32 maxAgeDays, TDateTime now);

private:
    // Step execution and the end of a job.
    void ExecuteRequest();
    void ExecuteStep(TNntpRequest& request);
    // The job of GetBody and GetArticle: one article's lines fetched by step.
    void StartBodyJob(qint64 articleNumber, quint8 step);
    void ExecuteRequestFinished(int code, const QString& message);
    void StartJob();
    void QueueFrameStart(const QString& host, const QString& userName, const QString& password);
    TNntpRequest* AddStep(quint8 requestType);
    void Status(const QString& text);
    void ReleaseStream();
    void BindCompletion(TNntpRequest::TCompletionHandler handler);
    void WrapperAbort();
    bool JobAlive(quint64 serial) const { return !FIdle && FJobSerial == serial && FQueue; }

    // Step bodies.
    void StartHeaderWindow(const TNntpRequest& request);
    void StartCatchUpWindow(const TNntpRequest& request);

    // Completion handlers.
    void ExecDisconnectedHandler(QObject* Sender, quint16 Error);
    // Ends a step: a failure ends the job with the server's line, success runs the next step.
    void CompleteStep(quint16 Error);
    void ExecCompleteDefaultHandler(QObject* Sender, quint16 Error);
    void ExecSetGroupComplete(QObject* Sender, quint16 Error);
    void ExecCompleteBodyHandler(QObject* Sender, quint16 Error);
    void ExecDownloadHeadersCompleteHandler(QObject* Sender, quint16 Error);
    void ExecCatchUpCompleteHandler(QObject* Sender, quint16 Error);
    void PostCompleteHandler(QObject* Sender, quint16 Error);

    // Line handlers.
    void MessageHeaderHandler(QObject* Sender);
    void BodyLineHandler(QObject* Sender);

    // Session events of the wrapper.
    void SessionConnectedHandler(QObject* Sender);
    void SessionClosedHandler(QObject* Sender);
    void AbortHandler(QObject* Sender, quint16 Error);

    // Authentication on demand.
    void AuthenticationRequiredHandler(QObject* Sender);
    void AskAndAuthenticate(bool repeated, const QString& refusal);
    void AuthenticationProcessedHandler(QObject* Sender, quint16 Error);
    // Before a password goes out: STARTTLS when the server offers it (CAPABILITIES, STARTTLS,
    // CAPABILITIES again), otherwise only with the user's consent to send it unencrypted.
    void SecureAndLogin();
    void CapabilitiesHandler(QObject* Sender, quint16 Error);
    void StartTlsHandler(QObject* Sender, quint16 Error);
    void TlsCapabilitiesHandler(QObject* Sender, quint16 Error);
    void PlainLogin();
    void ReselectGroupHandler(QObject* Sender, quint16 Error);

    TNntpWrapper* FWrapper = nullptr;
    std::unique_ptr<TNntpRequestList> FQueue;
    bool FIdle = true;
    quint64 FJobSerial = 0;
    std::vector<quint64> FPendingAborts; // job serial of each abort whose completion is still due

    qint64 FEstimated = 0;
    qint64 FFirst = 0;
    qint64 FLast = 0;
    qint32 FMsgsToRetrieve = 0;
    qint32 FReceived = 0;
    qint64 FLastRequested = -1;
    qint64 FWindowEnd = -1;      // end of the header window asked for, taken over when it completes
    TDateTime FWindowNow;        // when the running header window was asked for (age limit)
    QString FLastError;

    TNntpHeader FCurrentHeader;
    std::unique_ptr<QStringList> FBodyLines;
    std::unique_ptr<QIODevice> FStream;

    // Per job: dates that could not be read (the user is told once, when the job has ended).
    int FUnreadableDates = 0;
    QString FFirstUnreadableDate;
    // Per job: AUTHINFO outstanding, and whether a login already succeeded.
    bool FAuthenticating = false;
    bool FLoggedIn = false;
    bool FTypedLogin = false; // the user typed the credentials during this job
    // Per connection: CAPABILITIES asked before a login, TLS started with STARTTLS, the group
    // last selected (TLS starts the session afresh, so it is selected again after the login),
    // and the securing step whose answer is awaited (none when no such step is outstanding).
    bool FCapabilitiesAsked = false;
    bool FTlsStarted = false;
    QString FSelectedGroup;
    TNntpRequest::TCompletionHandler FSecureStep = nullptr;
    // Header windows that brought nothing, in a row; a server's claimed range is not trusted.
    static constexpr int MaxEmptyWindows = 3;
    int FEmptyWindows = 0;
    bool FJumpedToNewest = false;
    // Per job: overview lines dropped for a number outside the GROUP range.
    int FOutOfRange = 0;
    qint32 FWindowStartReceived = 0;
    bool FAborted = false;
};
