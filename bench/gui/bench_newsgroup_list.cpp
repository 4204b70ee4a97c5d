// The newsgroup list window with a LIST of 100 000 groups: the first opening (LIST from a
// loopback server into the list file, then the tree), a later opening from the file, and
// searches. While the window works a 10 ms timer runs; the longest gap between its ticks is
// how long the window went without handling events.
#include "gui/dialogs/NewsGroupTreeView.h"

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QLineEdit>
#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kGroups = 100000;
constexpr int kRuns = 3;

// Realistic names: a few big hierarchies, two to five levels, sorted as servers usually list them.
QByteArray MakeList()
{
    static const char* tops[] = {"alt", "comp", "rec", "sci", "soc", "news", "misc", "talk", "de", "fr", "uk", "microsoft"};
    static const char* words[] = {"binaries", "lang", "os", "linux", "music", "sport", "games", "test", "answers",
                                  "politics", "misc", "announce", "discuss", "help", "support", "pictures",
                                  "audio", "speech", "hiking", "python", "database", "network", "security",
                                  "hardware", "software", "fan", "tv", "movies", "books", "cooking"};
    std::mt19937 rng(42);
    std::vector<QByteArray> names;
    names.reserve(kGroups);
    int serial = 0;
    while (int(names.size()) < kGroups) {
        QByteArray n = tops[rng() % std::size(tops)];
        const int depth = 1 + int(rng() % 4);
        for (int d = 0; d < depth; ++d)
            n += '.' + QByteArray(words[rng() % std::size(words)]);
        n += '.' + QByteArray("g") + QByteArray::number(++serial);
        names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    QByteArray out;
    out.reserve(kGroups * 48);
    for (const QByteArray& n : names)
        out += n + " 0000012345 0000000001 y\r\n";
    return out;
}

// Answers the greeting and LIST; anything else gets a 500.
class TListServer : public QObject {
public:
    explicit TListServer(QByteArray list) : body(std::move(list))
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                s->write("200 bench server ready\r\n");
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    while (s->canReadLine()) {
                        const QByteArray line = s->readLine().trimmed().toUpper();
                        if (line == "LIST")
                            s->write("215 list follows\r\n" + body + ".\r\n");
                        else if (line == "QUIT")
                            s->disconnectFromHost();
                        else
                            s->write("500 unknown\r\n");
                    }
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
    }
    QString Name() const { return QStringLiteral("127.0.0.1:") + QString::number(server.serverPort()); }

private:
    QTcpServer server;
    QByteArray body;
};

struct TResult {
    double Ms = 0;
    double MaxGapMs = 0;
};

// Runs work() and waits for done(); a 10 ms timer measures the longest time without events.
TResult Measure(const std::function<void()>& work, const std::function<bool()>& done)
{
    QElapsedTimer clock;
    double lastTick = 0, maxGap = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const double now = clock.nsecsElapsed() / 1e6;
        maxGap = std::max(maxGap, now - lastTick);
        lastTick = now;
    });
    clock.start();
    ticker.start();
    work();
    while (!done())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double total = clock.nsecsElapsed() / 1e6;
    maxGap = std::max(maxGap, total - lastTick);
    return {total, maxGap};
}

void Report(const char* what, std::vector<TResult> runs)
{
    std::sort(runs.begin(), runs.end(), [](const TResult& a, const TResult& b) { return a.Ms < b.Ms; });
    double worstGap = 0;
    for (const TResult& r : runs)
        worstGap = std::max(worstGap, r.MaxGapMs);
    std::printf("%-46s min %8.0f ms  median %8.0f ms  longest event gap %5.0f ms\n", what, runs.front().Ms,
                runs[runs.size() / 2].Ms, worstGap);
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (qEnvironmentVariableIsEmpty("VORLIX_HOME"))
        qputenv("VORLIX_HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QByteArray list = MakeList();
    std::printf("LIST of %d groups, %.1f MB\n", kGroups, list.size() / 1e6);
    TListServer server(list);
    const QString listFile = home.path() + QStringLiteral("/bench-list.chl");

    std::vector<TResult> download, load, searchMany, searchFew;
    int treeRoots = 0, manyHits = 0, fewHits = 0;
    for (int run = 0; run < kRuns; ++run) {
        QFile::remove(listFile);
        {
            TNGDialog dlg;
            dlg.ServerName = server.Name();
            dlg.ListFile = listFile;
            bool loaded = false;
            QObject::connect(&dlg, &TNGDialog::listLoaded, [&] { loaded = true; });
            download.push_back(Measure([&] { dlg.show(); }, [&] { return loaded && !dlg.Busy(); }));
            if (QFile(listFile).size() != list.size()) {
                std::printf("download failed: %s\n", qPrintable(dlg.LastFailure()));
                return 1;
            }
        }
        TNGDialog dlg;
        dlg.ServerName = server.Name();
        dlg.ListFile = listFile;
        bool loaded = false;
        QObject::connect(&dlg, &TNGDialog::listLoaded, [&] { loaded = true; });
        load.push_back(Measure([&] { dlg.show(); }, [&] { return loaded && !dlg.Busy(); }));
        treeRoots = dlg.Tree()->topLevelItemCount();

        dlg.Pages()->setCurrentIndex(1);
        bool searched = false;
        QObject::connect(&dlg, &TNGDialog::searchFinished, [&] { searched = true; });
        dlg.SearchEdit()->setText(QStringLiteral("python"));
        searchMany.push_back(Measure([&] { dlg.SearchButton()->click(); }, [&] { return searched; }));
        manyHits = dlg.Results()->count();
        searched = false;
        dlg.SearchEdit()->setText(QStringLiteral("g4242"));
        searchFew.push_back(Measure([&] { dlg.SearchButton()->click(); }, [&] { return searched; }));
        fewHits = dlg.Results()->count();
    }
    Report("first opening: LIST download + tree", download);
    Report("later opening: list file + tree", load);
    Report(qPrintable(QStringLiteral("search \"python\" (%1 results)").arg(manyHits)), searchMany);
    Report(qPrintable(QStringLiteral("search \"g4242\" (%1 results)").arg(fewHits)), searchFew);
    std::printf("tree: %d top-level nodes\n", treeRoots);
    return 0;
}
