#include "gui/app/UsenetUnit.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/RegistryEnhanced.h"
#include "gui/app/WindowService.h"
#include "gui/app/NewsCommands.h"
#include "gui/app/RunCommand.h"
#include "core/RegistryUnit.h"
#include "gui/app/DesktopDocuments.h"
#include "gui/app/MessagePane.h"
#include "gui/app/KeyboardAccess.h"
#include "gui/app/WindowPlacement.h"
#include "gui/app/TipOfDayUnit.h"
#include "gui/dialogs/GroupDialog.h"
#include "gui/dialogs/NewsGroupTreeView.h"
#include "gui/dialogs/ServerDialog.h"
#include "gui/news/NewsIcons.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "nntp/NntpCli.h"
#include "speaking/SpeakRun.h"
#include "speech/TBaseTTSUnit.h"
#include "gui/news/ThreadView.h"
#include "gui/nntp/PostReplyUnit.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"
#include "mpris/MprisPlayer.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QLineEdit>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QMouseEvent>
#include <QScrollBar>
#include <QFile>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSplashScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTextBrowser>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

bool TForm1::Shown = false;

namespace {
QPixmap splashPicture()
{
    QPixmap pm(360, 160);
    pm.fill(QColor(32, 64, 112));
    QPainter p(&pm);
    p.setPen(Qt::white);
    QFont f = p.font();
    f.setPointSize(28);
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 20, 360, 70), Qt::AlignCenter, QStringLiteral("Vorlix"));
    f.setPointSize(11);
    f.setBold(false);
    p.setFont(f);
    p.drawText(QRect(0, 90, 360, 40), Qt::AlignCenter, QStringLiteral("The newsreader that speaks"));
    return pm;
}
}

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("tmpVorlix"));

    // Controls: server tree | (article view / message page).
    splitVertical = new QSplitter(Qt::Horizontal, this);
    splitVertical->setObjectName(QStringLiteral("Splitter1"));
    tvServers = new QTreeWidget(splitVertical);
    tvServers->setObjectName(QStringLiteral("tvServers"));
    tvServers->setHeaderHidden(true);
    // Captions are never cut short: the column is as wide as the longest one, and a narrow
    // tree scrolls sideways instead.
    tvServers->header()->setStretchLastSection(false);
    tvServers->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    tvServers->setTextElideMode(Qt::ElideNone);
    tvServers->setContextMenuPolicy(Qt::CustomContextMenu);
    tvServers->setAccessibleName(QStringLiteral("Servers and newsgroups"));
    pnlRight = new QWidget(splitVertical);
    pnlRight->setObjectName(QStringLiteral("pnlRight"));
    auto* rightLayout = new QVBoxLayout(pnlRight);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    // Finding in the group: typing filters the article view by subject or author.
    auto* findRow = new QHBoxLayout;
    findRow->setContentsMargins(2, 2, 2, 2);
    edFind = new QLineEdit(pnlRight);
    edFind->setObjectName(QStringLiteral("edFind"));
    edFind->setClearButtonEnabled(true);
    edFind->setPlaceholderText(QStringLiteral("Subject or author"));
    edFind->setAccessibleName(QStringLiteral("Find in the newsgroup"));
    edFind->setAccessibleDescription(QStringLiteral("Shows only the threads with an article whose subject or author holds the text"));
    auto* findLabel = new QLabel(QStringLiteral("F&ind:"), pnlRight);
    findLabel->setBuddy(edFind);
    findRow->addWidget(findLabel);
    findRow->addWidget(edFind, 1);
    rightLayout->addLayout(findRow);
    splitHorizontal = new QSplitter(Qt::Vertical, pnlRight);
    splitHorizontal->setObjectName(QStringLiteral("Splitter2"));
    rightLayout->addWidget(splitHorizontal);
    tvArticles = new QTreeView(splitHorizontal);
    tvArticles->setObjectName(QStringLiteral("tvArticles"));
    tvArticles->setTreePosition(1);
    tvArticles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvArticles->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvArticles->setSortingEnabled(false);
    tvArticles->setContextMenuPolicy(Qt::CustomContextMenu);
    tvArticles->header()->setStretchLastSection(false);
    tvArticles->setAccessibleName(QStringLiteral("Articles"));
    tvArticles->setAccessibleDescription(QStringLiteral("The threads of the selected newsgroup"));
    pgMessage = new QTabWidget(splitHorizontal);
    pgMessage->setObjectName(QStringLiteral("pgMessage"));
    pgMessage->setAccessibleName(QStringLiteral("Message page"));
    MessagePane = new TMessagePane;
    memoMessage = MessagePane->Body;
    pgMessage->addTab(MessagePane, QStringLiteral("Message"));
    // The pane is reached with Tab like every control, scrolls with the keys and passes Tab on.
    memoMessage->setFocusPolicy(Qt::StrongFocus);
    memoMessage->setTabChangesFocus(true);
    pgMessage->tabBar()->hide();
    // Tab goes from the server tree to the find field, the article view and the message pane.
    pgMessage->setFocusPolicy(Qt::NoFocus);
    pgMessage->tabBar()->setFocusPolicy(Qt::NoFocus);
    setTabOrder(tvServers, edFind);
    setTabOrder(edFind, tvArticles);
    setTabOrder(tvArticles, memoMessage);
    // Extra width goes to the article view and the message pane, never to the server tree.
    splitVertical->setStretchFactor(0, 0);
    splitVertical->setStretchFactor(1, 1);
    splitHorizontal->setStretchFactor(0, 0);
    splitHorizontal->setStretchFactor(1, 1);
    setCentralWidget(splitVertical);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setInterval(3000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    findPrepare = new QTimer(this);
    findPrepare->setObjectName(QStringLiteral("findPrepare"));
    findPrepare->setInterval(10);
    connect(findPrepare, &QTimer::timeout, this, [this] {
        if (!ThreadView) {
            findPrepare->stop();
            return;
        }
        // Not while a group is being placed: every record placed would start it again.
        if (ThreadView->Loading || TBusyGuard::Busy())
            return;
        // Slices short enough that typing stays smooth.
        if (ThreadView->Model.PrepareFindText(15))
            findPrepare->stop();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now == edFind && ThreadView && ThreadView->Model.Count() > 0)
            findPrepare->start();
    });

    KeyboardAccess::Install();
    buildCommands();
    buildStatusBar();
    guardInput(tvServers);
    guardInput(tvArticles);
    memoMessage->installEventFilter(this);

    connect(splitHorizontal, &QSplitter::splitterMoved, this, [this] {
        Store->SetValue(QStringLiteral("MsgHeaderHeight"), tvArticles->height());
    });
    connect(splitVertical, &QSplitter::splitterMoved, this, [this] {
        Store->SetValue(QStringLiteral("MsgPanelWidth"), pnlRight->width());
        Store->SetValue(QStringLiteral("MsgTreeWidth"), tvServers->width());
    });
    connect(tvArticles->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (!Loading && column >= 0 && column < 5)
            Store->SetValue(QStringLiteral("MsgHeaderWidth%1").arg(column), size);
    });
    connect(tvServers, &QTreeWidget::currentItemChanged, this, [this] { UpdateCommands(); });
    connect(tvServers, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (TBusyGuard::Busy())
            return;
        popServers->popup(tvServers->viewport()->mapToGlobal(pos));
    });
    connect(tvArticles, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (TBusyGuard::Busy())
            return;
        popArticles->popup(tvArticles->viewport()->mapToGlobal(pos));
    });

    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

// ---------------------------------------------------------------- commands

QAction* TForm1::entryOf(const TCommandDef& def, TCommandPlace place)
{
    const QString& text = def.Text[int(place)];
    auto* a = new QAction(text, this);
    if (place == TCommandPlace::Toolbar) {
        a->setToolTip(text);
        const QIcon icon = CommandIcon(def.Id, def.Picture, style());
        if (!icon.isNull())
            a->setIcon(icon);
        a->setCheckable(def.Checkable);
    }
    if (place == TCommandPlace::Menu && !def.Shortcut.isEmpty())
        a->setShortcut(def.Shortcut);
    a->setEnabled(false);
    connect(a, &QAction::triggered, this, [this, &def] { runCommand(def); });
    entries.push_back({a, place, &def});
    return a;
}

QMenu* TForm1::buildMenu(const TCommandLayout& layout, QMenu* menu)
{
    menu->setObjectName(layout.ObjectName);
    const std::vector<TCommandDef>& commands = MainWindowCommands();
    for (const QString& id : layout.Ids) {
        if (id == QLatin1String("|")) {
            menu->addSeparator();
            continue;
        }
        for (const TCommandDef& def : commands) {
            if (def.Id == id)
                menu->addAction(entryOf(def, layout.Place));
        }
    }
    connect(menu, &QMenu::aboutToShow, this, &TForm1::UpdateCommands);
    KeyboardAccess::PrepareMenu(menu);
    return menu;
}

void TForm1::buildCommands()
{
    for (const TCommandLayout& layout : MainWindowMenus()) {
        QMenu* menu = buildMenu(layout, menuBar()->addMenu(layout.Title));
        if (layout.ObjectName == QLatin1String("mnuEdit"))
            mnuEdit = menu;
    }
    popServers = buildMenu(ServerPopupLayout(), new QMenu(this));
    popArticles = buildMenu(ArticlePopupLayout(), new QMenu(this));

    const TCommandLayout& bar = MainWindowToolbar();
    toolBar = addToolBar(bar.Title);
    toolBar->setObjectName(bar.ObjectName);
    toolBar->setMovable(false);
    for (const QString& id : bar.Ids) {
        if (id == QLatin1String("|")) {
            toolBar->addSeparator();
            continue;
        }
        for (const TCommandDef& def : MainWindowCommands()) {
            if (def.Id == id)
                toolBar->addAction(entryOf(def, TCommandPlace::Toolbar));
        }
    }
    // A command with a handler is there from the start; the others wait for theirs.
    for (const TCommandDef& def : MainWindowCommands()) {
        if (def.Handler)
            availableCommands << def.Id;
    }
}

void TForm1::runCommand(const TCommandDef& def)
{
    // While the program is busy (events are let run in the middle of a job) commands are held
    // back; the job re-checks its target when it goes on.
    if (TBusyGuard::Busy() && !def.LiveWhileBusy) {
        UtilsClass::Log(QStringLiteral("Command held back while busy: ") + def.Id);
        return;
    }
    if (!availableCommands.contains(def.Id))
        return;
    if (const auto bound = boundHandlers.constFind(def.Id); bound != boundHandlers.constEnd())
        RunCommand(def.Id, *bound);
    else if (def.Handler)
        RunCommand(def.Id, [this, &def] { (this->*def.Handler)(); });
}

void TForm1::UpdateCommands()
{
    TCommandState state;
    state.SelectedKind = ServerTree ? ServerTree->SelectedKind() : int(ckUnknown);
    state.HasServers = tvServers->topLevelItemCount() > 0;
    if (QAction* a = Command(QStringLiteral("SpeakSelAloud"), TCommandPlace::Toolbar))
        state.SpeakSelected = a->isEnabled();
    if (QAction* a = Command(QStringLiteral("SpeakMarkAloud"), TCommandPlace::Toolbar))
        state.SpeakMarked = a->isEnabled();
    state.MsgsToRetrieve = Store ? Store->GetValue(QStringLiteral("MsgsToRetrieve")).toInt() : 0;
    for (TEntry& e : entries) {
        if (e.Def->TextRule) {
            const QString text = e.Def->TextRule(e.Place, state);
            if (!text.isEmpty())
                e.Action->setText(text);
        }
        const bool available = availableCommands.contains(e.Def->Id)
                                && speechEnabled.value(e.Def->Id + QLatin1Char('/') + QString::number(int(e.Place)), true);
        std::optional<bool> rule = e.Def->Rule ? e.Def->Rule(e.Place, state) : std::optional<bool>(true);
        if (!rule)
            rule = e.Action->property("vorlixRule").isValid() ? e.Action->property("vorlixRule").toBool() : true;
        e.Action->setProperty("vorlixRule", *rule);
        e.Action->setEnabled(available && *rule);
    }
    // A caption set by its rule gets its Alt-letter back.
    KeyboardAccess::PrepareMenu(popServers);
}

void TForm1::SetCommandAvailable(const QString& id, bool available)
{
    availableCommands.removeAll(id);
    if (available)
        availableCommands << id;
    UpdateCommands();
}

void TForm1::BindCommand(const QString& id, std::function<void()> handler)
{
    boundHandlers.insert(id, std::move(handler));
    SetCommandAvailable(id, true);
}

bool TForm1::CommandAvailable(const QString& id) const
{
    return availableCommands.contains(id);
}

QAction* TForm1::Command(const QString& id, TCommandPlace place) const
{
    for (const TEntry& e : entries) {
        if (e.Place == place && e.Def->Id == id)
            return e.Action;
    }
    return nullptr;
}

QList<QAction*> TForm1::Commands() const
{
    QList<QAction*> out;
    for (const TEntry& e : entries)
        out << e.Action;
    return out;
}

QAction* TForm1::FindCommand(const QString& textOrHint) const
{
    for (const TEntry& e : entries) {
        if (e.Action->text() == textOrHint || QString(e.Action->text()).remove(QLatin1Char('&')) == textOrHint
            || e.Action->toolTip() == textOrHint)
            return e.Action;
    }
    return nullptr;
}

void TForm1::SetToolbarDisabled(bool disabled)
{
    toolBar->setEnabled(!disabled);
    mnuEdit->menuAction()->setEnabled(!disabled);
    mnuEdit->setEnabled(!disabled);
    toolbarDisabled = disabled;
}

// ---------------------------------------------------------------- input guard

void TForm1::guardInput(QAbstractItemView* tree)
{
    tree->installEventFilter(this);
    tree->viewport()->installEventFilter(this);
}

bool TForm1::inputHeldBack() const
{
    return TBusyGuard::Busy() || (News && !News->SelectionChangeAllowed());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* tree = nullptr;
    if (watched == tvServers || watched == tvServers->viewport())
        tree = tvServers;
    else if (watched == tvArticles || watched == tvArticles->viewport())
        tree = tvArticles;
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease:
        if (!tree)
            break;
        // While the program is busy every click is held back; while a news job runs only
        // those that would move the selection (and the current item) of either tree.
        if (TBusyGuard::Busy())
            return true;
        if (inputHeldBack())
            return heldBackMouse(tree, event);
        break;
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((watched == tvArticles || watched == memoMessage || watched == tvServers)
            && readingKey(key, watched != tvServers))
            return true;
        if (!tree)
            break;
        if (TBusyGuard::Busy())
            // Tab keeps moving the focus between controls; every other key may move the selection.
            return key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab;
        if (inputHeldBack())
            return heldBackKey(tree, key);
        break;
    }
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TForm1::heldBackMouse(QAbstractItemView* tree, QEvent* event)
{
    auto* view = qobject_cast<QTreeView*>(tree);
    if (!view || event->type() != QEvent::MouseButtonPress)
        return true;
    // The mark columns of the article view took their click already (the view's own handler
    // sees it first); the press itself would move the selection.
    const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
    const QModelIndex at = view->indexAt(pos);
    const int treeColumn = std::max(0, view->treePosition());
    if (!at.isValid() || view->header()->logicalIndexAt(pos.x()) != treeColumn)
        return true;
    // The expand button lies in the indentation, left of the cell's text.
    const QModelIndex cell = at.siblingAtColumn(treeColumn);
    const int left = view->header()->sectionViewportPosition(treeColumn);
    if (pos.x() >= left && pos.x() < view->visualRect(cell).left() && view->model()->hasChildren(at.siblingAtColumn(0))) {
        const QModelIndex first = at.siblingAtColumn(0);
        view->setExpanded(first, !view->isExpanded(first));
    }
    return true;
}

bool TForm1::heldBackKey(QAbstractItemView* tree, QKeyEvent* event)
{
    auto* view = qobject_cast<QTreeView*>(tree);
    const QModelIndex current = view ? view->currentIndex().siblingAtColumn(0) : QModelIndex();
    switch (event->key()) {
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    case Qt::Key_Plus:
    case Qt::Key_Right:
        if (current.isValid() && view->model()->hasChildren(current))
            view->setExpanded(current, true);
        return true;
    case Qt::Key_Minus:
    case Qt::Key_Left:
        if (current.isValid())
            view->setExpanded(current, false);
        return true;
    default:
        // Every other key may move the selection.
        return true;
    }
}

bool TForm1::readingKey(QKeyEvent* event, bool paging)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    if (mods != Qt::NoModifier)
        return false;
    if (event->key() == Qt::Key_N) {
        GoToNextUnread();
        return true;
    }
    if (event->key() == Qt::Key_Space && paging) {
        PageOrNextUnread();
        return true;
    }
    return false;
}

void TForm1::PageOrNextUnread()
{
    QScrollBar* bar = memoMessage->verticalScrollBar();
    if (bar->value() < bar->maximum()) {
        bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
        return;
    }
    GoToNextUnread();
}

void TForm1::GoToNextUnread()
{
    if (inputHeldBack() || !ThreadView || !NewsStore) {
        UtilsClass::Log(QStringLiteral("Next unread article held back while a job runs"));
        return;
    }
    TConfigClass* shown = ThreadView->GroupNode;
    if (shown && shown == NewsStore->SelectedEntry()) {
        if (TThreadModel::TNode* next = ThreadView->NextNewShown(ThreadView->CurrentNode())) {
            ThreadView->GoToNode(next);
            return;
        }
    }
    // The next newsgroup (in the tree's order) with unread articles, after the selected entry.
    const std::vector<TConfigClass*> all = NewsStore->AllEntries();
    TConfigClass* from = NewsStore->SelectedEntry();
    auto it = from ? std::find(all.begin(), all.end(), from) : all.begin();
    if (from && it != all.end())
        ++it;
    for (; it != all.end(); ++it) {
        TConfigClass* e = *it;
        if (e->Kind != ckNewsGroup || (!e->Articles && !QFile::exists(e->FilePath())))
            continue;
        bool unread = false;
        RunCommand(QStringLiteral("GoToNextUnread"), [&] { unread = e->EnsureArticles()->NewCount() > 0; });
        if (!unread)
            continue;
        NewsStore->Select(e);
        if (ThreadView->GroupNode == e && NewsStore->SelectedEntry() == e) {
            if (TThreadModel::TNode* first = ThreadView->NextNewShown(nullptr))
                ThreadView->GoToNode(first);
        }
        return;
    }
    SetStatusText(QStringLiteral("No more unread articles"));
}

void TForm1::buildStatusBar()
{
    statusBar()->setSizeGripEnabled(false);
    for (int i = 0; i < 3; ++i) {
        statusPanel[i] = new QLabel(this);
        statusPanel[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        statusPanel[i]->setFrameShape(QFrame::StyledPanel);
        statusPanel[i]->setFrameShadow(QFrame::Sunken);
        statusBar()->addWidget(statusPanel[i], i == 2 ? 1 : 0);
    }
    statusPanel[1]->setText(QStringLiteral(" "));
    statusPanel[2]->setText(QStringLiteral(" "));
    // The two indicators share panel 2: queue progress above, article progress below.
    QueueProgress = new QProgressBar(statusPanel[2]);
    QueueProgress->setObjectName(QStringLiteral("QueueProgress"));
    ArticleProgress = new QProgressBar(statusPanel[2]);
    ArticleProgress->setObjectName(QStringLiteral("ArticleProgress"));
    for (QProgressBar* p : {QueueProgress, ArticleProgress}) {
        p->setTextVisible(false);
        p->setFixedHeight(8);
        p->hide();
    }
}

void TForm1::placeProgress()
{
    const int w = statusPanel[2]->width();
    QueueProgress->setGeometry(0, 2, w, 8);
    // A run of one article shows only the article progress, at the full height.
    if (articleProgressFull) {
        ArticleProgress->setFixedHeight(15);
        ArticleProgress->setGeometry(0, 2, w, 15);
    } else {
        ArticleProgress->setFixedHeight(8);
        ArticleProgress->setGeometry(0, 10, w, 8);
    }
}

void TForm1::FormCreate()
{
    UtilsClass::Log(QStringLiteral("Entered FormCreate"));
    setWindowTitle(QStringLiteral("Vorlix"));
    auto* splashScreen = new QSplashScreen(splashPicture());
    splashScreen->setAttribute(Qt::WA_DeleteOnClose);
    splash = splashScreen;
    if (!qEnvironmentVariableIsSet("VORLIX_NO_SPLASH"))
        splashScreen->show();

    Activated = false;
    Store = std::make_unique<TMyRegistryClass>();
    Store->LoadAll();
    trustNewsCaFile();
    MessagePane->SetFixedFont(Store->GetValue(QStringLiteral("MessageFixedFont")).toBool());
    // Every NNTP connection made from now on keeps to the request limits of the settings.
    TNntpCli::SetDefaultLimits(Store->GetValue(QStringLiteral("MaxArticleBytes")).toLongLong(),
                               Store->GetValue(QStringLiteral("RequestTimeout")).toLongLong() * 1000);
    resize(1000, 700);
    RestoreWindowPlacement(this, QStringLiteral("Form1"));
    UtilsClass::Log(QStringLiteral("Vorlix Version: ") + Store->GetVersion());

    // Layout from the store.
    Loading = true;
    const int headerHeight = Store->GetValue(QStringLiteral("MsgHeaderHeight")).toInt();
    const int panelWidth = Store->GetValue(QStringLiteral("MsgPanelWidth")).toInt();
    splitHorizontal->setSizes({headerHeight, std::max(1, height() - headerHeight)});
    splitVertical->setSizes({std::max(1, width() - panelWidth), panelWidth});
    for (int k = 0; k < 5; ++k)
        tvArticles->setColumnWidth(k, Store->GetValue(QStringLiteral("MsgHeaderWidth%1").arg(k)).toInt());
    Loading = false;

    FormResize();

    bindNewsStore();
    bindNewsCommands();
    createSpeech();
    UpdateCommands();

    if (splash)
        splash->close();
    UtilsClass::Log(QStringLiteral("Exit FormCreate"));
}

void TForm1::FormShow()
{
    UtilsClass::Log(QStringLiteral("Entered FormShow"));
    // The panel sizes stored in pixels apply once the window has its real size.
    Loading = true;
    const int headerHeight = Store->GetValue(QStringLiteral("MsgHeaderHeight")).toInt();
    const int panelWidth = Store->GetValue(QStringLiteral("MsgPanelWidth")).toInt();
    const int vTotal = splitHorizontal->height();
    splitHorizontal->setSizes({headerHeight, std::max(1, vTotal - headerHeight - splitHorizontal->handleWidth())});
    // The tree keeps its own width; the right panel takes the rest of a wider window.
    const int hTotal = splitVertical->width() - splitVertical->handleWidth();
    int treeWidth = Store->GetValue(QStringLiteral("MsgTreeWidth")).toInt();
    if (treeWidth <= 0)
        treeWidth = 1000 - panelWidth - splitVertical->handleWidth();
    treeWidth = std::clamp(treeWidth, std::min(120, hTotal / 2), std::max(1, hTotal - 200));
    splitVertical->setSizes({treeWidth, std::max(1, hTotal - treeWidth)});
    Loading = false;

    NewsStore->LoadConfig();
    configLoaded = true;

    const QString server = Store->NewsServer.trimmed();
    if (!server.isEmpty()) {
        if (TConfigClass* e = NewsStore->FindByCaption(Store->NewsServer))
            NewsStore->Select(e);
    }
    if (NewsStore->ServerCount() > 0) {
        const QString showTips = ReadProgramValue(QStringLiteral("ShowTips"));
        if (showTips.isEmpty() || showTips == QLatin1String("Y"))
            ShowTipWindow();
    }
    Shown = true;
    NewsStore->Shown = true;
    FormResize();
    UtilsClass::Log(QStringLiteral("Exit FormShow"));
}

void TForm1::FormActivate()
{
    if (Activated)
        return;
    Activated = true;
    UtilsClass::Log(QStringLiteral("Entered FormActivate"));
    if (NewsStore->ServerCount() == 0 && CommandAvailable(QStringLiteral("AddServer")))
        poAddServerClick();
    UtilsClass::Log(QStringLiteral("Exit FormActivate"));
}

void TForm1::FormResize()
{
    const int w = width();
    const int w0 = int(std::lround(w * 0.25));
    const int w1 = int(std::lround(w * 0.55));
    statusPanel[0]->setFixedWidth(w0);
    statusPanel[1]->setFixedWidth(w1);
    statusPanel[2]->setMinimumWidth(std::max(0, w - w0 - w1));
    placeProgress();
}

void TForm1::FormClose()
{
    SaveWindowPlacement(this, QStringLiteral("Form1"));
    // The panel sizes as they are now, whether or not a splitter was dragged this session (a
    // resized window moves them too). A window closed before it was shown has none yet.
    if (configLoaded) {
        Store->SetValue(QStringLiteral("MsgHeaderHeight"), tvArticles->height());
        Store->SetValue(QStringLiteral("MsgPanelWidth"), pnlRight->width());
        Store->SetValue(QStringLiteral("MsgTreeWidth"), tvServers->width());
    }
    Store->SaveAll(); // writes the cached "NewsServer" and "ThreadFileOption" back first
    if (!TRegistryEnhanced::LastSaveError().isEmpty())
        Dialogs().ShowError(TRegistryEnhanced::LastSaveError());
}

void TForm1::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    Timer1->stop();
    // No processor event may reach the window while it is taken down.
    News.reset();
    Mpris.reset();
    Speaking.reset();
    if (Speech) {
        // The manager calls back into the window while it shuts its engines down.
        Speech->OnSpeechEvent = nullptr;
        if (Speech->IsBusy())
            Speech->Stop();
        Speech.reset();
    }
    // Only a tree that was loaded is written back: a window closed before it was shown
    // must not empty the configuration.
    if (configLoaded && NewsStore) {
        try {
            NewsStore->SaveConfig();
        } catch (const EVorlixError& e) {
            // The old file is still there (saves replace a file only when complete); the user
            // must know that this session's changes to it are lost.
            UtilsClass::Log(QStringLiteral("FormDestroy Exception: ") + e.message());
            Dialogs().ShowError(QStringLiteral("The server and newsgroup list could not be saved. ") + e.message()
                                + QStringLiteral("\nThe list as it was saved before is kept."));
        }
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!closedOnce) {
        closedOnce = true;
        FormClose();
    }
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    if (Shown)
        FormResize();
}

bool TForm1::event(QEvent* event)
{
    const bool result = QMainWindow::event(event);
    if (event->type() == QEvent::Show && !Shown)
        // The main window is the active window once it is shown, also where no window
        // manager hands out the focus.
        QTimer::singleShot(0, this, [this] {
            if (!Shown)
                FormShow();
            FormActivate();
        });
    if (event->type() == QEvent::WindowActivate && !Activated)
        QTimer::singleShot(0, this, &TForm1::FormActivate);
    return result;
}

void TForm1::SetStatusText(const QString& text)
{
    statusPanel[0]->setText(text);
}

QString TForm1::StatusText(int panel) const
{
    return panel >= 0 && panel < 3 ? statusPanel[panel]->text() : QString();
}

void TForm1::StartReadTimer(TThreadModel::TNode* item)
{
    // The article is remembered by its group and Message-ID, never by its row: rows are
    // rebuilt and their memory reused when the view changes.
    readTimerGroup = ThreadView->GroupNode;
    readTimerId = item && item->rec ? item->rec->MessageID : QString();
    Timer1->start();
}

void TForm1::StopReadTimer()
{
    Timer1->stop();
}

void TForm1::SetMessageText(const QString& text)
{
    MessagePane->SetBody(text);
}

void TForm1::SetMessageHeader(const TArticleClass& article, const QString& newsgroups)
{
    MessagePane->SetHeader(article.From, TArticleClass::DateText(article.Date), newsgroups, article.Subject);
}

void TForm1::ClearMessageText()
{
    MessagePane->Clear();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    const QString id = readTimerId;
    readTimerId.clear();
    TThreadModel::TNode* current = ThreadView->CurrentNode();
    if (id.isEmpty() || !current || !current->rec || ThreadView->GroupNode != readTimerGroup
        || current->rec->MessageID != id)
        return; // the view moved on: another group, another article
    if (OnArticleReadTimeout)
        OnArticleReadTimeout(this, current);
}

void TForm1::ExitVorlix1Click()
{
    close();
}

void TForm1::NewsreaderOptions1Click()
{
    TNewsgroupPreferences prefs(this);
    prefs.SettingsStore = Store.get();
    prefs.WizardMode = false;
    prefs.PrepareShow();
    Windows().Exec(&prefs);
    MessagePane->SetFixedFont(Store->GetValue(QStringLiteral("MessageFixedFont")).toBool());
}

void TForm1::Contents1Click()
{
    const QString path = UtilsClass::FindSharedFile(QStringLiteral("help/index.html"));
    if (!path.isEmpty())
        OpenDocument(path);
}

void TForm1::QuickStartGuide1Click()
{
    const QString path = UtilsClass::FindSharedFile(QStringLiteral("QuickStart.html"));
    if (!path.isEmpty())
        OpenDocument(path);
}

void TForm1::TipofDay1Click()
{
    ShowTipWindow();
}

void TForm1::VorlixSupport1Click()
{
    OpenDocument(QString::fromLatin1(SupportUrl));
}

void TForm1::ShowTipWindow()
{
    TTipOfDayForm tips(this);
    Windows().Exec(&tips);
}

// ---------------------------------------------------------------- news store

void TForm1::trustNewsCaFile()
{
    const QString caFile = Store->GetValue(QStringLiteral("NewsCAFile")).toString().trimmed();
    if (caFile.isEmpty())
        return;
    QString error;
    if (!TNntpCli::TrustCaFile(caFile, &error)) {
        UtilsClass::Log(QStringLiteral("NewsCAFile: ") + error);
        Dialogs().ShowMessage(error + QStringLiteral(" (setting NewsCAFile): news servers with a certificate of "
                                                     "their own making cannot be verified."),
                              TMessageKind::Warning);
    }
}

void TForm1::bindNewsStore()
{
    NewsStore = std::make_unique<TNewsStore>();
    NewsStore->Settings = Store.get();
    ServerTree = std::make_unique<TServerTree>(tvServers, NewsStore.get());
    ThreadView = std::make_unique<TThreadView>(tvArticles, Store.get());
    BindServerWindow(*NewsStore, Store.get(), this);
    BindGroupWindow(*NewsStore, this);

    NewsStore->OnClearArticleView = [this](TNewsStore*) {
        ThreadView->ClearArticleView();
        ClearMessageText();
    };
    NewsStore->OnDeselectAllArticles = [this](TNewsStore*) { ThreadView->DeselectAll(); };
    NewsStore->OnUpdateButtons = [this](TNewsStore*, bool, bool) { UpdateCommands(); };
    NewsStore->OnArticleViewLoading = [this](TNewsStore*) { return ThreadView->Loading; };
    NewsStore->OnServerSelected = [this](TNewsStore*, TConfigClass*) {
        ClearMessageText();
        UpdateCommands();
    };
    NewsStore->OnShowGroup = [this](TNewsStore*, TConfigClass* entry) {
        RunCommand(QStringLiteral("ShowGroup"), [this, entry] {
            Loading = true;
            try {
                ThreadView->ShowGroup(entry);
            } catch (...) {
                Loading = false;
                throw;
            }
            Loading = false;
        });
    };
    ThreadView->OnClearMessagePane = [this](TThreadView*) { ClearMessageText(); };
    ThreadView->OnFilterCleared = [this](TThreadView*) {
        const QSignalBlocker quiet(edFind);
        edFind->clear();
    };
    connect(edFind, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!TBusyGuard::Busy())
            RunCommand(QStringLiteral("Find"), [&] { ThreadView->SetFilter(text); });
    });
    ThreadView->OnItemClicked = [this](TThreadView* view, TThreadModel::TNode* item) {
        // A click on another article ends the wait for the focused one to become read.
        if (item != view->CurrentNode())
            Timer1->stop();
    };

}

void TForm1::poAddServerClick()
{
    RunCommand(QStringLiteral("poAddServerClick"), [this] { NewsStore->AddServer(); });
}

void TForm1::poEditServerClick()
{
    RunCommand(QStringLiteral("poEditServerClick"), [this] { NewsStore->EditServer(); });
}

void TForm1::poDeleteServerClick()
{
    RunCommand(QStringLiteral("poDeleteServerClick"), [this] { NewsStore->DeleteServer(); });
}

void TForm1::poAddGroupClick()
{
    RunCommand(QStringLiteral("poAddGroupClick"), [this] { NewsStore->AddGroup(); });
}

void TForm1::poDeleteGroupClick()
{
    RunCommand(QStringLiteral("poDeleteGroupClick"), [this] { NewsStore->DeleteGroup(); });
}

void TForm1::mnuSelectAllClick()
{
    ThreadView->SelectAll();
}

void TForm1::mnuDeselectAllClick()
{
    ThreadView->DeselectAll();
}

void TForm1::popMarkReadClick()
{
    RunCommand(QStringLiteral("popMarkReadClick"), [this] { ThreadView->MarkSelectedSpeak(1); });
}

void TForm1::popMarkReadDoneClick()
{
    RunCommand(QStringLiteral("popMarkReadDoneClick"), [this] { ThreadView->MarkSelectedSpeak(2); });
}

void TForm1::popMarkClearClick()
{
    RunCommand(QStringLiteral("popMarkClearClick"), [this] { ThreadView->MarkSelectedSpeak(0); });
}

void TForm1::popMarkAsReadClick()
{
    RunCommand(QStringLiteral("popMarkAsReadClick"), [this] { ThreadView->MarkSelectedRead(0); });
}

void TForm1::popMarkAsUnreadClick()
{
    RunCommand(QStringLiteral("popMarkAsUnreadClick"), [this] { ThreadView->MarkSelectedRead(1); });
}

void TForm1::popMarkWatchClick()
{
    RunCommand(QStringLiteral("popMarkWatchClick"), [this] { ThreadView->WatchSelected(true); });
}

void TForm1::popMarkUnwatchClick()
{
    RunCommand(QStringLiteral("popMarkUnwatchClick"), [this] { ThreadView->WatchSelected(false); });
}

void TForm1::DeleteOldThreads1Click()
{
    RunCommand(QStringLiteral("DeleteOldThreads1Click"), [this] {
        TConfigClass* group = ThreadView->GroupNode;
        if (!group)
            return;
        const int days = Store->HasItem(QStringLiteral("MsgDeleteDays"))
            ? Store->GetValue(QStringLiteral("MsgDeleteDays")).toInt()
            : 30;
        // Removed threads are gone from the group's file too: ask first, No being the default.
        if (!Dialogs().ConfirmDelete(QStringLiteral("Delete the threads of %1 with no article in the last %2 days?")
                                         .arg(group->Name)
                                         .arg(days)))
            return;
        ThreadView->DeleteOldThreads();
    });
}

// ---------------------------------------------------------------- network commands

void TForm1::bindNewsCommands()
{
    // The main processor: header downloads, catch-ups and the bodies of the message pane.
    News = std::make_unique<TNewsCommands>(this, ServerTree.get(), ThreadView.get(), Store.get());
    NewsStore->OnFirstGroupSelection = [this](TNewsStore*, TConfigClass* group) { News->DownloadMessages(group); };
    ThreadView->OnItemFocused = [this](TThreadView*, TThreadModel::TNode* item) { News->ItemFocused(item); };
    OnArticleReadTimeout = [this](TForm1*, TThreadModel::TNode* item) { News->ArticleReadTimeout(item); };
    // The newsgroup list window of a server; also opened right after a server was added when
    // "AutoLoadNewsgroups" is on.
    NewsStore->OnNewsgroupList = [this](TNewsStore*, TConfigClass* server, std::vector<TGroupChange>& changes) {
        const bool ok = TNGDialog::Execute(server, changes, this);
        raise();
        activateWindow();
        return ok;
    };
}

void TForm1::mnuDownloadClick()
{
    News->DownloadSelected();
}

void TForm1::MnuCatchUpClick()
{
    News->CatchUp();
}

void TForm1::MnuCatchUpSrvrClick()
{
    News->CatchUpServer();
}

void TForm1::mnuPostClick()
{
    RunCommand(QStringLiteral("mnuPostClick"),
               [this] { TPostReply::PostNewMessage(this, Store.get(), NewsStore->SelectedEntry()); });
}

void TForm1::mnuReplyClick()
{
    RunCommand(QStringLiteral("mnuReplyClick"), [this] {
        QList<TArticleClass*> selected;
        for (TThreadModel::TNode* node : ThreadView->SelectedNodes()) {
            if (TArticleClass* r = TThreadView::RecordOf(node))
                selected << r;
        }
        TPostReply::ReplyToMessage(this, Store.get(), NewsStore->SelectedEntry(), selected,
                                   memoMessage->toPlainText().split(QLatin1Char('\n')));
    });
}

void TForm1::NewsgroupDialog1Click()
{
    RunCommand(QStringLiteral("NewsgroupDialog1Click"), [this] { NewsStore->NewsgroupList(); });
}
