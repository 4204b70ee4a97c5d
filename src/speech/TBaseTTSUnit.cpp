#include "speech/TBaseTTSUnit.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "preprocess/TTSPreProcessor.h"
#include "speech/PulseAudioOut.h"
#include "speech/Sapi4Unit.h"
#include "speech/Sapi5Unit.h"
#include "speech/TBaseVoiceRegistryClassUnit.h"
#include "speech/TBaseVoiceUnit.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

namespace {
void Log(const QString& text)
{
    UtilsClass::Log(text);
}

QString StateName(unsigned char state)
{
    switch (state) {
    case tsIdle: return QStringLiteral("Idle");
    case tsPause: return QStringLiteral("Pause");
    case tsPlay: return QStringLiteral("Play");
    case tsResume: return QStringLiteral("Resume");
    case tsMP3: return QStringLiteral("MP3");
    case tsShutdown: return QStringLiteral("Shutdown");
    default: return QStringLiteral("Unknown State");
    }
}

QString WithSlash(const QString& folder)
{
    QString f = folder.trimmed();
    if (!f.isEmpty() && !f.endsWith(QLatin1Char('/')) && !f.endsWith(QDir::separator()))
        f += QLatin1Char('/');
    return f;
}
} // namespace

TBaseTTS::TBaseTTS(QObject* owner) : QObject(owner)
{
    Log(QStringLiteral("Entered TBaseTTS.Create"));
    try {
        OwnsStore = true;
        SetOutputFile(QString());
        OutputFormat.clear();
        RoundRobinLanguage = QStringLiteral("US English");
        SpokenLength = 0;
        State = tsIdle;
        OutputFormats = QStringList{QStringLiteral("Wav"), QStringLiteral("MP3")};
        ShowExceptionDialogs = true;
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("BaseTTS Create Failed: ") + e.message());
        throw;
    }
    Log(QStringLiteral("Exit TBaseTTS.Create"));
}

TBaseTTS::~TBaseTTS()
{
    Log(QStringLiteral("Entered TBaseTTS.Destroy"));
    if (Converter)
        Converter->Abort();
    // Voices refer to the adapters that made them: the list is emptied before they go.
    Voices.Clear();
    Engines.Clear();
    delete Sapi4Adapter;
    Sapi4Adapter = nullptr;
    delete Sapi5Adapter;
    Sapi5Adapter = nullptr;
    delete Converter;
    Converter = nullptr;
    Controls.clear();
    MenuItems.clear();
    ownedPreprocessor.reset();
    ownedStore.reset();
    Log(QStringLiteral("Exit TBaseTTS.Destroy"));
}

// ---------------------------------------------------------------- state and controls

bool TBaseTTS::EnabledIn(int kind, int state)
{
    switch (state) {
    case tsIdle: return kind == ckSpeak;
    case tsPause: return kind == ckResume || kind == ckPauseResume || kind == ckStop;
    case tsPlay: return kind == ckPause || kind == ckPauseResume || kind == ckSkip || kind == ckStop;
    case tsMP3: return kind == ckStop;
    default: return false;
    }
}

void TBaseTTS::ApplyEnabling(const TRegistered& r) const
{
    if (r.Target)
        r.Target(EnabledIn(r.Kind, State));
}

void TBaseTTS::RegisterControl(int kind, TEnableTarget control)
{
    Controls.push_back({kind, std::move(control)});
    ApplyEnabling(Controls.back());
}

void TBaseTTS::RegisterMenuItem(int kind, TEnableTarget item)
{
    MenuItems.push_back({kind, std::move(item)});
    ApplyEnabling(MenuItems.back());
}

void TBaseTTS::SetState(unsigned char state)
{
    Log(QStringLiteral("SetState: State = ") + StateName(state));
    const unsigned char old = State;
    if (state == tsPause) {
        if (OnPause)
            OnPause(this);
    } else if (old == tsPause) {
        if (OnResume)
            OnResume(this);
    }
    State = state;
    if (state == tsPlay)
        Completed = false;
    if (state == tsIdle)
        CurrentVoice = nullptr;
    for (const TRegistered& r : Controls)
        ApplyEnabling(r);
    for (const TRegistered& r : MenuItems)
        ApplyEnabling(r);
    TBusyGuard::ProcessEvents();
}

void TBaseTTS::SetShowExceptionDialogs(bool on)
{
    ShowExceptionDialogs = on;
    if (!on)
        ExceptionOps.clear();
}

bool TBaseTTS::HandleException(const QString& operation, const EVorlixError& error)
{
    Log(QStringLiteral("Entered HandleException: [") + operation + QStringLiteral("] ") + error.message());
    if (!ExceptionOps.contains(operation))
        return false;
    Dialogs().ShowError(QStringLiteral("%1 Exception: %2").arg(operation, error.message()));
    return true;
}

// ---------------------------------------------------------------- speaking

bool TBaseTTS::EngineOpen() const
{
    return CurrentVoice && CurrentVoice->Adapter && CurrentVoice->Adapter->Active;
}

qint64 TBaseTTS::OutputFileMilliseconds() const
{
    return EngineOpen() ? CurrentVoice->Adapter->OutputFileMilliseconds() : -1;
}

TBaseVoiceClass* TBaseTTS::GetAssignedVoice()
{
    TBaseVoiceClass* voice = nullptr;
    if (VoiceAssignment == 1) {
        try {
            voice = Voices.RoundRobin(RoundRobinLanguage);
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("GetAssignedVoice: ") + e.message());
        }
    } else if (VoiceAssignment == 2) {
        voice = Voices.RandomVoice();
    } else {
        voice = Voices.FindById(DefaultVoiceID);
    }
    if (!voice && Voices.Count() > 0)
        voice = Voices[0];
    if (!voice)
        throw EttsException(QStringLiteral("No voice is available"));
    return voice;
}

void TBaseTTS::Speak(const QString& voiceName, const QString& text)
{
    try {
        TBaseVoiceClass* voice = Voices.FindByName(voiceName);
        if (!voice)
            voice = GetAssignedVoice();
        EngnOpen(voice);
        AutoClose = true;
        EngnSpeak(voice, text);
    } catch (const EVorlixError& e) {
        if (!HandleException(QStringLiteral("Speak"), e))
            throw;
    }
}

void TBaseTTS::Speak2(TBaseVoiceClass* voice, const QString& text)
{
    try {
        if (!voice)
            voice = GetAssignedVoice();
        EngnOpen(voice);
        AutoClose = true;
        EngnSpeak(voice, text);
    } catch (const EVorlixError& e) {
        if (!HandleException(QStringLiteral("Speak2"), e))
            throw;
    }
}

void TBaseTTS::CheckSoundCard()
{
    if (WaveOutGetNumDevs() == 0)
        throw EttsNoSoundCard(QStringLiteral("A sound card is not detected"));
    const int device = Store ? Store->GetValue(QStringLiteral("TTS_AudioDeviceID")).toInt() : AudioDeviceId;
    QString error;
    const TWaveOutOpenResult result = WaveOutTestOpen(device, &error);
    if (result == woOk)
        return;
    if (result == woBusy) {
        Log(QStringLiteral("Detected Sound Card Busy"));
        throw EttsSoundCardBusy(QStringLiteral("Sound card is Busy"));
    }
    Log(QStringLiteral("Sound card check failed: ") + error);
    if (!Store || !Store->GetValue(QStringLiteral("TTS_SoundCardChkErr")).toBool())
        return;
    bool disable = false;
    const bool proceed = Dialogs().ShowSoundCardError(disable);
    if (disable) {
        Store->SetValue(QStringLiteral("TTS_SoundCardChkErr"), false);
        Store->SaveAll();
    }
    if (!proceed)
        throw EttsSoundCardError(QStringLiteral("Sound card error. Request cancelled"));
}

QString TBaseTTS::OutputFolder() const
{
    return WithSlash(OutputDir);
}

void TBaseTTS::EngnOpen(TBaseVoiceClass* voice)
{
    try {
        Log(QStringLiteral("Entered EngnOpen : ") + OutputFile);
        AutoClose = false;
        // Writing a file needs no sound card: the device checks are for speaking aloud.
        if (OutputMode == 0)
            CheckSoundCard();
        if (!voice)
            voice = GetAssignedVoice();
        TSpeechAPI* adapter = voice->Adapter;
        if (!adapter)
            throw EttsException(QStringLiteral("The voice ") + voice->DisplayName + QStringLiteral(" has no engine"));
        adapter->OutputFile.clear();
        if (adapter->Active)
            throw EttsException(QStringLiteral("TTS is already active"));
        if (voice->Speed == NotSet) {
            Log(QStringLiteral("Loading defaults for voice: ") + voice->DisplayName);
            voice->LoadDefaults();
        }
        BindAdapter(adapter);
        if (OutputMode == 1) {
            if (OutputFile.trimmed().isEmpty())
                throw EttsException(QStringLiteral("Output file not specified"));
            if (OutputDir.trimmed().isEmpty())
                throw EttsException(QStringLiteral("Output Directory not specified"));
            const QString folder = OutputFolder();
            if (!QFileInfo(folder).isDir())
                throw EttsException(QStringLiteral("Output directory does not exist"));
            const QString path = folder + OutputFile + QStringLiteral(".wav");
            adapter->LastError.clear();
            if (!adapter->PlayToFileInit(voice, path))
                throw EttsException(adapter->LastError.isEmpty()
                                        ? QStringLiteral("Cannot write the output file ") + QDir::toNativeSeparators(path)
                                        : adapter->LastError);
        } else {
            adapter->Activate(voice);
        }
        AttachHandlers(adapter);
        CurrentVoice = voice;
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("EngnOpen Exception: ") + e.message());
        throw;
    }
    Log(QStringLiteral("Exit EngnOpen"));
}

void TBaseTTS::EngnSpeak(TBaseVoiceClass* voice, const QString& text)
{
    Log(QStringLiteral("Entered TBaseTTS.EngnSpeak"));
    if (!voice)
        voice = CurrentVoice;
    BaseSpeak(voice, text);
}

void TBaseTTS::BaseSpeak(TBaseVoiceClass* voice, const QString& text)
{
    try {
        TSpeechAPI* adapter = voice ? voice->Adapter : nullptr;
        if (!adapter || !adapter->Active)
            throw EttsException(QStringLiteral("TTS is not active"));
        SetState(tsPlay);
        // Events ran in SetState: a Stop or Skip may have closed the engine meanwhile.
        if (State != tsPlay || !adapter->Active) {
            Log(QStringLiteral("BaseSpeak: speaking was ended before the text was handed over"));
            return;
        }
        QString spoken = text;
        OriginalLength = text.trimmed().size();
        if (Preprocessor)
            spoken = Preprocessor->FilterText(voice->Engine ? voice->Engine->FilterTarget() : TFilterTarget{}, text);
        AttachHandlers(adapter);
        if (OutputMode == 0)
            adapter->PlayText(spoken);
        else if (!adapter->PlayToFile(0, spoken))
            throw EttsException(adapter->LastError.isEmpty() ? QStringLiteral("The text could not be spoken to the file")
                                                             : adapter->LastError);
        SpokenLength = spoken.trimmed().size();
        if (OnStatusChange)
            OnStatusChange(this, State, 0);
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("BaseSpeak Exception: ") + e.message());
        EngnClose(false);
        throw;
    }
}

void TBaseTTS::BindAdapter(TSpeechAPI* adapter)
{
    adapter->OnError = [this](TSpeechAPI*, const QString& message) {
        Log(QStringLiteral("Speech output error: ") + message);
        if (OnSpeechError)
            OnSpeechError(this, message);
        else
            Dialogs().ShowError(message);
    };
}

void TBaseTTS::AttachHandlers(TSpeechAPI* adapter)
{
    adapter->OnWordPosition = [this](TSpeechAPI*, unsigned char kind, int length, int position) {
        WordPositionHandler(kind, length, position);
    };
    adapter->OnFinished = [this](TSpeechAPI*, bool cancelled) { EngineFinishedHandler(cancelled); };
}

void TBaseTTS::EngineFinishedHandler(bool cancelled)
{
    if (!cancelled)
        Completed = true;
    closeStopped = false;
    if (AutoClose) {
        try {
            EngnClose(!cancelled);
        } catch (const EVorlixError& e) {
            // Raised from a timer: nothing above would catch it. The file could not be
            // finished, so the text is not reported as done.
            Log(QStringLiteral("EngineFinishedHandler: ") + e.message());
            if (OnSpeechError)
                OnSpeechError(this, e.message());
            else
                Dialogs().ShowError(e.message());
            return;
        }
    }
    if (closeStopped)
        return; // the Stop during the conversion has ended the run
    if (!cancelled && OnSpeechEvent)
        OnSpeechEvent(this, 6, OutputMode == 1 ? OutputFile : QString());
}

void TBaseTTS::WordPositionHandler(unsigned char kind, int length, int position)
{
    if (!OnWordPosition)
        return;
    if (kind == 0) {
        // Positions are mapped back onto the caller's text, so they are measured against it.
        if (Preprocessor) {
            position = Preprocessor->MapPosition(position);
            length = std::max(OriginalLength, 1);
        } else {
            length = SpokenLength;
        }
        OnWordPosition(this, 0, length, position);
    } else {
        OnWordPosition(this, kind, -1, position);
    }
}

void TBaseTTS::EngnClose(bool convert)
{
    Log(QStringLiteral("Entered EngnClose (1) : ") + OutputFile);
    if (!CurrentVoice || !CurrentVoice->Adapter || !CurrentVoice->Adapter->Active) {
        SetState(tsIdle);
        return;
    }
    Log(QStringLiteral("Entered EngnClose (2) : ") + OutputFile);
    TBaseVoiceClass* voice = CurrentVoice;
    TSpeechAPI* adapter = voice->Adapter;
    try {
        adapter->SetActive(false);
    } catch (const EVorlixError& e) {
        // The WAV could not be finished (a full disk): what was written is not converted.
        Log(QStringLiteral("EngnClose: closing the engine failed: ") + e.message());
        CurrentVoice = nullptr;
        SetState(tsIdle);
        throw;
    }
    stopDuringConvert = false;
    LastOutputPath = OutputMode == 1 ? adapter->OutputFile : QString();
    if (OutputMode == 1 && OutputFormat == QLatin1String("MP3") && Completed && convert) {
        ConvertToMP3(voice, adapter->OutputFile);
        if (!LastMP3File.isEmpty())
            LastOutputPath = LastMP3File;
        else if (!QFile::exists(LastOutputPath))
            LastOutputPath.clear(); // stopped during the conversion: nothing was kept
    }
    const bool stopped = stopDuringConvert;
    stopDuringConvert = false;
    CurrentVoice = nullptr;
    SetState(tsIdle);
    Log(QStringLiteral("Exit EngnClose"));
    if (stopped) {
        // The user stopped the MP3 conversion: the run ends here, as after any Stop.
        closeStopped = true;
        if (OnSpeechEvent)
            OnSpeechEvent(this, 5, QString());
    }
}

void TBaseTTS::ConvertToMP3(TBaseVoiceClass* voice, const QString& engineWav)
{
    LastMP3File.clear();
    SetState(tsMP3);
    EnsureConverter();
    const QString quality = Store ? Store->GetValue(QStringLiteral("MP3_Quality")).toString() : QString();
    if (Converter->IsValidQuality(quality)) {
        Converter->SetQuality(quality);
    } else {
        Log(QStringLiteral("MP3 quality \"") + quality + QStringLiteral("\" is not valid, using the default"));
        Converter->SetQuality(Converter->GetDefaultQuality());
    }
    if (OnStatusChange)
        OnStatusChange(this, State, 6);
    if (OnConvertStart)
        OnConvertStart(this);
    const QString folder = OutputFolder();
    const QString temporary = folder + QStringLiteral("$$$") + OutputFile + QStringLiteral(".wav");
    const QString mp3 = folder + OutputFile + QStringLiteral(".mp3");
    QString wav = engineWav;
    QString failure;
    // A Stop that came while the state changed skips the WAV conversion; the encoding then
    // stops at its first report.
    if (!stopDuringConvert && Converter->ConvertWaveFile(wav, temporary)) {
        DeleteFileLogged(wav, QStringLiteral("Exception in EngnClose deleting "));
        wav = temporary;
    } else if (!stopDuringConvert && !Converter->LastError().isEmpty()) {
        failure = Converter->LastError();
    }
    if (failure.isEmpty() && !Converter->ConvertFormat(wav, mp3))
        failure = Converter->LastError().isEmpty() ? QStringLiteral("The MP3 file could not be written")
                                                   : Converter->LastError();
    if (!failure.isEmpty()) {
        // Nothing spoken is lost: the WAV stays, under the engine's own name.
        if (wav != engineWav && !QFile::exists(engineWav) && QFile::rename(wav, engineWav))
            wav = engineWav;
        Log(QStringLiteral("MP3 conversion failed, the WAV file is kept: ") + wav + QStringLiteral(" - ") + failure);
        Tags.Clear();
        if (OnConvertFailed)
            OnConvertFailed(this, wav, failure);
        else
            Dialogs().ShowError(QStringLiteral("The MP3 file could not be made (") + failure
                                + QStringLiteral("). The speech is kept in ") + QDir::toNativeSeparators(wav));
        if (OnConvertDone)
            OnConvertDone(this);
        return;
    }
    LastMP3File = mp3;
    if (Tags.FileName.trimmed().isEmpty())
        Tags.FileName = mp3;
    if (Tags.Title.trimmed().isEmpty())
        Tags.Title = QFileInfo(mp3).fileName();
    if (Tags.Artist.trimmed().isEmpty())
        Tags.Artist = voice->DisplayName;
    if (Tags.Album.trimmed().isEmpty())
        Tags.Album = QStringLiteral("Created: ")
                     + QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    if (Tags.Year.trimmed().isEmpty())
        Tags.Year = QDate::currentDate().toString(QStringLiteral("yyyy"));
    if (Tags.Comment.trimmed().isEmpty())
        Tags.Comment = QString::fromLatin1(MakerAddress);
    if (OnBeforeTags)
        OnBeforeTags(this);
    Converter->WriteTags(Tags);
    Tags.Clear();
    if (OnConvertDone)
        OnConvertDone(this);
}

void TBaseTTS::DeleteFileLogged(const QString& file, const QString& logPrefix)
{
    QFile f(file);
    if (f.exists() && !f.remove())
        Log(logPrefix + file + QStringLiteral(" ") + f.errorString());
}

void TBaseTTS::Stop()
{
    Log(QStringLiteral("Entered TBaseTTS.Stop"));
    if (State == tsMP3) {
        if (Converter)
            Converter->Abort();
        stopDuringConvert = true;
        SetState(tsIdle);
        if (OnStatusChange)
            OnStatusChange(this, State, 5);
        return;
    }
    QString wav;
    try {
        wav = ResetCurrentText();
    } catch (const EVorlixError& e) {
        if (!HandleException(QStringLiteral("Stop"), e))
            throw;
    }
    try {
        EngnClose(false);
        if (!wav.isEmpty()) {
            QFile f(wav);
            if (f.exists() && !f.remove()) {
                Log(QStringLiteral("Error deleting output file during Stop"));
                Log(QStringLiteral("File: ") + wav + QStringLiteral(", Error: ") + f.errorString());
            }
        }
        EndCancelled(5);
    } catch (const EVorlixError& e) {
        if (!HandleException(QStringLiteral("Stop"), e))
            throw;
    }
}

QString TBaseTTS::ResetCurrentText()
{
    if (!CurrentVoice || !CurrentVoice->Adapter)
        return {};
    TSpeechAPI* adapter = CurrentVoice->Adapter;
    adapter->OnFinished = nullptr;
    if (adapter->Active)
        adapter->AudioReset();
    return OutputMode == 1 ? adapter->OutputFile : QString();
}

void TBaseTTS::EndCancelled(unsigned char code)
{
    SetState(tsIdle);
    if (OnStatusChange)
        OnStatusChange(this, State, code);
    if (OnSpeechEvent)
        OnSpeechEvent(this, code, QString());
}

void TBaseTTS::Pause()
{
    PauseOrResume(true);
}

void TBaseTTS::Resume()
{
    PauseOrResume(false);
}

void TBaseTTS::PauseOrResume(bool pause)
{
    const QString operation = pause ? QStringLiteral("Pause") : QStringLiteral("Resume");
    try {
        if (State != (pause ? tsPlay : tsPause) || !CurrentVoice || !CurrentVoice->Adapter) {
            Log(operation + QStringLiteral(": not in a state to ") + operation.toLower());
            return;
        }
        if (pause)
            CurrentVoice->Adapter->Pause();
        else
            CurrentVoice->Adapter->Resume();
        SetState(pause ? tsPause : tsPlay);
        if (OnStatusChange)
            OnStatusChange(this, State, pause ? 1 : 2);
    } catch (const EVorlixError& e) {
        if (!HandleException(operation, e))
            throw;
    }
}

void TBaseTTS::Skip()
{
    try {
        ResetCurrentText();
        EngnClose(false);
        EndCancelled(4);
    } catch (const EVorlixError& e) {
        if (!HandleException(QStringLiteral("Skip"), e))
            throw;
    }
}

// ---------------------------------------------------------------- set-up and settings

QString TBaseTTS::DefaultOutputFolder()
{
    QString documents;
    try {
        documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    } catch (const std::exception& e) {
        Log(QStringLiteral("Exception in getSpecialFolder"));
        Log(QString::fromUtf8(e.what()));
    }
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return QDir::toNativeSeparators(documents);
    const QString folder = UtilsClass::GetProgramFolder() + QStringLiteral("AudioFiles");
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return QDir::toNativeSeparators(folder);
    return QStringLiteral(" ");
}

void TBaseTTS::AddItemOnce(const QString& name, unsigned char location, const QVariant& def, int kind)
{
    if (!Store->HasItem(name))
        Store->AddItem(name, location, name, def, TRegKind(kind));
}

void TBaseTTS::ApplySapiOverride()
{
    // The installation may fix the engine choice; it applies whatever the section holds.
    if (!UtilsClass::GetDeploymentValue(QStringLiteral("InitSapi4")).trimmed().isEmpty()
        || !UtilsClass::GetDeploymentValue(QStringLiteral("InitSapi5")).trimmed().isEmpty())
        TBaseVoiceRegistryClass::SetSapiChoice(*Store, UtilsClass::GetDeploymentBool(QStringLiteral("InitSapi4"), true),
                                               UtilsClass::GetDeploymentBool(QStringLiteral("InitSapi5"), true));
}

void TBaseTTS::InitializeAll(TBaseRegistryClass& store)
{
    InitProperties(store);
    InitVoices(store, TBaseVoiceRegistryClass::UseSapi4(*Store), false, TBaseVoiceRegistryClass::UseSapi5(*Store));
    Log(QStringLiteral("Default Voice ID: ") + DefaultVoiceID);
}

void TBaseTTS::InitProperties(TBaseRegistryClass& store)
{
    Log(QStringLiteral("Entered InitProperties"));
    if (!Preprocessor)
        SetPreprocessor(new TPreProcessor);
    if (!Store) {
        ownedStore = std::make_unique<TBaseVoiceRegistryClass>(store);
        Store = ownedStore.get();
        Log(QStringLiteral("Base TTS Classes Version : ") + Store->GetVersion());
    }
    LoadAllEngines = UtilsClass::GetDeploymentBool(QStringLiteral("LoadAllEngines"), false);
    const int pauseAtEof = std::max(0, UtilsClass::GetDeploymentInt(QStringLiteral("PauseAtWavEOF"), 0));
    AddItemOnce(QStringLiteral("TTS_HighlightWord"), rlSection, false, rkBoolean);
    AddItemOnce(QStringLiteral("TTS_DefaultVoiceID"), rlShared, QString(), rkString);
    AddItemOnce(QStringLiteral("TTS_OutputDir"), rlSection, DefaultOutputFolder(), rkString);
    AddItemOnce(QStringLiteral("TTS_OutputFormat"), rlSection, QStringLiteral("Wav"), rkString);
    AddItemOnce(QStringLiteral("TTS_AudioDeviceId"), rlShared, -1, rkInteger);
    AddItemOnce(QStringLiteral("TTS_VoiceAssignment"), rlSection, 0, rkInteger);
    AddItemOnce(QStringLiteral("RealTime"), rlSection, QStringLiteral("10x"), rkString);
    AddItemOnce(QStringLiteral("TTS_RealTimeValue"), rlSection, 2560, rkInteger);
    AddItemOnce(QStringLiteral("TTS_SoundCardChkErr"), rlSection, true, rkBoolean);
    AddItemOnce(QStringLiteral("SapiVersion"), rlSection, 2, rkInteger);
    AddItemOnce(QStringLiteral("ShowSapiVersionInfo"), rlSection, true, rkBoolean);
    AddItemOnce(QStringLiteral("PauseAtWavEOF"), rlSection, pauseAtEof, rkInteger);
    Store->LoadAll();
    ApplySapiOverride();

    HighlightWord = Store->GetValue(QStringLiteral("TTS_HighlightWord")).toBool();
    DefaultVoiceID = Store->GetValue(QStringLiteral("TTS_DefaultVoiceID")).toString();
    Log(QStringLiteral("TTS_DefaultVoiceID: ") + DefaultVoiceID);
    OutputDir = Store->GetValue(QStringLiteral("TTS_OutputDir")).toString();
    const QString format = Store->GetValue(QStringLiteral("TTS_OutputFormat")).toString();
    try {
        SetOutputFormat(format);
    } catch (const EttsException& e) {
        // A damaged setting must not stop the program from starting.
        Log(QStringLiteral("TTS_OutputFormat \"") + format + QStringLiteral("\": ") + e.message()
            + QStringLiteral(", using Wav"));
        SetOutputFormat(QStringLiteral("Wav"));
    }
    AudioDeviceId = Store->GetValue(QStringLiteral("TTS_AudioDeviceID")).toInt();
    VoiceAssignment = static_cast<unsigned char>(Store->GetValue(QStringLiteral("TTS_VoiceAssignment")).toInt());
    SetRealTime(Store->GetValue(QStringLiteral("RealTime")).toString());
    RealTimeValue = Store->GetValue(QStringLiteral("TTS_RealTimeValue")).toInt();

    // The preprocessor loads the section again: the installation's engine choice is put back.
    Preprocessor->LoadSettings(*Store);
    ApplySapiOverride();

    if (ShowExceptionDialogs)
        ExceptionOps = QStringList{QStringLiteral("Speak"), QStringLiteral("Speak1"), QStringLiteral("Speak2"),
                                   QStringLiteral("Stop"), QStringLiteral("Pause"), QStringLiteral("Resume"),
                                   QStringLiteral("PauseResume"), QStringLiteral("Skip")};
    else
        ExceptionOps.clear();
    Log(QStringLiteral("Exit InitProperties"));
}

template <class TAdapter>
void TBaseTTS::CreateAdapter(TAdapter*& slot)
{
    delete slot;
    slot = nullptr;
    auto* adapter = new TAdapter(this);
    adapter->Store = Store;
    BindAdapter(adapter);
    adapter->SetAudioDevice(Store ? Store->GetValue(QStringLiteral("TTS_AudioDeviceID")).toInt() : AudioDeviceId);
    slot = adapter;
}

void TBaseTTS::CreateSapi4Adapter()
{
    CreateAdapter(Sapi4Adapter);
}

void TBaseTTS::CreateSapi5Adapter()
{
    CreateAdapter(Sapi5Adapter);
}

void TBaseTTS::InitVoices(TBaseRegistryClass& store, bool useSapi4, bool raiseOnError, bool useSapi5)
{
    Log(QStringLiteral("Entered TBaseTTS.InitVoices"));
    if (!Store) {
        ownedStore = std::make_unique<TBaseVoiceRegistryClass>(store);
        Store = ownedStore.get();
        Log(QStringLiteral("Base TTS Classes Version : ") + Store->GetVersion());
    }
    if (useSapi4) {
        Log(QStringLiteral("Beginning Sapi4 initialization"));
        try {
            CreateSapi4Adapter();
            Sapi4Adapter->LoadVoices(Voices, Engines);
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("TBaseTTS InitVoices(Sapi4): ") + e.message());
            delete Sapi4Adapter;
            Sapi4Adapter = nullptr;
            if (raiseOnError)
                throw;
        }
    }
    if (useSapi5) {
        Log(QStringLiteral("Beginning Sapi5 initialization"));
        try {
            CreateSapi5Adapter();
            Sapi5Adapter->LoadVoices(Voices, Engines);
        } catch (const EVorlixError& e) {
            Log(QStringLiteral("TBaseTTS InitVoices(Sapi5): ") + e.message());
            delete Sapi5Adapter;
            Sapi5Adapter = nullptr;
            if (raiseOnError) {
                delete Sapi4Adapter;
                Sapi4Adapter = nullptr;
                throw;
            }
        }
    }
    if (!Store->HasItem(QStringLiteral("UDV")))
        Store->AddItem(QStringLiteral("UDV"), rlSection, QStringLiteral("UDV"), QVariant(), rkList);
    EnsureConverter();
    AddItemOnce(QStringLiteral("MP3_Quality"), rlShared, Converter->GetDefaultQuality(), rkString);
    Store->LoadAll();
    ApplySapiOverride();
    LoadVoiceSettings();
    Engines.RegisterSettings(*Store);
    // The engine flags are read back at once, so a disabled engine stays disabled after a restart.
    Store->LoadAll();
    ApplySapiOverride();
    Engines.ReadSettings(*Store);
    UserVoices = Store->GetList(QStringLiteral("UDV"));
    Voices.LoadUserVoices(UserVoices, this);
    ResetDefaultVoice();
    const QString quality = Store->GetValue(QStringLiteral("MP3_Quality")).toString();
    if (!Converter->IsValidQuality(quality)) {
        Log(QStringLiteral("MP3_Quality \"") + quality + QStringLiteral("\" is not valid, using the default"));
        Store->SetValue(QStringLiteral("MP3_Quality"), Converter->GetDefaultQuality());
        Store->SaveAll();
    }
    Converter->SetQuality(Store->GetValue(QStringLiteral("MP3_Quality")).toString());
    Log(QStringLiteral("Exit InitVoices"));
}

void TBaseTTS::LoadVoiceSettings()
{
    for (int i = 0; i < Voices.Count(); ++i) {
        TBaseVoiceClass* voice = Voices[i];
        const QString key = QStringLiteral("VCE_") + voice->Id;
        if (!Store->HasItem(key))
            continue;
        const QStringList parts = Store->GetValue(key).toString().split(QLatin1Char(','));
        auto number = [&parts](int index) {
            bool ok = false;
            const int v = index < parts.size() ? parts[index].trimmed().toInt(&ok) : NotSet;
            return ok ? v : NotSet;
        };
        const int enabled = number(0);
        voice->SetEnabled(enabled != NotSet && enabled != 0);
        voice->SetValue(QStringLiteral("Speed"), number(1));
        voice->SetValue(QStringLiteral("Pitch"), number(2));
        voice->SetValue(QStringLiteral("Volume"), number(3));
    }
}

void TBaseTTS::SaveProperties()
{
    Store->SetValue(QStringLiteral("TTS_HighlightWord"), HighlightWord);
    Store->SetValue(QStringLiteral("TTS_DefaultVoiceID"), DefaultVoiceID);
    Store->SetValue(QStringLiteral("TTS_OutputDir"), OutputDir);
    Store->SetValue(QStringLiteral("TTS_OutputFormat"), OutputFormat);
    Store->SetValue(QStringLiteral("TTS_AudioDeviceID"), AudioDeviceId);
    Store->SetValue(QStringLiteral("TTS_VoiceAssignment"), int(VoiceAssignment));
    Store->SetValue(QStringLiteral("RealTime"), GetRealTimeText());
    Store->SetValue(QStringLiteral("TTS_RealTimeValue"), RealTimeValue);
    for (int i = 0; i < Voices.Count(); ++i) {
        TBaseVoiceClass* voice = Voices[i];
        if (voice->IsUserDefined())
            continue;
        const QString key = QStringLiteral("VCE_") + voice->Id;
        if (!Store->HasItem(key))
            Store->AddItem(key, rlShared, key, QString(), rkString);
        Store->SetValue(key, QStringLiteral("%1,%2,%3,%4")
                                 .arg(voice->Enabled ? 1 : 0)
                                 .arg(voice->Speed)
                                 .arg(voice->Pitch)
                                 .arg(voice->VolumeLeft));
    }
    if (!Store->HasItem(QStringLiteral("UDV")))
        Store->AddItem(QStringLiteral("UDV"), rlSection, QStringLiteral("UDV"), QVariant(), rkList);
    Voices.SaveUserVoices(UserVoices);
    Store->GetList(QStringLiteral("UDV")) = UserVoices;
    if (Preprocessor)
        Preprocessor->SaveSettings(*Store);
    Engines.WriteSettings(*Store);
    Store->SaveAll();
}

void TBaseTTS::ResetDefaultVoice()
{
    Log(QStringLiteral("Entered ResetDefaultVoice"));
    Log(QStringLiteral("Current default voice is: ") + DefaultVoiceID);
    try {
        if (Voices.Count() == 0)
            throw EttsException(QStringLiteral("Error resetting default voice.  Voice list is empty"));
        if (!DefaultVoiceID.trimmed().isEmpty()) {
            TBaseVoiceClass* voice = Voices.FindById(DefaultVoiceID);
            if (!voice || !voice->Enabled)
                DefaultVoiceID.clear();
            else
                SetDfltCaption(voice->DisplayName);
        }
        if (DefaultVoiceID.trimmed().isEmpty()) {
            TBaseVoiceClass* chosen = Voices.FindByName(QStringLiteral("Mary"));
            if (chosen && (chosen->DisplayName != QLatin1String("Mary") || !chosen->Enabled))
                chosen = nullptr;
            for (int i = 0; !chosen && i < Voices.Count(); ++i)
                if (Voices[i]->Enabled)
                    chosen = Voices[i];
            if (!chosen)
                throw EttsException(QStringLiteral("ResetDefaultVoice Exception: Default voice could not be set"));
            DefaultVoiceID = chosen->Id;
        }
    } catch (const EVorlixError& e) {
        Log(QStringLiteral("ResetDefaultVoice Exception: ") + e.message());
        throw;
    }
    Log(QStringLiteral("Exit ResetDefaultVoice"));
}

void TBaseTTS::SetPreprocessor(TPreProcessor* preprocessor)
{
    if (preprocessor == Preprocessor)
        return;
    // A manager that owns its settings owns its preprocessor too; a copy only borrows.
    if (OwnsStore)
        ownedPreprocessor.reset(preprocessor);
    Preprocessor = preprocessor;
}

void TBaseTTS::Assign(const TBaseTTS& source)
{
    Voices.Clear();
    Engines.Clear();
    delete Sapi4Adapter;
    Sapi4Adapter = nullptr;
    delete Sapi5Adapter;
    Sapi5Adapter = nullptr;
    ownedPreprocessor.reset();
    ownedStore.reset();
    OwnsStore = false;
    Store = source.Store;
    Preprocessor = source.Preprocessor;
    if (source.Sapi4Adapter)
        CreateSapi4Adapter();
    if (source.Sapi5Adapter)
        CreateSapi5Adapter();
    UserVoices = source.UserVoices;
    Controls = source.Controls;
    MenuItems = source.MenuItems;
    const_cast<TVoiceList&>(source.Voices).CloneInto(Voices, this);
    source.Engines.CloneInto(Engines);
    // The copies speak through this manager's own adapters.
    for (int i = 0; i < Voices.Count(); ++i) {
        TBaseVoiceClass* v = Voices[i];
        if (v->Adapter && v->Adapter == static_cast<TSpeechAPI*>(source.Sapi4Adapter))
            v->Adapter = Sapi4Adapter;
        else if (v->Adapter && v->Adapter == static_cast<TSpeechAPI*>(source.Sapi5Adapter))
            v->Adapter = Sapi5Adapter;
    }
    CurrentVoice = source.CurrentVoice ? Voices.FindById(source.CurrentVoice->Id) : nullptr;
    OutputFormats = source.OutputFormats;
    AudioDeviceId = source.AudioDeviceId;
    RealTimeValue = source.RealTimeValue;
    HighlightWord = source.HighlightWord;
    DefaultVoiceID = source.DefaultVoiceID;
    RoundRobinLanguage = source.RoundRobinLanguage;
    OutputMode = source.OutputMode;
    OutputDir = source.OutputDir;
    VoiceAssignment = source.VoiceAssignment;
    OutputFile = source.OutputFile;
    OutputFormat = source.OutputFormat;
    if (TBaseVoiceClass* def = Voices.FindByName(source.GetDefaultVoiceName()))
        DefaultVoiceID = def->Id;
    EnsureConverter();
    if (source.Converter && source.Converter->IsValidQuality(source.Converter->GetQuality()))
        Converter->SetQuality(source.Converter->GetQuality());
    OnSpeechEvent = nullptr;
    OnWordPosition = nullptr;
    OnPause = nullptr;
    OnResume = nullptr;
    OnStatusChange = nullptr;
    OnConvertStart = nullptr;
    OnBeforeTags = nullptr;
    OnConvertDone = nullptr;
    OnConvertFailed = nullptr;
    OnSpeechError = nullptr;
    State = tsIdle;
    CurrentVoice = nullptr;
}

void TBaseTTS::CopyVoicesAndEngines(const TBaseTTS& source)
{
    if (&source == this)
        return;
    // The voices this manager made by copying before are its own; the adapters own the rest.
    QList<TBaseVoiceClass*> previous;
    for (TBaseVoiceClass* v : Voices.Items)
        if (v->parent() == this && v != CurrentVoice)
            previous << v;
    const_cast<TVoiceList&>(source.Voices).CloneInto(Voices, this);
    source.Engines.CloneInto(Engines);
    for (TBaseVoiceClass* v : Voices.Items) {
        const int index = source.Engines.Items.indexOf(v->Engine);
        if (index >= 0)
            v->Engine = Engines.At(index);
        const QString api = v->Engine ? v->Engine->Api : QString();
        if (api == QLatin1String("Sapi4"))
            v->Adapter = Sapi4Adapter;
        else if (api == QLatin1String("Sapi5"))
            v->Adapter = Sapi5Adapter;
        else
            v->Adapter = nullptr;
    }
    Voices.Subset.Items.clear();
    Voices.Subset.Load();
    qDeleteAll(previous);
}

QString TBaseTTS::GetTestSentence(const TBaseVoiceClass* voice) const
{
    return ::GetTestSentence(voice ? voice->Language : 1033);
}

QString TBaseTTS::CheckOutputDir(const QString& folder)
{
    if (folder.contains(QLatin1String("\\\\")))
        return QStringLiteral("Output directory pathname is invalid");
    if (folder.trimmed().isEmpty() || !QFileInfo(folder).isDir())
        return QStringLiteral("The output directory specified does not exist");
    return {};
}

// ---------------------------------------------------------------- configuration

void TBaseTTS::SetOutputFile(const QString& name)
{
    QString file = QFileInfo(QDir::fromNativeSeparators(name)).fileName();
    const int dot = file.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        file = file.left(dot);
    OutputFile = file;
}

void TBaseTTS::SetOutputFormat(const QString& text)
{
    for (const QString& f : OutputFormats)
        if (f.compare(text, Qt::CaseInsensitive) == 0) {
            OutputFormat = f;
            return;
        }
    throw EttsException(QStringLiteral("Invalid Audio Format specified"));
}

void TBaseTTS::SetOutputFormat(int index)
{
    if (index < 0 || index >= OutputFormats.size())
        throw EttsException(QStringLiteral("Invalid Audio Format specified"));
    OutputFormat = OutputFormats[index];
}

void TBaseTTS::GetOutputFormats(QStringList& list)
{
    list << QStringLiteral("Wav") << QStringLiteral("MP3");
}

void TBaseTTS::GetWriteSpeeds(QStringList& list)
{
    for (int i = 1; i <= 10; ++i)
        list << QString::number(i * 5) + QLatin1Char('x');
}

void TBaseTTS::SetRealTime(const QString& text)
{
    QString t = text;
    const int x = t.indexOf(QLatin1Char('x'));
    if (x >= 0)
        t.remove(x, 1);
    bool ok = false;
    const int n = t.trimmed().toInt(&ok);
    if (!ok || n <= 0) {
        Log(QStringLiteral("SetRealTime: \"") + text + QStringLiteral("\" is not a write speed"));
        return;
    }
    RealTimeValue = n * 256;
}

void TBaseTTS::SetRealTimeIndex(int index)
{
    RealTimeValue = (index + 1) * 1280;
}

int TBaseTTS::GetRealTimeIndex() const
{
    return RealTimeValue / 256 / 5 - 1;
}

QString TBaseTTS::GetRealTimeText() const
{
    return QString::number(RealTimeValue / 256) + QLatin1Char('x');
}

void TBaseTTS::SetMP3Quality(const QString& name)
{
    if (Store)
        Store->SetValue(QStringLiteral("MP3_Quality"), name);
}

void TBaseTTS::GetMP3Qualities(QStringList& list) const
{
    if (Converter)
        Converter->GetQualities(list);
    else
        TMP3Class(true).GetQualities(list);
}

void TBaseTTS::SetMP3ProgressHandler(std::function<void(TAudioFileClass*, uint32_t, uint32_t)> handler)
{
    mp3Progress = std::move(handler);
}

void TBaseTTS::EnsureConverter()
{
    if (Converter)
        return;
    Converter = new TMP3Class(true, this);
    // The encoder starts by clearing its abort flag: a Stop that came before it started is
    // passed on again at its first report.
    Converter->OnProgress = [this](TAudioFileClass* sender, uint32_t done, uint32_t total) {
        if (stopDuringConvert)
            sender->Abort();
        if (mp3Progress)
            mp3Progress(sender, done, total);
    };
}

void TBaseTTS::SetDfltCaption(const QString& displayName)
{
    TBaseVoiceClass* voice = Voices.FindByName(displayName);
    if (!voice || !voice->Enabled) {
        Log(QStringLiteral("SetDfltCaption (") + displayName + QStringLiteral("): Voice is not Enabled"));
        throw EttsException(QStringLiteral("Voice is not enabled"));
    }
    DefaultVoiceID = voice->Id;
}

QString TBaseTTS::GetDefaultVoiceName() const
{
    TBaseVoiceClass* voice = Voices.FindById(DefaultVoiceID);
    return voice ? voice->DisplayName : QString();
}

void TBaseTTS::FillVoiceList(QStringList& names, int& selected, int language, const QString& api) const
{
    Voices.FillNames(names, language, api);
    selected = std::max(0, int(names.indexOf(GetDefaultVoiceName())));
}

void TBaseTTS::EnableEngine(const QString& engineName)
{
    for (int i = 0; i < Engines.Count(); ++i)
        if (Engines[i]->Manufacturer == engineName || Engines[i]->Key == engineName)
            Engines[i]->Enabled = true;
    for (int i = 0; i < Voices.Count(); ++i) {
        TBaseVoiceClass* v = Voices[i];
        if (v->Engine && (v->Engine->Manufacturer == engineName || v->Engine->Key == engineName))
            v->SetEnabled(true);
    }
}

void TBaseTTS::DisableEngine(const QString& engineName, TBaseVoiceClass* voice)
{
    const QString protectedId = voice ? voice->Id : DefaultVoiceID;
    auto ofEngine = [&engineName](const TBaseVoiceClass* v) {
        return v->Engine && (v->Engine->Manufacturer == engineName || v->Engine->Key == engineName);
    };
    for (int i = 0; i < Voices.Count(); ++i)
        if (ofEngine(Voices[i]) && Voices[i]->Id == protectedId)
            throw EttsException(QStringLiteral("Cannot disable default voice"));
    for (int i = 0; i < Engines.Count(); ++i)
        if (Engines[i]->Manufacturer == engineName || Engines[i]->Key == engineName)
            Engines[i]->Enabled = false;
    for (int i = 0; i < Voices.Count(); ++i)
        if (ofEngine(Voices[i]))
            Voices[i]->SetEnabled(false);
}

bool TBaseTTS::HasEngineApi(const QString& api) const
{
    for (int i = 0; i < Engines.Count(); ++i)
        if (Engines[i]->Api == api)
            return true;
    return false;
}

bool TBaseTTS::CheckAudioDevice(int deviceId)
{
    if (CurrentVoice && CurrentVoice->Adapter)
        return CurrentVoice->Adapter->CheckAudioDevice(deviceId);
    if (Sapi5Adapter)
        return Sapi5Adapter->CheckAudioDevice(deviceId);
    if (Sapi4Adapter)
        return Sapi4Adapter->CheckAudioDevice(deviceId);
    QString error;
    if (WaveOutTestOpen(deviceId, &error) == woOk)
        return true;
    Dialogs().ShowError(QStringLiteral("Audio device check failed. ") + error);
    return false;
}

bool TBaseTTS::SelectAudioDevice()
{
    int id = AudioDeviceId;
    if (!Dialogs().ChooseAudioDevice(id))
        return false;
    if (!CheckAudioDevice(id))
        return false;
    AudioDeviceId = id;
    if (Sapi4Adapter)
        Sapi4Adapter->SetAudioDevice(id);
    if (Sapi5Adapter)
        Sapi5Adapter->SetAudioDevice(id);
    SaveProperties();
    Log(QStringLiteral("Audio device set to %1").arg(id));
    return true;
}
