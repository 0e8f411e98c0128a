// Live capture from the PulseAudio server (also serves PipeWire desktops).
//
// Device -1 is the server's default source; device k is the k-th source in the server's list,
// monitors of outputs included; a device named at creation is the source of that description
// (or name), wherever the server lists it. The stream runs on a mainloop thread of our own; its read
// callback fills the queued buffers in order and reports the full ones. When the server goes
// away or the source is removed, the device reports Error once.
//
// Cost: the server sends a packet every 20 ms or so whatever fragment size is asked for, and
// reading each one on its own costs a wake-up and a dozen system calls. So while a stream is
// running, the mainloop thread, once it has read all that is there, sleeps a while before it
// waits on the socket again: a few packets collect at the server's end and are read in one go.
// Any call from another thread ends the sleep at once, so Start, Stop and listing stay prompt.
// Full buffers are reported two at a time while enough others stay queued to take the audio
// meanwhile, which halves the main thread's wake-ups, and no report is made with the buffer
// lock held, so the main thread never wakes only to wait for that lock.

#include "audio/AudioIO.h"
#include "audio/PulseLibrary.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

// A connection to the server on a mainloop run by a thread of our own. Every call but the
// constructor's connect runs with the connection locked by the caller (Lock/Unlock), which the
// mainloop thread holds except while it waits for events.
class TPulseConnection {
public:
    TPulseConnection()
    {
        if (!PulseLibraryLoaded()) {
            Error = PulseLibraryMissing;
            return;
        }
        Loop = Pulse().pa_mainloop_new();
        if (!Loop) {
            Error = PA_ERR_INTERNAL;
            return;
        }
        Pulse().pa_mainloop_set_poll_func(Loop, &TPulseConnection::PollEvents, this);
        Context = Pulse().pa_context_new(Pulse().pa_mainloop_get_api(Loop), "Ondrix");
        if (!Context) {
            Error = PA_ERR_INTERNAL;
            return;
        }
        Pulse().pa_context_set_state_callback(Context, &TPulseConnection::ContextState, this);
        // Never start a server of our own: capture uses the one the session runs.
        if (Pulse().pa_context_connect(Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            Error = Pulse().pa_context_errno(Context);
            return;
        }
        Thread = std::thread([this] {
            Mutex.lock();
            Pulse().pa_mainloop_run(Loop, nullptr);
            Mutex.unlock();
        });
        Started = true;
        Lock();
        for (;;) {
            const pa_context_state_t state = Pulse().pa_context_get_state(Context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                Error = Pulse().pa_context_errno(Context);
                if (Error == PA_OK)
                    Error = PA_ERR_CONNECTIONREFUSED;
                break;
            }
            Wait();
        }
        Unlock();
    }

    ~TPulseConnection()
    {
        if (Context) {
            if (Started)
                Lock();
            Pulse().pa_context_set_state_callback(Context, nullptr, nullptr);
            Pulse().pa_context_disconnect(Context);
            Pulse().pa_context_unref(Context);
            if (Started)
                Unlock();
        }
        if (Started) {
            Lock();
            Pulse().pa_mainloop_quit(Loop, 0);
            Unlock();
            Thread.join();
        }
        if (Loop)
            Pulse().pa_mainloop_free(Loop);
    }

    TPulseConnection(const TPulseConnection&) = delete;
    TPulseConnection& operator=(const TPulseConnection&) = delete;

    bool Ok() const { return Error == PA_OK; }

    // Other threads only. While a caller holds or waits for the connection, the mainloop
    // thread does not sleep between reads, so whatever the caller asked of the server is
    // sent and answered at once.
    void Lock()
    {
        ++Callers;
        EndPause();
        Mutex.lock();
    }
    void Unlock()
    {
        Mutex.unlock();
        --Callers;
    }
    // Other threads only, locked: lets the mainloop run until it calls Signal.
    void Wait() { Changed.wait(Mutex); }
    // Mainloop thread: wakes every caller in Wait.
    void Signal() { Changed.notify_all(); }

    // Locked: while a stream is running, the mainloop thread pauses before it waits for more.
    void SetBatching(bool On) { Batching = On; }

    // Waits (locked) until the operation is done; false when the connection broke meanwhile.
    bool Complete(pa_operation* Operation)
    {
        if (!Operation)
            return false;
        while (Pulse().pa_operation_get_state(Operation) == PA_OPERATION_RUNNING
               && PA_CONTEXT_IS_GOOD(Pulse().pa_context_get_state(Context)))
            Wait();
        const bool done = Pulse().pa_operation_get_state(Operation) == PA_OPERATION_DONE;
        Pulse().pa_operation_unref(Operation);
        return done;
    }

    struct TSource {
        std::string Name;
        std::string Description;
    };
    // The sources in the server's order (locked).
    bool ListSources(std::vector<TSource>& Sources)
    {
        Sources.clear();
        struct TListing {
            TPulseConnection* Connection;
            std::vector<TSource>* Sources;
        } listing{this, &Sources};
        auto callback = [](pa_context*, const pa_source_info* Info, int Eol, void* User) {
            auto* l = static_cast<TListing*>(User);
            if (Eol == 0 && Info)
                l->Sources->push_back({Info->name ? Info->name : "",
                                       Info->description ? Info->description : ""});
            else
                l->Connection->Signal();
        };
        return Complete(Pulse().pa_context_get_source_info_list(Context, callback, &listing));
    }

    pa_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    int Error = PA_OK;
    bool Started = false;
    // Called from the mainloop thread when the context changes state.
    std::function<void(pa_context_state_t)> OnState;

private:
    // How long the mainloop thread lets packets collect before it reads again. Three packets
    // of 20 ms fit into it, so it wakes about 15 times a second instead of 50, and the
    // capture ring (four buffers of 23 ms) still takes all that collected in one go.
    static constexpr std::chrono::milliseconds BatchPause{65};

    // Mainloop thread: waits for events without the lock, as the mainloop asks. While batching,
    // what is ready is read first; only when nothing is left does it pause (ended early by a
    // caller, and never past the mainloop's next timer) and then wait as usual.
    static int PollEvents(pollfd* Fds, unsigned long Count, int Timeout, void* User)
    {
        auto* self = static_cast<TPulseConnection*>(User);
        const bool batching = self->Batching;
        self->Mutex.unlock();
        int result = batching && Timeout != 0 && self->Callers == 0 ? poll(Fds, nfds_t(Count), 0) : -1;
        if (result == 0) {
            const auto begin = std::chrono::steady_clock::now();
            auto pause = BatchPause;
            if (Timeout > 0)
                pause = std::min(pause, std::chrono::milliseconds(Timeout));
            self->Pause(pause);
            if (Timeout > 0) {
                const auto paused = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - begin);
                Timeout = std::max(0, Timeout - int(paused.count()));
            }
        }
        if (result <= 0)
            result = poll(Fds, nfds_t(Count), Timeout);
        self->Mutex.lock();
        return result;
    }

    void Pause(std::chrono::milliseconds Length)
    {
        std::unique_lock<std::mutex> guard(PauseLock);
        PauseEnded.wait_for(guard, Length, [this] { return PauseCut || Callers != 0; });
        PauseCut = false;
    }

    void EndPause()
    {
        {
            const std::lock_guard<std::mutex> guard(PauseLock);
            PauseCut = true;
        }
        PauseEnded.notify_all();
    }

    static void ContextState(pa_context* Context, void* User)
    {
        auto* self = static_cast<TPulseConnection*>(User);
        if (self->OnState)
            self->OnState(Pulse().pa_context_get_state(Context));
        self->Signal();
    }

    std::thread Thread;
    // Held by the mainloop thread except while it waits for events, and by callers between
    // Lock and Unlock.
    std::mutex Mutex;
    std::condition_variable_any Changed;
    bool Batching = false;  // under Mutex
    std::atomic<int> Callers{0};
    std::mutex PauseLock;
    std::condition_variable PauseEnded;
    bool PauseCut = false;  // under PauseLock
};

class TPulseWaveIn final : public TWaveInDevice {
public:
    explicit TPulseWaveIn(std::string ASourceName) : SourceName(std::move(ASourceName)) {}
    ~TPulseWaveIn() override { Close(); }

    int Open(int Device, const TWaveFormat& Format, TWaveInNotify ANotify) override
    {
        Notify = std::move(ANotify);
        HeldLimit = Format.AvgBytesPerSec / 2 / std::max<size_t>(Format.BlockAlign, 1) * std::max<size_t>(Format.BlockAlign, 1);
        FrameBytes = std::max<size_t>(Format.BlockAlign, 1);
        Connection = std::make_unique<TPulseConnection>();
        if (!Connection->Ok())
            return Fail(Connection->Error);

        pa_sample_spec spec{};
        spec.format = Format.BitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
        spec.rate = Format.SamplesPerSec;
        spec.channels = uint8_t(Format.Channels);
        if (!Pulse().pa_sample_spec_valid(&spec))
            return Fail(PA_ERR_INVALID);

        Connection->Lock();
        std::string sourceName;
        if (Device >= 0 || !SourceName.empty()) {
            std::vector<TPulseConnection::TSource> sources;
            if (!Connection->ListSources(sources)) {
                const int code = Pulse().pa_context_errno(Connection->Context);
                Connection->Unlock();
                return Fail(code ? code : PA_ERR_CONNECTIONTERMINATED);
            }
            const auto named = std::find_if(sources.begin(), sources.end(), [this](const auto& Source) {
                return Source.Description == SourceName || Source.Name == SourceName;
            });
            if (SourceName.empty() ? size_t(Device) >= sources.size() : named == sources.end()) {
                Connection->Unlock();
                return Fail(PA_ERR_NOENTITY);
            }
            sourceName = SourceName.empty() ? sources[size_t(Device)].Name : named->Name;
        }

        Stream = Pulse().pa_stream_new(Connection->Context, "Ondrix capture", &spec, nullptr);
        if (!Stream) {
            const int code = Pulse().pa_context_errno(Connection->Context);
            Connection->Unlock();
            return Fail(code);
        }
        Pulse().pa_stream_set_state_callback(Stream, &TPulseWaveIn::StreamState, this);
        Pulse().pa_stream_set_read_callback(Stream, &TPulseWaveIn::StreamRead, this);
        Connection->OnState = [this](pa_context_state_t State) {
            if (!PA_CONTEXT_IS_GOOD(State))
                ReportLost(Pulse().pa_context_errno(Connection->Context));
        };

        // Fragments of about 25 ms: the server wakes us no more often than the engine needs.
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.fragsize = std::max<uint32_t>(Format.BlockAlign, Format.AvgBytesPerSec / 40 / Format.BlockAlign * Format.BlockAlign);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (Pulse().pa_stream_connect_record(Stream, sourceName.empty() ? nullptr : sourceName.c_str(), &attr, flags) < 0) {
            const int code = Pulse().pa_context_errno(Connection->Context);
            Connection->Unlock();
            return Fail(code);
        }
        for (;;) {
            const pa_stream_state_t state = Pulse().pa_stream_get_state(Stream);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state)) {
                int code = Pulse().pa_context_errno(Connection->Context);
                Connection->Unlock();
                return Fail(code ? code : PA_ERR_NOENTITY);
            }
            Connection->Wait();
        }
        Ready = true;
        Connection->Unlock();
        Notify({TWaveInMessage::Open, nullptr, 0});
        return 0;
    }

    int AddBuffer(TWaveHeader& Header) override
    {
        std::lock_guard<std::mutex> guard(BufferLock);
        Header.BytesRecorded = 0;
        Header.Flags = (Header.Flags & ~WHDR_DONE) | WHDR_INQUEUE;
        Pending.push_back(&Header);
        return 0;
    }

    int Start() override
    {
        if (!Ready)
            return PA_ERR_BADSTATE;
        Connection->Lock();
        auto done = [](pa_stream*, int, void* User) { static_cast<TPulseConnection*>(User)->Signal(); };
        const bool ok = Connection->Complete(Pulse().pa_stream_cork(Stream, 0, done, Connection.get()));
        const int code = ok ? 0 : Pulse().pa_context_errno(Connection->Context);
        Connection->SetBatching(ok);
        Connection->Unlock();
        return ok ? 0 : (code ? code : PA_ERR_CONNECTIONTERMINATED);
    }

    void Reset() override
    {
        std::vector<TWaveHeader*> returned;
        std::unique_lock<std::mutex> report;
        {
            std::lock_guard<std::mutex> guard(BufferLock);
            returned.swap(Done);
            returned.insert(returned.end(), Pending.begin(), Pending.end());
            Pending.clear();
            Held.clear();
            GapAt = GapBytes = 0;
            for (TWaveHeader* header : returned)
                MarkDone(*header);
            report = std::unique_lock<std::mutex>(ReportLock);
        }
        Report(returned);
    }

    void Close() override
    {
        if (!Connection)
            return;
        const bool wasOpen = Ready;
        if (Connection->Started) {
            Connection->Lock();
            Connection->OnState = nullptr;
            Connection->SetBatching(false);
            if (Stream) {
                Pulse().pa_stream_set_state_callback(Stream, nullptr, nullptr);
                Pulse().pa_stream_set_read_callback(Stream, nullptr, nullptr);
                Pulse().pa_stream_disconnect(Stream);
                Pulse().pa_stream_unref(Stream);
                Stream = nullptr;
            }
            Connection->Unlock();
        }
        Connection.reset();  // stops the mainloop thread
        Ready = false;
        {
            std::lock_guard<std::mutex> guard(BufferLock);
            Pending.clear();
            Done.clear();
            Held.clear();
            GapAt = GapBytes = 0;
        }
        if (wasOpen && Notify)
            Notify({TWaveInMessage::Close, nullptr, 0});
        Notify = nullptr;
    }

    std::string ErrorText(int Code) const override { return WaveInErrorText(Code); }

    TCaptureFault FaultOf(int Code) const override
    {
        switch (Code) {
        case PulseLibraryMissing:
        case PA_ERR_CONNECTIONREFUSED:
        case PA_ERR_CONNECTIONTERMINATED:
        case PA_ERR_INVALIDSERVER:
        case PA_ERR_TIMEOUT:
            return TCaptureFault::NoServer;
        case PA_ERR_NOENTITY:
            return TCaptureFault::NoDevice;
        case PA_ERR_ACCESS:
        case PA_ERR_AUTHKEY:
            return TCaptureFault::Refused;
        default:
            return TCaptureFault::Other;
        }
    }

private:
    int Fail(int Code)
    {
        Close();
        return Code ? Code : PA_ERR_UNKNOWN;
    }

    // With BufferLock held.
    static void MarkDone(TWaveHeader& Header) { Header.Flags = (Header.Flags & ~WHDR_INQUEUE) | WHDR_DONE; }

    // With ReportLock held, taken before BufferLock was let go, so that reports keep the order
    // in which the buffers were filled; without BufferLock, so that the main thread can queue
    // a buffer again as soon as it hears of it.
    void Report(const std::vector<TWaveHeader*>& Headers)
    {
        for (TWaveHeader* header : Headers)
            Notify({TWaveInMessage::Data, header, 0});
    }

    // Mainloop thread: a stream or the connection failed. Reported once.
    void ReportLost(int Code)
    {
        if (Lost || !Ready)
            return;
        Lost = true;
        Notify({TWaveInMessage::Error, nullptr, Code ? Code : PA_ERR_CONNECTIONTERMINATED});
    }

    // With BufferLock held: copies Size bytes (zeros for a hole in the stream, Data null)
    // into the queued buffers, in order; returns how many found room.
    size_t Fill(const uint8_t* Data, size_t Size)
    {
        size_t taken = 0;
        while (taken < Size && !Pending.empty()) {
            TWaveHeader& header = *Pending.front();
            const size_t n = std::min<size_t>(header.BufferLength - header.BytesRecorded, Size - taken);
            if (Data)
                std::memcpy(header.Data + header.BytesRecorded, Data + taken, n);
            else
                std::memset(header.Data + header.BytesRecorded, 0, n);
            header.BytesRecorded += uint32_t(n);
            taken += n;
            if (header.BytesRecorded == header.BufferLength) {
                Pending.pop_front();
                MarkDone(header);
                Done.push_back(&header);
            }
        }
        return taken;
    }

    // Mainloop thread: copies what the server recorded into the queued buffers, in order.
    // Packets are read a few at a time, which can be more than the queued buffers take at
    // once; the rest waits here for the buffers queued again meanwhile and goes first next
    // time. Only beyond HeldLimit is audio dropped, as a sound card drops it when its
    // buffers are all full; the main thread hears how much (Dropped) once the audio before
    // the loss has been delivered, so that its stream clock stays true.
    void Take(const uint8_t* Data, size_t Size)
    {
        std::unique_lock<std::mutex> guard(BufferLock);
        size_t gap = 0;  // a loss whose place was reached now
        if (!Held.empty() || GapBytes > 0) {
            const size_t before = GapBytes > 0 ? GapAt : Held.size();
            const size_t taken = Fill(Held.data(), before);
            Held.erase(Held.begin(), Held.begin() + ptrdiff_t(taken));
            if (GapBytes > 0) {
                GapAt -= taken;
                if (GapAt == 0) {
                    gap = GapBytes;
                    GapBytes = 0;
                }
            }
        }
        // New audio goes straight into the buffers only when nothing waits before it, and
        // never in the report that announces a loss (it belongs after the loss).
        if (Held.empty() && GapBytes == 0 && gap == 0) {
            const size_t taken = Fill(Data, Size);
            if (Data)
                Data += taken;
            Size -= taken;
        }
        const size_t room = HeldLimit - std::min(HeldLimit, Held.size());
        if (Size > room) {
            if (GapBytes > 0) {
                // Lost again before the first loss was reached: what lies between is given up
                // too, so that one loss stands at one place.
                GapBytes += Held.size() - GapAt + Size;
                Held.resize(GapAt);
                Size = 0;
            } else {
                GapAt = Held.size() + room;
                GapBytes = Size - room;
                Size = room;
            }
        }
        if (Data)
            Held.insert(Held.end(), Data, Data + Size);
        else
            Held.resize(Held.size() + Size, 0);
        // A full buffer waits for the next one while at least two others stay queued; with
        // fewer, the main thread hears of it at once so that it can queue it again in time.
        if (gap == 0 && (Done.empty() || (Done.size() < ReportBatch && Pending.size() >= 2)))
            return;
        Reporting.clear();
        Reporting.swap(Done);
        const std::lock_guard<std::mutex> report(ReportLock);
        guard.unlock();
        Report(Reporting);
        // In whole frames of a size the notification's code holds.
        const size_t step = size_t(INT_MAX) / FrameBytes * FrameBytes;
        for (; gap > 0; gap -= std::min(gap, step))
            Notify({TWaveInMessage::Dropped, nullptr, int(std::min(gap, step))});
    }

    // Mainloop thread: Length bytes are readable; they come in one or more fragments.
    static void StreamRead(pa_stream* Stream, size_t Length, void* User)
    {
        auto* self = static_cast<TPulseWaveIn*>(User);
        while (Length > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (Pulse().pa_stream_peek(Stream, &data, &size) < 0 || size == 0)
                return;
            self->Take(static_cast<const uint8_t*>(data), size);
            Pulse().pa_stream_drop(Stream);
            Length -= std::min(Length, size);
        }
    }

    static void StreamState(pa_stream* Stream, void* User)
    {
        auto* self = static_cast<TPulseWaveIn*>(User);
        const pa_stream_state_t state = Pulse().pa_stream_get_state(Stream);
        if (!PA_STREAM_IS_GOOD(state))
            self->ReportLost(Pulse().pa_context_errno(Pulse().pa_stream_get_context(Stream)));
        self->Connection->Signal();
    }

    const std::string SourceName;
    std::unique_ptr<TPulseConnection> Connection;
    pa_stream* Stream = nullptr;
    TWaveInNotify Notify;
    bool Ready = false;
    bool Lost = false;
    std::mutex BufferLock;
    std::mutex ReportLock;
    std::deque<TWaveHeader*> Pending;
    // Full buffers not reported yet, in the order they were filled.
    std::vector<TWaveHeader*> Done;
    // Audio that found no queued buffer yet, oldest first, at most HeldLimit bytes (whole
    // frames, so that a loss never splits one).
    std::vector<uint8_t> Held;
    size_t HeldLimit = 0;
    size_t FrameBytes = 1;
    // Audio lost beyond HeldLimit: GapBytes of it, after the first GapAt bytes of Held.
    size_t GapAt = 0;
    size_t GapBytes = 0;
    // Mainloop thread only: the buffers being reported (kept to reuse its memory).
    std::vector<TWaveHeader*> Reporting;
    static constexpr size_t ReportBatch = 2;
};

}  // namespace

std::unique_ptr<TWaveInDevice> CreateServerWaveIn(const std::string& SourceName)
{
    return std::make_unique<TPulseWaveIn>(SourceName);
}

std::vector<std::string> GetWaveInDevices()
{
    std::vector<std::string> names;
    TPulseConnection connection;
    if (!connection.Ok())
        return names;
    std::vector<TPulseConnection::TSource> sources;
    connection.Lock();
    const bool listed = connection.ListSources(sources);
    connection.Unlock();
    if (listed)
        for (const auto& source : sources)
            names.push_back(source.Description.empty() ? source.Name : source.Description);
    return names;
}

std::string WaveInErrorText(int Code)
{
    if (Code == PulseLibraryMissing)
        return ("The audio server cannot be reached: " + PulseLibraryError()).substr(0, 255);
    const char* text = PulseLibraryLoaded() ? Pulse().pa_strerror(Code) : nullptr;
    std::string result = text ? text : ("Unknown error " + std::to_string(Code));
    if (result.size() > 255)
        result.resize(255);
    return result;
}

std::string WaveInServerAddress()
{
    if (const char* server = std::getenv("PULSE_SERVER"); server && *server)
        return server;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/pulse/native";
    return "/run/user/" + std::to_string(getuid()) + "/pulse/native";
}
