#include "TestSupport.h"

#include "NewsCorpus.h"
#include "ReferenceWalk.h"

#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"
#include "gui/news/ThreadView.h"

#include "ScriptedDialogs.h"
#include "ArticleRows.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"

#include <QFile>
#include <QHeaderView>
#include <QScrollBar>
#include <QSet>
#include <QSignalSpy>
#include <QTreeView>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeLines(const QString& path, const QStringList& lines)
{
    WriteLinesAtomically(path, lines);
}

// A news store with one newsgroup and an article view over it.
struct Fixture {
    TNewsStore servers;
    TConfigClass* server;
    TConfigClass* group;
    QTreeView articleTree;
    TThreadView view;

    explicit Fixture(TBaseRegistryClass* store = nullptr, const QString& base = "261201000000")
        : server(servers.AddServerEntry("news.example", {}, {}, false, "261201000000S")),
          group(servers.AddGroupEntry(server, "comp.test", base)), view(&articleTree, store)
    {
        QFile::remove(entry()->FilePath());
    }
    TConfigClass* entry() const { return group; }
    TArticleList* list() const { return entry()->EnsureArticles(); }
    TArticleClass* add(int number, const QString& id, const QString& subject, const QString& refs, double date,
                       int readState = 0)
    {
        auto r = std::make_unique<TArticleClass>();
        r->Number = number;
        r->MessageID = id;
        r->Subject = subject;
        r->From = "Ann";
        r->References = refs;
        r->Date = TDateTime(date);
        r->SetReadState(readState);
        return list()->Add(std::move(r));
    }
    TArticleRow place(int number, const QString& id, const QString& subject, const QString& refs, double date,
                           int readState = 0)
    {
        TArticleClass* r = add(number, id, subject, refs, date, readState);
        return r ? TArticleRow(&view, view.AddArticleToTree(r)) : TArticleRow();
    }
    QStringList fileLines() const
    {
        QStringList l = QString::fromUtf8(readAll(entry()->FilePath())).split("\r\n");
        if (!l.isEmpty() && l.last().isEmpty())
            l.removeLast();
        return l;
    }
};

// "depth id" per item in view order.
QStringList dump(const TThreadView& view)
{
    QStringList out;
    for (TArticleRow item : ArticleRows(view)) {
        int depth = 0;
        for (TArticleRow p = item->parent(); p; p = p->parent())
            ++depth;
        const TArticleClass* r = TThreadView::RecordOf(item);
        out << QString("%1 %2 %3 root=%4 mark=%5 read=%6")
                   .arg(depth)
                   .arg(r->MessageID)
                   .arg(r->Number)
                   .arg(r->Root ? r->Root->MessageID : QString("-"))
                   .arg(r->SpeakMark)
                   .arg(r->ReadState);
    }
    return out;
}

} // namespace

class TestThreadView : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        TRegistryEnhanced::ResetStore();
    }

    void placementRules()
    {
        Fixture f;
        f.view.Loading = false;
        TArticleRow top = f.place(1, "<top>", "Speed", "", 46000);
        TArticleRow r1 = f.place(2, "<r1>", "Re: Speed", "<top>", 46001);
        QCOMPARE(r1->parent(), top);
        // The first reference decides, even for a reply to a reply.
        TArticleRow r2 = f.place(3, "<r2>", "Re: Speed", "<top> <r1>", 46002);
        QCOMPARE(r2->parent(), top);
        // A reply meets its thread top first, whatever the date.
        TArticleRow r0 = f.place(4, "<r0>", "Re: Speed", "<top> <r1>", 46001.5);
        QCOMPARE(top->indexOfChild(r0), 2);
        // Identical references met first: the older article is placed before the newer one.
        TArticleRow newer = f.place(11, "<newer>", "Newer", "", 46010);
        TArticleRow older = f.place(12, "<older>", "Older", "", 46009);
        QCOMPARE(older->Index().row(), newer->Index().row() - 1);
        QCOMPARE(TThreadView::RecordOf(older)->Root, TThreadView::RecordOf(newer));
        // Unknown first reference, subject of an existing top: joins that top.
        TArticleRow bySubject = f.place(5, "<s>", "re: Speed", "<elsewhere>", 46003);
        QCOMPARE(bySubject->parent(), top);
        // Unknown reference, other subject: a placeholder carries the reference.
        TArticleRow lost1 = f.place(6, "<l1>", "Re: Lost", "<gone> <l0>", 46004);
        TArticleRow holder = lost1->parent();
        QVERIFY(holder && !holder->parent());
        TArticleClass* ph = TThreadView::RecordOf(holder);
        QCOMPARE(ph->Number, -999);
        QCOMPARE(ph->MessageID, QString("<gone>"));
        QCOMPARE(ph->From, QString("????"));
        QCOMPARE(ph->Subject, QString("Lost"));
        QCOMPARE(ph->Date.Value, 46004.0);
        QCOMPARE(TThreadView::RecordOf(lost1)->Root, TThreadView::RecordOf(lost1));
        TArticleRow lost2 = f.place(7, "<l2>", "Re: Lost", "<gone>", 46005);
        QCOMPARE(lost2->parent(), holder);
        // No message ID: the number stands in.
        TArticleRow noId = f.place(8, "<>", "Nameless", "", 46006);
        QCOMPARE(TThreadView::RecordOf(noId)->MessageID, QString("8"));
        QCOMPARE(f.list()->FindByMessageID("8"), TThreadView::RecordOf(noId));
        // An article without "Re: " never hangs under an article with an empty subject.
        f.place(9, "<empty>", "", "", 46007);
        TArticleRow plain = f.place(10, "<plain>", "Plain", "", 46008);
        QVERIFY(!plain->parent());
        QCOMPARE(f.view.View->model()->rowCount(), 7);

        // The view is saved in its order, placeholders included.
        f.view.GroupNode = f.group;
        f.view.SaveArticles(f.group);
        const QStringList lines = f.fileLines();
        QCOMPARE(lines.size(), 13);
        QCOMPARE(lines.at(0), QString("1|0|0|0|0|<top>|Speed|Ann|09/12/2025||0"));
        QCOMPARE(lines.at(5), QString("-999|0|0|0|0|<gone>|Lost|????|13/12/2025||0"));
        QCOMPARE(lines.at(10), QString("10|0|0|0|0|<plain>|Plain|Ann|17/12/2025||0"));
        QCOMPARE(lines.at(11), QString("12|0|0|0|0|<older>|Older|Ann|18/12/2025||0"));
        QCOMPARE(f.group->Caption(), QString("comp.test (0/13)"));
        QVERIFY_THROWS_EXCEPTION(EVorlixError, f.view.SaveArticles(nullptr));
    }

    void watchedThreadGetsNewRepliesMarked()
    {
        Fixture f;
        f.view.Loading = false;
        TArticleRow top = f.place(1, "<top>", "Watched", "", 46000);
        f.place(2, "<old>", "Re: Watched", "<top>", 46001);
        TThreadView::RecordOf(top)->Watch = 1;
        QVERIFY(!top->isExpanded());
        TArticleRow fresh = f.place(3, "<new>", "Re: Watched", "<top>", 46002, 0);
        TArticleClass* r = TThreadView::RecordOf(fresh);
        QCOMPARE(r->SpeakMark, 1);
        QCOMPARE(r->ReadState, 1);
        QCOMPARE(fresh->font(1).bold(), true);
        // The collapsed top shows that it holds something new.
        QCOMPARE(TThreadView::RecordOf(top)->Style, quint8(1));
        QVERIFY(top->font(1).bold());
        QCOMPARE(fresh->data(0, Qt::UserRole + 1).toInt(), 1);
        // A downloaded reply is new already: its row is still told to draw its speak mark.
        top->setExpanded(true);
        QSignalSpy changed(&f.view.Articles, &QAbstractItemModel::dataChanged);
        TArticleRow downloaded = f.place(5, "<downloaded>", "Re: Watched", "<top>", 46002.5, 1);
        QCOMPARE(TThreadView::RecordOf(downloaded)->SpeakMark, 1);
        bool redrawn = false;
        for (const QList<QVariant>& args : changed) {
            const QModelIndex from = args.at(0).value<QModelIndex>();
            redrawn = redrawn || (from == downloaded.Index(TThreadView::ColSpeak));
        }
        QVERIFY(redrawn);
        // While a group is being built the watch rule does not apply.
        f.view.Loading = true;
        TArticleRow quiet = f.place(4, "<quiet>", "Re: Watched", "<top>", 46003);
        QCOMPARE(TThreadView::RecordOf(quiet)->SpeakMark, 0);
    }

    // Finding: only the threads with a record whose subject or author holds the text are
    // rows, narrowing as the text grows; the focus, the expansion and later arrivals follow.
    void findFiltersThreadsAsYouType()
    {
        Fixture f;
        f.view.Loading = false;
        TArticleRow alpha = f.place(1, "<a>", "Alpha", "", 46000);
        TArticleRow reply = f.place(2, "<b>", "Re: Alpha", "<a>", 46001);
        TThreadView::RecordOf(reply)->From = "Zed Quill <zed@example.org>";
        TArticleRow beta = f.place(3, "<c>", "Beta", "", 46002);
        TThreadView::RecordOf(beta)->From = QString::fromUtf8("JÖRG Müller");
        TArticleRow gamma = f.place(4, "<d>", "Gamma ray", "", 46003);
        alpha->setExpanded(true);
        f.view.SetCurrentNode(reply);
        QAbstractItemModel* m = f.articleTree.model();
        QCOMPARE(m->rowCount(), 3);

        // An author found in a reply shows its whole thread, opened as before, focus kept.
        f.view.SetFilter("ZED");
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(TThreadView::RecordOf(f.view.NodeOf(m->index(0, 1)))->Subject, QString("Alpha"));
        QVERIFY(f.articleTree.isExpanded(alpha.Index(0)));
        QCOMPARE(f.view.CurrentNode(), reply.Node());
        QVERIFY(!beta.Index().isValid());
        // Typing on narrows; a text nothing holds leaves no row; a shorter one widens again.
        f.view.SetFilter("ZED Q");
        QCOMPARE(m->rowCount(), 1);
        f.view.SetFilter("ZED QX");
        QCOMPARE(m->rowCount(), 0);
        // Letters beyond ASCII match in either case as well.
        f.view.SetFilter(QString::fromUtf8("jörg mü"));
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(beta.Index().row(), 0);
        f.view.SetFilter("a");
        QCOMPARE(m->rowCount(), 3);
        f.view.SetFilter("gam");
        QCOMPARE(m->rowCount(), 1);
        QCOMPARE(gamma.Index().row(), 0);
        QVERIFY(!f.view.CurrentNode());

        // Arrivals while filtered: a matching thread joins in its place, others stay hidden.
        TArticleRow gammaReply = f.place(5, "<e>", "Re: Gamma ray", "<d>", 46004);
        TArticleRow other = f.place(6, "<f>", "Delta", "", 46005);
        TArticleRow early = f.place(7, "<g>", "Gamma early", "", 45999);
        QCOMPARE(m->rowCount(), 2);
        QVERIFY(!other.Index().isValid());
        QCOMPARE(gammaReply.Index().parent(), gamma.Index(0));
        // The shown threads keep the order of the whole view.
        const bool earlyFirst = early.Node()->row < gamma.Node()->row;
        QCOMPARE(f.view.NodeOf(m->index(0, 1)), earlyFirst ? early.Node() : gamma.Node());
        QCOMPARE(f.view.NodeOf(m->index(1, 1)), earlyFirst ? gamma.Node() : early.Node());

        // Emptying the field shows every thread with its expansion; emptying the view clears it.
        f.view.SetFilter(QString());
        QCOMPARE(m->rowCount(), 5);
        QVERIFY(f.articleTree.isExpanded(alpha.Index(0)));
        f.view.SetFilter("delta");
        int cleared = 0;
        f.view.OnFilterCleared = [&](TThreadView*) { ++cleared; };
        f.view.ClearArticleView();
        QCOMPARE(cleared, 1);
        QCOMPARE(f.view.Articles.Filter(), QString());
    }

    void showGroupFromTheFile()
    {
        Fixture f;
        writeLines(f.entry()->FilePath(),
                   {"3|0|1|0|0|<c>|Re: Alpha|Cy|10/12/2025 10:00:00|<a>|0",
                    "1|0|0|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||1",
                    "2|1|0|1|0|<b>|Beta|Bo|09/12/2025 08:00:00||0",
                    "4|0|0|0|0|<d>|Re: Beta|Di|11/12/2025 08:00:00|<b>|0",
                    "5|0|1|0|0|<e>|Re: Gamma|Ed|12/12/2025 08:00:00|<g>|0",
                    "broken line"});
        f.entry()->ScrollPos = 2;
        f.view.ShowGroup(f.group);
        QCOMPARE(f.view.GroupNode, f.group);
        QCOMPARE(dump(f.view), QStringList({"0 <b> 2 root=<b> mark=1 read=0", "1 <d> 4 root=<b> mark=0 read=0",
                                            "0 <a> 1 root=<a> mark=0 read=0", "1 <c> 3 root=<a> mark=0 read=1",
                                            "0 <g> -999 root=<g> mark=0 read=0", "1 <e> 5 root=<e> mark=0 read=1"}));
        QCOMPARE(f.group->Caption(), QString("comp.test (2/6)"));
        TArticleRow beta = TopRow(f.view, 0);
        TArticleRow alpha = TopRow(f.view, 1);
        QVERIFY(beta->isExpanded());
        QVERIFY(!alpha->isExpanded());
        QVERIFY(alpha->font(1).bold()); // collapsed with a new reply
        QVERIFY(!beta->font(1).bold());
        QCOMPARE(alpha->data(4, Qt::UserRole + 1).toInt(), 1);
        QCOMPARE(beta->data(0, Qt::UserRole + 1).toInt(), 1);
        QCOMPARE(alpha->text(2), QString("Al"));
        QCOMPARE(alpha->text(3), QString("09/12/2025 09:00:00"));

        // The line that could not be read is written back by the view's save.
        f.view.SaveArticles(f.group);
        QCOMPARE(f.fileLines().size(), 7);
        QCOMPARE(f.fileLines().last(), QString("broken line"));

        // Shown again, the list is not read a second time.
        TArticleClass* first = f.list()->At(0);
        f.view.ShowGroup(f.group);
        QCOMPARE(f.list()->At(0), first);
        QCOMPARE(f.list()->Count(), 6);

        // A group without a file stays empty.
        TConfigClass* other = f.servers.AddGroupEntry(f.server, "comp.empty", "261201000009");
        f.view.ShowGroup(other);
        QCOMPARE(f.view.View->model()->rowCount(), 0);
        QVERIFY(!other->Articles);
    }

    void focusFirstNew()
    {
        Fixture f;
        QStringList lines;
        for (int i = 0; i < 60; ++i)
            lines << QString("%1|0|0|0|0|<t%1>|Topic %1|Al|09/12/2025 09:%2:00||0").arg(i + 1).arg(i, 2, 10, QChar('0'));
        lines << "100|0|1|0|0|<r>|Re: Topic 50|Bo|10/12/2025 09:00:00|<t50>|0";
        writeLines(f.entry()->FilePath(), lines);
        f.articleTree.resize(600, 200);
        f.articleTree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.articleTree));
        f.view.ShowGroup(f.group);
        TArticleRow top50 = TopRow(f.view, 49);
        QVERIFY(!top50->isExpanded());
        QCOMPARE(f.articleTree.verticalScrollBar()->value(), 0);
        f.view.FocusFirstNew();
        QVERIFY(top50->isExpanded());
        const QRect shown = f.articleTree.visualRect(top50->Index());
        QVERIFY(f.articleTree.viewport()->rect().contains(shown));
        // Nothing new: the last item comes into view, or its collapsed parent.
        TThreadView::RecordOf(top50->child(0))->SetReadState(0);
        top50->setExpanded(false);
        f.articleTree.scrollToTop();
        f.view.FocusFirstNew();
        QVERIFY(!top50->isExpanded());
        QVERIFY(f.articleTree.viewport()->rect().contains(f.articleTree.visualRect(TopRow(f.view, 59)->Index())));
    }

    void clicksInTheMarkColumns()
    {
        Fixture f;
        writeLines(f.entry()->FilePath(), {"1|0|0|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                           "2|0|1|0|0|<b>|Re: Alpha|Bo|09/12/2025 10:00:00|<a>|0",
                                           "3|2|0|0|0|<c>|Re: Alpha|Cy|09/12/2025 11:00:00|<a>|0"});
        f.view.ShowGroup(f.group);
        QStringList queued;
        f.view.OnSpeakMarkChanged = [&](TThreadView*, TArticleClass* r) { queued << r->MessageID; };
        TArticleRow top = TopRow(f.view, 0);
        auto marks = [&] {
            QString s;
            for (TArticleRow i : ArticleRows(f.view))
                s += QString::number(TThreadView::RecordOf(i)->SpeakMark);
            return s;
        };
        // Collapsed top: the top cycles and its replies follow.
        f.view.ClickItem(top, 0);
        QCOMPARE(marks(), QString("111"));
        QCOMPARE(queued, QStringList({"<a>", "<b>", "<c>"}));
        QVERIFY(f.fileLines().at(0).startsWith("1|1|"));
        QVERIFY(f.fileLines().at(2).startsWith("3|1|"));
        // Expanded top with differing replies: first click copies, the second cycles the top.
        top->setExpanded(true);
        f.view.ClickItem(top->child(0), 0);
        QCOMPARE(marks(), QString("121"));
        QCOMPARE(TThreadView::RecordOf(top->child(0))->ReadState, 0); // spoken counts as read
        f.view.ClickItem(top, 0);
        QCOMPARE(marks(), QString("111"));
        f.view.ClickItem(top, 0);
        QCOMPARE(marks(), QString("211"));
        QVERIFY(f.fileLines().at(0).startsWith("1|2|"));
        // Watch: only a thread top.
        f.view.ClickItem(top->child(1), 4);
        QCOMPARE(TThreadView::RecordOf(top->child(1))->Watch, 0);
        f.view.ClickItem(top, 4);
        QCOMPARE(TThreadView::RecordOf(top)->Watch, 1);
        QVERIFY(f.fileLines().at(0).endsWith("|1"));
        f.view.ClickItem(top, 4);
        QVERIFY(f.fileLines().at(0).endsWith("|0"));

        // A real mouse press in column 0 of the view goes the same way.
        f.articleTree.resize(700, 300);
        f.articleTree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.articleTree));
        const QRect cell = f.articleTree.visualRect(top->child(1)->Index());
        const int x = f.articleTree.header()->sectionViewportPosition(0) + 5;
        QTest::mouseClick(f.articleTree.viewport(), Qt::LeftButton, {}, QPoint(x, cell.center().y()));
        QCOMPARE(marks(), QString("212"));
        QVERIFY(f.fileLines().at(2).startsWith("3|2|"));
        // A click on the subject only selects.
        int clicked = 0;
        f.view.OnItemClicked = [&](TThreadView*, TThreadModel::TNode*) { ++clicked; };
        QTest::mouseClick(f.articleTree.viewport(), Qt::LeftButton, {},
                          QPoint(f.articleTree.header()->sectionViewportPosition(2) + 5, cell.center().y()));
        QCOMPARE(marks(), QString("212"));
        QCOMPARE(clicked, 1);
        QVERIFY(top->child(1)->isSelected());
    }

    void headerInfoBoxes()
    {
        TScopedScriptedDialogs dialogs;
        Fixture f;
        f.view.HeaderClicked(1);
        QVERIFY(dialogs.Shown.empty());
        f.view.HeaderClicked(0);
        f.view.HeaderClicked(4);
        QCOMPARE(dialogs.Texts().size(), 2);
        QCOMPARE(dialogs.Texts().at(0),
                 QString("Use this column for marking messages and threads to be spoken. \n\r"
                         "Clicking this column for a given message toggles 3 different \n\r"
                         "states: the message should be spoken, speaking has completed, or \n\r"
                         "the column should be reset to a blank.\n\r\n\r"
                         "If this column is changed at the thread level for a thread which \n\r"
                         "is not currently expanded, the change is propogated to all messsages \n\r"
                         "in the thread.  If the thread is expanded, click the thread once to \n\r"
                         "apply the change to the top of thread, and again to apply change \n\r"
                         "to associated messages"));
        QCOMPARE(dialogs.Texts().at(1),
                 QString("Use this column for marking individual threads you would like \n\r"
                         "to listen to as they are updated.  As new messages for selected \n\r"
                         "threads are downloaded, they are automatically marked for speaking.\n\r\n\r"
                         "Clicking this column for a row which is not the top of a thread has \n\r"
                         "no meaning, and is ignored."));
        QCOMPARE(dialogs.Shown.at(0).Kind, TMessageKind::Information);
        // The header itself raises them.
        f.articleTree.resize(700, 300);
        f.articleTree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.articleTree));
        QHeaderView* h = f.articleTree.header();
        QTest::mouseClick(h->viewport(), Qt::LeftButton, {},
                          QPoint(h->sectionViewportPosition(4) + h->sectionSize(4) / 2, h->height() / 2));
        QCOMPARE(dialogs.Texts().size(), 3);
        QVERIFY(dialogs.LastText().startsWith("Use this column for marking individual threads"));
    }

    void markCommandsAndExpansion()
    {
        TScopedScriptedDialogs dialogs;
        Fixture f;
        writeLines(f.entry()->FilePath(), {"1|0|0|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                           "2|0|1|0|0|<b>|Re: Alpha|Bo|09/12/2025 10:00:00|<a>|0",
                                           "3|0|1|0|0|<c>|Re: Alpha|Cy|09/12/2025 11:00:00|<a>|0",
                                           "4|0|1|0|0|<d>|Delta|Di|09/12/2025 12:00:00||0"});
        f.view.ShowGroup(f.group);
        TArticleRow alpha = TopRow(f.view, 0);
        TArticleRow delta = TopRow(f.view, 1);
        alpha->setSelected(true);
        f.view.MarkSelectedSpeak(1); // collapsed: the replies too
        QCOMPARE(f.fileLines(), QStringList({"1|1|0|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                             "2|1|1|0|0|<b>|Re: Alpha|Bo|09/12/2025 10:00:00|<a>|0",
                                             "3|1|1|0|0|<c>|Re: Alpha|Cy|09/12/2025 11:00:00|<a>|0",
                                             "4|0|1|0|0|<d>|Delta|Di|09/12/2025 12:00:00||0"}));
        QVERIFY(alpha->font(1).bold());
        f.view.MarkSelectedRead(0);
        QCOMPARE(TThreadView::RecordOf(alpha->child(1))->ReadState, 0);
        QVERIFY(!alpha->font(1).bold());
        QCOMPARE(f.group->Caption(), QString("comp.test (1/4)"));
        f.view.MarkSelectedRead(1);
        QCOMPARE(f.group->Caption(), QString("comp.test (4/4)"));
        f.view.MarkSelectedSpeak(2);
        QCOMPARE(f.group->Caption(), QString("comp.test (1/4)"));
        f.view.MarkSelectedSpeak(0);
        QVERIFY(f.fileLines().at(1).startsWith("2|0|0|"));

        // Expanding and collapsing are kept; collapsing drops the replies from the selection.
        alpha->setExpanded(true);
        QVERIFY(f.fileLines().at(0).startsWith("1|0|0|1|"));
        alpha->child(0)->setSelected(true);
        TThreadView::RecordOf(alpha->child(1))->SetReadState(1);
        alpha->setExpanded(false);
        QVERIFY(!alpha->child(0)->isSelected());
        QVERIFY(f.fileLines().at(0).startsWith("1|0|0|0|"));
        QVERIFY(alpha->font(1).bold());
        alpha->setExpanded(true);
        QVERIFY(!alpha->font(1).bold());

        // Watching needs a thread top in the selection.
        f.view.DeselectAll();
        alpha->child(0)->setSelected(true);
        f.view.WatchSelected(true);
        QCOMPARE(dialogs.LastText(), QString("Select at least one message header at the top of a thread"));
        delta->setSelected(true);
        f.view.WatchSelected(true);
        QVERIFY(f.fileLines().at(3).endsWith("|1"));
        QCOMPARE(TThreadView::RecordOf(alpha->child(0))->Watch, 0);
        f.view.WatchSelected(false);
        QVERIFY(f.fileLines().at(3).endsWith("|0"));

        int focused = 0;
        f.view.OnItemFocused = [&](TThreadView*, TThreadModel::TNode*) { ++focused; };
        f.view.SelectAll();
        QCOMPARE(f.view.View->selectionModel()->selectedRows().size(), 4);
        f.view.DeselectAll();
        QVERIFY(f.view.View->selectionModel()->selectedRows().isEmpty());
        QCOMPARE(focused, 0);
    }

    void deleteOldThreads()
    {
        TMyRegistryClass store;
        store.LoadAll();
        store.SetValue("MsgDeleteDays", 30);
        Fixture f(&store);
        const double now = TDateTime::Now().Value;
        auto line = [](int n, const QString& id, const QString& subj, const QString& refs, double date) {
            TArticleClass a;
            a.Number = n;
            a.MessageID = id;
            a.Subject = subj;
            a.From = "Ann";
            a.References = refs;
            a.Date = TDateTime(std::round(date * 86400) / 86400);
            return a.FormatRecord();
        };
        writeLines(f.entry()->FilePath(),
                   {line(1, "<old>", "Old", "", now - 60), line(2, "<old-r>", "Re: Old", "<old>", now - 31),
                    line(3, "<keep>", "Keep", "", now - 80), line(4, "<keep-r>", "Re: Keep", "<keep>", now - 29),
                    line(5, "<orph>", "Re: Gone", "<gone>", now - 40)});
        f.view.ShowGroup(f.group);
        QCOMPARE(ArticleRows(f.view).size(), size_t(6));
        f.view.DeleteOldThreads();
        QCOMPARE(dump(f.view), QStringList({"0 <keep> 3 root=<keep> mark=0 read=0", "1 <keep-r> 4 root=<keep> mark=0 read=0"}));
        QCOMPARE(f.list()->Count(), 2);
        QCOMPARE(f.fileLines().size(), 2);
        f.view.ShowGroup(f.group);
        QCOMPARE(ArticleRows(f.view).size(), size_t(2));
        TArticleList fromFile;
        QVERIFY(fromFile.LoadFromFile(f.entry()->FilePath()));
        QCOMPARE(fromFile.Count(), 2);
        // New articles placed after a deletion still find their thread.
        f.view.Loading = false;
        TArticleRow late = f.place(6, "<late>", "Re: Keep", "<keep>", now);
        QCOMPARE(TThreadView::RecordOf(late->parent())->MessageID, QString("<keep>"));
    }

    void columnWidthsAndScrollPosition()
    {
        {
            TMyRegistryClass store;
            store.LoadAll();
            Fixture f(&store);
            QCOMPARE(f.articleTree.columnWidth(1), 341);
            f.articleTree.header()->resizeSection(1, 222);
            QCOMPARE(store.GetValue("MsgHeaderWidth1").toInt(), 222);
            store.SaveAll();
        }
        TRegistryEnhanced::ResetStore();
        TMyRegistryClass again;
        again.LoadAll();
        Fixture f(&again, "261201000001");
        QCOMPARE(f.articleTree.columnWidth(1), 222);

        QStringList lines;
        for (int i = 0; i < 200; ++i)
            lines << QString("%1|0|0|0|0|<m%1>|Subject %1|Ann|09/12/2025 09:%2:00||0").arg(i + 1).arg(i % 60, 2, 10, QChar('0'));
        writeLines(f.entry()->FilePath(), lines);
        f.articleTree.resize(600, 200);
        f.articleTree.show();
        QVERIFY(QTest::qWaitForWindowExposed(&f.articleTree));
        f.view.ShowGroup(f.group);
        f.articleTree.verticalScrollBar()->setValue(37);
        QCOMPARE(f.entry()->ScrollPos, 37);
        f.view.ClearArticleView();
        QCOMPARE(f.entry()->ScrollPos, 37);
        f.view.ShowGroup(f.group);
        QCOMPARE(f.articleTree.verticalScrollBar()->value(), 37);
        QCOMPARE(f.articleTree.indexAt(QPoint(5, 2)).row(), 37);
    }

    void fastPlacementMatchesTheWalk_data()
    {
        QTest::addColumn<unsigned>("seed");
        QTest::addColumn<int>("count");
        QTest::newRow("a") << 1u << 2500;
        QTest::newRow("b") << 7u << 3000;
        QTest::newRow("c") << 42u << 1500;
        QTest::newRow("d") << 99u << 400;
    }
    void fastPlacementMatchesTheWalk()
    {
        QFETCH(unsigned, seed);
        QFETCH(int, count);
        const QStringList lines = MakeCorpusLines(count, seed);
        const int firstPart = count * 7 / 10;
        Fixture f(nullptr, QString("2612010000%1").arg(seed % 100, 2, 10, QChar('0')));
        writeLines(f.entry()->FilePath(), lines.mid(0, firstPart));
        f.view.ShowGroup(f.group);

        TArticleList refList;
        QVERIFY(refList.LoadFromFile(f.entry()->FilePath()));
        refList.Sort();
        ReferenceWalk walk;
        for (int i = 0; i < refList.Count(); ++i)
            walk.place(refList.At(i));
        QCOMPARE(dump(f.view), walk.dump());

        // The rest arrives one by one, in arrival order, as a download would bring it; some
        // threads are watched by then.
        for (int i = 0; i < refList.Count(); i += 17) {
            refList.At(i)->Watch = 1;
            f.list()->FindByMessageID(refList.At(i)->MessageID)->Watch = 1;
        }
        f.view.Loading = false;
        walk.Loading = false;
        int placed = 0;
        for (int i = firstPart; i < lines.size(); ++i) {
            auto a = std::make_unique<TArticleClass>();
            a->ParseRecord(lines.at(i));
            auto b = std::make_unique<TArticleClass>();
            b->ParseRecord(lines.at(i));
            TArticleClass* fa = f.list()->Add(std::move(a));
            TArticleClass* ra = refList.Add(std::move(b));
            QCOMPARE(!fa, !ra);
            if (fa) {
                const bool shown = f.view.AddArticleToTree(fa) != nullptr;
                QCOMPARE(shown, walk.place(ra) != nullptr);
                placed += shown ? 1 : 0;
            }
        }
        QVERIFY(placed > 0);
        QCOMPARE(dump(f.view), walk.dump());
        QCOMPARE(f.list()->Count(), refList.Count());
        // Nothing of the list is missing from the view, so a save keeps every record.
        QCOMPARE(int(ArticleRows(f.view).size()), f.list()->Count());
    }
};

VORLIX_TEST_MAIN(TestThreadView)
#include "test_thread_view.moc"
