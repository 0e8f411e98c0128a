// The engine on a real sound server (PulseAudio, and PipeWire through its PulseAudio interface):
// device names, detection of what is played into the feed, a device that does not exist, a
// server that goes away and comes back, and one that is not there yet when monitoring starts.

#include <gtest/gtest.h>

#include "audio/AudioDetector.h"
#include "helpers/QueueDrain.h"
#include "helpers/Broadcast.h"
#include "helpers/PulseServer.h"
#include "helpers/TestFiles.h"

namespace {

struct PulseEngine : ::testing::TestWithParam<testkit::SoundServer> {
    testkit::PulseServer server{GetParam()};
    TMainThreadQueue queue;
    TAudioDetector engine{queue};

    // Drains until the condition holds; false after the timeout.
    bool drainUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(15))
    {
        return testkit::drainUntil(queue, done, timeout);
    }
};

}  // namespace

TEST_P(PulseEngine, DeviceNamesAreTheServersSources)
{
    EXPECT_EQ(engine.DeviceNames(), (std::vector<std::string>{"Monitor of Feed", "Mic"}));
}

TEST_P(PulseEngine, NonexistentDeviceLeavesTheEngineInactive)
{
    engine.DeviceIndex = 5;
    engine.Sequences.AddNew().Kind = skSilence;
    EXPECT_FALSE(engine.Start());
    EXPECT_FALSE(engine.Active());
    EXPECT_FALSE(engine.ErrorText.empty());
}

TEST_P(PulseEngine, CaptureComesBackAfterTheServerRestarts)
{
    int lost = 0, restored = 0, blocks = 0;
    engine.DeviceIndex = 1;  // "Mic"
    engine.OnCaptureLost = [&](TAudioDetector&) { ++lost; };
    engine.OnCaptureRestored = [&](TAudioDetector&) { ++restored; };
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) { ++blocks; };
    engine.Sequences.AddNew().Kind = skSilence;
    ASSERT_TRUE(engine.Start()) << engine.ErrorText;
    ASSERT_TRUE(drainUntil([&] { return blocks > 2; }));

    server.stop();
    ASSERT_TRUE(drainUntil([&] { return lost == 1; }));
    EXPECT_TRUE(engine.Active());
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
    EXPECT_FALSE(engine.ErrorText.empty());

    server.start();
    ASSERT_TRUE(drainUntil([&] { return restored == 1; }));
    blocks = 0;
    EXPECT_TRUE(drainUntil([&] { return blocks > 2; }));
    EXPECT_EQ(lost, 1);
    engine.Stop();
}

TEST_P(PulseEngine, ACaptureStartedBeforeTheServerRunsOnceTheServerIsUp)
{
    int failed = 0, restored = 0, blocks = 0;
    engine.RetryFailedStart = true;
    engine.DeviceName = "Mic";
    engine.OnCaptureFailed = [&](TAudioDetector&) { ++failed; };
    engine.OnCaptureRestored = [&](TAudioDetector&) { ++restored; };
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) { ++blocks; };
    engine.Sequences.AddNew().Kind = skSilence;
    server.stop();
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(engine.CaptureFault(), TCaptureFault::NoServer) << engine.ErrorText;
    EXPECT_FALSE(engine.CaptureOpen());
    drainUntil([] { return false; }, std::chrono::seconds(1));  // a few attempts fail meanwhile
    server.start();
    ASSERT_TRUE(drainUntil([&] { return restored == 1; }));
    EXPECT_TRUE(drainUntil([&] { return blocks > 2; }));
    EXPECT_EQ(failed, 1);
    engine.Stop();
}

TEST_P(PulseEngine, ADeviceNameTheServerDoesNotListIsNoDevice)
{
    engine.RetryFailedStart = true;
    engine.DeviceName = "Studio Feed";
    engine.Sequences.AddNew().Kind = skSilence;
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(engine.CaptureFault(), TCaptureFault::NoDevice) << engine.ErrorText;
    EXPECT_FALSE(engine.CaptureOpen());
    engine.Stop();
}

TEST_P(PulseEngine, HearsAJingleAndTheSilenceAfterIt)
{
    // A jingle of two long notes: a live start falls anywhere within a block, and long notes
    // keep the match independent of that (see ScanFixture.JingleIsFoundWhereverItStarts).
    const testkit::Pcm clip = testkit::makeClip(3, 1.5, 0.75);
    testkit::writeWav(server.folder() + "/jingle.wav", clip);
    testkit::Pcm programme = testkit::makeProgramme(3.5);
    testkit::mixAt(programme, clip, 1.0);
    testkit::writeWav(server.folder() + "/programme.wav", programme);

    auto jingle = engine.BuildFromFile(server.folder() + "/jingle.wav", 4, 50, false, TSignalMode::Left);
    const double clipSpan = jingle->Samples.Count() * 2048.0 / 44100;
    jingle->Number = 1;
    engine.Sequences.Add(std::move(jingle));
    TAudioSequence& air = engine.Sequences.AddNew();
    air.Kind = skSilence;
    air.Level = -60;
    air.Duration = 1500;
    air.Number = 2;
    air.Hold = true;

    const double block = 2048.0 / 44100;
    double onset = -1;
    std::vector<std::pair<int32_t, double>> found;
    engine.OnVolumeChange = [&](TAudioDetector& sender, int32_t, int32_t, double left, double right) {
        if (onset < 0 && std::max(left, right) > -40)
            onset = double(sender.StreamFrames()) / 44100;
    };
    engine.OnSequenceFound = [&](TAudioSequence& s) { found.emplace_back(s.Number, double(engine.StreamFrames()) / 44100); };
    engine.DeviceIndex = 0;  // "Monitor of Feed"
    ASSERT_TRUE(engine.Start()) << engine.ErrorText;
    const pid_t player = server.playAsync(server.folder() + "/programme.wav");
    // The silence comes last: a second detection of the jingle would show up before it.
    EXPECT_TRUE(drainUntil([&] { return found.size() >= 2; }));
    EXPECT_EQ(testkit::PulseServer::waitFor(player), 0);
    engine.Stop();

    ASSERT_GE(onset, 0);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].first, 1);
    // The jingle ends with its last whole block, 1 s into the programme; the onset was seen
    // in the first block that reached into the programme.
    EXPECT_NEAR(found[0].second - onset, 1.0 + clipSpan, 2 * block);
    EXPECT_EQ(found[1].first, 2);
    EXPECT_NEAR(found[1].second - onset, 3.5 + block + 1.5, 3 * block);
}

INSTANTIATE_TEST_SUITE_P(SoundServers, PulseEngine,
                         ::testing::Values(testkit::SoundServer::PulseAudio, testkit::SoundServer::PipeWire),
                         [](const auto& Info) { return testkit::soundServerName(Info.param); });
