#include "TestSupport.h"

#include "NewsCorpus.h"

#include "news/ArticleUnit.h"
#include "news/NewsStore.h"
#include "core/TextFiles.h"

#include "core/BaseUtils.h"

#include <QFile>
#include <QLocale>

#include <csignal>
#include <sys/resource.h>

namespace {
std::unique_ptr<TArticleClass> rec(int number, const QString& id, const QString& subject, const QString& refs = {},
                                   double date = 46000.5)
{
    auto r = std::make_unique<TArticleClass>();
    r->Number = number;
    r->MessageID = id;
    r->Subject = subject;
    r->From = QStringLiteral("Ann");
    r->References = refs;
    r->Date = TDateTime(date);
    return r;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString logText()
{
    return QString::fromUtf8(readAll(UtilsClass::GetLogBase() + QStringLiteral(".dbg")));
}
}

class TestArticleFile : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom)); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void recordLineFormatAndParse()
    {
        // The example line of a new reply marked for speaking, in a day-month-year locale.
        TArticleClass a;
        a.Number = 1043;
        a.SetReadState(1);
        a.SetSpeakMark(1);
        a.MessageID = "<msg43>";
        a.Subject = "Re: speed";
        a.From = "Ann";
        a.Date = *TDateTime::Encode(2026, 12, 8, 9, 45, 12);
        a.References = "<msg7> <msg12>";
        const QString line = "1043|1|1|0|0|<msg43>|Re: speed|Ann|08/12/2026 09:45:12|<msg7> <msg12>|0";
        QCOMPARE(a.FormatRecord(), line);

        TArticleClass b;
        b.ParseRecord(line);
        QCOMPARE(b.FormatRecord(), line);
        QCOMPARE(b.Style, quint8(1));
        QCOMPARE(b.Date.ToQDateTime(), QDateTime(QDate(2026, 12, 8), QTime(9, 45, 12)));

        // Midnight drops the time; placeholders keep their number and author.
        TArticleClass p;
        p.Number = TArticleClass::PlaceholderNumber;
        p.MessageID = "<gone>";
        p.Subject = "speed";
        p.From = "????";
        p.Date = *TDateTime::Encode(2026, 1, 2);
        p.Watch = 1;
        QCOMPARE(p.FormatRecord(), QString("-999|0|0|0|0|<gone>|speed|????|02/01/2026||1"));
        TArticleClass p2;
        p2.ParseRecord(p.FormatRecord());
        QCOMPARE(p2.Date.Value, p.Date.Value);
        QCOMPARE(p2.Watch, 1);

        // Ten fields: Watch stays 0; a non-numeric eleventh field is ignored too.
        TArticleClass c;
        c.ParseRecord("7|2|0|1|3|<id7>|Subj|Bob|08/12/2026 10:00:00|<r1>");
        QCOMPARE(c.Watch, 0);
        QCOMPARE(c.SpeakMark, 2);
        QCOMPARE(c.Expanded, 1);
        QCOMPARE(c.FileCounter, 3);
        QCOMPARE(c.References, QString("<r1>"));
        TArticleClass d;
        d.ParseRecord("7|0|0|0|0|<id7>|Subj|Bob|08/12/2026 10:00:00|<r1>|x");
        QCOMPARE(d.Watch, 0);

        // The same texts in the C locale ("d MMM yyyy").
        QLocale::setDefault(QLocale::c());
        QCOMPARE(a.FormatRecord(), QString("1043|1|1|0|0|<msg43>|Re: speed|Ann|8 Dec 2026 09:45:12|<msg7> <msg12>|0"));
        TArticleClass e;
        e.ParseRecord(a.FormatRecord());
        QCOMPARE(e.Date.Value, a.Date.Value);
    }

    void markRules()
    {
        TArticleClass a;
        a.SetReadState(1);
        a.SetSpeakMark(2);
        QCOMPARE(a.ReadState, 0);
        QCOMPARE(a.Style, quint8(0));
        a.SetReadState(2);
        a.SetSpeakMark(2);
        QCOMPARE(a.ReadState, 2); // only a new article becomes read
        a.SpeakMark = 0;
        a.SetReadState(1);
        a.CycleSpeakMark();
        QCOMPARE(a.SpeakMark, 1);
        QCOMPARE(a.ReadState, 1);
        a.CycleSpeakMark();
        QCOMPARE(a.SpeakMark, 2);
        QCOMPARE(a.ReadState, 0);
        a.CycleSpeakMark();
        QCOMPARE(a.SpeakMark, 0);
        a.SpeakMark = 7;
        a.CycleSpeakMark();
        QCOMPARE(a.SpeakMark, 7);
        a.ToggleWatch();
        QCOMPARE(a.Watch, 1);
        a.ToggleWatch();
        QCOMPARE(a.Watch, 0);
        a.Watch = 5;
        a.ToggleWatch();
        QCOMPARE(a.Watch, 5);
        a.SetReadState(2);
        a.SetReadState(9);
        QCOMPARE(a.ReadState, 9);
        QCOMPARE(a.Style, quint8(2)); // other values leave the style alone

        TArticleClass top;
        TArticleClass reply;
        reply.Root = &top;
        reply.NextFileCounter();
        reply.NextFileCounter();
        QCOMPARE(top.FileCounter, 2);
        QCOMPARE(reply.FileCounter, 0);
    }

    void addLinksAndRefusesDuplicates()
    {
        TArticleList list;
        TArticleClass* top = list.Add(rec(1, "<t>", "Topic"));
        QVERIFY(top);
        QCOMPARE(top->Root, top);
        TArticleClass* reply = list.Add(rec(2, "<r>", "Re: Topic", "<t> <x>"));
        QCOMPARE(reply->Root, top);
        QCOMPARE(reply->RootNumber, 1);
        TArticleClass* orphan = list.Add(rec(3, "<o>", "Re: Other", "<unknown>"));
        QCOMPARE(orphan->Root, orphan);
        QVERIFY(!list.Add(rec(4, "<t>", "Again")));
        QVERIFY(!list.Add(rec(5, "<r>", "Again", "<t>")));
        QCOMPARE(list.Count(), 3);

        // A placeholder is filled in when its article arrives for real.
        auto ph = rec(TArticleClass::PlaceholderNumber, "<p>", "Lost");
        ph->From = "????";
        TArticleClass* p = list.Add(std::move(ph));
        int changed = 0;
        list.OnRecordChanged = [&](TArticleList*, TArticleClass* r) {
            QCOMPARE(r, p);
            ++changed;
        };
        QVERIFY(!list.Add(rec(77, "<p>", "Lost found", {}, 45990.0)));
        QCOMPARE(changed, 1);
        QCOMPARE(list.Count(), 4);
        QCOMPARE(p->Number, 77);
        QCOMPARE(p->From, QString("Ann"));
        QCOMPARE(p->Subject, QString("Lost found"));

        // Sorting follows the date of each record's root, then the number.
        TArticleList s;
        s.Add(rec(10, "<late>", "Late", {}, 46010));
        s.Add(rec(11, "<early>", "Early", {}, 46001));
        s.Add(rec(12, "<lr>", "Re: Late", "<late>", 46002)); // its root is late
        s.Add(rec(9, "<same>", "Same day", {}, 46001));
        s.Sort();
        QStringList order;
        for (int i = 0; i < s.Count(); ++i)
            order << s.At(i)->MessageID;
        QCOMPARE(order, QStringList({"<same>", "<early>", "<late>", "<lr>"}));

        QCOMPARE(s.RemoveIf([](TArticleClass* r) { return r->MessageID == "<late>"; }), 1);
        QCOMPARE(s.FindByMessageID("<lr>")->Root, s.FindByMessageID("<lr>"));
        QVERIFY(!s.FindByMessageID("<late>"));
    }

    void separatorsNeverBreakARecord()
    {
        TNewsStore servers;
        TConfigClass* server = servers.AddServerEntry("news.example", {}, {}, false, "260101000000");
        TConfigClass* g = servers.AddGroupEntry(server, "comp.test", "260101000001");
        TArticleList* list = g->EnsureArticles();
        auto a = rec(5, "<a|b\r\nc>", "Pipes | and\nlines\r\nhere|", "<x|y>\n<z>");
        a->From = "Eve|\rMallory";
        list->Add(std::move(a));
        list->Add(rec(6, "<plain>", "Plain"));
        list->SaveFromList();
        QCOMPARE(g->Caption(), QString("comp.test (0/2)"));

        const QByteArray raw = readAll(g->FilePath());
        QCOMPARE(raw.count("\r\n"), 2);
        const QList<QByteArray> lines = raw.split('\n');
        QCOMPARE(lines.at(0).count('|'), 10);
        QCOMPARE(QString::fromUtf8(lines.at(0)),
                 QString::fromUtf8("5|0|0|0|0|<a\u00A6b c>|Pipes \u00A6 and lines here\u00A6|Eve\u00A6 Mallory|"
                                   "09/12/2025 12:00:00|<x\u00A6y> <z>|0\r"));

        TArticleList again(g);
        QVERIFY(again.LoadFromFile(g->FilePath()));
        QCOMPARE(again.Count(), 2);
        QCOMPARE(again.At(0)->Subject, QString::fromUtf8("Pipes \u00A6 and lines here\u00A6"));
        QCOMPARE(again.At(0)->From, QString::fromUtf8("Eve\u00A6 Mallory"));
        QCOMPARE(again.At(1)->MessageID, QString("<plain>"));
        // The record in memory was cleaned the same way on the way in, so both agree.
        QCOMPARE(list->At(0)->FormatRecord(), again.At(0)->FormatRecord());

        // A file damaged with lone carriage returns inside its fields reads them as blanks,
        // as if the record had been added, and shared texts stay apart from the damaged ones.
        QFile damagedFile(g->FilePath());
        QVERIFY(damagedFile.open(QIODevice::WriteOnly));
        damagedFile.write("8|0|0|0|0|<c\rr>|Same|Ann\rLee|09/12/2025 12:00:00|<p>\r<q>|0\r\n"
                  "9|0|0|0|0|<d>|Same|Ann Lee|09/12/2025 12:00:00|<p> <q>|0\r\n");
        damagedFile.close();
        TArticleList damaged(g);
        QVERIFY(damaged.LoadFromFile(g->FilePath()));
        QCOMPARE(damaged.Count(), 2);
        QCOMPARE(damaged.At(0)->MessageID, QString("<c r>"));
        QCOMPARE(damaged.At(0)->From, QString("Ann Lee"));
        QCOMPARE(damaged.At(0)->References, QString("<p> <q>"));
        QCOMPARE(damaged.FindByMessageID(QString("<c r>")), damaged.At(0));
        QCOMPARE(damaged.At(1)->From, QString("Ann Lee"));
        QCOMPARE(damaged.At(1)->Root, damaged.At(1));
    }

    // A line that does not parse becomes no record, is logged, and goes back into the file
    // unchanged at every save: its article is never downloaded again, so dropping it would
    // lose it for good.
    void damagedLinesAreKeptAsTheyAre()
    {
        TNewsStore servers;
        TConfigClass* server = servers.AddServerEntry("news.example", {}, {}, false, "260101000000");
        TConfigClass* g = servers.AddGroupEntry(server, "comp.damaged", "260101000003");
        const QString path = g->FilePath();
        const QStringList bad = {"2|0|1|0|0|<two>|Two|Ann|yesterday at noon||0",
                                 "x|0|1|0|0|<three>|Thr\u00E9e|Ann|08/12/2026 09:00:00||0"};
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("1|0|1|0|0|<one>|One|Ann|08/12/2026 09:00:00||0\r\n" + bad[0].toUtf8() + "\r\n"
                + bad[1].toUtf8() + "\n \r\n4|0|1|0|0|<four>|Four|Ann|08/12/2026 10:00:00|<one>\n");
        f.close();
        TArticleList& list = *g->EnsureArticles();
        QCOMPARE(list.Count(), 2);
        QCOMPARE(list.At(1)->MessageID, QString("<four>"));
        QCOMPARE(list.At(1)->Root, list.At(0));
        QCOMPARE(list.UnreadableLines(), bad); // the blank line held nothing
        const QStringList log = logText().split('\n');
        int at = -1;
        for (int i = 0; i < log.size(); ++i) {
            if (log[i].contains("ParseRecord Exception: ") && log[i].contains("yesterday at noon")) {
                at = i;
                break;
            }
        }
        QVERIFY(at >= 0);
        QVERIFY(log[at + 1].endsWith(bad[0]));
        QVERIFY(log[at + 2].contains("LoadArticles_1 Parse Exception: "));
        QVERIFY(logText().contains("'x' is not a valid integer"));
        QVERIFY(logText().contains("2 unreadable lines of " + path + " are kept as they are"));

        // A new record and a save: the records first, then the kept lines byte for byte.
        list.Add(rec(5, "<five>", "Five"));
        list.SaveFromList();
        QCOMPARE(g->Caption(), QString("comp.damaged (2/3)"));
        const QByteArray saved = readAll(path);
        QVERIFY(saved.endsWith("|0\r\n" + bad[0].toUtf8() + "\r\n" + bad[1].toUtf8() + "\r\n"));
        QCOMPARE(saved.count("\r\n"), 5);
        // Read again, the same records and the same kept lines; saved again, the same bytes.
        TArticleList again(g);
        QVERIFY(again.LoadFromFile(path));
        QCOMPARE(again.Count(), 3);
        QCOMPARE(again.UnreadableLines(), bad);
        again.SaveFromList();
        QCOMPARE(readAll(path), saved);
        QVERIFY(!list.LoadFromFile(GetDataFolder() + "missing.chl"));
    }

    void largeFileReadsEveryLineExactly()
    {
        // Several megabytes, so lines run across the blocks the file is read in; texts
        // outside ASCII, one byte that is not UTF-8, a byte-order mark, both line ends.
        QStringList lines = MakeRealisticCorpusLines(30000, 99u);
        for (int i = 0; i < lines.size(); i += 7)
            lines[i].replace(QStringLiteral("Discussion"), QString::fromUtf8("Diskussion \u00FCber \U0001F600 Gr\u00FC\u00DFe"));
        TNewsStore servers;
        TConfigClass* server = servers.AddServerEntry("news.example", {}, {}, false, "260101000000");
        TConfigClass* g = servers.AddGroupEntry(server, "comp.large", "260101000002");
        const QString path = g->FilePath();
        WriteLinesAtomically(path, lines);
        const QByteArray written = readAll(path);
        {
            TArticleList list(g);
            QVERIFY(list.LoadFromFile(path));
            QCOMPARE(list.Count(), lines.size());
            // Records of one author or subject share their text.
            int shared = 0;
            for (int i = 1; i < list.Count(); ++i) {
                const TArticleClass* a = list.At(i);
                for (int j = std::max(0, i - 50); j < i; ++j) {
                    if (list.At(j)->From == a->From) {
                        QCOMPARE(list.At(j)->From.constData(), a->From.constData());
                        ++shared;
                    }
                }
            }
            QVERIFY(shared > 0);
            QVERIFY(QFile::remove(path));
            list.SaveFromList();
        }
        // Saved again, the file is the same to the byte.
        QCOMPARE(readAll(path), written);

        QByteArray raw = "\xEF\xBB\xBF" + written;
        raw.replace("\r\n", "\n");
        const qsizetype bad = raw.indexOf("Discussion", raw.size() / 2);
        raw[bad] = char(0xC3);
        raw.chop(1); // no line end after the last line
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(raw);
        f.close();
        TArticleList list;
        QVERIFY(list.LoadFromFile(path));
        const QStringList expected = QString::fromUtf8(raw).split('\n');
        QCOMPARE(list.Count(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            TArticleClass r;
            r.ParseRecord(expected[i]);
            QCOMPARE(list.At(i)->FormatRecord(), r.FormatRecord());
        }
        QFile::remove(path);
    }

    void failedSaveKeepsTheOldFile()
    {
        const QString path = GetDataFolder() + "atomic.chl";
        WriteLinesAtomically(path, {"old line"});
        QCOMPARE(readAll(path), QByteArray("old line\r\n"));

        // A file-size limit makes the write fail as a full disk would.
        QStringList big;
        for (int i = 0; i < 2000; ++i)
            big << QString(100, QChar('x'));
        rlimit saved{};
        QVERIFY(getrlimit(RLIMIT_FSIZE, &saved) == 0);
        auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 4096;
        QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
        bool raised = false;
        try {
            WriteLinesAtomically(path, big);
        } catch (const EInOutError& e) {
            raised = true;
            QVERIFY(e.message().contains(path));
        }
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(raised);
        QCOMPARE(readAll(path), QByteArray("old line\r\n"));
        QCOMPARE(QDir(GetDataFolder()).entryList({"atomic.chl*"}, QDir::Files | QDir::Hidden), QStringList({"atomic.chl"}));

        // A folder that does not exist cannot take the file: the error names it.
        QVERIFY_THROWS_EXCEPTION(EInOutError, WriteLinesAtomically(GetDataFolder() + "no/such/dir/x.chl", {"a"}));
    }

    void dataFolderAndCaption()
    {
        const QString folder = GetDataFolder();
        QVERIFY(folder.startsWith(UtilsClass::GetProgramFolder()));
        QVERIFY(folder.endsWith("/Files/"));
        QVERIFY(QDir(folder).exists());
        QCOMPARE(GroupCaption("comp.lang.misc", 12, 340), QString("comp.lang.misc (12/340)"));
    }
};

VORLIX_TEST_MAIN_CORE(TestArticleFile)
#include "test_article_file.moc"
