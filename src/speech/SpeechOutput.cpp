#include "speech/SpeechOutput.h"

#include "core/BaseUtils.h"

#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>

TWavWriter::~TWavWriter()
{
    Close();
}

bool TWavWriter::Open(const QString& p, int r, QString* error)
{
    Close();
    SF_INFO info{};
    info.samplerate = r;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const QByteArray name = QFile::encodeName(p);
    // An older file of that name is removed, not overwritten: a file system may force a
    // truncated file's new data to the disk when it is closed, which stalls the window.
    ::unlink(name.constData());
    file = sf_open(name.constData(), SFM_WRITE, &info);
    if (!file) {
        if (error)
            *error = QStringLiteral("Could not create the file %1: %2").arg(p, QString::fromUtf8(sf_strerror(nullptr)));
        return false;
    }
    rate = r;
    path = p;
    bytes = 0;
    return true;
}

bool TWavWriter::Put(const int16_t* s, size_t count)
{
    if (!file)
        return false;
    errno = 0;
    const sf_count_t n = sf_write_short(file, s, sf_count_t(count));
    bytes += int64_t(n) * 2;
    if (n == sf_count_t(count))
        return true;
    // The system's reason ("No space left on device") says more than the library's.
    const int code = errno;
    failure = code ? QString::fromLocal8Bit(std::strerror(code)) : QString::fromUtf8(sf_strerror(file));
    return false;
}

QString TWavWriter::ErrorText() const
{
    return QStringLiteral("Could not write the audio file ") + path
           + (failure.isEmpty() ? QString() : QStringLiteral(": ") + failure);
}

bool TWavWriter::FlushResampler()
{
    if (!resampler)
        return true;
    bool ok = true;
    int16_t out[4096];
    for (;;) {
        size_t produced = 0;
        soxr_process(resampler, nullptr, 0, nullptr, out, std::size(out), &produced);
        if (produced == 0)
            break;
        ok = Put(out, produced) && ok;
    }
    soxr_delete(resampler);
    resampler = nullptr;
    resamplerFrom = 0;
    return ok;
}

bool TWavWriter::Write(const int16_t* s, size_t count, int sourceRate)
{
    if (!file)
        return false;
    if (sourceRate == rate || sourceRate <= 0) {
        if (!FlushResampler())
            return false;
        return Put(s, count);
    }
    if (resampler && resamplerFrom != sourceRate && !FlushResampler())
        return false;
    if (!resampler) {
        soxr_error_t err = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
        const soxr_quality_spec_t q = soxr_quality_spec(SOXR_MQ, 0);
        resampler = soxr_create(sourceRate, rate, 1, &err, &io, &q, nullptr);
        if (err || !resampler) {
            UtilsClass::Log(QStringLiteral("Resampler error: ") + QString::fromUtf8(err ? err : "unknown"));
            resampler = nullptr;
            return false;
        }
        resamplerFrom = sourceRate;
    }
    int16_t out[4096];
    size_t consumedTotal = 0;
    while (consumedTotal < count) {
        size_t used = 0, produced = 0;
        soxr_process(resampler, s + consumedTotal, count - consumedTotal, &used, out, std::size(out), &produced);
        consumedTotal += used;
        if (produced && !Put(out, produced))
            return false;
        if (used == 0 && produced == 0)
            break;
    }
    return true;
}

bool TWavWriter::WriteSilence(int ms)
{
    if (!file || ms <= 0)
        return file != nullptr;
    if (!FlushResampler())
        return false;
    int64_t left = int64_t(rate) * ms / 1000;
    std::vector<int16_t> zeros(4096, 0);
    while (left > 0) {
        const size_t n = size_t(std::min<int64_t>(left, int64_t(zeros.size())));
        if (!Put(zeros.data(), n))
            return false;
        left -= int64_t(n);
    }
    return true;
}

bool TWavWriter::Close(QString* error)
{
    if (!file)
        return true;
    // No sync to the disk here: forcing a long file out stalls the window for tens of
    // milliseconds, and spoken audio can always be made again. Write errors show in the writes
    // and in closing.
    bool ok = FlushResampler();
    if (sf_close(file) != 0)
        ok = false;
    file = nullptr;
    if (!ok && error)
        *error = QStringLiteral("Could not finish the file ") + path;
    return ok;
}

// ---------------------------------------------------------------------------------------

std::shared_ptr<TSpeechRun> TSpeechRun::ToDevice(const QString& sinkName, int deviceId)
{
    std::shared_ptr<TSpeechRun> r(new TSpeechRun);
    r->sink = sinkName;
    r->device = deviceId;
    return r;
}

bool TSpeechRun::TryStart()
{
    std::lock_guard<std::mutex> g(startMutex);
    if (cancel.load()) {
        MarkDone();
        return false;
    }
    running = true;
    return true;
}

void TSpeechRun::MarkDone()
{
    {
        std::lock_guard<std::mutex> g(doneMutex);
        done = true;
    }
    doneWake.notify_all();
}

bool TSpeechRun::WaitDone(int timeoutMs)
{
    std::unique_lock<std::mutex> lk(doneMutex);
    return doneWake.wait_for(lk, std::chrono::milliseconds(std::max(timeoutMs, 0)), [this] { return done.load(); });
}

void TSpeechRun::DetachWriter()
{
    std::lock_guard<std::mutex> g(writerMutex);
    writer = nullptr;
}

std::shared_ptr<TSpeechRun> TSpeechRun::ToFile(TWavWriter* w)
{
    std::shared_ptr<TSpeechRun> r(new TSpeechRun);
    r->writer = w;
    r->toFile = true;
    return r;
}

bool TSpeechRun::Begin(int r)
{
    rate = r;
    if (toFile)
        return !cancel.load();
    auto s = std::make_unique<TPulseStream>();
    QString err;
    if (sink.isEmpty() && device != -1 && !TPulseAudio::Instance().SinkNameForId(device, sink, &err)) {
        SetError(err);
        return false;
    }
    if (!s->Open(sink, r, 1, &err)) {
        SetError(err);
        return false;
    }
    std::lock_guard<std::mutex> g(streamMutex);
    stream = std::move(s);
    if (paused.load())
        stream->SetPaused(true);
    if (cancel.load()) {
        stream->Abort();
        return false;
    }
    return true;
}

void TSpeechRun::WaitWhilePaused()
{
    if (!toFile)
        return;
    std::unique_lock<std::mutex> lk(markMutex);
    pauseWake.wait(lk, [this] { return !paused.load() || cancel.load(); });
}

bool TSpeechRun::Write(const int16_t* s, size_t count)
{
    if (cancel.load())
        return false;
    if (toFile) {
        WaitWhilePaused();
        if (cancel.load())
            return false;
        std::lock_guard<std::mutex> g(writerMutex);
        if (!writer)
            return false; // the file was closed under the run
        if (!writer->Write(s, count, rate.load())) {
            SetError(writer->ErrorText());
            return false;
        }
        samples += int64_t(count);
        started = true;
        return true;
    }
    if (!stream)
        return false;
    if (!stream->Write(s, count)) {
        if (stream->Failed())
            SetError(stream->Error());
        return false;
    }
    samples += int64_t(count);
    return true;
}

bool TSpeechRun::WriteSilence(int ms)
{
    if (ms <= 0)
        return !cancel.load();
    const int r = rate.load() > 0 ? rate.load() : 22050;
    int64_t left = int64_t(r) * ms / 1000;
    std::vector<int16_t> zeros(2048, 0);
    while (left > 0) {
        const size_t n = size_t(std::min<int64_t>(left, int64_t(zeros.size())));
        if (!Write(zeros.data(), n))
            return false;
        left -= int64_t(n);
    }
    return true;
}

void TSpeechRun::AddMark(int64_t sample, int position, int length)
{
    std::lock_guard<std::mutex> g(markMutex);
    marks.push_back(Mark{sample, position, length});
}

void TSpeechRun::SetError(const QString& message)
{
    std::lock_guard<std::mutex> g(markMutex);
    if (error.isEmpty())
        error = message;
}

QString TSpeechRun::ErrorText() const
{
    std::lock_guard<std::mutex> g(markMutex);
    return error;
}

void TSpeechRun::Finish()
{
    if (stream) {
        if (!cancel.load() && !stream->Drain() && stream->Failed())
            SetError(stream->Error());
        std::lock_guard<std::mutex> g(streamMutex);
        stream->Close();
    }
    MarkDone();
}

void TSpeechRun::Cancel()
{
    {
        std::lock_guard<std::mutex> g(startMutex);
        cancel = true;
        if (!running)
            MarkDone();
    }
    {
        std::lock_guard<std::mutex> g(streamMutex);
        if (stream)
            stream->Abort();
    }
    {
        std::lock_guard<std::mutex> g(markMutex);
        marks.clear();
    }
    pauseWake.notify_all();
}

void TSpeechRun::SetPaused(bool p)
{
    paused = p;
    {
        std::lock_guard<std::mutex> g(streamMutex);
        if (stream)
            stream->SetPaused(p);
    }
    {
        std::lock_guard<std::mutex> g(markMutex);
    }
    pauseWake.notify_all();
}

std::vector<TSpeechRun::Mark> TSpeechRun::TakeDueMarks()
{
    int64_t heard = INT64_MAX;
    if (!toFile && !done.load()) {
        std::lock_guard<std::mutex> g(streamMutex);
        heard = stream ? stream->PlayedUsec() * rate.load() / 1000000 : -1;
        if (stream && heard > 0)
            started = true;
    }
    std::vector<Mark> due;
    std::lock_guard<std::mutex> g(markMutex);
    while (!marks.empty() && marks.front().Sample <= heard) {
        due.push_back(marks.front());
        marks.pop_front();
    }
    return due;
}

int64_t TSpeechRun::Progress()
{
    return samples.load() + StreamPosition();
}

int64_t TSpeechRun::StreamPosition()
{
    if (toFile) {
        std::lock_guard<std::mutex> g(writerMutex);
        return writer ? writer->BytesWritten() : 0;
    }
    std::lock_guard<std::mutex> g(streamMutex);
    if (!stream)
        return 0;
    return stream->PlayedUsec() * rate.load() / 1000000 * 2;
}

// ---------------------------------------------------------------------------------------

TSynthWorker::TSynthWorker(const char*)
{
    thread = std::thread([this] { Loop(); });
}

TSynthWorker::~TSynthWorker()
{
    {
        std::lock_guard<std::mutex> g(mutex);
        stopping = true;
    }
    cv.notify_all();
    if (thread.joinable())
        thread.join();
}

void TSynthWorker::Post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> g(mutex);
        jobs.push_back(std::move(job));
    }
    cv.notify_all();
}

void TSynthWorker::WaitIdle()
{
    std::unique_lock<std::mutex> lk(mutex);
    idle.wait(lk, [this] { return jobs.empty() && !busy; });
}

void TSynthWorker::RunAndWait(const std::function<void()>& job)
{
    std::mutex m;
    std::condition_variable c;
    bool finished = false;
    Post([&] {
        job();
        std::lock_guard<std::mutex> g(m);
        finished = true;
        c.notify_all();
    });
    std::unique_lock<std::mutex> lk(m);
    c.wait(lk, [&] { return finished; });
}

void TSynthWorker::Loop()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock<std::mutex> lk(mutex);
            cv.wait(lk, [this] { return stopping || !jobs.empty(); });
            if (jobs.empty() && stopping)
                return;
            job = std::move(jobs.front());
            jobs.pop_front();
            busy = true;
        }
        try {
            job();
        } catch (const std::exception& e) {
            UtilsClass::Log(QStringLiteral("Synthesis error: ") + QString::fromUtf8(e.what()));
        } catch (...) {
            UtilsClass::Log(QStringLiteral("Synthesis error"));
        }
        {
            std::lock_guard<std::mutex> g(mutex);
            busy = false;
            if (jobs.empty())
                idle.notify_all();
        }
    }
}
