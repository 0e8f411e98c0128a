// Building each kind of sample into its engine sequence.

#include <gtest/gtest.h>

#include <functional>

#include "audio/AudioDetector.h"
#include "audio/AudioDetectorBuild.h"
#include "core/SampleSequence.h"
#include "helpers/QtPrinters.h"
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
        TLevelMode mode;
        bool once;
        qint32 minutes;
        TSequenceKind kind;
        int32_t duration;
        TLevelMeasure measure;
        int32_t remind;  // ms; a reminder only for a sample that alarms once
    };
    for (const Case& c : {Case{TSampleType::Silence, 2.9999, -45.5, TLevelMode::Rms, true, 10, skSilence, 2999, lmRms, 600000},
                          Case{TSampleType::Signal, 0.5, -10, TLevelMode::Peak, false, 5, skSignal, 500, lmPeak, 0}}) {
        TSampleRec s = sample(c.type, 4, true);
        s.SignalTime = c.seconds;
        s.SignaldB = c.dB;
        s.LevelMode = c.mode;
        s.AlarmOnce = c.once;
        s.RemindMinutes = c.minutes;
        TAudioSequence* seq = BuildSampleSequence(engine, s, table);
        ASSERT_NE(seq, nullptr);
        EXPECT_EQ(seq, &engine.Sequences.Items(engine.Sequences.Count() - 1));
        EXPECT_EQ(seq->Kind, c.kind);
        EXPECT_EQ(seq->Duration, c.duration);
        EXPECT_EQ(seq->Level, c.dB);
        EXPECT_EQ(seq->LevelMeasure, c.measure);
        EXPECT_EQ(seq->AlarmOnce, c.once);
        EXPECT_EQ(seq->RemindInterval, c.remind);
        EXPECT_EQ(seq->Number, 4);
        EXPECT_TRUE(seq->Hold);
        EXPECT_EQ(seq->Samples.Count(), 0);
    }
}

// A rebuild keeps the sequence of a sample that did not change, with its episode under way; a
// silence sample given another measure, alarm or reminder is a new target.
TEST_F(SampleSequenceFixture, ALevelSampleWithAnotherMeasureOrAlarmIsAnotherTarget)
{
    TSampleRec s = sample(TSampleType::Silence, 2, false);
    const TAudioSequence* before = BuildSampleSequence(engine, s, table);
    EXPECT_TRUE(SameTarget(*before, *BuildSampleSequence(engine, s, table)));
    const std::function<void(TSampleRec&)> edits[] = {
        [](TSampleRec& r) { r.LevelMode = TLevelMode::Rms; },
        [](TSampleRec& r) { r.AlarmOnce = true; },
        [](TSampleRec& r) { r.AlarmOnce = true, r.RemindMinutes = 5; },
    };
    TSampleRec once = s;
    once.AlarmOnce = true;
    const TAudioSequence* alarm = BuildSampleSequence(engine, once, table);
    for (size_t i = 0; i < std::size(edits); ++i) {
        TSampleRec edited = s;
        edits[i](edited);
        const TAudioSequence* after = BuildSampleSequence(engine, edited, table);
        EXPECT_FALSE(SameTarget(*before, *after)) << i;
        EXPECT_EQ(SameTarget(*alarm, *after), i == 1) << i;
    }
}

TEST_F(SampleSequenceFixture, ClipBecomesItsFingerprintOnItsChannel)
{
    testkit::Pcm clip;
    clip.appendTones(1.0, {2000.0, 5000.0});
    testkit::writeWav(dir.file("clip.wav"), clip);
    TSampleRec s = sample(TSampleType::File, 2);
    s.Method = TDetectMethod::Spectral;
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
    missing.Method = TDetectMethod::Spectral;
    missing.Path = QString::fromStdString(dir.file("missing.wav"));
    EXPECT_THROW(BuildSampleSequence(engine, missing, table), EAudioReadError);

    TSampleRec quiet = sample(TSampleType::File, 2);
    quiet.Method = TDetectMethod::Spectral;
    quiet.Path = QString::fromStdString(dir.file("silent.wav"));
    try {
        BuildSampleSequence(engine, quiet, table);
        ADD_FAILURE() << "a silent clip was accepted";
    } catch (const EFingerprintError& e) {
        // The operator reads the refusal in the current language, not its key.
        EXPECT_EQ(SampleSequenceErrorText(e), GetMessageText("ClipNothingToRecognise"));
        EXPECT_NE(SampleSequenceErrorText(e), "ClipNothingToRecognise");
    }

    TSampleRec undialable = sample(TSampleType::Command, 3);
    undialable.Command = "1";
    undialable.CommandSpeed = 0;
    EXPECT_THROW(BuildSampleSequence(engine, undialable, table), ESampleSequenceError);

    TSampleRec unknown = sample(TSampleType(9), 4);
    EXPECT_EQ(BuildSampleSequence(engine, unknown, table), nullptr);

    EXPECT_EQ(engine.Sequences.Count(), 1);
}

TEST_F(SampleSequenceFixture, ClipIsBuiltByItsMethod)
{
    // Notes that change every 0.1 s: a clip both methods can recognise.
    testkit::Pcm clip;
    for (int i = 0; i < 15; ++i)
        clip.appendTones(0.1, {2000.0 + 300 * (i % 7), 5000.0 + 200 * (i % 5)});
    testkit::writeWav(dir.file("clip.wav"), clip);
    testkit::Pcm silent;
    silent.appendSilence(1.0);
    testkit::writeWav(dir.file("silent.wav"), silent);
    struct Case {
        TDetectMethod method;
        TSequenceKind kind;
    };
    for (const Case& c : {Case{TDetectMethod::Robust, skLandmark}, Case{TDetectMethod::Spectral, skSpectral}}) {
        SCOPED_TRACE(int(c.method));
        TSampleRec s = sample(TSampleType::File, 3, true);
        s.Method = c.method;
        s.Path = QString::fromStdString(dir.file("clip.wav"));
        s.SignalMode = TSignalMode::Add;
        TAudioSequence* seq = BuildSampleSequence(engine, s, table);
        ASSERT_NE(seq, nullptr);
        EXPECT_EQ(seq->Kind, c.kind);
        EXPECT_EQ(seq->Channel, TSignalMode::Add);
        EXPECT_EQ(seq->Number, 3);
        EXPECT_TRUE(seq->Hold);
        // Landmark clips carry a fingerprint and no slices; spectral ones one slice per block.
        EXPECT_EQ(seq->Landmarks != nullptr, c.kind == skLandmark);
        EXPECT_EQ(seq->Samples.Count(), c.kind == skLandmark ? 0 : 32);
        // Either way a silent clip is refused with the same message.
        s.Path = QString::fromStdString(dir.file("silent.wav"));
        EXPECT_THROW(BuildSampleSequence(engine, s, table), EFingerprintError);
    }
    EXPECT_EQ(engine.Sequences.Count(), 2);
}

TEST_F(SampleSequenceFixture, WeakClipIsWatchedWithAWarningNamingIt)
{
    // A few short chords in a long quiet clip: recognisable, but weakly.
    testkit::Pcm weak;
    weak.appendSilence(0.3);
    for (int i = 0; i < 4; ++i)
        weak.appendTones(0.1, {1500.0 + 400 * i, 3100.0 - 300 * i, 5200.0 + 500 * i}, 0.2);
    weak.appendSilence(1.5);
    testkit::writeWav(dir.file("weak.wav"), weak);
    testkit::Pcm busy;
    for (int i = 0; i < 30; ++i)
        busy.appendTones(0.1, {1000.0 + 370 * (i % 11), 4000.0 + 290 * (i % 7)});
    testkit::writeWav(dir.file("busy.wav"), busy);
    struct Case {
        const char* file;
        TDetectMethod method;
        bool warned;
    };
    for (const Case& c : {Case{"weak.wav", TDetectMethod::Robust, true}, Case{"busy.wav", TDetectMethod::Robust, false},
                          Case{"busy.wav", TDetectMethod::Spectral, false}}) {
        SCOPED_TRACE(c.file);
        TSampleRec s = sample(TSampleType::File, 6);
        s.Description = QStringLiteral("Позывной");
        s.Method = c.method;
        s.Path = QString::fromStdString(dir.file(c.file));
        TAudioSequence* seq = BuildSampleSequence(engine, s, table);
        ASSERT_NE(seq, nullptr);
        const int strength = SampleSequenceStrength(*seq);
        const QString warning = SampleSequenceWarningText(s, *seq);
        if (c.method == TDetectMethod::Spectral) {
            EXPECT_EQ(strength, -1);
        } else {
            EXPECT_GE(strength, 0);
            EXPECT_LE(strength, 100);
        }
        // The sample dialog measures the same strength without an engine of its own.
        QString error = "unset";
        EXPECT_EQ(SampleClipStrength(s, &error), strength);
        EXPECT_EQ(error, QString());
        EXPECT_EQ(!warning.isEmpty(), c.warned) << warning.toStdString();
        if (c.warned) {
            EXPECT_EQ(warning, FormatMessageText("WeakSample", {7, s.Description, strength}));
        }
    }
}

TEST_F(SampleSequenceFixture, ClipStrengthOfAClipThatCannotBeWatchedSaysWhy)
{
    testkit::Pcm silent;
    silent.appendSilence(1.0);
    testkit::writeWav(dir.file("silent.wav"), silent);
    struct Case {
        const char* file;
        TSampleType type;
        bool error;
    };
    for (const Case& c : {Case{"silent.wav", TSampleType::File, true}, Case{"missing.wav", TSampleType::File, true},
                          Case{"silent.wav", TSampleType::Silence, false}}) {
        SCOPED_TRACE(c.file);
        TSampleRec s = sample(c.type, 1);
        s.Path = QString::fromStdString(dir.file(c.file));
        QString error;
        EXPECT_EQ(SampleClipStrength(s, &error), -1);
        EXPECT_EQ(!error.isEmpty(), c.error);
        try {
            BuildSampleSequence(engine, s, table);
            EXPECT_FALSE(c.error);
        } catch (const std::exception& failure) {
            EXPECT_EQ(error, SampleSequenceErrorText(failure));
        }
    }
}

TEST_F(SampleSequenceFixture, ReasonsASampleCanNeverBeFoundNameIt)
{
    testkit::Pcm clip;
    clip.appendTones(1.0, {3000, 5000});
    testkit::writeWav(dir.file("second.wav"), clip);
    testkit::Pcm shortClip;
    shortClip.appendTones(2000.0 / 44100, {3000, 5000});  // below one block of 2048 frames
    testkit::writeWav(dir.file("short.wav"), shortClip);
    testkit::Pcm shortAt48k;
    shortAt48k.rate = 48000;
    shortAt48k.appendTones(2200.0 / 48000, {3000});  // 2021 frames at 44100
    testkit::writeWav(dir.file("short48k.wav"), shortAt48k);

    struct Case {
        const char* name;
        TSampleType type;
        QString command, path;
        QStringList reasons;
    };
    auto file = [&](const char* name) { return QString::fromStdString(dir.file(name)); };
    const Case cases[] = {
        {"dialable command", TSampleType::Command, "1, 5,9", {}, {}},
        {"no identifier known", TSampleType::Command, "x,yy", {}, {FormatMessageText("NeverFoundNoCommand", {3, "Cue"})}},
        {"empty command", TSampleType::Command, " , ", {}, {FormatMessageText("NeverFoundNoCommand", {3, "Cue"})}},
        {"some unknown", TSampleType::Command, "1,x,5,yy", {}, {FormatMessageText("UnknownCommands", {3, "Cue", "\"x\", \"yy\""})}},
        {"clip of a second", TSampleType::File, {}, file("second.wav"), {}},
        {"clip shorter than a block", TSampleType::File, {}, file("short.wav"), {FormatMessageText("NeverFoundShortClip", {3, "Cue", 46})}},
        {"short once resampled", TSampleType::File, {}, file("short48k.wav"), {FormatMessageText("NeverFoundShortClip", {3, "Cue", 46})}},
        {"missing clip: BuildSampleSequence reports it", TSampleType::File, {}, file("missing.wav"), {}},
        {"silence", TSampleType::Silence, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TSampleRec s = sample(c.type, 2);
        s.Description = "Cue";
        s.Command = c.command;
        s.Path = c.path;
        EXPECT_EQ(SampleNeverFoundReasons(engine, s, table), c.reasons);
    }
}
