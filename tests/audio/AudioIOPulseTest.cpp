// Live capture from a real sound server (a private one per test): PulseAudio, and PipeWire
// through its PulseAudio interface.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "audio/AudioIO.h"
#include "helpers/QueueDrain.h"
#include "helpers/PulseServer.h"
#include "helpers/TestFiles.h"

namespace {

struct PulseCapture : ::testing::TestWithParam<testkit::SoundServer> {
    testkit::PulseServer server{GetParam()};
    TMainThreadQueue queue;
    TAudioIn in{queue};
    int peak = 0;
    size_t bytes = 0;
    int ended = 0;
    bool lost = false;

    void SetUp() override
    {
        in.SetStereo(true);
        in.SetFrameRate(44100);
        in.SetBufferSize(4096);
        in.OnBufferFilled = [this](TAudioIn&, const uint8_t* L, const uint8_t*, uint16_t size) {
            bytes += size;
            for (size_t i = 0; i + 1 < size; i += 2) {
                int16_t v;
                std::memcpy(&v, L + i, 2);
                peak = std::max(peak, std::abs(int(v)));
            }
        };
        in.OnEnded = [this](TAudioIn&, bool l) {
            ++ended;
            lost = l;
        };
    }
    // Drains until the condition holds; false after the timeout.
    bool drainUntil(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(10))
    {
        return testkit::drainUntil(queue, done, timeout);
    }
};

}  // namespace

TEST_P(PulseCapture, ListsSourcesInServerOrderByDescription)
{
    EXPECT_EQ(GetWaveInDevices(), (std::vector<std::string>{"Monitor of Feed", "Mic"}));
}

TEST_P(PulseCapture, RecordsWhatIsPlayedIntoTheFeed)
{
    testkit::Pcm pcm;
    pcm.appendTones(0.5, {1000.0}, 0.5);
    testkit::writeWav(server.folder() + "/tone.wav", pcm);
    for (int device : {-1, 0}) {
        peak = 0;
        bytes = 0;
        in.SetWaveDevice(device);
        ASSERT_TRUE(in.Start()) << in.ErrorText();
        EXPECT_TRUE(in.Active());
        server.play(server.folder() + "/tone.wav");
        EXPECT_TRUE(drainUntil([&] { return peak > 10000; })) << "device " << device << " peak " << peak;
        EXPECT_EQ(bytes % 4096, 0u);
        in.Stop();
        EXPECT_FALSE(in.Active());
    }
}

TEST_P(PulseCapture, NonexistentDeviceFailsWithTheServersText)
{
    in.SetWaveDevice(7);
    EXPECT_FALSE(in.Start());
    EXPECT_EQ(in.ErrorText(), WaveInErrorText(5 /* no such entity */));
    EXPECT_FALSE(in.Active());
    EXPECT_FALSE(in.DeviceOpen());
}

TEST_P(PulseCapture, NoServerMeansNoDevicesAndAFailedStart)
{
    server.stop();
    EXPECT_TRUE(GetWaveInDevices().empty());
    EXPECT_FALSE(in.Start());
    EXPECT_FALSE(in.ErrorText().empty());
}

TEST_P(PulseCapture, StoppedServerIsReportedAsLost)
{
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    ASSERT_TRUE(drainUntil([&] { return bytes > 0; }));
    server.stop();
    ASSERT_TRUE(drainUntil([&] { return ended > 0; }));
    EXPECT_TRUE(lost);
    EXPECT_FALSE(in.Active());
    EXPECT_FALSE(in.DeviceOpen());
    EXPECT_FALSE(in.ErrorText().empty());
    // And it can be opened again once the server is back.
    server.start();
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    bytes = 0;
    EXPECT_TRUE(drainUntil([&] { return bytes > 0; }));
    in.Stop();
}

TEST_P(PulseCapture, AudioLostWhileTheMainThreadIsBusyIsReportedAfterTheAudioBeforeIt)
{
    std::vector<uint32_t> drops;
    size_t bytesBeforeDrop = 0;
    in.OnDropped = [&](TAudioIn&, uint32_t frames) {
        drops.push_back(frames);
        if (drops.size() == 1)
            bytesBeforeDrop = bytes;
    };
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    ASSERT_TRUE(drainUntil([&] { return bytes >= 8192; }));
    // The main thread is busy elsewhere for three seconds: the capture holds half a second of
    // audio for it and loses the rest.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const size_t bytesAtBusyEnd = bytes;
    ASSERT_TRUE(drainUntil([&] { return !drops.empty(); }, std::chrono::seconds(30)));
    // The held half second came first, in whole buffers, then the report of the loss.
    EXPECT_GE(bytesBeforeDrop - bytesAtBusyEnd, size_t(44100 * 4 / 2));
    EXPECT_GT(drops[0], 0u);
    // Capture goes on after the loss.
    const size_t after = bytes;
    EXPECT_TRUE(drainUntil([&] { return bytes >= after + 8192; }));
    EXPECT_EQ(bytes % 4096, 0u);
    in.Stop();
}

INSTANTIATE_TEST_SUITE_P(SoundServers, PulseCapture,
                         ::testing::Values(testkit::SoundServer::PulseAudio, testkit::SoundServer::PipeWire),
                         [](const auto& Info) { return testkit::soundServerName(Info.param); });
