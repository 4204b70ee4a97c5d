#pragma once
// The newsgroup list window: the complete group list of one server, fetched with LIST into a
// list file that stays on disk between runs, shown as a tree of the dot-separated name parts,
// searchable by substring. The user marks groups to subscribe and to drop; the caller applies
// the marks to the server tree when the window ends with OK.
#include "news/NewsStore.h"

#include <QDialog>
#include <QHash>
#include <QMultiHash>
#include <QIcon>
#include <QList>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TNntpProcessor;
class TProgressWindow;

// One mark: 0 subscribed when the window opened (or kept), 1 newly subscribed, 2 to be dropped.
struct TSubscribeRec {
    QString Name;
    qint32 State = 0;
};

// The marks in the order they were made; names compare exactly (letter case counts).
class TSubscribeList {
public:
    TSubscribeRec* Find(const QString& name);
    const TSubscribeRec* Find(const QString& name) const;
    void Add(const QString& name, qint32 state);
    void Remove(const QString& name);
    void Clear();
    int Count() const { return int(items.size()); }
    const std::vector<TSubscribeRec>& Items() const { return items; }

private:
    void reindex();
    std::vector<TSubscribeRec> items;
    QHash<QString, int> index;
};

class TNGDialog : public QDialog {
    Q_OBJECT
public:
    explicit TNGDialog(QWidget* parent = nullptr);
    ~TNGDialog() override;

    // Set by the caller before showing the window.
    QString ServerName;
    QString ServerUserName;
    QString ServerPassword;
    QString ListFile;                       // data folder + server's file base + ".chl"
    TConfigClass* ServerEntry = nullptr;    // the server's entry in the news store

    // The marks; read by the caller after OK.
    TSubscribeList SubscribeList;

    // The main window's "Newsgroup List" command for one server entry: shows the window
    // modally and, on OK, reports the changes in the order they were made (1 subscribe,
    // 2 unsubscribe). False when the window was cancelled.
    static bool Execute(TConfigClass* server, std::vector<TGroupChange>& changes, QWidget* parent = nullptr);

    // The list file's backup during a download: its path without the extension + "_BU.chl".
    static QString BackupFileName(const QString& listFile);
    // The download progress text for a file of this size.
    static QString ProgressText(qint64 size);

    // Window events and buttons.
    void FormShow();
    void FirstActivation();
    void Download();
    void LoadList();
    void btnRefreshClick();
    void btnSubscribeClick();
    void btnUnsubscribeClick();
    void btnSearchClick();
    void btnOkClick();
    void btnCancelClick();
    void RebuildSubscribeList();

    bool Downloading() const { return FDownloading; }
    bool Busy() const { return FBusy; }
    TNntpProcessor* Processor() const { return FProcessor; }
    TProgressWindow* ProgressWindow() const { return FProgress; }
    QString LastFailure() const { return FLastFailure; }

    QTreeWidget* Tree() const { return tvNewsgroups; }
    QListWidget* Results() const { return lvResults; }
    QLineEdit* SearchEdit() const { return edSearch; }
    QTabWidget* Pages() const { return pcPages; }
    QLabel* ServerLabel() const { return lblServer; }
    QPushButton* RefreshButton() const { return btnRefresh; }
    QPushButton* SubscribeButton() const { return btnSubscribe; }
    QPushButton* UnsubscribeButton() const { return btnUnsubscribe; }
    QPushButton* SearchButton() const { return btnSearch; }
    QPushButton* OkButton() const { return btnOk; }
    QPushButton* CancelButton() const { return btnCancel; }

    // The picture index a tree node or result shows: 3 folder, 4 open folder, 1 subscribed,
    // -1 none.
    static int NodePicture(const QTreeWidgetItem* node);
    static int ResultPicture(const QListWidgetItem* item);
    static bool IsFolder(const QTreeWidgetItem* node);

signals:
    void listLoaded();
    void searchFinished();
    void downloadFinished(int code);

protected:
    void showEvent(QShowEvent* event) override;
    void done(int result) override;

private:
    void BuildTree();
    void DownloadDone(int code, const QString& message);
    void FinishDownload(bool restore);
    void ProgressTick();
    void UpdateLoadState();
    void SetBusy(bool busy);
    void ClearTree();
    void ClearResults();
    void SetNodePicture(QTreeWidgetItem* node, int picture);
    void SetResultPicture(QListWidgetItem* item, int picture);
    bool ShownSubscribed(const QString& name) const;
    void Subscribe(const QString& name);
    bool Unsubscribe(const QString& name);
    void ShowNamePicture(const QString& name, int picture);
    void NodeSelected(QTreeWidgetItem* node);
    void NodeDoubleClicked(QTreeWidgetItem* node);
    void PageChanged(int index);
    void BringToFront();
    // Lets pending events run when a slice of work has taken long enough.
    void LetEventsRun();

    QLabel* lblServer = nullptr;
    QLabel* lblStatus = nullptr;
    QTabWidget* pcPages = nullptr;
    QTreeWidget* tvNewsgroups = nullptr;
    QLineEdit* edSearch = nullptr;
    QPushButton* btnSearch = nullptr;
    QListWidget* lvResults = nullptr;
    QWidget* pnlButtons = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
    QPushButton* btnRefresh = nullptr;
    QPushButton* btnSubscribe = nullptr;
    QPushButton* btnUnsubscribe = nullptr;

    TNntpProcessor* FProcessor = nullptr;
    TProgressWindow* FProgress = nullptr;
    QTimer FProgressTimer;
    bool FActivated = false;
    bool FDownloading = false;
    bool FUserCancelled = false;
    bool FBusy = false;
    bool FClosing = false;
    bool FPlacementSaved = false;
    QString FLastFailure;
    qint64 FSliceStart = 0;
    // Every group node by name, so a mark made on the search page shows in the tree too.
    QMultiHash<QString, QTreeWidgetItem*> FGroupNodes;
    QIcon FIcons[5];
};
