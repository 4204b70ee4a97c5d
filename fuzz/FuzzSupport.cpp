#include "FuzzSupport.h"

#include "core/BaseUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    // Every file the code under test touches lives in a folder of this run, removed at exit;
    // in memory where the system offers it, since the loaders sync what they write.
    const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    static QTemporaryDir home(base + QStringLiteral("/vorlix-fuzz-XXXXXX"));
    if (!home.isValid()) {
        std::fprintf(stderr, "no temporary folder\n");
        std::exit(2);
    }
    qputenv("VORLIX_HOME", QFile::encodeName(home.path()));
    static QCoreApplication app(*argc, *argv);
    // Millions of refused inputs must not each write a log line.
    UtilsClass::LogEnabled = false;
    return 0;
}

namespace Fuzz {

QString Text(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes.data(), bytes.size());
    return text;
}

void WriteFile(const QString& path, QByteArrayView bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        Fail("cannot write", path);
    file.write(bytes.data(), bytes.size());
}

void Fail(const char* what, const QString& detail)
{
    std::fprintf(stderr, "%s: %s\n", what, detail.toUtf8().constData());
    std::fflush(stderr);
    std::abort();
}

} // namespace Fuzz
