#include "gui/app/NewsCommands.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "gui/app/NewsWindow.h"
#include "gui/app/ProgressWindow.h"
#include "gui/app/RunCommand.h"
#include "core/VorlixException.h"
#include "news/ArticleUnit.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "gui/news/ThreadView.h"
#include "nntp/NNTPProcessor.h"

#include <QTreeWidget>
#include <algorithm>
#include <cmath>
#include <exception>

// --- News commands ---------------------------------------------------------------------------

namespace {
const QString kSelectGroup = QStringLiteral("Select a Newsgroup first");
const QString kSelectServer = QStringLiteral("Select a News Server first");
const QString kNoGroups = QStringLiteral("You must subscribe to one or more newsgroups on this server first");

QString errorText(const std::exception& e)
{
    if (auto* v = dynamic_cast<const EVorlixError*>(&e))
        return v->message();
    return QString::fromLocal8Bit(e.what());
}
} // namespace

TNewsCommands::TNewsCommands(TNewsWindow* form_, TServerTree* servers_, TThreadView* view_, TBaseRegistryClass* store_)
    : form(form_), servers(servers_), news(servers_->News), view(view_), store(store_), download(servers_->News)
{
    processor = std::make_unique<TNntpProcessor>();
    processor->OnRequestDone = [this](QObject*, int code, const QString& message) {
        GuiNntpRequestDoneHandler(code, message);
    };
    processor->OnHeader = [this](QObject*, const QString& host, const TNntpHeader& header, const QString& group) {
        HeaderHandler(host, header, group);
    };
    processor->OnAuthenticated = [this](QObject*, const QString& host, const QString& user, const QString& pass,
                                        bool save) { CredentialsHandler(host, user, pass, save); };
    processor->OnBody = [this](QObject*, const QString& host, const QStringList& lines, const QString& id,
                               const QString& group) { DisplayBodyHandler(host, lines, id, group); };
    processor->OnCaughtUp = [this](QObject*, const QString& host, const QString& group) {
        GuiNntpCaughtUpHandler(host, group);
    };
    processor->OnStatus = [this](QObject*, const QString& text) { form->SetStatusText(text); };
}

TNewsCommands::~TNewsCommands()
{
    if (progress)
        delete progress.data();
    // The processor's events must not reach a half-destroyed window.
    processor->OnRequestDone = nullptr;
    processor->OnHeader = nullptr;
    processor->OnAuthenticated = nullptr;
    processor->OnBody = nullptr;
    processor->OnCaughtUp = nullptr;
    processor->OnStatus = nullptr;
    processor->Abort();
}

int TNewsCommands::setting(const char* key) const
{
    return store->GetValue(QString::fromLatin1(key)).toInt();
}

// --- The selection guard ---------------------------------------------------------------------

bool TNewsCommands::SelectionChangeAllowed() const
{
    return processor->Idle() && !starting;
}

// --- Progress window and toolbar -------------------------------------------------------------

bool TNewsCommands::openProgress(const QString& prefix, const QString& group, TConfigClass* target)
{
    closeProgress();
    const bool wasSelected = target == news->SelectedEntry();
    auto* w = new TProgressWindow(form->Window(), prefix + group,
                                  TProgressWindow::WithBar | TProgressWindow::WithCancel);
    w->setObjectName(QStringLiteral("HeaderWorkingDialog"));
    progressPrefix = prefix;
    progressGroup = group;
    progressHost.clear();
    cancelledBeforeStart = false;
    w->OnCancel = [this](TProgressWindow*) {
        UtilsClass::Log(QStringLiteral("Download cancelled by the user"));
        cancelledBeforeStart = starting;
        if (!starting)
            processor->Abort();
    };
    progress = w;
    headerCount = 0;
    w->ShowNow();
    // The window's Cancel may be clicked now; commands and tree clicks are held back.
    TBusyGuard::ProcessEvents();
    QString why;
    if (cancelledBeforeStart || !progress)
        why = QStringLiteral("cancelled");
    else if (!news->Contains(target))
        why = QStringLiteral("it has left the tree");
    else if (wasSelected && target != news->SelectedEntry())
        why = QStringLiteral("it is no longer selected");
    if (why.isEmpty())
        return true;
    UtilsClass::Log(prefix + group + QStringLiteral(": not started, ") + why);
    closeProgress();
    return false;
}

void TNewsCommands::showProgressGroup(const QString& group)
{
    progressGroup = group;
    progress->SetTitle(progressPrefix + group);
    progress->SetText(progressPrefix + group);
}

void TNewsCommands::closeProgress()
{
    if (!progress)
        return;
    TProgressWindow* w = progress.data();
    progress = nullptr;
    w->OnCancel = nullptr;
    w->hide();
    // The window may be in the middle of its own Cancel click.
    w->deleteLater();
}

void TNewsCommands::stopViewUpdates()
{
    view->View->setUpdatesEnabled(false);
    viewFrozen = true;
    sinceViewShown.start();
}

void TNewsCommands::showViewProgress()
{
    // The frozen view is drawn a few times a second, so it visibly grows while headers arrive
    // without paying for a redraw per header.
    if (!viewFrozen || sinceViewShown.elapsed() < 250)
        return;
    sinceViewShown.restart();
    view->View->setUpdatesEnabled(true);
    view->View->viewport()->repaint();
    view->View->setUpdatesEnabled(false);
}

void TNewsCommands::resumeViewUpdates()
{
    if (!viewFrozen)
        return;
    viewFrozen = false;
    view->View->setUpdatesEnabled(true);
    view->View->viewport()->update();
}

TConfigClass* TNewsCommands::groupByName(const QString& host, const QString& group) const
{
    TConfigClass* selected = news->SelectedEntry();
    const TConfigClass* server = selected ? TNewsStore::ServerOf(selected) : nullptr;
    if (selected && selected->Kind == ckNewsGroup && selected->Name == group && server
        && server->Name.trimmed() == host.trimmed())
        return selected;
    return news->FindGroup(host, group);
}

// --- Commands --------------------------------------------------------------------------------

void TNewsCommands::DownloadSelected()
{
    TConfigClass* e = news->SelectedEntry();
    if (!e || e->Kind != ckNewsGroup) {
        Dialogs().ShowMessage(kSelectGroup);
        return;
    }
    DownloadMessages(e);
}

void TNewsCommands::DownloadMessages(TConfigClass* group)
{
    TConfigClass* server = TNewsStore::ServerOf(group);
    if (!group || group->Kind != ckNewsGroup || !server) {
        Dialogs().ShowMessage(kSelectGroup);
        return;
    }
    if (!SelectionChangeAllowed()) {
        UtilsClass::Log(QStringLiteral("DownloadMessages: a news job is still running"));
        return;
    }
    starting = true;
    const bool started = RunCommand(QStringLiteral("DownloadMessages"), [&] {
        group->EnsureArticles();
        const QString name = group->Name;
        if (!openProgress(QStringLiteral("Downloading Headers for "), name, group))
            return;
        // Events ran: the server is looked up again (openProgress made sure the group is still held).
        server = TNewsStore::ServerOf(group);
        if (!server) {
            closeProgress();
            return;
        }
        stopViewUpdates();
        processor->Host = server->Caption().trimmed();
        processor->UserName = server->UserName.trimmed();
        processor->Password = server->Password.trimmed();
        processor->JobTag = jtHeaders;
        download.Begin(group->Name);
        starting = false;
        processor->DownloadHeaders(group->Name, group->LastArticle, setting("MsgDeleteDays"),
                                   setting("MsgsToRetrieve"));
    });
    starting = false;
    if (!started) {
        resumeViewUpdates();
        closeProgress();
    }
}

void TNewsCommands::CatchUp()
{
    TConfigClass* group = news->SelectedEntry();
    TConfigClass* server = TNewsStore::ServerOf(group);
    if (!group || group->Kind != ckNewsGroup || !server) {
        Dialogs().ShowMessage(kSelectGroup);
        return;
    }
    if (!SelectionChangeAllowed())
        return;
    TCatchUpRecord record;
    record.Groups << group->Name;
    startCatchUp(record, group, jtCatchUpGroup, QStringLiteral("CatchUp"));
}

void TNewsCommands::startCatchUp(const TCatchUpRecord& groups, TConfigClass* target, int jobTag,
                                 const QString& operation)
{
    starting = true;
    const bool started = RunCommand(operation, [&] {
        TCatchUpRecord record = groups;
        closeProgress();
        if (!openProgress(QStringLiteral("Catching Up Group "), record.Groups.first(), target))
            return;
        // Events ran: the server entry is looked up again.
        TConfigClass* server = TNewsStore::ServerOf(target);
        if (!server) {
            closeProgress();
            return;
        }
        record.Host = server->Name;
        record.UserName = server->UserName;
        record.Password = server->Password;
        record.Count = setting("MsgsToRetrieve");
        stopViewUpdates();
        processor->JobTag = jobTag;
        download.Begin(QString());
        starting = false;
        processor->CatchUp({record}, setting("MsgDeleteDays"));
    });
    starting = false;
    if (!started) {
        resumeViewUpdates();
        closeProgress();
    }
}

void TNewsCommands::CatchUpServer()
{
    TConfigClass* server = news->SelectedEntry();
    if (!server || server->Kind != ckServer) {
        Dialogs().ShowMessage(kSelectServer);
        return;
    }
    TCatchUpRecord record;
    for (int i = 0; i < server->ChildCount(); ++i) {
        if (const TConfigClass* g = server->Child(i); g->Kind == ckNewsGroup)
            record.Groups << g->Name;
    }
    if (record.Groups.isEmpty()) {
        Dialogs().ShowMessage(kNoGroups);
        return;
    }
    if (!SelectionChangeAllowed())
        return;
    startCatchUp(record, server, jtCatchUpServer, QStringLiteral("CatchUpServer"));
}

// --- Processor events ------------------------------------------------------------------------

void TNewsCommands::HeaderHandler(const QString& host, const TNntpHeader& header, const QString& group)
{
    if (progress) {
        if (host != progressHost || group != progressGroup) {
            progressHost = host;
            showProgressGroup(group);
            headerCount = 0;
        }
        headerCount += 1;
        const int limit = std::max(1, setting("MsgsToRetrieve"));
        progress->SetPercent(int(std::lround(headerCount * 100.0 / limit + 0.5)));
    }
    TConfigClass* entry = groupByName(host, group);
    if (!entry) {
        // The group left the tree while its headers were arriving.
        download.DropHeader(group);
        return;
    }
    TArticleClass* added = download.AddHeader(entry, header);
    if (added && entry == news->SelectedEntry() && view->GroupNode == entry) {
        view->AddArticleToTree(added);
        showViewProgress();
    }
}

void TNewsCommands::expireArticles(TConfigClass* group, int code, const QString& message)
{
    if (!download.ExpireAfterJob(group, *processor, code, message))
        return;
    if (view->GroupNode == group) {
        view->LoadArticles(group);
        view->GroupNode = group;
    }
}

void TNewsCommands::saveDirtyGroups()
{
    download.SaveChanges([](const QString& error) {
        RunCommand(QStringLiteral("GuiNntpRequestDoneHandler"), [&] { throw EVorlixError(error); });
    });
}

void TNewsCommands::GuiNntpRequestDoneHandler(int code, const QString& message)
{
    UtilsClass::Log(QStringLiteral("Entered GuiNntpRequestDoneHandler"));
    if (processor->JobTag == jtHeaders && !download.JobGroup().isEmpty()) {
        if (TConfigClass* group = groupByName(processor->Host, download.JobGroup())) {
            try {
                expireArticles(group, code, message);
            } catch (const std::exception& e) {
                UtilsClass::Log(QStringLiteral("GuiNntpRequestDoneHandler Exception: ") + errorText(e));
            }
        }
        if (view->GroupNode)
            view->FocusFirstNew();
    }
    saveDirtyGroups();
    resumeViewUpdates();
    closeProgress();
    // The status bar tells what the job brought; an error is shown as a message as well.
    const QString summary = download.TakeSummary(code == -1 ? QString() : message);
    download.Begin(QString());
    form->SetStatusText(summary);
    if (code == -1)
        Dialogs().ShowError(message);
    if (form->ToolbarDisabled())
        form->SetToolbarDisabled(false);
}

void TNewsCommands::GuiNntpCaughtUpHandler(const QString& host, const QString& group)
{
    UtilsClass::Log(QStringLiteral("Entered GuiNntpCaughtUpHandler"));
    TConfigClass* entry = groupByName(host, group);
    if (!entry)
        return;
    if (entry == news->SelectedEntry() && view->GroupNode == entry) {
        for (TThreadView::TNode* node : view->Nodes()) {
            TArticleClass* r = TThreadView::RecordOf(node);
            if (r && r->ReadState == 1)
                view->SetReadStateShown(r, 0, node);
        }
        view->FocusFirstNew();
    }
    // Records the view does not show (none, or another group) are caught up in the list.
    THeaderDownload::CatchUpRecords(entry);
}

void TNewsCommands::ItemFocused(TThreadModel::TNode* item)
{
    if (view->Loading || !item || view->Model.Tops().empty())
        return;
    if (view->View->selectionModel()->selectedRows().size() >= 2) {
        form->StopReadTimer();
        return;
    }
    UtilsClass::Log(QStringLiteral("Processing ItemFocused"));
    form->StopReadTimer();
    TArticleClass* record = TThreadView::RecordOf(item);
    if (!record)
        return;
    if (record->IsPlaceholder()) {
        if (record->ReadState != 2) {
            view->SetReadStateShown(record, 2, item);
            if (TConfigClass* g = view->Group())
                g->Dirty = true;
        }
        form->ClearMessageText();
        return;
    }
    TConfigClass* group = view->Group();
    TConfigClass* server = TNewsStore::ServerOf(view->GroupNode);
    if (!group || !server)
        return;
    if (!SelectionChangeAllowed()) {
        UtilsClass::Log(QStringLiteral("ItemFocused: a news job is still running"));
        return;
    }
    form->SetToolbarDisabled(true);
    processor->Host = server->Name;
    processor->Group = group->Name;
    processor->UserName = server->UserName;
    processor->Password = server->Password;
    processor->JobTag = jtBody;
    processor->GetBody(record->Number);
}

QString TNewsCommands::DisplayLine(const QString& line)
{
    QString out = line;
    for (QChar& c : out) {
        const ushort u = c.unicode();
        if ((u < 0x20 && u != '\t') || u == 0x7F)
            c = QChar(0xFFFD);
    }
    return out;
}

void TNewsCommands::DisplayBodyHandler(const QString&, const QStringList& lines, const QString& messageID,
                                       const QString&)
{
    QString text;
    qsizetype size = 0;
    for (const QString& l : lines)
        size += l.size() + 1 + l.size() / MaxPaneLine;
    text.reserve(size);
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            text += QLatin1Char('\n');
        const QString shown = DisplayLine(lines[i]);
        // The pane lays out a line as one paragraph; one of hundreds of thousands of characters
        // takes seconds, so such a line is shown in pieces.
        for (qsizetype at = 0; at < shown.size(); at += MaxPaneLine) {
            if (at > 0)
                text += QLatin1Char('\n');
            text += QStringView(shown).mid(at, MaxPaneLine);
        }
    }
    TThreadModel::TNode* item = view->CurrentNode();
    TArticleClass* record = TThreadView::RecordOf(item);
    TConfigClass* group = view->Group();
    if (record && messageID == record->MessageID)
        form->SetMessageHeader(*record, group ? group->Name : QString());
    else
        form->ClearMessageText(); // no header that belongs to another article
    form->SetMessageText(text);

    if (!record)
        return;
    if (messageID != record->MessageID) {
        if (messageID == QLatin1String("<>")) {
            view->SetReadStateShown(record, 2, item);
            if (group)
                group->Dirty = true;
        }
        return;
    }
    if (record->ReadState == 1) {
        form->StartReadTimer(item);
    } else if (record->ReadState == 2) {
        view->SetReadStateShown(record, 0, item);
        if (group)
            group->Dirty = true;
    }
}

void TNewsCommands::ArticleReadTimeout(TThreadModel::TNode* item)
{
    TArticleClass* record = TThreadView::RecordOf(item);
    if (!record || !view->GroupNode)
        return;
    RunCommand(QStringLiteral("Timer1Timer"), [&] {
        view->SetReadStateShown(record, 0, item);
        view->SaveArticles(view->GroupNode);
    });
}

void TNewsCommands::CredentialsHandler(const QString& host, const QString& userName, const QString& password,
                                       bool savePassword)
{
    if (!news->SetLogin(host, userName, password, savePassword))
        return;
    // Kept at once: a login the user typed is not lost when the program ends abruptly.
    try {
        news->SaveConfig();
    } catch (const std::exception& ex) {
        UtilsClass::Log(QStringLiteral("CredentialsHandler Exception: ") + errorText(ex));
    }
}
