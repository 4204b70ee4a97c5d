#pragma once
// What the speech benchmarks share: a test article of a given length and the length of a WAV.
#include <QFile>
#include <QString>
#include <sndfile.h>

inline QString Article(int words)
{
    static const char* vocabulary[] = {"the", "server", "posted", "an", "article", "about", "speech", "engines",
                                       "and", "their", "voices", "which", "read", "every", "message", "aloud",
                                       "while", "users", "listen", "carefully", "to", "long", "threads", "of",
                                       "discussion", "in", "newsgroups", "covering", "many", "topics"};
    QString t;
    for (int i = 0; i < words; ++i) {
        t += QLatin1String(vocabulary[(i * 7 + i / 13) % 30]);
        t += (i % 14 == 13) ? QStringLiteral(". ") : QStringLiteral(" ");
    }
    return t;
}

inline double WavSeconds(const QString& path)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return 0;
    sf_close(f);
    return double(info.frames) / info.samplerate;
}
