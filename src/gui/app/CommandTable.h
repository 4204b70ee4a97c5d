#pragma once
// The main window's commands as data: one row per command with its caption per place (menu,
// toolbar, server pop-up, article pop-up), the toolbar hint, shortcut, picture, handler and
// the one enabling rule its places share. The menus, the toolbar and both pop-ups are built
// from the rows and the layouts below.
#include <QKeySequence>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

class TForm1;

// Where an entry of a command appears.
enum class TCommandPlace { Menu = 0, Toolbar = 1, ServerPopup = 2, ArticlePopup = 3 };
inline constexpr int CommandPlaceCount = 4;

// What the enabling rules look at.
struct TCommandState {
    int SelectedKind = -1;          // TConfigKind of the selected server-tree entry (ckUnknown: none)
    bool HasServers = false;        // the server tree has a node
    bool SpeakSelected = false;     // the speak-selected-aloud toolbar button is enabled
    bool SpeakMarked = false;       // the speak-marked-aloud toolbar button is enabled
    int MsgsToRetrieve = 0;
};

struct TCommandDef {
    QString Id;
    // Caption per place (TCommandPlace order); empty where the command does not appear. The
    // toolbar's caption is its hint.
    QString Text[CommandPlaceCount];
    QKeySequence Shortcut;          // of the menu entry
    int Picture = -1;               // QStyle::StandardPixmap of the toolbar button
    bool Checkable = false;         // the toolbar button toggles
    bool LiveWhileBusy = false;     // runs even while events are let run in a long job (speech controls)
    void (TForm1::*Handler)() = nullptr; // none: the command stays disabled until one is bound
    // Enabled state of the entry in a place, or nullopt to leave it as it is.
    std::function<std::optional<bool>(TCommandPlace, const TCommandState&)> Rule;
    // A caption that follows the state (empty: the static one).
    std::function<QString(TCommandPlace, const TCommandState&)> TextRule;
};

// A menu of the menu bar, the toolbar or a pop-up: command ids in order; "|" is a separator.
struct TCommandLayout {
    QString ObjectName;
    QString Title;
    TCommandPlace Place;
    QStringList Ids;
};

// Every command of the main window.
const std::vector<TCommandDef>& MainWindowCommands();
// The menu bar's menus in order, then the toolbar, then the server and article pop-ups.
const std::vector<TCommandLayout>& MainWindowMenus();
const TCommandLayout& MainWindowToolbar();
const TCommandLayout& ServerPopupLayout();
const TCommandLayout& ArticlePopupLayout();
