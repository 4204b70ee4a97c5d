// Reads an article file of 100 000 lines into a group's list. Target: under 1 s.
#include "NewsCorpus.h"

#include "news/ArticleUnit.h"
#include "core/TextFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 100000;
    const QString path = GetDataFolder() + "bench_load.chl";
    WriteLinesAtomically(path, MakeCorpusLines(count, 4242u));
    int status = 0;
    for (int run = 0; run < 3; ++run) {
        TArticleList list;
        QElapsedTimer t;
        t.start();
        list.LoadFromFile(path);
        const qint64 ms = t.elapsed();
        std::printf("load_articles lines=%d records=%d ms=%lld%s\n", count, list.Count(), (long long)ms,
                    ms < 1000 ? "" : "  (over 1000 ms)");
        if (ms >= 1000)
            status = 1;
        QElapsedTimer s;
        s.start();
        list.SaveFromList();
        std::printf("save_articles records=%d ms=%lld\n", list.Count(), (long long)s.elapsed());
    }
    QFile::remove(path);
    return status;
}
