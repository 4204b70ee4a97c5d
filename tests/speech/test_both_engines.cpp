// One real article through both engines: rendered into WAV files and spoken aloud into the
// test server's null sink, with the word positions pointing into the article's text.
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
    QStringList Errors;
    void Bind(TSpeechAPI& a)
    {
        a.OnFinished = [this](TSpeechAPI*, bool c) {
            ++Finished;
            Cancelled = c;
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
};

VORLIX_TEST_MAIN_CORE(TestBothEngines)
#include "test_both_engines.moc"
