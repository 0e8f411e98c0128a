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

TSampleRec CommandSample(const QString& Command, int Speed = 5, TDetectMethod Method = TDetectMethod::Spectral)
{
    TSampleRec Sample;
    Sample.Type = TSampleType::Command;
    Sample.Command = Command;
    Sample.CommandSpeed = Speed;
    Sample.Method = Method;
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
    EXPECT_EQ(Sequence.Method, mmSpectral);
    for (const TAudioSample& Slice : Sequence.Samples) {
        EXPECT_EQ(Slice.MaxGap, 250 + DefaultBlockMs);
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

// A symbol period 20 % longer than the set speed's, and one block for where in its blocks a
// symbol is first heard, for both methods.
TEST(CommandSequenceTest, MaxGapAllowsASlowerSenderAndOneBlock)
{
    struct TCase { int Speed, BlockMs, MaxGap; };
    const TCase Cases[] = {{1, 47, 1297}, {3, 47, 463}, {5, 47, 297}, {7, 47, 225}, {10, 47, 172},
                           {5, 24, 274}, {5, 186, 436}, {5, 0, 250}};
    for (const TCase& C : Cases)
        for (TDetectMethod Method : {TDetectMethod::Spectral, TDetectMethod::Robust}) {
            TAudioSequence Sequence;
            ASSERT_TRUE(BuildCommandSequence(CommandSample("1,2", C.Speed, Method), Keypad, Sequence, nullptr, C.BlockMs));
            ASSERT_EQ(Sequence.Samples.Count(), 2);
            EXPECT_EQ(Sequence.Samples.Items(0).MaxGap, C.MaxGap) << C.Speed << " " << C.BlockMs;
            EXPECT_EQ(Sequence.Samples.Items(1).MaxGap, C.MaxGap) << C.Speed << " " << C.BlockMs;
        }
}

// The tone-set detector gets each slice's tones as presence peaks and the table's other tones,
// once each, as absence peaks to keep below them; a tone within reach of one of the slice's own
// is not a rival.
TEST(CommandSequenceTest, RobustSlicesCarryTheOtherTonesOfTheTable)
{
    TFrequencyRecArr Table = Keypad;
    Table.append(Rec("near", {700, 1600}, {10, 10}));
    Table.append(Rec("one", {2000}));
    TSampleRec Sample = CommandSample("1,one", 5, TDetectMethod::Robust);
    Sample.Sense = 65;
    TAudioSequence Sequence;
    ASSERT_TRUE(BuildCommandSequence(Sample, Table, Sequence));
    EXPECT_EQ(Sequence.Method, mmToneSet);
    const auto Peaks = [&](int Slice, TFreqKind Kind) {
        std::vector<std::string> Result;
        for (const TFreqData& Peak : Sequence.Samples.Items(Slice).Peaks) {
            EXPECT_EQ(Peak.Sense, 65);
            if (Peak.Kind == Kind)
                Result.push_back(std::to_string(Peak.Frequency) + "/" + std::to_string(Peak.Tolerance));
        }
        return Result;
    };
    ASSERT_EQ(Sequence.Samples.Count(), 2);
    EXPECT_EQ(Peaks(0, fkPresent), (std::vector<std::string>{"697/20", "1209/20"}));
    EXPECT_EQ(Peaks(0, fkAbsent), (std::vector<std::string>{"1336/20", "1477/5", "1600/10", "2000/30"}));
    EXPECT_EQ(Peaks(1, fkPresent), (std::vector<std::string>{"2000/30"}));
    EXPECT_EQ(Peaks(1, fkAbsent), (std::vector<std::string>{"697/20", "1209/20", "1336/20", "1477/5", "700/10", "1600/10"}));
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
