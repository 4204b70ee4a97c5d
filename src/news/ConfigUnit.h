#pragma once
// The servers and subscribed newsgroups: one configuration entry per node of the server
// tree, kept in "Config.chl" in the data folder, and the commands that change them.
#include "news/ArticleUnit.h"

#include <QString>
#include <QTreeWidgetItem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QTreeWidget;
class TBaseRegistryClass;

enum TConfigKind { ckUnknown = -1, ckServer = 0, ckNewsGroup = 1, ckNewsFolder = 2 };

class TBaseConfigClass {
public:
    virtual ~TBaseConfigClass() = default;
    QString Name;
    int Kind = ckServer;
    QString FileBase;
    int ScrollPos = 0;
    int Expanded = 0;
    int LastArticle = -1;
    int Reserved = 0;
    bool SavePassword = false;
    QString UserName;
    QString Password;
    bool Downloaded = false;
    bool Dirty = false;
    std::unique_ptr<TArticleList> Articles;
};

class TConfigClass : public TBaseConfigClass {
public:
    // The tree node that carries the entry.
    QTreeWidgetItem* Node = nullptr;
    // The word of field 1 as read, kept for kinds this program does not know.
    QString KindWord;

    // The group's article list, created on first use.
    TArticleList* EnsureArticles();
    // Sets the node caption to the group caption ("name (new/total)").
    void SetGroupCaption(int newCount, int total);
    // The data folder + FileBase + ".chl".
    QString FilePath() const;
    // One "Config.chl" line.
    QString FormatLine() const;
};

// A server-tree node: owns its entry and sorts alphabetically, letter case ignored.
class TConfigNode : public QTreeWidgetItem {
public:
    explicit TConfigNode(std::unique_ptr<TConfigClass> entry);
    ~TConfigNode() override;
    bool operator<(const QTreeWidgetItem& other) const override;
    TConfigClass* Entry() const { return entry.get(); }

private:
    std::unique_ptr<TConfigClass> entry;
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

class TServerTree {
public:
    explicit TServerTree(QTreeWidget* tree);
    ~TServerTree();
    TServerTree(const TServerTree&) = delete;
    TServerTree& operator=(const TServerTree&) = delete;

    QTreeWidget* Tree;
    TBaseRegistryClass* Store = nullptr; // "AutoLoadNewsgroups"
    bool LoadingConfig = false;
    bool TreeChangeEnabled = true;
    bool Shown = false;                  // set by the main window once it is shown

    static QString ConfigPath();         // data folder + "Config.chl"
    void LoadConfig();
    void SaveConfig();

    static TConfigClass* EntryOf(QTreeWidgetItem* node);
    TConfigClass* SelectedEntry() const;
    QTreeWidgetItem* SelectedNode() const;
    // The selected entry's Kind (a TConfigKind); ckUnknown when nothing is selected.
    int SelectedKind() const;
    QTreeWidgetItem* FindGroupNode(const QString& name) const;
    QTreeWidgetItem* FindServerNode(const QString& caption) const;
    static QTreeWidgetItem* ServerNodeOf(QTreeWidgetItem* node);
    QTreeWidgetItem* AddServerNode(const QString& name, const QString& user, const QString& password,
                                   bool savePassword, const QString& fileBase);
    QTreeWidgetItem* AddGroupNode(QTreeWidgetItem* serverNode, const QString& name, const QString& base);
    void RemoveGroupNode(QTreeWidgetItem* serverNode, const QString& name);
    static void DeleteEntryFile(TConfigClass* entry);
    void SortTree();
    // Now as "yymmddhhmmss", moved on by seconds until no entry uses it as its file base.
    QString NewStamp(const QString& suffix = QString()) const;
    // Every node in tree order.
    std::vector<QTreeWidgetItem*> AllNodes() const;

    // Commands.
    void AddServer();
    void EditServer();
    void DeleteServer();
    void AddGroup();
    void DeleteGroup();
    void NewsgroupList();

    // Server-tree events.
    void SelectionChanged(QTreeWidgetItem* node);
    void NodeExpandedChanged(QTreeWidgetItem* node, bool expanded);

    // Windows and main-window actions the commands use (unbound: not raised).
    std::function<bool(TServerTree*, TServerEntryRequest&)> OnServerWindow;
    std::function<bool(TServerTree*, const QString& server, QString& group)> OnGroupWindow;
    std::function<bool(TServerTree*, TConfigClass* server, std::vector<TGroupChange>& changes)> OnNewsgroupList;
    std::function<void(TServerTree*)> OnClearArticleView;
    std::function<void(TServerTree*)> OnDeselectAllArticles;
    std::function<void(TServerTree*, bool addGroupEnabled, bool deleteGroupEnabled)> OnUpdateButtons;
    std::function<bool(TServerTree*)> OnArticleViewLoading;
    std::function<void(TServerTree*, QTreeWidgetItem*)> OnServerSelected;
    std::function<void(TServerTree*, QTreeWidgetItem*)> OnShowGroup;
    std::function<void(TServerTree*, QTreeWidgetItem*)> OnFirstGroupSelection; // the automatic download

private:
    void updateButtons();
    void clearArticleView();
    std::vector<QMetaObject::Connection> connections;
};
