#pragma once
// The threads of the shown newsgroup without any window: where each record goes (under the
// first article its References name, before a later reply to the same thread, or as a new
// thread with a stand-in for a missing parent), kept as a tree whose nodes know their
// parent, their row and their children, so a view answers its questions in constant time.
// Views learn of every change through the On... events; the nodes stay where they are for
// as long as they are shown, so a view may keep pointers to them.
#include "news/ArticleUnit.h"
#include "news/TextIndex.h"

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
        bool expanded = false; // shown expanded in the view
        bool gone = false;     // its thread was taken out of the view
        quint32 index = 0;     // its place among the model's nodes
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
    // Placing a whole list visits its records in sorted order, far from the order they lie in
    // memory. Called with the index about to be placed, this asks for the records a few
    // places ahead, then their texts, then the index slots their texts hash to, so memory
    // fetches them while others are placed. The hashes are kept for the record's Place.
    void PrefetchAhead(const TArticleList& list, int i);
    // Empties the model (raising OnAboutToReset and OnReset).
    void Clear();
    // Bulk placement between these two raises only OnAboutToReset before and OnReset after.
    void BeginBulk();
    void EndBulk();
    // Takes the thread at the given top row out of the view order (its records stay with
    // their list); Reindex afterwards before placing again.
    void RemoveTop(int row);
    // Indexes the tree anew, keeping its shape and its nodes (after records changed their texts).
    void Reindex();
    // Tells the views that the node's record changed how it is shown (texts, style, marks).
    void Changed(TNode* node);

    const std::vector<TNode*>& Tops() const { return tops; }
    int Count() const { return indexed; }
    TNode* NodeOf(const TArticleClass* record) const
    {
        // The record names its node; the node confirms it, so a record shown before the
        // model was emptied, or by another model, is not taken for shown here.
        if (!record || record->NodeIndex < 0 || size_t(record->NodeIndex) >= nodes.size())
            return nullptr;
        TNode* n = const_cast<TNode*>(&nodes[size_t(record->NodeIndex)]);
        return n->rec == record && !n->gone ? n : nullptr;
    }
    bool Contains(const TArticleClass* record) const { return NodeOf(record) != nullptr; }
    // The row numbers from the top down to the node.
    static std::vector<int> PathOf(const TNode* node);
    // Every node in view order (each thread top before its replies).
    std::vector<TNode*> Nodes() const;
    // The records of a whole list in the order a view of it shows them, for a program
    // without a view. Stand-ins for missing thread tops join the list as a view would add them.
    static std::vector<TArticleClass*> ViewOrder(TArticleList& list);

    // The rules of the marks and the thread style, on shown nodes. Every node whose look
    // changes is told to the views through OnDataChanged.
    static bool HasNewChild(const TNode* node);
    // A thread collapsed with a new reply below its top is shown bold.
    void ApplyCollapsedStyle(TNode* top);
    // The view expanded or collapsed the node (the record keeps it as Expanded).
    void SetExpanded(TNode* node, bool expanded);
    // Sets the read state; a collapsed parent turns bold or back with its new replies.
    void SetReadState(TNode* node, int state);
    // A click in the speak column: on an expanded thread the first click gives the replies
    // the top's mark and a second one cycles the top; otherwise the mark cycles and goes
    // down to the replies. Returns the nodes whose speak mark changed, in order.
    std::vector<TNode*> ClickSpeak(TNode* node);
    // A click in the watch column toggles the watch of a thread top; false on a reply.
    bool ClickWatch(TNode* node);
    // The menu commands on one selected node; a collapsed thread passes them to its replies.
    void MarkSpeak(TNode* node, int mark);
    void MarkRead(TNode* node, int state);
    // Sets the watch of a thread top; false on a reply.
    bool SetWatch(TNode* node, bool watch);
    // Takes out every thread whose newest record (top or direct reply) is more than days
    // older than now; returns the records of the threads taken out. Reindex afterwards.
    std::vector<const TArticleClass*> TakeOldThreads(int days, double now);
    // Where "focus the first new article" goes: the first new record in view order (or, for
    // a reply, its parent, which is to be expanded), else the last record (or its collapsed
    // parent). scrollTo is nullptr when nothing is shown.
    struct TFocusChoice {
        TNode* scrollTo = nullptr;
        TNode* expand = nullptr;
    };
    TFocusChoice FirstNewChoice() const;
    // The first new (unread) record in view order after the node (from the start when
    // after is nullptr); nullptr when none follows.
    TNode* NextNew(const TNode* after) const;
    // Finding in the group: the tops (in view order) of the threads that hold a record whose
    // subject or author contains the text, ignoring case. With within given only those tops
    // are looked at: typing on narrows what the text before found.
    std::vector<TNode*> MatchingTops(const QString& text, const std::vector<TNode*>* within = nullptr) const;
    // Finding keeps the subjects and authors in lower case, thread by thread, in one block
    // (made at the first look-up after a change); this gives that memory back.
    void ReleaseFindText() const;
    // Makes that block ahead of the first look-up, a slice of about budgetMs at a time (a
    // negative budget: all at once), so a large group is ready when the first letter is
    // typed. True when it is ready for the tree as it is now.
    bool PrepareFindText(qint64 budgetMs) const;
    bool FindTextReady() const { return findText.shape == shape; }
    // Expands or collapses the node for the views (raising OnExpandedChanged); the effects
    // of the change follow when the view reports it through SetExpanded.
    void Expand(TNode* node, bool expanded);

    // A row is about to be inserted, or was inserted, under parent (nullptr: a new thread) at row.
    std::function<void(TThreadModel*, TNode* parent, int row)> OnRowAboutToBeInserted;
    std::function<void(TThreadModel*, TNode* parent, int row)> OnRowInserted;
    // A thread top at row is about to be taken out, or was taken out.
    std::function<void(TThreadModel*, TNode* parent, int row)> OnRowAboutToBeRemoved;
    std::function<void(TThreadModel*, TNode* parent, int row)> OnRowRemoved;
    // Every row changes (emptied, or built in bulk).
    std::function<void(TThreadModel*)> OnAboutToReset;
    std::function<void(TThreadModel*)> OnReset;
    // The node's record changed how it is shown.
    std::function<void(TThreadModel*, TNode* node)> OnDataChanged;
    // The model expands or collapses the node (Expand).
    std::function<void(TThreadModel*, TNode* node, bool expanded)> OnExpandedChanged;
    // A reply was placed into a watched thread and marked for speaking; asChild tells
    // whether it went under the thread's first article (its read state then counts as new).
    std::function<void(TThreadModel*, TNode* node, bool asChild)> OnWatchedReply;

private:
    TNode* newNode(TArticleClass* record);
    void insertBefore(TNode* n, TNode* before, bool bulk);
    void appendChild(TNode* n, TNode* parent, bool bulk);
    void indexNode(TNode* n);
    void indexNode(TNode* n, size_t idHash, size_t subjectHash, size_t refsHash);
    void attach(TNode* n, TNode* parent, int row);
    void treapInsert(QStringView refs, size_t hash, TNode* n);
    TNode* firstLater(QStringView refs, size_t hash, double date) const;
    void relabel();
    void makeRoomAfter(TNode* a);
    void linkAfter(TNode* a, TNode* n);
    void clearIndexes();

    int bulkDepth = 0;
    // The text finding looks through and the shape of the tree it was made for.
    quint64 shape = 0;
    struct TFindText {
        quint64 shape = ~quint64(0);
        QByteArray text;                 // per thread: "\n" subject "\n" author ... of each record
        std::vector<qsizetype> start;    // per top row: where its thread begins (one more at the end)
    };
    mutable TFindText findText;
    // The text being made a slice at a time (PrepareFindText), for the shape it names, and
    // the next top row to add.
    mutable TFindText building;
    mutable size_t buildingRow = 0;
    const TFindText& currentFindText() const;

    std::deque<TNode> nodes;
    TNode head;              // before the first node in view order
    TNode* tail = &head;     // last node in view order
    std::vector<TNode*> tops;
    static QStringView idOf(const TNode* n) { return n->rec->MessageID; }
    static QStringView subjectOf(const TNode* n) { return n->rec->Subject; }
    static QStringView refsOf(const TNode* n) { return n->rec->References; }

    // records indexed since the indexes were last cleared
    int indexed = 0;
    TTextIndex<TNode, &TThreadModel::idOf> byId;
    // per References text the root of a treap of the nodes with that text
    TTextIndex<TNode, &TThreadModel::refsOf> byRefs;
    // per subject the node that comes first in view order
    TTextIndex<TNode, &TThreadModel::subjectOf> bySubject;
    // The hashes of a record's texts, worked out ahead of its placing.
    struct TKeys {
        const TArticleClass* rec = nullptr;
        size_t id = 0;
        size_t subject = 0;
        size_t refs = 0;
        size_t refsTrimmed = 0;
        size_t firstRef = 0;
        size_t stripped = 0;
    };
    static TKeys keysOf(const TArticleClass* rec);
    TKeys ahead[16];

    // records being placed (a reply places the stored article it refers to first)
    std::vector<const TArticleClass*> inProgress;
    std::mt19937 rng{20261208u};
};
