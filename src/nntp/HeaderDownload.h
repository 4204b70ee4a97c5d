#pragma once
// What a header download or a catch-up does to the news store, without any window: each
// header the processor brings is filed with its group (a renumbered article takes its new
// number), new headers are counted per group for the summary, articles the server no longer
// has expire when the job ends, and the changed groups and Config.chl are saved. The window
// and `vorlix render` both download through it.
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

class TArticleClass;
class TConfigClass;
class TNewsStore;
class TNntpProcessor;
struct TNntpHeader;

class THeaderDownload {
public:
    explicit THeaderDownload(TNewsStore* news);

    // A job starts: the counts begin again. group: the group whose headers a download
    // brings (empty for a catch-up).
    void Begin(const QString& group);
    const QString& JobGroup() const { return jobGroup; }
    int Headers() const { return jobHeaders; }

    // A header arrived for entry; the record it added, or nullptr when the article was
    // stored already (then a new number the server gave it is taken).
    TArticleClass* AddHeader(TConfigClass* entry, const TNntpHeader& header);
    // A header arrived for a group that has left the store.
    void DropHeader(const QString& group);

    // The header job of group ended (code and message as the processor reports them). When
    // the server's answer told which articles it still has, those it dropped expire here and
    // a renumbered server's lower newest number is taken. True when records were expired.
    bool ExpireAfterJob(TConfigClass* group, const TNntpProcessor& processor, int code, const QString& message);

    // A catch-up of entry finished: its new records are read now.
    static void CatchUpRecords(TConfigClass* entry);

    // Saves the changed groups and then, when one was written, Config.chl (their last article
    // numbers go with the files). onError gets each message. False when nothing was saved or
    // Config.chl could not be written.
    bool SaveChanges(const std::function<void(const QString&)>& onError);

    // "312 new headers in comp.lang.misc; 1 new header in alt.test", with the processor's
    // message after it when it adds something. Clears the counts.
    QString TakeSummary(const QString& message);
    // New headers per group so far, in the order the groups came.
    const QStringList& NewGroups() const { return newGroups; }
    const std::vector<int>& NewCounts() const { return newCounts; }

private:
    void countNew(const QString& group);

    TNewsStore* news;
    QString jobGroup;
    int jobHeaders = 0;
    QStringList newGroups;
    std::vector<int> newCounts;
};
