#include "gui/dialogs/NewsGroupTreeView.h"

#include "core/BusyGuard.h"
#include "gui/app/ProgressWindow.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "gui/app/WindowService.h"
#include "core/RegistryUnit.h"
#include "gui/app/WindowPlacement.h"
#include "core/TextFiles.h"
#include "gui/news/NewsIcons.h"
#include "nntp/NNTPProcessor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <memory>

namespace {

const QString PlacementName = QStringLiteral("TNGDialog");
constexpr int KindRole = Qt::UserRole;         // 0 folder, 1 group
constexpr int PictureRole = Qt::UserRole + 1;  // picture index, -1 none
constexpr int KindFolder = 0;
constexpr int KindGroup = 1;
// Longest stretch of list work before pending events get their turn.
constexpr qint64 SliceMs = 25;

qint64 NowMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

// The group name of one list line: the text before the first blank.
QString LineName(const QByteArray& line)
{
    qsizetype end = line.indexOf(' ');
    if (end < 0)
        end = line.size();
    qsizetype len = end;
    while (len > 0 && (line.at(len - 1) == '\r' || line.at(len - 1) == '\n'))
        --len;
    return QString::fromUtf8(line.constData(), len);
}

// The list file's lines; empty when the file cannot be read (it may have vanished).
QList<QByteArray> ReadListLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        UtilsClass::Log(QStringLiteral("Cannot read the newsgroup list ") + path + QStringLiteral(": ") + f.errorString());
        return {};
    }
    const QByteArray data = f.readAll();
    QList<QByteArray> lines = data.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// TSubscribeList

TSubscribeRec* TSubscribeList::Find(const QString& name)
{
    auto it = index.constFind(name);
    return it == index.constEnd() ? nullptr : &items[size_t(*it)];
}

const TSubscribeRec* TSubscribeList::Find(const QString& name) const
{
    auto it = index.constFind(name);
    return it == index.constEnd() ? nullptr : &items[size_t(*it)];
}

void TSubscribeList::Add(const QString& name, qint32 state)
{
    index.insert(name, int(items.size()));
    items.push_back({name, state});
}

void TSubscribeList::Remove(const QString& name)
{
    auto it = index.constFind(name);
    if (it == index.constEnd())
        return;
    items.erase(items.begin() + *it);
    reindex();
}

void TSubscribeList::Clear()
{
    items.clear();
    index.clear();
}

void TSubscribeList::reindex()
{
    index.clear();
    for (size_t i = 0; i < items.size(); ++i)
        index.insert(items[i].Name, int(i));
}

// ---------------------------------------------------------------------------------------------
// TNGDialog

TNGDialog::TNGDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("NGDialog"));
    setWindowTitle(QStringLiteral("Newsgroup List"));
    resize(560, 520);
    for (int i = 0; i < 5; ++i)
        FIcons[i] = NewsPicture(i);

    auto* layout = new QVBoxLayout(this);
    lblServer = new QLabel(this);
    QFont bold = lblServer->font();
    bold.setBold(true);
    lblServer->setFont(bold);
    layout->addWidget(lblServer);

    pcPages = new QTabWidget(this);
    pcPages->setAccessibleName(QStringLiteral("Newsgroup list pages"));
    tvNewsgroups = new QTreeWidget(pcPages);
    tvNewsgroups->setAccessibleName(QStringLiteral("Newsgroups"));
    tvNewsgroups->setHeaderHidden(true);
    tvNewsgroups->setColumnCount(1);
    tvNewsgroups->setUniformRowHeights(true);
    pcPages->addTab(tvNewsgroups, QStringLiteral("Newsgroups"));

    auto* searchPage = new QWidget(pcPages);
    auto* searchLayout = new QVBoxLayout(searchPage);
    auto* searchRow = new QHBoxLayout();
    edSearch = new QLineEdit(searchPage);
    btnSearch = new QPushButton(QStringLiteral("Search"), searchPage);
    auto* searchLabel = new QLabel(QStringLiteral("Search &for:"), searchPage);
    searchLabel->setBuddy(edSearch);
    searchRow->addWidget(searchLabel);
    searchRow->addWidget(edSearch, 1);
    searchRow->addWidget(btnSearch);
    searchLayout->addLayout(searchRow);
    lvResults = new QListWidget(searchPage);
    lvResults->setAccessibleName(QStringLiteral("Newsgroups found"));
    lvResults->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lvResults->setUniformItemSizes(true);
    searchLayout->addWidget(lvResults, 1);
    pcPages->addTab(searchPage, QStringLiteral("Search"));
    layout->addWidget(pcPages, 1);

    lblStatus = new QLabel(this);
    lblStatus->setWordWrap(true);
    layout->addWidget(lblStatus);

    pnlButtons = new QWidget(this);
    auto* buttons = new QHBoxLayout(pnlButtons);
    buttons->setContentsMargins(0, 0, 0, 0);
    btnRefresh = new QPushButton(QStringLiteral("Refresh List"), pnlButtons);
    btnSubscribe = new QPushButton(QStringLiteral("Subscribe"), pnlButtons);
    btnUnsubscribe = new QPushButton(QStringLiteral("Unsubscribe"), pnlButtons);
    btnOk = new QPushButton(QStringLiteral("OK"), pnlButtons);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnOk->setToolTip(QStringLiteral("Accept changes and exit window"));
    btnCancel->setToolTip(QStringLiteral("Discard changes and exit window"));
    btnRefresh->setToolTip(QStringLiteral("Load / Refresh newsgroup list from server"));
    btnSubscribe->setToolTip(QStringLiteral("Subscribe to selected newsgroup"));
    btnUnsubscribe->setToolTip(QStringLiteral("Unsubscribe from selected newsgroup"));
    for (QPushButton* b : {btnRefresh, btnSubscribe, btnUnsubscribe, btnOk, btnCancel})
        b->setAutoDefault(false);
    btnSearch->setDefault(true);
    buttons->addWidget(btnRefresh);
    buttons->addWidget(btnSubscribe);
    buttons->addWidget(btnUnsubscribe);
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    auto* bottom = new QHBoxLayout();
    bottom->addWidget(pnlButtons, 1);
    bottom->addWidget(btnCancel);
    layout->addLayout(bottom);

    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });
    connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });
    connect(btnRefresh, &QPushButton::clicked, this, [this] { btnRefreshClick(); });
    connect(btnSubscribe, &QPushButton::clicked, this, [this] { btnSubscribeClick(); });
    connect(btnUnsubscribe, &QPushButton::clicked, this, [this] { btnUnsubscribeClick(); });
    connect(btnSearch, &QPushButton::clicked, this, [this] { btnSearchClick(); });
    connect(edSearch, &QLineEdit::returnPressed, this, [this] { btnSearchClick(); });
    connect(tvNewsgroups, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { NodeSelected(current); });
    connect(tvNewsgroups, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item, int) { NodeSelected(item); });
    connect(tvNewsgroups, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item, int) { NodeDoubleClicked(item); });
    connect(tvNewsgroups, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!IsFolder(item))
            return;
        // A folder opened to show the node being selected inside it leaves that selection be.
        bool inside = false;
        for (QTreeWidgetItem* p = tvNewsgroups->currentItem(); p && !inside; p = p->parent())
            inside = p->parent() == item;
        if (!inside)
            tvNewsgroups->setCurrentItem(item);
        SetNodePicture(item, npFolderSelected);
    });
    connect(tvNewsgroups, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (IsFolder(item))
            SetNodePicture(item, npFolder);
    });
    connect(pcPages, &QTabWidget::currentChanged, this, [this](int index) { PageChanged(index); });

    FProgressTimer.setInterval(1000);
    connect(&FProgressTimer, &QTimer::timeout, this, [this] { ProgressTick(); });

    RestoreWindowPlacement(this, PlacementName);
    UpdateLoadState();
}

TNGDialog::~TNGDialog()
{
    FProgressTimer.stop();
    if (FProcessor)
        FProcessor->OnRequestDone = nullptr;
    if (FDownloading)
        FinishDownload(true);
}

bool TNGDialog::Execute(TConfigClass* server, std::vector<TGroupChange>& changes, QWidget* parent)
{
    TTrace t(QStringLiteral("TNGDialog.Execute"));
    if (!server)
        return false;
    TNGDialog dialog(parent);
    dialog.ServerName = server->Name;
    dialog.ServerUserName = server->UserName;
    dialog.ServerPassword = server->Password;
    dialog.ListFile = GetDataFolder() + server->FileBase + QStringLiteral(".chl");
    dialog.ServerEntry = server;
    if (Windows().Exec(&dialog) != QDialog::Accepted)
        return false;
    for (const TSubscribeRec& rec : dialog.SubscribeList.Items()) {
        if (rec.State == 1 || rec.State == 2)
            changes.emplace_back(rec.State, rec.Name);
    }
    return true;
}

QString TNGDialog::BackupFileName(const QString& listFile)
{
    const QFileInfo info(listFile);
    QString base = listFile;
    if (!info.suffix().isEmpty())
        base.chop(info.suffix().size() + 1);
    return base + QStringLiteral("_BU.chl");
}

QString TNGDialog::ProgressText(qint64 size)
{
    if (size <= 1022976)
        return QString::asprintf("Downloaded %.2f %s", double(size) / 1024.0, "K");
    return QString::asprintf("Downloaded %.2f %s", double(size) / 1024000.0, "M");
}

int TNGDialog::NodePicture(const QTreeWidgetItem* node)
{
    const QVariant v = node ? node->data(0, PictureRole) : QVariant();
    return v.isValid() ? v.toInt() : -1;
}

int TNGDialog::ResultPicture(const QListWidgetItem* item)
{
    const QVariant v = item ? item->data(PictureRole) : QVariant();
    return v.isValid() ? v.toInt() : -1;
}

bool TNGDialog::IsFolder(const QTreeWidgetItem* node)
{
    return node && node->data(0, KindRole).toInt() == KindFolder;
}

void TNGDialog::SetNodePicture(QTreeWidgetItem* node, int picture)
{
    node->setData(0, PictureRole, picture);
    node->setIcon(0, picture >= 0 && picture < 5 ? FIcons[picture] : QIcon());
}

void TNGDialog::SetResultPicture(QListWidgetItem* item, int picture)
{
    item->setData(PictureRole, picture);
    item->setIcon(picture >= 0 && picture < 5 ? FIcons[picture] : QIcon());
}

void TNGDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    FormShow();
    if (!FActivated) {
        FActivated = true;
        // Once the window is up: the list comes from disk, or from the server the first time.
        QTimer::singleShot(0, this, [this] { FirstActivation(); });
    }
}

void TNGDialog::FormShow()
{
    lblServer->setText(ServerName);
    btnSubscribe->setEnabled(false);
    btnUnsubscribe->setEnabled(false);
}

void TNGDialog::FirstActivation()
{
    if (FClosing || tvNewsgroups->topLevelItemCount() > 0)
        return;
    if (QFileInfo::exists(ListFile))
        LoadList();
    else
        Download();
}

void TNGDialog::LetEventsRun()
{
    const qint64 now = NowMs();
    if (now - FSliceStart < SliceMs)
        return;
    // Only Cancel stays live meanwhile (SetBusy); the caller checks FClosing afterwards.
    TBusyGuard::ProcessEvents();
    FSliceStart = NowMs();
}

void TNGDialog::SetBusy(bool busy)
{
    FBusy = busy;
    // While the list is worked on only Cancel stays live; it ends the work and the window.
    pnlButtons->setEnabled(!busy);
    pcPages->setEnabled(!busy);
}

void TNGDialog::BringToFront()
{
    raise();
    activateWindow();
}

// ---------------------------------------------------------------------------------------------
// Download

void TNGDialog::btnRefreshClick()
{
    if (FBusy || FDownloading)
        return;
    ClearTree();
    Download();
}

void TNGDialog::Download()
{
    TTrace t(QStringLiteral("TNGDialog.Download"));
    if (FDownloading || FClosing)
        return;
    FUserCancelled = false;
    FLastFailure.clear();
    lblStatus->clear();

    delete FProgress;
    FProgress = new TProgressWindow(this, QStringLiteral("Downloading Newsgroups from Server ..."),
                                    TProgressWindow::WithStatus | TProgressWindow::WithCancel);
    FProgress->OnCancel = [this](TProgressWindow*) {
        FUserCancelled = true;
        if (FProcessor)
            FProcessor->Abort();
    };
    FProgress->show();

    const QString backup = BackupFileName(ListFile);
    if (QFileInfo::exists(ListFile)) {
        QFile::remove(backup);
        if (!QFile::copy(ListFile, backup))
            UtilsClass::Log(QStringLiteral("Cannot copy ") + ListFile + QStringLiteral(" to ") + backup);
    }

    if (!FProcessor)
        FProcessor = new TNntpProcessor(this);
    FProcessor->Host = ServerName;
    FProcessor->UserName = ServerUserName;
    FProcessor->Password = ServerPassword;
    FProcessor->OnRequestDone = [this](QObject*, int code, const QString& message) { DownloadDone(code, message); };
    // A login typed here is kept with the server, "Save Password" as the user ticked it.
    FProcessor->OnAuthenticated = [this](QObject*, const QString& host, const QString& user, const QString& password,
                                         bool save) {
        ServerUserName = user;
        ServerPassword = password;
        TNewsStore* store = ServerEntry ? ServerEntry->Store() : nullptr;
        if (!store || !store->SetLogin(host, user, password, save))
            return;
        try {
            store->SaveConfig();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Saving the login failed: ") + e.message());
        }
    };
    FDownloading = true;
    SetBusy(true);
    FProgressTimer.start();
    FProcessor->DownloadGroupList(ListFile);
}

void TNGDialog::ProgressTick()
{
    if (FProcessor && FProgress)
        FProgress->SetStatus(ProgressText(FProcessor->DownloadedSize()));
}

void TNGDialog::FinishDownload(bool restore)
{
    FProgressTimer.stop();
    FDownloading = false;
    if (FProgress) {
        FProgress->OnCancel = nullptr;
        FProgress->hide();
        FProgress->deleteLater();
        FProgress = nullptr;
    }
    const QString backup = BackupFileName(ListFile);
    if (QFileInfo::exists(backup)) {
        if (restore) {
            QFile::remove(ListFile);
            if (!QFile::copy(backup, ListFile))
                UtilsClass::Log(QStringLiteral("Cannot restore ") + ListFile + QStringLiteral(" from ") + backup);
        }
        QFile::remove(backup);
    } else if (restore) {
        // A first download that failed or was cancelled leaves no list behind: what arrived
        // is cut off, and the next opening asks the server again instead of showing it.
        QFile::remove(ListFile);
    }
}

void TNGDialog::DownloadDone(int code, const QString& message)
{
    UtilsClass::Log(QStringLiteral("TNGDialog.DownloadDone: [%1] [%2]").arg(code).arg(message));
    // A failed refresh puts the previous list back; so does the user's Cancel, which would
    // otherwise leave a list cut off wherever the download happened to be.
    FinishDownload(code != 0 || FUserCancelled);
    SetBusy(false);
    if (code != 0) {
        FLastFailure = message;
        lblStatus->setText(QStringLiteral("The newsgroup list could not be downloaded: ") + message);
    } else if (FUserCancelled) {
        lblStatus->setText(QStringLiteral("The newsgroup list download was cancelled."));
    }
    emit downloadFinished(code);
    if (!FClosing)
        LoadList();
}

// ---------------------------------------------------------------------------------------------
// Load and tree

void TNGDialog::LoadList()
{
    if (QFileInfo::exists(ListFile))
        BuildTree();
    UpdateLoadState();
    emit listLoaded();
}

void TNGDialog::UpdateLoadState()
{
    const bool empty = tvNewsgroups->topLevelItemCount() == 0;
    btnRefresh->setText(empty ? QStringLiteral("Load") : QStringLiteral("Refresh List"));
    pcPages->setTabVisible(1, !empty);
}

void TNGDialog::RebuildSubscribeList()
{
    // Marks made in this visit survive a reload of the list; the rest comes from the server
    // tree as it stands.
    std::vector<TSubscribeRec> pending;
    for (const TSubscribeRec& rec : SubscribeList.Items())
        if (rec.State != 0)
            pending.push_back(rec);
    SubscribeList.Clear();
    if (ServerEntry) {
        for (int i = 0; i < ServerEntry->ChildCount(); ++i) {
            const TConfigClass* entry = ServerEntry->Child(i);
            if (entry->Kind == ckNewsGroup && !SubscribeList.Find(entry->Name))
                SubscribeList.Add(entry->Name, 0);
        }
    }
    for (const TSubscribeRec& rec : pending) {
        TSubscribeRec* existing = SubscribeList.Find(rec.Name);
        if (rec.State == 2 && existing)
            existing->State = 2;
        else if (rec.State == 1 && !existing)
            SubscribeList.Add(rec.Name, 1);
    }
}

void TNGDialog::ClearTree()
{
    if (tvNewsgroups->topLevelItemCount() == 0)
        return;
    TProgressWindow clearing(this, QStringLiteral("Clearing ..."), TProgressWindow::WithStatus);
    clearing.ShowNow();
    FGroupNodes.clear();
    tvNewsgroups->setUpdatesEnabled(false);
    tvNewsgroups->clear();
    tvNewsgroups->setUpdatesEnabled(true);
}

void TNGDialog::ClearResults()
{
    if (lvResults->count() == 0)
        return;
    TProgressWindow clearing(this, QStringLiteral("Clearing ..."), TProgressWindow::WithStatus);
    clearing.ShowNow();
    lvResults->clear();
}

void TNGDialog::BuildTree()
{
    TTrace t(QStringLiteral("TNGDialog.BuildTree"));
    if (!ServerName.trimmed().isEmpty())
        RebuildSubscribeList();
    ClearTree();
    TProgressWindow working(this, QStringLiteral("Loading Newsgroups into Viewer ..."), TProgressWindow::WithStatus);
    working.show();
    SetBusy(true);
    tvNewsgroups->setUpdatesEnabled(false);
    FSliceStart = NowMs();

    const QList<QByteArray> lines = ReadListLines(ListFile);
    // The nodes are built apart from the view and handed to it in one go at the end.
    QList<QTreeWidgetItem*> roots;
    QList<QTreeWidgetItem*> stack; // open nodes by depth - 1
    QList<QString> paths;          // their texts
    QMultiHash<QString, QTreeWidgetItem*> groupNodes;
    groupNodes.reserve(lines.size());
    const QVariant folderKind(KindFolder);
    const QVariant groupKind(KindGroup);
    bool stopped = false;
    for (const QByteArray& line : lines) {
        LetEventsRun();
        if (FClosing) {
            stopped = true;
            break;
        }
        const QString name = LineName(line);
        const QStringView nameView(name);
        qsizetype partStart = 0;
        for (int d = 1; partStart <= name.size(); ++d) {
            qsizetype partEnd = name.indexOf(QLatin1Char('.'), partStart);
            if (partEnd < 0)
                partEnd = name.size();
            // The walk ends at the first empty name part.
            if (nameView.mid(partStart, partEnd - partStart).trimmed().isEmpty())
                break;
            const QStringView path = nameView.left(partEnd);
            const bool full = partEnd == name.size();
            QTreeWidgetItem* node = nullptr;
            if (stack.size() >= d) {
                if (paths.at(d - 1) == path) {
                    node = stack.at(d - 1);
                } else {
                    stack.resize(d - 1);
                    paths.resize(d - 1);
                }
            }
            if (!node) {
                const QString text = path.toString();
                node = new QTreeWidgetItem();
                node->setText(0, text);
                if (d == 1)
                    roots << node;
                else
                    stack.at(d - 2)->addChild(node);
                stack << node;
                paths << text;
                if (!full) {
                    node->setData(0, KindRole, folderKind);
                    SetNodePicture(node, npFolder);
                }
            }
            if (full) {
                // A group that is also the folder of the groups below it stays one node.
                node->setData(0, KindRole, groupKind);
                if (ShownSubscribed(name))
                    SetNodePicture(node, npNewsGroup);
                else if (node->data(0, PictureRole).isValid())
                    SetNodePicture(node, -1);
                groupNodes.insert(name, node);
            }
            partStart = partEnd + 1;
        }
    }
    if (stopped) {
        qDeleteAll(roots);
    } else {
        tvNewsgroups->addTopLevelItems(roots);
        FGroupNodes = std::move(groupNodes);
    }
    tvNewsgroups->setUpdatesEnabled(true);
    working.close();
    SetBusy(false);
    UpdateLoadState();
    if (!stopped)
        BringToFront();
}

// ---------------------------------------------------------------------------------------------
// Selection, marks, pages

void TNGDialog::NodeSelected(QTreeWidgetItem* node)
{
    if (!node)
        return;
    if (IsFolder(node)) {
        btnSubscribe->setEnabled(false);
        btnUnsubscribe->setEnabled(false);
        return;
    }
    const bool subscribed = NodePicture(node) == npNewsGroup;
    btnSubscribe->setEnabled(!subscribed);
    btnUnsubscribe->setEnabled(subscribed);
}

void TNGDialog::NodeDoubleClicked(QTreeWidgetItem* node)
{
    if (!node)
        return;
    if (IsFolder(node)) {
        btnSubscribe->setEnabled(false);
        btnUnsubscribe->setEnabled(false);
        return;
    }
    tvNewsgroups->setCurrentItem(node);
    if (NodePicture(node) == npNewsGroup)
        btnUnsubscribeClick();
    else
        btnSubscribeClick();
}

void TNGDialog::ShowNamePicture(const QString& name, int picture)
{
    for (auto it = FGroupNodes.constFind(name); it != FGroupNodes.cend() && it.key() == name; ++it)
        SetNodePicture(it.value(), picture);
    for (int i = 0; i < lvResults->count(); ++i) {
        QListWidgetItem* item = lvResults->item(i);
        if (item->text() == name)
            SetResultPicture(item, picture);
    }
}

bool TNGDialog::ShownSubscribed(const QString& name) const
{
    // A group marked to be dropped no longer shows as subscribed, wherever it appears.
    const TSubscribeRec* rec = SubscribeList.Find(name);
    return rec && rec->State != 2;
}

void TNGDialog::Subscribe(const QString& name)
{
    if (TSubscribeRec* rec = SubscribeList.Find(name)) {
        // Taking back a drop keeps the group; a group already newly subscribed stays new, so
        // subscribing it twice cannot lose it.
        if (rec->State == 2)
            rec->State = 0;
    } else {
        SubscribeList.Add(name, 1);
    }
    ShowNamePicture(name, npNewsGroup);
}

bool TNGDialog::Unsubscribe(const QString& name)
{
    TSubscribeRec* rec = SubscribeList.Find(name);
    if (!rec)
        return false;
    if (rec->State == 1)
        SubscribeList.Remove(name);
    else
        rec->State = 2;
    ShowNamePicture(name, -1);
    return true;
}

void TNGDialog::btnSubscribeClick()
{
    if (FBusy)
        return;
    if (pcPages->currentIndex() == 0) {
        QTreeWidgetItem* node = tvNewsgroups->currentItem();
        if (!node || IsFolder(node))
            return;
        Subscribe(node->text(0));
        btnSubscribe->setEnabled(false);
        btnUnsubscribe->setEnabled(true);
    } else {
        for (QListWidgetItem* item : lvResults->selectedItems())
            Subscribe(item->text());
    }
}

void TNGDialog::btnUnsubscribeClick()
{
    if (FBusy)
        return;
    if (pcPages->currentIndex() == 0) {
        QTreeWidgetItem* node = tvNewsgroups->currentItem();
        if (!node || IsFolder(node))
            return;
        if (Unsubscribe(node->text(0))) {
            btnSubscribe->setEnabled(true);
            btnUnsubscribe->setEnabled(false);
        }
    } else {
        for (QListWidgetItem* item : lvResults->selectedItems())
            Unsubscribe(item->text());
    }
}

void TNGDialog::PageChanged(int index)
{
    if (index == 0) {
        btnRefresh->setEnabled(true);
    } else {
        btnRefresh->setEnabled(false);
        edSearch->setFocus();
        btnSubscribe->setEnabled(true);
        btnUnsubscribe->setEnabled(true);
    }
}

void TNGDialog::btnSearchClick()
{
    TTrace t(QStringLiteral("TNGDialog.Search"));
    if (FBusy)
        return;
    const QString text = edSearch->text();
    if (text.trimmed().isEmpty()) {
        Dialogs().ShowMessage(QStringLiteral("Enter a search string"));
        return;
    }
    if (!lblServer->text().trimmed().isEmpty() && SubscribeList.Count() == 0)
        RebuildSubscribeList();
    ClearResults();
    TProgressWindow working(this, QStringLiteral("Searching ..."), TProgressWindow::WithStatus);
    working.show();
    SetBusy(true);
    lvResults->setUpdatesEnabled(false);
    FSliceStart = NowMs();
    const QList<QByteArray> lines = ReadListLines(ListFile);
    for (const QByteArray& line : lines) {
        LetEventsRun();
        if (FClosing)
            break;
        const QString name = LineName(line);
        if (!name.contains(text, Qt::CaseSensitive))
            continue;
        auto* item = new QListWidgetItem(name, lvResults);
        SetResultPicture(item, ShownSubscribed(name) ? npNewsGroup : -1);
    }
    lvResults->setUpdatesEnabled(true);
    working.close();
    SetBusy(false);
    if (FClosing)
        return;
    if (lvResults->count() > 0) {
        lvResults->setCurrentRow(0);
        lvResults->setFocus();
    }
    BringToFront();
    if (lvResults->count() == 0)
        Dialogs().ShowMessage(QStringLiteral("No Newsgroups found matching ") + text);
    emit searchFinished();
}

// ---------------------------------------------------------------------------------------------
// OK, Cancel, closing

void TNGDialog::btnOkClick()
{
    if (FBusy || FDownloading)
        return;
    ClearTree();
    ClearResults();
    done(QDialog::Accepted);
}

void TNGDialog::btnCancelClick()
{
    if (!FBusy && !FDownloading) {
        ClearTree();
        ClearResults();
    }
    done(QDialog::Rejected);
}

void TNGDialog::done(int result)
{
    // Work still running stops with the window: a download gives the previous list back,
    // a load or search ends at its next turn.
    if (FBusy || FDownloading)
        result = QDialog::Rejected;
    FClosing = true;
    if (FDownloading) {
        if (FProcessor) {
            FProcessor->OnRequestDone = nullptr;
            FProcessor->Abort();
        }
        FinishDownload(true);
        SetBusy(false);
    }
    if (!FPlacementSaved) {
        SaveWindowPlacement(this, PlacementName);
        FPlacementSaved = true;
    }
    QDialog::done(result);
}
