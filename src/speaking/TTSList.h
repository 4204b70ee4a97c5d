#pragma once
// The speak queue of a run: the records to speak in speaking order, and the one being fetched
// or spoken. Records belong to their newsgroup's article list, which may drop them at any
// time (old threads deleted, articles expired, the group removed); the queue therefore keeps
// each record's group and Message-ID and looks the record up again whenever it is used.
#include <QString>
#include <vector>

class TArticleClass;
class TConfigClass;
class TNewsStore;

class TTTSList {
public:
    TTTSList(TNewsStore* store, bool selectedMode);

    // True for runs over the selected articles: the queue then ignores mark changes.
    const bool SelectedMode;

    // Appends a record (one of a newsgroup's list).
    void Add(TArticleClass* record);
    // The record after the current one (the first when there is none yet), which becomes
    // current; none when the current one is the last, the queue is empty, or the current one
    // has left the queue. Records that no longer exist are passed over.
    TArticleClass* Next();
    // A click changed a record's speak mark: a record marked 1 that is not queued is appended,
    // a queued one that is no longer marked 1 leaves the queue. Ignored in SelectedMode.
    void Update(TArticleClass* record);
    // The last queued record with that Message-ID, or none.
    TArticleClass* FindByMessageID(const QString& id) const;
    // The current record; none before the first or when it no longer exists.
    TArticleClass* Current() const;
    // Drops every record after the current one (the run is stopped).
    void DropAfterCurrent();
    int Count() const { return int(items.size()); }
    // Position (0-based) of the current record in the queue; -1 when none.
    int CurrentIndex() const;

private:
    struct TEntry {
        TConfigClass* Group = nullptr;
        QString MessageID;
        TArticleClass* Record = nullptr;
    };
    // The entry's record when its group is still in the store and still holds it.
    TArticleClass* live(const TEntry& e) const;
    int indexOf(const TArticleClass* record) const;

    TNewsStore* store;
    std::vector<TEntry> items;
    bool started = false;
    TEntry current; // valid once started; Group null when the current one left the queue
};
