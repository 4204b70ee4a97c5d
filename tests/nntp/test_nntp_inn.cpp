// The request processor against a real INN 2 server (scripts/test-services/inn.sh): connect,
// GROUP, XOVER windows, the age limit, BODY (also of a missing article), ARTICLE, LIST into a file,
// POST, AUTHINFO after 480, catch-up, and an abort in the middle of a download.
#include "TestSupport.h"
#include "ScriptedDialogs.h"
#include "nntp/NNTPProcessor.h"
#include "nntp/NntpCli.h"
#include "test_nntp_processor_probe.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

namespace {
QString Env(const char* name)
{
    return qEnvironmentVariable(name);
}
} // namespace

class TestNntpInn : public QObject {
    Q_OBJECT

    QString Server() const { return Env("VORLIX_INN_HOST") + QLatin1Char(':') + Env("VORLIX_INN_PORT"); }

    void Aim(TNntpProcessor& p)
    {
        p.Host = Server();
        p.UserName.clear();
        p.Password.clear();
    }

private slots:
    // Every test here talks to the INN test server.
    void initTestCase()
    {
        VORLIX_REQUIRE_INN();
        // The server offers STARTTLS: logins go through TLS with a certificate of its own authority.
        QVERIFY(TNntpCli::TrustCaFile(Env("VORLIX_INN_CA")));
    }

    void headerWindowsAndAgeLimit()
    {
        const QString group = Env("VORLIX_INN_GROUP");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        // First download: from the oldest article, 4 at most.
        p.DownloadHeaders(group, -1, -1, 4);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Headers.size()), 4);
        QCOMPARE(p.First(), 1);
        QCOMPARE(p.Last(), Env("VORLIX_INN_GROUP_COUNT").toInt());
        QCOMPARE(probe.Headers[0].Number, 1);
        QCOMPARE(probe.Headers[0].Subject, QString("Welcome to the speaking newsreader group"));
        QCOMPARE(probe.Headers[0].From, QString("Ann Example"));
        QCOMPARE(probe.Headers[0].MessageID, QString("<welcome.1@vorlix.invalid>"));
        QCOMPARE(probe.Headers[0].References, QString());
        QCOMPARE(probe.Headers[0].Host, Server());
        QCOMPARE(probe.Headers[0].Group, group);
        QCOMPARE(probe.Headers[1].From, QString("bob@example.net (Bob Builder)"));
        QCOMPARE(probe.Headers[2].References, QString("<welcome.1@vorlix.invalid> <reply.2@vorlix.invalid>"));
        // INN writes dates in UTC; read as written, the article is about 4 hours old.
        const double ageHours = (TDateTime::FromQDateTime(QDateTime::currentDateTimeUtc()).Value
                                 - TDateTime::FromQDateTime(probe.Headers[2].Date.ToQDateTime().toUTC()).Value) * 24;
        QVERIFY2(ageHours > -15 && ageHours < 19, qPrintable(QString::number(ageHours)));

        // The next download continues after the last one and ends at the group's end.
        p.DownloadHeaders(group, probe.Headers.back().Number, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("No more Articles"));
        QCOMPARE(int(probe.Headers.size()), 10);
        QCOMPARE(probe.Headers[4].Subject, QString::fromUtf8("Grüße aus Köln – naïve café"));
        QCOMPARE(probe.Headers[4].From, QString::fromUtf8("Jürgen Müller"));
        QCOMPARE(probe.Headers[7].From, QString()); // "" <nobody@example.org>

        // Nothing new: the usual end of a download.
        p.DownloadHeaders(group, 10, -1, 100);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(probe.Headers.size()), 10);

        // An age limit of 30 days refuses the article from last year; it does not count.
        probe.Headers.clear();
        p.DownloadHeaders(group, -1, 30, 100);
        QVERIFY(probe.WaitDone(4));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(probe.Headers.size()), 9);
        QCOMPARE(int(probe.Skipped.size()), 1);
        QCOMPARE(probe.Skipped[0].MessageID, QString("<old.6@vorlix.invalid>"));

        // The big group in windows: 150 of the 200 after article 10000.
        probe.Headers.clear();
        const int big = Env("VORLIX_INN_BIG_COUNT").toInt();
        p.DownloadHeaders(Env("VORLIX_INN_BIG_GROUP"), big - 200, -1, 150);
        QVERIFY(probe.WaitDone(5));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Headers.size()), 150);
        QCOMPARE(probe.Headers.front().Number, big - 199);
        QCOMPARE(probe.Headers.back().Number, big - 50);

        // A group the server does not have.
        p.DownloadHeaders("vorlix.no.such.group", -1, -1, 100);
        QVERIFY(probe.WaitDone(6));
        QCOMPARE(probe.LastCode(), 411);
        QVERIFY(probe.LastMessage().startsWith("411 "));
    }

    void bodies()
    {
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        p.Group = Env("VORLIX_INN_GROUP");
        p.GetBody(4);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Bodies.size()), 1);
        QCOMPARE(probe.Bodies[0].MessageID, QString("<dots.4@vorlix.invalid>"));
        QCOMPARE(probe.Bodies[0].Lines, (QStringList{"The next line is a single dot:", ".",
                                                     "and this one starts with two dots:", "..two", ".hidden text",
                                                     "end"}));
        // A line far longer than any fixed buffer arrives whole.
        p.GetBody(7);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(probe.Bodies[1].Lines.size(), 3);
        QCOMPARE(probe.Bodies[1].Lines[1].size(), 1400 * 5 + 3);
        QVERIFY(probe.Bodies[1].Lines[1].endsWith("word end"));
        // A missing article ends with the server's 423 line.
        p.GetBody(99);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), 423);
        QCOMPARE(probe.LastMessage(), QString("423 No such article number 99"));
        QCOMPARE(int(probe.Bodies.size()), 2);
    }

    void groupListToFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath("groups.chl");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        qint64 seenSize = 0;
        probe.AfterDone = [&](int) { seenSize = p.DownloadedSize(); };
        p.DownloadGroupList(file);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(seenSize, 0);
        QFile f(file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = f.readAll().split('\n');
        bool talk = false, big = false;
        for (const QByteArray& l : lines) {
            QVERIFY(l.isEmpty() || l.endsWith('\r'));
            talk = talk || l.startsWith(Env("VORLIX_INN_GROUP").toUtf8() + ' ');
            big = big || l.startsWith(Env("VORLIX_INN_BIG_GROUP").toUtf8() + ' ');
        }
        QVERIFY(talk);
        QVERIFY(big);
    }

    void postAndReadBack()
    {
        const QString group = Env("VORLIX_INN_POST_GROUP");
        const QString subject = "Vorlix test post " + QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QStringList body{"Hello from the tests.", ".", ".starts with a dot", "", "Grüße, last line"};
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        p.PostArticle(group, group, "Test Poster <poster@example.org>", "", "", "None", subject, body);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);

        p.DownloadHeaders(group, -1, -1, 100000);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -2);
        const TNntpHeader* mine = nullptr;
        for (const TNntpHeader& h : probe.Headers) {
            if (h.Subject == subject)
                mine = &h;
        }
        QVERIFY(mine);
        QCOMPARE(mine->From, QString("Test Poster <poster@example.org>"));
        p.Group = group;
        p.GetBody(mine->Number);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), 0);
        // The article as sent ends with one empty line before the final "." line.
        QCOMPARE(probe.Bodies.back().Lines, body + QStringList{QString()});
        QCOMPARE(probe.Bodies.back().MessageID, mine->MessageID);

        // The whole article: the server's header lines, the empty line, the same body.
        p.GetArticle(mine->Number);
        QVERIFY(probe.WaitDone(4));
        QCOMPARE(probe.LastCode(), 0);
        const QStringList article = probe.Bodies.back().Lines;
        const qsizetype blank = article.indexOf(QString());
        QVERIFY(blank > 0);
        QVERIFY(article.mid(0, blank).contains("Subject: " + subject));
        QCOMPARE(article.mid(blank + 1), body + QStringList{QString()});
        QCOMPARE(probe.Bodies.back().MessageID, mine->MessageID);
    }

    void loginAfter480()
    {
        TScopedScriptedDialogs dialogs;
        const QString group = Env("VORLIX_INN_AUTH_GROUP");
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        // Stored credentials: no window.
        p.UserName = Env("VORLIX_INN_USER");
        p.Password = Env("VORLIX_INN_PASS");
        p.DownloadHeaders(group, -1, -1, 100);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(probe.Headers.size()), Env("VORLIX_INN_AUTH_COUNT").toInt());
        QVERIFY(dialogs.CredentialRequests.empty());
        // Stored credentials are not handed back to be kept (the owner keeps them as they are).
        QVERIFY(probe.Logins.empty());

        // A wrong stored password: INN says 481, the window asks, the right one gets in.
        dialogs.CredentialAnswers.push_back({true, Env("VORLIX_INN_USER"), Env("VORLIX_INN_PASS"), true});
        p.Password = "not the password";
        p.DownloadHeaders(group, -1, -1, 100);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(int(dialogs.CredentialRequests.size()), 1);
        const QString status = dialogs.CredentialRequests[0].Status;
        QVERIFY2(status.startsWith("481"), qPrintable(status));
        QCOMPARE(int(probe.Headers.size()), 2 * Env("VORLIX_INN_AUTH_COUNT").toInt());
        QCOMPARE(int(probe.Logins.size()), 1);
        QVERIFY(probe.Logins[0].Save);
        QCOMPARE(probe.Logins[0].Password, Env("VORLIX_INN_PASS"));

        // No credentials and the window cancelled.
        p.UserName.clear();
        p.Password.clear();
        p.Group = group;
        p.GetBody(1);
        QVERIFY(probe.WaitDone(3));
        QCOMPARE(probe.LastCode(), -2);
        QCOMPARE(probe.LastMessage(), QString("Login cancelled"));
    }

    void catchUp()
    {
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        TCatchUpRecord r;
        r.Host = Server();
        r.Groups << Env("VORLIX_INN_GROUP") << Env("VORLIX_INN_EMPTY_GROUP") << Env("VORLIX_INN_BIG_GROUP");
        r.Count = 3;
        p.CatchUp({r}, -1);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Headers.size()), 6);
        QCOMPARE(probe.Headers[0].Number, Env("VORLIX_INN_GROUP_COUNT").toInt() - 2);
        QCOMPARE(probe.Headers[5].Number, Env("VORLIX_INN_BIG_COUNT").toInt());
        QCOMPARE(probe.CaughtUp, (QStringList{Server() + "|" + Env("VORLIX_INN_GROUP"),
                                              Server() + "|" + Env("VORLIX_INN_BIG_GROUP")}));
        QVERIFY(probe.Statuses.contains("Header range 1 - 0 is invalid"));
    }

    void abortMidDownload()
    {
        TNntpProcessor p;
        TProcessorProbe probe;
        probe.Attach(p);
        Aim(p);
        size_t atAbort = 0;
        probe.AfterHeader = [&](const TNntpHeader& h) {
            if (h.Number == 500)
                QTimer::singleShot(0, &p, [&] {
                    atAbort = probe.Headers.size();
                    p.Abort();
                });
        };
        p.DownloadHeaders(Env("VORLIX_INN_BIG_GROUP"), -1, -1, 10000);
        QVERIFY(probe.WaitDone());
        QCOMPARE(probe.LastCode(), 0);
        QVERIFY(atAbort >= 500);
        QCOMPARE(probe.Headers.size(), atAbort);
        QVERIFY(probe.Headers.size() < 10000);
        // The processor is ready for the next job at once.
        p.Group = Env("VORLIX_INN_GROUP");
        p.GetBody(1);
        QVERIFY(probe.WaitDone(2));
        QCOMPARE(probe.LastCode(), 0);
        QCOMPARE(int(probe.Dones.size()), 2);
        QCOMPARE(probe.Bodies.back().MessageID, QString("<welcome.1@vorlix.invalid>"));
    }
};

VORLIX_TEST_MAIN_CORE(TestNntpInn)
#include "test_nntp_inn.moc"
