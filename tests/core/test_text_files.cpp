// Saving on a full disk: every file the program writes whole goes through one helper, which
// must leave the old file untouched and name the file and the reason when the disk is full.
#include "TestSupport.h"

#include "core/TextFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TestTextFiles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::PrepareEnvironment(); }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    void fullDiskKeepsTheOldFile()
    {
        QTemporaryDir mountPoint;
        TestSupport::TSmallDisk disk(mountPoint.path(), "64k");
        if (!disk.Mounted())
            QSKIP("A small file system cannot be mounted here (needs root)");
        const QString config = mountPoint.filePath(QStringLiteral("Config.chl"));
        QStringList old;
        for (int i = 0; i < 100; ++i)
            old << QStringLiteral("NewsGroup|group.number.%1|0|-1|0|2601010000%1M").arg(i);
        WriteLinesAtomically(config, old);
        disk.Fill();
        QStringList bigger = old;
        for (int i = 0; i < 300; ++i)
            bigger << QStringLiteral("NewsGroup|another.group.%1|0|-1|0|2601010001%1M").arg(i);
        // Less than the file's write buffer holds: it reaches the disk only when flushed.
        const QStringList smaller = old.mid(0, 10);
        for (int attempt = 0; attempt < 4; ++attempt) {
            const QStringList& lines = attempt < 2 ? bigger : smaller;
            QString reason;
            if (attempt % 2 == 0) {
                try {
                    WriteLinesAtomically(config, lines);
                    QFAIL("a save on a full disk reported success");
                } catch (const EInOutError& e) {
                    reason = e.message();
                }
            } else {
                QVERIFY(!TryWriteLinesAtomically(config, lines, reason));
            }
            QVERIFY2(reason.contains(QStringLiteral("No space left on device")), qPrintable(reason));
            QVERIFY2(attempt % 2 == 1 || reason.contains(config), qPrintable(reason));
            QCOMPARE(ReadLines(config), old);
            // No temporary file is left behind.
            QCOMPARE(QDir(mountPoint.path()).entryList(QDir::Files).size(), 2);
        }
    }
};

VORLIX_TEST_MAIN_CORE(TestTextFiles)
#include "test_text_files.moc"
