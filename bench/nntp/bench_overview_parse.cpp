// Overview lines per second through the NNTP client, next to a plain socket reading the same
// XOVER answer to nothing; and the effect of acknowledging reads at once (TCP_QUICKACK) on
// answers that a server writes in pieces. Against the scripted loopback server always, and
// against the INN test server too when its variables are set (scripts/test-services/inn.sh).
#include "ScriptedNntpServer.h"
#include "nntp/NntpCli.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

bool WaitFor(const std::function<bool()>& pred, int ms = 60000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired())
            return pred();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

double Median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0.0 : v[v.size() / 2];
}

QList<QByteArray> OverviewLines(int count)
{
    static const char* names[] = {"Anna Berg <anna.berg@example.org>", "\"Joe Miller\" <joe@news.example.com>",
                                  "kw@mail.example.net (Klaus Weber)", "Ingrid <ingrid.s@example.de>"};
    static const char* subjects[] = {"Re: Best way to store speech output as MP3?",
                                     "Announcement: new release of the reader software",
                                     "Re: Re: Question about overview formats and long threads",
                                     "Weekly FAQ posting for this group (please read before posting)"};
    QList<QByteArray> lines;
    lines.reserve(count);
    for (int i = 1; i <= count; ++i) {
        const QByteArray n = QByteArray::number(i);
        QByteArray refs;
        if (i > 3)
            refs = "<" + QByteArray::number(i - 3) + ".thread@news.example.com> <" + QByteArray::number(i - 1) +
                ".thread@news.example.com>";
        lines << n + "\t" + subjects[i % 4] + "\t" + names[i % 4] + "\tMon, " + QByteArray::number(1 + i % 28) +
                " Oct 2024 1" + QByteArray::number(i % 10) + ":2" + QByteArray::number(i % 10) + ":05 +0200\t<" + n +
                ".thread@news.example.com>\t" + refs + "\t" + QByteArray::number(1500 + i % 3000) + "\t" +
                QByteArray::number(20 + i % 80) + "\tXref: news.example.com alt.test:" + n;
    }
    return lines;
}

// One client session on a server; requests are timed from the call to OnRequestDone.
class ClientRun {
public:
    TNntpCli cli;
    int done = 0;
    quint16 lastError = 0;
    qint64 lines = 0;
    qint64 chars = 0;
    bool decode = true;

    ClientRun()
    {
        cli.OnRequestDone = [this](QObject*, quint8, quint16 e) {
            lastError = e;
            ++done;
        };
        cli.OnSessionConnected = [this](QObject*, quint16) { ++done; };
        cli.OnMessageLine = [this](QObject*) {
            ++lines;
            chars += decode ? cli.LastResponse().size() : cli.LastResponseBytes().size();
        };
    }

    bool Connect(const QString& host)
    {
        cli.SetHost(host);
        const int before = done;
        cli.Connect();
        return WaitFor([&] { return done > before; }) && cli.State() == nntpReady;
    }

    // Milliseconds for one request, or -1 on failure.
    double Time(const std::function<void()>& request)
    {
        const int before = done;
        QElapsedTimer t;
        t.start();
        request();
        if (!WaitFor([&] { return done > before; }) || lastError != 0) {
            std::printf("   request failed: %d %s\n", lastError, qPrintable(cli.LastResponse()));
            return -1;
        }
        return t.nsecsElapsed() / 1e6;
    }
};

// The same XOVER read by a plain socket into nothing.
class PlainRun {
public:
    QTcpSocket s;
    QByteArray tail;
    QByteArray pendingLine;
    bool lineMode = true;
    bool finished = false;
    char scratch[65536];

    PlainRun()
    {
        QObject::connect(&s, &QIODevice::readyRead, [this] {
            if (lineMode) {
                pendingLine += s.readAll();
                return;
            }
            for (;;) {
                const qint64 n = s.read(scratch, sizeof scratch);
                if (n <= 0)
                    break;
                tail = (tail + QByteArray(scratch + std::max<qint64>(0, n - 5), std::min<qint64>(n, 5))).right(5);
            }
            finished = tail == "\r\n.\r\n";
        });
    }

    QByteArray ReadLine()
    {
        WaitFor([&] { return pendingLine.contains('\n'); });
        const qsizetype lf = pendingLine.indexOf('\n');
        QByteArray line = pendingLine.left(lf + 1);
        pendingLine.remove(0, lf + 1);
        return line.trimmed();
    }

    bool Connect(const QString& host, quint16 port)
    {
        s.connectToHost(host, port);
        return !ReadLine().isEmpty();
    }

    QByteArray Command(const QByteArray& line)
    {
        lineMode = true;
        s.write(line + "\r\n");
        return ReadLine();
    }

    double TimeMultiLine(const QByteArray& line)
    {
        lineMode = false;
        finished = false;
        tail.clear();
        QElapsedTimer t;
        t.start();
        s.write(line + "\r\n");
        if (!WaitFor([&] { return finished; }))
            return -1;
        return t.nsecsElapsed() / 1e6;
    }
};

void ScriptedOverview()
{
    const int count = 20000;
    const int rounds = 7;
    const QList<QByteArray> lines = OverviewLines(count);
    const QByteArray answer = ScriptedNntpServer::MultiLine("224 overview information follows", lines);
    const QByteArray range = "XOVER 1-" + QByteArray::number(count);
    std::printf("Scripted loopback server: XOVER of %d overview lines (%.1f MB), median of %d runs\n", count,
                answer.size() / 1e6, rounds);

    ScriptedNntpServer server;
    server.Listen();
    server.Greet();
    for (int i = 0; i < 1 + 2 * rounds; ++i)
        server.Expect(range, answer);
    server.Greet();
    for (int i = 0; i < 1 + rounds; ++i)
        server.Expect(range, answer);

    ClientRun client;
    if (!client.Connect(server.ServerName())) {
        std::printf("   cannot connect\n");
        return;
    }
    // One unmeasured run first: buffers on both sides reach their working size.
    client.Time([&] { client.cli.XOver(QString::fromLatin1(range.mid(6))); });
    for (bool decode : {true, false}) {
        client.decode = decode;
        QList<double> ms;
        for (int i = 0; i < rounds; ++i) {
            client.lines = 0;
            ms << client.Time([&] { client.cli.XOver(QString::fromLatin1(range.mid(6))); });
            if (client.lines != count)
                std::printf("   wrong line count %lld\n", static_cast<long long>(client.lines));
        }
        const double m = Median(ms);
        std::printf("   client, %-34s %8.1f ms  %10.0f lines/s  %7.1f MB/s\n",
                    decode ? "each line as text (LastResponse):" : "each line as bytes (no decoding):", m,
                    count / (m / 1000.0), answer.size() / 1e6 / (m / 1000.0));
    }

    PlainRun plain;
    plain.Connect("127.0.0.1", server.Port());
    plain.TimeMultiLine(range);
    QList<double> ms;
    for (int i = 0; i < rounds; ++i)
        ms << plain.TimeMultiLine(range);
    const double m = Median(ms);
    std::printf("   plain socket reading to nothing:          %8.1f ms  %10.0f lines/s  %7.1f MB/s\n", m,
                count / (m / 1000.0), answer.size() / 1e6 / (m / 1000.0));
}

void ScriptedQuickAck()
{
    const int requests = 100;
    std::printf("Scripted loopback server: %d BODY requests, each answer written in two pieces\n", requests);
    const QByteArray answer = ScriptedNntpServer::MultiLine("222 1 <a@b> body", {"Hello,", "", "a short body.", "-- ", "sig"});
    const int cut = answer.indexOf("\r\n") + 2;
    for (bool quick : {false, true}) {
        ScriptedNntpServer server;
        server.SetChunkGap(0);
        server.Listen();
        server.Greet();
        for (int i = 0; i < requests; ++i)
            server.Expect("BODY 1", ScriptedReply().SendSplit(answer, {cut}));
        ClientRun client;
        client.cli.SetQuickAck(quick);
        if (!client.Connect(server.ServerName()))
            return;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < requests; ++i)
            if (client.Time([&] { client.cli.BodyByNumber(1); }) < 0)
                return;
        const double total = t.nsecsElapsed() / 1e6;
        std::printf("   TCP_QUICKACK %-3s  %8.1f ms total  %6.2f ms per request\n", quick ? "on" : "off", total,
                    total / requests);
    }
}

void InnRuns()
{
    const QString host = qEnvironmentVariable("VORLIX_INN_HOST", "127.0.0.1");
    const QString port = qEnvironmentVariable("VORLIX_INN_PORT");
    const QString group = qEnvironmentVariable("VORLIX_INN_BIG_GROUP");
    if (port.isEmpty() || group.isEmpty()) {
        std::printf("INN server: not running (VORLIX_INN_PORT / VORLIX_INN_BIG_GROUP unset), skipped\n");
        return;
    }
    const QString server = host.contains(':') ? "[" + host + "]:" + port : host + ":" + port;
    std::printf("INN server %s, group %s\n", qPrintable(server), qPrintable(group));
    for (bool quick : {false, true}) {
        ClientRun client;
        client.cli.SetQuickAck(quick);
        if (!client.Connect(server)) {
            std::printf("   cannot connect: %s\n", qPrintable(client.cli.LastResponse()));
            return;
        }
        if (client.Time([&] { client.cli.Group(group); }) < 0)
            return;
        const int first = client.cli.ArticleFirst();
        const int last = client.cli.ArticleLast();
        const QString range = QString::number(first) + "-" + QString::number(last);
        QList<double> ms;
        for (int i = 0; i < 3; ++i) {
            client.lines = 0;
            ms << client.Time([&] { client.cli.XOver(range); });
        }
        const double m = Median(ms);
        std::printf("   client, TCP_QUICKACK %-3s XOVER %s (%lld lines): %8.1f ms  %10.0f lines/s\n", quick ? "on" : "off",
                    qPrintable(range), static_cast<long long>(client.lines), m, client.lines / (m / 1000.0));
        QElapsedTimer t;
        t.start();
        const int bodies = std::min(50, last - first + 1);
        for (int i = 0; i < bodies; ++i)
            client.Time([&] { client.cli.BodyByNumber(first + i); });
        std::printf("   client, TCP_QUICKACK %-3s %d BODY requests: %8.1f ms (%.2f ms each)\n", quick ? "on" : "off",
                    bodies, t.nsecsElapsed() / 1e6, t.nsecsElapsed() / 1e6 / bodies);
        client.cli.Abort();
    }
    PlainRun plain;
    if (!plain.Connect(host, port.toUShort()))
        return;
    const QByteArray groupAnswer = plain.Command("GROUP " + group.toUtf8());
    const QList<QByteArray> f = groupAnswer.split(' ');
    if (f.size() < 4)
        return;
    const QByteArray range = f[2] + "-" + f[3];
    QList<double> ms;
    for (int i = 0; i < 3; ++i)
        ms << plain.TimeMultiLine("XOVER " + range);
    std::printf("   plain socket reading to nothing, XOVER %s: %8.1f ms\n", range.constData(), Median(ms));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ScriptedOverview();
    ScriptedQuickAck();
    InnRuns();
    return 0;
}
