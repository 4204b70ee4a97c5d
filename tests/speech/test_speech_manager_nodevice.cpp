// The speech manager on a poor machine: no sound server, and eSpeak NG without its data. The
// Flite voices still load, speaking aloud is refused with the no-device message, and speaking
// into a file still works.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include "core/RegistryUnit.h"
#include "speech/SpeechAPIUnit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QDir>
#include <QTemporaryDir>

class TestSpeechManagerNoDevice : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        TestSupport::PrepareEnvironment();
        // A server address where nothing answers.
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + dir.filePath(QStringLiteral("no-server"))));
        QDir(dir.path()).mkpath(QStringLiteral("no-espeak-data"));
        qputenv("ESPEAK_DATA_PATH", QFile::encodeName(dir.filePath(QStringLiteral("no-espeak-data"))));
    }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    void aloudRefusedFilesWritten()
    {
        TScopedScriptedDialogs dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        TBaseTTS tts;
        tts.SetShowExceptionDialogs(false);
        tts.InitializeAll(store);
        // The engine that failed is dropped; the other one speaks.
        QVERIFY(!tts.Sapi5Adapter);
        QVERIFY(tts.Sapi4Adapter);
        QVERIFY(tts.Voices.Count() > 0);
        QVERIFY(!tts.HasEngineApi(QStringLiteral("Sapi5")));
        TBaseVoiceClass* voice = tts.Voices.FindById(tts.DefaultVoiceID);
        QVERIFY(voice);
        QCOMPARE(voice->Engine->Api, QStringLiteral("Sapi4"));
        try {
            tts.Speak2(voice, QStringLiteral("Nobody hears this."));
            QFAIL("speaking aloud without a device was not refused");
        } catch (const EttsNoSoundCard& e) {
            QCOMPARE(e.message(), QStringLiteral("A sound card is not detected"));
        }
        QCOMPARE(int(tts.State), int(tsIdle));
        QVERIFY(!voice->Adapter->Active);
        QVERIFY(dialogs.Shown.empty());

        int finished = 0;
        tts.OnSpeechEvent = [&finished](TBaseTTS*, unsigned char code, const QString&) { finished += code == 6; };
        tts.OutputMode = 1;
        tts.OutputDir = dir.path();
        tts.SetOutputFile(QStringLiteral("offline"));
        tts.Speak2(voice, QStringLiteral("Written without a sound card."));
        QVERIFY(TestSupport::WaitFor([&] { return finished == 1; }, 30000));
        QVERIFY(ReadWav(dir.filePath(QStringLiteral("offline.wav"))).Seconds() > 0.5);
    }
};

VORLIX_TEST_MAIN_CORE(TestSpeechManagerNoDevice)
#include "test_speech_manager_nodevice.moc"
