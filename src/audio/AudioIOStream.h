#pragma once
// Capture from a PCM stream instead of a sound source: a decoded audio file, a raw PCM file or
// a pipe, delivered as buffers through the same interface as live capture. The engine then
// runs over a recording exactly as it would over the live feed.
//
// Pacing:
//  - RealTime: a buffer comes back when its audio would have been recorded live (a reading
//    thread waits for each buffer's moment).
//  - AsFastAsTaken: a buffer is filled as soon as it is queued and comes back with the next
//    drain of the main-thread queue; no thread, and the order of events is fully determined.
//
// Only whole buffers are delivered: a final part shorter than a buffer is left out, because
// it could not form a full analysis block; a device with a granule smaller than its buffers
// (a reader that takes several blocks' audio per buffer) delivers the whole granules of that
// part. When the stream is exhausted the device reports End; when it cannot be read further
// it reports End with an error code.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioConvert.h"
#include "audio/AudioIO.h"

// A source of interleaved PCM.
class TPcmSource {
public:
    virtual ~TPcmSource() = default;
    virtual int FrameRate() const = 0;
    virtual int Channels() const = 0;
    virtual int BitsPerSample() const = 0;
    // Reads up to Size bytes; fewer (or 0) at the end of the stream. Raises std::runtime_error
    // when the stream cannot be read.
    virtual size_t Read(uint8_t* Buffer, size_t Size) = 0;
    // Ends the stream from any thread, even from a signal handler: a Read waiting for data
    // returns at once with what it has, and every later Read returns 0. For sources whose
    // Read can wait (a pipe); the others end by themselves.
    virtual void Cancel() {}
};

// Raw PCM from a file, or from standard input for the name "-". The layout is given, not read:
// 16-bit little-endian interleaved at the given rate and channel count.
class TRawPcmSource final : public TPcmSource {
public:
    // Raises std::runtime_error naming the file when it cannot be opened.
    explicit TRawPcmSource(const std::string& FileName, int FrameRate = 44100, int Channels = 2);
    ~TRawPcmSource() override;
    int FrameRate() const override { return FFrameRate; }
    int Channels() const override { return FChannels; }
    int BitsPerSample() const override { return 16; }
    size_t Read(uint8_t* Buffer, size_t Size) override;
    // Async-signal-safe: one write to an event descriptor.
    void Cancel() override;

private:
    std::string FileName;
    int Fd = -1;
    bool OwnsFd = false;
    int CancelEvent = -1;  // readable once Cancel was called
    int FFrameRate;
    int FChannels;
    // What one read of the stream brought and the callers have not taken yet: a pipe hands over
    // up to its whole capacity at once, where a caller asks for one capture buffer at a time.
    std::vector<uint8_t> Staged;
    size_t StagedBegin = 0;
    size_t StagedEnd = 0;

    // Waits for the stream and reads what it has into Staged; false at its end or on Cancel.
    bool Refill();
};

class TcbAudioFileReader;

// A decoded audio file (anything the audio file reader decodes) as 16-bit stereo at the file's
// own rate: a mono file is delivered with its one channel on both sides, so a mono recording
// scans like a stereo one; a file of more channels by its first two (front left and right).
class TAudioFileSource final : public TPcmSource {
public:
    // Raises EAudioReadError when the file is missing or cannot be decoded.
    explicit TAudioFileSource(const std::string& FileName);
    ~TAudioFileSource() override;
    int FrameRate() const override;
    int Channels() const override { return 2; }
    int BitsPerSample() const override { return 16; }
    size_t Read(uint8_t* Buffer, size_t Size) override;

private:
    std::unique_ptr<TcbAudioFileReader> Reader;
    int FileChannels = 2;
    std::vector<int16_t> FileFrames;  // frames as the file has them, before they become stereo
};

// Another 16-bit source at another frame rate (TResampler): a recording made at 48 kHz or
// 22.05 kHz is heard by the engine at its own rate, and lasts as long as it did.
class TResampledSource final : public TPcmSource {
public:
    // Raises EAudioReadError when the rates cannot be converted, std::runtime_error for a
    // source that is not 16-bit.
    TResampledSource(std::unique_ptr<TPcmSource> Source, int FrameRate);
    int FrameRate() const override { return FFrameRate; }
    int Channels() const override { return Source->Channels(); }
    int BitsPerSample() const override { return 16; }
    size_t Read(uint8_t* Buffer, size_t Size) override;
    void Cancel() override { Source->Cancel(); }

private:
    std::unique_ptr<TPcmSource> Source;
    int FFrameRate;
    TResampler Resampler;
    std::vector<int16_t> Piece;      // the last piece read from the source
    std::vector<int16_t> Resampled;  // resampled values not handed out yet, from Begin on
    size_t Begin = 0;
    bool SourceEnded = false;
};

enum class TPacing { RealTime, AsFastAsTaken };

using TPcmSourceFactory = std::function<std::unique_ptr<TPcmSource>()>;

class TStreamWaveIn final : public TWaveInDevice {
public:
    // OpenSource is called by Open; the error it raises becomes Open's error text. Granule:
    // the final part of the stream, shorter than a buffer, is delivered in whole granules of
    // this many bytes (the rest is left out); 0: only whole buffers are delivered.
    TStreamWaveIn(TPcmSourceFactory OpenSource, TPacing Pacing, uint32_t Granule = 0);
    ~TStreamWaveIn() override;

    int Open(int Device, const TWaveFormat& Format, TWaveInNotify Notify) override;
    int AddBuffer(TWaveHeader& Header) override;
    int Start() override;
    void Reset() override;
    void Close() override;
    std::string ErrorText(int Code) const override;

    // Error codes of this device.
    enum : int { ErrorOpen = 1, ErrorFormat = 2, ErrorRead = 3, ErrorState = 4 };

private:
    // Fills and returns the front buffer; called with Guard holding BufferLock, which is let
    // go while the source reads (a pipe may keep a read waiting), so Reset and Close never
    // wait for a writer. Returns false when the stream has ended (End reported) or the device
    // is closing.
    bool FillFront(std::unique_lock<std::mutex>& Guard);
    // Returns the front buffer, the first Bytes of it recorded (BufferLock held).
    void Deliver(TWaveHeader& Header, size_t Bytes);
    void Pump();
    void PacingThread();
    int Fail(int Code, const std::string& Text);

    TPcmSourceFactory OpenSource;
    TPacing Pacing;
    uint32_t Granule;
    std::unique_ptr<TPcmSource> Source;
    TWaveInNotify Notify;
    TWaveFormat Format;
    std::string LastError;

    std::mutex BufferLock;
    std::condition_variable Changed;
    std::deque<TWaveHeader*> Pending;
    bool Started = false;
    bool Ended = false;
    bool Closing = false;
    bool Reading = false;  // a buffer is being read with BufferLock let go
    uint64_t FramesDelivered = 0;
    std::thread Reader;
};
