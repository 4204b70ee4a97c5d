// The speech manager from Speak to a finished MP3: a 5 000-word article spoken by eSpeak NG
// into an MP3 at the default quality (times faster than real time), the longest pause of the
// event loop meanwhile, and how long Stop takes to end a running MP3 conversion.
#include "core/RegistryUnit.h"
#include "speech/TBaseTTSUnit.h"
#include "speech/TBaseVoiceUnit.h"

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
// Waits in a sleeping event loop until done() or the deadline.
bool WaitFor(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// The longest gap between ticks of a 5 ms timer.
struct TStallMeter {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0, worst = 0;
    std::function<QString()> probe;
    TStallMeter()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            const qint64 now = clock.elapsed();
            worst = std::max(worst, now - last);
            if (now - last > 30 && probe)
                std::printf("  stall %lld ms at %lld ms (%s)\n", static_cast<long long>(now - last),
                            static_cast<long long>(now), qPrintable(probe()));
            last = now;
        });
        clock.start();
        timer.start();
    }
};

TBaseVoiceClass* EspeakVoice(TBaseTTS& tts)
{
    for (int i = 0; i < tts.Voices.Count(); ++i) {
        TBaseVoiceClass* v = tts.Voices[i];
        if (v->Enabled && v->Engine && v->Engine->Api == QLatin1String("Sapi5") && v->Language == 1033)
            return v;
    }
    return nullptr;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TMyRegistryClass store;
    store.LoadAll();
    TBaseTTS tts;
    tts.SetShowExceptionDialogs(false);
    tts.InitializeAll(store);
    TBaseVoiceClass* voice = EspeakVoice(tts);
    if (!voice) {
        std::printf("no eSpeak NG voice\n");
        return 1;
    }
    QTemporaryDir dir;
    tts.OutputMode = 1;
    tts.OutputDir = dir.path();
    int events = 0;
    tts.OnSpeechEvent = [&events](TBaseTTS*, unsigned char, const QString&) { ++events; };
    tts.SetMP3ProgressHandler([](TAudioFileClass*, uint32_t, uint32_t) {});
    const QString text = Article(5000);

    // The length of the speech, from the same text as a WAV.
    tts.SetOutputFormat(QStringLiteral("Wav"));
    tts.SetOutputFile(QStringLiteral("article"));
    tts.Speak2(voice, text);
    WaitFor([&] { return events == 1; }, 120000);
    const double seconds = WavSeconds(dir.filePath(QStringLiteral("article.wav")));

    tts.SetOutputFormat(QStringLiteral("MP3"));
    tts.SetMP3Quality(tts.Converter->GetDefaultQuality());
    tts.SetOutputFile(QStringLiteral("article"));
    QElapsedTimer clock;
    TStallMeter stall;
    stall.probe = [&tts] { return QStringLiteral("state %1").arg(int(tts.State)); };
    clock.start();
    tts.Speak2(voice, text);
    WaitFor([&] { return events == 2; }, 300000);
    const qint64 ms = clock.elapsed();
    std::printf("5000-word article to MP3 (%.0f s of speech): %lld ms, %.0fx real time (target >= 150x)\n", seconds,
                static_cast<long long>(ms), seconds * 1000.0 / double(std::max<qint64>(ms, 1)));
    std::printf("  longest event-loop pause meanwhile: %lld ms (target < 50 ms)\n", static_cast<long long>(stall.worst));

    // Stop in the middle of the conversion.
    tts.SetMP3Quality(QStringLiteral("128 kbps  44.1 KHz  Stereo"));
    tts.SetOutputFile(QStringLiteral("stopped"));
    bool stopAsked = false;
    QElapsedTimer stopClock;
    tts.OnConvertStart = [&](TBaseTTS*) {
        QTimer::singleShot(500, [&] {
            stopAsked = true;
            stopClock.start();
            tts.Stop();
        });
    };
    qint64 stopMs = -1;
    tts.OnSpeechEvent = [&](TBaseTTS*, unsigned char code, const QString&) {
        if (code == 5 && stopAsked)
            stopMs = stopClock.elapsed();
        ++events;
    };
    tts.Speak2(voice, text);
    WaitFor([&] { return events == 3; }, 300000);
    std::printf("Stop during an MP3 conversion: %lld ms until the run ended (target < 100 ms)\n",
                static_cast<long long>(stopMs));
    return 0;
}
