#include "audio/AudioIO.h"

#include <algorithm>
#include <cstring>
#include <new>

int TWaveInDevice::Prepare(TWaveHeader&)
{
    return 0;
}

int TWaveInDevice::Unprepare(TWaveHeader&)
{
    return 0;
}

TCaptureFault TWaveInDevice::FaultOf(int) const
{
    return TCaptureFault::Other;
}

// ---------------------------------------------------------------------------------------------
// TAudioIO

TAudioIO::TAudioIO()
{
    Format.FormatTag = WAVE_FORMAT_PCM;
    Format.Channels = 1;
    Format.SamplesPerSec = 22050;
    Format.BitsPerSample = 16;
    UpdateFormat();
    AllocateBuffers();
}

TAudioIO::~TAudioIO()
{
    FreeBuffers();
}

void TAudioIO::Stop()
{
    FActive = false;
    FRunning = false;
}

void TAudioIO::Finish()
{
    FRunning = false;
}

void TAudioIO::UpdateFormat()
{
    Format.BlockAlign = uint16_t(Format.BitsPerSample / 8 * Format.Channels);
    Format.AvgBytesPerSec = uint32_t(Format.BlockAlign) * Format.SamplesPerSec;
    FBufferSize = uint16_t(RequestedBufferSize - RequestedBufferSize % Format.BlockAlign);
}

void TAudioIO::SetBufferSize(uint16_t Value)
{
    RequestedBufferSize = std::max<uint16_t>(Value, 512);
    UpdateFormat();
    BuffersChanged();
}

void TAudioIO::SetFrameRate(int Value)
{
    Format.SamplesPerSec = uint32_t(std::max(Value, 1));
    UpdateFormat();
}

void TAudioIO::SetNumBuffers(int Value)
{
    const int count = std::clamp(Value, 2, 4);
    if (count == FNumBuffers)
        return;
    FNumBuffers = count;
    BuffersChanged();
}

void TAudioIO::SetQuantization(int Value)
{
    Format.BitsPerSample = Value > 8 ? 16 : 8;
    UpdateFormat();
}

void TAudioIO::SetStereo(bool Value)
{
    Format.Channels = Value ? 2 : 1;
    UpdateFormat();
}

bool TAudioIO::AllocateBuffers()
{
    FreeBuffers();
    try {
        for (int i = 0; i < FNumBuffers; ++i)
            Buffers.push_back(std::make_unique<uint8_t[]>(FBufferSize));
        AllocatedSize = FBufferSize;
    } catch (const std::bad_alloc&) {
        FreeBuffers();
        FErrorText = "Error allocating wave buffer memory";
        return false;
    }
    return true;
}

void TAudioIO::FreeBuffers()
{
    Buffers.clear();
}

void TAudioIO::BuffersChanged()
{
    if (BuffersLent)
        BuffersStale = true;
    else
        AllocateBuffers();
}

// ---------------------------------------------------------------------------------------------
// TAudioIn

TAudioIn::TAudioIn(TMainThreadQueue& AQueue)
    : Queue(AQueue), Self(std::make_shared<TAudioIn*>(this))
{
}

TAudioIn::~TAudioIn()
{
    // The owner stops the capture first; a device still open here is closed all the same, so
    // that no recording thread outlives the buffers it writes into.
    if (FDeviceOpen) {
        FActive = false;
        FRunning = false;
        Device->Reset();
        CloseDevice();
    }
    Self.reset();
}

bool TAudioIn::Start()
{
    if (!OpenDevice())
        return false;
    return BeginRecording();
}

void TAudioIn::Stop()
{
    if (!FDeviceOpen)
        return;
    FActive = false;
    FRunning = false;
    Device->Reset();
    CloseDevice();
}

void TAudioIn::Finish()
{
    if (FDeviceOpen)
        FRunning = false;
}

bool TAudioIn::OpenDevice()
{
    FFault = TCaptureFault::Other;
    if (FDeviceOpen) {
        FErrorText = "Wave Input device is already open";
        return false;
    }
    if ((BuffersStale || int(Buffers.size()) != FNumBuffers || AllocatedSize != FBufferSize) && !AllocateBuffers())
        return false;
    BuffersStale = false;
    FNextBuffer = 0;
    FReturnBuffer = 0;
    Device = DeviceFactory ? DeviceFactory() : CreateServerWaveIn(FWaveDeviceName);
    ++Session;
    std::weak_ptr<TAudioIn*> weak = Self;
    TMainThreadQueue* queue = &Queue;
    const uint64_t session = Session;
    auto notify = [weak, queue, session](const TWaveInNotification& note) {
        queue->Post([weak, session, note] {
            if (auto self = weak.lock())
                (*self)->Notification(session, note);
        });
    };
    if (int code = Device->Open(FWaveDevice, Format, notify)) {
        FErrorText = Device->ErrorText(code);
        FFault = Device->FaultOf(code);
        Device.reset();
        return false;
    }
    FDeviceOpen = true;
    BuffersLent = true;
    if (SaveToFile)
        OpenRecordingFile();
    for (int i = 0; i < FNumBuffers; ++i) {
        TWaveHeader& header = Headers[size_t(i)];
        header = TWaveHeader{};
        header.Data = Buffers[size_t(i)].get();
        header.BufferLength = FBufferSize;
        if (int code = Device->Prepare(header)) {
            FErrorText = Device->ErrorText(code);
            CloseDevice();
            return false;
        }
    }
    FQueued = 0;
    FRunning = true;
    FActive = true;
    return true;
}

bool TAudioIn::BeginRecording()
{
    if (int code = Device->Start()) {
        const std::string text = Device->ErrorText(code);
        FFault = Device->FaultOf(code);
        CloseDevice();
        FErrorText = "Error starting wave record: " + text;
        return false;
    }
    FActive = true;
    for (int i = 0; i < FNumBuffers; ++i) {
        if (!QueueBuffer()) {
            CloseDevice();
            return false;
        }
    }
    return true;
}

bool TAudioIn::QueueBuffer()
{
    TWaveHeader& header = Headers[size_t(FNextBuffer)];
    header.Flags = WHDR_PREPARED;
    if (int code = Device->AddBuffer(header)) {
        FErrorText = Device->ErrorText(code);
        Finish();
        return false;
    }
    FNextBuffer = (FNextBuffer + 1) % FNumBuffers;
    ++FQueued;
    return true;
}

void TAudioIn::CloseDevice()
{
    FActive = false;
    if (Device) {
        for (int i = 0; i < FNumBuffers; ++i)
            Device->Unprepare(Headers[size_t(i)]);
        Device->Reset();
        Device->Close();
        Device.reset();
    }
    FDeviceOpen = false;
    BuffersLent = false;
    CloseRecordingFile();
}

bool TAudioIn::BufferFilled(const uint8_t* L, const uint8_t* R, uint16_t Size)
{
    if (!FRunning)
        return false;
    if (Size > 0 && OnBufferFilled)
        OnBufferFilled(*this, L, R, Size);
    return true;
}

void TAudioIn::Notification(uint64_t ASession, const TWaveInNotification& Note)
{
    switch (Note.Message) {
    case TWaveInMessage::Open:
        if (OnStart)
            OnStart(*this);
        break;
    case TWaveInMessage::Close:
        if (OnStop)
            OnStop(*this);
        break;
    case TWaveInMessage::Data:
        if (ASession == Session)
            DataReturned();
        break;
    case TWaveInMessage::End:
    case TWaveInMessage::Error:
        if (ASession == Session)
            DeviceEnded(Note.Code, Note.Message == TWaveInMessage::Error);
        break;
    case TWaveInMessage::Dropped:
        if (ASession == Session && FRunning && Note.Code > 0 && Format.BlockAlign > 0 && OnDropped)
            OnDropped(*this, uint32_t(Note.Code) / Format.BlockAlign);
        break;
    }
}

void TAudioIn::DataReturned()
{
    // Buffers returned by a reset or after a stop.
    if (!FActive)
        return;
    --FQueued;
    FActive = FQueued > 0;
    // Buffers come back in the order they were queued, whether or not they are queued again
    // (after Finish they are not), so the one returned is tracked apart from the next to queue.
    TWaveHeader& header = Headers[size_t(FReturnBuffer)];
    FReturnBuffer = (FReturnBuffer + 1) % FNumBuffers;
    const auto size = uint16_t(std::min<uint32_t>(header.BytesRecorded, header.BufferLength));
    if (SaveToFile)
        WriteRecordingFile(header.Data, size);

    // The event may release this object (an owner that stops and frees the capture).
    const std::weak_ptr<TAudioIn*> alive = Self;
    bool requeue;
    if (SplitChannels && Format.Channels == 2 && Format.BitsPerSample == 16) {
        // Left samples to L, right samples to R, each half the size.
        const size_t frames = size / 4;
        SplitLeft.resize(frames * 2);
        SplitRight.resize(frames * 2);
        for (size_t i = 0; i < frames; ++i) {
            std::memcpy(&SplitLeft[i * 2], header.Data + i * 4, 2);
            std::memcpy(&SplitRight[i * 2], header.Data + i * 4 + 2, 2);
        }
        requeue = BufferFilled(SplitLeft.data(), SplitRight.data(), uint16_t(frames * 2));
    } else {
        requeue = BufferFilled(header.Data, header.Data, size);
    }
    // The event may have stopped the capture; then there is nothing left to queue.
    if (alive.expired() || !FDeviceOpen)
        return;
    if (requeue)
        QueueBuffer();
    if (!FActive) {
        FRunning = false;
        CloseDevice();
    }
}

void TAudioIn::DeviceEnded(int Code, bool Lost)
{
    if (!FDeviceOpen)
        return;
    if (Code != 0 || Lost)
        FErrorText = Device->ErrorText(Code);
    FRunning = false;
    CloseDevice();
    // Last: the handler may release this object.
    if (OnEnded)
        OnEnded(*this, Lost);
}

// ---------------------------------------------------------------------------------------------
// Recording file: a canonical 44-byte-header WAV, sizes filled in at close.

namespace {
void Put16(std::FILE* File, uint16_t Value)
{
    const uint8_t b[2] = {uint8_t(Value), uint8_t(Value >> 8)};
    std::fwrite(b, 1, 2, File);
}

void Put32(std::FILE* File, uint32_t Value)
{
    const uint8_t b[4] = {uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16), uint8_t(Value >> 24)};
    std::fwrite(b, 1, 4, File);
}
}  // namespace

void TAudioIn::OpenRecordingFile()
{
    if (FileName.empty())
        return;
    RecordingFile = std::fopen(FileName.c_str(), "wb");
    if (!RecordingFile)
        return;
    std::fwrite("RIFF", 1, 4, RecordingFile);
    Put32(RecordingFile, 0);
    std::fwrite("WAVEfmt ", 1, 8, RecordingFile);
    Put32(RecordingFile, 16);
    Put16(RecordingFile, Format.FormatTag);
    Put16(RecordingFile, Format.Channels);
    Put32(RecordingFile, Format.SamplesPerSec);
    Put32(RecordingFile, Format.AvgBytesPerSec);
    Put16(RecordingFile, Format.BlockAlign);
    Put16(RecordingFile, Format.BitsPerSample);
    std::fwrite("data", 1, 4, RecordingFile);
    Put32(RecordingFile, 0);
}

void TAudioIn::WriteRecordingFile(const uint8_t* Data, size_t Size)
{
    if (RecordingFile && Size > 0)
        std::fwrite(Data, 1, Size, RecordingFile);
}

void TAudioIn::CloseRecordingFile()
{
    if (!RecordingFile)
        return;
    const long size = std::ftell(RecordingFile);
    if (size >= 44) {
        std::fseek(RecordingFile, 4, SEEK_SET);
        Put32(RecordingFile, uint32_t(size - 8));
        std::fseek(RecordingFile, 40, SEEK_SET);
        Put32(RecordingFile, uint32_t(size - 44));
    }
    std::fclose(RecordingFile);
    RecordingFile = nullptr;
}
