#include "audio/AudioPlay.h"

#include "audio/PulseLibrary.h"
#include "audio/cbAudioFileRead.h"

#include <algorithm>

// One playback: the server connection, the stream and the reader feeding it. Everything but
// Playing is touched only under the mainloop's lock (or before the loop runs / after it stops).
struct TAudioPlayer::TStream {
    pa_threaded_mainloop* Loop = nullptr;
    pa_context* Context = nullptr;
    pa_stream* Stream = nullptr;
    TcbAudioFileReader Reader;
    uint16_t BlockAlign = 0;
    bool Ended = false;               // the reader has given its last block
    std::atomic<bool> Playing{false};

    ~TStream()
    {
        if (Loop)
            Pulse().pa_threaded_mainloop_stop(Loop);
        if (Stream) {
            Pulse().pa_stream_disconnect(Stream);
            Pulse().pa_stream_unref(Stream);
        }
        if (Context) {
            Pulse().pa_context_disconnect(Context);
            Pulse().pa_context_unref(Context);
        }
        if (Loop)
            Pulse().pa_threaded_mainloop_free(Loop);
    }

    std::string ServerError() const
    {
        return Pulse().pa_strerror(Context ? Pulse().pa_context_errno(Context) : PA_ERR_CONNECTIONREFUSED);
    }

    static void Signal(void* Self)
    {
        Pulse().pa_threaded_mainloop_signal(static_cast<TStream*>(Self)->Loop, 0);
    }

    static void ContextState(pa_context*, void* Self) { Signal(Self); }
    static void StreamState(pa_stream*, void* Self) { Signal(Self); }

    static void Drained(pa_stream*, int, void* Self)
    {
        static_cast<TStream*>(Self)->Playing = false;
        Signal(Self);
    }

    // The server asks for up to Bytes more: decode them straight into its buffer. After the
    // last block the stream is drained, and playing ends when the server has played it all.
    static void Write(pa_stream* Stream, size_t Bytes, void* SelfPtr)
    {
        auto* Self = static_cast<TStream*>(SelfPtr);
        while (Bytes > 0 && !Self->Ended) {
            void* Data = nullptr;
            size_t Size = Bytes;
            if (Pulse().pa_stream_begin_write(Stream, &Data, &Size) < 0 || !Data)
                return;
            Size = std::min<size_t>(Size, 1 << 20);
            Size -= Size % Self->BlockAlign;
            if (Size == 0) {
                Pulse().pa_stream_cancel_write(Stream);
                return;
            }
            int32_t Got = 0;
            try {
                Got = Self->Reader.Read(Data, int32_t(Size));
            } catch (...) {
                Got = 0;  // a file that breaks while playing ends the playback
            }
            if (Got > 0)
                Pulse().pa_stream_write(Stream, Data, size_t(Got), nullptr, 0, PA_SEEK_RELATIVE);
            else
                Pulse().pa_stream_cancel_write(Stream);
            if (Got <= 0 || size_t(Got) < Size) {
                Self->Ended = true;
                if (pa_operation* Drain = Pulse().pa_stream_drain(Stream, Drained, Self))
                    Pulse().pa_operation_unref(Drain);
                else
                    Self->Playing = false;
            }
            Bytes -= std::min(Bytes, Size);
        }
    }
};

TAudioPlayer::TAudioPlayer() = default;

TAudioPlayer::~TAudioPlayer()
{
    Stop();
}

bool TAudioPlayer::Open(const std::string& FileName)
{
    Stop();
    FOpen = false;
    FFileName = FileName;
    ErrorText.clear();
    try {
        TcbAudioFileReader Reader;
        Reader.Open(FileName);
    } catch (const EAudioReadError& Error) {
        ErrorText = Error.what();
        return false;
    }
    FOpen = true;
    return true;
}

TAudioPlayer::TMode TAudioPlayer::Mode() const
{
    if (!FOpen)
        return TMode::NotReady;
    return FStream && FStream->Playing ? TMode::Playing : TMode::Stopped;
}

void TAudioPlayer::Stop()
{
    FStream.reset();
}

bool TAudioPlayer::Play()
{
    Stop();
    ErrorText.clear();
    if (!FOpen) {
        ErrorText = "No file is open.";
        return false;
    }
    auto S = std::make_unique<TStream>();
    try {
        S->Reader.Open(FFileName);
    } catch (const EAudioReadError& Error) {
        ErrorText = Error.what();
        return false;
    }
    const TWaveFormat& Format = S->Reader.Format();
    S->BlockAlign = Format.BlockAlign ? Format.BlockAlign : uint16_t(2 * Format.Channels);
    if (!PulseLibraryLoaded()) {
        ErrorText = "The audio server cannot be reached: " + PulseLibraryError();
        return false;
    }
    pa_sample_spec Spec{PA_SAMPLE_S16LE, Format.SamplesPerSec, uint8_t(Format.Channels)};
    if (!Pulse().pa_sample_spec_valid(&Spec)) {
        ErrorText = Pulse().pa_strerror(PA_ERR_INVALID);
        return false;
    }

    S->Loop = Pulse().pa_threaded_mainloop_new();
    S->Context = Pulse().pa_context_new(Pulse().pa_threaded_mainloop_get_api(S->Loop), "Ondrix");
    if (!S->Loop || !S->Context) {
        ErrorText = Pulse().pa_strerror(PA_ERR_INTERNAL);
        return false;
    }
    Pulse().pa_context_set_state_callback(S->Context, TStream::ContextState, S.get());
    if (Pulse().pa_context_connect(S->Context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        ErrorText = S->ServerError();
        return false;
    }
    Pulse().pa_threaded_mainloop_lock(S->Loop);
    if (Pulse().pa_threaded_mainloop_start(S->Loop) < 0) {
        Pulse().pa_threaded_mainloop_unlock(S->Loop);
        ErrorText = Pulse().pa_strerror(PA_ERR_INTERNAL);
        return false;
    }
    bool Ready = false;
    for (;;) {
        const pa_context_state_t State = Pulse().pa_context_get_state(S->Context);
        if (State == PA_CONTEXT_READY) {
            Ready = true;
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(State))
            break;
        Pulse().pa_threaded_mainloop_wait(S->Loop);
    }
    if (Ready) {
        S->Stream = Pulse().pa_stream_new(S->Context, "Sample clip", &Spec, nullptr);
        Ready = S->Stream != nullptr;
    }
    if (Ready) {
        Pulse().pa_stream_set_state_callback(S->Stream, TStream::StreamState, S.get());
        Pulse().pa_stream_set_write_callback(S->Stream, TStream::Write, S.get());
        S->Playing = true;
        Ready = Pulse().pa_stream_connect_playback(S->Stream, nullptr, nullptr, PA_STREAM_NOFLAGS, nullptr, nullptr) >= 0;
    }
    while (Ready) {
        const pa_stream_state_t State = Pulse().pa_stream_get_state(S->Stream);
        if (State == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(State))
            Ready = false;
        else
            Pulse().pa_threaded_mainloop_wait(S->Loop);
    }
    if (!Ready) {
        S->Playing = false;
        ErrorText = S->ServerError();
    }
    Pulse().pa_threaded_mainloop_unlock(S->Loop);
    if (!Ready)
        return false;
    FStream = std::move(S);
    return true;
}
