#include "audio/AudioFFT.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <mutex>
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

// One real-to-complex plan per transform size for the whole process. FFTW's planner is not
// thread-safe (executing a plan is), so plans are made only here, under a lock, and kept.
// Every analyser executes the shared plan on its own arrays.
class TPlanCache {
public:
    static TPlanCache& Instance()
    {
        static TPlanCache Cache;
        return Cache;
    }

    fftw_plan PlanFor(int N)
    {
        std::lock_guard<std::mutex> Guard(FLock);
        auto It = FPlans.find(N);
        if (It != FPlans.end())
            return It->second;
        // An estimated plan: made at once (a measured one can stall the first block for a
        // tenth of a second and may differ between runs), and as fast here as a measured one.
        const unsigned Flags = FFTW_ESTIMATE;
        auto* In = static_cast<double*>(fftw_malloc(sizeof(double) * size_t(N)));
        auto* Out = static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (size_t(N) / 2 + 1)));
        fftw_plan Plan = In && Out ? fftw_plan_dft_r2c_1d(N, In, Out, Flags) : nullptr;
        fftw_free(In);
        fftw_free(Out);
        if (Plan != nullptr)
            FPlans.emplace(N, Plan);
        return Plan;
    }

    ~TPlanCache()
    {
        for (auto& [N, Plan] : FPlans)
            fftw_destroy_plan(Plan);
    }

private:
    TPlanCache() = default;
    std::mutex FLock;
    std::map<int, fftw_plan> FPlans;
};

// The order in which the modes are computed (it has no visible effect).
constexpr TSignalMode ModesInOrder[] = {TSignalMode::Add, TSignalMode::Left, TSignalMode::Right, TSignalMode::Dec};

const TWaveData EmptyWave;
const TSpectrumData EmptySpectrum;

}  // namespace

// The plan of the current size and aligned work arrays of this analyser (fftw_malloc gives
// the alignment the shared plans were made with).
struct TAudioFFT::TTransform {
    explicit TTransform(int Size)
        : N(Size)
        , Plan(TPlanCache::Instance().PlanFor(Size))
        , In(static_cast<double*>(fftw_malloc(sizeof(double) * size_t(Size))))
        , Out(static_cast<fftw_complex*>(fftw_malloc(sizeof(fftw_complex) * (size_t(Size) / 2 + 1))))
    {
        if (Plan == nullptr || In == nullptr || Out == nullptr) {
            fftw_free(In);
            fftw_free(Out);
            throw std::runtime_error("no memory for a transform of " + std::to_string(Size) + " points");
        }
    }
    ~TTransform()
    {
        fftw_free(In);
        fftw_free(Out);
    }
    TTransform(const TTransform&) = delete;
    TTransform& operator=(const TTransform&) = delete;

    int N;
    fftw_plan Plan;
    double* In;
    fftw_complex* Out;
    // The Hann window of N points, made on first use.
    std::vector<double> Window;
};

TAudioFFT::TAudioFFT() = default;
TAudioFFT::~TAudioFFT() = default;

void TAudioFFT::Clear()
{
    FLeftPeak = 0;
    FRightPeak = 0;
    // clear() keeps the capacity, so the next block of the same size allocates nothing.
    for (TWaveData& Wave : FWaves)
        Wave.clear();
    for (TSpectrumData& Spectrum : FSpectra)
        Spectrum.clear();
}

void TAudioFFT::Process(const void* Buffer, int32_t ByteCount)
{
    Clear();
    if (FChannels.Empty() || Buffer == nullptr || ByteCount < 4)
        return;

    const size_t Frames = size_t(ByteCount) / 4;
    for (TSignalMode Mode : ModesInOrder)
        if (FChannels.Contains(Mode))
            FWaves[Index(Mode)].resize(Frames);

    // Little-endian 16-bit samples; frame I holds left at 4I, right at 4I + 2.
    const auto* Bytes = static_cast<const uint8_t*>(Buffer);
    const auto SampleAt = [Bytes](size_t Offset) -> int32_t {
        return static_cast<int16_t>(static_cast<uint16_t>(Bytes[Offset] | (Bytes[Offset + 1] << 8)));
    };
    // One simple loop per output keeps each of them vectorisable.
    int32_t LeftMax = 0;
    int32_t RightMax = 0;
    for (size_t I = 0; I < Frames; ++I) {
        const int32_t L = SampleAt(4 * I);
        const int32_t R = SampleAt(4 * I + 2);
        LeftMax = std::max(LeftMax, L < 0 ? -L : L);
        RightMax = std::max(RightMax, R < 0 ? -R : R);
    }
    FLeftPeak = LeftMax;
    FRightPeak = RightMax;
    const auto Fill = [&](TSignalMode Mode, auto Signal) {
        TWaveData& Wave = FWaves[Index(Mode)];
        if (!Wave.empty())
            for (size_t I = 0; I < Frames; ++I)
                Wave[I] = Signal(SampleAt(4 * I), SampleAt(4 * I + 2));
    };
    // Integer division truncates toward zero: Add of -3 and 0 is -1.
    Fill(TSignalMode::Add, [](int32_t L, int32_t R) { return (L + R) / 2; });
    Fill(TSignalMode::Left, [](int32_t L, int32_t) { return L; });
    Fill(TSignalMode::Right, [](int32_t, int32_t R) { return R; });
    Fill(TSignalMode::Dec, [](int32_t L, int32_t R) { return (L - R) / 2; });

    for (TSignalMode Mode : ModesInOrder)
        if (FChannels.Contains(Mode))
            ComputeSpectrum(FWaves[Index(Mode)], FSpectra[Index(Mode)]);
}

TSpectrumData TAudioFFT::ComputeSpectrum(const TWaveData& Wave)
{
    TSpectrumData Spectrum;
    ComputeSpectrum(Wave, Spectrum);
    return Spectrum;
}

const void* TAudioFFT::Transform(const TWaveData& Wave, bool Windowed)
{
    const size_t N = Wave.size();
    if (N / 2 == 0 || N > size_t(std::numeric_limits<int>::max()))
        return nullptr;
    if (!FTransform || size_t(FTransform->N) != N)
        FTransform = std::make_unique<TTransform>(static_cast<int>(N));
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
    fftw_execute_dft_r2c(FTransform->Plan, In, FTransform->Out);
    return FTransform->Out;
}

void TAudioFFT::ComputeSpectrum(const TWaveData& Wave, TSpectrumData& Spectrum)
{
    const size_t Half = Wave.size() / 2;
    Spectrum.resize(Half);
    const auto* Out = static_cast<const fftw_complex*>(Transform(Wave, false));
    if (Out == nullptr)
        return;

    // A magnitude is at most twice the largest sample; the cap only matters for a caller's
    // own signal beyond the 16-bit range. For the power-of-two sizes the engine uses,
    // multiplying by 1 / Half is exact and so equal to the division; other sizes divide.
    constexpr double Cap = std::numeric_limits<int32_t>::max();
    if (IsPowerOfTwo(Half)) {
        const double Scale = 1.0 / static_cast<double>(Half);
        for (size_t K = 0; K < Half; ++K)
            Spectrum[K] = static_cast<int32_t>(std::min(std::sqrt(Out[K][0] * Out[K][0] + Out[K][1] * Out[K][1]) * Scale, Cap));
    } else {
        const auto Divisor = static_cast<double>(Half);
        for (size_t K = 0; K < Half; ++K)
            Spectrum[K] = static_cast<int32_t>(std::min(std::sqrt(Out[K][0] * Out[K][0] + Out[K][1] * Out[K][1]) / Divisor, Cap));
    }
}

void TAudioFFT::ComputeWindowedSpectrum(const TWaveData& Wave, std::vector<float>& Spectrum)
{
    const size_t Half = Wave.size() / 2;
    Spectrum.resize(Half);
    const auto* Out = static_cast<const fftw_complex*>(Transform(Wave, true));
    if (Out == nullptr)
        return;
    // The window halves a sinusoid's peak, so the scale is 1 / (N / 4).
    const double Scale = 2.0 / static_cast<double>(Half);
    for (size_t K = 0; K < Half; ++K)
        Spectrum[K] = static_cast<float>(std::sqrt(Out[K][0] * Out[K][0] + Out[K][1] * Out[K][1]) * Scale);
}

const TSpectrumData& TAudioFFT::SpectrumOf(TSignalMode Mode) const
{
    return Index(Mode) < FSpectra.size() ? FSpectra[Index(Mode)] : EmptySpectrum;
}

const TWaveData& TAudioFFT::WaveOf(TSignalMode Mode) const
{
    return Index(Mode) < FWaves.size() ? FWaves[Index(Mode)] : EmptyWave;
}
