#pragma once
// Spectrum analyser: one block of 16-bit interleaved stereo PCM becomes up to four channel
// signals, their magnitude spectra and the peak value of each input channel.

#include <array>
#include <complex>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

// One channel signal of one block, one element per stereo frame.
using TWaveData = std::vector<int32_t>;
// One magnitude spectrum: element k is the magnitude of frequency bin k, never negative.
using TSpectrumData = std::vector<int32_t>;
using TSpectrumDataArray = std::vector<TSpectrumData>;

// The channel a signal and its spectrum are taken from. Stored as one byte.
enum class TSignalMode : uint8_t {
    Left = 0,   // left input channel
    Right = 1,  // right input channel
    Add = 2,    // half the sum of both channels
    Dec = 3,    // half the difference, left minus right
};

// A set of channel modes held as a bit mask: Left 1, Right 2, Add 4, Dec 8; empty is 0.
class TSignalModes {
public:
    constexpr TSignalModes() = default;
    constexpr TSignalModes(std::initializer_list<TSignalMode> Modes)
    {
        for (TSignalMode Mode : Modes)
            Include(Mode);
    }
    // Bits above the four modes are dropped.
    static constexpr TSignalModes FromMask(uint8_t Mask)
    {
        TSignalModes Result;
        Result.FMask = static_cast<uint8_t>(Mask & AllBits);
        return Result;
    }

    static constexpr uint8_t Bit(TSignalMode Mode)
    {
        const auto Index = static_cast<unsigned>(Mode);
        return Index < 4 ? static_cast<uint8_t>(1u << Index) : 0;
    }

    constexpr uint8_t Mask() const { return FMask; }
    constexpr bool Empty() const { return FMask == 0; }
    constexpr bool Contains(TSignalMode Mode) const { return Bit(Mode) != 0 && (FMask & Bit(Mode)) != 0; }
    constexpr void Include(TSignalMode Mode) { FMask = static_cast<uint8_t>(FMask | Bit(Mode)); }
    constexpr void Exclude(TSignalMode Mode) { FMask = static_cast<uint8_t>(FMask & ~Bit(Mode)); }

    constexpr TSignalModes& operator|=(TSignalModes Other)
    {
        FMask = static_cast<uint8_t>(FMask | Other.FMask);
        return *this;
    }
    friend constexpr TSignalModes operator|(TSignalModes A, TSignalModes B) { return A |= B; }
    friend constexpr bool operator==(TSignalModes A, TSignalModes B) = default;

private:
    static constexpr uint8_t AllBits = 0x0F;
    uint8_t FMask = 0;
};

// Truncates toward zero, saturating at the 32-bit range (NaN gives 0), so a value out of
// range from bad input never becomes undefined behaviour.
inline int32_t TruncToInt32(double Value)
{
    if (Value >= 2147483647.0)
        return INT32_MAX;
    if (Value <= -2147483648.0)
        return INT32_MIN;
    if (Value != Value)
        return 0;
    return static_cast<int32_t>(Value);  // the conversion truncates toward zero
}

// Bin of a spectrum of length Len (= transform size / 2) taken at FrameRate that holds Hz:
// Trunc(Hz * Len / (FrameRate div 2)). The product is an integer, the quotient floating point.
// 0 when FrameRate is below 2; saturates at the 32-bit range.
inline int32_t BinOf(int32_t Hz, int32_t Len, int32_t FrameRate)
{
    const int32_t Nyquist = FrameRate / 2;
    if (Nyquist <= 0)
        return 0;
    // The product in 64 bits: equal to the 32-bit one for every real frequency, and no
    // wrap-around into a plausible bin for a wild one from a hand-edited file.
    const auto Product = static_cast<int64_t>(Hz) * Len;
    return TruncToInt32(static_cast<double>(Product) / Nyquist);
}
// Frequency at the lower edge of Bin: Trunc(Bin / Len * (FrameRate div 2)); 0 when Len <= 0.
int32_t FreqOf(int32_t Bin, int32_t Len, int32_t FrameRate);

// Analyses blocks of PCM. Owns its signal and spectrum arrays; they stay valid until the
// next Process or Clear. After the first block of a size the arrays keep their capacity, so
// analysing further blocks of that size allocates nothing.
class TAudioFFT {
public:
    TAudioFFT();
    ~TAudioFFT();
    TAudioFFT(const TAudioFFT&) = delete;
    TAudioFFT& operator=(const TAudioFFT&) = delete;

    // Replaces the channel set; takes effect at the next Process.
    void SetChannels(TSignalModes Modes) { FChannels = Modes; }
    TSignalModes Channels() const { return FChannels; }
    // The channels whose spectra Process computes, of those in Channels; all four after
    // construction. The signals of the others are still filled: a reader that needs only a
    // signal or the peaks saves the transform. Takes effect at the next Process.
    void SetSpectra(TSignalModes Modes) { FSpectraWanted = Modes; }
    TSignalModes Spectra() const { return FSpectraWanted; }
    // The channels whose signals Process fills, of those in Channels; all four after
    // construction. A reader of the transform or of the peaks alone needs no signal: the
    // transform takes its input straight from the PCM. Takes effect at the next Process.
    void SetWaves(TSignalModes Modes) { FWavesWanted = Modes; }
    TSignalModes Waves() const { return FWavesWanted; }
    // The magnitude spectra Process computes, of the channels it transforms, and their bins
    // FirstBin up to, not including, LastBin (limited to the bins a block has); the other
    // bins of such a spectrum read 0, and the spectrum of a transformed channel left out here
    // is empty (its complex spectrum is still kept). Every channel and every bin after
    // construction. A reader of a few bands, or of the complex spectrum only, saves the
    // square roots of the rest. Takes effect at the next Process.
    void SetMagnitudes(TSignalModes Modes, int32_t FirstBin, int32_t LastBin)
    {
        FMagnitudesWanted = Modes;
        FFirstBin = FirstBin;
        FLastBin = LastBin;
    }
    TSignalModes Magnitudes() const { return FMagnitudesWanted; }

    // Analyses ByteCount bytes of little-endian 16-bit stereo frames, left sample first.
    // A trailing partial frame is ignored; a null Buffer, a count below 4 or an empty
    // channel set analyse nothing. Never reads past Buffer + ByteCount.
    void Process(const void* Buffer, int32_t ByteCount);
    // The same for a block that begins with the second half of the block analysed last, as
    // the engine forms its blocks (each captured buffer after the one before it): Buffer is
    // where that second half lay, and the caller vouches that it still holds the same bytes.
    // The arrays are those Process gives; the transforms' input and the peaks of the shared
    // half are taken over instead of being worked out again. Where the last analysis was of
    // another block (another place or size, or a Clear since), or a mode was not transformed
    // in it, that part is worked out whole.
    void ProcessContinued(const void* Buffer, int32_t ByteCount);
    // The caller has copied the second half of the block analysed last from From to To:
    // a block that continues from To (ProcessContinued) is taken as continuing that block.
    // Where From is not where that half lay, nothing changes.
    void LastHalfMoved(const void* From, const void* To)
    {
        if (FLastHalf != nullptr && FLastHalf == From)
            FLastHalf = static_cast<const uint8_t*>(To);
    }
    // The next block continues none analysed before, wherever it lies: the caller reuses the
    // memory the last block lay in for other audio.
    void StartOver() { FLastHalf = nullptr; }

    // Empties all eight arrays and zeroes both peaks.
    void Clear();

    // The loops every block runs are built for this processor and for every x86-64 one, and
    // must give the same arrays: with Generic, the analysers of this process run the latter,
    // so that tests check both on a processor that has the former.
    static void UseGenericLoops(bool Generic);

    // Magnitude spectrum of one signal of N values: N div 2 bins (DC up to, not including,
    // Nyquist), bin k = Trunc(|X[k]| / (N div 2)) of the unwindowed forward DFT X.
    // Throws std::runtime_error when there is no memory for a transform of that size
    // (Process likewise).
    TSpectrumData ComputeSpectrum(const TWaveData& Wave);
    // The same into an existing array, reusing its storage.
    void ComputeSpectrum(const TWaveData& Wave, TSpectrumData& Spectrum);
    // Magnitude spectrum of one signal through a Hann window, unrounded: N div 2 bins, scaled
    // so that a steady sinusoid of amplitude A on a bin centre reads about A. The window keeps
    // a loud sound's leakage off the bins around it, so quiet parts of a spectrum show their
    // own peaks (the landmark fingerprint picks its peaks here).
    void ComputeWindowedSpectrum(const TWaveData& Wave, std::vector<float>& Spectrum);

    // Largest absolute sample of each input channel in the last block, 0..32768.
    int32_t LeftPeak() const { return FLeftPeak; }
    int32_t RightPeak() const { return FRightPeak; }
    // Whether Process also measures the root mean square of each input channel (off after
    // construction: only level detectors that measure it read it). Takes effect at the next
    // Process.
    void SetRms(bool Wanted) { FRmsWanted = Wanted; }
    bool Rms() const { return FRmsWanted; }
    // Root mean square of each input channel's samples in the last block, 0..32768; 0 while
    // it is not measured.
    double LeftRms() const { return FLeftRms; }
    double RightRms() const { return FRightRms; }

    const TWaveData& WaveAdd() const { return FWaves[Index(TSignalMode::Add)]; }
    const TWaveData& WaveLeft() const { return FWaves[Index(TSignalMode::Left)]; }
    const TWaveData& WaveRight() const { return FWaves[Index(TSignalMode::Right)]; }
    const TWaveData& WaveDec() const { return FWaves[Index(TSignalMode::Dec)]; }
    const TSpectrumData& SpectrumAdd() const { return FSpectra[Index(TSignalMode::Add)]; }
    const TSpectrumData& SpectrumLeft() const { return FSpectra[Index(TSignalMode::Left)]; }
    const TSpectrumData& SpectrumRight() const { return FSpectra[Index(TSignalMode::Right)]; }
    const TSpectrumData& SpectrumDec() const { return FSpectra[Index(TSignalMode::Dec)]; }

    // The spectrum of a channel mode; an empty one for a value outside the four modes.
    const TSpectrumData& SpectrumOf(TSignalMode Mode) const;
    // The signal of a channel mode; an empty one for a value outside the four modes.
    const TWaveData& WaveOf(TSignalMode Mode) const;
    // The unscaled, unwindowed transform X[0..N/2] of a channel mode's signal in the last
    // block: what the magnitude spectrum was taken from. Empty for a mode not analysed in it.
    // Valid until the next Process or Clear.
    std::span<const std::complex<double>> ComplexSpectrumOf(TSignalMode Mode) const;
    // The level of bins First up to, not including, Last of the magnitude spectrum of a mode
    // in the last block, as Process computes the magnitudes, worked out from its transform:
    // the largest magnitude of the band (Largest) or the smallest. A bin's magnitude grows
    // with its power, so the band's strongest (weakest) power gives it with one square root
    // instead of one per bin, and no bin outside the band is worked out. 0 for an empty band
    // (limited to the bins a block has) and for a mode not transformed in the last block.
    int32_t BandMagnitude(TSignalMode Mode, int32_t First, int32_t Last, bool Largest) const;
    // Changes with every Process and Clear: tells whether what was taken from the arrays
    // still describes them.
    uint64_t Serial() const { return FSerial; }

private:
    struct TTransform;  // FFTW plan and its aligned work arrays for one size
    static constexpr size_t Index(TSignalMode Mode) { return static_cast<size_t>(Mode); }
    // The transform's work arrays for N points, made when the size changes; nullptr for a
    // size too short or too long to transform.
    TTransform* TransformOf(size_t N);
    // Forward transform of Wave, Hann-windowed or not, into the output array Output, which it
    // returns (the N div 2 + 1 complex bins); nullptr for a wave too short or too long to
    // transform.
    const void* Transform(const TWaveData& Wave, bool Windowed, size_t Output);
    // The magnitude spectrum of Wave, transformed into the output array Output; false when
    // there was nothing to transform.
    bool Magnitudes(const TWaveData& Wave, TSpectrumData& Spectrum, size_t Output);
    // Of a block of Frames frames: fills the signals wanted, and transforms the channels
    // wanted straight from the PCM into their magnitude spectra; Continued: the block's
    // first half is the second half of the last block, whose work is taken over where the
    // analyser still holds it.
    void Analyse(const uint8_t* Bytes, size_t Frames, bool Continued);
    // Process and ProcessContinued: Continued as Analyse takes it.
    void ProcessBlock(const void* Buffer, int32_t ByteCount, bool Continued);

    int32_t FFirstBin = 0;
    int32_t FLastBin = INT32_MAX;
    TSignalModes FWavesWanted = TSignalModes::FromMask(0x0F);
    TSignalModes FMagnitudesWanted = TSignalModes::FromMask(0x0F);
    // Of each spectrum: the bins computed into it at the last block; every other bin of it
    // holds 0.
    std::array<std::pair<int32_t, int32_t>, 4> FComputedBins{};

    int32_t FRightPeak = 0;
    int32_t FLeftPeak = 0;
    // Of the last block analysed whole (Serial then): where its second half lay, its size,
    // and the peaks of that half. Nothing is taken over from a block whose analysis did not
    // come to its end.
    const uint8_t* FLastHalf = nullptr;
    int32_t FLastByteCount = 0;
    uint64_t FLastSerial = 0;
    int32_t FLastHalfLeftPeak = 0;
    int32_t FLastHalfRightPeak = 0;
    // The sums of squares of that half, when it was measured with them (FLastHalfSquares).
    bool FLastHalfSquares = false;
    uint64_t FLastHalfLeftSquares = 0;
    uint64_t FLastHalfRightSquares = 0;
    bool FRmsWanted = false;
    double FLeftRms = 0;
    double FRightRms = 0;
    TSignalModes FChannels;
    TSignalModes FSpectraWanted = TSignalModes::FromMask(0x0F);
    // The modes whose complex spectrum of the last block is kept.
    TSignalModes FComplexModes;
    uint64_t FSerial = 0;
    // Signals and spectra indexed by TSignalMode.
    std::array<TWaveData, 4> FWaves;
    std::array<TSpectrumData, 4> FSpectra;
    std::unique_ptr<TTransform> FTransform;
};
