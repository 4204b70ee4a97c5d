#include "render/Renderer.h"

#include "audio/AudioFileInfo.h"
#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/ProfileLock.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "core/VorlixException.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "news/ThreadModel.h"
#include "nntp/HeaderDownload.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NntpCli.h"
#include "preprocess/TTSPreProcessor.h"
#include "render/FeedServer.h"
#include "render/PodcastFeed.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

// Messages and questions of the logic classes, on the terminal. Nobody is there to answer, so
// questions get the safe answer and a login request is refused, with the reason printed.
class TConsoleDialogs : public THeadlessDialogService {
public:
    explicit TConsoleDialogs(FILE* err_) : err(err_) {}

    void ShowMessage(const QString& text, TMessageKind kind) override
    {
        THeadlessDialogService::ShowMessage(text, kind);
        print(text);
        if (kind == TMessageKind::Error)
            Errors << text;
    }
    TDialogAnswer Ask(const QString& text, TDialogButtons buttons, TMessageKind kind) override
    {
        print(text + QStringLiteral(" (no one to answer: No)"));
        return THeadlessDialogService::Ask(text, buttons, kind);
    }
    TDialogAnswer AskWithCheck(const QString& text, const QString& checkText, bool& checked,
                               TDialogButtons buttons, TMessageKind kind) override
    {
        print(text + QStringLiteral(" (no one to answer: No)"));
        return THeadlessDialogService::AskWithCheck(text, checkText, checked, buttons, kind);
    }
    bool RequestCredentials(const QString& host, QString& user, QString& password, bool& savePassword,
                            const QString& status) override
    {
        print(QStringLiteral("The news server %1 asks for a login that this profile does not hold (%2). "
                             "Log in once from Vorlix's window with \"Save Password\" ticked.")
                  .arg(host, status.isEmpty() ? QStringLiteral("Authentication required") : status));
        Errors << QStringLiteral("%1 needs a saved login").arg(host);
        return THeadlessDialogService::RequestCredentials(host, user, password, savePassword, status);
    }
    TDialogAnswer AskPlainPassword(const QString& host) override
    {
        print(QStringLiteral("%1 offers no encryption, and sending the password unencrypted was never allowed "
                             "for it; answer the question once from Vorlix's window.")
                  .arg(host));
        Errors << QStringLiteral("%1 would get the password unencrypted").arg(host);
        return THeadlessDialogService::AskPlainPassword(host);
    }

    QStringList Errors;

private:
    void print(const QString& text)
    {
        std::fprintf(err, "vorlix render: %s\n", local(text).constData());
        std::fflush(err);
    }
    FILE* err;
};

TConsoleDialogs* consoleDialogs = nullptr;

// Ctrl+C and SIGTERM reach the event loop through a pipe, so a render stops between articles
// with everything saved.
int signalPipe[2] = {-1, -1};
void onSignal(int)
{
    const char c = 1;
    const ssize_t n = ::write(signalPipe[1], &c, 1);
    (void)n;
}

QString audioMinutes(qint64 ms)
{
    return QString::number(double(ms) / 60000.0, 'f', 1);
}

} // namespace

TRenderer::TRenderer(const TRenderOptions& options_, FILE* out_, FILE* err_)
    : options(options_), out(out_), err(err_)
{
    terminal = ::isatty(::fileno(out)) == 1 && !options.Quiet;
}

TRenderer::~TRenderer()
{
    if (run) {
        run->OnStatus = nullptr;
        run->OnRunEnded = nullptr;
        run->OnArticleStarted = nullptr;
        run->OnFileDone = nullptr;
    }
    run.reset();
    if (processor) {
        processor->OnRequestDone = nullptr;
        processor->OnHeader = nullptr;
        processor->Abort();
    }
    processor.reset();
    tts.reset();
    news.reset();
    settings.reset();
    lock.reset();
}

// ---------------------------------------------------------------- output

void TRenderer::say(const QString& line)
{
    if (options.Quiet)
        return;
    endProgressLine();
    std::fprintf(out, "%s\n", local(line).constData());
    std::fflush(out);
}

void TRenderer::warn(const QString& line)
{
    endProgressLine();
    std::fprintf(err, "vorlix render: %s\n", local(line).constData());
    std::fflush(err);
}

void TRenderer::progress(int done, int total, const QString& what)
{
    if (options.Quiet)
        return;
    if (!terminal) {
        std::fprintf(out, "[%d/%d] %s\n", done + 1, total, local(what).constData());
        std::fflush(out);
        return;
    }
    constexpr int width = 30;
    const int filled = total > 0 ? std::clamp(done * width / total, 0, width) : 0;
    QString bar = QString(filled, QLatin1Char('#')) + QString(width - filled, QLatin1Char('-'));
    QString text = what;
    if (text.size() > 40)
        text = text.left(39) + QChar(0x2026);
    std::fprintf(out, "\r\033[K[%s] %d/%d %s", local(bar).constData(), done + 1, total, local(text).constData());
    std::fflush(out);
    progressShown = true;
}

void TRenderer::endProgressLine()
{
    if (!progressShown)
        return;
    std::fprintf(out, "\n");
    progressShown = false;
}

// ---------------------------------------------------------------- the steps

int TRenderer::Run()
{
    clock.start();
    if (!openProfile() || !chooseGroups() || !openSpeech())
        return reUsage;
    if (options.Download)
        download();
    if (!interrupted)
        render();
    if (feedWanted())
        writeFeed();
    const int code = finish();
    if (options.ServePort >= 0 && !interrupted)
        return std::max(code, serve());
    return code;
}

void TRenderer::Interrupt()
{
    if (interrupted) {
        // A second interrupt ends at once: every article finished so far is saved, and the
        // one being rendered keeps its mark for the next run.
        warn(QStringLiteral("interrupted again: ending now"));
        std::_Exit(reSomeFailed);
    }
    interrupted = true;
    if (serving) {
        serving->quit();
        return;
    }
    warn(QStringLiteral("interrupted: stopping after the current article"));
    if (processor && !processor->Idle())
        processor->Abort();
    // The article being rendered is finished and kept; nothing after it starts.
    if (run && run->Queue)
        run->Queue->DropAfterCurrent();
}

bool TRenderer::openProfile()
{
    const QString home = UtilsClass::GetProgramFolder();
    lock = std::make_unique<TProfileLock>();
    if (!lock->TryLock(TProfileLock::hRenderer)) {
        warn(lock->Refusal());
        return false;
    }
    UtilsClass::RotateLogs();
    UtilsClass::Log(QStringLiteral("vorlix render started in ") + home);
    settings = std::make_unique<TMyRegistryClass>();
    settings->LoadAll();
    if (!settings->IsStartupSaved()) {
        warn(QStringLiteral("Vorlix has not been set up in %1 yet: start Vorlix once, add a news server "
                             "and subscribe to newsgroups, then render.")
                  .arg(QDir::toNativeSeparators(home)));
        return false;
    }
    const QString caFile = settings->GetValue(QStringLiteral("NewsCAFile")).toString().trimmed();
    QString caError;
    if (!caFile.isEmpty() && !TNntpCli::TrustCaFile(caFile, &caError))
        warn(caError + QStringLiteral(" (setting NewsCAFile)"));
    TNntpCli::SetDefaultLimits(settings->GetValue(QStringLiteral("MaxArticleBytes")).toLongLong(),
                               settings->GetValue(QStringLiteral("RequestTimeout")).toLongLong() * 1000);
    news = std::make_unique<TNewsStore>();
    news->Settings = settings.get();
    if (!QFileInfo::exists(TNewsStore::ConfigPath())) {
        warn(QStringLiteral("No news server is set up in %1: add one in Vorlix's window first.")
                  .arg(QDir::toNativeSeparators(home)));
        return false;
    }
    news->LoadConfig();
    return true;
}

bool TRenderer::chooseGroups()
{
    auto add = [this](TConfigClass* group) {
        for (const TGroupJob& j : jobs)
            if (j.Group == group)
                return;
        TConfigClass* server = TNewsStore::ServerOf(group);
        jobs.push_back({group, server ? server->Caption().trimmed() : QString(), group->Name, 0});
    };
    auto groupsOf = [](TConfigClass* server) {
        std::vector<TConfigClass*> out;
        for (int i = 0; i < server->ChildCount(); ++i)
            if (TConfigClass* g = server->Child(i); g->Kind == ckNewsGroup)
                out.push_back(g);
        return out;
    };
    for (const QString& name : options.Servers) {
        TConfigClass* server = nullptr;
        for (int i = 0; i < news->ServerCount() && !server; ++i)
            if (news->Server(i)->Caption().trimmed() == name || news->Server(i)->Name.trimmed() == name)
                server = news->Server(i);
        if (!server) {
            QStringList known;
            for (int i = 0; i < news->ServerCount(); ++i)
                known << news->Server(i)->Caption().trimmed();
            warn(QStringLiteral("no news server \"%1\" in this profile (its servers: %2)")
                      .arg(name, known.isEmpty() ? QStringLiteral("none") : known.join(QStringLiteral(", "))));
            return false;
        }
        const auto groups = groupsOf(server);
        if (groups.empty()) {
            warn(QStringLiteral("the news server \"%1\" has no subscribed newsgroups").arg(name));
            return false;
        }
        for (TConfigClass* g : groups)
            add(g);
    }
    for (const QString& name : options.Groups) {
        bool found = false;
        for (int i = 0; i < news->ServerCount(); ++i)
            for (TConfigClass* g : groupsOf(news->Server(i)))
                if (g->Name == name) {
                    add(g);
                    found = true;
                }
        if (!found) {
            warn(QStringLiteral("\"%1\" is not a subscribed newsgroup of this profile").arg(name));
            return false;
        }
    }
    if (options.AllGroups)
        for (int i = 0; i < news->ServerCount(); ++i)
            for (TConfigClass* g : groupsOf(news->Server(i)))
                add(g);
    if (jobs.empty()) {
        warn(QStringLiteral("no newsgroups are subscribed in this profile"));
        return false;
    }
    return true;
}

bool TRenderer::openSpeech()
{
    auto* preprocessor = new TGroupsPreProcessor;
    try {
        tts = std::make_unique<TBaseTTS>();
    } catch (const EVorlixError& e) {
        delete preprocessor;
        warn(QStringLiteral("the speech manager cannot start: ") + e.message());
        return false;
    }
    tts->SetPreprocessor(preprocessor);
    tts->SetShowExceptionDialogs(false);
    try {
        tts->InitializeAll(*settings);
    } catch (const EVorlixError& e) {
        warn(QStringLiteral("no voice could be loaded: ") + e.message());
        return false;
    }
    const QString folderError = TBaseTTS::CheckOutputDir(tts->OutputDir);
    if (!folderError.isEmpty()) {
        warn(folderError);
        return false;
    }
    tts->OnBeforeTags = [](TBaseTTS* sender) { TSpeakRun::TagRunFile(sender->Tags); };
    tts->OnConvertFailed = [this](TBaseTTS*, const QString& wav, const QString& message) {
        warn(QStringLiteral("the MP3 file could not be made (%1); the speech is kept in %2")
                 .arg(message, QDir::toNativeSeparators(wav)));
        failures.push_back({QDir::toNativeSeparators(wav), QStringLiteral("kept as WAV: ") + message});
    };

    run = std::make_unique<TSpeakRun>(news.get(), tts.get(), settings.get());
    tts->OnSpeechEvent = [this](TBaseTTS*, unsigned char code, const QString&) { run->SpeechEvent(code); };
    tts->OnSpeechError = [this](TBaseTTS*, const QString& message) {
        if (run->Running())
            run->SpeechError(message);
        else
            warn(message);
    };
    run->OnFileDone = [this](TSpeakRun*, const QString& path, const std::vector<TArticleClass*>& articles) {
        fileDone(path, articles);
    };
    run->OnAuthenticated = [this](TSpeakRun*, const QString& host, const QString& user, const QString& password,
                                  bool save) {
        if (news->SetLogin(host, user, password, save))
            news->SaveConfig();
    };
    return true;
}

// ---------------------------------------------------------------- downloading

void TRenderer::download()
{
    processor = std::make_unique<TNntpProcessor>();
    for (TGroupJob& job : jobs) {
        if (interrupted)
            return;
        if (!news->Contains(job.Group))
            continue;
        if (failedServers.contains(job.Server)) {
            failures.push_back({QStringLiteral("Downloading %1 from %2").arg(job.Name, job.Server),
                                QStringLiteral("skipped, as the server failed before")});
            continue;
        }
        downloadGroup(job);
    }
}

void TRenderer::downloadGroup(TGroupJob& job)
{
    TConfigClass* group = job.Group;
    TConfigClass* server = TNewsStore::ServerOf(group);
    if (!server)
        return;
    try {
        group->EnsureArticles();
    } catch (const EVorlixError& e) {
        failures.push_back({QStringLiteral("Reading %1").arg(job.Name), e.message()});
        return;
    }
    THeaderDownload headers(news.get());
    headers.Begin(group->Name);
    QEventLoop loop;
    int doneCode = 0;
    QString doneMessage;
    int count = 0;
    const int limit = std::max(1, settings->GetValue(QStringLiteral("MsgsToRetrieve")).toInt());
    processor->OnHeader = [&](QObject*, const QString& host, const TNntpHeader& header, const QString& name) {
        TConfigClass* entry = news->FindGroup(host, name);
        if (!entry) {
            headers.DropHeader(name);
            return;
        }
        headers.AddHeader(entry, header);
        if (++count % 25 == 0 && terminal)
            progress(std::min(count, limit - 1), limit, QStringLiteral("Downloading headers for ") + name);
    };
    processor->OnRequestDone = [&](QObject*, int code, const QString& message) {
        doneCode = code;
        doneMessage = message;
        loop.quit();
    };
    processor->OnAuthenticated = [this](QObject*, const QString& host, const QString& user,
                                        const QString& password, bool save) {
        if (news->SetLogin(host, user, password, save))
            news->SaveConfig();
    };
    say(QStringLiteral("Downloading headers for %1 from %2").arg(job.Name, job.Server));
    processor->Host = server->Caption().trimmed();
    processor->UserName = server->UserName.trimmed();
    processor->Password = server->Password.trimmed();
    processor->DownloadHeaders(group->Name, group->LastArticle,
                               settings->GetValue(QStringLiteral("MsgDeleteDays")).toInt(), limit);
    if (!processor->Idle())
        loop.exec();
    processor->OnHeader = nullptr;
    processor->OnRequestDone = nullptr;
    endProgressLine();

    if (news->Contains(group)) {
        try {
            headers.ExpireAfterJob(group, *processor, doneCode, doneMessage);
        } catch (const EVorlixError& e) {
            warn(e.message());
        }
    }
    headers.SaveChanges([this, &job](const QString& error) {
        failures.push_back({QStringLiteral("Saving %1").arg(job.Name), error});
        warn(error);
    });
    // A download ends normally when the queue ran out or the newest article was reached.
    const bool failed = doneCode > 0 || doneCode == -1
                        || (doneCode == -2 && doneMessage != QLatin1String("No more Articles"));
    const QString summary = headers.TakeSummary(failed ? QString() : doneMessage);
    if (failed) {
        const QString why = doneMessage.isEmpty() ? QStringLiteral("the connection failed (%1)").arg(doneCode)
                                                  : doneMessage;
        failures.push_back({QStringLiteral("Downloading %1 from %2").arg(job.Name, job.Server), why});
        warn(QStringLiteral("downloading %1 from %2 failed: %3").arg(job.Name, job.Server, why));
        // A group the server does not carry says nothing about the others; anything else (no
        // connection, a refused login) would fail the same way for each of its groups.
        if (doneCode != 411)
            failedServers << job.Server;
        if (!summary.isEmpty())
            say(QStringLiteral("  ") + summary);
        return;
    }
    say(QStringLiteral("  ") + (summary.isEmpty() ? QStringLiteral("no new headers") : summary));
}

// ---------------------------------------------------------------- rendering

int TRenderer::markedCount(TConfigClass* group, bool markNew)
{
    TArticleList* list = group->Articles.get();
    if (!list)
        return 0;
    int marked = 0;
    for (int i = 0; i < list->Count(); ++i) {
        TArticleClass* r = list->At(i);
        if (r->IsPlaceholder())
            continue;
        // New, and neither marked nor spoken yet: marked now, as a click on its row would.
        if (markNew && r->ReadState == 1 && r->SpeakMark == 0) {
            r->SetSpeakMark(1);
            group->Dirty = true;
        }
        marked += r->SpeakMark == 1 ? 1 : 0;
    }
    return marked;
}

void TRenderer::render()
{
    int total = 0;
    for (TGroupJob& job : jobs) {
        if (!news->Contains(job.Group))
            continue;
        if (failedServers.contains(job.Server)) {
            // Nothing of it can be fetched: its articles are neither marked nor counted.
            failures.push_back({QStringLiteral("Rendering %1").arg(job.Name),
                                QStringLiteral("not rendered: the server %1 failed").arg(job.Server)});
            continue;
        }
        try {
            job.Group->EnsureArticles();
        } catch (const EVorlixError& e) {
            failures.push_back({QStringLiteral("Reading %1").arg(job.Name), e.message()});
            continue;
        }
        job.Queued = markedCount(job.Group, options.NewArticles);
        total += job.Queued;
    }
    news->SaveDirtyGroups([this](const QString& error) { warn(error); });
    if (total == 0) {
        say(options.NewArticles ? QStringLiteral("Nothing new to render.")
                                : QStringLiteral("No articles are marked for speaking (--new renders the unread ones)."));
        return;
    }
    say(QStringLiteral("Rendering %1 article%2 to %3 files in %4")
            .arg(total)
            .arg(total == 1 ? QString() : QStringLiteral("s"))
            .arg(tts->OutputFormat.toUpper(), QDir::toNativeSeparators(tts->OutputDir)));
    int done = 0;
    for (TGroupJob& job : jobs) {
        if (interrupted)
            break;
        if (job.Queued == 0 || !news->Contains(job.Group))
            continue;
        renderGroup(job, done, total);
        done += job.Queued;
    }
    endProgressLine();
}

void TRenderer::renderGroup(TGroupJob& job, int doneBefore, int total)
{
    TConfigClass* group = job.Group;
    const std::vector<TArticleClass*> order = TThreadModel::ViewOrder(*group->Articles);
    std::vector<std::pair<TConfigClass*, QString>> queued; // group and Message-ID
    for (TArticleClass* r : order)
        if (r->SpeakMark == 1)
            queued.emplace_back(group, r->MessageID);
    // Why an article the server could not give was passed over: what the status said last.
    std::vector<QString> reasons(queued.size());
    QString lastStatus;
    run->OnArticleStarted = [&](TSpeakRun*, int position, int) {
        TArticleClass* r = run->Queue ? run->Queue->Current() : nullptr;
        progress(doneBefore + position - 1, total, r ? job.Name + QStringLiteral(": ") + r->Subject : job.Name);
    };
    run->OnStatus = [&](TSpeakRun*, int panel, const QString& text) {
        if (panel == 0 && !text.isEmpty())
            lastStatus = text;
    };
    run->OnRecordChanged = [&](TSpeakRun*, TArticleClass* record) {
        if (!record || record->ReadState != 2 || !run->Queue || run->Queue->Current() != record)
            return;
        const int at = run->Queue->CurrentIndex();
        if (at >= 0 && size_t(at) < reasons.size())
            reasons[size_t(at)] = lastStatus;
    };
    bool runEnded = false;
    QEventLoop loop;
    run->OnRunEnded = [&](TSpeakRun*) {
        runEnded = true;
        loop.quit();
    };
    const QStringList errorsBefore = consoleDialogs ? consoleDialogs->Errors : QStringList();
    std::vector<QString> spokenIds;
    const auto previousFileDone = run->OnFileDone;
    run->OnFileDone = [&](TSpeakRun* sender, const QString& path, const std::vector<TArticleClass*>& articles) {
        for (const TArticleClass* r : articles)
            spokenIds.push_back(r->MessageID);
        previousFileDone(sender, path, articles);
    };
    bool started = false;
    try {
        started = run->StartSpeaking(group, false, true, order);
    } catch (const EVorlixError& e) {
        failures.push_back({QStringLiteral("Rendering %1").arg(job.Name), e.message()});
    }
    if (started && !runEnded)
        loop.exec();
    run->OnFileDone = previousFileDone;
    run->OnArticleStarted = nullptr;
    run->OnRunEnded = nullptr;
    run->OnStatus = nullptr;
    run->OnRecordChanged = nullptr;

    // The run's error, when it stopped, is the reason for every article it did not reach.
    QString runFailure;
    if (consoleDialogs && consoleDialogs->Errors.size() > errorsBefore.size())
        runFailure = consoleDialogs->Errors.last();
    for (size_t i = 0; i < queued.size(); ++i) {
        const auto& [g, id] = queued[i];
        if (std::find(spokenIds.begin(), spokenIds.end(), id) != spokenIds.end())
            continue;
        TArticleClass* r = news->Contains(g) && g->Articles ? g->Articles->FindByMessageID(id) : nullptr;
        const QString what = QStringLiteral("%1: \"%2\" %3").arg(job.Name, r ? r->Subject : QString(), id);
        QString why = reasons[i];
        if (why.isEmpty())
            why = !runFailure.isEmpty() ? runFailure
                                        : (interrupted ? QStringLiteral("interrupted") : QStringLiteral("not rendered"));
        failures.push_back({what, why});
    }
    articlesRendered += int(spokenIds.size());
}

void TRenderer::fileDone(const QString& path, const std::vector<TArticleClass*>& articles)
{
    ++filesWritten;
    audioMs += ReadAudioFileInfo(path, false).LengthMs;
    TRenderedFile file;
    file.Path = path;
    file.Made = QDateTime::currentDateTime();
    file.Articles = int(articles.size());
    if (!articles.empty()) {
        const TArticleClass* first = articles.front();
        const TArticleClass* root = first->Root ? first->Root : first;
        file.Title = root->Subject.isEmpty() ? first->Subject : root->Subject;
        if (first->Owner && first->Owner->Config)
            file.Group = first->Owner->Config->Name;
        for (const TArticleClass* r : articles) {
            const QString author = TSpeakRun::AuthorName(r->From);
            if (!author.isEmpty() && !file.Authors.contains(author))
                file.Authors << author;
        }
    }
    rendered.push_back(file);
    UtilsClass::Log(QStringLiteral("Rendered %1 (%2 articles)").arg(path).arg(articles.size()));
}

// ---------------------------------------------------------------- feed and server

bool TRenderer::feedWanted() const
{
    return options.Feed || options.ServePort >= 0 || settings->GetValue(QStringLiteral("PodcastFeed")).toBool();
}

void TRenderer::writeFeed()
{
    TPodcastFeed feed(tts->OutputDir);
    feed.SetBaseUrl(settings->GetValue(QStringLiteral("PodcastBaseUrl")).toString());
    std::vector<TFeedItem> items;
    for (const TRenderedFile& f : rendered)
        items.push_back({QFileInfo(f.Path).fileName(), f.Title, f.Group, f.Authors, f.Articles, f.Made});
    const QString error = feed.Update(items);
    if (!options.Quiet)
        for (const QString& w : feed.Warnings())
            warn(w);
    if (!error.isEmpty()) {
        failures.push_back({QStringLiteral("The podcast feed"), error});
        return;
    }
    say(QStringLiteral("Podcast feed: %1").arg(QDir::toNativeSeparators(feed.FeedPath())));
}

int TRenderer::serve()
{
    // Serving writes nothing of the profile: the window may open meanwhile.
    lock.reset();
    TPodcastFeed feed(tts->OutputDir);
    TFeedServer server(tts->OutputDir);
    const QString error = server.Listen(options.ServeAddress, options.ServePort);
    if (!error.isEmpty()) {
        warn(error);
        return reUsage;
    }
    server.SetFeed(&feed);
    if (!options.Quiet)
        server.OnRequest = [this](TFeedServer*, const QString& line) { say(line); };
    say(QStringLiteral("Serving %1 at %2%3 (Ctrl+C stops)")
            .arg(QDir::toNativeSeparators(tts->OutputDir), server.BaseUrl(), TPodcastFeed::FileName()));
    QEventLoop loop;
    serving = &loop;
    loop.exec();
    serving = nullptr;
    server.Close();
    say(QStringLiteral("Serving stopped."));
    return reDone;
}

// ---------------------------------------------------------------- the end

int TRenderer::finish()
{
    endProgressLine();
    const double seconds = double(clock.elapsed()) / 1000.0;
    if (!options.Quiet || !failures.empty()) {
        std::fprintf(out, "%s\n",
                     local(QStringLiteral("Rendered %1 article%2 into %3 file%4, %5 minutes of audio, in %6 s.")
                               .arg(articlesRendered)
                               .arg(articlesRendered == 1 ? QString() : QStringLiteral("s"))
                               .arg(filesWritten)
                               .arg(filesWritten == 1 ? QString() : QStringLiteral("s"))
                               .arg(audioMinutes(audioMs))
                               .arg(seconds, 0, 'f', 1))
                         .constData());
        std::fflush(out);
    }
    if (failures.empty())
        return interrupted ? reSomeFailed : reDone;
    warn(QStringLiteral("%1 failed:").arg(failures.size() == 1 ? QStringLiteral("1 item")
                                                               : QStringLiteral("%1 items").arg(failures.size())));
    for (const TFailure& f : failures)
        std::fprintf(err, "  %s: %s\n", local(f.What).constData(), local(f.Why).constData());
    std::fflush(err);
    return reSomeFailed;
}

// ---------------------------------------------------------------- the program

int RenderMain(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    TRenderOptions options;
    const QString error = options.Parse(args);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "vorlix render: %s\n", local(error).constData());
        return reUsage;
    }
    if (options.Help) {
        std::fputs(local(TRenderOptions::HelpText()).constData(), stdout);
        return reDone;
    }
    if (options.Version) {
        std::puts("vorlix render 1.0");
        return reDone;
    }
    if (!options.Home.isEmpty()) {
        const QFileInfo home(options.Home);
        if (!home.isDir()) {
            std::fprintf(stderr, "vorlix render: the profile folder %s does not exist\n",
                         local(options.Home).constData());
            return reUsage;
        }
        qputenv("VORLIX_HOME", QFile::encodeName(home.absoluteFilePath()));
    }

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vorlix"));
    QCoreApplication::setOrganizationName(QStringLiteral("QuenradTech"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    TConsoleDialogs dialogs(stderr);
    consoleDialogs = &dialogs;
    TDialogService::InstallDefault(&dialogs);

    int rc = reDone;
    {
        TRenderer renderer(options, stdout, stderr);
        std::unique_ptr<QSocketNotifier> notifier;
        if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
            notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &renderer, [&renderer] {
                char buffer[16];
                while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
                }
                renderer.Interrupt();
            });
            std::signal(SIGINT, onSignal);
            std::signal(SIGTERM, onSignal);
        }
        rc = renderer.Run();
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    TDialogService::InstallDefault(nullptr);
    consoleDialogs = nullptr;
    TRegistryEnhanced::ResetStore();
    return rc;
}
