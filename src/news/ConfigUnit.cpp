#include "news/ConfigUnit.h"

#include "core/TextFiles.h"
#include "news/NewsIcons.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "core/TextFunctions.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>

namespace {
const QString kServerWord = QStringLiteral("NewsServer");
const QString kGroupWord = QStringLiteral("NewsGroup");
const QString kFolderWord = QStringLiteral("NewsFolder");

int pictureOf(int kind)
{
    switch (kind) {
    case ckServer: return npServer;
    case ckNewsGroup: return npNewsGroup;
    default: return npFolder;
    }
}

int configInt(const QString& field, const char* what)
{
    bool ok = false;
    const int v = field.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value (%2)").arg(field, QLatin1String(what)));
    return v;
}

// Restores a flag when the scope ends, also by an exception.
struct FlagGuard {
    bool& flag;
    bool saved;
    FlagGuard(bool& f, bool value) : flag(f), saved(f) { flag = value; }
    ~FlagGuard() { flag = saved; }
};
}

// ---------------------------------------------------------------- TConfigClass

TArticleList* TConfigClass::EnsureArticles()
{
    if (!Articles)
        Articles = std::make_unique<TArticleList>(this);
    return Articles.get();
}

void TConfigClass::SetGroupCaption(int newCount, int total)
{
    if (Node)
        Node->setText(0, GroupCaption(Name, newCount, total));
}

QString TConfigClass::FilePath() const
{
    return GetDataFolder() + FileBase + QStringLiteral(".chl");
}

QString TConfigClass::FormatLine() const
{
    QString word;
    switch (Kind) {
    case ckServer: word = kServerWord; break;
    case ckNewsGroup: word = kGroupWord; break;
    case ckNewsFolder: word = kFolderWord; break;
    default: word = KindWord; break;
    }
    const QChar bar = QLatin1Char('|');
    QString line = TArticleClass::CleanField(word) + bar + TArticleClass::CleanField(Name) + bar
        + QString::number(Expanded) + bar + QString::number(LastArticle) + bar + QString::number(Reserved) + bar
        + TArticleClass::CleanField(FileBase);
    if (Kind == ckServer) {
        line += bar + QString(SavePassword ? QStringLiteral("1") : QStringLiteral("0")) + bar
            + TArticleClass::CleanField(UserName) + bar
            + (SavePassword ? TArticleClass::CleanField(Password) : QString()) + bar;
    }
    return line;
}

// ---------------------------------------------------------------- TConfigNode

TConfigNode::TConfigNode(std::unique_ptr<TConfigClass> e) : entry(std::move(e))
{
    entry->Node = this;
    setText(0, entry->Name);
    if (entry->Kind == ckServer || entry->Kind == ckNewsGroup) {
        setIcon(0, NewsPicture(pictureOf(entry->Kind)));
    } else {
        // A folder entry shows its other picture while it is selected.
        QIcon icon;
        icon.addPixmap(NewsPicture(npFolder).pixmap(16, 16), QIcon::Normal);
        icon.addPixmap(NewsPicture(npFolderSelected).pixmap(16, 16), QIcon::Selected);
        setIcon(0, icon);
    }
}

TConfigNode::~TConfigNode() = default;

bool TConfigNode::operator<(const QTreeWidgetItem& other) const
{
    const QString a = text(0);
    const QString b = other.text(0);
    const int c = a.compare(b, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : a < b;
}

// ---------------------------------------------------------------- TServerTree

TServerTree::TServerTree(QTreeWidget* tree) : Tree(tree)
{
    connections.push_back(QObject::connect(Tree, &QTreeWidget::currentItemChanged, Tree,
                                           [this](QTreeWidgetItem* current, QTreeWidgetItem*) { SelectionChanged(current); }));
    connections.push_back(QObject::connect(Tree, &QTreeWidget::itemExpanded, Tree,
                                           [this](QTreeWidgetItem* node) { NodeExpandedChanged(node, true); }));
    connections.push_back(QObject::connect(Tree, &QTreeWidget::itemCollapsed, Tree,
                                           [this](QTreeWidgetItem* node) { NodeExpandedChanged(node, false); }));
}

TServerTree::~TServerTree()
{
    for (const QMetaObject::Connection& c : connections)
        QObject::disconnect(c);
}

QString TServerTree::ConfigPath()
{
    return GetDataFolder() + QStringLiteral("Config.chl");
}

TConfigClass* TServerTree::EntryOf(QTreeWidgetItem* node)
{
    auto* n = dynamic_cast<TConfigNode*>(node);
    return n ? n->Entry() : nullptr;
}

QTreeWidgetItem* TServerTree::SelectedNode() const
{
    QTreeWidgetItem* n = Tree->currentItem();
    return n && n->isSelected() ? n : nullptr;
}

TConfigClass* TServerTree::SelectedEntry() const
{
    return EntryOf(SelectedNode());
}

int TServerTree::SelectedKind() const
{
    const TConfigClass* e = SelectedEntry();
    return e ? e->Kind : ckUnknown;
}

std::vector<QTreeWidgetItem*> TServerTree::AllNodes() const
{
    std::vector<QTreeWidgetItem*> out;
    std::function<void(QTreeWidgetItem*)> walk = [&](QTreeWidgetItem* n) {
        out.push_back(n);
        for (int i = 0; i < n->childCount(); ++i)
            walk(n->child(i));
    };
    for (int i = 0; i < Tree->topLevelItemCount(); ++i)
        walk(Tree->topLevelItem(i));
    return out;
}

void TServerTree::LoadConfig()
{
    TTrace trace(QStringLiteral("LoadConfig"));
    const QString path = ConfigPath();
    if (!QFileInfo::exists(path)) {
        updateButtons();
        return;
    }
    QStringList lines;
    try {
        lines = ReadLines(path);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("LoadConfig Exception: ") + e.message());
        Dialogs().ShowError(e.message());
        updateButtons();
        return;
    }
    QString failure;
    int failedLine = 0;
    {
        FlagGuard loading(LoadingConfig, true);
        QTreeWidgetItem* lastServer = nullptr;
        QTreeWidgetItem* lastGroup = nullptr;
        for (int i = 0; i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            if (line.trimmed().isEmpty())
                continue;
            try {
                QString rest = line;
                auto entry = std::make_unique<TConfigClass>();
                entry->KindWord = SplitToken(rest, QStringLiteral("|"));
                if (entry->KindWord == kServerWord)
                    entry->Kind = ckServer;
                else if (entry->KindWord == kGroupWord)
                    entry->Kind = ckNewsGroup;
                else if (entry->KindWord == kFolderWord)
                    entry->Kind = ckNewsFolder;
                else
                    entry->Kind = ckUnknown;
                entry->Name = SplitToken(rest, QStringLiteral("|"));
                entry->Expanded = configInt(SplitToken(rest, QStringLiteral("|")), "Expanded");
                entry->LastArticle = configInt(SplitToken(rest, QStringLiteral("|")), "LastArticle");
                entry->Reserved = configInt(SplitToken(rest, QStringLiteral("|")), "Reserved");
                entry->FileBase = SplitToken(rest, QStringLiteral("|"));
                if (entry->Kind == ckServer) {
                    entry->SavePassword = SplitToken(rest, QStringLiteral("|")) == QLatin1String("1");
                    entry->UserName = SplitToken(rest, QStringLiteral("|")).trimmed();
                    entry->Password = SplitToken(rest, QStringLiteral("|")).trimmed();
                }
                const int kind = entry->Kind;
                QTreeWidgetItem* parent = nullptr;
                if (kind == ckNewsGroup) {
                    if (!lastServer)
                        throw EConvertError(QStringLiteral("a newsgroup comes before any server"));
                    parent = lastServer;
                } else if (kind != ckServer) {
                    if (!lastGroup)
                        throw EConvertError(QStringLiteral("an entry comes before any newsgroup"));
                    parent = lastGroup;
                }
                auto* node = new TConfigNode(std::move(entry));
                if (parent)
                    parent->addChild(node);
                else
                    Tree->addTopLevelItem(node);
                if (kind == ckServer) {
                    lastServer = node;
                    lastGroup = nullptr;
                } else if (kind == ckNewsGroup) {
                    lastGroup = node;
                }
            } catch (const EVorlixError& e) {
                failure = e.message();
                failedLine = i + 1;
                break;
            }
        }
    }
    if (!failure.isEmpty()) {
        // The lines after a damaged one are not loaded; the file as it was is kept, so the
        // next save cannot lose them for good.
        const QString copy = GetDataFolder() + QStringLiteral("Config-damaged.chl");
        QFile::remove(copy);
        const bool copied = QFile::copy(path, copy);
        if (copied)
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        UtilsClass::Log(QStringLiteral("LoadConfig Exception: line %1: %2").arg(failedLine).arg(failure));
        QString text = QStringLiteral("Config.chl could not be read completely: line %1 is damaged (%2). "
                                      "The servers and newsgroups before it were loaded.")
                           .arg(failedLine)
                           .arg(failure);
        if (copied)
            text += QStringLiteral(" The file as it was is kept as \"%1\".").arg(copy);
        Dialogs().ShowError(text);
    }
    {
        // Expanding the stored nodes is no change of the user's, so nothing is saved here.
        FlagGuard loading(LoadingConfig, true);
        for (QTreeWidgetItem* n : AllNodes()) {
            if (TConfigClass* e = EntryOf(n); e && e->Expanded == 1)
                n->setExpanded(true);
        }
    }
    updateButtons();
}

void TServerTree::SaveConfig()
{
    QStringList lines;
    for (QTreeWidgetItem* n : AllNodes()) {
        if (TConfigClass* e = EntryOf(n))
            lines << e->FormatLine();
    }
    WriteLinesAtomically(ConfigPath(), lines, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    updateButtons();
}

void TServerTree::updateButtons()
{
    if (!OnUpdateButtons)
        return;
    const TConfigClass* sel = SelectedEntry();
    OnUpdateButtons(this, Tree->topLevelItemCount() > 0, sel && sel->Kind > 0);
}

void TServerTree::clearArticleView()
{
    if (OnClearArticleView)
        OnClearArticleView(this);
}

QTreeWidgetItem* TServerTree::FindGroupNode(const QString& name) const
{
    QTreeWidgetItem* found = nullptr;
    for (QTreeWidgetItem* n : AllNodes()) {
        if (TConfigClass* e = EntryOf(n); e && e->Name == name)
            found = n;
    }
    return found;
}

QTreeWidgetItem* TServerTree::FindServerNode(const QString& caption) const
{
    for (int i = 0; i < Tree->topLevelItemCount(); ++i) {
        if (Tree->topLevelItem(i)->text(0) == caption)
            return Tree->topLevelItem(i);
    }
    return nullptr;
}

QTreeWidgetItem* TServerTree::ServerNodeOf(QTreeWidgetItem* node)
{
    while (node && node->parent())
        node = node->parent();
    return node;
}

QTreeWidgetItem* TServerTree::AddServerNode(const QString& name, const QString& user, const QString& password,
                                            bool savePassword, const QString& fileBase)
{
    auto entry = std::make_unique<TConfigClass>();
    entry->Name = name;
    entry->Kind = ckServer;
    entry->UserName = user;
    entry->Password = password;
    entry->SavePassword = savePassword;
    entry->FileBase = fileBase;
    auto* node = new TConfigNode(std::move(entry));
    Tree->addTopLevelItem(node);
    return node;
}

QTreeWidgetItem* TServerTree::AddGroupNode(QTreeWidgetItem* serverNode, const QString& name, const QString& base)
{
    serverNode->setExpanded(true);
    auto entry = std::make_unique<TConfigClass>();
    entry->Name = name;
    entry->Kind = ckNewsGroup;
    entry->FileBase = base + QLatin1Char('M');
    auto* node = new TConfigNode(std::move(entry));
    serverNode->addChild(node);
    node->setExpanded(true);
    return node;
}

void TServerTree::DeleteEntryFile(TConfigClass* entry)
{
    try {
        const QString path = entry->FilePath();
        if (QFileInfo::exists(path) && !QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Exception in TConfigClass.Delete") + e.message());
    }
}

void TServerTree::RemoveGroupNode(QTreeWidgetItem* serverNode, const QString& name)
{
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < serverNode->childCount(); ++i) {
        if (TConfigClass* e = EntryOf(serverNode->child(i)); e && e->Name == name) {
            node = serverNode->child(i);
            break;
        }
    }
    if (!node)
        return;
    if (node == SelectedNode())
        clearArticleView();
    try {
        const QString path = EntryOf(node)->FilePath();
        if (!QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
        for (int i = 0; i < node->childCount(); ++i)
            DeleteEntryFile(EntryOf(node->child(i)));
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("RemoveGroupNode Exception: ") + e.message());
    }
    delete node;
    SaveConfig();
}

void TServerTree::SortTree()
{
    Tree->sortItems(0, Qt::AscendingOrder);
}

QString TServerTree::NewStamp(const QString& suffix) const
{
    QDateTime t = QDateTime::currentDateTime();
    const std::vector<QTreeWidgetItem*> nodes = AllNodes();
    for (;;) {
        const QString stamp = t.toString(QStringLiteral("yyMMddHHmmss"));
        bool used = false;
        for (QTreeWidgetItem* n : nodes) {
            if (EntryOf(n)->FileBase.startsWith(stamp)) {
                used = true;
                break;
            }
        }
        if (!used && !QFileInfo::exists(GetDataFolder() + stamp + suffix + QStringLiteral(".chl")))
            return stamp;
        t = t.addSecs(1);
    }
}

void TServerTree::AddServer()
{
    TTrace trace(QStringLiteral("AddServer"));
    FlagGuard noChange(TreeChangeEnabled, false);
    if (!OnServerWindow)
        return;
    TServerEntryRequest req;
    req.Mode = QStringLiteral("Add");
    if (!OnServerWindow(this, req))
        return;
    QTreeWidgetItem* node = AddServerNode(req.ServerName, req.UserID.trimmed(), req.Password.trimmed(),
                                          req.SavePassword, NewStamp());
    SortTree();
    Tree->setCurrentItem(node);
    SaveConfig();
    if (Store && Store->GetValue(QStringLiteral("AutoLoadNewsgroups")).toBool())
        NewsgroupList();
}

void TServerTree::EditServer()
{
    TConfigClass* e = SelectedEntry();
    if (!e || e->Kind != ckServer) {
        Dialogs().ShowMessage(QStringLiteral("Select a Server first"));
        return;
    }
    if (!OnServerWindow)
        return;
    TServerEntryRequest req;
    req.Mode = QStringLiteral("Edit");
    req.ServerName = e->Node->text(0);
    req.UserID = e->UserName;
    req.Password = e->Password;
    req.SavePassword = e->SavePassword;
    if (!OnServerWindow(this, req))
        return;
    e->UserName = req.UserID.trimmed();
    e->Password = req.Password.trimmed();
    e->SavePassword = req.SavePassword;
    SaveConfig();
}

void TServerTree::DeleteServer()
{
    QTreeWidgetItem* node = SelectedNode();
    TConfigClass* e = EntryOf(node);
    if (!e || e->Kind != ckServer) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server to delete"));
        return;
    }
    if (!Dialogs().Confirm(QStringLiteral("Delete Server ") + node->text(0) + QStringLiteral(" and its associated newsgroups ? ")))
        return;
    clearArticleView();
    DeleteEntryFile(e);
    for (int i = 0; i < node->childCount(); ++i) {
        QTreeWidgetItem* group = node->child(i);
        DeleteEntryFile(EntryOf(group));
        for (int j = 0; j < group->childCount(); ++j)
            DeleteEntryFile(EntryOf(group->child(j)));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    {
        FlagGuard noChange(TreeChangeEnabled, false);
        delete node;
    }
    SaveConfig();
}

void TServerTree::AddGroup()
{
    QTreeWidgetItem* node = SelectedNode();
    TConfigClass* e = EntryOf(node);
    if (!e || e->Kind != ckServer) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server first"));
        return;
    }
    if (OnDeselectAllArticles)
        OnDeselectAllArticles(this);
    if (!OnGroupWindow)
        return;
    QString group;
    if (!OnGroupWindow(this, node->text(0), group))
        return;
    const QString stamp = NewStamp(QStringLiteral("M"));
    AddGroupNode(node, group, stamp);
    SortTree();
    node->setExpanded(true);
    SaveConfig();
}

void TServerTree::DeleteGroup()
{
    QTreeWidgetItem* node = SelectedNode();
    TConfigClass* e = EntryOf(node);
    if (!e || e->Kind != ckNewsGroup) {
        Dialogs().ShowMessage(QStringLiteral("Select a Newsgroup to delete"));
        return;
    }
    if (OnDeselectAllArticles)
        OnDeselectAllArticles(this);
    UtilsClass::Log(QStringLiteral("Entered poDeleteGroupClick for ") + node->text(0));
    if (!Dialogs().Confirm(QStringLiteral("Delete Newsgroup ") + node->text(0)))
        return;
    clearArticleView();
    QTreeWidgetItem* server = ServerNodeOf(node);
    try {
        const QString path = e->FilePath();
        if (!QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
        for (int i = 0; i < node->childCount(); ++i)
            DeleteEntryFile(EntryOf(node->child(i)));
    } catch (const EVorlixError& ex) {
        UtilsClass::Log(QStringLiteral("poDeleteGroupClick Exception: ") + ex.message());
    }
    {
        FlagGuard noChange(TreeChangeEnabled, false);
        delete node;
    }
    SaveConfig();
    Tree->setCurrentItem(server);
}

void TServerTree::NewsgroupList()
{
    QTreeWidgetItem* node = SelectedNode();
    if (!node) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server first"));
        return;
    }
    QTreeWidgetItem* server = ServerNodeOf(node);
    if (!OnNewsgroupList)
        return;
    std::vector<TGroupChange> changes;
    if (!OnNewsgroupList(this, EntryOf(server), changes))
        return;
    const QString stamp = NewStamp();
    int n = 0;
    for (const TGroupChange& c : changes) {
        if (c.first == 1) {
            ++n;
            AddGroupNode(server, c.second, stamp + QString::number(n));
        } else if (c.first == 2) {
            RemoveGroupNode(server, c.second);
        }
    }
    SortTree();
    server->setExpanded(true);
    SaveConfig();
}

void TServerTree::SelectionChanged(QTreeWidgetItem* node)
{
    if (!TreeChangeEnabled || !Shown || LoadingConfig || !node)
        return;
    if (OnArticleViewLoading && OnArticleViewLoading(this))
        return;
    TConfigClass* e = EntryOf(node);
    if (!e)
        return;
    updateButtons();
    if (e->Kind == ckServer) {
        clearArticleView();
        if (OnServerSelected)
            OnServerSelected(this, node);
        return;
    }
    if (OnShowGroup)
        OnShowGroup(this, node);
    if (e->Kind == ckNewsGroup && !e->Downloaded && OnFirstGroupSelection) {
        e->Downloaded = true;
        OnFirstGroupSelection(this, node);
    }
}

void TServerTree::NodeExpandedChanged(QTreeWidgetItem* node, bool expanded)
{
    if (LoadingConfig)
        return;
    TConfigClass* e = EntryOf(node);
    if (!e)
        return;
    e->Expanded = expanded ? 1 : 0;
    try {
        SaveConfig();
    } catch (const EVorlixError& ex) {
        UtilsClass::Log(QStringLiteral("SaveConfig Exception: ") + ex.message());
        Dialogs().ShowError(ex.message());
    }
}
