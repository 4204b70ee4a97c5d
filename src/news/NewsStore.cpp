#include "news/NewsStore.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "core/TextFiles.h"
#include "core/TextFunctions.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace {
const QString kServerWord = QStringLiteral("NewsServer");
const QString kGroupWord = QStringLiteral("NewsGroup");
const QString kFolderWord = QStringLiteral("NewsFolder");

int configInt(const QString& field, const char* what)
{
    bool ok = false;
    const int v = field.trimmed().toInt(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value (%2)").arg(field, QLatin1String(what)));
    return v;
}

qint64 configInt64(const QString& field, const char* what)
{
    bool ok = false;
    const qint64 v = field.trimmed().toLongLong(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' is not a valid integer value (%2)").arg(field, QLatin1String(what)));
    return v;
}

QString errorText(const std::exception& e)
{
    if (auto* v = dynamic_cast<const EVorlixError*>(&e))
        return v->message();
    return QString::fromLocal8Bit(e.what());
}

// Alphabetical, letter case ignored; captions equal but for case keep a fixed order.
bool captionLess(const std::unique_ptr<TConfigClass>& a, const std::unique_ptr<TConfigClass>& b)
{
    const QString x = a->Caption();
    const QString y = b->Caption();
    const int c = x.compare(y, Qt::CaseInsensitive);
    return c != 0 ? c < 0 : x < y;
}

void sortLevel(std::vector<std::unique_ptr<TConfigClass>>& level, const std::function<void(TConfigClass*)>& below)
{
    std::stable_sort(level.begin(), level.end(), captionLess);
    for (const auto& e : level)
        below(e.get());
}

// Holds back the selection rules while a command's own changes move the selection.
struct QuietGuard {
    int& depth;
    explicit QuietGuard(int& d) : depth(d) { ++depth; }
    ~QuietGuard() { --depth; }
};
}

// ---------------------------------------------------------------- TConfigClass

TConfigClass::~TConfigClass() = default;

int TConfigClass::Index() const
{
    if (!store)
        return -1;
    const auto& level = parent ? parent->children : store->servers;
    for (size_t i = 0; i < level.size(); ++i) {
        if (level[i].get() == this)
            return int(i);
    }
    return -1;
}

void TConfigClass::SetGroupCaption(int newCount, int total)
{
    const QString text = GroupCaption(Name, newCount, total);
    if (text == caption)
        return;
    caption = text;
    if (store)
        store->entryChanged(this);
}

void TConfigClass::SetPicture(int index)
{
    if (index == picture)
        return;
    picture = index;
    if (store)
        store->entryChanged(this);
}

TArticleList* TConfigClass::EnsureArticles()
{
    if (!Articles) {
        // A group's records live in its file: they are read before anything is added to the
        // list or the list is saved over the file. An unreadable file raises, and nothing is
        // added or written.
        auto list = std::make_unique<TArticleList>(this);
        if (Kind == ckNewsGroup && !FileBase.isEmpty())
            list->LoadFromFile(FilePath());
        Articles = std::move(list);
    }
    return Articles.get();
}

QString TConfigClass::FilePath() const
{
    return GetDataFolder() + FileBase + QStringLiteral(".chl");
}

namespace {
// Logins and server names must come back exactly as they were typed, "|" and blanks at the
// ends included, while the file stays one "|"-separated line that older versions can read.
// A text that would not survive the plain form is stored base64-encoded behind this marker.
const QString kEncodedMark = QStringLiteral("=?b64?");

QString EncodeLoginField(const QString& v)
{
    const bool plain = !v.contains(QLatin1Char('|')) && !v.contains(QChar(0x00A6)) && !v.contains(QLatin1Char('\r'))
        && !v.contains(QLatin1Char('\n')) && v == v.trimmed() && !v.startsWith(kEncodedMark);
    return plain ? v : kEncodedMark + QString::fromLatin1(v.toUtf8().toBase64());
}

QString DecodeLoginField(const QString& v)
{
    return v.startsWith(kEncodedMark) ? QString::fromUtf8(QByteArray::fromBase64(v.mid(kEncodedMark.size()).toLatin1()))
                                       : v;
}
} // namespace

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
    const QString name = Kind == ckServer ? EncodeLoginField(Name) : TArticleClass::CleanField(Name);
    QString line = TArticleClass::CleanField(word) + bar + name + bar
        + QString::number(Expanded) + bar + QString::number(LastArticle) + bar + QString::number(Reserved) + bar
        + TArticleClass::CleanField(FileBase);
    if (Kind == ckServer) {
        line += bar + QString(SavePassword ? QStringLiteral("1") : QStringLiteral("0")) + bar
            + EncodeLoginField(UserName) + bar + (SavePassword ? EncodeLoginField(Password) : QString()) + bar;
        // The answer about unencrypted passwords follows as a field of its own, closed by "|"
        // like the others; a line without it reads as before in every version.
        if (PlainPassword == ppAllowed || PlainPassword == ppRefused)
            line += QString::number(PlainPassword) + bar;
    }
    return line;
}

// ---------------------------------------------------------------- TNewsStore: entries

namespace {
// Every store that exists, for the questions all news jobs share.
std::vector<TNewsStore*>& LiveStores()
{
    static std::vector<TNewsStore*> stores;
    return stores;
}
} // namespace

TNewsStore::TNewsStore()
{
    LiveStores().push_back(this);
}

TNewsStore::~TNewsStore()
{
    std::erase(LiveStores(), this);
    // Views may still ask while the entries go; they are told nothing any more.
    OnReset = nullptr;
    OnEntryAdded = nullptr;
    OnEntryRemoved = nullptr;
    OnEntryChanged = nullptr;
    OnSorted = nullptr;
    OnExpand = nullptr;
    OnSelect = nullptr;
    current = nullptr;
    servers.clear();
}

QString TNewsStore::ConfigPath()
{
    return GetDataFolder() + QStringLiteral("Config.chl");
}

std::vector<TConfigClass*> TNewsStore::AllEntries() const
{
    std::vector<TConfigClass*> out;
    std::function<void(TConfigClass*)> walk = [&](TConfigClass* e) {
        out.push_back(e);
        for (const auto& c : e->children)
            walk(c.get());
    };
    for (const auto& s : servers)
        walk(s.get());
    return out;
}

bool TNewsStore::Contains(const TConfigClass* entry) const
{
    if (!entry)
        return false;
    for (TConfigClass* e : AllEntries()) {
        if (e == entry)
            return true;
    }
    return false;
}

TConfigClass* TNewsStore::FindGroup(const QString& name) const
{
    TConfigClass* found = nullptr;
    for (TConfigClass* e : AllEntries()) {
        if (e->Name == name)
            found = e;
    }
    return found;
}

TConfigClass* TNewsStore::FindGroup(const QString& host, const QString& name) const
{
    TConfigClass* found = nullptr;
    for (TConfigClass* e : AllEntries()) {
        if (e->Kind != ckNewsGroup || e->Name != name)
            continue;
        const TConfigClass* server = ServerOf(e);
        if (server && server->Name.trimmed() == host.trimmed())
            found = e;
    }
    return found;
}

TConfigClass* TNewsStore::FindServer(const QString& caption) const
{
    for (const auto& s : servers) {
        if (s->Caption() == caption)
            return s.get();
    }
    return nullptr;
}

TConfigClass* TNewsStore::FindByCaption(const QString& caption) const
{
    for (TConfigClass* e : AllEntries()) {
        if (e->Caption() == caption)
            return e;
    }
    return nullptr;
}

TConfigClass* TNewsStore::ServerOf(TConfigClass* entry)
{
    while (entry && entry->parent)
        entry = entry->parent;
    return entry;
}

TConfigClass* TNewsStore::adopt(std::unique_ptr<TConfigClass> entry, TConfigClass* parent)
{
    TConfigClass* e = entry.get();
    e->parent = parent;
    e->store = this;
    (parent ? parent->children : servers).push_back(std::move(entry));
    if (OnEntryAdded)
        OnEntryAdded(this, e);
    return e;
}

void TNewsStore::removeEntry(TConfigClass* entry)
{
    TConfigClass* parent = entry->parent;
    auto& level = parent ? parent->children : servers;
    auto it = std::find_if(level.begin(), level.end(), [entry](const auto& p) { return p.get() == entry; });
    if (it == level.end())
        return;
    std::unique_ptr<TConfigClass> owned = std::move(*it);
    level.erase(it);
    std::function<void(TConfigClass*)> detach = [&](TConfigClass* e) {
        e->store = nullptr;
        for (const auto& c : e->children)
            detach(c.get());
    };
    detach(entry);
    std::function<void(TConfigClass*)> forget = [&](TConfigClass* e) {
        // Not the lines themselves: they may hold logins.
        if (!e->KeptLines.isEmpty())
            UtilsClass::Log(QStringLiteral("%1 unreadable lines of Config.chl removed with %2")
                                .arg(e->KeptLines.size())
                                .arg(e->Name));
        for (const auto& c : e->children)
            forget(c.get());
    };
    forget(entry);
    if (OnEntryRemoved)
        OnEntryRemoved(this, entry, parent);
    // A view moves its current entry off the removed one; without a view nothing is current.
    for (TConfigClass* e = current; e; e = e->parent) {
        if (e == entry) {
            current = nullptr;
            currentSelected = false;
            break;
        }
    }
}

void TNewsStore::entryChanged(TConfigClass* entry)
{
    if (OnEntryChanged)
        OnEntryChanged(this, entry);
}

TConfigClass* TNewsStore::AddServerEntry(const QString& name, const QString& user, const QString& password,
                                         bool savePassword, const QString& fileBase)
{
    auto entry = std::make_unique<TConfigClass>();
    entry->Name = name;
    entry->Kind = ckServer;
    entry->UserName = user;
    entry->Password = password;
    entry->SavePassword = savePassword;
    entry->FileBase = fileBase;
    return adopt(std::move(entry), nullptr);
}

TConfigClass* TNewsStore::AddGroupEntry(TConfigClass* server, const QString& name, const QString& base)
{
    if (!server || server->store != this)
        return nullptr;
    SetExpanded(server, true);
    auto entry = std::make_unique<TConfigClass>();
    entry->Name = name;
    entry->Kind = ckNewsGroup;
    entry->FileBase = base + QLatin1Char('M');
    TConfigClass* group = adopt(std::move(entry), server);
    SetExpanded(group, true);
    return group;
}

void TNewsStore::DeleteEntryFile(TConfigClass* entry)
{
    try {
        const QString path = entry->FilePath();
        if (QFileInfo::exists(path) && !QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Exception in TConfigClass.Delete") + e.message());
    }
}

void TNewsStore::RemoveGroupEntry(TConfigClass* server, const QString& name)
{
    if (!server || server->store != this)
        return;
    TConfigClass* group = nullptr;
    for (const auto& c : server->children) {
        if (c->Name == name) {
            group = c.get();
            break;
        }
    }
    if (!group)
        return;
    // The article view may show the group or one of its folder entries.
    for (TConfigClass* e = SelectedEntry(); e; e = e->parent) {
        if (e == group) {
            clearArticleView();
            break;
        }
    }
    try {
        const QString path = group->FilePath();
        if (!QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
        for (const auto& c : group->children)
            DeleteEntryFile(c.get());
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("RemoveGroupNode Exception: ") + e.message());
    }
    removeEntry(group);
    SaveConfig();
}

void TNewsStore::Sort()
{
    std::function<void(TConfigClass*)> below = [&](TConfigClass* e) { sortLevel(e->children, below); };
    sortLevel(servers, below);
    if (OnSorted)
        OnSorted(this);
}

QString TNewsStore::NewStamp(const QString& suffix) const
{
    QDateTime t = QDateTime::currentDateTime();
    const std::vector<TConfigClass*> entries = AllEntries();
    for (;;) {
        const QString stamp = t.toString(QStringLiteral("yyMMddHHmmss"));
        bool used = false;
        for (const TConfigClass* e : entries) {
            if (e->FileBase.startsWith(stamp)) {
                used = true;
                break;
            }
        }
        if (!used && !QFileInfo::exists(GetDataFolder() + stamp + suffix + QStringLiteral(".chl")))
            return stamp;
        t = t.addSecs(1);
    }
}

void TNewsStore::SetExpanded(TConfigClass* entry, bool expanded)
{
    if (!entry || entry->store != this || (entry->Expanded == 1) == expanded)
        return;
    if (OnExpand)
        OnExpand(this, entry, expanded);
    ExpandedChanged(entry, expanded);
}

void TNewsStore::ExpandedChanged(TConfigClass* entry, bool expanded)
{
    if (!entry)
        return;
    entry->Expanded = expanded ? 1 : 0;
    try {
        SaveConfig();
    } catch (const EVorlixError& ex) {
        UtilsClass::Log(QStringLiteral("SaveConfig Exception: ") + ex.message());
        Dialogs().ShowError(ex.message());
    }
}

// ---------------------------------------------------------------- TNewsStore: the file

void TNewsStore::LoadConfig()
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
        // A file that exists but cannot be read is never replaced by what little this run knows.
        unreadFile = true;
        UtilsClass::Log(QStringLiteral("LoadConfig Exception: ") + e.message());
        Dialogs().ShowError(e.message() + QStringLiteral("\nThe file is left as it is: changes to the servers and "
                                                         "newsgroups are not saved in this session."));
        updateButtons();
        return;
    }
    QStringList damaged; // "line N is damaged (reason)"
    int heldBelow = 0;
    {
        // The views are built once from the whole result.
        struct HeldBack {
            std::function<void(TNewsStore*, TConfigClass*)>& event;
            std::function<void(TNewsStore*, TConfigClass*)> saved;
            explicit HeldBack(std::function<void(TNewsStore*, TConfigClass*)>& e) : event(e), saved(std::move(e))
            {
                event = nullptr;
            }
            ~HeldBack() { event = std::move(saved); }
        } added(OnEntryAdded);
        TConfigClass* lastServer = nullptr;
        TConfigClass* lastGroup = nullptr;
        // The lines below a damaged server line (up to the next server line) or a damaged
        // newsgroup line (up to the next server or newsgroup line) belong to an entry that
        // was not read: they are kept with it, unread, rather than put under another one.
        enum { holdNone, holdServer, holdGroup } holding = holdNone;
        QStringList* keptInto = nullptr;
        for (int i = 0; i < lines.size(); ++i) {
            const QString& line = lines.at(i);
            if (line.trimmed().isEmpty())
                continue;
            const QString word = line.section(QLatin1Char('|'), 0, 0);
            if ((holding == holdServer && word != kServerWord)
                || (holding == holdGroup && word != kServerWord && word != kGroupWord)) {
                keptInto->append(line);
                ++heldBelow;
                continue;
            }
            holding = holdNone;
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
                entry->LastArticle = configInt64(SplitToken(rest, QStringLiteral("|")), "LastArticle");
                entry->Reserved = configInt(SplitToken(rest, QStringLiteral("|")), "Reserved");
                entry->FileBase = SplitToken(rest, QStringLiteral("|"));
                if (entry->Kind == ckServer) {
                    entry->SavePassword = SplitToken(rest, QStringLiteral("|")) == QLatin1String("1");
                    entry->UserName = DecodeLoginField(SplitToken(rest, QStringLiteral("|")).trimmed());
                    entry->Password = DecodeLoginField(SplitToken(rest, QStringLiteral("|")).trimmed());
                    const QString plain = SplitToken(rest, QStringLiteral("|")).trimmed();
                    entry->PlainPassword = plain == QLatin1String("1") ? ppAllowed
                        : plain == QLatin1String("0")                  ? ppRefused
                                                                       : ppNotAsked;
                    entry->Name = DecodeLoginField(entry->Name);
                }
                const int kind = entry->Kind;
                TConfigClass* parent = nullptr;
                if (kind == ckNewsGroup) {
                    if (!lastServer)
                        throw EConvertError(QStringLiteral("a newsgroup comes before any server"));
                    parent = lastServer;
                } else if (kind != ckServer) {
                    if (!lastGroup)
                        throw EConvertError(QStringLiteral("an entry comes before any newsgroup"));
                    parent = lastGroup;
                }
                TConfigClass* e = adopt(std::move(entry), parent);
                if (kind == ckServer) {
                    lastServer = e;
                    lastGroup = nullptr;
                } else if (kind == ckNewsGroup) {
                    lastGroup = e;
                }
            } catch (const EVorlixError& e) {
                damaged << QStringLiteral("line %1 is damaged (%2)").arg(i + 1).arg(e.message());
                UtilsClass::Log(QStringLiteral("LoadConfig Exception: line %1: %2").arg(i + 1).arg(e.message()));
                // Kept at its level: a server line at the top, a newsgroup line below its
                // server, anything else below the entry it followed.
                if (word == kServerWord) {
                    keptInto = &keptTop;
                    holding = holdServer;
                } else if (word == kGroupWord) {
                    keptInto = lastServer ? &lastServer->KeptLines : &keptTop;
                    holding = holdGroup;
                } else {
                    keptInto = lastGroup ? &lastGroup->KeptLines : lastServer ? &lastServer->KeptLines : &keptTop;
                }
                keptInto->append(line);
            }
        }
    }
    // The views show the entries, the stored ones expanded; showing them is no change of the
    // user's, so nothing is saved here.
    if (OnReset)
        OnReset(this);
    if (!damaged.isEmpty()) {
        // The damaged lines are written back as they are; the file as it was is kept besides,
        // for the user to mend by hand.
        const QString copy = GetDataFolder() + QStringLiteral("Config-damaged.chl");
        QFile::remove(copy);
        const bool copied = QFile::copy(path, copy);
        if (copied)
            QFile::setPermissions(copy, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const bool one = damaged.size() == 1;
        QString text = QStringLiteral("Config.chl could not be read completely: ") + damaged.join(QStringLiteral("; "))
            + (one ? QStringLiteral(". It is kept in the file unchanged but not shown")
                   : QStringLiteral(". They are kept in the file unchanged but not shown"));
        if (heldBelow > 0)
            text += QStringLiteral(", and so are the %1 lines below %2 that belong to %3")
                        .arg(heldBelow)
                        .arg(one ? QStringLiteral("it") : QStringLiteral("them"))
                        .arg(one ? QStringLiteral("it") : QStringLiteral("them"));
        text += QStringLiteral(". Every other server and newsgroup was loaded.");
        if (copied)
            text += QStringLiteral(" The file as it was is kept as \"%1\".").arg(copy);
        Dialogs().ShowError(text);
    }
    updateButtons();
}

void TNewsStore::SaveConfig()
{
    if (unreadFile) {
        UtilsClass::Log(QStringLiteral("SaveConfig: Config.chl could not be read at start, so it is not rewritten"));
        updateButtons();
        return;
    }
    QStringList lines = keptTop;
    for (TConfigClass* e : AllEntries())
        lines << e->FormatLine() << e->KeptLines;
    WriteLinesAtomically(ConfigPath(), lines, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    updateButtons();
}

void TNewsStore::updateButtons()
{
    if (!OnUpdateButtons)
        return;
    const TConfigClass* sel = SelectedEntry();
    OnUpdateButtons(this, !servers.empty(), sel && sel->Kind > 0);
}

void TNewsStore::clearArticleView()
{
    if (OnClearArticleView)
        OnClearArticleView(this);
}

// ---------------------------------------------------------------- TNewsStore: data of the groups

TConfigClass* TNewsStore::SetLogin(const QString& host, const QString& userName, const QString& password,
                                   bool savePassword)
{
    for (const auto& s : servers) {
        if (s->Caption().trimmed() != host.trimmed())
            continue;
        s->UserName = userName;
        s->Password = password;
        s->SavePassword = savePassword;
        return s.get();
    }
    return nullptr;
}

TPlainPasswordChoice TNewsStore::PlainPasswordChoice(const QString& host)
{
    for (TNewsStore* store : LiveStores()) {
        for (const auto& s : store->servers) {
            if (s->Caption().trimmed() == host.trimmed() && s->PlainPassword != ppNotAsked)
                return TPlainPasswordChoice(s->PlainPassword);
        }
    }
    return ppNotAsked;
}

void TNewsStore::RememberPlainPasswordChoice(const QString& host, TPlainPasswordChoice choice)
{
    for (TNewsStore* store : LiveStores()) {
        bool changed = false;
        for (const auto& s : store->servers) {
            if (s->Caption().trimmed() == host.trimmed() && s->PlainPassword != choice) {
                s->PlainPassword = choice;
                changed = true;
            }
        }
        if (!changed)
            continue;
        try {
            store->SaveConfig();
        } catch (const EVorlixError& e) {
            // The answer holds for this run; it is asked again after the next start.
            UtilsClass::Log(QStringLiteral("Saving the answer about unencrypted passwords failed: ") + e.message());
        }
    }
}

TArticleClass* TNewsStore::AddDownloadedHeader(TConfigClass* group, qint64 number, const QString& messageID,
                                               const QString& from, const QString& subject, const TDateTime& date,
                                               const QString& references)
{
    group->LastArticle = number;
    group->Dirty = true;
    auto record = std::make_unique<TArticleClass>();
    record->Number = number;
    record->MessageID = messageID;
    record->From = from;
    record->Subject = subject;
    record->Date = date;
    record->References = references;
    record->SetReadState(1); // new: shown bold
    return group->EnsureArticles()->Add(std::move(record));
}

int TNewsStore::ExpireArticles(TConfigClass* group, qint64 first)
{
    if (!group || !group->Articles)
        return 0;
    const int removed = group->Articles->RemoveIf([first](TArticleClass* r) {
        if (r->Number == TArticleClass::PlaceholderNumber || r->Number >= first)
            return false;
        UtilsClass::Log(QStringLiteral("Article %1 expired").arg(r->Number));
        return true;
    });
    if (removed == 0)
        return 0;
    // Placeholders are rebuilt by placing the records again.
    group->Articles->RemoveIf([](TArticleClass* r) { return r->Number == TArticleClass::PlaceholderNumber; });
    group->Dirty = true;
    return removed;
}

bool TNewsStore::SaveDirtyGroups(const std::function<void(const QString&)>& onError)
{
    bool saved = false;
    for (TConfigClass* e : AllEntries()) {
        if (e->Kind != ckNewsGroup || !e->Dirty)
            continue;
        try {
            if (e->Articles)
                e->Articles->SaveFromList();
            e->Dirty = false;
            saved = true;
        } catch (const std::exception& ex) {
            if (onError)
                onError(errorText(ex));
        }
    }
    return saved;
}

// ---------------------------------------------------------------- TNewsStore: selection

void TNewsStore::SetCurrent(TConfigClass* entry, bool selected)
{
    current = entry;
    currentSelected = entry && selected;
}

void TNewsStore::Select(TConfigClass* entry)
{
    if (entry && entry->store != this)
        return;
    if (OnSelect) {
        // The views move their selection and report it back.
        OnSelect(this, entry);
        return;
    }
    if (entry != current)
        SelectionChanged(entry, entry != nullptr);
    else
        SetCurrent(entry, entry != nullptr);
}

void TNewsStore::SelectionChanged(TConfigClass* entry, bool selected)
{
    SetCurrent(entry, selected);
    if (quiet > 0 || !Shown || !entry)
        return;
    if (OnArticleViewLoading && OnArticleViewLoading(this))
        return;
    updateButtons();
    if (entry->Kind == ckServer) {
        clearArticleView();
        if (OnServerSelected)
            OnServerSelected(this, entry);
        return;
    }
    if (OnShowGroup)
        OnShowGroup(this, entry);
    // Showing a group lets events run: the entry may have gone meanwhile.
    if (!Contains(entry))
        return;
    if (entry->Kind == ckNewsGroup && !entry->Downloaded && OnFirstGroupSelection) {
        entry->Downloaded = true;
        OnFirstGroupSelection(this, entry);
    }
}

// ---------------------------------------------------------------- TNewsStore: commands

void TNewsStore::AddServer()
{
    TTrace trace(QStringLiteral("AddServer"));
    QuietGuard noChange(quiet);
    if (!OnServerWindow)
        return;
    TServerEntryRequest req;
    req.Mode = QStringLiteral("Add");
    if (!OnServerWindow(this, req))
        return;
    TConfigClass* server = AddServerEntry(req.ServerName, req.UserID.trimmed(), req.Password.trimmed(),
                                          req.SavePassword, NewStamp());
    Sort();
    Select(server);
    // The selection moved quietly: the article view still shows the entry selected before.
    if (SelectedEntry() == server && Shown)
        clearArticleView();
    SaveConfig();
    if (Settings && Settings->GetValue(QStringLiteral("AutoLoadNewsgroups")).toBool())
        NewsgroupList();
}

void TNewsStore::EditServer()
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
    req.ServerName = e->Caption();
    req.UserID = e->UserName;
    req.Password = e->Password;
    req.SavePassword = e->SavePassword;
    if (!OnServerWindow(this, req))
        return;
    e->UserName = req.UserID.trimmed();
    e->Password = req.Password.trimmed();
    e->SavePassword = req.SavePassword;
    // Editing the login is where the user reconsiders: an earlier answer about sending the
    // password unencrypted is asked again at the next login.
    e->PlainPassword = ppNotAsked;
    SaveConfig();
}

void TNewsStore::DeleteServer()
{
    TConfigClass* e = SelectedEntry();
    if (!e || e->Kind != ckServer) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server to delete"));
        return;
    }
    if (!Dialogs().ConfirmDelete(QStringLiteral("Delete Server ") + e->Caption()
                           + QStringLiteral(" and its associated newsgroups ? ")))
        return;
    clearArticleView();
    DeleteEntryFile(e);
    for (int i = 0; i < e->ChildCount(); ++i) {
        TConfigClass* group = e->Child(i);
        DeleteEntryFile(group);
        for (int j = 0; j < group->ChildCount(); ++j)
            DeleteEntryFile(group->Child(j));
        TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
        if (!Contains(e))
            break;
    }
    if (Contains(e)) {
        QuietGuard noChange(quiet);
        removeEntry(e);
    }
    SaveConfig();
}

void TNewsStore::AddGroup()
{
    TConfigClass* server = SelectedEntry();
    if (!server || server->Kind != ckServer) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server first"));
        return;
    }
    if (OnDeselectAllArticles)
        OnDeselectAllArticles(this);
    if (!OnGroupWindow)
        return;
    QString group;
    if (!OnGroupWindow(this, server->Caption(), group))
        return;
    const QString stamp = NewStamp(QStringLiteral("M"));
    AddGroupEntry(server, group, stamp);
    Sort();
    SetExpanded(server, true);
    SaveConfig();
}

void TNewsStore::DeleteGroup()
{
    TConfigClass* e = SelectedEntry();
    if (!e || e->Kind != ckNewsGroup) {
        Dialogs().ShowMessage(QStringLiteral("Select a Newsgroup to delete"));
        return;
    }
    if (OnDeselectAllArticles)
        OnDeselectAllArticles(this);
    UtilsClass::Log(QStringLiteral("Entered poDeleteGroupClick for ") + e->Caption());
    if (!Dialogs().ConfirmDelete(QStringLiteral("Delete Newsgroup ") + e->Caption()))
        return;
    clearArticleView();
    TConfigClass* server = ServerOf(e);
    try {
        const QString path = e->FilePath();
        if (!QFile::remove(path))
            UtilsClass::Log(QStringLiteral("Failed to delete file ") + path);
        for (int i = 0; i < e->ChildCount(); ++i)
            DeleteEntryFile(e->Child(i));
    } catch (const EVorlixError& ex) {
        UtilsClass::Log(QStringLiteral("poDeleteGroupClick Exception: ") + ex.message());
    }
    {
        QuietGuard noChange(quiet);
        removeEntry(e);
    }
    SaveConfig();
    Select(server);
}

void TNewsStore::NewsgroupList()
{
    TConfigClass* selected = SelectedEntry();
    if (!selected) {
        Dialogs().ShowMessage(QStringLiteral("Select a News Server first"));
        return;
    }
    TConfigClass* server = ServerOf(selected);
    if (!OnNewsgroupList)
        return;
    std::vector<TGroupChange> changes;
    if (!OnNewsgroupList(this, server, changes))
        return;
    if (!Contains(server))
        return;
    const QString stamp = NewStamp();
    int n = 0;
    for (const TGroupChange& c : changes) {
        if (c.first == 1) {
            ++n;
            AddGroupEntry(server, c.second, stamp + QString::number(n));
        } else if (c.first == 2) {
            RemoveGroupEntry(server, c.second);
        }
    }
    Sort();
    SetExpanded(server, true);
    SaveConfig();
}
