// The podcast feed of an output folder with files spoken by the real speech manager, read back
// by Python's feedparser: items newest first with their enclosures, playing times and stable
// guids, files of the window listed by their tags, files gone dropped, a damaged or foreign
// feed.xml kept aside and the feed made again, and an update of a folder of thousands of files.
#include "FeedCheck.h"
#include "TestSupport.h"

#include "render/PodcastFeed.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

using namespace FeedCheck;

namespace {
bool SetTime(const QString& path, const QDateTime& time)
{
    QFile f(path);
    return f.open(QIODevice::ReadWrite) && f.setFileTime(time, QFileDevice::FileModificationTime);
}

// A copy of a spoken file under another name, dated as given.
bool CopyAs(const QString& from, const QString& to, const QDateTime& time)
{
    return WriteAll(to, ReadAll(from)) && SetTime(to, time);
}

QJsonObject Item(const QJsonObject& feed, int i)
{
    return feed[QStringLiteral("items")].toArray().at(i).toObject();
}

// Title and description of each item as an XML parser reads them.
QStringList Texts(const QJsonObject& feed, int part)
{
    QStringList texts;
    for (const QJsonValue& v : feed[QStringLiteral("items")].toArray())
        texts << v[QStringLiteral("text")][part].toString();
    return texts;
}
}

class TestPodcastFeed : public QObject {
    Q_OBJECT
    QTemporaryDir spoken; // the files spoken once, copied into each test's folder
    QString voiceName;
    const QDateTime base = QDateTime(QDate(2024, 5, 14), QTime(9, 30, 0), Qt::UTC);
    // A subject with everything XML needs escaped, a control character and non-Latin letters.
    const QString trickySubject = QStringLiteral("Q&A: <b>\"quotes\"</b> & 'apostrophes' ]]> \x01Καλημέρα");

    QString spokenFile(const QString& name) const { return spoken.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(spoken.isValid());
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("/usr/bin/python3"));
        TSpeaker speaker;
        voiceName = speaker.VoiceName();
        QVERIFY2(!voiceName.isEmpty(), "no eSpeak NG voice for US English");
        const QString folder = spoken.path();
        QVERIFY(!speaker.Speak(folder, QStringLiteral("First_thread_1"), QStringLiteral("MP3"), Words(30),
                               QStringLiteral("First thread"))
                     .isEmpty());
        QVERIFY(!speaker.Speak(folder, QStringLiteral("A_single_1"), QStringLiteral("Wav"), Words(12)).isEmpty());
        QVERIFY(!speaker.Speak(folder, QStringLiteral("Q_A_1"), QStringLiteral("MP3"), Words(8), trickySubject).isEmpty());
        // Written by the window: a thread file with the manager's own tags and two chapters.
        QVERIFY(!speaker.Speak(folder, QStringLiteral("Window_thread_1"), QStringLiteral("MP3"), Words(40), {},
                               {{0, QStringLiteral("Window thread")}, {2000, QStringLiteral("Re: Window thread")}})
                     .isEmpty());
        QVERIFY(!speaker.Speak(folder, QStringLiteral("Short_1"), QStringLiteral("MP3"), Words(2)).isEmpty());
    }

    // The rendered files and one of the window's, newest first, read by feedparser; a second
    // update keeps the guids; a file gone drops out, a new one comes first.
    void feedOfRenderedAndWindowFiles()
    {
        QTemporaryDir dir;
        const QString folder = dir.path();
        const auto path = [&](const QString& name) { return dir.filePath(name); };
        QVERIFY(CopyAs(spokenFile("First_thread_1.mp3"), path("First_thread_1.mp3"), base.addSecs(-3 * 3600)));
        QVERIFY(CopyAs(spokenFile("A_single_1.wav"), path("A_single_1.wav"), base.addSecs(-2 * 3600)));
        QVERIFY(CopyAs(spokenFile("Q_A_1.mp3"), path("Q_A_1.mp3"), base.addSecs(-3600)));
        QVERIFY(CopyAs(spokenFile("Window_thread_1.mp3"), path("Window_thread_1.mp3"), base.addSecs(-1800)));
        // Not episodes: a hidden file, a conversion's temporary file, a text, an empty "MP3".
        QVERIFY(CopyAs(spokenFile("Short_1.mp3"), path(".hidden.mp3"), base));
        QVERIFY(CopyAs(spokenFile("A_single_1.wav"), path("$$$Converting.wav"), base));
        QVERIFY(WriteAll(path("notes.txt"), "not audio"));
        QVERIFY(WriteAll(path("Broken_1.mp3"), ""));

        TFeedItem first{QStringLiteral("First_thread_1.mp3"), QStringLiteral("First thread"),
                        QStringLiteral("comp.lang.misc"),
                        {QStringLiteral("Eve Smith"), QStringLiteral("Bob"), QStringLiteral("Eve Smith")}, 3,
                        base.addSecs(-3 * 3600)};
        TFeedItem single{path("A_single_1.wav"), QStringLiteral("A single"), QStringLiteral("alt.test"),
                         {QStringLiteral("Ann")}, 1, base.addSecs(-2 * 3600)};
        TFeedItem tricky{QStringLiteral("Q_A_1.mp3"), trickySubject, QStringLiteral("de.test"),
                         {QStringLiteral("Zoë <zoe@example.org>")}, 2, base.addSecs(-3600)};
        TFeedItem missing{QStringLiteral("Never_written_1.mp3"), QStringLiteral("Missing"), QStringLiteral("alt.test"),
                          {}, 1, base};
        TPodcastFeed feed(folder);
        QCOMPARE(feed.Update({first, single, tricky, missing}), QString());
        QCOMPARE(feed.Warnings(),
                 QStringList{"Never_written_1.mp3 is not an audio file of the output folder; the feed does not list it"});

        QJsonObject parsed = Parse(feed.FeedPath());
        QVERIFY2(!parsed.isEmpty(), "feedparser did not run");
        QVERIFY2(!parsed["bozo"].toBool(), qPrintable(parsed["error"].toString()));
        QCOMPARE(parsed["version"].toString(), QStringLiteral("rss20"));
        const QString cleanTricky = QStringLiteral("Q&A: <b>\"quotes\"</b> & 'apostrophes' ]]> Καλημέρα");
        QCOMPARE(Texts(parsed, 0), (QStringList{"Window_thread_1.mp3", cleanTricky, "A single", "First thread"}));
        const QStringList files{"Window_thread_1.mp3", "Q_A_1.mp3", "A_single_1.wav", "First_thread_1.mp3"};
        const QStringList summaries{QStringLiteral("Created: "), // the window's tags: album, artist, chapters
                                    QStringLiteral("de.test — 2 articles by Zoë <zoe@example.org>"),
                                    QStringLiteral("alt.test — 1 article by Ann"),
                                    QStringLiteral("comp.lang.misc — 3 articles by Eve Smith, Bob")};
        QStringList ids;
        for (int i = 0; i < files.size(); ++i) {
            const QJsonObject item = Item(parsed, i);
            const QFileInfo file(path(files[i]));
            QCOMPARE(item["href"].toString(), QUrl::fromLocalFile(file.absoluteFilePath()).toString());
            QCOMPARE(item["length"].toInteger(), file.size());
            QCOMPARE(item["type"].toString(), files[i].endsWith(".wav") ? QStringLiteral("audio/wav") : QStringLiteral("audio/mpeg"));
            const double real = item["real"].toDouble();
            QVERIFY2(real > 0.5, qPrintable(files[i]));
            QVERIFY2(qAbs(DurationSeconds(item["duration"].toString()) - real) <= 1.0,
                     qPrintable(QStringLiteral("%1: %2 against %3").arg(files[i], item["duration"].toString()).arg(real)));
            QVERIFY(!item["permalink"].toBool());
            QVERIFY(!item["id"].toString().isEmpty());
            ids << item["id"].toString();
            if (i == 0) {
                const QString description = Texts(parsed, 1)[0];
                QVERIFY2(description.startsWith(summaries[0]), qPrintable(description));
                QVERIFY2(description.endsWith(QStringLiteral(" — 2 articles by ") + voiceName), qPrintable(description));
                QCOMPARE(item["published"].toInteger(), base.addSecs(-1800).toSecsSinceEpoch());
            } else {
                QCOMPARE(Texts(parsed, 1)[i], summaries[i]);
                QCOMPARE(item["published"].toInteger(), base.addSecs(-3600 * i).toSecsSinceEpoch());
            }
        }
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), ids.size());
        QCOMPARE(Texts(parsed, 2)[1], QStringLiteral("Tue, 14 May 2024 08:30:00 +0000"));

        // Read back and written again, served this time: same guids, dates and texts, URLs of the server.
        TPodcastFeed again(folder);
        again.SetBaseUrl(QStringLiteral("http://192.0.2.7:8080"));
        QCOMPARE(again.Update({}), QString());
        QVERIFY(again.Warnings().isEmpty());
        QJsonObject served = Parse(again.FeedPath());
        QVERIFY2(!served["bozo"].toBool(), qPrintable(served["error"].toString()));
        QCOMPARE(Ids(served), ids);
        QCOMPARE(Texts(served, 0), Texts(parsed, 0));
        QCOMPARE(Texts(served, 1), Texts(parsed, 1));
        for (int i = 0; i < files.size(); ++i) {
            QCOMPARE(Item(served, i)["href"].toString(), QStringLiteral("http://192.0.2.7:8080/") + files[i]);
            QCOMPARE(Item(served, i)["published"].toInteger(), Item(parsed, i)["published"].toInteger());
        }

        // A file deleted drops out; a new one, rendered now, comes first; a file written again
        // under its old name is a new episode.
        QVERIFY(QFile::remove(path("A_single_1.wav")));
        QVERIFY(CopyAs(spokenFile("Short_1.mp3"), path("Later_1.mp3"), base.addSecs(600)));
        QVERIFY(CopyAs(spokenFile("Short_1.mp3"), path("First_thread_1.mp3"), base.addSecs(-3 * 3600 + 60)));
        QCOMPARE(again.Update({{"Later_1.mp3", "Later", "alt.test", {"Ann"}, 1, base.addSecs(600)}}), QString());
        const QJsonObject later = Parse(again.FeedPath());
        QVERIFY2(!later["bozo"].toBool(), qPrintable(later["error"].toString()));
        QCOMPARE(Texts(later, 0), (QStringList{"Later", "Window_thread_1.mp3", cleanTricky, "First thread"}));
        QCOMPARE(Ids(later).mid(1, 2), ids.mid(0, 2));
        QVERIFY(Ids(later)[3] != ids[3]);
        QCOMPARE(Item(later, 3)["length"].toInteger(), QFileInfo(path("First_thread_1.mp3")).size());
        QVERIFY(qAbs(DurationSeconds(Item(later, 3)["duration"].toString()) - Item(later, 3)["real"].toDouble()) <= 1.0);
    }

    // A feed.xml that is damaged, or is not Vorlix's, is kept aside byte for byte and the feed
    // is made again from the files, with the guids it had.
    void damagedOrForeignFeedKeptAndRebuilt()
    {
        QTemporaryDir dir;
        const auto path = [&](const QString& name) { return dir.filePath(name); };
        QVERIFY(CopyAs(spokenFile("First_thread_1.mp3"), path("First_thread_1.mp3"), base.addSecs(-60)));
        QVERIFY(CopyAs(spokenFile("A_single_1.wav"), path("A_single_1.wav"), base));
        TPodcastFeed feed(dir.path());
        QCOMPARE(feed.Update({{"First_thread_1.mp3", "First thread", "comp.lang.misc", {"Eve"}, 2, base.addSecs(-60)}}),
                 QString());
        const QJsonObject before = Parse(feed.FeedPath());
        QCOMPARE(before["items"].toArray().size(), 2);

        const QByteArray whole = ReadAll(feed.FeedPath());
        const QByteArray truncated = whole.left(whole.size() * 2 / 3);
        const QByteArray atom = "<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>Other</title>"
                                "<entry><title>x</title></entry></feed>";
        // Well-formed RSS of another program, listing a file of the folder.
        const QByteArray foreign = "<rss version=\"2.0\"><channel><title>Mine</title><item><title>Mine</title>"
                                   "<enclosure url=\"A_single_1.wav\" length=\"1\" type=\"audio/wav\"/></item></channel></rss>";
        const struct {
            QByteArray Content;
            QString Copy;
            QString Why;
        } cases[] = {{truncated, "feed-damaged.xml", "Premature end of document"},
                     {atom, "feed-damaged-2.xml", "it is not an RSS feed"},
                     {foreign, "feed-damaged-3.xml", "it was not written by Vorlix"},
                     {QByteArray(), "feed-damaged-4.xml", "Premature end of document"}};
        for (const auto& c : cases) {
            QVERIFY(WriteAll(feed.FeedPath(), c.Content));
            TPodcastFeed reread(dir.path());
            QCOMPARE(reread.Update({}), QString());
            QCOMPARE(reread.Warnings().size(), 1);
            QVERIFY2(reread.Warnings()[0].startsWith("feed.xml could not be read (") && reread.Warnings()[0].contains(c.Why)
                         && reread.Warnings()[0].endsWith("; it is kept as " + c.Copy
                                                          + " and the feed was made again from the audio files"),
                     qPrintable(reread.Warnings()[0]));
            QCOMPARE(ReadAll(path(c.Copy)), c.Content);
            const QJsonObject after = Parse(feed.FeedPath());
            QVERIFY2(!after["bozo"].toBool(), qPrintable(after["error"].toString()));
            QCOMPARE(Ids(after), Ids(before));
        }
        // The first copy is still there as it was.
        QCOMPARE(ReadAll(path("feed-damaged.xml")), truncated);
        // The feed made again reads the tags: the MP3's title, the WAV's name.
        QCOMPARE(Titles(Parse(feed.FeedPath())), (QStringList{"A_single_1", "First thread"}));

        // On a full disk the old feed stays as it was, damaged or not, and the caller is told.
        QTemporaryDir mountPoint;
        TestSupport::TSmallDisk disk(mountPoint.path(), "1m");
        if (!disk.Mounted())
            QSKIP("A small file system cannot be mounted here (needs root)");
        const QString small = mountPoint.path();
        QVERIFY(CopyAs(spokenFile("First_thread_1.mp3"), small + "/First_thread_1.mp3", base));
        TPodcastFeed full(small);
        QCOMPARE(full.Update({}), QString());
        const QByteArray written = ReadAll(full.FeedPath());
        QVERIFY(CopyAs(spokenFile("Q_A_1.mp3"), small + "/Q_A_1.mp3", base));
        disk.Fill();
        const QString failed = full.Update({});
        QVERIFY2(failed.startsWith("The podcast feed " + full.FeedPath() + " could not be written: "), qPrintable(failed));
        QCOMPARE(ReadAll(full.FeedPath()), written);
        QVERIFY(WriteAll(full.FeedPath(), truncated.left(100)));
        const QString uncopied = full.Update({});
        QVERIFY2(uncopied.startsWith(full.FeedPath() + " cannot be read (")
                     && uncopied.endsWith(") and no copy of it could be kept, so it was left as it is"),
                 qPrintable(uncopied));
        QCOMPARE(ReadAll(full.FeedPath()), truncated.left(100));
    }

    // Thousands of files: the first feed reads every file; an update after that takes well under
    // a second.
    void thousandsOfFiles()
    {
        QTemporaryDir dir;
        const int count = 3000;
        const QString source = spokenFile("Short_1.mp3");
        for (int i = 0; i < count; ++i)
            QVERIFY(CopyAs(source, dir.filePath(QStringLiteral("Thread_%1.mp3").arg(i, 5, 10, QLatin1Char('0'))),
                           base.addSecs(i)));
        TPodcastFeed feed(dir.path());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(feed.Update({}), QString());
        const qint64 firstMs = timer.elapsed();
        QVERIFY(CopyAs(source, dir.filePath("Newest_1.mp3"), base.addSecs(count)));
        QFile::remove(dir.filePath("Thread_00000.mp3"));
        timer.restart();
        QCOMPARE(feed.Update({{"Newest_1.mp3", "Newest", "alt.test", {"Ann"}, 1, base.addSecs(count)}}), QString());
        const qint64 updateMs = timer.elapsed();
        timer.restart();
        TPodcastFeed fresh(dir.path());
        QCOMPARE(fresh.Update({}), QString());
        const qint64 freshMs = timer.elapsed();
        qInfo("%d files: first feed %lld ms, update with one added %lld ms, update by a new object %lld ms", count,
              firstMs, updateMs, freshMs);
        QVERIFY2(updateMs < 1000 && freshMs < 1000, qPrintable(QStringLiteral("%1 ms, %2 ms").arg(updateMs).arg(freshMs)));
        const QJsonObject parsed = Parse(feed.FeedPath(), false);
        QVERIFY2(!parsed["bozo"].toBool(), qPrintable(parsed["error"].toString()));
        QCOMPARE(parsed["items"].toArray().size(), count);
        QCOMPARE(Item(parsed, 0)["title"].toString(), QStringLiteral("Newest"));
        QCOMPARE(Item(parsed, count - 1)["href"].toString(),
                 QUrl::fromLocalFile(dir.filePath("Thread_00001.mp3")).toString());
    }
};

VORLIX_TEST_MAIN_CORE(TestPodcastFeed)
#include "test_podcast_feed.moc"
