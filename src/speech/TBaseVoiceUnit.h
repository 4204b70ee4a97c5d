#pragma once
// One voice: what the user picks and tunes (pitch, speed, volume). A voice belongs to the
// adapter or window that created it (its QObject parent); it refers to its engine and adapter
// without owning the adapter.
#include "core/VorlixException.h"
#include "speech/TBaseEngineUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QObject>
#include <QString>
#include <memory>

class TSpeechAPI;     // the engine adapter that speaks a voice (SpeechAPIUnit.h)
class TSpObjectToken; // a voice token of the "Sapi5" engine layer (Sapi5Wrapper.h)

// A tuning value outside the voice's limits.
VORLIX_DECLARE_ERROR(EVoiceException, EVorlixError)

class TBaseVoiceClass : public QObject {
    Q_OBJECT
public:
    // A new voice: empty texts, no engine, Language 0, both current volumes 0, and -1 in every
    // other number (Pitch, Speed, all limits and defaults, SampleRateCode).
    explicit TBaseVoiceClass(QObject* owner = nullptr);
    ~TBaseVoiceClass() override;

    // Validating setters; a value outside the limits raises EVoiceException with the limit.
    void SetPitch(int value);
    void SetSpeed(int value);
    void SetVolume(int value);
    // Unchecked: "Pitch", "Speed" or "Volume" (both channels); other names do nothing.
    void SetValue(const QString& name, int value);
    void SetEnabled(bool flag);

    // Volume limits over both channels.
    int GetMinVolume() const;
    void SetMinVolume(int value);
    int GetMaxVolume() const;
    void SetMaxVolume(int value);
    int GetDefaultVolume() const;
    void SetDefaultVolume(int value);

    // When PitchMin is NotSet, the adapter fills limits and defaults (LoadVoiceDefaults).
    void LoadDefaults();
    // Limits first when they were never loaded, then the default pitch, speed and volume.
    void ResetToDefaults();
    // Id := VendorPrefix + Api + (DisplayName for a "Microsoft" engine, else Name) + Language.
    void BuildId();
    // Copies every field, sharing engine, adapter and token.
    void Assign(const TBaseVoiceClass& voice);

    // The name of the voice's language: from the language table, else (for a language the
    // table lacks) the name of the engine's language tag; empty when neither is known.
    QString LanguageName() const;

    // Whether the voice is a user-defined one (built on another voice).
    bool IsUserDefined() const { return !BaseVoiceId.trimmed().isEmpty(); }

    int Pitch = -1;
    int Speed = -1;
    int VolumeLeft = 0;
    int VolumeRight = 0;
    bool Enabled = false;
    QString DisplayName;
    QString Name;
    QString Id;
    QString BaseVoiceId;
    TSpeechAPI* Adapter = nullptr;
    QString ModeName;
    std::shared_ptr<TSpObjectToken> Token;
    TEnginePtr Engine;
    int Language = 0;
    QString Gender; // "Female", "Male" or empty when the engine does not say
    int PitchMin = -1, PitchMax = -1, PitchDefault = -1;
    int SpeedMin = -1, SpeedMax = -1, SpeedDefault = -1;
    int VolumeMinLeft = -1, VolumeMaxLeft = -1, VolumeDefaultLeft = -1;
    int VolumeMinRight = -1, VolumeMaxRight = -1, VolumeDefaultRight = -1;
    int SampleRateCode = -1; // 18 = 16 kHz, 22 = 22 kHz, else 8 kHz (Sapi5 file output)

    // Sets the six pitch/speed limit fields and the volume limits and defaults to NotSet, as the
    // engine layers do for a voice they have just loaded.
    void ClearLimits();
};
