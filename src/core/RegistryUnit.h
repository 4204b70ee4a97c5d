#pragma once
// The program's main settings section ("Vorlix"), the key of window placements and per-program values.
#include "core/TBaseRegistryClassUnit.h"

class TMyRegistryClass : public TBaseRegistryClass {
public:
    TMyRegistryClass();
    QString GetVersion() const override { return QStringLiteral("1.0"); }
    void LoadAll() override;  // also reads the cached values
    void SaveAll() override;  // writes the cached values back first

    // Cached copies of two items, read after loading and written back before saving.
    QString NewsServer;
    int ThreadFileOption = 0;
};

// The key of a window's placement: "Software\QuenradTech\Windows\<program>\<window name>".
QString WindowPlacementKey(const QString& windowName);

// Per-program values ("ShowTips", "NextTip"), kept under "Software\QuenradTech\Programs\<program>".
QString ReadProgramValue(const QString& name);
void WriteProgramValue(const QString& name, const QString& value);
