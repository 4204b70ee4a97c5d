// Downloading 10 000 headers from the private INN server (scripts/test-services/inn.sh) with one
// processor job (MsgsToRetrieve 10000): from the first connect to OnRequestDone, including a
// TNntpHeader for every overview line and OnHeader for each. Next to it, the same GROUP and
// XOVER done by a plain blocking socket that throws the bytes away, so the cost of the client
// stack shows; and the rate at which the processor parses overview lines on their own.
#include "core/DateTimeValue.h"
#include "nntp/NNTPProcessor.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kHeaders = 10000;
constexpr int kRuns = 5;

struct TStats {
    double Min, Median;
};

TStats Stats(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2]};
}

// One processor job; returns milliseconds, or -1 on failure.
// Milliseconds from the start to the greeting, to the GROUP answer and to the end of XOVER.
struct TPhases {
    double Greeting = 0, Group = 0, Xover = 0;
};
std::vector<TPhases> jobPhases, plainPhases;

double ProcessorRun(const QString& server, const QString& group, int& headers, QString& failure)
{
    TNntpProcessor p;
    p.Host = server;
    std::vector<TNntpHeader> kept;
    kept.reserve(kHeaders);
    bool done = false;
    int code = 0;
    QString message;
    p.OnHeader = [&](QObject*, const QString&, const TNntpHeader& h, const QString&) { kept.push_back(h); };
    // The job runs in an event loop that sleeps until something arrives, as the program's
    // does; a loop that polls would take the processor from the server on a small machine.
    QEventLoop loop;
    p.OnRequestDone = [&](QObject*, int c, const QString& m) {
        done = true;
        loop.quit();
        code = c;
        message = m;
    };
    QElapsedTimer t;
    TPhases phases;
    // The status texts mark the steps: the group is set once connected, the headers are asked
    // for once GROUP has answered, and the disconnect follows the end of XOVER.
    p.OnStatus = [&](QObject*, const QString& text) {
        const double now = double(t.nsecsElapsed()) / 1e6;
        if (text == QLatin1String("Setting Group"))
            phases.Greeting = now;
        else if (text.startsWith(QLatin1String("Downloading headers")))
            phases.Group = now;
        else if (text == QLatin1String("Disconnecting") && phases.Group > 0)
            phases.Xover = now;
    };
    t.start();
    p.DownloadHeaders(group, -1, -1, kHeaders);
    if (!done)
        loop.exec();
    const double ms = double(t.nsecsElapsed()) / 1e6;
    jobPhases.push_back(phases);
    headers = int(kept.size());
    if (code != 0) {
        failure = QStringLiteral("job ended with %1 %2").arg(code).arg(message);
        return -1;
    }
    return ms;
}

bool SendLine(int fd, const std::string& line)
{
    const std::string l = line + "\r\n";
    return ::send(fd, l.data(), l.size(), 0) == ssize_t(l.size());
}

// Reads until the buffer ends with terminator; the bytes are dropped (kept in capture if given).
bool ReadUntil(int fd, const char* terminator, bool quickAck, std::string* capture)
{
    static char buf[256 * 1024];
    const std::string term(terminator);
    std::string tail;
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        if (quickAck) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        }
        if (capture)
            capture->append(buf, size_t(n));
        tail.append(buf, size_t(n));
        if (tail.size() > term.size())
            tail.erase(0, tail.size() - term.size());
        if (tail == term)
            return true;
    }
}

// GROUP and XOVER 1-10000 on a plain socket; returns milliseconds from connect to the last byte.
double PlainRun(const QString& host, int port, const QString& group, bool quickAck, std::string* capture)
{
    QElapsedTimer t;
    t.start();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(port));
    ::inet_pton(AF_INET, host.toLatin1().constData(), &a.sin_addr);
    TPhases phases;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ok = ok && ReadUntil(fd, "\r\n", quickAck, nullptr);
    phases.Greeting = double(t.nsecsElapsed()) / 1e6;
    ok = ok && SendLine(fd, "GROUP " + group.toStdString()) && ReadUntil(fd, "\r\n", quickAck, nullptr);
    phases.Group = double(t.nsecsElapsed()) / 1e6;
    ok = ok && SendLine(fd, "XOVER 1-" + std::to_string(kHeaders)) && ReadUntil(fd, "\r\n.\r\n", quickAck, capture);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    phases.Xover = ms;
    if (!quickAck && !capture)
        plainPhases.push_back(phases);
    ::close(fd);
    return ok ? ms : -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString host = qEnvironmentVariable("VORLIX_INN_HOST");
    const int port = qEnvironmentVariableIntValue("VORLIX_INN_PORT");
    const QString group = qEnvironmentVariable("VORLIX_INN_BIG_GROUP");
    if (host.isEmpty() || port == 0 || group.isEmpty()) {
        std::fprintf(stderr, "bench_inn_download: no INN test server (VORLIX_INN_HOST/PORT/BIG_GROUP unset); "
                             "run it through scripts/run-benchmarks.sh\n");
        return 1;
    }
    const QString server = host + QLatin1Char(':') + QString::number(port);

    // One run of each first, so INN has its overview in memory for all measured runs.
    int headers = 0;
    QString failure;
    std::string raw;
    if (ProcessorRun(server, group, headers, failure) < 0 || PlainRun(host, port, group, false, &raw) < 0) {
        jobPhases.clear();
        std::fprintf(stderr, "bench_inn_download: warm-up failed: %s\n", qPrintable(failure));
        return 1;
    }
    if (headers != kHeaders) {
        std::fprintf(stderr, "bench_inn_download: expected %d headers, got %d\n", kHeaders, headers);
        return 1;
    }
    jobPhases.clear();

    std::vector<double> job, plain, plainQuick;
    for (int i = 0; i < kRuns; ++i) {
        const double ms = ProcessorRun(server, group, headers, failure);
        if (ms < 0 || headers != kHeaders) {
            std::fprintf(stderr, "bench_inn_download: run failed: %s (%d headers)\n", qPrintable(failure), headers);
            return 1;
        }
        job.push_back(ms);
        plain.push_back(PlainRun(host, port, group, false, nullptr));
        plainQuick.push_back(PlainRun(host, port, group, true, nullptr));
    }

    // The processor's own parse of the same overview lines, without any network.
    QList<QByteArray> lines = QByteArray::fromStdString(raw).split('\n');
    QList<QByteArray> data;
    for (QByteArray& l : lines) {
        if (l.endsWith('\r'))
            l.chop(1);
        if (l.isEmpty() || l == "." || l.startsWith("224 "))
            continue;
        data << l;
    }
    QElapsedTimer pt;
    pt.start();
    const int parseRounds = 10;
    TNntpHeader h;
    bool dateOk = false;
    int parsed = 0;
    for (int r = 0; r < parseRounds; ++r) {
        for (const QByteArray& l : data) {
            TNntpProcessor::ParseOverviewLine(l, h, dateOk);
            parsed += dateOk ? 1 : 0;
        }
    }
    const double parseMs = double(pt.nsecsElapsed()) / 1e6;

    const TStats j = Stats(job), p = Stats(plain), q = Stats(plainQuick);
    std::printf("INN %s, group %s, %d overview lines (%zu bytes), %d runs each\n", qPrintable(server),
                qPrintable(group), kHeaders, raw.size(), kRuns);
    std::printf("  processor job (connect .. OnRequestDone, TNntpHeader + OnHeader each): median %.1f ms, min %.1f ms"
                " = %.0f headers/s\n", j.Median, j.Min, kHeaders / (j.Median / 1000));
    std::printf("  plain socket, GROUP + XOVER to nothing:                               median %.1f ms, min %.1f ms\n",
                p.Median, p.Min);
    std::printf("  plain socket with TCP_QUICKACK:                                       median %.1f ms, min %.1f ms\n",
                q.Median, q.Min);
    std::printf("  processor / plain socket: %.2fx (median), %.2fx (min)\n", j.Median / p.Median, j.Min / p.Min);
    auto phase = [](const std::vector<TPhases>& v, double TPhases::*from, double TPhases::*to) {
        std::vector<double> d;
        for (const TPhases& x : v)
            d.push_back(from ? x.*to - x.*from : x.*to);
        return Stats(d).Median;
    };
    std::printf("  medians, processor vs plain: connect+greeting %.1f / %.1f ms, GROUP %.1f / %.1f ms, "
                "XOVER %.1f / %.1f ms\n",
                phase(jobPhases, nullptr, &TPhases::Greeting), phase(plainPhases, nullptr, &TPhases::Greeting),
                phase(jobPhases, &TPhases::Greeting, &TPhases::Group), phase(plainPhases, &TPhases::Greeting, &TPhases::Group),
                phase(jobPhases, &TPhases::Group, &TPhases::Xover), phase(plainPhases, &TPhases::Group, &TPhases::Xover));
    std::printf("  overview line parse alone (ParseOverviewLine incl. dates): %.0f lines/s (%d of %d dates read)\n",
                parsed > 0 ? double(data.size()) * parseRounds / (parseMs / 1000) : 0.0, parsed / parseRounds,
                int(data.size()));
    return 0;
}
