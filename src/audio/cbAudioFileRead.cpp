#include "audio/cbAudioFileRead.h"

#include "audio/cbAudioFileReadCheck.h"

#include <sndfile.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

static_assert(AudioReadCode::MalformedFile == SF_ERR_MALFORMED_FILE);

namespace {

constexpr int64_t MinRangeLength = 100'000;                // 10 ms
constexpr int64_t MaxRangeLength = 1'000'000'000'000'000;  // 10^8 s

// A * B / C in exact integer steps for non-negative A and positive B, C, so frame counts
// and times of long streams never overflow 64 bits.
int64_t MulDiv(int64_t A, int64_t B, int64_t C)
{
    return A / C * B + A % C * B / C;
}

}  // namespace

// The file under the decoder, read from the disk in large chunks: libsndfile asks for as many
// bytes as the caller's block holds (4 KB for a block of 1024 stereo frames), and a system
// call per block cost more than decoding it. Requests of half a chunk or more go straight
// into the decoder's buffer (the scanner reads many blocks at a time). 64 KB stays in the
// processor's cache between the system's copy into it and the decoder's copy out of it, where
// a larger chunk made both slower; it is never cleared, since only what a read brought is
// ever taken from it.
class TFileChunks {
public:
    static constexpr size_t ChunkSize = 64 * 1024;

    explicit TFileChunks(int AFd) : Fd(AFd), Chunk(new uint8_t[ChunkSize]) {}
    ~TFileChunks() { ::close(Fd); }
    TFileChunks(const TFileChunks&) = delete;
    TFileChunks& operator=(const TFileChunks&) = delete;

    static SF_VIRTUAL_IO Callbacks()
    {
        SF_VIRTUAL_IO Io{};
        Io.get_filelen = [](void* Self) -> sf_count_t {
            struct stat Info {};
            return ::fstat(static_cast<TFileChunks*>(Self)->Fd, &Info) == 0 ? sf_count_t(Info.st_size) : -1;
        };
        Io.seek = [](sf_count_t Offset, int Whence, void* Self) { return static_cast<TFileChunks*>(Self)->Seek(Offset, Whence); };
        Io.read = [](void* Target, sf_count_t Count, void* Self) { return static_cast<TFileChunks*>(Self)->Read(Target, Count); };
        Io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
        Io.tell = [](void* Self) { return static_cast<TFileChunks*>(Self)->Position; };
        return Io;
    }

private:
    sf_count_t Seek(sf_count_t Offset, int Whence)
    {
        sf_count_t Base = 0;
        if (Whence == SEEK_CUR)
            Base = Position;
        else if (Whence == SEEK_END) {
            struct stat Info {};
            if (::fstat(Fd, &Info) != 0)
                return -1;
            Base = sf_count_t(Info.st_size);
        }
        if (Base + Offset < 0)
            return -1;
        Position = Base + Offset;
        return Position;
    }

    sf_count_t Read(void* Target, sf_count_t Count)
    {
        auto* Out = static_cast<uint8_t*>(Target);
        sf_count_t Done = 0;
        while (Done < Count) {
            if (Position >= ChunkStart && Position < ChunkStart + ChunkBytes) {
                const sf_count_t Offset = Position - ChunkStart;
                const sf_count_t Take = std::min(Count - Done, ChunkBytes - Offset);
                std::memcpy(Out + Done, Chunk.get() + Offset, size_t(Take));
                Done += Take;
                Position += Take;
                continue;
            }
            const bool Direct = Count - Done >= sf_count_t(ChunkSize / 2);
            const ssize_t Got = Direct ? ::pread(Fd, Out + Done, size_t(Count - Done), off_t(Position))
                                       : ::pread(Fd, Chunk.get(), ChunkSize, off_t(Position));
            if (Got < 0 && errno == EINTR)
                continue;
            if (Got < 0)
                Failure = errno;
            if (Got <= 0)
                break;  // the end of the file, or a failure the reader reports after the decoder
            if (Direct) {
                Done += Got;
                Position += Got;
            } else {
                ChunkStart = Position;
                ChunkBytes = Got;
            }
        }
        return Done;
    }

public:
    // The errno of the first read that failed, 0 while none has: the decoder takes a failed
    // read for the end of the file, which must not pass for a complete scan.
    int Failure = 0;

private:
    int Fd;
    std::unique_ptr<uint8_t[]> Chunk;
    sf_count_t ChunkStart = 0;  // file offset of Chunk[0]
    sf_count_t ChunkBytes = 0;  // bytes of Chunk holding the file
    sf_count_t Position = 0;    // file offset the decoder reads next
};

TcbAudioFileReader::TcbAudioFileReader() = default;

TcbAudioFileReader::~TcbAudioFileReader()
{
    Close();
}

int64_t TcbAudioFileReader::TimeOfFrame(int64_t Frame) const
{
    if (Frame <= 0 || FFormat.SamplesPerSec == 0)
        return 0;
    return MulDiv(Frame, AudioTimeUnitsPerSecond, FFormat.SamplesPerSec);
}

int64_t TcbAudioFileReader::FrameOfTime(int64_t Time) const
{
    if (Time <= 0)
        return 0;
    // The first frame that starts at or after Time: block times are truncated, so a time
    // taken from BlockEnd leads back to the very frame it came from.
    const int64_t Frame = MulDiv(Time, FFormat.SamplesPerSec, AudioTimeUnitsPerSecond);
    return TimeOfFrame(Frame) < Time ? Frame + 1 : Frame;
}

int64_t TcbAudioFileReader::Decode(int16_t* Target, int32_t Frames)
{
    if (!FFloatSource)
        return sf_readf_short(FFile, Target, Frames);
    // libsndfile hands floating-point samples to 16-bit reads unscaled (0.5 becomes 0), so
    // they are read as floats and scaled here, full scale 1.0 to 32768, clipped.
    const size_t Count = size_t(Frames) * FFormat.Channels;
    FFloats.resize(Count);
    const sf_count_t Got = sf_readf_float(FFile, FFloats.data(), Frames);
    const size_t Values = Got > 0 ? size_t(Got) * FFormat.Channels : 0;
    for (size_t I = 0; I < Values; ++I)
        Target[I] = static_cast<int16_t>(std::clamp(std::lrint(FFloats[I] * 32768.0f), -32768L, 32767L));
    return Got;
}

void TcbAudioFileReader::RaiseDecoderError(int32_t FallbackCode)
{
    const int Code = sf_error(FFile);
    if (Code == SF_ERR_NO_ERROR)
        CheckResult(FallbackCode);
    CheckResult(Code, sf_strerror(FFile));
    throw EAudioReadError(AudioReadErrorText(FallbackCode), FallbackCode);  // not reached
}

void TcbAudioFileReader::Open(const std::string& FileName)
{
    Close();
    // Opening a pipe or device would wait for a writer without limit; a folder would be
    // reported as an unknown format. Neither is a clip.
    std::error_code Error;
    const auto Status = std::filesystem::status(FileName, Error);
    if (std::filesystem::exists(Status) && !std::filesystem::is_regular_file(Status))
        CheckResult(SF_ERR_SYSTEM, "System error : \"" + FileName + "\" is not a regular file.");
    SF_INFO Info{};
    SNDFILE* File = nullptr;
    int OpenError = SF_ERR_NO_ERROR;
    std::string OpenErrorText;
    {
        // libsndfile keeps the error of a failed open in one variable for the whole process:
        // the scanner's workers open files at once, so an open and the reading of its error
        // are one step, or a file is reported with the error of another thread's file.
        static std::mutex OpenMutex;
        const std::lock_guard Lock(OpenMutex);
        // A file that cannot be opened is left to libsndfile, so that its error reads as always.
        if (const int Fd = ::open(FileName.c_str(), O_RDONLY | O_CLOEXEC); Fd >= 0) {
            FChunks = std::make_unique<TFileChunks>(Fd);
            SF_VIRTUAL_IO Io = TFileChunks::Callbacks();
            File = sf_open_virtual(&Io, SFM_READ, &Info, FChunks.get());
            if (!File)
                FChunks.reset();
        } else
            File = sf_open(FileName.c_str(), SFM_READ, &Info);
        if (!File) {
            OpenError = sf_error(nullptr);
            OpenErrorText = sf_strerror(nullptr);
        }
    }
    if (!File)
        CheckResult(OpenError != 0 ? OpenError : AudioReadCode::IncompatibleFormat, OpenErrorText);
    if (Info.channels <= 0 || Info.channels > 0xFFFF / 2 || Info.samplerate <= 0) {
        sf_close(File);
        FChunks.reset();
        CheckResult(AudioReadCode::IncompatibleFormat);
    }
    // The decoder reads a file cut short up to where it ends, as if that were the end of the
    // stream: refuse it here.
    try {
        CheckAudioFileComplete(FileName, (Info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG);
    } catch (...) {
        sf_close(File);
        FChunks.reset();
        throw;
    }
    const int Encoding = Info.format & SF_FORMAT_SUBMASK;
    FFloatSource = Encoding == SF_FORMAT_FLOAT || Encoding == SF_FORMAT_DOUBLE;
    FFile = File;
    FFileName = FileName;
    FFormat = TWaveFormat{};
    FFormat.FormatTag = WAVE_FORMAT_PCM;
    FFormat.Channels = static_cast<uint16_t>(Info.channels);
    FFormat.SamplesPerSec = static_cast<uint32_t>(Info.samplerate);
    FFormat.BitsPerSample = 16;
    FFormat.BlockAlign = static_cast<uint16_t>(FFormat.Channels * 2);
    FFormat.AvgBytesPerSec = FFormat.SamplesPerSec * FFormat.BlockAlign;
    // For MP3 the frame count is libsndfile's estimate; the end of the stream corrects it.
    FDeclaredFrames = Info.frames > 0 && Info.frames < std::numeric_limits<sf_count_t>::max() ? Info.frames : 0;
    FDuration = TimeOfFrame(FDeclaredFrames);
    FFrame = 0;
    FStart = 0;
    FLength = 0;
    FPosition = 0;
    FBlockStart = 0;
    FBlockEnd = 0;
}

void TcbAudioFileReader::Close()
{
    if (FFile) {
        sf_close(FFile);
        FFile = nullptr;
    }
    FChunks.reset();
    FDeclaredFrames = 0;
    FAligned = {};
    FFloats = {};
}

int32_t TcbAudioFileReader::Read(void* Buffer, int32_t Size)
{
    if (Size <= 0)
        CheckResult(AudioReadCode::InvalidBufferSize);
    if (!FFile)
        CheckResult(AudioReadCode::NotInitialized);
    if (!Buffer)
        CheckResult(AudioReadCode::InvalidPointer);
    const int32_t FrameBytes = FFormat.BlockAlign;
    const int32_t Frames = Size / FrameBytes;
    if (Frames == 0)
        CheckResult(AudioReadCode::InvalidBufferSize);

    if (FLength != 0 && FStart + FLength <= FPosition)
        return 0;

    const bool Aligned = reinterpret_cast<uintptr_t>(Buffer) % alignof(int16_t) == 0;
    int16_t* Target = static_cast<int16_t*>(Buffer);
    if (!Aligned) {
        FAligned.resize(size_t(Frames) * FFormat.Channels);
        Target = FAligned.data();
    }
    const sf_count_t Got = Decode(Target, Frames);
    if (sf_error(FFile) != SF_ERR_NO_ERROR)
        RaiseDecoderError(AudioReadCode::Aborted);
    if (FChunks && FChunks->Failure != 0)
        CheckResult(SF_ERR_SYSTEM, "System error : " + std::string(std::strerror(FChunks->Failure)) + ".");
    if (Got <= 0) {
        // End of the stream: the frames decoded so far are the stream's true length.
        FDuration = TimeOfFrame(FFrame);
        return 0;
    }
    int32_t Bytes = static_cast<int32_t>(Got) * FrameBytes;
    if (!Aligned)
        std::memcpy(Buffer, Target, size_t(Bytes));

    FBlockStart = TimeOfFrame(FFrame);
    FFrame += Got;
    FBlockEnd = TimeOfFrame(FFrame);
    if (Got < Frames && FDuration != FBlockEnd)
        FDuration = FBlockEnd;
    if (FBlockStart > FBlockEnd)
        FBlockStart = FBlockEnd;

    // A block that runs past the selected range keeps only its share inside the range,
    // cut back to whole frames.
    const int64_t RangeEnd = FStart + FLength;
    if (FLength != 0 && FBlockEnd > FBlockStart && RangeEnd < FBlockEnd) {
        const int64_t Inside = RangeEnd > FBlockStart ? RangeEnd - FBlockStart : 0;
        const double Share = double(int64_t(Bytes) * Inside) / double(FBlockEnd - FBlockStart);
        Bytes = static_cast<int32_t>(Share);
        Bytes -= Bytes % FrameBytes;
        FBlockEnd = RangeEnd;
    }
    FPosition = FBlockEnd;
    return Bytes;
}

void TcbAudioFileReader::SetPosition(int64_t Time)
{
    if (Time == FPosition)
        return;
    if (!FFile)
        CheckResult(AudioReadCode::NotInitialized);
    if (Time < FStart)
        Time = FStart;
    else if (Time > FDuration)
        Time = FDuration;
    else if (FLength != 0 && Time > FStart + FLength)
        Time = FStart + FLength;

    const sf_count_t Frame = sf_seek(FFile, FrameOfTime(Time), SEEK_SET);
    if (Frame < 0)
        RaiseDecoderError(AudioReadCode::NoSeeking);
    FFrame = Frame;
    FPosition = Time;
}

void TcbAudioFileReader::SetStart(int64_t Time)
{
    if (Time == FStart)
        return;
    if (Time < 0)
        Time = 0;
    if (Time > FPosition)
        SetPosition(Time);
    FStart = Time;
}

void TcbAudioFileReader::SetLength(int64_t Span)
{
    if (Span == FLength)
        return;
    if (Span != 0 && Span < MinRangeLength)
        Span = MinRangeLength;
    else if (Span > MaxRangeLength)
        Span = MaxRangeLength;
    // A range that ends before the read position moves the position back to its start;
    // removing the range (0) leaves the position alone.
    if (Span != 0 && FStart + Span < FPosition)
        SetPosition(FStart);
    FLength = Span;
}
