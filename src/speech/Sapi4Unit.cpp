#include "speech/Sapi4Unit.h"

#include "core/BusyGuard.h"
#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QCoreApplication>

namespace {
QString VersionOf(const QString& product)
{
    if (!product.contains(QLatin1String("Natural Voices")))
        return {};
    QString version;
    bool seen = false;
    for (const QChar c : product) {
        if (c.isDigit() || c == QLatin1Char('.')) {
            version += c;
            seen = true;
        } else if (c == QLatin1Char(' ') && seen) {
            break;
        }
    }
    return version;
}

// The vendor prefix of a manufacturer; empty skips the mode. hasPitch is cleared for AT&T.
QString PrefixOf(const QString& manufacturer, const QString& product, bool& hasPitch)
{
    hasPitch = true;
    if (manufacturer == QLatin1String("Microsoft"))
        return QStringLiteral("MS");
    if (manufacturer == QLatin1String("Lernout && Hauspie Speech Products"))
        return QStringLiteral("LHTV");
    if (manufacturer == QLatin1String("Lernout & Hauspie"))
        return QStringLiteral("LH3000");
    if (manufacturer == QLatin1String("Eloquent Technology, Inc."))
        return QStringLiteral("ELOQ");
    if (manufacturer == QLatin1String("ELAN Informatique"))
        return QStringLiteral("ELAN");
    if (manufacturer == QLatin1String("IBM"))
        return QStringLiteral("IBM");
    if (manufacturer == QLatin1String("Carnegie Mellon University"))
        return QStringLiteral("FLITE");
    if (product.contains(QLatin1String("Natural Voices"))) {
        hasPitch = false;
        return QStringLiteral("ATTNV");
    }
    return {};
}

QString UpperFirst(const QString& s)
{
    QString r = s;
    if (!r.isEmpty() && r[0] >= QLatin1Char('a') && r[0] <= QLatin1Char('z'))
        r[0] = r[0].toUpper();
    return r;
}
} // namespace

TSapi4::TSapi4(QObject* owner) : TSpeechAPI(owner)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi4 Create"));
    try {
        Tts = new TTTS(this);
        AttachHandlers();
    } catch (const EVorlixError& e) {
        const QString msg = QStringLiteral("Sapi4 Create Error: ") + e.message();
        UtilsClass::Log(msg);
        Dialogs().ShowError(msg);
        throw;
    }
    UtilsClass::Log(QStringLiteral("Exit TSapi4 Create"));
}

TSapi4::~TSapi4()
{
    delete Tts;
    Tts = nullptr;
}

void TSapi4::AttachHandlers()
{
    Tts->OnAudioStop = [this](TTTS* s) { AudioStopHandler(s); };
    Tts->OnWordPosition = [this](TTTS* s, int64_t b) { WordPositionHandler(s, b); };
    Tts->OnTextDataDone = [this](TTTS* s) { TextDataDoneHandler(s); };
    Tts->OnError = [this](TTTS*, const QString& msg) { ReportOutputError(msg); };
}

void TSapi4::LoadVoices(TVoiceList& voices, TEngineList& engines)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi4 LoadVoices"));
    RequireStore();
    TTTSEnumerator e;
    e.Reset();
    TTTSModeInfo m;
    while (e.Next(m)) {
        const QString version = VersionOf(m.ProductName);
        TEnginePtr engine = engines.Find(m.MfgName, m.ProductName, QStringLiteral("Sapi4"), version);
        if (!engine) {
            bool hasPitch = true;
            const QString prefix = PrefixOf(m.MfgName, m.ProductName, hasPitch);
            if (prefix.isEmpty())
                continue;
            engine = std::make_shared<TBaseEngineClass>(m.MfgName, QStringLiteral("Sapi4"), m.ProductName);
            engine->EngineGuid = m.EngineId;
            engine->Version = version;
            engine->VendorPrefix = prefix;
            engine->HasPitch = hasPitch;
            engines.Add(engine);
        }
        if (m.ModeName.contains(QLatin1String("Telephone")))
            continue;
        auto* voice = new TBaseVoiceClass(this);
        voice->Adapter = this;
        voice->ModeName = m.ModeName;
        voice->Engine = engine;
        voice->DisplayName = voice->Name = m.Speaker;
        voice->Language = m.LanguageId;
        voice->Gender = m.Gender;
        if (m.MfgName == QLatin1String("Microsoft"))
            voice->DisplayName = m.ModeName;
        else if (m.ProductName == QLatin1String("DIGALO"))
            voice->DisplayName = QStringLiteral("Digalo ") + m.Speaker;
        else if (m.MfgName == QLatin1String("AT&T Labs"))
            voice->DisplayName = QStringLiteral("AT&T ") + UpperFirst(voice->DisplayName);
        const QString languageName = GetLanguageName(m.LanguageId);
        if (languageName != QLatin1String("US English") && !languageName.isEmpty())
            voice->DisplayName += QStringLiteral(" (") + languageName + QStringLiteral(")");
        int enabled = 1;
        if ((engine->Key == QLatin1String("Microsoft") || engine->Key == QLatin1String("L & H TruVoice"))
            && !QStringLiteral("MaryMikeSamPeterSidneyEddie").contains(voice->DisplayName))
            enabled = 0;
        voice->BuildId();
        const QString key = QStringLiteral("VCE_") + voice->Id;
        if (!Store->HasItem(key))
            Store->AddItem(key, rlShared, key, QStringLiteral("%1,%2,%2,%2").arg(enabled).arg(NotSet), rkString);
        voice->ClearLimits();
        voices.Add(voice);
        UtilsClass::Log(QStringLiteral("Loaded voice ") + voice->DisplayName);
    }
    UtilsClass::Log(QStringLiteral("Exit TSapi4 LoadVoices"));
}

void TSapi4::LoadVoiceDefaults(TBaseVoiceClass* voice)
{
    if (voice->PitchMin != NotSet) {
        // The limits are known: values set back to "not set" take the engine's defaults again.
        if (voice->Pitch == NotSet)
            voice->SetPitch(voice->PitchDefault);
        if (voice->Speed == NotSet)
            voice->SetSpeed(voice->SpeedDefault);
        if (voice->VolumeLeft == NotSet)
            voice->SetVolume(voice->VolumeDefaultLeft);
        return;
    }
    // Attribute probes need no sound device: the temporary component has no destination.
    TTTS probe;
    probe.OutputDest = odDirect;
    probe.SetModeName(voice->ModeName);
    probe.SetActive(true);
    const bool hasPitch = !voice->Engine || voice->Engine->HasPitch;
    if (hasPitch) {
        const int current = probe.Pitch();
        probe.SetPitch(0);
        voice->PitchMin = uint16_t(probe.Pitch());
        probe.SetPitch(65535);
        voice->PitchMax = uint16_t(probe.Pitch());
        probe.SetPitch(uint16_t(current));
        voice->PitchDefault = current;
    } else {
        voice->PitchMin = 0;
        voice->PitchMax = 100;
        voice->PitchDefault = 50;
    }
    const uint32_t speed = probe.Speed();
    probe.SetSpeed(0);
    voice->SpeedMin = int(probe.Speed());
    probe.SetSpeed(0xFFFFFFFFu);
    voice->SpeedMax = int(probe.Speed());
    probe.SetSpeed(speed);
    voice->SpeedDefault = int(speed);
    const uint32_t l = probe.VolumeL(), r = probe.VolumeR();
    probe.SetVolumeL(0);
    probe.SetVolumeR(0);
    const int minL = int(probe.VolumeL()), minR = int(probe.VolumeR());
    probe.SetVolumeL(0xFFFFFFFFu);
    probe.SetVolumeR(0xFFFFFFFFu);
    const int maxL = int(probe.VolumeL()), maxR = int(probe.VolumeR());
    probe.SetVolumeL(l);
    probe.SetVolumeR(r);
    const int vmin = std::max(minL, minR);
    int vmax = std::min(maxL, maxR);
    if (vmax == 0)
        vmax = std::max(maxL, maxR);
    const int vdef = int(std::max(l, r));
    voice->VolumeMinLeft = voice->VolumeMinRight = vmin;
    voice->VolumeMaxLeft = voice->VolumeMaxRight = vmax;
    voice->VolumeDefaultLeft = voice->VolumeDefaultRight = vdef;
    if (voice->Pitch == NotSet)
        voice->SetPitch(voice->PitchDefault);
    if (voice->Speed == NotSet)
        voice->SetSpeed(voice->SpeedDefault);
    if (voice->VolumeLeft == NotSet)
        voice->SetVolume(vdef);
    probe.SetActive(false);
}

void TSapi4::Activate(TBaseVoiceClass* voice)
{
    UtilsClass::Log(QStringLiteral("Entered Sapi4.Activate - ") + voice->DisplayName);
    TSpeechAPI::Activate(voice);
    // The end of the previous text is no news for the next one (a Resume before it starts
    // would report it).
    AudioStopped = false;
    try {
        Tts->SetActive(false);
        Tts->OutputDest = odAudioDevice;
        Tts->OutputFile.clear();
        AttachHandlers();
        BytesPerChar = voice->Engine ? voice->Engine->BytesPerChar : 2;
        if (voice->Speed <= 0)
            LoadVoiceDefaults(voice);
        Tts->SetModeName(voice->ModeName);
        Tts->ControlTags = ctTagged;
        UtilsClass::Log(QStringLiteral("Setting Active property to true"));
        Tts->SetActive(true);
        if (!Tts->Active())
            throw ESpeechError(QStringLiteral("TTS Activation failed in Play"));
        if (!voice->Engine || voice->Engine->HasPitch)
            Tts->SetPitch(uint16_t(voice->Pitch));
        Tts->SetSpeed(uint32_t(voice->Speed));
        Tts->SetVolumeL(uint32_t(voice->VolumeLeft) & 0xFFFF);
        Tts->SetVolumeR(uint32_t(voice->VolumeLeft) & 0xFFFF);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Activate Exception: ") + e.message());
        throw;
    }
    UtilsClass::Log(QStringLiteral("TTS Activated"));
    CurrentVoice = voice;
    SetActive(true);
    if (OnStarted)
        OnStarted(this);
    UtilsClass::Log(QStringLiteral("Exitting Activate - Voice = ") + voice->DisplayName);
    UtilsClass::Log(QStringLiteral("         Speed = %1").arg(voice->Speed));
    UtilsClass::Log(QStringLiteral("         Pitch = %1").arg(voice->Pitch));
    UtilsClass::Log(QStringLiteral("        Volume = %1").arg(voice->VolumeLeft));
}

bool TSapi4::PlayToFileInit(TBaseVoiceClass* voice, const QString& wavPath)
{
    if (!TSpeechAPI::PlayToFileInit(voice, wavPath))
        return false;
    BytesPerChar = voice->Engine ? voice->Engine->BytesPerChar : 2;
    AudioStopped = false;
    try {
        Tts->SetActive(false);
        if (voice->Speed < 1)
            LoadVoiceDefaults(voice);
        Tts->SetModeName(voice->ModeName);
        Tts->ControlTags = ctTagged;
        Tts->OutputDest = odFile;
        Tts->OutputFile = wavPath;
        AttachHandlers();
        Tts->SetActive(true);
        if (!Tts->Active())
            throw ESpeechError(QStringLiteral("TTS Activation failed in PlayToFileInit"));
        Tts->SetPitch(uint16_t(voice->Pitch));
        Tts->SetSpeed(uint32_t(voice->Speed));
        Tts->SetVolumeL(uint32_t(voice->VolumeLeft) & 0xFFFF);
        Tts->SetVolumeR(uint32_t(voice->VolumeLeft) & 0xFFFF);
    } catch (const EVorlixError& e) {
        ReportError(e.message());
        throw;
    }
    const int realTime = StoreInt(QStringLiteral("TTS_RealTimeValue"), 2560);
    try {
        Tts->RealTimeSet(uint16_t(realTime));
    } catch (const EVorlixError&) {
        UtilsClass::Log(QStringLiteral("Exception setting real time property"));
    }
    CurrentVoice = voice;
    SetActive(true);
    if (OnStarted)
        OnStarted(this);
    UtilsClass::Log(QStringLiteral("Exitting PlayToFileInit - Voice = ") + voice->DisplayName);
    UtilsClass::Log(QStringLiteral("         Speed = %1").arg(voice->Speed));
    UtilsClass::Log(QStringLiteral("         Pitch = %1").arg(voice->Pitch));
    UtilsClass::Log(QStringLiteral("         RealTime = %1").arg(realTime));
    return true;
}

void TSapi4::PlayText(const QString& text)
{
    TSpeechAPI::PlayText(text);
    AudioStopped = false;
    try {
        Tts->Speak(text);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("TSapi4.PlayText Exception: ") + e.message());
        throw;
    }
}

void TSapi4::Play(const QString& text, TBaseVoiceClass* voice)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi4.Play"));
    AudioStopped = false;
    try {
        Activate(voice);
        TSpeechAPI::PlayText(text);
        Tts->Speak(text);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Play Exception: ") + e.message());
        throw;
    }
}

bool TSapi4::PlayToFile(int reserved, const QString& text)
{
    TSpeechAPI::PlayToFile(reserved, text);
    AudioStopped = false;
    try {
        Tts->Speak(text);
    } catch (const EVorlixError& e) {
        ReportError(e.message());
        return false;
    }
    return true;
}

void TSapi4::TextDataDoneHandler(TTTS*)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi4.TextDataDoneHandler"));
}

void TSapi4::AudioStopHandler(TTTS*)
{
    UtilsClass::Log(QStringLiteral("Sapi4 AudioStopHandler"));
    AudioStopped = true;
    TTSFinishedHandler();
}

void TSapi4::WordPositionHandler(TTTS*, int64_t byteOffset)
{
    WordPositionEvent(int(byteOffset / std::max(1, BytesPerChar)));
}

void TSapi4::SetActive(bool flag)
{
    TSpeechAPI::SetActive(flag);
    if (!flag && Tts->OutputDest != odFile) {
        UtilsClass::Log(QStringLiteral("end"));
        Tts->SetActive(false);
        TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
    }
    Tts->SetActive(flag);
}

void TSapi4::Pause()
{
    Paused = true;
    try {
        Tts->SetAudioPaused(true);
    } catch (const EVorlixError&) {
        UtilsClass::Log(QStringLiteral("Pause Exception"));
        Paused = false;
    }
}

void TSapi4::Resume()
{
    Paused = false;
    try {
        Tts->SetAudioPaused(false);
    } catch (const EVorlixError&) {
        UtilsClass::Log(QStringLiteral("Pause Exception"));
        Paused = true;
        return;
    }
    // The audio that stopped while paused was not reported then.
    if (AudioStopped && !EngineFinished)
        TTSFinishedHandler();
}

void TSapi4::AudioReset()
{
    TSpeechAPI::AudioReset();
    Paused = false;
    Tts->AudioReset();
}

void TSapi4::Skip()
{
    Tts->AudioReset();
    TTSFinishedHandler();
}

void TSapi4::SetAudioDevice(int deviceId)
{
    Tts->SetAudioDeviceID(AvailableDevice(deviceId));
}

bool TSapi4::CheckAudioDevice(int deviceId)
{
    return CheckDevice(deviceId);
}
