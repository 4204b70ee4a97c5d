#include "core/TextFiles.h"

#include "core/BaseUtils.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

QString GetDataFolder()
{
    QString user = UtilsClass::GetWindowsUserName().trimmed();
    if (user.isEmpty())
        user = QStringLiteral("Default");
    const QString userFolder = UtilsClass::GetProgramFolder() + user;
    const QString files = userFolder + QStringLiteral("/Files");
    QDir().mkpath(files);
    return files + QLatin1Char('/');
}

namespace {
QByteArray crlfBytes(const QStringList& lines)
{
    QByteArray data;
    qsizetype size = 0;
    for (const QString& l : lines)
        size += l.size() + 2;
    data.reserve(size + size / 4);
    for (const QString& l : lines) {
        data += l.toUtf8();
        data += "\r\n";
    }
    return data;
}

QStringList splitLines(const QByteArray& data)
{
    QStringList lines = QString::fromUtf8(data).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& l : lines) {
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    }
    return lines;
}
}

void WriteLinesAtomically(const QString& path, const QStringList& lines, QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw EInOutError(QStringLiteral("Cannot create file %1: %2").arg(path, file.errorString()));
    // The temporary file gets the wanted mode before any content reaches it.
    if (permissions != QFileDevice::Permissions() && !file.setPermissions(permissions)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw EInOutError(QStringLiteral("Cannot set the permissions of %1: %2").arg(path, reason));
    }
    const QByteArray data = crlfBytes(lines);
    // A text that fits into the file's buffer reaches the disk only when the buffer is flushed,
    // and QSaveFile's commit does not report a failure of that flush (a full disk would leave
    // an empty file in place of the old one): flush first and check.
    if (file.write(data) != data.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        throw EInOutError(QStringLiteral("Cannot write file %1: %2").arg(path, reason));
    }
    if (!file.commit())
        throw EInOutError(QStringLiteral("Cannot write file %1: %2").arg(path, file.errorString()));
}

QStringList ReadLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot open file %1: %2").arg(path, file.errorString()));
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EInOutError(QStringLiteral("Cannot read file %1: %2").arg(path, file.errorString()));
    return splitLines(data);
}

bool TryWriteLinesAtomically(const QString& path, const QStringList& lines, QString& reason)
{
    QSaveFile file(path);
    const QByteArray data = crlfBytes(lines);
    // Flushed before the commit, as above.
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.flush() || !file.commit()) {
        reason = file.errorString();
        return false;
    }
    return true;
}

bool TryReadLines(const QString& path, QStringList& lines, QString& reason)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = file.errorString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        reason = file.errorString();
        return false;
    }
    lines = splitLines(data);
    return true;
}
