#include "audio/ToneDetector.h"

#include "audio/AudioDetector.h"

#include <algorithm>
#include <cmath>

// ---- Measures of a block ----

void TToneAnalysis::Use(const TAudioFFT* Analyser, int32_t FrameRate)
{
    const uint64_t Block = Analyser ? Analyser->Serial() : 0;
    if (Analyser == FAnalyser && Block == FBlock && FrameRate == FFrameRate)
        return;
    FAnalyser = Analyser;
    FBlock = Block;
    FFrameRate = FrameRate;
    FToneCount = 0;
    FBandCount = 0;
    FResolvedCount = 0;
    FBinHz = 0;
    FScale = 0;
    for (size_t Mode = 0; Mode < FSpectra.size(); ++Mode) {
        FSpectra[Mode] = Analyser ? Analyser->ComplexSpectrumOf(TSignalMode(Mode)) : std::span<const std::complex<double>>();
        FPowersDone[Mode] = 0;
    }
}

void TToneAnalysis::ComputePowers(size_t Mode, int32_t UpTo)
{
    const auto& X = FSpectra[Mode];
    std::vector<double>& Powers = FPowers[Mode];
    std::vector<double>& Sums = FPowerSums[Mode];
    if (Powers.size() != X.size()) {
        // Only when the block size changes; the arrays keep their storage from block to block.
        Powers.assign(X.size(), 0.0);
        Sums.assign(X.size(), 0.0);
    }
    // Bins 1 .. N/2 - 1 have both neighbours; the Hann window is the three-term convolution
    // 0.5 X[k] - 0.25 (X[k-1] + X[k+1]) of the unwindowed transform. Bin 0 and the Nyquist
    // bin count as 0.
    const int32_t Last = std::min(UpTo, int32_t(X.size()) - 2);
    for (int32_t K = FPowersDone[Mode] + 1; K <= Last; ++K) {
        const std::complex<double> H = 0.5 * X[size_t(K)] - 0.25 * (X[size_t(K) - 1] + X[size_t(K) + 1]);
        Powers[size_t(K)] = std::norm(H) * FScale;
        Sums[size_t(K)] = Sums[size_t(K) - 1] + Powers[size_t(K)];
    }
    FPowersDone[Mode] = std::max(FPowersDone[Mode], Last);
}

double TToneAnalysis::BinPower(TSignalMode Mode, int32_t K)
{
    const auto Index = size_t(Mode);
    if (K < 1 || size_t(K) + 1 >= FSpectra[Index].size())
        return 0;
    if (K > FPowersDone[Index])
        ComputePowers(Index, K);
    return FPowers[Index][size_t(K)];
}

int32_t TToneAnalysis::BinsOf(TSignalMode Mode) const
{
    return size_t(Mode) < FSpectra.size() ? int32_t(FSpectra[size_t(Mode)].size()) : 0;
}

TToneLevel TToneAnalysis::MeasureTone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    const int32_t Bins = BinsOf(Mode);
    if (Bins < 3 || FBinHz <= 0)
        return {};
    // The bins whose centres lie within the tolerance and half a bin: the tone's strongest bin
    // is one of them, while the lobe of a tone further off only reaches in with its flank.
    const auto BinAt = [this](double Hz) { return Hz / FBinHz; };
    const int32_t First = std::max(1, int32_t(std::ceil(BinAt(double(Frequency) - Tolerance) - 0.5)));
    const int32_t Last = std::min(Bins - 2, int32_t(std::floor(BinAt(double(Frequency) + Tolerance) + 0.5)));
    if (Last < First)
        return {};
    int32_t Peak = First;
    double PeakPower = BinPower(Mode, First);
    for (int32_t K = First + 1; K <= Last; ++K)
        if (const double Power = BinPower(Mode, K); Power > PeakPower) {
            Peak = K;
            PeakPower = Power;
        }
    const double Below = BinPower(Mode, Peak - 1);
    const double Above = BinPower(Mode, Peak + 1);
    TToneLevel Level;
    if (Below > PeakPower || Above > PeakPower) {
        // Rising beyond the edge: only the flank of a tone outside the tolerance reaches in.
        // It is the power of that bin, at the frequency of the louder bin beyond.
        Level.Power = PeakPower;
        Level.Frequency = (Below > PeakPower ? Peak - 1 : Peak + 1) * FBinHz;
        Level.Spread = 1;
        return Level;
    }
    // The peak between bins: a parabola through the logarithms of the three powers, which
    // fits the Hann window's lobe closely.
    double Offset = 0;
    if (Below > 0 && PeakPower > 0 && Above > 0) {
        const double LogBelow = std::log(Below), LogPeak = std::log(PeakPower), LogAbove = std::log(Above);
        const double Curve = LogBelow - 2 * LogPeak + LogAbove;
        if (Curve < 0)
            Offset = std::clamp(0.5 * (LogBelow - LogAbove) / Curve, -0.5, 0.5);
    }
    Level.Power = Below + PeakPower + Above;
    Level.Frequency = (Peak + Offset) * FBinHz;
    if (Level.Power > 0) {
        const double Beside = BinPower(Mode, Peak - 3) + BinPower(Mode, Peak - 2) + BinPower(Mode, Peak + 2)
                               + BinPower(Mode, Peak + 3);
        Level.Spread = Beside / Level.Power;
    }
    return Level;
}

double TToneAnalysis::MeasureBand(TSignalMode Mode, int32_t Lo, int32_t Hi)
{
    const int32_t Bins = BinsOf(Mode);
    if (Bins < 3 || FBinHz <= 0)
        return 0;
    const int32_t First = std::max(1, int32_t(std::ceil(Lo / FBinHz)));
    const int32_t Last = std::min(Bins - 2, int32_t(std::floor(Hi / FBinHz)));
    if (Last < First)
        return 0;
    BinPower(Mode, Last);  // the sums up to Last
    const auto& Sums = FPowerSums[size_t(Mode)];
    return Sums[size_t(Last)] - Sums[size_t(First) - 1];
}

bool TToneAnalysis::Measurable(TSignalMode Mode)
{
    const int32_t Bins = BinsOf(Mode);
    if (Bins < 3 || FFrameRate <= 0)
        return false;
    // N / 2 + 1 bins of a transform of N points: bin k is k * FrameRate / N Hz. Every mode of
    // a block has the same N.
    const double N = 2.0 * (Bins - 1);
    FBinHz = FFrameRate / N;
    // A sine of amplitude A reads A * N / 4 in the Hann-windowed bin at its frequency, and its
    // lobe holds 1.5 times that bin's power: scaled, the lobe sums to A * A.
    FScale = 32.0 / (3.0 * N * N);
    return true;
}

TToneLevel TToneAnalysis::Tone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    for (size_t I = 0; I < FToneCount; ++I) {
        const TToneEntry& Entry = FTones[I];
        if (Entry.Mode == Mode && Entry.Frequency == Frequency && Entry.Tolerance == Tolerance)
            return Entry.Level;
    }
    if (!Measurable(Mode))
        return {};
    const TToneLevel Level = MeasureTone(Mode, Frequency, Tolerance);
    if (FToneCount < FTones.size())
        FTones[FToneCount++] = {Mode, Frequency, Tolerance, Level};
    return Level;
}

double TToneAnalysis::BandPower(TSignalMode Mode, int32_t Lo, int32_t Hi)
{
    for (size_t I = 0; I < FBandCount; ++I) {
        const TBandEntry& Entry = FBands[I];
        if (Entry.Mode == Mode && Entry.Lo == Lo && Entry.Hi == Hi)
            return Entry.Power;
    }
    if (!Measurable(Mode))
        return 0;
    const double Power = MeasureBand(Mode, Lo, Hi);
    if (FBandCount < FBands.size())
        FBands[FBandCount++] = {Mode, Lo, Hi, Power};
    return Power;
}

void TToneAnalysis::MakeKernel(int32_t N)
{
    if (FKernelN == N)
        return;
    FKernelN = N;
    FKernel.resize(size_t(2 * KernelReach * KernelSteps + 1));
    const double Pi = std::acos(-1.0);
    // The unwindowed transform of e^(2 pi i U n / N), n = 0 .. N - 1, at bin K, for D = U - K:
    // a Dirichlet kernel turning by pi (N - 1) / N per bin. The Hann window's bin is the
    // three-term convolution of these, as in ComputePowers.
    const auto Dirichlet = [N, Pi](double D) {
        const double Below = std::sin(Pi * D / N);
        if (std::abs(Below) < 1e-12)
            return std::complex<double>(N, 0);
        const double Turn = Pi * D * (N - 1) / N;
        return std::complex<double>(std::cos(Turn), std::sin(Turn)) * (std::sin(Pi * D) / Below);
    };
    for (int32_t Step = -KernelReach * KernelSteps; Step <= KernelReach * KernelSteps; ++Step) {
        const double D = double(Step) / KernelSteps;
        FKernel[size_t(Step + KernelReach * KernelSteps)] = 0.5 * Dirichlet(D) - 0.25 * (Dirichlet(D + 1) + Dirichlet(D - 1));
    }
}

namespace {

// The bins each side of a tone's own that a resolved tone is fitted to, and how far from it
// the partial beside it may lie.
constexpr int32_t ResolveHalf = 4;
// Two sines closer than this (bins) are one partial to the fit.
constexpr double ResolveApart = 0.5;
// The two sines explain the bins when they leave at most this share unexplained, and at
// most this part of what the best single sine leaves.
constexpr double ResolveResidual = 0.03;
constexpr double ResolveGain = 0.25;
// Both sines matter: neither more than this times the other's power. A partial far weaker
// than the tone hardly moves its peak, and a tone far weaker than the partial is no tone
// of a set (nor is a lone sine split in two).
constexpr double ResolveBalance = 16;  // 12 dB

}  // namespace

TResolvedTone TToneAnalysis::ResolveTone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    const auto& X = FSpectra[size_t(Mode)];
    const int32_t Bins = int32_t(X.size());
    const int32_t Centre = int32_t(std::lround(Frequency / FBinHz));
    if (Centre - ResolveHalf < 1 || Centre + ResolveHalf > Bins - 2)
        return {};
    MakeKernel(2 * (Bins - 1));
    constexpr size_t Count = 2 * ResolveHalf + 1;
    std::array<std::complex<double>, Count> H;
    double Total = 0;
    for (size_t I = 0; I < Count; ++I) {
        const size_t K = size_t(Centre - ResolveHalf) + I;
        H[I] = 0.5 * X[K] - 0.25 * (X[K - 1] + X[K + 1]);
        Total += std::norm(H[I]);
    }
    if (Total <= 0)
        return {};

    // Positions are in steps of 1 / KernelSteps bin from the centre bin. The response of the
    // bins to a sine at a position, and what it explains of them alone.
    using TColumn = std::array<std::complex<double>, Count>;
    const auto Column = [this](int32_t At, TColumn& Into) {
        for (size_t I = 0; I < Count; ++I)
            Into[I] = Kernel(At - (int32_t(I) - ResolveHalf) * KernelSteps);
    };
    const auto Dot = [](const TColumn& A, const auto& B) {
        std::complex<double> Sum = 0;
        for (size_t I = 0; I < Count; ++I)
            Sum += std::conj(A[I]) * B[I];
        return Sum;
    };
    // What two sines at P and Q explain of the bins (least squares), with their amplitudes.
    struct TFit {
        double Explained = -1;
        std::complex<double> AtP, AtQ;
    };
    const auto Fit = [&](int32_t P, int32_t Q) {
        TColumn A, B;
        Column(P, A);
        Column(Q, B);
        const std::complex<double> OnA = Dot(A, H), OnB = Dot(B, H), AB = Dot(A, B);
        const double AA = Dot(A, A).real(), BB = Dot(B, B).real();
        const double Det = AA * BB - std::norm(AB);
        TFit Result;
        if (Det <= 1e-9 * AA * BB)
            return Result;
        Result.Explained = (BB * std::norm(OnA) + AA * std::norm(OnB) - 2 * (std::conj(OnA) * AB * OnB).real()) / Det;
        Result.AtP = (BB * OnA - AB * OnB) / Det;
        Result.AtQ = (AA * OnB - std::conj(AB) * OnA) / Det;
        return Result;
    };
    const int32_t Steps = KernelSteps;
    const int32_t Apart = int32_t(ResolveApart * Steps);
    const auto StepsAt = [&](double Hz) { return (Hz / FBinHz - Centre) * Steps; };
    const int32_t TolLo = int32_t(std::ceil(StepsAt(double(Frequency) - Tolerance)));
    const int32_t TolHi = int32_t(std::floor(StepsAt(double(Frequency) + Tolerance)));
    const int32_t Reach = ResolveHalf * Steps;
    // The best position from Lo to Hi by Step for one sine while the other stays put.
    const auto Best = [&](int32_t Lo, int32_t Hi, int32_t Step, int32_t Other, int32_t& At) {
        double Most = -1;
        for (int32_t Each = Lo; Each <= Hi; Each += Step) {
            if (std::abs(Each - Other) < Apart)
                continue;
            if (const double Explained = Fit(Each, Other).Explained; Explained > Most) {
                Most = Explained;
                At = Each;
            }
        }
        return Most >= 0;
    };
    // The tone from its nominal frequency, the partial anywhere beside it; each refined in
    // turn, coarsely then finely.
    int32_t Tone = std::clamp(int32_t(std::lround(StepsAt(Frequency))), TolLo, TolHi);
    int32_t Other = Tone;
    if (!Best(-Reach, Reach, 4, Tone, Other) || !Best(TolLo, TolHi, 4, Other, Tone))
        return {};
    for (int Round = 0; Round < 2; ++Round) {
        Best(std::max(-Reach, Other - 4), std::min(Reach, Other + 4), 1, Tone, Other);
        Best(std::max(TolLo, Tone - 4), std::min(TolHi, Tone + 4), 1, Other, Tone);
    }
    TFit Two = Fit(Tone, Other);
    // Both within the tolerance: the tone is the one nearer its frequency.
    const int32_t Nominal = int32_t(std::lround(StepsAt(Frequency)));
    if (Other >= TolLo && Other <= TolHi && std::abs(Other - Nominal) < std::abs(Tone - Nominal)) {
        std::swap(Tone, Other);
        std::swap(Two.AtP, Two.AtQ);
    }
    // The best single sine anywhere about the tone.
    double One = 0;
    for (int32_t Each = -Reach; Each <= Reach; Each += 2) {
        TColumn A;
        Column(Each, A);
        One = std::max(One, std::norm(Dot(A, H)) / Dot(A, A).real());
    }
    const double Left = std::max(Total - Two.Explained, 0.0);
    if (Two.Explained < 0 || Left > ResolveResidual * Total || Left > ResolveGain * (Total - One))
        return {};
    TColumn A;
    Column(Tone, A);
    const double ToneEnergy = std::norm(Two.AtP) * Dot(A, A).real();
    TResolvedTone Result;
    const double TonePower = std::norm(Two.AtP), BesidePower = std::norm(Two.AtQ);
    Result.Resolved = ToneEnergy > 0 && TonePower <= ResolveBalance * BesidePower && BesidePower <= ResolveBalance * TonePower;
    // A real sine of amplitude A is two complex ones of amplitude A / 2.
    Result.Tone.Power = 4 * std::norm(Two.AtP);
    Result.Tone.Frequency = (Centre + double(Tone) / Steps) * FBinHz;
    Result.Tone.Spread = ToneEnergy > 0 ? Left / ToneEnergy : 1;
    Result.BesidePower = 4 * std::norm(Two.AtQ);
    Result.BesideFrequency = (Centre + double(Other) / Steps) * FBinHz;
    return Result;
}

TResolvedTone TToneAnalysis::Resolve(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    for (size_t I = 0; I < FResolvedCount; ++I) {
        const TResolvedEntry& Entry = FResolved[I];
        if (Entry.Mode == Mode && Entry.Frequency == Frequency && Entry.Tolerance == Tolerance)
            return Entry.Tone;
    }
    if (!Measurable(Mode))
        return {};
    const TResolvedTone Tone = ResolveTone(Mode, Frequency, Tolerance);
    if (FResolvedCount < FResolved.size())
        FResolved[FResolvedCount++] = {Mode, Frequency, Tolerance, Tone};
    return Tone;
}

// ---- Tone sets of slices ----

namespace {

double DbToPower(double Db)
{
    return std::pow(10.0, Db / 10.0);
}

// The limits of one slice, moved by its Sense: 50 is neutral, 100 the most lenient, 0 the
// strictest. A block that meets the clean limits holds the tone set at once; one that meets
// only the loose limits holds it when the block before met them too with the tones at the
// same frequencies: a tone long enough for two blocks may sound under a programme bed.
struct TToneSetLimits {
    TToneSetLimits() = default;
    explicit TToneSetLimits(int32_t Sense)
    {
        const double Lean = std::clamp((Sense - 50) / 50.0, -1.0, 1.0);
        // Each tone at least -45 dBFS at 50 (a sine of full-scale amplitude is 0 dBFS).
        const double FloorDb = -45.0 - 15.0 * Lean;
        MinPower = std::pow(32767.0 * std::pow(10.0, FloorDb / 20.0), 2);
        MaxTwist = DbToPower(7.0 + 3.0 * Lean);
        CleanShare = 0.6 - 0.2 * Lean;
        CleanSpread = 0.2 + 0.1 * Lean;
        CleanRival = DbToPower(-(12.0 - 4.0 * Lean));
        LooseShare = 0.4 - 0.15 * Lean;
        LooseRival = DbToPower(-(4.0 - 4.0 * Lean));
        MaxBelow = DbToPower(4.0 + 4.0 * Lean);
        MaxBelowAlone = DbToPower(14.0 + 4.0 * Lean);
    }
    double MinPower = 0;     // each tone's power at least
    double MaxTwist = 0;     // power ratio of the stronger to the weaker tone of a pair at most
    double CleanShare = 0;   // the set's share of the band's power at least
    double CleanSpread = 0;  // each tone's spread at most
    double CleanRival = 0;   // every other tone of the table at most this times the weaker tone
    double LooseShare = 0;
    double LooseRival = 0;
    double MaxBelow = 0;     // the power below the band at most this times the weaker tone
    double MaxBelowAlone = 0;  // the same for a set alone in its band
};

// The limits of each Sense, worked out once: Sense outside 0..100 acts as its end.
const TToneSetLimits& LimitsFor(int32_t Sense)
{
    static const std::array<TToneSetLimits, 101> Limits = [] {
        std::array<TToneSetLimits, 101> Table{};
        for (int32_t Each = 0; Each <= 100; ++Each)
            Table[size_t(Each)] = TToneSetLimits(Each);
        return Table;
    }();
    return Limits[size_t(std::clamp(Sense, 0, 100))];
}

// Where a voice's or an instrument's fundamentals and strongest harmonics lie: from this up
// to the band of the tones.
constexpr int32_t FundamentalsFrom = 70;

// The tones of a set may be off their frequencies by shares this far apart at most: a
// sender's tones come from one clock, and the dividers of a keypad's tone chip put them
// at most about 1.3 % apart.
constexpr double MaxSkew = 0.015;

// A rival tone with a spread up to this is a steady tone.
constexpr double SteadySpread = 0.5;

// A steady rival tone off its frequency by a share this close to the set's tones' is taken
// for a tone of the same sender.
constexpr double SameSenderSkew = 0.005;

// A set's tones off their frequencies by at most this share lie close to them.
constexpr double CloseToFrequency = 0.01;

// Two blocks hold the same tones when each tone's frequency moved by at most this share, or
// this part of a bin: what a block measures of a low tone cut off inside it.
constexpr double SameFrequency = 0.005;
constexpr double SameFrequencyBins = 0.25;

// A held tone set is let go once its weaker tone has fallen this far below the strongest it
// was while held, or its share of the band below this part of the least share it needs.
constexpr double ReleaseFall = 0.16;  // -8 dB
constexpr double ReleaseShare = 0.5;

// The band the table's tones live in: from a fifth below the lowest tone's lower edge up to
// a quarter above the highest tone's upper edge. Every tone of the table is a peak of each
// slice (its own present, the others absent), so each slice knows the band.
void ToneBand(const TAudioSample& Slice, int32_t& Lo, int32_t& Hi)
{
    int32_t Low = INT32_MAX, High = 0;
    for (const TFreqData& Peak : Slice.Peaks) {
        if (Peak.Frequency <= 0)
            continue;
        Low = std::min(Low, Peak.Frequency - std::max(Peak.Tolerance, 0));
        High = std::max(High, Peak.Frequency + std::max(Peak.Tolerance, 0));
    }
    Lo = Low == INT32_MAX ? 0 : int32_t(Low * 0.8);
    Hi = int32_t(High * 1.25);
}

// The tolerance a tone is searched and accepted within.
int32_t ToneTolerance(const TFreqData& Peak)
{
    return std::clamp(Peak.Tolerance, 0, int32_t(Peak.Frequency * MaxToneDeviation));
}

int32_t SenseOf(const TAudioSample& Slice)
{
    for (const TFreqData& Peak : Slice.Peaks)
        if (Peak.Kind == fkPresent)
            return Peak.Sense;
    return 50;
}

// A set alone in its band: at least this share of the band's power, tones this steady, every
// other tone of the table this far below the weaker tone.
constexpr double AloneShare = 0.8;
constexpr double AloneSpread = 0.05;
const double AloneRival = DbToPower(-25.0);

// A voice's fundamental lies between FundamentalsFrom and this (Hz); the set's tones are
// taken for its harmonics up to the MaxHarmonic-th over the lowest tone.
constexpr double HighestFundamental = 420;
constexpr int32_t MaxHarmonic = 14;
// A tone fits a harmonic when it lies within this share of it: a voice's harmonics are
// whole multiples of its fundamental, up to what a block can measure.
constexpr double HarmonicFit = 0.0015;
// The harmonics below the band are a voice's when they hold at least this share of the
// power below the band, at least MinHarmonics times the weaker tone, and stand out of the
// spectrum between them by HarmonicContrast.
constexpr double HarmonicShare = 0.63;
const double MinHarmonics = DbToPower(-8.0);
const double HarmonicContrast = DbToPower(12.0);
// A harmonic below the band is the voice's when its measured frequency lies within this
// share of its multiple of the fundamental, or this many Hz: what the interpolation between
// bins can tell apart at the low frequencies, where a bin is 21.5 Hz wide.
constexpr double LowerHarmonicFit = 0.01;
constexpr double LowerHarmonicFitHz = 1.5;

// Whether the measured tones of Measure are harmonics of one fundamental whose lower
// harmonics carry the sound below the band (Below, from Lo down): one voice (or an
// instrument) whose harmonics happen to fall on the set's tones.
bool HarmonicsOfOneVoice(TToneAnalysis& Analysis, TSignalMode Mode, const TToneSetMeasure& Measure, int32_t Lo,
                         double Below)
{
    const auto First = Measure.Frequencies.begin();
    const auto Last = First + std::ptrdiff_t(Measure.Tones);
    const double Lowest = *std::min_element(First, Last);
    for (int32_t Harmonic = 2; Harmonic <= MaxHarmonic; ++Harmonic) {
        const double Fundamental = Lowest / Harmonic;
        if (Fundamental < FundamentalsFrom)
            break;
        if (Fundamental > HighestFundamental)
            continue;
        const bool Fits = std::all_of(First, Last, [Fundamental](double Frequency) {
            return std::abs(Frequency - std::round(Frequency / Fundamental) * Fundamental) <= HarmonicFit * Frequency;
        });
        if (!Fits)
            continue;
        double On = 0, Between = 0;
        for (int32_t Each = 1; Each < Harmonic; ++Each) {
            const double At = Each * Fundamental;
            if (At < FundamentalsFrom || At > Lo)
                continue;
            // The voice's own lower harmonic lies where the tones say its fundamental is; a
            // partial a little off it belongs to another voice (or the same voice at another
            // pitch), and says nothing about the tones.
            const TToneLevel Lower = Analysis.Tone(Mode, int32_t(std::lround(At)), std::max(11, int32_t(At * 0.015)));
            if (std::abs(Lower.Frequency - At) <= std::max(LowerHarmonicFit * At, LowerHarmonicFitHz))
                On += Lower.Power;
            if (At + Fundamental / 2 < Lo)
                Between += Analysis.Tone(Mode, int32_t(std::lround(At + Fundamental / 2)), 5).Power;
        }
        if (On >= HarmonicShare * Below && On >= MinHarmonics * Measure.Weakest && On >= HarmonicContrast * Between)
            return true;
    }
    return false;
}

}  // namespace

TToneSetMeasure MeasureToneSet(TAudioSample& Slice, TSignalMode Mode, TToneAnalysis& Analysis)
{
    // Most blocks hold no tone set: the floor and the share, from measures every slice of the
    // block shares, turn them away before anything of the slice's own is worked out.
    TToneSetMeasure Result;
    const TToneSetLimits& Limits = LimitsFor(SenseOf(Slice));
    // A tone whose lobe is not a single sine's (spread wide, or its peak off the tolerance)
    // may be merged with a steady partial of the bed beside it, closer than the window tells
    // apart: once the quick rules let the set through, such a tone is resolved from that
    // partial, and the partial is no part of the band the set has to fill.
    bool Resolving = false, Resolved = false;
    const auto LevelOf = [&](const TFreqData& Peak, double& Beside) {
        const int32_t Tolerance = ToneTolerance(Peak);
        const TToneLevel Level = Analysis.Tone(Mode, Peak.Frequency, Tolerance);
        if (!Resolving)
            return Level;
        const TResolvedTone Apart = Analysis.Resolve(Mode, Peak.Frequency, Tolerance);
        if (!Apart.Resolved)
            return Level;
        Resolved = true;
        Beside += Apart.BesidePower;
        return Apart.Tone;
    };
    double SetPower = 0, Strongest = 0, Beside = 0;
    const auto Gather = [&] {
        SetPower = Strongest = Beside = 0;
        Result.Tones = 0;
        for (TFreqData& Peak : Slice.Peaks) {
            if (Peak.Frequency <= 0 || Peak.Kind != fkPresent)
                continue;
            const TToneLevel Level = LevelOf(Peak, Beside);
            Peak.Measured = TruncToInt32(std::sqrt(Level.Power));
            SetPower += Level.Power;
            Result.Weakest = Result.Tones == 0 ? Level.Power : std::min(Result.Weakest, Level.Power);
            Strongest = std::max(Strongest, Level.Power);
            if (Result.Tones < Result.Frequencies.size())
                Result.Frequencies[Result.Tones] = Level.Frequency;
            ++Result.Tones;
        }
    };
    Gather();
    if (Result.Tones == 0 || Result.Weakest < Limits.MinPower)
        return Result;
    int32_t Lo = 0, Hi = 0;
    ToneBand(Slice, Lo, Hi);
    const double Band = Analysis.BandPower(Mode, Lo, Hi);
    // The rivals and the band below are measured lobe by lobe, whatever lies beside each
    // frequency included: they are held against the set's weaker tone measured alike.
    const double Against = Result.Weakest;
    Result.Share = Band > 0 ? std::min(SetPower / Band, 1.0) : 0;
    if (Result.Share < Limits.LooseShare)
        return Result;
    // One merged tone is enough to look at all of them: a partial beside a tone pulls its
    // peak towards itself, and the other tone may hide one that only leans its peak over.
    for (const TFreqData& Peak : Slice.Peaks)
        if (Peak.Frequency > 0 && Peak.Kind == fkPresent) {
            const int32_t Tolerance = ToneTolerance(Peak);
            const TToneLevel Level = Analysis.Tone(Mode, Peak.Frequency, Tolerance);
            Resolving = Resolving || Level.Spread > AloneSpread
                        || std::abs(Level.Frequency - Peak.Frequency) > SameFrequency * Peak.Frequency;
        }
    if (Resolving)
        Gather();
    if (Resolved) {
        if (Result.Weakest < Limits.MinPower)
            return Result;
        Result.Share = std::min(SetPower / std::max(Band - Beside, SetPower), 1.0);
        if (Result.Share < Limits.LooseShare)
            return Result;
    }
    if (Result.Tones == 2 && Strongest > Limits.MaxTwist * Result.Weakest)
        return Result;

    // Each tone within its tolerance, and all of them off alike: a sender's tones come from
    // one clock.
    double WorstSpread = 0;
    double LeastDeviation = 1, MostDeviation = -1;
    for (const TFreqData& Peak : Slice.Peaks) {
        if (Peak.Frequency <= 0 || Peak.Kind != fkPresent)
            continue;
        double Unused = 0;
        const TToneLevel Level = LevelOf(Peak, Unused);
        if (std::abs(Level.Frequency - Peak.Frequency) > ToneTolerance(Peak))
            return Result;
        const double Deviation = Level.Frequency / Peak.Frequency - 1;
        LeastDeviation = std::min(LeastDeviation, Deviation);
        MostDeviation = std::max(MostDeviation, Deviation);
        WorstSpread = std::max(WorstSpread, Level.Spread);
    }
    if (MostDeviation - LeastDeviation > MaxSkew)
        return Result;
    // Speech and music reach the band of the tones with harmonics, and carry most of their
    // energy in the fundamentals and lower harmonics below it; a sender's tones have nothing
    // there. A set of steady tones alone in its band (every other tone of the table far
    // below, as worked out next) may sound over a louder bed; unless its tones are
    // harmonics of the sound below the band: then it is a voice.
    const double Below = Analysis.BandPower(Mode, FundamentalsFrom, Lo);
    const bool QuietBelow = Below <= Limits.MaxBelow * Against;
    if (!QuietBelow
        && (Below > Limits.MaxBelowAlone * Against || Result.Share < AloneShare || WorstSpread > AloneSpread))
        return Result;
    double Rival = 0;
    const double SetDeviation = (LeastDeviation + MostDeviation) / 2;
    for (TFreqData& Peak : Slice.Peaks) {
        if (Peak.Frequency <= 0 || Peak.Kind != fkAbsent)
            continue;
        const TToneLevel Other = Analysis.Tone(Mode, Peak.Frequency, ToneTolerance(Peak));
        Peak.Measured = TruncToInt32(std::sqrt(Other.Power));
        // A steady tone at a rival's frequency is taken for another key of the same sender
        // and kept well below the set; unless the set's tones lie close to their frequencies
        // and the rival is off its own otherwise: then it is a note of a programme bed tuned
        // its own way, which only has to stay below the set, as a bed's passing harmonics
        // do. (The notes of a chord lie up to 1.8 % from the table's tones: a chord taken
        // for a set seldom lies close to them.)
        const double OtherDeviation = Other.Frequency / Peak.Frequency - 1;
        const bool SameSender = Other.Spread <= SteadySpread
                                && (std::abs(SetDeviation) > CloseToFrequency
                                    || std::abs(OtherDeviation - SetDeviation) <= SameSenderSkew);
        Rival = std::max(Rival, Other.Power);
        if (Other.Power > (SameSender ? Limits.CleanRival : Limits.LooseRival) * Against)
            return Result;
    }
    if (!QuietBelow && Rival > AloneRival * Against)
        return Result;
    if (Result.Tones >= 2 && Result.Tones <= Result.Frequencies.size()
        && HarmonicsOfOneVoice(Analysis, Mode, Result, Lo, Below))
        return Result;
    // A set told apart from the bed is held only when the next block confirms it.
    const bool Clean = !Resolved && Result.Share >= Limits.CleanShare && WorstSpread <= Limits.CleanSpread
                       && Rival <= Limits.CleanRival * Result.Weakest;
    Result.Grade = Clean ? TToneSetMeasure::Clean : TToneSetMeasure::Loose;
    return Result;
}

namespace {

// Whether two slices ask for the same tones.
bool SameTones(const TAudioSample& A, const TAudioSample& B)
{
    if (&A == &B)
        return true;
    const auto Present = [](const TFreqData& Peak) { return Peak.Frequency > 0 && Peak.Kind == fkPresent; };
    auto I = A.Peaks.begin(), J = B.Peaks.begin();
    while (true) {
        while (I != A.Peaks.end() && !Present(*I))
            ++I;
        while (J != B.Peaks.end() && !Present(*J))
            ++J;
        if (I == A.Peaks.end() || J == B.Peaks.end())
            return I == A.Peaks.end() && J == B.Peaks.end();
        if (I->Frequency != J->Frequency || I->Tolerance != J->Tolerance)
            return false;
        ++I;
        ++J;
    }
}

}  // namespace

void TAudioSequence::MatchTones(TToneAnalysis& Analysis, TDateTime Now)
{
    if (FFound)
        return;
    if (FCurrent < 0 && !Samples.Empty())
        FCurrent = 0;
    if (FCurrent < 0)
        return;
    // What the block before found of the slice awaited then; only the very next block may
    // confirm it.
    const int32_t Loose = FLoose;
    FLoose = -1;

    // One press is one symbol: the set matched last is held until it has clearly ended.
    if (FHeld >= 0) {
        TAudioSample& Held = Samples[FHeld];
        // (A set below the floor has no share worked out: it has ended anyway.)
        const TToneSetMeasure Still = MeasureToneSet(Held, Channel, Analysis);
        if (Still.Weakest < ReleaseFall * FHeldPower
            || Still.Share < ReleaseShare * LimitsFor(SenseOf(Held)).LooseShare)
            FHeld = -1;
        else
            FHeldPower = std::max(FHeldPower, Still.Weakest);
    }

    if (FPrevious >= 0) {
        const TAudioSample& Last = Samples[FPrevious];
        if (Last.MaxGap != 0 && Last.Elapsed(Now) > Last.MaxGap) {
            // Too late for the next symbol: start over, from the next block on.
            Reset();
            return;
        }
    }

    TAudioSample& Slice = Samples[FCurrent];
    if (FHeld >= 0 && SameTones(Samples[FHeld], Slice))
        return;  // the same tones still sounding are the same press
    const TToneSetMeasure Measure = MeasureToneSet(Slice, Channel, Analysis);
    bool Present = Measure.Grade == TToneSetMeasure::Clean;
    if (Measure.Grade == TToneSetMeasure::Loose) {
        const size_t Tones = std::min(Measure.Tones, Measure.Frequencies.size());
        bool Steady = Loose == FCurrent;
        for (size_t I = 0; I < Tones && Steady; ++I)
            Steady = std::abs(Measure.Frequencies[I] - FLooseFrequencies[I])
                     <= std::max(SameFrequency * Measure.Frequencies[I], SameFrequencyBins * Analysis.BinHz());
        Present = Steady;
        FLoose = FCurrent;
        FLooseFrequencies = Measure.Frequencies;
    }
    if (!Present)
        return;
    FLoose = -1;
    Slice.FMatched = true;
    Slice.FMatchStart = Now;
    FHeld = FCurrent;
    FHeldPower = Measure.Weakest;
    Advance();
}
