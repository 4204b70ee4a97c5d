// A newsgroup of 1 000 000 records of the realistic shape (first argument: another count):
// the article file read, the threads placed by the thread model, peak resident memory, and
// one more header placed into the loaded group.
#include "NewsCorpus.h"

#include "core/TextFiles.h"
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 1000000;
    const QString path = GetDataFolder() + "bench_model.chl";
    if (argc > 2 && QByteArray(argv[2]) == "--write") {
        WriteLinesAtomically(path, MakeRealisticCorpusLines(count, 777u));
        return 0;
    }
    // The file is written by a second run of this program, so the peak memory measured
    // here is the loaded group's alone.
    QProcess writer;
    writer.start(QCoreApplication::applicationFilePath(), {QString::number(count), QStringLiteral("--write")});
    if (!writer.waitForFinished(-1) || writer.exitCode() != 0 || !QFile::exists(path)) {
        std::printf("thread_model could not write %s\n", qPrintable(path));
        return 1;
    }
    const long beforeKb = peakKb();
    TArticleList list;
    QElapsedTimer t;
    t.start();
    list.LoadFromFile(path);
    const qint64 loadMs = t.elapsed();
    t.restart();
    list.Sort();
    TThreadModel model;
    model.Loading = true;
    for (int i = 0; i < list.Count(); ++i) {
        model.PrefetchAhead(list, i);
        model.Place(list.At(i), true);
    }
    const qint64 placeMs = t.elapsed();
    const long peak = peakKb();
    std::printf("thread_model records=%d shown=%d tops=%zu load_ms=%lld place_ms=%lld total_ms=%lld "
                "peak_rss_mb=%ld (before load %ld)\n",
                count, model.Count(), model.Tops().size(), (long long)loadMs, (long long)placeMs,
                (long long)(loadMs + placeMs), peak / 1024, beforeKb / 1024);

    model.Loading = false;
    int inserted = 0;
    model.OnRowInserted = [&](TThreadModel*, TThreadModel::TNode*, int) { ++inserted; };
    const TArticleClass* parent = list.At(list.Count() / 2);
    TArticleClass* rec = list.Add(MakeLateReply(*parent));
    QElapsedTimer o;
    o.start();
    model.Place(rec, false);
    std::printf("thread_model_place_one us=%lld rows_inserted=%d\n", (long long)(o.nsecsElapsed() / 1000), inserted);
    QFile::remove(path);
    return 0;
}
