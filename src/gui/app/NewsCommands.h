#pragma once
// The main window's network commands: downloading the new headers of a newsgroup, catching up
// a newsgroup or a whole server, the body of the focused article for the message pane, and the
// login data the user typed. Each job goes to the main request processor; its events come back
// here. While a job runs neither tree accepts a new selection (the window asks
// SelectionChangeAllowed).
#include "gui/app/ProgressWindow.h"
#include "news/ThreadModel.h"
#include "nntp/HeaderDownload.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class TBaseRegistryClass;
class TConfigClass;
class TNewsWindow;
class TNntpProcessor;
class TNewsStore;
class TServerTree;
struct TCatchUpRecord;
class TThreadView;
struct TNntpHeader;

class TNewsCommands : public QObject {
    Q_OBJECT
public:
    // Job tags of the main processor.
    enum { jtHeaders = 0, jtBody = 1, jtCatchUpGroup = 2, jtCatchUpServer = 3 };

    // Creates the main processor and binds its events. No server is contacted.
    TNewsCommands(TNewsWindow* window, TServerTree* servers, TThreadView* view, TBaseRegistryClass* store);
    ~TNewsCommands() override;

    TNntpProcessor* MainProcessor() const { return processor.get(); }
    // The progress window of the running download or catch-up (none when idle).
    TProgressWindow* ProgressWindow() const { return progress; }
    // Headers of the group the progress window shows that arrived in this job.
    int HeaderCount() const { return headerCount; }

    // Commands.
    void DownloadMessages(TConfigClass* group);
    // The download command of the menus and the toolbar: the selected newsgroup.
    void DownloadSelected();
    void CatchUp();
    void CatchUpServer();

    // Events of the article view and of the main window's read timer.
    void ItemFocused(TThreadModel::TNode* item);
    void ArticleReadTimeout(TThreadModel::TNode* item);

    // Handlers of the processor's events (public: the speaking processor shares the last one).
    void HeaderHandler(const QString& host, const TNntpHeader& header, const QString& group);
    void GuiNntpRequestDoneHandler(int code, const QString& message);
    void GuiNntpCaughtUpHandler(const QString& host, const QString& group);
    void DisplayBodyHandler(const QString& host, const QStringList& lines, const QString& messageID,
                            const QString& group);
    void CredentialsHandler(const QString& host, const QString& userName, const QString& password,
                            bool savePassword);

    // False while the main processor runs a job: the trees keep their selection.
    bool SelectionChangeAllowed() const;

    // A body line as the message pane shows it: control characters other than TAB become
    // U+FFFD, so binary bytes cannot garble the pane.
    static QString DisplayLine(const QString& line);
    // Longest piece of a body line the pane shows as one line.
    static constexpr qsizetype MaxPaneLine = 2000;

private:
    // Opens the progress window and lets pending events run once, so it is drawn and its
    // Cancel can be clicked before the job starts. False when the job must not start: it was
    // cancelled meanwhile, or its group left the tree or the selection.
    bool openProgress(const QString& prefix, const QString& group, TConfigClass* target);
    void showProgressGroup(const QString& group);
    void closeProgress();
    // Starts a catch-up job of the record's groups with the login of the target's server.
    void startCatchUp(const TCatchUpRecord& groups, TConfigClass* target, int jobTag, const QString& operation);
    void stopViewUpdates();
    void resumeViewUpdates();
    void showViewProgress();
    void expireArticles(TConfigClass* group, int code, const QString& message);
    void saveDirtyGroups();
    // The newsgroup of that name on that server (the selected one first).
    TConfigClass* groupByName(const QString& host, const QString& group) const;
    int setting(const char* key) const;

    TNewsWindow* form;
    TServerTree* servers;
    TNewsStore* news;
    TThreadView* view;
    TBaseRegistryClass* store;
    std::unique_ptr<TNntpProcessor> processor;
    QPointer<TProgressWindow> progress;
    QString progressPrefix;
    QString progressHost;     // the host and group the progress window last showed
    QString progressGroup;
    int headerCount = 0;
    bool cancelledBeforeStart = false;
    // What the running download or catch-up does to the store, and its counts.
    THeaderDownload download;
    bool starting = false;    // a command is between its checks and the start of its job
    bool viewFrozen = false;
    QElapsedTimer sinceViewShown;
};
