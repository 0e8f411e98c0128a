// Live capture from the PulseAudio server (also serves PipeWire desktops).
//
// Device -1 is the server's default source; device k is the k-th source in the server's list,
// monitors of outputs included. The stream runs on libpulse's own thread (a threaded
// mainloop); its read callback fills the queued buffers in order and reports the full ones.
// When the server goes away or the source is removed, the device reports Error once.
//
// Cost: the server sends a packet every few tens of milliseconds whatever fragment size is
// asked for, and every report wakes the main thread. So full buffers are reported two at a
// time while enough others stay queued to take the audio meanwhile, which halves the main
// thread's wake-ups, and no report is made with the buffer lock held, so the main thread
// never wakes only to wait for that lock.

#include "audio/AudioIO.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

namespace {

// A connection to the server on a threaded mainloop. Every call but the constructor's
// connect runs with the mainloop locked by the caller.
class TPulseConnection {
public:
    TPulseConnection()
    {
        Loop = pa_threaded_mainloop_new();
        if (!Loop) {
            Error = PA_ERR_INTERNAL;
            return;
        }
        Context = pa_context_new(pa_threaded_mainloop_get_api(Loop), "Ondrix");
        if (!Context) {
            Error = PA_ERR_INTERNAL;
            return;
        }
        pa_context_set_state_callback(Context, &TPulseConnection::ContextState, this);
        // Never start a server of our own: capture uses the one the session runs.
        if (pa_context_connect(Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            Error = pa_context_errno(Context);
            return;
        }
        if (pa_threaded_mainloop_start(Loop) < 0) {
            Error = PA_ERR_INTERNAL;
            return;
        }
        Started = true;
        Lock();
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(Context);
            if (state == PA_CONTEXT_READY)
                break;
            if (!PA_CONTEXT_IS_GOOD(state)) {
                Error = pa_context_errno(Context);
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
            pa_context_set_state_callback(Context, nullptr, nullptr);
            pa_context_disconnect(Context);
            pa_context_unref(Context);
            if (Started)
                Unlock();
        }
        if (Loop) {
            if (Started)
                pa_threaded_mainloop_stop(Loop);
            pa_threaded_mainloop_free(Loop);
        }
    }

    TPulseConnection(const TPulseConnection&) = delete;
    TPulseConnection& operator=(const TPulseConnection&) = delete;

    bool Ok() const { return Error == PA_OK; }
    void Lock() { pa_threaded_mainloop_lock(Loop); }
    void Unlock() { pa_threaded_mainloop_unlock(Loop); }
    void Wait() { pa_threaded_mainloop_wait(Loop); }
    void Signal() { pa_threaded_mainloop_signal(Loop, 0); }

    // Waits (locked) until the operation is done; false when the connection broke meanwhile.
    bool Complete(pa_operation* Operation)
    {
        if (!Operation)
            return false;
        while (pa_operation_get_state(Operation) == PA_OPERATION_RUNNING
               && PA_CONTEXT_IS_GOOD(pa_context_get_state(Context)))
            Wait();
        const bool done = pa_operation_get_state(Operation) == PA_OPERATION_DONE;
        pa_operation_unref(Operation);
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
        return Complete(pa_context_get_source_info_list(Context, callback, &listing));
    }

    pa_threaded_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    int Error = PA_OK;
    bool Started = false;
    // Called from the mainloop thread when the context changes state.
    std::function<void(pa_context_state_t)> OnState;

private:
    static void ContextState(pa_context* Context, void* User)
    {
        auto* self = static_cast<TPulseConnection*>(User);
        if (self->OnState)
            self->OnState(pa_context_get_state(Context));
        self->Signal();
    }
};

class TPulseWaveIn final : public TWaveInDevice {
public:
    ~TPulseWaveIn() override { Close(); }

    int Open(int Device, const TWaveFormat& Format, TWaveInNotify ANotify) override
    {
        Notify = std::move(ANotify);
        Connection = std::make_unique<TPulseConnection>();
        if (!Connection->Ok())
            return Fail(Connection->Error);

        pa_sample_spec spec{};
        spec.format = Format.BitsPerSample == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
        spec.rate = Format.SamplesPerSec;
        spec.channels = uint8_t(Format.Channels);
        if (!pa_sample_spec_valid(&spec))
            return Fail(PA_ERR_INVALID);

        Connection->Lock();
        std::string sourceName;
        if (Device >= 0) {
            std::vector<TPulseConnection::TSource> sources;
            if (!Connection->ListSources(sources)) {
                const int code = pa_context_errno(Connection->Context);
                Connection->Unlock();
                return Fail(code ? code : PA_ERR_CONNECTIONTERMINATED);
            }
            if (size_t(Device) >= sources.size()) {
                Connection->Unlock();
                return Fail(PA_ERR_NOENTITY);
            }
            sourceName = sources[size_t(Device)].Name;
        }

        Stream = pa_stream_new(Connection->Context, "Ondrix capture", &spec, nullptr);
        if (!Stream) {
            const int code = pa_context_errno(Connection->Context);
            Connection->Unlock();
            return Fail(code);
        }
        pa_stream_set_state_callback(Stream, &TPulseWaveIn::StreamState, this);
        pa_stream_set_read_callback(Stream, &TPulseWaveIn::StreamRead, this);
        Connection->OnState = [this](pa_context_state_t State) {
            if (!PA_CONTEXT_IS_GOOD(State))
                ReportLost(pa_context_errno(Connection->Context));
        };

        // Fragments of about 25 ms: the server wakes us no more often than the engine needs.
        pa_buffer_attr attr{};
        attr.maxlength = uint32_t(-1);
        attr.fragsize = std::max<uint32_t>(Format.BlockAlign, Format.AvgBytesPerSec / 40 / Format.BlockAlign * Format.BlockAlign);
        attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
        const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
        if (pa_stream_connect_record(Stream, sourceName.empty() ? nullptr : sourceName.c_str(), &attr, flags) < 0) {
            const int code = pa_context_errno(Connection->Context);
            Connection->Unlock();
            return Fail(code);
        }
        for (;;) {
            const pa_stream_state_t state = pa_stream_get_state(Stream);
            if (state == PA_STREAM_READY)
                break;
            if (!PA_STREAM_IS_GOOD(state)) {
                int code = pa_context_errno(Connection->Context);
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
        const bool ok = Connection->Complete(pa_stream_cork(Stream, 0, done, Connection.get()));
        const int code = ok ? 0 : pa_context_errno(Connection->Context);
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
            if (Stream) {
                pa_stream_set_state_callback(Stream, nullptr, nullptr);
                pa_stream_set_read_callback(Stream, nullptr, nullptr);
                pa_stream_disconnect(Stream);
                pa_stream_unref(Stream);
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
        }
        if (wasOpen && Notify)
            Notify({TWaveInMessage::Close, nullptr, 0});
        Notify = nullptr;
    }

    std::string ErrorText(int Code) const override { return WaveInErrorText(Code); }

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

    // Mainloop thread: copies what the server recorded into the queued buffers, in order.
    // Audio that finds no queued buffer is dropped, as a sound card drops it when its
    // buffers are all full.
    void Take(const uint8_t* Data, size_t Size)
    {
        std::unique_lock<std::mutex> guard(BufferLock);
        while (Size > 0 && !Pending.empty()) {
            TWaveHeader& header = *Pending.front();
            const size_t room = header.BufferLength - header.BytesRecorded;
            const size_t n = std::min(room, Size);
            if (Data) {
                std::memcpy(header.Data + header.BytesRecorded, Data, n);
                Data += n;
            } else {
                std::memset(header.Data + header.BytesRecorded, 0, n);  // a hole in the stream
            }
            header.BytesRecorded += uint32_t(n);
            Size -= n;
            if (header.BytesRecorded == header.BufferLength) {
                Pending.pop_front();
                MarkDone(header);
                Done.push_back(&header);
            }
        }
        // A full buffer waits for the next one while at least two others stay queued; with
        // fewer, the main thread hears of it at once so that it can queue it again in time.
        if (Done.empty() || (Done.size() < ReportBatch && Pending.size() >= 2))
            return;
        Reporting.clear();
        Reporting.swap(Done);
        const std::lock_guard<std::mutex> report(ReportLock);
        guard.unlock();
        Report(Reporting);
    }

    // Mainloop thread: Length bytes are readable; they come in one or more fragments.
    static void StreamRead(pa_stream* Stream, size_t Length, void* User)
    {
        auto* self = static_cast<TPulseWaveIn*>(User);
        while (Length > 0) {
            const void* data = nullptr;
            size_t size = 0;
            if (pa_stream_peek(Stream, &data, &size) < 0 || size == 0)
                return;
            self->Take(static_cast<const uint8_t*>(data), size);
            pa_stream_drop(Stream);
            Length -= std::min(Length, size);
        }
    }

    static void StreamState(pa_stream* Stream, void* User)
    {
        auto* self = static_cast<TPulseWaveIn*>(User);
        const pa_stream_state_t state = pa_stream_get_state(Stream);
        if (!PA_STREAM_IS_GOOD(state))
            self->ReportLost(pa_context_errno(pa_stream_get_context(Stream)));
        self->Connection->Signal();
    }

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
    // Mainloop thread only: the buffers being reported (kept to reuse its memory).
    std::vector<TWaveHeader*> Reporting;
    static constexpr size_t ReportBatch = 2;
};

}  // namespace

std::unique_ptr<TWaveInDevice> CreateServerWaveIn()
{
    return std::make_unique<TPulseWaveIn>();
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
    const char* text = pa_strerror(Code);
    std::string result = text ? text : ("Unknown error " + std::to_string(Code));
    if (result.size() > 255)
        result.resize(255);
    return result;
}
