#pragma once
// Drives the real main window against a news server: writes "Config.chl" with one server and
// its groups, opens TForm1 headless, selects nodes and waits for the main processor's jobs.
#include "TestSupport.h"
#include "gui/app/NewsCommands.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/UsenetUnit.h"
#include "news/ArticleUnit.h"
#include "gui/news/ServerTree.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"
#include "gui/news/ThreadView.h"
#include "ArticleRows.h"
#include "nntp/NNTPProcessor.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <memory>

namespace NewsRig {

inline void ClearDataFolder()
{
    QDir dir(GetDataFolder());
    for (const QString& f : dir.entryList(QDir::Files))
        dir.remove(f);
}

// A fresh profile for the next test: no data files, no settings.
inline void ResetProfile()
{
    ClearDataFolder();
    TRegistryEnhanced::ResetStore();
    QFile::remove(TRegistryEnhanced::SettingsFilePath());
}

// One server line and one line per group; server credentials as given.
inline void WriteConfig(const QString& host, const QStringList& groups, const QString& user = QString(),
                        const QString& password = QString(), bool save = false)
{
    QStringList lines;
    lines << QStringLiteral("NewsServer|%1|1|-1|0|260101000000|%2|%3|%4|")
                 .arg(host, save ? QStringLiteral("1") : QStringLiteral("0"), user, save ? password : QString());
    int n = 0;
    for (const QString& g : groups)
        lines << QStringLiteral("NewsGroup|%1|0|-1|0|2601010000%2M").arg(g).arg(++n, 2, 10, QLatin1Char('0'));
    WriteLinesAtomically(GetDataFolder() + QStringLiteral("Config.chl"), lines);
}

inline QStringList FileLines(const QString& path)
{
    return QFile::exists(path) ? ReadLines(path) : QStringList();
}

struct Window {
    std::unique_ptr<TForm1> Form;

    bool Open()
    {
        WriteProgramValue(QStringLiteral("ShowTips"), QStringLiteral("N"));
        TForm1::Shown = false;
        Form = std::make_unique<TForm1>();
        Form->show();
        return TestSupport::WaitFor([] { return TForm1::Shown; }, 10000);
    }
    ~Window()
    {
        if (Form) {
            WaitIdle(20000);
            Form->close();
            Form.reset();
        }
        TForm1::Shown = false;
    }

    // A profile of one server on loopback at port with one group; the window opens with that
    // group selected (no article too old to keep) and waits until its headers are in.
    bool OpenOnGroup(quint16 port, const QString& group)
    {
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(port), {group});
        if (!Open())
            return false;
        Form->Store->SetValue("MsgDeleteDays", -1);
        Select(group);
        return WaitIdle();
    }

    TNewsCommands* News() const { return Form->News.get(); }
    TNntpProcessor* Processor() const { return News()->MainProcessor(); }
    bool WaitIdle(int ms = 20000) const
    {
        return TestSupport::WaitFor([this] { return Processor()->Idle() && !News()->ProgressWindow(); }, ms);
    }

    QTreeWidgetItem* Node(const QString& name) const
    {
        for (QTreeWidgetItemIterator it(TestSupport::Part<QTreeWidget>(Form.get(), "tvServers")); *it; ++it) {
            if (TConfigClass* e = TServerTree::EntryOf(*it); e && e->Name == name)
                return *it;
        }
        return nullptr;
    }
    TConfigClass* Entry(const QString& name) const { return TServerTree::EntryOf(Node(name)); }
    void Select(const QString& name) const { TestSupport::Part<QTreeWidget>(Form.get(), "tvServers")->setCurrentItem(Node(name)); }

    std::vector<TArticleRow> Items() const { return ArticleRows(*Form->ThreadView); }
    TArticleRow ItemBySubject(const QString& subject) const
    {
        for (const TArticleRow& i : Items()) {
            if (TThreadView::RecordOf(i)->Subject == subject)
                return i;
        }
        return {};
    }
    TArticleRow ItemByNumber(int number) const
    {
        for (const TArticleRow& i : Items()) {
            if (TThreadView::RecordOf(i)->Number == number)
                return i;
        }
        return {};
    }
    // Focuses the row as a click on it does.
    void SetCurrent(const TArticleRow& row) const
    {
        TestSupport::Part<QTreeView>(Form.get(), "tvArticles")->setCurrentIndex(row.Index());
    }
    QString Status() const { return Form->StatusText(0); }
    QString Memo() const { return TestSupport::Part<QTextEdit>(Form.get(), "memoMessage")->toPlainText(); }
};

} // namespace NewsRig
