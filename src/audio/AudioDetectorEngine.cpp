// The engine's run time: capture, block pairing, analysis, volumes, stepping, the stream clock
// and the recovery of a vanished capture.

#include "audio/AudioDetector.h"
#include "audio/AudioLandmarks.h"
#include "audio/ClipPrintCache.h"

#include <algorithm>
#include <cmath>
#include <cstring>

TAudioDetector::TAudioDetector(TMainThreadQueue& AQueue)
    : Queue(AQueue)
    , FLandmarks(std::make_unique<TLandmarkMatcher>())
    , FClipPrints(std::make_unique<TClipPrintCache>())
    , Self(std::make_shared<TAudioDetector*>(this))
{
    ResetVolumes();
}

TAudioDetector::~TAudioDetector()
{
    Stop();
    Self.reset();
}

const std::vector<std::string>& TAudioDetector::DeviceNames()
{
    if (!DeviceNamesRead) {
        FDeviceNames = GetWaveInDevices();
        DeviceNamesRead = true;
    }
    return FDeviceNames;
}

namespace {

// What a band level worked out from the transform costs, in magnitudes of single bins.
constexpr double LevelFromTransformCost = 8;

}  // namespace

void TAudioDetector::UpdateChannels()
{
    TSignalModes channels, spectra, waves, magnitudes;
    bool rms = false;
    // The band every spectral peak reads, in Hz; empty (Lo above Hi) while none does.
    int32_t bandLo = INT32_MAX, bandHi = INT32_MIN;
    // The bands the peaks read in a block: each sequence tries one slice a block.
    double bandsPerBlock = 0;
    for (TAudioSequence& sequence : Sequences) {
        channels.Include(sequence.Channel);
        // Spectral sequences read the analyser's transforms: tone sets the complex spectrum,
        // the others the levels of the bands of their peaks. Landmark clips read the
        // signals; level detectors only the peaks, which every analysed block has.
        if (sequence.Kind == skSpectral)
            spectra.Include(sequence.Channel);
        if (sequence.Kind == skLandmark)
            waves.Include(sequence.Channel);
        if ((sequence.Kind == skSilence || sequence.Kind == skSignal) && sequence.LevelMeasure == lmRms)
            rms = true;
        if (sequence.Kind != skSpectral || sequence.Method == mmToneSet)
            continue;
        magnitudes.Include(sequence.Channel);
        if (ValidFFTCount(FFTCount))
            sequence.Prepare(size_t(FFTCount / 2), FrameRate);
        size_t peaks = 0;
        for (const TAudioSample& slice : sequence.Samples)
            for (const TFreqData& peak : slice.Peaks) {
                if (peak.Frequency <= 0)
                    continue;  // never measured
                ++peaks;
                const TPeakBand band = PeakBand(peak);
                bandLo = std::min(bandLo, band.Lo);
                bandHi = std::max(bandHi, band.Hi);
            }
        if (!sequence.Samples.Empty())
            bandsPerBlock += double(peaks) / sequence.Samples.Count();
    }
    // A band's level worked out from the transform (TSpectrumLevels) costs about what the
    // magnitudes of eight bins cost. A short list reads a few bands a block and takes them
    // from the transform; a long one reads many and gets the magnitudes of its whole band.
    if (bandLo <= bandHi && ValidFFTCount(FFTCount)) {
        const int32_t bins = FFTCount / 2;
        if (bandsPerBlock * LevelFromTransformCost < BinOf(bandHi, bins, FrameRate) - BinOf(bandLo, bins, FrameRate))
            magnitudes = TSignalModes();
    }
    LiveFFT.SetChannels(channels);
    LiveFFT.SetSpectra(spectra);
    LiveFFT.SetWaves(waves);
    LiveFFT.SetRms(rms);
    FMagnitudeModes = magnitudes;
    FMagnitudeLo = bandLo;
    FMagnitudeHi = bandHi;
}

void TAudioDetector::ResetSequences()
{
    for (TAudioSequence& sequence : Sequences)
        sequence.Reset();
}

void TAudioDetector::ResetVolumes()
{
    FLeftVolume = FRightVolume = 0;
    FLeftVolumedB = FRightVolumedB = -91.0;
}

double TAudioDetector::VolumeToDb(int32_t& Value)
{
    Value = std::clamp<int32_t>(Value, 1, 32768);
    return 20.0 * std::log10(double(Value) / 32767.0);
}

double TAudioDetector::RmsToDb(double Rms)
{
    return 20.0 * std::log10(std::clamp(Rms, 1.0, 32768.0) / 32767.0);
}

TDateTime TAudioDetector::StreamTime() const
{
    if (FrameRate <= 0)
        return FStreamStart;
    return FStreamStart + double(FStreamFrames) / double(FrameRate) / 86400.0;
}

bool TAudioDetector::Start()
{
    if (FActive)
        return true;
    try {
        UpdateChannels();
        ResetSequences();
        ResetVolumes();
        ++Generation;
        FAnalysisErrors = 0;
        FLastAnalysisError.clear();
        FDroppedFrames = 0;
        FActive = OpenCapture();
    } catch (const std::exception& e) {
        ErrorText = e.what();
        ReleaseCapture();
        FActive = false;
    } catch (...) {
        ReleaseCapture();
        FActive = false;
    }
    return FActive;
}

bool TAudioDetector::TryStart()
{
    try {
        return Start();
    } catch (...) {
        return false;
    }
}

void TAudioDetector::Stop()
{
    if (!FActive)
        return;
    FActive = false;
    ++Generation;  // a pending retry of a vanished capture is void now
    ReleaseCapture();
    ResetVolumes();
}

bool TAudioDetector::OpenCapture()
{
    if (!ValidFFTCount(FFTCount)) {
        ErrorText = "The analysis block must be a power of two from 1024 to 8192 frames, not "
                    + std::to_string(FFTCount);
        return false;
    }
    Capture = std::make_unique<TAudioIn>(Queue);
    Capture->SplitChannels = false;
    Capture->SetStereo(true);
    Capture->OnBufferFilled = [this](TAudioIn&, const uint8_t* L, const uint8_t*, uint16_t Size) {
        BufferReceived(L, Size);
    };
    Capture->OnEnded = [this](TAudioIn&, bool Lost) { CaptureEnded(Lost); };
    Capture->OnDropped = [this](TAudioIn&, uint32_t Frames) { AudioDropped(Frames); };
    Capture->DeviceFactory = CaptureDevice;
    Capture->SetWaveDevice(DeviceIndex);
    HalfBytes = uint16_t((FFTCount % 65536) * 2);
    const int32_t Halves = std::clamp(CaptureHalves, 1, std::max(1, 65535 / HalfBytes));
    Capture->SetBufferSize(uint16_t(HalfBytes * Halves));
    Capture->SetFrameRate(FrameRate);
    PreviousSize = 0;
    FLandmarks->ResetStream();
    FStreamStart = LocalNow();
    FStreamFrames = 0;
    if (Capture->Start())
        return true;
    ErrorText = Capture->ErrorText();
    ReleaseCapture();
    return false;
}

void TAudioDetector::ReleaseCapture()
{
    if (!Capture)
        return;
    Capture->Stop();
    // The capture may be the caller of this (a handler of its buffer event stops the engine):
    // it is freed on the next turn of the main thread, never under its own feet.
    // A stopped capture fires no more events.
    std::shared_ptr<TAudioIn> released(std::move(Capture));
    Queue.Post([released] {});
}

void TAudioDetector::BufferReceived(const uint8_t* Data, uint16_t Size)
{
    if (Size <= HalfBytes || Size % HalfBytes != 0) {
        HalfReceived(Data, Size);
        return;
    }
    // Several halves: each is taken as if it had come alone. The first pairs with the half
    // kept from the buffer before; the others pair with the half before them where they lie
    // in this buffer, copied nowhere. The last is kept for the next buffer, since the capture
    // fills this one again. A handler may stop (or restart) the engine in the middle: the
    // rest of the buffer then belongs to no capture any more, as a later buffer would not.
    const uint64_t Run = Generation;
    HalfReceived(Data, HalfBytes);
    const uint8_t* Kept = PairedBlock.data() + LastHalf * HalfBytes;  // the first half's copy
    for (uint16_t Offset = HalfBytes; Offset < Size && Generation == Run; Offset = uint16_t(Offset + HalfBytes)) {
        FStreamFrames += HalfBytes / 4;
        const uint8_t* Block = Data + Offset - HalfBytes;
        if (Offset == HalfBytes)
            LiveFFT.LastHalfMoved(Kept, Block);
        AnalyseBlock(Block, uint16_t(HalfBytes * 2), true);
    }
    if (Generation != Run)
        return;
    const uint8_t* Last = Data + Size - HalfBytes;
    std::memcpy(PairedBlock.data(), Last, HalfBytes);
    LastHalf = 0;
    LiveFFT.LastHalfMoved(Last, PairedBlock.data());
}

void TAudioDetector::HalfReceived(const uint8_t* Data, uint16_t Size)
{
    FStreamFrames += Size / 4;
    // The first buffer after a start is kept, not analysed; a buffer of another size than the
    // one before it cannot form a block with it and starts the pairing over. The buffers are
    // kept one after another, room for BlockRingHalves of them, and each block is the last
    // two where they lie: the older one is not copied again, and the analyser takes over its
    // work on it from the block before. When the room runs out the last buffer moves to the
    // front.
    if (Size == 0) {
        PreviousSize = 0;
        return;
    }
    if (PreviousSize != Size) {
        // The pairing starts over in the ring the last blocks lay in.
        LiveFFT.StartOver();
        PairedBlock.resize(size_t(Size) * BlockRingHalves);
        std::memcpy(PairedBlock.data(), Data, Size);
        LastHalf = 0;
        PreviousSize = Size;
        return;
    }
    if (LastHalf + 1 == BlockRingHalves) {
        std::memcpy(PairedBlock.data(), PairedBlock.data() + LastHalf * Size, Size);
        LiveFFT.LastHalfMoved(PairedBlock.data() + LastHalf * Size, PairedBlock.data());
        LastHalf = 0;
    }
    ++LastHalf;
    std::memcpy(PairedBlock.data() + LastHalf * Size, Data, Size);
    AnalyseBlock(PairedBlock.data() + (LastHalf - 1) * Size, uint16_t(size_t(Size) * 2), true);
}

void TAudioDetector::ProcessBuffer(const uint8_t* Data, uint16_t Size)
{
    AnalyseBlock(Data, Size, false);
}

void TAudioDetector::AnalyseBlock(const uint8_t* Data, uint16_t Size, bool Continued)
{
    try {
        if (OnBufferFilled)
            OnBufferFilled(*this, Data, Size);
        ResetVolumes();
        // The bins of the band the spectral peaks read, at this block's size: the magnitudes
        // of the others are never computed.
        const auto bins = static_cast<int32_t>(Size / 8);
        if (FMagnitudeLo <= FMagnitudeHi)
            LiveFFT.SetMagnitudes(FMagnitudeModes, BinOf(FMagnitudeLo, bins, FrameRate), BinOf(FMagnitudeHi, bins, FrameRate));
        else
            LiveFFT.SetMagnitudes(FMagnitudeModes, 0, 0);
        // The analyser itself makes sure it analysed the block before, whole.
        if (Continued)
            LiveFFT.ProcessContinued(Data, Size);
        else
            LiveFFT.Process(Data, Size);
        FLeftVolume = LiveFFT.LeftPeak();
        FRightVolume = LiveFFT.RightPeak();
        FLeftVolumedB = VolumeToDb(FLeftVolume);
        FRightVolumedB = VolumeToDb(FRightVolume);
        if (OnVolumeChange)
            OnVolumeChange(*this, FLeftVolume, FRightVolume, FLeftVolumedB, FRightVolumedB);

        TStepInput input;
        input.Analyser = &LiveFFT;
        input.FrameRate = FrameRate;
        input.LeftVolumedB = FLeftVolumedB;
        input.RightVolumedB = FRightVolumedB;
        if (LiveFFT.Rms()) {
            input.LeftRmsdB = RmsToDb(LiveFFT.LeftRms());
            input.RightRmsdB = RmsToDb(LiveFFT.RightRms());
        }
        input.Now = StreamTime();
        input.Tones = &LiveTones;
        FLandmarks->Process(LiveFFT, Sequences, input.Now);
        // The count is taken once: a handler must not change the list while it runs.
        const int32_t count = Sequences.Count();
        for (int32_t i = 0; i < count; ++i) {
            TAudioSequence& sequence = Sequences.Items(i);
            if (StepSequence(sequence, input)) {
                if (OnSequenceFound)
                    OnSequenceFound(sequence);
            } else if (sequence.AlarmChange() != acNone && OnAlarmChange) {
                OnAlarmChange(sequence, sequence.AlarmChange(), sequence.AlarmLasted());
            }
        }
    } catch (const std::exception& e) {
        // The rest of this block is skipped; the next one is processed normally.
        AnalysisFailed(e.what());
    } catch (...) {
        AnalysisFailed("unknown error");
    }
}

void TAudioDetector::AudioDropped(uint32_t Frames)
{
    FStreamFrames += Frames;
    FDroppedFrames += Frames;
    // The buffer before the loss and the one after it are not one stretch of sound: the
    // pairing starts over, and the landmark matcher forgets the blocks before.
    PreviousSize = 0;
    FLandmarks->ResetStream();
    if (OnAudioDropped)
        OnAudioDropped(*this, Frames);
}

void TAudioDetector::AnalysisFailed(const std::string& Text)
{
    FLastAnalysisError = Text;
    if (++FAnalysisErrors == 1 && OnAnalysisError)
        OnAnalysisError(*this);
}

void TAudioDetector::CaptureEnded(bool Lost)
{
    if (Lost || !Capture->ErrorText().empty())
        ErrorText = Capture->ErrorText();
    ReleaseCapture();
    PreviousSize = 0;
    if (!Lost) {
        if (OnInputEnd)
            OnInputEnd(*this);
        return;
    }
    ResetVolumes();
    ScheduleRetry();
    if (OnCaptureLost)
        OnCaptureLost(*this);
}

void TAudioDetector::ScheduleRetry()
{
    std::weak_ptr<TAudioDetector*> weak = Self;
    const uint64_t generation = Generation;
    Queue.PostAfter(std::chrono::milliseconds(std::max(RetryInterval, 0)), [weak, generation] {
        if (auto self = weak.lock())
            if ((*self)->Generation == generation)
                (*self)->RetryCapture();
    });
}

void TAudioDetector::RetryCapture()
{
    if (!FActive || Capture)
        return;
    // A failed attempt must not overwrite the text of the loss the owner was told about.
    const std::string lossText = ErrorText;
    bool reopened = false;
    try {
        reopened = OpenCapture();
    } catch (...) {
        ReleaseCapture();
    }
    if (!reopened) {
        ErrorText = lossText;
        ScheduleRetry();
        return;
    }
    // A gap in the audio breaks every match in progress.
    ResetSequences();
    ResetVolumes();
    if (OnCaptureRestored)
        OnCaptureRestored(*this);
}
