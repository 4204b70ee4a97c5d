#include "speech/TBaseVoiceUnit.h"

#include "core/BaseUtils.h"
#include "speech/Sapi5Wrapper.h"

#include <QLocale>

#include <algorithm>

TBaseVoiceClass::TBaseVoiceClass(QObject* owner)
    : QObject(owner)
{
}

TBaseVoiceClass::~TBaseVoiceClass() = default;

void TBaseVoiceClass::SetPitch(int value)
{
    if (value < PitchMin) {
        UtilsClass::Log(QStringLiteral("Exception setting pitch to %1").arg(value));
        UtilsClass::Log(QStringLiteral("Minimum value is %1").arg(PitchMin));
        throw EVoiceException(QStringLiteral("Minimum pitch for this voice is %1").arg(PitchMin));
    }
    if (PitchMax != -1 && value > PitchMax) {
        UtilsClass::Log(QStringLiteral("Exception setting pitch to %1").arg(value));
        UtilsClass::Log(QStringLiteral("Maximum value is %1").arg(PitchMax));
        throw EVoiceException(QStringLiteral("Maximum pitch for this voice is %1").arg(PitchMax));
    }
    Pitch = value;
}

void TBaseVoiceClass::SetSpeed(int value)
{
    if (value < SpeedMin) {
        UtilsClass::Log(QStringLiteral("Exception setting speed to %1").arg(value));
        UtilsClass::Log(QStringLiteral("Minimum value is %1").arg(SpeedMin));
        throw EVoiceException(QStringLiteral("Minimum Speed for this voice is %1").arg(SpeedMin));
    }
    if (SpeedMax != -1 && value > SpeedMax) {
        UtilsClass::Log(QStringLiteral("Exception setting speed to %1").arg(value));
        UtilsClass::Log(QStringLiteral("Maximum value is %1").arg(SpeedMax));
        throw EVoiceException(QStringLiteral("Maximum Speed for this voice is %1").arg(SpeedMax));
    }
    Speed = value;
}

void TBaseVoiceClass::SetVolume(int value)
{
    if (value < VolumeMinLeft || value < VolumeMinRight)
        throw EVoiceException(QStringLiteral("Minimum Volume for this voice is %1")
                                  .arg(std::max(VolumeMinLeft, VolumeMinRight)));
    if (VolumeMaxLeft > 0 && value > VolumeMaxLeft)
        throw EVoiceException(QStringLiteral("Maximum Volume for this voice is %1").arg(VolumeMaxLeft));
    if (VolumeMaxRight > 0 && value > VolumeMaxRight)
        throw EVoiceException(QStringLiteral("Maximum Volume for this voice is %1").arg(VolumeMaxRight));
    if (VolumeMaxLeft > 0)
        VolumeLeft = value;
    if (VolumeMaxRight > 0)
        VolumeRight = value;
}

void TBaseVoiceClass::SetValue(const QString& name, int value)
{
    if (name == QLatin1String("Pitch"))
        Pitch = value;
    else if (name == QLatin1String("Speed"))
        Speed = value;
    else if (name == QLatin1String("Volume")) {
        VolumeLeft = value;
        VolumeRight = value;
    }
}

void TBaseVoiceClass::SetEnabled(bool flag)
{
    Enabled = flag;
}

int TBaseVoiceClass::GetMinVolume() const
{
    return std::max(VolumeMinLeft, VolumeMinRight);
}

void TBaseVoiceClass::SetMinVolume(int value)
{
    VolumeMinLeft = value;
    VolumeMinRight = value;
}

int TBaseVoiceClass::GetMaxVolume() const
{
    if (VolumeMaxLeft == 0 && VolumeMaxRight == 0)
        return 0;
    if (VolumeMaxLeft != 0 && VolumeMaxRight != 0)
        return std::min(VolumeMaxLeft, VolumeMaxRight);
    return VolumeMaxLeft > 0 ? VolumeMaxLeft : VolumeMaxRight;
}

void TBaseVoiceClass::SetMaxVolume(int value)
{
    VolumeMaxLeft = value;
    VolumeMaxRight = value;
}

int TBaseVoiceClass::GetDefaultVolume() const
{
    if (VolumeDefaultLeft != 0 || VolumeDefaultRight != 0)
        return std::max(VolumeDefaultLeft, VolumeDefaultRight);
    return 0;
}

void TBaseVoiceClass::SetDefaultVolume(int value)
{
    VolumeDefaultLeft = value;
    VolumeDefaultRight = value;
}

void TBaseVoiceClass::BuildId()
{
    QString prefix, api, name;
    if (Engine) {
        prefix = Engine->VendorPrefix;
        api = Engine->Api;
        name = Engine->Manufacturer == QLatin1String("Microsoft") ? DisplayName : Name;
    } else {
        name = Name;
    }
    Id = prefix + api + name + QString::number(Language);
}

void TBaseVoiceClass::Assign(const TBaseVoiceClass& voice)
{
    if (&voice == this)
        return;
    Pitch = voice.Pitch;
    Speed = voice.Speed;
    VolumeLeft = voice.VolumeLeft;
    VolumeRight = voice.VolumeRight;
    SetEnabled(voice.Enabled);
    DisplayName = voice.DisplayName;
    Name = voice.Name;
    Id = voice.Id;
    BaseVoiceId = voice.BaseVoiceId;
    Adapter = voice.Adapter;
    ModeName = voice.ModeName;
    Token = voice.Token;
    Engine = voice.Engine;
    Language = voice.Language;
    Gender = voice.Gender;
    PitchMin = voice.PitchMin;
    PitchMax = voice.PitchMax;
    PitchDefault = voice.PitchDefault;
    SpeedMin = voice.SpeedMin;
    SpeedMax = voice.SpeedMax;
    SpeedDefault = voice.SpeedDefault;
    VolumeMinLeft = voice.VolumeMinLeft;
    VolumeMaxLeft = voice.VolumeMaxLeft;
    VolumeDefaultLeft = voice.VolumeDefaultLeft;
    VolumeMinRight = voice.VolumeMinRight;
    VolumeMaxRight = voice.VolumeMaxRight;
    VolumeDefaultRight = voice.VolumeDefaultRight;
    SampleRateCode = voice.SampleRateCode;
}

void TBaseVoiceClass::ClearLimits()
{
    PitchMin = PitchMax = PitchDefault = NotSet;
    SpeedMin = SpeedMax = SpeedDefault = NotSet;
    VolumeMinLeft = VolumeMaxLeft = VolumeDefaultLeft = NotSet;
    VolumeMinRight = VolumeMaxRight = VolumeDefaultRight = NotSet;
}

QString TBaseVoiceClass::LanguageName() const
{
    const QString name = GetLanguageName(Language);
    if (!name.isEmpty() || !Token)
        return name;
    const QLocale locale(Token->GetAttribute(QStringLiteral("LanguageTag")));
    return locale.language() == QLocale::C ? QString() : QLocale::languageToString(locale.language());
}
