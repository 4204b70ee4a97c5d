// vorlix-screenshots: opens the real main window on the profile of VORLIX_HOME, shows the
// first newsgroup with its first article, and saves a picture of the window at each size.
//   vorlix-screenshots --out DIR [--prefix NAME] [--size WxH ...]
// Run it with QT_QPA_PLATFORM=offscreen; QT_SCALE_FACTOR=2 gives the pictures of a HiDPI screen.
#include "core/RegistryUnit.h"
#include "gui/app/NewsCommands.h"
#include "gui/app/UsenetUnit.h"
#include "gui/app/VorlixApplication.h"
#include "gui/app/WindowService.h"
#include "gui/news/ThreadView.h"
#include "news/NewsStore.h"
#include "nntp/NNTPProcessor.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QDir>
#include <QHeaderView>
#include <QTreeView>
#include <cstdio>
#include <functional>

namespace {
bool waitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

void settle(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("VORLIX_NO_SPLASH", "1");
    TVorlixApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("out"), QStringLiteral("Folder for the pictures."), QStringLiteral("dir")});
    parser.addOption({QStringLiteral("prefix"), QStringLiteral("Start of each file name."), QStringLiteral("name"),
                      QStringLiteral("main")});
    parser.addOption({QStringLiteral("size"), QStringLiteral("Window size, e.g. 1000x700 (repeatable)."),
                      QStringLiteral("WxH")});
    parser.process(app);
    const QString out = parser.value(QStringLiteral("out"));
    if (out.isEmpty()) {
        std::fprintf(stderr, "--out is required\n");
        return 2;
    }
    QDir().mkpath(out);
    QStringList sizes = parser.values(QStringLiteral("size"));
    if (sizes.isEmpty())
        sizes = {QStringLiteral("1000x700"), QStringLiteral("1600x1000")};

    WriteProgramValue(QStringLiteral("ShowTips"), QStringLiteral("N"));
    int rc = 0;
    {
        TForm1 form;
        TWindowService::SetParentWindow(&form);
        form.show();
        if (!waitFor([] { return TForm1::Shown; }, 10000)) {
            std::fprintf(stderr, "the main window did not open\n");
            return 1;
        }
        // The first newsgroup, its first article in the message pane.
        for (TConfigClass* e : form.NewsStore->AllEntries()) {
            if (e->Kind == ckNewsGroup) {
                form.NewsStore->Select(e);
                break;
            }
        }
        auto idle = [&form] { return form.News->MainProcessor()->Idle() && !form.News->ProgressWindow(); };
        waitFor(idle, 20000);
        auto* articles = form.findChild<QTreeView*>(QStringLiteral("tvArticles"));
        if (articles && articles->model() && articles->model()->rowCount() > 0) {
            articles->setFocus();
            articles->setCurrentIndex(articles->model()->index(0, 1));
            settle(300);
            waitFor(idle, 20000);
        }
        for (const QString& size : sizes) {
            const int w = size.section(QLatin1Char('x'), 0, 0).toInt();
            const int h = size.section(QLatin1Char('x'), 1, 1).toInt();
            if (w <= 0 || h <= 0) {
                std::fprintf(stderr, "bad size %s\n", qPrintable(size));
                rc = 2;
                continue;
            }
            form.resize(w, h);
            settle(300);
            const QString file = QDir(out).filePath(QStringLiteral("%1-%2.png").arg(parser.value(QStringLiteral("prefix")), size));
            if (!form.grab().save(file)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
                rc = 1;
            } else {
                std::printf("%s\n", qPrintable(file));
            }
        }
        waitFor(idle, 20000);
        form.close();
        TWindowService::SetParentWindow(nullptr);
    }
    return rc;
}
