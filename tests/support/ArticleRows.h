#pragma once
// One row of the article view as the user sees it: its cells are read and its expansion and
// selection changed through the view and its item model, never around them.
#include "gui/news/ThreadView.h"

#include <QItemSelectionModel>
#include <QTreeView>
#include <vector>

class TArticleRow {
public:
    TArticleRow() = default;
    TArticleRow(const TThreadView* view, TThreadModel::TNode* node) : view(view), node(node) {}

    // The row passes for its node wherever the view takes one.
    operator TThreadModel::TNode*() const { return node; }
    const TArticleRow* operator->() const { return this; }

    bool operator==(const TArticleRow& other) const { return node == other.node; }

    TThreadModel::TNode* Node() const { return node; }
    QModelIndex Index(int column = TThreadView::ColSubject) const { return view->IndexOf(node, column); }

    TArticleRow parent() const { return {view, node ? node->parent : nullptr}; }
    int childCount() const { return node ? int(node->children.size()) : 0; }
    TArticleRow child(int i) const
    {
        return {view, node && i >= 0 && i < childCount() ? node->children[size_t(i)] : nullptr};
    }
    int indexOfChild(const TArticleRow& c) const
    {
        return c.node && c.node->parent == node && node ? c.Index().row() : -1;
    }
    QString text(int column) const { return Index(column).data(Qt::DisplayRole).toString(); }
    QFont font(int column) const { return view->Font(node, column); }
    QVariant data(int column, int role) const { return Index(column).data(role); }
    bool isExpanded() const { return view->IsExpanded(node); }
    void setExpanded(bool expanded) const { view->View->setExpanded(Index(TThreadView::ColSpeak), expanded); }
    bool isSelected() const { return view->IsSelected(node); }
    void setSelected(bool selected) const
    {
        view->View->selectionModel()->select(Index(TThreadView::ColSpeak), (selected ? QItemSelectionModel::Select
                                                                : QItemSelectionModel::Deselect)
                                                          | QItemSelectionModel::Rows);
    }

private:
    const TThreadView* view = nullptr;
    TThreadModel::TNode* node = nullptr;
};

// Every row in view order (each thread top before its replies).
inline std::vector<TArticleRow> ArticleRows(const TThreadView& view)
{
    std::vector<TArticleRow> out;
    for (TThreadModel::TNode* n : view.Nodes())
        out.emplace_back(&view, n);
    return out;
}

inline TArticleRow TopRow(const TThreadView& view, int row)
{
    const auto& tops = view.Model.Tops();
    return {&view, row >= 0 && size_t(row) < tops.size() ? tops[size_t(row)] : nullptr};
}
