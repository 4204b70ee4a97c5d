#include "TestSupport.h"
#include "core/BaseUtils.h"
#include "ScriptedDialogs.h"
#include "core/RegistryEnhanced.h"
#include "core/RegistryUnit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QSysInfo>

namespace {
// A section like the speech section: shared, list and real items.
class TestSection : public TBaseRegistryClass {
public:
    TestSection()
    {
        Section = "Vorlix\\BaseTTS";
        AddItem("TTS_DefaultVoiceID", rlShared, "TTS_DefaultVoiceID", "", rkString);
        AddItem("UDV", rlSection, "", QVariant(), rkList);
        AddItem("TTS_RealTimeValue", rlSection, "", 1.25, rkReal);
        AddItem("RootThing", rlRoot, "", 5, rkInteger);
        AddItem("Flag", rlSection, "", false, rkBoolean);
    }
};

QString rawIni()
{
    TRegistryEnhanced::Flush();
    QFile f(TRegistryEnhanced::SettingsFilePath());
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
}

class TestSettingsStore : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        TRegistryEnhanced::ResetStore();
        QFile::remove(TRegistryEnhanced::SettingsFilePath());
    }

    void firstRunDefaults()
    {
        TMyRegistryClass store;
        QVERIFY(!store.IsStartupSaved());
        store.LoadAll();
        QCOMPARE(store.GetValue("MsgHeaderHeight").toInt(), 311);
        QCOMPARE(store.GetValue("MsgPanelWidth").toInt(), 670);
        QCOMPARE(store.GetValue("MsgHeaderWidth1").toInt(), 341);
        QCOMPARE(store.GetValue("MsgsToRetrieve").toInt(), 100);
        QCOMPARE(store.GetValue("MsgDeleteDays").toInt(), 30);
        QCOMPARE(store.GetValue("AutoLoadNewsgroups").toBool(), true);
        QCOMPARE(store.GetValue("EmailAddress").toString(), QString());
        QCOMPARE(store.GetVersion(), QString("1.0"));
        QCOMPARE(store.NewsServer, QString());
        store.SetStartupSaved();
        QVERIFY(store.IsStartupSaved());
    }

    void valuesSurviveAndNamesIgnoreCase()
    {
        {
            TMyRegistryClass store;
            store.LoadAll();
            store.SetValue("msgstoretrieve", 250);
            store.SetValue("UserName", "Ann Example");
            store.NewsServer = "news.example.org";
            store.SaveAll();
        }
        TRegistryEnhanced::ResetStore(); // read back from the file, as a new run would
        const QString ini = rawIni();
        QVERIFY(ini.contains("[Software]") || ini.contains("Software"));
        QVERIFY(ini.contains("MsgsToRetrieve=250"));
        TMyRegistryClass store;
        store.LoadAll();
        QCOMPARE(store.GetValue("MsgsToRetrieve").toInt(), 250);
        QCOMPARE(store.GetValue("USERNAME").toString(), QString("Ann Example"));
        QCOMPARE(store.NewsServer, QString("news.example.org"));
        // A value whose name differs only in case is found and overwritten, not duplicated.
        TRegistryEnhanced reg("Software\\QuenradTech\\Vorlix");
        reg.WriteValue("msgstoretrieve", "300");
        QCOMPARE(reg.ReadValue("MSGSTORETRIEVE").toString(), QString("300"));
        QCOMPARE(rawIni().count("MsgsToRetrieve", Qt::CaseInsensitive), 1);
    }

    void unknownNameIsReported()
    {
        TScopedScriptedDialogs dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        QVERIFY(!store.GetValue("NoSuchThing").isValid());
        QCOMPARE(dialogs.LastText(), QString("No such registry item as name between equals =NoSuchThing="));
        QVERIFY(store.GetList("MsgsToRetrieve").isEmpty());
        QCOMPARE(dialogs.LastText(), QString("MsgsToRetrieve is not a StringList Item."));
    }

    void booleanTexts()
    {
        TRegistryEnhanced reg("Software\\QuenradTech\\Vorlix\\BaseTTS");
        TestSection s;
        for (const char* t : {"true", "TRUE", "True"}) {
            reg.WriteValue("Flag", t);
            s.LoadAll();
            QVERIFY2(s.GetValue("Flag").toBool(), t);
        }
        for (const char* t : {"yes", "1", "false", "truex"}) {
            reg.WriteValue("Flag", t);
            s.LoadAll();
            QVERIFY2(!s.GetValue("Flag").toBool(), t);
        }
    }

    void listItemsShrink()
    {
        TestSection s;
        s.LoadAll();
        s.GetList("UDV") = QStringList{"a", "b", "c"};
        s.SaveAll();
        TRegistryEnhanced listKey("Software\\QuenradTech\\Vorlix\\BaseTTS\\ListUDV");
        QCOMPARE(listKey.GetValueNames(), QStringList({"0", "1", "2"}));
        s.GetList("UDV") = QStringList{"only"};
        s.SaveAll();
        QCOMPARE(listKey.GetValueNames(), QStringList({"0"}));
        QCOMPARE(listKey.ReadValue("0").toString(), QString("only"));

        // Twelve entries come back in numeric, not alphabetical, order.
        QStringList many;
        for (int i = 0; i < 12; ++i)
            many << QString("entry %1").arg(i);
        s.GetList("UDV") = many;
        s.SaveAll();
        TestSection again;
        again.LoadAll();
        QCOMPARE(again.GetList("UDV"), many);
    }

    void sharedValuesAreSeededOnce()
    {
        TRegistryEnhanced root("Software\\QuenradTech");
        TestSection s;
        s.LoadAll();
        s.SetValue("TTS_DefaultVoiceID", "voice-a");
        s.SaveAll();
        QCOMPARE(root.ReadValue("TTS_DefaultVoiceID").toString(), QString("voice-a"));
        s.SetValue("TTS_DefaultVoiceID", "voice-b");
        s.SaveAll();
        QCOMPARE(root.ReadValue("TTS_DefaultVoiceID").toString(), QString("voice-a"));

        // A section value that is missing is taken from the shared root value.
        TRegistryEnhanced("Software\\QuenradTech\\Vorlix\\BaseTTS").DeleteValue("TTS_DefaultVoiceID");
        TestSection fresh;
        fresh.LoadAll();
        QCOMPARE(fresh.GetValue("TTS_DefaultVoiceID").toString(), QString("voice-a"));
        // Location 0 items live directly under the root key.
        QCOMPARE(root.ReadValue("RootThing").toString(), QString("5"));
    }

    void deploymentOverridesFillMissingValues()
    {
        const QString path = qEnvironmentVariable("VORLIX_HOME") + "/deployment-store.ini";
        {
            QSettings ini(path, QSettings::IniFormat);
            ini.setValue("MsgDeleteDays", "12");
        }
        UtilsClass::SetDeploymentFile(path);
        TMyRegistryClass store;
        store.LoadAll();
        QCOMPARE(store.GetValue("MsgDeleteDays").toInt(), 12);
        UtilsClass::SetDeploymentFile(QString());
    }

    void damagedValuesFallBackToDefaults()
    {
        TRegistryEnhanced reg("Software\\QuenradTech\\Vorlix");
        reg.WriteValue("MsgsToRetrieve", "lots");
        TRegistryEnhanced("Software\\QuenradTech\\Vorlix\\BaseTTS").WriteValue("TTS_RealTimeValue", "x1");
        TMyRegistryClass store;
        store.LoadAll();
        QCOMPARE(store.GetValue("MsgsToRetrieve").toInt(), 100);
        TestSection s;
        s.LoadAll();
        QCOMPARE(s.GetValue("TTS_RealTimeValue").toDouble(), 1.25);
        s.SetValue("TTS_RealTimeValue", 0.1 + 0.2);
        s.SaveAll();
        TestSection t;
        t.LoadAll();
        QCOMPARE(t.GetValue("TTS_RealTimeValue").toDouble(), 0.1 + 0.2);
    }

    void programValues()
    {
        QCOMPARE(ReadProgramValue("ShowTips"), QString());
        WriteProgramValue("ShowTips", "N");
        TRegistryEnhanced::ResetStore();
        QCOMPARE(ReadProgramValue("showtips"), QString("N"));
    }

    void writesAreAtomic()
    {
        TMyRegistryClass store;
        store.LoadAll();
        store.SaveAll();
        // Saving replaces the file as a whole; no temporary file is left behind.
        const QFileInfo info(TRegistryEnhanced::SettingsFilePath());
        const QStringList leftovers = info.dir().entryList({"settings.ini?*"}, QDir::Files);
        QVERIFY2(leftovers.isEmpty(), qPrintable(leftovers.join(',')));
        QVERIFY(info.size() > 0);
        // For its owner only, as Config.chl: the settings may hold logins.
        QCOMPARE(int(info.permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                                           | QFileDevice::WriteOther)),
                 0);
    }

    // On a full disk the save fails, says so with the file and the reason, and leaves the file
    // as it was; once there is room again the next save writes this session's values.
    void fullDiskKeepsTheFileAndSaysWhy()
    {
        const QString oldHome = qEnvironmentVariable("VORLIX_HOME");
        const QString home = oldHome + "/small-disk";
        TestSupport::TSmallDisk disk(home, "64k");
        if (!disk.Mounted())
            QSKIP("mounting a small tmpfs is not permitted here (needs root); the full-disk case is not run");
        TRegistryEnhanced::ResetStore();
        qputenv("VORLIX_HOME", home.toUtf8());
        struct Restore {
            QByteArray home;
            ~Restore()
            {
                TRegistryEnhanced::ResetStore();
                qputenv("VORLIX_HOME", home);
            }
        } restore{oldHome.toUtf8()};
        const QString path = TRegistryEnhanced::SettingsFilePath();
        QCOMPARE(path, home + "/settings.ini");

        TMyRegistryClass store;
        store.LoadAll();
        store.SetValue("UserName", "Ann");
        store.SaveAll();
        QCOMPARE(TRegistryEnhanced::LastSaveError(), QString());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray before = file.readAll();
        file.close();
        QVERIFY(before.contains("UserName=Ann"));

        disk.Fill();
        store.SetValue("UserName", "Bob");
        store.SetValue("MsgsToRetrieve", 321);
        store.SaveAll();
        QVERIFY(!TRegistryEnhanced::Flush());
        const QString expected = "The settings could not be saved to \"" + path
            + "\": No space left on device. The file keeps the settings saved before; this session's changes "
              "are written at the next save that succeeds.";
        QCOMPARE(TRegistryEnhanced::LastSaveError(), expected);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
        file.close();
        // No temporary or probe file is left behind.
        QCOMPARE(QDir(home).entryList({"*settings*"}, QDir::Files | QDir::Hidden), QStringList({"settings.ini"}));
        // In memory the values are this session's.
        QCOMPARE(store.GetValue("UserName").toString(), QString("Bob"));

        QVERIFY(QFile::remove(home + "/filler"));
        QVERIFY(TRegistryEnhanced::Flush());
        QCOMPARE(TRegistryEnhanced::LastSaveError(), QString());
        TRegistryEnhanced::ResetStore();
        TMyRegistryClass again;
        again.LoadAll();
        QCOMPARE(again.GetValue("UserName").toString(), QString("Bob"));
        QCOMPARE(again.GetValue("MsgsToRetrieve").toInt(), 321);
    }

    // A lock file left by a program that was killed does not hold the next start's saves.
    void staleLockIsCleanedUp()
    {
        TRegistryEnhanced::ResetStore();
        const QString path = TRegistryEnhanced::SettingsFilePath();
        QFile lock(path + ".lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        // A process id that does not run, on this host.
        lock.write("2147483600\nvorlix\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        lock.close();
        QElapsedTimer t;
        t.start();
        TMyRegistryClass store;
        store.LoadAll();
        store.SetValue("MsgsToRetrieve", 77);
        store.SaveAll();
        TRegistryEnhanced::Flush();
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!QFile::exists(path + ".lock"));
        TRegistryEnhanced::ResetStore();
        TMyRegistryClass again;
        again.LoadAll();
        QCOMPARE(again.GetValue("MsgsToRetrieve").toInt(), 77);
    }
};

VORLIX_TEST_MAIN_CORE(TestSettingsStore)
#include "test_settings_store.moc"
