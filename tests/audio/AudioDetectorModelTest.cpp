// The detection targets as data: lists, reset, elapsed time and progress.

#include "audio/AudioDetector.h"
#include "helpers/Sequences.h"

#include <gtest/gtest.h>

namespace {

// A plain working-day date-time, far from 0 ("not set").
const TDateTime T0 = 46000.5;

TDateTime At(double Ms)
{
    return IncMilliseconds(T0, Ms);
}

using testkit::AddPeak;

// Slices without peaks: each is satisfied by any spectrum, so every Match call advances one.
TAudioSequence& AddEmptySlices(TAudioSequence& Sequence, int Count)
{
    for (int I = 0; I < Count; ++I)
        Sequence.Samples.AddNew();
    return Sequence;
}

const TSpectrumData Silence(1024, 0);

TEST(AudioSequence, NewSequenceHasTheInitialValues)
{
    TAudioSequence Sequence;
    EXPECT_EQ(Sequence.Samples.Count(), 0);
    EXPECT_FALSE(Sequence.Found());
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_EQ(Sequence.Previous(), nullptr);
    EXPECT_FALSE(Sequence.Hold);
    EXPECT_EQ(Sequence.Duration, 0);
    EXPECT_EQ(Sequence.Channel, TSignalMode::Left);
    EXPECT_EQ(Sequence.Kind, skSpectral);
    EXPECT_EQ(Sequence.Level, 0.0);
    EXPECT_EQ(Sequence.Number, 0);
    EXPECT_EQ(Sequence.StartTime(), 0.0);
}

TEST(FreqDataList, SortsByReferenceLevel)
{
    TFreqDataList List;
    for (int32_t Level : {300, 100, 500, 200})
        List.AddNew().RefLevel = Level;
    List.SortAscending();
    EXPECT_EQ(List.Items(0).RefLevel, 100);
    EXPECT_EQ(List.Items(3).RefLevel, 500);
    List.SortDescending();
    EXPECT_EQ(List.Items(0).RefLevel, 500);
    EXPECT_EQ(List.Items(1).RefLevel, 300);
    EXPECT_EQ(List.Items(3).RefLevel, 100);
}

TEST(FreqDataList, ExtractHandsOverTheItemAndDeleteFreesIt)
{
    TFreqDataList From, To;
    From.AddNew().Frequency = 1;
    TFreqData& Second = From.AddNew();
    Second.Frequency = 2;
    From.AddNew().Frequency = 3;

    std::unique_ptr<TFreqData> Moved = From.Extract(1);
    EXPECT_EQ(Moved.get(), &Second);
    To.Add(std::move(Moved));
    EXPECT_EQ(&To.Items(0), &Second);
    EXPECT_EQ(From.Count(), 2);
    From.Delete(0);
    EXPECT_EQ(From.Count(), 1);
    EXPECT_EQ(From.Items(0).Frequency, 3);
    EXPECT_EQ(From.IndexOf(&Second), -1);
    EXPECT_THROW(From.Items(1), std::out_of_range);
    EXPECT_THROW(From.Delete(-1), std::out_of_range);
    From.Clear();
    EXPECT_EQ(From.Count(), 0);
}

TEST(AudioSampleList, IndexOfAndLast)
{
    TAudioSampleList List;
    EXPECT_EQ(List.Last(), nullptr);
    TAudioSample& First = List.AddNew();
    TAudioSample& Second = List.AddNew();
    EXPECT_EQ(List.Last(), &Second);
    EXPECT_EQ(List.IndexOf(&First), 0);
    EXPECT_EQ(List.IndexOf(&Second), 1);
    TAudioSample Stranger;
    EXPECT_EQ(List.IndexOf(&Stranger), -1);
}

TEST(AudioSample, ElapsedRoundsToTheNearestTiesToEven)
{
    TAudioSample Slice;
    EXPECT_EQ(Slice.Elapsed(At(5000)), 0);  // not matched: no time
    ASSERT_TRUE(Slice.Evaluate(Silence, 44100, T0));
    EXPECT_EQ(Slice.MatchStart(), T0);
    EXPECT_EQ(Slice.Elapsed(At(100.4)), 100);
    EXPECT_EQ(Slice.Elapsed(At(100.5)), 100);
    EXPECT_EQ(Slice.Elapsed(At(101.5)), 102);
    EXPECT_EQ(Slice.Elapsed(At(101.6)), 102);
    EXPECT_EQ(Slice.Elapsed(At(5001)), 5001);
}

TEST(AudioSequence, ResetClearsMeasuredInEveryPeakOfEverySlice)
{
    TAudioSequence Sequence;
    for (int I = 0; I < 3; ++I) {
        TAudioSample& Slice = Sequence.Samples.AddNew();
        AddPeak(Slice, 1000, 50, 0, 0);
        AddPeak(Slice, 2000, 50, 1000, 0, fkAbsent);
    }
    TSpectrumData Loud(1024, 700);
    Sequence.Match(Loud, 44100, At(0));
    Sequence.Match(Loud, 44100, At(23));
    ASSERT_EQ(Sequence.CurrentIndex(), 2);
    // A value left by someone else on a slice never tried is cleared as well.
    Sequence.Samples.Items(2).Peaks.Items(0).Measured = 99;

    Sequence.Reset();
    for (const TAudioSample& Slice : Sequence.Samples) {
        EXPECT_FALSE(Slice.Matched());
        EXPECT_EQ(Slice.MatchStart(), 0.0);
        for (const TFreqData& Peak : Slice.Peaks)
            EXPECT_EQ(Peak.Measured, 0);
    }
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_EQ(Sequence.Previous(), nullptr);
    EXPECT_FALSE(Sequence.Found());
}

TEST(AudioSequence, SpectralProgressCountsMatchedSlices)
{
    TAudioSequence Sequence;
    AddEmptySlices(Sequence, 3);
    EXPECT_EQ(Sequence.Progress(At(0)), 0);  // no Current yet
    Sequence.Match(Silence, 44100, At(0));   // slice 1 matched, Current = slice 2 unmatched
    EXPECT_EQ(Sequence.Progress(At(0)), 33);
    Sequence.Match(Silence, 44100, At(23));
    EXPECT_EQ(Sequence.Progress(At(23)), 66);
    Sequence.Match(Silence, 44100, At(46));
    ASSERT_TRUE(Sequence.Found());
    EXPECT_EQ(Sequence.Current(), Sequence.Samples.Last());  // stays on the last slice
    EXPECT_EQ(Sequence.Previous(), Sequence.Samples.Last());
    EXPECT_EQ(Sequence.Progress(At(46)), 100);
    EXPECT_EQ(Sequence.Elapsed(At(46)), 46);  // since the first slice matched
}

TEST(AudioSequence, ProgressOfAWholeShareIsNotLostToRounding)
{
    // 57 of 100 slices: 57 / 100 * 100 is 56.99... in floating point.
    TAudioSequence Sequence;
    AddEmptySlices(Sequence, 100);
    for (int I = 0; I < 57; ++I)
        Sequence.Match(Silence, 44100, At(I));
    EXPECT_EQ(Sequence.Progress(At(57)), 57);
}

TEST(AudioSequence, SequenceWithoutSlicesHasNoProgressAndIsNeverFound)
{
    TAudioSequence Sequence;
    for (int I = 0; I < 5; ++I)
        Sequence.Match(Silence, 44100, At(I * 23));
    EXPECT_FALSE(Sequence.Found());
    EXPECT_EQ(Sequence.Current(), nullptr);
    EXPECT_EQ(Sequence.Progress(At(200)), 0);
    EXPECT_EQ(Sequence.Elapsed(At(200)), 0);
}

TEST(AudioSequence, LevelDetectorProgressAndElapsed)
{
    struct TCase {
        const char* Name;
        int32_t Duration;
        double HeldMs;  // -1: the condition never held
        int32_t Elapsed;
        int32_t Progress;
    };
    const TCase Cases[] = {
        {"never held", 5000, -1, 0, 0},
        {"just began", 5000, 0, 0, 0},
        {"half way", 5000, 2500, 2500, 50},
        {"truncated", 5000, 2599.9, 2599, 51},
        {"capped beyond the duration", 5000, 9000, 9000, 100},
        {"no duration: reached once holding", 0, 0, 0, 100},
        {"no duration, held a while", 0, 700, 700, 100},
        {"negative duration", -10, 300, 300, 100},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TAudioSequence Sequence;
        testkit::SetLevel(Sequence, skSilence, -40, C.Duration);
        if (C.HeldMs >= 0)
            StepLevel(Sequence, -60, -70, T0);
        EXPECT_EQ(Sequence.Elapsed(At(C.HeldMs)), C.Elapsed);
        EXPECT_EQ(Sequence.Progress(At(C.HeldMs)), C.Progress);
    }
}

TEST(AudioSequence, UnknownKindHasNoElapsedNorProgress)
{
    TAudioSequence Sequence;
    AddEmptySlices(Sequence, 2);
    Sequence.Match(Silence, 44100, At(0));
    Sequence.Kind = static_cast<TSequenceKind>(5);
    EXPECT_EQ(Sequence.Elapsed(At(100)), 0);
    EXPECT_EQ(Sequence.Progress(At(100)), 0);
}

}  // namespace
