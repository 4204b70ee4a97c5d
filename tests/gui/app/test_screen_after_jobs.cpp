// What a real display shows after the news jobs: the article view is frozen while a download
// or catch-up fills it, with the progress window over it; once the job ends, the X server's
// picture of the view, the message pane and the server tree must be what those controls would
// paint now, with no strip of the content from before the job left anywhere.
//
// Runs on the xcb platform against the private Xvfb of scripts/run-tests.sh
// (scripts/test-services/xvfb.sh); without an X server it skips, and fails under CI.
#include "news_window_rig.h"

#include "SampleNewsServer.h"
#include "ScriptedWindows.h"
#include "gui/app/ProgressWindow.h"

#include <QApplication>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeView>

using namespace NewsRig;

namespace {
const QString kHiking = QStringLiteral("rec.outdoors.hiking");
const QString kLinux = QStringLiteral("comp.os.linux.misc");

void AddArticles(TSampleNewsServer& server, const QString& group, int from, int count)
{
    for (int i = from; i < from + count; ++i) {
        const QByteArray n = QByteArray::number(i);
        server.AddArticle("From: Walker " + n + " <w" + n + "@example.org>\nNewsgroups: " + group.toUtf8()
                          + "\nSubject: Trail number " + n + "\nDate: -1d 10:00\nMessage-ID: <t" + n + "."
                          + group.toUtf8() + "@example.org>\n\nDay " + n + " on the trail.\n");
    }
}

// Passes a client's connection on to the news server and hands the answers back a few hundred
// bytes every 10 ms, as a distant server does: a job spans many rounds of events, and the
// frozen view is drawn a few times while its rows arrive.
class TSlowLink : public QObject {
public:
    explicit TSlowLink(quint16 target)
    {
        listener.listen(QHostAddress::LocalHost);
        connect(&listener, &QTcpServer::newConnection, this, [this, target] {
            QTcpSocket* client = listener.nextPendingConnection();
            auto* upstream = new QTcpSocket(client);
            auto* pending = new QByteArray;
            auto* pace = new QTimer(client);
            connect(client, &QObject::destroyed, [pending] { delete pending; });
            connect(pace, &QTimer::timeout, client, [client, pending] {
                client->write(pending->left(300));
                pending->remove(0, std::min<qsizetype>(300, pending->size()));
            });
            connect(client, &QTcpSocket::readyRead, upstream, [client, upstream] { upstream->write(client->readAll()); });
            connect(upstream, &QTcpSocket::readyRead, client, [upstream, pending] { *pending += upstream->readAll(); });
            connect(client, &QTcpSocket::disconnected, upstream, [upstream] { upstream->disconnectFromHost(); });
            pace->start(10);
            upstream->connectToHost(QHostAddress::LocalHost, target);
        });
    }
    QString ServerName() const { return QStringLiteral("127.0.0.1:%1").arg(listener.serverPort()); }

private:
    QTcpServer listener;
};

// The part of the control where the X server's picture differs from what the control paints
// now (a fresh rendering of the window); empty when the screen is up to date.
QRect StaleArea(QWidget* control)
{
    QWidget* window = control->window();
    const QRect area(control->mapTo(window, QPoint(0, 0)), control->size());
    const QImage shown = control->screen()
                             ->grabWindow(window->winId(), area.x(), area.y(), area.width(), area.height())
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    const QImage fresh = window->grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    if (shown.size() != fresh.size())
        return QRect(QPoint(0, 0), control->size());
    QRect stale;
    for (int y = 0; y < shown.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(shown.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(fresh.constScanLine(y));
        for (int x = 0; x < shown.width(); ++x) {
            if (a[x] != b[x])
                stale |= QRect(x, y, 1, 1);
        }
    }
    return stale;
}

QWidget* Control(const Window& w, const char* name)
{
    return TestSupport::Part<QWidget>(w.Form.get(), name);
}

// Waits until the screen shows the article view, the message pane and the server tree as they
// are; says which control still shows something else and where.
bool ScreenUpToDate(const Window& w, QByteArray* why)
{
    const char* names[] = {"tvArticles", "pnlMessage", "tvServers"};
    const bool same = TestSupport::WaitFor(
        [&] {
            for (const char* n : names) {
                if (!StaleArea(Control(w, n)).isEmpty())
                    return false;
            }
            return true;
        },
        5000);
    if (!same) {
        for (const char* n : names) {
            const QRect r = StaleArea(Control(w, n));
            if (!r.isEmpty())
                *why += QByteArray(n) + " differs from a fresh drawing in " + QByteArray::number(r.width()) + "x"
                    + QByteArray::number(r.height()) + " at " + QByteArray::number(r.x()) + ","
                    + QByteArray::number(r.y()) + "; ";
        }
    }
    return same;
}

// The progress window lies over the article view on the screen.
bool ProgressOverView(const Window& w)
{
    TProgressWindow* p = w.News()->ProgressWindow();
    QWidget* view = Control(w, "tvArticles");
    return p && p->isVisible() && p->frameGeometry().intersects(QRect(view->mapToGlobal(QPoint(0, 0)), view->size()));
}
} // namespace

class TestScreenAfterJobs : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetProfile(); }

    // Catch Up Newsgroup and Catch Up Server with the progress window over the view, and a
    // download of new headers: afterwards the screen shows the view, the pane and the tree as
    // they are now.
    void screenShowsTheContentAfterCatchUpAndDownload()
    {
        VORLIX_REQUIRE_X11();
        TScopedScriptedWindows dialogs;
        TSampleNewsServer news;
        QVERIFY(news.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) > 0);
        AddArticles(news, kHiking, 1, 60);
        AddArticles(news, kLinux, 1, 60);
        QVERIFY(news.Listen());
        TSlowLink link(news.Port());
        WriteConfig(link.ServerName(), {kHiking, kLinux});
        Window w;
        QVERIFY(w.Open());
        w.Form->move(0, 0);
        w.Form->resize(1000, 700);
        QVERIFY(QTest::qWaitForWindowExposed(w.Form.get()));
        QByteArray why;

        // A group with an article in the pane; new articles on the server.
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        w.SetCurrent(w.Items().front());
        QVERIFY(TestSupport::WaitFor([&] { return !w.Form->ToolbarDisabled() && w.Processor()->Idle(); }, 20000));
        QVERIFY(!w.Memo().isEmpty());
        QVERIFY2(ScreenUpToDate(w, &why), why.constData());
        AddArticles(news, kHiking, 1000, 60);

        // Catch Up Newsgroup: the new rows, all read now.
        const int before = int(w.Items().size());
        w.Form->UpdateCommands();
        w.Form->Command("CatchUp", TCommandPlace::Menu)->trigger();
        QVERIFY(ProgressOverView(w));
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), before + 60);
        for (const TArticleRow& row : w.Items())
            QCOMPARE(TThreadView::RecordOf(row)->ReadState, 0);
        QVERIFY2(ScreenUpToDate(w, &why), why.constData());

        // Catch Up Server with the server selected: an empty view and pane.
        w.Select(link.ServerName());
        QVERIFY(w.Items().empty());
        QVERIFY(w.Memo().isEmpty());
        AddArticles(news, kHiking, 2000, 60);
        w.Form->UpdateCommands();
        w.Form->Command("CatchUpServer", TCommandPlace::Menu)->trigger();
        QVERIFY(ProgressOverView(w));
        QVERIFY(w.WaitIdle());
        QVERIFY(w.Items().empty());
        QVERIFY(w.Memo().isEmpty());
        QVERIFY2(ScreenUpToDate(w, &why), why.constData());

        // The caught-up group again, then new headers downloaded into it.
        w.Select(kHiking);
        QVERIFY(w.WaitIdle());
        QVERIFY2(ScreenUpToDate(w, &why), why.constData());
        AddArticles(news, kHiking, 3000, 60);
        const int shown = int(w.Items().size());
        w.Form->UpdateCommands();
        w.Form->Command("Download", TCommandPlace::Menu)->trigger();
        QVERIFY(ProgressOverView(w));
        QVERIFY(w.WaitIdle());
        QCOMPARE(int(w.Items().size()), shown + 60);
        QVERIFY2(ScreenUpToDate(w, &why), why.constData());
        QVERIFY(dialogs.Texts().isEmpty());
    }
};

VORLIX_TEST_MAIN(TestScreenAfterJobs)
#include "test_screen_after_jobs.moc"
