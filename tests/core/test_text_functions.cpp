#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "core/TextFunctions.h"

#include <QDateTime>
#include <QFile>
#include <ctime>

#include <random>

class TestTextFunctions : public QObject {
    Q_OBJECT
private slots:
    void splitToken()
    {
        QString t = "a,b";
        QCOMPARE(SplitToken(t, ","), QString("a"));
        QCOMPARE(t, QString("b"));
        t = "abc";
        QCOMPARE(SplitToken(t, ","), QString("abc"));
        QVERIFY(t.isEmpty());
        t = ",a";
        QCOMPARE(SplitToken(t, ","), QString());
        QCOMPARE(t, QString("a"));
        t = "";
        QCOMPARE(SplitToken(t, ","), QString());
        QVERIFY(t.isEmpty());
        // The first of several separators wins.
        t = "key=val~rest";
        QCOMPARE(SplitToken(t, "~="), QString("key"));
        QCOMPARE(t, QString("val~rest"));
    }

    void splitTokenSkip()
    {
        QString t = ",,a,b";
        QCOMPARE(SplitTokenSkip(t, ","), QString("a"));
        QCOMPARE(t, QString("b"));
        t = "  one two";
        QCOMPARE(SplitTokenSkip(t, " "), QString("one"));
        QCOMPARE(SplitTokenSkip(t, " "), QString("two"));
        QVERIFY(t.isEmpty());
        t = ",,,";
        QCOMPARE(SplitTokenSkip(t, ","), QString());
    }

    void inetDateForms_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected");
        const QDateTime nov6(QDate(2005, 11, 6), QTime(8, 49, 37));
        QTest::newRow("rfc") << "Sun, 06 Nov 2005 08:49:37 GMT" << nov6;
        QTest::newRow("offset") << "6 Nov 2005 08:49:37 -0800" << nov6;
        QTest::newRow("month first") << "Nov 6 08:49:37 2005" << nov6;
        QTest::newRow("dashes") << "06-Nov-2005 08:49:37" << nov6;
        QTest::newRow("two digit year") << "06 Nov 05 8:49" << QDateTime(QDate(1905, 11, 6), QTime(8, 49, 0));
        QTest::newRow("weekday no comma") << "Sun 06 Nov 2005 08:49:37 +0000" << nov6;
        QTest::newRow("lower case") << "sun, 06 nov 2005 08:49:37 (UTC)" << nov6;
        QTest::newRow("tabs") << "Sun,\t06 Nov 2005\t08:49:37" << nov6;
    }

    void inetDateForms()
    {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const auto d = InetDate(text);
        QVERIFY2(d.has_value(), qPrintable(text));
        QCOMPARE(d->ToQDateTime(), expected);
    }

    void inetDateRefusals()
    {
        const QString logPath = UtilsClass::GetLogBase() + ".dbg";
        QFile::remove(logPath);
        for (const QString& bad : {QString("Xyz, 06 Foo 2005 08:49:37"), QString(""), QString("31 Feb 2005 10:00"),
                                   QString("06 Nov 2005 25:00:00"), QString("06 Nov"), QString("garbage"),
                                   QString("1 Jan -2147483648 10:00"), QString("1 Jan 2147483647 10:00"),
                                   QString("Jan 1 10:00:00 -2147483648")}) {
            QVERIFY2(!InetDate(bad).has_value(), qPrintable(bad));
        }
        QFile log(logPath);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(log.readAll());
        QVERIFY(text.contains("InetDate Exception: Xyz, 06 Foo 2005 08:49:37"));
        QCOMPARE(text.count("InetDate Exception: "), 9);
    }

    // The fast reading of the usual date form never disagrees with InetDate: random texts
    // built from the usual form's pieces and from near misses are either left to InetDate
    // or read to the same second, and the usual forms themselves are read fast.
    void inetDateCommonAgreesWithInetDate()
    {
        std::mt19937 rng(5151u);
        const QStringList days{"Wed, ", "wed, ", "Sun,  ", "Wednesday, ", "Wed ", "Xyz, ", "Thu: ", ""};
        const QStringList dayNumbers{"9", "09", "31", "29", "0", "123", "9x", ""};
        const QStringList monthNames{"Dec", "dec", "DEC", "Feb", "Decx", "Foo", "-Nov-", "Nov"};
        const QStringList years{"2026", "1999", "26", "20261", "-2005", "2026e5", "2000"};
        const QStringList times{"10:00:00", "10:00", "7:05:09", "23:59:59", "25:00:00", "10:00:00.5",
                                "10:0", "10 00", "10:00:00s", "00:00:00"};
        const QStringList tails{"", " +0000", " (UTC)", "+0000", " GMT", "  -0800 (PST)", "x"};
        auto pick = [&](const QStringList& l) { return l.at(int(rng() % unsigned(l.size()))); };
        int fast = 0;
        for (int i = 0; i < 20000; ++i) {
            const QString text = pick(days) + pick(dayNumbers) + QLatin1Char(' ') + pick(monthNames)
                + QLatin1Char(' ') + pick(years) + QLatin1Char(' ') + pick(times) + pick(tails);
            const std::optional<TDateTime> quick = InetDateCommon(text.toLatin1());
            if (!quick)
                continue;
            ++fast;
            const std::optional<TDateTime> full = InetDate(text);
            QVERIFY2(full.has_value(), qPrintable(text));
            QCOMPARE(quick->ToQDateTime(), full->ToQDateTime());
        }
        QVERIFY(fast > 200);
        for (const char* usual : {"Wed, 09 Dec 2026 10:00:00 +0000", "9 Dec 2026 10:00", "Sun, 1 Feb 2026 07:05:09 GMT"})
            QVERIFY2(InetDateCommon(usual).has_value(), usual);
    }

    void dateZoneOffsets_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("offset"); // seconds east of UTC; -1 for none
        QTest::newRow("east") << QByteArray("Mon, 02 Mar 2026 09:00:00 +0900") << 9 * 3600;
        QTest::newRow("west with comment") << QByteArray("1 Mar 2026 20:30:00 -0500 (EST)") << -5 * 3600;
        QTest::newRow("half hour") << QByteArray("2 Mar 2026 09:00 +0530") << 5 * 3600 + 1800;
        QTest::newRow("GMT") << QByteArray("Sun, 06 Nov 2005 08:49:37 GMT") << 0;
        QTest::newRow("PDT lower case") << QByteArray("6 Nov 2005 08:49:37 pdt") << -7 * 3600;
        QTest::newRow("no zone") << QByteArray("06-Nov-2005 08:49:37") << -1;
        QTest::newRow("month first, year after the time") << QByteArray("Nov 6 08:49:37 2005") << -1;
        QTest::newRow("unknown name") << QByteArray("6 Nov 2005 08:49:37 XYZ") << -1;
        QTest::newRow("offset out of range") << QByteArray("6 Nov 2005 08:49:37 +2460") << -1;
        QTest::newRow("offset too long") << QByteArray("6 Nov 2005 08:49:37 +09000") << -1;
        QTest::newRow("no time") << QByteArray("6 Nov 2005 +0900") << -1;
    }
    void dateZoneOffsets()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, offset);
        const std::optional<int> z = DateZoneOffset(text);
        QCOMPARE(z.value_or(-1), offset);
    }

    // Under a zone with summer time, moving a date from any zone to local time agrees with
    // the system's own conversion, across the changes of summer time too.
    void zoneToLocalAgreesWithTheSystem()
    {
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
        tzset();
        std::mt19937 random(15);
        std::uniform_int_distribution<qint64> moment(QDateTime(QDate(1990, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch(),
                                                     QDateTime(QDate(2035, 1, 1), QTime(0, 0), Qt::UTC).toSecsSinceEpoch());
        std::uniform_int_distribution<int> quarterHours(-12 * 4, 14 * 4);
        QList<qint64> moments;
        for (int i = 0; i < 3000; ++i)
            moments << moment(random);
        // Around the change to summer time and back in 2026 (01:00 UTC), minute by minute.
        const qint64 spring = QDateTime(QDate(2026, 3, 29), QTime(1, 0), Qt::UTC).toSecsSinceEpoch();
        const qint64 autumn = QDateTime(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC).toSecsSinceEpoch();
        for (int m = -30; m <= 30; ++m)
            moments << spring + m * 60 << autumn + m * 60;
        for (qint64 utc : moments) {
            const int offset = quarterHours(random) * 900;
            const QDateTime written = QDateTime::fromSecsSinceEpoch(utc, Qt::UTC).addSecs(offset);
            const TDateTime asWritten = *TDateTime::Encode(written.date().year(), written.date().month(),
                                                           written.date().day(), written.time().hour(),
                                                           written.time().minute(), written.time().second());
            const TDateTime expected = TDateTime::FromQDateTime(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC));
            QCOMPARE(ZoneToLocal(asWritten, offset).ToText(), expected.ToText());
            QVERIFY(std::abs(ZoneToLocal(asWritten, offset).Value - expected.Value) < 1e-9);
        }
        if (oldTz.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", oldTz);
        tzset();
    }

    void dateTextRoundTrip()
    {
        const TDateTime d = *TDateTime::Encode(2026, 12, 9, 13, 5, 42);
        QCOMPARE(d.ToQDateTime(), QDateTime(QDate(2026, 12, 9), QTime(13, 5, 42)));
        const auto back = TDateTime::FromText(d.ToText());
        QVERIFY(back.has_value());
        QCOMPARE(back->ToQDateTime(), d.ToQDateTime());
        QCOMPARE(TDateTime::FromText("2026-12-09T13:05:42")->ToQDateTime(), d.ToQDateTime());
        QVERIFY(!TDateTime::FromText("not a date").has_value());
        // Day 0 is 1899-12-30.
        QCOMPARE(TDateTime(0.5).ToQDateTime(), QDateTime(QDate(1899, 12, 30), QTime(12, 0)));
    }
};

VORLIX_TEST_MAIN_CORE(TestTextFunctions)
#include "test_text_functions.moc"
