#pragma once
// The main window's network commands: downloading the new headers of a newsgroup, catching up
// a newsgroup or a whole server, the body of the focused article for the message pane, and the
// login data the user typed. Each job goes to the main request processor; its events come back
// here. While a job runs neither tree accepts a new selection.
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TBaseRegistryClass;
class TConfigClass;
class TForm1;
class TNntpProcessor;
class TNewsStore;
class TServerTree;
struct TCatchUpRecord;
class TThreadView;
struct TNntpHeader;

// The progress window of a download or catch-up: its title is the prefix followed by the
// group's name; Cancel ends the running job.
class THeaderWorkingDialog : public QDialog {
    Q_OBJECT
public:
    THeaderWorkingDialog(const QString& prefix, QWidget* parent = nullptr);

    QString Prefix;
    // The host and group the window last showed.
    QString Host;
    QString Group;

    void ShowGroup(const QString& group);
    void SetPercent(int percent);
    int Percent() const;
    QProgressBar* ProgressBar() const { return bar; }
    QPushButton* CancelButton() const { return btnCancel; }

    // Raised by the Cancel button (and by closing the window).
    std::function<void(THeaderWorkingDialog*)> OnCancel;

protected:
    void reject() override;

private:
    QLabel* label;
    QProgressBar* bar;
    QPushButton* btnCancel;
};

class TNewsCommands : public QObject {
    Q_OBJECT
public:
    // Job tags of the main processor.
    enum { jtHeaders = 0, jtBody = 1, jtCatchUpGroup = 2, jtCatchUpServer = 3 };

    // Creates the main processor and binds its events. No server is contacted.
    TNewsCommands(TForm1* form, TServerTree* servers, TThreadView* view, TBaseRegistryClass* store);
    ~TNewsCommands() override;

    TNntpProcessor* MainProcessor() const { return processor.get(); }
    THeaderWorkingDialog* ProgressWindow() const { return progress; }

    // Commands.
    void DownloadMessages(TConfigClass* group);
    // The download command of the menus and the toolbar: the selected newsgroup.
    void DownloadSelected();
    void CatchUp();
    void CatchUpServer();

    // Events of the article view and of the main window's read timer.
    void ItemFocused(QTreeWidgetItem* item);
    void ArticleReadTimeout(QTreeWidgetItem* item);

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

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void guardTree(QTreeWidget* tree);
    void openProgress(const QString& prefix, const QString& group);
    void closeProgress();
    // Starts a catch-up job of the record's groups with the server entry's login.
    void startCatchUp(const TCatchUpRecord& groups, TConfigClass* server, int jobTag, const QString& operation);
    void setToolbarDisabled(bool disabled);
    void stopViewUpdates();
    void resumeViewUpdates();
    void showViewProgress();
    void expireArticles(TConfigClass* group, int code, const QString& message);
    void saveDirtyGroups();
    TConfigClass* groupByName(const QString& group) const;
    int setting(const char* key) const;

    TForm1* form;
    TServerTree* servers;
    TNewsStore* news;
    TThreadView* view;
    TBaseRegistryClass* store;
    std::unique_ptr<TNntpProcessor> processor;
    QPointer<THeaderWorkingDialog> progress;
    QString jobGroup;         // the group of the running header download
    int jobHeaders = 0;       // headers this job delivered
    bool starting = false;    // a command is between its checks and the start of its job
    bool viewFrozen = false;
    QElapsedTimer sinceViewShown;
    QPointer<QTreeWidget> guardedTrees[2];
};
