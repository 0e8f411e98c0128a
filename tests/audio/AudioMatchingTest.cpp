// How sequences advance through analysed blocks: band levels, slice evaluation, spectral
// matching with its gaps, level detectors and the per-block step that reports detections.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "helpers/TestFiles.h"
#include "helpers/Sequences.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <utility>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
const TDateTime T0 = 46000.5;
// One captured buffer is half an analysis block: 1024 of 2048 frames.
const double BufferMs = 1024 * 1000.0 / Rate;

TDateTime At(double Ms)
{
    return IncMilliseconds(T0, Ms);
}

using testkit::AddPeak;

// ---- Band levels ----

TEST(BandLevel, ThousandHertzPlusMinusFiftyIsBins44To47)
{
    TSpectrumData Spectrum(1024, 0);
    Spectrum[43] = 900;  // below the band
    Spectrum[44] = 100;
    Spectrum[45] = 200;
    Spectrum[46] = 250;
    Spectrum[47] = 300;
    Spectrum[48] = 800;  // the bin holding 1050 Hz is not part of the band
    EXPECT_EQ(BandLevel(950, 1050, fkPresent, Spectrum, Rate), 300);
    EXPECT_EQ(BandLevel(950, 1050, fkAbsent, Spectrum, Rate), 100);
}

TEST(BandLevel, Cases)
{
    TSpectrumData Spectrum(1024, 0);
    Spectrum[44] = 400;
    Spectrum[45] = 20;
    Spectrum[46] = 400;
    Spectrum[47] = 400;
    Spectrum[0] = 55;
    Spectrum[1] = 66;
    for (size_t K = 1003; K < 1024; ++K)
        Spectrum[K] = 500;
    Spectrum[1010] = 1234;
    Spectrum[1023] = 777;
    struct TCase {
        const char* Name;
        int32_t Lo, Hi;
        TFreqKind Kind;
        int32_t Expected;
    };
    const TCase Cases[] = {
        {"absence measures the quietest bin", 950, 1050, fkAbsent, 20},
        {"presence measures the loudest bin", 950, 1050, fkPresent, 400},
        {"a band of zeros is 0", 5000, 5100, fkPresent, 0},
        {"no bin between the edges", 1000, 1000, fkPresent, 0},
        {"edges the wrong way round", 1050, 950, fkPresent, 0},
        {"unknown kind", 950, 1050, static_cast<TFreqKind>(2), 0},
        {"bins below 0 are not part of it", -40, 60, fkPresent, 66},
        {"only the bins the spectrum has", 21600, 22200, fkPresent, 1234},
        {"quietest of the bins the spectrum has", 21900, 22200, fkAbsent, 500},
        {"entirely beyond the spectrum", 22950, 23050, fkPresent, 0},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        EXPECT_EQ(BandLevel(C.Lo, C.Hi, C.Kind, Spectrum, Rate), C.Expected);
    }
}

TEST(BandLevel, EmptySpectrumMeasuresZero)
{
    EXPECT_EQ(BandLevel(950, 1050, fkPresent, TSpectrumData{}, Rate), 0);
    EXPECT_EQ(BandLevel(950, 1050, fkAbsent, TSpectrumData{}, Rate), 0);
}

// ---- Slice evaluation ----

TEST(AudioSample, ThresholdsAreFormedInFloatingPointAndTruncated)
{
    struct TCase {
        TFreqKind Kind;
        int32_t RefLevel, Sense, Measured;
        bool Satisfied;
    };
    const TCase Cases[] = {
        {fkPresent, 2500, 50, 1250, true},   {fkPresent, 2500, 50, 1249, false},
        {fkPresent, 2500, 0, 2500, true},    {fkPresent, 2500, 0, 2499, false},
        {fkPresent, 2500, 100, 0, true},     {fkPresent, 2500, 150, 0, true},
        {fkPresent, 1000, 33, 669, true},    // (1 - 0.33) * 1000 is 669.99... in floating point
        {fkAbsent, 100, 50, 150, true},      {fkAbsent, 100, 50, 151, false},
        {fkAbsent, 100, 0, 100, true},       {fkAbsent, 100, 0, 101, false},
        {fkAbsent, 100, 57, 157, false},     // 1.57 * 100 is 156.99...
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(testing::Message() << "kind " << int(C.Kind) << " ref " << C.RefLevel << " sense " << C.Sense
                                        << " measured " << C.Measured);
        TAudioSample Slice;
        AddPeak(Slice, 1000, 50, C.RefLevel, C.Sense, C.Kind);
        const TSpectrumData Spectrum(1024, C.Measured);
        EXPECT_EQ(Slice.Evaluate(Spectrum, Rate, T0), C.Satisfied);
        EXPECT_EQ(Slice.Peaks.Items(0).Measured, C.Measured);
    }
}

TEST(AudioSample, EveryPeakIsMeasuredEvenAfterOneFailed)
{
    TAudioSample Slice;
    AddPeak(Slice, 1000, 50, 5000, 0);  // fails
    AddPeak(Slice, 2000, 50, 100, 0);
    AddPeak(Slice, 3000, 50, 100, 0, static_cast<TFreqKind>(9));  // neither satisfies nor fails
    AddPeak(Slice, 0, 50, 100, 0);  // skipped: no frequency
    const TSpectrumData Spectrum(1024, 300);
    EXPECT_FALSE(Slice.Evaluate(Spectrum, Rate, T0));
    EXPECT_EQ(Slice.Peaks.Items(0).Measured, 300);
    EXPECT_EQ(Slice.Peaks.Items(1).Measured, 300);
    EXPECT_EQ(Slice.Peaks.Items(2).Measured, 0);  // unknown kind measures 0
    EXPECT_EQ(Slice.Peaks.Items(3).Measured, 0);

    Slice.Peaks.Delete(0);
    EXPECT_TRUE(Slice.Evaluate(Spectrum, Rate, T0));
}

// A slice keeps what it works out from its peaks between blocks; any change of a peak, of
// the list or of the spectrum's size is seen by the next evaluation, as if it were the first.
TEST(AudioSample, ChangesOfThePeaksAreSeenByTheNextEvaluation)
{
    struct TCase {
        const char* Name;
        std::function<void(TAudioSample&)> Change;
        bool Before, After;
        int32_t MeasuredAfter;  // of the first peak
    };
    // Bins 44..47 (1000 +- 50 Hz in 1024 bins) read 300, every other bin 10.
    const auto Spectrum = [](size_t Bins) {
        TSpectrumData Result(Bins, 10);
        for (size_t K = Bins * 44 / 1024; K < Bins * 48 / 1024; ++K)
            Result[K] = 300;
        return Result;
    };
    const TCase Cases[] = {
        {"sense through Items", [](TAudioSample& S) { S.Peaks.Items(0).Sense = 50; }, false, true, 300},
        {"reference through iteration", [](TAudioSample& S) { for (TFreqData& P : S.Peaks) P.RefLevel = 300; }, false, true, 300},
        {"frequency through Last", [](TAudioSample& S) { S.Peaks.Last()->Frequency = 3000; }, false, false, 10},
        {"kind", [](TAudioSample& S) { S.Peaks.Items(0).Kind = fkAbsent; }, false, true, 300},
        {"tolerance", [](TAudioSample& S) { S.Peaks.Items(0).Tolerance = 0; }, false, false, 0},
        {"peak deleted", [](TAudioSample& S) { S.Peaks.Delete(0); }, false, true, 0},
        {"peak added", [](TAudioSample& S) { AddPeak(S, 1000, 50, 301, 0, fkAbsent); }, false, false, 300},
        {"peaks cleared", [](TAudioSample& S) { S.Peaks.Clear(); }, false, true, 0},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioSample Slice;
        AddPeak(Slice, 1000, 50, 400, 10);  // needs 360, reads 300
        const TSpectrumData Bins = Spectrum(1024);
        EXPECT_EQ(Slice.Evaluate(Bins, Rate, T0), C.Before);
        EXPECT_EQ(std::as_const(Slice).Peaks.Items(0).Measured, 300);
        C.Change(Slice);
        EXPECT_EQ(Slice.Evaluate(Bins, Rate, T0), C.After);
        if (std::as_const(Slice).Peaks.Count() > 0) {
            EXPECT_EQ(std::as_const(Slice).Peaks.Items(0).Measured, C.MeasuredAfter);
        }
    }

    // The same peak over a spectrum of another size or rate reads other bins.
    TAudioSample Slice;
    AddPeak(Slice, 1000, 50, 300, 0);
    EXPECT_TRUE(Slice.Evaluate(Spectrum(1024), Rate, T0));
    EXPECT_FALSE(Slice.Evaluate(Spectrum(1024), Rate / 2, T0));
    EXPECT_TRUE(Slice.Evaluate(Spectrum(2048), Rate, T0));
    EXPECT_FALSE(Slice.Evaluate(TSpectrumData(40, 500), Rate, T0));
    EXPECT_EQ(std::as_const(Slice).Peaks.Items(0).Measured, 0);
}

TEST(AudioSample, MatchStartIsTheFirstMatchAndIsClearedByAMiss)
{
    TAudioSample Slice;
    AddPeak(Slice, 1000, 50, 200, 0);
    const TSpectrumData Loud(1024, 300), Quiet(1024, 10);
    EXPECT_TRUE(Slice.Evaluate(Loud, Rate, At(0)));
    EXPECT_TRUE(Slice.Evaluate(Loud, Rate, At(40)));
    EXPECT_EQ(Slice.MatchStart(), At(0));
    EXPECT_EQ(Slice.Elapsed(At(40)), 40);
    EXPECT_FALSE(Slice.Evaluate(Quiet, Rate, At(80)));
    EXPECT_FALSE(Slice.Matched());
    EXPECT_EQ(Slice.MatchStart(), 0.0);
    EXPECT_FALSE(Slice.Evaluate(TSpectrumData{}, Rate, At(90)));
}

TEST(AudioSample, SliceWithoutPeaksMatchesAnySpectrum)
{
    TAudioSample Slice;
    EXPECT_TRUE(Slice.Evaluate(TSpectrumData{}, Rate, T0));
    EXPECT_TRUE(Slice.Matched());
}

// ---- Commands through the analyser ----

// Tone pairs of the telephone keypad.
const std::map<char, std::vector<double>> Dtmf = {
    {'1', {697, 1209}}, {'2', {697, 1336}}, {'3', {697, 1477}}, {'5', {770, 1336}},
};

// A command as the frequency table builds it: one slice per symbol, 30 Hz tolerance,
// reference level 2500.
TAudioSequence MakeCommand(const std::string& Symbols, int32_t MaxGap, int32_t Sense = 50)
{
    TAudioSequence Sequence;
    for (char Symbol : Symbols) {
        TAudioSample& Slice = Sequence.Samples.AddNew();
        Slice.MaxGap = MaxGap;
        for (double Freq : Dtmf.at(Symbol))
            AddPeak(Slice, static_cast<int32_t>(Freq), 30, 2500, Sense);
    }
    return Sequence;
}

// Feeds analysis blocks of keypad tones (' ' is silence), one per captured buffer, and
// steps a sequence with each, at the stream time of that buffer.
class TToneFeed {
public:
    TToneFeed() { FFFT.SetChannels({TSignalMode::Left}); }

    bool Step(TAudioSequence& Sequence, char Symbol, int BufferIndex)
    {
        testkit::Pcm Block;
        if (Symbol == ' ')
            Block.appendSilence(2048.0 / Rate);
        else
            Block.appendTones(2048.0 / Rate, Dtmf.at(Symbol), 0.3);
        FFFT.Process(Block.samples.data(), static_cast<int32_t>(Block.samples.size() * sizeof(int16_t)));
        return StepSequence(Sequence, {.Analyser = &FFFT, .FrameRate = Rate, .Now = At(BufferIndex * BufferMs)});
    }

    // The buffer indices at which the script's steps reported the sequence found.
    std::vector<int> Run(TAudioSequence& Sequence, const std::string& Script)
    {
        std::vector<int> FoundAt;
        for (size_t I = 0; I < Script.size(); ++I)
            if (Step(Sequence, Script[I], static_cast<int>(I)))
                FoundAt.push_back(static_cast<int>(I));
        return FoundAt;
    }

private:
    TAudioFFT FFFT;
};

TEST(CommandMatching, Scripts)
{
    struct TCase {
        const char* Name;
        const char* Command;
        const char* Script;  // one keypad symbol per buffer, ' ' for silence
        std::vector<int> FoundAt;
    };
    const TCase Cases[] = {
        {"two equal symbols from one tone lasting two buffers", "11", "11", {1}},
        {"one buffer of tone is one symbol only", "11", "1    ", {}},
        {"symbols in order", "123", "123", {2}},
        {"symbols in the wrong order", "123", "132", {}},
        {"a pause shorter than MaxGap is bridged", "123", "1       23", {9}},
        {"a pause beyond MaxGap starts the search over", "123", "1        23", {}},
        // The attempt restarts once 200 ms have passed, slice 1 matches the tone again,
        // and the command is still found: holding a symbol longer has no effect.
        {"holding a symbol longer than MaxGap", "123", "11111111111123", {13}},
        {"reported once, re-armed, found again", "11", "11111", {1, 4}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioSequence Sequence = MakeCommand(C.Command, 200);
        TToneFeed Feed;
        EXPECT_EQ(Feed.Run(Sequence, C.Script), C.FoundAt);
    }
}

TEST(CommandMatching, TheStepThatStartsOverDoesNotTryTheFirstSlice)
{
    TAudioSequence Sequence = MakeCommand("12", 200);
    TToneFeed Feed;
    Feed.Step(Sequence, '1', 0);
    ASSERT_EQ(Sequence.CurrentIndex(), 1);
    // 9 buffers later (209 ms) the symbol sounds again: the gap restarts the attempt only.
    Feed.Step(Sequence, '1', 9);
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_FALSE(Sequence.Samples.Items(0).Matched());
    EXPECT_EQ(Sequence.Samples.Items(0).Peaks.Items(0).Measured, 0);
    Feed.Step(Sequence, '1', 10);
    EXPECT_TRUE(Sequence.Samples.Items(0).Matched());
    EXPECT_EQ(Sequence.CurrentIndex(), 1);
}

TEST(CommandMatching, WithoutAnAnalyserSpectraAreEmptyAndTonesAreMissing)
{
    TAudioSequence Sequence = MakeCommand("1", 200);
    EXPECT_FALSE(StepSequence(Sequence, {.Analyser = nullptr, .FrameRate = Rate, .Now = T0}));
    EXPECT_FALSE(Sequence.Samples.Items(0).Matched());
}

TEST(MaxGap, OnlyAGapLongerThanMaxGapStartsOver)
{
    for (const double GapMs : {200.0, 200.4, 200.6, 201.0}) {
        SCOPED_TRACE(GapMs);
        TAudioSequence Sequence;
        Sequence.Samples.AddNew().MaxGap = 200;
        Sequence.Samples.AddNew();
        const TSpectrumData Any(1024, 0);
        Sequence.Match(Any, Rate, At(0));
        Sequence.Match(Any, Rate, At(GapMs));
        // The gap is read in whole milliseconds, rounded: 200.4 is 200, 200.6 is 201.
        EXPECT_EQ(Sequence.Found(), GapMs < 200.5);
        EXPECT_EQ(Sequence.Current() == nullptr, GapMs > 200.5);
    }
}

// ---- The gap before the next slice ----

// A two-slice clip stepped with one spectrum per block: each block sets the levels of the
// first slice's tone (A) and the second's (B). Reference 1000 at sense 50: 500 matches.
TEST(MinGap, AClipSliceIsPlacedOnTheBetterOfTwoNeighbouringBlocks)
{
    constexpr int BinA = 60, BinB = 120;
    struct TLevels {
        int32_t A, B;
    };
    struct TCase {
        const char* Name;
        int32_t MinGap;
        std::vector<TLevels> Blocks;
        int FirstAt, SecondAt, FoundAt;  // blocks: where each slice was placed, and the report
    };
    const TCase Cases[] = {
        {"the next block holds more: it takes the slice", 23, {{600, 0}, {1000, 0}, {0, 1000}, {0, 1000}}, 1, 3, 3},
        {"its own block holds more: the next slice is tried on the next block at once", 23,
         {{1000, 0}, {600, 600}, {0, 1000}}, 0, 2, 2},
        {"alike on the first block tried: the later block, where the slice is due", 23,
         {{1000, 0}, {1000, 0}, {0, 1000}, {0, 1000}}, 1, 3, 3},
        {"alike after a miss: the block it matched on", 23, {{0, 0}, {1000, 0}, {900, 0}, {0, 1000}, {0, 900}}, 1, 3, 4},
        {"clearly better after a miss", 23, {{0, 0}, {600, 0}, {1000, 0}, {0, 1000}, {0, 1000}}, 2, 4, 4},
        {"a miss on the next block leaves the slice where it matched", 23, {{1000, 0}, {0, 1000}, {0, 1000}}, 0, 2, 2},
        {"after a slice placed at its due block, the next may be placed a block early", 23,
         {{0, 0}, {1000, 0}, {600, 600}, {0, 400}}, 1, 2, 3},
        {"never two slices in a row a block early", 23, {{1000, 0}, {600, 600}, {0, 400}}, 0, 2, 2},
        {"without MinGap every slice is taken where it first matches", 0, {{600, 0}, {0, 1000}}, 0, 1, 1},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioSequence Clip;
        for (int Bin : {BinA, BinB}) {
            TAudioSample& Slice = Clip.Samples.AddNew();
            Slice.MaxGap = 276;
            Slice.MinGap = C.MinGap;
            AddPeak(Slice, FreqOf(Bin, 1024, Rate) + 10, 50, 1000, 50);
        }
        int FoundAt = -1;
        for (size_t I = 0; I < C.Blocks.size() && FoundAt < 0; ++I) {
            TSpectrumData Spectrum(1024, 0);
            Spectrum[BinA] = C.Blocks[I].A;
            Spectrum[BinB] = C.Blocks[I].B;
            Clip.Match(Spectrum, Rate, At(double(I) * BufferMs));
            if (Clip.Found())
                FoundAt = static_cast<int>(I);
        }
        EXPECT_EQ(FoundAt, C.FoundAt);
        EXPECT_EQ(Clip.Samples.Items(0).Elapsed(At(C.FirstAt * BufferMs)), 0);
        EXPECT_EQ(Clip.Samples.Items(1).Elapsed(At(C.SecondAt * BufferMs)), 0);
    }
}

TEST(MinGap, MaxGapStillRestartsAWaitingAttempt)
{
    TAudioSequence Sequence;
    TAudioSample& First = Sequence.Samples.AddNew();
    First.MinGap = 46;
    First.MaxGap = 30;
    Sequence.Samples.AddNew();
    const TSpectrumData Any(1024, 0);
    Sequence.Match(Any, Rate, At(0));
    Sequence.Match(Any, Rate, At(23));  // the first slice is placed on this block
    EXPECT_EQ(Sequence.CurrentIndex(), 1);
    Sequence.Match(Any, Rate, At(46));  // within both gaps: waits
    EXPECT_EQ(Sequence.CurrentIndex(), 1);
    Sequence.Match(Any, Rate, At(69));  // beyond MaxGap: starts over
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_FALSE(Sequence.Found());
}

// A clip whose slices are whole blocks of four tones, played on air and analysed in blocks
// that overlap by half. Without MinGap the matcher takes the half-mixed blocks for the next
// slice and reports the clip before its last block has been heard; with MinGap each slice
// is placed on the block that lies exactly on it, and the clip is reported with the block
// that lies on its last slice.
TEST(MinGap, ClipSlicesAreMatchedByTheBlocksThatCoverThem)
{
    const int Bins[] = {60, 120, 180, 240};
    testkit::Pcm Air;
    Air.channels = 2;
    for (int Bin : Bins)
        Air.append(2048.0 / Rate, [Bin](int, size_t I) {
            return static_cast<int16_t>(std::lround(8000 * std::sin(2 * std::acos(-1.0) * Bin * double(I) / 2048)));
        });
    Air.appendSilence(2048.0 / Rate);
    const auto BlockMs = static_cast<int32_t>(2048 * 1000 / Rate);

    struct TCase {
        int32_t MinGap;
        int FoundAt;  // analysis index; block h covers frames 1024h .. 1024h + 2047
    };
    for (const TCase C : {TCase{0, 5}, TCase{BlockMs / 2, 6}}) {
        SCOPED_TRACE(C.MinGap);
        TAudioSequence Clip;
        for (int Bin : Bins) {
            TAudioSample& Slice = Clip.Samples.AddNew();
            Slice.MaxGap = BlockMs * 6;
            Slice.MinGap = C.MinGap;
            AddPeak(Slice, FreqOf(Bin, 1024, Rate) + 10, 50, 8000, 60);
        }
        TAudioFFT FFT;
        FFT.SetChannels({TSignalMode::Left});
        int FoundAt = -1;
        for (int H = 0; H <= 7 && FoundAt < 0; ++H) {
            FFT.Process(Air.samples.data() + size_t(H) * 1024 * 2, 2048 * 4);
            if (StepSequence(Clip, {.Analyser = &FFT, .FrameRate = Rate, .Now = At(H * BufferMs)}))
                FoundAt = H;
        }
        EXPECT_EQ(FoundAt, C.FoundAt);
        if (C.MinGap > 0) {
            for (int K = 0; K < 4; ++K)
                EXPECT_EQ(Clip.Samples.Items(K).Elapsed(At(2 * K * BufferMs)), 0) << "slice " << K;
        }
    }
}

// ---- The per-block step ----

TEST(StepSequence, FoundWithoutHoldIsResetOnTheNextBlockAndTriedOnTheOneAfter)
{
    TAudioSequence Sequence;
    Sequence.Samples.AddNew();  // satisfied by any spectrum
    const TStepInput Input{.Analyser = nullptr, .FrameRate = Rate, .Now = T0};
    EXPECT_TRUE(StepSequence(Sequence, Input));
    EXPECT_TRUE(Sequence.Found());
    EXPECT_FALSE(StepSequence(Sequence, Input));  // re-armed, nothing tried
    EXPECT_FALSE(Sequence.Found());
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_FALSE(Sequence.Samples.Items(0).Matched());
    EXPECT_TRUE(StepSequence(Sequence, Input));
}

TEST(StepSequence, HoldKeepsItFoundWithoutReportingAgain)
{
    TAudioSequence Sequence;
    Sequence.Hold = true;
    Sequence.Samples.AddNew();
    const TStepInput Input{.Analyser = nullptr, .FrameRate = Rate, .Now = T0};
    EXPECT_TRUE(StepSequence(Sequence, Input));
    for (int I = 0; I < 5; ++I)
        EXPECT_FALSE(StepSequence(Sequence, Input));
    EXPECT_TRUE(Sequence.Found());
    Sequence.Reset();  // as the engine does at start
    EXPECT_TRUE(StepSequence(Sequence, Input));
}

TEST(StepSequence, UnknownKindIsNeverSteppedNorFound)
{
    TAudioSequence Sequence;
    Sequence.Samples.AddNew();
    Sequence.Kind = static_cast<TSequenceKind>(3);
    Sequence.Level = -91;
    for (int I = 0; I < 3; ++I)
        EXPECT_FALSE(StepSequence(Sequence, {.Analyser = nullptr, .Now = At(I * 1000)}));
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_EQ(Sequence.StartTime(), 0.0);
}

TEST(StepSequence, SpectralSequenceWithoutSlicesIsNeverFound)
{
    TAudioSequence Sequence;
    for (int I = 0; I < 10; ++I)
        EXPECT_FALSE(StepSequence(Sequence, {.Analyser = nullptr, .Now = At(I * BufferMs)}));
}

// ---- Level detectors ----

struct TLevelStep {
    double Ms;
    double LeftdB, RightdB;
    bool Found;  // what the step reports
};

void RunLevel(TAudioSequence& Sequence, const std::vector<TLevelStep>& Steps)
{
    for (const TLevelStep& S : Steps) {
        SCOPED_TRACE(testing::Message() << "at " << S.Ms << " ms");
        EXPECT_EQ(StepSequence(Sequence, {.LeftVolumedB = S.LeftdB, .RightVolumedB = S.RightdB, .Now = At(S.Ms)}), S.Found);
    }
}

TAudioSequence LevelDetector(TSequenceKind Kind, double Level, int32_t Duration)
{
    TAudioSequence Sequence;
    testkit::SetLevel(Sequence, Kind, Level, Duration);
    return Sequence;
}

TEST(LevelDetector, SilenceIsFoundStrictlyAfterItsDuration)
{
    TAudioSequence Silence = LevelDetector(skSilence, -40, 5000);
    RunLevel(Silence, {
                          {0, -45, -60, false},      // starts the timing
                          {2500, -40, -41, false},   // at the threshold still holds
                          {5000, -50, -50, false},   // exactly the duration: not yet
                          {5001, -50, -50, true},
                      });
    EXPECT_EQ(Silence.Elapsed(At(5001)), 5001);
}

TEST(LevelDetector, TheLouderChannelBreakingTheConditionRestartsTheTiming)
{
    TAudioSequence Silence = LevelDetector(skSilence, -40, 5000);
    RunLevel(Silence, {
                          {0, -50, -50, false},
                          {3000, -60, -39.9, false},  // right channel too loud
                          {3100, -50, -50, false},    // starts again
                          {8100, -50, -50, false},
                          {8101.5, -50, -50, true},
                      });
}

TEST(LevelDetector, SignalHoldsAtOrAboveItsLevel)
{
    TAudioSequence Signal = LevelDetector(skSignal, -20, 1000);
    RunLevel(Signal, {
                         {0, -20, -80, false},
                         {1000, -30, -19, false},
                         {1001, -30, -19, true},
                         {1024, -30, -19, false},  // re-armed: timing starts anew
                         {1050, -30, -19, false},
                         {2050, -30, -19, false},
                         {2051, -30, -19, true},
                     });
}

// The volume in dB never goes below about -90.31, so -91 is below anything measured.
TEST(LevelDetector, MinusNinetyOneThresholds)
{
    const double Quietest = 20 * std::log10(1.0 / 32767);
    TAudioSequence Signal = LevelDetector(skSignal, -91, 100);
    TAudioSequence Silence = LevelDetector(skSilence, -91, 100);
    for (int I = 0; I < 10; ++I) {
        StepSequence(Signal, {.LeftVolumedB = Quietest, .RightVolumedB = Quietest, .Now = At(I * BufferMs)});
        StepSequence(Silence, {.LeftVolumedB = Quietest, .RightVolumedB = Quietest, .Now = At(I * BufferMs)});
        EXPECT_EQ(Silence.StartTime(), 0.0);
    }
    EXPECT_NE(Signal.StartTime(), 0.0);
    EXPECT_FALSE(Silence.Found());
    // 10 buffers span 209 ms: found after 100 ms, re-armed, and holding again.
    TAudioSequence Again = LevelDetector(skSignal, -91, 100);
    int Reports = 0;
    for (int I = 0; I < 10; ++I)
        Reports += StepSequence(Again, {.LeftVolumedB = Quietest, .RightVolumedB = Quietest, .Now = At(I * BufferMs)}) ? 1 : 0;
    EXPECT_EQ(Reports, 1);
}

// Ten minutes of dead air, stepped block by block on its own clock (a silence of -50 dB held
// 3 s), then sound again. Alarming once, the sequence is found once, reminds every
// RemindInterval after the find while the silence lasts, and reports the end once with the
// outage's length; with Hold it stays found after the end. Without AlarmOnce it is found again
// after every further 3 s, and nothing else is reported.
TEST(LevelDetector, AnEpisodeIsFoundOnceRemindsAndEndsWithItsLength)
{
    struct TCase {
        const char* Name;
        bool AlarmOnce;
        int32_t RemindInterval;
        bool Hold;
        int Finds;
        std::vector<int> RemindersAtSeconds;  // how long the silence had lasted at each
        bool Ended;
    };
    const TCase Cases[] = {
        {"once, reminded every 3 minutes", true, 180000, false, 1, {183, 363, 543}, true},
        {"once, no reminder", true, 0, false, 1, {}, true},
        {"once, held", true, 240000, true, 1, {243, 483}, true},
        {"every SignalTime, as lists without the keys", false, 180000, false, 195, {}, false},
    };
    constexpr double AirMs = 600000;
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioSequence Silence = LevelDetector(skSilence, -50, 3000);
        Silence.AlarmOnce = C.AlarmOnce;
        Silence.RemindInterval = C.RemindInterval;
        Silence.Hold = C.Hold;
        int Finds = 0, Ends = 0;
        std::vector<int> Reminders;
        int32_t Lasted = 0;
        double FirstQuietMs = -1;
        // A block of sound, the dead air, then sound for a minute.
        for (int I = 0; I * BufferMs < AirMs + 60000; ++I) {
            const double Ms = I * BufferMs;
            const bool Quiet = Ms > 0 && Ms <= AirMs;
            if (Quiet && FirstQuietMs < 0)
                FirstQuietMs = Ms;
            const double dB = Quiet ? -60 : -10;
            Finds += StepSequence(Silence, {.LeftVolumedB = dB, .RightVolumedB = dB, .Now = At(Ms)}) ? 1 : 0;
            if (Silence.AlarmChange() == acReminder)
                Reminders.push_back(int(std::lround(Silence.AlarmLasted() / 1000.0)));
            if (Silence.AlarmChange() == acEnded) {
                ++Ends;
                Lasted = Silence.AlarmLasted();
            }
        }
        EXPECT_EQ(Finds, C.Finds);
        EXPECT_EQ(Reminders, C.RemindersAtSeconds);
        EXPECT_EQ(Ends, C.Ended ? 1 : 0);
        if (C.Ended) {
            // From the first quiet block to the first loud one.
            const double Expected = (std::ceil(AirMs / BufferMs) * BufferMs) - FirstQuietMs;
            EXPECT_NEAR(Lasted, Expected, 1);
        }
        EXPECT_EQ(Silence.Found(), C.Hold);
        EXPECT_FALSE(Silence.InEpisode());
    }
}

// After the end of an episode the sequence is armed again: the next silence is a new episode.
TEST(LevelDetector, AfterTheEndTheNextSilenceIsANewEpisode)
{
    TAudioSequence Silence = LevelDetector(skSilence, -50, 1000);
    Silence.AlarmOnce = true;
    RunLevel(Silence, {
                          {0, -60, -60, false},
                          {1001, -60, -60, true},
                          {5000, -60, -60, false},   // still the same episode
                          {5100, -20, -60, false},   // its end
                          {5200, -60, -60, false},   // a new one starts
                          {6201, -60, -60, true},
                      });
}

TEST(LevelDetector, WithoutDurationTheNextHoldingBlockFindsIt)
{
    TAudioSequence Silence = LevelDetector(skSilence, -40, 0);
    RunLevel(Silence, {
                          {0, -50, -50, false},
                          {BufferMs, -50, -50, true},
                      });
}

TEST(LevelDetector, HoldKeepsALevelDetectorFound)
{
    TAudioSequence Silence = LevelDetector(skSilence, -40, 100);
    Silence.Hold = true;
    RunLevel(Silence, {
                          {0, -50, -50, false},
                          {101, -50, -50, true},
                          {200, -10, -10, false},  // loud again, but held found
                      });
    EXPECT_TRUE(Silence.Found());
    EXPECT_EQ(Silence.Progress(At(200)), 100);
}

}  // namespace
