// vorlix-sample-news: serves the sample newsgroups on the loopback address.
//   vorlix-sample-news [--port N] [--data DIR] [--login USER:PASSWORD]
// Prints "listening on PORT" once ready.
#include "SampleNewsServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

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
    std::printf("listening on %u (%d articles in %d groups)\n", unsigned(server.Port()), count, int(server.Groups().size()));
    std::fflush(stdout);
    return app.exec();
}
