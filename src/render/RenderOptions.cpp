#include "render/RenderOptions.h"

#include <QHostAddress>

QString TRenderOptions::HelpText()
{
    return QStringLiteral(
        "Usage: vorlix render [OPTION]... [NEWSGROUP]...\n"
        "Renders newsgroup articles into audio files (WAV or MP3, as set in Vorlix's options)\n"
        "without opening a window, and remembers what was rendered, as Vorlix does.\n"
        "\n"
        "Which groups (default: every subscribed group):\n"
        "  NEWSGROUP          a subscribed newsgroup, on whichever server holds it\n"
        "  --server NAME      every newsgroup of that server (may be given more than once)\n"
        "  --all              every subscribed newsgroup\n"
        "\n"
        "What to render:\n"
        "      (default)      the articles marked for speaking\n"
        "  --new              every unread article that was not spoken yet\n"
        "  --download         download new headers first, as the Download command does\n"
        "\n"
        "Output:\n"
        "  --feed             keep a podcast feed, feed.xml, in the output folder\n"
        "  --serve PORT       then serve the output folder over HTTP until interrupted\n"
        "  --listen ADDRESS   the address to serve on (default 127.0.0.1, this machine only)\n"
        "  --quiet            print only errors and the summary\n"
        "\n"
        "Profile:\n"
        "  --home DIR         use the profile in DIR instead of your own (as VORLIX_HOME)\n"
        "\n"
        "  -h, --help         show this help\n"
        "  --version          show the version\n"
        "\n"
        "Exit status: 0 done, 1 some articles failed (they are named), 2 bad usage or\n"
        "configuration. While Vorlix's window is open with the same profile, nothing is rendered.\n");
}

QString TRenderOptions::Parse(const QStringList& args)
{
    // args[0] is the program, args[1] "render".
    for (qsizetype i = 2; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](QString* out) -> QString {
            const qsizetype eq = a.indexOf(QLatin1Char('='));
            if (a.startsWith(QLatin1String("--")) && eq > 0) {
                *out = a.mid(eq + 1);
                return QString();
            }
            if (i + 1 >= args.size())
                return QStringLiteral("%1 needs a value").arg(a);
            *out = args[++i];
            return QString();
        };
        const QString name = a.startsWith(QLatin1String("--")) && a.contains(QLatin1Char('='))
                                 ? a.left(a.indexOf(QLatin1Char('=')))
                                 : a;
        QString v, err;
        if (name == QLatin1String("-h") || name == QLatin1String("--help")) {
            Help = true;
        } else if (name == QLatin1String("--version")) {
            Version = true;
        } else if (name == QLatin1String("--all")) {
            AllGroups = true;
        } else if (name == QLatin1String("--download")) {
            Download = true;
        } else if (name == QLatin1String("--new")) {
            NewArticles = true;
        } else if (name == QLatin1String("--feed")) {
            Feed = true;
        } else if (name == QLatin1String("--quiet") || name == QLatin1String("-q")) {
            Quiet = true;
        } else if (name == QLatin1String("--home")) {
            if (!(err = value(&v)).isEmpty())
                return err;
            if (v.trimmed().isEmpty())
                return QStringLiteral("--home needs a folder");
            Home = v;
        } else if (name == QLatin1String("--server")) {
            if (!(err = value(&v)).isEmpty())
                return err;
            if (v.trimmed().isEmpty())
                return QStringLiteral("--server needs a server name");
            Servers << v.trimmed();
        } else if (name == QLatin1String("--serve")) {
            if (!(err = value(&v)).isEmpty())
                return err;
            bool ok = false;
            const int port = v.toInt(&ok);
            if (!ok || port < 0 || port > 65535)
                return QStringLiteral("--serve needs a port number from 0 to 65535, not \"%1\"").arg(v);
            ServePort = port;
        } else if (name == QLatin1String("--listen")) {
            if (!(err = value(&v)).isEmpty())
                return err;
            if (QHostAddress(v).isNull())
                return QStringLiteral("--listen needs an IP address, not \"%1\"").arg(v);
            ServeAddress = v;
        } else if (a == QLatin1String("--")) {
            for (++i; i < args.size(); ++i)
                Groups << args[i];
        } else if (a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            return QStringLiteral("unknown option %1 (vorlix render --help lists them)").arg(a);
        } else if (!a.trimmed().isEmpty()) {
            Groups << a.trimmed();
        }
    }
    if (!Groups.isEmpty() || !Servers.isEmpty()) {
        if (AllGroups)
            return QStringLiteral("--all renders every group; do not name groups or servers with it");
    } else {
        AllGroups = true;
    }
    return QString();
}
