#pragma once
// A source of decoded PCM read block by block from the start or from a chosen time, with an
// optional time range, and the error every such reader raises.
//
// Times are signed 64-bit counts of 100-ns units (10 000 000 per second).

#include <cstdint>
#include <stdexcept>
#include <string>

// Standard PCM format header, the same fields as the "fmt " chunk of a WAV file.
struct TWaveFormat {
    uint16_t FormatTag = 0;       // 1 = PCM
    uint16_t Channels = 0;
    uint32_t SamplesPerSec = 0;
    uint32_t AvgBytesPerSec = 0;
    uint16_t BlockAlign = 0;      // bytes per frame
    uint16_t BitsPerSample = 0;
    uint16_t ExtraSize = 0;       // size of extra format data
};

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr int64_t AudioTimeUnitsPerSecond = 10'000'000;

// Result codes a reader raises where one fits what went wrong.
namespace AudioReadCode {
constexpr int32_t UpdatePending = 0x00040001;
constexpr int32_t NotUpdated = 0x00040002;
constexpr int32_t EndOfStream = 0x00040003;
constexpr int32_t InvalidBufferSize = 0x08000001;
constexpr int32_t NoInterface = static_cast<int32_t>(0x80004002u);
constexpr int32_t InvalidPointer = static_cast<int32_t>(0x80004003u);
constexpr int32_t Aborted = static_cast<int32_t>(0x80004004u);
constexpr int32_t NoSeeking = static_cast<int32_t>(0x80040404u);
constexpr int32_t IncompatibleFormat = static_cast<int32_t>(0x80040405u);
constexpr int32_t NotInitialized = static_cast<int32_t>(0x80040407u);
constexpr int32_t InvalidArgument = static_cast<int32_t>(0x80070057u);
// The decoder's code for a file of a known format that is damaged (a truncated file).
constexpr int32_t MalformedFile = 3;
}  // namespace AudioReadCode

// A reader failure: the message and the result code that caused it.
class EAudioReadError : public std::runtime_error {
public:
    EAudioReadError(const std::string& Message, int32_t Code)
        : std::runtime_error(Message), FErrorCode(Code) {}
    int32_t ErrorCode() const { return FErrorCode; }

private:
    int32_t FErrorCode;
};

// The message for a result code: the fixed text of a known code, else DecoderText (the
// decoder's own description, cut to 300 characters), else "Unrecognized error value.".
std::string AudioReadErrorText(int32_t Code, const std::string& DecoderText = {});

// Returns for Code 0; raises EAudioReadError with AudioReadErrorText for any other code,
// success codes included.
void CheckResult(int32_t Code, const std::string& DecoderText = {});

// The operations every PCM source offers. Format and Duration are known once a source is
// open; Position is the end time of the last block read.
class TcbAudioReader {
public:
    virtual ~TcbAudioReader() = default;

    // Moves the read position, kept inside the stream and the selected range.
    virtual void SetPosition(int64_t Time) = 0;
    // Sets the length of the selected range; 0 = up to the end of the stream.
    virtual void SetLength(int64_t Span) = 0;
    // Sets the start of the selected range.
    virtual void SetStart(int64_t Time) = 0;
    // Decodes the next block into Buffer (Size bytes) and returns the bytes written: fewer
    // than Size, or 0, at the end of the stream or of the selected range.
    virtual int32_t Read(void* Buffer, int32_t Size) = 0;

    const TWaveFormat& Format() const { return FFormat; }
    int64_t Duration() const { return FDuration; }
    int64_t Position() const { return FPosition; }
    int64_t Start() const { return FStart; }
    int64_t Length() const { return FLength; }
    int64_t BlockStart() const { return FBlockStart; }
    int64_t BlockEnd() const { return FBlockEnd; }

protected:
    TWaveFormat FFormat;
    int64_t FDuration = 0;
    int64_t FPosition = 0;
    int64_t FStart = 0;
    int64_t FLength = 0;
    int64_t FBlockStart = 0;
    int64_t FBlockEnd = 0;
};
