// Without a sound server there is no output device: what the device window, the device
// check and both adapters do then. Files are still written.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedWindows.h"
#include "core/RegistryUnit.h"
#include "speech/PulseAudioOut.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "gui/speech/SoundCardError.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

class TestAudioNoDevice : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        // A server address where nothing answers.
        qputenv("PULSE_SERVER", QFile::encodeName("unix:" + dir.filePath(QStringLiteral("no-server"))));
    }

    void noDevices()
    {
        QElapsedTimer t;
        t.start();
        QCOMPARE(WaveOutGetNumDevs(), 0);
        QString err;
        QCOMPARE(WaveOutTestOpen(-1, &err), woError);
        QVERIFY(!err.isEmpty());
        TWaveOutCaps caps;
        QVERIFY(!WaveOutGetDevCaps(-1, caps));
        QVERIFY(!WaveOutGetDevCaps(0, caps));
        QCOMPARE(TPulseAudio::Instance().ServerProtocolVersion(), 0u);
        QVERIFY(t.elapsed() < 3000);
        // Each look retries the server; failed attempts leave no threads behind.
        const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
        const qsizetype before = threads();
        for (int i = 0; i < 20; ++i)
            QCOMPARE(WaveOutGetNumDevs(), 0);
        QVERIFY(threads() <= before + 1);
        // The device window stays empty and OK gives the default device.
        TScopedScriptedWindows d;
        d.DialogHandlers.push_back([](QDialog* dlg) {
            auto* f = qobject_cast<TAudioDeviceForm*>(dlg);
            if (!f || f->lstDevices->count() != 0)
                return int(QDialog::Rejected);
            f->btnOk->click();
            return f->result();
        });
        const auto r = TAudioDeviceForm::Execute(0);
        QVERIFY(r.first);
        QCOMPARE(r.second, -1);
    }

    void adaptersWithoutDevice()
    {
        TScopedScriptedWindows d;
        TMyRegistryClass main;
        TBaseVoiceRegistryClass store(main);
        TVoiceList voices;
        TEngineList engines;
        TSapi4 sapi4;
        sapi4.Store = &store;
        TSapi5 sapi5;
        sapi5.Store = &store;
        sapi4.SetAudioDevice(3); // ignored without devices
        QCOMPARE(sapi4.Tts->AudioDeviceID(), -1);
        sapi5.SetAudioDevice(3);
        QCOMPARE(sapi5.AudioDevice(), -1);
        sapi4.LoadVoices(voices, engines);
        sapi5.LoadVoices(voices, engines);
        store.LoadAll();
        TBaseVoiceClass* kal = voices.FindByName(QStringLiteral("Kal"));
        TBaseVoiceClass* en = voices.FindByName(QStringLiteral("English (America)"));
        QVERIFY(kal && en);
        for (TBaseVoiceClass* v : {kal, en}) {
            v->SetValue(QStringLiteral("Pitch"), NotSet);
            v->SetValue(QStringLiteral("Speed"), NotSet);
            v->SetValue(QStringLiteral("Volume"), NotSet);
        }
        // The device check of either adapter says why and returns false.
        const QStringList failed = {
            "No wave out devices available on system.",
            "Audio device check failed. \rVerify that the device you have selected is a valid audio device\r\rPlease contact Quenrad Support if you're having problems"};
        QVERIFY(!sapi4.CheckAudioDevice(-1));
        QCOMPARE(d.Texts(), failed);
        d.Clear();
        QVERIFY(!sapi5.CheckAudioDevice(-1));
        QCOMPARE(d.Texts(), failed);
        // Opening a Flite voice for speaking aloud fails at once.
        try {
            sapi4.Activate(kal);
            QFAIL("Activate without a device must fail");
        } catch (const ESpeechError& e) {
            QCOMPARE(e.message(), QStringLiteral("No wave out devices available on system."));
        }
        QVERIFY(!sapi4.Active);
        // An eSpeak NG text ends cancelled with the error reported, quickly and only once.
        int finished = 0;
        bool cancelled = false;
        QStringList errors;
        sapi5.OnFinished = [&](TSpeechAPI*, bool c) {
            ++finished;
            cancelled = c;
        };
        sapi5.OnError = [&](TSpeechAPI*, const QString& m) { errors << m; };
        sapi5.Activate(en);
        sapi5.PlayText(QStringLiteral("Nobody will hear this."));
        QVERIFY(TestSupport::WaitFor([&] { return finished > 0; }, 10000));
        QVERIFY(cancelled);
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().startsWith(QLatin1String("No sound server")));
        sapi5.SetActive(false);
        // Without OnError the message goes to an error box.
        d.Clear();
        sapi5.OnError = nullptr;
        finished = 0;
        sapi5.Activate(en);
        sapi5.PlayText(QStringLiteral("Again nobody."));
        QVERIFY(TestSupport::WaitFor([&] { return finished > 0; }, 10000));
        QCOMPARE(d.Shown.size(), size_t(1));
        QCOMPARE(d.Shown.front().Kind, TMessageKind::Error);
        sapi5.SetActive(false);
        // Files are written all the same.
        for (TSpeechAPI* a : {static_cast<TSpeechAPI*>(&sapi4), static_cast<TSpeechAPI*>(&sapi5)}) {
            finished = 0;
            a->OnFinished = [&](TSpeechAPI*, bool c) {
                ++finished;
                cancelled = c;
            };
            const QString path = dir.filePath(a == &sapi4 ? QStringLiteral("f4.wav") : QStringLiteral("f5.wav"));
            QVERIFY(a->PlayToFileInit(a == &sapi4 ? kal : en, path));
            QVERIFY(a->PlayToFile(0, QStringLiteral("Written without a sound card.")));
            QVERIFY(TestSupport::WaitFor([&] { return finished > 0; }, 10000));
            QVERIFY(!cancelled);
            a->SetActive(false);
            QVERIFY(ReadWav(path).Seconds() > 0.5);
        }
    }
};

VORLIX_TEST_MAIN(TestAudioNoDevice)
#include "test_audio_nodevice.moc"
