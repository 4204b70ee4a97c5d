// Showing long article bodies in the real main window (offscreen) from the sample news server
// in this process: a body of 5 000 lines after a 300 000-character line with binary bytes, and
// a 1 MB body of ordinary lines, quotes two levels deep and web addresses. The time runs from
// focusing the article to its body in the message pane, the download included, and then to the
// pane's first painting.
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
        QByteArray mega;
        for (int i = 0; mega.size() < 1024 * 1024; ++i) {
            switch (i % 10) {
            case 0: mega += "> > Quoted twice, line " + QByteArray::number(i) + " of the earlier message.\n"; break;
            case 1:
            case 2: mega += "> Quoted once: what the last poster wrote, line " + QByteArray::number(i) + ".\n"; break;
            case 3: mega += "See https://example.org/notes/" + QByteArray::number(i) + " for the details.\n"; break;
            default: mega += "An ordinary line of the reply, number " + QByteArray::number(i) + ", with some words.\n";
            }
        }
        mega += "The end.\n";
        const QByteArray megaArticle = "From: Eve Smith <eve@example.org>\nNewsgroups: " + group.toUtf8()
            + "\nSubject: Megabyte\nDate: -1d 11:00\nMessage-ID: <mega@example.org>\n\n" + mega;
        if (!server.AddArticle(article) || !server.AddArticle(megaArticle) || !server.Listen()) {
            std::fprintf(stderr, "bench_show_article: the sample server did not start\n");
            return 2;
        }
        WriteConfig(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {group});
        Window w;
        TArticleRow item, megaItem;
        if (w.Open()) {
            w.Select(group);
            if (w.WaitIdle()) {
                item = w.ItemBySubject(QStringLiteral("Big one"));
                megaItem = w.ItemBySubject(QStringLiteral("Megabyte"));
            }
        }
        if (!item || !megaItem) {
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
        QWidget* pane = TestSupport::Part<QTextEdit>(w.Form.get(), "memoMessage")->viewport();
        pane->grab();
        std::printf("   painted after %lld ms\n", static_cast<long long>(t.elapsed()));

        t.restart();
        w.SetCurrent(megaItem);
        const bool megaIdle = w.WaitIdle();
        const qint64 megaMs = t.elapsed();
        pane->grab();
        const qint64 megaPainted = t.elapsed();
        const bool megaComplete = megaIdle && w.Memo().trimmed().endsWith(QStringLiteral("The end."));
        std::printf("1 MB article body (%lld bytes, quotes and links) shown after %lld ms, painted after %lld ms%s\n",
                    static_cast<long long>(mega.size()), static_cast<long long>(megaMs),
                    static_cast<long long>(megaPainted), megaComplete ? "" : " (incomplete!)");
        rc = complete && megaComplete ? 0 : 1;
    }
    TestSupport::CleanUp();
    return rc;
}
