// Speed and responsiveness of the MP3 converter: 30 minutes of speech-like audio (22 050 Hz
// mono, 16-bit) encoded at the default quality by TMP3Class and by the lame program with the
// same settings (target: no more than 1.1 times the program's time), the longest wait of the
// event loop while encoding (target: under 50 ms), and how soon a conversion ends after Abort
// (target: under 100 ms).
#include "audio/LameUnit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sndfile.h>
#include <vector>

namespace {
constexpr int Rate = 22050;
constexpr int Minutes = 30;

// A gliding tone with syllable-rate loudness, pauses between "sentences" and a little noise.
bool MakeSpeechLikeWav(const QString& path, sf_count_t frames)
{
    SF_INFO info{};
    info.samplerate = Rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<short> block(8192);
    uint32_t noise = 1;
    double phase = 0;
    for (sf_count_t done = 0; done < frames;) {
        const sf_count_t n = std::min<sf_count_t>(sf_count_t(block.size()), frames - done);
        for (sf_count_t i = 0; i < n; ++i) {
            const double t = double(done + i) / Rate;
            phase += 2 * M_PI * (140 + 90 * std::sin(2 * M_PI * 0.6 * t) + 40 * std::sin(2 * M_PI * 5.3 * t)) / Rate;
            noise = noise * 1664525u + 1013904223u;
            const double voice = std::sin(phase) + 0.4 * std::sin(3 * phase) + 0.2 * std::sin(5 * phase);
            const double syllables = std::max(0.0, std::sin(2 * M_PI * 3.7 * t));
            const double sentence = std::fmod(t, 6.0) < 5.2 ? 1.0 : 0.0;
            const double v = 0.25 * voice * syllables * sentence + 0.01 * (double(noise >> 8) / double(1 << 24) - 0.5);
            block[size_t(i)] = short(std::lrint(std::clamp(v, -1.0, 1.0) * 32767));
        }
        if (sf_writef_short(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
        done += n;
    }
    return sf_close(f) == 0;
}

struct TRun {
    bool Ok = false;
    qint64 Ms = 0;
    qint64 LongestGapMs = 0;
    qint64 AbortToReturnMs = -1;
};

// One conversion with a 0 ms timer recording every turn of the event loop; abortAfterMs >= 0
// stops it from a timer, as the stop button would.
TRun Convert(const QString& wav, const QString& mp3, int abortAfterMs)
{
    TMP3Class converter;
    converter.OnProgress = [](TAudioFileClass*, uint32_t, uint32_t) {};
    TRun run;
    QElapsedTimer clock, sinceTurn, sinceAbort;
    QTimer turns;
    turns.setInterval(0);
    QObject::connect(&turns, &QTimer::timeout, [&] {
        run.LongestGapMs = std::max(run.LongestGapMs, sinceTurn.restart());
    });
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        sinceAbort.start();
        converter.Abort();
    });
    if (abortAfterMs >= 0)
        stop.start(abortAfterMs);
    turns.start();
    sinceTurn.start();
    clock.start();
    run.Ok = converter.ConvertFormat(wav, mp3);
    run.Ms = clock.elapsed();
    run.LongestGapMs = std::max(run.LongestGapMs, sinceTurn.elapsed());
    if (sinceAbort.isValid())
        run.AbortToReturnMs = sinceAbort.elapsed();
    if (!run.Ok)
        std::printf("  conversion failed: %s\n", qPrintable(converter.LastError()));
    return run;
}

qint64 RunLame(const QString& wav, const QString& mp3)
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral("lame"), {QStringLiteral("--quiet"), QStringLiteral("--cbr"), QStringLiteral("-b"),
                                      QStringLiteral("32"), QStringLiteral("-m"), QStringLiteral("m"), wav, mp3});
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    return clock.elapsed();
}
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable(QStringLiteral("lame")).isEmpty()) {
        std::printf("bench_mp3: the lame program is not on the PATH (install lame)\n");
        return 1;
    }
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("speech.wav"));
    const QString work = dir.filePath(QStringLiteral("work.wav"));
    if (!dir.isValid() || !MakeSpeechLikeWav(source, sf_count_t(Rate) * 60 * Minutes)) {
        std::printf("bench_mp3: cannot write the test WAV\n");
        return 1;
    }
    std::printf("MP3 conversion of %d minutes of speech-like audio, %d Hz mono 16-bit (%.1f MB), quality \"%s\"\n",
                Minutes, Rate, double(QFile(source).size()) / 1e6, qPrintable(TMP3Class().GetDefaultQuality()));

    // Best of three for each, alternating, so neither side profits from a warm cache alone.
    qint64 best = -1, bestLame = -1, longestGap = 0;
    for (int round = 0; round < 3; ++round) {
        QFile::remove(work);
        QFile::copy(source, work); // the converter deletes its WAV when done
        const TRun run = Convert(work, dir.filePath(QStringLiteral("vorlix.mp3")), -1);
        if (!run.Ok)
            return 1;
        const qint64 lame = RunLame(source, dir.filePath(QStringLiteral("lame.mp3")));
        if (lame < 0) {
            std::printf("bench_mp3: the lame program failed\n");
            return 1;
        }
        best = best < 0 ? run.Ms : std::min(best, run.Ms);
        bestLame = bestLame < 0 ? lame : std::min(bestLame, lame);
        longestGap = std::max(longestGap, run.LongestGapMs);
        std::printf("  round %d: TMP3Class %lld ms, lame program %lld ms\n", round + 1, run.Ms, lame);
    }
    const double ratio = double(best) / double(bestLame);
    std::printf("TMP3Class::ConvertFormat        %7lld ms (best of 3)\n", best);
    std::printf("lame --cbr -b 32 -m m           %7lld ms (best of 3)\n", bestLame);
    std::printf("time ratio                      %7.3f   (target <= 1.1)  %s\n", ratio, ratio <= 1.1 ? "ok" : "MISSED");
    std::printf("MP3 sizes                       %lld bytes, lame program %lld bytes\n",
                QFile(dir.filePath(QStringLiteral("vorlix.mp3"))).size(), QFile(dir.filePath(QStringLiteral("lame.mp3"))).size());
    std::printf("longest event-loop gap          %7lld ms (target < 50)    %s\n", longestGap,
                longestGap < 50 ? "ok" : "MISSED");

    QFile::remove(work);
    QFile::copy(source, work);
    const TRun aborted = Convert(work, dir.filePath(QStringLiteral("aborted.mp3")), int(best / 2));
    std::printf("Abort at %lld ms to return      %7lld ms (target < 100)   %s\n", best / 2, aborted.AbortToReturnMs,
                aborted.Ok && aborted.AbortToReturnMs >= 0 && aborted.AbortToReturnMs < 100 ? "ok" : "MISSED");
    std::printf("aborted MP3                     %lld bytes, WAV %s\n", QFile(dir.filePath(QStringLiteral("aborted.mp3"))).size(),
                QFile::exists(work) ? "still there" : "deleted");
    return 0;
}
