// The WAV to MP3 converter against real files: WAVs made here with libsndfile, MP3s made by
// LAME and decoded again by the lame program, tags read back by mutagen's mid3v2.
#include "ScriptedDialogs.h"
#include "TestSupport.h"
#include "audio/LameUnit.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <cmath>
#include <sndfile.h>
#include <vector>

namespace {
// A speech-like mono signal: a gliding tone, syllable-rate loudness and a little noise.
bool MakeWav(const QString& path, int rate, sf_count_t frames)
{
    std::vector<short> samples(static_cast<size_t>(frames));
    uint32_t noise = 12345;
    double phase = 0;
    for (sf_count_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        phase += 2 * M_PI * (180 + 120 * std::sin(2 * M_PI * 0.7 * t)) / rate;
        noise = noise * 1664525u + 1013904223u;
        const double v = 0.4 * std::sin(phase) * (0.55 + 0.45 * std::sin(8 * M_PI * t)) + 0.02 * (int(noise >> 24) - 128) / 128.0;
        samples[size_t(i)] = short(std::lrint(v * 32767));
    }
    SF_INFO info{0, rate, 1, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    const bool written = f && sf_writef_short(f, samples.data(), frames) == frames;
    return f && sf_close(f) == 0 && written;
}

// The format of a WAV file, and its samples when asked for.
SF_INFO WavInfo(const QString& path, std::vector<short>* samples = nullptr)
{
    SF_INFO info{};
    if (SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info)) {
        if (samples) {
            samples->resize(size_t(info.frames) * info.channels);
            sf_readf_short(f, samples->data(), info.frames);
        }
        sf_close(f);
    }
    return info;
}

QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    if (exitCode)
        *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return p.readAllStandardOutput();
}

// The MP3 decoded by the lame program: rate, channels and frames of the result.
SF_INFO Decode(const QString& mp3, const QString& wav)
{
    int rc = -1;
    Run(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("--decode"), mp3, wav}, &rc);
    return rc == 0 ? WavInfo(wav) : SF_INFO{};
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The chapters of an MP3 as mutagen reads them: {"toc": [{id, children, top, ordered, title}],
// "chapters": [[id, start, end, start offset, end offset, title, title encoding]] by id,
// "length": ms}. An empty object when the file cannot be read.
QJsonObject ReadChapters(const QString& mp3)
{
    static const char* script =
        "import sys, json, mutagen.id3, mutagen.mp3\n"
        "t = mutagen.id3.ID3(sys.argv[1])\n"
        "F = mutagen.id3.CTOCFlags\n"
        "title = lambda f: f.sub_frames['TIT2'].text[0] if 'TIT2' in f.sub_frames else None\n"
        "enc = lambda f: int(f.sub_frames['TIT2'].encoding) if 'TIT2' in f.sub_frames else None\n"
        "print(json.dumps({\n"
        "  'toc': [{'id': f.element_id, 'children': f.child_element_ids, 'top': bool(f.flags & F.TOP_LEVEL),\n"
        "           'ordered': bool(f.flags & F.ORDERED), 'title': title(f)} for f in t.getall('CTOC')],\n"
        "  'chapters': sorted([f.element_id, f.start_time, f.end_time, f.start_offset, f.end_offset, title(f), enc(f)]\n"
        "                     for f in t.getall('CHAP')),\n"
        "  'length': round(mutagen.mp3.MP3(sys.argv[1]).info.length * 1000)}))\n";
    return QJsonDocument::fromJson(Run(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script), mp3})).object();
}

// The frame count of the info frame LAME writes first ("Info" header, frames field set).
quint32 InfoFrameCount(const QByteArray& mp3)
{
    const int at = mp3.indexOf("Info");
    if (at < 0 || at > 64 || mp3.size() < at + 12 || !(mp3[at + 7] & 1))
        return 0;
    const auto b = [&](int i) { return quint32(uchar(mp3[at + 8 + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}
}

class TestMp3Converter : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        VORLIX_REQUIRE_PROGRAM(QStringLiteral("lame"));
    }

    void qualityTableAndRates()
    {
        TMP3Class mp3;
        QStringList list{QStringLiteral("kept")};
        mp3.GetQualities(list);
        const QStringList expected{
            "kept", "16 kbps  11.02 KHz  Mono", "24 kbps  16.00 KHz  Mono", "32 kbps  22.05 KHz  Mono",
            "40 kbps  22.05 KHz  Mono", "40 kbps  32.00 KHz  Mono", "48 kbps  22.05 KHz  Mono",
            "48 kbps  32.00 KHz  Mono", "56 kbps  44.1 KHz   Mono", "64 kbps  44.1 KHz   Mono",
            "64 kbps  48.00 KHz  Mono", "64 kbps  22.05 KHz  Stereo", "80 kbps  22.05 KHz  Stereo",
            "80 kbps  32.00 KHz  Stereo", "96 kbps  22.05 KHz  Stereo", "96 kbps  32.00 KHz  Stereo",
            "112 kbps  44.1 KHz  Stereo", "128 kbps  44.1 KHz  Stereo"};
        QCOMPARE(list, expected);
        QStringList basic;
        TMP3Class(false).GetQualities(basic);
        QCOMPARE(basic.size(), 11);
        QVERIFY(!basic.contains("24 kbps  16.00 KHz  Mono"));

        QCOMPARE(mp3.GetQuality(), QString("32 kbps  22.05 KHz  Mono"));
        QVERIFY(mp3.IsValidQuality("32 KBPS  22.05 khz  mono"));
        QVERIFY(!mp3.IsValidQuality("32 kbps 22.05 KHz Mono"));
        QVERIFY(!mp3.IsValidQuality("56 kbps  44.1 KHz  Mono"));

        mp3.SetQuality("16 kbps  11.02 KHz  Mono");
        QVERIFY(mp3.BitRate == 16 && mp3.QualitySampleRate == 11020 && mp3.EncoderSampleRate == 11020);
        QString message;
        try {
            mp3.SetQuality("128 kbps 44.1 KHz Stereo");
        } catch (const EAudioFileError& e) {
            message = e.message();
        }
        QCOMPARE(message, QString("Quality string \"128 kbps 44.1 KHz Stereo\" is invalid"));
        QVERIFY(mp3.GetQuality() == "16 kbps  11.02 KHz  Mono" && mp3.BitRate == 16);
        mp3.SetQuality("112 kbps  44.1 kHz  stereo");
        QVERIFY(mp3.QualitySampleRate == 44100 && mp3.Mode == "Stereo");

        struct Row {
            const char* quality;
            int input, conversion, qualityRateAfter;
        };
        const Row rows[] = {
            {"16 kbps  11.02 KHz  Mono", 8000, 16000, 11020},   {"16 kbps  11.02 KHz  Mono", 22050, 16000, 11020},
            {"16 kbps  11.02 KHz  Mono", 44100, 11020, 11020},  {"32 kbps  22.05 KHz  Mono", 16000, 32000, 22050},
            {"56 kbps  44.1 KHz   Mono", 8000, 48000, 44100},   {"64 kbps  22.05 KHz  Stereo", 16000, 32000, 32000},
            {"64 kbps  22.05 KHz  Stereo", 22050, 22050, 22050}, {"112 kbps  44.1 KHz  Stereo", 8000, 48000, 48000},
            {"64 kbps  44.1 KHz   Mono", 16000, 44100, 44100},
        };
        for (const Row& r : rows) {
            mp3.SetQuality(r.quality);
            int conversion = 0, encoder = 0;
            mp3.GetRates(r.input, conversion, encoder);
            const QByteArray where = QByteArray(r.quality) + " from " + QByteArray::number(r.input);
            QVERIFY2(conversion == r.conversion && encoder == r.conversion, where);
            QVERIFY2(mp3.QualitySampleRate == r.qualityRateAfter, where);
        }
    }

    void convertWaveFile()
    {
        TScopedScriptedDialogs dialogs;
        TMP3Class mp3;
        const QString in = path("conv-in.wav");
        QVERIFY(MakeWav(in, 22050, 22050 * 3));
        QCOMPARE(mp3.GetSampleRate(in), 22050);

        // Already right: nothing is written.
        QVERIFY(!mp3.ConvertWaveFile(in, path("conv-none.wav")));
        QVERIFY(!QFile::exists(path("conv-none.wav")));
        QVERIFY(mp3.LastError().isEmpty());

        mp3.SetQuality("16 kbps  11.02 KHz  Mono");
        QVERIFY(mp3.ConvertWaveFile(in, path("conv-16k.wav")));
        SF_INFO out = WavInfo(path("conv-16k.wav"));
        QVERIFY(out.samplerate == 16000 && out.channels == 1 && out.format == (SF_FORMAT_WAV | SF_FORMAT_PCM_16));
        QVERIFY(std::abs(double(out.frames) / 16000 - 3.0) < 0.003);
        QCOMPARE(mp3.EncoderSampleRate, 16000);

        // Mono to stereo at the same rate: both channels carry the input unchanged.
        mp3.SetQuality("64 kbps  22.05 KHz  Stereo");
        QVERIFY(mp3.ConvertWaveFile(in, path("conv-stereo.wav")));
        std::vector<short> mono, stereo;
        WavInfo(in, &mono);
        out = WavInfo(path("conv-stereo.wav"), &stereo);
        QVERIFY(out.channels == 2 && out.frames == 22050 * 3);
        bool same = true;
        for (size_t i = 0; i < mono.size(); ++i)
            same = same && stereo[2 * i] == mono[i] && stereo[2 * i + 1] == mono[i];
        QVERIFY(same);

        // Failures: an error box, the reason, and no file left behind.
        const QString missing = path("no-such-folder/out.wav");
        QVERIFY(!mp3.ConvertWaveFile(in, missing));
        QVERIFY(!QFile::exists(missing));
        QVERIFY(mp3.LastError().contains("No such file or directory"));
        QVERIFY(dialogs.Shown.size() == 1 && dialogs.Shown.back().Kind == TMessageKind::Error);
        QCOMPARE(dialogs.LastText(), mp3.LastError());

        QVERIFY(QDir(dir.path()).mkdir("occupied.wav")); // a folder where the file should go
        const QStringList before = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY(!mp3.ConvertWaveFile(in, path("occupied.wav")));
        QVERIFY(!mp3.LastError().isEmpty() && dialogs.Shown.size() == 2);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), before);

        QFile text(path("not-a-wav.wav"));
        QVERIFY(text.open(QIODevice::WriteOnly) && text.write("hello, this is text") > 0);
        text.close();
        QVERIFY_THROWS_EXCEPTION(EAudioFileError, mp3.GetSampleRate(text.fileName()));
        QVERIFY(!mp3.ConvertWaveFile(text.fileName(), path("from-text.wav")));
        QVERIFY(!QFile::exists(path("from-text.wav")) && dialogs.Shown.size() == 3);
    }

    void convertFormatAtPresets()
    {
        TMP3Class mp3;
        struct Case {
            const char* quality;
            int inputRate;
            int channels;
        };
        const Case cases[] = {{"16 kbps  11.02 KHz  Mono", 22050, 1},
                              {"16 kbps  11.02 KHz  Mono", 44100, 1},
                              {"80 kbps  22.05 KHz  Stereo", 22050, 2},
                              {"128 kbps  44.1 KHz  Stereo", 22050, 2},
                              {"32 kbps  22.05 KHz  Mono", 22050, 1}};
        int n = 0;
        for (const Case& c : cases) {
            const QByteArray where = QByteArray(c.quality) + " from " + QByteArray::number(c.inputRate);
            const QString source = path(QString("preset%1.wav").arg(n)), wav = path(QString("preset%1-c.wav").arg(n));
            const QString mine = path(QString("preset%1.mp3").arg(n)), cli = path(QString("preset%1-cli.mp3").arg(n));
            ++n;
            QVERIFY(MakeWav(source, c.inputRate, sf_count_t(c.inputRate) * 4));
            mp3.SetQuality(c.quality);
            const QString input = mp3.ConvertWaveFile(source, wav) ? wav : source;
            const SF_INFO in = WavInfo(input);
            QCOMPARE(in.channels, c.channels);
            // The lame program with the same settings decides the output rate we expect.
            int rc = -1;
            Run("lame", {"--quiet", "--cbr", "-b", QString::number(mp3.BitRate), "-m", c.channels == 2 ? "s" : "m",
                         input, cli}, &rc);
            QCOMPARE(rc, 0);
            const SF_INFO expected = Decode(cli, path("cli.wav"));

            std::vector<uint32_t> reports;
            mp3.OnProgress = [&](TAudioFileClass*, uint32_t done, uint32_t total) {
                QVERIFY(total == uint32_t(in.frames) * 2 * c.channels && done <= total);
                reports.push_back(done);
            };
            QVERIFY2(mp3.ConvertFormat(input, mine) && mp3.LastError().isEmpty() && !QFile::exists(input), where);
            const int chunks = int((in.frames + mp3.SamplesPerCall - 1) / mp3.SamplesPerCall);
            QVERIFY2(reports.size() == size_t(chunks / 101) && std::is_sorted(reports.begin(), reports.end()), where);

            const SF_INFO decoded = Decode(mine, path("decoded.wav"));
            QVERIFY2(decoded.samplerate == expected.samplerate && decoded.samplerate > 0, where);
            QVERIFY2(decoded.channels == c.channels, where);
            const double seconds = double(decoded.frames) / decoded.samplerate;
            QVERIFY2(std::abs(seconds - 4.0) < 2.0 * 1152 / decoded.samplerate, where + " " + QByteArray::number(seconds));
            // Same settings as the lame program: as many frames, so about the same size; and the
            // info frame at the start, where one fits at the bit rate, written back with the
            // real frame count.
            const QByteArray mineData = ReadAll(mine), cliData = ReadAll(cli);
            QVERIFY2(std::abs(mineData.size() - cliData.size()) < cliData.size() / 50, where);
            QCOMPARE(InfoFrameCount(mineData) > 0, InfoFrameCount(cliData) > 0);
            if (InfoFrameCount(cliData) > 0) {
                const int frameSize = decoded.samplerate >= 32000 ? 1152 : 576;
                const double tagged = double(InfoFrameCount(mineData)) * frameSize / decoded.samplerate;
                QVERIFY2(std::abs(tagged - 4.0) < 0.2, where);
            }
        }

        // At the default quality, last above: one chunk and one sample more, so the last call
        // encodes a single sample.
        mp3.OnProgress = nullptr;
        const sf_count_t frames = mp3.SamplesPerCall + 1;
        QVERIFY(MakeWav(path("odd.wav"), 22050, frames));
        QVERIFY(mp3.ConvertFormat(path("odd.wav"), path("odd.mp3")));
        QCOMPARE(mp3.SamplesPerCall, int(frames - 1));
        const SF_INFO decoded = Decode(path("odd.mp3"), path("odd-decoded.wav"));
        QVERIFY(decoded.samplerate == 22050 && decoded.frames >= frames && decoded.frames < frames + 3 * 1152);
    }

    void abortKeepsWhatWasEncoded()
    {
        TMP3Class mp3;
        const sf_count_t full = 22050 * 60;
        QVERIFY(MakeWav(path("long.wav"), 22050, full));
        int reports = 0;
        mp3.OnProgress = [&](TAudioFileClass* sender, uint32_t, uint32_t) {
            if (++reports == 2)
                sender->Abort();
        };
        QVERIFY(mp3.ConvertFormat(path("long.wav"), path("long.mp3")));
        QVERIFY(mp3.Aborted() && mp3.LastError().isEmpty() && reports == 2);
        QVERIFY(!QFile::exists(path("long.wav")));
        SF_INFO decoded = Decode(path("long.mp3"), path("long-decoded.wav"));
        const double expected = 2.0 * 101 * mp3.SamplesPerCall / 22050;
        QVERIFY(std::abs(double(decoded.frames) / decoded.samplerate - expected) < 0.2);

        // From a timer of the program's event loop, as the stop button does.
        QVERIFY(MakeWav(path("long.wav"), 22050, full));
        mp3.OnProgress = [](TAudioFileClass*, uint32_t, uint32_t) {};
        QTimer::singleShot(0, &mp3, [&] { mp3.Abort(); });
        QVERIFY(mp3.ConvertFormat(path("long.wav"), path("long.mp3")));
        decoded = Decode(path("long.mp3"), path("long-decoded.wav"));
        QVERIFY(decoded.frames > 0 && decoded.frames < full / 2 && !QFile::exists(path("long.wav")));
    }

    void fullDiskKeepsTheWav()
    {
        TScopedScriptedDialogs dialogs;
        const QString small = path("small-disk");
        TestSupport::TSmallDisk disk(small, "16k");
        if (!disk.Mounted())
            QSKIP("mounting a small tmpfs is not permitted here (needs root); the full-disk case is not run");

        TMP3Class mp3;
        QVERIFY(MakeWav(path("big.wav"), 22050, 22050 * 8)); // about 32 KB of MP3
        const QByteArray wavBefore = ReadAll(path("big.wav"));
        const QString target = small + "/big.mp3";
        QVERIFY(!mp3.ConvertFormat(path("big.wav"), target));
        QVERIFY2(mp3.LastError().contains("No space left on device"), qPrintable(mp3.LastError()));
        QVERIFY(!QFile::exists(target) && ReadAll(path("big.wav")) == wavBefore);
        QCOMPARE(dialogs.LastText(), mp3.LastError());

        QVERIFY(!mp3.ConvertFormat(path("big.wav"), path("no-such-folder/x.mp3")));
        QVERIFY(!mp3.LastError().isEmpty() && ReadAll(path("big.wav")) == wavBefore);
    }

    void tags()
    {
        TAudioTags tags;
        tags.Title = QString(31, 'T');
        tags.Artist = "Ärger mit dem Server";
        tags.Album = "comp.lang.c++";
        tags.Year = "20245";
        tags.Comment = QString(30, 'c');
        QByteArray block = Id3v1Block(tags);
        QVERIFY(block.size() == 128 && block.startsWith("TAG"));
        QCOMPARE(block.mid(3, 30), QByteArray(30, 'T'));
        QCOMPARE(block.mid(33, 30), QByteArray("\xC4rger mit dem Server") + QByteArray(10, '\0'));
        QCOMPARE(block.mid(63, 30), QByteArray("comp.lang.c++") + QByteArray(17, '\0'));
        QCOMPARE(block.mid(93, 4), QByteArray("2024"));
        QCOMPARE(block.mid(97, 30), QByteArray(29, 'c') + '\0');
        QCOMPARE(int(uchar(block[127])), 101);
        tags.Comment = QString(28, 'c');
        tags.Title = QString::fromUtf8("Καλημέρα €");
        block = Id3v1Block(tags);
        QCOMPARE(block.mid(97, 31), QByteArray(28, 'c') + QByteArray(2, '\0') + char(101));
        QCOMPARE(block.mid(3, 10), QByteArray("????????") + " ?");

        TMP3Class mp3;
        QVERIFY(MakeWav(path("tag.wav"), 22050, 22050 * 3));
        QVERIFY(mp3.ConvertFormat(path("tag.wav"), path("tag.mp3")));
        const SF_INFO before = Decode(path("tag.mp3"), path("tag-before.wav"));
        const QByteArray audio = ReadAll(path("tag.mp3"));
        tags.FileName = path("tag.mp3");
        tags.Year = "2024";
        tags.Title = QString::fromUtf8("Η απάντηση στο ερώτημα του Μάρκου για τους διακομιστές ειδήσεων");
        tags.Artist = QString::fromUtf8("Jürgen Müller");
        tags.Comment = QString::fromUtf8("Ein längerer Kommentar, der über neunundzwanzig Zeichen hinausgeht");
        mp3.WriteTags(tags);
        mp3.WriteTags(tags);
        QByteArray data = ReadAll(path("tag.mp3"));
        QCOMPARE(data.right(128), Id3v1Block(tags));
        QVERIFY(data.startsWith("ID3") && data[3] == 4); // ID3v2.4
        QCOMPARE(data.count("TAG"), 1); // one block, and the audio frames untouched before it
        QVERIFY(data.indexOf(audio) > 0 && data.indexOf(audio) + audio.size() == data.size() - 128);
        const SF_INFO after = Decode(path("tag.mp3"), path("tag-after.wav"));
        QCOMPARE(after.frames, before.frames);

        // A file of 128 bytes or less is never taken for a tag: the block is appended.
        QFile tiny(path("tiny.mp3"));
        QVERIFY(tiny.open(QIODevice::WriteOnly) && tiny.write("TAG" + QByteArray(125, 'x')) == 128);
        tiny.close();
        tags.FileName = tiny.fileName();
        mp3.WriteTags(tags);
        data = ReadAll(tiny.fileName());
        QCOMPARE(data, "TAG" + QByteArray(125, 'x') + Id3v1Block(tags));

        tags.FileName = path("missing.mp3");
        mp3.WriteTags(tags);
        QVERIFY(!QFile::exists(tags.FileName));

        // The ID3v2.4 tag as an independent reader sees it: every text whole, in UTF-8.
        VORLIX_REQUIRE_PROGRAM("mid3v2");
        int rc = -1;
        const QStringList lines = QString::fromUtf8(Run("mid3v2", {"--list", path("tag.mp3")}, &rc)).split('\n');
        QCOMPARE(rc, 0);
        for (const QString& line : {"TIT2=" + tags.Title, "TPE1=" + tags.Artist, "TALB=" + tags.Album, "TDRC=" + tags.Year})
            QVERIFY2(lines.contains(line), qPrintable(line));
        QCOMPARE(lines.filter(QRegularExpression("^COMM=.*=" + QRegularExpression::escape(tags.Comment) + "$")).size(), 1);
        QVERIFY(QString::fromUtf8(Run("mid3v2", {"--list-raw", path("tag.mp3")})).contains("TIT2(encoding=<Encoding.UTF8: 3>"));
    }

    // Chapters of a thread's file, as a podcast player reads them (mutagen): sorted, ending
    // where the next begins and the last with the audio, titles whole in UTF-8, one set
    // however often the tags are written, the audio and the version 1 block left as they were.
    void chapters()
    {
        VORLIX_REQUIRE_PROGRAM("/usr/bin/python3");
        TMP3Class mp3;
        QVERIFY(MakeWav(path("chap.wav"), 22050, 22050 * 6));
        QVERIFY(mp3.ConvertFormat(path("chap.wav"), path("chap.mp3")));
        const QByteArray audio = ReadAll(path("chap.mp3"));
        const SF_INFO before = Decode(path("chap.mp3"), path("chap-before.wav"));
        QVERIFY(before.frames > 0);

        TAudioTags tags;
        tags.FileName = path("chap.mp3");
        tags.Title = QString::fromUtf8("Ein Thread über Server");
        tags.Chapters = {{4000, "Third"},
                         {2500, QString::fromUtf8("Re: über")},
                         {9000, "beyond the end"},
                         {0, QString::fromUtf8("Καλημέρα — Eve")},
                         {2500, "the same start again"},
                         {-20, "before the start"}};
        mp3.WriteTags(tags);
        mp3.WriteTags(tags);

        QJsonObject read = ReadChapters(path("chap.mp3"));
        const QJsonArray tocs = read["toc"].toArray();
        QCOMPARE(tocs.size(), 1);
        const QJsonObject toc = tocs[0].toObject();
        QCOMPARE(toc["id"].toString(), QString("toc"));
        QCOMPARE(toc["children"].toArray(), (QJsonArray{"chp1", "chp2", "chp3"}));
        QVERIFY(toc["top"].toBool() && toc["ordered"].toBool());
        QCOMPARE(toc["title"].toString(), tags.Title);
        QJsonArray chaps = read["chapters"].toArray();
        QCOMPARE(chaps.size(), 3);
        const qint64 unknown = 0xFFFFFFFFll;
        const auto check = [](const QJsonValue& chap, const char* id, qint64 start, qint64 end, const QString& title) {
            const QJsonArray c = chap.toArray();
            return c[0].toString() == QLatin1String(id) && c[1].toInteger() == start && (end < 0 || c[2].toInteger() == end)
                && c[3].toInteger() == unknown && c[4].toInteger() == unknown && c[5].toString() == title
                && c[6].toInt() == 3; // UTF-8
        };
        const QByteArray dump = QJsonDocument(read).toJson(QJsonDocument::Compact);
        QVERIFY2(check(chaps[0], "chp1", 0, 2500, QString::fromUtf8("Καλημέρα — Eve")), dump.constData());
        QVERIFY2(check(chaps[1], "chp2", 2500, 4000, QString::fromUtf8("Re: über")), dump.constData());
        QVERIFY2(check(chaps[2], "chp3", 4000, -1, "Third"), dump.constData());
        // The last chapter ends with the audio, as the reader measures it and as it decodes.
        const qint64 lastEnd = chaps[2].toArray()[2].toInteger();
        QVERIFY2(qAbs(lastEnd - read["length"].toInteger()) <= 50, dump.constData());
        QVERIFY2(qAbs(lastEnd - before.frames * 1000 / before.samplerate) <= 50, dump.constData());

        QByteArray data = ReadAll(path("chap.mp3"));
        QVERIFY(data.startsWith("ID3") && data[3] == 4);
        QCOMPARE(data.right(128), Id3v1Block(tags));
        QVERIFY(data.mid(data.size() - 256, 3) != "TAG");
        QVERIFY(data.indexOf(audio) > 0 && data.indexOf(audio) + audio.size() == data.size() - 128);
        QCOMPARE(Decode(path("chap.mp3"), path("chap-after.wav")).frames, before.frames);

        // New chapters replace the old ones; none inside the audio leaves none at all.
        tags.Chapters = {{1000, "One"}, {0, "Zero"}};
        mp3.WriteTags(tags);
        read = ReadChapters(path("chap.mp3"));
        chaps = read["chapters"].toArray();
        QCOMPARE(chaps.size(), 2);
        QVERIFY(check(chaps[0], "chp1", 0, 1000, "Zero") && check(chaps[1], "chp2", 1000, lastEnd, "One"));
        QCOMPARE(read["toc"].toArray()[0].toObject()["children"].toArray(), (QJsonArray{"chp1", "chp2"}));
        tags.Chapters = {{60000, "far beyond"}};
        mp3.WriteTags(tags);
        read = ReadChapters(path("chap.mp3"));
        QVERIFY(read.contains("length") && read["chapters"].toArray().isEmpty() && read["toc"].toArray().isEmpty());
        data = ReadAll(path("chap.mp3"));
        QCOMPARE(data.right(128), Id3v1Block(tags));
        QVERIFY(data.indexOf(audio) + audio.size() == data.size() - 128);
    }
};

VORLIX_TEST_MAIN_CORE(TestMp3Converter)
#include "test_mp3_converter.moc"
