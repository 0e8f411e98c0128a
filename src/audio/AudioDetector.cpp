#include "audio/AudioDetector.h"

#include <cmath>
#include <limits>

namespace {

// Round to nearest, ties to even (the default floating-point rounding), saturating.
int32_t RoundToInt32(double Value)
{
    return TruncToInt32(std::nearbyint(Value));
}

int32_t SaturatedInt32(int64_t Value)
{
    return static_cast<int32_t>(std::clamp<int64_t>(Value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

const TSpectrumData NoSpectrum;

}  // namespace

double MillisecondsBetween(TDateTime Start, TDateTime Now)
{
    const double Ms = (Now - Start) * MSecsPerDay;
    return std::round(Ms * 100.0) / 100.0;
}

TDateTime IncMilliseconds(TDateTime Value, double Ms)
{
    return Value + Ms / MSecsPerDay;
}

bool ValidFFTCount(int32_t Count)
{
    return Count >= 1024 && Count <= 8192 && (Count & (Count - 1)) == 0;
}

// ---- Peaks ----

void TFreqDataList::SortAscending()
{
    Changed();
    std::sort(FItems.begin(), FItems.end(),
              [](const auto& A, const auto& B) { return A->RefLevel < B->RefLevel; });
}

void TFreqDataList::SortDescending()
{
    Changed();
    std::sort(FItems.begin(), FItems.end(),
              [](const auto& A, const auto& B) { return A->RefLevel > B->RefLevel; });
}

namespace {

// Bins First..Last-1 of the band Lo..Hi Hz in a spectrum of Len bins: the bin holding Hi is
// not part of the band, nor is any bin the spectrum does not have. Empty: Last = First.
struct TBins {
    int32_t First = 0;
    int32_t Last = 0;
};

TBins BandBins(int32_t Lo, int32_t Hi, int32_t Len, int32_t FrameRate)
{
    const int32_t First = std::max(BinOf(Lo, Len, FrameRate), 0);
    return {First, std::max(std::min(BinOf(Hi, Len, FrameRate), Len), First)};
}

// A spectrum's bin count as the bin arithmetic takes it.
int32_t BinCount(size_t Len)
{
    return static_cast<int32_t>(std::min<size_t>(Len, std::numeric_limits<int32_t>::max()));
}

// The band level of Bins in a spectrum: the largest magnitude (present), the smallest
// (absent); 0 for an empty band.
inline int32_t LevelOfBins(const int32_t* Spectrum, TBins Bins, TFreqKind Kind)
{
    if (Bins.Last <= Bins.First)
        return 0;
    int32_t Level = Spectrum[Bins.First];
    if (Kind == fkPresent)
        for (int32_t K = Bins.First + 1; K < Bins.Last; ++K)
            Level = std::max(Level, Spectrum[K]);
    else
        for (int32_t K = Bins.First + 1; K < Bins.Last; ++K)
            Level = std::min(Level, Spectrum[K]);
    return Level;
}

}  // namespace

namespace {

// The two sources of band levels a view shows, each read in loops of their own: a long list
// of clips measures thousands of bands a block in a magnitude spectrum.
struct TMagnitudeLevels {
    const int32_t* Magnitudes;
    size_t Bins;
    size_t Size() const { return Bins; }
    int32_t Level(int32_t First, int32_t Last, TFreqKind Kind) const { return LevelOfBins(Magnitudes, {First, Last}, Kind); }
};
struct TTransformLevels {
    const TSpectrumLevels& View;
    size_t Size() const { return View.Size(); }
    int32_t Level(int32_t First, int32_t Last, TFreqKind Kind) const { return View.Level(First, Last, Kind); }
};

// Body called with the source of levels Spectrum shows.
template <typename TBody>
decltype(auto) WithLevels(const TSpectrumLevels& Spectrum, TBody&& Body)
{
    if (const int32_t* Magnitudes = Spectrum.Magnitudes())
        return Body(TMagnitudeLevels{Magnitudes, Spectrum.Size()});
    return Body(TTransformLevels{Spectrum});
}

}  // namespace

TSpectrumLevels::TSpectrumLevels(const TAudioFFT& Analyser, TSignalMode Mode) : FAnalyser(&Analyser), FMode(Mode)
{
    const size_t Transform = Analyser.ComplexSpectrumOf(Mode).size();  // N div 2 + 1 bins
    FSize = Transform > 0 ? Transform - 1 : 0;
}

int32_t TSpectrumLevels::Level(int32_t First, int32_t Last, TFreqKind Kind) const
{
    if (FSpectrum != nullptr)
        return LevelOfBins(FSpectrum->data(), {First, Last}, Kind);
    return Last <= First ? 0 : FAnalyser->BandMagnitude(FMode, First, Last, Kind == fkPresent);
}

int32_t BandLevel(int32_t Lo, int32_t Hi, TFreqKind Kind, const TSpectrumData& Spectrum, int32_t FrameRate)
{
    if (Kind != fkPresent && Kind != fkAbsent)
        return 0;
    return LevelOfBins(Spectrum.data(), BandBins(Lo, Hi, BinCount(Spectrum.size()), FrameRate), Kind);
}

TPeakBand PeakBand(const TFreqData& Peak)
{
    return {SaturatedInt32(int64_t(Peak.Frequency) - Peak.Tolerance), SaturatedInt32(int64_t(Peak.Frequency) + Peak.Tolerance)};
}

// ---- Slices ----

void TAudioSample::Reset()
{
    FMatchStart = 0;
    FMatched = false;
    // Measured is the peaks' output, not part of what the checks are made from.
    for (const auto& Peak : Peaks.FItems)
        Peak->Measured = 0;
}

int32_t TAudioSample::Elapsed(TDateTime Now) const
{
    if (FMatchStart == 0)
        return 0;
    return RoundToInt32(MillisecondsBetween(FMatchStart, Now));
}

namespace {

// A fit above every real one: a slice without presence peaks fits every block alike.
constexpr double NoPresencePeaks = 1e9;
// Presence peaks weaker than a quarter of the slice's strongest are mostly leakage of the
// strong ones; their level depends on where notes change within a block, not on how much of
// the slice the block holds, so they do not place the slice.
constexpr int32_t FaintPeakRatio = 4;
// How much better one of two neighbouring blocks must fit a slice to take it from the block
// at the slice's due place; closer than this, the two differ by noise only.
constexpr double ClearlyBetter = 1.25;

}  // namespace

const std::vector<TAudioSample::TPeakCheck>& TAudioSample::MakeChecks(size_t Len, int32_t FrameRate) const
{
    FChecks.clear();
    FChecks.reserve(size_t(Peaks.Count()));
    int32_t Strongest = 0;
    for (const auto& Peak : Peaks.FItems)
        if (Peak->Frequency > 0 && Peak->Kind == fkPresent)
            Strongest = std::max(Strongest, Peak->RefLevel);
    const int32_t Bins = BinCount(Len);
    for (const auto& Peak : Peaks.FItems) {
        if (Peak->Frequency <= 0)
            continue;  // never measured
        TPeakCheck Check;
        Check.Kind = Peak->Kind;
        Check.Peak = Peak.get();
        // The band as BandLevel reads it; a kind other than present and absent reads nothing
        // and neither satisfies nor fails.
        if (Peak->Kind == fkPresent || Peak->Kind == fkAbsent) {
            const TPeakBand Band = PeakBand(*Peak);
            const TBins Read = BandBins(Band.Lo, Band.Hi, Bins, FrameRate);
            Check.First = Read.First;
            Check.Last = Read.Last;
        }
        // The thresholds are formed in floating point and truncated.
        if (Peak->Kind == fkPresent)
            Check.Threshold = TruncToInt32((1.0 - Peak->Sense / 100.0) * Peak->RefLevel);
        else if (Peak->Kind == fkAbsent)
            Check.Threshold = TruncToInt32((1.0 + Peak->Sense / 100.0) * Peak->RefLevel);
        Check.Places = Peak->Kind == fkPresent && Strongest > 0 && int64_t(Peak->RefLevel) * FaintPeakRatio >= Strongest;
        FChecks.push_back(Check);
    }
    FChecksLen = Len;
    FChecksRate = FrameRate;
    FChecksOf = Peaks.Changes();
    return FChecks;
}

double TAudioSample::FitOf(const TSpectrumLevels& Spectrum, int32_t FrameRate) const
{
    return WithLevels(Spectrum, [&](const auto& Levels) { return FitWith(Levels, FrameRate); });
}

template <typename TLevels>
double TAudioSample::FitWith(const TLevels& Levels, int32_t FrameRate) const
{
    double Fit = NoPresencePeaks;
    for (const TPeakCheck& Check : ChecksFor(Levels.Size(), FrameRate))
        if (Check.Places)
            Fit = std::min(Fit, double(Levels.Level(Check.First, Check.Last, fkPresent)) / Check.Peak->RefLevel);
    return Fit;
}

bool TAudioSample::Evaluate(const TSpectrumLevels& Spectrum, int32_t FrameRate, TDateTime Now)
{
    return WithLevels(Spectrum, [&](const auto& Levels) { return EvaluateWith(Levels, FrameRate, Now); });
}

template <typename TLevels>
bool TAudioSample::EvaluateWith(const TLevels& Levels, int32_t FrameRate, TDateTime Now)
{
    bool Satisfied = true;
    // Every peak is measured, also after one has failed: Measured shows the whole slice.
    for (const TPeakCheck& Check : ChecksFor(Levels.Size(), FrameRate)) {
        const int32_t Level = Levels.Level(Check.First, Check.Last, Check.Kind);
        Check.Peak->Measured = Level;
        if (Check.Kind == fkPresent)
            Satisfied = Level >= Check.Threshold && Satisfied;
        else if (Check.Kind == fkAbsent)
            Satisfied = Level <= Check.Threshold && Satisfied;
    }
    FMatched = Satisfied;
    if (!Satisfied)
        FMatchStart = 0;
    else if (FMatchStart == 0)
        FMatchStart = Now;
    return Satisfied;
}

// ---- Sequences ----

void TAudioSequence::Reset()
{
    FStartTime = 0;
    FFound = false;
    FCurrent = -1;
    FPrevious = -1;
    FCurrentMissed = false;
    FPlacedEarly = false;
    FLoose = -1;
    FLandmarkDue = false;
    FLandmarkProgress = 0;
    FEpisode = false;
    FNextReminder = 0;
    ++FResets;
    for (TAudioSample& Sample : Samples)
        Sample.Reset();
}

int32_t TAudioSequence::Elapsed(TDateTime Now) const
{
    switch (Kind) {
    case skSpectral:
        return Samples.Empty() ? 0 : Samples[0].Elapsed(Now);
    case skSilence:
    case skSignal:
    case skLandmark:
        return FStartTime == 0 ? 0 : TruncToInt32(MillisecondsBetween(FStartTime, Now));
    }
    return 0;
}

int32_t TAudioSequence::Progress(TDateTime Now) const
{
    // Percentages are formed as (part * 100) / whole in floating point, which is exact for
    // whole parts, where part / whole * 100 would read 56.99... for 57 of 100.
    double Percent = 0;
    switch (Kind) {
    case skSpectral:
        if (FCurrent < 0 || Samples.Empty())
            return 0;
        Percent = (FCurrent + (Samples[FCurrent].Matched() ? 1.0 : 0.0)) * 100.0 / Samples.Count();
        break;
    case skSilence:
    case skSignal: {
        if (FStartTime == 0)
            return 0;
        // Without a duration the target is reached as soon as the condition holds.
        if (Duration <= 0)
            return 100;
        const int32_t Held = Elapsed(Now);
        if (Held == 0)
            return 0;
        Percent = Held * 100.0 / Duration;
        break;
    }
    case skLandmark:
        return FFound ? 100 : std::clamp(FLandmarkProgress, 0, 100);
    default:
        return 0;
    }
    return std::clamp(TruncToInt32(Percent), 0, 100);
}

void TAudioSequence::Match(const TSpectrumLevels& Spectrum, int32_t FrameRate, TDateTime Now)
{
    WithLevels(Spectrum, [&](const auto& Levels) { MatchWith(Levels, FrameRate, Now); });
}

template <typename TLevels>
void TAudioSequence::MatchWith(const TLevels& Spectrum, int32_t FrameRate, TDateTime Now)
{
    if (FFound)
        return;
    if (FCurrent < 0 && !Samples.Empty())
        FCurrent = 0;
    if (FCurrent < 0)
        return;

    if (TAudioSample& Pending = Samples[FCurrent]; Pending.Matched()) {
        // A clip's slice matched on the block before this one. Its audio lies across both
        // blocks; it belongs to the one that clearly holds more of it, or else to the one at
        // its due place: two blocks after the slice before, which is this later block when
        // the slice matched on the very first block it was tried on (one block early), and
        // the earlier block when that had been a retry. So a steady sound advances exactly
        // one slice per two blocks, and a change of sound pulls the match back onto the
        // audio in either direction. Taking the early block moves the match back by a block,
        // which mends a match that had fallen behind; twice in a row it would run ahead of
        // the audio, so after one early placement the next slice goes to its due block.
        const double Fit = Pending.FitWith(Spectrum, FrameRate);
        const bool Later = FCurrentMissed ? Fit > ClearlyBetter * Pending.FMatchFit
                                          : FPlacedEarly || Fit * ClearlyBetter >= Pending.FMatchFit;
        FPlacedEarly = !Later && !FCurrentMissed;
        if (Later) {
            Pending.FMatchStart = Now;
            Pending.FMatchFit = Fit;
            Advance();
            return;  // the next slice's audio is mostly in the block after this one
        }
        // The slice lies mostly in the block before, so this block holds mostly the next
        // slice's audio: it is tried here.
        Advance();
        if (FFound)
            return;
    }

    if (FPrevious >= 0) {
        const TAudioSample& Last = Samples[FPrevious];
        if (Last.MaxGap != 0 && Last.Elapsed(Now) > Last.MaxGap) {
            // Too late for the next slice: start over, from the next block on.
            Reset();
            return;
        }
        if (Last.MinGap > 0 && Last.Elapsed(Now) < Last.MinGap)
            return;  // the audio of the next slice has not arrived yet
    }

    TAudioSample& Slice = Samples[FCurrent];
    if (!Slice.EvaluateWith(Spectrum, FrameRate, Now)) {
        FCurrentMissed = true;
        return;
    }
    if (Slice.MinGap > 0) {
        Slice.FMatchFit = Slice.FitWith(Spectrum, FrameRate);
        return;  // placed on the next block
    }
    Advance();
}

void TAudioSequence::Prepare(size_t Bins, int32_t FrameRate)
{
    for (const TAudioSample& Slice : Samples)
        Slice.ChecksFor(Bins, FrameRate);
}

void TAudioSequence::Advance()
{
    FCurrentMissed = false;
    FPrevious = FCurrent;
    if (FCurrent == Samples.Count() - 1)
        FFound = true;
    else
        ++FCurrent;
}

namespace {

// Whether the louder of both channels holds a level detector's condition.
bool LevelHolds(const TAudioSequence& Sequence, double LeftdB, double RightdB)
{
    const double Louder = LeftdB > RightdB ? LeftdB : RightdB;
    return (Sequence.Kind == skSilence && Louder <= Sequence.Level)
           || (Sequence.Kind == skSignal && Louder >= Sequence.Level);
}

// The levels of both channels in dB, in the measure a level detector takes of the block.
struct TChannelLevels {
    double Left, Right;
};
TChannelLevels LevelsFor(const TAudioSequence& Sequence, const TStepInput& Input)
{
    if (Sequence.LevelMeasure == lmRms)
        return {Input.LeftRmsdB, Input.RightRmsdB};
    return {Input.LeftVolumedB, Input.RightVolumedB};
}

}  // namespace

void StepLevel(TAudioSequence& Sequence, double LeftVolumedB, double RightVolumedB, TDateTime Now)
{
    if (!LevelHolds(Sequence, LeftVolumedB, RightVolumedB)) {
        Sequence.FStartTime = 0;
    } else if (Sequence.FStartTime == 0) {
        Sequence.FStartTime = Now;
    } else if (Sequence.Elapsed(Now) > Sequence.Duration) {
        Sequence.FFound = true;
        if (Sequence.AlarmOnce) {
            Sequence.FEpisode = true;
            Sequence.FNextReminder = IncMilliseconds(Now, Sequence.RemindInterval);
        }
    }
}

void TAudioSequence::StepEpisode(bool Holds, TDateTime Now)
{
    if (!Holds) {
        // The first block without the condition: the episode lasted up to it.
        FAlarmChange = acEnded;
        FAlarmLasted = Elapsed(Now);
        FEpisode = false;
        if (!Hold)
            Reset();
        return;
    }
    if (RemindInterval > 0 && MillisecondsBetween(FNextReminder, Now) >= 0) {
        FAlarmChange = acReminder;
        FAlarmLasted = Elapsed(Now);
        // The next one RemindInterval after this one was due, so reminders keep their pace.
        FNextReminder = IncMilliseconds(FNextReminder, RemindInterval);
    }
}

bool StepSequence(TAudioSequence& Sequence, const TStepInput& Input)
{
    Sequence.FAlarmChange = acNone;
    if (Sequence.Found()) {
        if (Sequence.FEpisode) {
            const TChannelLevels Levels = LevelsFor(Sequence, Input);
            Sequence.StepEpisode(LevelHolds(Sequence, Levels.Left, Levels.Right), Input.Now);
        } else if (!Sequence.Hold) {
            Sequence.Reset();
        }
        return false;
    }

    switch (Sequence.Kind) {
    case skSpectral:
        if (Sequence.Method == mmToneSet) {
            if (Input.Tones) {
                Input.Tones->Use(Input.Analyser, Input.FrameRate);
                Sequence.MatchTones(*Input.Tones, Input.Now);
            } else {
                TToneAnalysis Own;
                Own.Use(Input.Analyser, Input.FrameRate);
                Sequence.MatchTones(Own, Input.Now);
            }
        } else {
            // The magnitudes of the channel where the analyser computed them, else the band
            // levels straight from its transform (the engine's choice: see UpdateChannels).
            const TSpectrumData& Magnitudes = Input.Analyser ? Input.Analyser->SpectrumOf(Sequence.Channel) : NoSpectrum;
            Sequence.Match(Magnitudes.empty() && Input.Analyser ? TSpectrumLevels(*Input.Analyser, Sequence.Channel)
                                                                 : TSpectrumLevels(Magnitudes),
                           Input.FrameRate, Input.Now);
        }
        break;
    case skSilence:
    case skSignal: {
        const TChannelLevels Levels = LevelsFor(Sequence, Input);
        StepLevel(Sequence, Levels.Left, Levels.Right, Input.Now);
        break;
    }
    case skLandmark:
        // The engine's landmark matcher has seen this block already.
        Sequence.FFound = Sequence.FLandmarkDue;
        Sequence.FLandmarkDue = false;
        break;
    default:
        return false;
    }
    return Sequence.Found();
}

bool SameTarget(const TAudioSequence& A, const TAudioSequence& B)
{
    if (A.Kind != B.Kind || A.Method != B.Method || A.Channel != B.Channel || A.Level != B.Level
        || A.Duration != B.Duration || A.Hold != B.Hold || A.Number != B.Number || A.Landmarks != B.Landmarks
        || A.LevelMeasure != B.LevelMeasure || A.AlarmOnce != B.AlarmOnce || A.RemindInterval != B.RemindInterval
        || A.Samples.Count() != B.Samples.Count())
        return false;
    for (int32_t I = 0; I < A.Samples.Count(); ++I) {
        const TAudioSample& SliceA = A.Samples[I];
        const TAudioSample& SliceB = B.Samples[I];
        if (SliceA.MaxGap != SliceB.MaxGap || SliceA.MinGap != SliceB.MinGap
            || SliceA.Peaks.Count() != SliceB.Peaks.Count())
            return false;
        for (int32_t P = 0; P < SliceA.Peaks.Count(); ++P) {
            const TFreqData& PeakA = SliceA.Peaks.Items(P);
            const TFreqData& PeakB = SliceB.Peaks.Items(P);
            if (PeakA.Frequency != PeakB.Frequency || PeakA.Tolerance != PeakB.Tolerance
                || PeakA.RefLevel != PeakB.RefLevel || PeakA.Kind != PeakB.Kind || PeakA.Sense != PeakB.Sense)
                return false;
        }
    }
    return true;
}
