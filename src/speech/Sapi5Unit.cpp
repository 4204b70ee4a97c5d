#include "speech/Sapi5Unit.h"

#include "core/BusyGuard.h"
#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"
#include "speech/TBaseVoiceUnit.h"
#include "speech/TBaseVoiceUtils.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLocale>
#include <QThread>
#include <QTimer>
#include <functional>

namespace {
QString userLanguageOverride;

struct TVendorRow {
    const char* Vendor;
    const char* Prefix;
    bool HasPitch;
};
const TVendorRow VendorTable[] = {
    {"Microsoft", "MS", true},
    {"AT&T Labs", "ATTNV", false},
    {"Cepstral", "Cepstral", true},
    {"Voiceware", "Voiceware", true},
    {"eSpeak NG", "ESNG", true},
};

QString UpperFirst(const QString& s)
{
    if (s.isEmpty())
        return s;
    QString r = s;
    if (r[0] >= QLatin1Char('a') && r[0] <= QLatin1Char('z'))
        r[0] = r[0].toUpper();
    return r;
}

void ProcessEventsBriefly()
{
    TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents);
}

// Waits at most timeoutMs for done(). Events other than input run inside the busy guard; the
// thread sleeps while none arrive, and a timer wakes it at the deadline.
void WaitForEngine(const std::function<bool()>& done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(timeoutMs);
    while (!done() && !deadline.hasExpired())
        TBusyGuard::ProcessEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
}
} // namespace

QString TSapi5::UserLanguage()
{
    if (!userLanguageOverride.isEmpty())
        return userLanguageOverride;
    return QLocale::system().name().section(QLatin1Char('_'), 0, 0).toLower();
}

void TSapi5::SetUserLanguageForTesting(const QString& language)
{
    userLanguageOverride = language.toLower();
}

TSapi5::TSapi5(QObject* owner) : TSpeechAPI(owner)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 Create"));
    if (!IsSapi5Installed())
        throw ESpeechAPIError(QStringLiteral("Test for Sapi5 installed failed"));
    try {
        Voice = new TSpVoice(this);
        Sink.OnEndStream = [this](int s) { SpVoice1EndStream(s); };
        Sink.OnWord = [this](int s, int64_t p, int c, int l) { WordHandler(s, p, c, l); };
        Sink.Connect(Voice);
        Voice->OnStreamError = [this](int s, const QString& msg) {
            if (s == CurrentStream)
                ReportOutputError(msg);
        };
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Sapi5 Create Error: ") + e.message());
        throw;
    }
    DefaultAudioOutput = Voice->AudioOutput();
    Timer2.setInterval(500);
    connect(&Timer2, &QTimer::timeout, this, &TSapi5::Timer2Timer);
    XmlActivateInProgress = false;
    UtilsClass::Log(QStringLiteral("Exit TSapi5 Create"));
}

TSapi5::~TSapi5()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 Destroy"));
    Timer2.stop();
    Sink.Disconnect();
    delete Voice;
    Voice = nullptr;
    if (FileStream) {
        try {
            FileStream->Close();
        } catch (const EVorlixError& e) {
            UtilsClass::Log(e.message());
        }
    }
}

bool TSapi5::IsSapi5Installed()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 IsSapi5Installed"));
    int count = 0;
    TSpObjectTokenCategory category;
    try {
        category.SetId(SpeechVoicesCategory);
        for (const auto& t : category.EnumerateTokens())
            if (!t->GetAttribute(QStringLiteral("Name")).trimmed().isEmpty())
                ++count;
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Voice Token Category Error:") + e.message());
        UtilsClass::Log(QStringLiteral("Exit TSapi5 IsSapi5Installed"));
        return false;
    }
    if (count == 0)
        UtilsClass::Log(QStringLiteral("No Sapi5 voices found during enumeration"));
    UtilsClass::Log(QStringLiteral("Exit TSapi5 IsSapi5Installed"));
    return count > 0;
}

void TSapi5::LoadVoices(TVoiceList& voices, TEngineList& engines)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 LoadVoices"));
    RequireStore();
    TSpObjectTokenCategory category;
    std::vector<TSpObjectTokenPtr> tokens;
    try {
        category.SetId(SpeechVoicesCategory);
        tokens = category.EnumerateTokens();
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Error creating Speech Object Token Category"));
        UtilsClass::Log(e.message());
        throw;
    }
    const QString userLanguage = UserLanguage();
    bool failed = false;
    for (const auto& token : tokens) {
        QString name;
        try {
            name = token->GetAttribute(QStringLiteral("Name"));
            UtilsClass::Log(QStringLiteral("Voice Attribute Name: ") + name);
            if (name == QLatin1String("SampleTTSVoice"))
                continue;
            const QString vendor = token->GetAttribute(QStringLiteral("Vendor"));
            UtilsClass::Log(QStringLiteral("Vendor: ") + vendor);
            if (engines.Exists(vendor, QStringLiteral("Sapi4"))) {
                UtilsClass::Log(QStringLiteral("Sapi4 version of engine already loaded"));
                continue;
            }
            QString langText = token->GetAttribute(QStringLiteral("Language"));
            if (langText.contains(QLatin1Char(';')))
                langText = langText.section(QLatin1Char(';'), 0, 0);
            UtilsClass::Log(QStringLiteral("Language: ") + langText);
            bool ok = false;
            const int language = langText.trimmed().toInt(&ok, 16);
            if (!ok)
                throw ESapi5Error(QStringLiteral("Language attribute is not a number: ") + langText);
            QString version;
            if (vendor == QLatin1String("AT&T Labs")) {
                bool seen = false;
                for (const QChar c : token->GetDescription()) {
                    if (c.isDigit() || c == QLatin1Char('.')) {
                        version += c;
                        seen = true;
                    } else if (c == QLatin1Char(' ') && seen) {
                        break;
                    }
                }
            }
            TEnginePtr engine = engines.Find(vendor, vendor, QStringLiteral("Sapi5"), version);
            if (!engine) {
                const TVendorRow* row = nullptr;
                for (const auto& r : VendorTable)
                    if (vendor == QLatin1String(r.Vendor))
                        row = &r;
                if (!row)
                    continue;
                engine = std::make_shared<TBaseEngineClass>(vendor, QStringLiteral("Sapi5"), vendor);
                engine->Version = version;
                engine->VendorPrefix = QLatin1String(row->Prefix);
                engine->HasPitch = row->HasPitch;
                engines.Add(engine);
            }
            auto* voice = new TBaseVoiceClass(this);
            voice->Engine = engine;
            voice->Name = name;
            voice->DisplayName = UpperFirst(name);
            voice->Language = language;
            voice->Gender = token->GetAttribute(QStringLiteral("Gender"));
            voice->Adapter = this;
            SetOutputStreamFormat(token, engine.get(), voice);
            if (engine->Key != QLatin1String("Microsoft")) {
                if (engine->Manufacturer == QLatin1String("AT&T Labs"))
                    voice->DisplayName = QStringLiteral("AT&T ") + voice->DisplayName;
                if (version == QLatin1String("1.1")) {
                    UtilsClass::Log(QStringLiteral("Setting Output Stream Format for ") + voice->DisplayName);
                    if (voice->SampleRateCode == 18)
                        voice->DisplayName += QStringLiteral(" 16KHz");
                    else if (voice->SampleRateCode == 22)
                        voice->DisplayName += QStringLiteral(" 22KHz");
                }
            } else if (voice->DisplayName.startsWith(QLatin1String("Microsoft"))) {
                voice->DisplayName = voice->DisplayName.mid(10);
            }
            if (language != 1033) {
                const QString languageName = GetLanguageName(language);
                if (!languageName.isEmpty())
                    voice->DisplayName += QStringLiteral(" (") + languageName + QStringLiteral(")");
            }
            voice->Token = token;
            int enabled = 1;
            if ((engine->Key == QLatin1String("Microsoft") || engine->Key == QLatin1String("L & H TruVoice"))
                && !QStringLiteral("MaryMikeSamPeterSidneyEddie").contains(voice->DisplayName))
                enabled = 0;
            if (vendor == QLatin1String("eSpeak NG")) {
                // Voices of the user's own language and English start enabled, the rest disabled.
                const QString primary = token->GetAttribute(QStringLiteral("LanguageTag")).section(QLatin1Char('-'), 0, 0);
                enabled = (primary == QLatin1String("en") || primary == userLanguage) ? 1 : 0;
            }
            voice->BuildId();
            const QString key = QStringLiteral("VCE_") + voice->Id;
            if (!Store->HasItem(key))
                Store->AddItem(key, rlShared, key, QStringLiteral("%1,%2,%2,%2").arg(enabled).arg(NotSet), rkString);
            voice->ClearLimits();
            voices.Add(voice);
            UtilsClass::Log(QStringLiteral("Loaded voice ") + voice->DisplayName);
        } catch (const ESapi5Error& e) {
            UtilsClass::Log(QStringLiteral("Ole Error: ") + name + QStringLiteral(" - ") + e.message());
            failed = true;
        } catch (const std::exception& e) {
            UtilsClass::Log(QStringLiteral("Sapi5 Load Voice Loop Error: ") + name);
            UtilsClass::Log(QString::fromUtf8(e.what()));
            failed = true;
        }
    }
    if (failed)
        throw ESpeechAPIError(QStringLiteral("Sapi5 Voice Enumeration Error. Please contact support@quenrad.com"));
    UtilsClass::Log(QStringLiteral("Exit TSapi5 LoadVoices"));
}

void TSapi5::SetOutputStreamFormat(const TSpObjectTokenPtr& token, TBaseEngineClass* engine, TBaseVoiceClass* voice)
{
    UtilsClass::Log(QStringLiteral("Entered Sapi5 SetOuputStreamFormat for Voice: ") + voice->DisplayName);
    UtilsClass::Log(QStringLiteral("Engine Version: ") + engine->Version);
    voice->SampleRateCode = -1;
    if (engine->Manufacturer == QLatin1String("AT&T Labs")) {
        voice->SampleRateCode = SAFT8kHz16BitMono;
        const QString name = token->GetAttribute(QStringLiteral("Name"));
        if (engine->Version != QLatin1String("1.1")) {
            if (name.contains(QLatin1String("16"))) {
                UtilsClass::Log(QStringLiteral("SetOutputStreamFormat: Setting output format to 16khz"));
                voice->SampleRateCode = SAFT16kHz16BitMono;
            } else if (name.contains(QLatin1String("22"))) {
                UtilsClass::Log(QStringLiteral("SetOutputStreamFormat: Setting output format to 22khz"));
                voice->SampleRateCode = SAFT22kHz16BitMono;
            } else {
                UtilsClass::Log(QStringLiteral("SetOutputStreamFormat: Setting output format to 8khz"));
            }
        }
    }
    UtilsClass::Log(QStringLiteral("Exit Sapi5 SetOuputStreamFormat"));
}

void TSapi5::LoadVoiceDefaults(TBaseVoiceClass* voice)
{
    TSpVoice temp;
    if (voice->Token)
        temp.SetVoice(voice->Token);
    voice->PitchMin = -10;
    voice->PitchMax = 10;
    voice->PitchDefault = 0;
    voice->SpeedMin = -10;
    voice->SpeedMax = 10;
    voice->SpeedDefault = 0;
    voice->VolumeMinLeft = voice->VolumeMinRight = 0;
    voice->VolumeMaxLeft = voice->VolumeMaxRight = 100;
    if (voice->Pitch == NotSet)
        voice->SetPitch(0);
    if (voice->Speed == NotSet)
        voice->SetSpeed(0);
    const int def = temp.Volume();
    voice->VolumeDefaultLeft = voice->VolumeDefaultRight = def;
    if (voice->VolumeLeft == NotSet)
        voice->SetVolume(def);
}

void TSapi5::SetAudioDevice(int deviceId)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 SetAudioDevice (%1)").arg(deviceId));
    std::vector<TPulseSinkInfo> sinks;
    if (deviceId != -1)
        TPulseAudio::Instance().ListSinks(sinks);
    if (deviceId != -1 && (deviceId < 0 || deviceId >= int(sinks.size()))) {
        UtilsClass::Log(QStringLiteral("Audio device %1 is not available, using the default device").arg(deviceId));
        deviceId = -1;
    }
    DeviceId = deviceId;
    if (deviceId == -1) {
        Voice->SetAudioOutput(DefaultAudioOutput);
        UtilsClass::Log(QStringLiteral("AudioOutput was set to default"));
    } else {
        TSpObjectTokenCategory category;
        category.SetId(SpeechAudioOutputCategory);
        for (const auto& t : category.EnumerateTokens())
            if (t->GetDescription() == sinks[size_t(deviceId)].Description) {
                Voice->SetAudioOutput(t);
                break;
            }
    }
    UtilsClass::Log(QStringLiteral("Exit SetAudioDevice"));
}

bool TSapi5::CheckAudioDevice(int deviceId)
{
    return CheckDevice(deviceId);
}

void TSapi5::ApplyVolume(TBaseVoiceClass* voice)
{
    try {
        Voice->SetVolume(voice->VolumeLeft);
    } catch (const EVorlixError& first) {
        UtilsClass::Log(QStringLiteral("Volume Assingment Exception(1): ") + first.message());
        try {
            Voice->SetVolume(100);
        } catch (const EVorlixError&) {
            UtilsClass::Log(QStringLiteral("Volume Assingment Exception(2): ") + first.message());
            throw;
        }
    }
}

void TSapi5::Activate(TBaseVoiceClass* voice)
{
    TSpeechAPI::Activate(voice);
    UtilsClass::Log(QStringLiteral("Entered TSapi5 Activate - ") + voice->DisplayName);
    OutputTarget = QStringLiteral("Speakers");
    AudioStarted = false;
    // The end of the previous text is no news for the next one (a Resume before it starts
    // would report it).
    CurrentStream = -1;
    CurrentStreamEnded = false;
    try {
        if (voice->Speed < -10 || voice->Speed > 10 || voice->VolumeLeft < 0 || voice->VolumeLeft > 100)
            LoadVoiceDefaults(voice);
        UtilsClass::Log(QStringLiteral("After validate and set default values"));
        if (!voice->Token)
            throw ESapi5Error(QStringLiteral("The voice has no token"));
        Voice->SetVoice(voice->Token);
        UtilsClass::Log(QStringLiteral("After SpVoice1.Voice assignment"));
        ApplyVolume(voice);
        UtilsClass::Log(QStringLiteral("Creating SpMMAudioOut object"));
        AudioOut = std::make_unique<TSpMMAudioOut>();
        // The stored device may have gone since it was chosen.
        const int id = AvailableDevice(StoreInt(QStringLiteral("TTS_AudioDeviceID"), DeviceId));
        UtilsClass::Log(QStringLiteral("Setting DeviceID to %1").arg(id));
        AudioOut->DeviceId = id;
        UtilsClass::Log(QStringLiteral("DeviceID set"));
        if (voice->SampleRateCode == -1) {
            Voice->AllowAudioOutputFormatChangesOnNextSet = true;
        } else {
            AudioOut->FormatType = voice->SampleRateCode;
            Voice->AllowAudioOutputFormatChangesOnNextSet = false;
        }
        Voice->SetAudioOutputStream(AudioOut.get());
        UtilsClass::Log(QStringLiteral("AudioOutputStream assigned"));
        XMLActivate(voice->Pitch, voice->Speed, true, voice);
        CurrentVoice = voice;
        SetActive(true);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Activate Exception: ") + e.message());
        Voice->SetAudioOutputStream(static_cast<TSpMMAudioOut*>(nullptr));
        AudioOut.reset();
        throw;
    }
    UtilsClass::Log(QStringLiteral("Exitting Activate - Voice = ") + voice->DisplayName);
    UtilsClass::Log(QStringLiteral("         Speed = %1").arg(voice->Speed));
    UtilsClass::Log(QStringLiteral("         Pitch = %1").arg(voice->Pitch));
}

void TSapi5::XMLActivate(int pitch, int speed, bool markInProgress, TBaseVoiceClass* voice)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 XMLActivate"));
    if (markInProgress)
        XmlActivateInProgress = true;
    try {
        QString text;
        if (!(voice->Engine && voice->Engine->Manufacturer == QLatin1String("AT&T Labs")))
            text = QStringLiteral("<PITCH ABSMIDDLE=\"%1\"/>").arg(pitch);
        text += QStringLiteral("<RATE ABSSPEED=\"%1\"/>").arg(speed);
        UtilsClass::Log(text);
        Voice->Speak(text, SVSFIsXML | SVSFPersistXML);
        UtilsClass::Log(QStringLiteral("after set speed"));
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("XMLActivate Exception: ") + e.message());
        throw;
    }
    UtilsClass::Log(QStringLiteral("Exit XMLActivate"));
}

void TSapi5::PlayText(const QString& text)
{
    TSpeechAPI::PlayText(text);
    UtilsClass::Log(QStringLiteral("Entered TSapi5 PlayText"));
    try {
        CurrentStreamEnded = false;
        CurrentStream = Voice->Speak(text, SVSFlagsAsync | SVSFIsXML);
        Timer2.start(500);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("TSapi5.PlayText Exception: ") + e.message());
        throw;
    }
}

void TSapi5::Play(const QString& text, TBaseVoiceClass* voice)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5.Play"));
    try {
        Activate(voice);
        TSpeechAPI::PlayText(text);
        CurrentStreamEnded = false;
        CurrentStream = Voice->Speak(text, SVSFlagsAsync | SVSFIsXML);
        Timer2.start(500);
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("Play Exception:") + e.message());
        throw;
    }
}

bool TSapi5::PlayToFileInit(TBaseVoiceClass* voice, const QString& wavPath)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 PlayToFileInit"));
    if (!TSpeechAPI::PlayToFileInit(voice, wavPath))
        return false;
    try {
        OutputTarget = QStringLiteral("File");
        AudioStarted = false;
        CurrentStream = -1;
        CurrentStreamEnded = false;
        if (voice->Speed < -10 || voice->Speed > 10 || voice->VolumeLeft < 0 || voice->VolumeLeft > 100)
            LoadVoiceDefaults(voice);
        if (!voice->Token)
            throw ESapi5Error(QStringLiteral("The voice has no token"));
        Voice->SetVoice(voice->Token);
        ApplyVolume(voice);
        FileStream = std::make_unique<TSpFileStream>();
        if (voice->SampleRateCode == -1) {
            try {
                TSpMMAudioOut temp;
                Voice->AllowAudioOutputFormatChangesOnNextSet = true;
                temp.FormatType = Voice->PreferredFormat();
                FileStream->FormatType = temp.FormatType;
                Voice->AllowAudioOutputFormatChangesOnNextSet = false;
            } catch (const EVorlixError& e) {
                UtilsClass::Log(QStringLiteral("PlayToFileInit: Exception setting audio format: ") + e.message());
                throw;
            }
        } else {
            Voice->AllowAudioOutputFormatChangesOnNextSet = false;
            FileStream->FormatType = voice->SampleRateCode;
        }
        FileStream->Open(wavPath, 3);
        Voice->SetAudioOutputStream(FileStream.get());
        // The settings text's end of stream is not the end of the text: mark it like Activate does.
        XMLActivate(voice->Pitch, voice->Speed, true, voice);
        CurrentVoice = voice;
        SetActive(true);
        UtilsClass::Log(QStringLiteral("Exitting PlayToFileInit - Voice = ") + voice->DisplayName);
        UtilsClass::Log(QStringLiteral("         Speed = %1").arg(voice->Speed));
        UtilsClass::Log(QStringLiteral("         Pitch = %1").arg(voice->Pitch));
    } catch (const EVorlixError& e) {
        UtilsClass::Log(QStringLiteral("PlayToFileInit Exception: ") + e.message());
        Voice->SetAudioOutputStream(static_cast<TSpMMAudioOut*>(nullptr));
        FileStream.reset();
        throw;
    }
    return true;
}

bool TSapi5::PlayToFile(int reserved, const QString& text)
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 PlayToFile"));
    TSpeechAPI::PlayToFile(reserved, text);
    try {
        CurrentStreamEnded = false;
        CurrentStream = Voice->Speak(text, SVSFlagsAsync | SVSFIsXML);
        Timer2.start(1000);
    } catch (const EVorlixError& e) {
        ReportError(e.message());
        return false;
    }
    return true;
}

void TSapi5::Timer2Timer()
{
    if (Cancelled)
        Timer2.stop();
    if (!Cancelled && !AudioStarted) {
        const int64_t pos = Voice->OutputPosition();
        UtilsClass::Log(QStringLiteral("Seek Output Stream: %1").arg(pos));
        if (pos > 0) {
            if (OnStarted)
                OnStarted(this);
            AudioStarted = true;
            if (OutputTarget == QLatin1String("Speakers")) {
                Timer2.stop();
                return;
            }
            Timer2.setInterval(1000);
        }
    }
    if (OnWordPosition && OutputTarget == QLatin1String("File") && !Cancelled)
        StreamPositionEvent(Voice->OutputPosition());
    if (Voice->WaitUntilDone(10)) {
        Timer2.stop();
        FinishedHandler();
    }
}

void TSapi5::SpVoice1EndStream(int streamNumber)
{
    UtilsClass::Log(QStringLiteral("Entered SpVoice1EndStream, StreamNumber: %1").arg(streamNumber));
    if (XmlActivateInProgress) {
        UtilsClass::Log(QStringLiteral("EndStream detected XMLActivate in progress"));
        XmlActivateInProgress = false;
        return;
    }
    if (streamNumber != CurrentStream)
        return; // a settings or closing text, not the text being spoken
    CurrentStreamEnded = true;
    Timer2.stop();
    // A short text can end before the watch timer first looked at the output.
    if (!AudioStarted && !Cancelled && Voice->OutputPosition() > 0) {
        AudioStarted = true;
        if (OnStarted)
            OnStarted(this);
    }
    if (OnWordPosition && OutputTarget == QLatin1String("File") && !Cancelled)
        StreamPositionEvent(Voice->OutputPosition());
    FinishedHandler();
}

void TSapi5::FinishedHandler()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 FinishedHandler"));
    TTSFinishedHandler();
}

void TSapi5::WordHandler(int streamNumber, int64_t, int characterPosition, int)
{
    if (streamNumber == CurrentStream)
        WordPositionEvent(characterPosition);
}

void TSapi5::SetActive(bool flag)
{
    TSpeechAPI::SetActive(flag);
    if (flag)
        return;
    Timer2.stop();
    if (OutputTarget == QLatin1String("Speakers") && Voice->Busy())
        Voice->Speak(QString(), SVSFPurgeBeforeSpeak);
    // Closing resumes a paused voice: a file gets the rest of its text, and the next text
    // does not start paused.
    if (Voice->IsPaused())
        Voice->Resume();
    AudioOut.reset();
    if (FileStream && FileStream->IsOpen()) {
        const int pause = StoreInt(QStringLiteral("PauseAtWavEOF"), 0);
        if (pause > 0)
            Voice->Speak(QStringLiteral("<SILENCE MSEC=\"%1\"/>").arg(pause), SVSFlagsAsync | SVSFIsXML);
        if (!Voice->WaitUntilDone(FileFinishTimeoutMs)) {
            UtilsClass::Log(QStringLiteral("The file %1 was not finished within %2 ms: the rest of the text is dropped")
                                .arg(FileStream->FileName())
                                .arg(FileFinishTimeoutMs));
            Voice->Speak(QString(), SVSFPurgeBeforeSpeak);
            if (!Voice->WaitUntilDone(StopTimeoutMs))
                UtilsClass::Log(QStringLiteral("eSpeak NG did not stop within %1 ms; its text writes nothing more").arg(StopTimeoutMs));
        }
        Voice->DetachFile();
        std::unique_ptr<TSpFileStream> closing = std::move(FileStream);
        Voice->SetAudioOutputStream(static_cast<TSpMMAudioOut*>(nullptr));
        closing->Close();
    } else {
        FileStream.reset();
        Voice->SetAudioOutputStream(static_cast<TSpMMAudioOut*>(nullptr));
    }
}

qint64 TSapi5::OutputFileMilliseconds() const
{
    if (!FileStream || !FileStream->IsOpen())
        return -1;
    TWavWriter* w = FileStream->Writer();
    return w->Rate() > 0 ? w->BytesWritten() / 2 * 1000 / w->Rate() : -1;
}

bool TSapi5::IsEngineResponding()
{
    UtilsClass::Log(QStringLiteral("StreamPos1: 0"));
    // Nothing is being spoken, or we paused it ourselves, or the text has already run to its
    // end and waits only for its end report (which comes with the next events): nothing has
    // to move.
    if (!Voice->Busy() || Voice->IsPaused() || Voice->AllDone())
        return true;
    const int64_t p1 = Voice->ProgressCounter();
    QDeadlineTimer deadline(ResponseTimeoutMs);
    while (!deadline.hasExpired()) {
        QThread::msleep(10);
        const int64_t p2 = Voice->ProgressCounter();
        if (p2 != p1 || !Voice->Busy() || Voice->AllDone()) {
            UtilsClass::Log(QStringLiteral("StreamPos2: %1").arg(p2));
            return true;
        }
    }
    return false;
}

void TSapi5::AudioReset()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 AudioReset"));
    if (!Paused && !IsEngineResponding()) {
        UtilsClass::Log(QStringLiteral("AudioReset: Engine is not responding"));
        throw ETTSEngineBusy(QStringLiteral("Engine is not responding"));
    }
    TSpeechAPI::AudioReset();
    Timer2.stop();
    if (Paused) {
        Voice->Resume();
        Paused = false;
    }
    Voice->Speak(QString(), SVSFPurgeBeforeSpeak);
    ProcessEventsBriefly();
    if (OutputTarget == QLatin1String("File"))
        return;
    WaitForEngine([this] { return EngineFinished; }, 5000);
}

void TSapi5::Skip()
{
    Voice->Speak(QString(), SVSFPurgeBeforeSpeak);
    TTSFinishedHandler();
}

void TSapi5::Pause()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 Pause"));
    if (!IsEngineResponding()) {
        UtilsClass::Log(QStringLiteral("AudioReset: Engine is not responding"));
        throw ETTSEngineBusy(QStringLiteral("Engine is not responding"));
    }
    Paused = true;
    try {
        Voice->Pause();
    } catch (const EVorlixError&) {
        UtilsClass::Log(QStringLiteral("Pause Exception"));
        Paused = false;
    }
}

void TSapi5::Resume()
{
    UtilsClass::Log(QStringLiteral("Entered TSapi5 Resume"));
    Paused = false;
    try {
        Voice->Resume();
    } catch (const EVorlixError&) {
        UtilsClass::Log(QStringLiteral("Resume Exception"));
        Paused = true;
        return;
    }
    // A text that ended while paused was not reported then.
    if (CurrentStreamEnded && !EngineFinished)
        FinishedHandler();
}
