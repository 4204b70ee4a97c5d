#pragma once
// The main window: the server tree, the article view, the message pane, the command table as
// menus, toolbar and pop-up menus, the status bar, and the start-up and shut-down order.
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTextEdit;
class QTimer;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class TMyRegistryClass;
class TNewsStore;
class TServerTree;
class TThreadView;
class TNewsCommands;

// What the current entry of the server tree stands for, as the enabling rules ask it.
enum class TNodeKind { None, Server, Newsgroup, Folder };

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Status text of panel 0 (network status and results).
    void SetStatusText(const QString& text);
    QString StatusText(int panel) const;

    // Start-up and shut-down steps.
    void FormShow();
    void FormActivate();
    void FormResize();
    void FormClose();
    void FormDestroy();
    void Timer1Timer();

    // Commands of the command table that this window carries out itself.
    void ExitVorlix1Click();
    void NewsreaderOptions1Click();
    void Contents1Click();
    void QuickStartGuide1Click();
    void TipofDay1Click();
    void VorlixSupport1Click();

    // News-store commands: servers and newsgroups, the marks of the article view.
    void poAddServerClick();
    void poEditServerClick();
    void poDeleteServerClick();
    void poAddGroupClick();
    void poDeleteGroupClick();
    void mnuSelectAllClick();
    void mnuDeselectAllClick();
    void popMarkReadClick();
    void popMarkReadDoneClick();
    void popMarkClearClick();
    void popMarkAsReadClick();
    void popMarkAsUnreadClick();
    void popMarkWatchClick();
    void popMarkUnwatchClick();
    void DeleteOldThreads1Click();

    // Network commands: download, catch-up of a newsgroup and of a server.
    void mnuDownloadClick();
    void MnuCatchUpClick();
    void MnuCatchUpSrvrClick();
    // Posting, replying and the newsgroup list of the selected server.
    void mnuPostClick();
    void mnuReplyClick();
    void NewsgroupDialog1Click();

    // The kind of the server tree's current entry (TServerTree::SelectedKind).
    TNodeKind SelectedNodeKind() const;

    // Enabling rules of the menus (run when a menu opens, and on selection changes).
    void UpdateServerPopup();
    void UpdateArticlePopup();
    void UpdateActionsMenu();
    void UpdateSelectionCommands();

    // A command whose work is available is enabled by the rules; the others stay disabled.
    static void SetCommandAvailable(QAction* action, bool available);
    static bool CommandAvailable(const QAction* action);
    // Every action of the window by its caption or hint text (tests and wiring use it).
    QAction* FindCommand(const QString& textOrHint) const;
    QList<QAction*> Commands() const;

    // Event raised when the 3-second read timer fires with the remembered article still focused.
    std::function<void(TForm1*, QTreeWidgetItem*)> OnArticleReadTimeout;
    void StartReadTimer(QTreeWidgetItem* item);

    // Controls, named by their role.
    QTreeWidget* tvServers;
    QTreeWidget* tvArticles;
    QTextEdit* memoMessage;
    QTabWidget* pgMessage;
    QSplitter* splitVertical;   // between the server tree and the right panel
    QSplitter* splitHorizontal; // between the article view and the message page
    QWidget* pnlRight;
    QToolBar* toolBar;
    QMenu* mnuFile;
    QMenu* mnuEdit;
    QMenu* mnuMessages;
    QMenu* mnuSpeaking;
    QMenu* mnuActions;
    QMenu* mnuOptions;
    QMenu* mnuHelp;
    QMenu* popServers;
    QMenu* popArticles;
    QLabel* statusPanel[3];
    QProgressBar* QueueProgress;
    QProgressBar* ArticleProgress;
    QTimer* Timer1;

    // Commands (one QAction per place; places of one command share a handler).
    struct Commands_ {
        QAction* ExitVorlix = nullptr;
        QAction* AddServer = nullptr, *EditServer = nullptr, *DeleteServer = nullptr;
        QAction* AddGroup = nullptr, *DeleteGroup = nullptr;
        QAction* poAddServer = nullptr, *poEditServer = nullptr, *poDeleteServer = nullptr;
        QAction* poAddGroup = nullptr, *poDeleteGroup = nullptr, *poNewsgroupList = nullptr;
        QAction* poRetrieve = nullptr, *poCatchUp = nullptr, *poCatchUpServer = nullptr;
        QAction* poReadGroup = nullptr, *poReadGroupFile = nullptr;
        QAction* btnAddServer = nullptr, *btnAddGroup = nullptr, *btnDeleteGroup = nullptr, *btnNewsgroupList = nullptr;
        QAction* NewsreaderOptions = nullptr, *TTSOptions = nullptr, *TextPreprocessorOptions = nullptr;
        QAction* LexEdit = nullptr, *SelectDevice = nullptr;
        QAction* SelectAll = nullptr, *DeselectAll = nullptr;
        QAction* MarkSpeak = nullptr, *MarkSpoken = nullptr, *MarkClear = nullptr, *MarkRead = nullptr,
               *MarkUnread = nullptr, *Watch = nullptr, *Unwatch = nullptr;
        QAction* popMarkSpeak = nullptr, *popMarkSpoken = nullptr, *popMarkClear = nullptr, *popMarkRead = nullptr,
               *popMarkUnread = nullptr, *popWatch = nullptr, *popUnwatch = nullptr;
        QAction* SpeakSelAloud = nullptr, *SpeakSelFile = nullptr, *SpeakMarkAloud = nullptr, *SpeakMarkFile = nullptr;
        QAction* popSpeakSelAloud = nullptr, *popSpeakSelFile = nullptr, *popSpeakMarkAloud = nullptr,
               *popSpeakMarkFile = nullptr;
        QAction* btnPlaySelected = nullptr, *btnPlaySelectedFile = nullptr, *btnPlay = nullptr, *btnPlayFile = nullptr;
        QAction* Pause = nullptr, *Skip = nullptr, *Stop = nullptr;
        QAction* btnPauseResume = nullptr, *btnSkip = nullptr, *btnStop = nullptr;
        QAction* Download = nullptr, *CatchUp = nullptr, *CatchUpServer = nullptr, *Post = nullptr, *Reply = nullptr,
               *DeleteOldThreads = nullptr;
        QAction* btnReceive = nullptr, *btnPost = nullptr, *btnReply = nullptr;
        QAction* Contents = nullptr, *QuickStart = nullptr, *TipOfDay = nullptr, *Support = nullptr;
    } cmd;

    std::unique_ptr<TMyRegistryClass> Store;
    // The servers, newsgroups and folder entries ("Config.chl"), the server tree that shows
    // them and the thread view.
    std::unique_ptr<TNewsStore> NewsStore;
    std::unique_ptr<TServerTree> ServerTree;
    std::unique_ptr<TThreadView> ThreadView;
    // The network commands with the main processor (created after the two above, released before).
    std::unique_ptr<TNewsCommands> News;
    bool Loading = false;
    bool Activated = false;
    bool ToolbarDisabled = false;
    int HeaderCount = 0;

    // Process-wide values.
    static bool Shown;

    static constexpr const char* SupportUrl = "https://www.vorlix.org/support";

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

private:
    void FormCreate();
    void buildMenus();
    void buildToolbar();
    void buildPopups();
    void buildStatusBar();
    QAction* makeAction(const QString& text, void (TForm1::*handler)() = nullptr, bool available = false);
    void setRuleEnabled(QAction* a, bool enabled);
    void placeProgress();
    void ShowTipWindow();
    void bindNewsStore();
    void bindNewsCommands();
    // Runs a command; an error is logged and shown, and the window goes on.
    void newsCommand(const QString& name, const std::function<void()>& work);
    bool configLoaded = false;

    QPointer<QWidget> splash;
    QTreeWidgetItem* readTimerItem = nullptr;
    bool closedOnce = false;
    bool destroyed = false;
};
