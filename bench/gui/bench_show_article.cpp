// Showing a long article body in the real main window (offscreen) from the sample news server
// in this process: a body of 5 000 lines after a 300 000-character line with binary bytes. The
// time runs from focusing the article to its body in the message pane, the download included.
#include "news_window_rig.h"

#include "SampleNewsServer.h"
#include "ScriptedWindows.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>

using namespace NewsRig;

int main(int argc, char** argv)
{
    TestSupport::PrepareEnvironment();
    int rc = 0;
    {
        QApplication app(argc, argv);
        TScopedScriptedDialogs dialogs;
        TSampleNewsServer server;
        const QString group = QStringLiteral("rec.outdoors.hiking");
        if (server.LoadDirectory(TestSupport::SourceDataDir() + QStringLiteral("/sample-news")) <= 0) {
            std::fprintf(stderr, "bench_show_article: no sample articles\n");
            return 2;
        }
        QByteArray big = "start \x01\x02 binary\n" + QByteArray(300000, 'x') + "\n";
        for (int i = 0; i < 5000; ++i)
            big += "line " + QByteArray::number(i) + "\n";
        const QByteArray article = "From: big@example.org\nNewsgroups: " + group.toUtf8()
            + "\nSubject: Big one\nDate: -1d 10:00\nMessage-ID: <big@example.org>\n\n" + big + "\n";
        if (!server.AddArticle(article) || !server.Listen()) {
            std::fprintf(stderr, "bench_show_article: the sample server did not start\n");
            return 2;
        }
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {group});
        Window w;
        TArticleRow item;
        if (w.Open()) {
            w.Select(group);
            if (w.WaitIdle())
                item = w.ItemBySubject(QStringLiteral("Big one"));
        }
        if (!item) {
            std::fprintf(stderr, "bench_show_article: the group did not show\n");
            return 2;
        }
        QElapsedTimer t;
        t.start();
        w.SetCurrent(item);
        const bool idle = w.WaitIdle();
        const qint64 ms = t.elapsed();
        const QString memo = w.Memo();
        const bool complete = idle && memo.trimmed().endsWith(QStringLiteral("line 4999"));
        std::printf("Long article body (%lld bytes, 5 001 lines) shown after %lld ms%s\n",
                    static_cast<long long>(big.size()), static_cast<long long>(ms), complete ? "" : " (incomplete!)");
        rc = complete ? 0 : 1;
    }
    TestSupport::CleanUp();
    return rc;
}
