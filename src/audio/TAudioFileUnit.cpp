#include "audio/TAudioFileUnit.h"

#include "core/BaseUtils.h"
#include "core/BusyGuard.h"
#include "core/DialogService.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sndfile.h>
#include <soxr.h>
#include <vector>

void TAudioTags::Clear()
{
    FileName.clear();
    Title.clear();
    Artist.clear();
    Album.clear();
    Year.clear();
    Comment.clear();
    Chapters.clear();
}

bool TAudioTags::IsEmpty() const
{
    return FileName.isEmpty() && Title.isEmpty() && Artist.isEmpty() && Album.isEmpty() && Year.isEmpty()
        && Comment.isEmpty() && Chapters.empty();
}

TAudioFileClass::TAudioFileClass(bool extendedList, QObject* owner) : QObject(owner), ExtendedList(extendedList)
{
}

TAudioFileClass::~TAudioFileClass() = default;

void TAudioFileClass::SetQuality(const QString& name)
{
    if (!IsValidQuality(name))
        throw EAudioFileError(QStringLiteral("Quality string \"%1\" is invalid").arg(name));
    // "<bit rate> kbps  <kHz> KHz  <mode>"
    static const QRegularExpression blanks(QStringLiteral(" +"));
    const QStringList tokens = name.split(blanks, Qt::SkipEmptyParts);
    if (tokens.size() < 5)
        throw EAudioFileError(QStringLiteral("Quality string \"%1\" is invalid").arg(name));
    qualityName = name;
    BitRate = tokens[0].toInt();
    // QString::toDouble always reads '.' as the decimal separator; nearbyint rounds half to even.
    QualitySampleRate = int(std::nearbyint(tokens[2].toDouble() * 1000.0));
    Mode = tokens[4].compare(QLatin1String("Stereo"), Qt::CaseInsensitive) == 0 ? QStringLiteral("Stereo")
                                                                                : QStringLiteral("Mono");
    EncoderSampleRate = QualitySampleRate;
}

void TAudioFileClass::GetRates(int inputRate, int& conversionRate, int& encoderRate)
{
    conversionRate = QualitySampleRate;
    encoderRate = QualitySampleRate;
}

void TAudioFileClass::Fail(const QString& message)
{
    UtilsClass::Log(message);
    lastError = message;
    Dialogs().ShowError(message);
}

int TAudioFileClass::GetSampleRate(const QString& wavFile)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(wavFile).constData(), SFM_READ, &info);
    if (!f)
        throw EAudioFileError(QString::fromLocal8Bit(sf_strerror(nullptr)));
    sf_close(f);
    return info.samplerate;
}

namespace {
struct SndFileCloser {
    void operator()(SNDFILE* f) const
    {
        if (f)
            sf_close(f);
    }
};
using SndFilePtr = std::unique_ptr<SNDFILE, SndFileCloser>;

struct SoxrDeleter {
    void operator()(soxr_t s) const
    {
        if (s)
            soxr_delete(s);
    }
};
using SoxrPtr = std::unique_ptr<std::remove_pointer_t<soxr_t>, SoxrDeleter>;

inline short ToPcm16(float v)
{
    const long s = std::lrint(double(v) * 32768.0);
    return short(std::clamp<long>(s, -32768, 32767));
}

// Reads the whole input, brings it to the target channel count and rate, and writes 16-bit
// PCM frames to the output. Between blocks goOn() is asked whether to carry on (it lets
// events run now and then); when it says no, what was read so far is finished and written.
// Returns an empty text on success, else why it failed.
QString ConvertStream(SNDFILE* in, const SF_INFO& inInfo, SNDFILE* out, int outChannels, int outRate,
                      const std::function<bool()>& goOn)
{
    constexpr sf_count_t blockFrames = 8192;
    const int inChannels = inInfo.channels;
    std::vector<float> raw(size_t(blockFrames) * inChannels);
    std::vector<float> mapped(size_t(blockFrames) * outChannels);

    SoxrPtr resampler;
    const double ratio = double(outRate) / inInfo.samplerate;
    if (outRate != inInfo.samplerate) {
        soxr_error_t err = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
        resampler.reset(soxr_create(inInfo.samplerate, outRate, unsigned(outChannels), &err, &io, &q, nullptr));
        if (err || !resampler)
            return QStringLiteral("Cannot set up the sample rate conversion: %1").arg(QString::fromLatin1(err ? err : "?"));
    }
    const size_t resampledCap = size_t(std::ceil(blockFrames * ratio)) + 64;
    std::vector<float> resampled(resampledCap * outChannels);
    std::vector<short> pcm(std::max<size_t>(resampledCap, size_t(blockFrames)) * outChannels);

    auto write = [&](const float* frames, size_t count) -> QString {
        if (count == 0)
            return {};
        const size_t n = count * size_t(outChannels);
        for (size_t i = 0; i < n; ++i)
            pcm[i] = ToPcm16(frames[i]);
        const sf_count_t written = sf_writef_short(out, pcm.data(), sf_count_t(count));
        if (written != sf_count_t(count))
            return QStringLiteral("Write error: %1").arg(QString::fromLocal8Bit(sf_strerror(out)));
        return {};
    };

    while (goOn()) {
        const sf_count_t got = sf_readf_float(in, raw.data(), blockFrames);
        if (got < 0)
            return QStringLiteral("Read error: %1").arg(QString::fromLocal8Bit(sf_strerror(in)));
        if (got == 0)
            break;
        // Channels: mono is the average of all input channels; stereo duplicates a mono
        // input and takes the first two channels of a wider one.
        for (sf_count_t f = 0; f < got; ++f) {
            const float* src = raw.data() + size_t(f) * inChannels;
            float* dst = mapped.data() + size_t(f) * outChannels;
            if (outChannels == 1) {
                float sum = 0;
                for (int c = 0; c < inChannels; ++c)
                    sum += src[c];
                dst[0] = sum / float(inChannels);
            } else {
                dst[0] = src[0];
                dst[1] = inChannels > 1 ? src[1] : src[0];
            }
        }
        if (!resampler) {
            const QString err = write(mapped.data(), size_t(got));
            if (!err.isEmpty())
                return err;
            continue;
        }
        size_t offset = 0;
        while (offset < size_t(got)) {
            size_t used = 0, produced = 0;
            const soxr_error_t err = soxr_process(resampler.get(), mapped.data() + offset * outChannels,
                                                  size_t(got) - offset, &used, resampled.data(), resampledCap, &produced);
            if (err)
                return QStringLiteral("Sample rate conversion failed: %1").arg(QString::fromLatin1(err));
            const QString werr = write(resampled.data(), produced);
            if (!werr.isEmpty())
                return werr;
            offset += used;
            if (used == 0 && produced == 0)
                break; // cannot happen with an output buffer this size; never spin
        }
    }
    if (resampler) {
        for (;;) {
            size_t produced = 0;
            const soxr_error_t err = soxr_process(resampler.get(), nullptr, 0, nullptr, resampled.data(), resampledCap, &produced);
            if (err)
                return QStringLiteral("Sample rate conversion failed: %1").arg(QString::fromLatin1(err));
            if (produced == 0)
                break;
            const QString werr = write(resampled.data(), produced);
            if (!werr.isEmpty())
                return werr;
        }
    }
    return {};
}
}

bool TAudioFileClass::ConvertWaveFile(const QString& inputWav, const QString& outputWav)
{
    UtilsClass::Log(QStringLiteral("Entered ConvertWaveFile"));
    lastError.clear();
    abortFlag.store(false);
    const int outChannels = Mode == QLatin1String("Stereo") ? 2 : 1;
    int inputRate = 0;
    try {
        inputRate = GetSampleRate(inputWav);
    } catch (const EAudioFileError& e) {
        Fail(QStringLiteral("Cannot read the WAV file %1: %2").arg(inputWav, e.message()));
        return false;
    }
    int conversionRate = 0, encoderRate = 0;
    GetRates(inputRate, conversionRate, encoderRate);
    EncoderSampleRate = encoderRate;
    if (inputRate == conversionRate && outChannels == 1)
        return false;
    UtilsClass::Log(QStringLiteral("Infile: ") + inputWav);
    UtilsClass::Log(QStringLiteral("OutFile: ") + outputWav);
    if (conversionRate <= 0) {
        Fail(QStringLiteral("Cannot convert %1: no sample rate to convert to").arg(inputWav));
        return false;
    }

    SF_INFO inInfo{};
    SndFilePtr in(sf_open(QFile::encodeName(inputWav).constData(), SFM_READ, &inInfo));
    if (!in) {
        Fail(QStringLiteral("Cannot read the WAV file %1: %2").arg(inputWav, QString::fromLocal8Bit(sf_strerror(nullptr))));
        return false;
    }

    // The result is written beside its final name and renamed over it when complete, so a
    // failure never leaves a partial file and the input may even be the output.
    const QFileInfo outInfoPath(outputWav);
    QTemporaryFile tmp(outInfoPath.absolutePath() + QLatin1Char('/') + outInfoPath.fileName() + QStringLiteral(".XXXXXX"));
    if (!tmp.open()) {
        Fail(QStringLiteral("Cannot create %1: %2").arg(outputWav, tmp.errorString()));
        return false;
    }
    SF_INFO outInfo{};
    outInfo.samplerate = conversionRate;
    outInfo.channels = outChannels;
    outInfo.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SndFilePtr out(sf_open_fd(tmp.handle(), SFM_WRITE, &outInfo, SF_FALSE));
    if (!out) {
        Fail(QStringLiteral("Cannot write %1: %2").arg(outputWav, QString::fromLocal8Bit(sf_strerror(nullptr))));
        return false;
    }
    // A long file takes a while: events run every 25 ms, so the speech controls stay live,
    // and Abort ends the conversion with what was converted so far.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    const auto goOn = [this, &sinceEvents] {
        if (sinceEvents.elapsed() >= 25) {
            TBusyGuard::ProcessEvents();
            sinceEvents.restart();
        }
        return !abortFlag.load();
    };
    QString error = ConvertStream(in.get(), inInfo, out.get(), outChannels, conversionRate, goOn);
    in.reset();
    // Closing writes the final header sizes: a full disk may show only here.
    const int closeResult = sf_close(out.release());
    if (error.isEmpty() && closeResult != 0)
        error = QStringLiteral("Write error: %1").arg(QString::fromLocal8Bit(sf_error_number(closeResult)));
    if (error.isEmpty() && !tmp.flush())
        error = QStringLiteral("Write error: %1").arg(tmp.errorString());
    tmp.close();
    if (error.isEmpty() && tmp.error() != QFileDevice::NoError)
        error = QStringLiteral("Write error: %1").arg(tmp.errorString());
    // A temporary file is private to its owner; the result gets the usual rights of a file.
    tmp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (error.isEmpty()
        && std::rename(QFile::encodeName(tmp.fileName()).constData(), QFile::encodeName(outputWav).constData()) != 0)
        error = QStringLiteral("Cannot rename to %1: %2").arg(outputWav, QString::fromLocal8Bit(std::strerror(errno)));
    if (!error.isEmpty()) {
        Fail(QStringLiteral("Converting %1 to %2 failed. %3").arg(inputWav, outputWav, error));
        return false; // the temporary file removes itself
    }
    tmp.setAutoRemove(false);
    return true;
}
