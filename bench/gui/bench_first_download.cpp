// The first download of a big newsgroup in the real main window (offscreen) against the local
// INN server: from the selection of the group to the saved file with the view filled. While it
// runs a 5 ms timer measures the longest stretch the event loop was blocked, and a second run
// presses Cancel in the progress window to time how fast the job ends.
#include "gui/app/NewsCommands.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"
#include "gui/app/UsenetUnit.h"
#include "gui/news/ServerTree.h"
#include "gui/news/ThreadView.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"
#include "nntp/NNTPProcessor.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include <cstdio>
#include <functional>
#include <memory>

namespace {
bool waitFor(const std::function<bool()>& pred, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

struct Run {
    double Seconds = 0;
    int Items = 0;
    int FileLines = 0;
    qint64 MaxStallMs = 0;
    bool Ok = false;
};

// One fresh window; cancelAfter > 0 presses Cancel once that many headers have arrived.
Run firstDownload(const QString& server, const QString& group, int cancelAfter)
{
    Run run;
    QDir data(GetDataFolder());
    for (const QString& f : data.entryList(QDir::Files))
        data.remove(f);
    WriteLinesAtomically(GetDataFolder() + QStringLiteral("Config.chl"),
                         {QStringLiteral("NewsServer|%1|1|-1|0|260101000000|0|||").arg(server),
                          QStringLiteral("NewsGroup|%1|0|-1|0|260101000001M").arg(group)});
    TForm1::Shown = false;
    auto form = std::make_unique<TForm1>();
    form->Store->SetValue(QStringLiteral("MsgsToRetrieve"), 10000);
    form->Store->SetValue(QStringLiteral("MsgDeleteDays"), -1);
    form->show();
    if (!waitFor([] { return TForm1::Shown; }, 10000))
        return run;
    QTreeWidgetItem* node = nullptr;
    for (QTreeWidgetItemIterator it(form->findChild<QTreeWidget*>(QStringLiteral("tvServers"))); *it; ++it) {
        if (TConfigClass* e = TServerTree::EntryOf(*it); e && e->Name == group)
            node = *it;
    }
    if (!node)
        return run;
    TNewsCommands* news = form->News.get();

    QElapsedTimer sinceTick;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        run.MaxStallMs = std::max(run.MaxStallMs, sinceTick.restart());
    });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    ticker.start();
    form->findChild<QTreeWidget*>(QStringLiteral("tvServers"))->setCurrentItem(node); // the first selection starts the download
    bool cancelled = false;
    run.Ok = waitFor(
        [&] {
            if (cancelAfter > 0 && !cancelled && news->HeaderCount() >= cancelAfter && news->ProgressWindow()) {
                cancelled = true;
                clock.restart();
                news->ProgressWindow()->CancelButton()->click();
            }
            return news->MainProcessor()->Idle() && !news->ProgressWindow();
        },
        120000);
    run.Seconds = clock.elapsed() / 1000.0;
    ticker.stop();
    run.Items = int(form->ThreadView->Nodes().size());
    run.FileLines = int(ReadLines(TServerTree::EntryOf(node)->FilePath()).size());
    form->close();
    form.reset();
    TForm1::Shown = false;
    return run;
}
} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<QTemporaryDir> home;
    if (qEnvironmentVariableIsEmpty("VORLIX_HOME")) {
        home = std::make_unique<QTemporaryDir>();
        qputenv("VORLIX_HOME", home->path().toUtf8());
    }
    qputenv("VORLIX_NO_SPLASH", "1");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString host = qEnvironmentVariable("VORLIX_INN_HOST");
    const QString port = qEnvironmentVariable("VORLIX_INN_PORT");
    const QString group = qEnvironmentVariable("VORLIX_INN_BIG_GROUP");
    if (port.isEmpty() || group.isEmpty()) {
        std::printf("bench_first_download: no INN server (VORLIX_INN_PORT, VORLIX_INN_BIG_GROUP); "
                    "run it through scripts/run-benchmarks.sh\n");
        return 1;
    }
    WriteProgramValue(QStringLiteral("ShowTips"), QStringLiteral("N"));
    const QString server = host + QLatin1Char(':') + port;
    bool ok = true;
    for (int i = 1; i <= 3; ++i) {
        const Run r = firstDownload(server, group, 0);
        ok = ok && r.Ok && r.Items == 10000 && r.FileLines == 10000 && r.Seconds < 10.0;
        std::printf("first download of %s, 10000 headers: run %d: %.2f s, %d items shown, %d lines saved, "
                    "longest event-loop stall %lld ms%s\n",
                    qPrintable(group), i, r.Seconds, r.Items, r.FileLines, static_cast<long long>(r.MaxStallMs),
                    r.Seconds < 10.0 ? "" : "  (over the 10 s target)");
    }
    const Run c = firstDownload(server, group, 2000);
    ok = ok && c.Ok && c.Items >= 2000 && c.Items == c.FileLines;
    std::printf("cancel after 2000 headers: job ended %.3f s after the click, %d items kept, %d lines saved\n",
                c.Seconds, c.Items, c.FileLines);
    std::fflush(stdout);
    return ok ? 0 : 1;
}
