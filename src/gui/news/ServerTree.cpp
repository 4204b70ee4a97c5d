#include "gui/news/ServerTree.h"

#include "gui/news/NewsIcons.h"
#include "news/NewsStore.h"

#include <QTreeWidget>
#include <functional>

namespace {
// One item of the tree; it sorts by the position its entry has in the store.
class TServerItem : public QTreeWidgetItem {
public:
    explicit TServerItem(TConfigClass* e) : Entry(e) {}
    TConfigClass* const Entry;
    int Order = 0;
    bool operator<(const QTreeWidgetItem& other) const override
    {
        return Order < static_cast<const TServerItem&>(other).Order;
    }
};

QIcon pictureOf(const TConfigClass* e)
{
    if (e->Picture() >= 0)
        return NewsPicture(e->Picture());
    if (e->Kind == ckServer)
        return NewsPicture(npServer);
    if (e->Kind == ckNewsGroup)
        return NewsPicture(npNewsGroup);
    // A folder entry shows its other picture while it is selected.
    QIcon icon;
    icon.addPixmap(NewsPicture(npFolder).pixmap(16, 16), QIcon::Normal);
    icon.addPixmap(NewsPicture(npFolderSelected).pixmap(16, 16), QIcon::Selected);
    return icon;
}

struct Applying {
    int& depth;
    explicit Applying(int& d) : depth(d) { ++depth; }
    ~Applying() { --depth; }
};
}

TServerTree::TServerTree(QTreeWidget* tree, TNewsStore* store) : Tree(tree), News(store)
{
    News->OnReset = [this](TNewsStore*) { Rebuild(); };
    News->OnEntryAdded = [this](TNewsStore*, TConfigClass* e) { insertItem(e); };
    News->OnEntryRemoved = [this](TNewsStore*, TConfigClass* e, TConfigClass*) { removeItem(e); };
    News->OnEntryChanged = [this](TNewsStore*, TConfigClass* e) { refreshItem(e); };
    News->OnSorted = [this](TNewsStore*) { sortItems(); };
    News->OnExpand = [this](TNewsStore*, TConfigClass* e, bool expanded) {
        if (QTreeWidgetItem* item = ItemOf(e)) {
            Applying a(applying);
            item->setExpanded(expanded);
        }
    };
    // The tree moves its selection as it always does and reports it back below.
    News->OnSelect = [this](TNewsStore*, TConfigClass* e) { Tree->setCurrentItem(ItemOf(e)); };

    connections.push_back(QObject::connect(Tree, &QTreeWidget::currentItemChanged, Tree,
                                           [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
                                               News->SelectionChanged(EntryOf(current),
                                                                      current && current->isSelected());
                                           }));
    connections.push_back(QObject::connect(Tree, &QTreeWidget::itemSelectionChanged, Tree, [this] {
        QTreeWidgetItem* current = Tree->currentItem();
        News->SetCurrent(EntryOf(current), current && current->isSelected());
    }));
    connections.push_back(QObject::connect(Tree, &QTreeWidget::itemExpanded, Tree, [this](QTreeWidgetItem* item) {
        if (applying == 0)
            News->ExpandedChanged(EntryOf(item), true);
    }));
    connections.push_back(QObject::connect(Tree, &QTreeWidget::itemCollapsed, Tree, [this](QTreeWidgetItem* item) {
        if (applying == 0)
            News->ExpandedChanged(EntryOf(item), false);
    }));
    Rebuild();
}

TServerTree::~TServerTree()
{
    for (const QMetaObject::Connection& c : connections)
        QObject::disconnect(c);
    News->OnReset = nullptr;
    News->OnEntryAdded = nullptr;
    News->OnEntryRemoved = nullptr;
    News->OnEntryChanged = nullptr;
    News->OnSorted = nullptr;
    News->OnExpand = nullptr;
    News->OnSelect = nullptr;
}

TConfigClass* TServerTree::EntryOf(const QTreeWidgetItem* item)
{
    auto* i = dynamic_cast<const TServerItem*>(item);
    return i ? i->Entry : nullptr;
}

QTreeWidgetItem* TServerTree::ItemOf(const TConfigClass* entry) const
{
    return entry ? items.value(entry) : nullptr;
}

TConfigClass* TServerTree::SelectedEntry() const
{
    QTreeWidgetItem* item = Tree->currentItem();
    return item && item->isSelected() ? EntryOf(item) : nullptr;
}

int TServerTree::SelectedKind() const
{
    const TConfigClass* e = EntryOf(Tree->currentItem());
    if (!e)
        return ckUnknown;
    return e->Kind == ckUnknown ? int(ckNewsFolder) : e->Kind;
}

QTreeWidgetItem* TServerTree::makeItem(TConfigClass* entry)
{
    auto* item = new TServerItem(entry);
    item->setText(0, entry->Caption());
    item->setIcon(0, pictureOf(entry));
    items.insert(entry, item);
    return item;
}

void TServerTree::Rebuild()
{
    {
        Applying a(applying);
        Tree->clear();
    }
    items.clear();
    QList<QTreeWidgetItem*> tops;
    std::function<QTreeWidgetItem*(TConfigClass*)> build = [&](TConfigClass* e) {
        QTreeWidgetItem* item = makeItem(e);
        for (int i = 0; i < e->ChildCount(); ++i)
            item->addChild(build(e->Child(i)));
        return item;
    };
    for (int i = 0; i < News->ServerCount(); ++i)
        tops << build(News->Server(i));
    Applying a(applying);
    Tree->addTopLevelItems(tops);
    // Showing the stored state is no change of the user's.
    for (TConfigClass* e : News->AllEntries()) {
        if (e->Expanded == 1)
            items.value(e)->setExpanded(true);
    }
    QTreeWidgetItem* current = Tree->currentItem();
    News->SetCurrent(EntryOf(current), current && current->isSelected());
}

void TServerTree::insertItem(TConfigClass* entry)
{
    QTreeWidgetItem* item = makeItem(entry);
    const int at = entry->Index();
    if (TConfigClass* parent = entry->Parent()) {
        if (QTreeWidgetItem* p = ItemOf(parent))
            p->insertChild(at, item);
    } else {
        Tree->insertTopLevelItem(at, item);
    }
}

void TServerTree::forgetBelow(const TConfigClass* entry)
{
    items.remove(entry);
    for (int i = 0; i < entry->ChildCount(); ++i)
        forgetBelow(entry->Child(i));
}

void TServerTree::removeItem(TConfigClass* entry)
{
    QTreeWidgetItem* item = ItemOf(entry);
    forgetBelow(entry);
    // The tree moves its current item off the removed one and reports that as usual.
    delete item;
}

void TServerTree::refreshItem(TConfigClass* entry)
{
    if (QTreeWidgetItem* item = ItemOf(entry)) {
        item->setText(0, entry->Caption());
        item->setIcon(0, pictureOf(entry));
    }
}

void TServerTree::sortItems()
{
    // Every item takes the position its entry has now; the tree then moves its items (keeping
    // current item, selection and expanded state) into that order.
    std::function<void(TConfigClass*, int)> number = [&](TConfigClass* e, int order) {
        if (auto* item = static_cast<TServerItem*>(ItemOf(e)))
            item->Order = order;
        for (int i = 0; i < e->ChildCount(); ++i)
            number(e->Child(i), i);
    };
    for (int i = 0; i < News->ServerCount(); ++i)
        number(News->Server(i), i);
    Tree->sortItems(0, Qt::AscendingOrder);
}
