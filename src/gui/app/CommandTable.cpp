#include "gui/app/CommandTable.h"

#include "gui/app/UsenetUnit.h"
#include "news/NewsStore.h"

#include <QStyle>

namespace {
using P = TCommandPlace;
using Rule = std::function<std::optional<bool>(TCommandPlace, const TCommandState&)>;

bool selected(const TCommandState& s) { return s.SelectedKind != ckUnknown; }
bool group(const TCommandState& s) { return s.SelectedKind == ckNewsGroup; }
bool server(const TCommandState& s) { return s.SelectedKind == ckServer; }

// A folder entry below a newsgroup is not a newsgroup: the entries that act on a newsgroup
// (delete, retrieve, catch up, read aloud) stay off for it, in the pop-up as in the Actions menu.

// The server pop-up decides when it opens: nothing selected leaves only "Add Server".
Rule serverPopup(bool (*when)(const TCommandState&))
{
    return [when](P place, const TCommandState& s) -> std::optional<bool> {
        if (place == P::ServerPopup)
            return when(s);
        return true;
    };
}

// The Actions menu decides when it opens with a node selected; with none it stays as it was.
Rule actionsMenu(bool (*menu)(const TCommandState&), bool (*popup)(const TCommandState&))
{
    return [menu, popup](P place, const TCommandState& s) -> std::optional<bool> {
        if (place == P::Menu)
            return selected(s) ? std::optional<bool>(menu(s)) : std::nullopt;
        if (place == P::ServerPopup && popup)
            return popup(s);
        return true;
    };
}

// The speak entries of the pop-ups follow the speak buttons of the toolbar.
Rule speakSelected()
{
    return [](P place, const TCommandState& s) -> std::optional<bool> {
        if (place == P::ArticlePopup)
            return s.SpeakSelected;
        return true;
    };
}

Rule speakMarked()
{
    return [](P place, const TCommandState& s) -> std::optional<bool> {
        if (place == P::ArticlePopup)
            return s.SpeakSelected;
        if (place == P::ServerPopup)
            return group(s) && s.SpeakMarked;
        return true;
    };
}

TCommandDef row(const QString& id, const QString& menu, const QString& toolbar, const QString& serverPopup,
                const QString& articlePopup, void (TForm1::*handler)(), Rule rule = {}, QKeySequence shortcut = {},
                int picture = -1, bool checkable = false)
{
    TCommandDef d;
    d.Id = id;
    d.Text[int(P::Menu)] = menu;
    d.Text[int(P::Toolbar)] = toolbar;
    d.Text[int(P::ServerPopup)] = serverPopup;
    d.Text[int(P::ArticlePopup)] = articlePopup;
    d.Handler = handler;
    d.Rule = std::move(rule);
    d.Shortcut = shortcut;
    d.Picture = picture;
    d.Checkable = checkable;
    return d;
}

std::vector<TCommandDef> buildCommands()
{
    const QString none;
    std::vector<TCommandDef> c;
    c.push_back(row("ExitVorlix", "E&xit Vorlix", none, none, none, &TForm1::ExitVorlix1Click));
    c.push_back(row("AddServer", "Add Server", "Add a newsgroup server", "Add Server", none, &TForm1::poAddServerClick,
                    {}, {}, QStyle::SP_DriveNetIcon));
    c.push_back(row("EditServer", "Edit Server", none, "Edit Server", none, &TForm1::poEditServerClick,
                    serverPopup(server)));
    c.push_back(row("DeleteServer", "Delete Server", none, "Delete Server", none, &TForm1::poDeleteServerClick,
                    serverPopup(server)));
    c.push_back(row("AddGroup", "Add Newsgroup", "Add a newsgroup", "Add Newsgroup", none, &TForm1::poAddGroupClick,
                    [](P place, const TCommandState& s) -> std::optional<bool> {
                        if (place == P::Toolbar)
                            return s.HasServers;
                        if (place == P::ServerPopup)
                            return selected(s);
                        return true;
                    },
                    {}, QStyle::SP_FileDialogNewFolder));
    c.push_back(row("DeleteGroup", "Delete Newsgroup", "Delete selected newsgroup", "Delete Newsgroup", none,
                    &TForm1::poDeleteGroupClick,
                    [](P place, const TCommandState& s) -> std::optional<bool> {
                        if (place == P::Toolbar || place == P::ServerPopup)
                            return group(s);
                        return true;
                    },
                    {}, QStyle::SP_TrashIcon));
    c.push_back(row("NewsgroupList", none, "Display all newsgroups for current server", "Newsgroup List", none,
                    &TForm1::NewsgroupDialog1Click, serverPopup(selected), {}, QStyle::SP_FileDialogDetailedView));

    c.push_back(row("SelectAll", "Select All Messages", none, none, none, &TForm1::mnuSelectAllClick, {},
                    QKeySequence(Qt::CTRL | Qt::Key_A)));
    c.push_back(row("DeselectAll", "Deselect All Messages", none, none, none, &TForm1::mnuDeselectAllClick));
    c.push_back(row("MarkSpeak", "Mark Selected Messages for Speaking", none, none,
                    "Mark Selected Messages for Speaking", &TForm1::popMarkReadClick));
    c.push_back(row("MarkSpoken", "Mark Selected Messages as already Spoken", none, none,
                    "Mark Selected Messages as already Spoken", &TForm1::popMarkReadDoneClick));
    c.push_back(row("MarkClear", "Clear Selected Messages", none, none, "Clear Selected Messages",
                    &TForm1::popMarkClearClick));
    c.push_back(row("MarkRead", "Mark Selected Messages as Read", none, none, "Mark Selected Messages as Read",
                    &TForm1::popMarkAsReadClick));
    c.push_back(row("MarkUnread", "Mark Selected Messages as Unread", none, none,
                    "Mark Selected Messages as Unread", &TForm1::popMarkAsUnreadClick));
    c.push_back(row("Watch", "Watch Selected Messages", none, none, "Watch Selected Threads",
                    &TForm1::popMarkWatchClick));
    c.push_back(row("Unwatch", "Unwatch Selected Messages", none, none, "Unwatch Selected Threads",
                    &TForm1::popMarkUnwatchClick));
    c.push_back(row("NextUnread", "Next &Unread Message", none, none, none, &TForm1::GoToNextUnread, {},
                    QKeySequence(Qt::CTRL | Qt::Key_U)));

    // The speaking commands wait for the speech manager, which binds their handlers.
    c.push_back(row("SpeakSelAloud", "Speak Selected Messages &Aloud", "Speak selected threads or messages aloud",
                    none, "Speak Selected Messages Aloud", nullptr, speakSelected(),
                    QKeySequence(Qt::CTRL | Qt::Key_F4), QStyle::SP_MediaPlay));
    c.push_back(row("SpeakSelFile", "Speak Selected Messages to &File",
                    "Speak selected threads or messages to file", none, "Speak Selected Messages to File", nullptr,
                    speakSelected(), QKeySequence(Qt::CTRL | Qt::Key_F5), QStyle::SP_DialogSaveButton));
    c.push_back(row("SpeakMarkAloud", "Spea&k Marked Messages Aloud", "Speak marked threads or messages aloud",
                    "Read Newsgroup Aloud", "Speak Marked Messages Aloud", nullptr, speakMarked(),
                    QKeySequence(Qt::CTRL | Qt::Key_F6), QStyle::SP_MediaSeekForward));
    c.push_back(row("SpeakMarkFile", "Speak &Marked Messages to File", "Speak marked threads or messages to file",
                    "Read Newsgroup to File", "Speak Marked Messages to File", nullptr, speakMarked(),
                    QKeySequence(Qt::CTRL | Qt::Key_F7), QStyle::SP_DriveHDIcon));
    // Pause, Skip and Stop must reach the speech while it converts or lets events run.
    c.push_back(row("Pause", "&Pause", "Pause / Resume speaking", none, none, nullptr, {},
                    QKeySequence(Qt::CTRL | Qt::Key_F8), QStyle::SP_MediaPause, true));
    c.back().LiveWhileBusy = true;
    c.push_back(row("Skip", "S&kip", "Skip speaking to next message", none, none, nullptr, {},
                    QKeySequence(Qt::CTRL | Qt::Key_F9), QStyle::SP_MediaSkipForward));
    c.back().LiveWhileBusy = true;
    c.push_back(row("Stop", "&Stop", "Stop speaking", none, none, nullptr, {}, QKeySequence(Qt::CTRL | Qt::Key_F10),
                    QStyle::SP_MediaStop));
    c.back().LiveWhileBusy = true;

    TCommandDef download = row("Download", "&Download Messages from Server", "Download Messages from Server",
                               "Retrieve Next n Messages", none, &TForm1::mnuDownloadClick,
                               actionsMenu(group, group), QKeySequence(Qt::CTRL | Qt::Key_D),
                               QStyle::SP_ArrowDown);
    download.TextRule = [](P place, const TCommandState& s) {
        return place == P::ServerPopup ? QStringLiteral("Retrieve next %1 messages").arg(s.MsgsToRetrieve)
                                       : QString();
    };
    c.push_back(download);
    c.push_back(row("CatchUp", "Catch Up Newsgroup", none, "Catch Up Newsgroup", none, &TForm1::MnuCatchUpClick,
                    actionsMenu(group, group)));
    c.push_back(row("CatchUpServer", "Catch Up Server", none, "Catch Up Server", none, &TForm1::MnuCatchUpSrvrClick,
                    actionsMenu(server, server)));
    c.push_back(row("Post", "&Post New Message", "Post a new message", none, none, &TForm1::mnuPostClick, {},
                    QKeySequence(Qt::CTRL | Qt::Key_P),
                    QStyle::SP_FileIcon));
    c.push_back(row("Reply", "&Reply to Selected Message", "Reply to the current message", none, none,
                    &TForm1::mnuReplyClick, {}, QKeySequence(Qt::CTRL | Qt::Key_R), QStyle::SP_ArrowBack));
    c.push_back(row("DeleteOldThreads", "Delete &Old Threads", none, none, none, &TForm1::DeleteOldThreads1Click,
                    actionsMenu(group, nullptr)));

    c.push_back(row("NewsreaderOptions", "Vorlix Options", none, none, none, &TForm1::NewsreaderOptions1Click));
    c.push_back(row("TTSOptions", "&Voice and Audio File options", none, none, none, nullptr));
    c.push_back(row("TextPreprocessorOptions", "&Text Preprocessor Options", none, none, none, nullptr));
    c.push_back(row("LexEdit", "&Pronunciation Editor", none, none, none, nullptr));
    c.push_back(row("SelectDevice", "&Select Audio Device", none, none, none, nullptr));

    c.push_back(row("Contents", "Contents", none, none, none, &TForm1::Contents1Click, {},
                    QKeySequence(QKeySequence::HelpContents)));
    c.push_back(row("QuickStart", "&Quick Start Guide", none, none, none, &TForm1::QuickStartGuide1Click));
    c.push_back(row("TipOfDay", "&Tip of the Day", none, none, none, &TForm1::TipofDay1Click));
    c.push_back(row("Support", "Vorlix &Support", none, none, none, &TForm1::VorlixSupport1Click));
    return c;
}
} // namespace

const std::vector<TCommandDef>& MainWindowCommands()
{
    static const std::vector<TCommandDef> commands = buildCommands();
    return commands;
}

const std::vector<TCommandLayout>& MainWindowMenus()
{
    static const std::vector<TCommandLayout> menus = {
        {"mnuFile", "&File", P::Menu, {"ExitVorlix"}},
        {"mnuEdit", "&Edit", P::Menu, {"AddServer", "EditServer", "DeleteServer", "|", "AddGroup", "DeleteGroup"}},
        {"mnuMessages", "&Messages", P::Menu,
         {"SelectAll", "DeselectAll", "|", "MarkSpeak", "MarkSpoken", "MarkClear", "|", "MarkRead", "MarkUnread", "|",
          "Watch", "Unwatch", "|", "NextUnread"}},
        {"mnuSpeaking", "&Speaking Controls", P::Menu,
         {"SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile", "|", "Pause", "Skip", "Stop"}},
        {"mnuActions", "&Actions", P::Menu,
         {"Download", "CatchUp", "CatchUpServer", "|", "Post", "Reply", "|", "DeleteOldThreads"}},
        {"mnuOptions", "&Options", P::Menu,
         {"NewsreaderOptions", "TTSOptions", "TextPreprocessorOptions", "LexEdit", "|", "SelectDevice"}},
        {"mnuHelp", "&Help", P::Menu, {"Contents", "QuickStart", "TipOfDay", "|", "Support"}},
    };
    return menus;
}

const TCommandLayout& MainWindowToolbar()
{
    static const TCommandLayout toolbar = {
        "ToolBar1", "Toolbar", P::Toolbar,
        {"AddServer", "AddGroup", "DeleteGroup", "NewsgroupList", "|", "Download", "Post", "Reply", "|",
         "SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile", "Pause", "Skip", "Stop"}};
    return toolbar;
}

const TCommandLayout& ServerPopupLayout()
{
    static const TCommandLayout popup = {
        "popServers", QString(), P::ServerPopup,
        {"AddServer", "EditServer", "DeleteServer", "|", "AddGroup", "DeleteGroup", "NewsgroupList", "|", "Download",
         "CatchUp", "CatchUpServer", "|", "SpeakMarkAloud", "SpeakMarkFile"}};
    return popup;
}

const TCommandLayout& ArticlePopupLayout()
{
    static const TCommandLayout popup = {
        "popArticles", QString(), P::ArticlePopup,
        {"SpeakSelAloud", "SpeakSelFile", "SpeakMarkAloud", "SpeakMarkFile", "|", "MarkSpeak", "MarkSpoken",
         "MarkClear", "|", "MarkRead", "MarkUnread", "|", "Watch", "Unwatch"}};
    return popup;
}
