#pragma once
// A small SAPI-5-shaped speech layer over eSpeak NG: voice tokens and their category, the
// voice object with its XML-driven speak, the file stream and sound-card output it speaks
// into, and the user lexicon. Synthesis runs on the eSpeak NG thread (one for the whole
// process, as the library keeps one global engine); the voice object's events are raised
// on the GUI thread from its own timer, never from inside a call into the layer.
#include "core/VorlixException.h"
#include "speech/SpeechOutput.h"

#include <QHash>
#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

VORLIX_DECLARE_ERROR(ESapi5Error, EVorlixError)

// Speak flags (as SAPI 5 numbers them).
enum TSpeechVoiceSpeakFlags {
    SVSFlagsAsync = 1,
    SVSFPurgeBeforeSpeak = 2,
    SVSFIsFilename = 4,
    SVSFIsXML = 8,
    SVSFIsNotXML = 16,
    SVSFPersistXML = 32,
};

// Stream format types used by the program.
enum TSpeechAudioFormatType {
    SAFTDefault = -1,
    SAFT8kHz16BitMono = 6,
    SAFT16kHz16BitMono = 18,
    SAFT22kHz16BitMono = 22,
};

// Sample rate of a format type; the engine's own rate for any other value.
int SapiFormatRate(int formatType);

// Category ids the layer knows.
extern const QString SpeechVoicesCategory;      // "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Speech\Voices"
extern const QString SpeechAudioOutputCategory; // "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Speech\AudioOutput"

// One voice (or audio output) registration.
class TSpObjectToken {
public:
    QString Id;                          // eSpeak NG voice identifier, or the sink name
    QString Description;
    QMap<QString, QString> Attributes;   // Name, Vendor, Language (hex), Gender, Age
    QString GetAttribute(const QString& name) const; // empty when absent
    QString GetDescription() const { return Description; }
};
using TSpObjectTokenPtr = std::shared_ptr<TSpObjectToken>;

class TSpObjectTokenCategory {
public:
    // Raises ESapi5Error for a category the layer does not have.
    void SetId(const QString& id);
    // Voices: every eSpeak NG voice with a Windows language id. Audio outputs: the sound devices.
    std::vector<TSpObjectTokenPtr> EnumerateTokens() const;

private:
    QString category;
};

// Windows language id of an eSpeak NG language tag ("en-us" 1033); 0 when there is none.
int LanguageIdForTag(const QString& tag);
// The eSpeak NG voice list, read once (the library is initialised on first use).
const std::vector<TSpObjectTokenPtr>& EspeakVoiceTokens();
// The library's output rate (22 050 Hz).
int EspeakSampleRate();

// The sound card output: a device id (-1 the default device) and a format.
class TSpMMAudioOut {
public:
    int DeviceId = -1;
    int FormatType = SAFTDefault;
};

// A WAV file the voice speaks into.
class TSpFileStream {
public:
    int FormatType = SAFTDefault;
    // Mode 3 creates the file for writing. Raises ESapi5Error when it cannot.
    void Open(const QString& path, int mode = 3);
    // Raises ESapi5Error when finishing the file fails; the stream is closed in any case.
    void Close();
    bool IsOpen() const { return writer.IsOpen(); }
    int64_t Position() const { return writer.BytesWritten(); }
    TWavWriter* Writer() { return &writer; }
    QString FileName() const { return path; }

private:
    TWavWriter writer;
    QString path;
};

// One word of the user lexicon.
struct TSpLexiconEntry {
    QString Word;
    int LangId = 1033;
    int PartOfSpeech = 0;
    QString Pronunciation; // SAPI US English phone symbols, blank-separated ("h eh 1 l ow")
};

// The user lexicon: words with pronunciations in SAPI phone symbols. Kept in the home
// folder ("Sapi5UserLexicon.chl") and shared by every voice of the process.
class TSpLexicon {
public:
    // Raises ESapi5Error for a blank word or a pronunciation with an unknown phone symbol.
    void AddPronunciation(const QString& word, int langId, int partOfSpeech, const QString& pronunciation);
    // An empty pronunciation removes every pronunciation of the word. Missing words are ignored.
    void RemovePronunciation(const QString& word, int langId, int partOfSpeech, const QString& pronunciation);
    QStringList GetPronunciations(const QString& word, int langId = 0) const;
    std::vector<TSpLexiconEntry> GetWords() const;

    // eSpeak NG phoneme text for SAPI phone symbols; empty with *ok false for unknown symbols.
    static QString SapiToEspeak(const QString& sapi, bool* ok = nullptr);
    // The lexicon file.
    static QString FileName();
    // Word (lower case) -> eSpeak NG phonemes, as the voices use it.
    static QHash<QString, QString> Snapshot();
    // Drops the in-memory copy so the file is read again (the home folder changed).
    static void Reload();
};

// Parsed speak text: runs of words, silences and phonemes, with where each character came from.
struct TSapiSegment {
    enum Kind { Text, Silence, Phonemes } SegmentKind = Text;
    QString Content;            // text, or eSpeak NG phonemes
    std::vector<int> Positions; // for Text: source position of each UTF-16 unit of Content
    int SourcePosition = 0;     // for Phonemes and Silence: where it stands in the source
    int SourceLength = 0;
    int Milliseconds = 0;
    int Pitch = 0;              // SAPI scale -10..10
    int Rate = 0;               // SAPI scale -10..10
    int Volume = 100;           // 0..100
};

struct TSapiXmlState {
    int Pitch = 0;
    int Rate = 0;
    int Volume = 100;
};

// Splits a speak text into segments. With xml, the SAPI tags PITCH, RATE, VOLUME, SILENCE and
// PRON are honoured, the other SAPI tags are dropped, and anything else that looks like a tag
// is spoken as text. Control characters become blanks. Lexicon words become phonemes.
std::vector<TSapiSegment> ParseSapiText(const QString& text, bool xml, TSapiXmlState& state,
                                        const QHash<QString, QString>& lexicon);

class TSpVoice : public QObject {
    Q_OBJECT
public:
    explicit TSpVoice(QObject* owner = nullptr);
    ~TSpVoice() override;

    // Events (stream number first, as SAPI 5 numbers its speak calls).
    std::function<void(int streamNumber)> OnEndStream;
    std::function<void(int streamNumber, int64_t streamPosition, int characterPosition, int length)> OnWord;
    std::function<void(int streamNumber, const QString& message)> OnStreamError;

    int EventInterests = 33790;
    bool AllowAudioOutputFormatChangesOnNextSet = true;

    void SetVoice(const TSpObjectTokenPtr& token);
    TSpObjectTokenPtr Voice() const { return voiceToken; }
    // The default output token is empty (the default device).
    void SetAudioOutput(const TSpObjectTokenPtr& token);
    TSpObjectTokenPtr AudioOutput() const { return audioOutputToken; }
    // Exactly one of them is in force; nullptr for both means the default device.
    void SetAudioOutputStream(TSpMMAudioOut* out);
    void SetAudioOutputStream(TSpFileStream* file);
    TSpFileStream* OutputFileStream() const { return fileOut; }
    // The format the voice would speak in on its own.
    int PreferredFormat() const { return SAFT22kHz16BitMono; }

    int Volume() const { return volume; }
    void SetVolume(int v); // raises ESapi5Error outside 0..100

    // Returns the stream number. Raises ESapi5Error when there is no voice or no output.
    int Speak(const QString& text, int flags);
    void Pause();
    void Resume();
    bool IsPaused() const { return paused; }
    // True when every text spoken so far has ended (SpeakCompleteEvent; waits up to ms).
    bool WaitUntilDone(int ms);
    // The output file is about to be closed: texts still running write nothing more into it.
    void DetachFile();
    // Output stream position in bytes: played on the device, or written into the file.
    int64_t OutputPosition();
    // Something moved since the last call (engine output or playback).
    int64_t ProgressCounter();
    bool Busy() const { return !queue.empty(); }
    // Every queued text has run to its end; only its end report (the next poll) is to come.
    bool AllDone() const;

private:
    struct Item {
        int Stream = 0;
        std::shared_ptr<TSpeechRun> Run; // none for a text without audio
    };
    void Poll();
    void StartRun(const std::shared_ptr<TSpeechRun>& run, std::vector<TSapiSegment> segments,
                  const QString& voiceId, int volume);
    void PurgeAll();
    void WaitSpoken(const std::shared_ptr<TSpeechRun>& run);

    TSpObjectTokenPtr voiceToken;
    TSpObjectTokenPtr audioOutputToken;
    TSpMMAudioOut* mmOut = nullptr;
    TSpFileStream* fileOut = nullptr;
    int volume = 100;
    bool paused = false;
    int nextStream = 1;
    TSapiXmlState xmlState;
    std::deque<Item> queue;
    QTimer pollTimer;
    int64_t lastPosition = 0;
};
