#include "gui/news/ArticleModel.h"

#include "gui/news/NewsIcons.h"

#include <algorithm>

using TNode = TThreadModel::TNode;

TArticleModel::TArticleModel(TThreadModel* model, QObject* parent) : QAbstractItemModel(parent), threads(model)
{
    // While a filter is set the top rows are translated to the shown ones: a new thread is
    // shown when it matches, a reply only when its thread is shown.
    threads->OnRowAboutToBeInserted = [this](TThreadModel*, TNode* p, int row) {
        if (filter.isEmpty()) {
            beginInsertRows(parentIndex(p), row, row);
            return;
        }
        skippedInsert = !p || !IsShown(p);
        if (!skippedInsert)
            beginInsertRows(parentIndex(p), row, row);
    };
    threads->OnRowInserted = [this](TThreadModel*, TNode* p, int row) {
        if (filter.isEmpty() || !skippedInsert) {
            endInsertRows();
            return;
        }
        skippedInsert = false;
        if (p)
            return;
        TNode* top = threads->Tops()[size_t(row)];
        const std::vector<TNode*> one{top};
        if (threads->MatchingTops(filter, &one).empty())
            return;
        const auto at = std::lower_bound(shown.begin(), shown.end(), top,
                                         [](const TNode* a, const TNode* b) { return a->row < b->row; });
        const int pos = int(at - shown.begin());
        beginInsertRows(QModelIndex(), pos, pos);
        shown.insert(at, top);
        renumberShown(size_t(pos));
        endInsertRows();
    };
    threads->OnRowAboutToBeRemoved = [this](TThreadModel*, TNode* p, int row) {
        const TNode* n = p ? p->children[size_t(row)] : threads->Tops()[size_t(row)];
        removingRow = IsShown(n) ? (p ? row : topRow(n)) : -1;
        if (removingRow >= 0)
            beginRemoveRows(parentIndex(p), removingRow, removingRow);
    };
    threads->OnRowRemoved = [this](TThreadModel*, TNode* p, int) {
        if (removingRow < 0)
            return;
        if (!filter.isEmpty() && !p) {
            shownRow[shown[size_t(removingRow)]->index] = -1;
            shown.erase(shown.begin() + removingRow);
            renumberShown(size_t(removingRow));
        }
        removingRow = -1;
        endRemoveRows();
    };
    threads->OnAboutToReset = [this](TThreadModel*) { beginResetModel(); };
    threads->OnReset = [this](TThreadModel*) {
        if (!filter.isEmpty())
            refilter(false);
        endResetModel();
    };
    threads->OnDataChanged = [this](TThreadModel*, TNode* n) {
        if (IsShown(n))
            emit dataChanged(IndexOf(n, ColSpeak), IndexOf(n, ColWatch));
    };
}

void TArticleModel::SetFilter(const QString& text)
{
    if (text == filter)
        return;
    // Text that grows from the one before finds a part of what that found.
    const bool narrowing = !filter.isEmpty() && text.contains(filter, Qt::CaseInsensitive);
    beginResetModel();
    filter = text;
    if (filter.isEmpty()) {
        threads->ReleaseFindText();
        shown.clear();
        shown.shrink_to_fit();
        shownRow.clear();
        shownRow.shrink_to_fit();
    } else {
        refilter(narrowing);
    }
    endResetModel();
}

void TArticleModel::refilter(bool narrowing)
{
    std::vector<TNode*> found = threads->MatchingTops(filter, narrowing ? &shown : nullptr);
    for (const TNode* n : shown) {
        if (n->index < shownRow.size())
            shownRow[n->index] = -1;
    }
    shown = std::move(found);
    renumberShown(0);
}

void TArticleModel::renumberShown(size_t from)
{
    for (size_t i = from; i < shown.size(); ++i) {
        const quint32 k = shown[i]->index;
        if (k >= shownRow.size())
            shownRow.resize(std::max<size_t>(k + 1, shownRow.size() * 2), -1);
        shownRow[k] = int(i);
    }
}

const TNode* TArticleModel::topOf(const TNode* node)
{
    while (node && node->parent)
        node = node->parent;
    return node;
}

bool TArticleModel::IsShown(const TNode* node) const
{
    if (!node)
        return false;
    if (filter.isEmpty())
        return true;
    const TNode* top = topOf(node);
    return top->index < shownRow.size() && shownRow[top->index] >= 0 && shown[size_t(shownRow[top->index])] == top;
}

int TArticleModel::topRow(const TNode* top) const
{
    if (filter.isEmpty())
        return top->row;
    return top->index < shownRow.size() ? shownRow[top->index] : -1;
}

TArticleModel::~TArticleModel()
{
    threads->OnRowAboutToBeInserted = nullptr;
    threads->OnRowInserted = nullptr;
    threads->OnRowAboutToBeRemoved = nullptr;
    threads->OnRowRemoved = nullptr;
    threads->OnAboutToReset = nullptr;
    threads->OnReset = nullptr;
    threads->OnDataChanged = nullptr;
}

TNode* TArticleModel::NodeOf(const QModelIndex& index)
{
    return index.isValid() ? static_cast<TNode*>(index.internalPointer()) : nullptr;
}

TArticleClass* TArticleModel::RecordOf(const QModelIndex& index)
{
    const TNode* n = NodeOf(index);
    return n ? n->rec : nullptr;
}

QModelIndex TArticleModel::IndexOf(const TNode* node, int column) const
{
    if (!node || !IsShown(node))
        return {};
    return createIndex(node->parent ? node->row : topRow(node), column, const_cast<TNode*>(node));
}

QModelIndex TArticleModel::IndexOf(const TArticleClass* record, int column) const
{
    return IndexOf(threads->NodeOf(record), column);
}

QModelIndex TArticleModel::parentIndex(TNode* parent) const
{
    if (!parent)
        return {};
    return createIndex(parent->parent ? parent->row : topRow(parent), 0, parent);
}

const std::vector<TNode*>& TArticleModel::childrenOf(const QModelIndex& parent) const
{
    if (const TNode* p = NodeOf(parent))
        return p->children;
    return filter.isEmpty() ? threads->Tops() : shown;
}

QModelIndex TArticleModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column >= ColumnCount || row < 0 || (parent.isValid() && parent.column() != 0))
        return {};
    const std::vector<TNode*>& list = childrenOf(parent);
    if (size_t(row) >= list.size())
        return {};
    return createIndex(row, column, list[size_t(row)]);
}

QModelIndex TArticleModel::parent(const QModelIndex& child) const
{
    const TNode* n = NodeOf(child);
    return n ? parentIndex(n->parent) : QModelIndex();
}

int TArticleModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() && parent.column() != 0)
        return 0;
    return int(childrenOf(parent).size());
}

int TArticleModel::columnCount(const QModelIndex&) const
{
    return ColumnCount;
}

bool TArticleModel::hasChildren(const QModelIndex& parent) const
{
    return rowCount(parent) > 0;
}

namespace {
QString speakStateText(int mark)
{
    switch (mark) {
    case 1: return QStringLiteral("Marked for speaking");
    case 2: return QStringLiteral("Spoken");
    default: return QStringLiteral("Not marked for speaking");
    }
}

QString readStateText(int state)
{
    switch (state) {
    case 0: return QStringLiteral("Read");
    case 1: return QStringLiteral("Unread");
    case 2: return QStringLiteral("Body not available");
    default: return QStringLiteral("Unread, body not available");
    }
}
}

QString TArticleModel::RowSummary(const QModelIndex& index) const
{
    const TArticleClass* r = RecordOf(index);
    if (!r)
        return QString();
    const QString date = data(index.siblingAtColumn(ColDate), Qt::DisplayRole).toString();
    QString text = QStringLiteral("%1, from %2, %3. %4. %5.")
                       .arg(r->Subject, r->From, date, readStateText(r->ReadState), speakStateText(r->SpeakMark));
    if (r->Watch)
        text += QStringLiteral(" Watched.");
    return text;
}

QVariant TArticleModel::data(const QModelIndex& index, int role) const
{
    const TArticleClass* r = RecordOf(index);
    if (!r)
        return {};
    const int col = index.column();
    switch (role) {
    case Qt::DisplayRole:
        if (col == ColSubject)
            return r->Subject;
        if (col == ColFrom)
            return r->From;
        if (col == ColDate)
            return TArticleClass::DateText(r->Date);
        return {};
    case Qt::FontRole: {
        const bool bold = r->Style & 1;
        const bool italic = r->Style & 2;
        if (col < ColSubject || col > ColDate || (!bold && !italic))
            return {};
        QFont f = baseFont;
        f.setBold(bold);
        f.setItalic(italic);
        return f;
    }
    case MarkRole:
        if (col == ColSpeak)
            return int(r->SpeakMark);
        if (col == ColWatch)
            return int(r->Watch);
        return {};
    case RecordRole:
        return QVariant::fromValue(quintptr(r));
    case Qt::AccessibleTextRole:
        // What a screen reader says for a cell: the pictures of the mark columns in words.
        if (col == ColSpeak)
            return speakStateText(r->SpeakMark);
        if (col == ColWatch)
            return r->Watch ? QStringLiteral("Watched") : QStringLiteral("Not watched");
        return data(index, Qt::DisplayRole);
    case Qt::AccessibleDescriptionRole:
        return RowSummary(index);
    default:
        return {};
    }
}

QVariant TArticleModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case ColSubject: return QStringLiteral("Subject");
        case ColFrom: return QStringLiteral("From");
        case ColDate: return QStringLiteral("Date");
        default: return QString();
        }
    }
    if (role == Qt::DecorationRole) {
        if (section == ColSpeak)
            return NewsPicture(npSpeak);
        if (section == ColWatch)
            return NewsPicture(npWatch);
    }
    return {};
}

Qt::ItemFlags TArticleModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
