#include "speech/SpeechAPIUnit.h"

#include "core/BaseUtils.h"
#include "core/DialogService.h"
#include "core/TBaseRegistryClassUnit.h"
#include "speech/PulseAudioOut.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

TSpeechAPI::TSpeechAPI(QObject* owner) : QObject(owner)
{
    UtilsClass::Log(QStringLiteral("Entered TSpeechAPI Create"));
    Paused = false;
    Cancelled = false;
    FinishedTimer.setSingleShot(true);
    // Short enough that the next article of a run starts without a noticeable gap; any
    // deferral is enough to keep the notification out of the engine's own calls.
    FinishedTimer.setInterval(FinishedDelayMs);
    connect(&FinishedTimer, &QTimer::timeout, this, &TSpeechAPI::FinishedTimerTick);
}

TSpeechAPI::~TSpeechAPI()
{
    UtilsClass::Log(QStringLiteral("Entered TSpeechAPI Destroy"));
}

void TSpeechAPI::SetActive(bool flag)
{
    Active = flag;
    if (flag)
        Cancelled = false;
    else
        Paused = false;
}

void TSpeechAPI::Activate(TBaseVoiceClass*)
{
    // A finished notification still on its way belongs to the text the owner has left.
    FinishedTimer.stop();
    FinishedNotified = false;
    Cancelled = false;
    EngineFinished = false;
    LastError.clear();
}

void TSpeechAPI::Play(const QString& text, TBaseVoiceClass* voice)
{
    Activate(voice);
    PlayText(text);
}

void TSpeechAPI::PlayText(const QString&)
{
    FinishedNotified = false;
}

QString TSpeechAPI::ReadTextFile(const QString& fileName, int startOffset, bool* ok)
{
    *ok = false;
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly)) {
        UtilsClass::Log(QStringLiteral("Cannot read ") + fileName + QStringLiteral(": ") + f.errorString());
        return {};
    }
    const QString text = QString::fromUtf8(f.readAll());
    *ok = true;
    return text.mid(std::clamp(startOffset, 0, int(text.size())));
}

bool TSpeechAPI::PlayStream(const QString& fileName, TBaseVoiceClass* voice, int startOffset)
{
    bool ok = false;
    const QString text = ReadTextFile(fileName, startOffset, &ok);
    if (!ok)
        return false;
    Play(text, voice);
    return true;
}

bool TSpeechAPI::PlayToFileInit(TBaseVoiceClass*, const QString& wavPath)
{
    UtilsClass::Log(QStringLiteral("Entered TSpeechAPI PlayToFileInit"));
    FinishedTimer.stop();
    TotalLength = 0;
    FinishedNotified = false;
    Cancelled = false;
    EngineFinished = false;
    LastError.clear();
    const QString native = QDir::fromNativeSeparators(wavPath);
    const int slash = native.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash >= 0 ? native.left(slash + 1) : QString();
    if (folder.trimmed().isEmpty()) {
        ReportError(QStringLiteral("Output Directory must be specified"));
        return false;
    }
    if (!QFileInfo(folder).isDir()) {
        ReportError(QStringLiteral("Output Directory ") + QDir::toNativeSeparators(folder) + QStringLiteral(" is not valid"));
        return false;
    }
    OutputFile = wavPath;
    return true;
}

bool TSpeechAPI::PlayToFile(int, const QString&)
{
    FinishedNotified = false;
    return true;
}

bool TSpeechAPI::PlayStreamToFile(int reserved, const QString& fileName, int startOffset)
{
    bool ok = false;
    const QString text = ReadTextFile(fileName, startOffset, &ok);
    if (!ok)
        return false;
    return PlayToFile(reserved, text);
}

void TSpeechAPI::AudioReset()
{
    UtilsClass::Log(QStringLiteral("Entered TSpeechAPI AudioReset"));
    Cancelled = true;
}

void TSpeechAPI::TTSFinishedHandler()
{
    UtilsClass::Log(QStringLiteral("Entered TSpeechAPI TTSFinishedHandler"));
    if (Paused)
        return;
    UtilsClass::Log(QStringLiteral("Processing TTSFinished"));
    EngineFinished = true;
    EndedAtMs = ClockMs();
    if (FinishedNotified)
        return;
    FinishedNotified = true;
    if (OnFinished)
        FinishedTimer.start();
}

qint64 TSpeechAPI::ClockMs()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

void TSpeechAPI::FinishedTimerTick()
{
    FinishedTimer.stop();
    if (OnFinished)
        OnFinished(this, Cancelled);
}

void TSpeechAPI::WordPositionEvent(int position)
{
    if (OnWordPosition)
        OnWordPosition(this, 0, TotalLength, position);
}

void TSpeechAPI::StreamPositionEvent(int64_t position)
{
    if (OnWordPosition)
        OnWordPosition(this, 1, -1, int(std::min<int64_t>(position, INT32_MAX)));
}

void TSpeechAPI::ReportOutputError(const QString& message)
{
    UtilsClass::Log(QStringLiteral("Speech output failed: ") + message);
    LastError = message;
    Cancelled = true;
    ReportError(message);
}

void TSpeechAPI::ReportError(const QString& message)
{
    if (OnError)
        OnError(this, message);
    else
        Dialogs().ShowError(message);
}

void TSpeechAPI::RequireStore() const
{
    if (!Store)
        throw ESpeechAPIError(QStringLiteral("The voice settings must be set before the voices are loaded"));
}

int TSpeechAPI::AvailableDevice(int deviceId)
{
    if (deviceId == -1)
        return -1;
    std::vector<TPulseSinkInfo> sinks;
    TPulseAudio::Instance().ListSinks(sinks);
    if (deviceId >= 0 && deviceId < int(sinks.size()))
        return deviceId;
    UtilsClass::Log(QStringLiteral("Audio device %1 is not available, using the default device").arg(deviceId));
    return -1;
}

bool TSpeechAPI::CheckDevice(int deviceId)
{
    UtilsClass::Log(QStringLiteral("Checking audio device %1").arg(deviceId));
    QString error;
    std::vector<TPulseSinkInfo> sinks;
    TPulseAudio::Instance().ListSinks(sinks, &error);
    if (sinks.empty())
        error = QStringLiteral("No wave out devices available on system.");
    else if (deviceId < -1 || deviceId >= int(sinks.size()))
        error = QStringLiteral("The value specified for the AudioDeviceID is outside the range of available IDs");
    else if (WaveOutTestOpen(deviceId, &error) == woOk)
        return true;
    UtilsClass::Log(QStringLiteral("Audio device check failed: ") + error);
    if (!error.isEmpty())
        ReportError(error);
    ReportError(QStringLiteral("Audio device check failed. \rVerify that the device you have selected is a valid audio "
                               "device\r\rPlease contact Quenrad Support if you're having problems"));
    return false;
}

int TSpeechAPI::StoreInt(const QString& name, int fallback) const
{
    if (!Store || !Store->HasItem(name))
        return fallback;
    bool ok = false;
    const int v = Store->GetValue(name).toInt(&ok);
    return ok ? v : fallback;
}
