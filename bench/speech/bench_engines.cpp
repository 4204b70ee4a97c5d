// Speed and responsiveness of the speech engines: a 5 000-word article rendered to WAV by
// both engines (times faster than real time), the delay to audible output and to the first
// word event after PlayText (for the article and for a megabyte of text),
// the time AudioReset takes to silence the output, memory while a long text speaks, and the
// longest pause of the event loop meanwhile. Speaking aloud needs the PulseAudio service.
#include "core/RegistryUnit.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <sndfile.h>

#include "bench_speech_support.h"

namespace {
long RssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

bool WaitFor(const std::function<bool()>& pred, int ms)
{
    QDeadlineTimer d(ms);
    while (!pred() && !d.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return pred();
}

// Longest gap between ticks of a 10 ms timer while something runs.
struct TStallMeter {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    TStallMeter()
    {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        clock.start();
        timer.start();
    }
};

void Prepare(TBaseVoiceClass* v)
{
    v->SetValue(QStringLiteral("Pitch"), NotSet);
    v->SetValue(QStringLiteral("Speed"), NotSet);
    v->SetValue(QStringLiteral("Volume"), NotSet);
}

void RenderBench(TSpeechAPI& a, TBaseVoiceClass* v, const QString& text, const QString& path, const char* label)
{
    Prepare(v);
    TStallMeter stall;
    QElapsedTimer t;
    t.start();
    a.PlayToFileInit(v, path);
    a.PlayToFile(0, text);
    WaitFor([&] { return a.EngineFinished; }, 600000);
    const double wall = t.elapsed() / 1000.0;
    a.SetActive(false);
    const double audio = WavSeconds(path);
    std::printf("%-34s audio %7.1f s, wall %6.2f s, %7.1fx real time, longest event-loop pause %lld ms\n", label, audio,
                wall, audio / wall, static_cast<long long>(stall.worst));
}

template <class Position, class Busy>
void AloudBench(TSpeechAPI& a, TBaseVoiceClass* v, const QString& text, Position position, Busy busy, const char* label)
{
    Prepare(v);
    a.Activate(v);
    TStallMeter stall;
    QElapsedTimer t;
    qint64 firstWord = -1;
    a.OnWordPosition = [&](TSpeechAPI*, unsigned char kind, int, int) {
        if (kind == 0 && firstWord < 0)
            firstWord = t.elapsed();
    };
    t.start();
    a.PlayText(text);
    if (!WaitFor([&] { return position() > 0; }, 5000)) {
        std::printf("%-34s no audio within 5 s\n", label);
        a.AudioReset();
        a.SetActive(false);
        return;
    }
    const qint64 firstAudio = t.elapsed();
    WaitFor([&] { return firstWord >= 0; }, 5000);
    // Memory while speaking: sampled for 8 s after output began.
    const long rss0 = RssKb();
    long rssMax = rss0;
    QElapsedTimer m;
    m.start();
    while (m.elapsed() < 8000) {
        WaitFor([] { return false; }, 250);
        rssMax = std::max(rssMax, RssKb());
    }
    // AudioReset flushes the device's queue at once; the stream is closed when the layer is idle.
    QElapsedTimer r;
    r.start();
    a.AudioReset();
    const qint64 returnMs = r.elapsed();
    WaitFor([&] { return !busy(); }, 5000);
    const qint64 closedMs = r.elapsed();
    std::printf("%-34s first audio after %lld ms, first word event after %lld ms; AudioReset: queued audio flushed on return after %lld ms, "
                "stream closed after %lld ms; RSS %ld kB -> max %ld kB (+%ld kB) during 8 s of speech; longest "
                "event-loop pause %lld ms\n",
                label, static_cast<long long>(firstAudio), static_cast<long long>(firstWord),
                static_cast<long long>(returnMs),
                static_cast<long long>(closedMs), rss0, rssMax, rssMax - rss0, static_cast<long long>(stall.worst));
    a.OnWordPosition = nullptr;
    a.SetActive(false);
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    TMyRegistryClass mainStore;
    TBaseVoiceRegistryClass store(mainStore);
    TVoiceList voices;
    TEngineList engines;
    TSapi5 sapi5;
    TSapi4 sapi4;
    sapi5.Store = sapi4.Store = &store;
    sapi5.LoadVoices(voices, engines);
    sapi4.LoadVoices(voices, engines);
    store.LoadAll();
    TBaseVoiceClass* en = voices.FindByName(QStringLiteral("English (America)"));
    TBaseVoiceClass* kal16 = voices.FindByName(QStringLiteral("Kal16"));
    TBaseVoiceClass* slt = voices.FindByName(QStringLiteral("Slt"));
    const QString article = Article(5000);
    std::printf("5 000-word article, %lld characters\n", static_cast<long long>(article.size()));
    RenderBench(sapi5, en, article, dir.filePath(QStringLiteral("es.wav")), "WAV, eSpeak NG (English America)");
    RenderBench(sapi4, kal16, article, dir.filePath(QStringLiteral("kal16.wav")), "WAV, Flite kal16");
    RenderBench(sapi4, slt, article, dir.filePath(QStringLiteral("slt.wav")), "WAV, Flite slt");
    if (qEnvironmentVariableIsEmpty("PULSE_SERVER")) {
        std::printf("PULSE_SERVER not set: speaking aloud not measured\n");
        return 0;
    }
    AloudBench(sapi5, en, article, [&] { return sapi5.Voice->OutputPosition(); }, [&] { return sapi5.Voice->Busy(); },
               "aloud, eSpeak NG");
    AloudBench(sapi4, kal16, article, [&] { return sapi4.Tts->OutputPosition(); }, [&] { return sapi4.Tts->Busy(); },
               "aloud, Flite kal16");
    QString megabyte;
    while (megabyte.size() < (1 << 20))
        megabyte += article;
    megabyte.truncate(1 << 20);
    AloudBench(sapi5, en, megabyte, [&] { return sapi5.Voice->OutputPosition(); }, [&] { return sapi5.Voice->Busy(); },
               "aloud 1 MB text, eSpeak NG");
    AloudBench(sapi4, kal16, megabyte, [&] { return sapi4.Tts->OutputPosition(); }, [&] { return sapi4.Tts->Busy(); },
               "aloud 1 MB text, Flite kal16");
    return 0;
}
