// The monitoring controller on the real engine: switching samples, building their sequences,
// starting and stopping the capture, the sample buttons, and the actions of a detection.

#include "ControllerFixture.h"

#include "core/FileExecute.h"
#include "core/SampleSequence.h"
#include "helpers/Broadcast.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <filesystem>

namespace {

const double Block = 2048.0 / 44100;  // one analysis block at the defaults

// Writes an executable shell script.
void WriteScript(const std::string& Path, const std::string& Body)
{
    testkit::writeText(Path, "#!/bin/sh\n" + Body);
    QFile::setPermissions(QString::fromStdString(Path),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup);
}

QStringList ReadLines(const std::string& Path)
{
    QString Text = QString::fromStdString(testkit::readText(Path));
    if (Text.endsWith(u'\n'))
        Text.chop(1);
    return Text.split(u'\n');
}

}  // namespace

TEST_F(ControllerFixture, SwitchingOnAMissingClipOnlyPostsTheError)
{
    TSampleRec* Clip = Add(TSampleType::File, 3, "Jingle");
    Clip->Path = Data.Path("gone.wav");
    int Rebuilds = 0;
    QObject::connect(&Controller, &TMonitorController::Tick, [&] { ++Rebuilds; });
    Controller.SetSampleEnabled(Clip, true, true);
    EXPECT_FALSE(Clip->Enabled);
    EXPECT_EQ(Texts(), QStringList({Msg("WrongSampleInd", {4, Clip->Path})}));
    EXPECT_EQ(Posted[0].MsgType, msgError);
    EXPECT_EQ(Rebuilds, 0);
    EXPECT_EQ(Controller.Engine().Sequences.Count(), 0);
}

TEST_F(ControllerFixture, SwitchingOffSaysNotFoundOnlyForASampleNeverFound)
{
    for (const bool Found : {false, true}) {
        Posted.clear();
        TSampleRec* Quiet = Add(TSampleType::Silence, Found ? 1 : 0, Found ? "found" : "never found");
        Controller.SetSampleEnabled(Quiet, true, false);
        Quiet->Detected = Found;
        Controller.SetSampleEnabled(Quiet, false, false);
        const int Position = Controller.Samples().IndexOf(Quiet) + 1;
        QStringList Expected{Msg("SampleEnabled", {Position, Quiet->Description})};
        if (!Found)
            Expected.append(Msg("SampleNotFound", {Quiet->Number + 1, Quiet->Description}));
        Expected.append(Msg("SampleDisabled", {Position, Quiet->Description}));
        EXPECT_EQ(Texts(), Expected);
        // Already off: nothing.
        Controller.SetSampleEnabled(Quiet, false, true);
        EXPECT_EQ(Texts(), Expected);
    }
}

TEST_F(ControllerFixture, SwitchMessagesShowThePositionAndFoundMessagesTheNumber)
{
    Add(TSampleType::Silence, 0, "first");
    TSampleRec* Fifth = Add(TSampleType::Silence, 4, "fifth");
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_BtnClick({1});
    Controller.Find_BtnClick({0, 1});  // the first is off: only the second is handled
    EXPECT_EQ(Texts(), QStringList({Msg("SampleEnabled", {2, "fifth"}), Msg("SampleFound", {5, "fifth"})}));
    EXPECT_EQ(Posted[0].MsgType, msgSampleEnable);
    EXPECT_EQ(Posted[1].MsgType, msgSampleDetect);
    EXPECT_TRUE(Fifth->Detected);
}

TEST_F(ControllerFixture, EachSampleBecomesItsSequence)
{
    TSampleRec* Quiet = Add(TSampleType::Silence, 0, "quiet");
    Quiet->SignalTime = 2.9999;
    Quiet->SignaldB = -55;
    Quiet->AutoDisable = true;
    TSampleRec* Loud = Add(TSampleType::Signal, 1, "loud");
    Loud->SignalTime = 0.5;
    TSampleRec* Stuck = Add(TSampleType::Command, 2, "speed 0");
    Stuck->Command = "1";
    Stuck->CommandSpeed = 0;
    TSampleRec* Off = Add(TSampleType::Signal, 3, "off");
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_BtnClick({0, 1, 2});

    ASSERT_NE(Quiet->Sequence, nullptr);
    EXPECT_EQ(Quiet->Sequence->Kind, skSilence);
    EXPECT_EQ(Quiet->Sequence->Duration, 2999);
    EXPECT_EQ(Quiet->Sequence->Level, -55);
    EXPECT_EQ(Quiet->Sequence->Number, 0);
    EXPECT_TRUE(Quiet->Sequence->Hold);
    ASSERT_NE(Loud->Sequence, nullptr);
    EXPECT_EQ(Loud->Sequence->Kind, skSignal);
    EXPECT_EQ(Loud->Sequence->Duration, 500);
    EXPECT_FALSE(Loud->Sequence->Hold);
    EXPECT_EQ(Off->Sequence, nullptr);
    // The command that cannot be dialled is switched off again and leaves no sequence.
    EXPECT_FALSE(Stuck->Enabled);
    EXPECT_EQ(Stuck->Sequence, nullptr);
    EXPECT_EQ(Controller.Engine().Sequences.Count(), 2);
    const QStringList T = Texts();
    ASSERT_EQ(T.size(), 6);
    EXPECT_EQ(T[3], Msg("WrongSampleInd", {3, ""}));
    EXPECT_FALSE(T[4].isEmpty());  // why
    EXPECT_EQ(T[5], Msg("SampleDisabled", {3, "speed 0"}));
    EXPECT_TRUE(Controller.Monitoring());

    // Switching the last ones off stops the capture.
    Controller.Disable_All_BtnClick();
    EXPECT_FALSE(Controller.Monitoring());
    EXPECT_EQ(Controller.Engine().Sequences.Count(), 0);
}

TEST_F(ControllerFixture, ASampleThatCanNeverBeFoundIsNamedOnceWhenSwitchedOn)
{
    TSampleRec* Cue = Add(TSampleType::Command, 0, "cue");
    Cue->Command = "X,Y";  // the table has neither
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_BtnClick({0});
    const QStringList Reasons = SampleNeverFoundReasons(Controller.Engine(), *Cue, FrequencyTable);
    ASSERT_FALSE(Reasons.isEmpty());
    EXPECT_TRUE(Cue->Enabled);  // on, as the operator asked, and told why it is never found
    QStringList Expected{Msg("SampleEnabled", {1, "cue"})};
    Expected += Reasons;
    EXPECT_EQ(Texts(), Expected);
    for (const TOndrixMessage& Message : Posted.mid(1))
        EXPECT_EQ(Message.MsgType, msgError);
    Controller.ReloadEngine();
    EXPECT_EQ(Texts(), Expected);
}

TEST_F(ControllerFixture, AWeakClipIsNamedOnceWhenSwitchedOnHoweverItIsSwitchedOn)
{
    // A few short chords in a long quiet clip: recognisable, but weakly.
    testkit::Pcm Weak;
    Weak.appendSilence(0.3);
    for (int I = 0; I < 4; ++I)
        Weak.appendTones(0.1, {1500.0 + 400 * I, 3100.0 - 300 * I, 5200.0 + 500 * I}, 0.2);
    Weak.appendSilence(1.5);
    testkit::Pcm Busy;
    for (int I = 0; I < 30; ++I)
        Busy.appendTones(0.1, {1000.0 + 370 * (I % 11), 4000.0 + 290 * (I % 7)});
    TSampleRec* Faint = AddClip(2, "faint", Weak, "weak.wav");
    AddClip(5, "busy", Busy, "busy.wav");
    Feed(testkit::makeProgramme(2.0));
    struct Case {
        const char* Name;
        std::function<void()> SwitchOn;
    };
    const Case Cases[] = {
        {"sample buttons", [&] { Controller.Enable_BtnClick({0, 1}); }},
        {"external program", [&] {
             Controller.RemoteSetSampleEnabled(2, true, false);
             Controller.RemoteSetSampleEnabled(5, true, true);
         }},
        {"automatic start", [&] {
             for (TSampleRec* Sample : {Controller.Samples()[0], Controller.Samples()[1]})
                 Sample->AutoStart = true;
             Controller.AutoStartSamples();
         }},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        Controller.Disable_All_BtnClick();
        Posted.clear();
        C.SwitchOn();
        ASSERT_TRUE(Faint->Enabled);
        ASSERT_NE(Faint->Sequence, nullptr);
        const int Strength = SampleSequenceStrength(*Faint->Sequence);
        const QString Warning = Msg("WeakSample", {3, "faint", Strength});
        EXPECT_EQ(Texts(), QStringList({Msg("SampleEnabled", {1, "faint"}), Msg("SampleEnabled", {2, "busy"}), Warning}));
        EXPECT_EQ(Posted.last().MsgType, msgInfo);
        // Later rebuilds leave it unsaid.
        Controller.ReloadEngine();
        EXPECT_EQ(Count(Warning), 1);
    }
}

TEST_F(ControllerFixture, AClipDeletedAfterSwitchingOnIsReportedAtTheRebuild)
{
    TSampleRec* Clip = AddClip(0, "Jingle", testkit::playPhrase(testkit::makePhrase(3, 12, 0.15)), "jingle.wav");
    Feed(testkit::makeProgramme(2.0));
    Controller.SetSampleEnabled(Clip, true, false);
    QFile::remove(Clip->Path);
    Posted.clear();
    Controller.ReloadEngine();
    const QStringList T = Texts();
    ASSERT_EQ(T.size(), 3);
    EXPECT_EQ(T[0], Msg("WrongSampleInd", {1, Clip->Path}));
    EXPECT_TRUE(T[1].contains("No such file")) << T[1].toStdString();  // the reader's reason
    EXPECT_EQ(T[2], Msg("SampleDisabled", {1, "Jingle"}));
    EXPECT_FALSE(Clip->Enabled);
    EXPECT_FALSE(Controller.Monitoring());
}

TEST_F(ControllerFixture, ACaptureThatCannotOpenKeepsTheSamplesOnAndIsTriedUntilItRuns)
{
    Fake.openResult = 5;
    FeedFake();
    Controller.Engine().FirstRetryInterval = Controller.Engine().RetryInterval = 10;  // attempts come quickly
    Add(TSampleType::Silence, 0, "a");
    Add(TSampleType::Signal, 1, "b");
    Controller.Enable_All_BtnClick();
    EXPECT_TRUE(Controller.Monitoring());
    EXPECT_FALSE(Controller.CaptureRunning());
    const QString Failed = Msg("CaptureNotStarted", {GetMessageText("DefaultDevice"), "fake error 5"});
    EXPECT_EQ(Controller.CaptureProblem(), Failed);
    // Attempts that fail for the same reason say nothing more.
    ASSERT_TRUE(WaitFor([&] { return Fake.opens >= 4; }));
    for (int I = 0; I < 2; ++I)
        EXPECT_TRUE(Controller.Samples()[I]->Enabled);
    EXPECT_EQ(Texts(), QStringList({Msg("SampleEnabled", {1, "a"}), Msg("SampleEnabled", {2, "b"}), Failed}));
    EXPECT_EQ(Posted[2].MsgType, msgError);

    Fake.openResult = 0;
    ASSERT_TRUE(WaitFor([&] { return Controller.CaptureRunning(); }));
    EXPECT_EQ(Texts().mid(3), QStringList({Msg("CaptureStarted", {GetMessageText("DefaultDevice")})}));
    EXPECT_EQ(Posted[3].MsgType, msgInfo);
    EXPECT_TRUE(Controller.CaptureProblem().isEmpty());
}

TEST_F(ControllerFixture, CaptureSettingsGoToTheEngine)
{
    struct Case {
        int Device;
        int DeviceIndex;
    };
    for (const Case C : {Case{0, -1}, Case{1, 0}, Case{3, 2}, Case{-1, -2}}) {
        Model.SetInt(SettingKey::Device, C.Device);
        TAudioDetector Other(Queue);
        Controller.ApplyCaptureSettings(Other);
        EXPECT_EQ(Other.DeviceIndex, C.DeviceIndex) << C.Device;
        EXPECT_EQ(Other.DeviceName, "") << C.Device;
        EXPECT_EQ(Other.FrameRate, 44100);
        EXPECT_EQ(Other.FFTCount, 2048);
    }
    // A stored name is opened by that name, wherever the server lists it.
    Model.SetText(SettingKey::DeviceName, "Studio Feed");
    {
        TAudioDetector Other(Queue);
        Controller.ApplyCaptureSettings(Other);
        EXPECT_EQ(Other.DeviceName, "Studio Feed");
    }
    const int Rates[] = {22050, 32000, 44100, 48000, 64000, 96000, 44100, 44100};
    const int Counts[] = {1024, 2048, 4096, 8192, 2048, 2048, 2048, 2048};
    for (int I = 0; I < 8; ++I) {
        EXPECT_EQ(TMonitorController::FrameRateOfIndex(I == 7 ? -1 : I), Rates[I]) << I;
        EXPECT_EQ(TMonitorController::FFTCountOfIndex(I == 7 ? -1 : I), Counts[I]) << I;
    }
}

TEST_F(ControllerFixture, CaptureTestOpensTheDeviceOnceAndReportsItsError)
{
    FeedFake();
    QString Text;
    EXPECT_TRUE(Controller.Button_TestAudioClick(&Text));
    EXPECT_EQ(Text, GetMessageText("AudioTested"));
    EXPECT_EQ(Fake.opens, 1);
    EXPECT_EQ(Fake.closes, 1);
    Fake.openResult = 5;
    EXPECT_FALSE(Controller.Button_TestAudioClick(&Text));
    EXPECT_EQ(Text, GetMessageText("AudioNotTested") + "\r\nfake error 5");
    EXPECT_TRUE(Posted.isEmpty());
    EXPECT_FALSE(Controller.Monitoring());
}

TEST_F(ControllerFixture, ALostCaptureIsReportedAndMonitoringStaysOn)
{
    FeedFake();
    Controller.Engine().RetryInterval = 0;
    Add(TSampleType::Silence, 0, "quiet");
    Controller.Enable_All_BtnClick();
    ASSERT_TRUE(Controller.Monitoring());
    Posted.clear();
    Fake.notify({TWaveInMessage::Error, nullptr, 6});
    ASSERT_TRUE(WaitFor([&] { return Posted.size() >= 2; }));
    const QString DeviceName = GetMessageText("DefaultDevice");
    EXPECT_EQ(Texts(), QStringList({Msg("CaptureLost", {DeviceName, "fake error 6"}), Msg("CaptureRestored", {DeviceName})}));
    EXPECT_EQ(Posted[0].MsgType, msgError);
    EXPECT_EQ(Posted[1].MsgType, msgInfo);
    EXPECT_TRUE(Controller.Monitoring());
    EXPECT_TRUE(Controller.Samples()[0]->Enabled);
}

TEST_F(ControllerFixture, AudioFaultsAreToldAtOnceThenGatheredUntilTheirTimeComes)
{
    FeedFake();
    Add(TSampleType::Silence, 0, "quiet");
    Controller.Enable_All_BtnClick();
    ASSERT_TRUE(Controller.Monitoring());
    // Every other block fails.
    int Blocks = 0;
    Controller.Engine().OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) {
        if (++Blocks % 2 == 1)
            throw std::runtime_error("bad block");
    };
    // Each buffer is handled (and queued again) before the next comes back.
    auto Deliver = [&](int Buffers) {
        for (int I = 0; I < Buffers; ++I) {
            const int Adds = Fake.adds;
            returnBuffer(Fake, 4096);
            ASSERT_TRUE(WaitFor([&] { return Fake.adds > Adds; }));
        }
    };
    struct Step {
        const char* Name;
        std::function<void()> Do;
        int Interval;  // ms between reports while this step runs
        QStringList Told;
    };
    const Step Steps[] = {
        {"the first loss and the first failed block are told at once",
         [&] {
             Fake.notify({TWaveInMessage::Dropped, nullptr, 44100 * 4 / 2});
             ASSERT_TRUE(WaitFor([&] { return Controller.Engine().DroppedFrames() > 0; }));
             Deliver(3);  // blocks 1 and 2 (the first buffer after the loss only waits)
         },
         60000,
         {Msg("AudioDropped", {500}), Msg("AnalysisErrors", {1, "bad block"})}},
        {"more within the interval are gathered, not told",
         [&] {
             Fake.notify({TWaveInMessage::Dropped, nullptr, 44100 * 4});
             Fake.notify({TWaveInMessage::Dropped, nullptr, 44100 * 4 / 4});
             ASSERT_TRUE(WaitFor([&] { return Controller.Engine().DroppedFrames() == 44100 / 2 + 44100 + 44100 / 4; }));
             Deliver(5);  // the first waits; four more blocks, two of them failing
             Controller.TimerTimer();
         },
         60000,
         {}},
        {"once the interval has passed the tick tells what gathered",
         [&] { Controller.TimerTimer(); },
         0,
         {Msg("AudioDropped", {1250}), Msg("AnalysisErrors", {2, "bad block"})}},
        {"nothing new, nothing told", [&] { Controller.TimerTimer(); }, 0, {}},
    };
    Posted.clear();
    for (const Step& S : Steps) {
        SCOPED_TRACE(S.Name);
        Controller.FaultReportInterval = S.Interval;
        S.Do();
        EXPECT_EQ(Texts(), S.Told);
        for (const TOndrixMessage& Message : Posted)
            EXPECT_EQ(Message.MsgType, msgError);
        Posted.clear();
    }
    EXPECT_TRUE(Controller.Monitoring());
}

TEST_F(ControllerFixture, OneDetectionPostsItsMessagesInOrder)
{
    TSampleRec* Cue = Add(TSampleType::Signal, 6, "cue");
    Cue->AutoDisable = true;
    Feed(testkit::makeProgramme(2.0));
    // Two programs are told, each with its own message, before the handling goes on.
    QList<int> Told;
    Controller.NotifySampleFound = [&](int Number, std::function<void()> Done) {
        for (const char* Program : {"Automation", "Logger"}) {
            Told.append(Number);
            Controller.AddMessage(msgCommand, Msg("CommandSent", {Number + 1, Program}));
        }
        Done();
    };
    Controller.Enable_BtnClick({0});
    Posted.clear();
    Controller.Find_BtnClick({0});
    EXPECT_EQ(Told, QList<int>({6, 6}));
    EXPECT_EQ(Texts(), QStringList({Msg("CommandSent", {7, "Automation"}), Msg("CommandSent", {7, "Logger"}),
                                    Msg("SampleDisabled", {1, "cue"}), Msg("SampleFound", {7, "cue"})}));
    EXPECT_FALSE(Cue->Enabled);
    EXPECT_TRUE(Cue->Detected);
    EXPECT_FALSE(Controller.Monitoring());
}

TEST_F(ControllerFixture, HandlingGoesOnOnlyOnceEveryProgramHasAnswered)
{
    TSampleRec* Cue = Add(TSampleType::Signal, 0, "cue");
    Feed(testkit::makeProgramme(2.0));
    std::function<void()> Answer;
    Controller.NotifySampleFound = [&](int, std::function<void()> Done) { Answer = std::move(Done); };
    Controller.SetSampleEnabled(Cue, true, true);
    Posted.clear();
    Controller.Find_BtnClick({0});
    RunFor(200);
    EXPECT_TRUE(Posted.isEmpty());
    ASSERT_TRUE(Answer);
    Answer();
    EXPECT_EQ(Texts(), QStringList({Msg("SampleFound", {1, "cue"})}));
}

// The feed: a jingle at about 5 s and 15 s, dead air from 9 to 12 s.
class FeedFixture : public ControllerFixture {
protected:
    const testkit::Pcm Jingle = testkit::playPhrase(testkit::makePhrase(3, 12, 0.15));

    void SetUp() override
    {
        ControllerFixture::SetUp();
        testkit::Pcm Programme = testkit::makeProgramme(20.0);
        testkit::mixAt(Programme, Jingle, 108 * Block);
        testkit::mixAt(Programme, Jingle, 323 * Block);
        testkit::silence(Programme, 9.0, 3.0);
        Feed(Programme);
    }
    TSampleRec* AddDeadAir(int Number)
    {
        TSampleRec* Air = Add(TSampleType::Silence, Number, "Dead air");
        Air->SignalTime = 2.0;
        Air->SignaldB = -50;
        return Air;
    }
    void RunToEnd()
    {
        ASSERT_TRUE(WaitFor([this] { return InputEnds > 0; })) << Texts().join("\n").toStdString();
    }
};

TEST_F(FeedFixture, AClipThatSwitchesItselfOffFiresOnceTheOtherEveryTime)
{
    TSampleRec* Once = AddClip(0, "Once", Jingle, "jingle.wav");
    Once->AutoDisable = true;
    TSampleRec* Always = AddClip(1, "Always", Jingle, "jingle.wav");
    QList<int> Handled;
    QObject::connect(&Controller, &TMonitorController::DetectionHandled, [&](int Number) { Handled.append(Number); });
    Controller.Enable_All_BtnClick();
    RunToEnd();
    ASSERT_TRUE(WaitFor([&] { return Handled.size() >= 3; }));
    RunFor(100);
    EXPECT_EQ(Handled, QList<int>({0, 1, 1}));
    EXPECT_EQ(Count(Msg("SampleFound", {1, "Once"})), 1);
    EXPECT_EQ(Count(Msg("SampleFound", {2, "Always"})), 2);
    EXPECT_FALSE(Once->Enabled);
    EXPECT_TRUE(Always->Enabled);
    EXPECT_TRUE(Controller.Monitoring());
}

TEST_F(FeedFixture, ADelayedDetectionLetsAnotherSampleBeHandledMeanwhile)
{
    TSampleRec* Late = AddClip(0, "Jingle", Jingle, "jingle.wav");
    Late->SampleWait = 8000;
    Late->AutoDisable = true;
    AddDeadAir(1)->AutoDisable = true;
    QList<int> Handled;
    QObject::connect(&Controller, &TMonitorController::DetectionHandled, [&](int Number) { Handled.append(Number); });
    int LevelsDuringWait = 0;
    QObject::connect(&Controller, &TMonitorController::LevelsChanged, [&] { ++LevelsDuringWait; });
    Controller.Enable_All_BtnClick();
    // The jingle comes first in the feed, the dead air later: the jingle's handling is still
    // waiting when the dead air's is done, and the audio went on being analysed.
    ASSERT_TRUE(WaitFor([&] { return Handled.size() == 1; }));
    EXPECT_EQ(Handled, QList<int>({1}));
    EXPECT_FALSE(Late->Detected);
    EXPECT_GT(LevelsDuringWait, 100);
    ASSERT_TRUE(WaitFor([&] { return Handled.size() == 2; }));
    RunToEnd();
    RunFor(100);
    // The rebuild after the dead air kept the jingle's sequence as it was, found and held,
    // during its delay; its second playing is not a second detection.
    EXPECT_EQ(Handled, QList<int>({1, 0}));
    EXPECT_EQ(Count(Msg("SampleFound", {1, "Jingle"})), 1);
}

// Ten minutes of dead air, a noise floor at -60 dBFS RMS between music, scanned on the stream's
// clock. A silence sample of -50 dB held 3 s that alarms once and reminds every 3 minutes is
// found once (one notification, one "found"), reminds 3, 6 and 9 minutes after, and ends once
// with the outage's length, told to the external programs and in a message. A sample of a list
// without the keys goes on being found every SignalTime, as it always was.
TEST_F(ControllerFixture, TenMinutesOfDeadAirAlarmOnceRemindAndEndWithTheirLength)
{
    FeedStretches({{testkit::makeMusicLike(5, 1, -20), 1},
                   {testkit::makeNoiseFloor(1, -60), 600},
                   {testkit::makeMusicLike(5, 2, -20), 1}});
    TSampleRec* Alarm = Add(TSampleType::Silence, 0, "Dead air");
    Alarm->SignaldB = -50;
    Alarm->SignalTime = 3;
    Alarm->LevelMode = TLevelMode::Rms;
    Alarm->AlarmOnce = true;
    Alarm->RemindMinutes = 3;
    TSampleRec* Old = Add(TSampleType::Silence, 1, "Old list");
    Old->SignaldB = -50;
    Old->SignalTime = 3;
    QList<int> Notified, Ended;
    Controller.NotifySampleFound = [&](int Number, std::function<void()> Done) {
        Notified.append(Number);
        Done();
    };
    Controller.NotifySampleEnded = [&](int Number) { Ended.append(Number); };
    Controller.Enable_All_BtnClick();
    ASSERT_TRUE(WaitFor([this] { return InputEnds > 0; }));
    RunFor(200);

    EXPECT_EQ(Count(Msg("SampleFound", {1, "Dead air"})), 1);
    EXPECT_EQ(Count(Msg("SampleReminder", {1, "Dead air", "0:03:03"})), 1);
    EXPECT_EQ(Count(Msg("SampleReminder", {1, "Dead air", "0:06:03"})), 1);
    EXPECT_EQ(Count(Msg("SampleReminder", {1, "Dead air", "0:09:03"})), 1);
    EXPECT_EQ(Count(Msg("SampleEnded", {1, "Dead air", "0:10:00"})), 1);
    // Each message's text up to where the length stands.
    auto Before = [](const char* Key) {
        const QString Text = Msg(Key, {1, "Dead air", QStringLiteral("\x01")});
        return Text.left(Text.indexOf(u'\x01'));
    };
    int Reminders = 0, Ends = 0;
    for (const TOndrixMessage& Message : Posted) {
        const bool Reminder = Message.Text.startsWith(Before("SampleReminder"));
        const bool End = Message.Text.startsWith(Before("SampleEnded"));
        Reminders += Reminder ? 1 : 0;
        Ends += End ? 1 : 0;
        // Logged and mailed as the find is.
        if (Reminder || End) {
            EXPECT_EQ(Message.MsgType, msgSampleDetect) << Message.Text.toStdString();
        }
    }
    EXPECT_EQ(Reminders, 3);
    EXPECT_EQ(Ends, 1);
    EXPECT_EQ(Ended, QList<int>({0}));
    EXPECT_EQ(Notified.count(0), 1);
    // Found after 3 s and again after every further 3 s (and two blocks) of the ten minutes.
    EXPECT_EQ(Count(Msg("SampleFound", {2, "Old list"})), 195);
    EXPECT_EQ(Notified.count(1), 195);
}

// Automation switches samples all day. Switching one sample on and off, or reloading, while
// another's jingle, command or dead air is under way must neither lose nor delay its
// detection: each run finds the same samples in the same blocks as a run left alone.
TEST_F(ControllerFixture, SwitchingOrReloadingKeepsTheMatchesUnderWayOfTheOtherSamples)
{
    ASSERT_TRUE(LoadFrequencyTable(FrequencyTable, ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini"));
    const testkit::Pcm Jingle = testkit::playPhrase(testkit::makePhrase(3, 12, 0.15));
    testkit::Pcm Programme = testkit::makeProgramme(16.0);
    testkit::mixAt(Programme, Jingle, 2.0);
    testkit::mixAt(Programme, testkit::makeDtmf("159", 0.12, 0.06), 6.0);
    testkit::silence(Programme, 9.0, 3.0);
    Feed(Programme);
    AddClip(0, "Jingle", Jingle, "jingle.wav");
    TSampleRec* Cue = Add(TSampleType::Command, 1, "Cue");
    Cue->Command = "1,5,9";
    Cue->CommandSpeed = 5;
    TSampleRec* Air = Add(TSampleType::Silence, 2, "Dead air");
    Air->SignalTime = 2.0;
    Air->SignaldB = -50;
    // The sample that automation keeps switching: a clip the feed does not hold, so that the
    // clips watched change with every switch.
    TSampleRec* Switched = AddClip(3, "Switched", testkit::makeClip(7, 1.0), "other.wav");
    Controller.Enable_BtnClick({0, 1, 2});

    // Every detection: the sample and the block it was found in, counted from the start.
    using TFound = QList<QPair<int, double>>;
    TFound Found;
    TAudioDetector& Engine = Controller.Engine();
    const auto Handler = Engine.OnSequenceFound;
    Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
        Found.append({Sequence.Number, std::round((Engine.StreamTime() - Engine.StreamStart()) * 86400 / Block)});
        Handler(Sequence);
    };
    // What is done every fifth block (about 0.23 s), before the block is analysed: between two
    // blocks, as a request from the socket comes in between two turns of the capture. (The
    // feed comes as fast as it is taken, in one drain of the queue: a queued call would only
    // run at its end.)
    const auto Run = [&](const std::function<void()>& Interference) {
        Found.clear();
        InputEnds = 0;
        int Blocks = 0;
        Engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) {
            if (Interference && ++Blocks % 5 == 0)
                Interference();
        };
        Controller.RestartMonitoring();
        EXPECT_TRUE(WaitFor([this] { return InputEnds > 0; })) << Texts().join("\n").toStdString();
        RunFor(50);
        return Found;
    };
    const TFound Alone = Run(nullptr);
    ASSERT_EQ(Alone.size(), 3) << Texts().join("\n").toStdString();
    EXPECT_EQ((QList<int>{Alone[0].first, Alone[1].first, Alone[2].first}), (QList<int>{0, 1, 2}));

    const struct {
        const char* Name;
        std::function<void()> Interference;
    } Cases[] = {
        {"on N / off N", [&] { Controller.RemoteSetSampleEnabled(3, !Switched->Enabled, true); }},
        {"reload", [&] { Controller.RemoteReloadEngine(); }},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        EXPECT_EQ(Run(Case.Interference), Alone);
    }
    Engine.OnBufferFilled = nullptr;
}

// Automation switching another sample and reloading while dead air goes on does not start a
// new episode: a minute of it is still one find and one end of 0:01:00.
TEST_F(ControllerFixture, ReloadingDuringDeadAirKeepsItOneEpisode)
{
    FeedStretches({{testkit::makeMusicLike(3, 1, -20), 1}, {testkit::makeNoiseFloor(1, -60), 60},
                   {testkit::makeMusicLike(3, 2, -20), 1}});
    TSampleRec* Alarm = Add(TSampleType::Silence, 0, "Dead air");
    Alarm->SignaldB = -50;
    Alarm->SignalTime = 3;
    Alarm->LevelMode = TLevelMode::Rms;
    Alarm->AlarmOnce = true;
    TSampleRec* Switched = AddClip(1, "Switched", testkit::makeClip(7, 1.0), "other.wav");
    Controller.Enable_BtnClick({0});
    int Blocks = 0;
    // Every 200th block (about 4.6 s), between two blocks as a request from the socket comes.
    Controller.Engine().OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) {
        if (++Blocks % 200 == 0)
            Controller.RemoteSetSampleEnabled(1, !Switched->Enabled, true);
    };
    ASSERT_TRUE(WaitFor([this] { return InputEnds > 0; }));
    RunFor(100);
    Controller.Engine().OnBufferFilled = nullptr;
    EXPECT_GT(Blocks, 2000);
    EXPECT_EQ(Count(Msg("SampleFound", {1, "Dead air"})), 1) << Texts().join("\n").toStdString();
    EXPECT_EQ(Count(Msg("SampleEnded", {1, "Dead air", "0:01:00"})), 1) << Texts().join("\n").toStdString();
}

TEST_F(ControllerFixture, ASampleDeletedDuringItsDelayIsLeftAlone)
{
    TSampleRec* Late = Add(TSampleType::Signal, 0, "late");
    Late->SampleWait = 300;
    Late->FileExecute = Data.Path("never.sh");
    WriteScript(Data.Root.file("never.sh"), "touch '" + Data.Root.file("ran") + "'\n");
    Add(TSampleType::Signal, 1, "stays");
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_All_BtnClick();
    int Handled = 0;
    QObject::connect(&Controller, &TMonitorController::DetectionHandled, [&] { ++Handled; });
    Controller.Find_BtnClick({0});
    Controller.DelSample_BtnClick({0}, [] { return true; });
    RunFor(800);
    EXPECT_EQ(Handled, 0);
    EXPECT_EQ(Count(Msg("SampleFound", {1, "late"})), 0);
    EXPECT_FALSE(QFileInfo::exists(Data.Path("ran")));
}

TEST_F(ControllerFixture, DeletingAsksOnceAndNoKeepsEverything)
{
    for (int I = 0; I < 4; ++I)
        Add(TSampleType::Silence, I, QString("s%1").arg(I));
    Feed(testkit::makeProgramme(2.0));
    Controller.Configuration().SamplesLoaded = true;
    Controller.Enable_BtnClick({2});
    int Asked = 0;
    Controller.DelSample_BtnClick({1, 2}, [&] { ++Asked; return false; });
    EXPECT_EQ(Asked, 1);
    EXPECT_EQ(Controller.Samples().Count(), 4);
    Controller.DelSample_BtnClick({}, [&] { ++Asked; return true; });
    EXPECT_EQ(Asked, 1);
    Controller.DelSample_BtnClick({2, 1}, [&] { ++Asked; return true; });
    EXPECT_EQ(Asked, 2);
    ASSERT_EQ(Controller.Samples().Count(), 2);
    EXPECT_EQ(Controller.Samples()[0]->Description, "s0");
    EXPECT_EQ(Controller.Samples()[1]->Description, "s3");
    // The deleted sample was on: the engine was rebuilt without it and stopped.
    EXPECT_FALSE(Controller.Monitoring());
    TSampleList Saved;
    ASSERT_TRUE(Saved.LoadFromFile(Data.Settings->SamplesFile));
    EXPECT_EQ(Saved.Count(), 2);
}

TEST_F(ControllerFixture, AddingAndEditingSaveTheListAndRebuildOnlyForASampleThatIsOn)
{
    Controller.Configuration().SamplesLoaded = true;
    Feed(testkit::makeProgramme(2.0));
    Controller.AddSample_BtnClick([](TSampleRec&) { return false; });
    EXPECT_EQ(Controller.Samples().Count(), 0);
    for (const int Number : {5, 2}) {
        Controller.AddSample_BtnClick([Number](TSampleRec& Sample) {
            Sample.Type = TSampleType::Signal;
            Sample.Number = Number;
            Sample.Description = QString("n%1").arg(Number);
            return true;
        });
    }
    ASSERT_EQ(Controller.Samples().Count(), 2);
    EXPECT_EQ(Controller.Samples()[0]->Number, 2);  // sorted in
    EXPECT_FALSE(Controller.Samples()[0]->Enabled);
    EXPECT_FALSE(Controller.Monitoring());

    Controller.Enable_BtnClick({1});
    ASSERT_NE(Controller.Samples()[1]->Sequence, nullptr);
    EXPECT_EQ(Controller.Samples()[1]->Sequence->Duration, 5000);
    int Rebuilds = 0;
    QObject::connect(&Controller, &TMonitorController::Tick, [&] { ++Rebuilds; });
    Controller.SampleProp_BtnClick({0}, [](TSampleRec& Sample) { Sample.Description = "off, edited"; return true; });
    EXPECT_EQ(Rebuilds, 0);
    Controller.SampleProp_BtnClick({1}, [](TSampleRec& Sample) { Sample.SignalTime = 1.0; return true; });
    EXPECT_EQ(Rebuilds, 1);
    ASSERT_NE(Controller.Samples()[1]->Sequence, nullptr);
    EXPECT_EQ(Controller.Samples()[1]->Sequence->Duration, 1000);
    TSampleList Saved;
    ASSERT_TRUE(Saved.LoadFromFile(Data.Settings->SamplesFile));
    ASSERT_EQ(Saved.Count(), 2);
    EXPECT_EQ(Saved[0]->Description, "off, edited");
    EXPECT_EQ(Saved[1]->SignalTime, 1.0);
}

TEST_F(ControllerFixture, AutomaticStartSwitchesOnTheMarkedSamples)
{
    Add(TSampleType::Silence, 0, "manual");
    Add(TSampleType::Silence, 1, "auto")->AutoStart = true;
    Feed(testkit::makeProgramme(2.0));
    Controller.AutoStartSamples();
    EXPECT_FALSE(Controller.Samples()[0]->Enabled);
    EXPECT_TRUE(Controller.Samples()[1]->Enabled);
    EXPECT_TRUE(Controller.Monitoring());
}

TEST(FileExecuteTest, SplitsTheTextLikeACommandLine)
{
    struct Case {
        QString Text;
        QStringList Tokens;
    };
    const QString Long(300, u'x');
    const Case Cases[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"/opt/tools/alarm /loud \"a b\"", {"/opt/tools/alarm", "/loud", "a b"}},
        {"\"/opt/my tools/alarm\"\t-x", {"/opt/my tools/alarm", "-x"}},
        {"ab\"c d\"e f", {"abc de", "f"}},
        {"\"unclosed quote", {"unclosed quote"}},
        {"a \"\" b", {"a", "", "b"}},
        {Long + " z", {Long, "z"}},  // never cut short
    };
    for (const Case& C : Cases)
        EXPECT_EQ(SplitCommandTokens(C.Text), C.Tokens) << C.Text.toStdString();
}

TEST_F(ControllerFixture, ADetectionRunsItsFileWithItsArgumentsAndNoShell)
{
    const std::string Folder = Data.Root.file("my tools");
    QDir().mkpath(QString::fromStdString(Folder));
    const std::string Record = Data.Root.file("record.txt");
    WriteScript(Folder + "/alarm.sh", "pwd > '" + Record + ".tmp'\nfor A in \"$@\"; do echo \"$A\" >> '" + Record +
                                          ".tmp'; done\nmv '" + Record + ".tmp' '" + Record + "'\n");
    TSampleRec* Cue = Add(TSampleType::Signal, 0, "cue");
    Cue->FileExecute = "\"" + QString::fromStdString(Folder) + "/alarm.sh\" /loud \"a b\" ';rm' $HOME";
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_BtnClick({0});
    Controller.Find_BtnClick({0});
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(QString::fromStdString(Record)); }));
    EXPECT_EQ(ReadLines(Record), QStringList({QString::fromStdString(Folder), "/loud", "a b", "';rm'", "$HOME"}));
    EXPECT_EQ(Texts().last(), Msg("SampleFound", {1, "cue"}));
}

TEST_F(ControllerFixture, AFileThatCannotRunIsReportedAndTheDetectionStillCounts)
{
    TSampleRec* Cue = Add(TSampleType::Signal, 0, "cue");
    Cue->FileExecute = Data.Path("missing.sh") + " now";
    Feed(testkit::makeProgramme(2.0));
    Controller.Enable_BtnClick({0});
    Posted.clear();
    Controller.Find_BtnClick({0});
    ASSERT_EQ(Posted.size(), 2);
    EXPECT_EQ(Posted[0].MsgType, msgError);
    EXPECT_TRUE(Posted[0].Text.contains(Data.Path("missing.sh"))) << Posted[0].Text.toStdString();
    EXPECT_EQ(Posted[1].Text, Msg("SampleFound", {1, "cue"}));
}

TEST_F(ControllerFixture, AFileThatIsNotAProgramOpensWithItsAssociatedProgram)
{
    // The desktop's opener, recorded: the document is opened, its arguments are not passed.
    const std::string Bin = Data.Root.file("bin");
    QDir().mkpath(QString::fromStdString(Bin));
    const std::string Record = Data.Root.file("opened.txt");
    WriteScript(Bin + "/xdg-open", "echo \"$@\" > '" + Record + ".tmp'; mv '" + Record + ".tmp' '" + Record + "'\n");
    const QByteArray SavedPath = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(Bin) + ":" + SavedPath);
    testkit::writeText(Data.Root.file("alarm sound.wav"), "not really");
    QString Error;
    const bool Started = FileExecute("\"" + Data.Path("alarm sound.wav") + "\" /loud", &Error);
    qputenv("PATH", SavedPath);
    ASSERT_TRUE(Started) << Error.toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(QString::fromStdString(Record)); }));
    EXPECT_EQ(ReadLines(Record), QStringList({Data.Path("alarm sound.wav")}));
}

TEST_F(ControllerFixture, ASampleWithValuesThatDoNotParseIsNamedAndWaitsForTheOperator)
{
    const std::string Bad = "Description=Dead air\r\nNumber=1\r\nType=Silence\r\nSignaldB=-50dB\r\nSignalTime=2\r\n"
                            "AutoStart=TRUE\r\n";
    const std::string File = Data.Settings->SamplesFile.toStdString();
    std::filesystem::create_directories(std::filesystem::path(File).parent_path());
    testkit::writeText(File, "[Samples]\r\nDescription=Good\r\nNumber=0\r\nType=Silence\r\nAutoStart=TRUE\r\n\r\n" + Bad);
    QStringList Reported;
    THeadlessSettingsQuestions Questions([&Reported](const QString& Text) { Reported << Text; });
    ASSERT_TRUE(Controller.LoadSettings(Questions)) << Reported.join('\n').toStdString();

    const QString Warning = Msg("SampleNotRead", {2, "Dead air", Msg("SampleValueNotRead", {"SignaldB", "-50dB"})});
    ASSERT_EQ(Count(Warning), 1) << Texts().join('\n').toStdString();
    EXPECT_EQ(Posted[int(Texts().indexOf(Warning))].MsgType, msgError);
    Feed(testkit::makeProgramme(2.0));
    Controller.AutoStartSamples();
    EXPECT_TRUE(Controller.Samples()[0]->Enabled);
    EXPECT_FALSE(Controller.Samples()[1]->Enabled);

    // Another sample is edited and the list saved: the record keeps the file's own lines.
    Controller.SampleProp_BtnClick({0}, [](TSampleRec& Sample) {
        Sample.Description = "Good one";
        return true;
    });
    const std::string Saved = testkit::readText(File);
    EXPECT_NE(Saved.find("Description=Good one\r\n"), std::string::npos) << Saved;
    EXPECT_NE(Saved.find(Bad), std::string::npos) << Saved;
}
