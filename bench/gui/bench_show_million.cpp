// A newsgroup of 1 000 000 records of the realistic shape (first argument: another count)
// read, threaded and shown in a tree view over the article model, offscreen: the time until
// the first rows are painted, peak resident memory of the whole program, one more header
// placed into the shown group, and the longest scroll, expand and click in the view.
#include "NewsCorpus.h"

#include "core/TextFiles.h"
#include "gui/news/ArticleModel.h"
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QScrollBar>
#include <QTest>
#include <QTreeView>
#include <algorithm>
#include <cstdio>

namespace {
long peakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The time of one piece of work followed by painting the view, in microseconds.
template <typename F>
qint64 timed(QTreeView& view, F&& work)
{
    QElapsedTimer t;
    t.start();
    work();
    view.viewport()->repaint();
    return t.nsecsElapsed() / 1000;
}
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int count = argc > 1 ? atoi(argv[1]) : 1000000;
    if (argc > 2 && QByteArray(argv[2]) == "--write") {
        QCoreApplication app(argc, argv);
        WriteLinesAtomically(GetDataFolder() + "bench_million.chl", MakeRealisticCorpusLines(count, 991u));
        return 0;
    }
    QApplication app(argc, argv);
    const QString path = GetDataFolder() + "bench_million.chl";
    // A second run of this program writes the file, so the peak measured here is the
    // shown group's and the window's alone.
    QProcess writer;
    writer.start(QCoreApplication::applicationFilePath(), {QString::number(count), QStringLiteral("--write")});
    if (!writer.waitForFinished(-1) || writer.exitCode() != 0 || !QFile::exists(path)) {
        std::printf("show_million could not write %s\n", qPrintable(path));
        return 1;
    }
    QTreeView view;
    view.setUniformRowHeights(true);
    view.setSelectionMode(QAbstractItemView::ExtendedSelection);
    view.setSelectionBehavior(QAbstractItemView::SelectRows);
    view.setTreePosition(TArticleModel::ColSubject);
    view.resize(900, 700);
    view.show();
    TArticleList list;
    TThreadModel threads;
    TArticleModel model(&threads);
    model.SetBaseFont(view.font());
    view.setModel(&model);
    const long beforeKb = peakKb();

    QElapsedTimer t;
    t.start();
    list.LoadFromFile(path);
    const qint64 loadMs = t.elapsed();
    list.Sort();
    threads.Loading = true;
    threads.BeginBulk();
    for (int i = 0; i < list.Count(); ++i) {
        threads.PrefetchAhead(list, i);
        threads.Place(list.At(i), true);
    }
    threads.EndBulk();
    threads.Loading = false;
    const qint64 placedMs = t.elapsed();
    int expanded = 0;
    for (const TThreadModel::TNode* n : threads.Nodes()) {
        if (n->rec->Expanded == 1 && !n->children.empty()) {
            view.setExpanded(model.IndexOf(n, 0), true);
            ++expanded;
        }
    }
    view.viewport()->repaint();
    const qint64 shownMs = t.elapsed();
    std::printf("show_million records=%d shown=%d tops=%zu expanded=%d load_ms=%lld place_ms=%lld "
                "expand_paint_ms=%lld total_ms=%lld peak_rss_mb=%ld (window before load %ld)\n",
                count, threads.Count(), threads.Tops().size(), expanded, (long long)loadMs,
                (long long)(placedMs - loadMs), (long long)(shownMs - placedMs), (long long)shownMs,
                peakKb() / 1024, beforeKb / 1024);

    const TArticleClass* parent = list.At(list.Count() / 2);
    TArticleClass* rec = list.Add(MakeLateReply(*parent));
    QElapsedTimer o;
    o.start();
    threads.Place(rec, false);
    const qint64 placeUs = o.nsecsElapsed() / 1000;
    const qint64 placePaintUs = placeUs + timed(view, [] {});
    std::printf("show_million_place_one us=%lld with_paint_us=%lld\n", (long long)placeUs, (long long)placePaintUs);

    // A reply into a collapsed thread that has replies already, and a new thread.
    const TThreadModel::TNode* collapsed = nullptr;
    for (const TThreadModel::TNode* top : threads.Tops()) {
        if (top->children.size() > 1 && !view.isExpanded(model.IndexOf(top, 0))) {
            collapsed = top;
            if (top->row > int(threads.Tops().size()) / 2)
                break;
        }
    }
    auto header = [&](int number, const QString& id, const QString& subject, const QString& refs, double date) {
        auto h = std::make_unique<TArticleClass>();
        h->Number = number;
        h->MessageID = id;
        h->Subject = subject;
        h->From = QStringLiteral("Late <late@mail.example>");
        h->References = refs;
        h->Date = TDateTime(date);
        return list.Add(std::move(h));
    };
    qint64 collapsedUs = -1;
    if (collapsed) {
        TArticleClass* r = header(99999998, QStringLiteral("<collapsed@news.example.org>"),
                                  QStringLiteral("Re: ") + collapsed->rec->Subject, collapsed->rec->MessageID,
                                  collapsed->rec->Date.Value + 9);
        o.restart();
        threads.Place(r, false);
        collapsedUs = o.nsecsElapsed() / 1000;
    }
    TArticleClass* fresh = header(99999997, QStringLiteral("<fresh@news.example.org>"),
                                  QStringLiteral("A thread of its own"), QString(), 47000);
    o.restart();
    threads.Place(fresh, false);
    const qint64 freshUs = o.nsecsElapsed() / 1000;
    const qint64 freshPaintUs = freshUs + timed(view, [] {});
    std::printf("show_million_place_one into_collapsed_us=%lld new_thread_us=%lld new_thread_with_paint_us=%lld\n",
                (long long)collapsedUs, (long long)freshUs, (long long)freshPaintUs);

    QScrollBar* bar = view.verticalScrollBar();
    qint64 scrollMax = 0;
    for (int step = 0; step <= 20; ++step)
        scrollMax = std::max(scrollMax, timed(view, [&] { bar->setValue(int(qint64(bar->maximum()) * step / 20)); }));
    for (int step = 0; step < 50; ++step)
        scrollMax = std::max(scrollMax, timed(view, [&] { bar->setValue(bar->value() - 3); }));

    qint64 expandMax = 0;
    for (int step = 1; step <= 20; ++step) {
        const QModelIndex top = model.index(int(qint64(model.rowCount() - 1) * step / 21), 0);
        if (model.rowCount(top) == 0)
            continue;
        const bool open = view.isExpanded(top);
        expandMax = std::max(expandMax, timed(view, [&] { view.scrollTo(top); view.setExpanded(top, !open); }));
        expandMax = std::max(expandMax, timed(view, [&] { view.setExpanded(top, open); }));
    }

    qint64 clickMax = 0;
    for (int step = 0; step < 20; ++step) {
        const QPoint at(view.header()->sectionViewportPosition(TArticleModel::ColFrom) + 5,
                        5 + (step * 17) % std::max(1, view.viewport()->height() - 10));
        clickMax = std::max(clickMax, timed(view, [&] {
            QTest::mouseClick(view.viewport(), Qt::LeftButton, step % 3 == 0 ? Qt::ShiftModifier : Qt::NoModifier, at);
        }));
    }
    std::printf("show_million_events scroll_max_ms=%.1f expand_max_ms=%.1f click_max_ms=%.1f\n",
                scrollMax / 1000.0, expandMax / 1000.0, clickMax / 1000.0);
    QFile::remove(path);
    return 0;
}
