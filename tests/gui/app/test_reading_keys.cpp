// Reading with the keyboard in the real main window, and what the trees still take while a
// news job runs: N and Space through the articles and on to the next newsgroup, Tab into the
// message pane, the pane scrolling with the keys, marks and expanding during a body fetch, and
// a new server showing its own (empty) content.
#include "news_window_rig.h"

#include "ScriptedWindows.h"
#include "SampleNewsServer.h"
#include "gui/dialogs/ServerDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTcpServer>
#include <QTcpSocket>

using namespace NewsRig;

namespace {
const QString kHiking = QStringLiteral("rec.outdoors.hiking");
const QString kLinux = QStringLiteral("comp.os.linux.misc");
const QString kLong = QStringLiteral("A long trip report");

QString ServerName(const TSampleNewsServer& s)
{
    return QStringLiteral("127.0.0.1:%1").arg(s.Port());
}

QByteArray LongArticle()
{
    QByteArray body;
    for (int i = 1; i <= 400; ++i)
        body += "Line " + QByteArray::number(i) + " of the long way up.\n";
    return "From: Pat <pat@example.org>\nNewsgroups: rec.outdoors.hiking\nSubject: A long trip report\n"
           "Date: -1d 09:00\nMessage-ID: <long@example.org>\n\n"
        + body;
}

QTreeView* Articles(const Window& w)
{
    return TestSupport::Part<QTreeView>(w.Form.get(), "tvArticles");
}

QTextEdit* Pane(const Window& w)
{
    return TestSupport::Part<QTextEdit>(w.Form.get(), "memoMessage");
}

TThreadModel::TNode* Current(const Window& w)
{
    return w.Form->ThreadView->CurrentNode();
}

// The body of the focused article has arrived (the toolbar is back).
bool BodyShown(const Window& w)
{
    return TestSupport::WaitFor([&] { return !w.Form->ToolbarDisabled() && w.Processor()->Idle(); }, 20000)
        && !w.Memo().isEmpty();
}

void MarkAllRead(const Window& w)
{
    for (const TArticleRow& row : w.Items())
        w.Form->ThreadView->SetReadStateShown(TThreadView::RecordOf(row), 0, row);
}

// A press in the middle of the cell of the given column.
void ClickCell(const Window& w, const TArticleRow& row, int column)
{
    QTreeView* v = Articles(w);
    const QRect r = v->visualRect(row.Index());
    const int x = v->header()->sectionViewportPosition(column) + v->header()->sectionSize(column) / 2;
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, QPoint(x, r.center().y()));
}
} // namespace

class TestReadingKeys : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    void nextUnreadSpaceAndTabThroughTheWindow()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) > 0);
        QVERIFY(server.AddArticle(LongArticle()));
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking, kLinux});
        Window w;
        QVERIFY(w.Open());
        w.Form->resize(1000, 700);
        w.Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.Form.get()));
        w.Select(kLinux);
        QVERIFY(w.WaitIdle());
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        QVERIFY(w.Items().size() > 3);
        QTreeView* tree = Articles(w);
        tree->setFocus();
        TThreadModel& model = w.Form->ThreadView->Model;

        // N: the first unread article, then the one after it (its thread opened when it is a reply).
        QVERIFY(!Current(w));
        QTest::keyClick(tree, Qt::Key_N);
        QCOMPARE(Current(w), w.Items().front().Node());
        QVERIFY(BodyShown(w));
        TThreadModel::TNode* expected = model.NextNew(Current(w));
        QVERIFY(expected);
        QTest::keyClick(tree, Qt::Key_N);
        QCOMPARE(Current(w), expected);
        QVERIFY(w.Form->ThreadView->IsSelected(expected));
        QCOMPARE(int(w.Form->ThreadView->SelectedNodes().size()), 1);
        if (expected->parent)
            QVERIFY(w.Form->ThreadView->IsExpanded(expected->parent));
        QVERIFY(BodyShown(w));

        // Space pages the message pane down while it has more to show; the article stays.
        TArticleRow longRow = w.ItemBySubject(kLong);
        QVERIFY(longRow);
        w.Form->ThreadView->GoToNode(longRow);
        QVERIFY(BodyShown(w));
        QVERIFY(w.Memo().contains("Line 400 of"));
        QScrollBar* bar = Pane(w)->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), 0);
        QTest::keyClick(tree, Qt::Key_Space);
        QCOMPARE(bar->value(), bar->pageStep());
        QCOMPARE(Current(w), longRow.Node());

        // Tab reaches the pane; the arrow and page keys scroll it.
        w.Form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.Form.get()));
        tree->setFocus();
        QVERIFY(tree->hasFocus());
        QTest::keyClick(tree, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(Pane(w)));
        const int before = bar->value();
        QTest::keyClick(Pane(w), Qt::Key_Down);
        QVERIFY(bar->value() > before);
        QTest::keyClick(Pane(w), Qt::Key_PageDown);
        QVERIFY(bar->value() >= before + bar->pageStep());

        // At the end of the pane Space goes on to the next unread article.
        for (int i = 0; i < 100 && bar->value() < bar->maximum(); ++i)
            QTest::keyClick(Pane(w), Qt::Key_Space);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(Current(w), longRow.Node());
        expected = model.NextNew(longRow);
        QTest::keyClick(Pane(w), Qt::Key_Space);
        if (expected)
            QCOMPARE(Current(w), expected);
        else
            QCOMPARE(w.Form->ThreadView->GroupNode, w.Entry(kLinux));
        QVERIFY(BodyShown(w));

        // After the last unread article N goes to the next newsgroup with unread articles.
        w.Select(kHiking);
        QCOMPARE(w.Form->ThreadView->GroupNode, w.Entry(kHiking));
        MarkAllRead(w);
        w.SetCurrent(w.Items().back());
        QVERIFY(TestSupport::WaitFor([&] { return !w.Form->ToolbarDisabled() && w.Processor()->Idle(); }));
        QVERIFY(w.Entry(kLinux)->Articles->NewCount() > 0);
        QTest::keyClick(tree, Qt::Key_N);
        QCOMPARE(w.Form->NewsStore->SelectedEntry(), w.Entry(kLinux));
        QCOMPARE(w.Form->ThreadView->GroupNode, w.Entry(kLinux));
        QVERIFY(Current(w));
        QCOMPARE(TThreadView::RecordOf(Current(w))->ReadState, 1);
        QCOMPARE(Current(w), model.NextNew(nullptr));
        QVERIFY(BodyShown(w));

        // Nothing unread anywhere after it: the selection stays and the status bar says so.
        MarkAllRead(w);
        TThreadModel::TNode* last = Current(w);
        QTest::keyClick(tree, Qt::Key_N);
        QCOMPARE(w.Form->NewsStore->SelectedEntry(), w.Entry(kLinux));
        QCOMPARE(Current(w), last);
        QCOMPARE(w.Status(), QString("No more unread articles"));
        QVERIFY(dialogs.Texts().isEmpty());
    }

    // A body fetch refuses selection changes only: marks, expanding and collapsing still work.
    void marksAndExpandingDuringABodyFetch()
    {
        TScopedScriptedWindows dialogs;
        // A server that accepts the connection and never answers keeps the body fetch running.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QList<QTcpSocket*> held;
        connect(&silent, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* s = silent.nextPendingConnection())
                held << s;
        });
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), {kHiking});
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        Window w;
        QVERIFY(w.Open());
        w.Form->resize(1000, 700);
        TConfigClass* group = w.Entry(kHiking);
        WriteLinesAtomically(group->FilePath(), {"1|0|1|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                                 "2|0|1|0|0|<b>|Re: Alpha|Bo|09/12/2025 10:00:00|<a>|0",
                                                 "3|0|1|0|0|<c>|Beta|Cy|10/12/2025 09:00:00||0",
                                                 "4|0|1|0|0|<d>|Re: Beta|Di|10/12/2025 10:00:00|<c>|0",
                                                 "5|0|1|0|0|<e>|Gamma|Ed|11/12/2025 09:00:00||0"});
        group->Downloaded = true; // no header download: the body fetch is the only job
        w.Select(kHiking);
        QVERIFY(TestSupport::WaitFor([&] { return w.Items().size() == 5; }));
        QTreeView* tree = Articles(w);
        TArticleRow alpha = w.ItemBySubject("Alpha");
        TArticleRow beta = w.ItemBySubject("Beta");
        TArticleRow gamma = w.ItemBySubject("Gamma");
        QVERIFY(!alpha->isExpanded() && !beta->isExpanded());
        w.SetCurrent(beta);
        QVERIFY(TestSupport::WaitFor([&] { return !held.isEmpty(); }));
        QVERIFY(!w.Processor()->Idle());
        QVERIFY(!w.News()->SelectionChangeAllowed());

        // The speak and watch columns take their clicks; the selection does not move.
        ClickCell(w, gamma, TThreadView::ColSpeak);
        QCOMPARE(TThreadView::RecordOf(gamma)->SpeakMark, 1);
        ClickCell(w, alpha, TThreadView::ColWatch);
        QCOMPARE(TThreadView::RecordOf(alpha)->Watch, 1);
        QCOMPARE(Current(w), beta.Node());
        QVERIFY(!gamma->isSelected() && !alpha->isSelected());

        // The expand button opens and closes a thread; a click on a row's text moves nothing.
        const QRect r = tree->visualRect(alpha.Index(TThreadView::ColSubject));
        const int button = tree->header()->sectionViewportPosition(TThreadView::ColSubject) + tree->indentation() / 2;
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(button, r.center().y()));
        QVERIFY(alpha->isExpanded());
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(button, r.center().y()));
        QVERIFY(!alpha->isExpanded());
        ClickCell(w, gamma, TThreadView::ColSubject);
        QCOMPARE(Current(w), beta.Node());

        // The keys that open and close the focused thread work; those that move, and N, do not.
        tree->setFocus();
        QTest::keyClick(tree, Qt::Key_Right);
        QVERIFY(beta->isExpanded());
        QTest::keyClick(tree, Qt::Key_Left);
        QVERIFY(!beta->isExpanded());
        QTest::keyClick(tree, Qt::Key_Plus);
        QVERIFY(beta->isExpanded());
        QTest::keyClick(tree, Qt::Key_Down);
        QTest::keyClick(tree, Qt::Key_End);
        QTest::keyClick(tree, Qt::Key_N);
        QCOMPARE(Current(w), beta.Node());
        QCOMPARE(int(w.Form->ThreadView->SelectedNodes().size()), 1);

        w.Processor()->Abort();
        QVERIFY(w.WaitIdle(10000));
        qDeleteAll(held);
    }

    // The find field over the article view filters as the user types; another group empties it.
    void findFieldFiltersTheArticleView()
    {
        TScopedScriptedWindows dialogs;
        WriteConfig(QStringLiteral("127.0.0.1:1"), {kHiking, kLinux});
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        Window w;
        QVERIFY(w.Open());
        TConfigClass* group = w.Entry(kHiking);
        WriteLinesAtomically(group->FilePath(), {"1|0|1|0|0|<a>|Alpha|Al|09/12/2025 09:00:00||0",
                                                 "2|0|1|0|0|<b>|Re: Alpha|Zed|09/12/2025 10:00:00|<a>|0",
                                                 "3|0|1|0|0|<c>|Beta|Cy|10/12/2025 09:00:00||0"});
        group->Downloaded = true;
        w.Entry(kLinux)->Downloaded = true;
        w.Select(kHiking);
        QVERIFY(TestSupport::WaitFor([&] { return w.Items().size() == 3; }));
        auto* find = TestSupport::Part<QLineEdit>(w.Form.get(), "edFind");
        QAbstractItemModel* rows = Articles(w)->model();
        QCOMPARE(rows->rowCount(), 2);
        // Going to the field makes the text it looks through ahead of the first letter.
        QVERIFY(!w.Form->ThreadView->Model.FindTextReady());
        w.Form->activateWindow();
        find->setFocus();
        QVERIFY(TestSupport::WaitFor([&] { return w.Form->ThreadView->Model.FindTextReady(); }, 5000));
        QTest::keyClicks(find, "ze");
        QCOMPARE(rows->rowCount(), 1);
        QCOMPARE(rows->index(0, TThreadView::ColSubject).data().toString(), QString("Alpha"));
        QTest::keyClick(find, Qt::Key_Backspace);
        QTest::keyClick(find, Qt::Key_Backspace);
        QCOMPARE(rows->rowCount(), 2);
        QTest::keyClicks(find, "beta");
        QCOMPARE(rows->rowCount(), 1);
        w.Select(kLinux);
        QVERIFY(find->text().isEmpty());
        QVERIFY(w.Form->ThreadView->Articles.Filter().isEmpty());
        QVERIFY(dialogs.Texts().isEmpty());
    }

    // After Add Server the new server is selected, and the article view and the message pane
    // no longer show the group and article shown before.
    void addServerLeavesNothingOfTheOldSelection()
    {
        TScopedScriptedWindows dialogs;
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) > 0);
        QVERIFY(server.Listen());
        WriteConfig(ServerName(server), {kHiking});
        Window w;
        QVERIFY(w.Open());
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        w.SetCurrent(w.Items().front());
        QVERIFY(BodyShown(w));
        dialogs.DialogHandlers.push_back([](QDialog* d) {
            auto* f = dynamic_cast<TForm2*>(d);
            if (!f)
                return int(QDialog::Rejected);
            f->edServerName->setText("news.example.invalid");
            f->cbLoadNewsgroups->setChecked(false);
            f->btnOk->click();
            return f->result();
        });
        w.Form->Command("AddServer", TCommandPlace::Menu)->trigger();
        QCOMPARE(w.Form->NewsStore->SelectedEntry(), w.Entry("news.example.invalid"));
        QVERIFY(w.Items().empty());
        QCOMPARE(Articles(w)->model()->rowCount(), 0);
        QVERIFY(!w.Form->ThreadView->GroupNode);
        QVERIFY(w.Memo().isEmpty());
    }
};

VORLIX_TEST_MAIN(TestReadingKeys)
#include "test_reading_keys.moc"
