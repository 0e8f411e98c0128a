#pragma once
// Capture: records PCM from an input device into a ring of fixed-size buffers and hands every
// filled buffer to its owner on the main thread.
//
// TAudioIO holds the format, the buffers and the error text; TAudioIn is the recording device.
// The device itself sits behind TWaveInDevice (PulseAudio for live capture, a PCM stream for
// files and pipes). A device reports from its own thread; TAudioIn turns every report into a
// task on the main-thread queue (audio/MainThreadQueue.h), so the buffer ring, the counters and
// every event run on the main thread only and need no locks.

#include <array>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "audio/MainThreadQueue.h"
#include "audio/cbAudioRead.h"  // TWaveFormat, the wave format record


// Flags of a wave header.
inline constexpr uint32_t WHDR_DONE = 0x01;
inline constexpr uint32_t WHDR_PREPARED = 0x02;
inline constexpr uint32_t WHDR_INQUEUE = 0x10;

// One buffer lent to the device. The device writes Data and BytesRecorded while it holds the
// header and must not touch either once it has returned it.
struct TWaveHeader {
    uint8_t* Data = nullptr;
    uint32_t BufferLength = 0;
    uint32_t BytesRecorded = 0;
    uintptr_t User = 0;
    uint32_t Flags = 0;
};

// What a device reports. Open, Data and Close are the three notifications of a wave input
// device. End and Error say that the device has stopped by itself: End when its input is
// exhausted (Code 0) or could not be read further (Code = an error code), Error when the
// device went away (the audio server stopped, the source was removed); after either of them
// the device returns no more buffers. Dropped says that Code bytes of audio were lost (the
// buffers were all full for too long), at this place in the stream: after the buffers
// returned before it, at most one buffer's length off.
enum class TWaveInMessage { Open, Data, Close, End, Error, Dropped };

struct TWaveInNotification {
    TWaveInMessage Message = TWaveInMessage::Data;
    TWaveHeader* Header = nullptr;  // Data: the returned buffer
    int Code = 0;                   // End, Error: error code for TWaveInDevice::ErrorText;
                                    // Dropped: bytes lost
};

// Why a device could not be opened, as far as the operator can act on it: no audio server
// to connect to, no device of the chosen name, the server refused this client, or anything
// else. None: nothing was tried (a setting the capture cannot take).
enum class TCaptureFault { None, NoServer, NoDevice, Refused, Other };

// Called by a device from any thread.
using TWaveInNotify = std::function<void(const TWaveInNotification&)>;

// A wave input device: the operations the capture relies on. Results are 0 on success, else an
// error code whose text ErrorText gives. Every call comes from the main thread.
class TWaveInDevice {
public:
    virtual ~TWaveInDevice() = default;

    // Opens device number Device (-1: the default input) for Format. Notify may be called from
    // now until Close has returned; Open itself reports TWaveInMessage::Open through it.
    virtual int Open(int Device, const TWaveFormat& Format, TWaveInNotify Notify) = 0;
    virtual int Prepare(TWaveHeader& Header);
    virtual int Unprepare(TWaveHeader& Header);
    // Queues a buffer; buffers come back (Data) in the order they were queued.
    virtual int AddBuffer(TWaveHeader& Header) = 0;
    // Begins recording into the queued buffers.
    virtual int Start() = 0;
    // Stops recording and returns every queued buffer at once.
    virtual void Reset() = 0;
    // Closes the device and reports Close; nothing is reported after it returns.
    virtual void Close() = 0;
    // The text of an error code of this device (at most 255 characters).
    virtual std::string ErrorText(int Code) const = 0;
    // What an error code of Open or Start means to the operator.
    virtual TCaptureFault FaultOf(int Code) const;
};

using TWaveInDeviceFactory = std::function<std::unique_ptr<TWaveInDevice>()>;

// The live input devices of the audio server (PulseAudio): sources in the server's order,
// monitors of outputs included, by description. Empty when the server cannot be reached.
std::vector<std::string> GetWaveInDevices();
// The audio server's text for an error code, at most 255 characters.
std::string WaveInErrorText(int Code);
// Where capture looks for the audio server, as the operator can check it: PULSE_SERVER when
// set, else the user's socket of PulseAudio (or of PipeWire's PulseAudio interface).
std::string WaveInServerAddress();
// A device of the audio server: what TAudioIn uses when no DeviceFactory is set. With a
// SourceName it records from the source of that description (or name) whatever its number,
// and fails with TCaptureFault::NoDevice while the server lists none.
std::unique_ptr<TWaveInDevice> CreateServerWaveIn(const std::string& SourceName = {});

class TAudioIO;
using TNotifyEvent = std::function<void(TAudioIO& Sender)>;

// Format, buffers and their memory, error text.
class TAudioIO {
public:
    TAudioIO();
    virtual ~TAudioIO();
    TAudioIO(const TAudioIO&) = delete;
    TAudioIO& operator=(const TAudioIO&) = delete;

    virtual void Stop();
    virtual void Finish();

    // Bytes per buffer: the requested size (at least 512) rounded down to whole frames.
    // Setting it reallocates the buffers (while a device holds them, at its next opening).
    uint16_t BufferSize() const { return FBufferSize; }
    void SetBufferSize(uint16_t Value);
    int FrameRate() const { return int(Format.SamplesPerSec); }
    void SetFrameRate(int Value);
    // Buffers in the ring, 2 to 4. The ring is reallocated when the count changes (while a
    // device holds the buffers, at its next opening).
    int NumBuffers() const { return FNumBuffers; }
    void SetNumBuffers(int Value);
    // Bits per sample: 8 or 16.
    int Quantization() const { return Format.BitsPerSample; }
    void SetQuantization(int Value);
    bool Stereo() const { return Format.Channels == 2; }
    void SetStereo(bool Value);
    // Device number; -1 lets the system choose (the default input).
    int WaveDevice() const { return FWaveDevice; }
    void SetWaveDevice(int Value) { FWaveDevice = Value; }
    // Device by name (a source's description) for the audio server's devices; when set it
    // wins over the number, which changes when the server lists its sources anew.
    const std::string& WaveDeviceName() const { return FWaveDeviceName; }
    void SetWaveDeviceName(const std::string& Value) { FWaveDeviceName = Value; }

    const TWaveFormat& WaveFormat() const { return Format; }
    bool Active() const { return FActive; }
    bool Running() const { return FRunning; }
    int Queued() const { return FQueued; }
    int NextBuffer() const { return FNextBuffer; }
    const std::string& ErrorText() const { return FErrorText; }
    // What the last failure to open or start the device means to the operator.
    TCaptureFault Fault() const { return FFault; }

    // The device reported itself opened / closed.
    TNotifyEvent OnStart;
    TNotifyEvent OnStop;

protected:
    void UpdateFormat();
    // Frees the ring and allocates NumBuffers buffers of BufferSize bytes; false with
    // ErrorText set when memory runs out (nothing stays allocated then).
    bool AllocateBuffers();
    void FreeBuffers();
    // Reallocates now, or marks the ring for the next opening while a device holds it: the
    // device writes into the buffers from its own thread.
    void BuffersChanged();

    // Set while a device holds the buffers.
    bool BuffersLent = false;
    bool BuffersStale = false;
    // Bytes of each allocated buffer: a change of format can change BufferSize without a new
    // allocation, and the device must never be told of more room than there is.
    uint16_t AllocatedSize = 0;

    int FNextBuffer = 0;    // the next buffer to queue
    int FReturnBuffer = 0;  // the next buffer the device gives back
    bool FRunning = false;
    uint16_t FBufferSize = 0;
    int FNumBuffers = 4;
    uint16_t RequestedBufferSize = 8192;
    int FWaveDevice = -1;
    std::string FWaveDeviceName;
    TWaveFormat Format;
    std::vector<std::unique_ptr<uint8_t[]>> Buffers;
    std::array<TWaveHeader, 4> Headers{};
    bool FActive = false;
    std::string FErrorText;
    TCaptureFault FFault = TCaptureFault::None;
    int FQueued = 0;
};

class TAudioIn;
// A buffer has been recorded: L and R point at its data (both at the interleaved data unless
// channels are split), Size is the bytes recorded.
using TBufferEvent = std::function<void(TAudioIn& Sender, const uint8_t* L, const uint8_t* R, uint16_t Size)>;
// The device stopped by itself. Lost: it went away (ErrorText says why) and may come back;
// otherwise its input ended (ErrorText is set when it ended on a read error).
using TEndedEvent = std::function<void(TAudioIn& Sender, bool Lost)>;
// Frames of audio were lost between the buffer delivered last and the next one.
using TDroppedEvent = std::function<void(TAudioIn& Sender, uint32_t Frames)>;

// The recording device.
class TAudioIn : public TAudioIO {
public:
    // Device notifications are posted to Queue and handled when its owner drains it.
    explicit TAudioIn(TMainThreadQueue& Queue = MainThreadQueue());
    ~TAudioIn() override;

    // Opens the device and begins recording; false with ErrorText set on failure.
    bool Start();
    // Closes the device at once; buffers returned by the reset are neither delivered nor queued.
    void Stop() override;
    // Lets the queued buffers come back without delivering or queuing them; the device closes
    // when the last one is back.
    void Finish() override;

    bool DeviceOpen() const { return FDeviceOpen; }

    std::string FileName;       // recording file
    bool SaveToFile = false;    // also write the recording to FileName (a WAV file)
    bool SplitChannels = false; // deliver left samples at L and right samples at R, Size halved
    TBufferEvent OnBufferFilled;
    TEndedEvent OnEnded;
    TDroppedEvent OnDropped;
    // Makes the device for each Start; empty: the audio server (CreateServerWaveIn).
    TWaveInDeviceFactory DeviceFactory;

protected:
    virtual void CloseDevice();
    virtual bool BufferFilled(const uint8_t* L, const uint8_t* R, uint16_t Size);
    virtual bool OpenDevice();

private:
    bool BeginRecording();
    bool QueueBuffer();
    void Notification(uint64_t Session, const TWaveInNotification& Note);
    void DataReturned();
    void DeviceEnded(int Code, bool Lost);
    void OpenRecordingFile();
    void WriteRecordingFile(const uint8_t* Data, size_t Size);
    void CloseRecordingFile();

    TMainThreadQueue& Queue;
    std::unique_ptr<TWaveInDevice> Device;
    bool FDeviceOpen = false;
    std::FILE* RecordingFile = nullptr;
    // Counts the openings, so that a buffer returned by an earlier opening is never taken for
    // one of the current opening.
    uint64_t Session = 0;
    // Reports posted to the queue hold a weak reference: once this object is gone they are
    // discarded.
    std::shared_ptr<TAudioIn*> Self;
    std::vector<uint8_t> SplitLeft, SplitRight;
};
