#include "speech/PrivateSpeechManager.h"

#include "core/BaseUtils.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"

std::unique_ptr<TBaseTTS> CreatePrivateSpeechManager(const TBaseTTS& main)
{
    auto tts = std::make_unique<TBaseTTS>();
    tts->SetShowExceptionDialogs(false);
    tts->OwnsStore = false;
    tts->Store = main.Store;
    tts->AudioDeviceId = main.AudioDeviceId;
    if (UtilsClass::GetDeploymentBool(QStringLiteral("InitSapi4"), true))
        tts->CreateSapi4Adapter();
    if (UtilsClass::GetDeploymentBool(QStringLiteral("InitSapi5"), true))
        tts->CreateSapi5Adapter();
    const_cast<TVoiceList&>(main.Voices).CloneInto(tts->Voices, tts.get());
    main.Engines.CloneInto(tts->Engines);
    // The copies speak through this manager's adapters; a voice of an interface it lacks has none.
    for (int i = 0; i < tts->Voices.Count(); ++i) {
        TBaseVoiceClass* v = tts->Voices[i];
        if (v->Adapter && v->Adapter == static_cast<TSpeechAPI*>(main.Sapi4Adapter))
            v->Adapter = tts->Sapi4Adapter;
        else if (v->Adapter && v->Adapter == static_cast<TSpeechAPI*>(main.Sapi5Adapter))
            v->Adapter = tts->Sapi5Adapter;
        else
            v->Adapter = nullptr;
    }
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
