#pragma once
// The speech settings section: the main section's name followed by "\BaseTTS". It holds the
// "TTS_" settings of the speech manager, the "VCE_" voice and "ENG_" engine items, the
// preprocessor switches and "SapiVersion" (0 = Sapi4 only, 1 = Sapi5 only, 2 = both).
#include "core/TBaseRegistryClassUnit.h"

class TBaseVoiceRegistryClass : public TBaseRegistryClass {
public:
    explicit TBaseVoiceRegistryClass(const TBaseRegistryClass& mainStore);
    QString GetVersion() const override { return QStringLiteral("1.0.9"); }

    // "SapiVersion" is 0 or 2 / 1 or 2.
    static bool UseSapi4(TBaseRegistryClass& section);
    static bool UseSapi5(TBaseRegistryClass& section);
    // Both -> 2, only sapi4 -> 0, only sapi5 -> 1, neither -> unchanged. Set, not saved.
    static void SetSapiChoice(TBaseRegistryClass& section, bool sapi4, bool sapi5);
};
