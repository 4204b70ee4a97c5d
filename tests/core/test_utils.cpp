#include "TestSupport.h"
#include "core/BaseUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <unistd.h>
#include <QLocale>

namespace {
QString readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString("<missing>");
}
void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}
}

class TestUtils : public QObject {
    Q_OBJECT
private slots:
    void homeFolderFollowsEnvironment()
    {
        const QString home = UtilsClass::GetProgramFolder();
        QVERIFY(home.endsWith('/'));
        QCOMPARE(QDir(home).absolutePath(), QDir(qEnvironmentVariable("VORLIX_HOME")).absolutePath());
        QCOMPARE(UtilsClass::GetLogBase(), home + "Vorlix");
    }

    void logLinesAndRotation()
    {
        const QString base = UtilsClass::GetLogBase();
        for (const char* s : {".dbg", "1.dbg", "2.dbg", "3.dbg"})
            QFile::remove(base + s);
        UtilsClass::Log("first line");
        UtilsClass::Log("second line");
        const QStringList lines = readAll(base + ".dbg").split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].endsWith(" - first line"));
        QVERIFY(lines[1].endsWith(" - second line"));

        // .dbg, 1.dbg and 2.dbg present: each moves one generation down, no current log remains.
        writeFile(base + ".dbg", "current");
        writeFile(base + "1.dbg", "one");
        writeFile(base + "2.dbg", "two");
        UtilsClass::RotateLogs();
        QVERIFY(!QFile::exists(base + ".dbg"));
        QCOMPARE(readAll(base + "1.dbg"), QString("current"));
        QCOMPARE(readAll(base + "2.dbg"), QString("one"));
        QCOMPARE(readAll(base + "3.dbg"), QString("two"));

        // With 1.dbg missing, 2.dbg keeps its content while 3.dbg receives a copy.
        QFile::remove(base + "1.dbg");
        writeFile(base + "2.dbg", "two again");
        writeFile(base + ".dbg", "now");
        UtilsClass::RotateLogs();
        QCOMPARE(readAll(base + "3.dbg"), QString("two again"));
        QCOMPARE(readAll(base + "2.dbg"), QString("two again"));
        QCOMPARE(readAll(base + "1.dbg"), QString("now"));
    }

    // A log that passes the size limit is rotated while the program runs.
    void logRotatesAtItsSizeLimit()
    {
        const QString base = UtilsClass::GetLogBase();
        for (const char* s : {".dbg", "1.dbg", "2.dbg", "3.dbg"})
            QFile::remove(base + s);
        const qint64 limit = UtilsClass::MaxLogBytes;
        UtilsClass::MaxLogBytes = 4096;
        for (int i = 0; i < 400; ++i)
            UtilsClass::Log(QStringLiteral("line %1 of a long session").arg(i));
        UtilsClass::MaxLogBytes = limit;
        QVERIFY(QFileInfo(base + ".dbg").size() <= 4096);
        QVERIFY(QFileInfo(base + "1.dbg").size() <= 4096);
        QVERIFY(QFileInfo::exists(base + "3.dbg"));
        QVERIFY(readAll(base + ".dbg").contains("line 399 of a long session"));
        QVERIFY(readAll(base + "1.dbg").split('\n', Qt::SkipEmptyParts).size() > 10);
    }

    void logIntoUnwritableFolderIsSilent()
    {
        if (geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QByteArray old = qgetenv("VORLIX_HOME");
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        qputenv("VORLIX_HOME", dir.path().toUtf8());
        UtilsClass::Log("lost line");
        QVERIFY(!QFile::exists(dir.path() + "/Vorlix.dbg"));
        qputenv("VORLIX_HOME", old);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void safeStrToFloat()
    {
        const QLocale old;
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(UtilsClass::SafeStrToFloat("1.5"), 1.5);
        QCOMPARE(QLocale().decimalPoint(), QString(","));
        QLocale::setDefault(old);
        const QString logPath = UtilsClass::GetLogBase() + ".dbg";
        QFile::remove(logPath);
        QCOMPARE(UtilsClass::SafeStrToFloat("abc"), 0.0);
        const QStringList lines = readAll(logPath).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].contains("SafeStrToFloat Exception: "));
    }

    void deploymentOverrides()
    {
        const QString path = qEnvironmentVariable("VORLIX_HOME") + "/deployment.ini";
        writeFile(path, "[General]\nVerbose=\"TRUE \"\nPartial=fal\nWord=yes\nCount= 42 \nBadCount=4x\n");
        UtilsClass::SetDeploymentFile(path);
        QCOMPARE(UtilsClass::GetDeploymentBool("verbose", false), true);
        QCOMPARE(UtilsClass::GetDeploymentBool("Partial", true), false);
        QCOMPARE(UtilsClass::GetDeploymentBool("Word", true), true);
        QCOMPARE(UtilsClass::GetDeploymentBool("Word", false), false);
        QCOMPARE(UtilsClass::GetDeploymentBool("Missing", true), true);
        QCOMPARE(UtilsClass::GetDeploymentInt("Count", 7), 42);
        QCOMPARE(UtilsClass::GetDeploymentInt("BadCount", 7), 7);
        QCOMPARE(UtilsClass::GetDeploymentValue("Nothing"), QString());
        UtilsClass::SetDeploymentFile(QString());
        QCOMPARE(UtilsClass::GetDeploymentInt("Count", 7), 7);
    }

    void userName()
    {
        const QString name = UtilsClass::GetWindowsUserName();
        QVERIFY(!name.isEmpty());
        QVERIFY(!name.contains(' '));
        QVERIFY(name.size() <= 100);
    }
};

VORLIX_TEST_MAIN_CORE(TestUtils)
#include "test_utils.moc"
