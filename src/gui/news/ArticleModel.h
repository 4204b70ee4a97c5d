#pragma once
// The thread model as an item model for Qt's views: one row per node, five columns (speak
// mark, Subject, From, Date, watch). Every index carries its node, so index, parent and
// rowCount are answered in constant time; the rows follow the thread model's events.
#include "news/ThreadModel.h"

#include <QAbstractItemModel>
#include <QFont>

class TArticleModel : public QAbstractItemModel {
public:
    enum { ColSpeak = 0, ColSubject = 1, ColFrom = 2, ColDate = 3, ColWatch = 4, ColumnCount = 5 };
    // The record of a row (quintptr of the TArticleClass*), in every column.
    static constexpr int RecordRole = Qt::UserRole;
    // The mark of the speak column (0 none, 1 to be spoken, 2 spoken) or the watch column (0, 1).
    static constexpr int MarkRole = Qt::UserRole + 1;

    // Binds the thread model's view events; the thread model outlives this adapter.
    explicit TArticleModel(TThreadModel* threads, QObject* parent = nullptr);
    ~TArticleModel() override;

    TThreadModel* Threads() const { return threads; }
    // The font that bold and italic rows are derived from (the view's font).
    void SetBaseFont(const QFont& font) { baseFont = font; }

    // Finding in the group: only the threads with a record whose subject or author holds the
    // text are shown (all of them for an empty text). The rows are laid out anew.
    void SetFilter(const QString& text);
    const QString& Filter() const { return filter; }
    // Whether the node's thread is shown under the present filter.
    bool IsShown(const TThreadModel::TNode* node) const;

    static TThreadModel::TNode* NodeOf(const QModelIndex& index);
    static TArticleClass* RecordOf(const QModelIndex& index);
    QModelIndex IndexOf(const TThreadModel::TNode* node, int column = ColSubject) const;
    QModelIndex IndexOf(const TArticleClass* record, int column = ColSubject) const;

    // The row in words for a screen reader: subject, author, date, read and speak state and
    // the watch mark.
    QString RowSummary(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const std::vector<TThreadModel::TNode*>& childrenOf(const QModelIndex& parent) const;
    QModelIndex parentIndex(TThreadModel::TNode* parent) const;

    // The row of a thread top as shown: its own row, or its place among the filtered tops.
    int topRow(const TThreadModel::TNode* top) const;
    static const TThreadModel::TNode* topOf(const TThreadModel::TNode* node);
    void refilter(bool narrowing);
    void renumberShown(size_t from);

    TThreadModel* threads;
    QFont baseFont;
    QString filter;
    std::vector<TThreadModel::TNode*> shown; // the shown tops while a filter is set
    std::vector<int> shownRow;               // per node index: its row among them, or -1
    bool skippedInsert = false;              // a reply went into a thread that is not shown
    int removingRow = -1;
};
