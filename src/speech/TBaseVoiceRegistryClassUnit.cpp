#include "speech/TBaseVoiceRegistryClassUnit.h"

TBaseVoiceRegistryClass::TBaseVoiceRegistryClass(const TBaseRegistryClass& mainStore)
{
    Section = mainStore.SectionName() + QStringLiteral("\\BaseTTS");
}

bool TBaseVoiceRegistryClass::UseSapi4(TBaseRegistryClass& section)
{
    const int v = section.GetValue(QStringLiteral("SapiVersion")).toInt();
    return v == 0 || v == 2;
}

bool TBaseVoiceRegistryClass::UseSapi5(TBaseRegistryClass& section)
{
    const int v = section.GetValue(QStringLiteral("SapiVersion")).toInt();
    return v == 1 || v == 2;
}

void TBaseVoiceRegistryClass::SetSapiChoice(TBaseRegistryClass& section, bool sapi4, bool sapi5)
{
    if (sapi4 && sapi5)
        section.SetValue(QStringLiteral("SapiVersion"), 2);
    else if (sapi4)
        section.SetValue(QStringLiteral("SapiVersion"), 0);
    else if (sapi5)
        section.SetValue(QStringLiteral("SapiVersion"), 1);
}
