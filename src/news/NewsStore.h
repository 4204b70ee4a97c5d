#pragma once
// The news store: the servers the user reads, the newsgroups subscribed on each and the
// folder entries below a newsgroup, kept in "Config.chl" in the data folder; each newsgroup
// owns its article list. The store knows no windows: views (the server tree) follow it
// through its change events, and the windows its commands need are reached through events
// the owner binds.
#include "news/ArticleUnit.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TBaseRegistryClass;
class TNewsStore;

// A server's answer to "Send the password unencrypted to ...?": not asked yet, refused, allowed.
enum TPlainPasswordChoice { ppNotAsked = -1, ppRefused = 0, ppAllowed = 1 };

// What an entry stands for. ckUnknown is an entry whose kind word this program does not know.
enum TConfigKind { ckUnknown = -1, ckServer = 0, ckNewsGroup = 1, ckNewsFolder = 2 };

class TBaseConfigClass {
public:
    virtual ~TBaseConfigClass() = default;
    QString Name;
    int Kind = ckServer;
    QString FileBase;
    int ScrollPos = 0;
    int Expanded = 0;
    qint64 LastArticle = -1; // 64-bit, as servers may number up to 2^63 - 1
    int Reserved = 0;
    bool SavePassword = false;
    QString UserName;
    QString Password;
    // Servers only: whether the password may go to the server unencrypted (it offers no TLS).
    // Kept as an optional tenth field of the server line: "1" allowed, "0" refused, absent
    // not asked yet.
    int PlainPassword = ppNotAsked;
    bool Downloaded = false;
    bool Dirty = false;
    std::unique_ptr<TArticleList> Articles;
};

// One entry of the store: a server (top level), a newsgroup (below its server) or a folder
// entry (below its newsgroup). An entry owns its children, kept in the order the store gives
// them (file order after loading, alphabetical after a sort).
class TConfigClass : public TBaseConfigClass {
public:
    TConfigClass() = default;
    ~TConfigClass() override;
    TConfigClass(const TConfigClass&) = delete;
    TConfigClass& operator=(const TConfigClass&) = delete;

    // The word of field 1 as read, kept for kinds this program does not know.
    QString KindWord;
    // Lines of "Config.chl" that could not be read, found below this entry's line: written
    // back unchanged right after it, and dropped only with the entry.
    QStringList KeptLines;

    TConfigClass* Parent() const { return parent; }
    int ChildCount() const { return int(children.size()); }
    TConfigClass* Child(int i) const { return children[size_t(i)].get(); }
    // Position among the parent's children (or among the servers); -1 when not in a store.
    int Index() const;
    // The store that holds the entry (none while it is not in one).
    TNewsStore* Store() const { return store; }

    // The text the views show: Name, and for a newsgroup that was shown or saved the group
    // caption with its counts ("name (new/total)").
    QString Caption() const { return caption.isNull() ? Name : caption; }
    // Sets the caption to the group caption ("name (new/total)").
    void SetGroupCaption(int newCount, int total);
    // The picture the views show: -1 for the picture of the entry's kind, else an index of
    // the program's picture list.
    int Picture() const { return picture; }
    void SetPicture(int index);

    // The group's article list, created on first use.
    TArticleList* EnsureArticles();
    // The data folder + FileBase + ".chl".
    QString FilePath() const;
    // One "Config.chl" line.
    QString FormatLine() const;

private:
    friend class TNewsStore;
    TConfigClass* parent = nullptr;
    TNewsStore* store = nullptr;
    std::vector<std::unique_ptr<TConfigClass>> children;
    QString caption;
    int picture = -1;
};

// What the server window collects.
struct TServerEntryRequest {
    QString Mode; // "Add" or "Edit"
    QString ServerName;
    QString UserID;
    QString Password;
    bool SavePassword = false;
};

// A change reported by the newsgroup list: 1 subscribe, 2 unsubscribe.
using TGroupChange = std::pair<int, QString>;

class TNewsStore {
public:
    TNewsStore();
    ~TNewsStore();
    TNewsStore(const TNewsStore&) = delete;
    TNewsStore& operator=(const TNewsStore&) = delete;

    TBaseRegistryClass* Settings = nullptr; // "AutoLoadNewsgroups"
    bool Shown = false;                     // set by the main window once it is shown

    // ---- The file
    static QString ConfigPath();            // data folder + "Config.chl"
    // Adds the entries of the file (the program loads it once, at start). A damaged line is
    // not loaded and neither are the lines that belong below it (the newsgroups of a damaged
    // server line, the folder entries of a damaged newsgroup line): they are kept as they are
    // and written back at the next save in the same place, so nothing the program could not
    // read is lost. Every other line loads. The file as it was is also kept as
    // "Config-damaged.chl", and the user is told which lines are damaged. The views are
    // rebuilt once (OnReset).
    void LoadConfig();
    // Rewrites the file with one line per entry in store order (0600: it holds passwords),
    // each followed by the unreadable lines kept below it.
    void SaveConfig();
    // The unreadable lines kept at the top level (damaged server lines with the lines below
    // them, and lines found before any server); they start the file when it is saved.
    const QStringList& KeptTopLines() const { return keptTop; }

    // ---- The entries
    int ServerCount() const { return int(servers.size()); }
    TConfigClass* Server(int i) const { return servers[size_t(i)].get(); }
    // Every entry in store order: each server, then its newsgroups, each followed by its folders.
    std::vector<TConfigClass*> AllEntries() const;
    // True while the entry is held by this store.
    bool Contains(const TConfigClass* entry) const;
    // The last entry, in store order, whose Name equals the name, or none.
    TConfigClass* FindGroup(const QString& name) const;
    // The last newsgroup of that name on the server of that name, or none: the same group
    // name on two servers is two groups.
    TConfigClass* FindGroup(const QString& host, const QString& name) const;
    // The server entry whose caption is the given text, or none.
    TConfigClass* FindServer(const QString& caption) const;
    // The first entry, in store order, whose caption is the given text, or none.
    TConfigClass* FindByCaption(const QString& caption) const;
    // The server above the entry (or the entry itself).
    static TConfigClass* ServerOf(TConfigClass* entry);

    TConfigClass* AddServerEntry(const QString& name, const QString& user, const QString& password,
                                 bool savePassword, const QString& fileBase);
    // Expands the server, adds the newsgroup (FileBase base + "M") and expands it. None when
    // the server is not in this store.
    TConfigClass* AddGroupEntry(TConfigClass* server, const QString& name, const QString& base);
    // Removes the server's newsgroup of that name with its file and its folders' files, and saves.
    void RemoveGroupEntry(TConfigClass* server, const QString& name);
    // Deletes the entry's file when it exists (a failure is logged).
    static void DeleteEntryFile(TConfigClass* entry);
    // Sorts every level alphabetically by caption, letter case ignored (stable).
    void Sort();
    // Now as "yymmddhhmmss", moved on by seconds until no entry uses it as its file base.
    QString NewStamp(const QString& suffix = QString()) const;
    // An entry is expanded (1) or collapsed (0) in the views; the change is saved at once.
    void SetExpanded(TConfigClass* entry, bool expanded);

    // ---- Login data: the login the user typed for a server (by its caption); not saved here.
    // Returns the server entry, or none when no server has that caption.
    TConfigClass* SetLogin(const QString& host, const QString& userName, const QString& password,
                           bool savePassword);

    // ---- The answer to sending a server's password unencrypted, shared by every news job of
    // the program: the server of that caption in the stores that exist (ppNotAsked when none
    // holds it). Remembering sets it on each such server and saves its store.
    static TPlainPasswordChoice PlainPasswordChoice(const QString& host);
    static void RememberPlainPasswordChoice(const QString& host, TPlainPasswordChoice choice);

    // ---- Article data of the newsgroups
    // A downloaded header (its texts decoded) becomes a new record of the group: the group's
    // LastArticle moves on and the group is Dirty. Returns the stored record, or none when the
    // group holds the article already.
    TArticleClass* AddDownloadedHeader(TConfigClass* group, qint64 number, const QString& messageID,
                                       const QString& from, const QString& subject, const TDateTime& date,
                                       const QString& references);
    // Removes the records the server no longer has (numbers below first); the placeholders go
    // too, so placing the records again rebuilds them. Returns how many articles expired.
    int ExpireArticles(TConfigClass* group, qint64 first);
    // Writes every Dirty newsgroup's article file. A group whose file cannot be written stays
    // Dirty (its records stay in memory) and onError gets the message. True when one was written.
    bool SaveDirtyGroups(const std::function<void(const QString&)>& onError);

    // ---- Selection: the entry the views show as current, and whether it is selected.
    TConfigClass* CurrentEntry() const { return current; }
    TConfigClass* SelectedEntry() const { return currentSelected ? current : nullptr; }
    // A view reports its selection without the selection rules.
    void SetCurrent(TConfigClass* entry, bool selected);
    // A view reports a new current entry: the selection rules run (show the group, the first
    // download, ...).
    void SelectionChanged(TConfigClass* entry, bool selected);
    // Makes the entry current and selected, in the views too.
    void Select(TConfigClass* entry);
    // A view reports that the user expanded or collapsed an entry: kept and saved at once.
    void ExpandedChanged(TConfigClass* entry, bool expanded);

    // ---- Commands
    void AddServer();
    void EditServer();
    void DeleteServer();
    void AddGroup();
    void DeleteGroup();
    void NewsgroupList();

    // ---- Windows and main-window actions the commands use (unbound: not raised).
    std::function<bool(TNewsStore*, TServerEntryRequest&)> OnServerWindow;
    std::function<bool(TNewsStore*, const QString& server, QString& group)> OnGroupWindow;
    std::function<bool(TNewsStore*, TConfigClass* server, std::vector<TGroupChange>& changes)> OnNewsgroupList;
    std::function<void(TNewsStore*)> OnClearArticleView;
    std::function<void(TNewsStore*)> OnDeselectAllArticles;
    std::function<void(TNewsStore*, bool addGroupEnabled, bool deleteGroupEnabled)> OnUpdateButtons;
    std::function<bool(TNewsStore*)> OnArticleViewLoading;
    std::function<void(TNewsStore*, TConfigClass*)> OnServerSelected;
    std::function<void(TNewsStore*, TConfigClass*)> OnShowGroup;
    std::function<void(TNewsStore*, TConfigClass*)> OnFirstGroupSelection; // the automatic download

    // ---- What changed, for the views (unbound: not raised).
    // Every entry was replaced (after loading).
    std::function<void(TNewsStore*)> OnReset;
    // The entry is in its place (parent's children or the servers).
    std::function<void(TNewsStore*, TConfigClass*)> OnEntryAdded;
    // The entry (with everything below it) has left the store; it is released after the event.
    std::function<void(TNewsStore*, TConfigClass* entry, TConfigClass* formerParent)> OnEntryRemoved;
    // The entry's caption or picture changed.
    std::function<void(TNewsStore*, TConfigClass*)> OnEntryChanged;
    // The children of every level may be in a new order.
    std::function<void(TNewsStore*)> OnSorted;
    // The entry is to be shown expanded or collapsed.
    std::function<void(TNewsStore*, TConfigClass*, bool expanded)> OnExpand;
    // The entry (none: nothing) is to be shown current and selected.
    std::function<void(TNewsStore*, TConfigClass*)> OnSelect;

private:
    friend class TConfigClass;
    void entryChanged(TConfigClass* entry);
    TConfigClass* adopt(std::unique_ptr<TConfigClass> entry, TConfigClass* parent);
    void removeEntry(TConfigClass* entry);
    void updateButtons();
    void clearArticleView();
    std::vector<std::unique_ptr<TConfigClass>> servers;
    QStringList keptTop;
    bool unreadFile = false; // the file exists but could not be read: it is not overwritten
    TConfigClass* current = nullptr;
    bool currentSelected = false;
    int quiet = 0; // > 0 while a command's own changes move the selection
};
