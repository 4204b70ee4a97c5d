// vorlix-sample-news: serves the sample newsgroups on the loopback address.
//   vorlix-sample-news [--port N] [--data DIR] [--login USER:PASSWORD] [--demo-profile FILES]
// Prints "listening on PORT" once ready. With --demo-profile, a data folder that has no
// "Config.chl" yet gets one for this server with every sample group, and each group's article
// file with its headers already downloaded: the first thread of the first group is marked for
// speaking, so a newcomer hears it at the press of one button.
#include "SampleNewsServer.h"

#include "core/TextFiles.h"
#include "core/TextFunctions.h"
#include "news/ArticleUnit.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

namespace {
void WriteDemoProfile(const TSampleNewsServer& server, const QString& files)
{
    const QString config = QDir(files).filePath(QStringLiteral("Config.chl"));
    if (QFile::exists(config))
        return;
    QDir().mkpath(files);
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyMMddHHmmss"));
    QStringList lines{QStringLiteral("NewsServer|127.0.0.1:%1|1|-1|0|%2|0|||").arg(server.Port()).arg(stamp)};
    int n = 0;
    for (const TSampleGroup& g : server.Groups()) {
        const QString base = stamp + QString::number(++n) + QLatin1Char('M');
        lines << QStringLiteral("NewsGroup|%1|0|%2|0|%3").arg(g.Name).arg(g.High()).arg(base);
        QStringList records;
        QByteArray firstThread;
        for (const TSampleArticle& a : g.Articles) {
            TArticleClass r;
            r.Number = a.Number;
            r.MessageID = QString::fromUtf8(a.MessageId);
            r.Subject = QString::fromUtf8(a.Subject);
            r.From = QString::fromUtf8(a.From);
            r.References = QString::fromUtf8(a.References);
            r.Date = InetDate(QString::fromUtf8(a.Date)).value_or(TDateTime());
            r.ReadState = 1;
            if (n == 1 && firstThread.isEmpty() && a.References.isEmpty())
                firstThread = a.MessageId;
            if (n == 1 && !firstThread.isEmpty() && (a.MessageId == firstThread || a.References.contains(firstThread)))
                r.SpeakMark = 1;
            records << r.FormatRecord();
        }
        WriteLinesAtomically(QDir(files).filePath(base + QStringLiteral(".chl")), records);
    }
    WriteLinesAtomically(config, lines);
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sample news server for Vorlix"));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"), QStringLiteral("Port to listen on (0: any free port)."), QStringLiteral("port"), QStringLiteral("0")});
    parser.addOption({QStringLiteral("data"), QStringLiteral("Folder of sample newsgroups."), QStringLiteral("dir"),
                      QStringLiteral(VORLIX_SAMPLE_NEWS_DIR)});
    parser.addOption({QStringLiteral("login"), QStringLiteral("Require AUTHINFO with user:password."), QStringLiteral("user:password")});
    parser.addOption({QStringLiteral("demo-profile"),
                      QStringLiteral("Data folder of a demo profile to set up for this server when it has none."),
                      QStringLiteral("files")});
    parser.process(app);

    TSampleNewsServer server;
    const int count = server.LoadDirectory(parser.value(QStringLiteral("data")));
    const QString login = parser.value(QStringLiteral("login"));
    if (!login.isEmpty())
        server.RequireLogin(login.section(QLatin1Char(':'), 0, 0), login.section(QLatin1Char(':'), 1));
    if (!server.Listen(quint16(parser.value(QStringLiteral("port")).toUInt()))) {
        std::fprintf(stderr, "cannot listen on port %s\n", qPrintable(parser.value(QStringLiteral("port"))));
        return 1;
    }
    if (parser.isSet(QStringLiteral("demo-profile")))
        WriteDemoProfile(server, parser.value(QStringLiteral("demo-profile")));
    std::printf("listening on %u (%d articles in %d groups)\n", unsigned(server.Port()), count, int(server.Groups().size()));
    std::fflush(stdout);
    return app.exec();
}
