#include "speech/PrivateSpeechManager.h"

#include "core/BaseUtils.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"

std::unique_ptr<TBaseTTS> CreatePrivateSpeechManager(const TBaseTTS& main)
{
    auto tts = std::make_unique<TBaseTTS>();
    tts->SetShowExceptionDialogs(false);
    tts->OwnsStore = false;
    tts->Store = main.Store;
    tts->AudioDeviceId = main.AudioDeviceId;
    // The interfaces follow the engine choice the main manager was set up with (the deployment
    // overrides are already folded into it).
    const bool sapi4 = !main.Store || TBaseVoiceRegistryClass::UseSapi4(*main.Store);
    const bool sapi5 = !main.Store || TBaseVoiceRegistryClass::UseSapi5(*main.Store);
    if (sapi4) {
        try {
            tts->CreateSapi4Adapter();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Sapi4 initialization exception: ") + e.message());
        }
    }
    if (sapi5) {
        try {
            tts->CreateSapi5Adapter();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(QStringLiteral("Sapi5 initialization exception: ") + e.message());
        }
    }
    // The copies speak through this manager's adapters; a voice of an interface it lacks has none.
    tts->CopyVoicesAndEngines(main);
    const QString defaultVoice = main.GetDefaultVoiceName();
    try {
        if (!defaultVoice.isEmpty())
            tts->SetDfltCaption(defaultVoice);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Test speech manager: default voice ") + defaultVoice + QStringLiteral(": ")
                        + e.message());
    }
    return tts;
}
