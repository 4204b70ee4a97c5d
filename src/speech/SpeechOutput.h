#pragma once
// What both engine layers share: the thread that runs one library's synthesis jobs one after
// the other, the WAV file writer, and one text's run from the synthesis thread to the sound
// device or the file, with the word marks that reach the GUI thread as the audio is heard.
#include "speech/PulseAudioOut.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct sf_private_tag;
struct soxr;

// A WAV file of 16-bit mono samples at a fixed rate; audio at another rate is resampled.
class TWavWriter {
public:
    TWavWriter() = default;
    ~TWavWriter();
    TWavWriter(const TWavWriter&) = delete;
    TWavWriter& operator=(const TWavWriter&) = delete;

    bool Open(const QString& path, int rate, QString* error);
    // Appends samples that were made at sourceRate.
    bool Write(const int16_t* samples, size_t count, int sourceRate);
    bool WriteSilence(int milliseconds);
    // Flushes the resampler and finishes the header.
    bool Close(QString* error = nullptr);
    bool IsOpen() const { return file != nullptr; }
    int Rate() const { return rate; }
    // Bytes of audio data written so far (the stream position).
    int64_t BytesWritten() const { return bytes.load(); }
    // What went wrong with the last write, naming the file and the reason.
    QString ErrorText() const;

private:
    bool Put(const int16_t* samples, size_t count);
    bool FlushResampler();

    sf_private_tag* file = nullptr;
    soxr* resampler = nullptr;
    int resamplerFrom = 0;
    int rate = 0;
    std::atomic<int64_t> bytes{0};
    QString path;
    QString failure;
};

// One text on its way out: written by the synthesis thread, watched by the GUI thread.
class TSpeechRun {
public:
    struct Mark {
        int64_t Sample;  // sample of the audio at which the word starts
        int Position;    // character position in the caller's text
        int Length;
    };

    // Speaking aloud on a device: a sink by name, else device id (-1 the default device).
    static std::shared_ptr<TSpeechRun> ToDevice(const QString& sinkName, int deviceId = -1);
    // Speaking into an open WAV file (owned by the caller, kept open across texts).
    static std::shared_ptr<TSpeechRun> ToFile(TWavWriter* writer);

    // --- synthesis thread ---
    // False when the run was cancelled before it started (it is then done already).
    bool TryStart();
    int64_t SamplesWritten() const { return samples.load(); }
    // The engine's sample rate, known once the job starts; opens the device.
    bool Begin(int rate);
    // False: stop synthesizing (cancelled or the output failed).
    bool Write(const int16_t* samples, size_t count);
    bool WriteSilence(int milliseconds);
    // A word starts at this sample of the run's audio.
    void AddMark(int64_t sample, int position, int length);
    // Waits for the device to play everything, then marks the run done.
    void Finish();
    void SetError(const QString& message);
    bool Cancelled() const { return cancel.load(); }
    // Blocks the synthesis of a file while paused (sound devices pause by themselves).
    void WaitWhilePaused();

    // --- GUI thread ---
    void Cancel();
    void SetPaused(bool paused);
    bool IsPaused() const { return paused.load(); }
    // Marks whose audio has been heard (all of them for a file), removed from the queue.
    std::vector<Mark> TakeDueMarks();
    bool Done() const { return done.load(); }
    // Waits at most timeoutMs for the run to be done; true when it is.
    bool WaitDone(int timeoutMs);
    // The file is being closed: the run writes nothing more into it, whatever it still does.
    void DetachWriter();
    bool Started() const { return started.load(); }
    QString ErrorText() const;
    // Moves as long as the engine and the output make progress.
    int64_t Progress();
    // Output stream position in bytes: bytes played (device) or written (file).
    int64_t StreamPosition();
    bool IsFile() const { return toFile; }
    int Rate() const { return rate.load(); }

private:
    TSpeechRun() = default;
    void MarkDone();

    QString sink;
    int device = -1;
    std::mutex startMutex;
    bool running = false;
    bool toFile = false;
    std::mutex writerMutex; // guards `writer` against DetachWriter
    TWavWriter* writer = nullptr;
    std::unique_ptr<TPulseStream> stream;
    std::mutex streamMutex; // guards `stream` creation against Cancel/SetPaused
    std::atomic<int> rate{0};
    std::atomic<bool> cancel{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> done{false};
    std::atomic<bool> started{false};
    std::atomic<int64_t> samples{0};
    mutable std::mutex markMutex;
    std::deque<Mark> marks;
    QString error;
    std::condition_variable pauseWake;
    std::mutex doneMutex;
    std::condition_variable doneWake;
};

// One synthesis thread per engine library: jobs run strictly one after another, whichever
// voice object queued them, because the libraries keep one global engine.
class TSynthWorker {
public:
    explicit TSynthWorker(const char* name);
    ~TSynthWorker();
    void Post(std::function<void()> job);
    // Waits until every job queued so far has run (used before freeing what jobs refer to).
    void WaitIdle();
    // Runs a job on the worker and waits for it (engine set-up and queries).
    void RunAndWait(const std::function<void()>& job);

private:
    void Loop();
    std::thread thread;
    std::mutex mutex;
    std::condition_variable cv;
    std::condition_variable idle;
    std::deque<std::function<void()>> jobs;
    bool busy = false;
    bool stopping = false;
};
