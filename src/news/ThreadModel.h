#pragma once
// The threads of the shown newsgroup without any window: where each record goes (under the
// first article its References name, before a later reply to the same thread, or as a new
// thread with a stand-in for a missing parent), kept as a tree whose nodes know their
// parent, their row and their children, so a view answers its questions in constant time.
// Views learn of new rows through OnRowInserted.
#include "news/ArticleUnit.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <deque>
#include <functional>
#include <memory>
#include <random>
#include <vector>

class TThreadModel {
public:
    struct TNode {
        TArticleClass* rec = nullptr;
        TNode* parent = nullptr;
        std::vector<TNode*> children;
        int row = 0;
        // view order
        TNode* gprev = nullptr;
        TNode* gnext = nullptr;
        quint64 label = 0;
        double date = 0;
        // treap of the node's References text
        TNode* tl = nullptr;
        TNode* tr = nullptr;
        quint32 prio = 0;
        double maxDate = 0;
    };

    TThreadModel();
    ~TThreadModel();
    TThreadModel(const TThreadModel&) = delete;
    TThreadModel& operator=(const TThreadModel&) = delete;

    // While set, a reply placed into a watched thread is not marked for speaking.
    bool Loading = false;

    // Places the record; nullptr when its message ID is shown already. With bulk set no
    // event is raised (the view is built from Tops() afterwards).
    TNode* Place(TArticleClass* record, bool bulk);
    void Clear();
    // Takes the thread at the given top row out of the view order (its records stay with
    // their list); Reindex afterwards before placing again.
    void RemoveTop(int row);
    // Indexes the tree anew, keeping its shape (after records changed their texts).
    void Reindex();

    const std::vector<TNode*>& Tops() const { return tops; }
    int Count() const { return int(byRecord.size()); }
    TNode* NodeOf(const TArticleClass* record) const { return byRecord.value(record); }
    bool Contains(const TArticleClass* record) const { return byRecord.contains(record); }
    // The row numbers from the top down to the node.
    static std::vector<int> PathOf(const TNode* node);
    // Every node in view order (each thread top before its replies).
    std::vector<TNode*> Nodes() const;

    // A row was inserted under parent (nullptr: a new thread) at row.
    std::function<void(TThreadModel*, TNode* parent, int row)> OnRowInserted;
    // A reply was placed into a watched thread and marked for speaking; asChild tells
    // whether it went under the thread's first article (its read state then counts as new).
    std::function<void(TThreadModel*, TNode* node, bool asChild)> OnWatchedReply;

private:
    TNode* newNode(TArticleClass* record);
    void insertBefore(TNode* n, TNode* before, bool bulk);
    void appendChild(TNode* n, TNode* parent, bool bulk);
    void indexNode(TNode* n);
    void attach(TNode* n, TNode* parent, int row);
    void treapInsert(const TTextKey& key, TNode* n);
    TNode* firstLater(const TTextKey& key, double date) const;
    void relabel();
    void makeRoomAfter(TNode* a);
    void linkAfter(TNode* a, TNode* n);

    std::deque<TNode> nodes;
    TNode head;              // before the first node in view order
    TNode* tail = &head;     // last node in view order
    std::vector<TNode*> tops;
    QHash<const TArticleClass*, TNode*> byRecord;
    QHash<TTextKey, TNode*> byId;
    QHash<TTextKey, TNode*> byRefs;
    // per subject the node that comes first in view order
    QHash<TTextKey, TNode*> bySubject;
    QSet<TArticleClass*> inProgress;
    std::mt19937 rng{20261208u};
};
