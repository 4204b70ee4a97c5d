// Finding in a newsgroup of 1 000 000 records of the realistic shape (first argument: another
// count), shown in a tree view over the article model, offscreen: the time of each keystroke
// typed into the find field (filtering the thread model, laying out the rows and painting the
// view), for a name typed on letter by letter, then taken back, and for a subject.
#include "NewsCorpus.h"

#include "core/TextFiles.h"
#include "gui/news/ArticleModel.h"
#include "news/ArticleUnit.h"
#include "news/ThreadModel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTreeView>
#include <algorithm>
#include <cstdio>

namespace {
struct TTyping {
    qint64 total = 0;
    qint64 worst = 0;
    int keys = 0;
};

void type(QTreeView& view, TArticleModel& model, const QString& text, TTyping& out, const char* what)
{
    QElapsedTimer t;
    t.start();
    model.SetFilter(text);
    view.viewport()->repaint();
    const qint64 us = t.nsecsElapsed() / 1000;
    out.total += us;
    out.worst = std::max(out.worst, us);
    ++out.keys;
    std::printf("find_million key %-8s text=\"%s\" rows=%d us=%lld\n", what, qPrintable(text), model.rowCount(),
                (long long)us);
}
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("find_million.chl"));
    WriteLinesAtomically(path, MakeRealisticCorpusLines(count, 991u));

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
    if (!list.LoadFromFile(path)) {
        std::printf("find_million could not read %s\n", qPrintable(path));
        return 1;
    }
    list.Sort();
    threads.Loading = true;
    threads.BeginBulk();
    for (int i = 0; i < list.Count(); ++i) {
        threads.PrefetchAhead(list, i);
        threads.Place(list.At(i), true);
    }
    threads.EndBulk();
    threads.Loading = false;
    view.viewport()->repaint();
    std::printf("find_million records=%d tops=%zu\n", threads.Count(), threads.Tops().size());

    TTyping typing;
    const QString name = QStringLiteral("author 4711 <");
    for (int i = 1; i <= name.size(); ++i)
        type(view, model, name.left(i), typing, "type");
    for (int i = name.size() - 1; i >= 0; --i)
        type(view, model, name.left(i), typing, "back");
    const QString subject = QStringLiteral("topic number 0123");
    for (int i = 1; i <= subject.size(); ++i)
        type(view, model, subject.left(i), typing, "type");
    type(view, model, QString(), typing, "clear");
    std::printf("find_million keys=%d mean_us=%lld worst_us=%lld\n", typing.keys,
                (long long)(typing.total / std::max(1, typing.keys)), (long long)typing.worst);

    // The field taken again: the window makes the text ahead, in slices of 15 ms while the
    // field has the focus; then the first letter.
    QElapsedTimer ahead;
    ahead.start();
    int slices = 0;
    qint64 worstSlice = 0;
    for (bool done = false; !done; ++slices) {
        QElapsedTimer one;
        one.start();
        done = threads.PrepareFindText(15);
        worstSlice = std::max(worstSlice, one.nsecsElapsed() / 1000);
    }
    std::printf("find_million made_ahead slices=%d worst_slice_us=%lld total_ms=%lld\n", slices,
                (long long)worstSlice, (long long)ahead.elapsed());
    TTyping first;
    type(view, model, QStringLiteral("a"), first, "ahead");
    return 0;
}
