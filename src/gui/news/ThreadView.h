#pragma once
// The article view: the records of the shown newsgroup as threads in five columns, the
// speak, read and watch marks with their mouse and menu commands, and deleting old threads.
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"
#include "gui/news/ArticleModel.h"

#include <QHash>
#include <QModelIndex>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QTreeView;
class TBaseRegistryClass;
class TConfigClass;

// The header texts of the two mark columns.
extern const QString SpeakColumnInfo;
extern const QString WatchColumnInfo;

class TThreadView : public QObject {
public:
    using TNode = TThreadModel::TNode;
    enum { ColSpeak = 0, ColSubject = 1, ColFrom = 2, ColDate = 3, ColWatch = 4 };
    // The width a date needs to show whole.
    int DateColumnWidth() const;

    explicit TThreadView(QTreeView* view, TBaseRegistryClass* store = nullptr);
    ~TThreadView() override;

    QTreeView* View;
    TBaseRegistryClass* Store; // column widths, "MsgDeleteDays"
    bool Loading = false;

    // The group (or folder entry) whose records the view shows; none when the view is empty.
    TConfigClass* GroupNode = nullptr;
    TConfigClass* Group() const;

    TNode* AddArticleToTree(TArticleClass* record);
    void ShowGroup(TConfigClass* groupNode);
    void LoadArticles(TConfigClass* groupNode);
    void SaveArticles(TConfigClass* groupNode);
    void ClearArticleView();
    void SetReadStateShown(TArticleClass* record, int state, TNode* node);
    bool HasNewChild(const TNode* node) const;
    void FocusFirstNew();

    static TArticleClass* RecordOf(const TNode* node) { return node ? node->rec : nullptr; }
    TNode* NodeOf(const TArticleClass* record) const { return Model.NodeOf(record); }
    TNode* NodeOf(const QModelIndex& index) const { return TArticleModel::NodeOf(index); }
    QModelIndex IndexOf(const TNode* node, int column = ColSubject) const { return Articles.IndexOf(node, column); }
    // Every node in view order (each thread top before its replies).
    std::vector<TNode*> Nodes() const { return Model.Nodes(); }
    // The focused row and the selected rows (in the order they were selected).
    TNode* CurrentNode() const;
    void SetCurrentNode(TNode* node);
    // Opens the threads above the node, makes it the one focused and selected row and
    // scrolls to it (the way a click on it does).
    void GoToNode(TNode* node);
    // Finding in the group: shows only the threads with a record whose subject or author
    // holds the text (every thread for an empty text), keeping their expansion and the
    // focused article where it is still shown. Emptying the view clears it.
    void SetFilter(const QString& text);
    // The next new article after the node (from the start for nullptr) among those shown.
    TNode* NextNewShown(const TNode* after) const;
    std::vector<TNode*> SelectedNodes() const;
    bool IsExpanded(const TNode* node) const;
    bool IsSelected(const TNode* node) const;
    // What a cell shows (text and font), as the view draws it.
    QString Text(const TNode* node, int column) const;
    QFont Font(const TNode* node, int column) const;
    // Redraws a row from its record (texts, style, marks).
    void RefreshItem(TNode* node);

    // Commands.
    void MarkSelectedSpeak(int mark);   // 1 for speaking, 2 already spoken, 0 clear
    void MarkSelectedRead(int state);   // 0 read, 1 unread
    void WatchSelected(bool watch);
    void SelectAll();
    void DeselectAll();
    void DeleteOldThreads();
    void HeaderClicked(int column);
    // A mouse press on a row's cell (what the view's mouse handler calls).
    void ClickItem(TNode* node, int column);
    void ItemExpandedChanged(TNode* node, bool expanded);

    // Raised for the main window (unbound: not raised).
    std::function<void(TThreadView*, TNode*)> OnItemFocused;
    std::function<void(TThreadView*)> OnClearMessagePane;
    std::function<void(TThreadView*, TNode*)> OnItemClicked;   // a click in columns 1-3
    std::function<void(TThreadView*, TArticleClass*)> OnSpeakMarkChanged; // keeps the speak queue right
    std::function<void(TThreadView*)> OnFilterCleared; // the view was emptied while a filter was set

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Where every record goes; the view shows it through Articles.
    TThreadModel Model;
    TArticleModel Articles{&Model};

private:
    void saveShown();
    void recordChanged(TArticleList* list, TArticleClass* record);
    void deselectBelow(const TNode* node);

    int focusSuppressed = 0;
    std::shared_ptr<bool> aliveToken = std::make_shared<bool>(true);
};
