#include "news/ThreadModel.h"

#include <QByteArrayMatcher>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

namespace {
constexpr quint64 LabelGap = quint64(1) << 32;
constexpr quint64 LabelLimit = quint64(1) << 63;

// "Re: " (any letter case) starting within the first four characters is cut out; a subject
// without it has no stripped form. The stripped form is a view into the subject, or into
// buffer when "Re: " does not start it.
bool strippedSubject(const QString& subject, QString& buffer, QStringView& out)
{
    const qsizetype at = QStringView(subject).left(7).indexOf(QLatin1String("Re: "), 0, Qt::CaseInsensitive);
    if (at < 0)
        return false;
    if (at == 0) {
        out = QStringView(subject).mid(4);
    } else {
        buffer = subject;
        buffer.remove(at, 4);
        out = buffer;
    }
    return true;
}

QString withoutFirstRe(const QString& subject)
{
    QString s = subject;
    const qsizetype at = s.indexOf(QLatin1String("Re: "), 0, Qt::CaseInsensitive);
    if (at >= 0)
        s.remove(at, 4);
    return s;
}

using TNode = TThreadModel::TNode;

void update(TNode* t)
{
    double m = t->date;
    if (t->tl && t->tl->maxDate > m)
        m = t->tl->maxDate;
    if (t->tr && t->tr->maxDate > m)
        m = t->tr->maxDate;
    t->maxDate = m;
}

void split(TNode* t, quint64 label, TNode*& l, TNode*& r)
{
    if (!t) {
        l = r = nullptr;
        return;
    }
    if (t->label < label) {
        split(t->tr, label, t->tr, r);
        l = t;
    } else {
        split(t->tl, label, l, t->tl);
        r = t;
    }
    update(t);
}

TNode* merge(TNode* a, TNode* b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    if (a->prio > b->prio) {
        a->tr = merge(a->tr, b);
        update(a);
        return a;
    }
    b->tl = merge(a, b->tl);
    update(b);
    return b;
}
}

// The nodes carry an order label: labels grow in view order, so "which node comes first" is
// one comparison. The nodes are indexed by message ID, by subject and, per References text,
// in a treap ordered by label that knows the latest date below each node. That finds the
// first node a record would meet on a walk through the view without walking it.

TThreadModel::TThreadModel() = default;
TThreadModel::~TThreadModel() = default;

void TThreadModel::treapInsert(QStringView refs, size_t hash, TNode* n)
{
    n->prio = quint32(rng());
    n->tl = n->tr = nullptr;
    n->maxDate = n->date;
    TNode*& root = byRefs.Slot(refs, hash);
    TNode* l = nullptr;
    TNode* r = nullptr;
    split(root, n->label, l, r);
    root = merge(merge(l, n), r);
}

TNode* TThreadModel::firstLater(QStringView refs, size_t hash, double date) const
{
    TNode* t = byRefs.Find(refs, hash);
    while (t) {
        if (t->tl && t->tl->maxDate > date)
            t = t->tl;
        else if (t->date > date)
            return t;
        else if (t->tr && t->tr->maxDate > date)
            t = t->tr;
        else
            return nullptr;
    }
    return nullptr;
}

void TThreadModel::clearIndexes()
{
    indexed = 0;
    for (TKeys& k : ahead)
        k = TKeys();
    byId.Clear();
    byRefs.Clear();
    bySubject.Clear();
    inProgress.clear();
}

void TThreadModel::Clear()
{
    ++shape;
    if (bulkDepth == 0 && OnAboutToReset)
        OnAboutToReset(this);
    nodes.clear();
    head = TNode();
    tail = &head;
    tops.clear();
    clearIndexes();
    if (bulkDepth == 0 && OnReset)
        OnReset(this);
}

void TThreadModel::BeginBulk()
{
    if (bulkDepth++ == 0 && OnAboutToReset)
        OnAboutToReset(this);
}

void TThreadModel::EndBulk()
{
    if (bulkDepth > 0 && --bulkDepth == 0 && OnReset)
        OnReset(this);
}

void TThreadModel::Changed(TNode* node)
{
    if (node && bulkDepth == 0 && OnDataChanged)
        OnDataChanged(this, node);
}

void TThreadModel::relabel()
{
    const quint64 count = quint64(nodes.size()) + 1;
    quint64 step = LabelGap;
    if (count >= (quint64(1) << 30))
        step = LabelLimit / count;
    quint64 label = 0;
    for (TNode* n = head.gnext; n; n = n->gnext) {
        label += step;
        n->label = label;
    }
}

// Makes room after a: the labels of a growing neighbourhood of a are spread evenly once
// that neighbourhood is sparse enough, so crowded places are relabelled locally.
void TThreadModel::makeRoomAfter(TNode* a)
{
    TNode* centre = a == &head ? head.gnext : a;
    if (!centre) {
        relabel();
        return;
    }
    for (quint64 k = 8;; k *= 2) {
        TNode* lo = centre;
        TNode* hi = centre;
        quint64 count = 1;
        for (quint64 i = 0; i < k && lo->gprev && lo->gprev != &head; ++i, ++count)
            lo = lo->gprev;
        for (quint64 i = 0; i < k && hi->gnext; ++i, ++count)
            hi = hi->gnext;
        const bool whole = (!lo->gprev || lo->gprev == &head) && !hi->gnext;
        const quint64 left = (!lo->gprev || lo->gprev == &head) ? 0 : lo->gprev->label;
        const quint64 right = hi->gnext ? hi->gnext->label : LabelLimit;
        if (right > left) {
            const quint64 gap = (right - left) / (count + 1);
            if (gap >= 64 * count) {
                quint64 label = left;
                for (TNode* n = lo;; n = n->gnext) {
                    label += gap;
                    n->label = label;
                    if (n == hi)
                        break;
                }
                return;
            }
        }
        if (whole) {
            relabel();
            return;
        }
    }
}

void TThreadModel::linkAfter(TNode* a, TNode* n)
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        const quint64 la = a == &head ? 0 : a->label;
        TNode* b = a->gnext;
        if (!b) {
            if (la <= LabelLimit - LabelGap) {
                n->label = la + LabelGap;
                break;
            }
        } else if (b->label - la >= 2) {
            n->label = la + (b->label - la) / 2;
            break;
        }
        makeRoomAfter(a);
    }
    n->gprev = a;
    n->gnext = a->gnext;
    if (a->gnext)
        a->gnext->gprev = n;
    a->gnext = n;
    if (tail == a)
        tail = n;
}

TNode* TThreadModel::newNode(TArticleClass* record)
{
    TNode& n = nodes.emplace_back();
    n.index = quint32(nodes.size() - 1);
    n.rec = record;
    n.date = record->Date.Value;
    return &n;
}

void TThreadModel::indexNode(TNode* n)
{
    const TArticleClass* r = n->rec;
    indexNode(n, TextHash(r->MessageID), TextHash(r->Subject), TextHash(r->References));
}

void TThreadModel::indexNode(TNode* n, size_t idHash, size_t subjectHash, size_t refsHash)
{
    n->rec->NodeIndex = qint32(n->index);
    ++indexed;
    TNode*& byIdSlot = byId.Slot(n->rec->MessageID, idHash);
    if (!byIdSlot)
        byIdSlot = n;
    // Labels keep their order when they are spread anew, so the first node stays first.
    TNode*& first = bySubject.Slot(n->rec->Subject, subjectHash);
    if (!first || n->label < first->label)
        first = n;
    treapInsert(n->rec->References, refsHash, n);
}

void TThreadModel::attach(TNode* n, TNode* parent, int row)
{
    ++shape;
    std::vector<TNode*>& list = parent ? parent->children : tops;
    n->parent = parent;
    list.insert(list.begin() + row, n);
    for (size_t i = size_t(row); i < list.size(); ++i)
        list[i]->row = int(i);
}

void TThreadModel::insertBefore(TNode* n, TNode* before, bool bulk)
{
    if (!bulk && OnRowAboutToBeInserted)
        OnRowAboutToBeInserted(this, before->parent, before->row);
    linkAfter(before->gprev, n);
    attach(n, before->parent, before->row);
    if (!bulk && OnRowInserted)
        OnRowInserted(this, n->parent, n->row);
}

void TThreadModel::appendChild(TNode* n, TNode* parent, bool bulk)
{
    if (!bulk && OnRowAboutToBeInserted)
        OnRowAboutToBeInserted(this, parent, parent ? int(parent->children.size()) : int(tops.size()));
    if (parent) {
        TNode* last = parent;
        while (!last->children.empty())
            last = last->children.back();
        linkAfter(last, n);
        attach(n, parent, int(parent->children.size()));
    } else {
        linkAfter(tail, n);
        attach(n, nullptr, int(tops.size()));
    }
    if (!bulk && OnRowInserted)
        OnRowInserted(this, n->parent, n->row);
}

TThreadModel::TKeys TThreadModel::keysOf(const TArticleClass* rec)
{
    TKeys k;
    k.rec = rec;
    k.id = TextHash(rec->MessageID);
    k.subject = TextHash(rec->Subject);
    const QStringView refs = rec->References;
    const QStringView trimmed = refs.trimmed();
    k.refs = TextHash(refs);
    k.refsTrimmed = trimmed.size() == refs.size() ? k.refs : TextHash(trimmed);
    k.firstRef = TextHash(rec->FirstReference());
    QString buffer;
    QStringView stripped;
    if (strippedSubject(rec->Subject, buffer, stripped))
        k.stripped = TextHash(stripped);
    return k;
}

void TThreadModel::PrefetchAhead(const TArticleList& list, int i)
{
    const int count = list.Count();
    if (i + 24 < count) {
        const char* r = reinterpret_cast<const char*>(list.At(i + 24));
        for (size_t at = 0; at < sizeof(TArticleClass); at += 64)
            __builtin_prefetch(r + at);
    }
    if (i + 12 < count) {
        const TArticleClass* r = list.At(i + 12);
        __builtin_prefetch(r->MessageID.constData());
        __builtin_prefetch(r->References.constData());
        __builtin_prefetch(r->Subject.constData());
    }
    if (i + 6 < count) {
        const TArticleClass* r = list.At(i + 6);
        if (r->MessageID == QLatin1String("<>"))
            return; // its placing gives it another ID first
        const TKeys k = keysOf(r);
        byId.Prefetch(k.id);
        byRefs.Prefetch(k.refsTrimmed);
        bySubject.Prefetch(k.subject);
        if (!r->References.isEmpty())
            byId.Prefetch(k.firstRef);
        if (k.stripped)
            bySubject.Prefetch(k.stripped);
        ahead[(quintptr(r) >> 4) & 15] = k;
    }
}

TNode* TThreadModel::Place(TArticleClass* rec, bool bulk)
{
    rec->Root = rec;
    rec->RootNumber = rec->Number;
    if (rec->MessageID == QLatin1String("<>")) {
        const QString id = QString::number(rec->Number);
        if (rec->Owner)
            rec->Owner->ChangeMessageID(rec, id);
        else
            rec->MessageID = id;
    }
    // Each text is hashed once (or ahead, by PrefetchAhead) and the hashes are kept for
    // indexing the new node.
    TKeys& cached = ahead[(quintptr(rec) >> 4) & 15];
    const TKeys keys = cached.rec == rec ? cached : keysOf(rec);
    cached.rec = nullptr;
    const size_t idHash = keys.id;
    if (byId.Find(rec->MessageID, idHash) || NodeOf(rec))
        return nullptr;
    inProgress.push_back(rec);
    const QStringView firstRef = rec->FirstReference();
    QString strippedBuffer;
    QStringView stripped;
    const bool hasStripped = strippedSubject(rec->Subject, strippedBuffer, stripped);
    const QStringView refsTrimmed = QStringView(rec->References).trimmed();
    const size_t refsHash = keys.refs;
    const size_t subjectHash = keys.subject;

    TNode* c1 = firstLater(refsTrimmed, keys.refsTrimmed, rec->Date.Value);
    TNode* c2 = firstRef.isEmpty() ? nullptr : byId.Find(firstRef, keys.firstRef);
    if (hasStripped) {
        if (TNode* first = bySubject.Find(stripped, keys.stripped)) {
            if (!c2 || first->label < c2->label)
                c2 = first;
        }
    }

    TNode* n = nullptr;
    if (c1 && (!c2 || c1->label <= c2->label)) {
        n = newNode(rec);
        insertBefore(n, c1, bulk);
        rec->Root = c1->rec;
        rec->RootNumber = c1->rec->Number;
        indexNode(n, idHash, subjectHash, refsHash);
        if (c1->rec->Watch == 1 && !Loading) {
            rec->SetSpeakMark(1);
            if (!bulk && OnWatchedReply)
                OnWatchedReply(this, n, false);
        }
    } else if (c2) {
        n = newNode(rec);
        appendChild(n, c2, bulk);
        rec->Root = c2->rec;
        rec->RootNumber = c2->rec->Number;
        indexNode(n, idHash, subjectHash, refsHash);
        if (c2->rec->Watch == 1 && !Loading) {
            rec->SetSpeakMark(1);
            if (!bulk && OnWatchedReply)
                OnWatchedReply(this, n, true);
        }
    } else {
        TNode* parent = nullptr;
        if (rec->References.contains(QLatin1Char('<')) && rec->Owner && !firstRef.isEmpty()) {
            TArticleList* list = rec->Owner;
            TArticleClass* known = list->FindByMessageID(firstRef);
            if (known) {
                // The referenced article is stored but not shown yet: it heads the thread
                // instead of a stand-in, so neither of the two gets lost.
                if (known != rec && !NodeOf(known)
                    && std::find(inProgress.begin(), inProgress.end(), known) == inProgress.end())
                    parent = Place(known, bulk);
            } else {
                auto ph = std::make_unique<TArticleClass>();
                ph->Number = TArticleClass::PlaceholderNumber;
                ph->MessageID = firstRef.toString();
                ph->Subject = withoutFirstRe(rec->Subject);
                ph->From = QStringLiteral("????");
                ph->Date = rec->Date;
                if (TArticleClass* p = list->Add(std::move(ph)))
                    parent = Place(p, bulk);
            }
        }
        n = newNode(rec);
        appendChild(n, parent, bulk);
        indexNode(n, idHash, subjectHash, refsHash);
    }
    inProgress.pop_back();
    return n;
}

void TThreadModel::RemoveTop(int row)
{
    ++shape;
    if (row < 0 || row >= int(tops.size()))
        return;
    if (OnRowAboutToBeRemoved)
        OnRowAboutToBeRemoved(this, nullptr, row);
    TNode* first = tops[size_t(row)];
    TNode* last = first;
    while (!last->children.empty())
        last = last->children.back();
    for (TNode* n = first;; n = n->gnext) {
        n->gone = true;
        if (n == last)
            break;
    }
    first->gprev->gnext = last->gnext;
    if (last->gnext)
        last->gnext->gprev = first->gprev;
    else
        tail = first->gprev;
    tops.erase(tops.begin() + row);
    for (size_t i = size_t(row); i < tops.size(); ++i)
        tops[i]->row = int(i);
    if (OnRowRemoved)
        OnRowRemoved(this, nullptr, row);
}

void TThreadModel::Reindex()
{
    ++shape;
    // The nodes keep their places in the tree; only the labels and the look-up tables are
    // built anew, in view order.
    clearIndexes();
    relabel();
    for (TNode* n = head.gnext; n; n = n->gnext) {
        n->date = n->rec->Date.Value;
        indexNode(n);
    }
}

std::vector<int> TThreadModel::PathOf(const TNode* node)
{
    std::vector<int> path;
    for (const TNode* n = node; n; n = n->parent)
        path.push_back(n->row);
    return {path.rbegin(), path.rend()};
}

std::vector<TArticleClass*> TThreadModel::ViewOrder(TArticleList& list)
{
    TThreadModel model;
    model.Loading = true; // replies are placed as stored, not marked anew
    list.Sort();
    // A record keeps the node a view of it knows (this model is gone at the end).
    std::vector<std::pair<TArticleClass*, qint32>> shown;
    for (int i = 0; i < list.Count(); ++i)
        if (list.At(i)->NodeIndex >= 0)
            shown.emplace_back(list.At(i), list.At(i)->NodeIndex);
    model.BeginBulk();
    // Stand-ins join the list while it is walked, so the count is read each time.
    for (int i = 0; i < list.Count(); ++i) {
        model.PrefetchAhead(list, i);
        model.Place(list.At(i), true);
    }
    model.EndBulk();
    std::vector<TArticleClass*> order;
    order.reserve(size_t(model.Count()));
    for (const TNode* n : model.Nodes())
        order.push_back(n->rec);
    for (TArticleClass* r : order)
        r->NodeIndex = -1;
    for (const auto& [r, index] : shown)
        r->NodeIndex = index;
    return order;
}

std::vector<TNode*> TThreadModel::Nodes() const
{
    std::vector<TNode*> out;
    out.reserve(size_t(indexed));
    for (TNode* n = head.gnext; n; n = n->gnext)
        out.push_back(n);
    return out;
}

bool TThreadModel::HasNewChild(const TNode* node)
{
    for (const TNode* c : node->children) {
        if (c->rec->ReadState == 1)
            return true;
    }
    return false;
}

void TThreadModel::ApplyCollapsedStyle(TNode* top)
{
    TArticleClass* r = top->rec;
    if (!top->children.empty() && !top->expanded && !(r->Style & 1) && HasNewChild(top)) {
        r->Style = 1;
        Changed(top);
    }
}

void TThreadModel::SetExpanded(TNode* node, bool expanded)
{
    node->expanded = expanded;
    TArticleClass* r = node->rec;
    if (!expanded) {
        if (HasNewChild(node) && !(r->Style & 1)) {
            r->Style = 1;
            Changed(node);
        }
        r->Expanded = 0;
    } else {
        if (r->ReadState != 1 && (r->Style & 1)) {
            // Only the bold of the collapsed thread goes; an unavailable article stays italic.
            r->Style = quint8(r->ReadState == 1 ? 0 : r->ReadState);
            Changed(node);
        }
        r->Expanded = 1;
    }
}

void TThreadModel::SetReadState(TNode* node, int state)
{
    TArticleClass* record = node->rec;
    const int old = record->ReadState;
    const quint8 oldStyle = record->Style;
    record->SetReadState(state);
    TNode* parent = node->parent;
    if (parent && !parent->expanded) {
        TArticleClass* p = parent->rec;
        const bool hasNew = HasNewChild(parent);
        if (hasNew && !(p->Style & 1)) {
            p->Style = 1;
            Changed(parent);
        } else if (!hasNew && (p->Style & 1)) {
            p->Style = quint8(p->ReadState);
            Changed(parent);
        }
    }
    if (!parent && !node->children.empty() && !node->expanded && HasNewChild(node) && !(record->Style & 1))
        record->Style = 1;
    if (record->ReadState != old || record->Style != oldStyle)
        Changed(node);
}

std::vector<TNode*> TThreadModel::ClickSpeak(TNode* node)
{
    std::vector<TNode*> changed;
    TArticleClass* r = node->rec;
    auto mark = [&](TNode* n) {
        Changed(n);
        changed.push_back(n);
    };
    if (!node->children.empty() && node->expanded) {
        for (TNode* c : node->children) {
            if (c->rec->SpeakMark != r->SpeakMark) {
                c->rec->SetSpeakMark(r->SpeakMark);
                mark(c);
            }
        }
        if (changed.empty()) {
            r->CycleSpeakMark();
            mark(node);
        }
    } else {
        r->CycleSpeakMark();
        mark(node);
        for (TNode* c : node->children) {
            if (c->rec->SpeakMark != r->SpeakMark) {
                c->rec->SetSpeakMark(r->SpeakMark);
                mark(c);
            }
        }
    }
    return changed;
}

bool TThreadModel::ClickWatch(TNode* node)
{
    if (node->parent)
        return false;
    node->rec->ToggleWatch();
    Changed(node);
    return true;
}

void TThreadModel::MarkSpeak(TNode* node, int mark)
{
    node->rec->SetSpeakMark(mark);
    Changed(node);
    if (!node->children.empty() && !node->expanded) {
        for (TNode* c : node->children) {
            c->rec->SetSpeakMark(mark);
            Changed(c);
        }
    }
}

void TThreadModel::MarkRead(TNode* node, int state)
{
    SetReadState(node, state);
    if (!node->children.empty() && !node->expanded) {
        for (TNode* c : node->children)
            SetReadState(c, state);
    }
}

bool TThreadModel::SetWatch(TNode* node, bool watch)
{
    if (node->parent)
        return false;
    node->rec->Watch = watch ? 1 : 0;
    Changed(node);
    return true;
}

std::vector<const TArticleClass*> TThreadModel::TakeOldThreads(int days, double now)
{
    std::vector<const TArticleClass*> gone;
    for (int i = int(tops.size()) - 1; i >= 0; --i) {
        const TNode* top = tops[size_t(i)];
        double newest = top->rec->Date.Value;
        for (const TNode* c : top->children)
            newest = std::max(newest, c->rec->Date.Value);
        if (std::nearbyint(now - newest) <= days)
            continue;
        std::vector<const TNode*> stack{top};
        while (!stack.empty()) {
            const TNode* n = stack.back();
            stack.pop_back();
            gone.push_back(n->rec);
            for (const TNode* c : n->children)
                stack.push_back(c);
        }
        RemoveTop(i);
    }
    return gone;
}

TThreadModel::TFocusChoice TThreadModel::FirstNewChoice() const
{
    TFocusChoice choice;
    if (tops.empty())
        return choice;
    for (TNode* n = head.gnext; n; n = n->gnext) {
        if (n->rec->ReadState == 1) {
            if (n->parent) {
                choice.expand = n->parent;
                choice.scrollTo = n->parent;
            } else {
                choice.scrollTo = n;
            }
            return choice;
        }
    }
    TNode* last = tops.back();
    while (!last->children.empty())
        last = last->children.back();
    choice.scrollTo = last->parent && !last->parent->expanded ? last->parent : last;
    return choice;
}

TThreadModel::TNode* TThreadModel::NextNew(const TNode* after) const
{
    for (TNode* n = after ? after->gnext : head.gnext; n; n = n->gnext) {
        if (!n->gone && n->rec->ReadState == 1)
            return n;
    }
    return nullptr;
}

namespace {
// Appends the text in lower case as UTF-8 after a line break (no text holds one).
void appendLower(QByteArray& out, QStringView text)
{
    out += '\n';
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    if (!ascii) {
        out += text.toString().toLower().toUtf8();
        return;
    }
    const qsizetype at = out.size();
    out.resize(at + text.size());
    char* d = out.data() + at;
    for (const QChar c : text) {
        const char ch = char(c.unicode());
        *d++ = ch >= 'A' && ch <= 'Z' ? char(ch + 32) : ch;
    }
}
}

const TThreadModel::TFindText& TThreadModel::currentFindText() const
{
    PrepareFindText(-1);
    return findText;
}

bool TThreadModel::PrepareFindText(qint64 budgetMs) const
{
    if (findText.shape == shape)
        return true;
    if (building.shape != shape) {
        // Begun for another tree, or not at all: from the start.
        building = TFindText();
        building.shape = shape;
        building.start.reserve(tops.size() + 1);
        building.text.reserve(qsizetype(indexed) * 48);
        buildingRow = 0;
    }
    QElapsedTimer slice;
    slice.start();
    while (buildingRow < tops.size()) {
        const TNode* top = tops[buildingRow++];
        building.start.push_back(building.text.size());
        // A reply that keeps the subject before it adds only its author.
        QStringView lastSubject;
        const TNode* n = top;
        do {
            const QStringView subject = n->rec->Subject;
            if (n == top || subject != lastSubject)
                appendLower(building.text, subject);
            lastSubject = subject;
            appendLower(building.text, n->rec->From);
            n = n->gnext;
        } while (n && n->parent);
        if (budgetMs >= 0 && (buildingRow & 255) == 0 && slice.elapsed() >= budgetMs)
            return false;
    }
    building.start.push_back(building.text.size());
    building.text.squeeze();
    findText = std::move(building);
    building = TFindText();
    buildingRow = 0;
    return true;
}

void TThreadModel::ReleaseFindText() const
{
    findText = TFindText();
    building = TFindText();
    buildingRow = 0;
}

std::vector<TThreadModel::TNode*> TThreadModel::MatchingTops(const QString& text,
                                                             const std::vector<TNode*>* within) const
{
    std::vector<TNode*> out;
    QString wanted = text;
    wanted.remove(QLatin1Char('\n'));
    QByteArray needle;
    appendLower(needle, wanted);
    needle.remove(0, 1);
    if (needle.isEmpty()) {
        for (TNode* top : within ? *within : tops) {
            if (!top->gone && !top->parent)
                out.push_back(top);
        }
        return out;
    }
    const QByteArrayMatcher matcher(needle);
    // A few threads (one that just arrived) are looked at directly.
    if (within && within->size() < 64 && findText.shape != shape) {
        for (TNode* top : *within) {
            if (top->gone || top->parent)
                continue;
            QByteArray one;
            const TNode* n = top;
            do {
                appendLower(one, n->rec->Subject);
                appendLower(one, n->rec->From);
                n = n->gnext;
            } while (n && n->parent);
            if (matcher.indexIn(one) >= 0)
                out.push_back(top);
        }
        return out;
    }
    const TFindText& find = currentFindText();
    const char* base = find.text.constData();
    if (within) {
        for (TNode* top : *within) {
            if (top->gone || top->parent || size_t(top->row) + 1 >= find.start.size() || tops[size_t(top->row)] != top)
                continue;
            const qsizetype from = find.start[size_t(top->row)];
            const qsizetype to = find.start[size_t(top->row) + 1];
            if (matcher.indexIn(QByteArrayView(base + from, to - from)) >= 0)
                out.push_back(top);
        }
        return out;
    }
    // One pass through the whole text: after a find, on with the next thread.
    const QByteArrayView all(find.text);
    qsizetype at = 0;
    while (at < all.size()) {
        const qsizetype hit = matcher.indexIn(all, at);
        if (hit < 0)
            break;
        const auto next = std::upper_bound(find.start.begin(), find.start.end(), hit);
        const size_t row = size_t(next - find.start.begin()) - 1;
        if (!tops[row]->gone)
            out.push_back(tops[row]);
        at = *next;
    }
    return out;
}

void TThreadModel::Expand(TNode* node, bool expanded)
{
    if (!node || node->expanded == expanded)
        return;
    if (OnExpandedChanged)
        OnExpandedChanged(this, node, expanded);
    else
        SetExpanded(node, expanded);
}
