#include "speaking/TTSList.h"

#include "news/ArticleUnit.h"
#include "news/NewsStore.h"

TTTSList::TTTSList(TNewsStore* store_, bool selectedMode) : SelectedMode(selectedMode), store(store_) {}

namespace {
TConfigClass* GroupOf(const TArticleClass* record)
{
    return record && record->Owner ? record->Owner->Config : nullptr;
}
} // namespace

TArticleClass* TTTSList::live(const TEntry& e) const
{
    if (!e.Group || (store && !store->Contains(e.Group)) || !e.Group->Articles)
        return nullptr;
    return e.Group->Articles->FindByMessageID(e.MessageID);
}

int TTTSList::indexOf(const TArticleClass* record) const
{
    if (!record)
        return -1;
    const TConfigClass* group = GroupOf(record);
    for (int i = 0; i < int(items.size()); ++i)
        if (items[size_t(i)].Group == group && items[size_t(i)].MessageID == record->MessageID)
            return i;
    return -1;
}

void TTTSList::Add(TArticleClass* record)
{
    if (record)
        items.push_back({GroupOf(record), record->MessageID, record});
}

int TTTSList::CurrentIndex() const
{
    if (!started || !current.Group)
        return -1;
    for (int i = 0; i < int(items.size()); ++i)
        if (items[size_t(i)].Group == current.Group && items[size_t(i)].MessageID == current.MessageID)
            return i;
    return -1;
}

TArticleClass* TTTSList::Next()
{
    int from = 0;
    if (started) {
        const int at = CurrentIndex();
        if (at < 0)
            return nullptr; // the current record has left the queue: the run ends with it
        from = at + 1;
    }
    for (int i = from; i < int(items.size()); ++i) {
        if (TArticleClass* r = live(items[size_t(i)])) {
            started = true;
            current = items[size_t(i)];
            current.Record = r;
            return r;
        }
    }
    return nullptr;
}

void TTTSList::Update(TArticleClass* record)
{
    if (SelectedMode || !record)
        return;
    const int at = indexOf(record);
    if (record->SpeakMark == 1) {
        if (at < 0)
            Add(record);
    } else if (at >= 0) {
        items.erase(items.begin() + at);
    }
}

TArticleClass* TTTSList::FindByMessageID(const QString& id) const
{
    for (auto it = items.rbegin(); it != items.rend(); ++it)
        if (it->MessageID == id)
            if (TArticleClass* r = live(*it))
                return r;
    return nullptr;
}

TArticleClass* TTTSList::Current() const
{
    return started ? live(current) : nullptr;
}

void TTTSList::DropAfterCurrent()
{
    const int at = CurrentIndex();
    items.erase(items.begin() + (at < 0 ? 0 : at + 1), items.end());
}
