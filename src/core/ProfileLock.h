#pragma once
// One program at a time writes a profile: the window and `vorlix render` each hold the
// profile's lock file (in the home folder) while they run, so the news files, Config.chl and
// the settings are never written by both at once. A lock left by a program that died is
// taken over.
#include <QString>
#include <memory>

class QLockFile;

class TProfileLock {
public:
    enum THolder { hWindow, hRenderer };

    TProfileLock();
    ~TProfileLock();
    TProfileLock(const TProfileLock&) = delete;
    TProfileLock& operator=(const TProfileLock&) = delete;

    // Takes the lock of the current home folder for holder. False when another program holds
    // it; Refusal() then says which and why this one cannot go on.
    bool TryLock(THolder holder);
    void Unlock();
    bool Locked() const;
    QString Refusal() const { return refusal; }

    // The lock file of the current home folder.
    static QString LockFilePath();

private:
    std::unique_ptr<QLockFile> file;
    QString refusal;
};
