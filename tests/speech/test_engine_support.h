#pragma once
// Helpers of the engine tests: reading WAV files back with libsndfile, and pactl. Tests that
// need the PulseAudio test service start with VORLIX_REQUIRE_PULSE() (TestSupport.h).
#include "TestSupport.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QtTest>
#include <sndfile.h>
#include <vector>

struct TWavFacts {
    bool Ok = false;
    int Rate = 0;
    int Channels = 0;
    int Format = 0;
    std::vector<short> Samples;
    double Seconds() const { return Rate ? double(Samples.size()) / Rate : 0.0; }
};

inline TWavFacts ReadWav(const QString& path)
{
    TWavFacts f;
    SF_INFO info{};
    SNDFILE* s = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!s)
        return f;
    f.Rate = info.samplerate;
    f.Channels = info.channels;
    f.Format = info.format;
    f.Samples.resize(size_t(info.frames * info.channels));
    f.Ok = sf_read_short(s, f.Samples.data(), sf_count_t(f.Samples.size())) == sf_count_t(f.Samples.size());
    sf_close(s);
    return f;
}

// Milliseconds of exact digital silence at the end of the file.
inline int TrailingSilenceMs(const TWavFacts& f)
{
    size_t n = 0;
    for (auto it = f.Samples.rbegin(); it != f.Samples.rend() && *it == 0; ++it)
        ++n;
    return f.Rate ? int(n * 1000 / size_t(f.Rate)) : 0;
}

// Runs pactl against the test server; returns its output (empty on failure).
inline QString Pactl(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Start positions of the words of a text (runs of letters and digits).
inline QList<int> WordStarts(const QString& text)
{
    QList<int> out;
    for (int i = 0; i < text.size(); ++i)
        if (text[i].isLetterOrNumber() && (i == 0 || !text[i - 1].isLetterOrNumber()))
            out << i;
    return out;
}
