// The engine on a real PulseAudio server: device names, detection of what is played into the
// feed, a device that does not exist, and a server that goes away and comes back.

#include <gtest/gtest.h>

#include "audio/AudioDetector.h"
#include "helpers/PulseServer.h"
#include "helpers/TestFiles.h"

namespace {

struct PulseEngine : ::testing::Test {
    testkit::PulseServer server;
    TMainThreadQueue queue;
    TAudioDetector engine{queue};

    // Drains the queue until the condition holds; false after the timeout.
    bool drainUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(15))
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            queue.WaitAndDrain(std::chrono::milliseconds(100));
        }
        return true;
    }
};

}  // namespace

TEST_F(PulseEngine, DeviceNamesAreTheServersSources)
{
    EXPECT_EQ(engine.DeviceNames(), (std::vector<std::string>{"Monitor of Feed", "Mic"}));
}

TEST_F(PulseEngine, NonexistentDeviceLeavesTheEngineInactive)
{
    engine.DeviceIndex = 5;
    engine.Sequences.AddNew().Kind = skSilence;
    EXPECT_FALSE(engine.Start());
    EXPECT_FALSE(engine.Active());
    EXPECT_FALSE(engine.ErrorText.empty());
}

TEST_F(PulseEngine, CaptureComesBackAfterTheServerRestarts)
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
