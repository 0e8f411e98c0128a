// Listening to a clip in the sample dialog: what PlayBut sends reaches a real PulseAudio server
// sample for sample (recorded from the output's monitor), Stop ends it at once, and a missing
// file plays nothing.

#include "samples/Form_SampleProp.h"
#include "audio/AudioPlay.h"
#include "audio/cbAudioFileRead.h"

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/TestFiles.h"

#include <QElapsedTimer>
#include <QList>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <csignal>
#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

// The clip's PCM as the program's reader decodes it.
std::vector<int16_t> Decode(const std::string& File)
{
    TcbAudioFileReader Reader;
    Reader.Open(File);
    std::vector<int16_t> Samples;
    std::vector<int16_t> Block(8192);
    for (;;) {
        const int32_t Got = Reader.Read(Block.data(), int32_t(Block.size() * 2));
        Samples.insert(Samples.end(), Block.begin(), Block.begin() + Got / 2);
        if (Got < int32_t(Block.size() * 2))
            break;
    }
    return Samples;
}

std::vector<int16_t> ReadRaw(const std::string& File)
{
    std::ifstream In(File, std::ios::binary);
    std::vector<char> Bytes((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>());
    std::vector<int16_t> Samples(Bytes.size() / 2);
    std::memcpy(Samples.data(), Bytes.data(), Samples.size() * 2);
    return Samples;
}

// Which 10 ms blocks of Expected appear sample for sample in Recorded. The monitor of the test
// server's null sink renders a little ahead; when a stream starts, the server rewinds and
// renders those milliseconds again, so the first 50 ms of a clip may be recorded garbled or
// twice. Every later block must be there, in order.
struct TBlockMatch {
    int Blocks = 0;
    QList<int> Missing;  // start of each missing block, in ms
    bool InOrder = true;
};

TBlockMatch MatchBlocks(const std::vector<int16_t>& Recorded, const std::vector<int16_t>& Expected)
{
    constexpr size_t Block = 441 * 2;  // 10 ms of stereo at 44100 Hz
    constexpr size_t Exempt = 5 * Block;
    TBlockMatch Result;
    ptrdiff_t Previous = -1;
    for (size_t At = Exempt; At + Block <= Expected.size(); At += Block) {
        ++Result.Blocks;
        const auto Found = std::search(Recorded.begin(), Recorded.end(), Expected.begin() + ptrdiff_t(At),
                                       Expected.begin() + ptrdiff_t(At + Block));
        if (Found == Recorded.end()) {
            Result.Missing.append(int(At / Block * 10));
            continue;
        }
        const ptrdiff_t Position = Found - Recorded.begin();
        // A rewind may repeat up to a few blocks; the clip never runs backwards further.
        if (Previous >= 0 && Position < Previous - ptrdiff_t(10 * Block))
            Result.InOrder = false;
        Previous = Position;
    }
    return Result;
}

class SamplePropPlay : public ::testing::Test {
protected:
    testkit::PulseServer Server;
    TSampleList List;
    TFrequencyRecArr Table;

    // Waits with the event loop running until Done holds; false after a generous time-out.
    static bool WaitFor(const std::function<bool()>& Done, int TimeoutMs = 20000)
    {
        QElapsedTimer Timer;
        Timer.start();
        while (!Done()) {
            if (Timer.elapsed() > TimeoutMs)
                return false;
            QTest::qWait(20);
        }
        return true;
    }

    int SinkInputs() { return std::stoi("0" + testkit::PulseServer::output("pactl list short sink-inputs | wc -l")); }
    int SourceOutputs()
    {
        return std::stoi("0" + testkit::PulseServer::output("pactl list short source-outputs | wc -l"));
    }
};

TEST_F(SamplePropPlay, PlayButSendsTheClipToTheServerSampleForSample)
{
    struct Case {
        const char* Name;
        bool Mp3;
    };
    const Case Cases[] = {{"clip.wav", false}, {"clip.mp3", true}};
    for (const Case& C : Cases) {
        const std::string Wav = Server.folder() + "/source.wav";
        testkit::writeWav(Wav, testkit::makeClip(7, 1.2, 0.1));
        const std::string File = Server.folder() + "/" + C.Name;
        if (C.Mp3)
            testkit::encodeMp3(Wav, File);
        else
            std::filesystem::copy_file(Wav, File, std::filesystem::copy_options::overwrite_existing);
        const std::vector<int16_t> Expected = Decode(File);

        const std::string RawFile = Server.folder() + "/recorded.raw";
        const int Before = SourceOutputs();
        const pid_t Recorder = testkit::spawnProcess(
            {"parec", "-d", "feed.monitor", "--raw", "--format=s16le", "--rate=44100", "--channels=2",
             "--latency-msec=20"},
            RawFile);
        ASSERT_TRUE(WaitFor([&] { return SourceOutputs() > Before; })) << C.Name;

        TSampleRec Rec;
        Rec.Type = TSampleType::File;
        Rec.Path = QString::fromStdString(File);
        TSamplePropertyForm Form(nullptr, List, Table);
        bool Played = false, Finished = false;
        QTimer::singleShot(0, &Form, [&] {
            QTest::mouseClick(Form.findChild<QToolButton*>("PlayBut"), Qt::LeftButton);
            Played = Form.MPlayer().Mode() == TAudioPlayer::TMode::Playing;
            Finished = WaitFor([&] { return Form.MPlayer().Mode() == TAudioPlayer::TMode::Stopped; });
            Form.reject();
        });
        Form.Execute(Rec);
        EXPECT_TRUE(Played) << C.Name << ": " << Form.MPlayer().ErrorText;
        EXPECT_TRUE(Finished) << C.Name;
        // Let the monitor deliver the tail, then stop the recorder.
        QTest::qWait(300);
        ::kill(Recorder, SIGTERM);
        testkit::waitForProcess(Recorder);

        const std::vector<int16_t> Recorded = ReadRaw(RawFile);

        const TBlockMatch Match = MatchBlocks(Recorded, Expected);
        EXPECT_EQ(Match.Missing, QList<int>()) << C.Name << ": 10 ms blocks of the clip not heard, of " << Match.Blocks;
        EXPECT_TRUE(Match.InOrder) << C.Name;
    }
}

TEST_F(SamplePropPlay, StopEndsPlayingAndAMissingFilePlaysNothing)
{
    testkit::Pcm Long;
    Long.appendTones(20, {440, 880});
    testkit::writeWav(Server.folder() + "/long.wav", Long);
    TSampleRec Rec;
    Rec.Type = TSampleType::File;
    Rec.Path = QString::fromStdString(Server.folder() + "/long.wav");
    TSamplePropertyForm Form(nullptr, List, Table);
    QTimer::singleShot(0, &Form, [&] {
        QTest::mouseClick(Form.findChild<QToolButton*>("PlayBut"), Qt::LeftButton);
        EXPECT_EQ(Form.MPlayer().Mode(), TAudioPlayer::TMode::Playing) << Form.MPlayer().ErrorText;
        EXPECT_TRUE(WaitFor([&] { return SinkInputs() == 1; }));
        QTest::mouseClick(Form.findChild<QToolButton*>("StopBut"), Qt::LeftButton);
        EXPECT_EQ(Form.MPlayer().Mode(), TAudioPlayer::TMode::Stopped);
        EXPECT_TRUE(WaitFor([&] { return SinkInputs() == 0; }));

        // Playing again after a stop starts from the beginning; closing the dialog stops it.
        QTest::mouseClick(Form.findChild<QToolButton*>("PlayBut"), Qt::LeftButton);
        EXPECT_EQ(Form.MPlayer().Mode(), TAudioPlayer::TMode::Playing);

        Form.findChild<QLineEdit*>("Filename")->setText(QString::fromStdString(Server.folder() + "/none.wav"));
        Form.MPlayer().Stop();
        QTest::mouseClick(Form.findChild<QToolButton*>("PlayBut"), Qt::LeftButton);
        EXPECT_NE(Form.MPlayer().Mode(), TAudioPlayer::TMode::Playing);
        Form.reject();
    });
    Form.Execute(Rec);
    EXPECT_TRUE(WaitFor([&] { return SinkInputs() == 0; }));
}

TEST(AudioPlayer, AFileTheReaderRefusesIsNotReady)
{
    testkit::TempDir Dir;
    testkit::writeText(Dir.file("broken.wav"), "RIFF not really a wave file");
    TAudioPlayer Player;
    EXPECT_FALSE(Player.Open(Dir.file("broken.wav")));
    EXPECT_EQ(Player.Mode(), TAudioPlayer::TMode::NotReady);
    EXPECT_FALSE(Player.ErrorText.empty());
    EXPECT_FALSE(Player.Play());
}

}  // namespace
