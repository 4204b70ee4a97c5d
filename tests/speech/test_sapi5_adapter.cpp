// The SAPI 5 adapter over the eSpeak NG layer: voices and engines, defaults, the folder checks,
// rendering into WAV files, the finished notification, and speaking aloud into the test
// server's null sink with pause, resume and reset.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include <QThread>
#include <QDeadlineTimer>
#include "core/RegistryUnit.h"
#include "speech/Sapi5Unit.h"
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
    QList<int> Bytes;
    QStringList Errors;
    qint64 FirstWordMs = -1;
    QElapsedTimer Clock;
    void Bind(TSpeechAPI& a)
    {
        Clock.start();
        a.OnFinished = [this](TSpeechAPI*, bool c) {
            ++Finished;
            LastCancelled = c;
        };
        a.OnStarted = [this](TSpeechAPI*) { ++Started; };
        a.OnWordPosition = [this](TSpeechAPI*, unsigned char kind, int length, int pos) {
            if (kind == 0) {
                if (FirstWordMs < 0)
                    FirstWordMs = Clock.elapsed();
                Words << pos;
                QCOMPARE(length, 0);
            } else {
                QCOMPARE(length, -1);
                Bytes << pos;
            }
        };
        a.OnError = [this](TSpeechAPI*, const QString& m) { Errors << m; };
    }
};

void ResetValues(TBaseVoiceClass* v)
{
    v->SetValue(QStringLiteral("Pitch"), NotSet);
    v->SetValue(QStringLiteral("Speed"), NotSet);
    v->SetValue(QStringLiteral("Volume"), NotSet);
}

QString LongText(int words)
{
    QString t;
    for (int i = 0; i < words; ++i)
        t += (i % 12 == 11) ? QStringLiteral("sentence. ") : QStringLiteral("word ");
    return t;
}
} // namespace

class TestSapi5Adapter : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TMyRegistryClass> main;
    std::unique_ptr<TBaseVoiceRegistryClass> store;
    std::unique_ptr<TSapi5> adapter;
    TVoiceList voices;
    TEngineList engines;

    TBaseVoiceClass* English()
    {
        TBaseVoiceClass* v = voices.FindByName(QStringLiteral("English (America)"));
        if (v)
            ResetValues(v);
        return v;
    }

private slots:
    void initTestCase()
    {
        main = std::make_unique<TMyRegistryClass>();
        store = std::make_unique<TBaseVoiceRegistryClass>(*main);
        store->AddItem(QStringLiteral("PauseAtWavEOF"), rlSection, QString(), 0, rkInteger);
        store->AddItem(QStringLiteral("TTS_AudioDeviceID"), rlSection, QString(), -1, rkInteger);
        TSapi5::SetUserLanguageForTesting(QStringLiteral("de"));
        QVERIFY(TSapi5::IsSapi5Installed());
        adapter = std::make_unique<TSapi5>();
        adapter->Store = store.get();
        adapter->SetAudioDevice(-1);
        adapter->LoadVoices(voices, engines);
        store->LoadAll();
    }

    void voicesAndEngines()
    {
        QVERIFY2(voices.Count() > 90, qPrintable(QString::number(voices.Count())));
        QCOMPARE(engines.Count(), 1);
        const TBaseEngineClass* e = engines[0];
        QCOMPARE(e->Key, QStringLiteral("eSpeak NG"));
        QCOMPARE(e->VendorPrefix, QStringLiteral("ESNG"));
        QCOMPARE(e->Api, QStringLiteral("Sapi5"));
        TBaseVoiceClass* en = voices.FindByName(QStringLiteral("English (America)"));
        QVERIFY(en);
        QCOMPARE(en->Language, 1033);
        QCOMPARE(en->Token->GetAttribute(QStringLiteral("Language")), QStringLiteral("409"));
        QCOMPARE(en->Id, QStringLiteral("ESNGSapi5English (America)1033"));
        QCOMPARE(en->Adapter, adapter.get());
        QCOMPARE(en->SampleRateCode, -1);
        QCOMPARE(en->PitchMin, NotSet);
        QCOMPARE(en->VolumeMaxRight, NotSet);
        QCOMPARE(store->GetValue(QStringLiteral("VCE_") + en->Id).toString(), QStringLiteral("1,-9999,-9999,-9999"));
        // Other languages carry their language name; the user's language (German here) and
        // English start enabled, the rest disabled.
        TBaseVoiceClass* de = voices.FindByName(QStringLiteral("German (German)"));
        QVERIFY(de);
        QCOMPARE(de->Language, 1031);
        QCOMPARE(store->GetValue(QStringLiteral("VCE_") + de->Id).toString(), QStringLiteral("1,-9999,-9999,-9999"));
        TBaseVoiceClass* gb = voices.FindByName(QStringLiteral("English (Great Britain) (UK English)"));
        QVERIFY(gb);
        QCOMPARE(store->GetValue(QStringLiteral("VCE_") + gb->Id).toString(), QStringLiteral("1,-9999,-9999,-9999"));
        TBaseVoiceClass* fr = voices.FindByName(QStringLiteral("French (France) (French)"));
        QVERIFY(fr);
        QCOMPARE(fr->Token->GetAttribute(QStringLiteral("Language")), QStringLiteral("40C"));
        QCOMPARE(store->GetValue(QStringLiteral("VCE_") + fr->Id).toString(), QStringLiteral("0,-9999,-9999,-9999"));
        // Ids are unique: they key the stored settings.
        QSet<QString> ids;
        for (int i = 0; i < voices.Count(); ++i)
            ids.insert(voices[i]->Id);
        QCOMPARE(ids.size(), voices.Count());
        // A second load adds the voices again but registers nothing twice.
        TVoiceList again;
        TEngineList againEngines;
        adapter->LoadVoices(again, againEngines);
        QCOMPARE(again.Count(), voices.Count());
    }

    void voiceDefaults()
    {
        TBaseVoiceClass* v = English();
        adapter->LoadVoiceDefaults(v);
        QCOMPARE(v->PitchMin, -10);
        QCOMPARE(v->PitchMax, 10);
        QCOMPARE(v->SpeedDefault, 0);
        QCOMPARE(v->GetMaxVolume(), 100);
        QCOMPARE(v->Pitch, 0);
        QCOMPARE(v->Speed, 0);
        QCOMPARE(v->VolumeLeft, 100);
    }

    void folderChecks()
    {
        TScopedScriptedDialogs d;
        TBaseVoiceClass* v = English();
        QVERIFY(!adapter->PlayToFileInit(v, QStringLiteral("/no/such/folder/x.wav")));
        QCOMPARE(d.LastText(), QStringLiteral("Output Directory /no/such/folder/ is not valid"));
        QVERIFY(!adapter->PlayToFileInit(v, QStringLiteral("x.wav")));
        QCOMPARE(d.LastText(), QStringLiteral("Output Directory must be specified"));
        QVERIFY(!adapter->Active);
    }

    void renderToFile()
    {
        TScopedScriptedDialogs d;
        TBaseVoiceClass* v = English();
        const QString text = QStringLiteral("Reading an article into a file. <SILENCE MSEC=\"300\"/> It has two sentences.");
        for (int pause : {0, 1500}) {
            store->SetValue(QStringLiteral("PauseAtWavEOF"), pause);
            const QString path = dir.filePath(QStringLiteral("a%1.wav").arg(pause));
            TEvents ev;
            ev.Bind(*adapter);
            QVERIFY(adapter->PlayToFileInit(v, path));
            QVERIFY(adapter->Active);
            QCOMPARE(adapter->OutputFile, path);
            QCOMPARE(adapter->OutputTarget, QStringLiteral("File"));
            QVERIFY(adapter->PlayToFile(0, text));
            QCOMPARE(ev.Finished, 0);
            QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 30000));
            QVERIFY(!ev.LastCancelled);
            QCOMPARE(ev.Started, 1);
            QCOMPARE(ev.Words.first(), 0);
            QCOMPARE(ev.Words.last(), int(text.indexOf(QLatin1String("sentences"))));
            QVERIFY(!ev.Bytes.isEmpty());
            adapter->SetActive(false);
            QVERIFY(!adapter->Active);
            // Only one finished notification per text, shortly after the end.
            QVERIFY(TestSupport::ExpectNothingFor(700, [&] { return ev.Finished > 1; }));
            QCOMPARE(ev.Finished, 1);
            const TWavFacts w = ReadWav(path);
            QVERIFY(w.Ok);
            QCOMPARE(w.Rate, 22050);
            QCOMPARE(w.Channels, 1);
            QCOMPARE(w.Format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
            QVERIFY(ev.Bytes.last() <= int(w.Samples.size() * 2));
            if (pause == 0) {
                QVERIFY(TrailingSilenceMs(w) < 200);
            } else {
                QVERIFY2(TrailingSilenceMs(w) >= 1500 && TrailingSilenceMs(w) < 1700, qPrintable(QString::number(TrailingSilenceMs(w))));
            }
        }
        store->SetValue(QStringLiteral("PauseAtWavEOF"), 0);
        // The voice's sample-rate code picks the file's format.
        v->SampleRateCode = 18;
        TEvents ev;
        ev.Bind(*adapter);
        const QString path = dir.filePath(QStringLiteral("a16.wav"));
        QVERIFY(adapter->PlayToFileInit(v, path));
        QVERIFY(adapter->PlayToFile(0, QStringLiteral("Sixteen kilohertz.")));
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 30000));
        adapter->SetActive(false);
        v->SampleRateCode = -1;
        QCOMPARE(ReadWav(path).Rate, 16000);
        QVERIFY(d.Shown.empty());
    }

    void finishedNotification()
    {
        TEvents ev;
        ev.Bind(*adapter);
        adapter->FinishedNotified = false;
        adapter->EngineFinished = false;
        adapter->Paused = true;
        adapter->TTSFinishedHandler();
        QVERIFY(!adapter->EngineFinished);
        QVERIFY(!adapter->FinishedTimer.isActive());
        adapter->Paused = false;
        adapter->Cancelled = true;
        adapter->TTSFinishedHandler();
        adapter->TTSFinishedHandler();
        QVERIFY(adapter->EngineFinished);
        QCOMPARE(ev.Finished, 0); // never from inside the call
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 2000));
        QVERIFY(TestSupport::ExpectNothingFor(600, [&] { return ev.Finished > 1; }));
        QCOMPARE(ev.Finished, 1);
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(true);
        QVERIFY(!adapter->Cancelled);
        adapter->SetActive(false);
    }

    void speakAloud()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs d;
        TBaseVoiceClass* v = English();
        const QString text = QStringLiteral("Speaking aloud into the test sink. Every word is reported as it is heard.");
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        QVERIFY(adapter->Active);
        QCOMPARE(adapter->OutputTarget, QStringLiteral("Speakers"));
        QElapsedTimer t;
        t.start();
        adapter->PlayText(text);
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 30000));
        const qint64 took = t.elapsed();
        QVERIFY(!ev.LastCancelled);
        QCOMPARE(ev.Started, 1);
        // Played in real time: the text lasts some seconds, and the words come as they are heard.
        QVERIFY2(took > 3000, qPrintable(QString::number(took)));
        QVERIFY(ev.FirstWordMs >= 0);
        QCOMPARE(ev.Words.first(), 0);
        QVERIFY(ev.Words.size() >= WordStarts(text).size() - 2);
        QVERIFY(ev.Errors.isEmpty());
        adapter->SetActive(false);
        QVERIFY(d.Shown.empty());
    }

    void pauseResumeReset()
    {
        VORLIX_REQUIRE_PULSE();
        TBaseVoiceClass* v = English();
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        adapter->PlayText(LongText(400));
        QVERIFY(TestSupport::WaitFor([&] { return ev.Words.size() >= 3; }, 10000));
        adapter->Pause();
        QVERIFY(adapter->Paused);
        // Nothing is played while paused, and no words are reported: after the words already
        // on their way (100 ms, in which at most that much more sound may leave), nothing at all.
        const int64_t p0 = adapter->Voice->OutputPosition();
        QVERIFY(TestSupport::ExpectNothingFor(100, [&] { return adapter->Voice->OutputPosition() - p0 >= 22050 * 2 / 10; }));
        const int64_t p1 = adapter->Voice->OutputPosition();
        const int words = ev.Words.size();
        QVERIFY2(TestSupport::ExpectNothingFor(600, [&] {
                     return adapter->Voice->OutputPosition() - p1 >= 22050 * 2 / 20 || ev.Words.size() != words;
                 }),
                 qPrintable(QStringLiteral("%1 -> %2, words %3 -> %4")
                                .arg(p1)
                                .arg(adapter->Voice->OutputPosition())
                                .arg(words)
                                .arg(ev.Words.size())));
        QVERIFY(adapter->IsEngineResponding());
        adapter->Resume();
        QVERIFY(!adapter->Paused);
        QVERIFY(TestSupport::WaitFor([&] { return ev.Words.size() > words + 2; }, 10000));
        QVERIFY(adapter->Voice->OutputPosition() > p1);
        // Reset while playing: cancelled when it returns (bench_engines measures how soon), and
        // the finished notification says so.
        adapter->AudioReset();
        QVERIFY(adapter->Cancelled);
        QVERIFY(adapter->EngineFinished);
        QVERIFY(!adapter->Voice->Busy());
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 3000));
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(false);
        // Reset while paused resumes and stops as well.
        TEvents ev2;
        ev2.Bind(*adapter);
        adapter->Activate(v);
        adapter->PlayText(LongText(200));
        QVERIFY(TestSupport::WaitFor([&] { return ev2.Words.size() >= 2; }, 10000));
        adapter->Pause();
        adapter->AudioReset();
        QVERIFY(!adapter->Paused);
        QVERIFY(TestSupport::WaitFor([&] { return ev2.Finished > 0; }, 3000));
        QVERIFY(ev2.LastCancelled);
        adapter->SetActive(false);
    }

    // A short text written into a file can be done before the program gets round to its
    // next step: Pause then finds a finished engine, not one that stopped responding.
    void finishedTextIsNotUnresponsive()
    {
        TScopedScriptedDialogs d;
        TEvents ev;
        ev.Bind(*adapter);
        QVERIFY(adapter->PlayToFileInit(English(), dir.filePath(QStringLiteral("done.wav"))));
        QVERIFY(adapter->PlayToFile(0, QStringLiteral("Done before the pause.")));
        // No events run meanwhile, as on a busy machine: the end report is still to come.
        QDeadlineTimer deadline(10000);
        while (!adapter->Voice->AllDone() && !deadline.hasExpired())
            QThread::msleep(5);
        QVERIFY(adapter->Voice->AllDone() && adapter->Voice->Busy());
        adapter->ResponseTimeoutMs = 1000;
        adapter->Pause();
        QVERIFY(adapter->Paused);
        adapter->ResponseTimeoutMs = 2500;
        adapter->Resume();
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 5000));
        adapter->SetActive(false);
        QVERIFY(d.Shown.empty());
    }

    void stalledOutputIsNotResponding()
    {
        VORLIX_REQUIRE_PULSE();
        // A suspended device stops taking audio: the engine then counts as not responding.
        const QString sink = QStringLiteral("vorlix_stall_%1").arg(QCoreApplication::applicationPid());
        const QString module = Pactl({"load-module", "module-null-sink", "sink_name=" + sink, "norewinds=1"});
        QVERIFY(!module.isEmpty());
        std::vector<TPulseSinkInfo> sinks;
        QVERIFY(TPulseAudio::Instance().ListSinks(sinks));
        int id = -1;
        for (size_t i = 0; i < sinks.size(); ++i)
            if (sinks[i].Name == sink)
                id = int(i);
        QVERIFY(id >= 0);
        store->SetValue(QStringLiteral("TTS_AudioDeviceID"), id);
        TBaseVoiceClass* v = English();
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        adapter->PlayText(LongText(300));
        QVERIFY(TestSupport::WaitFor([&] { return ev.Words.size() >= 2; }, 10000));
        Pactl({"suspend-sink", sink, "1"});
        // The device takes no more audio once what was on its way is in: the counter stands still.
        int64_t last = adapter->Voice->ProgressCounter();
        QElapsedTimer still;
        still.start();
        QVERIFY(TestSupport::WaitFor([&] {
            const int64_t now = adapter->Voice->ProgressCounter();
            if (now != last) {
                last = now;
                still.restart();
            }
            return still.elapsed() >= 300;
        }, 10000));
        adapter->ResponseTimeoutMs = 1000;
        try {
            adapter->Pause();
            QFAIL("Pause on a stalled device must fail");
        } catch (const ETTSEngineBusy& e) {
            QCOMPARE(e.message(), QStringLiteral("Engine is not responding"));
        }
        QVERIFY(!adapter->Paused);
        adapter->ResponseTimeoutMs = 2500;
        Pactl({"suspend-sink", sink, "0"});
        adapter->AudioReset();
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 5000));
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(false);
        Pactl({"unload-module", module});
        store->SetValue(QStringLiteral("TTS_AudioDeviceID"), -1);
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
        TBaseVoiceClass* v = English();
        TEvents ev;
        ev.Bind(*adapter);
        adapter->Activate(v);
        // Sound starts while the rest is still to come (bench_engines measures how soon).
        adapter->PlayText(text);
        QVERIFY(TestSupport::WaitFor([&] { return adapter->Voice->OutputPosition() > 0; }, 2000));
        const long before = rss();
        // While a second and a half of it is heard.
        const int64_t heard = adapter->Voice->OutputPosition();
        QVERIFY(TestSupport::WaitFor([&] { return adapter->Voice->OutputPosition() - heard >= 22050 * 2 * 3 / 2; }, 10000));
        QVERIFY2(rss() - before < 20000, qPrintable(QStringLiteral("%1 -> %2 kB").arg(before).arg(rss())));
        adapter->AudioReset();
        QVERIFY(TestSupport::WaitFor([&] { return ev.Finished > 0; }, 3000));
        QVERIFY(ev.LastCancelled);
        adapter->SetActive(false);
    }
};

VORLIX_TEST_MAIN_CORE(TestSapi5Adapter)
#include "test_sapi5_adapter.moc"
