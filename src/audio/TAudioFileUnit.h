#pragma once
// The format-neutral half of turning a spoken WAV file into a compressed audio file: the
// quality bookkeeping (bit rate, sample rate, mono or stereo read from a preset's name), the
// rates a WAV has to be brought to, the WAV format conversion itself (libsndfile reads and
// writes, libsoxr resamples), and the tag values that travel with the file.
#include "core/VorlixException.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// An invalid quality name, a WAV file that cannot be read.
VORLIX_DECLARE_ERROR(EAudioFileError, EVorlixError)

// A chapter of an audio file: where it starts and what it is called.
struct TAudioChapter {
    qint64 StartMs = 0;
    QString Title;
};

// The tag values of one audio file. The speech manager fills the empty ones before writing.
class TAudioTags {
public:
    void Clear();
    bool IsEmpty() const;

    QString FileName; // full path of the audio file
    QString Title;
    QString Artist;
    QString Album;
    QString Year;
    QString Comment;
    // Chapters (a file of a whole thread: one per article), written into the ID3v2 tag.
    std::vector<TAudioChapter> Chapters;
};

class TAudioFileClass : public QObject {
    Q_OBJECT
public:
    // extendedList: the quality list includes the extended presets (the program always asks for them).
    explicit TAudioFileClass(bool extendedList, QObject* owner = nullptr);
    ~TAudioFileClass() override;

    // Raises EAudioFileError "Quality string "<name>" is invalid" for a name IsValidQuality
    // rejects; otherwise stores it and reads bit rate, sample rate and mode from it.
    virtual void SetQuality(const QString& name);
    virtual QString GetQuality() const { return qualityName; }
    // The rate a WAV at inputRate is to be converted to, and the rate the encoder is told.
    virtual void GetRates(int inputRate, int& conversionRate, int& encoderRate);
    virtual void GetQualities(QStringList& list) const = 0;
    // Encodes wavFile into outFile; see the implementation for what happens to both files.
    // True when outFile is complete (also after Abort: what was encoded so far).
    virtual bool ConvertFormat(const QString& wavFile, const QString& outFile) = 0;
    virtual QString GetDefaultQuality() const = 0;
    virtual bool IsValidQuality(const QString& name) const = 0;
    virtual void WriteTags(const TAudioTags& tags) = 0;

    // Brings inputWav to 16-bit PCM at the conversion rate and the quality's channel count,
    // written as outputWav. True when outputWav was written. False when nothing had to be done,
    // or when the conversion failed: then LastError() tells why (an error box has been shown
    // and logged) and outputWav does not exist.
    bool ConvertWaveFile(const QString& inputWav, const QString& outputWav);
    // The sample rate of a WAV file's format header. Raises EAudioFileError when the file
    // cannot be read as WAV.
    int GetSampleRate(const QString& wavFile);
    // Asks a running conversion to stop after the current chunk (safe from event handlers
    // that run during the conversion).
    void Abort() { abortFlag.store(true); }
    bool Aborted() const { return abortFlag.load(); }

    // Why the last ConvertWaveFile or ConvertFormat failed; empty after a success.
    QString LastError() const { return lastError; }

    // Called while encoding with the bytes of sample data done and in total.
    std::function<void(TAudioFileClass* sender, uint32_t done, uint32_t total)> OnProgress;

    bool ExtendedList = true;
    int BitRate = 0;          // kbit/s
    int QualitySampleRate = 0; // Hz
    int EncoderSampleRate = 0; // Hz
    QString Mode;             // "Mono" or "Stereo"

protected:
    void Fail(const QString& message); // logs, shows an error box, remembers it as LastError
    QString qualityName;
    QString lastError;
    std::atomic<bool> abortFlag{false};
};
