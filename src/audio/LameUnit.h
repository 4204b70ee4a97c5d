#pragma once
// WAV to MP3 with LAME: the seventeen quality presets, encoding in the encoder's own chunk
// size with progress reports, event-loop turns and Abort, the info frame written back at the
// start, and the tags: the ID3 version 1 block at the very end of the file and, beside it, an
// ID3v2.4 tag (UTF-8, untruncated) at the start, written with TagLib.
#include "audio/TAudioFileUnit.h"

class TMP3Class : public TAudioFileClass {
    Q_OBJECT
public:
    explicit TMP3Class(bool extendedList = true, QObject* owner = nullptr);
    ~TMP3Class() override;

    void GetRates(int inputRate, int& conversionRate, int& encoderRate) override;
    void GetQualities(QStringList& list) const override;
    // Encodes wavFile into mp3File at the quality set last. On success (or after Abort) the
    // MP3 is complete and playable and the WAV is deleted. On a failure the WAV stays, a
    // partial MP3 is removed, LastError() tells why and the result is false.
    bool ConvertFormat(const QString& wavFile, const QString& mp3File) override;
    QString GetDefaultQuality() const override;
    bool IsValidQuality(const QString& name) const override;
    // Writes the ID3v2.4 tag and the 128-byte ID3 version 1 block into tags.FileName. A missing
    // file writes nothing; every failure is only logged ("TMP3Class.WriteTags Exception: ").
    void WriteTags(const TAudioTags& tags) override;

    // The encoder's samples per call of the last conversion (1152 for MPEG 1 layer III).
    int SamplesPerCall = 0;

private:
    int progressCounter = 0;
};

// The 128-byte ID3 version 1 block of the tags (track-number variant, genre 101).
QByteArray Id3v1Block(const TAudioTags& tags);
