// The SAPI 4 adapter over the Flite layer: modes as voices, defaults through the attribute
// probes, rendering into WAV files with the pause tag, speaking aloud with pause, resume and
// reset, and the audio device check.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include "core/RegistryUnit.h"
#include "speech/Sapi4Unit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

namespace {
struct TEvents {
    int Finished = 0;
    bool LastCancelled = false;
    int Started = 0;
    QList<int> Words;
    QStringList Errors;
    TSpeechAPI* Bound = nullptr;
    TEvents() = default;
    TEvents(const TEvents&) = delete;
    TEvents& operator=(const TEvents&) = delete;
    // The adapter outlives each test: its events must not reach a finished test's counters.
    ~TEvents()
    {
        if (!Bound)
            return;
        Bound->OnFinished = nullptr;
        Bound->OnStarted = nullptr;
        Bound->OnWordPosition = nullptr;
        Bound->OnError = nullptr;
    }
    void Bind(TSpeechAPI& a)
    {
        Bound = &a;
        a.OnFinished = [this](TSpeechAPI*, bool c) {
            ++Finished;
            LastCancelled = c;
        };
        a.OnStarted = [this](TSpeechAPI*) { ++Started; };
        a.OnWordPosition = [this](TSpeechAPI*, unsigned char kind, int, int pos) {
            if (kind == 0)
                Words << pos;
        };
        a.OnError = [this](TSpeechAPI*, const QString& m) { Errors << m; };
    }
};

QString LongText(int words)
{
    QString t;
    for (int i = 0; i < words; ++i)
        t += (i % 12 == 11) ? QStringLiteral("sentence. ") : QStringLiteral("word ");
    return t;
}
} // namespace

class TestSapi4Adapter : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TMyRegistryClass> main;
    std::unique_ptr<TBaseVoiceRegistryClass> store;
    std::unique_ptr<TSapi4> adapter;
    TVoiceList voices;
    TEngineList engines;

    TBaseVoiceClass* Voice(const QString& name)
    {
        TBaseVoiceClass* v = voices.FindByName(name);
        if (v) {
            v->SetValue(QStringLiteral("Pitch"), NotSet);
            v->SetValue(QStringLiteral("Speed"), NotSet);
            v->SetValue(QStringLiteral("Volume"), NotSet);
        }
        return v;
    }

private slots:
    void initTestCase()
    {
        main = std::make_unique<TMyRegistryClass>();
        store = std::make_unique<TBaseVoiceRegistryClass>(*main);
        store->AddItem(QStringLiteral("TTS_RealTimeValue"), rlSection, QString(), 2560, rkInteger);
        adapter = std::make_unique<TSapi4>();
        adapter->Store = store.get();
        adapter->LoadVoices(voices, engines);
        store->LoadAll();
    }

    void voicesAndEngines()
    {
        QCOMPARE(voices.Count(), 5);
        QCOMPARE(engines.Count(), 1);
        const TBaseEngineClass* e = engines[0];
        QCOMPARE(e->Key, QStringLiteral("Flite"));
        QCOMPARE(e->Manufacturer, QStringLiteral("Carnegie Mellon University"));
        QCOMPARE(e->VendorPrefix, QStringLiteral("FLITE"));
        QCOMPARE(e->Api, QStringLiteral("Sapi4"));
        QCOMPARE(e->EngineGuid.size(), 16);
        QStringList names;
        for (int i = 0; i < voices.Count(); ++i)
            names << voices[i]->DisplayName;
        QCOMPARE(names, (QStringList{"Kal", "Kal16", "Slt", "Awb", "Rms"}));
        TBaseVoiceClass* slt = voices.FindByName(QStringLiteral("Slt"));
        QCOMPARE(slt->Id, QStringLiteral("FLITESapi4Slt1033"));
        QCOMPARE(slt->ModeName, QStringLiteral("Flite Slt"));
        QCOMPARE(slt->Language, 1033);
        QCOMPARE(slt->Adapter, adapter.get());
        QCOMPARE(store->GetValue(QStringLiteral("VCE_FLITESapi4Slt1033")).toString(), QStringLiteral("1,-9999,-9999,-9999"));
        QCOMPARE(slt->SpeedMin, NotSet);
    }

    void defaultsThroughProbes()
    {
        // The probes need no sound device.
        TBaseVoiceClass* v = Voice(QStringLiteral("Kal"));
        adapter->LoadVoiceDefaults(v);
        QCOMPARE(v->PitchMin, FlitePitchMin);
        QCOMPARE(v->PitchMax, FlitePitchMax);
        QVERIFY(v->PitchDefault >= FlitePitchMin && v->PitchDefault <= FlitePitchMax);
        QCOMPARE(v->SpeedMin, FliteSpeedMin);
        QCOMPARE(v->SpeedMax, FliteSpeedMax);
        QCOMPARE(v->SpeedDefault, FliteSpeedDefault);
        QCOMPARE(v->VolumeMinLeft, 0);
        QCOMPARE(v->GetMaxVolume(), 65535);
        QCOMPARE(v->Pitch, v->PitchDefault);
        QCOMPARE(v->Speed, FliteSpeedDefault);
        QCOMPARE(v->VolumeLeft, 65535);
        // Loaded once only.
        v->PitchMax = 123;
        adapter->LoadVoiceDefaults(v);
        QCOMPARE(v->PitchMax, 123);
        v->PitchMax = FlitePitchMax;
        // Values set back to "not set" take the defaults again, without a new probe.
        v->SetValue(QStringLiteral("Speed"), NotSet);
        v->SetValue(QStringLiteral("Pitch"), NotSet);
        adapter->LoadVoiceDefaults(v);
        QCOMPARE(v->Speed, FliteSpeedDefault);
        QCOMPARE(v->Pitch, v->PitchDefault);
    }

    void renderToFile()
    {
        TScopedScriptedDialogs d;
        QVERIFY(!adapter->PlayToFileInit(Voice(QStringLiteral("Slt")), QStringLiteral("/no/such/dir/a.wav")));
        QCOMPARE(d.LastText(), QStringLiteral("Output Directory /no/such/dir/ is not valid"));
        QVERIFY(!adapter->Tts->Active());
        d.Clear();
        const QString text = QStringLiteral("Flite reads this.\\Pau=1000\\ Then it goes on.");
        double withPause = 0;
        for (const QString& t : {text, QStringLiteral("Flite reads this. Then it goes on.")}) {
            TBaseVoiceClass* v = Voice(QStringLiteral("Slt"));
            const QString path = dir.filePath(QStringLiteral("s%1.wav").arg(t.size()));
            TEvents ev;
            ev.Bind(*adapter);
            QVERIFY(adapter->PlayToFileInit(v, path));
            QVERIFY(adapter->Active);
            QCOMPARE(ev.Started, 1);
            QCOMPARE(adapter->Tts->RealTime(), 2560);
            QVERIFY(adapter->PlayToFile(0, t));
            QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 30000));
            QVERIFY(!ev.LastCancelled);
            QVERIFY(adapter->AudioStopped);
            // Positions count the tag's characters; the tag itself says nothing.
            QCOMPARE(ev.Words, WordStarts(QString(t).replace(QLatin1String("\\Pau=1000\\"), QString(10, QChar(' ')))));
            adapter->SetActive(false);
            QVERIFY(!adapter->Tts->Active());
            const TWavFacts w = ReadWav(path);
            QVERIFY(w.Ok);
            QCOMPARE(w.Rate, 16000);
            QCOMPARE(w.Channels, 1);
            QCOMPARE(w.Format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
            if (withPause == 0)
                withPause = w.Seconds();
            else
                QVERIFY2(withPause - w.Seconds() > 0.9, qPrintable(QStringLiteral("%1 %2").arg(withPause).arg(w.Seconds())));
        }
        QVERIFY(d.Shown.empty());
    }

    void speakAloud()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs d;
        adapter->SetAudioDevice(-1);
        TBaseVoiceClass* v = Voice(QStringLiteral("Kal16"));
        const QString text = QStringLiteral("Speaking aloud with the second engine. Words arrive as they are heard.");
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        QVERIFY(adapter->Active);
        QCOMPARE(ev.Started, 1);
        QElapsedTimer t;
        t.start();
        adapter->PlayText(text);
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 30000));
        QVERIFY2(t.elapsed() > 2500, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!ev.LastCancelled);
        QCOMPARE(ev.Words, WordStarts(text));
        adapter->SetActive(false);
        QVERIFY(d.Shown.empty());
    }

    void pauseResumeReset()
    {
        VORLIX_REQUIRE_PULSE();
        TBaseVoiceClass* v = Voice(QStringLiteral("Kal"));
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        adapter->PlayText(LongText(300));
        QVERIFY(TestSupport::WaitFor([&] { return ev.Words.size() >= 3; }, 10000));
        adapter->Pause();
        QVERIFY(adapter->Paused);
        QVERIFY(adapter->Tts->AudioPaused());
        // After the words already on their way (100 ms, in which at most that much more sound
        // may leave), nothing is played and no words are reported.
        const int64_t p0 = adapter->Tts->OutputPosition();
        QVERIFY(TestSupport::ExpectNothingFor(100, [&] { return adapter->Tts->OutputPosition() - p0 >= 8000 * 2 / 10; }));
        const int64_t p1 = adapter->Tts->OutputPosition();
        const int words = ev.Words.size();
        QVERIFY(TestSupport::ExpectNothingFor(600, [&] {
            return adapter->Tts->OutputPosition() - p1 >= 8000 * 2 / 20 || ev.Words.size() != words;
        }));
        adapter->Resume();
        QVERIFY(TestSupport::WaitFor([&] { return ev.Words.size() > words + 2; }, 10000));
        adapter->AudioReset();
        QVERIFY(adapter->Cancelled);
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 3000));
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(false);
        // Skip ends the text as finished, not cancelled.
        TEvents ev2;
        ev2.Bind(*adapter);
        adapter->Activate(v);
        adapter->PlayText(LongText(100));
        adapter->Skip();
        QVERIFY(TestSupport::WaitFor([&] { return ev2.Finished > 0; }, 3000));
        QVERIFY(!ev2.LastCancelled);
        adapter->SetActive(false);
    }

    void checkAudioDevice()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs d;
        adapter->SetAudioDevice(0);
        QVERIFY(adapter->CheckAudioDevice(-1));
        QVERIFY(adapter->CheckAudioDevice(1));
        QVERIFY(d.Shown.empty());
        QCOMPARE(adapter->Tts->AudioDeviceID(), 0);
        QVERIFY(!adapter->CheckAudioDevice(57));
        QCOMPARE(d.Texts(), (QStringList{
            "The value specified for the AudioDeviceID is outside the range of available IDs",
            "Audio device check failed. \rVerify that the device you have selected is a valid audio device\r\rPlease contact Quenrad Support if you're having problems"}));
        QCOMPARE(adapter->Tts->AudioDeviceID(), 0);
        QVERIFY(!adapter->Tts->Active());
        adapter->SetAudioDevice(-1);
        // Properties that may only change while the component is inactive.
        TBaseVoiceClass* v = Voice(QStringLiteral("Kal"));
        adapter->Activate(v);
        try {
            adapter->Tts->SetAudioDeviceID(0);
            QFAIL("changing the device while active must fail");
        } catch (const ESpeechError& e) {
            QCOMPARE(e.message(), QStringLiteral("The Active property must be FALSE before you can set the AudioDeviceID property"));
        }
        adapter->SetActive(false);
    }

    void megabyteTextStreams()
    {
        VORLIX_REQUIRE_PULSE();
        // A megabyte of text speaks as a stream: sound starts at once and memory stays flat.
        QString text = LongText(200000);
        text.truncate(1 << 20);
        const auto rss = [] {
            QFile f(QStringLiteral("/proc/self/status"));
            f.open(QIODevice::ReadOnly);
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.startsWith("VmRSS:"))
                    return line.mid(6).trimmed().split(' ').first().toLong();
            return 0L;
        };
        TBaseVoiceClass* v = Voice(QStringLiteral("Kal16"));
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        // Sound starts while the rest is still to come (bench_engines measures how soon).
        adapter->PlayText(text);
        QVERIFY(TestSupport::WaitFor([&] { return adapter->Tts->OutputPosition() > 0; }, 2000));
        const long before = rss();
        // While a second and a half of it is heard.
        const int64_t heard = adapter->Tts->OutputPosition();
        QVERIFY(TestSupport::WaitFor([&] { return adapter->Tts->OutputPosition() - heard >= 16000 * 2 * 3 / 2; }, 10000));
        QVERIFY2(rss() - before < 20000, qPrintable(QStringLiteral("%1 -> %2 kB").arg(before).arg(rss())));
        adapter->AudioReset();
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 3000));
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(false);
    }
};

VORLIX_TEST_MAIN_CORE(TestSapi4Adapter)
#include "test_sapi4_adapter.moc"
