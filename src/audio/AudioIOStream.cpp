#include "audio/AudioIOStream.h"

#include "audio/AudioConvert.h"
#include "audio/cbAudioFileRead.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <stdexcept>
#include <unistd.h>

// ---------------------------------------------------------------------------------------------
// TRawPcmSource

TRawPcmSource::TRawPcmSource(const std::string& AFileName, int AFrameRate, int AChannels)
    : FileName(AFileName), FFrameRate(AFrameRate), FChannels(AChannels)
{
    CancelEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (CancelEvent < 0)
        throw std::runtime_error(std::string("Cannot create an event: ") + std::strerror(errno));
    if (FileName == "-") {
        Fd = STDIN_FILENO;
        return;
    }
    Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (Fd < 0) {
        const int Error = errno;
        ::close(CancelEvent);
        throw std::runtime_error("Cannot open \"" + FileName + "\": " + std::strerror(Error));
    }
    OwnsFd = true;
}

TRawPcmSource::~TRawPcmSource()
{
    if (OwnsFd)
        ::close(Fd);
    ::close(CancelEvent);
}

void TRawPcmSource::Cancel()
{
    const int SavedErrno = errno;
    const uint64_t One = 1;
    [[maybe_unused]] const ssize_t Written = ::write(CancelEvent, &One, sizeof One);
    errno = SavedErrno;
}

size_t TRawPcmSource::Read(uint8_t* Buffer, size_t Size)
{
    // Keep taking what the stream has until the buffer is full or the stream ends.
    size_t done = 0;
    while (done < Size) {
        if (StagedBegin == StagedEnd && !Refill())
            break;
        const size_t n = std::min(Size - done, StagedEnd - StagedBegin);
        std::memcpy(Buffer + done, Staged.data() + StagedBegin, n);
        StagedBegin += n;
        done += n;
    }
    return done;
}

bool TRawPcmSource::Refill()
{
    // 256 KB: four times what a pipe holds by default, so a fast writer is emptied in one go.
    constexpr size_t Capacity = 256 * 1024;
    if (Staged.size() != Capacity)
        Staged.resize(Capacity);
    StagedBegin = StagedEnd = 0;
    // Each read waits for data or for Cancel, whichever comes first.
    for (;;) {
        pollfd Waits[2] = {{Fd, POLLIN, 0}, {CancelEvent, POLLIN, 0}};
        if (::poll(Waits, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("Cannot read \"" + FileName + "\": " + std::strerror(errno));
        }
        if (Waits[1].revents != 0)
            return false;
        const ssize_t n = ::read(Fd, Staged.data(), Capacity);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("Cannot read \"" + FileName + "\": " + std::strerror(errno));
        }
        StagedEnd = size_t(n);
        return n > 0;
    }
}

// ---------------------------------------------------------------------------------------------
// TAudioFileSource

TAudioFileSource::TAudioFileSource(const std::string& FileName)
    : Reader(std::make_unique<TcbAudioFileReader>())
{
    Reader->Open(FileName);
    FileChannels = Reader->Format().Channels;
    if (FileChannels < 1)
        throw std::runtime_error("\"" + FileName + "\" has no channels");
    Reader->SetPosition(0);
}

TAudioFileSource::~TAudioFileSource() = default;

int TAudioFileSource::FrameRate() const
{
    return int(Reader->Format().SamplesPerSec);
}

size_t TAudioFileSource::Read(uint8_t* Buffer, size_t Size)
{
    // Whole frames of the file, read in pieces the reader's 32-bit sizes can hold.
    const size_t frames = Size / 4;
    size_t done = 0;
    while (done < frames) {
        const size_t want = std::min<size_t>(frames - done, 1 << 20);
        size_t got;
        if (FileChannels == 2) {
            got = size_t(Reader->Read(Buffer + done * 4, int32_t(want * 4))) / 4;
        } else {
            const auto channels = size_t(FileChannels);
            FileFrames.resize(want * channels);
            got = size_t(Reader->Read(FileFrames.data(), int32_t(FileFrames.size() * 2))) / (2 * channels);
            CopyAsStereo(FileFrames.data(), got, channels, reinterpret_cast<int16_t*>(Buffer) + done * 2);
        }
        done += got;
        if (got < want)
            break;
    }
    return done * 4;
}

// ---------------------------------------------------------------------------------------------
// TResampledSource

TResampledSource::TResampledSource(std::unique_ptr<TPcmSource> ASource, int AFrameRate)
    : Source(std::move(ASource)), FFrameRate(AFrameRate),
      Resampler(uint32_t(Source->FrameRate()), uint32_t(AFrameRate), unsigned(Source->Channels()))
{
    if (Source->BitsPerSample() != 16)
        throw std::runtime_error("only 16-bit audio can be resampled");
}

size_t TResampledSource::Read(uint8_t* Buffer, size_t Size)
{
    const size_t frameBytes = size_t(Channels()) * 2;
    const size_t wanted = Size / frameBytes * frameBytes;
    size_t done = 0;
    for (;;) {
        const size_t n = std::min(wanted - done, (Resampled.size() - Begin) * 2);
        std::memcpy(Buffer + done, Resampled.data() + Begin, n);
        Begin += n / 2;
        done += n;
        if (done == wanted || SourceEnded)
            return done;
        // The next piece of the source, a tenth of a second or so, through the resampler.
        Resampled.erase(Resampled.begin(), Resampled.begin() + std::ptrdiff_t(Begin));
        Begin = 0;
        const size_t pieceFrames = size_t(Source->FrameRate()) / 8 + 1;
        Piece.resize(pieceFrames * size_t(Channels()));
        const size_t pieceBytes = Piece.size() * 2;
        const size_t got = Source->Read(reinterpret_cast<uint8_t*>(Piece.data()), pieceBytes);
        SourceEnded = got < pieceBytes;
        Resampler.Process(Piece.data(), got / frameBytes, SourceEnded, Resampled);
    }
}

// ---------------------------------------------------------------------------------------------
// TStreamWaveIn

TStreamWaveIn::TStreamWaveIn(TPcmSourceFactory AOpenSource, TPacing APacing, uint32_t AGranule)
    : OpenSource(std::move(AOpenSource)), Pacing(APacing), Granule(AGranule)
{
}

TStreamWaveIn::~TStreamWaveIn()
{
    Close();
}

int TStreamWaveIn::Fail(int Code, const std::string& Text)
{
    LastError = Text;
    Source.reset();
    Notify = nullptr;
    return Code;
}

int TStreamWaveIn::Open(int, const TWaveFormat& AFormat, TWaveInNotify ANotify)
{
    if (Source)
        return Fail(ErrorState, "The stream is already open");
    Notify = std::move(ANotify);
    Format = AFormat;
    try {
        Source = OpenSource ? OpenSource() : nullptr;
    } catch (const std::exception& e) {
        return Fail(ErrorOpen, e.what());
    }
    if (!Source)
        return Fail(ErrorOpen, "No audio stream");
    if (Source->FrameRate() != int(Format.SamplesPerSec) || Source->Channels() != Format.Channels
        || Source->BitsPerSample() != Format.BitsPerSample) {
        return Fail(ErrorFormat, "The audio stream has " + std::to_string(Source->FrameRate()) + " Hz, "
                                     + std::to_string(Source->Channels()) + " channel(s), "
                                     + std::to_string(Source->BitsPerSample()) + " bits; capture needs "
                                     + std::to_string(Format.SamplesPerSec) + " Hz, "
                                     + std::to_string(Format.Channels) + " channel(s), "
                                     + std::to_string(Format.BitsPerSample) + " bits");
    }
    Started = Ended = Closing = false;
    FramesDelivered = 0;
    Notify({TWaveInMessage::Open, nullptr, 0});
    return 0;
}

int TStreamWaveIn::AddBuffer(TWaveHeader& Header)
{
    {
        std::lock_guard<std::mutex> guard(BufferLock);
        if (!Source)
            return ErrorState;
        Header.BytesRecorded = 0;
        Header.Flags = (Header.Flags & ~WHDR_DONE) | WHDR_INQUEUE;
        Pending.push_back(&Header);
    }
    Changed.notify_all();
    if (Pacing == TPacing::AsFastAsTaken)
        Pump();
    return 0;
}

int TStreamWaveIn::Start()
{
    {
        std::lock_guard<std::mutex> guard(BufferLock);
        if (!Source)
            return ErrorState;
        Started = true;
    }
    if (Pacing == TPacing::RealTime)
        Reader = std::thread(&TStreamWaveIn::PacingThread, this);
    else
        Pump();
    return 0;
}

bool TStreamWaveIn::FillFront(std::unique_lock<std::mutex>& Guard)
{
    TWaveHeader& header = *Pending.front();
    size_t got = 0;
    int code = 0;
    std::string error;
    Reading = true;
    Guard.unlock();
    try {
        got = Source->Read(header.Data, header.BufferLength);
    } catch (const std::exception& e) {
        error = e.what();
        code = ErrorRead;
    }
    Guard.lock();
    Reading = false;
    Changed.notify_all();
    if (Closing)
        return false;
    if (code != 0)
        LastError = error;
    if (code != 0 || got < header.BufferLength) {
        // The whole granules of the stream's last part go out before its end.
        if (const size_t whole = code == 0 && Granule > 0 ? got / Granule * Granule : 0; whole > 0)
            Deliver(header, whole);
        Ended = true;
        Notify({TWaveInMessage::End, nullptr, code});
        return false;
    }
    Deliver(header, got);
    return true;
}

void TStreamWaveIn::Deliver(TWaveHeader& Header, size_t Bytes)
{
    Pending.pop_front();
    Header.BytesRecorded = uint32_t(Bytes);
    Header.Flags = (Header.Flags & ~WHDR_INQUEUE) | WHDR_DONE;
    FramesDelivered += Bytes / Format.BlockAlign;
    Notify({TWaveInMessage::Data, &Header, 0});
}

void TStreamWaveIn::Pump()
{
    std::unique_lock<std::mutex> guard(BufferLock);
    while (Started && !Ended && !Closing && !Pending.empty())
        if (!FillFront(guard))
            break;
}

void TStreamWaveIn::PacingThread()
{
    using TClock = std::chrono::steady_clock;
    const auto begin = TClock::now();
    std::unique_lock<std::mutex> guard(BufferLock);
    while (!Closing && !Ended) {
        if (Pending.empty()) {
            Changed.wait(guard);
            continue;
        }
        // A buffer is complete when the last of its frames would have been recorded.
        const uint64_t frames = FramesDelivered + Pending.front()->BufferLength / Format.BlockAlign;
        const auto due = begin + std::chrono::microseconds(frames * 1000000 / Format.SamplesPerSec);
        if (TClock::now() < due) {
            Changed.wait_until(guard, due);
            continue;
        }
        FillFront(guard);
    }
}

void TStreamWaveIn::Reset()
{
    // Recording stops here for good: a read still waiting for the writer ends at once, and
    // its buffer goes back with the others once the read has let go of it.
    if (Source)
        Source->Cancel();
    std::unique_lock<std::mutex> guard(BufferLock);
    Closing = true;
    Changed.notify_all();
    Changed.wait(guard, [this] { return !Reading; });
    for (TWaveHeader* header : Pending) {
        header->Flags = (header->Flags & ~WHDR_INQUEUE) | WHDR_DONE;
        if (Notify)
            Notify({TWaveInMessage::Data, header, 0});
    }
    Pending.clear();
}

void TStreamWaveIn::Close()
{
    if (Source)
        Source->Cancel();
    {
        std::unique_lock<std::mutex> guard(BufferLock);
        Closing = true;
        Changed.notify_all();
        Changed.wait(guard, [this] { return !Reading; });
        Pending.clear();
    }
    Changed.notify_all();
    if (Reader.joinable())
        Reader.join();
    if (!Source)
        return;
    Source.reset();
    Started = false;
    if (Notify)
        Notify({TWaveInMessage::Close, nullptr, 0});
    Notify = nullptr;
}

std::string TStreamWaveIn::ErrorText(int Code) const
{
    switch (Code) {
    case 0:
        return {};
    case ErrorState:
        return LastError.empty() ? "The stream is not open" : LastError;
    default:
        return LastError.empty() ? "Audio stream error " + std::to_string(Code) : LastError;
    }
}
