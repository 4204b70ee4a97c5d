// The output folder served over real TCP on loopback: the feed read by feedparser and the files
// fetched by Python's urllib from the served URLs, byte ranges and HEAD on one kept-alive
// connection, every way out of the folder refused, and clients that send nothing, stop taking
// or vanish while others are served.
#include "FeedCheck.h"
#include "TestSupport.h"

#include "render/FeedServer.h"
#include "render/PodcastFeed.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <sndfile.h>

using namespace FeedCheck;

namespace {
// A long WAV of quiet noise (22 050 Hz, 16-bit mono), to be sent in many pieces.
bool MakeLongWav(const QString& path, int seconds)
{
    SF_INFO info{0, 22050, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<short> samples(22050);
    uint32_t noise = 1;
    bool ok = true;
    for (int s = 0; s < seconds && ok; ++s) {
        for (short& v : samples) {
            noise = noise * 1664525u + 1013904223u;
            v = short(int(noise >> 20) - 2048);
        }
        ok = sf_writef_short(f, samples.data(), sf_count_t(samples.size())) == sf_count_t(samples.size());
    }
    return sf_close(f) == 0 && ok;
}

// One answer of the server as the bytes say it.
struct TAnswer {
    int Status = 0;
    QMap<QByteArray, QByteArray> Headers; // names in lower case
    QByteArray Body;
};

// A client on a raw socket, one request at a time on one connection.
class THttpClient {
public:
    bool Connect(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return TestSupport::WaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, 5000);
    }
    bool Closed() { return socket.state() == QAbstractSocket::UnconnectedState; }
    bool WaitClosed(int ms = 5000)
    {
        return TestSupport::WaitFor([this] { return Closed(); }, ms);
    }
    // Sends request and reads the answer: its headers, then Content-Length bytes unless headOnly.
    TAnswer Ask(const QByteArray& request, bool headOnly = false)
    {
        socket.write(request);
        TAnswer a;
        qsizetype end = -1;
        const auto take = [this] { buffer += socket.readAll(); };
        if (!TestSupport::WaitFor([&] {
                take();
                end = buffer.indexOf("\r\n\r\n");
                return end >= 0 || Closed();
            }))
            return a;
        if (end < 0)
            return a;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        const QList<QByteArray> status = lines.first().trimmed().split(' ');
        if (status.size() < 2 || status[0] != "HTTP/1.1")
            return a;
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            a.Headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        buffer.remove(0, end + 4);
        const qint64 length = headOnly ? 0 : a.Headers.value("content-length").toLongLong();
        TestSupport::WaitFor([&] {
            take();
            return buffer.size() >= length || Closed();
        }, 30000);
        a.Body = buffer.left(length);
        buffer.remove(0, a.Body.size());
        a.Status = a.Body.size() == length ? status[1].toInt() : -1;
        return a;
    }
    QTcpSocket socket;
    QByteArray buffer;
};

// GET of one path on a new connection.
TAnswer Get(quint16 port, const QByteArray& target, const QByteArray& extra = {})
{
    THttpClient c;
    if (!c.Connect(port))
        return {};
    return c.Ask("GET " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra + "\r\n");
}

// Python's urllib fetches each URL: [{"status", "type", "length", "sha1"}].
QJsonArray Download(const QStringList& urls)
{
    static const char* script = R"PY(
import sys, json, hashlib, urllib.request
out = []
for url in sys.argv[1:]:
    with urllib.request.urlopen(url, timeout=30) as r:
        data = r.read()
        out.append({'status': r.status, 'type': r.headers['Content-Type'], 'length': len(data),
                    'sha1': hashlib.sha1(data).hexdigest()})
print(json.dumps(out))
)PY";
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), QString::fromUtf8(script)} + urls);
    if (!TestSupport::WaitFor([&p] { return p.state() == QProcess::NotRunning; }, 60000)) {
        p.kill();
        p.waitForFinished();
        return {};
    }
    if (p.exitCode() != 0)
        qWarning("urllib: %s", p.readAllStandardError().constData());
    return QJsonDocument::fromJson(p.readAllStandardOutput()).array();
}

QString Sha1(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}
}

class TestFeedServer : public QObject {
    Q_OBJECT
    QTemporaryDir root;   // holds a secret beside the served folder
    QString folder;       // the output folder served
    QString longWav;
    QByteArray first;     // the bytes of First_1.mp3

private slots:
    void initTestCase()
    {
        QVERIFY(root.isValid());
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("/usr/bin/python3"));
        folder = root.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(folder));
        TSpeaker speaker;
        QVERIFY(!speaker.Speak(folder, QStringLiteral("First_1"), QStringLiteral("MP3"), Words(25),
                               QStringLiteral("First"))
                     .isEmpty());
        QVERIFY(!speaker.Speak(folder, QStringLiteral("Second_1"), QStringLiteral("MP3"), Words(10),
                               QStringLiteral("Second & last"))
                     .isEmpty());
        longWav = folder + QStringLiteral("/Long_1.wav");
        QVERIFY(MakeLongWav(longWav, 600));
        first = ReadAll(folder + QStringLiteral("/First_1.mp3"));
        QVERIFY(first.size() > 1000);
        // Beside the folder, not in it; and what inside it is not for listeners.
        QVERIFY(WriteAll(root.filePath(QStringLiteral("secret.mp3")), "SECRET-BYTES"));
        QVERIFY(WriteAll(folder + QStringLiteral("/.hidden.mp3"), "SECRET-BYTES"));
        QVERIFY(WriteAll(folder + QStringLiteral("/notes.txt"), "SECRET-BYTES"));
        QVERIFY(WriteAll(folder + QStringLiteral("/feed-damaged.xml"), "SECRET-BYTES"));
        QVERIFY(QFile::link(root.filePath(QStringLiteral("secret.mp3")), folder + QStringLiteral("/Out_1.mp3")));
        QVERIFY(QFile::link(folder + QStringLiteral("/First_1.mp3"), folder + QStringLiteral("/In_1.mp3")));
    }

    // The feed through feedparser and the files through urllib from the served URLs; ranges,
    // HEAD and refusals on one kept-alive connection; a file written while serving is in the
    // next feed.
    void feedAndFilesOverHttp()
    {
        TFeedServer server(folder);
        QStringList log;
        server.OnRequest = [&log](TFeedServer*, const QString& line) { log << line; };
        QVERIFY(server.BaseUrl().isEmpty());
        QCOMPARE(server.Listen(QStringLiteral("127.0.0.1"), 0), QString());
        const quint16 port = server.Port();
        QVERIFY(port > 0);
        const QString base = QStringLiteral("http://127.0.0.1:%1/").arg(port);
        QCOMPARE(server.BaseUrl(), base);
        TFeedServer other(folder);
        const QString taken = other.Listen(QStringLiteral("127.0.0.1"), port);
        QVERIFY2(taken.startsWith(QStringLiteral("Cannot serve on 127.0.0.1 port %1: ").arg(port)), qPrintable(taken));
        QCOMPARE(other.Listen(QStringLiteral("localhost"), 0), QStringLiteral("\"localhost\" is not an IP address"));
        QVERIFY(!other.Listening());
        TPodcastFeed feed(folder);
        server.SetFeed(&feed);

        QJsonObject parsed = Parse(base + TPodcastFeed::FileName());
        QVERIFY2(!parsed.isEmpty(), "feedparser did not run");
        QVERIFY2(!parsed["bozo"].toBool(), qPrintable(parsed["error"].toString()));
        QStringList urls;
        for (const QJsonValue& v : parsed["items"].toArray())
            urls << v["href"].toString();
        urls.sort();
        QCOMPARE(urls, (QStringList{base + "First_1.mp3", base + "In_1.mp3", base + "Long_1.wav", base + "Second_1.mp3"}));
        const QJsonArray got = Download(urls);
        QCOMPARE(got.size(), urls.size());
        for (int i = 0; i < urls.size(); ++i) {
            const QByteArray local = ReadAll(folder + QLatin1Char('/') + QUrl(urls[i]).fileName());
            QCOMPARE(got[i]["status"].toInt(), 200);
            QCOMPARE(got[i]["length"].toInteger(), local.size());
            QCOMPARE(got[i]["sha1"].toString(), Sha1(local));
            QCOMPARE(got[i]["type"].toString(), urls[i].endsWith(".wav") ? QStringLiteral("audio/wav") : QStringLiteral("audio/mpeg"));
        }
        QVERIFY2(log.contains(QStringLiteral("127.0.0.1 GET /Long_1.wav HTTP/1.1 200 %1").arg(QFileInfo(longWav).size())),
                 qPrintable(log.join('\n')));

        const qint64 size = first.size();
        THttpClient c;
        QVERIFY(c.Connect(port));
        const QByteArray get = "GET /First_1.mp3 HTTP/1.1\r\nHost: localhost\r\n";
        TAnswer a = c.Ask(get + "Range: bytes=100-199\r\n\r\n");
        QCOMPARE(a.Status, 206);
        QCOMPARE(a.Headers.value("content-range"), "bytes 100-199/" + QByteArray::number(size));
        QCOMPARE(a.Body, first.mid(100, 100));
        a = c.Ask(get + "Range: bytes=-50\r\n\r\n");
        QCOMPARE(a.Status, 206);
        QCOMPARE(a.Body, first.right(50));
        a = c.Ask(get + "Range: bytes=" + QByteArray::number(size - 10) + "-\r\n\r\n");
        QCOMPARE(a.Status, 206);
        QCOMPARE(a.Body, first.right(10));
        a = c.Ask(get + "Range: bytes=" + QByteArray::number(size) + "-\r\n\r\n");
        QCOMPARE(a.Status, 416);
        QCOMPARE(a.Headers.value("content-range"), "bytes */" + QByteArray::number(size));
        // Several ranges, or a range that does not apply any more: the whole file.
        a = c.Ask(get + "Range: bytes=0-1,5-6\r\n\r\n");
        QCOMPARE(a.Status, 200);
        QCOMPARE(a.Body, first);
        a = c.Ask(get + "Range: bytes=0-9\r\nIf-Range: \"stale\"\r\n\r\n");
        QCOMPARE(a.Status, 200);
        QCOMPARE(a.Body.size(), size);
        a = c.Ask(get + "Range: bytes=0-9\r\nIf-Range: " + a.Headers.value("etag") + "\r\n\r\n");
        QCOMPARE(a.Status, 206);
        QCOMPARE(a.Body, first.left(10));
        a = c.Ask("HEAD /First_1.mp3 HTTP/1.1\r\nHost: localhost\r\n\r\n", true);
        QCOMPARE(a.Status, 200);
        QCOMPARE(a.Headers.value("content-length").toLongLong(), size);
        QCOMPARE(a.Headers.value("accept-ranges"), QByteArray("bytes"));
        a = c.Ask("POST /First_1.mp3 HTTP/1.1\r\nHost: localhost\r\nContent-Length: 0\r\n\r\n");
        QCOMPARE(a.Status, 405);
        QCOMPARE(a.Headers.value("allow"), QByteArray("GET, HEAD"));
        a = c.Ask("GET /Nothing_1.mp3 HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QCOMPARE(a.Status, 404);
        // Two requests sent at once are answered in order.
        c.socket.write("GET /First_1.mp3 HTTP/1.1\r\nRange: bytes=0-3\r\n\r\n");
        a = c.Ask("GET /First_1.mp3 HTTP/1.1\r\nRange: bytes=4-7\r\nConnection: close\r\n\r\n");
        QCOMPARE(a.Body, first.left(4));
        a = c.Ask({});
        QCOMPARE(a.Body, first.mid(4, 4));
        QVERIFY(c.WaitClosed());

        // The window speaks another file into the folder while it is served.
        QVERIFY(QFile::copy(folder + QStringLiteral("/Second_1.mp3"), folder + QStringLiteral("/Third_1.mp3")));
        parsed = Parse(base + TPodcastFeed::FileName());
        QVERIFY2(!parsed["bozo"].toBool(), qPrintable(parsed["error"].toString()));
        QCOMPARE(parsed["items"].toArray().size(), 5);
        QVERIFY(Titles(parsed).contains(QStringLiteral("Second & last")));
        QVERIFY(QFile::remove(folder + QStringLiteral("/Third_1.mp3")));
        server.Close();
        QVERIFY(!server.Listening());
        QCOMPARE(server.ConnectionCount(), 0);
    }

    // Nothing outside the folder, nothing hidden, nothing but the feed and audio files.
    void onlyTheFolderIsServed()
    {
        TFeedServer server(folder);
        QCOMPARE(server.Listen(QStringLiteral("127.0.0.1"), 0), QString());
        const quint16 port = server.Port();
        const struct {
            QByteArray Target;
            int Status;
        } cases[] = {
            {"/../secret.mp3", 400},       {"/..%2fsecret.mp3", 400},     {"/%2e%2e/secret.mp3", 400},
            {"/%2E%2E%2Fsecret.mp3", 400}, {"/..%5csecret.mp3", 400},     {"/..\\secret.mp3", 400},
            {"//secret.mp3", 400},         {"/out/../secret.mp3", 400},   {"/First_1.mp3%00.txt", 400},
            {"/%c0%ae%c0%ae/secret.mp3", 400},
            {QFile::encodeName(root.filePath(QStringLiteral("secret.mp3"))), 400},
            {"http://127.0.0.1/../secret.mp3", 400},
            {"secret.mp3", 400},           {"*", 400},                    {"/", 404},
            {"/.hidden.mp3", 404},         {"/%2ehidden.mp3", 404},       {"/notes.txt", 404},
            {"/feed-damaged.xml", 404},    {"/Out_1.mp3", 404},           {"/secret.mp3", 404},
            {"/In_1.mp3", 200},            {"/First%5F1.mp3?x=1", 200},
        };
        for (const auto& c : cases) {
            const TAnswer a = Get(port, c.Target);
            QVERIFY2(a.Status == c.Status, qPrintable(QStringLiteral("%1: %2").arg(QString::fromLatin1(c.Target)).arg(a.Status)));
            QVERIFY(!a.Body.contains("SECRET"));
            if (c.Status == 200)
                QCOMPARE(a.Body, first);
        }
        // Not HTTP as served here.
        THttpClient bad;
        QVERIFY(bad.Connect(port));
        QCOMPARE(bad.Ask("GET /First_1.mp3 HTTP/2.0\r\n\r\n").Status, 505);
        QVERIFY(bad.WaitClosed());
        THttpClient noise;
        QVERIFY(noise.Connect(port));
        QCOMPARE(noise.Ask("hello\r\n\r\n").Status, 400);
        QVERIFY(noise.WaitClosed());
        THttpClient huge;
        QVERIFY(huge.Connect(port));
        QCOMPARE(huge.Ask("GET /First_1.mp3 HTTP/1.1\r\nX: " + QByteArray(20000, 'x') + "\r\n\r\n").Status, 431);
        QVERIFY(huge.WaitClosed());
    }

    // A client that sends nothing, one that stops taking a long file and one that vanishes in
    // the middle hold nobody else up; the silent and the stalled ones are dropped when idle.
    void slowSilentAndVanishingClients()
    {
        TFeedServer server(folder);
        server.IdleTimeoutMs = 2000;
        QCOMPARE(server.Listen(QStringLiteral("127.0.0.1"), 0), QString());
        const quint16 port = server.Port();
        const qint64 longSize = QFileInfo(longWav).size();

        THttpClient silent;
        QVERIFY(silent.Connect(port));
        silent.socket.write("GET /First_1.mp3 HTTP/1.1\r\n"); // and never the rest
        THttpClient stalled;
        stalled.socket.setReadBufferSize(4096);
        QVERIFY(stalled.Connect(port));
        stalled.socket.write("GET /Long_1.wav HTTP/1.1\r\nHost: localhost\r\n\r\n");
        THttpClient vanishing;
        QVERIFY(vanishing.Connect(port));
        vanishing.socket.write("GET /Long_1.wav HTTP/1.1\r\nHost: localhost\r\n\r\n");
        QVERIFY(TestSupport::WaitFor([&] { return vanishing.socket.bytesAvailable() > 100000; }));
        vanishing.socket.abort();
        QVERIFY(TestSupport::WaitFor([&] { return server.ConnectionCount() == 2; }));

        // Another client is served at once while those hang about, and so are many at once.
        QCOMPARE(Get(port, "/First_1.mp3").Body, first);
        QVERIFY(!silent.Closed());
        QVERIFY(!stalled.Closed());
        std::vector<std::unique_ptr<THttpClient>> many;
        for (int i = 0; i < 40; ++i) {
            many.push_back(std::make_unique<THttpClient>());
            QVERIFY(many.back()->Connect(port));
            many.back()->socket.write(i % 10 ? "GET /First_1.mp3 HTTP/1.1\r\nConnection: close\r\n\r\n"
                                             : "GET /Long_1.wav HTTP/1.1\r\nConnection: close\r\n\r\n");
        }
        // Files go out piece by piece as each client takes them, never whole into memory.
        qint64 mostQueued = 0;
        for (auto& c : many) {
            QVERIFY(TestSupport::WaitFor([&] {
                mostQueued = std::max(mostQueued, server.BytesQueued());
                c->buffer += c->socket.readAll();
                return c->Closed();
            }, 30000));
            c->buffer += c->socket.readAll();
            QVERIFY(c->buffer.startsWith("HTTP/1.1 200 OK\r\n"));
            const qsizetype body = c->buffer.indexOf("\r\n\r\n") + 4;
            QCOMPARE(c->buffer.size() - body, c->buffer.contains("audio/wav") ? longSize : first.size());
        }
        QVERIFY2(mostQueued > 0 && mostQueued < 8 * 1024 * 1024, qPrintable(QString::number(mostQueued)));
        qInfo("At most %lld bytes queued for %d connections", mostQueued, 2 + int(many.size()));

        // The silent client and the one that stopped taking are dropped once idle.
        QVERIFY(TestSupport::WaitFor([&] { return server.ConnectionCount() == 0; }));
        QVERIFY(silent.WaitClosed());
        // The stalled client learns it only as it reads on, and what it gets is cut short.
        QVERIFY(TestSupport::WaitFor([&] {
            stalled.buffer += stalled.socket.readAll();
            return stalled.Closed();
        }));
        QVERIFY(stalled.buffer.size() < longSize);
        // And the server goes on.
        QCOMPARE(Get(port, "/First_1.mp3").Body, first);
    }
};

VORLIX_TEST_MAIN_CORE(TestFeedServer)
#include "test_feed_server.moc"
