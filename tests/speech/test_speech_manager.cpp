// The speech manager with the real engines: its settings and voices, the checks before a text
// is spoken, speaking aloud into the test server's null sink with pause, resume, stop and skip,
// speaking into WAV and MP3 files (decoded again by a real decoder, tags read back by an
// independent reader), stopping a conversion, a conversion on a full disk, and the choice of
// the sound device.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include "core/BaseUtils.h"
#include "core/RegistryUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/Sapi4Unit.h"
#include "speech/SpeechAPIUnit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {
const QString DefaultQuality = QStringLiteral("32 kbps  22.05 KHz  Mono");

std::unique_ptr<TBaseTTS> NewManager(TMyRegistryClass& store, TPreProcessor* preprocessor = nullptr)
{
    auto tts = std::make_unique<TBaseTTS>();
    if (preprocessor)
        tts->SetPreprocessor(preprocessor);
    tts->SetShowExceptionDialogs(false);
    tts->InitializeAll(store);
    return tts;
}

// An enabled voice of an interface ("Sapi5": eSpeak NG, "Sapi4": Flite) speaking US English.
TBaseVoiceClass* VoiceOf(TBaseTTS& tts, const QString& api)
{
    for (int i = 0; i < tts.Voices.Count(); ++i) {
        TBaseVoiceClass* v = tts.Voices[i];
        if (v->Enabled && v->Engine && v->Engine->Api == api && v->Language == 1033)
            return v;
    }
    return nullptr;
}

QString Words(int count)
{
    static const char* w[] = {"news", "readers", "listen", "to", "long", "threads", "about", "speech", "and", "music"};
    QString t;
    for (int i = 0; i < count; ++i)
        t += QLatin1String(w[i % 10]) + (i % 12 == 11 ? QStringLiteral(". ") : QStringLiteral(" "));
    return t.trimmed();
}

// What the manager told its owner.
struct TRecord {
    QList<int> Codes;          // OnSpeechEvent codes
    QStringList Files;         // their file names
    QStringList Log;           // "pause", "resume", "status <state>/<code>", "convert", "tags", "done"
    QList<QPair<int, int>> Words; // kind-0 word positions (length, position)
    QList<QPair<int, int>> Bytes; // kind-1 file positions (length, bytes written)
    QStringList ConvertFailures;
    void Bind(TBaseTTS& t)
    {
        t.OnSpeechEvent = [this](TBaseTTS*, unsigned char code, const QString& f) {
            Codes << code;
            Files << f;
        };
        t.OnPause = [this](TBaseTTS*) { Log << QStringLiteral("pause"); };
        t.OnResume = [this](TBaseTTS*) { Log << QStringLiteral("resume"); };
        t.OnStatusChange = [this](TBaseTTS*, unsigned char s, unsigned char c) {
            Log << QStringLiteral("status %1/%2").arg(s).arg(c);
        };
        t.OnConvertStart = [this](TBaseTTS*) { Log << QStringLiteral("convert"); };
        t.OnBeforeTags = [this](TBaseTTS*) { Log << QStringLiteral("tags"); };
        t.OnConvertDone = [this](TBaseTTS*) { Log << QStringLiteral("done"); };
        t.OnWordPosition = [this](TBaseTTS*, unsigned char kind, int length, int position) {
            (kind == 0 ? Words : Bytes) << qMakePair(length, position);
        };
        t.OnConvertFailed = [this](TBaseTTS*, const QString& wav, const QString& message) {
            ConvertFailures << wav << message;
        };
    }
};

// The enabled state each registered kind was last given.
struct TEnabling {
    bool Enabled[6] = {};
    void Register(TBaseTTS& t)
    {
        for (int k = ckSpeak; k <= ckStop; ++k)
            t.RegisterControl(k, [this, k](bool on) { Enabled[k] = on; });
    }
    QString Pattern() const
    {
        QString s;
        for (bool b : Enabled)
            s += b ? QLatin1Char('1') : QLatin1Char('0');
        return s;
    }
};

QString Run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {};
    if (exitCode)
        *exitCode = p.exitCode();
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

// Decodes an MP3 with the lame command line.
TWavFacts DecodeMp3(const QString& mp3, const QString& scratch)
{
    const QString wav = scratch + QStringLiteral("/decoded.wav");
    QFile::remove(wav);
    int code = -1;
    Run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("--decode"), mp3, wav}, &code);
    return code == 0 ? ReadWav(wav) : TWavFacts{};
}

int CountTagBlocks(const QByteArray& data)
{
    int n = 0;
    for (qsizetype end = data.size(); end >= 128 && data.mid(end - 128, 3) == "TAG"; end -= 128)
        ++n;
    return n;
}
} // namespace

class TestSpeechManager : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { TestSupport::PrepareEnvironment(); }
    void cleanupTestCase() { TestSupport::CleanUp(); }

    // Voices of both engines, the default voice, the configuration operations, settings that
    // survive a restart, damaged settings that fall back to their defaults, and the
    // deployment choice of one engine.
    void settingsAndVoices()
    {
        TMyRegistryClass store;
        store.LoadAll();
        {
            auto tts = NewManager(store);
            QVERIFY(tts->Sapi4Adapter && tts->Sapi5Adapter);
            QVERIFY(VoiceOf(*tts, QStringLiteral("Sapi4")) && VoiceOf(*tts, QStringLiteral("Sapi5")));
            TBaseVoiceClass* def = tts->Voices.FindById(tts->DefaultVoiceID);
            QVERIFY(def && def->Enabled);
            QCOMPARE(tts->OutputFormat, QStringLiteral("Wav"));
            QCOMPARE(tts->Converter->GetQuality(), DefaultQuality);

            tts->SetOutputFile(QStringLiteral("/tmp/x/news.part1.wav"));
            QCOMPARE(tts->OutputFile, QStringLiteral("news"));
            tts->SetOutputFormat(QStringLiteral("mp3"));
            QCOMPARE(tts->OutputFormat, QStringLiteral("MP3"));
            QVERIFY_THROWS_EXCEPTION(EttsException, tts->SetOutputFormat(QStringLiteral("ogg")));
            QCOMPARE(tts->OutputFormat, QStringLiteral("MP3"));
            tts->SetRealTime(QStringLiteral("25x"));
            QCOMPARE(tts->RealTimeValue, 6400);
            tts->RealTimeValue = 2560;
            QCOMPARE(tts->GetRealTimeText(), QStringLiteral("10x"));
            QCOMPARE(tts->GetRealTimeIndex(), 1);

            // The default voice's engine cannot be switched off; another engine can.
            QVERIFY_THROWS_EXCEPTION(EttsException, tts->DisableEngine(def->Engine->Manufacturer));
            TBaseVoiceClass* other = VoiceOf(*tts, def->Engine->Api == QLatin1String("Sapi5") ? QStringLiteral("Sapi4")
                                                                                           : QStringLiteral("Sapi5"));
            QVERIFY(other);
            const QString otherEngine = other->Engine->Manufacturer;
            tts->DisableEngine(otherEngine);
            QVERIFY(!other->Enabled);
            QVERIFY_THROWS_EXCEPTION(EttsException, tts->SetDfltCaption(other->DisplayName));

            // Round robin walks the enabled US English voices.
            tts->VoiceAssignment = 1;
            QSet<QString> seen;
            for (int i = 0; i < 6; ++i) {
                TBaseVoiceClass* v = tts->GetAssignedVoice();
                QVERIFY(v->Enabled);
                QCOMPARE(GetLanguageName(v->Language), QStringLiteral("US English"));
                seen << v->Id;
            }
            QVERIFY(seen.size() > 1);
            tts->VoiceAssignment = 0;
            def->SetValue(QStringLiteral("Speed"), 3);
            tts->SaveProperties();
        }
        {
            // A new manager reads it all back, the switched-off engine included.
            auto tts = NewManager(store);
            QCOMPARE(tts->OutputFormat, QStringLiteral("MP3"));
            TBaseVoiceClass* def = tts->Voices.FindById(tts->DefaultVoiceID);
            QVERIFY(def);
            QCOMPARE(def->Speed, 3);
            bool anyDisabledEngine = false;
            for (int i = 0; i < tts->Engines.Count(); ++i)
                anyDisabledEngine |= !tts->Engines[i]->Enabled;
            QVERIFY(anyDisabledEngine);

            // Damaged values fall back to their defaults instead of stopping the start.
            tts->Store->SetValue(QStringLiteral("TTS_OutputFormat"), QStringLiteral("ogg"));
            tts->Store->SetValue(QStringLiteral("MP3_Quality"), QStringLiteral("32 kbps 22.05 KHz Mono"));
            tts->Store->SaveAll();
        }
        {
            auto tts = NewManager(store);
            QCOMPARE(tts->OutputFormat, QStringLiteral("Wav"));
            QCOMPARE(tts->Store->GetValue(QStringLiteral("MP3_Quality")).toString(), DefaultQuality);
            // A default voice that is disabled gives way to the first enabled voice.
            TBaseVoiceClass* def = tts->Voices.FindById(tts->DefaultVoiceID);
            def->SetEnabled(false);
            tts->ResetDefaultVoice();
            TBaseVoiceClass* first = nullptr;
            for (int i = 0; i < tts->Voices.Count() && !first; ++i)
                if (tts->Voices[i]->Enabled)
                    first = tts->Voices[i];
            QCOMPARE(tts->DefaultVoiceID, first->Id);
        }
        {
            // The other checks start from every engine switched on again.
            auto tts = NewManager(store);
            for (int i = 0; i < tts->Engines.Count(); ++i)
                tts->EnableEngine(tts->Engines[i]->Manufacturer);
            tts->SaveProperties();
        }
        {
            // The installation may ask for one engine only.
            QTemporaryDir dir;
            QFile f(dir.filePath(QStringLiteral("deployment.ini")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("InitSapi4=false\n");
            f.close();
            UtilsClass::SetDeploymentFile(f.fileName());
            auto tts = NewManager(store);
            UtilsClass::SetDeploymentFile(QString());
            QVERIFY(!tts->Sapi4Adapter);
            QVERIFY(tts->Sapi5Adapter);
            QVERIFY(!VoiceOf(*tts, QStringLiteral("Sapi4")));
            QCOMPARE(tts->Store->GetValue(QStringLiteral("SapiVersion")).toInt(), 1);
        }
    }

    // A copy for a window's own test speech: voices and engines of its own on adapters of its
    // own, the settings borrowed, no events. With exception dialogs on, the manager reports
    // the exceptions of its speaking operations itself.
    void copiesAndReportedExceptions()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        auto main = NewManager(store);
        main->OnSpeechEvent = [](TBaseTTS*, unsigned char, const QString&) {};
        QTemporaryDir dir;
        {
            TBaseTTS copy;
            copy.Assign(*main);
            QVERIFY(!copy.OwnsStore);
            QCOMPARE(copy.Store, main->Store);
            QCOMPARE(copy.Preprocessor, main->Preprocessor);
            QVERIFY(!copy.OnSpeechEvent);
            QCOMPARE(copy.Voices.Count(), main->Voices.Count());
            QCOMPARE(copy.DefaultVoiceID, main->DefaultVoiceID);
            QVERIFY(copy.Sapi5Adapter && copy.Sapi5Adapter != main->Sapi5Adapter);
            for (int i = 0; i < copy.Voices.Count(); ++i) {
                QVERIFY(copy.Voices[i] != main->Voices[i]);
                QCOMPARE(copy.Voices[i]->Id, main->Voices[i]->Id);
                QVERIFY(copy.Voices[i]->Adapter == static_cast<TSpeechAPI*>(copy.Sapi4Adapter)
                        || copy.Voices[i]->Adapter == static_cast<TSpeechAPI*>(copy.Sapi5Adapter));
            }
            int done = 0;
            copy.OnSpeechEvent = [&done](TBaseTTS*, unsigned char code, const QString&) { done += code == 6; };
            copy.OutputMode = 1;
            copy.OutputDir = dir.path();
            copy.SetOutputFile(QStringLiteral("copy"));
            copy.Speak2(VoiceOf(copy, QStringLiteral("Sapi5")), Words(5));
            QVERIFY(TestSupport::WaitFor([&] { return done == 1; }, 30000));
            QVERIFY(!main->IsBusy());
        }
        // The original keeps its settings and preprocessor after the copy has gone.
        int done = 0;
        main->OnSpeechEvent = [&done](TBaseTTS*, unsigned char code, const QString&) { done += code == 6; };
        main->OutputMode = 1;
        main->OutputDir = dir.path();
        main->SetOutputFile(QStringLiteral("original"));
        main->Speak2(VoiceOf(*main, QStringLiteral("Sapi4")), Words(5));
        QVERIFY(TestSupport::WaitFor([&] { return done == 1; }, 30000));
        QVERIFY(ReadWav(dir.filePath(QStringLiteral("original.wav"))).Ok);

        TBaseTTS reporting;
        reporting.InitializeAll(store);
        reporting.OutputMode = 1;
        reporting.OutputDir = dir.path();
        reporting.Speak(QStringLiteral("no such voice"), Words(3));
        QCOMPARE(dialogs.LastText(), QStringLiteral("Speak Exception: Output file not specified"));
        reporting.Speak2(nullptr, Words(3));
        QCOMPARE(dialogs.LastText(), QStringLiteral("Speak2 Exception: Output file not specified"));
        QCOMPARE(int(reporting.State), int(tsIdle));
        reporting.SetShowExceptionDialogs(false);
        QVERIFY_THROWS_EXCEPTION(EttsException, reporting.Speak2(nullptr, Words(3)));
    }

    // The checks of opening an engine, in their order, each leaving the manager idle.
    void checksBeforeSpeaking()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        TBaseVoiceClass* voice = VoiceOf(*tts, QStringLiteral("Sapi5"));
        QTemporaryDir dir;
        tts->OutputMode = 1;
        const auto failsWith = [&](const QString& text) {
            const bool wasActive = voice->Adapter->Active;
            try {
                tts->EngnOpen(voice);
            } catch (const EttsException& e) {
                QCOMPARE(e.message(), text);
                QCOMPARE(int(tts->State), int(tsIdle));
                QCOMPARE(voice->Adapter->Active, wasActive);
                return;
            }
            QFAIL("no exception");
        };
        tts->SetOutputFile(QString());
        failsWith(QStringLiteral("Output file not specified"));
        tts->SetOutputFile(QStringLiteral("article"));
        tts->OutputDir = QStringLiteral("  ");
        failsWith(QStringLiteral("Output Directory not specified"));
        tts->OutputDir = dir.filePath(QStringLiteral("missing"));
        failsWith(QStringLiteral("Output directory does not exist"));
        tts->OutputDir = dir.path();
        tts->EngnOpen(voice);
        failsWith(QStringLiteral("TTS is already active"));
        QVERIFY(voice->Adapter->Active);
        tts->EngnClose(false);
        QVERIFY(!voice->Adapter->Active);

        // Speaking aloud on a device that cannot be opened: the warning window, Cancel ends the
        // request, Proceed with the box ticked switches the check off for good. A file needs
        // no device check.
        tts->Store->SetValue(QStringLiteral("TTS_AudioDeviceID"), 99);
        tts->EngnOpen(voice);
        tts->EngnClose(false);
        QVERIFY(dialogs.Shown.empty());
        tts->OutputMode = 0;
        dialogs.SoundCardAnswers.push_back({false, false});
        QVERIFY_THROWS_EXCEPTION(EttsSoundCardError, tts->EngnOpen(voice));
        QCOMPARE(dialogs.LastText(), QStringLiteral("Sound Card Error Detected"));
        QVERIFY(!voice->Adapter->Active);
        dialogs.SoundCardAnswers.push_back({true, true});
        tts->EngnOpen(voice);
        QVERIFY(voice->Adapter->Active);
        tts->EngnClose(false);
        TBaseVoiceRegistryClass reread(store);
        reread.AddItem(QStringLiteral("TTS_SoundCardChkErr"), rlSection, QString(), true, rkBoolean);
        reread.LoadAll();
        QCOMPARE(reread.GetValue(QStringLiteral("TTS_SoundCardChkErr")).toBool(), false);
        dialogs.Clear();
        tts->EngnOpen(voice);
        tts->EngnClose(false);
        QVERIFY(dialogs.Shown.empty());
        tts->Store->SetValue(QStringLiteral("TTS_AudioDeviceID"), -1);
        tts->Store->SetValue(QStringLiteral("TTS_SoundCardChkErr"), true);
        tts->Store->SaveAll();
    }

    // Speaking aloud into the null sink: the states, the enabling of registered controls and
    // the events of pause, resume, the end of a text, stop and skip.
    void speakingAloud()
    {
        VORLIX_REQUIRE_PULSE();
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        TRecord rec;
        rec.Bind(*tts);
        TEnabling controls;
        controls.Register(*tts);
        QCOMPARE(controls.Pattern(), QStringLiteral("100000"));
        TBaseVoiceClass* voice = VoiceOf(*tts, QStringLiteral("Sapi5"));

        tts->Speak2(voice, Words(6));
        QCOMPARE(int(tts->State), int(tsPlay));
        QCOMPARE(controls.Pattern(), QStringLiteral("010111"));
        // A speak control registered now is disabled at once.
        bool late = true;
        tts->RegisterControl(ckSpeak, [&late](bool on) { late = on; });
        QVERIFY(!late);
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Words.isEmpty(); }, 15000));
        tts->Pause();
        QVERIFY(tts->IsPaused());
        QCOMPARE(controls.Pattern(), QStringLiteral("001101"));
        tts->Resume();
        QCOMPARE(controls.Pattern(), QStringLiteral("010111"));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 30000));
        QCOMPARE(rec.Codes, QList<int>{6});
        QCOMPARE(rec.Files, QStringList{QString()});
        QCOMPARE(int(tts->State), int(tsIdle));
        QCOMPARE(controls.Pattern(), QStringLiteral("100000"));
        QVERIFY(rec.Log.indexOf(QStringLiteral("pause")) < rec.Log.indexOf(QStringLiteral("resume")));
        QVERIFY(rec.Log.contains(QStringLiteral("status 1/1")) && rec.Log.contains(QStringLiteral("status 2/2")));
        QVERIFY(!voice->Adapter->Active);

        // Stop: event 5, idle, and the text never reports its end.
        rec = {};
        rec.Bind(*tts);
        tts->Speak2(voice, Words(120));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Words.isEmpty(); }, 15000));
        tts->Stop();
        QCOMPARE(rec.Codes, QList<int>{5});
        QCOMPARE(int(tts->State), int(tsIdle));
        QVERIFY(TestSupport::ExpectNothingFor(800, [&] { return rec.Codes.size() > 1; }));

        // Skip: event 4, and the next text speaks on the same engine.
        rec = {};
        rec.Bind(*tts);
        TBaseVoiceClass* flite = VoiceOf(*tts, QStringLiteral("Sapi4"));
        tts->Speak2(flite, Words(120));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Words.isEmpty(); }, 15000));
        tts->Skip();
        QCOMPARE(rec.Codes, QList<int>{4});
        QCOMPARE(int(tts->State), int(tsIdle));
        tts->Speak2(flite, Words(3));
        QVERIFY(TestSupport::WaitFor([&] { return rec.Codes.size() == 2; }, 30000));
        QCOMPARE(rec.Codes.last(), 6);
    }

    // Speaking into files: a WAV, then MP3s at several qualities decoded again, with both tags,
    // and word positions mapped back onto the caller's text through the preprocessor.
    void speakingToFiles()
    {
        VORLIX_REQUIRE_PULSE();
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("lame"));
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("mid3v2"));
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store, new TGroupsPreProcessor);
        TRecord rec;
        rec.Bind(*tts);
        TBaseVoiceClass* voice = VoiceOf(*tts, QStringLiteral("Sapi5"));
        QTemporaryDir dir;
        tts->OutputMode = 1;
        tts->OutputDir = dir.path();
        const QString text = QStringLiteral("> a quoted line that is not spoken\n\n") + Words(40);

        tts->SetOutputFormat(QStringLiteral("Wav"));
        tts->SetOutputFile(QStringLiteral("plain"));
        tts->Speak2(voice, text);
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 30000));
        QCOMPARE(rec.Files, QStringList{QStringLiteral("plain")});
        const TWavFacts wav = ReadWav(dir.filePath(QStringLiteral("plain.wav")));
        QVERIFY(wav.Ok);
        QVERIFY(wav.Seconds() > 5);
        QVERIFY(!rec.Log.contains(QStringLiteral("convert")));
        // Word positions point into the caller's text, past the quotation that was not spoken,
        // in order, measured against that text; nearly all of them at the start of a word
        // (the engine also marks some punctuation).
        QVERIFY(rec.Words.size() >= 20);
        const QList<int> starts = WordStarts(text);
        int atWords = 0, last = -1;
        for (const auto& [length, position] : rec.Words) {
            QCOMPARE(length, text.trimmed().size());
            QVERIFY2(position > text.indexOf(QLatin1Char('\n')) && position < text.size(), qPrintable(QString::number(position)));
            QVERIFY(position >= last);
            last = position;
            atWords += starts.contains(position) ? 1 : 0;
        }
        QVERIFY2(atWords * 10 >= rec.Words.size() * 8, qPrintable(QStringLiteral("%1 of %2").arg(atWords).arg(rec.Words.size())));
        // File positions count the bytes written so far, without a length.
        QVERIFY(!rec.Bytes.isEmpty());
        QCOMPARE(rec.Bytes.last().first, -1);
        QVERIFY(rec.Bytes.last().second > 0);

        struct TCase {
            QString Quality;
            int Rate;
            int Channels;
        };
        const TCase cases[] = {{DefaultQuality, 22050, 1},
                               {QStringLiteral("16 kbps  11.02 KHz  Mono"), 16000, 1},
                               {QStringLiteral("64 kbps  22.05 KHz  Stereo"), 22050, 2},
                               {QStringLiteral("128 kbps  44.1 KHz  Stereo"), 44100, 2}};
        tts->SetOutputFormat(QStringLiteral("MP3"));
        int n = 0;
        for (const TCase& c : cases) {
            rec = {};
            rec.Bind(*tts);
            tts->SetMP3Quality(c.Quality);
            const QString name = QStringLiteral("article%1").arg(++n);
            tts->SetOutputFile(name);
            if (n == 1)
                tts->Tags.Title = QStringLiteral("Καλημέρα über alles, a subject longer than thirty characters");
            tts->Speak2(voice, text);
            QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 60000));
            QCOMPARE(rec.Codes, QList<int>{6});
            QCOMPARE(rec.Log.mid(rec.Log.indexOf(QStringLiteral("convert"))),
                     (QStringList{QStringLiteral("convert"), QStringLiteral("tags"), QStringLiteral("done")}));
            const QString mp3 = dir.filePath(name + QStringLiteral(".mp3"));
            QCOMPARE(tts->LastMP3File, mp3);
            QVERIFY(!QFile::exists(dir.filePath(name + QStringLiteral(".wav"))));
            QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("$$$") + name + QStringLiteral(".wav"))));
            const TWavFacts decoded = DecodeMp3(mp3, dir.path());
            QVERIFY2(decoded.Ok, qPrintable(c.Quality));
            QCOMPARE(decoded.Rate, c.Rate);
            QCOMPARE(decoded.Channels, c.Channels);
            QVERIFY2(qAbs(decoded.Seconds() / decoded.Channels - wav.Seconds()) < 0.1,
                     qPrintable(QStringLiteral("%1: %2 s against %3 s").arg(c.Quality).arg(decoded.Seconds()).arg(wav.Seconds())));

            QFile f(mp3);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray data = f.readAll();
            QCOMPARE(CountTagBlocks(data), 1);
            const QByteArray v1 = data.right(128);
            const auto field = [&v1](int from, int size) {
                return QString::fromLatin1(v1.mid(from, size).constData(), int(qstrnlen(v1.constData() + from, uint(size))));
            };
            if (n == 1)
                QCOMPARE(field(3, 30), QStringLiteral("???????? über alles, a subject"));
            else
                QCOMPARE(field(3, 30), name + QStringLiteral(".mp3"));
            QCOMPARE(field(33, 30), voice->DisplayName.left(30));
            QVERIFY(field(63, 30).startsWith(QStringLiteral("Created: ")));
            QCOMPARE(field(93, 4), QDate::currentDate().toString(QStringLiteral("yyyy")));
            QCOMPARE(field(97, 29), QString::fromLatin1(TBaseTTS::MakerAddress));
            QCOMPARE(int(uchar(v1[126])), 0);
            QCOMPARE(int(uchar(v1[127])), 101);
            if (n == 1) {
                const QString v2 = Run(QStringLiteral("mid3v2"), {QStringLiteral("--list"), mp3});
                QVERIFY2(v2.contains(QStringLiteral("TIT2=Καλημέρα über alles, a subject longer than thirty characters")),
                         qPrintable(v2));
                QVERIFY2(v2.contains(QStringLiteral("TPE1=") + voice->DisplayName), qPrintable(v2));
            }
            QVERIFY(tts->Tags.IsEmpty());
        }
    }

    // Stop while converting: a shorter MP3 that still plays, no WAV, event 5 and not 6. A
    // conversion on a full disk keeps the WAV and says so.
    void stopAndFailureWhileConverting()
    {
        VORLIX_REQUIRE_PULSE();
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("lame"));
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        TRecord rec;
        rec.Bind(*tts);
        TEnabling controls;
        controls.Register(*tts);
        TBaseVoiceClass* voice = VoiceOf(*tts, QStringLiteral("Sapi5"));
        QTemporaryDir dir;
        tts->OutputMode = 1;
        tts->OutputDir = dir.path();
        tts->SetOutputFormat(QStringLiteral("MP3"));
        tts->SetMP3Quality(QStringLiteral("128 kbps  44.1 KHz  Stereo"));
        tts->SetOutputFile(QStringLiteral("stopped"));
        // The Stop lands while the WAV is brought to 44.1 kHz stereo, before the encoding.
        QString inMp3State;
        tts->OnConvertStart = [&](TBaseTTS*) {
            inMp3State = controls.Pattern();
            QTimer::singleShot(0, tts.get(), [&] { tts->Stop(); });
        };
        tts->Speak2(voice, Words(400));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 120000));
        QCOMPARE(inMp3State, QStringLiteral("000001"));
        QCOMPARE(rec.Codes, QList<int>{5});
        QVERIFY(TestSupport::ExpectNothingFor(700, [&] { return rec.Codes.size() > 1; }));
        QCOMPARE(int(tts->State), int(tsIdle));
        const QString mp3 = dir.filePath(QStringLiteral("stopped.mp3"));
        const TWavFacts decoded = DecodeMp3(mp3, dir.path());
        QVERIFY(decoded.Ok);
        QVERIFY(decoded.Seconds() > 1);
        QVERIFY(decoded.Seconds() / 2 < 60);
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("stopped.wav"))));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("$$$stopped.wav"))));
        tts->OnConvertStart = nullptr;

        // A full disk: the WAV fits, then the disk fills up as the conversion starts.
        QTemporaryDir mountPoint;
        TestSupport::TSmallDisk disk(mountPoint.path(), "2m");
        if (!disk.Mounted())
            QSKIP("A small file system cannot be mounted here (needs root)");
        tts->OutputDir = mountPoint.path();
        tts->SetMP3Quality(DefaultQuality);
        tts->SetOutputFile(QStringLiteral("full"));
        rec = {};
        rec.Bind(*tts);
        tts->OnConvertStart = [&](TBaseTTS*) { disk.Fill(); };
        tts->Speak2(voice, Words(30));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 60000));
        QCOMPARE(rec.ConvertFailures.size(), 2);
        const QString kept = mountPoint.filePath(QStringLiteral("full.wav"));
        QCOMPARE(rec.ConvertFailures[0], kept);
        QVERIFY2(rec.ConvertFailures[1].contains(QStringLiteral("No space left on device")),
                 qPrintable(rec.ConvertFailures[1]));
        const TWavFacts wav = ReadWav(kept);
        QVERIFY(wav.Ok);
        QVERIFY(wav.Seconds() > 3);
        QVERIFY(!QFile::exists(mountPoint.filePath(QStringLiteral("full.mp3"))));
        QCOMPARE(tts->LastMP3File, QString());
        QCOMPARE(int(tts->State), int(tsIdle));

        // The disk fills up while the engine writes the WAV: the owner hears of it, the text
        // is not reported as done, and the manager is idle again.
        tts->OnConvertStart = nullptr;
        QVERIFY(QFile::remove(mountPoint.filePath(QStringLiteral("filler"))));
        QStringList speechErrors;
        tts->OnSpeechError = [&](TBaseTTS*, const QString& message) { speechErrors << message; };
        rec = {};
        rec.Bind(*tts);
        tts->SetOutputFile(QStringLiteral("toolong"));
        tts->Speak2(voice, Words(200));
        QVERIFY(TestSupport::WaitFor([&] { return !speechErrors.isEmpty() && !tts->IsBusy(); }, 60000));
        QVERIFY2(speechErrors.join(QLatin1Char(' ')).contains(QStringLiteral("No space left on device")),
                 qPrintable(speechErrors.join(QLatin1Char('|'))));
        QVERIFY(TestSupport::ExpectNothingFor(700, [&] { return rec.Codes.contains(6); }));
        QVERIFY(!voice->Adapter->Active);
    }

    // The sound device: a device that passes the check is stored and saved, one that fails
    // keeps the old one, Cancel changes nothing.
    void choosingTheSoundDevice()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs dialogs;
        TMyRegistryClass store;
        store.LoadAll();
        auto tts = NewManager(store);
        QCOMPARE(tts->AudioDeviceId, -1);
        dialogs.DeviceAnswers.push_back(0);
        QVERIFY(tts->SelectAudioDevice());
        QCOMPARE(dialogs.DeviceRequests, std::vector<int>{-1});
        QCOMPARE(tts->AudioDeviceId, 0);
        dialogs.DeviceAnswers.push_back(99);
        QVERIFY(!tts->SelectAudioDevice());
        QCOMPARE(tts->AudioDeviceId, 0);
        QVERIFY(dialogs.LastText().startsWith(QStringLiteral("Audio device check failed")));
        dialogs.DeviceAnswers.push_back(std::nullopt);
        QVERIFY(!tts->SelectAudioDevice());
        QCOMPARE(tts->AudioDeviceId, 0);
        auto again = NewManager(store);
        QCOMPARE(again->AudioDeviceId, 0);
        // The chosen device speaks.
        TRecord rec;
        rec.Bind(*again);
        again->Speak2(VoiceOf(*again, QStringLiteral("Sapi4")), Words(3));
        QVERIFY(TestSupport::WaitFor([&] { return !rec.Codes.isEmpty(); }, 30000));
        QCOMPARE(rec.Codes, QList<int>{6});
    }
};

VORLIX_TEST_MAIN_CORE(TestSpeechManager)
#include "test_speech_manager.moc"
