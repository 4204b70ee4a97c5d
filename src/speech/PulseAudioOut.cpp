#include "speech/PulseAudioOut.h"

#include "core/BaseUtils.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <thread>

namespace {
constexpr int ConnectTimeoutMs = 3000;
constexpr int OperationTimeoutMs = 3000;
constexpr int StallTimeoutMs = 5000;

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

QString StateName(pa_sink_state_t s)
{
    switch (s) {
    case PA_SINK_RUNNING: return QStringLiteral("running");
    case PA_SINK_IDLE: return QStringLiteral("idle");
    case PA_SINK_SUSPENDED: return QStringLiteral("suspended");
    default: return QStringLiteral("unknown");
    }
}
} // namespace

TPulseAudio& TPulseAudio::Instance()
{
    static TPulseAudio instance;
    return instance;
}

TPulseAudio::~TPulseAudio()
{
    // Process exit: stop the event thread so no callback runs during static destruction.
    if (mainloop)
        pa_threaded_mainloop_stop(mainloop);
}

void TPulseAudio::Lock()
{
    if (mainloop)
        pa_threaded_mainloop_lock(mainloop);
}

void TPulseAudio::Unlock()
{
    if (mainloop)
        pa_threaded_mainloop_unlock(mainloop);
}

void TPulseAudio::ContextStateCallback(pa_context*, void* userdata)
{
    auto* self = static_cast<TPulseAudio*>(userdata);
    pa_threaded_mainloop_signal(self->mainloop, 0);
}

void TPulseAudio::Disconnect()
{
    if (mainloop && context && !everReady) {
        // Never connected: no stream can use it, so it is freed at once.
        pa_threaded_mainloop_stop(mainloop);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        pa_threaded_mainloop_free(mainloop);
    } else if (mainloop && context) {
        pa_threaded_mainloop_lock(mainloop);
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_threaded_mainloop_unlock(mainloop);
        retired.emplace_back(mainloop, context);
    } else if (mainloop) {
        pa_threaded_mainloop_free(mainloop);
    }
    mainloop = nullptr;
    context = nullptr;
    everReady = false;
}

bool TPulseAudio::Connect(QString* error)
{
    std::lock_guard<std::mutex> guard(connectMutex);
    return ConnectLocked(error);
}

bool TPulseAudio::Connection(pa_threaded_mainloop*& loop, pa_context*& ctx)
{
    std::lock_guard<std::mutex> guard(connectMutex);
    loop = mainloop;
    ctx = context;
    return loop && ctx;
}

uint32_t TPulseAudio::ServerProtocolVersion()
{
    std::lock_guard<std::mutex> guard(connectMutex);
    if (!mainloop || !context)
        return 0;
    pa_threaded_mainloop_lock(mainloop);
    uint32_t version = 0;
    if (pa_context_get_state(context) == PA_CONTEXT_READY)
        version = pa_context_get_server_protocol_version(context);
    pa_threaded_mainloop_unlock(mainloop);
    return version == PA_INVALID_INDEX ? 0 : version;
}

bool TPulseAudio::ConnectLocked(QString* error)
{
    if (mainloop && context) {
        pa_threaded_mainloop_lock(mainloop);
        const pa_context_state_t st = pa_context_get_state(context);
        pa_threaded_mainloop_unlock(mainloop);
        if (st == PA_CONTEXT_READY)
            return true;
        // The server went away (or never answered): start over.
        Disconnect();
    }
    mainloop = pa_threaded_mainloop_new();
    if (!mainloop) {
        if (error)
            *error = QStringLiteral("Could not create the sound server connection");
        return false;
    }
    context = pa_context_new(pa_threaded_mainloop_get_api(mainloop), "Vorlix");
    if (!context) {
        Disconnect();
        if (error)
            *error = QStringLiteral("Could not create the sound server connection");
        return false;
    }
    pa_context_set_state_callback(context, &TPulseAudio::ContextStateCallback, this);
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        const QString msg = QString::fromUtf8(pa_strerror(pa_context_errno(context)));
        pa_context_unref(context);
        context = nullptr;
        Disconnect();
        if (error)
            *error = QStringLiteral("No sound server: ") + msg;
        return false;
    }
    if (pa_threaded_mainloop_start(mainloop) < 0) {
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
        Disconnect();
        if (error)
            *error = QStringLiteral("Could not start the sound server connection");
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        pa_threaded_mainloop_lock(mainloop);
        const pa_context_state_t st = pa_context_get_state(context);
        const int err = pa_context_errno(context);
        pa_threaded_mainloop_unlock(mainloop);
        if (st == PA_CONTEXT_READY) {
            everReady = true;
            return true;
        }
        if (!PA_CONTEXT_IS_GOOD(st)) {
            Disconnect();
            if (error)
                *error = QStringLiteral("No sound server: ") + QString::fromUtf8(pa_strerror(err));
            return false;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(ConnectTimeoutMs)) {
            Disconnect();
            if (error)
                *error = QStringLiteral("No sound server: the server does not answer");
            return false;
        }
        SleepMs(2);
    }
}

bool TPulseAudio::WaitOperation(pa_operation* op, int timeoutMs)
{
    if (!op)
        return false;
    const auto start = std::chrono::steady_clock::now();
    bool done = false;
    for (;;) {
        const pa_operation_state_t st = pa_operation_get_state(op);
        if (st != PA_OPERATION_RUNNING) {
            done = st == PA_OPERATION_DONE;
            break;
        }
        if (pa_context_get_state(context) != PA_CONTEXT_READY
            || std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs)) {
            pa_operation_cancel(op);
            break;
        }
        pa_threaded_mainloop_unlock(mainloop);
        SleepMs(1);
        pa_threaded_mainloop_lock(mainloop);
    }
    pa_operation_unref(op);
    return done;
}

namespace {
struct SinkListState {
    std::vector<TPulseSinkInfo>* Sinks;
};

void SinkInfoCallback(pa_context*, const pa_sink_info* i, int eol, void* userdata)
{
    if (eol || !i)
        return;
    auto* st = static_cast<SinkListState*>(userdata);
    TPulseSinkInfo s;
    s.Index = i->index;
    s.Name = QString::fromUtf8(i->name ? i->name : "");
    s.Description = QString::fromUtf8(i->description ? i->description : "");
    s.Driver = QString::fromUtf8(i->driver ? i->driver : "");
    s.SampleFormat = QString::fromUtf8(pa_sample_format_to_string(i->sample_spec.format));
    s.Rate = int(i->sample_spec.rate);
    s.Channels = int(i->sample_spec.channels);
    char map[PA_CHANNEL_MAP_SNPRINT_MAX];
    pa_channel_map_snprint(map, sizeof map, &i->channel_map);
    s.ChannelMap = QString::fromUtf8(map);
    s.State = StateName(i->state);
    s.HardwareVolume = i->flags & PA_SINK_HW_VOLUME_CTRL;
    s.DecibelVolume = i->flags & PA_SINK_DECIBEL_VOLUME;
    s.Latency = i->flags & PA_SINK_LATENCY;
    s.Hardware = i->flags & PA_SINK_HARDWARE;
    s.FlatVolume = i->flags & PA_SINK_FLAT_VOLUME;
    s.OwnerModule = i->owner_module;
    s.Card = i->card;
    st->Sinks->push_back(s);
}

void ServerInfoCallback(pa_context*, const pa_server_info* i, void* userdata)
{
    if (i && i->default_sink_name)
        *static_cast<QString*>(userdata) = QString::fromUtf8(i->default_sink_name);
}
} // namespace

bool TPulseAudio::ListSinks(std::vector<TPulseSinkInfo>& sinks, QString* error)
{
    sinks.clear();
    std::lock_guard<std::mutex> guard(connectMutex);
    if (!ConnectLocked(error))
        return false;
    SinkListState st{&sinks};
    pa_threaded_mainloop_lock(mainloop);
    const bool ok = WaitOperation(pa_context_get_sink_info_list(context, SinkInfoCallback, &st), OperationTimeoutMs);
    pa_threaded_mainloop_unlock(mainloop);
    if (!ok) {
        sinks.clear();
        if (error)
            *error = QStringLiteral("The sound server did not list its devices");
    }
    return ok;
}

QString TPulseAudio::DefaultSinkName()
{
    std::lock_guard<std::mutex> guard(connectMutex);
    if (!ConnectLocked(nullptr))
        return {};
    QString name;
    pa_threaded_mainloop_lock(mainloop);
    WaitOperation(pa_context_get_server_info(context, ServerInfoCallback, &name), OperationTimeoutMs);
    pa_threaded_mainloop_unlock(mainloop);
    return name;
}

bool TPulseAudio::SinkNameForId(int deviceId, QString& name, QString* error)
{
    name.clear();
    std::vector<TPulseSinkInfo> sinks;
    if (!ListSinks(sinks, error))
        return false;
    if (sinks.empty()) {
        if (error)
            *error = QStringLiteral("No wave out devices available on system.");
        return false;
    }
    if (deviceId == -1)
        return true;
    if (deviceId < -1 || deviceId >= int(sinks.size())) {
        if (error)
            *error = QStringLiteral("Audio device %1 does not exist").arg(deviceId);
        return false;
    }
    name = sinks[size_t(deviceId)].Name;
    return true;
}

bool TPulseAudio::TestOpen(int deviceId, QString* error)
{
    QString sink;
    if (!SinkNameForId(deviceId, sink, error))
        return false;
    TPulseStream probe;
    const bool ok = probe.Open(sink, 22050, 1, error);
    probe.Close();
    return ok;
}

// ---------------------------------------------------------------------------------------

TPulseStream::TPulseStream() = default;

TPulseStream::~TPulseStream()
{
    Close();
}

void TPulseStream::Wake()
{
    std::lock_guard<std::mutex> g(waitMutex);
    wake.notify_all();
}

void TPulseStream::Fail(const QString& message)
{
    {
        std::lock_guard<std::mutex> g(waitMutex);
        if (!failed.load())
            errorText = message;
        failed = true;
    }
    wake.notify_all();
}

QString TPulseStream::Error() const
{
    std::lock_guard<std::mutex> g(waitMutex);
    return errorText;
}

void TPulseStream::StateCallback(pa_stream* s, void* userdata)
{
    auto* self = static_cast<TPulseStream*>(userdata);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
        if (!self->aborted.load())
            self->Fail(QStringLiteral("The audio device stopped: ")
                       + QString::fromUtf8(pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
    }
    self->Wake();
}

void TPulseStream::WriteCallback(pa_stream*, size_t, void* userdata)
{
    static_cast<TPulseStream*>(userdata)->Wake();
}

void TPulseStream::DrainCallback(pa_stream*, int success, void* userdata)
{
    auto* self = static_cast<TPulseStream*>(userdata);
    {
        std::lock_guard<std::mutex> g(self->waitMutex);
        self->drainState = success ? 2 : 3;
    }
    self->wake.notify_all();
}

void TPulseStream::LockLoop()
{
    if (loop)
        pa_threaded_mainloop_lock(loop);
}

void TPulseStream::UnlockLoop()
{
    if (loop)
        pa_threaded_mainloop_unlock(loop);
}

bool TPulseStream::Open(const QString& sinkName, int rate, int channels, QString* error)
{
    TPulseAudio& pa = TPulseAudio::Instance();
    QString err;
    if (!pa.Connect(&err)) {
        if (error)
            *error = err;
        return false;
    }
    // Taken together so a reconnect on another thread cannot swap them midway. A connection
    // replaced later is stopped but never freed, so the stream may keep using it.
    if (!pa.Connection(loop, ctx)) {
        if (error)
            *error = QStringLiteral("No sound server");
        return false;
    }
    sampleRate = rate;
    channelCount = channels;
    pa_sample_spec sampleSpec;
    sampleSpec.format = PA_SAMPLE_S16LE;
    sampleSpec.rate = uint32_t(rate);
    sampleSpec.channels = uint8_t(channels);
    LockLoop();
    stream = pa_stream_new(ctx, "Vorlix speech", &sampleSpec, nullptr);
    if (!stream) {
        const QString msg = QString::fromUtf8(pa_strerror(pa_context_errno(ctx)));
        UnlockLoop();
        if (error)
            *error = QStringLiteral("Could not open the audio device: ") + msg;
        return false;
    }
    pa_stream_set_state_callback(stream, &TPulseStream::StateCallback, this);
    pa_stream_set_write_callback(stream, &TPulseStream::WriteCallback, this);
    // About a quarter of a second of buffer: output starts promptly, pause and stop are
    // immediate, and the synthesis never runs far ahead of what is heard.
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(pa_usec_to_bytes(250 * 1000, &sampleSpec));
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(-1);
    const QByteArray dev = sinkName.toUtf8();
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE
                                         | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream, sinkName.isEmpty() ? nullptr : dev.constData(), &attr, flags,
                                   nullptr, nullptr) < 0) {
        const QString msg = QString::fromUtf8(pa_strerror(pa_context_errno(ctx)));
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_unref(stream);
        stream = nullptr;
        UnlockLoop();
        if (error)
            *error = QStringLiteral("Could not open the audio device: ") + msg;
        return false;
    }
    const auto start = std::chrono::steady_clock::now();
    QString msg;
    bool ok = false;
    for (;;) {
        const pa_stream_state_t st = pa_stream_get_state(stream);
        if (st == PA_STREAM_READY) {
            ok = true;
            break;
        }
        if (!PA_STREAM_IS_GOOD(st)) {
            msg = QString::fromUtf8(pa_strerror(pa_context_errno(ctx)));
            break;
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(OperationTimeoutMs)) {
            msg = QStringLiteral("the device does not answer");
            break;
        }
        UnlockLoop();
        SleepMs(1);
        LockLoop();
    }
    UnlockLoop();
    if (!ok) {
        Close();
        if (error)
            *error = QStringLiteral("Could not open the audio device: ") + msg;
        return false;
    }
    return true;
}

bool TPulseStream::Write(const int16_t* samples, size_t count)
{
    const size_t frameBytes = size_t(2 * channelCount);
    size_t bytesLeft = (count * 2 / frameBytes) * frameBytes; // whole frames only
    const auto* data = reinterpret_cast<const uint8_t*>(samples);
    auto lastProgress = std::chrono::steady_clock::now();
    while (bytesLeft > 0) {
        if (aborted.load() || failed.load() || !stream)
            return false;
        LockLoop();
        if (!stream || !PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
            UnlockLoop();
            if (!aborted.load())
                Fail(QStringLiteral("The audio device stopped"));
            return false;
        }
        size_t writable = pa_stream_writable_size(stream);
        if (writable == size_t(-1)) {
            UnlockLoop();
            Fail(QStringLiteral("The audio device stopped: ")
                 + QString::fromUtf8(pa_strerror(pa_context_errno(ctx))));
            return false;
        }
        writable = (writable / frameBytes) * frameBytes;
        if (writable > 0) {
            const size_t n = std::min(writable, bytesLeft);
            if (pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                const QString msg = QString::fromUtf8(pa_strerror(pa_context_errno(ctx)));
                UnlockLoop();
                Fail(QStringLiteral("The audio device stopped: ") + msg);
                return false;
            }
            UnlockLoop();
            data += n;
            bytesLeft -= n;
            framesWritten += int64_t(n / frameBytes);
            lastProgress = std::chrono::steady_clock::now();
            continue;
        }
        UnlockLoop();
        if (paused.load()) {
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::milliseconds(StallTimeoutMs)) {
            Fail(QStringLiteral("The audio device stopped playing"));
            return false;
        }
        std::unique_lock<std::mutex> lk(waitMutex);
        wake.wait_for(lk, std::chrono::milliseconds(20));
    }
    return true;
}

bool TPulseStream::Drain()
{
    if (!stream || aborted.load() || failed.load())
        return false;
    {
        std::lock_guard<std::mutex> g(waitMutex);
        drainState = 1;
    }
    LockLoop();
    pa_operation* op = pa_stream_drain(stream, &TPulseStream::DrainCallback, this);
    UnlockLoop();
    if (!op) {
        Fail(QStringLiteral("The audio device stopped"));
        return false;
    }
    // The expected time left bounds the wait; a stalled device fails instead of hanging.
    int64_t lastPlayed = PlayedUsec();
    auto lastProgress = std::chrono::steady_clock::now();
    bool result = false;
    for (;;) {
        {
            std::unique_lock<std::mutex> lk(waitMutex);
            wake.wait_for(lk, std::chrono::milliseconds(20));
            if (drainState == 2) {
                result = true;
                break;
            }
            if (drainState == 3)
                break;
        }
        if (aborted.load() || failed.load())
            break;
        const int64_t played = PlayedUsec();
        if (played != lastPlayed || paused.load()) {
            lastPlayed = played;
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::milliseconds(StallTimeoutMs)) {
            Fail(QStringLiteral("The audio device stopped playing"));
            break;
        }
    }
    LockLoop();
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa_operation_cancel(op);
    pa_operation_unref(op);
    UnlockLoop();
    return result && !failed.load();
}

void TPulseStream::SetPaused(bool p)
{
    // While corked the server reports the read position, which runs ahead of what was heard
    // by the device's latency; the position heard at the pause is kept instead.
    if (p && !paused.load())
        pausedAt = PlayedUsec();
    paused = p;
    LockLoop();
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation* op = pa_stream_cork(stream, p ? 1 : 0, nullptr, nullptr))
            pa_operation_unref(op);
    }
    UnlockLoop();
    Wake();
}

void TPulseStream::Abort()
{
    aborted = true;
    LockLoop();
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_operation* op = pa_stream_flush(stream, nullptr, nullptr))
            pa_operation_unref(op);
        if (pa_operation* op = pa_stream_cork(stream, 1, nullptr, nullptr))
            pa_operation_unref(op);
    }
    UnlockLoop();
    Wake();
}

int64_t TPulseStream::PlayedUsec()
{
    if (paused.load())
        return pausedAt.load();
    pa_usec_t t = 0;
    LockLoop();
    if (stream && pa_stream_get_state(stream) == PA_STREAM_READY) {
        if (pa_stream_get_time(stream, &t) < 0)
            t = 0;
    }
    UnlockLoop();
    return int64_t(t);
}

void TPulseStream::Close()
{
    if (!stream)
        return;
    LockLoop();
    pa_stream_set_state_callback(stream, nullptr, nullptr);
    pa_stream_set_write_callback(stream, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)))
        pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
    UnlockLoop();
}

// ---------------------------------------------------------------------------------------

int WaveOutGetNumDevs()
{
    std::vector<TPulseSinkInfo> sinks;
    TPulseAudio::Instance().ListSinks(sinks);
    return int(sinks.size());
}

bool WaveOutGetDevCaps(int deviceId, TWaveOutCaps& caps)
{
    caps = TWaveOutCaps{};
    std::vector<TPulseSinkInfo> sinks;
    if (!TPulseAudio::Instance().ListSinks(sinks) || sinks.empty())
        return false;
    const TPulseSinkInfo* sink = nullptr;
    if (deviceId == -1) {
        const QString def = TPulseAudio::Instance().DefaultSinkName();
        for (const auto& s : sinks)
            if (s.Name == def)
                sink = &s;
        if (!sink)
            sink = &sinks.front();
    } else if (deviceId >= 0 && deviceId < int(sinks.size())) {
        sink = &sinks[size_t(deviceId)];
    } else {
        return false;
    }
    caps.Sink = *sink;
    caps.ProductName = sink->Description.left(31);
    caps.ManufacturerId = uint16_t(sink->Card == PA_INVALID_INDEX ? 0xFFFF : sink->Card);
    caps.ProductId = uint16_t(sink->Index);
    // The server may have gone since the list was read.
    caps.DriverVersion = TPulseAudio::Instance().ServerProtocolVersion();
    if (caps.DriverVersion == 0) {
        caps = TWaveOutCaps{};
        return false;
    }
    // The server converts every standard PCM format to the device's own.
    caps.Formats = 0xFFF;
    caps.Channels = sink->Channels;
    caps.Support = 4u | 32u | (sink->Channels >= 2 ? 8u : 0u);
    return true;
}

TWaveOutOpenResult WaveOutTestOpen(int deviceId, QString* error)
{
    QString err;
    if (TPulseAudio::Instance().TestOpen(deviceId, &err))
        return woOk;
    if (error)
        *error = err;
    return err.contains(QString::fromUtf8(pa_strerror(PA_ERR_BUSY))) ? woBusy : woError;
}
