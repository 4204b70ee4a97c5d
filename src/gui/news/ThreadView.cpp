#include "gui/news/ThreadView.h"

#include "news/NewsStore.h"
#include "gui/app/ProgressWindow.h"
#include "gui/app/RunCommand.h"
#include "gui/news/NewsIcons.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QStyle>
#include <QHeaderView>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSet>
#include <QStyledItemDelegate>
#include <QItemSelectionModel>
#include <QTreeView>
#include <cmath>

namespace {
constexpr int MarkRole = TArticleModel::MarkRole;
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

TThreadView::TThreadView(QTreeView* view, TBaseRegistryClass* store)
    : View(view), Store(store)
{
    // Taking a row out moves the view's focus; that is no focus by the user.
    auto aboutToRemove = Model.OnRowAboutToBeRemoved;
    Model.OnRowAboutToBeRemoved = [this, aboutToRemove](TThreadModel* m, TNode* parent, int row) {
        ++focusSuppressed;
        aboutToRemove(m, parent, row);
    };
    auto removed = Model.OnRowRemoved;
    Model.OnRowRemoved = [this, removed](TThreadModel* m, TNode* parent, int row) {
        removed(m, parent, row);
        --focusSuppressed;
    };
    Model.OnWatchedReply = [this](TThreadModel*, TNode* node, bool asChild) {
        if (asChild)
            SetReadStateShown(node->rec, 1, node);
        // Its speak mark is new either way: the row is drawn again with the mark's picture.
        RefreshItem(node);
    };
    Model.OnExpandedChanged = [this](TThreadModel*, TNode* node, bool expanded) {
        View->setExpanded(IndexOf(node, ColSpeak), expanded);
    };
    Articles.SetBaseFont(View->font());
    View->setModel(&Articles);
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
    // The subject takes what the other columns leave; a date is never cut off (the widest
    // one, in the bold font of an unread article, fits).
    View->header()->setSectionResizeMode(ColSubject, QHeaderView::Stretch);
    if (View->columnWidth(ColDate) < DateColumnWidth())
        View->setColumnWidth(ColDate, DateColumnWidth());
    View->viewport()->installEventFilter(this);

    connect(View, &QTreeView::expanded, this, [this](const QModelIndex& i) { ItemExpandedChanged(NodeOf(i), true); });
    connect(View, &QTreeView::collapsed, this, [this](const QModelIndex& i) { ItemExpandedChanged(NodeOf(i), false); });
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
    connect(View->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) {
                TNode* n = NodeOf(current);
                if (Loading || focusSuppressed > 0 || !n || !OnItemFocused)
                    return;
                OnItemFocused(this, n);
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

TThreadView::TNode* TThreadView::CurrentNode() const
{
    return NodeOf(View->currentIndex());
}

void TThreadView::SetCurrentNode(TNode* node)
{
    View->setCurrentIndex(IndexOf(node));
}

void TThreadView::GoToNode(TNode* node)
{
    if (!node || Model.NodeOf(node->rec) != node)
        return;
    std::vector<TNode*> above;
    for (TNode* p = node->parent; p; p = p->parent)
        above.push_back(p);
    for (auto it = above.rbegin(); it != above.rend(); ++it)
        Model.Expand(*it, true);
    const QModelIndex index = IndexOf(node);
    View->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    View->scrollTo(index);
}

void TThreadView::SetFilter(const QString& text)
{
    if (text == Articles.Filter())
        return;
    TNode* current = CurrentNode();
    const std::vector<TNode*> selected = SelectedNodes();
    ++focusSuppressed;
    const bool loading = Loading;
    Loading = true; // the expansion given back below is the nodes' own, nothing to save
    const bool updates = View->updatesEnabled();
    View->setUpdatesEnabled(false);
    Articles.SetFilter(text);
    // The view forgot which rows were open; the nodes remember.
    for (int row = 0, rows = Articles.rowCount(); row < rows; ++row) {
        TNode* top = NodeOf(Articles.index(row, ColSpeak));
        for (TNode* n = top; n && (n == top || n->parent); n = n->gnext) {
            if (n->expanded && !n->children.empty())
                View->setExpanded(IndexOf(n, ColSpeak), true);
        }
    }
    if (current && Articles.IsShown(current)) {
        View->selectionModel()->setCurrentIndex(IndexOf(current), QItemSelectionModel::NoUpdate);
        for (TNode* n : selected) {
            if (Articles.IsShown(n))
                View->selectionModel()->select(IndexOf(n, ColSpeak), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
        View->scrollTo(IndexOf(current));
    }
    View->setUpdatesEnabled(updates);
    Loading = loading;
    --focusSuppressed;
}

TThreadView::TNode* TThreadView::NextNewShown(const TNode* after) const
{
    TNode* n = Model.NextNew(after);
    while (n && !Articles.IsShown(n))
        n = Model.NextNew(n);
    return n;
}

std::vector<TThreadView::TNode*> TThreadView::SelectedNodes() const
{
    std::vector<TNode*> out;
    for (const QModelIndex& i : View->selectionModel()->selectedRows(ColSpeak)) {
        if (TNode* n = NodeOf(i))
            out.push_back(n);
    }
    return out;
}

bool TThreadView::IsExpanded(const TNode* node) const
{
    return node && View->isExpanded(IndexOf(node, ColSpeak));
}

bool TThreadView::IsSelected(const TNode* node) const
{
    return node && View->selectionModel()->isRowSelected(node->row, Articles.parent(IndexOf(node, ColSpeak)));
}

QString TThreadView::Text(const TNode* node, int column) const
{
    return IndexOf(node, column).data(Qt::DisplayRole).toString();
}

QFont TThreadView::Font(const TNode* node, int column) const
{
    const QVariant f = IndexOf(node, column).data(Qt::FontRole);
    return f.isValid() ? f.value<QFont>() : View->font();
}

void TThreadView::RefreshItem(TNode* node)
{
    if (node)
        Model.Changed(node);
}

TThreadView::TNode* TThreadView::AddArticleToTree(TArticleClass* record)
{
    Model.Loading = Loading;
    return Model.Place(record, false);
}

void TThreadView::ClearArticleView()
{
    ++focusSuppressed;
    if (!Articles.Filter().isEmpty()) {
        Articles.SetFilter(QString());
        if (OnFilterCleared)
            OnFilterCleared(this);
    }
    Model.Clear();
    --focusSuppressed;
    GroupNode = nullptr;
}

bool TThreadView::HasNewChild(const TNode* node) const
{
    return node && TThreadModel::HasNewChild(node);
}

void TThreadView::SetReadStateShown(TArticleClass* record, int state, TNode* node)
{
    TNode* n = node && Model.NodeOf(node->rec) == node ? node : nullptr;
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
    Model.BeginBulk();
    for (int i = 0; i < list->Count(); ++i) {
        Model.PrefetchAhead(*list, i);
        Model.Place(list->At(i), true);
        if (sinceEvents.elapsed() >= 50) {
            TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
            sinceEvents.restart();
            if (group->Articles.get() != list) {
                // The group's records were replaced meanwhile: what was placed is gone.
                Model.Clear();
                Model.EndBulk();
                View->setUpdatesEnabled(updates);
                return;
            }
        }
    }
    Model.EndBulk();
    int newCount = 0;
    for (TNode* n : Model.Nodes()) {
        if (n->rec->Expanded == 1 && !n->children.empty()) {
            n->expanded = true;
            View->setExpanded(IndexOf(n, ColSpeak), true);
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
    for (const TNode* n : Model.Nodes()) {
        const TArticleClass* r = n->rec;
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
    SaveArticleLines(group->FilePath(), records,
                     group->Articles ? group->Articles->UnreadableLines() : QStringList());
    group->SetGroupCaption(newCount, shown);
}

void TThreadView::saveShown()
{
    SaveArticles(GroupNode);
}

void TThreadView::recordChanged(TArticleList*, TArticleClass* record)
{
    TNode* n = Model.NodeOf(record);
    if (!n)
        return;
    RefreshItem(n);
    // Its message ID, subject or references may have changed: index the view anew.
    Model.Reindex();
}

void TThreadView::deselectBelow(const TNode* node)
{
    QItemSelectionModel* sel = View->selectionModel();
    std::vector<const TNode*> stack(node->children.begin(), node->children.end());
    while (!stack.empty()) {
        const TNode* c = stack.back();
        stack.pop_back();
        if (IsSelected(c))
            sel->select(IndexOf(c, ColSpeak), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        stack.insert(stack.end(), c->children.begin(), c->children.end());
    }
}

void TThreadView::ItemExpandedChanged(TNode* node, bool expanded)
{
    TNode* n = node && Model.NodeOf(node->rec) == node ? node : nullptr;
    if (!n)
        return;
    if (Loading) {
        n->expanded = expanded;
        return;
    }
    Model.SetExpanded(n, expanded);
    if (!expanded)
        deselectBelow(n);
    RunCommand(QStringLiteral("ItemExpandedChanged"), [this] { saveShown(); });
}

void TThreadView::ClickItem(TNode* node, int column)
{
    if (Loading || !node)
        return;
    if (column >= ColSubject && column <= ColDate) {
        if (OnItemClicked)
            OnItemClicked(this, node);
        return;
    }
    TNode* n = Model.NodeOf(node->rec) == node ? node : nullptr;
    if (!n)
        return;
    if (column == ColWatch) {
        Model.ClickWatch(n);
    } else if (column == ColSpeak) {
        for (TNode* changed : Model.ClickSpeak(n)) {
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
        if (View->selectionModel()->selectedRows(ColSpeak).size() > 1 && OnClearMessagePane)
            OnClearMessagePane(this);
        UtilsClass::Log(QStringLiteral("Processing MouseDown"));
        const QPoint pos = me->position().toPoint();
        const QModelIndex at = View->indexAt(pos);
        TNode* item = NodeOf(at);
        const int column = View->header()->logicalIndexAt(pos.x());
        if (item && column >= 0) {
            // The expand button lies in the indentation of the subject column.
            bool onButton = false;
            if (column == ColSubject) {
                const QRect cell = View->visualRect(at);
                const int sectionLeft = View->header()->sectionViewportPosition(ColSubject);
                int depth = 0;
                for (const TNode* p = item->parent; p; p = p->parent)
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
    for (TNode* n : SelectedNodes())
        Model.MarkSpeak(n, mark);
    RunCommand(QStringLiteral("MarkSelected"), [this] { saveShown(); });
}

void TThreadView::MarkSelectedRead(int state)
{
    for (TNode* n : SelectedNodes())
        Model.MarkRead(n, state);
    RunCommand(QStringLiteral("MarkSelectedRead"), [this] { saveShown(); });
}

void TThreadView::WatchSelected(bool watch)
{
    const bool updates = View->updatesEnabled();
    View->setUpdatesEnabled(false);
    bool anyTop = false;
    for (TNode* n : SelectedNodes())
        anyTop = Model.SetWatch(n, watch) || anyTop;
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
    if (Model.Tops().empty() || !View->selectionModel()->hasSelection())
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
    View->scrollTo(IndexOf(choice.scrollTo));
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

int TThreadView::DateColumnWidth() const
{
    QFont bold = View->font();
    bold.setBold(true);
    const QFontMetrics metrics(bold);
    // Wide digits in every place: 28 December 2028, 20:28:28.
    const QDateTime widest(QDate(2028, 12, 28), QTime(20, 28, 28));
    const int margins = 2 * View->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, View) + 12;
    return metrics.horizontalAdvance(TArticleClass::DateText(TDateTime::FromQDateTime(widest))) + margins;
}
