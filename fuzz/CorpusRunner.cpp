// Runs a fuzz target's entry point over its seed corpus and over fixed variations of each seed
// (every cut, flipped and replaced bytes, a seed doubled and seeds joined), so an ordinary build
// checks in a second or two that the parser takes all of them without crashing or breaking its
// promises. The same variations every run: a failure can be repeated.
//
//   fuzz_<target>_seeds CORPUS_DIR...
#include "FuzzSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <cstdio>

namespace {

qint64 runs = 0;

void Run(const QByteArray& input)
{
    // A copy of exactly the input's size, so reading past its end is caught by the sanitizers.
    QByteArray copy(input.constData(), input.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(copy.constData()), size_t(copy.size()));
    ++runs;
}

// Up to count positions spread evenly over 0 .. size - 1.
QList<qsizetype> Positions(qsizetype size, qsizetype count)
{
    QList<qsizetype> out;
    if (size <= 0)
        return out;
    const qsizetype n = std::min(size, count);
    for (qsizetype i = 0; i < n; ++i)
        out << i * size / n;
    return out;
}

void Variations(const QByteArray& seed, const QByteArray& next)
{
    Run(seed);
    // Every cut of a short seed, and 64 cuts of a long one.
    for (qsizetype cut : Positions(seed.size(), 64))
        Run(seed.left(cut));
    // Bytes that mean something to one parser or another, put in place of the seed's bytes,
    // and the seed's bytes with their high bit or case flipped.
    static const char special[] = {'\t', '|', '"', '\\', '(', ')', '<', '>', '\n', '\r', '\0', '=', '?', ' ', ':', '\xff'};
    int k = 0;
    for (qsizetype pos : Positions(seed.size(), 48)) {
        QByteArray v = seed;
        v[pos] = char(v[pos] ^ 0x80);
        Run(v);
        v = seed;
        v[pos] = char(v[pos] ^ 0x20);
        Run(v);
        v = seed;
        v[pos] = special[k++ % int(sizeof special)];
        Run(v);
        v = seed;
        v.remove(pos, 1);
        Run(v);
    }
    Run(seed + seed);
    Run(seed + next);
    Run(seed.left(seed.size() / 2) + next.mid(next.size() / 2));
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR...\n", argv[0]);
        return 2;
    }
    QList<QByteArray> dirs;
    for (int i = 1; i < argc; ++i)
        dirs << argv[i];
    LLVMFuzzerInitialize(&argc, &argv);
    QList<QByteArray> seeds;
    for (const QByteArray& d : dirs) {
        QDir dir(QString::fromLocal8Bit(d));
        const QStringList names = dir.entryList(QDir::Files, QDir::Name);
        for (const QString& name : names) {
            QFile f(dir.filePath(name));
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(f.fileName()));
                return 1;
            }
            seeds << f.readAll();
        }
    }
    if (seeds.isEmpty()) {
        std::fprintf(stderr, "no seeds found\n");
        return 1;
    }
    Run(QByteArray());
    for (qsizetype i = 0; i < seeds.size(); ++i)
        Variations(seeds[i], seeds[(i + 1) % seeds.size()]);
    std::printf("%d seeds, %lld inputs run\n", int(seeds.size()), runs);
    return 0;
}
