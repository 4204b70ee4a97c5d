#include "speaking/SpeakRun.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NntpCli.h"
#include "speaking/ArticleText.h"
#include "speech/TBaseTTSUnit.h"
#include "audio/TAudioFileUnit.h"

#include <QFile>

namespace {
TArticleClass* RootOf(TArticleClass* record)
{
    return record && record->Root ? record->Root : record;
}

TConfigClass* GroupOf(const TArticleClass* record)
{
    return record && record->Owner ? record->Owner->Config : nullptr;
}
} // namespace


TSpeakRun::TSpeakRun(TNewsStore* store_, TBaseTTS* tts_, TBaseRegistryClass* settings_, QObject* owner)
    : QObject(owner), store(store_), tts(tts_), settings(settings_)
{
}

TSpeakRun::~TSpeakRun()
{
    if (Processor) {
        Processor->OnBody = nullptr;
        Processor->OnRequestDone = nullptr;
        Processor->OnAuthenticated = nullptr;
        Processor->OnStatus = nullptr;
        Processor->Abort();
    }
}

void TSpeakRun::status(int panel, const QString& text)
{
    if (OnStatus)
        OnStatus(this, panel, text);
}

// ---------------------------------------------------------------- names and text

QString TSpeakRun::CleanFileName(const QString& subject)
{
    QString out;
    for (const QChar c : subject) {
        if (out.size() >= 15)
            break;
        const ushort u = c.unicode();
        const bool keep = (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_';
        if (keep)
            out += c;
        else if (!out.endsWith(QLatin1Char(' ')))
            out += QLatin1Char(' ');
    }
    return out.trimmed().replace(QLatin1Char(' '), QLatin1Char('_'));
}

QString TSpeakRun::AudioFileName(const TArticleClass* record)
{
    const TArticleClass* root = record && record->Root ? record->Root : record;
    if (!root)
        return {};
    QString name = CleanFileName(root->Subject);
    // A subject without a letter or digit still names a file.
    if (name.isEmpty())
        name = QStringLiteral("Article");
    return name + QLatin1Char('_') + QString::number(root->FileCounter + 1);
}

QString TSpeakRun::AuthorName(const QString& from)
{
    QString name = from;
    const int angle = from.indexOf(QLatin1Char('<'));
    if (angle > 0) {
        name = from.left(angle);
    } else {
        const int open = from.indexOf(QLatin1Char('('));
        const int close = from.lastIndexOf(QLatin1Char(')'));
        if (open >= 0 && close > open)
            name = from.mid(open + 1, close - open - 1);
    }
    name = name.trimmed();
    if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
        name = name.mid(1, name.size() - 2).trimmed();
    return name.isEmpty() ? from.trimmed() : name;
}
void TSpeakRun::TagRunFile(TAudioTags& tags)
{
    tags.Artist = QStringLiteral("Vorlix: ") + tags.Artist;
}

QString TSpeakRun::ComposeSpokenText(const TArticleClass* record, const QString& body)
{
    QString title = record ? record->Subject : QString();
    const int re = title.indexOf(QLatin1String("Re: "), 0, Qt::CaseInsensitive);
    if (re >= 0)
        title.replace(re, 3, QStringLiteral("Reply, ")); // with the blank that follows: "Reply,  speed"
    return title.trimmed() + QStringLiteral(". ") + QStringLiteral("\r\n") + body;
}

// ---------------------------------------------------------------- the run

bool TSpeakRun::StartSpeaking(TConfigClass* node, bool selectedMode, bool toFile,
                              const std::vector<TArticleClass*>& viewOrder)
{
    if (!node || node->Kind != ckNewsGroup) {
        Dialogs().ShowMessage(QStringLiteral("Select a Newsgroup first"));
        return false;
    }
    showPictureOn(nullptr);
    Queue = std::make_unique<TTTSList>(store, selectedMode);
    for (TArticleClass* record : viewOrder)
        if (selectedMode || record->SpeakMark == 1)
            Queue->Add(record);
    TArticleClass* first = Queue->Count() > 0 ? Queue->Next() : nullptr;
    if (!first) {
        Queue.reset();
        Dialogs().ShowMessage(QStringLiteral("Mark 1 or more messages to read aloud"));
        return false;
    }
    ToFile = toFile;
    ThreadFiles = toFile && settings && settings->GetValue(QStringLiteral("ThreadFileOption")).toInt() == 1;
    articleNumber = 0;
    chapters.clear();
    if (!toFile) {
        tts->OutputMode = 0;
    } else {
        tts->OutputMode = 1;
        tts->SetOutputFile(AudioFileName(first));
        if (ThreadFiles) {
            try {
                tts->EngnOpen(nullptr);
            } catch (const EVorlixError&) {
                Queue.reset();
                throw;
            }
        }
    }
    if (OnRunStarted)
        OnRunStarted(this, Queue->Count());
    store->Select(node);
    if (!Processor) {
        Processor = std::make_unique<TNntpProcessor>();
        Processor->OnBody = [this](QObject*, const QString& host, const QStringList& lines, const QString& id,
                                   const QString& group) { SpeakBodyReceived(host, lines, id, group); };
        Processor->OnRequestDone = [this](QObject*, int code, const QString& message) {
            SpeakRequestDone(code, message);
        };
        Processor->OnAuthenticated = [this](QObject*, const QString& host, const QString& user,
                                            const QString& password, bool save) {
            if (OnAuthenticated)
                OnAuthenticated(this, host, user, password, save);
        };
        Processor->OnStatus = [this](QObject*, const QString& text) { status(0, text); };
    }
    picture = selectedMode ? (toFile ? rpSelectedFile : rpSelectedAloud) : (toFile ? rpMarkedFile : rpMarkedAloud);
    showPictureOn(node);
    requestBody(first);
    return true;
}

void TSpeakRun::requestBody(TArticleClass* record)
{
    TConfigClass* group = GroupOf(record);
    TConfigClass* server = group ? TNewsStore::ServerOf(group) : nullptr;
    if (!group || !server) {
        fail(QStringLiteral("The newsgroup of the article is no longer there"));
        return;
    }
    Processor->Host = server->Name;
    Processor->Group = group->Name;
    Processor->UserName = server->UserName;
    Processor->Password = server->Password;
    // The whole article: its headers tell how the body is encoded.
    Processor->GetArticle(record->Number);
}

TArticleClass* TSpeakRun::SpokenRecord() const
{
    return Queue && !spokenID.isEmpty() ? Queue->FindByMessageID(spokenID) : nullptr;
}

void TSpeakRun::Update(TArticleClass* record)
{
    if (Queue)
        Queue->Update(record);
}

void TSpeakRun::SpeakBodyReceived(const QString&, const QStringList& lines, const QString& messageID,
                                  const QString&)
{
    if (!Queue)
        return;
    if (messageID.trimmed().isEmpty()) {
        AdvanceSpeakQueue();
        return;
    }
    TArticleClass* record = Queue->FindByMessageID(messageID);
    if (!record) {
        AdvanceSpeakQueue();
        return;
    }
    const QString body = SpokenArticleText(lines, true).Text;
    status(1, record->Subject);
    ++articleNumber;
    spokenID = record->MessageID;
    if (OnArticleStarted)
        OnArticleStarted(this, articleNumber, Queue->Count());
    const QString text = ComposeSpokenText(record, body);
    if (ToFile)
        fileArticles.emplace_back(GroupOf(record), record->MessageID);
    try {
        if (ToFile && ThreadFiles) {
            // The chapter of this article starts where the file ends now.
            const QString author = AuthorName(record->From);
            chapters.push_back({std::max<qint64>(0, tts->OutputFileMilliseconds()),
                                author.isEmpty() ? record->Subject : record->Subject + QStringLiteral(" — ") + author});
            tts->EngnSpeak(nullptr, text);
        } else {
            tts->Speak(QString(), text);
        }
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("SpeakBodyReceived Exception: ") + e.message());
        fail(e.message());
    }
}

void TSpeakRun::SpeakRequestDone(int code, const QString& message)
{
    if (!Queue)
        return;
    if (code == 0 || code == -3) {
        status(0, message);
        return;
    }
    if (code == 423 || code == -2 || code == NntpError::LineTooLong) {
        // The server does not have the article (or sent something that is not one): shown in
        // italics, and the run goes on.
        status(0, message);
        if (TArticleClass* current = Queue->Current()) {
            current->SetReadState(2);
            if (OnRecordChanged)
                OnRecordChanged(this, current);
        }
        AdvanceSpeakQueue();
        return;
    }
    // The connection failed or was lost: the run cannot go on.
    status(0, QString());
    fail(message.isEmpty() ? QStringLiteral("The connection to the news server failed (%1)").arg(code) : message);
}

void TSpeakRun::SpeechEvent(unsigned char code)
{
    if (!Queue)
        return;
    if (code == 5)
        Queue->DropAfterCurrent();
    AdvanceSpeakQueue();
}

void TSpeakRun::SpeechError(const QString& message)
{
    if (Queue)
        fail(message);
}

void TSpeakRun::saveGroup(TArticleClass* record)
{
    if (!record || !record->Owner)
        return;
    try {
        record->Owner->SaveFromList();
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Saving the newsgroup failed: ") + e.message());
        status(0, e.message());
    }
}

void TSpeakRun::closeThreadFile()
{
    // An MP3 of a whole thread gets a chapter per article, so players can skip between them.
    if (tts->OutputFormat == QLatin1String("MP3"))
        for (const TChapter& c : chapters)
            tts->Tags.Chapters.push_back({c.StartMs, c.Title});
    chapters.clear();
    if (fileArticles.empty()) {
        // Nothing was spoken into it (the thread's articles were all missing on the server):
        // no empty file is left for the player.
        tts->Tags.Clear();
        tts->EngnClose(false);
        if (!tts->LastOutputPath.isEmpty() && QFile::remove(tts->LastOutputPath))
            UtilsClass::Log(QStringLiteral("Nothing was spoken into %1; it is removed").arg(tts->LastOutputPath));
        return;
    }
    tts->EngnClose(true);
    fileDone();
}

void TSpeakRun::fileDone()
{
    std::vector<std::pair<TConfigClass*, QString>> spoken;
    spoken.swap(fileArticles);
    const QString path = tts->LastOutputPath;
    if (spoken.empty() || path.isEmpty() || !OnFileDone)
        return;
    // A record deleted while its file was written is left out of the list.
    std::vector<TArticleClass*> articles;
    for (const auto& [group, id] : spoken)
        if (group && store->Contains(group) && group->Articles)
            if (TArticleClass* r = group->Articles->FindByMessageID(id))
                articles.push_back(r);
    OnFileDone(this, path, articles);
}

void TSpeakRun::openThreadFile(TArticleClass* record)
{
    tts->SetOutputFile(AudioFileName(record));
    chapters.clear();
    tts->EngnOpen(nullptr);
}

void TSpeakRun::AdvanceSpeakQueue()
{
    if (!Queue)
        return;
    TArticleClass* done = Queue->Current();
    // A file per article is finished when its article is: it was closed before this report.
    if (ToFile && !ThreadFiles)
        fileDone();
    TArticleClass* next = Queue->Next();
    if (done) {
        done->CycleSpeakMark();
        if (OnRecordChanged)
            OnRecordChanged(this, done);
        saveGroup(done);
    }
    if (!next) {
        endRun(done);
        return;
    }
    try {
        if (ToFile) {
            const bool otherThread = !done || RootOf(done)->MessageID != RootOf(next)->MessageID;
            if (!ThreadFiles) {
                if (done)
                    done->NextFileCounter();
                tts->SetOutputFile(AudioFileName(next));
            } else if (otherThread || !tts->EngineOpen()) {
                // A new thread starts a new file. So does a Skip, which closed the thread's
                // file with what it held.
                if (tts->EngineOpen())
                    closeThreadFile();
                if (done)
                    done->NextFileCounter();
                openThreadFile(next);
            }
            // The file counter is kept with the records at once.
            saveGroup(done);
        }
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("AdvanceSpeakQueue Exception: ") + e.message());
        fail(e.message());
        return;
    }
    if (TConfigClass* nextGroup = GroupOf(next))
        showPictureOn(nextGroup);
    requestBody(next);
}

void TSpeakRun::endRun(TArticleClass* last)
{
    if (last) {
        last->NextFileCounter();
        saveGroup(last);
    }
    if (ToFile && ThreadFiles) {
        try {
            closeThreadFile();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Closing the thread file failed: ") + e.message());
            Dialogs().ShowError(e.message());
        }
    }
    finishRun();
}

void TSpeakRun::fail(const QString& message)
{
    // The run stops: the article being spoken keeps its mark, and the user is told why. The
    // queue goes first, so the stop below starts nothing.
    UtilsClass::Log(QStringLiteral("The speaking run stops: ") + message);
    Queue.reset();
    chapters.clear();
    if (tts->IsBusy() || tts->EngineOpen()) {
        try {
            tts->Stop();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Stop Exception: ") + e.message());
        }
    }
    finishRun();
    Dialogs().ShowError(message);
}

void TSpeakRun::finishRun()
{
    // The queue goes first: whoever hears OnRunEnded sees a run that is over.
    Queue.reset();
    chapters.clear();
    fileArticles.clear();
    spokenID.clear();
    status(1, QString());
    if (OnRunEnded)
        OnRunEnded(this);
    showPictureOn(nullptr);
}

void TSpeakRun::showPictureOn(TConfigClass* group)
{
    if (group == pictureGroup)
        return;
    // The group the run left shows its plain picture again (when it is still there).
    if (pictureGroup && store->Contains(pictureGroup))
        pictureGroup->SetPicture(rpGroup);
    pictureGroup = group;
    if (group)
        group->SetPicture(picture);
}

void TSpeakRun::Stop()
{
    if (Queue && ToFile && ThreadFiles && tts->EngineOpen() && tts->IsBusy()) {
        // The thread's file keeps what was spoken into it: the current article is cut short
        // and the run ends after it.
        Queue->DropAfterCurrent();
        tts->Skip();
        return;
    }
    tts->Stop();
}
