#include "core/ProfileLock.h"

#include "core/BaseUtils.h"

#include <QDir>
#include <QFile>
#include <QLockFile>

namespace {
QString ownerPath()
{
    return TProfileLock::LockFilePath() + QStringLiteral(".owner");
}

const char* holderWord(TProfileLock::THolder holder)
{
    return holder == TProfileLock::hWindow ? "window" : "render";
}
} // namespace

TProfileLock::TProfileLock() = default;

TProfileLock::~TProfileLock()
{
    Unlock();
}

QString TProfileLock::LockFilePath()
{
    return UtilsClass::GetProgramFolder() + QStringLiteral("Vorlix.lock");
}

bool TProfileLock::TryLock(THolder holder)
{
    Unlock();
    refusal.clear();
    auto lock = std::make_unique<QLockFile>(LockFilePath());
    // Only a lock whose process is gone is stale, however long a run takes.
    lock->setStaleLockTime(0);
    if (lock->tryLock(0)) {
        QFile owner(ownerPath());
        if (owner.open(QIODevice::WriteOnly | QIODevice::Truncate))
            owner.write(holderWord(holder));
        file = std::move(lock);
        return true;
    }
    qint64 pid = 0;
    QString host, app;
    lock->getLockInfo(&pid, &host, &app);
    QFile owner(ownerPath());
    QByteArray who;
    if (owner.open(QIODevice::ReadOnly))
        who = owner.readAll().trimmed();
    const QString folder = QDir::toNativeSeparators(UtilsClass::GetProgramFolder());
    if (lock->error() != QLockFile::LockFailedError) {
        refusal = QStringLiteral("The profile in %1 cannot be locked: its lock file cannot be written.").arg(folder);
    } else if (who == "render") {
        refusal = QStringLiteral("vorlix render (process %1) is rendering the profile in %2. "
                                 "Start Vorlix again when it has finished.")
                      .arg(pid)
                      .arg(folder);
    } else {
        refusal = QStringLiteral("Vorlix (process %1) is open with the profile in %2. "
                                 "Close its window, or give another profile with --home.")
                      .arg(pid)
                      .arg(folder);
    }
    UtilsClass::Log(QStringLiteral("Profile lock refused: ") + refusal);
    return false;
}

void TProfileLock::Unlock()
{
    if (!file)
        return;
    QFile::remove(ownerPath());
    file->unlock();
    file.reset();
}

bool TProfileLock::Locked() const
{
    return file && file->isLocked();
}
