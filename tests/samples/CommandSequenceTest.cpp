#include "samples/Class_Frequency.h"

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "helpers/QtPrinters.h"
#include "helpers/TestFiles.h"
#include "samples/Class_SampleRec.h"

#include <gtest/gtest.h>

namespace {

TFrequencyRec Rec(const QString& ID, std::array<qint32, 5> Freq = {}, std::array<qint32, 5> Delta = {})
{
    return TFrequencyRec{ID, Freq, Delta};
}

TSampleRec CommandSample(const QString& Command, int Speed = 5)
{
    TSampleRec Sample;
    Sample.Type = TSampleType::Command;
    Sample.Command = Command;
    Sample.CommandSpeed = Speed;
    return Sample;
}

// The tones of each slice as "frequency/tolerance" lists.
std::vector<std::vector<std::string>> Tones(const TAudioSequence& Sequence)
{
    std::vector<std::vector<std::string>> Result;
    for (const TAudioSample& Slice : Sequence.Samples) {
        std::vector<std::string> Peaks;
        for (const TFreqData& Peak : Slice.Peaks)
            Peaks.push_back(std::to_string(Peak.Frequency) + "/" + std::to_string(Peak.Tolerance));
        Result.push_back(Peaks);
    }
    return Result;
}

const TFrequencyRecArr Keypad{
    Rec("1", {697, 1209}, {20, 20}),
    Rec("2", {697, 1336}, {20, 20}),
    Rec("3", {697, 1477}, {0, 5}),
};

TEST(CommandSequenceTest, OneSliceOfPresentTonesPerCommand)
{
    TSampleRec Sample = CommandSample("1,2,3");
    Sample.Sense = 70;
    Sample.SignalMode = TSignalMode::Dec;
    TAudioSequence Sequence;
    ASSERT_TRUE(BuildCommandSequence(Sample, Keypad, Sequence));

    EXPECT_EQ(Sequence.Kind, skSpectral);
    EXPECT_EQ(Sequence.Channel, TSignalMode::Dec);
    // A deviation of 0 stands for 30 Hz; any other is taken as it is.
    EXPECT_EQ(Tones(Sequence), (std::vector<std::vector<std::string>>{
                                   {"697/20", "1209/20"}, {"697/20", "1336/20"}, {"697/30", "1477/5"}}));
    for (const TAudioSample& Slice : Sequence.Samples) {
        EXPECT_EQ(Slice.MaxGap, 200);
        for (const TFreqData& Peak : Slice.Peaks) {
            EXPECT_EQ(Peak.RefLevel, 2500);
            EXPECT_EQ(Peak.Sense, 70);
            EXPECT_EQ(Peak.Kind, fkPresent);
        }
    }
}

TEST(CommandSequenceTest, BlanksEmptyItemsAndUnknownIdentifiersAddNothing)
{
    TAudioSequence Sequence;
    ASSERT_TRUE(BuildCommandSequence(CommandSample(" 3 , ,\t1\x01,, 9 ,1 2,"), Keypad, Sequence));
    EXPECT_EQ(Tones(Sequence), (std::vector<std::vector<std::string>>{{"697/30", "1477/5"}, {"697/20", "1209/20"}}));

    TAudioSequence None;
    ASSERT_TRUE(BuildCommandSequence(CommandSample("x,,y"), Keypad, None));
    EXPECT_EQ(None.Samples.Count(), 0);
    ASSERT_TRUE(BuildCommandSequence(CommandSample(""), Keypad, None));
    EXPECT_EQ(None.Samples.Count(), 0);
}

TEST(CommandSequenceTest, IdentifiersMatchExactlyAndEmptySlotsAreLeftOut)
{
    TFrequencyRecArr Table{Rec("A", {100}), Rec("a", {0, 0, 300, 0, 500}, {0, 0, 3, 0, 5}), Rec("silent")};
    SortFrequencyTable(Table);
    TAudioSequence Sequence;
    ASSERT_TRUE(BuildCommandSequence(CommandSample("a,silent"), Table, Sequence));
    // A command without tones still gives its slice, which has no peaks.
    EXPECT_EQ(Tones(Sequence), (std::vector<std::vector<std::string>>{{"300/3", "500/5"}, {}}));
}

TEST(CommandSequenceTest, MaxGapIsOneSecondDividedBySpeed)
{
    const std::pair<int, int> Cases[] = {{1, 1000}, {3, 333}, {5, 200}, {7, 142}, {10, 100}};
    for (auto [Speed, MaxGap] : Cases) {
        TAudioSequence Sequence;
        ASSERT_TRUE(BuildCommandSequence(CommandSample("1,2", Speed), Keypad, Sequence));
        ASSERT_EQ(Sequence.Samples.Count(), 2);
        EXPECT_EQ(Sequence.Samples.Items(0).MaxGap, MaxGap) << Speed;
        EXPECT_EQ(Sequence.Samples.Items(1).MaxGap, MaxGap) << Speed;
    }
}

TEST(CommandSequenceTest, SpeedBelowOneFailsAndLeavesTheSequenceAlone)
{
    for (int Speed : {0, -5}) {
        TSampleRec Sample = CommandSample("1", Speed);
        Sample.Number = 6;
        Sample.Description = QStringLiteral("hand-edited");
        TAudioSequence Sequence;
        Sequence.Kind = skSilence;
        QString Error;
        EXPECT_FALSE(BuildCommandSequence(Sample, Keypad, Sequence, &Error));
        EXPECT_TRUE(Error.contains(QStringLiteral("hand-edited"))) << Error.toStdString();
        EXPECT_EQ(Sequence.Kind, skSilence);
        EXPECT_EQ(Sequence.Samples.Count(), 0);
    }
}

// The default table must catch real key presses: every symbol's slice matches the spectrum of
// its own two tones at a modest level, and no other symbol's slice does.
TEST(CommandSequenceTest, DefaultTableRecognisesEveryDtmfSymbol)
{
    TFrequencyRecArr Table;
    ASSERT_TRUE(LoadFrequencyTable(Table, QStringLiteral(ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini")));
    ASSERT_EQ(Table.size(), 16);
    constexpr int FrameRate = 44100;
    constexpr int Frames = 2048;

    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    for (const TFrequencyRec& Pressed : Table) {
        testkit::Pcm Pcm;
        Pcm.appendTones(double(Frames) / FrameRate, {double(Pressed.Freq[0]), double(Pressed.Freq[1])}, 0.08);
        ASSERT_EQ(Pcm.frames(), size_t(Frames));
        FFT.Process(Pcm.samples.data(), int32_t(Pcm.samples.size() * sizeof(int16_t)));
        const TSpectrumData& Spectrum = FFT.SpectrumOf(TSignalMode::Left);

        for (const TFrequencyRec& Symbol : Table) {
            TAudioSequence Sequence;
            ASSERT_TRUE(BuildCommandSequence(CommandSample(Symbol.ID), Table, Sequence));
            ASSERT_EQ(Sequence.Samples.Count(), 1);
            const bool Matched = Sequence.Samples.Items(0).Evaluate(Spectrum, FrameRate, 1.0);
            EXPECT_EQ(Matched, Symbol.ID == Pressed.ID)
                << "pressed " << Pressed.ID.toStdString() << ", slice of " << Symbol.ID.toStdString();
        }
    }
}

}  // namespace
