#include "speech/TTS.h"

#include "core/BaseUtils.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <mutex>

extern "C" {
#include <flite/flite.h>
cst_voice* register_cmu_us_kal(const char* voxdir);
cst_voice* register_cmu_us_kal16(const char* voxdir);
cst_voice* register_cmu_us_slt(const char* voxdir);
cst_voice* register_cmu_us_awb(const char* voxdir);
cst_voice* register_cmu_us_rms(const char* voxdir);
}

namespace {
TSynthWorker& FliteWorker()
{
    static TSynthWorker worker("flite");
    return worker;
}

std::once_flag fliteInitOnce;
std::vector<TTTSModeInfo> fliteModes;
std::vector<cst_voice*> fliteVoices; // same order as fliteModes

QByteArray Guid(unsigned char tag)
{
    // Fixed identifiers so the modes keep their ids from run to run.
    QByteArray g(16, '\0');
    const char base[] = "VorlixFliteMode";
    for (int i = 0; i < 15; ++i)
        g[i] = base[i];
    g[15] = char(tag);
    return g;
}

void InitialiseFlite()
{
    std::call_once(fliteInitOnce, [] {
        FliteWorker().RunAndWait([] {
            flite_init();
            struct Reg {
                const char* Name;
                const char* Speaker;
                const char* Gender;
                cst_voice* (*Register)(const char*);
            };
            const Reg regs[] = {
                {"kal", "Kal", "Male", register_cmu_us_kal},   {"kal16", "Kal16", "Male", register_cmu_us_kal16},
                {"slt", "Slt", "Female", register_cmu_us_slt}, {"awb", "Awb", "Male", register_cmu_us_awb},
                {"rms", "Rms", "Male", register_cmu_us_rms},
            };
            unsigned char n = 0;
            for (const Reg& r : regs) {
                cst_voice* v = r.Register(nullptr);
                ++n;
                if (!v) {
                    UtilsClass::Log(QStringLiteral("Flite voice could not be registered: ") + QLatin1String(r.Name));
                    continue;
                }
                TTTSModeInfo m;
                m.EngineId = Guid(0);
                m.ModeId = Guid(n);
                m.MfgName = QStringLiteral("Carnegie Mellon University");
                m.ProductName = QStringLiteral("Flite");
                m.Speaker = QLatin1String(r.Speaker);
                m.Gender = QLatin1String(r.Gender);
                m.ModeName = QStringLiteral("Flite ") + m.Speaker;
                m.LanguageId = 1033;
                m.Features = TTSFEATURE_VOLUME | TTSFEATURE_SPEED | TTSFEATURE_PITCH | TTSFEATURE_TAGGED;
                m.Interfaces = TTSI_ITTSATTRIBUTES;
                m.FliteVoice = QLatin1String(r.Name);
                m.DefaultPitch = int(get_param_float(v->features, "int_f0_target_mean", 100.0f));
                cst_wave* w = flite_text_to_wave("a", v);
                m.SampleRate = w ? w->sample_rate : 16000;
                if (w)
                    delete_wave(w);
                fliteModes.push_back(m);
                fliteVoices.push_back(v);
            }
        });
    });
}

struct TFliteJob {
    TSpeechRun* Run = nullptr;
    const std::vector<int>* BytePositions = nullptr; // UTF-8 byte -> source position
    int Rate = 16000;
    float Gain = 1.0f;
    int64_t LastMark = 0;
    bool Stop = false;
    std::vector<int16_t> Buffer;
};

void AddUtteranceMarks(TFliteJob* job, const cst_utterance* utt)
{
    const int64_t base = job->Run->SamplesWritten();
    const auto& map = *job->BytePositions;
    if (map.empty())
        return;
    for (const cst_item* t = relation_head(utt_relation(utt, "Token")); t; t = item_next(t)) {
        if (!item_feat_present(t, "file_pos"))
            continue;
        const cst_item* w = item_daughter(t);
        if (!w)
            continue; // punctuation only: nothing is said
        const int fp = std::clamp(item_feat_int(t, "file_pos"), 0, int(map.size()) - 1);
        const int bytes = int(strlen(item_feat_string(t, "name")));
        const int fe = std::clamp(fp + std::max(bytes, 1) - 1, 0, int(map.size()) - 1);
        const float start = ffeature_float(w, "R:SylStructure.daughter1.daughter1.R:Segment.p.end");
        int64_t sample = base + int64_t(double(start) * job->Rate);
        sample = std::max(sample, job->LastMark);
        job->LastMark = sample;
        job->Run->AddMark(sample, map[size_t(fp)], std::max(1, map[size_t(fe)] - map[size_t(fp)] + 1));
    }
}

int StreamCallback(const cst_wave* w, int start, int size, int, cst_audio_streaming_info* asi)
{
    auto* job = static_cast<TFliteJob*>(asi->userdata);
    if (job->Stop || job->Run->Cancelled()) {
        job->Stop = true;
        return CST_AUDIO_STREAM_STOP;
    }
    if (start == 0 && asi->utt)
        AddUtteranceMarks(job, asi->utt);
    if (size <= 0)
        return CST_AUDIO_STREAM_CONT;
    job->Buffer.resize(size_t(size));
    const short* src = w->samples + start;
    for (int i = 0; i < size; ++i)
        job->Buffer[size_t(i)] = int16_t(std::clamp(int(src[i] * job->Gain), -32768, 32767));
    if (!job->Run->Write(job->Buffer.data(), size_t(size))) {
        job->Stop = true;
        return CST_AUDIO_STREAM_STOP;
    }
    return CST_AUDIO_STREAM_CONT;
}

void RunFliteJob(const std::shared_ptr<TSpeechRun>& run, const std::vector<TTaggedPart>& parts, size_t voiceIndex,
                 int pitch, uint32_t speed, float gain)
{
    if (!run->TryStart())
        return;
    cst_voice* voice = fliteVoices[voiceIndex];
    const int rate = fliteModes[voiceIndex].SampleRate;
    if (!run->Begin(rate)) {
        run->Finish();
        return;
    }
    cst_audio_streaming_info* asi = new_audio_streaming_info();
    asi->asc = &StreamCallback;
    TFliteJob job;
    job.Run = run.get();
    job.Rate = rate;
    job.Gain = gain;
    asi->userdata = &job;
    feat_set(voice->features, "streaming_info", audio_streaming_info_val(asi));
    for (const TTaggedPart& p : parts) {
        if (run->Cancelled() || job.Stop)
            break;
        if (p.IsPause) {
            if (!run->WriteSilence(p.Milliseconds))
                break;
            continue;
        }
        const int partPitch = p.Pitch > 0 ? std::clamp(p.Pitch, FlitePitchMin, FlitePitchMax) : pitch;
        const uint32_t partSpeed = p.Speed > 0 ? uint32_t(std::clamp(p.Speed, FliteSpeedMin, FliteSpeedMax)) : speed;
        feat_set_float(voice->features, "int_f0_target_mean", float(partPitch));
        feat_set_float(voice->features, "duration_stretch", float(FliteSpeedDefault) / float(partSpeed));
        // A trailing blank ends the last token the way the others end, so its position is right.
        const QByteArray utf8 = p.Text.toUtf8() + ' ';
        std::vector<int> byteMap;
        byteMap.reserve(size_t(utf8.size()));
        for (int k = 0; k < p.Text.size(); ++k) {
            const char32_t c = p.Text[k].unicode();
            if (p.Text[k].isLowSurrogate() && k > 0 && p.Text[k - 1].isHighSurrogate())
                continue;
            const int n = p.Text[k].isHighSurrogate() ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
            for (int b = 0; b < n; ++b)
                byteMap.push_back(p.Positions[size_t(k)]);
        }
        byteMap.push_back(p.Positions.empty() ? 0 : p.Positions.back());
        job.BytePositions = &byteMap;
        job.LastMark = run->SamplesWritten();
        cst_tokenstream* ts = ts_open_string(utf8.constData(), cst_ts_default_whitespacesymbols,
                                             cst_ts_default_singlecharsymbols, cst_ts_default_prepunctuationsymbols,
                                             cst_ts_default_postpunctuationsymbols);
        if (!ts) {
            run->SetError(QStringLiteral("Flite could not read the text"));
            break;
        }
        flite_ts_to_speech(ts, voice, "none"); // closes the token stream

    }
    feat_remove(voice->features, "streaming_info");
    run->Finish();
}
} // namespace

// ---------------------------------------------------------------------------------------

TTTSEnumerator::TTTSEnumerator()
{
    InitialiseFlite();
}

bool TTTSEnumerator::Next(TTTSModeInfo& info)
{
    const auto& m = Modes();
    if (cursor >= m.size())
        return false;
    info = m[cursor++];
    return true;
}

const std::vector<TTTSModeInfo>& TTTSEnumerator::Modes()
{
    InitialiseFlite();
    return fliteModes;
}

// ---------------------------------------------------------------------------------------

std::vector<TTaggedPart> ParseTaggedText(const QString& text, bool tagged)
{
    std::vector<TTaggedPart> out;
    TTaggedPart cur;
    int speed = 0, pitch = 0;
    auto flush = [&] {
        if (!cur.Text.trimmed().isEmpty()) {
            cur.Speed = speed;
            cur.Pitch = pitch;
            out.push_back(cur);
        }
        cur = TTaggedPart{};
    };
    static const QStringList dropped = {"Rst", "Emp", "Mrk", "Com", "Ctx", "Prn", "Prt", "Rmw", "Rms",
                                        "Vce", "Vol", "Chr", "Eng", "Lst", "Pra", "Rmm"};
    const int n = int(text.size());
    int i = 0;
    while (i < n) {
        const QChar c = text[i];
        if (tagged && c == QLatin1Char('\\')) {
            const int close = text.indexOf(QLatin1Char('\\'), i + 1);
            if (close > i + 3 && close - i < 256) {
                const QString body = text.mid(i + 1, close - i - 1);
                const QString name = body.left(3);
                const int eq = body.indexOf(QLatin1Char('='));
                const QString value = eq == 3 ? body.mid(4) : QString();
                bool numOk = false;
                const int num = value.toInt(&numOk);
                bool known = true;
                if (name.compare(QLatin1String("Pau"), Qt::CaseInsensitive) == 0 && eq == 3 && numOk && num >= 0) {
                    flush();
                    TTaggedPart pause;
                    pause.IsPause = true;
                    pause.Milliseconds = std::min(num, 60 * 60 * 1000);
                    out.push_back(pause);
                } else if (name.compare(QLatin1String("Spd"), Qt::CaseInsensitive) == 0 && eq == 3 && numOk) {
                    flush();
                    speed = num;
                } else if (name.compare(QLatin1String("Pit"), Qt::CaseInsensitive) == 0 && eq == 3 && numOk) {
                    flush();
                    pitch = num;
                } else if (name.compare(QLatin1String("Rst"), Qt::CaseInsensitive) == 0 && body.size() == 3) {
                    flush();
                    speed = pitch = 0;
                } else if (!(dropped.contains(name, Qt::CaseInsensitive) && (body.size() == 3 || eq == 3))) {
                    known = false;
                }
                if (known) {
                    i = close + 1;
                    continue;
                }
            }
        }
        const ushort u = c.unicode();
        QChar put = c;
        if ((u < 0x20 && u != '\n' && u != '\t') || u == 0x7F || (u >= 0x80 && u < 0xA0))
            put = QLatin1Char(' ');
        else if (c.isSurrogate() && !((c.isHighSurrogate() && i + 1 < n && text[i + 1].isLowSurrogate())
                                      || (c.isLowSurrogate() && i > 0 && text[i - 1].isHighSurrogate())))
            put = QLatin1Char(' ');
        cur.Text.append(put);
        cur.Positions.push_back(i);
        ++i;
    }
    flush();
    return out;
}

// ---------------------------------------------------------------------------------------

TTTS::TTTS(QObject* owner) : QObject(owner)
{
    pollTimer.setInterval(15);
    connect(&pollTimer, &QTimer::timeout, this, &TTTS::Poll);
    const auto& modes = TTTSEnumerator::Modes();
    if (modes.empty())
        throw ESpeechError(QStringLiteral("No Flite voices are available"));
    mode = modes.front();
    modeName = mode.ModeName;
    pitch = mode.DefaultPitch;
}

TTTS::~TTTS()
{
    StopQueue();
    if (file)
        file->Close();
}

bool TTTS::WaitQueue(int ms)
{
    const QDeadlineTimer deadline(ms);
    for (auto& it : queue)
        if (!it.Run->WaitDone(int(deadline.remainingTime())))
            return false;
    return true;
}

void TTTS::StopQueue()
{
    CancelAll();
    if (WaitQueue(StopTimeoutMs))
        return;
    UtilsClass::Log(QStringLiteral("Flite did not stop within %1 ms; its text writes nothing more").arg(StopTimeoutMs));
    for (auto& it : queue)
        it.Run->DetachWriter();
}

void TTTS::RequireActive(const char* what) const
{
    if (!active)
        throw ESpeechError(QStringLiteral("The Active property must be TRUE before the %1 method can be called")
                               .arg(QLatin1String(what)));
}


void TTTS::SetModeName(const QString& name)
{
    if (active)
        throw ESpeechError(QStringLiteral("The Active property must be FALSE before you can set the %1 property")
                               .arg(QStringLiteral("ModeName")));
    for (const auto& m : TTTSEnumerator::Modes())
        if (m.ModeName == name) {
            mode = m;
            modeName = name;
            pitch = m.DefaultPitch;
            return;
        }
    throw ESpeechError(QStringLiteral("The value assigned to the ModeName property is invalid"));
}

void TTTS::SetAudioDeviceID(int id)
{
    if (active)
        throw ESpeechError(QStringLiteral("The Active property must be FALSE before you can set the %1 property")
                               .arg(QStringLiteral("AudioDeviceID")));
    std::vector<TPulseSinkInfo> sinks;
    TPulseAudio::Instance().ListSinks(sinks);
    if (sinks.empty())
        return; // without output devices the id is ignored
    if (id < -1 || id >= int(sinks.size()))
        throw ESpeechError(QStringLiteral("The value specified for the AudioDeviceID is outside the range of available IDs"));
    audioDeviceId = id;
}

void TTTS::SetActive(bool flag)
{
    if (flag == active)
        return;
    if (!flag) {
        // A file gets everything still queued for it, paused or not; a device stops at once.
        if (OutputDest == odFile) {
            if (paused) {
                UtilsClass::Log(QStringLiteral("The file is closed while paused: the rest of the text is written first"));
                for (auto& it : queue)
                    it.Run->SetPaused(false);
            }
            paused = false;
            if (!WaitQueue(FileFinishTimeoutMs)) {
                UtilsClass::Log(QStringLiteral("The file %1 was not finished within %2 ms: the rest of the text is dropped")
                                    .arg(OutputFile)
                                    .arg(FileFinishTimeoutMs));
                StopQueue();
            }
        } else {
            StopQueue();
        }
        // What the texts had to tell is told now, not after the next text has started.
        QPointer<TTTS> self(this);
        Poll();
        if (!self)
            return;
        active = false;
        paused = false;
        if (file) {
            QString err;
            const bool ok = file->Close(&err);
            file.reset();
            if (!ok)
                throw ESpeechError(err);
        }
        return;
    }
    if (OutputDest == odAudioDevice) {
        QString err;
        std::vector<TPulseSinkInfo> sinks;
        TPulseAudio::Instance().ListSinks(sinks, &err);
        if (sinks.empty())
            throw ESpeechError(QStringLiteral("No wave out devices available on system."));
        if (!TPulseAudio::Instance().SinkNameForId(audioDeviceId, deviceSink, &err))
            throw ESpeechError(err);
        if (!TPulseAudio::Instance().TestOpen(audioDeviceId, &err))
            throw ESpeechError(err);
    } else if (OutputDest == odFile) {
        if (OutputFile.trimmed().isEmpty())
            throw ESpeechError(QStringLiteral("OutputDest of odFile requres a valid path and file name in the OutputFile property"));
        auto w = std::make_unique<TWavWriter>();
        QString err;
        if (!w->Open(OutputFile, mode.SampleRate, &err))
            throw ESpeechError(err);
        file = std::move(w);
    } else if (OutputDest != odDirect) {
        throw ESpeechError(QStringLiteral("Only the audio device and file destinations are available"));
    }
    if (ControlTags == ctTagged && !(mode.Features & TTSFEATURE_TAGGED))
        throw ESpeechError(QStringLiteral("%1 is not implemented in the %2 engine").arg(QStringLiteral("Control Tagging"), modeName));
    paused = false;
    active = true;
}

void TTTS::Speak(const QString& text)
{
    RequireActive("Speak");
    size_t index = 0;
    const auto& modes = TTTSEnumerator::Modes();
    while (index < modes.size() && modes[index].ModeName != mode.ModeName)
        ++index;
    if (index >= modes.size())
        throw ESpeechError(QStringLiteral("The value assigned to the ModeName property is invalid"));
    if (OutputDest != odAudioDevice && OutputDest != odFile)
        throw ESpeechError(QStringLiteral("Speak method failed. ") + QStringLiteral(" ") + QStringLiteral("csText"));
    std::vector<TTaggedPart> parts = ParseTaggedText(text, ControlTags == ctTagged);
    Item item;
    item.Run = OutputDest == odFile ? TSpeechRun::ToFile(file.get()) : TSpeechRun::ToDevice(deviceSink);
    if (paused)
        item.Run->SetPaused(true);
    const float gain = float(std::max(volumeL, volumeR)) / float(FliteVolumeMax);
    auto run = item.Run;
    FliteWorker().Post([run, parts = std::move(parts), index, p = pitch, s = speed, gain] {
        RunFliteJob(run, parts, index, p, s, gain);
    });
    queue.push_back(item);
    if (OnTextDataStarted)
        QTimer::singleShot(0, this, [this] {
            if (OnTextDataStarted)
                OnTextDataStarted(this);
        });
    if (!pollTimer.isActive())
        pollTimer.start();
}

void TTTS::SetAudioPaused(bool flag)
{
    RequireActive("AudioPaused");
    paused = flag;
    for (auto& it : queue)
        it.Run->SetPaused(flag);
}

void TTTS::CancelAll()
{
    for (auto& it : queue)
        it.Run->Cancel();
}

void TTTS::AudioReset()
{
    RequireActive("AudioReset");
    paused = false;
    CancelAll();
}

void TTTS::RealTimeSet(uint16_t value)
{
    if (OutputDest != odFile)
        throw ESpeechError(QStringLiteral("The real-time rate applies to a file destination only"));
    realTime = value;
}

int TTTS::Pitch() const
{
    RequireActive("Pitch");
    return pitch;
}

void TTTS::SetPitch(uint16_t hz)
{
    RequireActive("Pitch");
    pitch = std::clamp(int(hz), FlitePitchMin, FlitePitchMax);
}

uint32_t TTTS::Speed() const
{
    RequireActive("Speed");
    return speed;
}

void TTTS::SetSpeed(uint32_t wpm)
{
    RequireActive("Speed");
    speed = std::clamp<uint32_t>(wpm, FliteSpeedMin, FliteSpeedMax);
}

uint32_t TTTS::VolumeL() const
{
    RequireActive("VolumeL");
    return volumeL;
}

void TTTS::SetVolumeL(uint32_t v)
{
    RequireActive("VolumeL");
    volumeL = std::min<uint32_t>(v, FliteVolumeMax);
}

uint32_t TTTS::VolumeR() const
{
    RequireActive("VolumeR");
    return volumeR;
}

void TTTS::SetVolumeR(uint32_t v)
{
    RequireActive("VolumeR");
    volumeR = std::min<uint32_t>(v, FliteVolumeMax);
}

int64_t TTTS::OutputPosition()
{
    if (file)
        return file->BytesWritten();
    return queue.empty() ? 0 : queue.front().Run->StreamPosition();
}

void TTTS::Poll()
{
    QPointer<TTTS> self(this);
    while (self && !queue.empty()) {
        Item& front = queue.front();
        auto run = front.Run;
        const auto marks = run->TakeDueMarks();
        if (!front.StartSeen && run->Started()) {
            front.StartSeen = true;
            if (OnAudioStart)
                OnAudioStart(this);
            if (!self)
                return;
        }
        for (const auto& m : marks) {
            if (OnWordPosition)
                OnWordPosition(this, int64_t(m.Position) * 2);
            if (!self)
                return;
        }
        if (!run->Done())
            break;
        queue.pop_front();
        const QString error = run->ErrorText();
        if (!error.isEmpty()) {
            UtilsClass::Log(QStringLiteral("Speech output error: ") + error);
            if (OnError)
                OnError(this, error);
            if (!self)
                return;
        }
        if (OnTextDataDone)
            OnTextDataDone(this);
        if (!self)
            return;
        if (OnAudioStop)
            OnAudioStop(this);
    }
    if (self && queue.empty())
        pollTimer.stop();
}
