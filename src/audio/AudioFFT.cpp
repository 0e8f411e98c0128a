#include "audio/AudioFFT.h"

#include "audio/FFTPlans.h"

#include <fftw3.h>

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>
#include <array>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

int32_t FreqOf(int32_t Bin, int32_t Len, int32_t FrameRate)
{
    if (Len <= 0)
        return 0;
    return TruncToInt32(static_cast<double>(Bin) / Len * (FrameRate / 2));
}

namespace {

bool IsPowerOfTwo(size_t N)
{
    return N != 0 && (N & (N - 1)) == 0;
}

// The order in which the modes are computed (it has no visible effect).
constexpr TSignalMode ModesInOrder[] = {TSignalMode::Add, TSignalMode::Left, TSignalMode::Right, TSignalMode::Dec};

const TWaveData EmptyWave;
const TSpectrumData EmptySpectrum;

}  // namespace

// The plan of the current size and aligned work arrays of this analyser (fftw_malloc gives
// the alignment the shared plans were made with). Each channel mode has an output array of
// its own, so the complex spectrum of every mode of a block stays for the tone detector; a
// fifth one serves callers of ComputeSpectrum and ComputeWindowedSpectrum.
struct TAudioFFT::TTransform {
    static constexpr size_t Outputs = 5;
    static constexpr size_t ScratchOutput = 4;

    explicit TTransform(int Size)
        : N(Size)
        , Plan(SharedPlan(Size))
        , In(static_cast<double*>(fftw_malloc(sizeof(double) * size_t(Size))))
        // 64 bytes: at least the alignment any of the transform's vector code asks for.
        , RingsAligned(Size % 2 == 0 && size_t(Size / 2) * sizeof(double) % 64 == 0)
    {
        bool Allocated = Plan != nullptr && In != nullptr;
        for (fftw_complex*& Out : Outs) {
            Out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (size_t(Size) / 2 + 1)));
            Allocated = Allocated && Out != nullptr;
        }
        if (!Allocated) {
            Free();
            throw std::runtime_error("no memory for a transform of " + std::to_string(Size) + " points");
        }
    }
    ~TTransform() { Free(); }
    TTransform(const TTransform&) = delete;
    TTransform& operator=(const TTransform&) = delete;

    void Free()
    {
        fftw_free(In);
        for (fftw_complex* Out : Outs)
            fftw_free(Out);
        for (double* Ring : Rings)
            fftw_free(Ring);
    }

    // The ring of Mode, made on first use.
    double* RingOf(TSignalMode Mode)
    {
        double*& Ring = Rings[Index(Mode)];
        if (Ring == nullptr) {
            Ring = static_cast<double*>(fftw_malloc(sizeof(double) * RingHalves * (size_t(N) / 2)));
            if (Ring == nullptr)
                throw std::runtime_error("no memory for a transform of " + std::to_string(N) + " points");
        }
        return Ring;
    }

    int N;
    fftw_plan Plan;
    double* In;
    std::array<fftw_complex*, Outputs> Outs{};
    // The Hann window of N points, made on first use.
    std::vector<double> Window;

    // Each mode's transform input over a run of blocks that overlap by half: room for
    // RingHalves halves, the block being the two from Slots[mode] on. A block that continues
    // the last one finds its first half where that one's second half lies and converts only
    // its own second half; when the room runs out, the last half moves to the front. Used
    // where half a block keeps the alignment the shared plans were made with.
    static constexpr size_t RingHalves = 8;
    bool RingsAligned;
    std::array<double*, 4> Rings{};
    std::array<size_t, 4> Slots{};
    // The modes whose ring holds the last block analysed.
    TSignalModes Held;
};

TAudioFFT::TAudioFFT() = default;
TAudioFFT::~TAudioFFT() = default;

void TAudioFFT::Clear()
{
    FLeftPeak = 0;
    FRightPeak = 0;
    FLeftRms = 0;
    FRightRms = 0;
    FComplexModes = TSignalModes();
    ++FSerial;
    // clear() keeps the capacity, so the next block of the same size allocates nothing.
    for (TWaveData& Wave : FWaves)
        Wave.clear();
    for (TSpectrumData& Spectrum : FSpectra)
        Spectrum.clear();
}

namespace {

// Little-endian 16-bit samples; frame I holds left at 4I, right at 4I + 2. On a
// little-endian processor a plain (unaligned) load, which the loops below vectorise.
[[gnu::always_inline]] inline int16_t SampleAt(const uint8_t* Bytes, size_t Offset)
{
    if constexpr (std::endian::native == std::endian::little) {
        int16_t Value;
        std::memcpy(&Value, Bytes + Offset, sizeof Value);
        return Value;
    } else {
        return static_cast<int16_t>(static_cast<uint16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8)));
    }
}

// The signal of Mode of Frames stereo frames into Out, as int32_t or as the transform's
// double input (the same whole numbers). One simple loop per mode keeps each vectorisable.
// Integer division truncates toward zero: Add of -3 and 0 is -1.
template <typename T>
[[gnu::always_inline]] inline void FillSignal(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, T* Out)
{
    switch (Mode) {
    case TSignalMode::Add:
        for (size_t I = 0; I < Frames; ++I)
            Out[I] = static_cast<T>((int32_t(SampleAt(Bytes, 4 * I)) + SampleAt(Bytes, 4 * I + 2)) / 2);
        break;
    case TSignalMode::Left:
        for (size_t I = 0; I < Frames; ++I)
            Out[I] = static_cast<T>(SampleAt(Bytes, 4 * I));
        break;
    case TSignalMode::Right:
        for (size_t I = 0; I < Frames; ++I)
            Out[I] = static_cast<T>(SampleAt(Bytes, 4 * I + 2));
        break;
    case TSignalMode::Dec:
        for (size_t I = 0; I < Frames; ++I)
            Out[I] = static_cast<T>((int32_t(SampleAt(Bytes, 4 * I)) - SampleAt(Bytes, 4 * I + 2)) / 2);
        break;
    }
}

// The loops every block runs (below) are written once and built twice: for the processors
// with AVX2 and for every x86-64 one. The set for this processor is chosen when the program
// loads; tests run both (TAudioFFT::UseGenericLoops). Only integer arithmetic, exact
// conversions and square roots run in them (no fused multiply-add), so both give the same
// numbers.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ONDRIX_WIDE_LOOPS 1
#endif

[[gnu::always_inline]] inline void FillInts(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, int32_t* Out)
{
    FillSignal(Bytes, Frames, Mode, Out);
}

[[gnu::always_inline]] inline void FillDoubles(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, double* Out)
{
    FillSignal(Bytes, Frames, Mode, Out);
}

// The largest absolute sample of each channel, 0..32768: the larger of the largest sample and
// minus the smallest. The samples are taken as they lie, left and right alternating, 16 at a
// time into a vector of 16-bit lanes (-32768 has no 16-bit absolute value): even lanes
// gather the left channel, odd ones the right.
[[gnu::always_inline]] inline void FindPeaks(const uint8_t* Bytes, size_t Frames, int32_t& LeftPeak, int32_t& RightPeak)
{
    constexpr size_t Lanes = 16;
    using TLanes = int16_t __attribute__((vector_size(Lanes * sizeof(int16_t))));
    const size_t Samples = 2 * Frames;
    TLanes Max{}, Min{};
    size_t I = 0;
    if constexpr (std::endian::native == std::endian::little)
        for (; I + Lanes <= Samples; I += Lanes) {
            TLanes Values;
            std::memcpy(&Values, Bytes + 2 * I, sizeof Values);
            Max = Values > Max ? Values : Max;
            Min = Values < Min ? Values : Min;
        }
    int32_t Peaks[2] = {0, 0};
    for (size_t J = 0; J < Lanes; ++J)
        Peaks[J % 2] = std::max({Peaks[J % 2], int32_t(Max[J]), -int32_t(Min[J])});
    for (; I < Samples; ++I) {
        const int32_t Value = SampleAt(Bytes, 2 * I);
        Peaks[I % 2] = std::max(Peaks[I % 2], Value < 0 ? -Value : Value);
    }
    LeftPeak = Peaks[0];
    RightPeak = Peaks[1];
}

// The sum of the squared samples of each channel. A square of a 16-bit sample fits 31 bits;
// the sums are kept in 64 bits, exact for any block the engine forms. As FindPeaks, 8 samples
// at a time as they lie, into two vectors of four 64-bit sums (few enough to stay in
// registers) whose even lanes gather the left channel and odd ones the right.
[[gnu::always_inline]] inline void SumSquares(const uint8_t* Bytes, size_t Frames, uint64_t& Left, uint64_t& Right)
{
    constexpr size_t Lanes = 8;
    using TLanes = int16_t __attribute__((vector_size(Lanes * sizeof(int16_t))));
    using TSquares = int32_t __attribute__((vector_size(Lanes * sizeof(int32_t))));
    using THalf = int32_t __attribute__((vector_size(Lanes / 2 * sizeof(int32_t))));
    using TSums = int64_t __attribute__((vector_size(Lanes / 2 * sizeof(int64_t))));
    const size_t Samples = 2 * Frames;
    TSums Low{}, High{};
    size_t I = 0;
    if constexpr (std::endian::native == std::endian::little)
        for (; I + Lanes <= Samples; I += Lanes) {
            TLanes Values;
            std::memcpy(&Values, Bytes + 2 * I, sizeof Values);
            TSquares Squares = __builtin_convertvector(Values, TSquares);
            Squares *= Squares;
            Low += __builtin_convertvector(THalf(__builtin_shufflevector(Squares, Squares, 0, 1, 2, 3)), TSums);
            High += __builtin_convertvector(THalf(__builtin_shufflevector(Squares, Squares, 4, 5, 6, 7)), TSums);
        }
    const TSums Sums = Low + High;
    uint64_t Totals[2] = {uint64_t(Sums[0] + Sums[2]), uint64_t(Sums[1] + Sums[3])};
    for (; I < Samples; ++I) {
        const int32_t Value = SampleAt(Bytes, 2 * I);
        Totals[I % 2] += uint64_t(Value * Value);
    }
    Left = Totals[0];
    Right = Totals[1];
}

// The power of a bin of the transform: Re * Re + Im * Im.
[[gnu::always_inline]] inline double PowerOf(const fftw_complex& Bin)
{
    return Bin[0] * Bin[0] + Bin[1] * Bin[1];
}

// The magnitude of a bin of power Power in a spectrum of Half bins: Trunc(sqrt(Power) / Half),
// never decreasing as the power grows. A magnitude is at most twice the largest sample; the
// cap only matters for a caller's own signal beyond the 16-bit range. For the power-of-two
// sizes the engine uses, multiplying by 1 / Half is exact and so equal to the division; other
// sizes divide.
template <bool PowerOfTwo>
[[gnu::always_inline]] inline int32_t MagnitudeOfPower(double Power, double Half)
{
    constexpr double Cap = std::numeric_limits<int32_t>::max();
    if constexpr (PowerOfTwo)
        return static_cast<int32_t>(std::min(std::sqrt(Power) * (1.0 / Half), Cap));
    else
        return static_cast<int32_t>(std::min(std::sqrt(Power) / Half, Cap));
}

// Spectrum[K] for K in First..Last-1: the magnitude of bin K.
[[gnu::always_inline]] inline void StoreMagnitudes(const fftw_complex* Out, size_t Half, size_t First, size_t Last,
                                                   int32_t* Spectrum)
{
    const auto Bins = static_cast<double>(Half);
    if (IsPowerOfTwo(Half)) {
        for (size_t K = First; K < Last; ++K)
            Spectrum[K] = MagnitudeOfPower<true>(PowerOf(Out[K]), Bins);
    } else {
        for (size_t K = First; K < Last; ++K)
            Spectrum[K] = MagnitudeOfPower<false>(PowerOf(Out[K]), Bins);
    }
}

// One set of the loops. ONDRIX_LOOP_SET builds one in namespace Name with the function
// Attributes given: none for every x86-64 processor, a target for the processors that have it.
struct TLoops {
    void (*FillInts)(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, int32_t* Out);
    void (*FillDoubles)(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, double* Out);
    void (*FindPeaks)(const uint8_t* Bytes, size_t Frames, int32_t& LeftPeak, int32_t& RightPeak);
    void (*SumSquares)(const uint8_t* Bytes, size_t Frames, uint64_t& Left, uint64_t& Right);
    void (*StoreMagnitudes)(const fftw_complex* Out, size_t Half, size_t First, size_t Last, int32_t* Spectrum);
};

#define ONDRIX_LOOP_SET(Name, Attributes)                                                                    \
    namespace Name {                                                                                         \
    Attributes void FillInts(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, int32_t* Out)            \
    {                                                                                                        \
        ::FillInts(Bytes, Frames, Mode, Out);                                                                \
    }                                                                                                        \
    Attributes void FillDoubles(const uint8_t* Bytes, size_t Frames, TSignalMode Mode, double* Out)          \
    {                                                                                                        \
        ::FillDoubles(Bytes, Frames, Mode, Out);                                                             \
    }                                                                                                        \
    Attributes void FindPeaks(const uint8_t* Bytes, size_t Frames, int32_t& LeftPeak, int32_t& RightPeak)    \
    {                                                                                                        \
        ::FindPeaks(Bytes, Frames, LeftPeak, RightPeak);                                                     \
    }                                                                                                        \
    Attributes void SumSquares(const uint8_t* Bytes, size_t Frames, uint64_t& Left, uint64_t& Right)         \
    {                                                                                                        \
        ::SumSquares(Bytes, Frames, Left, Right);                                                            \
    }                                                                                                        \
    Attributes void StoreMagnitudes(const fftw_complex* Out, size_t Half, size_t First, size_t Last,         \
                                    int32_t* Spectrum)                                                       \
    {                                                                                                        \
        ::StoreMagnitudes(Out, Half, First, Last, Spectrum);                                                 \
    }                                                                                                        \
    const TLoops Loops{&FillInts, &FillDoubles, &FindPeaks, &SumSquares, &StoreMagnitudes};                  \
    }

ONDRIX_LOOP_SET(GenericLoops, )
#ifdef ONDRIX_WIDE_LOOPS
ONDRIX_LOOP_SET(WideLoops, [[gnu::target("avx2")]])
#endif

std::atomic<bool> GenericLoopsOnly{false};

// The set of this processor, unless the generic one was asked for.
const TLoops& Loops()
{
#ifdef ONDRIX_WIDE_LOOPS
    static const bool Wide = __builtin_cpu_supports("avx2");
    if (Wide && !GenericLoopsOnly.load(std::memory_order_relaxed))
        return WideLoops::Loops;
#endif
    return GenericLoops::Loops;
}

}  // namespace

void TAudioFFT::UseGenericLoops(bool Generic)
{
    GenericLoopsOnly.store(Generic, std::memory_order_relaxed);
}

void TAudioFFT::Process(const void* Buffer, int32_t ByteCount)
{
    ProcessBlock(Buffer, ByteCount, false);
}

void TAudioFFT::ProcessContinued(const void* Buffer, int32_t ByteCount)
{
    ProcessBlock(Buffer, ByteCount, true);
}

void TAudioFFT::ProcessBlock(const void* Buffer, int32_t ByteCount, bool Continued)
{
    if (FChannels.Empty() || Buffer == nullptr || ByteCount < 4) {
        Clear();
        return;
    }
    const size_t Frames = size_t(ByteCount) / 4;
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    // Only a block of the same size starting where the second half of the last one analysed
    // whole lay, with nothing analysed or cleared since.
    Continued = Continued && Frames % 2 == 0 && Bytes == FLastHalf && ByteCount == FLastByteCount && FSerial == FLastSerial;
    ++FSerial;
    FComplexModes = TSignalModes();
    FLastHalf = nullptr;

    // The block's peaks are those of its halves, the first one's known when it continues.
    const size_t Half = Frames / 2;
    int32_t FirstLeft = FLastHalfLeftPeak, FirstRight = FLastHalfRightPeak, SecondLeft = 0, SecondRight = 0;
    if (!Continued)
        Loops().FindPeaks(Bytes, Half, FirstLeft, FirstRight);
    Loops().FindPeaks(Bytes + 4 * Half, Frames - Half, SecondLeft, SecondRight);
    FLeftPeak = std::max(FirstLeft, SecondLeft);
    FRightPeak = std::max(FirstRight, SecondRight);
    // The mean squares likewise, when asked for; a block that continues one analysed without
    // them sums its first half too.
    uint64_t SecondLeftSquares = 0, SecondRightSquares = 0;
    if (FRmsWanted) {
        uint64_t FirstLeftSquares = FLastHalfLeftSquares, FirstRightSquares = FLastHalfRightSquares;
        if (!Continued || !FLastHalfSquares)
            Loops().SumSquares(Bytes, Half, FirstLeftSquares, FirstRightSquares);
        Loops().SumSquares(Bytes + 4 * Half, Frames - Half, SecondLeftSquares, SecondRightSquares);
        FLeftRms = std::sqrt(double(FirstLeftSquares + SecondLeftSquares) / double(Frames));
        FRightRms = std::sqrt(double(FirstRightSquares + SecondRightSquares) / double(Frames));
    } else {
        FLeftRms = FRightRms = 0;
    }
    Analyse(Bytes, Frames, Continued);

    FLastHalf = Bytes + 4 * Half;
    FLastByteCount = ByteCount;
    FLastSerial = FSerial;
    FLastHalfLeftPeak = SecondLeft;
    FLastHalfRightPeak = SecondRight;
    FLastHalfSquares = FRmsWanted;
    FLastHalfLeftSquares = SecondLeftSquares;
    FLastHalfRightSquares = SecondRightSquares;
}

void TAudioFFT::Analyse(const uint8_t* Bytes, size_t Frames, bool Continued)
{
    // The arrays are resized, never cleared and refilled: every element a reader may see is
    // written below, or was zeroed when the spectrum's size or bins last changed.
    TSignalModes Held;
    if (FTransform) {
        Held = FTransform->Held;
        FTransform->Held = TSignalModes();  // until this block is through
    }
    TSignalModes Transformed;
    for (TSignalMode Mode : ModesInOrder) {
        TWaveData& Wave = FWaves[Index(Mode)];
        TSpectrumData& Spectrum = FSpectra[Index(Mode)];
        if (!FChannels.Contains(Mode)) {
            Wave.clear();
            Spectrum.clear();
            continue;
        }
        if (FWavesWanted.Contains(Mode)) {
            Wave.resize(Frames);
            Loops().FillInts(Bytes, Frames, Mode, Wave.data());
        } else {
            Wave.clear();
        }
        TTransform* Work = FSpectraWanted.Contains(Mode) ? TransformOf(Frames) : nullptr;
        if (Work == nullptr) {
            Spectrum.clear();
            continue;
        }
        double* Input = Work->In;
        if (Work->RingsAligned) {
            double* Ring = Work->RingOf(Mode);
            size_t& Slot = Work->Slots[Index(Mode)];
            const size_t Half = Frames / 2;
            if (Continued && Held.Contains(Mode)) {
                if (Slot + 2 == TTransform::RingHalves) {
                    std::memcpy(Ring, Ring + (Slot + 1) * Half, Half * sizeof(double));
                    Slot = 0;
                } else {
                    ++Slot;
                }
                Loops().FillDoubles(Bytes + 4 * Half, Half, Mode, Ring + (Slot + 1) * Half);
            } else {
                Slot = 0;
                Loops().FillDoubles(Bytes, Frames, Mode, Ring);
            }
            Input = Ring + Slot * Half;
            Transformed.Include(Mode);
        } else {
            Loops().FillDoubles(Bytes, Frames, Mode, Input);
        }
        fftw_complex* Out = Work->Outs[Index(Mode)];
        fftw_execute_dft_r2c(Work->Plan, Input, Out);
        FComplexModes.Include(Mode);
        if (!FMagnitudesWanted.Contains(Mode)) {
            Spectrum.clear();
            continue;
        }
        const auto Half = static_cast<int32_t>(Frames / 2);
        const std::pair<int32_t, int32_t> Bins{std::clamp(FFirstBin, 0, Half),
                                               std::clamp(FLastBin, std::clamp(FFirstBin, 0, Half), Half)};
        if (Spectrum.size() != size_t(Half) || FComputedBins[Index(Mode)] != Bins) {
            Spectrum.assign(size_t(Half), 0);
            FComputedBins[Index(Mode)] = Bins;
        }
        Loops().StoreMagnitudes(Out, size_t(Half), size_t(Bins.first), size_t(Bins.second), Spectrum.data());
    }
    if (FTransform)
        FTransform->Held = Transformed;
}

TSpectrumData TAudioFFT::ComputeSpectrum(const TWaveData& Wave)
{
    TSpectrumData Spectrum;
    ComputeSpectrum(Wave, Spectrum);
    return Spectrum;
}

TAudioFFT::TTransform* TAudioFFT::TransformOf(size_t N)
{
    if (N / 2 == 0 || N > size_t(std::numeric_limits<int>::max()))
        return nullptr;
    if (!FTransform || size_t(FTransform->N) != N) {
        FComplexModes = TSignalModes();  // their arrays go with the old transform
        FTransform = std::make_unique<TTransform>(static_cast<int>(N));
    }
    return FTransform.get();
}

const void* TAudioFFT::Transform(const TWaveData& Wave, bool Windowed, size_t Output)
{
    const size_t N = Wave.size();
    if (TransformOf(N) == nullptr)
        return nullptr;
    double* In = FTransform->In;
    if (Windowed) {
        std::vector<double>& Window = FTransform->Window;
        if (Window.size() != N) {
            Window.resize(N);
            const double Step = 2.0 * std::acos(-1.0) / static_cast<double>(N);
            for (size_t I = 0; I < N; ++I)
                Window[I] = 0.5 - 0.5 * std::cos(Step * static_cast<double>(I));
        }
        for (size_t I = 0; I < N; ++I)
            In[I] = Wave[I] * Window[I];
    } else {
        for (size_t I = 0; I < N; ++I)
            In[I] = Wave[I];
    }
    fftw_complex* Out = FTransform->Outs[Output];
    fftw_execute_dft_r2c(FTransform->Plan, In, Out);
    return Out;
}

void TAudioFFT::ComputeSpectrum(const TWaveData& Wave, TSpectrumData& Spectrum)
{
    // A caller's own transform must not replace the complex spectrum of a mode of the block.
    Magnitudes(Wave, Spectrum, TTransform::ScratchOutput);
}

std::span<const std::complex<double>> TAudioFFT::ComplexSpectrumOf(TSignalMode Mode) const
{
    if (!FComplexModes.Contains(Mode) || !FTransform)
        return {};
    // fftw_complex is two doubles, real part first: the layout of std::complex<double>.
    const auto* Values = reinterpret_cast<const std::complex<double>*>(FTransform->Outs[Index(Mode)]);
    return {Values, size_t(FTransform->N) / 2 + 1};
}

bool TAudioFFT::Magnitudes(const TWaveData& Wave, TSpectrumData& Spectrum, size_t Output)
{
    const size_t Half = Wave.size() / 2;
    Spectrum.resize(Half);
    const auto* Out = static_cast<const fftw_complex*>(Transform(Wave, false, Output));
    if (Out == nullptr)
        return false;

    Loops().StoreMagnitudes(Out, Half, 0, Half, Spectrum.data());
    return true;
}

void TAudioFFT::ComputeWindowedSpectrum(const TWaveData& Wave, std::vector<float>& Spectrum)
{
    const size_t Half = Wave.size() / 2;
    Spectrum.resize(Half);
    const auto* Out = static_cast<const fftw_complex*>(Transform(Wave, true, TTransform::ScratchOutput));
    if (Out == nullptr)
        return;
    // The window halves a sinusoid's peak, so the scale is 1 / (N / 4).
    const double Scale = 2.0 / static_cast<double>(Half);
    for (size_t K = 0; K < Half; ++K)
        Spectrum[K] = static_cast<float>(std::sqrt(PowerOf(Out[K])) * Scale);
}

int32_t TAudioFFT::BandMagnitude(TSignalMode Mode, int32_t First, int32_t Last, bool Largest) const
{
    const auto Complex = ComplexSpectrumOf(Mode);
    if (Complex.empty())
        return 0;
    const size_t Half = Complex.size() - 1;  // the bins of the magnitude spectrum
    const auto Begin = static_cast<size_t>(std::max(First, 0));
    const size_t End = std::min(static_cast<size_t>(std::max(Last, 0)), Half);
    if (End <= Begin)
        return 0;
    // fftw_complex is two doubles, real part first: the layout of std::complex<double>.
    const auto* Bins = reinterpret_cast<const fftw_complex*>(Complex.data());
    double Power = PowerOf(Bins[Begin]);
    if (Largest)
        for (size_t K = Begin + 1; K < End; ++K)
            Power = std::max(Power, PowerOf(Bins[K]));
    else
        for (size_t K = Begin + 1; K < End; ++K)
            Power = std::min(Power, PowerOf(Bins[K]));
    const auto Size = static_cast<double>(Half);
    return IsPowerOfTwo(Half) ? MagnitudeOfPower<true>(Power, Size) : MagnitudeOfPower<false>(Power, Size);
}

const TSpectrumData& TAudioFFT::SpectrumOf(TSignalMode Mode) const
{
    return Index(Mode) < FSpectra.size() ? FSpectra[Index(Mode)] : EmptySpectrum;
}

const TWaveData& TAudioFFT::WaveOf(TSignalMode Mode) const
{
    return Index(Mode) < FWaves.size() ? FWaves[Index(Mode)] : EmptyWave;
}
