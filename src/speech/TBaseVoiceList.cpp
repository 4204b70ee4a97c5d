#include "speech/TBaseVoiceList.h"

#include "core/BaseUtils.h"
#include "core/TextFunctions.h"

#include <chrono>

void TVoiceSubset::Load()
{
    UtilsClass::Log(QStringLiteral("Entered VoiceSubset.Load, Count = %1").arg(List->Count()));
    if (List->Count() == 0)
        return;
    Items.clear();
    for (TBaseVoiceClass* voice : List->Items) {
        if (voice->Enabled) {
            Items.append(voice);
            UtilsClass::Log(QStringLiteral("VoiceSubset Add: ") + voice->DisplayName);
        }
    }
    UtilsClass::Log(QStringLiteral("Exit VoiceSubset.Load"));
}

TVoiceList::TVoiceList()
    : Subset(this)
    , random(static_cast<std::mt19937::result_type>(
          std::chrono::high_resolution_clock::now().time_since_epoch().count()))
{
}

TVoiceList::~TVoiceList()
{
    Clear();
}

void TVoiceList::Add(TBaseVoiceClass* voice)
{
    if (!voice)
        return;
    if (!Items.contains(voice))
        connect(voice, &QObject::destroyed, this, &TVoiceList::voiceDestroyed);
    Items.append(voice);
}

void TVoiceList::Remove(TBaseVoiceClass* voice)
{
    Items.removeAll(voice);
    Subset.Items.removeAll(voice);
    if (voice)
        disconnect(voice, &QObject::destroyed, this, &TVoiceList::voiceDestroyed);
}

void TVoiceList::Clear()
{
    for (TBaseVoiceClass* voice : Items)
        disconnect(voice, &QObject::destroyed, this, &TVoiceList::voiceDestroyed);
    Items.clear();
    RoundRobinIndex = -1;
}

void TVoiceList::voiceDestroyed(QObject* voice)
{
    // Compared as plain objects: the voice part of the object is already gone.
    const auto same = [voice](TBaseVoiceClass* v) { return static_cast<QObject*>(v) == voice; };
    Items.removeIf(same);
    Subset.Items.removeIf(same);
}

TBaseVoiceClass* TVoiceList::FindByName(const QString& displayName) const
{
    for (TBaseVoiceClass* voice : Items)
        if (voice->DisplayName == displayName)
            return voice;
    return nullptr;
}

TBaseVoiceClass* TVoiceList::FindById(const QString& id) const
{
    for (TBaseVoiceClass* voice : Items)
        if (voice->Id == id)
            return voice;
    return nullptr;
}

void TVoiceList::FillNames(QStringList& strings, int language, const QString& api) const
{
    strings.clear();
    for (TBaseVoiceClass* voice : Items) {
        if (language != 0 && voice->Language != language)
            continue;
        if (api != QLatin1String("*") && (!voice->Engine || voice->Engine->Api != api))
            continue;
        strings.append(voice->DisplayName);
    }
}

TBaseVoiceClass* TVoiceList::RoundRobin(const QString& languageName)
{
    const int count = Items.size();
    if (RoundRobinIndex < 0 || RoundRobinIndex >= count - 1)
        RoundRobinIndex = -1;
    const int start = RoundRobinIndex;
    int c = RoundRobinIndex;
    for (int examined = 0; examined < count; ++examined) {
        ++c;
        if (c >= count)
            c = 0;
        TBaseVoiceClass* voice = Items.at(c);
        if (voice->Enabled && GetLanguageName(voice->Language) == languageName) {
            RoundRobinIndex = c;
            return voice;
        }
        if (c == start)
            break;
    }
    const QString message = QStringLiteral("Round Robin Voice Assignment Failed");
    UtilsClass::Log(message);
    throw EVorlixError(message);
}

TBaseVoiceClass* TVoiceList::RandomVoice()
{
    if (Subset.Count() == 0)
        Subset.Load();
    if (Subset.Count() == 0)
        return nullptr;
    std::uniform_int_distribution<int> pick(0, Subset.Count() - 1);
    return Subset[pick(random)];
}

void TVoiceList::LoadUserVoices(const QStringList& entries, QObject* owner)
{
    for (int i = 0; i < entries.size(); ++i) {
        QString rest = entries.at(i);
        auto* voice = new TBaseVoiceClass(owner);
        voice->DisplayName = SplitToken(rest, QStringLiteral("|"));
        voice->Name = SplitToken(rest, QStringLiteral("|"));
        voice->Id = QStringLiteral("User-%1").arg(i);
        voice->BaseVoiceId = SplitToken(rest, QStringLiteral("|"));
        voice->SetEnabled(SplitToken(rest, QStringLiteral("|")) == QLatin1String("True"));
        voice->SetValue(QStringLiteral("Pitch"), SplitToken(rest, QStringLiteral("|")).trimmed().toInt());
        voice->SetValue(QStringLiteral("Speed"), SplitToken(rest, QStringLiteral("|")).trimmed().toInt());

        TBaseVoiceClass* base = voice->BaseVoiceId.isEmpty() ? nullptr : FindById(voice->BaseVoiceId);
        if (!base || base->IsUserDefined()) {
            delete voice;
            continue;
        }
        voice->PitchMin = base->PitchMin;
        voice->PitchMax = base->PitchMax;
        voice->PitchDefault = base->PitchDefault;
        voice->SpeedMin = base->SpeedMin;
        voice->SpeedMax = base->SpeedMax;
        voice->SpeedDefault = base->SpeedDefault;
        // A user-defined voice speaks through its base voice's engine and adapter, at the base
        // voice's volume, so it can be chosen like any other voice.
        voice->Engine = base->Engine;
        voice->Adapter = base->Adapter;
        voice->ModeName = base->ModeName;
        voice->Token = base->Token;
        voice->Language = base->Language;
        voice->SampleRateCode = base->SampleRateCode;
        voice->VolumeMinLeft = base->VolumeMinLeft;
        voice->VolumeMaxLeft = base->VolumeMaxLeft;
        voice->VolumeDefaultLeft = base->VolumeDefaultLeft;
        voice->VolumeMinRight = base->VolumeMinRight;
        voice->VolumeMaxRight = base->VolumeMaxRight;
        voice->VolumeDefaultRight = base->VolumeDefaultRight;
        voice->VolumeLeft = base->VolumeLeft;
        voice->VolumeRight = base->VolumeRight;
        Add(voice);
    }
    UserVoiceCount = entries.size();
}

void TVoiceList::SaveUserVoices(QStringList& entries) const
{
    entries.clear();
    for (TBaseVoiceClass* voice : Items) {
        if (!voice->IsUserDefined())
            continue;
        entries.append(voice->DisplayName + QLatin1Char('|') + voice->Name + QLatin1Char('|')
                       + voice->BaseVoiceId + QLatin1Char('|')
                       + (voice->Enabled ? QStringLiteral("True") : QStringLiteral("False"))
                       + QLatin1Char('|') + QString::number(voice->Pitch) + QLatin1Char('|')
                       + QString::number(voice->Speed));
    }
}

void TVoiceList::SetEngineVoicesEnabled(const QString& manufacturer, bool flag)
{
    for (TBaseVoiceClass* voice : Items)
        if (voice->Engine && voice->Engine->Manufacturer == manufacturer)
            voice->SetEnabled(flag);
}

bool TVoiceList::HasEnabledVoice(const QString& manufacturer) const
{
    for (TBaseVoiceClass* voice : Items)
        if (voice->Enabled && voice->Engine && voice->Engine->Manufacturer == manufacturer)
            return true;
    return false;
}

void TVoiceList::CloneInto(TVoiceList& target, QObject* owner)
{
    if (&target == this)
        return;
    target.Clear();
    target.Subset.Items.clear();
    for (TBaseVoiceClass* voice : Items) {
        auto* copy = new TBaseVoiceClass(owner ? owner : &target);
        copy->Assign(*voice);
        target.Add(copy);
    }
    target.UserVoiceCount = UserVoiceCount;
    Subset.Load();
}
