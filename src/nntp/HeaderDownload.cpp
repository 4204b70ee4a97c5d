#include "nntp/HeaderDownload.h"

#include "core/BaseUtils.h"
#include "core/VorlixException.h"
#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/Rfc2047.h"

THeaderDownload::THeaderDownload(TNewsStore* news_) : news(news_) {}

void THeaderDownload::Begin(const QString& group)
{
    jobGroup = group;
    jobHeaders = 0;
    newGroups.clear();
    newCounts.clear();
}

void THeaderDownload::DropHeader(const QString& group)
{
    ++jobHeaders;
    UtilsClass::Log(QStringLiteral("Header for unknown group dropped: ") + group);
}

TArticleClass* THeaderDownload::AddHeader(TConfigClass* entry, const TNntpHeader& header)
{
    ++jobHeaders;
    TArticleClass* added = news->AddDownloadedHeader(entry, header.Number, header.MessageID, header.From,
                                                     DecodeHeaderText(header.Subject), header.Date,
                                                     header.References);
    if (added) {
        countNew(entry->Name);
        return added;
    }
    if (entry->Articles) {
        // Stored already. A renumbered server gives the article another number now: the record
        // takes it, or its body would be asked for by a number the server has given away.
        TArticleClass* known = entry->Articles->FindByMessageID(TArticleClass::CleanField(header.MessageID));
        if (known && !known->IsPlaceholder() && known->Number != header.Number) {
            UtilsClass::Log(QStringLiteral("%1: article %2 was renumbered from %3 to %4")
                                .arg(entry->Name, known->MessageID)
                                .arg(known->Number)
                                .arg(header.Number));
            known->Number = header.Number;
            entry->Dirty = true;
        }
    }
    return nullptr;
}

void THeaderDownload::countNew(const QString& group)
{
    const qsizetype at = newGroups.isEmpty() || newGroups.last() != group ? newGroups.indexOf(group)
                                                                           : newGroups.size() - 1;
    if (at < 0) {
        newGroups << group;
        newCounts.push_back(1);
    } else {
        ++newCounts[size_t(at)];
    }
}

QString THeaderDownload::TakeSummary(const QString& message)
{
    QStringList parts;
    for (qsizetype i = 0; i < newGroups.size(); ++i) {
        const int n = newCounts[size_t(i)];
        parts << (n == 1 ? QStringLiteral("1 new header in %1").arg(newGroups[i])
                         : QStringLiteral("%1 new headers in %2").arg(n).arg(newGroups[i]));
    }
    // "No more Articles" only says that the job reached the newest article; with headers
    // counted it adds nothing.
    if (!message.isEmpty() && (parts.isEmpty() || message != QLatin1String("No more Articles")))
        parts << message;
    newGroups.clear();
    newCounts.clear();
    return parts.join(QStringLiteral("; "));
}

bool THeaderDownload::ExpireAfterJob(TConfigClass* group, const TNntpProcessor& processor, int code,
                                     const QString& message)
{
    if (!group || !group->Articles)
        return false;
    // Only a GROUP answer of this very job tells which articles the server still has; a job
    // that ended before it (refused login, lost connection, an early cancel) expires nothing.
    const bool answered = jobHeaders > 0 || (code == -2 && message == QLatin1String("No more Articles"));
    if (!answered || processor.Group != group->Name)
        return false;
    if (group->LastArticle > processor.Last()) {
        // The server was renumbered below what we had and nothing new was taken: the next
        // download goes on from the server's newest article, not from our old number.
        UtilsClass::Log(QStringLiteral("%1: last article %2 lowered to the server's newest, %3")
                            .arg(group->Name)
                            .arg(group->LastArticle)
                            .arg(processor.Last()));
        group->LastArticle = processor.Last();
        group->Dirty = true;
    }
    return news->ExpireArticles(group, processor.First()) > 0;
}

void THeaderDownload::CatchUpRecords(TConfigClass* entry)
{
    if (!entry)
        return;
    if (entry->Articles) {
        for (int i = 0; i < entry->Articles->Count(); ++i) {
            TArticleClass* r = entry->Articles->At(i);
            if (r->ReadState == 1)
                r->SetReadState(0);
        }
    }
    entry->Dirty = true;
}

bool THeaderDownload::SaveChanges(const std::function<void(const QString&)>& onError)
{
    // A group that cannot be written keeps its records in memory and stays Dirty, so the
    // next save tries again.
    if (!news->SaveDirtyGroups(onError))
        return false;
    // The groups' last article numbers go with their files, so a program that ends abruptly
    // does not ask for the same headers again.
    try {
        news->SaveConfig();
    } catch (const EVorlixError& ex) {
        UtilsClass::Log(QStringLiteral("Saving Config.chl failed: ") + ex.message());
        if (onError)
            onError(ex.message());
        return false;
    }
    return true;
}
