#pragma once
// Sound output through the PulseAudio server: the list of output devices (sinks), the test
// open used to tell a busy or broken device, and the playback stream the engine layers
// write their audio into. One connection per process, driven by libpulse's threaded
// mainloop; every wait on it is bounded so a dead or vanished server never hangs a caller.
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

struct pa_threaded_mainloop;
struct pa_context;
struct pa_stream;
struct pa_operation;

// What the server tells about one output device.
struct TPulseSinkInfo {
    uint32_t Index = 0;      // the server's own index
    QString Name;            // e.g. "alsa_output.pci-0000_00_1b.0.analog-stereo"
    QString Description;     // the human-readable name
    QString Driver;
    QString SampleFormat;    // e.g. "s16le"
    int Rate = 0;
    int Channels = 0;
    QString ChannelMap;      // e.g. "front-left,front-right"
    QString State;           // "running", "idle", "suspended"
    bool HardwareVolume = false;
    bool DecibelVolume = false;
    bool Latency = false;
    bool Hardware = false;
    bool FlatVolume = false;
    uint32_t OwnerModule = 0;
    uint32_t Card = 0;       // PA_INVALID_INDEX when none
};

class TPulseAudio {
public:
    static TPulseAudio& Instance();

    // Connects when not connected (or after the server went away). False when no server runs.
    bool Connect(QString* error = nullptr);
    // The output devices in the server's order; false (and an empty list) without a server.
    bool ListSinks(std::vector<TPulseSinkInfo>& sinks, QString* error = nullptr);
    // The name of the default output device; empty without a server.
    QString DefaultSinkName();
    // Device id -1 is the default device (empty name), 0..n-1 the sinks in list order.
    // False when the id is outside that range or no server runs.
    bool SinkNameForId(int deviceId, QString& name, QString* error = nullptr);
    // Opens a 22 050 Hz mono 16-bit stream on the device and closes it again.
    bool TestOpen(int deviceId, QString* error = nullptr);
    // The protocol version of the connected server; 0 when there is no working connection.
    uint32_t ServerProtocolVersion();

    // For TPulseStream. A reconnect on another thread replaces them at any time: take both
    // with Connection().
    pa_threaded_mainloop* Mainloop() const { return mainloop; }
    pa_context* Context() const { return context; }
    // The current connection, taken together; false (both null) without one.
    bool Connection(pa_threaded_mainloop*& loop, pa_context*& ctx);
    // Runs an operation to its end or until timeoutMs passed. Call with the mainloop locked
    // and the connection held (connectMutex), as ListSinks does.
    bool WaitOperation(pa_operation* op, int timeoutMs);
    void Lock();
    void Unlock();

    ~TPulseAudio();

private:
    TPulseAudio() = default;
    // Connect with connectMutex held. Everything that uses the connection holds the mutex,
    // so a reconnect cannot replace the connection under it.
    bool ConnectLocked(QString* error);
    void Disconnect();
    static void ContextStateCallback(pa_context* c, void* userdata);

    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* context = nullptr;
    bool everReady = false;
    std::mutex connectMutex;
    // Connections replaced after the server went away. Streams opened on them may still be
    // closing on another thread, so they are stopped but never freed.
    std::vector<std::pair<pa_threaded_mainloop*, pa_context*>> retired;
};

// One playback stream of 16-bit samples on one device. Writing, draining and closing are
// done by the synthesis thread; pausing, aborting and the position may be used from any thread.
class TPulseStream {
public:
    TPulseStream();
    ~TPulseStream();
    TPulseStream(const TPulseStream&) = delete;
    TPulseStream& operator=(const TPulseStream&) = delete;

    // Empty sinkName plays on the default device.
    bool Open(const QString& sinkName, int rate, int channels, QString* error);
    // Queues the samples, waiting while the device's buffer is full. False when aborted or
    // when the device failed (Error() tells).
    bool Write(const int16_t* samples, size_t count);
    // Waits until everything written has been played. False when aborted or failed.
    bool Drain();
    // Pause (cork) or continue playing.
    void SetPaused(bool paused);
    // Drops the queued audio at once and wakes the writer; the stream is useless afterwards.
    void Abort();
    // Time played so far in microseconds (0 before the start).
    int64_t PlayedUsec();
    // Frames written so far.
    int64_t FramesWritten() const { return framesWritten.load(); }
    int Rate() const { return sampleRate; }
    bool Failed() const { return failed.load(); }
    QString Error() const;
    void Close();

private:
    static void StateCallback(pa_stream* s, void* userdata);
    static void WriteCallback(pa_stream* s, size_t nbytes, void* userdata);
    static void DrainCallback(pa_stream* s, int success, void* userdata);
    void Fail(const QString& message);
    void Wake();

    void LockLoop();
    void UnlockLoop();

    pa_threaded_mainloop* loop = nullptr; // the connection the stream was opened on
    pa_context* ctx = nullptr;
    pa_stream* stream = nullptr;
    int sampleRate = 0;
    int channelCount = 1;
    std::atomic<bool> aborted{false};
    std::atomic<bool> failed{false};
    std::atomic<bool> paused{false};
    std::atomic<int64_t> framesWritten{0};
    std::atomic<int64_t> pausedAt{0};
    mutable std::mutex waitMutex;
    std::condition_variable wake;
    QString errorText;
    int drainState = 0; // 0 none, 1 running, 2 done, 3 failed
};

// The sound devices as the program's device choice sees them: id -1 is the default device,
// 0..n-1 the devices in the server's order.
struct TWaveOutCaps {
    QString ProductName;      // up to 31 characters
    uint16_t ManufacturerId = 0;
    uint16_t ProductId = 0;
    uint32_t DriverVersion = 0;
    uint32_t Formats = 0;     // bits 0..11: the twelve standard PCM formats
    int Channels = 0;
    uint32_t Support = 0;     // 1 pitch, 2 playback rate, 4 volume, 8 left/right volume, 16 sync, 32 sample accurate
    TPulseSinkInfo Sink;      // what the server tells about it
};
int WaveOutGetNumDevs();
bool WaveOutGetDevCaps(int deviceId, TWaveOutCaps& caps);
enum TWaveOutOpenResult { woOk = 0, woBusy = 1, woError = 2 };
// Opens the device for 22 050 Hz mono 16-bit output and closes it again.
TWaveOutOpenResult WaveOutTestOpen(int deviceId, QString* error = nullptr);
