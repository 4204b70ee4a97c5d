// The voice operations that ask the voice's engine adapter for its limits and defaults.
#include "speech/SpeechAPIUnit.h"
#include "speech/TBaseVoiceUnit.h"

void TBaseVoiceClass::LoadDefaults()
{
    if (PitchMin == NotSet && Adapter)
        Adapter->LoadVoiceDefaults(this);
}

void TBaseVoiceClass::ResetToDefaults()
{
    if (SpeedMin == -1)
        LoadDefaults();
    SetPitch(PitchDefault);
    SetSpeed(SpeedDefault);
    SetVolume(VolumeDefaultLeft);
}
