#pragma once
// Shared by every fuzz target: the process set-up (a private home folder, no log file, a Qt
// application object) and the way a target reports a broken promise of the code under test.
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace Fuzz {

inline QByteArrayView Bytes(const uint8_t* data, size_t size)
{
    return QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Header and overview text as the program reads it: UTF-8 where valid, else Latin-1.
QString Text(QByteArrayView bytes);

// Writes the bytes to a file in the private home folder, replacing what it held.
void WriteFile(const QString& path, QByteArrayView bytes);

// Prints what went wrong and aborts, so the fuzzer keeps the input that did it.
[[noreturn]] void Fail(const char* what, const QString& detail);

} // namespace Fuzz
