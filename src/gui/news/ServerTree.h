#pragma once
// The server tree of the main window: a view of the news store. It builds one tree item per
// entry, follows the store's change events (entries added and removed, captions and pictures,
// sorting, expanding, selecting, a reload) and tells the store what the user did (a new
// current entry, expanding and collapsing). It holds no data of its own.
#include <QHash>
#include <QMetaObject>
#include <vector>

class QTreeWidget;
class QTreeWidgetItem;
class TConfigClass;
class TNewsStore;

class TServerTree {
public:
    TServerTree(QTreeWidget* tree, TNewsStore* store);
    ~TServerTree();
    TServerTree(const TServerTree&) = delete;
    TServerTree& operator=(const TServerTree&) = delete;

    QTreeWidget* const Tree;
    TNewsStore* const News;

    // The entry an item shows, and the item that shows an entry.
    static TConfigClass* EntryOf(const QTreeWidgetItem* item);
    QTreeWidgetItem* ItemOf(const TConfigClass* entry) const;

    // The entry the user has selected (current and selected), or none.
    TConfigClass* SelectedEntry() const;
    // The kind (TConfigKind) of the entry the tree shows as current: ckUnknown when there is
    // none; an entry of a kind this program does not know counts as a folder entry.
    int SelectedKind() const;

    // Builds every item again from the store.
    void Rebuild();

private:
    QTreeWidgetItem* makeItem(TConfigClass* entry);
    void insertItem(TConfigClass* entry);
    void removeItem(TConfigClass* entry);
    void refreshItem(TConfigClass* entry);
    void sortItems();
    void forgetBelow(const TConfigClass* entry);

    QHash<const TConfigClass*, QTreeWidgetItem*> items;
    int applying = 0; // > 0 while the tree shows a change of the store's
    std::vector<QMetaObject::Connection> connections;
};
