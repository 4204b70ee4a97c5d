// One real article through both engines: rendered into WAV files and spoken aloud into the
// test server's null sink, with the word positions pointing into the article's text. And what
// both adapters do alike: closing a paused file, a text after a pause, devices that are not
// there, and failures told to the owner instead of shown in boxes.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "ScriptedDialogs.h"
#include "core/RegistryUnit.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {
// The body of a sample article, as a reader would have it spoken.
QString ArticleBody()
{
    QFile f(TestSupport::SourceDataDir() + QStringLiteral("/sample-news/comp.os.linux.misc/0004.txt"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(f.readAll());
    return text.mid(text.indexOf(QLatin1String("\n\n")) + 2).trimmed();
}

struct TRun {
    int Finished = 0;
    bool Cancelled = false;
    QList<int> Words;
    QList<int> WordsAtFinish; // the words reported when the finished notification came
    QStringList Errors;
    TSpeechAPI* Bound = nullptr;
    // The adapters outlive a run: their late events must not reach a run that has gone.
    ~TRun()
    {
        if (!Bound)
            return;
        Bound->OnFinished = nullptr;
        Bound->OnWordPosition = nullptr;
        Bound->OnError = nullptr;
    }
    void Bind(TSpeechAPI& a)
    {
        Bound = &a;
        a.OnFinished = [this](TSpeechAPI*, bool c) {
            ++Finished;
            Cancelled = c;
            WordsAtFinish = Words;
        };
        a.OnWordPosition = [this](TSpeechAPI*, unsigned char kind, int, int pos) {
            if (kind == 0)
                Words << pos;
        };
        a.OnError = [this](TSpeechAPI*, const QString& m) { Errors << m; };
    }
};

TBaseVoiceClass* Plain(TVoiceList& voices, const QString& name)
{
    TBaseVoiceClass* v = voices.FindByName(name);
    if (v) {
        v->SetValue(QStringLiteral("Pitch"), NotSet);
        v->SetValue(QStringLiteral("Speed"), NotSet);
        v->SetValue(QStringLiteral("Volume"), NotSet);
    }
    return v;
}
}

class TestBothEngines : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    std::unique_ptr<TMyRegistryClass> main;
    std::unique_ptr<TBaseVoiceRegistryClass> store;
    std::unique_ptr<TSapi5> sapi5;
    std::unique_ptr<TSapi4> sapi4;
    TVoiceList voices;
    TEngineList engines;
    QString article;

    QList<TSpeechAPI*> adapters() const { return {sapi5.get(), sapi4.get()}; }
    TBaseVoiceClass* voiceOf(TSpeechAPI* a)
    {
        return Plain(voices, a == sapi5.get() ? QStringLiteral("English (America)") : QStringLiteral("Kal16"));
    }

    // Renders the article with one voice and checks the file and the word positions.
    double render(TSpeechAPI& adapter, TBaseVoiceClass* voice, const QString& file)
    {
        TRun run;
        run.Bind(adapter);
        const QString path = dir.filePath(file);
        if (!adapter.PlayToFileInit(voice, path) || !adapter.PlayToFile(0, article))
            return -1;
        if (!TestSupport::WaitFor([&] { return run.Finished > 0; }, 60000))
            return -2;
        adapter.SetActive(false);
        if (run.Cancelled || !run.Errors.isEmpty() || run.Words.isEmpty())
            return -3;
        // Positions are characters of the article, in order, starting at its first word.
        if (run.Words.first() != 0 || run.Words.last() >= article.size())
            return -4;
        for (int i = 1; i < run.Words.size(); ++i) {
            if (run.Words[i] < run.Words[i - 1])
                return -5;
        }
        if (!article.mid(run.Words.last()).startsWith(QLatin1String("Dev")))
            return -6;
        // Every position is the start of a word, never the blank before it.
        for (int p : run.Words) {
            if (article.at(p).isSpace())
                return -8;
        }
        const TWavFacts w = ReadWav(path);
        if (!w.Ok || w.Channels != 1 || w.Format != (SF_FORMAT_WAV | SF_FORMAT_PCM_16))
            return -7;
        return w.Seconds();
    }

private slots:
    void initTestCase()
    {
        article = ArticleBody();
        QVERIFY(article.startsWith(QLatin1String("I have a new 4 TB disk")));
        main = std::make_unique<TMyRegistryClass>();
        store = std::make_unique<TBaseVoiceRegistryClass>(*main);
        store->AddItem(QStringLiteral("PauseAtWavEOF"), rlSection, QString(), 0, rkInteger);
        store->AddItem(QStringLiteral("TTS_AudioDeviceID"), rlSection, QString(), -1, rkInteger);
        store->AddItem(QStringLiteral("TTS_RealTimeValue"), rlSection, QString(), 2560, rkInteger);
        sapi5 = std::make_unique<TSapi5>();
        sapi5->Store = store.get();
        sapi5->LoadVoices(voices, engines);
        sapi4 = std::make_unique<TSapi4>();
        sapi4->Store = store.get();
        sapi4->LoadVoices(voices, engines);
        store->LoadAll();
        sapi5->SetAudioDevice(-1);
        sapi4->SetAudioDevice(-1);
    }

    void sameArticleToWavWithBothEngines()
    {
        TScopedScriptedDialogs d;
        TBaseVoiceClass* espeak = Plain(voices, QStringLiteral("English (America)"));
        TBaseVoiceClass* flite = Plain(voices, QStringLiteral("Kal16"));
        QVERIFY(espeak && flite);
        const double a = render(*sapi5, espeak, QStringLiteral("espeak.wav"));
        const double b = render(*sapi4, flite, QStringLiteral("flite.wav"));
        // Some thirty words take several seconds to say, whichever engine says them.
        QVERIFY2(a > 5 && a < 40, qPrintable(QString::number(a)));
        QVERIFY2(b > 5 && b < 40, qPrintable(QString::number(b)));
        QVERIFY2(a / b > 0.4 && a / b < 2.5, qPrintable(QStringLiteral("%1 %2").arg(a).arg(b)));
        QVERIFY(d.Shown.empty());
    }

    void sameArticleAloudWithBothEngines()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs d;
        for (TSpeechAPI* adapter : {static_cast<TSpeechAPI*>(sapi5.get()), static_cast<TSpeechAPI*>(sapi4.get())}) {
            TBaseVoiceClass* v = Plain(voices, adapter == sapi5.get() ? QStringLiteral("English (America)")
                                                                        : QStringLiteral("Kal16"));
            TRun run;
            run.Bind(*adapter);
            adapter->Activate(v);
            QVERIFY(adapter->Active);
            adapter->PlayText(article);
            QVERIFY(TestSupport::WaitFor([&] { return run.Finished > 0; }, 60000));
            adapter->SetActive(false);
            QVERIFY(!run.Cancelled);
            QVERIFY2(run.Errors.isEmpty(), qPrintable(run.Errors.join('\n')));
            // Words are reported as they are heard, through to the signature.
            QVERIFY(run.Words.size() >= 20);
            QVERIFY(article.mid(run.Words.last()).startsWith(QLatin1String("Dev")));
        }
        QVERIFY(d.Shown.empty());
    }

    void voicesNeedTheirSettings()
    {
        // Without the settings the voices could not register: refused, not silently skipped.
        TSapi5 bare5;
        TSapi4 bare4;
        for (TSpeechAPI* a : {static_cast<TSpeechAPI*>(&bare5), static_cast<TSpeechAPI*>(&bare4)}) {
            TVoiceList none;
            TEngineList noEngines;
            QVERIFY_THROWS_EXCEPTION(ESpeechAPIError, a->LoadVoices(none, noEngines));
            QCOMPARE(none.Count(), 0);
        }
    }

    void closingAPausedFile()
    {
        // Closed while paused, a file gets the rest of its text and the closing silence.
        TScopedScriptedDialogs d;
        store->SetValue(QStringLiteral("PauseAtWavEOF"), 700);
        for (TSpeechAPI* a : adapters()) {
            TRun run;
            run.Bind(*a);
            const QString path = dir.filePath(a == sapi5.get() ? QStringLiteral("p5.wav") : QStringLiteral("p4.wav"));
            QVERIFY(a->PlayToFileInit(voiceOf(a), path));
            QVERIFY(a->PlayToFile(0, article));
            a->Pause();
            a->SetActive(false);
            QVERIFY(!a->Paused);
            QVERIFY(TestSupport::WaitFor([&] { return run.Finished > 0; }, 5000));
            QVERIFY(!run.Cancelled && !run.Words.isEmpty());
            QVERIFY(article.mid(run.Words.last()).startsWith(QLatin1String("Dev")));
            const TWavFacts f = ReadWav(path);
            QVERIFY(f.Ok && f.Seconds() > 1);
            QVERIFY(a == sapi4.get() || TrailingSilenceMs(f) >= 700);
        }
        store->SetValue(QStringLiteral("PauseAtWavEOF"), 0);
        // A text that takes longer than the close allows is cut short, in a complete file.
        const QString huge = article.repeated(2000);
        sapi5->FileFinishTimeoutMs = sapi4->Tts->FileFinishTimeoutMs = 300;
        const QString cut = dir.filePath(QStringLiteral("cut.wav"));
        for (TSpeechAPI* a : adapters()) {
            QVERIFY(a->PlayToFileInit(voiceOf(a), cut));
            QVERIFY(a->PlayToFile(0, huge));
            QElapsedTimer t;
            t.start();
            a->SetActive(false);
            QVERIFY2(t.elapsed() < 300 + 2000, qPrintable(QString::number(t.elapsed())));
            QVERIFY(ReadWav(cut).Ok);
        }
        sapi5->FileFinishTimeoutMs = sapi4->Tts->FileFinishTimeoutMs = 10000;
        QVERIFY(d.Shown.empty());
    }

    void nextTextAfterResume()
    {
        VORLIX_REQUIRE_PULSE();
        // A pause and a resume between Activate and the next text: the end of the text before
        // is old news, the next one ends when it has been heard.
        const QString second = QStringLiteral("The second text has several words and is heard to its end.");
        for (TSpeechAPI* a : adapters()) {
            TRun first;
            first.Bind(*a);
            a->Activate(voiceOf(a));
            a->PlayText(QStringLiteral("The first text."));
            QVERIFY(TestSupport::WaitFor([&] { return first.Finished > 0; }, 15000));
            TRun run;
            run.Bind(*a);
            a->Activate(voiceOf(a));
            // Window events run in between (eSpeak NG's settings text ends).
            QVERIFY(TestSupport::WaitFor([&] { return !sapi5->Voice->Busy(); }, 2000));
            a->Pause();
            a->Resume();
            a->PlayText(second);
            QVERIFY(TestSupport::WaitFor([&] { return run.Finished > 0; }, 30000));
            QVERIFY(!run.Cancelled);
            QVERIFY(!run.WordsAtFinish.isEmpty());
            QCOMPARE(run.WordsAtFinish.last(), int(second.indexOf(QLatin1String("end"))));
            a->SetActive(false);
        }
    }

    void audioDevicesThatAreNotThere()
    {
        VORLIX_REQUIRE_PULSE();
        TScopedScriptedDialogs d;
        std::vector<TPulseSinkInfo> sinks;
        QVERIFY(TPulseAudio::Instance().ListSinks(sinks));
        const int gone = int(sinks.size());
        const QStringList failed = {
            "The value specified for the AudioDeviceID is outside the range of available IDs",
            "Audio device check failed. \rVerify that the device you have selected is a valid audio device\r\rPlease contact Quenrad Support if you're having problems"};
        for (TSpeechAPI* a : adapters()) {
            // The check needs no open engine; unassigned OnError gives boxes, assigned no box.
            QVERIFY(a->CheckAudioDevice(-1) && a->CheckAudioDevice(0));
            QVERIFY(!a->CheckAudioDevice(gone));
            QCOMPARE(d.Texts(), failed);
            d.Clear();
            TRun run;
            run.Bind(*a);
            QVERIFY(!a->CheckAudioDevice(-2));
            QCOMPARE(run.Errors, failed);
            QVERIFY(d.Shown.empty());
            // A stored device that has gone gives the default device.
            a->SetAudioDevice(gone);
        }
        QCOMPARE(sapi4->Tts->AudioDeviceID(), -1);
        QCOMPARE(sapi5->AudioDevice(), -1);
        store->SetValue(QStringLiteral("TTS_AudioDeviceID"), gone);
        TRun run;
        run.Bind(*sapi5);
        sapi5->Activate(voiceOf(sapi5.get()));
        sapi5->PlayText(QStringLiteral("Still heard."));
        QVERIFY(TestSupport::WaitFor([&] { return run.Finished > 0; }, 15000));
        store->SetValue(QStringLiteral("TTS_AudioDeviceID"), -1);
        QVERIFY(!run.Cancelled && run.Errors.isEmpty());
        sapi5->SetActive(false);
    }

    void errorsGoToTheOwner()
    {
        // With OnError assigned the owner hears of every failure, and no box is shown.
        TScopedScriptedDialogs d;
        for (TSpeechAPI* a : adapters()) {
            TRun run;
            run.Bind(*a);
            QVERIFY(!a->PlayToFileInit(voiceOf(a), QStringLiteral("/no/such/dir/a.wav")));
            QVERIFY(!a->PlayToFileInit(voiceOf(a), QStringLiteral("a.wav")));
            QCOMPARE(run.Errors, (QStringList{"Output Directory /no/such/dir/ is not valid", "Output Directory must be specified"}));
        }
        // A file that cannot be created, and the text written into it all the same.
        const QString blocked = dir.filePath(QStringLiteral("blocked.wav"));
        QVERIFY(QDir().mkpath(blocked));
        TRun run;
        run.Bind(*sapi4);
        QVERIFY_THROWS_EXCEPTION(ESpeechError, sapi4->PlayToFileInit(voiceOf(sapi4.get()), blocked));
        QVERIFY(!sapi4->PlayToFile(0, QStringLiteral("Nowhere to go.")));
        QCOMPARE(run.Errors.size(), 2);
        QVERIFY2(run.Errors[0].startsWith(QStringLiteral("Could not create the file ") + blocked), qPrintable(run.Errors[0]));
        QCOMPARE(run.Errors[1], QStringLiteral("The Active property must be TRUE before the Speak method can be called"));
        QVERIFY(d.Shown.empty());
    }
};

VORLIX_TEST_MAIN_CORE(TestBothEngines)
#include "test_both_engines.moc"
