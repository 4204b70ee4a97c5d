#pragma once
// The data folder and the one way every news-store file is written: whole, atomically.
#include "core/VorlixException.h"

#include <QFileDevice>
#include <QString>
#include <QStringList>

// A file that cannot be opened, written or closed.
VORLIX_DECLARE_ERROR(EInOutError, EVorlixError)

// Home folder + user name (trimmed, "Default" when empty) + "/Files/"; both levels are
// created when missing.
QString GetDataFolder();

// Writes the lines, each ended by CR LF, as UTF-8 into path through a temporary file that
// replaces the old one only when everything was written: a failed or interrupted save
// leaves the old content in place. permissions, when given, apply to the new file from its
// creation on. Throws EInOutError with the reason.
void WriteLinesAtomically(const QString& path, const QStringList& lines,
                          QFileDevice::Permissions permissions = {});

// Reads a text file as UTF-8 lines, accepting CR LF and LF ends. Throws EInOutError when
// the file cannot be opened or read.
QStringList ReadLines(const QString& path);

// The same two without throwing, for files whose owners report failures in their own words:
// false with the file's error text in reason. Same bytes, same line splitting.
bool TryWriteLinesAtomically(const QString& path, const QStringList& lines, QString& reason);
bool TryReadLines(const QString& path, QStringList& lines, QString& reason);
