#include "audio/ToneDetector.h"

#include "audio/AudioDetector.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

// ---- Measures of a block ----

namespace {

// std::ceil and std::floor of X as an integer, for X within the int32 range: a tone's bins
// are worked out for every tone of every block, and the library's calls cost more than this.
int32_t CeilToInt32(double X)
{
    const auto I = int32_t(X);  // towards zero
    return double(I) < X ? I + 1 : I;
}

int32_t FloorToInt32(double X)
{
    const auto I = int32_t(X);
    return double(I) > X ? I - 1 : I;
}

}  // namespace

uint64_t TToneAnalysis::NewRegisterId()
{
    static std::atomic<uint64_t> Last{0};
    return ++Last;
}

void TToneAnalysis::Start(const TAudioFFT* Analyser, int32_t FrameRate)
{
    FAnalyser = Analyser;
    FBlock = Analyser ? Analyser->Serial() : 0;
    FFrameRate = FrameRate;
    FToneCount = 0;
    if (++FGeneration == 0) {
        // Once in four billion blocks: no slot may look filled in this generation.
        FTones.fill({});
        FSets.fill({});
        for (TToneEntry& Entry : FRegister)
            Entry.Generation = 0;
        FRegisterCleared = 0;
        FGeneration = 1;
    }
    FSetCount = 0;
    FSetTones.clear();
    if (FSetTones.capacity() == 0)
        FSetTones.reserve(MaxSets * 16);  // room for the sets of a table of 16 tones
    FBands.Clear();
    FResolved.Clear();
    FBinHz = 0;
    FScale = 0;
    for (size_t Mode = 0; Mode < FSpectra.size(); ++Mode) {
        FSpectra[Mode] = Analyser ? Analyser->ComplexSpectrumOf(TSignalMode(Mode)) : std::span<const std::complex<double>>();
        FPowersSummed[Mode] = 0;
        FPowersFrom[Mode] = 1;
        FPowersTo[Mode] = 0;
        if (FPowers[Mode].size() != FSpectra[Mode].size()) {
            // Only when the block size changes; the arrays keep their storage from block to block.
            FPowers[Mode].assign(FSpectra[Mode].size(), 0.0);
            FPowerSums[Mode].assign(FSpectra[Mode].size(), 0.0);
        }
        const auto Bins = int32_t(FSpectra[Mode].size());
        if (Bins == 0)
            continue;
        MakeKernel(2 * (Bins - 1));
        if (Bins >= 3 && FrameRate > 0 && FBinHz == 0) {
            // N / 2 + 1 bins of a transform of N points: bin k is k * FrameRate / N Hz. Every
            // mode of a block has the same N.
            const double N = 2.0 * (Bins - 1);
            FBinHz = FrameRate / N;
            // A sine of amplitude A reads A * N / 4 in the Hann-windowed bin at its frequency,
            // and its lobe holds 1.5 times that bin's power: scaled, the lobe sums to A * A.
            FScale = 32.0 / (3.0 * N * N);
        }
    }
}

double TToneAnalysis::BinPowerBeyond(size_t Mode, int32_t K)
{
    if (K < 1 || K + 2 > int32_t(FSpectra[Mode].size()))
        return 0;
    PowersOver(Mode, K, K);
    return FPowers[Mode][size_t(K)];
}

void TToneAnalysis::WorkOutPowers(size_t Mode, int32_t From, int32_t To)
{
    // Bins 1 .. N/2 - 1 have both neighbours; bin 0 and the Nyquist bin count as 0.
    const auto& X = FSpectra[Mode];
    From = std::max(From, 1);
    To = std::min(To, int32_t(X.size()) - 2);
    if (From > To)
        return;
    int32_t& Done = FPowersFrom[Mode];
    int32_t& DoneTo = FPowersTo[Mode];
    double* Powers = FPowers[Mode].data();
    const double Scale = FScale;
    // A bin's real and imaginary parts side by side, as std::complex lays them out, worked
    // on together (each part as on its own: the same numbers).
    using TParts = double __attribute__((vector_size(2 * sizeof(double))));
    const auto Load = [&X](size_t K) {
        TParts Parts;
        std::memcpy(&Parts, &X[K], sizeof Parts);
        return Parts;
    };
    const auto Work = [&](int32_t First, int32_t Last) {
        // The Hann window is the three-term convolution 0.5 X[k] - 0.25 (X[k-1] + X[k+1]) of
        // the unwindowed transform. Two bins a turn: their squared parts are summed side by side.
        TParts Before = Load(size_t(First) - 1), At = Load(size_t(First));
        auto K = size_t(First);
        for (; K + 1 <= size_t(Last); K += 2) {
            const TParts Next = Load(K + 1), After = Load(K + 2);
            const TParts H = 0.5 * At - 0.25 * (Before + Next);
            const TParts HNext = 0.5 * Next - 0.25 * (At + After);
            const TParts Squares = H * H, SquaresNext = HNext * HNext;
            const TParts Both = (__builtin_shufflevector(Squares, SquaresNext, 0, 2)
                                 + __builtin_shufflevector(Squares, SquaresNext, 1, 3))
                                * Scale;
            std::memcpy(&Powers[K], &Both, sizeof Both);
            Before = Next;
            At = After;
        }
        if (K == size_t(Last)) {
            const TParts H = 0.5 * At - 0.25 * (Before + Load(K + 1));
            const TParts Squares = H * H;
            Powers[K] = (Squares[0] + Squares[1]) * Scale;
        }
    };
    if (Done > DoneTo) {
        Work(From, To);
        Done = From;
        DoneTo = To;
        return;
    }
    if (From < Done) {
        Work(From, Done - 1);
        Done = From;
    }
    if (To > DoneTo) {
        Work(DoneTo + 1, To);
        DoneTo = To;
    }
}

void TToneAnalysis::SumPowers(size_t Mode, int32_t UpTo)
{
    const int32_t Last = std::min(UpTo, int32_t(FSpectra[Mode].size()) - 2);
    const int32_t From = FPowersSummed[Mode] + 1;
    if (Last < From)
        return;
    PowersOver(Mode, From, Last);
    const double* Powers = FPowers[Mode].data();
    double* Sums = FPowerSums[Mode].data();
    for (auto K = size_t(From); K <= size_t(Last); ++K)
        Sums[K] = Sums[K - 1] + Powers[K];
    FPowersSummed[Mode] = Last;
}

int32_t TToneAnalysis::BinsOf(TSignalMode Mode) const
{
    return size_t(Mode) < FSpectra.size() ? int32_t(FSpectra[size_t(Mode)].size()) : 0;
}

void TToneAnalysis::RangeOf(TToneEntry& Entry, int32_t Bins)
{
    // The bins whose centres lie within the tolerance and half a bin: the tone's strongest bin
    // is one of them, while the lobe of a tone further off only reaches in with its flank.
    const auto BinAt = [this](double Hz) { return Hz / FBinHz; };
    Entry.First = std::max(1, CeilToInt32(BinAt(double(Entry.Frequency) - Entry.Tolerance) - 0.5));
    Entry.Last = std::min(Bins - 2, FloorToInt32(BinAt(double(Entry.Frequency) + Entry.Tolerance) + 0.5));
    Entry.RangeHz = FBinHz;
    Entry.RangeBins = Bins;
}

void TToneAnalysis::SpanRegister(int32_t Bins)
{
    FSpanFrom.fill(INT32_MAX);
    FSpanTo.fill(INT32_MIN);
    for (TToneEntry& Entry : FRegister) {
        RangeOf(Entry, Bins);
        if (Entry.Last < Entry.First)
            continue;
        const auto Mode = size_t(Entry.Mode);
        FSpanFrom[Mode] = std::min(FSpanFrom[Mode], Entry.First - 1);
        FSpanTo[Mode] = std::max(FSpanTo[Mode], Entry.Last + 1);
    }
    FSpanOf = FRegisterChanges;
    FSpanBins = Bins;
    FSpanHz = FBinHz;
}

void TToneAnalysis::MeasureTone(TToneEntry& Entry)
{
    const TSignalMode Mode = Entry.Mode;
    const int32_t Bins = BinsOf(Mode);
    Entry.Detailed = true;
    if (Bins < 3 || FBinHz <= 0)
        return;
    if (Entry.RangeHz != FBinHz || Entry.RangeBins != Bins)
        RangeOf(Entry, Bins);
    const int32_t First = Entry.First, Last = Entry.Last;
    if (Last < First)
        return;
    // (The bins beside the range too: the lobe's flanks and the peak's neighbours.)
    PowersOver(size_t(Mode), First - 1, Last + 1);
    // (Bins 0 and N/2 read 0, as BinPower gives them: they are never worked out.)
    const double* Powers = FPowers[size_t(Mode)].data();
    int32_t Peak = First;
    double PeakPower = Powers[First];
    for (int32_t K = First + 1; K <= Last; ++K)
        if (const double Power = Powers[K]; Power > PeakPower) {
            Peak = K;
            PeakPower = Power;
        }
    const double Below = Powers[Peak - 1];
    const double Above = Powers[Peak + 1];
    TToneLevel& Level = Entry.Level;
    if (Below > PeakPower || Above > PeakPower) {
        // Rising beyond the edge: only the flank of a tone outside the tolerance reaches in.
        // It is the power of that bin, at the frequency of the louder bin beyond.
        Level.Power = PeakPower;
        Level.Frequency = (Below > PeakPower ? Peak - 1 : Peak + 1) * FBinHz;
        Level.Spread = 1;
        return;
    }
    Level.Power = Below + PeakPower + Above;
    // Where the peak lies and how far the tone spreads are worked out when first asked for:
    // most tones of most blocks are turned away on their power alone.
    Entry.Peak = Peak;
    Entry.Detailed = false;
}

void TToneAnalysis::DetailTone(TToneEntry& Entry)
{
    const TSignalMode Mode = Entry.Mode;
    const int32_t Peak = Entry.Peak;
    PowersOver(size_t(Mode), Peak - 3, Peak + 3);
    const double PeakPower = BinPower(Mode, Peak), Below = BinPower(Mode, Peak - 1), Above = BinPower(Mode, Peak + 1);
    TToneLevel& Level = Entry.Level;
    // The peak between bins: a parabola through the logarithms of the three powers, which
    // fits the Hann window's lobe closely.
    double Offset = 0;
    if (Below > 0 && PeakPower > 0 && Above > 0) {
        // (Two logarithms of ratios instead of three of the powers.)
        const double Curve = std::log(Below / PeakPower * (Above / PeakPower));
        if (Curve < 0)
            Offset = std::clamp(0.5 * std::log(Below / Above) / Curve, -0.5, 0.5);
    }
    Level.Frequency = (Peak + Offset) * FBinHz;
    if (Level.Power > 0) {
        const double Beside = BinPower(Mode, Peak - 3) + BinPower(Mode, Peak - 2) + BinPower(Mode, Peak + 2)
                               + BinPower(Mode, Peak + 3);
        Level.Spread = Beside / Level.Power;
    }
    Entry.Detailed = true;
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
    SumPowers(size_t(Mode), Last);
    const auto& Sums = FPowerSums[size_t(Mode)];
    return Sums[size_t(Last)] - Sums[size_t(First) - 1];
}

bool TToneAnalysis::Measurable(TSignalMode Mode)
{
    // (Start works out the bins' geometry of the block.)
    return BinsOf(Mode) >= 3 && FBinHz > 0;
}

TToneAnalysis::TToneEntry* TToneAnalysis::FindToneFrom(size_t Slot, TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    for (;; Slot = (Slot + 1) % ToneSlots) {
        TToneEntry& Entry = FTones[Slot];
        if (Entry.Generation != FGeneration)
            break;
        if (Entry.Frequency == Frequency && Entry.Tolerance == Tolerance && Entry.Mode == Mode)
            return &Entry;
    }
    if (!Measurable(Mode))
        return nullptr;
    // (Beyond MaxTones a tone is measured afresh each time it is asked for.)
    TToneEntry& Entry = FToneCount < MaxTones ? FTones[Slot] : FSpareTone;
    if (FToneCount < MaxTones)
        ++FToneCount;
    Entry = {FGeneration, Mode, Frequency, Tolerance, 0, true, {}};
    MeasureTone(Entry);
    return &Entry;
}

void TToneAnalysis::BindAnew(TToneSet& Set, TSignalMode Mode)
{
    const auto Find = [&](const TToneSet::TTone& Tone) {
        for (size_t Slot = 0; Slot < FRegister.size(); ++Slot) {
            const TToneEntry& Entry = FRegister[Slot];
            if (Entry.Frequency == Tone.Frequency && Entry.Tolerance == Tone.Within && Entry.Mode == Mode)
                return Slot;
        }
        return FRegister.size();
    };
    size_t Missing = 0;
    for (const TToneSet::TTone& Tone : Set.Tones)
        Missing += Find(Tone) == FRegister.size() ? 1 : 0;
    if (FRegister.size() + Missing > MaxRegistered) {
        // Tones of sets no longer watched take the room: start the register over, which makes
        // every set bind again; once in a block at most, so that sets with more tones than it
        // holds are looked up instead of clearing it over and over.
        if (FRegisterCleared == FGeneration || Missing > MaxRegistered) {
            Set.Register = 0;
            return;
        }
        FRegister.clear();
        FRegisterId = NewRegisterId();
        FRegisterCleared = FGeneration;
        ++FRegisterChanges;
    }
    if (FRegister.capacity() < MaxRegistered)
        FRegister.reserve(MaxRegistered);
    Set.Slots.resize(Set.Tones.size());
    for (size_t I = 0; I < Set.Tones.size(); ++I) {
        size_t Slot = Find(Set.Tones[I]);
        if (Slot == FRegister.size()) {
            TToneEntry Entry;
            Entry.Mode = Mode;
            Entry.Frequency = Set.Tones[I].Frequency;
            Entry.Tolerance = Set.Tones[I].Within;
            FRegister.push_back(Entry);
            ++FRegisterChanges;
        }
        Set.Slots[I] = uint16_t(Slot);
    }
    Set.Register = FRegisterId;
    Set.Mode = Mode;
}

void TToneAnalysis::MeasureRegistered(TToneEntry& Entry)
{
    Entry.Generation = FGeneration;
    Entry.Peak = 0;
    Entry.Detailed = true;
    Entry.Level = {};
    if (!Measurable(Entry.Mode))
        return;
    const auto Mode = size_t(Entry.Mode);
    if (FPowersFrom[Mode] > FPowersTo[Mode]) {
        // The block's first registered tone in the channel: the tones of the register are
        // measured together, and their bins are worked out in one run.
        const int32_t Bins = BinsOf(Entry.Mode);
        if (FSpanOf != FRegisterChanges || FSpanBins != Bins || FSpanHz != FBinHz)
            SpanRegister(Bins);
        PowersOver(Mode, FSpanFrom[Mode], FSpanTo[Mode]);
    }
    MeasureTone(Entry);
}

TToneLevel TToneAnalysis::DetailedLevel(TToneEntry* Entry)
{
    if (!Entry)
        return {};
    if (!Entry->Detailed)
        DetailTone(*Entry);
    return Entry->Level;
}

TToneLevel TToneAnalysis::Tone(TSignalMode Mode, const TToneSet& Set, size_t I)
{
    return DetailedLevel(SetTone(Mode, Set, I));
}

TToneLevel TToneAnalysis::Tone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    return DetailedLevel(FindTone(Mode, Frequency, Tolerance));
}

double TToneAnalysis::BandPower(TSignalMode Mode, int32_t Lo, int32_t Hi)
{
    return FBands.Get({Mode, Lo, Hi}, [&] { return Measurable(Mode) ? MeasureBand(Mode, Lo, Hi) : 0.0; });
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

void TToneAnalysis::MakeKernel(int32_t N)
{
    if (FKernelN == N)
        return;
    FKernelN = N;
    FKernel.resize(size_t(2 * KernelReach * KernelSteps + 1));
    const double Pi = std::acos(-1.0);
    // The unwindowed transform of e^(2 pi i U n / N), n = 0 .. N - 1, at bin K, for D = U - K:
    // a Dirichlet kernel turning by pi (N - 1) / N per bin. The Hann window's bin is the
    // three-term convolution of these, as in BinPower.
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
    // The power each position puts into the bins a resolved tone is fitted to.
    FKernelNorm.resize(size_t(2 * ResolveHalf * KernelSteps + 1));
    for (int32_t At = -ResolveHalf * KernelSteps; At <= ResolveHalf * KernelSteps; ++At) {
        double Norm = 0;
        for (int32_t I = -ResolveHalf; I <= ResolveHalf; ++I)
            Norm += std::norm(Kernel(At - I * KernelSteps));
        FKernelNorm[size_t(At + ResolveHalf * KernelSteps)] = Norm;
    }
    FColumns.clear();
    FColumnsTurned.clear();
    for (int32_t At = -ResolveHalf * KernelSteps; At <= ResolveHalf * KernelSteps; ++At)
        for (int32_t I = 0; I < 2 * ResolveHalf + 1; ++I) {
            const std::complex<double> Value = Kernel(At + (ResolveHalf - I) * KernelSteps);
            FColumns.push_back(Value);
            FColumnsTurned.emplace_back(Value.imag(), -Value.real());
        }
    FColumnOn.resize(FKernelNorm.size());
    FColumnOf.assign(FKernelNorm.size(), 0);
}


namespace {

constexpr size_t ResolveBins = 2 * ResolveHalf + 1;

// The response of the bins about a tone to a complex sine at one position, with its power
// and its projection on the bins measured.
struct TSineColumn {
    // The response at the bins, and each value turned as (im, -re).
    const std::complex<double>* First = nullptr;
    const std::complex<double>* Turned = nullptr;
    double Norm = 0;         // sum of |column|^2
    double OnRe = 0, OnIm = 0;  // the projection: sum of conj(column) * bin
};

// A complex value's real and imaginary parts side by side, as std::complex lays them out.
using TParts = double __attribute__((vector_size(2 * sizeof(double))));

TParts PartsOf(const std::complex<double>& Value)
{
    TParts Parts;
    std::memcpy(&Parts, &Value, sizeof Parts);
    return Parts;
}

// The sum over the bins of conj(A) * B, given B turned: Re a * b + Im a * (im b, -re b) is
// (Re a Re b + Im a Im b, Re a Im b - Im a Re b), worked out part by part as written so.
TParts SumOfConjugateTimes(const std::complex<double>* A, const std::complex<double>* B,
                           const std::complex<double>* BTurned)
{
    TParts Sum{0, 0};
    for (size_t I = 0; I < ResolveBins; ++I) {
        const TParts Of = PartsOf(A[I]);
        Sum += Of[0] * PartsOf(B[I]) + Of[1] * PartsOf(BTurned[I]);
    }
    return Sum;
}

// What the sines of columns A and B explain together of the bins (least squares), or -1 when
// they are too alike to tell apart; their amplitudes into AtA and AtB.
double ExplainedByTwo(const TSineColumn& A, const TSineColumn& B, std::complex<double>* AtA = nullptr,
                      std::complex<double>* AtB = nullptr)
{
    // sum of conj(A) * B
    const TParts Crossed = SumOfConjugateTimes(A.First, B.First, B.Turned);
    const double CrossRe = Crossed[0], CrossIm = Crossed[1];
    const double Det = A.Norm * B.Norm - (CrossRe * CrossRe + CrossIm * CrossIm);
    if (Det <= 1e-9 * A.Norm * B.Norm)
        return -1;
    // Re(conj(OnA) * Cross * OnB)
    const double XRe = A.OnRe * CrossRe + A.OnIm * CrossIm, XIm = A.OnRe * CrossIm - A.OnIm * CrossRe;
    const double Mixed = XRe * B.OnRe - XIm * B.OnIm;
    const double OnA = A.OnRe * A.OnRe + A.OnIm * A.OnIm, OnB = B.OnRe * B.OnRe + B.OnIm * B.OnIm;
    if (AtA && AtB) {
        const std::complex<double> PA(A.OnRe, A.OnIm), PB(B.OnRe, B.OnIm), Cross(CrossRe, CrossIm);
        *AtA = (B.Norm * PA - Cross * PB) / Det;
        *AtB = (A.Norm * PB - std::conj(Cross) * PA) / Det;
    }
    return (B.Norm * OnA + A.Norm * OnB - 2 * Mixed) / Det;
}

}  // namespace

TResolvedTone TToneAnalysis::ResolveTone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    const auto& X = FSpectra[size_t(Mode)];
    const int32_t Bins = int32_t(X.size());
    const int32_t Centre = int32_t(std::lround(Frequency / FBinHz));
    if (Centre - ResolveHalf < 1 || Centre + ResolveHalf > Bins - 2)
        return {};
    MakeKernel(2 * (Bins - 1));
    // The bins, and each turned as (im, -re).
    std::array<std::complex<double>, ResolveBins> Hs, HsTurned;
    double Total = 0;
    for (size_t I = 0; I < ResolveBins; ++I) {
        const size_t K = size_t(Centre - ResolveHalf) + I;
        const std::complex<double> H = 0.5 * X[K] - 0.25 * (X[K - 1] + X[K + 1]);
        Hs[I] = H;
        HsTurned[I] = {H.imag(), -H.real()};
        Total += std::norm(H);
    }
    if (Total <= 0)
        return {};

    // Positions are in steps of 1 / KernelSteps bin from the centre bin, from -Reach to Reach.
    // The fit looks at many positions, some of them again: each one's projection on the
    // bins is worked out once in the fit.
    const int32_t Reach = ResolveHalf * KernelSteps;
    if (++FColumnFit == 0) {
        std::fill(FColumnOf.begin(), FColumnOf.end(), 0);
        FColumnFit = 1;
    }
    const auto Column = [&](int32_t At, TSineColumn& Into) {
        const auto Slot = size_t(At + Reach);
        Into.First = &FColumns[Slot * ResolveBins];
        Into.Turned = &FColumnsTurned[Slot * ResolveBins];
        Into.Norm = FKernelNorm[Slot];
        if (FColumnOf[Slot] == FColumnFit) {
            Into.OnRe = FColumnOn[Slot].real();
            Into.OnIm = FColumnOn[Slot].imag();
            return;
        }
        const TParts On = SumOfConjugateTimes(Into.First, Hs.data(), HsTurned.data());
        Into.OnRe = On[0];
        Into.OnIm = On[1];
        FColumnOf[Slot] = FColumnFit;
        FColumnOn[Slot] = {Into.OnRe, Into.OnIm};
    };
    const int32_t Steps = KernelSteps;
    const int32_t Apart = int32_t(ResolveApart * Steps);
    const auto StepsAt = [&](double Hz) { return (Hz / FBinHz - Centre) * Steps; };
    // (A wide tolerance at a high frequency may reach beyond the bins fitted: the tone is
    // looked for within them.)
    const int32_t TolLo = std::max(-Reach, int32_t(std::ceil(StepsAt(double(Frequency) - Tolerance))));
    const int32_t TolHi = std::min(Reach, int32_t(std::floor(StepsAt(double(Frequency) + Tolerance))));
    if (TolHi < TolLo)
        return {};
    // The best position from Lo to Hi for one sine while the other (Fixed) stays put: a look
    // every Step, then about the best at half the step, down to single steps. Each look is a
    // few dozen multiplications.
    TSineColumn Fixed, Moving;
    const auto Explains = [&](int32_t At, int32_t Other) {
        if (std::abs(At - Other) < Apart)
            return -1.0;
        Column(At, Moving);
        return ExplainedByTwo(Fixed, Moving);
    };
    const auto Best = [&](int32_t Lo, int32_t Hi, int32_t Step, int32_t Other, int32_t& At) {
        Column(Other, Fixed);
        double Most = -1;
        for (int32_t Each = Lo; Each <= Hi; Each += Step)
            if (const double Explained = Explains(Each, Other); Explained > Most) {
                Most = Explained;
                At = Each;
            }
        for (Step /= 2; Step >= 1 && Most >= 0; Step /= 2) {
            const int32_t From = At;
            for (const int32_t Each : {From - Step, From + Step})
                if (Each >= Lo && Each <= Hi)
                    if (const double Explained = Explains(Each, Other); Explained > Most) {
                        Most = Explained;
                        At = Each;
                    }
        }
        return Most >= 0;
    };
    // The tone from its nominal frequency, the partial anywhere beside it; then each again
    // about where it was found.
    int32_t Tone = std::clamp(int32_t(std::lround(StepsAt(Frequency))), TolLo, TolHi);
    int32_t Other = Tone;
    if (!Best(-Reach, Reach, Steps, Tone, Other) || !Best(TolLo, TolHi, Steps / 4, Other, Tone))
        return {};
    Best(std::max(-Reach, Other - Steps / 8), std::min(Reach, Other + Steps / 8), Steps / 8, Tone, Other);
    Best(std::max(TolLo, Tone - Steps / 8), std::min(TolHi, Tone + Steps / 8), Steps / 8, Other, Tone);
    TSineColumn A, B;
    Column(Tone, A);
    Column(Other, B);
    std::complex<double> AtTone, AtOther;
    const double Explained = ExplainedByTwo(A, B, &AtTone, &AtOther);
    // Both within the tolerance: the tone is the one nearer its frequency.
    const int32_t Nominal = int32_t(std::lround(StepsAt(Frequency)));
    if (Other >= TolLo && Other <= TolHi && std::abs(Other - Nominal) < std::abs(Tone - Nominal)) {
        std::swap(Tone, Other);
        std::swap(AtTone, AtOther);
        std::swap(A, B);
    }
    // The best single sine about the tone: from the better of the two alone, finer and finer.
    const auto ExplainsAlone = [&](int32_t At) {
        Column(At, Moving);
        return (Moving.OnRe * Moving.OnRe + Moving.OnIm * Moving.OnIm) / Moving.Norm;
    };
    double One = ExplainsAlone(Tone);
    int32_t OneAt = Tone;
    if (const double Single = ExplainsAlone(Other); Single > One) {
        One = Single;
        OneAt = Other;
    }
    for (int32_t Step = Steps / 4; Step >= 1; Step /= 2) {
        const int32_t From = OneAt;
        for (const int32_t Each : {From - Step, From + Step})
            if (Each >= -Reach && Each <= Reach)
                if (const double Single = ExplainsAlone(Each); Single > One) {
                    One = Single;
                    OneAt = Each;
                }
    }
    const double Left = std::max(Total - Explained, 0.0);
    if (Explained < 0 || Left > ResolveResidual * Total || Left > ResolveGain * (Total - One))
        return {};
    const double ToneEnergy = std::norm(AtTone) * A.Norm;
    TResolvedTone Result;
    const double TonePower = std::norm(AtTone), BesidePower = std::norm(AtOther);
    Result.Resolved = ToneEnergy > 0 && TonePower <= ResolveBalance * BesidePower && BesidePower <= ResolveBalance * TonePower;
    // A real sine of amplitude A is two complex ones of amplitude A / 2.
    Result.Tone.Power = 4 * TonePower;
    Result.Tone.Frequency = (Centre + double(Tone) / Steps) * FBinHz;
    Result.Tone.Spread = ToneEnergy > 0 ? Left / ToneEnergy : 1;
    Result.BesidePower = 4 * BesidePower;
    Result.BesideFrequency = (Centre + double(Other) / Steps) * FBinHz;
    return Result;
}

TResolvedTone TToneAnalysis::Resolve(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
{
    return FResolved.Get({Mode, Frequency, Tolerance},
                         [&] { return Measurable(Mode) ? ResolveTone(Mode, Frequency, Tolerance) : TResolvedTone(); });
}

TToneSetMeasure TToneAnalysis::ToneSet(TSignalMode Mode, const TToneSet& Set, TToneSetNeed Need)
{
    // The slices of every command sample over one table ask for the same few sets.
    size_t Slot = size_t((Set.Hash ^ (uint64_t(Mode) * 0x9E3779B97F4A7C15u)) >> 58);
    for (;; Slot = (Slot + 1) % SetSlots) {
        TSetEntry& Entry = FSets[Slot];
        if (Entry.Generation != FGeneration)
            break;
        if (Entry.Hash == Set.Hash && Entry.Mode == Mode && Entry.Present == Set.Present && Entry.Sense == Set.Sense
            && Entry.Lo == Set.Lo && Entry.Hi == Set.Hi && Entry.Count == Set.Tones.size()
            && std::equal(Set.Tones.begin(), Set.Tones.end(), FSetTones.begin() + std::ptrdiff_t(Entry.Offset))) {
            if (!Entry.Measure.Whole && Need == TToneSetNeed::Everything)
                Entry.Measure = MeasureToneSet(Set, Mode, *this);
            return Entry.Measure;
        }
    }
    const TToneSetMeasure Measure = MeasureToneSet(Set, Mode, *this, Need);
    if (FSetCount < MaxSets) {
        FSets[Slot] = {FGeneration, Mode, Set.Hash, Set.Present, Set.Sense, Set.Lo, Set.Hi, FSetTones.size(),
                       Set.Tones.size(), Measure};
        FSetTones.insert(FSetTones.end(), Set.Tones.begin(), Set.Tones.end());
        ++FSetCount;
    }
    return Measure;
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
// (Made when the program starts: every step of every slice looks its limits up.)
const std::array<TToneSetLimits, 101> AllLimits = [] {
    std::array<TToneSetLimits, 101> Table{};
    for (int32_t Each = 0; Each <= 100; ++Each)
        Table[size_t(Each)] = TToneSetLimits(Each);
    return Table;
}();

const TToneSetLimits& LimitsFor(int32_t Sense)
{
    return AllLimits[size_t(std::clamp(Sense, 0, 100))];
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
                Between += Analysis.TonePower(Mode, int32_t(std::lround(At + Fundamental / 2)), 5);
        }
        if (On >= HarmonicShare * Below && On >= MinHarmonics * Measure.Weakest && On >= HarmonicContrast * Between)
            return true;
    }
    return false;
}

}  // namespace

void TToneSet::Assign(const TAudioSample& Slice)
{
    // (Read through a constant list: reading the peaks is no change of them.)
    const TFreqDataList& Peaks = Slice.Peaks;
    Tones.clear();
    for (const TFreqData& Peak : Peaks)
        if (Peak.Frequency > 0 && Peak.Kind == fkPresent)
            Tones.push_back({Peak.Frequency, Peak.Tolerance, ToneTolerance(Peak)});
    Present = Tones.size();
    for (const TFreqData& Peak : Peaks)
        if (Peak.Frequency > 0 && Peak.Kind == fkAbsent)
            Tones.push_back({Peak.Frequency, Peak.Tolerance, ToneTolerance(Peak)});
    Sense = std::clamp(SenseOf(Slice), 0, 100);
    MinPower = LimitsFor(Sense).MinPower;
    LooseRival = LimitsFor(Sense).LooseRival;
    ToneBand(Slice, Lo, Hi);
    Register = 0;
    // FNV-1a over every field the measure depends on.
    uint64_t Sum = 14695981039346656037u;
    const auto Mix = [&Sum](int64_t Value) {
        Sum = (Sum ^ uint64_t(Value)) * 1099511628211u;
    };
    Mix(int64_t(Present));
    Mix(Sense);
    Mix(Lo);
    Mix(Hi);
    for (const TTone& Tone : Tones) {
        Mix(Tone.Frequency);
        Mix(Tone.Tolerance);
        Mix(Tone.Within);
    }
    Hash = Sum;
}

bool TToneSet::SameTones(const TToneSet& Other) const
{
    const auto Own = Tones.begin() + std::ptrdiff_t(Present);
    return Present == Other.Present && std::equal(Tones.begin(), Own, Other.Tones.begin());
}

bool TToneAnalysis::MayHold(const TToneSet& Set, TSignalMode Mode)
{
    if (Set.Register != FRegisterId || Set.Mode != Mode)
        return MayHoldLookedUp(Set, Mode);
    // A set bound to the register reads its tones by place: the step of every command sample
    // on every block comes here, and most end here.
    const uint16_t* Slot = Set.Slots.data();
    const uint16_t* const Others = Slot + Set.Present;
    const uint16_t* const End = Slot + Set.Slots.size();
    if (Slot == Others)
        return false;
    double Weakest = RegisteredPower(*Slot);
    if (Weakest < Set.MinPower)
        return false;
    while (++Slot != Others) {
        const double Power = RegisteredPower(*Slot);
        if (Power < Set.MinPower)
            return false;
        Weakest = std::min(Weakest, Power);
    }
    const double Rivals = Set.LooseRival * Weakest;
    for (; Slot != End; ++Slot)
        if (RegisteredPower(*Slot) > Rivals)
            return false;
    return true;
}

bool TToneAnalysis::MayHoldLookedUp(const TToneSet& Set, TSignalMode Mode)
{
    if (Set.Present == 0)
        return false;
    double Weakest = 0;
    for (size_t I = 0; I < Set.Present; ++I) {
        const double Power = TonePower(Mode, Set, I);
        if (Power < Set.MinPower)
            return false;
        Weakest = I == 0 ? Power : std::min(Weakest, Power);
    }
    for (size_t I = Set.Present; I < Set.Tones.size(); ++I)
        if (TonePower(Mode, Set, I) > Set.LooseRival * Weakest)
            return false;
    return true;
}

TToneSetMeasure MeasureToneSet(const TToneSet& Set, TSignalMode Mode, TToneAnalysis& Analysis, TToneSetNeed Need)
{
    // Most blocks hold no tone set: the floor and the share, from measures every slice of the
    // block shares, turn them away before anything of the set's own is worked out.
    TToneSetMeasure Result;
    const TToneSetLimits& Limits = LimitsFor(Set.Sense);
    const size_t Own = Set.Present, All = Set.Tones.size();
    // The set's tones, lobe by lobe or (Resolving) each told apart from a steady partial
    // beside it, whose power is then no part of the band the set has to fill.
    bool Resolving = false, Resolved = false;
    const auto LevelOf = [&](size_t I, double& Beside) {
        const TToneSet::TTone& Tone = Set.Tones[I];
        const TToneLevel Level = Analysis.Tone(Mode, Set, I);
        if (!Resolving)
            return Level;
        const TResolvedTone Apart = Analysis.Resolve(Mode, Tone.Frequency, Tone.Within);
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
        for (size_t I = 0; I < Own; ++I) {
            // (Lobe by lobe only the power is asked for: the frequencies follow once the set
            // has passed the rules on powers.)
            const TToneLevel Level = Resolving ? LevelOf(I, Beside) : TToneLevel{Analysis.TonePower(Mode, Set, I)};
            SetPower += Level.Power;
            Result.Weakest = Result.Tones == 0 ? Level.Power : std::min(Result.Weakest, Level.Power);
            Strongest = std::max(Strongest, Level.Power);
            if (Result.Tones < Result.Frequencies.size())
                Result.Frequencies[Result.Tones] = Level.Frequency;
            ++Result.Tones;
            // A tone below the floor ends the set at once (the rest is not measured).
            if (Level.Power < Limits.MinPower)
                return;
        }
    };
    Gather();
    if (Result.Tones == 0 || Result.Weakest < Limits.MinPower)
        return Result;
    const int32_t Lo = Set.Lo;
    const double Band = Analysis.BandPower(Mode, Lo, Set.Hi);
    Result.Share = Band > 0 ? std::min(SetPower / Band, 1.0) : 0;
    if (Result.Share < Limits.LooseShare)
        return Result;
    // The rivals and the band below are measured lobe by lobe, whatever lies beside each
    // frequency included: they are held against the set's weaker tone measured alike. What
    // no resolving changes comes first: most blocks of speech and music that get this far
    // end here, before anything costly is worked out.
    const double Against = Result.Weakest;
    const double Below = Analysis.BandPower(Mode, FundamentalsFrom, Lo);
    if (Below > Limits.MaxBelowAlone * Against)
        return Result;
    for (size_t I = Own; I < All; ++I)
        if (Analysis.TonePower(Mode, Set, I) > Limits.LooseRival * Against)
            return Result;

    // The rules on the set's tones as gathered; Result keeps the measures, the grade is returned.
    const auto Judge = [&]() -> TToneSetMeasure::TGrade {
        if (Result.Weakest < Limits.MinPower)
            return TToneSetMeasure::Absent;
        Result.Share = std::min(SetPower / std::max(Band - Beside, SetPower), 1.0);
        if (Result.Share < Limits.LooseShare)
            return TToneSetMeasure::Absent;
        if (Result.Tones == 2 && Strongest > Limits.MaxTwist * Result.Weakest)
            return TToneSetMeasure::Absent;
        // Each tone within its tolerance, and all of them off alike: a sender's tones come
        // from one clock.
        double WorstSpread = 0;
        double LeastDeviation = 1, MostDeviation = -1;
        for (size_t I = 0; I < Own; ++I) {
            const TToneSet::TTone& Tone = Set.Tones[I];
            double Unused = 0;
            const TToneLevel Level = LevelOf(I, Unused);
            if (std::abs(Level.Frequency - Tone.Frequency) > Tone.Within)
                return TToneSetMeasure::Absent;
            const double Deviation = Level.Frequency / Tone.Frequency - 1;
            LeastDeviation = std::min(LeastDeviation, Deviation);
            MostDeviation = std::max(MostDeviation, Deviation);
            WorstSpread = std::max(WorstSpread, Level.Spread);
        }
        if (MostDeviation - LeastDeviation > MaxSkew)
            return TToneSetMeasure::Absent;
        // Speech and music reach the band of the tones with harmonics, and carry most of
        // their energy in the fundamentals and lower harmonics below it; a sender's tones
        // have nothing there. A set of steady tones alone in its band (every other tone of
        // the table far below, as worked out next) may sound over a louder bed; unless its
        // tones are harmonics of the sound below the band: then it is a voice.
        const bool QuietBelow = Below <= Limits.MaxBelow * Against;
        if (!QuietBelow && (Result.Share < AloneShare || WorstSpread > AloneSpread))
            return TToneSetMeasure::Absent;
        double Rival = 0;
        const double SetDeviation = (LeastDeviation + MostDeviation) / 2;
        for (size_t I = Own; I < All; ++I) {
            const TToneSet::TTone& Tone = Set.Tones[I];
            const TToneLevel Other = Analysis.Tone(Mode, Set, I);
            // A steady tone at a rival's frequency is taken for another key of the same
            // sender and kept well below the set; unless the set's tones lie close to their
            // frequencies and the rival is off its own otherwise: then it is a note of a
            // programme bed tuned its own way, which only has to stay below the set, as a
            // bed's passing harmonics do. (The notes of a chord lie up to 1.8 % from the
            // table's tones: a chord taken for a set seldom lies close to them.)
            const double OtherDeviation = Other.Frequency / Tone.Frequency - 1;
            const bool SameSender = Other.Spread <= SteadySpread
                                    && (std::abs(SetDeviation) > CloseToFrequency
                                        || std::abs(OtherDeviation - SetDeviation) <= SameSenderSkew);
            Rival = std::max(Rival, Other.Power);
            if (SameSender && Other.Power > Limits.CleanRival * Against)
                return TToneSetMeasure::Absent;
        }
        if (!QuietBelow && Rival > AloneRival * Against)
            return TToneSetMeasure::Absent;
        if (Result.Tones >= 2 && Result.Tones <= Result.Frequencies.size()
            && HarmonicsOfOneVoice(Analysis, Mode, Result, Lo, Below))
            return TToneSetMeasure::Absent;
        // A set told apart from the bed is held only when the next block confirms it.
        const bool Clean = !Resolved && Result.Share >= Limits.CleanShare && WorstSpread <= Limits.CleanSpread
                           && Rival <= Limits.CleanRival * Against;
        return Clean ? TToneSetMeasure::Clean : TToneSetMeasure::Loose;
    };
    // A tone may be merged with a steady partial of the bed beside it, closer than the
    // window tells apart (a wide lobe, a peak pulled off its frequency). One merged tone is
    // enough to look at all of them: the partial beside one pulls its peak over, beside the
    // other it may only lean it.
    for (size_t I = 0; I < Own; ++I) {
        const TToneSet::TTone& Tone = Set.Tones[I];
        const TToneLevel Level = Analysis.Tone(Mode, Set, I);
        if (I < Result.Frequencies.size())
            Result.Frequencies[I] = Level.Frequency;
        Resolving = Resolving || Level.Spread > Limits.CleanSpread
                    || std::abs(Level.Frequency - Tone.Frequency) > SameFrequency * Tone.Frequency;
    }
    if (Resolving && Need == TToneSetNeed::Grade && Below > Limits.MaxBelow * Against) {
        // Without a quiet band below, only a set alone in its band holds: every other tone of
        // the table far below its weaker tone, measured lobe by lobe as here, whatever telling
        // the tones apart from the partials beside them finds. The grade needs no more.
        for (size_t I = Own; I < All; ++I)
            if (Analysis.TonePower(Mode, Set, I) > AloneRival * Against) {
                Result.Whole = false;
                return Result;
            }
    }
    if (Resolving) {
        const TToneSetMeasure Merged = Result;
        Gather();
        if (!Resolved)
            Result = Merged;
    }
    Result.Grade = Judge();
    return Result;
}

const TToneSet& TAudioSequence::ToneSetOf(int32_t Index, TToneAnalysis& Analysis)
{
    TToneSetOf& Entry = FToneSets[size_t(Index)];
    const TAudioSample& Slice = Samples[Index];
    if (Entry.Of != Slice.Peaks.Changes()) {
        Entry.Set.Assign(Slice);
        Entry.Of = Slice.Peaks.Changes();
    }
    Analysis.Bind(Entry.Set, Channel);
    return Entry.Set;
}

void TAudioSequence::MatchTonesOnward(TToneAnalysis& Analysis, TDateTime Now)
{
    if (FFound)
        return;
    if (FCurrent < 0 && !Samples.Empty())
        FCurrent = 0;
    if (FCurrent < 0)
        return;
    if (FToneSets.size() != size_t(Samples.Count())) {
        // Every slice's set is read at the first step, so that later steps allocate nothing.
        FToneSets.resize(size_t(Samples.Count()));
        for (int32_t Index = 0; Index < Samples.Count(); ++Index)
            ToneSetOf(Index, Analysis);
        FToneSetsRead = Samples.Count();
    }
    // What the block before found of the slice awaited then; only the very next block may
    // confirm it.
    const int32_t Loose = FLoose;
    FLoose = -1;

    // One press is one symbol: the set matched last is held until it has clearly ended.
    if (FHeld >= 0) {
        const TToneSet& Held = ToneSetOf(FHeld, Analysis);
        // (A set below the floor has no share worked out: it has ended anyway.)
        const TToneSetMeasure Still = Analysis.ToneSet(Channel, Held);
        if (Still.Weakest < ReleaseFall * FHeldPower || Still.Share < ReleaseShare * LimitsFor(Held.Sense).LooseShare)
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

    const TToneSet& Awaited = ToneSetOf(FCurrent, Analysis);
    if (FHeld >= 0 && ToneSetOf(FHeld, Analysis).SameTones(Awaited))
        return;  // the same tones still sounding are the same press
    if (!Analysis.MayHold(Awaited, Channel))
        return;
    const TToneSetMeasure Measure = Analysis.ToneSet(Channel, Awaited, TToneSetNeed::Grade);
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
    TAudioSample& Slice = Samples[FCurrent];
    Slice.FMatched = true;
    Slice.FMatchStart = Now;
    FHeld = FCurrent;
    FHeldPower = Measure.Weakest;
    Advance();
}
