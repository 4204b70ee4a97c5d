#pragma once
// The engine adapter interface: what the speech manager uses to drive a speech engine,
// whichever layer is behind it. The base class keeps the active, cancelled and paused flags,
// delivers the finished notification from a short one-shot timer (never from inside an engine
// call), forwards word positions and checks the folder of the WAV file being written.
#include "core/VorlixException.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

class TBaseVoiceClass;
class TVoiceList;
class TEngineList;
class TBaseRegistryClass;

// A general adapter failure ("Test for Sapi5 installed failed", enumeration errors, ...).
VORLIX_DECLARE_ERROR(ESpeechAPIError, EVorlixError)

class TSpeechAPI : public QObject {
    Q_OBJECT
public:
    explicit TSpeechAPI(QObject* owner = nullptr);
    ~TSpeechAPI() override;

    // Active := flag; true also clears Cancelled, false clears Paused (closing resumes a
    // paused file so it gets the rest of its text, and stops a paused device). Adapters open
    // or close their engine here.
    virtual void SetActive(bool flag);
    // Raises ESpeechAPIError when no Store is set: the voices register their settings there.
    virtual void LoadVoices(TVoiceList& voices, TEngineList& engines) = 0;
    virtual void LoadVoiceDefaults(TBaseVoiceClass* voice) = 0;
    // Speaking aloud: opens the engine for the voice.
    virtual void Activate(TBaseVoiceClass* voice);
    // Activate and speak in one call.
    virtual void Play(const QString& text, TBaseVoiceClass* voice);
    virtual void PlayText(const QString& text);
    // Speaks a UTF-8 text file from a character offset. False when the file cannot be read.
    virtual bool PlayStream(const QString& fileName, TBaseVoiceClass* voice, int startOffset);
    // Checks the folder of wavPath (error boxes, false when blank or missing) and records it.
    virtual bool PlayToFileInit(TBaseVoiceClass* voice, const QString& wavPath);
    virtual bool PlayToFile(int reserved, const QString& text);
    virtual bool PlayStreamToFile(int reserved, const QString& fileName, int startOffset);
    // Drops the current text and reports it finished.
    virtual void Skip() = 0;
    // Stops the current text; it ends as cancelled.
    virtual void AudioReset();
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // A device that is not there (any more) gives the default device (-1), with a log line.
    virtual void SetAudioDevice(int deviceId) = 0;
    // True when the device can be opened; needs no open engine. On failure the reason and a
    // hint are reported (OnError, else error boxes).
    virtual bool CheckAudioDevice(int deviceId) = 0;
    // How much audio the open output file holds, in milliseconds; -1 without a file.
    virtual qint64 OutputFileMilliseconds() const { return -1; }

    // Called by the adapters when their engine has stopped speaking.
    void TTSFinishedHandler();

    // --- state ---
    static constexpr int FinishedDelayMs = 50;
    QTimer FinishedTimer;
    bool FinishedNotified = false;
    bool Active = false;
    std::function<void(TSpeechAPI* sender, bool cancelled)> OnFinished;
    std::function<void(TSpeechAPI* sender)> OnStarted;
    std::function<void(TSpeechAPI* sender, unsigned char kind, int length, int position)> OnWordPosition;
    // The output failed while speaking (device gone, file not writable), the output folder
    // or file is not usable, or the device check failed. Unassigned, the message is shown in
    // an error box; assigned, the adapter shows no box at all. A text whose output failed
    // while speaking ends as cancelled.
    std::function<void(TSpeechAPI* sender, const QString& message)> OnError;
    int TotalLength = 0;
    TBaseVoiceClass* CurrentVoice = nullptr;
    bool Cancelled = false;
    bool EngineFinished = false;
    TBaseRegistryClass* Store = nullptr;
    QString OutputFile;
    bool Paused = false;
    QString LastError; // the last output failure of this adapter
    // When the engine last reported the end of a text (ClockMs), before the deferred finish.
    qint64 EndedAtMs = -1;
    // A steady clock in milliseconds, shared by everything that times speech.
    static qint64 ClockMs();

protected:
    // Word event of the engine at character position p.
    void WordPositionEvent(int position);
    // Byte position of file output.
    void StreamPositionEvent(int64_t position);
    // Records an output failure, marks the text cancelled and reports it.
    void ReportOutputError(const QString& message);
    // Tells the owner about a failure: through OnError when assigned, else in an error box.
    void ReportError(const QString& message);
    // The device check both adapters share: the id is -1 or one of today's devices, and a
    // 22 050 Hz mono 16-bit stream opens on it.
    bool CheckDevice(int deviceId);
    // deviceId when it is -1 or one of today's devices, else -1 (logged).
    static int AvailableDevice(int deviceId);
    // LoadVoices starts here: raises ESpeechAPIError without a Store.
    void RequireStore() const;
    // An integer setting of the speech section, or fallback when the section lacks it.
    int StoreInt(const QString& name, int fallback) const;
    // Reads a text file for the streaming operations (empty with ok false on failure).
    static QString ReadTextFile(const QString& fileName, int startOffset, bool* ok);

private:
    void FinishedTimerTick();
};
