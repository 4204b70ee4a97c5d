// The eSpeak NG and Flite layers on their own: text parsing, real synthesis into WAV files,
// word positions, pause tags, the user lexicon, bad input and serialised synthesis.
#include "TestSupport.h"
#include "test_engine_support.h"

#include "core/BaseUtils.h"
#include "speech/Sapi5Wrapper.h"
#include "speech/TTS.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

namespace {
struct TRender {
    TWavFacts Wav;
    QList<int> Words;
    int EndStreams = 0;
    bool EventInsideCall = false;
};

// Speaks the text into a WAV file through the eSpeak NG layer and waits for the end.
TRender RenderEspeak(const QString& path, const QString& text, int format = SAFTDefault, int flags = SVSFlagsAsync | SVSFIsXML)
{
    TRender r;
    TSpVoice voice;
    TSpFileStream file;
    file.FormatType = format;
    file.Open(path, 3);
    voice.SetAudioOutputStream(&file);
    int stream = -1;
    bool inCall = true;
    voice.OnWord = [&](int s, int64_t, int pos, int) {
        if (inCall)
            r.EventInsideCall = true;
        if (s == stream)
            r.Words << pos;
    };
    voice.OnEndStream = [&](int s) {
        if (inCall)
            r.EventInsideCall = true;
        if (s == stream)
            ++r.EndStreams;
    };
    stream = voice.Speak(text, flags);
    inCall = false;
    if (!TestSupport::WaitFor([&] { return r.EndStreams > 0; }, 120000))
        return r;
    file.Close();
    r.Wav = ReadWav(path);
    return r;
}

TRender RenderFlite(const QString& path, const QString& text, const QString& mode)
{
    TRender r;
    TTTS tts;
    tts.SetModeName(mode);
    tts.OutputDest = odFile;
    tts.OutputFile = path;
    tts.ControlTags = ctTagged;
    tts.SetActive(true);
    bool inCall = true;
    tts.OnWordPosition = [&](TTTS*, int64_t b) {
        if (inCall)
            r.EventInsideCall = true;
        r.Words << int(b / 2);
    };
    tts.OnAudioStop = [&](TTTS*) { ++r.EndStreams; };
    tts.Speak(text);
    inCall = false;
    if (!TestSupport::WaitFor([&] { return r.EndStreams > 0; }, 120000))
        return r;
    tts.SetActive(false);
    r.Wav = ReadWav(path);
    return r;
}
} // namespace

class TestEngineLayers : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString Path(const QString& name) const { return dir.filePath(name); }

private slots:
    void sapiTextParsing()
    {
        TSapiXmlState state;
        const QString text = QStringLiteral("Hello <PITCH ABSMIDDLE=\"5\"/>world<SILENCE MSEC=\"500\"/> <foo@bar.com> &amp; <b>bold</b> &lt;x&gt;");
        auto segs = ParseSapiText(text, true, state, {});
        QCOMPARE(int(segs.size()), 4);
        QCOMPARE(segs[0].Content, QStringLiteral("Hello "));
        QCOMPARE(segs[0].Pitch, 0);
        QCOMPARE(segs[1].Content, QStringLiteral("world"));
        QCOMPARE(segs[1].Pitch, 5);
        QCOMPARE(segs[1].Positions.front(), int(text.indexOf(QLatin1String("world"))));
        QCOMPARE(int(segs[2].SegmentKind), int(TSapiSegment::Silence));
        QCOMPARE(segs[2].Milliseconds, 500);
        // Unknown markup stays text; entities become their characters at the entity's position.
        QCOMPARE(state.Pitch, 5);
        segs = ParseSapiText(QStringLiteral(" <foo@bar.com> &amp; <b>bold</b> &lt;x&gt;"), true, state, {});
        QCOMPARE(int(segs.size()), 1);
        QCOMPARE(segs[0].Content, QStringLiteral(" <foo@bar.com> & <b>bold</b> <x>"));
        QCOMPARE(segs[0].Positions[15], 15); // '&' of "&amp;"
        QCOMPARE(segs[0].Positions[16], 20);
        QCOMPARE(segs[0].Pitch, 5);          // persisted state of the caller
        // Rate tag, container pitch restored at its end, XML off speaks tags as text.
        TSapiXmlState s2;
        segs = ParseSapiText(QStringLiteral("<RATE ABSSPEED=\"-20\"/>a <PITCH MIDDLE=\"3\">b</PITCH> c"), true, s2, {});
        QCOMPARE(int(segs.size()), 3);
        QCOMPARE(segs[0].Rate, -10);
        QCOMPARE(segs[1].Pitch, 3);
        QCOMPARE(segs[2].Pitch, 0);
        TSapiXmlState s3;
        segs = ParseSapiText(QStringLiteral("<SILENCE MSEC=\"5\"/>"), false, s3, {});
        QCOMPARE(int(segs.size()), 1);
        QCOMPARE(segs[0].Content, QStringLiteral("<SILENCE MSEC=\"5\"/>"));
        // Control characters become blanks (line breaks and tabs stay), positions unchanged.
        QString controls;
        for (int c = 1; c < 32; ++c)
            controls += QChar(c);
        controls += QStringLiteral("word");
        segs = ParseSapiText(controls, true, s3, {});
        QCOMPARE(int(segs.size()), 1);
        for (int i = 0; i < 31; ++i) {
            const QChar c = segs[0].Content[i];
            QVERIFY2(c == QLatin1Char(' ') || c == QLatin1Char('\n') || c == QLatin1Char('\t'), qPrintable(QString::number(i)));
        }
        QCOMPARE(segs[0].Positions[31], 31);
    }

    void pronunciationsAndLexicon()
    {
        TSapiXmlState s;
        auto segs = ParseSapiText(QStringLiteral("<PRON SYM=\"h eh 1 l ow\">hi</PRON> there"), true, s, {});
        QCOMPARE(int(segs.size()), 2);
        QCOMPARE(int(segs[0].SegmentKind), int(TSapiSegment::Phonemes));
        QCOMPARE(segs[0].Content, QStringLiteral("h'EloU"));
        QCOMPARE(segs[0].SourcePosition, 0);
        QCOMPARE(segs[1].Content, QStringLiteral(" there"));
        // An unknown phone symbol drops the tag; the enclosed word is spoken as written.
        segs = ParseSapiText(QStringLiteral("<PRON SYM=\"qq zz\">hi</PRON>"), true, s, {});
        QCOMPARE(int(segs.size()), 1);
        QCOMPARE(segs[0].Content, QStringLiteral("hi"));
        bool ok = true;
        QVERIFY(TSpLexicon::SapiToEspeak(QStringLiteral("1 aa"), &ok).isEmpty());
        QVERIFY(!ok);
        // Lexicon words become phonemes wherever they stand, whatever their case.
        QHash<QString, QString> lex{{QStringLiteral("tomato"), QStringLiteral("t@m'A:toU")}};
        segs = ParseSapiText(QStringLiteral("A Tomato, tomatoes and tomato."), true, s, lex);
        QCOMPARE(int(segs.size()), 5);
        QCOMPARE(segs[0].Content, QStringLiteral("A "));
        QCOMPARE(segs[1].SourcePosition, 2);
        QCOMPARE(segs[1].SourceLength, 6);
        QCOMPARE(segs[2].Content, QStringLiteral(", tomatoes and "));
        QCOMPARE(segs[3].SourcePosition, 23);

        // The user lexicon persists in the home folder and changes the spoken audio.
        TSpLexicon lexicon;
        const QString word = QStringLiteral("zorblat");
        const TRender before = RenderEspeak(Path("lex0.wav"), word);
        lexicon.AddPronunciation(word, 1033, 0, QStringLiteral("s uw 1 p er k ae 2 l ih f r ae 1 jh ih l ih s t ih k"));
        QVERIFY_THROWS_EXCEPTION(ESapi5Error, lexicon.AddPronunciation(word, 1033, 0, QStringLiteral("xx 1")));
        QVERIFY_THROWS_EXCEPTION(ESapi5Error, lexicon.AddPronunciation(QStringLiteral("  "), 1033, 0, QStringLiteral("aa")));
        QFile f(TSpLexicon::FileName());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(f.readAll()), QStringLiteral("zorblat|1033|0|s uw 1 p er k ae 2 l ih f r ae 1 jh ih l ih s t ih k\r\n"));
        f.close();
        TSpLexicon::Reload();
        QCOMPARE(TSpLexicon().GetPronunciations(QStringLiteral("ZORBLAT")), QStringList{QStringLiteral("s uw 1 p er k ae 2 l ih f r ae 1 jh ih l ih s t ih k")});
        const TRender with = RenderEspeak(Path("lex1.wav"), word);
        QVERIFY(before.Wav.Ok && with.Wav.Ok);
        // "supercalifragilistic" is clearly longer than "zorblat".
        QVERIFY2(with.Wav.Seconds() > before.Wav.Seconds() + 0.15,
                 qPrintable(QStringLiteral("%1 vs %2").arg(with.Wav.Seconds()).arg(before.Wav.Seconds())));
        QCOMPARE(with.Words, QList<int>{0});
        lexicon.RemovePronunciation(word, 1033, 0, QString());
        QVERIFY(lexicon.GetWords().empty());
        const TRender after = RenderEspeak(Path("lex2.wav"), word);
        QVERIFY(std::abs(after.Wav.Seconds() - before.Wav.Seconds()) < 0.02);
    }

    void espeakToWav()
    {
        const QString text = QStringLiteral("Hello world, this is a test of the speech layer.");
        const TRender r = RenderEspeak(Path("es22.wav"), text);
        QVERIFY(r.Wav.Ok);
        QCOMPARE(r.Wav.Rate, 22050);
        QCOMPARE(r.Wav.Channels, 1);
        QCOMPARE(r.Wav.Format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        QVERIFY2(r.Wav.Seconds() > 1.5 && r.Wav.Seconds() < 8.0, qPrintable(QString::number(r.Wav.Seconds())));
        QCOMPARE(r.EndStreams, 1);
        QVERIFY(!r.EventInsideCall);
        // eSpeak NG reports a word that it joins to the next ("of the") only once.
        const QList<int> starts = WordStarts(text);
        QVERIFY(r.Words.size() >= starts.size() - 2);
        for (int i = 0; i < r.Words.size(); ++i) {
            QVERIFY(starts.contains(r.Words[i]));
            QVERIFY(i == 0 || r.Words[i] > r.Words[i - 1]);
        }
        // Other stream formats are resampled to their rate.
        const TRender r16 = RenderEspeak(Path("es16.wav"), text, SAFT16kHz16BitMono);
        QCOMPARE(r16.Wav.Rate, 16000);
        QVERIFY(std::abs(r16.Wav.Seconds() - r.Wav.Seconds()) < 0.05);
        const TRender r8 = RenderEspeak(Path("es8.wav"), text, SAFT8kHz16BitMono);
        QCOMPARE(r8.Wav.Rate, 8000);
        QVERIFY(std::abs(r8.Wav.Seconds() - r.Wav.Seconds()) < 0.05);
        // Word positions count the markup of the text, as the voice receives it.
        const QString tagged = QStringLiteral("<RATE ABSSPEED=\"2\"/>one <SILENCE MSEC=\"10\"/>two");
        QCOMPARE(RenderEspeak(Path("es_tag.wav"), tagged).Words, (QList<int>{20, 44}));
        // A slower rate gives a longer file.
        const TRender slow = RenderEspeak(Path("es_slow.wav"), QStringLiteral("<RATE ABSSPEED=\"-10\"/>") + text);
        QVERIFY(slow.Wav.Seconds() > r.Wav.Seconds() * 1.8);
    }

    void fliteToWav()
    {
        const auto& modes = TTTSEnumerator::Modes();
        QCOMPARE(int(modes.size()), 5);
        const QString text = QStringLiteral("Hello world, this is a test.");
        for (const auto& m : modes) {
            const TRender r = RenderFlite(Path(m.FliteVoice + ".wav"), text, m.ModeName);
            QVERIFY2(r.Wav.Ok, qPrintable(m.ModeName));
            QCOMPARE(r.Wav.Rate, m.SampleRate);
            QCOMPARE(r.Wav.Channels, 1);
            QVERIFY2(r.Wav.Seconds() > 1.0 && r.Wav.Seconds() < 6.0, qPrintable(QString::number(r.Wav.Seconds())));
            QCOMPARE(r.EndStreams, 1);
            QVERIFY(!r.EventInsideCall);
            QCOMPARE(r.Words, WordStarts(text));
        }
        QCOMPARE(modes[0].SampleRate, 8000);
        QCOMPARE(modes[2].SampleRate, 16000);
        // Mode names that do not exist, and properties that may only change while inactive.
        TTTS tts;
        QVERIFY_THROWS_EXCEPTION(ESpeechError, tts.SetModeName(QStringLiteral("No such mode")));
        try {
            tts.Speak(QStringLiteral("x"));
            QFAIL("Speak while inactive must fail");
        } catch (const ESpeechError& e) {
            QCOMPARE(e.message(), QStringLiteral("The Active property must be TRUE before the Speak method can be called"));
        }
        tts.OutputDest = odFile;
        try {
            tts.SetActive(true);
            QFAIL("A file destination without a file must fail");
        } catch (const ESpeechError& e) {
            QCOMPARE(e.message(), QStringLiteral("OutputDest of odFile requres a valid path and file name in the OutputFile property"));
        }
    }

    void pauseTags()
    {
        const double plain = RenderEspeak(Path("p0.wav"), QStringLiteral("one two")).Wav.Seconds();
        const double paused = RenderEspeak(Path("p1.wav"), QStringLiteral("one<SILENCE MSEC=\"1000\"/> two")).Wav.Seconds();
        QVERIFY2(paused - plain > 0.9 && paused - plain < 1.3, qPrintable(QStringLiteral("%1 %2").arg(plain).arg(paused)));
        const QString kal = TTTSEnumerator::Modes().front().ModeName;
        const double fplain = RenderFlite(Path("f0.wav"), QStringLiteral("one two"), kal).Wav.Seconds();
        const TRender fp = RenderFlite(Path("f1.wav"), QStringLiteral("one\\Pau=1000\\ two"), kal);
        QVERIFY2(fp.Wav.Seconds() - fplain > 0.9 && fp.Wav.Seconds() - fplain < 1.4,
                 qPrintable(QStringLiteral("%1 %2").arg(fplain).arg(fp.Wav.Seconds())));
        QCOMPARE(fp.Words, (QList<int>{0, 14}));
        // Text between backslashes that is no tag is spoken.
        auto parts = ParseTaggedText(QStringLiteral("C:\\dir\\file \\Pau=20\\x \\Spd=200\\y"), true);
        QCOMPARE(int(parts.size()), 4);
        QCOMPARE(parts[0].Text, QStringLiteral("C:\\dir\\file "));
        QVERIFY(parts[1].IsPause);
        QCOMPARE(parts[1].Milliseconds, 20);
        QCOMPARE(parts[3].Speed, 200);
        QCOMPARE(parts[3].Positions.front(), 31);
    }

    void badInputNeverFatal()
    {
        QString controls;
        for (int c = 0; c < 32; ++c)
            controls += QChar(c) + QStringLiteral("a");
        controls += QChar(0x7F) + QStringLiteral("b") + QChar(0x85) + QChar(0xD800) + QStringLiteral("c") + QChar(0xDC00);
        const QString invalidUtf8 = QString::fromUtf8("caf\xc3 \xff\xfe broken \xed\xa0\x80 bytes \xf0\x9f\x98\x80 end");
        const QString tags = QStringLiteral("<unknown attr=\"1\">x</unknown> <PITCH ABSMIDDLE=\"x\"/> <SILENCE MSEC=\"-5\"/> <RATE> <<>> <PRON SYM=\"\"> \\Pau=\\ \\Pau=99999999999\\ <!-- open");
        // A megabyte of text that is mostly blanks and control characters with a few words.
        QString big;
        big.reserve(1 << 20);
        while (big.size() < (1 << 20) - 20) {
            big += QStringLiteral("word ");
            big += QString(10000, QChar(' '));
            big += QString(100, QChar(7));
        }
        int n = 0;
        for (const QString& t : {controls, invalidUtf8, tags, big}) {
            const TRender e = RenderEspeak(Path(QStringLiteral("bad_es%1.wav").arg(n)), t);
            QVERIFY2(e.EndStreams == 1 && e.Wav.Ok && !e.Wav.Samples.empty(), qPrintable(QString::number(n)));
            const TRender f = RenderFlite(Path(QStringLiteral("bad_fl%1.wav").arg(n)), t, TTTSEnumerator::Modes()[1].ModeName);
            QVERIFY2(f.EndStreams == 1 && f.Wav.Ok, qPrintable(QString::number(n)));
            ++n;
        }
    }

    void oneSynthesisAtATime()
    {
        // Two voice objects speaking at once give exactly what each gives alone.
        const QString a = QStringLiteral("The first voice reads this sentence aloud for the check.");
        const QString b = QStringLiteral("A second text that runs at the same time in another voice.");
        const TRender soloA = RenderEspeak(Path("soloA.wav"), a);
        const TRender soloB = RenderEspeak(Path("soloB.wav"), b);
        TSpVoice v1, v2;
        TSpFileStream f1, f2;
        f1.Open(Path("parA.wav"));
        f2.Open(Path("parB.wav"));
        v1.SetAudioOutputStream(&f1);
        v2.SetAudioOutputStream(&f2);
        int ends = 0;
        v1.OnEndStream = [&](int) { ++ends; };
        v2.OnEndStream = [&](int) { ++ends; };
        v1.Speak(a, SVSFlagsAsync);
        v2.Speak(b, SVSFlagsAsync);
        QVERIFY(TestSupport::WaitFor([&] { return ends == 2; }, 60000));
        f1.Close();
        f2.Close();
        // eSpeak NG varies by a few samples from call to call; interleaved output would not.
        QVERIFY(std::abs(ReadWav(Path("parA.wav")).Seconds() - soloA.Wav.Seconds()) < 0.02);
        QVERIFY(std::abs(ReadWav(Path("parB.wav")).Seconds() - soloB.Wav.Seconds()) < 0.02);

        // The same for Flite components.
        const QString slt = TTTSEnumerator::Modes()[2].ModeName;
        const TRender fa = RenderFlite(Path("fsoloA.wav"), a, slt);
        TTTS t1, t2;
        for (TTTS* t : {&t1, &t2}) {
            t->SetModeName(slt);
            t->OutputDest = odFile;
            t->OnAudioStop = [&](TTTS*) { ++ends; };
        }
        t1.OutputFile = Path("fparA.wav");
        t2.OutputFile = Path("fparB.wav");
        t1.SetActive(true);
        t2.SetActive(true);
        ends = 0;
        t1.Speak(a);
        t2.Speak(a);
        QVERIFY(TestSupport::WaitFor([&] { return ends == 2; }, 60000));
        t1.SetActive(false);
        t2.SetActive(false);
        QVERIFY(std::abs(ReadWav(Path("fparA.wav")).Seconds() - fa.Wav.Seconds()) < 0.02);
        QVERIFY(std::abs(ReadWav(Path("fparB.wav")).Seconds() - fa.Wav.Seconds()) < 0.02);
    }

    void purgeStopsFileRendering()
    {
        // A purge drops the text at once; the file keeps only what was written before.
        TSpVoice voice;
        TSpFileStream file;
        file.Open(Path("purge.wav"));
        voice.SetAudioOutputStream(&file);
        QString longText;
        for (int i = 0; i < 3000; ++i)
            longText += QStringLiteral("This sentence is repeated many times. ");
        QList<int> ended;
        voice.OnEndStream = [&](int s) { ended << s; };
        const int s1 = voice.Speak(longText, SVSFlagsAsync);
        const int s2 = voice.Speak(QString(), SVSFPurgeBeforeSpeak | SVSFlagsAsync);
        QVERIFY(TestSupport::WaitFor([&] { return ended.size() == 2; }, 10000));
        QCOMPARE(ended, (QList<int>{s1, s2}));
        file.Close();
        // Rendering it whole would take hours of audio; the purge stopped it early.
        QVERIFY(ReadWav(Path("purge.wav")).Seconds() < 600);
    }
};

VORLIX_TEST_MAIN_CORE(TestEngineLayers)
#include "test_engine_layers.moc"
