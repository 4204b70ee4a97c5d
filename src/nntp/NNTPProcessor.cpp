#include "nntp/NNTPProcessor.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TextFunctions.h"
#include "news/NewsStore.h"
#include "nntp/FromField.h"
#include "nntp/NNTPWrapper.h"
#include "nntp/Rfc2047.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const QString kServerDropped = QStringLiteral("Server dropped connection");
const QString kNoMoreArticles = QStringLiteral("No more Articles");
const QString kArticleMissing = QStringLiteral("Article does not exist");
const QString kLoginCancelled = QStringLiteral("Login cancelled");
const QString kRequestAborted = QStringLiteral("Request Aborted");

// Overview fields are UTF-8 on current servers; older articles carry 8-bit text of unknown
// charset, which is kept as Latin-1 rather than turned into replacement characters.
QString DecodeField(QByteArrayView bytes)
{
    bool ascii = true;
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii)
        return QString::fromLatin1(bytes.data(), bytes.size());
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return QString::fromLatin1(bytes.data(), bytes.size());
    return text;
}

// A decimal article number: digits only (blanks around them allowed), within 63 bits.
bool ParseArticleNumber(QByteArrayView text, qint64& value)
{
    text = text.trimmed();
    if (text.isEmpty())
        return false;
    constexpr qint64 max = std::numeric_limits<qint64>::max();
    qint64 v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        const int digit = c - '0';
        if (v > (max - digit) / 10)
            return false;
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

// Overview lines out of range are logged one by one up to this many per job, then counted.
constexpr int MaxOutOfRangeLogged = 5;

QString ErrorText(const std::exception& e)
{
    if (auto* v = dynamic_cast<const EVorlixError*>(&e))
        return v->message();
    return QString::fromUtf8(e.what());
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TNntpRequest / TNntpRequestList

QStringList& TNntpRequest::Lines()
{
    if (!DataLines)
        DataLines = std::make_unique<QStringList>();
    return *DataLines;
}

QString TNntpRequest::Line(int index) const
{
    if (!DataLines || index < 0 || index >= DataLines->size())
        return QString();
    return DataLines->at(index);
}

TNntpRequest* TNntpRequestList::Add(quint8 requestType)
{
    auto r = std::make_unique<TNntpRequest>();
    r->RequestType = requestType;
    Items.push_back(std::move(r));
    return Items.back().get();
}

TNntpRequest* TNntpRequestList::TakeNext()
{
    if (Items.empty())
        return nullptr;
    TNntpRequest* r = Items[size_t(FCursor)].get();
    while (r->RemainingRuns <= 0) {
        r->DataLines.reset();
        if (FCursor >= int(Items.size()) - 1)
            return nullptr;
        ++FCursor;
        r = Items[size_t(FCursor)].get();
    }
    --r->RemainingRuns;
    return r;
}

TNntpRequest* TNntpRequestList::Current() const
{
    if (Items.empty())
        return nullptr;
    return Items[size_t(FCursor)].get();
}

void TNntpRequestList::Repeat()
{
    if (TNntpRequest* r = Current())
        ++r->RemainingRuns;
}

void TNntpRequestList::AbortAll()
{
    for (auto& r : Items)
        r->RemainingRuns = 0;
    FCursor = Items.empty() ? 0 : int(Items.size()) - 1;
}

// ---------------------------------------------------------------------------------------------
// TPostDataStream

TPostDataStream::TPostDataStream()
{
    open(QIODevice::ReadWrite);
}

void TPostDataStream::AddLine(const QString& line)
{
    // A line break inside a line would let the text end the article early ("." alone) or
    // smuggle in protocol lines: every piece becomes a line of its own, each dot-stuffed.
    const QStringList pieces = line.split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    for (const QString& piece : pieces) {
        QByteArray bytes;
        if (piece.startsWith(QLatin1Char('.')))
            bytes.append('.');
        bytes.append(piece.toUtf8());
        bytes.append("\r\n", 2);
        write(bytes);
    }
}

// ---------------------------------------------------------------------------------------------
// TNntpProcessor

TNntpProcessor::TNntpProcessor(QObject* parent) : QObject(parent)
{
    FWrapper = new TNntpWrapper(this);
    FWrapper->OnSessionConnected = [this](QObject* s) { SessionConnectedHandler(s); };
    FWrapper->OnSessionClosed = [this](QObject* s) { SessionClosedHandler(s); };
    FWrapper->OnAuthenticationRequired = [this](QObject* s) { AuthenticationRequiredHandler(s); };
    FWrapper->OnAborted = [this](QObject* s, quint16 e) { AbortHandler(s, e); };
}

TNntpProcessor::~TNntpProcessor()
{
    // The connection may report its end while it is torn down: nothing reaches this object then.
    FWrapper->OnRequestDone = nullptr;
    FWrapper->OnAborted = nullptr;
    FWrapper->OnSessionConnected = nullptr;
    FWrapper->OnSessionClosed = nullptr;
    FWrapper->OnAuthenticationRequired = nullptr;
    FWrapper->OnMessageLine = nullptr;
    delete FWrapper;
    FWrapper = nullptr;
}

QString TNntpProcessor::NewsreaderText()
{
    return QStringLiteral("Vorlix 1.0, the speaking newsreader by QuenradTech");
}

void TNntpProcessor::Status(const QString& text)
{
    if (!text.trimmed().isEmpty() && text != QLatin1String("Setting Group"))
        UtilsClass::Log(text);
    if (OnStatus)
        OnStatus(this, text);
}

void TNntpProcessor::ReleaseStream()
{
    FStream.reset();
}

qint64 TNntpProcessor::DownloadedSize() const
{
    return FStream ? FStream->size() : 0;
}

void TNntpProcessor::StartJob()
{
    if (!FIdle)
        throw EVorlixError(QStringLiteral("A news job is still running; wait for it to end or abort it first"));
    FIdle = false;
    ++FJobSerial;
    if (!FQueue)
        FQueue = std::make_unique<TNntpRequestList>();
    FUnreadableDates = 0;
    FFirstUnreadableDate.clear();
    FAuthenticating = false;
    FLoggedIn = false;
    FTypedLogin = false;
    FEmptyWindows = 0;
    FJumpedToNewest = false;
    FOutOfRange = 0;
    FAborted = false;
}

TNntpRequest* TNntpProcessor::AddStep(quint8 requestType)
{
    TNntpRequest* r = FQueue->Add(requestType);
    switch (requestType) {
    case NntpStep::Disconnect: r->CompletionHandler = &TNntpProcessor::ExecDisconnectedHandler; break;
    case NntpStep::SetGroup: r->CompletionHandler = &TNntpProcessor::ExecSetGroupComplete; break;
    case NntpStep::GetBody:
    case NntpStep::GetArticle:
        r->CompletionHandler = &TNntpProcessor::ExecCompleteBodyHandler;
        r->LineHandler = &TNntpProcessor::BodyLineHandler;
        break;
    case NntpStep::ListToFile: r->CompletionHandler = &TNntpProcessor::ExecCompleteDefaultHandler; break;
    case NntpStep::DownloadHeaders:
        r->CompletionHandler = &TNntpProcessor::ExecDownloadHeadersCompleteHandler;
        r->LineHandler = &TNntpProcessor::MessageHeaderHandler;
        break;
    case NntpStep::CatchUpGroup:
        r->CompletionHandler = &TNntpProcessor::ExecCatchUpCompleteHandler;
        r->LineHandler = &TNntpProcessor::MessageHeaderHandler;
        break;
    case NntpStep::Post: r->CompletionHandler = &TNntpProcessor::PostCompleteHandler; break;
    default: break;
    }
    return r;
}

void TNntpProcessor::QueueFrameStart(const QString& host, const QString& userName, const QString& password)
{
    AddStep(NntpStep::Disconnect);
    TNntpRequest* c = AddStep(NntpStep::Connect);
    c->Lines() << host << userName << password;
}

// --- Jobs ------------------------------------------------------------------------------------

void TNntpProcessor::DownloadHeaders(const QString& group, qint64 lastKnown, qint32 maxAgeDays,
                                     qint32 msgsToRetrieve)
{
    TTrace t(QStringLiteral("DownloadHeaders"));
    StartJob();
    MaxAgeDays = maxAgeDays;
    FMsgsToRetrieve = msgsToRetrieve;
    FReceived = 0;
    FLastRequested = -1;
    FWindowEnd = -1;
    QueueFrameStart(Host, UserName, Password);
    AddStep(NntpStep::SetGroup)->Lines() << group;
    AddStep(NntpStep::DownloadHeaders)->Number =
        lastKnown < 0 ? -1 : lastKnown < std::numeric_limits<qint64>::max() ? lastKnown + 1 : lastKnown;
    AddStep(NntpStep::Disconnect);
    ExecuteRequest();
}

void TNntpProcessor::GetBody(qint64 articleNumber)
{
    TTrace t(QStringLiteral("GetBody"));
    StartBodyJob(articleNumber, NntpStep::GetBody);
}

void TNntpProcessor::GetArticle(qint64 articleNumber)
{
    TTrace t(QStringLiteral("GetArticle"));
    StartBodyJob(articleNumber, NntpStep::GetArticle);
}

void TNntpProcessor::StartBodyJob(qint64 articleNumber, quint8 step)
{
    StartJob();
    if (articleNumber == NntpArticleUnknown) {
        // Known only by reference: there is nothing to ask the server for. The end is reported
        // from the event loop, like every other end of a job.
        const quint64 serial = FJobSerial;
        QTimer::singleShot(0, this, [this, serial] {
            if (JobAlive(serial))
                ExecuteRequestFinished(-2, kArticleMissing);
        });
        return;
    }
    QueueFrameStart(Host, UserName, Password);
    AddStep(NntpStep::SetGroup)->Lines() << Group;
    AddStep(step)->Number = articleNumber;
    AddStep(NntpStep::Disconnect);
    ExecuteRequest();
}

void TNntpProcessor::DownloadGroupList(const QString& fileName)
{
    TTrace t(QStringLiteral("DownloadGroupList"));
    StartJob();
    QueueFrameStart(Host, UserName, Password);
    AddStep(NntpStep::ListToFile)->Lines() << fileName;
    AddStep(NntpStep::Disconnect);
    ExecuteRequest();
}

void TNntpProcessor::CatchUp(const std::vector<TCatchUpRecord>& records, qint32 maxAgeDays)
{
    TTrace t(QStringLiteral("CatchUp"));
    StartJob();
    MaxAgeDays = maxAgeDays;
    for (const TCatchUpRecord& rec : records) {
        QueueFrameStart(rec.Host, rec.UserName, rec.Password);
        for (const QString& g : rec.Groups) {
            AddStep(NntpStep::SetGroup)->Lines() << g;
            AddStep(NntpStep::CatchUpGroup)->Number = rec.Count;
        }
        AddStep(NntpStep::Disconnect);
    }
    ExecuteRequest();
}

QStringList TNntpProcessor::ComposeArticle(const QString& newsgroups, const QString& from, const QString& replyTo,
                                           const QString& references, const QString& organization,
                                           const QString& subject, const QStringList& body)
{
    // A header value is one line: a line break in it would start a header of the typist's making.
    auto oneLine = [](QString v) {
        v.replace(QLatin1String("\r\n"), QLatin1String(" "));
        v.replace(QLatin1Char('\r'), QLatin1Char(' '));
        v.replace(QLatin1Char('\n'), QLatin1Char(' '));
        return v;
    };
    QStringList lines;
    lines << QStringLiteral("From: ") + oneLine(from);
    lines << QStringLiteral("Newsgroups: ") + oneLine(newsgroups);
    lines << QStringLiteral("Subject: ") + oneLine(subject);
    lines << QStringLiteral("Organization: ") + oneLine(organization);
    if (!replyTo.trimmed().isEmpty())
        lines << QStringLiteral("Reply-To: ") + oneLine(replyTo);
    if (!references.trimmed().isEmpty())
        lines << QStringLiteral("References: ") + oneLine(references);
    lines << QStringLiteral("X-Newsreader: ") + NewsreaderText();
    // Text beyond ASCII is sent as UTF-8; say so, or readers guess the charset. A subject or
    // name that arrives already as encoded words counts as such text too.
    bool ascii = DecodeHeaderText(subject) == subject && DecodeHeaderText(from) == from;
    for (const QString& l : lines + body) {
        if (!ascii)
            break;
        for (QChar c : l) {
            if (c.unicode() >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (!ascii)
            break;
    }
    if (!ascii) {
        lines << QStringLiteral("MIME-Version: 1.0");
        lines << QStringLiteral("Content-Type: text/plain; charset=UTF-8");
        lines << QStringLiteral("Content-Transfer-Encoding: 8bit");
    }
    lines << QString();
    lines << body;
    return lines;
}

void TNntpProcessor::PostArticle(const QString& group, const QString& newsgroups, const QString& from,
                                 const QString& replyTo, const QString& references, const QString& organization,
                                 const QString& subject, const QStringList& body)
{
    TTrace t(QStringLiteral("PostArticle"));
    StartJob();
    QueueFrameStart(Host, UserName, Password);
    AddStep(NntpStep::SetGroup)->Lines() << group;
    AddStep(NntpStep::Post)->Lines() =
        ComposeArticle(newsgroups, from, replyTo, references, organization, subject, body);
    AddStep(NntpStep::Disconnect);
    ExecuteRequest();
}

void TNntpProcessor::Abort()
{
    TTrace t(QStringLiteral("Abort"));
    if (FIdle || !FQueue)
        return;
    FAborted = true;
    FQueue->AbortAll();
    WrapperAbort();
}

void TNntpProcessor::WrapperAbort()
{
    FPendingAborts.push_back(FJobSerial);
    FWrapper->Abort();
}

// --- Running the queue -----------------------------------------------------------------------

void TNntpProcessor::BindCompletion(TNntpRequest::TCompletionHandler handler)
{
    const quint64 serial = FJobSerial;
    FWrapper->OnRequestDone = [this, handler, serial](QObject* sender, quint16 error) {
        // A completion that belongs to a job that has ended is not this job's business.
        if (!JobAlive(serial))
            return;
        try {
            (this->*handler)(sender, error);
        } catch (const ENonSevereException& e) {
            if (!JobAlive(serial))
                throw; // the owner's own handler failed after the job's end: its business
            ExecuteRequestFinished(-2, e.message());
        } catch (const std::exception& e) {
            if (!JobAlive(serial))
                throw;
            ExecuteRequestFinished(-1, ErrorText(e));
        }
    };
}

void TNntpProcessor::ExecuteRequest()
{
    UtilsClass::Log(QStringLiteral("Entered ExecuteRequest"));
    const quint64 serial = FJobSerial;
    // User input (an abort, a click elsewhere) runs between two steps.
    TBusyGuard::ProcessEvents();
    // The job may have ended (or another one started) while events ran.
    if (!JobAlive(serial))
        return;
    try {
        TNntpRequest* request = FQueue->TakeNext();
        if (!request) {
            ExecuteRequestFinished(0, FLastError);
            return;
        }
        if (request->RequestType != NntpStep::Disconnect && request->RequestType != NntpStep::Connect
            && !FWrapper->Connected()) {
            ExecuteRequestFinished(-1, kServerDropped);
            return;
        }
        BindCompletion(request->CompletionHandler ? request->CompletionHandler
                                                  : &TNntpProcessor::ExecCompleteDefaultHandler);
        if (request->LineHandler) {
            const auto lineHandler = request->LineHandler;
            FWrapper->OnMessageLine = [this, lineHandler, serial](QObject* sender) {
                if (JobAlive(serial))
                    (this->*lineHandler)(sender);
            };
        } else {
            FWrapper->OnMessageLine = nullptr;
        }
        ExecuteStep(*request);
    } catch (const ENonSevereException& e) {
        if (!JobAlive(serial))
            throw; // raised by an owner's handler after the job ended
        ExecuteRequestFinished(-2, e.message());
    } catch (const std::exception& e) {
        if (!JobAlive(serial))
            throw;
        ExecuteRequestFinished(-1, ErrorText(e));
    }
}

void TNntpProcessor::ExecuteStep(TNntpRequest& request)
{
    switch (request.RequestType) {
    case NntpStep::Disconnect:
        Status(QStringLiteral("Disconnecting"));
        WrapperAbort();
        break;
    case NntpStep::Connect:
        Host = request.Line(0);
        Status(QStringLiteral("Connecting to ") + Host);
        UserName = request.Line(1);
        Password = request.Line(2);
        FLoggedIn = false;
        FCapabilitiesAsked = false;
        FTlsStarted = false;
        FSelectedGroup.clear();
        FSecureStep = nullptr;
        FWrapper->Connect(Host, UserName, Password);
        break;
    case NntpStep::SetGroup: {
        const QString name = request.Line(0);
        Status(QStringLiteral("Setting Group"));
        UtilsClass::Log(QStringLiteral("Setting Group: ") + name);
        Group = name;
        FSelectedGroup = name;
        FWrapper->SetGroup(name);
        break;
    }
    case NntpStep::GetBody:
    case NntpStep::GetArticle:
        if (request.Number == NntpArticleUnknown)
            throw ENonSevereException(kArticleMissing);
        FBodyLines = std::make_unique<QStringList>();
        if (request.RequestType == NntpStep::GetArticle) {
            UtilsClass::Log(QStringLiteral("Requesting article: ") + QString::number(request.Number));
            FWrapper->GetArticle(request.Number);
        } else {
            UtilsClass::Log(QStringLiteral("Requesting Body for article: ") + QString::number(request.Number));
            FWrapper->GetBody(request.Number);
        }
        break;
    case NntpStep::ListToFile: {
        ReleaseStream();
        const QString fileName = request.Line(0);
        auto file = std::make_unique<QFile>(fileName);
        if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate))
            throw EVorlixError(QStringLiteral("Cannot create the file %1: %2").arg(fileName, file->errorString()));
        FStream = std::move(file);
        FWrapper->ListGroups(FStream.get());
        break;
    }
    case NntpStep::DownloadHeaders:
        StartHeaderWindow(request);
        break;
    case NntpStep::CatchUpGroup:
        StartCatchUpWindow(request);
        break;
    case NntpStep::Post: {
        Status(QStringLiteral("Posting message"));
        ReleaseStream();
        auto stream = std::make_unique<TPostDataStream>();
        if (request.DataLines) {
            for (const QString& line : *request.DataLines) {
                UtilsClass::Log(line);
                stream->AddLine(line);
            }
        }
        stream->seek(0);
        FStream = std::move(stream);
        FWrapper->Post(FStream.get());
        break;
    }
    case NntpStep::GetHeader:
        FCurrentHeader = TNntpHeader();
        FCurrentHeader.Host = Host;
        FCurrentHeader.Group = Group;
        FWrapper->GetHeader(request.Number);
        break;
    case NntpStep::Next:
        FWrapper->NextArticle();
        break;
    default:
        throw EVorlixError(QStringLiteral("Internal error: unknown request type %1").arg(request.RequestType));
    }
}

void TNntpProcessor::StartHeaderWindow(const TNntpRequest& request)
{
    qint64 n;
    if (FLastRequested == -1) {
        n = request.Number == -1 ? FFirst : request.Number;
        if (request.Number != -1 && request.Number - 1 > FLast) {
            // The server's newest article lies below the last one we have: the group was
            // renumbered (a rebuilt or replaced server). Its range as it is now is fetched.
            UtilsClass::Log(QStringLiteral("Group %1 was renumbered: the server's articles run %2 - %3, below the "
                                           "last one received (%4); downloading from %2")
                                .arg(Group)
                                .arg(FFirst)
                                .arg(FLast)
                                .arg(request.Number - 1));
            n = FFirst;
        }
    } else {
        if (FLastRequested >= FLast)
            throw ENonSevereException(kNoMoreArticles);
        n = FLastRequested + 1;
    }
    if (n > FLast)
        throw ENonSevereException(kNoMoreArticles);
    // n + span - 1, where span may be 0 or less; it cannot pass FLast's side of the range.
    const qint64 span = qint64(FMsgsToRetrieve) - FReceived;
    qint64 m = span > 0 && n > FLast - (span - 1) ? FLast : n + span - 1;
    if (m > FLast)
        m = FLast;
    // Ages are measured from the moment the window is asked for: reading the clock (and the
    // time zone) once per line would cost more than parsing the line.
    FWindowNow = TDateTime::Now();
    if (m == n) {
        Status(QStringLiteral("Downloading header: %1").arg(n));
        FWrapper->GetHeaders(n);
    } else {
        Status(QStringLiteral("Downloading headers: %1 - %2").arg(n).arg(m));
        FWrapper->GetHeaders(n, m);
    }
    // Taken over when the window's answer is complete, so a window refused with 480 is asked
    // for again after the login instead of being skipped.
    FWindowEnd = m;
    FWindowStartReceived = FReceived;
}

void TNntpProcessor::StartCatchUpWindow(const TNntpRequest& request)
{
    try {
        Status(QStringLiteral("Catching up"));
        const qint64 m = FLast;
        // FLast - Count + 1, raised to FFirst when lower; worked out so that no number near the
        // 64-bit end overflows.
        const qint64 count = std::max<qint64>(request.Number, 0);
        qint64 n;
        if (FLast - FFirst < count - 1)
            n = FFirst;
        else if (count == 0)
            n = FLast < std::numeric_limits<qint64>::max() ? FLast + 1 : FLast;
        else
            n = FLast - (count - 1);
        FWindowNow = TDateTime::Now();
        if (m == n) {
            Status(QStringLiteral("Downloading header: %1").arg(n));
            FWrapper->GetHeaders(n);
        } else {
            Status(QStringLiteral("Downloading headers: %1 - %2").arg(n).arg(m));
            FWrapper->GetHeaders(n, m);
        }
    } catch (const std::exception& e) {
        // An empty group (last below first) and the like: go on with the next group.
        Status(ErrorText(e));
        ExecuteRequest();
    }
}

void TNntpProcessor::ExecuteRequestFinished(int code, const QString& messageText)
{
    // A copy: the text often is FLastError itself, which is emptied below.
    const QString message = messageText;
    UtilsClass::Log(QStringLiteral("Entered ExecuteRequestFinished: [%1] [%2]").arg(code).arg(message));
    if (FIdle)
        return;
    FQueue.reset();
    ReleaseStream();
    FBodyLines.reset();
    FWrapper->OnMessageLine = nullptr;
    FAuthenticating = false;
    // A job that ended early ("No more Articles", a refusal, a failed login) would otherwise
    // leave its connection open until the next job or the server's time-out.
    if (FWrapper->Connected())
        WrapperAbort();
    // The processor is idle before the owner hears of the end, so the owner may start the next
    // job from its handler.
    FLastError.clear();
    FIdle = true;
    if (FOutOfRange > MaxOutOfRangeLogged)
        UtilsClass::Log(QStringLiteral("%1 overview lines were ignored for numbers outside the group's range")
                            .arg(FOutOfRange));
    FOutOfRange = 0;
    const int unreadable = FUnreadableDates;
    const QString firstUnreadable = FFirstUnreadableDate;
    FUnreadableDates = 0;
    FFirstUnreadableDate.clear();
    // The owner may delete the processor from its handler (a window that closes on success):
    // nothing of this object is touched after the event.
    if (OnRequestDone)
        OnRequestDone(this, code, message);
    if (unreadable > 0) {
        Dialogs().ShowMessage(
            QStringLiteral("%1 of the downloaded headers had a date that could not be read (the first was "
                           "\"%2\"); they are dated at the time of download.")
                .arg(unreadable)
                .arg(firstUnreadable),
            TMessageKind::Warning);
    }
}

// --- Completion handlers ---------------------------------------------------------------------

void TNntpProcessor::ExecDisconnectedHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("ExecDisconnectedHandler"));
    if (Error != 0)
        FLastError = FWrapper->LastError();
    ExecuteRequest();
}

void TNntpProcessor::CompleteStep(quint16 Error)
{
    FLastError = FWrapper->LastError();
    ReleaseStream();
    if (Error != 0) {
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    ExecuteRequest();
}

void TNntpProcessor::ExecCompleteDefaultHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("ExecCompleteDefaultHandler"));
    CompleteStep(Error);
}

void TNntpProcessor::PostCompleteHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("PostCompleteHandler"));
    CompleteStep(Error);
}

void TNntpProcessor::ExecSetGroupComplete(QObject*, quint16 Error)
{
    UtilsClass::Log(QStringLiteral("Entered ExecSetGroupComplete: "));
    FLastError = FWrapper->LastError();
    if (Error != 0) {
        UtilsClass::Log(QStringLiteral("Error: ") + FLastError);
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    const QString line = FWrapper->LastResponse();
    const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    qint64 numbers[3] = {0, 0, 0};
    for (int i = 0; i < 3; ++i) {
        if (parts.size() <= i + 1 || !ParseArticleNumber(QByteArrayView(parts[i + 1].toLatin1()), numbers[i]))
            throw EVorlixError(QStringLiteral("The server's GROUP answer cannot be read: ") + line);
    }
    FEstimated = numbers[0];
    FFirst = numbers[1];
    FLast = numbers[2];
    UtilsClass::Log(QStringLiteral("Entered ExecSetGroupComplete: %1 - %2").arg(FFirst).arg(FLast));
    ExecuteRequest();
}

void TNntpProcessor::ExecCompleteBodyHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("ExecCompleteBodyHandler"));
    FLastError = FWrapper->LastError();
    if (Error != 0) {
        // Whatever arrived of a body that did not end properly is not the article: nothing is
        // delivered.
        UtilsClass::Log(QStringLiteral("ExecCompleteBodyHandler Error: ") + FLastError);
        FBodyLines.reset();
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    QString id = FWrapper->ArticleID().trimmed();
    if (id.isEmpty()) {
        // A server that sends the ID without angle brackets: "222 <number> <id>" (or 220 for
        // the whole article).
        const QStringList parts = FWrapper->LastResponse().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (parts.size() >= 3 && parts[2].contains(QLatin1Char('@')))
            id = parts[2];
    }
    if (id.isEmpty())
        id = QStringLiteral("<>");
    else if (!id.startsWith(QLatin1Char('<')))
        id = QLatin1Char('<') + id + QLatin1Char('>');
    std::unique_ptr<QStringList> lines = std::move(FBodyLines);
    if (!lines)
        lines = std::make_unique<QStringList>();
    if (OnBody)
        OnBody(this, Host, *lines, id, Group);
    lines.reset();
    ExecuteRequest();
}

void TNntpProcessor::ExecDownloadHeadersCompleteHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("ExecDownloadHeadersCompleteHandler"));
    FLastError = FWrapper->LastError();
    if (Error != 0) {
        UtilsClass::Log(QStringLiteral("Error: ") + FLastError);
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    FLastRequested = FWindowEnd;
    // A server may claim a range it does not hold (211 0 1 2147483647): empty windows must not
    // be asked for one after another without end. After a few, the newest window the server
    // claims is asked for once; when that is empty too, the job ends.
    FEmptyWindows = FReceived == FWindowStartReceived ? FEmptyWindows + 1 : 0;
    if (FEmptyWindows >= MaxEmptyWindows && FReceived < FMsgsToRetrieve && !FAborted) {
        const qint64 newest = FLast - FMsgsToRetrieve;
        if (!FJumpedToNewest && newest > FLastRequested) {
            UtilsClass::Log(QStringLiteral("%1 empty header windows: asking for the newest articles from %2 on")
                                .arg(FEmptyWindows)
                                .arg(newest + 1));
            FLastRequested = newest;
            FJumpedToNewest = true;
            FEmptyWindows = 0;
        } else {
            UtilsClass::Log(QStringLiteral("%1 empty header windows: the download ends").arg(FEmptyWindows));
            ExecuteRequestFinished(-2, kNoMoreArticles);
            return;
        }
    }
    if (FReceived < FMsgsToRetrieve && !FAborted) {
        UtilsClass::Log(QStringLiteral("Retrying request"));
        FQueue->Repeat();
    }
    ExecuteRequest();
}

void TNntpProcessor::ExecCatchUpCompleteHandler(QObject*, quint16 Error)
{
    TTrace t(QStringLiteral("ExecCatchUpCompleteHandler"));
    FLastError = FWrapper->LastError();
    // The headers that did arrive are the owner's to keep, also when the group's answer failed.
    if (OnCaughtUp)
        OnCaughtUp(this, Host, Group);
    if (FIdle)
        return;
    if (Error != 0) {
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    ExecuteRequest();
}

// --- Line handlers ---------------------------------------------------------------------------

void TNntpProcessor::ParseOverviewLine(QByteArrayView line, TNntpHeader& header, bool& dateReadable)
{
    // Fields are separated by TAB; an empty field keeps its place.
    QByteArrayView fields[6];
    int count = 0;
    qsizetype start = 0;
    while (count < 6) {
        const qsizetype tab = line.indexOf('\t', start);
        if (tab < 0) {
            fields[count++] = line.sliced(start);
            break;
        }
        fields[count++] = line.sliced(start, tab - start);
        start = tab + 1;
    }
    if (!ParseArticleNumber(fields[0], header.Number))
        throw EVorlixError(QStringLiteral("Overview line without a valid article number: ") + DecodeField(line));
    header.Subject = DecodeField(fields[1]);
    header.From = FromFieldText(DecodeField(fields[2]));
    // Dates are kept and sorted in the reader's own zone.
    std::optional<TDateTime> d = InetDateCommon(fields[3]);
    if (!d)
        d = InetDate(DecodeField(fields[3]));
    if (d) {
        if (const std::optional<int> zone = DateZoneOffset(fields[3]))
            d = ZoneToLocal(*d, *zone);
    }
    if (d) {
        header.Date = *d;
        dateReadable = true;
    } else {
        header.Date = TDateTime::Now();
        dateReadable = false;
    }
    header.MessageID = DecodeField(fields[4]);
    header.References = DecodeField(fields[5]);
}

bool TNntpProcessor::WithinAge(TDateTime date, qint32 maxAgeDays, TDateTime now)
{
    if (maxAgeDays == -1)
        return true;
    // Whole days, halves to the even one.
    const double age = std::nearbyint(now.Value - date.Value);
    return double(maxAgeDays) >= age;
}

void TNntpProcessor::MessageHeaderHandler(QObject*)
{
    try {
        FCurrentHeader = TNntpHeader();
        FCurrentHeader.Host = Host;
        FCurrentHeader.Group = Group;
        QByteArrayView bytes = FWrapper->LastResponseBytes();
        QByteArray fallback;
        if (bytes.isEmpty()) {
            fallback = FWrapper->LastResponse().toUtf8();
            bytes = fallback;
        }
        bool dateReadable = true;
        ParseOverviewLine(bytes, FCurrentHeader, dateReadable);
        if (FCurrentHeader.Number < FFirst || FCurrentHeader.Number > FLast) {
            // A number the GROUP answer did not claim would become the group's last article
            // and send every later download past the server's real range.
            ++FOutOfRange;
            if (FOutOfRange <= MaxOutOfRangeLogged)
                UtilsClass::Log(QStringLiteral("Overview line ignored: article %1 lies outside the group's range "
                                               "%2 - %3")
                                    .arg(FCurrentHeader.Number)
                                    .arg(FFirst)
                                    .arg(FLast));
            return;
        }
        if (!dateReadable) {
            if (FUnreadableDates == 0) {
                QByteArrayView rest = bytes;
                for (int i = 0; i < 3; ++i) {
                    const qsizetype tab = rest.indexOf('\t');
                    rest = tab < 0 ? QByteArrayView() : rest.sliced(tab + 1);
                }
                const qsizetype tab = rest.indexOf('\t');
                FFirstUnreadableDate = DecodeField(tab < 0 ? rest : rest.first(tab));
            }
            ++FUnreadableDates;
        }
        if (WithinAge(FCurrentHeader.Date, MaxAgeDays, FWindowNow)) {
            ++FReceived;
            if (OnHeader)
                OnHeader(this, Host, FCurrentHeader, Group);
        } else if (OnHeaderSkipped) {
            OnHeaderSkipped(this, FCurrentHeader);
        }
    } catch (const std::exception& e) {
        UtilsClass::Log(QStringLiteral("MessageHeaderHandler Exception: ") + ErrorText(e));
    }
}

void TNntpProcessor::BodyLineHandler(QObject*)
{
    if (!FBodyLines)
        FBodyLines = std::make_unique<QStringList>();
    FBodyLines->append(FWrapper->LastResponse());
}

// --- Session events --------------------------------------------------------------------------

void TNntpProcessor::SessionConnectedHandler(QObject*)
{
    UtilsClass::Log(QStringLiteral("Entered SessionConnectedHandler: ") + Host);
    if (OnSessionConnected)
        OnSessionConnected(this);
    // This is how a Connect step completes.
    if (FIdle || !FQueue)
        return;
    TNntpRequest* current = FQueue->Current();
    if (!current || current->RequestType != NntpStep::Connect)
        return;
    ExecuteRequest();
}

void TNntpProcessor::SessionClosedHandler(QObject*)
{
    UtilsClass::Log(QStringLiteral("Entered SessionClosedHandler: ") + Host);
    if (OnSessionClosed)
        OnSessionClosed(this);
}

void TNntpProcessor::AbortHandler(QObject*, quint16)
{
    UtilsClass::Log(QStringLiteral("Entered AbortHandler"));
    quint64 serial = FJobSerial;
    if (!FPendingAborts.empty()) {
        serial = FPendingAborts.front();
        FPendingAborts.erase(FPendingAborts.begin());
    }
    // The end of an abort of a job that has already ended belongs to no one.
    if (!JobAlive(serial))
        return;
    ReleaseStream();
    TNntpRequest* current = FQueue->Current();
    if (!current || current->RequestType != NntpStep::Disconnect) {
        ExecuteRequestFinished(-3, kRequestAborted);
        return;
    }
    ExecuteRequest();
}

// --- Authentication --------------------------------------------------------------------------

void TNntpProcessor::AuthenticationRequiredHandler(QObject*)
{
    UtilsClass::Log(QStringLiteral("Entered AuthenticationRequiredHandler"));
    if (FIdle || !FQueue)
        return;
    if (FAuthenticating || FLoggedIn) {
        // 480 in answer to AUTHINFO itself, or again after a login the server accepted: the
        // credentials do not open this door, and asking again would go round for ever.
        FAuthenticating = false;
        const QString text = FWrapper->LastError();
        ExecuteRequestFinished(480, text.isEmpty() ? QStringLiteral("480 Authentication required") : text);
        return;
    }
    if (FSecureStep) {
        // 480 in answer to CAPABILITIES or STARTTLS: that step's handler decides, as for a refusal.
        const auto step = FSecureStep;
        const quint64 serial = FJobSerial;
        try {
            (this->*step)(FWrapper, 480);
        } catch (const std::exception& e) {
            if (!JobAlive(serial))
                throw;
            ExecuteRequestFinished(-1, ErrorText(e));
        }
        return;
    }
    SecureAndLogin();
}

void TNntpProcessor::SecureAndLogin()
{
    if (FWrapper->Encrypted()) {
        AskAndAuthenticate(false, QString());
        return;
    }
    if (FCapabilitiesAsked) {
        // Asked on this connection already, and it is not encrypted: the server has no STARTTLS.
        PlainLogin();
        return;
    }
    FCapabilitiesAsked = true;
    FSecureStep = &TNntpProcessor::CapabilitiesHandler;
    BindCompletion(FSecureStep);
    FWrapper->Capabilities();
}

void TNntpProcessor::CapabilitiesHandler(QObject*, quint16 Error)
{
    FSecureStep = nullptr;
    // A server without CAPABILITIES (an error answer) offers no STARTTLS either.
    if (Error == 0 && FWrapper->HasCapability(QStringLiteral("STARTTLS"))) {
        Status(QStringLiteral("Starting encryption"));
        FSecureStep = &TNntpProcessor::StartTlsHandler;
        BindCompletion(FSecureStep);
        FWrapper->StartTls();
        return;
    }
    PlainLogin();
}

void TNntpProcessor::StartTlsHandler(QObject*, quint16 Error)
{
    FSecureStep = nullptr;
    if (Error != 0) {
        // The server offered encryption and it did not come about: the password never goes out
        // in clear text instead.
        const QString why = FWrapper->LastError();
        const QString message = Error == NntpError::Tls
            ? why + QStringLiteral(" The password was not sent.")
            : QStringLiteral("%1 offers encryption (STARTTLS) but did not start it: %2. The password was not sent.")
                  .arg(Host.trimmed(), why.isEmpty() ? QString::number(Error) : why);
        ExecuteRequestFinished(Error, message);
        return;
    }
    FTlsStarted = true;
    // What the server said before TLS no longer counts: it is asked again.
    FSecureStep = &TNntpProcessor::TlsCapabilitiesHandler;
    BindCompletion(FSecureStep);
    FWrapper->Capabilities();
}

void TNntpProcessor::TlsCapabilitiesHandler(QObject*, quint16)
{
    FSecureStep = nullptr;
    AskAndAuthenticate(false, QString());
}

void TNntpProcessor::PlainLogin()
{
    const quint64 serial = FJobSerial;
    TPlainPasswordChoice choice = TNewsStore::PlainPasswordChoice(Host);
    if (choice == ppNotAsked) {
        const TDialogAnswer answer = Dialogs().AskPlainPassword(Host);
        if (!JobAlive(serial))
            return; // aborted while the question was open
        if (answer == TDialogAnswer::Yes || answer == TDialogAnswer::No) {
            choice = answer == TDialogAnswer::Yes ? ppAllowed : ppRefused;
            TNewsStore::RememberPlainPasswordChoice(Host, choice);
            if (!JobAlive(serial))
                return;
        }
    }
    if (choice != ppAllowed) {
        ExecuteRequestFinished(-2, kLoginCancelled
                                       + QStringLiteral(": %1 offers no encryption, and the password is not sent "
                                                        "unencrypted")
                                             .arg(Host.trimmed()));
        return;
    }
    AskAndAuthenticate(false, QString());
}

void TNntpProcessor::ReselectGroupHandler(QObject*, quint16 Error)
{
    FLastError = FWrapper->LastError();
    if (Error != 0) {
        ExecuteRequestFinished(Error, FLastError);
        return;
    }
    FQueue->Repeat();
    ExecuteRequest();
}

void TNntpProcessor::AskAndAuthenticate(bool repeated, const QString& refusal)
{
    const quint64 serial = FJobSerial;
    try {
        if (repeated || UserName.trimmed().isEmpty() || Password.trimmed().isEmpty()) {
            // After a refusal the window says what the server said.
            const QString status =
                repeated && !refusal.isEmpty() ? refusal : QStringLiteral("Authentication required");
            QString user = UserName;
            QString password;
            bool save = false;
            const bool given = OnNeedCredentials
                ? OnNeedCredentials(this, Host, user, password, save, status)
                : Dialogs().RequestCredentials(Host, user, password, save, status);
            if (!JobAlive(serial))
                return; // aborted while the window was open
            if (!given)
                throw ENonSevereException(kLoginCancelled);
            UserName = user;
            Password = password;
            SavePassword = save;
            FTypedLogin = true;
            if (UserName.isEmpty() || Password.isEmpty())
                throw ENonSevereException(kLoginCancelled + QStringLiteral(": a user name and a password are needed"));
        }
        Status(QStringLiteral("Authenticating"));
        FWrapper->SetUserName(UserName);
        FWrapper->SetPassword(Password);
        BindCompletion(&TNntpProcessor::AuthenticationProcessedHandler);
        FAuthenticating = true;
        FWrapper->Authenticate();
    } catch (const ENonSevereException& e) {
        if (!JobAlive(serial))
            throw; // raised by an owner's handler after the job ended
        ExecuteRequestFinished(-2, e.message());
    } catch (const std::exception& e) {
        if (!JobAlive(serial))
            throw;
        ExecuteRequestFinished(-1, ErrorText(e));
    }
}

void TNntpProcessor::AuthenticationProcessedHandler(QObject*, quint16 Error)
{
    UtilsClass::Log(QStringLiteral("Entered AuthenticationProcessedHandler"));
    FAuthenticating = false;
    FLastError = FWrapper->LastError();
    if (Error == 502 || Error == 481) {
        // Credentials refused (481 per RFC 4643, 502 from older servers): ask the user again.
        AskAndAuthenticate(true, FLastError);
        return;
    }
    if (Error != 0) {
        ExecuteRequestFinished(Error, FLastError.isEmpty()
                                          ? QStringLiteral("Authentication failed (%1)").arg(Error)
                                          : FLastError);
        return;
    }
    FLoggedIn = true;
    // Only a login the user typed is handed on to be kept, with the user's own choice of
    // saving the password. Stored credentials stay as their owner keeps them.
    if (OnAuthenticated && FTypedLogin)
        OnAuthenticated(this, Host, UserName, Password, SavePassword);
    if (FIdle)
        return;
    const TNntpRequest* current = FQueue->Current();
    if (FTlsStarted && !FSelectedGroup.isEmpty() && current && current->RequestType != NntpStep::SetGroup) {
        // TLS started the session afresh: the group is selected again before the refused step.
        BindCompletion(&TNntpProcessor::ReselectGroupHandler);
        FWrapper->SetGroup(FSelectedGroup);
        return;
    }
    // The step that got 480 runs again.
    FQueue->Repeat();
    ExecuteRequest();
}
