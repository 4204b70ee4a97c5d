#include "SampleNewsServer.h"
#include "TestSupport.h"

#include "core/TextFiles.h"
#include "news/ArticleUnit.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace {
// A plain line-oriented client: sends one command and reads its answer (multi-line when asked).
class Client {
public:
    explicit Client(quint16 port)
    {
        sock.connectToHost(QHostAddress::LocalHost, port);
        greeting = readLine();
    }
    QByteArray readLine()
    {
        while (!buffer.contains("\r\n")) {
            // The server runs in this thread, so wait by running events.
            TestSupport::WaitFor([&] { return sock.bytesAvailable() > 0; }, 5000);
            if (sock.bytesAvailable() == 0)
                return QByteArray();
            buffer += sock.readAll();
        }
        const int i = buffer.indexOf("\r\n");
        QByteArray line = buffer.left(i);
        buffer.remove(0, i + 2);
        return line;
    }
    QByteArray command(const QByteArray& line)
    {
        sock.write(line + "\r\n");
        return readLine();
    }
    QList<QByteArray> data()
    {
        QList<QByteArray> out;
        for (QByteArray l = readLine(); l != "."; l = readLine())
            out << l;
        return out;
    }
    QTcpSocket sock;
    QByteArray buffer, greeting;
};
}

class TestSampleNewsServer : public QObject {
    Q_OBJECT
private slots:
    void servesTheSampleGroups()
    {
        TSampleNewsServer server;
        QVERIFY(server.LoadDirectory(VORLIX_SAMPLE_NEWS_DIR) >= 10);
        QVERIFY(server.Listen());
        Client c(server.Port());
        QVERIFY(c.greeting.startsWith("200 "));
        QCOMPARE(c.command("LIST"), QByteArray("215 List of newsgroups follows"));
        const QList<QByteArray> groups = c.data();
        QCOMPARE(groups.size(), 3);
        QVERIFY(groups.contains("alt.audio.speech 3 1 y"));

        QCOMPARE(c.command("GROUP rec.outdoors.hiking"), QByteArray("211 6 1 6 rec.outdoors.hiking"));
        QCOMPARE(c.command("XOVER 2-3"), QByteArray("224 Overview information follows"));
        const QList<QByteArray> over = c.data();
        QCOMPARE(over.size(), 2);
        const QList<QByteArray> fields = over[0].split('\t');
        QCOMPARE(fields.size(), 8);
        QCOMPARE(fields[1], QByteArray("Re: Trip report: three days on the Ridge Trail"));
        QCOMPARE(fields[5], QByteArray("<hike1@sample.vorlix.invalid>"));
        // Relative dates become recent real dates.
        QVERIFY(fields[3].endsWith(" +0000"));
        QVERIFY(!fields[3].startsWith("-"));

        QVERIFY(c.command("BODY 1").startsWith("222 1 <hike1@sample.vorlix.invalid>"));
        const QList<QByteArray> body = c.data();
        QVERIFY(body.contains("-- "));
        QVERIFY(c.command("BODY 99").startsWith("423"));
        QVERIFY(c.command("GROUP no.such.group").startsWith("411"));
    }

    void postingAndLogin()
    {
        TSampleNewsServer server;
        server.LoadDirectory(VORLIX_SAMPLE_NEWS_DIR);
        server.RequireLogin("reader", "secret");
        QVERIFY(server.Listen());
        Client c(server.Port());
        QVERIFY(c.command("GROUP alt.audio.speech").startsWith("480"));
        QVERIFY(c.command("AUTHINFO USER reader").startsWith("381"));
        QVERIFY(c.command("AUTHINFO PASS wrong").startsWith("481"));
        QVERIFY(c.command("AUTHINFO USER reader").startsWith("381"));
        QVERIFY(c.command("AUTHINFO PASS secret").startsWith("281"));
        QVERIFY(c.command("POST").startsWith("340"));
        c.sock.write("From: Tester <t@example.org>\r\nNewsgroups: alt.audio.speech\r\nSubject: Hello\r\n\r\n"
                     "..a line starting with a dot\r\nplain line\r\n.\r\n");
        QVERIFY(c.readLine().startsWith("240"));
        QVERIFY(c.command("GROUP alt.audio.speech").startsWith("211 4 1 4"));
        QVERIFY(c.command("BODY 4").startsWith("222 4 <"));
        QCOMPARE(c.data(), QList<QByteArray>({"..a line starting with a dot", "plain line"}));
        // A post without the required headers is refused.
        QVERIFY(c.command("POST").startsWith("340"));
        c.sock.write("Subject: nothing else\r\n\r\nbody\r\n.\r\n");
        QVERIFY(c.readLine().startsWith("441"));
    }

    // The demo profile: the first start writes the configuration and the groups' article
    // files, with the first thread of the first group marked for speaking; a later start
    // leaves the profile as the user left it.
    void demoProfile()
    {
        QTemporaryDir dir;
        const QString files = dir.filePath(QStringLiteral("Files"));
        const auto start = [&files] {
            QProcess p;
            p.start(QStringLiteral(VORLIX_SAMPLE_NEWS_BIN), {QStringLiteral("--port"), QStringLiteral("0"),
                                                             QStringLiteral("--demo-profile"), files});
            const bool listening = p.waitForReadyRead(10000) && p.readAllStandardOutput().startsWith("listening on");
            p.kill();
            p.waitForFinished();
            return listening;
        };
        QVERIFY(start());
        const QStringList config = ReadLines(files + QStringLiteral("/Config.chl"));
        QCOMPARE(config.size(), 4);
        QVERIFY(config[0].startsWith(QStringLiteral("NewsServer|127.0.0.1:")));
        QVERIFY(config[1].startsWith(QStringLiteral("NewsGroup|alt.audio.speech|0|3|0|")));
        TArticleList first;
        QVERIFY(first.LoadFromFile(files + QLatin1Char('/') + config[1].section(QLatin1Char('|'), 5) + QStringLiteral(".chl")));
        QCOMPARE(first.Count(), 3);
        for (int i = 0; i < first.Count(); ++i) {
            QCOMPARE(first.At(i)->SpeakMark, 1);
            QCOMPARE(first.At(i)->ReadState, 1);
            QVERIFY(first.At(i)->Date.Value > 40000); // a real date, not the zero day
        }
        TArticleList second;
        QVERIFY(second.LoadFromFile(files + QLatin1Char('/') + config[2].section(QLatin1Char('|'), 5) + QStringLiteral(".chl")));
        QVERIFY(second.Count() > 0);
        QCOMPARE(second.At(0)->SpeakMark, 0);
        // Kept as it is on the next start.
        first.At(0)->SetSpeakMark(2);
        WriteLinesAtomically(files + QStringLiteral("/Config.chl"), config.mid(0, 2));
        QVERIFY(start());
        QCOMPARE(ReadLines(files + QStringLiteral("/Config.chl")).size(), 2);
    }
};

VORLIX_TEST_MAIN_CORE(TestSampleNewsServer)
#include "test_sample_news_server.moc"
