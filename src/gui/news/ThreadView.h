#pragma once
// The article view: the records of the shown newsgroup as threads in five columns, the
// speak, read and watch marks with their mouse and menu commands, and deleting old threads.
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class TBaseRegistryClass;
class TConfigClass;

// The header texts of the two mark columns.
extern const QString SpeakColumnInfo;
extern const QString WatchColumnInfo;

class TThreadView : public QObject {
public:
    enum { ColSpeak = 0, ColSubject = 1, ColFrom = 2, ColDate = 3, ColWatch = 4 };

    explicit TThreadView(QTreeWidget* view, TBaseRegistryClass* store = nullptr);
    ~TThreadView() override;

    QTreeWidget* View;
    TBaseRegistryClass* Store; // column widths, "MsgDeleteDays"
    bool Loading = false;

    // The group (or folder entry) whose records the view shows; none when the view is empty.
    TConfigClass* GroupNode = nullptr;
    TConfigClass* Group() const;

    QTreeWidgetItem* AddArticleToTree(TArticleClass* record);
    void ShowGroup(TConfigClass* groupNode);
    void LoadArticles(TConfigClass* groupNode);
    void SaveArticles(TConfigClass* groupNode);
    void ClearArticleView();
    void SetReadStateShown(TArticleClass* record, int state, QTreeWidgetItem* item);
    bool HasNewChild(QTreeWidgetItem* item) const;
    void FocusFirstNew();

    static TArticleClass* RecordOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(const TArticleClass* record) const;
    // Every item in view order (each thread top before its replies).
    std::vector<QTreeWidgetItem*> Items() const;
    // Redraws an item from its record (texts, style, marks).
    void RefreshItem(QTreeWidgetItem* item);

    // Commands.
    void MarkSelectedSpeak(int mark);   // 1 for speaking, 2 already spoken, 0 clear
    void MarkSelectedRead(int state);   // 0 read, 1 unread
    void WatchSelected(bool watch);
    void SelectAll();
    void DeselectAll();
    void DeleteOldThreads();
    void HeaderClicked(int column);
    // A mouse press on an item's cell (what the view's mouse handler calls).
    void ClickItem(QTreeWidgetItem* item, int column);
    void ItemExpandedChanged(QTreeWidgetItem* item, bool expanded);

    // Raised for the main window (unbound: not raised).
    std::function<void(TThreadView*, QTreeWidgetItem*)> OnItemFocused;
    std::function<void(TThreadView*)> OnClearMessagePane;
    std::function<void(TThreadView*, QTreeWidgetItem*)> OnItemClicked;   // a click in columns 1-3
    std::function<void(TThreadView*, TArticleClass*)> OnSpeakMarkChanged; // keeps the speak queue right

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Where every record goes; the items follow its rows.
    TThreadModel Model;

private:
    QTreeWidgetItem* makeItem(const TThreadModel::TNode* n);
    QTreeWidgetItem* itemOfNode(const TThreadModel::TNode* node) const;
    void buildItems();
    void saveShown();
    void recordChanged(TArticleList* list, TArticleClass* record);

    int focusSuppressed = 0;
    std::shared_ptr<bool> aliveToken = std::make_shared<bool>(true);
};
