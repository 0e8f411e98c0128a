// The capture's buffer ring, states, counters and texts, driven through a fake device (the one
// seam that cannot fail on demand with a real server) and through the stream device.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <deque>
#include <thread>
#include <vector>

#include "audio/AudioIO.h"
#include "audio/AudioIOStream.h"
#include "audio/FakeWaveIn.h"
#include "helpers/TestFiles.h"

namespace {

struct CaptureFixture : ::testing::Test {
    TMainThreadQueue queue;
    FakeDevice::State dev;
    std::unique_ptr<TAudioIn> in = std::make_unique<TAudioIn>(queue);
    std::vector<std::pair<uint8_t, uint16_t>> delivered;  // first byte, size
    int starts = 0, stops = 0;

    void SetUp() override
    {
        in->DeviceFactory = [this] { return std::make_unique<FakeDevice>(dev); };
        in->SetStereo(true);
        in->SetFrameRate(44100);
        in->SetBufferSize(4096);
        in->OnBufferFilled = [this](TAudioIn&, const uint8_t* L, const uint8_t*, uint16_t size) {
            delivered.emplace_back(L[0], size);
        };
        in->OnStart = [this](TAudioIO&) { ++starts; };
        in->OnStop = [this](TAudioIO&) { ++stops; };
    }
};

}  // namespace

TEST(AudioIOFormat, ConstructionDefaults)
{
    TAudioIn in;
    EXPECT_EQ(in.NumBuffers(), 4);
    EXPECT_EQ(in.WaveDevice(), -1);
    EXPECT_EQ(in.FrameRate(), 22050);
    EXPECT_EQ(in.Quantization(), 16);
    EXPECT_FALSE(in.Stereo());
    EXPECT_EQ(in.WaveFormat().BlockAlign, 2);
    EXPECT_EQ(in.WaveFormat().AvgBytesPerSec, 44100u);
    EXPECT_EQ(in.BufferSize(), 8192);
    EXPECT_FALSE(in.Active());
    EXPECT_TRUE(in.ErrorText().empty());
}

TEST(AudioIOFormat, SettersKeepValuesInRange)
{
    struct Case {
        const char* what;
        std::function<void(TAudioIn&)> set;
        std::function<int(const TAudioIn&)> get;
        int expected;
    };
    const std::vector<Case> cases = {
        {"buffer 100 -> 512", [](TAudioIn& a) { a.SetBufferSize(100); }, [](const TAudioIn& a) { return int(a.BufferSize()); }, 512},
        {"buffer 4098 stereo -> whole frames",
         [](TAudioIn& a) { a.SetStereo(true); a.SetBufferSize(4098); }, [](const TAudioIn& a) { return int(a.BufferSize()); }, 4096},
        {"8-bit mono keeps odd sizes",
         [](TAudioIn& a) { a.SetQuantization(8); a.SetBufferSize(4097); }, [](const TAudioIn& a) { return int(a.BufferSize()); }, 4097},
        {"buffers 1 -> 2", [](TAudioIn& a) { a.SetNumBuffers(1); }, [](const TAudioIn& a) { return a.NumBuffers(); }, 2},
        {"buffers 9 -> 4", [](TAudioIn& a) { a.SetNumBuffers(9); }, [](const TAudioIn& a) { return a.NumBuffers(); }, 4},
        {"bits 12 -> 16", [](TAudioIn& a) { a.SetQuantization(12); }, [](const TAudioIn& a) { return a.Quantization(); }, 16},
        {"bits 3 -> 8", [](TAudioIn& a) { a.SetQuantization(3); }, [](const TAudioIn& a) { return a.Quantization(); }, 8},
        {"stereo 16-bit 44100 bytes per second",
         [](TAudioIn& a) { a.SetStereo(true); a.SetFrameRate(44100); },
         [](const TAudioIn& a) { return int(a.WaveFormat().AvgBytesPerSec); }, 176400},
    };
    for (const auto& c : cases) {
        TAudioIn in;
        c.set(in);
        EXPECT_EQ(c.get(in), c.expected) << c.what;
    }
}

TEST_F(CaptureFixture, DeliversBuffersInOrderAndQueuesThemAgain)
{
    ASSERT_TRUE(in->Start());
    EXPECT_TRUE(in->Active());
    EXPECT_EQ(in->Queued(), 4);
    EXPECT_EQ(dev.adds, 4);
    for (uint8_t i = 1; i <= 6; ++i) {
        returnBuffer(dev, 4096, i);
        if (i == 4 || i == 6)
            queue.Drain();  // the first four come back before any was handled
    }
    ASSERT_EQ(delivered.size(), 6u);
    for (uint8_t i = 0; i < 6; ++i)
        EXPECT_EQ(delivered[i], std::make_pair(uint8_t(i + 1), uint16_t(4096)));
    EXPECT_EQ(in->Queued(), 4);
    EXPECT_EQ(dev.adds, 10);
    EXPECT_EQ(starts, 1);
}

TEST_F(CaptureFixture, EmptyBufferIsQueuedAgainWithoutEvent)
{
    ASSERT_TRUE(in->Start());
    returnBuffer(dev, 0);
    queue.Drain();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(in->Queued(), 4);
    EXPECT_EQ(dev.adds, 5);
}

TEST_F(CaptureFixture, StopDeliversNothingOfTheReset)
{
    ASSERT_TRUE(in->Start());
    returnBuffer(dev, 4096);  // recorded before the stop, still waiting in the queue
    in->Stop();
    queue.Drain();
    EXPECT_TRUE(delivered.empty());
    EXPECT_FALSE(in->Active());
    EXPECT_FALSE(in->DeviceOpen());
    EXPECT_EQ(dev.adds, 4);
    EXPECT_EQ(dev.closes, 1);
    EXPECT_EQ(stops, 1);
}

TEST_F(CaptureFixture, StartWhileOpenFails)
{
    ASSERT_TRUE(in->Start());
    EXPECT_FALSE(in->Start());
    EXPECT_EQ(in->ErrorText(), "Wave Input device is already open");
    EXPECT_TRUE(in->Active());
}

TEST_F(CaptureFixture, FailuresLeaveTheDeviceClosedWithTheirText)
{
    struct Case {
        const char* what;
        std::function<void(FakeDevice::State&)> arrange;
        std::string text;
        int closes;
    };
    const std::vector<Case> cases = {
        {"open", [](FakeDevice::State& s) { s.openResult = 2; }, "fake error 2", 0},
        {"prepare", [](FakeDevice::State& s) { s.prepareResult = 3; }, "fake error 3", 1},
        {"start", [](FakeDevice::State& s) { s.startResult = 4; }, "Error starting wave record: fake error 4", 1},
        {"queue", [](FakeDevice::State& s) { s.addResultAfter = 2; }, "fake error 7", 1},
    };
    for (const auto& c : cases) {
        dev = {};
        c.arrange(dev);
        EXPECT_FALSE(in->Start()) << c.what;
        EXPECT_EQ(in->ErrorText(), c.text) << c.what;
        EXPECT_FALSE(in->Active()) << c.what;
        EXPECT_FALSE(in->DeviceOpen()) << c.what;
        EXPECT_EQ(dev.closes, c.closes) << c.what;
    }
}

TEST_F(CaptureFixture, FailedRequeueDrainsTheRingAndCloses)
{
    ASSERT_TRUE(in->Start());
    dev.addResultAfter = dev.adds;  // every further AddBuffer fails
    returnBuffer(dev, 4096, 1);
    queue.Drain();
    EXPECT_EQ(delivered.size(), 1u);  // delivered, but could not go back
    EXPECT_EQ(in->ErrorText(), "fake error 7");
    EXPECT_TRUE(in->Active());
    for (int i = 0; i < 3; ++i)
        returnBuffer(dev, 4096, 2);
    queue.Drain();
    EXPECT_EQ(delivered.size(), 1u);  // draining: no more events
    EXPECT_FALSE(in->Active());
    EXPECT_FALSE(in->DeviceOpen());
    EXPECT_EQ(stops, 1);
}

TEST_F(CaptureFixture, FinishClosesWhenTheLastBufferIsBack)
{
    ASSERT_TRUE(in->Start());
    in->Finish();
    for (int i = 0; i < 3; ++i)
        returnBuffer(dev, 4096);
    queue.Drain();
    EXPECT_TRUE(in->DeviceOpen());
    returnBuffer(dev, 4096);
    queue.Drain();
    EXPECT_TRUE(delivered.empty());
    EXPECT_FALSE(in->DeviceOpen());
    EXPECT_EQ(dev.adds, 4);
}

TEST_F(CaptureFixture, LostDeviceEndsCaptureAndSaysWhy)
{
    bool lost = false;
    in->OnEnded = [&](TAudioIn&, bool l) { lost = l; };
    ASSERT_TRUE(in->Start());
    dev.notify({TWaveInMessage::Error, nullptr, 9});
    queue.Drain();
    EXPECT_TRUE(lost);
    EXPECT_EQ(in->ErrorText(), "fake error 9");
    EXPECT_FALSE(in->Active());
    EXPECT_FALSE(in->DeviceOpen());
}

TEST_F(CaptureFixture, ReportsAfterReleaseAreDiscarded)
{
    ASSERT_TRUE(in->Start());
    returnBuffer(dev, 4096);
    dev.notify({TWaveInMessage::Error, nullptr, 9});
    in->Stop();
    in.reset();
    EXPECT_GT(queue.Pending(), 0u);
    queue.Drain();  // must not touch the released capture
    EXPECT_TRUE(delivered.empty());
}

TEST_F(CaptureFixture, BuffersOfAnEarlierOpeningAreNotTakenForNewOnes)
{
    ASSERT_TRUE(in->Start());
    returnBuffer(dev, 4096, 1);  // waits in the queue across the restart
    in->Stop();
    ASSERT_TRUE(in->Start());
    queue.Drain();
    EXPECT_TRUE(delivered.empty());
    EXPECT_EQ(in->Queued(), 4);
}

TEST_F(CaptureFixture, StopInsideTheEventEndsDelivery)
{
    in->OnBufferFilled = [this](TAudioIn& sender, const uint8_t*, const uint8_t*, uint16_t) {
        delivered.emplace_back(0, 0);
        sender.Stop();
    };
    ASSERT_TRUE(in->Start());
    returnBuffer(dev, 4096);
    returnBuffer(dev, 4096);
    queue.Drain();
    EXPECT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(in->DeviceOpen());
}

TEST_F(CaptureFixture, RingChangesWaitForTheDeviceToLetGo)
{
    ASSERT_TRUE(in->Start());
    uint8_t* lent = dev.queued.front()->Data;
    in->SetBufferSize(2048);
    in->SetNumBuffers(2);
    EXPECT_EQ(dev.queued.front()->Data, lent);  // the device still writes here
    returnBuffer(dev, 4096);
    in->Stop();
    in->SetStereo(false);  // 2048 bytes stay whole frames; the ring must follow the format
    in->SetBufferSize(4098);
    dev = {};
    ASSERT_TRUE(in->Start());
    EXPECT_EQ(dev.queued.size(), 2u);
    EXPECT_EQ(dev.queued.front()->BufferLength, 4098u);
    returnBuffer(dev, 4098);  // all of it must fit
    queue.Drain();
    ASSERT_FALSE(delivered.empty());
    EXPECT_EQ(delivered.back().second, 4098);
}

TEST_F(CaptureFixture, SplitChannelsDeliversEachChannelApart)
{
    in->SplitChannels = true;
    std::vector<int16_t> left, right;
    in->OnBufferFilled = [&](TAudioIn&, const uint8_t* L, const uint8_t* R, uint16_t size) {
        left.assign(reinterpret_cast<const int16_t*>(L), reinterpret_cast<const int16_t*>(L) + size / 2);
        right.assign(reinterpret_cast<const int16_t*>(R), reinterpret_cast<const int16_t*>(R) + size / 2);
    };
    ASSERT_TRUE(in->Start());
    TWaveHeader* h = dev.queued.front();
    dev.queued.pop_front();
    auto* frames = reinterpret_cast<int16_t*>(h->Data);
    for (int i = 0; i < 1024; ++i) {
        frames[2 * i] = int16_t(i);
        frames[2 * i + 1] = int16_t(-i);
    }
    h->BytesRecorded = 4096;
    dev.notify({TWaveInMessage::Data, h, 0});
    queue.Drain();
    ASSERT_EQ(left.size(), 1024u);
    EXPECT_EQ(left[5], 5);
    EXPECT_EQ(right[5], -5);
}

// ---------------------------------------------------------------------------------------------
// The stream device over a raw PCM file.

namespace {

std::vector<uint8_t> countingPcm(size_t bytes)
{
    std::vector<uint8_t> data(bytes);
    for (size_t i = 0; i < bytes; ++i)
        data[i] = uint8_t(i * 7 + i / 4096);
    return data;
}

struct StreamFixture : ::testing::Test {
    testkit::TempDir dir;
    TMainThreadQueue queue;
    TAudioIn in{queue};
    std::vector<uint8_t> received;
    int ended = 0;
    bool lost = true;

    std::vector<uint16_t> sizes;

    void useFile(const std::string& file, TPacing pacing, int rate = 44100, uint16_t bufferSize = 4096, uint32_t granule = 0)
    {
        in.DeviceFactory = [file, pacing, rate, granule] {
            return std::make_unique<TStreamWaveIn>([file, rate] { return std::make_unique<TRawPcmSource>(file, rate, 2); },
                                                   pacing, granule);
        };
        in.SetStereo(true);
        in.SetFrameRate(44100);
        in.SetBufferSize(bufferSize);
        in.OnBufferFilled = [this](TAudioIn&, const uint8_t* L, const uint8_t*, uint16_t size) {
            received.insert(received.end(), L, L + size);
            sizes.push_back(size);
        };
        in.OnEnded = [this](TAudioIn&, bool l) {
            ++ended;
            lost = l;
        };
    }
    void runToEnd()
    {
        for (int i = 0; i < 100000 && ended == 0; ++i)
            queue.WaitAndDrain(std::chrono::seconds(5));
    }
};

}  // namespace

TEST_F(StreamFixture, DeliversWholeBuffersOfTheFileThenEnds)
{
    const auto pcm = countingPcm(4096 * 10 + 1000);  // ten buffers and a part
    testkit::writeBytes(dir.file("feed.raw"), pcm);
    useFile(dir.file("feed.raw"), TPacing::AsFastAsTaken);
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    runToEnd();
    EXPECT_EQ(ended, 1);
    EXPECT_FALSE(lost);
    EXPECT_TRUE(in.ErrorText().empty());
    EXPECT_FALSE(in.DeviceOpen());
    ASSERT_EQ(received.size(), 4096u * 10);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), pcm.begin()));
}

// Buffers of several granules (the scanner reads many halves of a block at a time): the
// stream's last part goes out in whole granules, what is left is not delivered.
TEST_F(StreamFixture, LastPartIsDeliveredInWholeGranules)
{
    struct Case {
        size_t bytes;
        uint32_t granule;
        std::vector<uint16_t> sizes;
    };
    const Case cases[] = {
        {16384 * 2 + 4096 * 2 + 1000, 4096, {16384, 16384, 8192}},
        {16384 * 2 + 4096 * 2 + 1000, 0, {16384, 16384}},
        {16384 * 3, 4096, {16384, 16384, 16384}},
        {4095, 4096, {}},
        {12288 + 8, 6144, {12288}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bytes) + " bytes, granule " + std::to_string(c.granule));
        received.clear();
        sizes.clear();
        ended = 0;
        const auto pcm = countingPcm(c.bytes);
        testkit::writeBytes(dir.file("feed.raw"), pcm);
        useFile(dir.file("feed.raw"), TPacing::AsFastAsTaken, 44100, 16384, c.granule);
        ASSERT_TRUE(in.Start()) << in.ErrorText();
        runToEnd();
        EXPECT_EQ(ended, 1);
        EXPECT_TRUE(in.ErrorText().empty());
        EXPECT_EQ(sizes, c.sizes);
        ASSERT_LE(received.size(), pcm.size());
        EXPECT_TRUE(std::equal(received.begin(), received.end(), pcm.begin()));
    }
}

TEST_F(StreamFixture, RealTimePacingDeliversTheSameData)
{
    const auto pcm = countingPcm(4096 * 3);
    testkit::writeBytes(dir.file("feed.raw"), pcm);
    useFile(dir.file("feed.raw"), TPacing::RealTime);
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    runToEnd();
    EXPECT_EQ(received, pcm);
}

// A stream is taken in large reads and handed out in the callers' sizes: whatever pieces the
// writer sends and whatever sizes are asked for, the bytes come out whole and in order, and
// the end of the stream ends the last read short.
TEST(RawPcmSource, HandsOutTheStreamWholeInAnySizes)
{
    struct Case {
        const char* name;
        std::vector<size_t> writes;  // the writer's pieces, repeated to the end
        size_t readSize;
    };
    const Case cases[] = {
        {"buffers from single bytes", {1, 3, 4093}, 4096},
        {"small reads from large writes", {70000}, 1000},
        {"reads larger than the pipe", {65536, 1}, 300000},
        {"reads of odd sizes", {4096}, 4097},
    };
    const auto pcm = countingPcm(600000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        std::thread writer([&] {
            size_t at = 0;
            for (size_t piece = 0; at < pcm.size(); ++piece) {
                const size_t n = std::min(c.writes[piece % c.writes.size()], pcm.size() - at);
                ASSERT_EQ(::write(fds[1], pcm.data() + at, n), ssize_t(n));
                at += n;
            }
            ::close(fds[1]);
        });
        TRawPcmSource source("/proc/self/fd/" + std::to_string(fds[0]));
        std::vector<uint8_t> got, buffer(c.readSize);
        size_t last = 0;
        do {
            last = source.Read(buffer.data(), buffer.size());
            got.insert(got.end(), buffer.begin(), buffer.begin() + ptrdiff_t(last));
        } while (last == buffer.size());
        writer.join();
        ::close(fds[0]);
        EXPECT_EQ(got.size(), pcm.size());
        EXPECT_TRUE(got == pcm);
        EXPECT_EQ(last, pcm.size() % c.readSize);
    }
}

TEST_F(StreamFixture, StopDoesNotWaitForASilentWriter)
{
    // A pipe whose writer sent one buffer and then keeps it open without a word: the reading
    // thread waits in the middle of the next buffer. Stop must end that wait, not join it.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const auto pcm = countingPcm(4096 + 100);
    ASSERT_EQ(::write(fds[1], pcm.data(), pcm.size()), ssize_t(pcm.size()));
    useFile("/proc/self/fd/" + std::to_string(fds[0]), TPacing::RealTime);
    ASSERT_TRUE(in.Start()) << in.ErrorText();
    for (int i = 0; i < 600 && received.size() < 4096; ++i)
        queue.WaitAndDrain(std::chrono::milliseconds(100));
    ASSERT_EQ(received.size(), 4096u);
    in.Stop();  // before the fix this never returned
    EXPECT_FALSE(in.DeviceOpen());
    ::close(fds[1]);
    ::close(fds[0]);
}

TEST_F(StreamFixture, RecordingFileHoldsTheCaptureAsWav)
{
    const auto pcm = countingPcm(4096 * 4);
    testkit::writeBytes(dir.file("feed.raw"), pcm);
    useFile(dir.file("feed.raw"), TPacing::AsFastAsTaken);
    in.SaveToFile = true;
    in.FileName = dir.file("rec.wav");
    ASSERT_TRUE(in.Start());
    runToEnd();
    const std::string wav = testkit::readText(dir.file("rec.wav"));
    ASSERT_EQ(wav.size(), 44u + pcm.size());
    auto u32 = [&](size_t at) {
        return uint32_t(uint8_t(wav[at])) | uint32_t(uint8_t(wav[at + 1])) << 8 | uint32_t(uint8_t(wav[at + 2])) << 16
               | uint32_t(uint8_t(wav[at + 3])) << 24;
    };
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(u32(4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(24), 44100u);  // rate
    EXPECT_EQ(u32(28), 176400u); // bytes per second
    EXPECT_EQ(u32(40), pcm.size());
    EXPECT_EQ(0, std::memcmp(wav.data() + 44, pcm.data(), pcm.size()));
}

TEST_F(StreamFixture, RecordingFileAfterFinishHoldsTheBuffersInOrder)
{
    const auto pcm = countingPcm(4096 * 10);
    testkit::writeBytes(dir.file("feed.raw"), pcm);
    useFile(dir.file("feed.raw"), TPacing::AsFastAsTaken);
    in.SaveToFile = true;
    in.FileName = dir.file("rec.wav");
    ASSERT_TRUE(in.Start());
    // The buffers already filled come back after Finish and are recorded, not queued again.
    in.Finish();
    for (int i = 0; i < 100 && in.DeviceOpen(); ++i)
        queue.WaitAndDrain(std::chrono::seconds(5));
    ASSERT_FALSE(in.DeviceOpen());
    const std::string wav = testkit::readText(dir.file("rec.wav"));
    ASSERT_GE(wav.size(), 44u + 2 * 4096);
    const size_t recorded = wav.size() - 44;
    EXPECT_EQ(0, std::memcmp(wav.data() + 44, pcm.data(), recorded)) << recorded << " bytes recorded";
}

TEST_F(StreamFixture, UnusableStreamsFailToStartWithAClearText)
{
    testkit::writeBytes(dir.file("feed.raw"), countingPcm(8192));
    struct Case {
        std::string file;
        int rate;
        std::string textPart;
    };
    for (const Case& c : {Case{dir.file("missing.raw"), 44100, "missing.raw"}, Case{dir.file("feed.raw"), 22050, "22050 Hz"}}) {
        useFile(c.file, TPacing::AsFastAsTaken, c.rate);
        EXPECT_FALSE(in.Start());
        EXPECT_NE(in.ErrorText().find(c.textPart), std::string::npos) << in.ErrorText();
        EXPECT_FALSE(in.Active());
    }
}

TEST(MainThreadQueue, RunsDueTasksInOrderAndKeepsLaterOnes)
{
    TMainThreadQueue queue;
    std::vector<int> order;
    queue.PostAfter(std::chrono::hours(1), [&] { order.push_back(9); });
    queue.Post([&] { order.push_back(1); });
    queue.Post([&] {
        order.push_back(2);
        queue.Post([&] { order.push_back(3); });  // posted while draining: runs in the same drain
    });
    queue.Post([] { throw std::runtime_error("dropped"); });
    queue.Post([] { throw 42; });  // not a standard exception: dropped all the same
    queue.Post([&] { order.push_back(4); });
    EXPECT_EQ(queue.Drain(), 6u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 4, 3}));  // 3 was posted last
    EXPECT_EQ(queue.Pending(), 1u);
    EXPECT_TRUE(queue.NextDue().has_value());
}

TEST(MainThreadQueue, WaiterWakesForATaskPostedFromAnotherThread)
{
    // A task due in an hour sits in front; a task posted meanwhile from another thread becomes
    // the earliest and must wake the waiter, and one posted behind it runs in the same turn.
    TMainThreadQueue queue;
    std::vector<int> order;
    queue.PostAfter(std::chrono::hours(1), [&] { order.push_back(9); });
    std::thread poster([&] {
        queue.Post([&] { order.push_back(1); });
        queue.Post([&] { order.push_back(2); });
    });
    size_t ran = 0;
    while (ran < 2)
        ran += queue.WaitAndDrain(std::chrono::hours(1));
    poster.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(queue.Pending(), 1u);
}
