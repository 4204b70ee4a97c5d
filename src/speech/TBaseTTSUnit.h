#pragma once
// The speech manager: the one component through which Vorlix speaks. It loads and saves the
// speech settings, creates the two engine adapters and lets them fill one voice list and one
// engine list, keeps a default voice, chooses a voice for each text, opens a voice's engine,
// hands it the preprocessed text and closes it again, converting the WAV output into a tagged
// MP3 when speaking to a file. A small state machine (Idle, Pause, Play, MP3) enables and
// disables whatever controls and menu items the owner registers; events tell the owner about
// progress. Everything runs on the GUI thread.
#include "audio/LameUnit.h"
#include "core/VorlixException.h"
#include "speech/TBaseEngineList.h"
#include "speech/TBaseVoiceList.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TBaseRegistryClass;
class TBaseVoiceRegistryClass;
class TPreProcessor;
class TSapi4;
class TSapi5;
class TSpeechAPI;

VORLIX_DECLARE_ERROR(EttsException, EVorlixError)
VORLIX_DECLARE_ERROR(EttsNoSoundCard, EttsException)
VORLIX_DECLARE_ERROR(EttsSoundCardBusy, EttsException)
VORLIX_DECLARE_ERROR(EttsSoundCardError, EttsException)

// What a registered control or menu item does: start or change speech, pause, resume, toggle
// pause and resume, skip, stop. The manager enables each by its state.
enum TControlKind : unsigned char { ckSpeak = 0, ckPause = 1, ckResume = 2, ckPauseResume = 3, ckSkip = 4, ckStop = 5 };

enum TTTSState : unsigned char { tsIdle = 0, tsPause = 1, tsPlay = 2, tsResume = 3, tsMP3 = 4, tsShutdown = 5 };

// Anything with an enabled state: the owner's button, menu entry or command.
using TEnableTarget = std::function<void(bool enabled)>;

class TBaseTTS : public QObject {
    Q_OBJECT
public:
    explicit TBaseTTS(QObject* owner = nullptr);
    ~TBaseTTS() override;

    // --- speaking ---
    // The voice with that display name (else the assigned one) speaks text and closes when done.
    void Speak(const QString& voiceName, const QString& text);
    // The same with a voice object; none means the assigned voice.
    void Speak2(TBaseVoiceClass* voice, const QString& text);
    // The primitives: open a voice's engine (aloud or into OutputFile), speak a text on it,
    // close it (converting to MP3 when convert and the text ran to its end).
    void EngnOpen(TBaseVoiceClass* voice);
    void EngnSpeak(TBaseVoiceClass* voice, const QString& text);
    void EngnClose(bool convert);
    void Stop();
    void Pause();
    void Resume();
    void Skip();
    bool IsPaused() const { return State == tsPause; }
    bool IsBusy() const { return State != tsIdle; }
    // Whether an engine is open (between EngnOpen and EngnClose).
    bool EngineOpen() const;
    // Milliseconds of audio in the file being written; -1 when no file is open.
    qint64 OutputFileMilliseconds() const;
    // The voice used when a caller names none: default, round robin by language or random.
    TBaseVoiceClass* GetAssignedVoice();

    // --- controls ---
    void RegisterControl(int kind, TEnableTarget control);
    void RegisterMenuItem(int kind, TEnableTarget item);
    static bool EnabledIn(int kind, int state);
    void SetShowExceptionDialogs(bool on);
    // Shows the exception itself when its operation is listed (true: handled); else the caller
    // raises it again.
    bool HandleException(const QString& operation, const EVorlixError& error);

    // --- set-up and settings ---
    void InitializeAll(TBaseRegistryClass& store);
    void InitProperties(TBaseRegistryClass& store);
    void InitVoices(TBaseRegistryClass& store, bool useSapi4, bool raiseOnError, bool useSapi5);
    void LoadVoiceSettings();
    void SaveProperties();
    void ResetDefaultVoice();
    // The adapters of each interface; any previous one of that interface is freed first.
    void CreateSapi4Adapter();
    void CreateSapi5Adapter();
    // Copies another manager's set-up (voices and engines cloned, events cleared, Idle).
    void Assign(const TBaseTTS& source);
    // Replaces the voices and engines by copies of another manager's: each copied voice refers
    // to the copied engine and speaks through this manager's adapter of its engine's interface
    // (none when this manager has no such adapter). The copies belong to this manager.
    void CopyVoicesAndEngines(const TBaseTTS& source);
    // The sentence a "Test" button speaks with a voice: one in the voice's own language.
    QString GetTestSentence(const TBaseVoiceClass* voice) const;
    // Why a folder cannot take the audio files, or empty when it can: a text with two
    // backslashes in a row, or a folder that does not exist.
    static QString CheckOutputDir(const QString& folder);
    // Installs the preprocessor every text goes through; the manager owns it when it owns
    // its settings.
    void SetPreprocessor(TPreProcessor* preprocessor);

    // --- configuration ---
    void SetOutputFile(const QString& name);
    void SetOutputFormat(const QString& text);
    void SetOutputFormat(int index);
    static void GetOutputFormats(QStringList& list);
    static void GetWriteSpeeds(QStringList& list);
    void SetRealTime(const QString& text);
    void SetRealTimeIndex(int index);
    int GetRealTimeIndex() const;
    QString GetRealTimeText() const;
    void SetMP3Quality(const QString& name);
    void GetMP3Qualities(QStringList& list) const;
    void SetMP3ProgressHandler(std::function<void(TAudioFileClass*, uint32_t, uint32_t)> handler);
    void SetDfltCaption(const QString& displayName);
    QString GetDefaultVoiceName() const;
    // The display names of the voices that pass the filter, and the index of the default voice
    // among them (0 when it is not there).
    void FillVoiceList(QStringList& names, int& selected, int language = 0, const QString& api = QStringLiteral("*")) const;
    void EnableEngine(const QString& engineName);
    void DisableEngine(const QString& engineName, TBaseVoiceClass* voice = nullptr);
    bool HasEngineApi(const QString& api) const;
    // Lets the user choose the sound device; a choice that passes the device check is stored
    // and saved. True when the device changed.
    bool SelectAudioDevice();
    // Checks that a device may be used for speaking, without an open engine.
    bool CheckAudioDevice(int deviceId);

    // --- state ---
    bool LoadAllEngines = false;
    TSapi4* Sapi4Adapter = nullptr;
    TSapi5* Sapi5Adapter = nullptr;
    TBaseVoiceClass* CurrentVoice = nullptr;
    QStringList UserVoices;
    TMP3Class* Converter = nullptr;
    int AudioDeviceId = -1;
    int RealTimeValue = 2560;
    QStringList OutputFormats;
    unsigned char State = tsIdle;
    int SpokenLength = 0;
    bool AutoClose = false;
    bool Completed = false;
    QString OutputFile;
    QString OutputFormat;
    QStringList ExceptionOps;
    bool ShowExceptionDialogs = true;
    bool OwnsStore = true;
    bool HighlightWord = false;
    QString DefaultVoiceID;
    QString RoundRobinLanguage = QStringLiteral("US English");
    unsigned char OutputMode = 0; // 0 aloud, 1 to file
    QString OutputDir;
    TBaseVoiceRegistryClass* Store = nullptr;
    TPreProcessor* Preprocessor = nullptr;
    TEngineList Engines;
    TVoiceList Voices;
    unsigned char VoiceAssignment = 0; // 0 default voice, 1 round robin by language, 2 random
    TAudioTags Tags;
    // The file the last MP3 conversion wrote; empty when it failed or none ran.
    QString LastMP3File;
    // The audio file the last close of an engine speaking to a file left: the MP3, or the WAV
    // when the format is WAV or the conversion failed. Empty after speaking aloud.
    QString LastOutputPath;

    // The text written into the Comment tag when the owner leaves it empty.
    static constexpr const char* MakerAddress = "https://www.vorlix.org";

    // --- events ---
    // 6: a text was spoken to its end (FileName = OutputFile when speaking to file); 5: Stop
    // finished; 4: Skip finished.
    std::function<void(TBaseTTS* sender, unsigned char code, const QString& fileName)> OnSpeechEvent;
    std::function<void(TBaseTTS* sender, unsigned char kind, int length, int position)> OnWordPosition;
    std::function<void(TBaseTTS* sender)> OnPause;
    std::function<void(TBaseTTS* sender)> OnResume;
    std::function<void(TBaseTTS* sender, unsigned char state, unsigned char code)> OnStatusChange;
    std::function<void(TBaseTTS* sender)> OnConvertStart;
    std::function<void(TBaseTTS* sender)> OnBeforeTags;
    std::function<void(TBaseTTS* sender)> OnConvertDone;
    // The MP3 conversion failed: the spoken WAV is kept as wavFile (nothing is lost).
    // Unassigned, the message is shown in an error box.
    std::function<void(TBaseTTS* sender, const QString& wavFile, const QString& message)> OnConvertFailed;
    // The speech output failed while speaking (device gone, disk full); the text ends as
    // cancelled. Unassigned, the message is shown in an error box.
    std::function<void(TBaseTTS* sender, const QString& message)> OnSpeechError;

private:
    struct TRegistered {
        int Kind;
        TEnableTarget Target;
    };
    void SetState(unsigned char state);
    void ApplyEnabling(const TRegistered& r) const;
    void BaseSpeak(TBaseVoiceClass* voice, const QString& text);
    void EngineFinishedHandler(bool cancelled);
    void WordPositionHandler(unsigned char kind, int length, int position);
    void AttachHandlers(TSpeechAPI* adapter);
    void BindAdapter(TSpeechAPI* adapter);
    void ConvertToMP3(TBaseVoiceClass* voice, const QString& wav);
    void CheckSoundCard();
    void PauseOrResume(bool pause);
    // Drops the text being spoken without its finished report; the file it was written into
    // (empty when speaking aloud or when nothing is open).
    QString ResetCurrentText();
    // Idle again after a Stop (5) or a Skip (4), and the owner told.
    void EndCancelled(unsigned char code);
    void EnsureConverter();
    template <class TAdapter>
    void CreateAdapter(TAdapter*& slot);
    void ApplySapiOverride();
    QString OutputFolder() const;
    static QString DefaultOutputFolder();
    void AddItemOnce(const QString& name, unsigned char location, const QVariant& def, int kind);
    static void DeleteFileLogged(const QString& file, const QString& logPrefix);

    std::vector<TRegistered> Controls;
    std::vector<TRegistered> MenuItems;
    std::unique_ptr<TPreProcessor> ownedPreprocessor;
    std::unique_ptr<TBaseVoiceRegistryClass> ownedStore;
    int OriginalLength = 0; // length of the caller's text of the last EngnSpeak
    bool stopDuringConvert = false; // Stop came while converting to MP3
    bool closeStopped = false;      // the last EngnClose ended with such a Stop
    std::function<void(TAudioFileClass*, uint32_t, uint32_t)> mp3Progress;
};
