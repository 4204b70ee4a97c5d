#pragma once
// A small SAPI-4-shaped text-to-speech component over Flite: the installed modes (one per
// Flite voice), a mode selected onto a sound device or a WAV file, the engine attributes
// (pitch, speed, volume) with their limits, tagged text with the \Pau=N\ tag, and the
// notifications the adapter uses (end of text data, word positions as byte offsets into the
// Unicode text, end of audio). Flite runs on a thread of its own; the notifications are
// raised on the GUI thread from this component's timer.
#include "core/VorlixException.h"
#include "speech/SpeechOutput.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

VORLIX_DECLARE_ERROR(ESpeechError, EVorlixError)

enum TOutputDest { odAudioDevice, odFile, odDirect, odOther };
enum TControlTags { ctNone, ctTagged };
enum TCharacterSet { csText, csIPAPhonetic, csEnginePhonetic };

// Feature and interface flags of a mode.
enum : unsigned {
    TTSFEATURE_VOLUME = 0x1,
    TTSFEATURE_SPEED = 0x2,
    TTSFEATURE_PITCH = 0x4,
    TTSFEATURE_TAGGED = 0x10,
    TTSI_ITTSATTRIBUTES = 0x2,
};

// Mode information as the enumerator reports it.
struct TTTSModeInfo {
    QByteArray EngineId;     // 16 bytes
    QString MfgName;
    QString ProductName;
    QByteArray ModeId;       // 16 bytes
    QString ModeName;
    int LanguageId = 1033;
    QString Speaker;
    QString Gender;          // "Female" or "Male"
    unsigned Features = 0;
    unsigned Interfaces = 0;
    // Layer details.
    QString FliteVoice;      // "kal", "kal16", "slt", "awb", "rms"
    int SampleRate = 16000;
    int DefaultPitch = 100;  // Hz
};

// The modes, in a fixed order; Reset and Next walk them.
class TTTSEnumerator {
public:
    TTTSEnumerator();
    void Reset() { cursor = 0; }
    bool Next(TTTSModeInfo& info);
    // The installed modes (Flite is initialised on first use).
    static const std::vector<TTTSModeInfo>& Modes();

private:
    size_t cursor = 0;
};

// Attribute limits of the engine.
constexpr int FlitePitchMin = 50, FlitePitchMax = 400;     // Hz
constexpr int FliteSpeedMin = 60, FliteSpeedMax = 500;     // words per minute
constexpr int FliteSpeedDefault = 170;
constexpr unsigned FliteVolumeMax = 0xFFFF;                // per channel

class TTTS : public QObject {
    Q_OBJECT
public:
    explicit TTTS(QObject* owner = nullptr);
    ~TTTS() override;

    // --- properties ---
    bool Active() const { return active; }
    void SetActive(bool flag);
    QString ModeName() const { return modeName; }
    void SetModeName(const QString& name);
    int AudioDeviceID() const { return audioDeviceId; }
    void SetAudioDeviceID(int id);
    // odDirect: no audio destination (attribute probes only).
    TOutputDest OutputDest = odAudioDevice;
    QString OutputFile;
    TControlTags ControlTags = ctNone;
    TCharacterSet CharacterSet = csText;
    // The selected mode (the first one until ModeName is set).
    const TTTSModeInfo& Mode() const { return mode; }

    // --- operations (the component must be active) ---
    void Speak(const QString& text);
    bool AudioPaused() const { return paused; }
    void SetAudioPaused(bool flag);
    void AudioReset();
    // Real-time rate of a file destination (1/256 of real time). Stored for the file
    // destination; the engine renders files as fast as it can.
    void RealTimeSet(uint16_t value);
    uint16_t RealTime() const { return realTime; }

    // --- attributes (active only) ---
    int Pitch() const;
    void SetPitch(uint16_t hz);            // clamped to the engine's range
    uint32_t Speed() const;
    void SetSpeed(uint32_t wpm);           // clamped
    uint32_t VolumeL() const;
    void SetVolumeL(uint32_t v);           // 16-bit; larger values clamp
    uint32_t VolumeR() const;
    void SetVolumeR(uint32_t v);

    // Notifications. Word positions are byte offsets into the text as UTF-16 (2 per character).
    std::function<void(TTTS* sender)> OnTextDataDone;
    std::function<void(TTTS* sender, int64_t byteOffset)> OnWordPosition;
    std::function<void(TTTS* sender)> OnAudioStop;
    std::function<void(TTTS* sender)> OnAudioStart;
    std::function<void(TTTS* sender)> OnTextDataStarted;
    // The output failed (device gone, file not writable); raised before OnAudioStop.
    std::function<void(TTTS* sender, const QString& message)> OnError;

    // Output position: bytes played on the device or written into the file.
    int64_t OutputPosition();
    // Milliseconds of audio in the open output file; -1 without one.
    int64_t FileMilliseconds() const
    {
        return file && file->Rate() > 0 ? file->BytesWritten() / 2 * 1000 / file->Rate() : -1;
    }
    bool Busy() const { return !queue.empty(); }

    // How long SetActive(false) waits for the texts still queued for a file before it stops
    // them (the file then ends where they were), and how long it then waits for them to stop.
    int FileFinishTimeoutMs = 10000;
    int StopTimeoutMs = 2000;

private:
    struct Item {
        std::shared_ptr<TSpeechRun> Run;
        bool StartSeen = false;
    };
    void RequireActive(const char* what) const;
    void Poll();
    void CancelAll();
    // Waits at most ms for every queued text to be done; true when they are.
    bool WaitQueue(int ms);
    // Stops the queued texts and waits for them (StopTimeoutMs); whatever still runs
    // afterwards writes nothing more into the file.
    void StopQueue();

    bool active = false;
    QString modeName;
    TTTSModeInfo mode;
    int audioDeviceId = -1;
    bool paused = false;
    uint16_t realTime = 256;
    int pitch = 100;
    uint32_t speed = FliteSpeedDefault;
    uint32_t volumeL = FliteVolumeMax;
    uint32_t volumeR = FliteVolumeMax;
    QString deviceSink;
    std::unique_ptr<TWavWriter> file;
    std::deque<Item> queue;
    QTimer pollTimer;
};

// Splits SAPI 4 tagged text into runs of text and pauses; \Pau=N\ gives N ms of silence,
// the other SAPI 4 tags are dropped, anything else stays text. Control characters become blanks.
struct TTaggedPart {
    bool IsPause = false;
    int Milliseconds = 0;
    QString Text;
    std::vector<int> Positions; // source position of each UTF-16 unit of Text
    int Speed = 0;              // \Spd=N\ in force (0: the component's)
    int Pitch = 0;              // \Pit=N\ in force (0: the component's)
};
std::vector<TTaggedPart> ParseTaggedText(const QString& text, bool tagged);
