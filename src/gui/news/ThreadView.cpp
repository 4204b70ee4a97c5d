#include "gui/news/ThreadView.h"

#include "news/NewsStore.h"
#include "gui/app/ProgressWindow.h"
#include "gui/app/RunCommand.h"
#include "gui/news/NewsIcons.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"

#include <QElapsedTimer>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTreeWidget>
#include <cmath>

namespace {
constexpr int RecordRole = Qt::UserRole;
constexpr int MarkRole = Qt::UserRole + 1;
QString joinInfo(std::initializer_list<const char*> lines)
{
    QStringList l;
    for (const char* s : lines)
        l << QString::fromLatin1(s);
    return l.join(QStringLiteral("\n\r"));
}

// Draws the pictures of the two mark columns centred in their cells.
class TArticleDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int col = index.column();
        if (col != TThreadView::ColSpeak && col != TThreadView::ColWatch) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        painter->fillRect(option.rect, selected ? option.palette.color(QPalette::Active, QPalette::Highlight)
                                                : QColor(Qt::white));
        const int mark = index.data(MarkRole).toInt();
        int picture = -1;
        if (col == TThreadView::ColSpeak)
            picture = mark == 1 ? npSpeak : mark == 2 ? npSpoken : -1;
        else
            picture = mark == 1 ? npWatch : -1;
        if (picture < 0)
            return;
        int left = option.rect.left();
        if (option.rect.width() > 16)
            left += int(std::lround((option.rect.width() - 16) / 2.0));
        const int top = option.rect.top() + (option.rect.height() - 16) / 2;
        painter->drawPixmap(left, top, NewsPicture(picture).pixmap(16, 16));
    }
};
}

const QString SpeakColumnInfo = joinInfo({
    "Use this column for marking messages and threads to be spoken. ",
    "Clicking this column for a given message toggles 3 different ",
    "states: the message should be spoken, speaking has completed, or ",
    "the column should be reset to a blank.",
    "",
    "If this column is changed at the thread level for a thread which ",
    "is not currently expanded, the change is propogated to all messsages ",
    "in the thread.  If the thread is expanded, click the thread once to ",
    "apply the change to the top of thread, and again to apply change ",
    "to associated messages",
});

const QString WatchColumnInfo = joinInfo({
    "Use this column for marking individual threads you would like ",
    "to listen to as they are updated.  As new messages for selected ",
    "threads are downloaded, they are automatically marked for speaking.",
    "",
    "Clicking this column for a row which is not the top of a thread has ",
    "no meaning, and is ignored.",
});

// ---------------------------------------------------------------- TThreadView

TThreadView::TThreadView(QTreeWidget* view, TBaseRegistryClass* store)
    : View(view), Store(store)
{
    Model.OnRowInserted = [this](TThreadModel*, TThreadModel::TNode* parent, int row) {
        QTreeWidgetItem* parentItem = parent ? itemOfNode(parent) : View->invisibleRootItem();
        parentItem->insertChild(row, makeItem(parent ? parent->children[size_t(row)] : Model.Tops()[size_t(row)]));
    };
    Model.OnWatchedReply = [this](TThreadModel*, TThreadModel::TNode* node, bool asChild) {
        QTreeWidgetItem* item = itemOfNode(node);
        if (asChild)
            SetReadStateShown(node->rec, 1, item);
        else
            RefreshItem(item);
    };
    Model.OnDataChanged = [this](TThreadModel*, TThreadModel::TNode* node) {
        if (QTreeWidgetItem* item = itemOfNode(node))
            RefreshItem(item);
    };
    Model.OnExpandedChanged = [this](TThreadModel*, TThreadModel::TNode* node, bool expanded) {
        if (QTreeWidgetItem* item = itemOfNode(node))
            item->setExpanded(expanded);
    };
    Model.OnRowAboutToBeRemoved = [this](TThreadModel*, TThreadModel::TNode* parent, int row) {
        QTreeWidgetItem* parentItem = parent ? itemOfNode(parent) : View->invisibleRootItem();
        ++focusSuppressed;
        delete parentItem->takeChild(row);
        --focusSuppressed;
    };
    View->setColumnCount(5);
    QTreeWidgetItem* header = View->headerItem();
    header->setText(ColSpeak, QString());
    header->setIcon(ColSpeak, NewsPicture(npSpeak));
    header->setText(ColSubject, QStringLiteral("Subject"));
    header->setText(ColFrom, QStringLiteral("From"));
    header->setText(ColDate, QStringLiteral("Date"));
    header->setText(ColWatch, QString());
    header->setIcon(ColWatch, NewsPicture(npWatch));
    View->setSelectionMode(QAbstractItemView::ExtendedSelection);
    View->setSelectionBehavior(QAbstractItemView::SelectRows);
    View->setSortingEnabled(false);
    View->setTreePosition(ColSubject);
    View->setUniformRowHeights(true);
    View->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    View->setTextElideMode(Qt::ElideRight);
    View->setExpandsOnDoubleClick(true);
    View->setItemDelegate(new TArticleDelegate(View));
    View->header()->setSectionsClickable(true);
    View->header()->setStretchLastSection(false);
    if (Store) {
        for (int k = 0; k < 5; ++k) {
            const QString key = QStringLiteral("MsgHeaderWidth") + QString::number(k);
            if (Store->HasItem(key))
                View->setColumnWidth(k, Store->GetValue(key).toInt());
        }
    }
    View->viewport()->installEventFilter(this);

    connect(View, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* i) { ItemExpandedChanged(i, true); });
    connect(View, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* i) { ItemExpandedChanged(i, false); });
    connect(View->header(), &QHeaderView::sectionClicked, this, [this](int c) { HeaderClicked(c); });
    connect(View->header(), &QHeaderView::sectionResized, this, [this](int c, int, int size) {
        if (Store && !Loading) {
            const QString key = QStringLiteral("MsgHeaderWidth") + QString::number(c);
            if (Store->HasItem(key))
                Store->SetValue(key, size);
        }
    });
    connect(View->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        if (Loading)
            return;
        if (TConfigClass* g = Group())
            g->ScrollPos = value;
    });
    connect(View, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current, QTreeWidgetItem*) {
        if (Loading || focusSuppressed > 0 || !current || !OnItemFocused)
            return;
        OnItemFocused(this, current);
    });
}

TThreadView::~TThreadView()
{
    if (View)
        View->viewport()->removeEventFilter(this);
}

TConfigClass* TThreadView::Group() const
{
    return GroupNode;
}

TArticleClass* TThreadView::RecordOf(const QTreeWidgetItem* item)
{
    return item ? reinterpret_cast<TArticleClass*>(item->data(0, RecordRole).value<quintptr>()) : nullptr;
}

QTreeWidgetItem* TThreadView::ItemOf(const TArticleClass* record) const
{
    const TThreadModel::TNode* n = Model.NodeOf(record);
    return n ? itemOfNode(n) : nullptr;
}

QTreeWidgetItem* TThreadView::itemOfNode(const TThreadModel::TNode* node) const
{
    QTreeWidgetItem* item = View->invisibleRootItem();
    for (int row : TThreadModel::PathOf(node)) {
        item = item->child(row);
        if (!item)
            return nullptr;
    }
    return item;
}

std::vector<QTreeWidgetItem*> TThreadView::Items() const
{
    std::vector<QTreeWidgetItem*> out;
    out.reserve(size_t(Model.Count()));
    std::vector<QTreeWidgetItem*> stack;
    for (int i = View->topLevelItemCount() - 1; i >= 0; --i)
        stack.push_back(View->topLevelItem(i));
    while (!stack.empty()) {
        QTreeWidgetItem* it = stack.back();
        stack.pop_back();
        out.push_back(it);
        for (int i = it->childCount() - 1; i >= 0; --i)
            stack.push_back(it->child(i));
    }
    return out;
}

void TThreadView::RefreshItem(QTreeWidgetItem* item)
{
    const TArticleClass* r = RecordOf(item);
    if (!r)
        return;
    if (item->text(ColSubject) != r->Subject)
        item->setText(ColSubject, r->Subject);
    if (item->text(ColFrom) != r->From)
        item->setText(ColFrom, r->From);
    const QString date = TArticleClass::DateText(r->Date);
    if (item->text(ColDate) != date)
        item->setText(ColDate, date);
    if (item->data(ColSpeak, MarkRole).toInt() != r->SpeakMark || !item->data(ColSpeak, MarkRole).isValid())
        item->setData(ColSpeak, MarkRole, r->SpeakMark);
    if (item->data(ColWatch, MarkRole).toInt() != r->Watch || !item->data(ColWatch, MarkRole).isValid())
        item->setData(ColWatch, MarkRole, r->Watch);
    const bool bold = r->Style & 1;
    const bool italic = r->Style & 2;
    for (int c = ColSubject; c <= ColDate; ++c) {
        const QVariant current = item->data(c, Qt::FontRole);
        if (!bold && !italic) {
            if (current.isValid())
                item->setData(c, Qt::FontRole, QVariant());
            continue;
        }
        QFont f = View->font();
        f.setBold(bold);
        f.setItalic(italic);
        if (!current.isValid() || current.value<QFont>() != f)
            item->setFont(c, f);
    }
}

QTreeWidgetItem* TThreadView::makeItem(const TThreadModel::TNode* n)
{
    auto* item = new QTreeWidgetItem();
    item->setData(0, RecordRole, QVariant::fromValue(quintptr(n->rec)));
    RefreshItem(item);
    return item;
}

QTreeWidgetItem* TThreadView::AddArticleToTree(TArticleClass* record)
{
    Model.Loading = Loading;
    TThreadModel::TNode* n = Model.Place(record, false);
    return n ? itemOfNode(n) : nullptr;
}

void TThreadView::buildItems()
{
    std::function<QTreeWidgetItem*(const TThreadModel::TNode*)> make = [&](const TThreadModel::TNode* n) {
        QTreeWidgetItem* item = makeItem(n);
        QList<QTreeWidgetItem*> kids;
        for (const TThreadModel::TNode* c : n->children)
            kids << make(c);
        if (!kids.isEmpty())
            item->addChildren(kids);
        return item;
    };
    QList<QTreeWidgetItem*> tops;
    for (const TThreadModel::TNode* t : Model.Tops())
        tops << make(t);
    View->addTopLevelItems(tops);
}

void TThreadView::ClearArticleView()
{
    ++focusSuppressed;
    View->clear();
    Model.Clear();
    --focusSuppressed;
    GroupNode = nullptr;
}

bool TThreadView::HasNewChild(QTreeWidgetItem* item) const
{
    const TThreadModel::TNode* n = Model.NodeOf(RecordOf(item));
    return n && TThreadModel::HasNewChild(n);
}

void TThreadView::SetReadStateShown(TArticleClass* record, int state, QTreeWidgetItem* item)
{
    TThreadModel::TNode* n = item ? Model.NodeOf(RecordOf(item)) : nullptr;
    if (!n) {
        record->SetReadState(state);
        return;
    }
    Model.SetReadState(n, state);
}

void TThreadView::LoadArticles(TConfigClass* groupNode)
{
    struct LoadingGuard {
        bool& flag;
        explicit LoadingGuard(bool& f) : flag(f) { flag = true; }
        ~LoadingGuard() { flag = false; }
    } guard(Loading);
    ClearArticleView();
    if (OnClearMessagePane)
        OnClearMessagePane(this);
    TConfigClass* group = groupNode;
    if (!group)
        return;
    if (!group->Articles) {
        auto list = std::make_unique<TArticleList>(group);
        if (!list->LoadFromFile(group->FilePath()))
            return;
        group->Articles = std::move(list);
    }
    TArticleList* list = group->Articles.get();
    std::weak_ptr<bool> alive = aliveToken;
    list->OnRecordChanged = [this, alive](TArticleList* l, TArticleClass* r) {
        if (!alive.expired())
            recordChanged(l, r);
    };
    const bool updates = View->updatesEnabled();
    View->setUpdatesEnabled(false);
    list->Sort();
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    // Placeholders join the list while it is walked, so the count is read each time.
    Model.Loading = true;
    for (int i = 0; i < list->Count(); ++i) {
        Model.Place(list->At(i), true);
        if (sinceEvents.elapsed() >= 50) {
            TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
            sinceEvents.restart();
            if (group->Articles.get() != list) {
                // The group's records were replaced meanwhile: what was placed is gone.
                Model.Clear();
                View->setUpdatesEnabled(updates);
                return;
            }
        }
    }
    buildItems();
    int newCount = 0;
    const std::vector<QTreeWidgetItem*> items = Items();
    const std::vector<TThreadModel::TNode*> shown = Model.Nodes();
    for (size_t i = 0; i < shown.size() && i < items.size(); ++i) {
        TThreadModel::TNode* n = shown[i];
        if (n->rec->Expanded == 1 && !n->children.empty()) {
            n->expanded = true;
            items[i]->setExpanded(true);
        }
        newCount += n->rec->ReadState == 1 ? 1 : 0;
    }
    for (TThreadModel::TNode* top : Model.Tops())
        Model.ApplyCollapsedStyle(top);
    group->SetGroupCaption(newCount, Model.Count());
    View->setUpdatesEnabled(updates);
}

void TThreadView::ShowGroup(TConfigClass* groupNode)
{
    TTrace trace(QStringLiteral("ShowGroup"));
    {
        TProgressWindow working(View->window(), QStringLiteral("Working ..."), TProgressWindow::NoOptions,
                                QStringLiteral("Working ..."));
        working.ShowNow();
        View->setUpdatesEnabled(false);
        try {
            LoadArticles(groupNode);
        } catch (...) {
            View->setUpdatesEnabled(true);
            throw;
        }
        View->setUpdatesEnabled(true);
        TConfigClass* group = groupNode;
        if (group && Model.Count() > 1) {
            Loading = true;
            View->doItemsLayout(); // the scroll range is known only once the rows are laid out
            View->verticalScrollBar()->setValue(group->ScrollPos);
            Loading = false;
        }
    }
    GroupNode = groupNode;
    TBusyGuard::ProcessEvents();
}

void TThreadView::SaveArticles(TConfigClass* groupNode)
{
    if (!groupNode)
        throw EVorlixError(QStringLiteral("SaveArticles received group node = nil"));
    TConfigClass* group = groupNode;
    std::vector<const TArticleClass*> records;
    records.reserve(size_t(Model.Count()));
    int newCount = 0;
    for (QTreeWidgetItem* item : Items()) {
        const TArticleClass* r = RecordOf(item);
        records.push_back(r);
        newCount += r->ReadState == 1 ? 1 : 0;
    }
    const int shown = int(records.size());
    // A stored record that the view could not show is still written, never dropped.
    if (group && group->Articles && group->Articles->Count() > shown) {
        for (int i = 0; i < group->Articles->Count(); ++i) {
            const TArticleClass* r = group->Articles->At(i);
            if (!Model.Contains(r))
                records.push_back(r);
        }
    }
    if (!group)
        throw EVorlixError(QStringLiteral("SaveArticles received a node that is no newsgroup"));
    SaveArticleLines(group->FilePath(), records);
    group->SetGroupCaption(newCount, shown);
}

void TThreadView::saveShown()
{
    SaveArticles(GroupNode);
}

void TThreadView::recordChanged(TArticleList*, TArticleClass* record)
{
    const TThreadModel::TNode* n = Model.NodeOf(record);
    if (!n)
        return;
    if (QTreeWidgetItem* item = itemOfNode(n))
        RefreshItem(item);
    // Its message ID, subject or references may have changed: index the view anew.
    Model.Reindex();
}

void TThreadView::ItemExpandedChanged(QTreeWidgetItem* item, bool expanded)
{
    TThreadModel::TNode* n = Model.NodeOf(RecordOf(item));
    if (!n)
        return;
    if (Loading) {
        n->expanded = expanded;
        return;
    }
    Model.SetExpanded(n, expanded);
    if (!expanded) {
        std::vector<QTreeWidgetItem*> stack;
        for (int i = 0; i < item->childCount(); ++i)
            stack.push_back(item->child(i));
        while (!stack.empty()) {
            QTreeWidgetItem* c = stack.back();
            stack.pop_back();
            c->setSelected(false);
            for (int i = 0; i < c->childCount(); ++i)
                stack.push_back(c->child(i));
        }
    }
    RunCommand(QStringLiteral("ItemExpandedChanged"), [this] { saveShown(); });
}

void TThreadView::ClickItem(QTreeWidgetItem* item, int column)
{
    if (Loading || !item)
        return;
    if (column >= ColSubject && column <= ColDate) {
        if (OnItemClicked)
            OnItemClicked(this, item);
        return;
    }
    TThreadModel::TNode* n = Model.NodeOf(RecordOf(item));
    if (!n)
        return;
    if (column == ColWatch) {
        Model.ClickWatch(n);
    } else if (column == ColSpeak) {
        for (TThreadModel::TNode* changed : Model.ClickSpeak(n)) {
            if (OnSpeakMarkChanged)
                OnSpeakMarkChanged(this, changed->rec);
        }
    } else {
        return;
    }
    RunCommand(QStringLiteral("MouseDown"), [this] { saveShown(); });
}

bool TThreadView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == View->viewport() && event->type() == QEvent::MouseButtonPress && !Loading) {
        auto* me = static_cast<QMouseEvent*>(event);
        if (View->selectedItems().size() > 1 && OnClearMessagePane)
            OnClearMessagePane(this);
        UtilsClass::Log(QStringLiteral("Processing MouseDown"));
        const QPoint pos = me->position().toPoint();
        QTreeWidgetItem* item = View->itemAt(pos);
        const int column = View->header()->logicalIndexAt(pos.x());
        if (item && column >= 0) {
            // The expand button lies in the indentation of the subject column.
            bool onButton = false;
            if (column == ColSubject) {
                const QRect cell = View->visualItemRect(item);
                const int sectionLeft = View->header()->sectionViewportPosition(ColSubject);
                int depth = 0;
                for (QTreeWidgetItem* p = item->parent(); p; p = p->parent())
                    ++depth;
                const int indentEnd = sectionLeft + (depth + (View->rootIsDecorated() ? 1 : 0)) * View->indentation();
                onButton = pos.x() < indentEnd && pos.x() >= sectionLeft && cell.contains(pos);
            }
            if (!onButton)
                ClickItem(item, column);
        }
    }
    return QObject::eventFilter(watched, event);
}

void TThreadView::HeaderClicked(int column)
{
    if (column == ColSpeak)
        Dialogs().ShowMessage(SpeakColumnInfo, TMessageKind::Information);
    else if (column == ColWatch)
        Dialogs().ShowMessage(WatchColumnInfo, TMessageKind::Information);
}

void TThreadView::MarkSelectedSpeak(int mark)
{
    for (QTreeWidgetItem* item : View->selectedItems()) {
        if (TThreadModel::TNode* n = Model.NodeOf(RecordOf(item)))
            Model.MarkSpeak(n, mark);
    }
    RunCommand(QStringLiteral("MarkSelected"), [this] { saveShown(); });
}

void TThreadView::MarkSelectedRead(int state)
{
    for (QTreeWidgetItem* item : View->selectedItems()) {
        if (TThreadModel::TNode* n = Model.NodeOf(RecordOf(item)))
            Model.MarkRead(n, state);
    }
    RunCommand(QStringLiteral("MarkSelectedRead"), [this] { saveShown(); });
}

void TThreadView::WatchSelected(bool watch)
{
    const bool updates = View->updatesEnabled();
    View->setUpdatesEnabled(false);
    bool anyTop = false;
    for (QTreeWidgetItem* item : View->selectedItems()) {
        if (TThreadModel::TNode* n = Model.NodeOf(RecordOf(item)))
            anyTop = Model.SetWatch(n, watch) || anyTop;
    }
    View->setUpdatesEnabled(updates);
    if (!anyTop) {
        Dialogs().ShowMessage(QStringLiteral("Select at least one message header at the top of a thread"));
        return;
    }
    RunCommand(QStringLiteral("WatchSelected"), [this] { saveShown(); });
}

void TThreadView::SelectAll()
{
    ++focusSuppressed;
    View->selectAll();
    --focusSuppressed;
}

void TThreadView::DeselectAll()
{
    if (View->topLevelItemCount() == 0 || View->selectedItems().isEmpty())
        return;
    ++focusSuppressed;
    View->clearSelection();
    --focusSuppressed;
}

void TThreadView::FocusFirstNew()
{
    const TThreadModel::TFocusChoice choice = Model.FirstNewChoice();
    if (!choice.scrollTo)
        return;
    if (choice.expand)
        Model.Expand(choice.expand, true);
    if (QTreeWidgetItem* item = itemOfNode(choice.scrollTo))
        View->scrollToItem(item);
}

void TThreadView::DeleteOldThreads()
{
    TTrace trace(QStringLiteral("DeleteOldThreads"));
    TProgressWindow working(View->window(), QStringLiteral("Working ..."), TProgressWindow::NoOptions,
                            QStringLiteral("Deleting old threads"));
    working.ShowNow();
    const bool updates = View->updatesEnabled();
    View->setUpdatesEnabled(false);
    const int days = Store && Store->HasItem(QStringLiteral("MsgDeleteDays"))
        ? Store->GetValue(QStringLiteral("MsgDeleteDays")).toInt()
        : 30;
    const std::vector<const TArticleClass*> taken = Model.TakeOldThreads(days, TDateTime::Now().Value);
    if (!taken.empty()) {
        const QSet<const TArticleClass*> gone(taken.begin(), taken.end());
        if (TConfigClass* g = Group(); g && g->Articles)
            g->Articles->RemoveIf([&](TArticleClass* r) { return gone.contains(r); });
        Model.Reindex();
    }
    RunCommand(QStringLiteral("DeleteOldThreads"), [this] { saveShown(); });
    View->setUpdatesEnabled(updates);
}
