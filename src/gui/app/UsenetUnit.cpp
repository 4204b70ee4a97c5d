#include "gui/app/UsenetUnit.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "gui/app/WindowService.h"
#include "gui/app/NewsCommands.h"
#include "core/RegistryUnit.h"
#include "gui/app/DesktopDocuments.h"
#include "gui/app/WindowPlacement.h"
#include "gui/app/TipOfDayUnit.h"
#include "gui/dialogs/GroupDialog.h"
#include "gui/dialogs/NewsGroupTreeView.h"
#include "gui/dialogs/ServerDialog.h"
#include "news/ConfigUnit.h"
#include "news/ThreadView.h"
#include "gui/nntp/PostReplyUnit.h"
#include "gui/prefs/NewsgroupPreferencesUnit.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QScreen>
#include <QSplashScreen>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

QString TForm1::DataFolder;
bool TForm1::Shown = false;

namespace {
const char* availableProperty = "vorlixAvailable";
const char* ruleProperty = "vorlixRuleEnabled";

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
    NodeKindOf = [](QTreeWidgetItem* item) {
        if (!item)
            return TNodeKind::None;
        if (const TConfigClass* e = TServerTree::EntryOf(item)) {
            switch (e->Kind) {
            case ckServer: return TNodeKind::Server;
            case ckNewsGroup: return TNodeKind::Newsgroup;
            default: return TNodeKind::Folder;
            }
        }
        return item->parent() ? TNodeKind::Newsgroup : TNodeKind::Server;
    };

    // Controls: server tree | (article view / message page).
    splitVertical = new QSplitter(Qt::Horizontal, this);
    splitVertical->setObjectName(QStringLiteral("Splitter1"));
    tvServers = new QTreeWidget(splitVertical);
    tvServers->setObjectName(QStringLiteral("tvServers"));
    tvServers->setHeaderHidden(true);
    tvServers->setContextMenuPolicy(Qt::CustomContextMenu);
    pnlRight = new QWidget(splitVertical);
    pnlRight->setObjectName(QStringLiteral("pnlRight"));
    auto* rightLayout = new QVBoxLayout(pnlRight);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    splitHorizontal = new QSplitter(Qt::Vertical, pnlRight);
    splitHorizontal->setObjectName(QStringLiteral("Splitter2"));
    rightLayout->addWidget(splitHorizontal);
    tvArticles = new QTreeWidget(splitHorizontal);
    tvArticles->setObjectName(QStringLiteral("tvArticles"));
    tvArticles->setColumnCount(5);
    tvArticles->setHeaderLabels({QString(), QStringLiteral("Subject"), QStringLiteral("From"), QStringLiteral("Date"),
                                 QString()});
    tvArticles->setTreePosition(1);
    tvArticles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tvArticles->setSelectionBehavior(QAbstractItemView::SelectRows);
    tvArticles->setSortingEnabled(false);
    tvArticles->setContextMenuPolicy(Qt::CustomContextMenu);
    tvArticles->header()->setStretchLastSection(false);
    pgMessage = new QTabWidget(splitHorizontal);
    pgMessage->setObjectName(QStringLiteral("pgMessage"));
    memoMessage = new QTextEdit;
    memoMessage->setObjectName(QStringLiteral("memoMessage"));
    memoMessage->setReadOnly(true);
    pgMessage->addTab(memoMessage, QStringLiteral("Message"));
    pgMessage->tabBar()->hide();
    splitVertical->setStretchFactor(0, 1);
    splitVertical->setStretchFactor(1, 0);
    splitHorizontal->setStretchFactor(0, 0);
    splitHorizontal->setStretchFactor(1, 1);
    setCentralWidget(splitVertical);

    Timer1 = new QTimer(this);
    Timer1->setSingleShot(true);
    Timer1->setInterval(3000);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);

    buildMenus();
    buildPopups();
    buildToolbar();
    buildStatusBar();

    connect(splitHorizontal, &QSplitter::splitterMoved, this, [this] {
        Store->SetValue(QStringLiteral("MsgHeaderHeight"), tvArticles->height());
    });
    connect(splitVertical, &QSplitter::splitterMoved, this, [this] {
        Store->SetValue(QStringLiteral("MsgPanelWidth"), pnlRight->width());
    });
    connect(tvArticles->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
        if (!Loading && column >= 0 && column < 5)
            Store->SetValue(QStringLiteral("MsgHeaderWidth%1").arg(column), size);
    });
    connect(tvServers, &QTreeWidget::currentItemChanged, this, [this] { UpdateSelectionCommands(); });
    connect(tvServers, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateServerPopup();
        popServers->popup(tvServers->viewport()->mapToGlobal(pos));
    });
    connect(tvArticles, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        UpdateArticlePopup();
        popArticles->popup(tvArticles->viewport()->mapToGlobal(pos));
    });
    connect(mnuActions, &QMenu::aboutToShow, this, &TForm1::UpdateActionsMenu);

    FormCreate();
}

TForm1::~TForm1()
{
    FormDestroy();
}

QAction* TForm1::makeAction(const QString& text, void (TForm1::*handler)(), bool available)
{
    auto* a = new QAction(text, this);
    a->setProperty(availableProperty, available);
    a->setProperty(ruleProperty, true);
    a->setEnabled(available);
    if (handler)
        connect(a, &QAction::triggered, this, handler);
    return a;
}

void TForm1::SetCommandAvailable(QAction* action, bool available)
{
    if (!action)
        return;
    action->setProperty(availableProperty, available);
    action->setEnabled(available && action->property(ruleProperty).toBool());
}

bool TForm1::CommandAvailable(const QAction* action)
{
    return action && action->property(availableProperty).toBool();
}

void TForm1::setRuleEnabled(QAction* a, bool enabled)
{
    if (!a)
        return;
    a->setProperty(ruleProperty, enabled);
    a->setEnabled(enabled && CommandAvailable(a));
}

QList<QAction*> TForm1::Commands() const
{
    return findChildren<QAction*>(QString(), Qt::FindDirectChildrenOnly);
}

QAction* TForm1::FindCommand(const QString& textOrHint) const
{
    for (QAction* a : Commands()) {
        if (a->text() == textOrHint || a->toolTip() == textOrHint)
            return a;
    }
    return nullptr;
}

void TForm1::buildMenus()
{
    mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
    cmd.ExitVorlix = makeAction(QStringLiteral("E&xit Vorlix"), &TForm1::ExitVorlix1Click, true);
    mnuFile->addAction(cmd.ExitVorlix);

    mnuEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    cmd.AddServer = makeAction(QStringLiteral("Add Server"));
    cmd.EditServer = makeAction(QStringLiteral("Edit Server"));
    cmd.DeleteServer = makeAction(QStringLiteral("Delete Server"));
    cmd.AddGroup = makeAction(QStringLiteral("Add Newsgroup"));
    cmd.DeleteGroup = makeAction(QStringLiteral("Delete Newsgroup"));
    mnuEdit->addActions({cmd.AddServer, cmd.EditServer, cmd.DeleteServer});
    mnuEdit->addSeparator();
    mnuEdit->addActions({cmd.AddGroup, cmd.DeleteGroup});

    mnuMessages = menuBar()->addMenu(QStringLiteral("&Messages"));
    cmd.SelectAll = makeAction(QStringLiteral("Select All Messages"));
    cmd.SelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    cmd.DeselectAll = makeAction(QStringLiteral("Deselect All Messages"));
    cmd.MarkSpeak = makeAction(QStringLiteral("Mark Selected Messages for Speaking"));
    cmd.MarkSpoken = makeAction(QStringLiteral("Mark Selected Messages as already Spoken"));
    cmd.MarkClear = makeAction(QStringLiteral("Clear Selected Messages"));
    cmd.MarkRead = makeAction(QStringLiteral("Mark Selected Messages as Read"));
    cmd.MarkUnread = makeAction(QStringLiteral("Mark Selected Messages as Unread"));
    cmd.Watch = makeAction(QStringLiteral("Watch Selected Messages"));
    cmd.Unwatch = makeAction(QStringLiteral("Unwatch Selected Messages"));
    mnuMessages->addActions({cmd.SelectAll, cmd.DeselectAll});
    mnuMessages->addSeparator();
    mnuMessages->addActions({cmd.MarkSpeak, cmd.MarkSpoken, cmd.MarkClear});
    mnuMessages->addSeparator();
    mnuMessages->addActions({cmd.MarkRead, cmd.MarkUnread});
    mnuMessages->addSeparator();
    mnuMessages->addActions({cmd.Watch, cmd.Unwatch});

    mnuSpeaking = menuBar()->addMenu(QStringLiteral("&Speaking Controls"));
    cmd.SpeakSelAloud = makeAction(QStringLiteral("Speak Selected Messages &Aloud"));
    cmd.SpeakSelAloud->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F4));
    cmd.SpeakSelFile = makeAction(QStringLiteral("Speak Selected Messages to &File"));
    cmd.SpeakSelFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F5));
    cmd.SpeakMarkAloud = makeAction(QStringLiteral("Spea&k Marked Messages Aloud"));
    cmd.SpeakMarkAloud->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F6));
    cmd.SpeakMarkFile = makeAction(QStringLiteral("Speak &Marked Messages to File"));
    cmd.SpeakMarkFile->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F7));
    cmd.Pause = makeAction(QStringLiteral("&Pause"));
    cmd.Pause->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F8));
    cmd.Skip = makeAction(QStringLiteral("S&kip"));
    cmd.Skip->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F9));
    cmd.Stop = makeAction(QStringLiteral("&Stop"));
    cmd.Stop->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F10));
    mnuSpeaking->addActions({cmd.SpeakSelAloud, cmd.SpeakSelFile, cmd.SpeakMarkAloud, cmd.SpeakMarkFile});
    mnuSpeaking->addSeparator();
    mnuSpeaking->addActions({cmd.Pause, cmd.Skip, cmd.Stop});

    mnuActions = menuBar()->addMenu(QStringLiteral("&Actions"));
    cmd.Download = makeAction(QStringLiteral("&Download Messages from Server"));
    cmd.CatchUp = makeAction(QStringLiteral("Catch Up Newsgroup"));
    cmd.CatchUpServer = makeAction(QStringLiteral("Catch Up Server"));
    cmd.Post = makeAction(QStringLiteral("&Post New Message"));
    cmd.Reply = makeAction(QStringLiteral("&Reply to Selected Message"));
    cmd.DeleteOldThreads = makeAction(QStringLiteral("Delete &Old Threads"));
    mnuActions->addActions({cmd.Download, cmd.CatchUp, cmd.CatchUpServer});
    mnuActions->addSeparator();
    mnuActions->addActions({cmd.Post, cmd.Reply});
    mnuActions->addSeparator();
    mnuActions->addAction(cmd.DeleteOldThreads);

    mnuOptions = menuBar()->addMenu(QStringLiteral("&Options"));
    cmd.NewsreaderOptions = makeAction(QStringLiteral("Vorlix Options"), &TForm1::NewsreaderOptions1Click, true);
    cmd.TTSOptions = makeAction(QStringLiteral("&Voice and Audio File options"));
    cmd.TextPreprocessorOptions = makeAction(QStringLiteral("&Text Preprocessor Options"));
    cmd.LexEdit = makeAction(QStringLiteral("&Pronunciation Editor"));
    cmd.SelectDevice = makeAction(QStringLiteral("&Select Audio Device"));
    mnuOptions->addActions({cmd.NewsreaderOptions, cmd.TTSOptions, cmd.TextPreprocessorOptions, cmd.LexEdit});
    mnuOptions->addSeparator();
    mnuOptions->addAction(cmd.SelectDevice);

    mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    cmd.Contents = makeAction(QStringLiteral("Contents"), &TForm1::Contents1Click, true);
    cmd.Contents->setShortcut(QKeySequence::HelpContents);
    cmd.QuickStart = makeAction(QStringLiteral("&Quick Start Guide"), &TForm1::QuickStartGuide1Click, true);
    cmd.TipOfDay = makeAction(QStringLiteral("&Tip of the Day"), &TForm1::TipofDay1Click, true);
    cmd.Support = makeAction(QStringLiteral("Vorlix &Support"), &TForm1::VorlixSupport1Click, true);
    mnuHelp->addActions({cmd.Contents, cmd.QuickStart, cmd.TipOfDay});
    mnuHelp->addSeparator();
    mnuHelp->addAction(cmd.Support);
}

void TForm1::buildPopups()
{
    popServers = new QMenu(this);
    popServers->setObjectName(QStringLiteral("popServers"));
    cmd.poAddServer = makeAction(QStringLiteral("Add Server"));
    cmd.poEditServer = makeAction(QStringLiteral("Edit Server"));
    cmd.poDeleteServer = makeAction(QStringLiteral("Delete Server"));
    cmd.poAddGroup = makeAction(QStringLiteral("Add Newsgroup"));
    cmd.poDeleteGroup = makeAction(QStringLiteral("Delete Newsgroup"));
    cmd.poNewsgroupList = makeAction(QStringLiteral("Newsgroup List"));
    cmd.poRetrieve = makeAction(QStringLiteral("Retrieve Next n Messages"));
    cmd.poCatchUp = makeAction(QStringLiteral("Catch Up Newsgroup"));
    cmd.poCatchUpServer = makeAction(QStringLiteral("Catch Up Server"));
    cmd.poReadGroup = makeAction(QStringLiteral("Read Newsgroup Aloud"));
    cmd.poReadGroupFile = makeAction(QStringLiteral("Read Newsgroup to File"));
    popServers->addActions({cmd.poAddServer, cmd.poEditServer, cmd.poDeleteServer});
    popServers->addSeparator();
    popServers->addActions({cmd.poAddGroup, cmd.poDeleteGroup, cmd.poNewsgroupList});
    popServers->addSeparator();
    popServers->addActions({cmd.poRetrieve, cmd.poCatchUp, cmd.poCatchUpServer});
    popServers->addSeparator();
    popServers->addActions({cmd.poReadGroup, cmd.poReadGroupFile});
    connect(popServers, &QMenu::aboutToShow, this, &TForm1::UpdateServerPopup);

    popArticles = new QMenu(this);
    popArticles->setObjectName(QStringLiteral("popArticles"));
    cmd.popSpeakSelAloud = makeAction(QStringLiteral("Speak Selected Messages Aloud"));
    cmd.popSpeakSelFile = makeAction(QStringLiteral("Speak Selected Messages to File"));
    cmd.popSpeakMarkAloud = makeAction(QStringLiteral("Speak Marked Messages Aloud"));
    cmd.popSpeakMarkFile = makeAction(QStringLiteral("Speak Marked Messages to File"));
    cmd.popMarkSpeak = makeAction(QStringLiteral("Mark Selected Messages for Speaking"));
    cmd.popMarkSpoken = makeAction(QStringLiteral("Mark Selected Messages as already Spoken"));
    cmd.popMarkClear = makeAction(QStringLiteral("Clear Selected Messages"));
    cmd.popMarkRead = makeAction(QStringLiteral("Mark Selected Messages as Read"));
    cmd.popMarkUnread = makeAction(QStringLiteral("Mark Selected Messages as Unread"));
    cmd.popWatch = makeAction(QStringLiteral("Watch Selected Threads"));
    cmd.popUnwatch = makeAction(QStringLiteral("Unwatch Selected Threads"));
    popArticles->addActions({cmd.popSpeakSelAloud, cmd.popSpeakSelFile, cmd.popSpeakMarkAloud, cmd.popSpeakMarkFile});
    popArticles->addSeparator();
    popArticles->addActions({cmd.popMarkSpeak, cmd.popMarkSpoken, cmd.popMarkClear});
    popArticles->addSeparator();
    popArticles->addActions({cmd.popMarkRead, cmd.popMarkUnread});
    popArticles->addSeparator();
    popArticles->addActions({cmd.popWatch, cmd.popUnwatch});
    connect(popArticles, &QMenu::aboutToShow, this, &TForm1::UpdateArticlePopup);
}

void TForm1::buildToolbar()
{
    toolBar = addToolBar(QStringLiteral("Toolbar"));
    toolBar->setObjectName(QStringLiteral("ToolBar1"));
    toolBar->setMovable(false);
    QStyle* st = style();
    auto button = [&](const QString& hint, QStyle::StandardPixmap icon, const QString& text = QString()) {
        QAction* a = makeAction(text.isEmpty() ? hint : text);
        a->setToolTip(hint);
        a->setIcon(st->standardIcon(icon));
        toolBar->addAction(a);
        return a;
    };
    cmd.btnAddServer = button(QStringLiteral("Add a newsgroup server"), QStyle::SP_DriveNetIcon);
    cmd.btnAddGroup = button(QStringLiteral("Add a newsgroup"), QStyle::SP_FileDialogNewFolder);
    cmd.btnDeleteGroup = button(QStringLiteral("Delete selected newsgroup"), QStyle::SP_TrashIcon);
    cmd.btnNewsgroupList = button(QStringLiteral("Display all newsgroups for current server"),
                                  QStyle::SP_FileDialogDetailedView);
    toolBar->addSeparator();
    cmd.btnReceive = button(QStringLiteral("Download Messages from Server"), QStyle::SP_ArrowDown);
    cmd.btnPost = button(QStringLiteral("Post a new message"), QStyle::SP_FileIcon);
    cmd.btnReply = button(QStringLiteral("Reply to the current message"), QStyle::SP_ArrowBack);
    toolBar->addSeparator();
    cmd.btnPlaySelected = button(QStringLiteral("Speak selected threads or messages aloud"), QStyle::SP_MediaPlay);
    cmd.btnPlaySelectedFile = button(QStringLiteral("Speak selected threads or messages to file"),
                                     QStyle::SP_DialogSaveButton);
    cmd.btnPlay = button(QStringLiteral("Speak marked threads or messages aloud"), QStyle::SP_MediaSeekForward);
    cmd.btnPlayFile = button(QStringLiteral("Speak marked threads or messages to file"), QStyle::SP_DriveHDIcon);
    cmd.btnPauseResume = button(QStringLiteral("Pause / Resume speaking"), QStyle::SP_MediaPause);
    cmd.btnPauseResume->setCheckable(true);
    cmd.btnSkip = button(QStringLiteral("Skip speaking to next message"), QStyle::SP_MediaSkipForward);
    cmd.btnStop = button(QStringLiteral("Stop speaking"), QStyle::SP_MediaStop);
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
    ArticleProgress->setGeometry(0, 10, w, 8);
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

    ArticleViewTag = TTVTag();
    TreeChangeEnabled = true;
    FormResize();

    LoadingConfig = false;
    DataFolder = GetDataFolder();
    bindNewsStore();
    bindNewsCommands();
    UpdateSelectionCommands();

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
    const int hTotal = splitVertical->width();
    splitVertical->setSizes({std::max(1, hTotal - panelWidth - splitVertical->handleWidth()), panelWidth});
    Loading = false;

    LoadingConfig = true;
    ServerTree->LoadConfig();
    LoadingConfig = false;
    configLoaded = true;

    const QString server = Store->NewsServer.trimmed();
    if (!server.isEmpty()) {
        for (QTreeWidgetItemIterator it(tvServers); *it; ++it) {
            if ((*it)->text(0) == Store->NewsServer) {
                tvServers->setCurrentItem(*it);
                break;
            }
        }
    }
    if (tvServers->topLevelItemCount() > 0) {
        const QString showTips = ReadProgramValue(QStringLiteral("ShowTips"));
        if (showTips.isEmpty() || showTips == QLatin1String("Y"))
            ShowTipWindow();
    }
    Shown = true;
    ServerTree->Shown = true;
    FormResize();
    UtilsClass::Log(QStringLiteral("Exit FormShow"));
}

void TForm1::FormActivate()
{
    if (Activated)
        return;
    Activated = true;
    UtilsClass::Log(QStringLiteral("Entered FormActivate"));
    if (tvServers->topLevelItemCount() == 0 && CommandAvailable(cmd.AddServer))
        cmd.AddServer->trigger();
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
    Store->SaveAll(); // writes the cached "NewsServer" and "ThreadFileOption" back first
}

void TForm1::FormDestroy()
{
    if (destroyed)
        return;
    destroyed = true;
    Timer1->stop();
    // No processor event may reach the window while it is taken down.
    News.reset();
    // Only a tree that was loaded is written back: a window closed before it was shown
    // must not empty the configuration.
    if (configLoaded && ServerTree) {
        try {
            ServerTree->SaveConfig();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("FormDestroy Exception: ") + e.message());
        }
    }
    ArticleViewTag = TTVTag();
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

void TForm1::StartReadTimer(QTreeWidgetItem* item)
{
    readTimerItem = item;
    Timer1->start();
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    QTreeWidgetItem* item = readTimerItem;
    readTimerItem = nullptr;
    if (item && item == tvArticles->currentItem() && OnArticleReadTimeout)
        OnArticleReadTimeout(this, item);
}

TNodeKind TForm1::SelectedNodeKind() const
{
    return NodeKindOf(tvServers->currentItem());
}

void TForm1::UpdateServerPopup()
{
    const int n = Store->GetValue(QStringLiteral("MsgsToRetrieve")).toInt();
    cmd.poRetrieve->setText(QStringLiteral("Retrieve next %1 messages").arg(n));
    const TNodeKind kind = SelectedNodeKind();
    if (kind == TNodeKind::None) {
        setRuleEnabled(cmd.poAddServer, true);
        for (QAction* a : {cmd.poEditServer, cmd.poDeleteServer, cmd.poAddGroup, cmd.poDeleteGroup,
                           cmd.poNewsgroupList, cmd.poRetrieve, cmd.poCatchUp, cmd.poCatchUpServer, cmd.poReadGroup,
                           cmd.poReadGroupFile})
            setRuleEnabled(a, false);
        return;
    }
    const bool group = kind != TNodeKind::Server;
    setRuleEnabled(cmd.poAddServer, true);
    setRuleEnabled(cmd.poNewsgroupList, true);
    setRuleEnabled(cmd.poAddGroup, true);
    setRuleEnabled(cmd.poDeleteGroup, group);
    setRuleEnabled(cmd.poReadGroup, group && cmd.btnPlay->isEnabled());
    setRuleEnabled(cmd.poReadGroupFile, group && cmd.btnPlay->isEnabled());
    setRuleEnabled(cmd.poEditServer, !group);
    setRuleEnabled(cmd.poDeleteServer, !group);
    setRuleEnabled(cmd.poCatchUp, group);
    setRuleEnabled(cmd.poCatchUpServer, !group);
    setRuleEnabled(cmd.poRetrieve, group);
}

void TForm1::UpdateArticlePopup()
{
    const bool speak = cmd.btnPlaySelected->isEnabled();
    for (QAction* a : {cmd.popSpeakSelAloud, cmd.popSpeakSelFile, cmd.popSpeakMarkAloud, cmd.popSpeakMarkFile})
        setRuleEnabled(a, speak);
}

void TForm1::UpdateActionsMenu()
{
    const TNodeKind kind = SelectedNodeKind();
    if (kind == TNodeKind::None)
        return;
    const bool group = kind == TNodeKind::Newsgroup;
    setRuleEnabled(cmd.Download, group);
    setRuleEnabled(cmd.CatchUp, group);
    setRuleEnabled(cmd.DeleteOldThreads, group);
    setRuleEnabled(cmd.CatchUpServer, kind == TNodeKind::Server);
}

void TForm1::UpdateSelectionCommands()
{
    const TNodeKind kind = SelectedNodeKind();
    const bool groupOrFolder = kind == TNodeKind::Newsgroup || kind == TNodeKind::Folder;
    setRuleEnabled(cmd.poDeleteGroup, kind == TNodeKind::Newsgroup);
    setRuleEnabled(cmd.btnDeleteGroup, groupOrFolder);
    setRuleEnabled(cmd.btnAddGroup, tvServers->topLevelItemCount() > 0);
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

void TForm1::bindNewsStore()
{
    ServerTree = std::make_unique<TServerTree>(tvServers);
    ServerTree->Store = Store.get();
    ThreadView = std::make_unique<TThreadView>(tvArticles, Store.get());
    BindServerWindow(*ServerTree, Store.get(), this);
    BindGroupWindow(*ServerTree, this);

    ServerTree->OnClearArticleView = [this](TServerTree*) {
        ThreadView->ClearArticleView();
        ArticleViewTag = TTVTag();
        memoMessage->clear();
    };
    ServerTree->OnDeselectAllArticles = [this](TServerTree*) { ThreadView->DeselectAll(); };
    ServerTree->OnUpdateButtons = [this](TServerTree*, bool addGroup, bool deleteGroup) {
        setRuleEnabled(cmd.btnAddGroup, addGroup);
        setRuleEnabled(cmd.btnDeleteGroup, deleteGroup);
    };
    ServerTree->OnArticleViewLoading = [this](TServerTree*) { return ThreadView->Loading; };
    ServerTree->OnServerSelected = [this](TServerTree*, QTreeWidgetItem*) {
        memoMessage->clear();
        setRuleEnabled(cmd.poRetrieve, false);
        setRuleEnabled(cmd.poCatchUp, false);
    };
    ServerTree->OnShowGroup = [this](TServerTree*, QTreeWidgetItem* node) {
        newsCommand(QStringLiteral("ShowGroup"), [this, node] {
            Loading = true;
            try {
                ThreadView->ShowGroup(node);
            } catch (...) {
                Loading = false;
                throw;
            }
            Loading = false;
            ArticleViewTag.Node = node;
        });
    };
    ThreadView->OnClearMessagePane = [this](TThreadView*) { memoMessage->clear(); };
    ThreadView->OnItemClicked = [this](TThreadView*, QTreeWidgetItem* item) {
        // A click on another article ends the wait for the focused one to become read.
        if (item != tvArticles->currentItem())
            Timer1->stop();
    };

    auto offer = [this](std::initializer_list<QAction*> actions, void (TForm1::*handler)()) {
        for (QAction* a : actions) {
            SetCommandAvailable(a, true);
            connect(a, &QAction::triggered, this, handler);
        }
    };
    offer({cmd.AddServer, cmd.poAddServer, cmd.btnAddServer}, &TForm1::poAddServerClick);
    offer({cmd.EditServer, cmd.poEditServer}, &TForm1::poEditServerClick);
    offer({cmd.DeleteServer, cmd.poDeleteServer}, &TForm1::poDeleteServerClick);
    offer({cmd.AddGroup, cmd.poAddGroup, cmd.btnAddGroup}, &TForm1::poAddGroupClick);
    offer({cmd.DeleteGroup, cmd.poDeleteGroup, cmd.btnDeleteGroup}, &TForm1::poDeleteGroupClick);
    offer({cmd.SelectAll}, &TForm1::mnuSelectAllClick);
    offer({cmd.DeselectAll}, &TForm1::mnuDeselectAllClick);
    offer({cmd.MarkSpeak, cmd.popMarkSpeak}, &TForm1::popMarkReadClick);
    offer({cmd.MarkSpoken, cmd.popMarkSpoken}, &TForm1::popMarkReadDoneClick);
    offer({cmd.MarkClear, cmd.popMarkClear}, &TForm1::popMarkClearClick);
    offer({cmd.MarkRead, cmd.popMarkRead}, &TForm1::popMarkAsReadClick);
    offer({cmd.MarkUnread, cmd.popMarkUnread}, &TForm1::popMarkAsUnreadClick);
    offer({cmd.Watch, cmd.popWatch}, &TForm1::popMarkWatchClick);
    offer({cmd.Unwatch, cmd.popUnwatch}, &TForm1::popMarkUnwatchClick);
    offer({cmd.DeleteOldThreads}, &TForm1::DeleteOldThreads1Click);
}

void TForm1::newsCommand(const QString& name, const std::function<void()>& work)
{
    try {
        work();
    } catch (const EVorlixError& e) {
        UtilsClass::Log(name + QStringLiteral(" Exception: ") + e.message());
        Dialogs().ShowError(e.message());
    }
}

void TForm1::poAddServerClick()
{
    newsCommand(QStringLiteral("poAddServerClick"), [this] { ServerTree->AddServer(); });
}

void TForm1::poEditServerClick()
{
    newsCommand(QStringLiteral("poEditServerClick"), [this] { ServerTree->EditServer(); });
}

void TForm1::poDeleteServerClick()
{
    newsCommand(QStringLiteral("poDeleteServerClick"), [this] { ServerTree->DeleteServer(); });
}

void TForm1::poAddGroupClick()
{
    newsCommand(QStringLiteral("poAddGroupClick"), [this] { ServerTree->AddGroup(); });
}

void TForm1::poDeleteGroupClick()
{
    newsCommand(QStringLiteral("poDeleteGroupClick"), [this] { ServerTree->DeleteGroup(); });
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
    newsCommand(QStringLiteral("popMarkReadClick"), [this] { ThreadView->MarkSelectedSpeak(1); });
}

void TForm1::popMarkReadDoneClick()
{
    newsCommand(QStringLiteral("popMarkReadDoneClick"), [this] { ThreadView->MarkSelectedSpeak(2); });
}

void TForm1::popMarkClearClick()
{
    newsCommand(QStringLiteral("popMarkClearClick"), [this] { ThreadView->MarkSelectedSpeak(0); });
}

void TForm1::popMarkAsReadClick()
{
    newsCommand(QStringLiteral("popMarkAsReadClick"), [this] { ThreadView->MarkSelectedRead(0); });
}

void TForm1::popMarkAsUnreadClick()
{
    newsCommand(QStringLiteral("popMarkAsUnreadClick"), [this] { ThreadView->MarkSelectedRead(1); });
}

void TForm1::popMarkWatchClick()
{
    newsCommand(QStringLiteral("popMarkWatchClick"), [this] { ThreadView->WatchSelected(true); });
}

void TForm1::popMarkUnwatchClick()
{
    newsCommand(QStringLiteral("popMarkUnwatchClick"), [this] { ThreadView->WatchSelected(false); });
}

void TForm1::DeleteOldThreads1Click()
{
    newsCommand(QStringLiteral("DeleteOldThreads1Click"), [this] { ThreadView->DeleteOldThreads(); });
}

// ---------------------------------------------------------------- network commands

void TForm1::bindNewsCommands()
{
    // The main processor: header downloads, catch-ups and the bodies of the message pane.
    News = std::make_unique<TNewsCommands>(this, ServerTree.get(), ThreadView.get(), Store.get());
    ServerTree->OnFirstGroupSelection = [this](TServerTree*, QTreeWidgetItem* node) { News->DownloadMessages(node); };
    ThreadView->OnItemFocused = [this](TThreadView*, QTreeWidgetItem* item) { News->ItemFocused(item); };
    OnArticleReadTimeout = [this](TForm1*, QTreeWidgetItem* item) { News->ArticleReadTimeout(item); };
    for (QAction* a : {cmd.Download, cmd.poRetrieve, cmd.btnReceive}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::mnuDownloadClick);
    }
    for (QAction* a : {cmd.CatchUp, cmd.poCatchUp}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::MnuCatchUpClick);
    }
    for (QAction* a : {cmd.CatchUpServer, cmd.poCatchUpServer}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::MnuCatchUpSrvrClick);
    }
    for (QAction* a : {cmd.Post, cmd.btnPost}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::mnuPostClick);
    }
    for (QAction* a : {cmd.Reply, cmd.btnReply}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::mnuReplyClick);
    }
    for (QAction* a : {cmd.poNewsgroupList, cmd.btnNewsgroupList}) {
        SetCommandAvailable(a, true);
        connect(a, &QAction::triggered, this, &TForm1::NewsgroupDialog1Click);
    }
    // The newsgroup list window of a server; also opened right after a server was added when
    // "AutoLoadNewsgroups" is on.
    ServerTree->OnNewsgroupList = [this](TServerTree*, TConfigClass* server, std::vector<TGroupChange>& changes) {
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
    newsCommand(QStringLiteral("mnuPostClick"),
                [this] { TPostReply::PostNewMessage(this, Store.get(), ServerTree->SelectedNode()); });
}

void TForm1::mnuReplyClick()
{
    newsCommand(QStringLiteral("mnuReplyClick"), [this] {
        QList<TArticleClass*> selected;
        for (QTreeWidgetItem* item : tvArticles->selectedItems()) {
            if (TArticleClass* r = TThreadView::RecordOf(item))
                selected << r;
        }
        TPostReply::ReplyToMessage(this, Store.get(), ServerTree->SelectedNode(), selected,
                                   memoMessage->toPlainText().split(QLatin1Char('\n')));
    });
}

void TForm1::NewsgroupDialog1Click()
{
    newsCommand(QStringLiteral("NewsgroupDialog1Click"), [this] { ServerTree->NewsgroupList(); });
}
