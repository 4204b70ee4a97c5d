#include "gui/news/ArticleModel.h"

#include "gui/news/NewsIcons.h"

using TNode = TThreadModel::TNode;

TArticleModel::TArticleModel(TThreadModel* model, QObject* parent) : QAbstractItemModel(parent), threads(model)
{
    threads->OnRowAboutToBeInserted = [this](TThreadModel*, TNode* p, int row) {
        beginInsertRows(parentIndex(p), row, row);
    };
    threads->OnRowInserted = [this](TThreadModel*, TNode*, int) { endInsertRows(); };
    threads->OnRowAboutToBeRemoved = [this](TThreadModel*, TNode* p, int row) {
        beginRemoveRows(parentIndex(p), row, row);
    };
    threads->OnRowRemoved = [this](TThreadModel*, TNode*, int) { endRemoveRows(); };
    threads->OnAboutToReset = [this](TThreadModel*) { beginResetModel(); };
    threads->OnReset = [this](TThreadModel*) { endResetModel(); };
    threads->OnDataChanged = [this](TThreadModel*, TNode* n) {
        emit dataChanged(IndexOf(n, ColSpeak), IndexOf(n, ColWatch));
    };
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
    if (!node)
        return {};
    return createIndex(node->row, column, const_cast<TNode*>(node));
}

QModelIndex TArticleModel::IndexOf(const TArticleClass* record, int column) const
{
    return IndexOf(threads->NodeOf(record), column);
}

QModelIndex TArticleModel::parentIndex(TNode* parent) const
{
    return parent ? createIndex(parent->row, 0, parent) : QModelIndex();
}

const std::vector<TNode*>& TArticleModel::childrenOf(const QModelIndex& parent) const
{
    if (const TNode* p = NodeOf(parent))
        return p->children;
    return threads->Tops();
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
