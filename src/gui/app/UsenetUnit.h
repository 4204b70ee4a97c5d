#pragma once
// The main window: the server tree, the article view, the message pane, the command table as
// menus, toolbar and pop-up menus, the status bar, and the start-up and shut-down order.
#include "gui/app/CommandTable.h"
#include "gui/app/NewsWindow.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QSplitter;
class QTabWidget;
class QTextEdit;
class QTimer;
class QToolBar;
class QAbstractItemView;
class QTreeView;
class QTreeWidget;
class TMessagePane;
class QKeyEvent;
class TMyRegistryClass;
class TNewsStore;
class TServerTree;
class TThreadView;
class TNewsCommands;
class TBaseTTS;
class TSpeakRun;
class TMprisPlayer;

class TForm1 : public QMainWindow, public TNewsWindow {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Status text of panel 0 (network status and results).
    void SetStatusText(const QString& text) override;
    QString StatusText(int panel) const;

    // What the news commands use of the window.
    QWidget* Window() override { return this; }
    void SetToolbarDisabled(bool disabled) override;
    bool ToolbarDisabled() const override { return toolbarDisabled; }
    void StartReadTimer(TThreadModel::TNode* item) override;
    void StopReadTimer() override;
    void SetMessageText(const QString& text) override;
    void ClearMessageText() override;
    void SetMessageHeader(const TArticleClass& article, const QString& newsgroups) override;

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
    // Speech controls and the sound device.
    void TTSOptionsClick();
    void mnuPauseClick();
    void mnuSkipClick();
    void mnuStopClick();
    void mnuSelectDeviceClick();
    // The speak commands: the marked or the selected articles, aloud or to file.
    void SpeakMarked(bool toFile);
    void SpeakSelected(bool toFile);
    // Reading by keyboard (N): the next unread article of the shown group, and after its last
    // one the first unread article of the next newsgroup that has any. Refused while a job
    // runs, as every selection change is.
    void GoToNextUnread();
    // Space: pages the message pane down, and at its end goes to the next unread article.
    void PageOrNextUnread();

    // The enabling rules of every place of every command, evaluated for the present state. Run
    // when a menu or pop-up opens, when the server tree's selection or content changes.
    void UpdateCommands();
    // A command whose handler is bound is available: the rules enable it. The others stay
    // disabled (the speaking commands until the speech manager binds them).
    void SetCommandAvailable(const QString& id, bool available);
    bool CommandAvailable(const QString& id) const;
    // Binds the handler of a command the table leaves open (the speaking commands) and makes
    // it available.
    void BindCommand(const QString& id, std::function<void()> handler);
    // The entry of a command in a place (null where it does not appear).
    QAction* Command(const QString& id, TCommandPlace place) const;
    // Every entry of the window by its caption or hint text.
    QAction* FindCommand(const QString& textOrHint) const;
    QList<QAction*> Commands() const;

    // Event raised when the 3-second read timer fires with the remembered article still focused.
    std::function<void(TForm1*, TThreadModel::TNode*)> OnArticleReadTimeout;

    std::unique_ptr<TMyRegistryClass> Store;
    // The servers, newsgroups and folder entries ("Config.chl"), the server tree that shows
    // them and the thread view.
    std::unique_ptr<TNewsStore> NewsStore;
    std::unique_ptr<TServerTree> ServerTree;
    std::unique_ptr<TThreadView> ThreadView;
    // The network commands with the main processor (created after the two above, released before).
    std::unique_ptr<TNewsCommands> News;
    // The speech manager: every voice speaks through it; it enables the speech commands.
    std::unique_ptr<TBaseTTS> Speech;
    // The run of spoken articles (its queue and speaking processor).
    std::unique_ptr<TSpeakRun> Speaking;
    // The desktop's media controls: the window as a media player on the session bus, Playing
    // or Paused while a run speaks aloud.
    std::unique_ptr<TMprisPlayer> Mpris;
    bool Loading = false;
    bool Activated = false;

    // Process-wide values.
    static bool Shown;

    static constexpr const char* SupportUrl = "https://www.vorlix.org/support";

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Controls, named by their role.
    QTreeWidget* tvServers;
    QTreeView* tvArticles;
    TMessagePane* MessagePane;
    QTextEdit* memoMessage; // the pane's body
    QLineEdit* edFind;
    QTabWidget* pgMessage;
    QSplitter* splitVertical;   // between the server tree and the right panel
    QSplitter* splitHorizontal; // between the article view and the message page
    QWidget* pnlRight;
    QToolBar* toolBar;
    QMenu* mnuEdit = nullptr;
    QMenu* popServers;
    QMenu* popArticles;
    QLabel* statusPanel[3];
    QProgressBar* QueueProgress;
    QProgressBar* ArticleProgress;
    QTimer* Timer1;
    // While the Find field has the focus, the text finding looks through is made a slice at a
    // time, so the first letter typed in a large group does not wait for it.
    QTimer* findPrepare;

    // One entry of a command in one place.
    struct TEntry {
        QAction* Action = nullptr;
        TCommandPlace Place = TCommandPlace::Menu;
        const TCommandDef* Def = nullptr;
    };
    std::vector<TEntry> entries;
    QStringList availableCommands;
    QHash<QString, std::function<void()>> boundHandlers;
    bool toolbarDisabled = false;

    void FormCreate();
    void buildCommands();
    QMenu* buildMenu(const TCommandLayout& layout, QMenu* menu);
    QAction* entryOf(const TCommandDef& def, TCommandPlace place);
    void runCommand(const TCommandDef& def);
    void buildStatusBar();
    // Mouse and key input to the trees is dropped while the program is busy or a news job runs.
    void guardInput(QAbstractItemView* tree);
    bool inputHeldBack() const;
    // While a news job runs the trees refuse selection changes only: expand and collapse (by
    // their buttons and keys) and the mark columns still work. True when the event was used up.
    bool heldBackMouse(QAbstractItemView* tree, QEvent* event);
    bool heldBackKey(QAbstractItemView* tree, QKeyEvent* event);
    // The reading keys of the trees (N) and, with paging, of the article view and the message
    // pane (Space); true when the key was used.
    bool readingKey(QKeyEvent* event, bool paging);
    void placeProgress();
    void ShowTipWindow();
    void bindNewsStore();
    // The certificate authorities of the "NewsCAFile" setting are trusted for news servers.
    void trustNewsCaFile();
    void bindNewsCommands();
    void createSpeech();
    void bindSpeech();
    // The speech manager's enabling of a command in one place (all places start enabled).
    void setSpeechEnabled(const QString& id, TCommandPlace place, bool enabled);
    QHash<QString, bool> speechEnabled;
    void bindSpeaking();
    void createMediaControls();
    bool articleProgressFull = false;
    bool configLoaded = false;

    QPointer<QWidget> splash;
    // The article the read timer runs for: its group and Message-ID.
    TConfigClass* readTimerGroup = nullptr;
    QString readTimerId;
    bool closedOnce = false;
    bool destroyed = false;
};
