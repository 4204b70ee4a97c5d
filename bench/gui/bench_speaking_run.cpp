// Speaking runs in the real main window (offscreen) against the sample news server on
// loopback, with the default voice:
//  - aloud into the PulseAudio null sink: from the speak command to the first word heard, and
//    between two articles from the end of one article's audio (the engine's end report) to the
//    first word heard of the next (article fetched, filtered, speaking started);
//  - 50 articles into MP3 files, one per article: the run's wall time against the length of
//    the speech in the files.
#include "news_window_rig.h"

#include "ScriptedWindows.h"
#include "BenchThreads.h"
#include "core/RegistryEnhanced.h"
#include "speaking/SpeakRun.h"
#include "speech/SpeechAPIUnit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>
#include <taglib/mpegfile.h>

using namespace NewsRig;

namespace {
const QString kGroup = QStringLiteral("alt.bench.speaking");
} // namespace

int main(int argc, char** argv)
{
    TestSupport::PrepareEnvironment();
    QApplication app(argc, argv);
    TScopedScriptedWindows dialogs;
    TSampleNewsServer server;
    AddBenchThreads(server, kGroup);
    if (!server.Listen())
        return 1;
    WriteConfig(QStringLiteral("127.0.0.1:%1").arg(server.Port()), {kGroup});
    Window w;
    if (!w.Open())
        return 1;
    w.Form->Store->SetValue("MsgDeleteDays", -1);
    w.Select(kGroup);
    w.WaitIdle();
    TConfigClass* group = w.Entry(kGroup);
    TBaseTTS& tts = *w.Form->Speech;
    TSpeechAPI* adapter = tts.Voices.FindById(tts.DefaultVoiceID)->Adapter;
    std::printf("voice: %s, %d articles\n", qPrintable(tts.GetDefaultVoiceName()), group->Articles->Count());

    // Aloud: four articles.
    std::vector<qint64> firstWord;
    std::vector<qint64> endBefore;
    auto inner = tts.OnWordPosition;
    int article = 0;
    w.Form->Speaking->OnArticleStarted = [&, before = w.Form->Speaking->OnArticleStarted](TSpeakRun* r, int pos, int n) {
        before(r, pos, n);
        article = pos;
    };
    tts.OnWordPosition = [&](TBaseTTS* s, unsigned char kind, int length, int position) {
        inner(s, kind, length, position);
        if (kind == 0 && int(firstWord.size()) < article) {
            firstWord.push_back(TSpeechAPI::ClockMs());
            endBefore.push_back(adapter->EndedAtMs);
        }
    };
    for (int i = 0; i < 4; ++i)
        group->Articles->At(i)->SetSpeakMark(1);
    const qint64 start = TSpeechAPI::ClockMs();
    w.Form->Command("SpeakMarkAloud", TCommandPlace::Toolbar)->trigger();
    TestSupport::WaitFor([&] { return !w.Form->Speaking->Running(); }, 300000);
    if (firstWord.size() < 4) {
        std::printf("the aloud run did not speak four articles (%d)\n", int(firstWord.size()));
        return 1;
    }
    std::printf("speak command to the first word heard: %lld ms (target < 500 ms)\n",
                static_cast<long long>(firstWord[0] - start));
    for (size_t i = 1; i < firstWord.size(); ++i)
        std::printf("  gap before article %d: end of audio to first word of the next: %lld ms (target < 500 ms)\n",
                    int(i + 1), static_cast<long long>(firstWord[i] - endBefore[i]));

    // Into MP3 files, one per article: all 50.
    QTemporaryDir out;
    tts.OutputDir = out.path();
    tts.SetOutputFormat(QStringLiteral("MP3"));
    w.Form->Store->SetValue("ThreadFileOption", 0);
    for (int i = 0; i < group->Articles->Count(); ++i)
        group->Articles->At(i)->SetSpeakMark(1);
    QElapsedTimer clock;
    clock.start();
    w.Form->Command("SpeakMarkFile", TCommandPlace::Toolbar)->trigger();
    TestSupport::WaitFor([&] { return !w.Form->Speaking->Running() && !tts.IsBusy(); }, 600000);
    const qint64 ms = clock.elapsed();
    qint64 audioMs = 0;
    int files = 0;
    for (const QString& f : QDir(out.path()).entryList({QStringLiteral("*.mp3")}, QDir::Files)) {
        TagLib::MPEG::File mp3(QFile::encodeName(out.filePath(f)).constData());
        if (mp3.audioProperties())
            audioMs += mp3.audioProperties()->lengthInMilliseconds();
        ++files;
    }
    std::printf("50 articles to MP3, one file each: %d files, %.1f s of speech in %.1f s: %.1fx faster than spoken "
                "(target >= 20x)\n",
                files, double(audioMs) / 1000.0, double(ms) / 1000.0, double(audioMs) / double(std::max<qint64>(ms, 1)));
    return 0;
}
