#include "audio/LameUnit.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <lame/lame.h>
#include <memory>
#include <sndfile.h>
#include <taglib/commentsframe.h>
#include <taglib/id3v2tag.h>
#include <taglib/chapterframe.h>
#include <taglib/mpegfile.h>
#include <taglib/tableofcontentsframe.h>
#include <taglib/textidentificationframe.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
struct TQuality {
    const char* Name;
    bool Extended;
};

// The presets in the order the quality list shows them. The blanks are part of the names.
constexpr TQuality Qualities[] = {
    {"16 kbps  11.02 KHz  Mono", false},   {"24 kbps  16.00 KHz  Mono", true},
    {"32 kbps  22.05 KHz  Mono", false},   {"40 kbps  22.05 KHz  Mono", false},
    {"40 kbps  32.00 KHz  Mono", true},    {"48 kbps  22.05 KHz  Mono", false},
    {"48 kbps  32.00 KHz  Mono", true},    {"56 kbps  44.1 KHz   Mono", false},
    {"64 kbps  44.1 KHz   Mono", false},   {"64 kbps  48.00 KHz  Mono", true},
    {"64 kbps  22.05 KHz  Stereo", false}, {"80 kbps  22.05 KHz  Stereo", false},
    {"80 kbps  32.00 KHz  Stereo", true},  {"96 kbps  22.05 KHz  Stereo", false},
    {"96 kbps  32.00 KHz  Stereo", true},  {"112 kbps  44.1 KHz  Stereo", false},
    {"128 kbps  44.1 KHz  Stereo", false},
};
constexpr const char* DefaultQuality = "32 kbps  22.05 KHz  Mono";
// The longest the encoding loop keeps the event loop waiting between progress reports.
constexpr qint64 MaxEventGapMs = 25;

// LAME's own messages go to the log instead of the terminal.
void LameMessage(const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    UtilsClass::Log(QStringLiteral("LAME: ") + QString::fromLocal8Bit(text).trimmed());
}

struct SndFileCloser {
    void operator()(SNDFILE* f) const
    {
        if (f)
            sf_close(f);
    }
};

struct LameCloser {
    void operator()(lame_global_flags* gf) const
    {
        if (gf)
            lame_close(gf);
    }
};

// The MP3 being written: buffered, and every failure of the system keeps its reason (a full
// disk may show at any write, at the final flush or only when the file is closed).
class TOutputFile {
public:
    ~TOutputFile() { Close(); }
    bool Open(const QString& path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        return fd >= 0 || Failed();
    }
    bool Write(const unsigned char* data, size_t size)
    {
        buffer.insert(buffer.end(), data, data + size);
        return buffer.size() < BufferSize || Flush();
    }
    bool Flush()
    {
        const bool ok = WriteOut(buffer.data(), buffer.size(), -1);
        buffer.clear();
        return ok;
    }
    bool WriteAt(off_t offset, const unsigned char* data, size_t size)
    {
        return Flush() && WriteOut(data, size, offset);
    }
    bool Close()
    {
        if (fd < 0)
            return error.isEmpty();
        const bool flushed = Flush();
        const int result = ::close(fd);
        fd = -1;
        return (result == 0 || Failed()) && flushed;
    }
    QString ErrorString() const { return error; }

private:
    static constexpr size_t BufferSize = 64 * 1024;
    bool Failed()
    {
        if (error.isEmpty())
            error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    bool WriteOut(const unsigned char* data, size_t size, off_t offset)
    {
        while (size > 0) {
            const ssize_t n = offset < 0 ? ::write(fd, data, size) : ::pwrite(fd, data, size, offset);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return Failed();
            data += n;
            size -= size_t(n);
            if (offset >= 0)
                offset += n;
        }
        return true;
    }
    int fd = -1;
    std::vector<unsigned char> buffer;
    QString error;
};

// The ID3 version 1 text of a field: one byte per character, '?' for what Latin-1 lacks.
QByteArray Latin1Field(const QString& text, int length)
{
    QByteArray bytes;
    for (const char32_t c : text.toUcs4()) {
        if (bytes.size() == length)
            break;
        bytes.append(c <= 0xFF ? char(c) : '?');
    }
    return bytes;
}
}

TMP3Class::TMP3Class(bool extendedList, QObject* owner) : TAudioFileClass(extendedList, owner)
{
    SetQuality(GetDefaultQuality());
}

TMP3Class::~TMP3Class() = default;

void TMP3Class::GetQualities(QStringList& list) const
{
    for (const TQuality& q : Qualities)
        if (!q.Extended || ExtendedList)
            list.append(QString::fromLatin1(q.Name));
}

QString TMP3Class::GetDefaultQuality() const
{
    return QString::fromLatin1(DefaultQuality);
}

bool TMP3Class::IsValidQuality(const QString& name) const
{
    // Letters without case; the blanks, being no letters, must match exactly.
    for (const TQuality& q : Qualities)
        if (name.compare(QLatin1String(q.Name), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void TMP3Class::GetRates(int inputRate, int& conversionRate, int& encoderRate)
{
    int rate = QualitySampleRate;
    const bool narrowInput = inputRate == 8000 || inputRate == 16000;
    if (Mode == QLatin1String("Mono")) {
        if (narrowInput && BitRate == 16)
            rate = 16000;
        else if (narrowInput && BitRate == 32)
            rate = 32000;
        else if (narrowInput && BitRate == 56)
            rate = 48000;
        else if (inputRate == 22050 && BitRate == 16)
            rate = 16000;
    } else if (narrowInput && (BitRate == 64 || BitRate == 112)) {
        rate = BitRate == 64 ? 32000 : 48000;
        QualitySampleRate = rate;
    }
    conversionRate = rate;
    encoderRate = rate;
}

bool TMP3Class::ConvertFormat(const QString& wavFile, const QString& mp3File)
{
    UtilsClass::Log(QStringLiteral("Starting Lame MP3 conversion"));
    abortFlag.store(false);
    progressCounter = 0;
    lastError.clear();

    // Failures before anything is written are only logged; the WAV stays as it is.
    auto earlyFailure = [this](const QString& what, const QString& reason) {
        UtilsClass::Log(what);
        UtilsClass::Log(reason);
        lastError = what + QStringLiteral(": ") + reason;
        return false;
    };

    SF_INFO info{};
    std::unique_ptr<SNDFILE, SndFileCloser> wav(sf_open(QFile::encodeName(wavFile).constData(), SFM_READ, &info));
    if (!wav)
        return earlyFailure(QStringLiteral("Exception in ConvertFormat opening wav file"),
                            QString::fromLocal8Bit(sf_strerror(nullptr)));
    if (info.channels < 1 || info.channels > 2)
        return earlyFailure(QStringLiteral("Exception in ConvertFormat opening wav file"),
                            QStringLiteral("%1 channels; only mono and stereo can be encoded").arg(info.channels));
    const QFileInfo wavInfo(wavFile), mp3Info(mp3File);
    if (mp3Info.exists() && wavInfo.canonicalFilePath() == mp3Info.canonicalFilePath())
        return earlyFailure(QStringLiteral("Exception in ConvertFormat opening mp3 file"),
                            QStringLiteral("The MP3 file would replace the WAV file %1").arg(wavFile));
    // The encoder is told the rate the samples really have; the quality's rate only when the
    // two agree, which they do after ConvertWaveFile.
    int inputRate = EncoderSampleRate;
    if (info.samplerate != inputRate) {
        UtilsClass::Log(QStringLiteral("ConvertFormat: %1 is at %2 Hz, not %3 Hz; encoding from %2 Hz")
                            .arg(wavFile)
                            .arg(info.samplerate)
                            .arg(inputRate));
        inputRate = info.samplerate;
    }

    TOutputFile mp3;
    if (!mp3.Open(mp3File))
        return earlyFailure(QStringLiteral("Exception in ConvertFormat opening mp3 file"), mp3.ErrorString());

    // From here on a failure removes the MP3, keeps the WAV and tells the user.
    auto failure = [&](const QString& message) {
        wav.reset();
        mp3.Close();
        QFile partial(mp3File);
        if (!partial.remove()) {
            UtilsClass::Log(QStringLiteral("Exception in ConvertFormat deleting ") + mp3File);
            UtilsClass::Log(partial.errorString());
        }
        Fail(message);
        return false;
    };

    std::unique_ptr<lame_global_flags, LameCloser> gf(lame_init());
    if (!gf)
        return failure(QStringLiteral("Error opening encoding stream -1"));
    lame_set_errorf(gf.get(), LameMessage);
    lame_set_debugf(gf.get(), LameMessage);
    lame_set_msgf(gf.get(), LameMessage);
    const int channels = info.channels;
    lame_set_in_samplerate(gf.get(), inputRate);
    lame_set_num_channels(gf.get(), channels);
    lame_set_out_samplerate(gf.get(), 0);
    lame_set_mode(gf.get(), Mode == QLatin1String("Stereo") ? STEREO : MONO);
    lame_set_VBR(gf.get(), vbr_off);
    lame_set_brate(gf.get(), BitRate);
    lame_set_quality(gf.get(), 3); // the command line's default, -q 3
    lame_set_extension(gf.get(), 1); // the private bit
    lame_set_error_protection(gf.get(), 0);
    lame_set_copyright(gf.get(), 0);
    lame_set_original(gf.get(), 0);
    lame_set_bWriteVbrTag(gf.get(), 1);
    const int initResult = lame_init_params(gf.get());
    if (initResult != 0)
        return failure(QStringLiteral("Error opening encoding stream %1").arg(initResult));

    SamplesPerCall = lame_get_framesize(gf.get());
    const size_t chunkFrames = size_t(SamplesPerCall);
    std::vector<short> samples(chunkFrames * size_t(channels));
    std::vector<unsigned char> encoded(chunkFrames + chunkFrames / 4 + 7200);
    const uint64_t frameBytes = 2 * uint64_t(channels);
    const uint64_t total = uint64_t(std::max<sf_count_t>(info.frames, 0)) * frameBytes;
    const uint64_t chunkBytes = chunkFrames * frameBytes;
    uint64_t done = 0;
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    auto toReport = [](uint64_t bytes) { return uint32_t(std::min<uint64_t>(bytes, UINT32_MAX)); };

    while (done != total) {
        const uint64_t chunk = std::min(chunkBytes, total - done);
        const sf_count_t frames = sf_count_t(chunk / frameBytes);
        if (sf_readf_short(wav.get(), samples.data(), frames) != frames) {
            const QString reason = QString::fromLocal8Bit(sf_strerror(wav.get()));
            return failure(QStringLiteral("Read Error: ") + reason);
        }
        const int n = channels == 2
            ? lame_encode_buffer_interleaved(gf.get(), samples.data(), int(frames), encoded.data(), int(encoded.size()))
            : lame_encode_buffer(gf.get(), samples.data(), samples.data(), int(frames), encoded.data(), int(encoded.size()));
        if (n < 0)
            return failure(QStringLiteral("beEncodeChunk failed %1").arg(n));
        if (!mp3.Write(encoded.data(), size_t(n)))
            return failure(QStringLiteral("Write Error (1): ") + mp3.ErrorString());
        if (abortFlag.load()) {
            UtilsClass::Log(QStringLiteral("MP3 conversion aborted"));
            break;
        }
        done += chunk;
        if (OnProgress) {
            // A report (and a turn of the event loop) every 101 chunks: a few milliseconds
            // at the usual rates. Should a slow machine need longer, the event loop still gets
            // its turn in time for the window to stay live and a stop to land.
            if (progressCounter < 100) {
                ++progressCounter;
                if (sinceEvents.hasExpired(MaxEventGapMs)) {
                    TBusyGuard::ProcessEvents();
                    sinceEvents.start();
                }
            } else {
                OnProgress(this, toReport(done), toReport(total));
                TBusyGuard::ProcessEvents();
                std::this_thread::yield();
                progressCounter = 0;
                sinceEvents.start();
            }
        }
    }

    const int flushed = lame_encode_flush(gf.get(), encoded.data(), int(encoded.size()));
    if (flushed < 0)
        return failure(QStringLiteral("beExitStream failed %1").arg(flushed));
    if (!mp3.Write(encoded.data(), size_t(flushed)))
        return failure(QStringLiteral("Write error (2): ") + mp3.ErrorString());
    // The info frame: LAME left an empty frame at the start for it (when one fits in a frame
    // of the bit rate; at the lowest rates there is none).
    const size_t tagSize = lame_get_lametag_frame(gf.get(), nullptr, 0);
    if (tagSize > 0) {
        std::vector<unsigned char> tag(tagSize);
        const size_t got = lame_get_lametag_frame(gf.get(), tag.data(), tag.size());
        if (got != tagSize)
            return failure(QStringLiteral("Cannot get the info frame from the encoder"));
        if (!mp3.WriteAt(0, tag.data(), got))
            return failure(QStringLiteral("Write error (3): ") + mp3.ErrorString());
    }
    gf.reset();
    wav.reset();
    if (!mp3.Close())
        return failure(QStringLiteral("Error closing %1: %2").arg(mp3File, mp3.ErrorString()));

    // Removing a long WAV takes a moment of its own: the window gets its turn first.
    if (OnProgress)
        TBusyGuard::ProcessEvents();
    QFile wavToDelete(wavFile);
    if (!wavToDelete.remove()) {
        UtilsClass::Log(QStringLiteral("Exception in ConvertFormat deleting ") + wavFile);
        UtilsClass::Log(wavToDelete.errorString());
    }
    return true;
}

QByteArray Id3v1Block(const TAudioTags& tags)
{
    QByteArray block(128, '\0');
    auto put = [&block](int offset, const QByteArray& bytes) { std::copy(bytes.begin(), bytes.end(), block.begin() + offset); };
    put(0, QByteArrayLiteral("TAG"));
    put(3, Latin1Field(tags.Title, 30));
    put(33, Latin1Field(tags.Artist, 30));
    put(63, Latin1Field(tags.Album, 30));
    put(93, Latin1Field(tags.Year, 4));
    put(97, Latin1Field(tags.Comment, 29));
    block[126] = 0;   // track number
    block[127] = 101; // genre: Speech
    return block;
}

namespace {
TagLib::String TagText(const QString& text)
{
    return TagLib::String(text.toStdString(), TagLib::String::UTF8);
}

// Sets one text frame of the tag, UTF-8; an empty text removes the frame.
void SetTextFrame(TagLib::ID3v2::Tag& tag, const char* id, const QString& text)
{
    tag.removeFrames(id);
    if (text.isEmpty())
        return;
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(TagLib::ByteVector(id), TagLib::String::UTF8);
    frame->setText(TagText(text));
    tag.addFrame(frame);
}

// A frame holding one text, UTF-8, to embed in a chapter or table of contents.
TagLib::ID3v2::Frame* TitleFrame(const QString& text)
{
    auto* frame = new TagLib::ID3v2::TextIdentificationFrame(TagLib::ByteVector("TIT2"), TagLib::String::UTF8);
    frame->setText(TagText(text));
    return frame;
}

// One CHAP frame per chapter and a top-level, ordered CTOC listing them. A chapter ends where
// the next one starts, the last one with the audio (lengthMs, 0 when unknown); chapters at or
// past the end are left out, and of chapters starting at the same time the first is kept.
// Whatever chapters the tag had before are replaced.
void SetChapters(TagLib::ID3v2::Tag& tag, const TAudioTags& tags, qint64 lengthMs)
{
    tag.removeFrames("CHAP");
    tag.removeFrames("CTOC");
    std::vector<TAudioChapter> chapters = tags.Chapters;
    std::stable_sort(chapters.begin(), chapters.end(),
                     [](const TAudioChapter& a, const TAudioChapter& b) { return a.StartMs < b.StartMs; });
    // Times are 32-bit milliseconds in the frame; the last one is kept free for an end.
    constexpr qint64 latestStart = qint64(0xFFFFFFFEu);
    std::vector<TAudioChapter> kept;
    for (const TAudioChapter& c : chapters) {
        if (c.StartMs < 0 || c.StartMs > latestStart || (lengthMs > 0 && c.StartMs >= lengthMs)) {
            UtilsClass::Log(QStringLiteral("Chapter \"%1\" at %2 ms lies outside the audio").arg(c.Title).arg(c.StartMs));
            continue;
        }
        if (!kept.empty() && kept.back().StartMs == c.StartMs) {
            UtilsClass::Log(QStringLiteral("Chapter \"%1\" starts with the one before it, at %2 ms").arg(c.Title).arg(c.StartMs));
            continue;
        }
        kept.push_back(c);
    }
    if (kept.empty())
        return;
    TagLib::ByteVectorList ids;
    for (size_t i = 0; i < kept.size(); ++i) {
        const TagLib::ByteVector id(QByteArray("chp" + QByteArray::number(qulonglong(i + 1))).constData());
        const qint64 end = i + 1 < kept.size() ? kept[i + 1].StartMs : std::max(lengthMs, kept[i].StartMs + 1);
        TagLib::ID3v2::FrameList embedded;
        embedded.append(TitleFrame(kept[i].Title));
        tag.addFrame(new TagLib::ID3v2::ChapterFrame(id, unsigned(kept[i].StartMs), unsigned(end), 0xFFFFFFFFu,
                                                     0xFFFFFFFFu, embedded));
        ids.append(id);
    }
    TagLib::ID3v2::FrameList tocTitle;
    tocTitle.append(TitleFrame(tags.Title));
    auto* toc = new TagLib::ID3v2::TableOfContentsFrame(TagLib::ByteVector("toc"), ids, tocTitle);
    toc->setIsTopLevel(true);
    toc->setIsOrdered(true);
    tag.addFrame(toc);
}

void WriteId3v2Tag(const TAudioTags& tags)
{
    TagLib::MPEG::File file(QFile::encodeName(tags.FileName).constData(), !tags.Chapters.empty(),
                            TagLib::AudioProperties::Accurate);
    if (!file.isValid() || file.firstFrameOffset() < 0)
        throw EAudioFileError(QStringLiteral("%1 holds no MPEG audio; no ID3v2 tag written").arg(tags.FileName));
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    SetTextFrame(*tag, "TIT2", tags.Title);
    SetTextFrame(*tag, "TPE1", tags.Artist);
    SetTextFrame(*tag, "TALB", tags.Album);
    SetTextFrame(*tag, "TDRC", tags.Year);
    tag->removeFrames("COMM");
    if (!tags.Comment.isEmpty()) {
        auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setLanguage("XXX");
        comment->setText(TagText(tags.Comment));
        tag->addFrame(comment);
    }
    if (!tags.Chapters.empty())
        SetChapters(*tag, tags, file.audioProperties() ? file.audioProperties()->lengthInMilliseconds() : 0);
    // The version 1 block is ours: TagLib neither writes nor strips one.
    if (!file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v4, TagLib::File::DoNotDuplicate))
        throw EAudioFileError(QStringLiteral("TagLib could not save the ID3v2 tag of %1").arg(tags.FileName));
}

void WriteId3v1Tag(const TAudioTags& tags)
{
    const QByteArray block = Id3v1Block(tags);
    QFile file(tags.FileName);
    if (!file.open(QIODevice::ReadWrite))
        throw EAudioFileError(QStringLiteral("Cannot open %1: %2").arg(tags.FileName, file.errorString()));
    qint64 end = file.size();
    if (end > 128) {
        char head[3] = {};
        if (!file.seek(end - 128) || file.read(head, 3) != 3)
            throw EAudioFileError(QStringLiteral("Cannot read %1: %2").arg(tags.FileName, file.errorString()));
        if (QByteArray(head, 3) == "TAG")
            end -= 128;
    }
    // The block overwrites an old one in place, so the file never holds two or none.
    if (!file.seek(end) || file.write(block) != block.size() || !file.flush())
        throw EAudioFileError(QStringLiteral("Cannot write %1: %2").arg(tags.FileName, file.errorString()));
    if (file.size() != end + 128 && !file.resize(end + 128))
        throw EAudioFileError(QStringLiteral("Cannot write %1: %2").arg(tags.FileName, file.errorString()));
    file.close();
    if (file.error() != QFileDevice::NoError)
        throw EAudioFileError(QStringLiteral("Cannot write %1: %2").arg(tags.FileName, file.errorString()));
}
}

void TMP3Class::WriteTags(const TAudioTags& tags)
{
    if (tags.FileName.isEmpty() || !QFileInfo(tags.FileName).isFile()) {
        UtilsClass::Log(QStringLiteral("TMP3Class.WriteTags: no file ") + tags.FileName);
        return;
    }
    // The two tags are independent: a file TagLib rejects still gets its version 1 block.
    try {
        WriteId3v2Tag(tags);
    } catch (const std::exception& e) {
        UtilsClass::Log(QStringLiteral("TMP3Class.WriteTags Exception: ") + QString::fromUtf8(e.what()));
    }
    try {
        WriteId3v1Tag(tags);
    } catch (const std::exception& e) {
        UtilsClass::Log(QStringLiteral("TMP3Class.WriteTags Exception: ") + QString::fromUtf8(e.what()));
    }
}
