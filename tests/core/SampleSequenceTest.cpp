// Building each kind of sample into its engine sequence.

#include <gtest/gtest.h>

#include "audio/AudioDetector.h"
#include "audio/AudioDetectorBuild.h"
#include "core/SampleSequence.h"
#include "helpers/TestFiles.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"

namespace {

struct SampleSequenceFixture : ::testing::Test {
    testkit::TempDir dir;
    TAudioDetector engine;
    TFrequencyRecArr table;

    void SetUp() override
    {
        ASSERT_TRUE(LoadFrequencyTable(table, ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini"));
    }
    TSampleRec sample(TSampleType type, int number, bool autoDisable = false)
    {
        TSampleRec s;
        s.Type = type;
        s.Number = number;
        s.AutoDisable = autoDisable;
        return s;
    }
};

}  // namespace

TEST_F(SampleSequenceFixture, LevelSamplesBecomeLevelDetectors)
{
    struct Case {
        TSampleType type;
        double seconds, dB;
        TSequenceKind kind;
        int32_t duration;
    };
    for (const Case& c : {Case{TSampleType::Silence, 2.9999, -45.5, skSilence, 2999},
                          Case{TSampleType::Signal, 0.5, -10, skSignal, 500}}) {
        TSampleRec s = sample(c.type, 4, true);
        s.SignalTime = c.seconds;
        s.SignaldB = c.dB;
        TAudioSequence* seq = BuildSampleSequence(engine, s, table);
        ASSERT_NE(seq, nullptr);
        EXPECT_EQ(seq, &engine.Sequences.Items(engine.Sequences.Count() - 1));
        EXPECT_EQ(seq->Kind, c.kind);
        EXPECT_EQ(seq->Duration, c.duration);
        EXPECT_EQ(seq->Level, c.dB);
        EXPECT_EQ(seq->Number, 4);
        EXPECT_TRUE(seq->Hold);
        EXPECT_EQ(seq->Samples.Count(), 0);
    }
}

TEST_F(SampleSequenceFixture, ClipBecomesItsFingerprintOnItsChannel)
{
    testkit::Pcm clip;
    clip.appendTones(1.0, {2000.0, 5000.0});
    testkit::writeWav(dir.file("clip.wav"), clip);
    TSampleRec s = sample(TSampleType::File, 2);
    s.Path = QString::fromStdString(dir.file("clip.wav"));
    s.SignalMode = TSignalMode::Right;
    TAudioSequence* seq = BuildSampleSequence(engine, s, table);
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(seq->Kind, skSpectral);
    EXPECT_EQ(seq->Channel, TSignalMode::Right);
    EXPECT_EQ(seq->Samples.Count(), 21);  // one slice per whole block of the second
    EXPECT_EQ(seq->Number, 2);
    EXPECT_FALSE(seq->Hold);
}

TEST_F(SampleSequenceFixture, CommandBecomesOneSlicePerSymbol)
{
    TSampleRec s = sample(TSampleType::Command, 0);
    s.Command = "1, 5,#";
    s.CommandSpeed = 4;
    s.SignalMode = TSignalMode::Add;
    TAudioSequence* seq = BuildSampleSequence(engine, s, table);
    ASSERT_NE(seq, nullptr);
    EXPECT_EQ(seq->Kind, skSpectral);
    EXPECT_EQ(seq->Channel, TSignalMode::Add);
    EXPECT_EQ(seq->Samples.Count(), 3);
}

// A command is recognised by the sample's Method, and each symbol has one block of the engine
// for its gap to the next.
TEST_F(SampleSequenceFixture, CommandFollowsItsMethodAndTheEngineBlock)
{
    struct TCase { TDetectMethod Method; int32_t FFTCount; TMatchMethod Expected; int32_t MaxGap; };
    const TCase Cases[] = {
        {TDetectMethod::Robust, 2048, mmToneSet, 312 + 47},
        {TDetectMethod::Spectral, 2048, mmSpectral, 312 + 47},
        {TDetectMethod::Robust, 1024, mmToneSet, 312 + 24},
        {TDetectMethod::Spectral, 8192, mmSpectral, 312 + 186},
    };
    for (const TCase& C : Cases) {
        engine.FFTCount = C.FFTCount;
        TSampleRec s = sample(TSampleType::Command, 0);
        s.Command = "1,5";
        s.CommandSpeed = 4;
        s.Method = C.Method;
        TAudioSequence* seq = BuildSampleSequence(engine, s, table);
        ASSERT_NE(seq, nullptr);
        EXPECT_EQ(seq->Method, C.Expected) << C.FFTCount;
        ASSERT_EQ(seq->Samples.Count(), 2);
        EXPECT_EQ(seq->Samples.Items(0).MaxGap, C.MaxGap) << C.FFTCount;
    }
}

TEST_F(SampleSequenceFixture, FailuresLeaveTheEngineUntouched)
{
    BuildSampleSequence(engine, sample(TSampleType::Silence, 0), table);
    testkit::Pcm silent;
    silent.appendSilence(1.0);
    testkit::writeWav(dir.file("silent.wav"), silent);

    TSampleRec missing = sample(TSampleType::File, 1);
    missing.Path = QString::fromStdString(dir.file("missing.wav"));
    EXPECT_THROW(BuildSampleSequence(engine, missing, table), EAudioReadError);

    TSampleRec quiet = sample(TSampleType::File, 2);
    quiet.Path = QString::fromStdString(dir.file("silent.wav"));
    try {
        BuildSampleSequence(engine, quiet, table);
        ADD_FAILURE() << "a silent clip was accepted";
    } catch (const EFingerprintError& e) {
        // The operator reads the refusal in the current language, not its key.
        EXPECT_EQ(SampleSequenceErrorText(e), GetMessageText("ErrorInSample"));
        EXPECT_NE(SampleSequenceErrorText(e), "ErrorInSample");
    }

    TSampleRec undialable = sample(TSampleType::Command, 3);
    undialable.Command = "1";
    undialable.CommandSpeed = 0;
    EXPECT_THROW(BuildSampleSequence(engine, undialable, table), ESampleSequenceError);

    TSampleRec unknown = sample(TSampleType(9), 4);
    EXPECT_EQ(BuildSampleSequence(engine, unknown, table), nullptr);

    EXPECT_EQ(engine.Sequences.Count(), 1);
}
