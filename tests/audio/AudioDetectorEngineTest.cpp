// The engine at run time: block pairing, volumes, stepping and events, the stream clock, and
// the recovery of a vanished capture. Audio comes from generated PCM through the stream
// device, failures from the fake device; time is the stream's own.

#include <gtest/gtest.h>

#include <stdexcept>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <random>
#include <tuple>

#include "audio/AudioDetector.h"
#include "audio/AudioIOStream.h"
#include "audio/FakeWaveIn.h"
#include "helpers/Broadcast.h"
#include "helpers/TestFiles.h"
#include "helpers/Sequences.h"

namespace {

// PCM held in memory, delivered as 16-bit stereo.
class MemorySource final : public TPcmSource {
public:
    MemorySource(std::vector<int16_t> samples, int rate) : data(std::move(samples)), frameRate(rate) {}
    int FrameRate() const override { return frameRate; }
    int Channels() const override { return 2; }
    int BitsPerSample() const override { return 16; }
    size_t Read(uint8_t* buffer, size_t size) override
    {
        const size_t bytes = data.size() * 2;
        const size_t n = std::min(size, bytes - position);
        std::memcpy(buffer, reinterpret_cast<const uint8_t*>(data.data()) + position, n);
        position += n;
        return n;
    }

private:
    std::vector<int16_t> data;
    int frameRate;
    size_t position = 0;
};

struct EngineFixture : ::testing::Test {
    TMainThreadQueue queue;
    TAudioDetector engine{queue};
    std::vector<std::pair<int32_t, uint64_t>> found;  // Number, stream frames at detection
    std::vector<uint16_t> blocks;
    int inputEnds = 0;

    void SetUp() override
    {
        engine.OnSequenceFound = [this](TAudioSequence& s) { found.emplace_back(s.Number, engine.StreamFrames()); };
        engine.OnBufferFilled = [this](TAudioDetector&, const uint8_t*, uint16_t size) { blocks.push_back(size); };
        engine.OnInputEnd = [this](TAudioDetector&) { ++inputEnds; };
    }
    void feed(const testkit::Pcm& pcm)
    {
        auto samples = pcm.samples;
        const int rate = pcm.rate;
        engine.CaptureDevice = [samples, rate] {
            return std::make_unique<TStreamWaveIn>([samples, rate] { return std::make_unique<MemorySource>(samples, rate); },
                                                   TPacing::AsFastAsTaken);
        };
    }
    void runToEnd()
    {
        for (int i = 0; i < 1000000 && inputEnds == 0; ++i)
            queue.WaitAndDrain(std::chrono::seconds(5));
    }
    TAudioSequence& addLevel(TSequenceKind kind, double level, int32_t duration, int32_t number)
    {
        TAudioSequence& s = testkit::SetLevel(engine.Sequences.AddNew(), kind, level, duration);
        s.Number = number;
        return s;
    }
};

}  // namespace

TEST_F(EngineFixture, VolumesReadMinus91AfterStartAndStop)
{
    testkit::Pcm pcm;
    pcm.appendTones(1.0, {1000.0}, 0.5);
    feed(pcm);
    addLevel(skSignal, -20, 100000, 0);
    ASSERT_TRUE(engine.Start()) << engine.ErrorText;
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
    EXPECT_EQ(engine.RightVolumedB(), -91.0);
    queue.Drain();
    EXPECT_GT(engine.LeftVolumedB(), -7.0);  // a tone at half scale
    engine.Stop();
    EXPECT_FALSE(engine.Active());
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
    EXPECT_EQ(engine.LeftVolume(), 0);
}

TEST_F(EngineFixture, WithoutSequencesNothingIsMeasured)
{
    testkit::Pcm pcm;
    pcm.appendTones(0.5, {1000.0}, 0.5);
    feed(pcm);
    ASSERT_TRUE(engine.Start());
    runToEnd();
    ASSERT_FALSE(blocks.empty());
    EXPECT_EQ(engine.LeftVolume(), 1);
    EXPECT_NEAR(engine.LeftVolumedB(), 20 * std::log10(1.0 / 32767), 1e-9);
    EXPECT_NEAR(engine.RightVolumedB(), -90.3087, 1e-3);
}

TEST_F(EngineFixture, FirstBufferIsKeptAndEveryBlockPairsTwoBuffers)
{
    testkit::Pcm pcm;
    pcm.appendSilence(2048.0 * 5 / 44100);  // exactly ten buffers of 1024 frames
    feed(pcm);
    ASSERT_TRUE(engine.Start());
    runToEnd();
    EXPECT_EQ(blocks, (std::vector<uint16_t>{8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192, 8192}));
    EXPECT_EQ(engine.StreamFrames(), 10u * 1024);
    EXPECT_TRUE(engine.Active());  // the input ended; the engine waits to be stopped
    EXPECT_EQ(inputEnds, 1);
}

TEST_F(EngineFixture, FailingBlocksAreCountedAndReportedOncePerRun)
{
    testkit::Pcm pcm;
    pcm.appendSilence(2048.0 * 5 / 44100);  // nine blocks
    feed(pcm);
    addLevel(skSilence, -40, 0, 0);
    int reports = 0;
    engine.OnAnalysisError = [&](TAudioDetector& Sender) {
        ++reports;
        EXPECT_EQ(Sender.LastAnalysisError(), "handler failed");
    };
    int calls = 0;
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) {
        if (++calls % 2 == 1)
            throw std::runtime_error("handler failed");
    };
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        calls = 0;
        reports = 0;
        inputEnds = 0;
        ASSERT_TRUE(engine.Start());
        runToEnd();
        engine.Stop();
        EXPECT_EQ(reports, 1);
        EXPECT_EQ(engine.AnalysisErrors(), 5u);  // blocks 1, 3, 5, 7, 9
    }
}

// Each block is analysed as the block it is, also where the block before it was skipped (its
// handler failed before the analysis): the analyser takes over nothing of a block it did not
// see.
TEST_F(EngineFixture, EveryBlockIsAnalysedAsItselfAlsoAfterASkippedOne)
{
    // A tone whose loudness changes every 300 frames: the halves of a block differ.
    testkit::Pcm pcm;
    pcm.append(2048.0 * 12 / 44100, [](int channel, size_t i) {
        const double amplitude = double((i / 300 * 7919 + size_t(channel) * 5000) % 20000);
        return int16_t(std::lround(amplitude * std::sin(double(i) * 0.37)));
    });
    feed(pcm);
    engine.Sequences.AddNew().Channel = TSignalMode::Add;  // transformed for its spectrum
    std::vector<uint8_t> block;
    int calls = 0, compared = 0;
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t* data, uint16_t size) {
        block.assign(data, data + size);
        if (++calls % 3 == 0)
            throw std::runtime_error("handler failed");
    };
    engine.OnVolumeChange = [&](TAudioDetector& sender, int32_t, int32_t, double, double) {
        TAudioFFT alone;
        alone.SetChannels(sender.LiveFFT.Channels());
        alone.Process(block.data(), int32_t(block.size()));
        EXPECT_EQ(sender.LiveFFT.LeftPeak(), alone.LeftPeak());
        EXPECT_EQ(sender.LiveFFT.RightPeak(), alone.RightPeak());
        const auto live = sender.LiveFFT.ComplexSpectrumOf(TSignalMode::Add);
        const auto own = alone.ComplexSpectrumOf(TSignalMode::Add);
        ASSERT_EQ(live.size(), own.size());
        EXPECT_TRUE(std::equal(live.begin(), live.end(), own.begin())) << "block " << calls;
        ++compared;
    };
    ASSERT_TRUE(engine.Start());
    runToEnd();
    EXPECT_EQ(compared, 16);  // 23 blocks, every third one skipped
}

TEST_F(EngineFixture, FullScaleNegativeSampleReadsAboveZeroDb)
{
    testkit::Pcm pcm;
    pcm.append(4096.0 / 44100, [](int channel, size_t i) { return int16_t(channel == 0 && i == 3000 ? -32768 : 0); });
    feed(pcm);
    addLevel(skSignal, 0, 100000, 0);
    int32_t left = 0;
    double leftDb = 0;
    engine.OnVolumeChange = [&](TAudioDetector&, int32_t l, int32_t, double ldb, double) {
        left = std::max(left, l);
        leftDb = std::max(leftDb, ldb);
    };
    ASSERT_TRUE(engine.Start());
    runToEnd();
    EXPECT_EQ(left, 32768);
    EXPECT_NEAR(leftDb, 0.000265, 1e-5);
}

TEST_F(EngineFixture, DetectionsOfOneBlockComeInListOrderOnStreamTime)
{
    // Silence throughout: two detectors that hold from the first block are found in the same
    // block; the one second detector is found at the first buffer more than 1000 ms of stream
    // time after the first block (46.4 ms in) -- at 46 buffers of 1024 frames, whatever the
    // wall clock did meanwhile.
    testkit::Pcm pcm;
    pcm.appendSilence(3.0);
    feed(pcm);
    addLevel(skSilence, -60, 1000, 7);
    addLevel(skSilence, -60, 1000, 3);
    addLevel(skSignal, -20, 0, 9);  // never holds
    ASSERT_TRUE(engine.Start());
    runToEnd();
    ASSERT_GE(found.size(), 2u);
    EXPECT_EQ(found[0], std::make_pair(7, uint64_t(46 * 1024)));
    EXPECT_EQ(found[1], std::make_pair(3, uint64_t(46 * 1024)));
    for (auto& f : found)
        EXPECT_NE(f.first, 9);
}

// Dead air as a station has it, between two stretches of programme, against a silence sample
// of -50 dB held 3 s, measured by the block's peak and by its RMS. Hum and hiss under the
// threshold are silence either way; a noise floor whose peaks reach above the threshold is
// silence by its RMS only; quiet music above the threshold never is.
TEST_F(EngineFixture, DeadAirByPeakAndByRms)
{
    struct TCase {
        const char* Name;
        testkit::Pcm Air;
        bool ByPeak, ByRms;
    };
    auto Zero = [] {
        testkit::Pcm Pcm;
        Pcm.appendSilence(5);
        return Pcm;
    };
    const TCase Cases[] = {
        {"digital zero", Zero(), true, true},
        {"hiss at -70 dBFS RMS", testkit::makeNoiseFloor(5, -70), true, true},
        {"50 Hz hum at -60 dBFS RMS", testkit::makeHum(5, 50, -60), true, true},
        {"noise at -60 dBFS RMS", testkit::makeNoiseFloor(5, -60), true, true},
        {"noise at -55 dBFS RMS, peaks at -45", testkit::makeNoiseFloor(5, -55), false, true},
        {"quiet music at -45 dBFS RMS", testkit::makeMusicLike(5, 3, -45), false, false},
    };
    for (const TCase& C : Cases) {
        for (const TLevelMeasure Measure : {lmPeak, lmRms}) {
            SCOPED_TRACE(testing::Message() << C.Name << (Measure == lmRms ? ", RMS" : ", peak"));
            testkit::Pcm Pcm = testkit::makeMusicLike(2, 1, -20);
            Pcm.samples.insert(Pcm.samples.end(), C.Air.samples.begin(), C.Air.samples.end());
            const testkit::Pcm After = testkit::makeMusicLike(2, 2, -20);
            Pcm.samples.insert(Pcm.samples.end(), After.samples.begin(), After.samples.end());
            feed(Pcm);
            engine.Sequences.Clear();
            addLevel(skSilence, -50, 3000, 1).LevelMeasure = Measure;
            found.clear();
            inputEnds = 0;
            ASSERT_TRUE(engine.Start()) << engine.ErrorText;
            runToEnd();
            engine.Stop();
            const bool Expected = Measure == lmRms ? C.ByRms : C.ByPeak;
            ASSERT_EQ(found.size(), Expected ? 1u : 0u);
            if (Expected) {
                // 3 s after the first quiet block, which ends within a block of the air's start.
                const double Seconds = double(found[0].second) / 44100;
                EXPECT_GT(Seconds, 5.0);
                EXPECT_LT(Seconds, 5.1);
            }
        }
    }
}

// A signal sample measures the same way: a noise floor whose peaks reach over the threshold
// is a signal by its peaks, not by its power.
TEST_F(EngineFixture, SignalByPeakAndByRms)
{
    feed(testkit::makeNoiseFloor(3, -55));
    addLevel(skSignal, -50, 1000, 1).LevelMeasure = lmPeak;
    addLevel(skSignal, -50, 1000, 2).LevelMeasure = lmRms;
    ASSERT_TRUE(engine.Start());
    runToEnd();
    ASSERT_FALSE(found.empty());
    for (const auto& Found : found)
        EXPECT_EQ(Found.first, 1);
}

TEST_F(EngineFixture, HandlerErrorsSkipOnlyTheirBlock)
{
    testkit::Pcm pcm;
    pcm.appendSilence(1.0);
    feed(pcm);
    addLevel(skSilence, -60, 0, 1).Hold = false;
    int calls = 0;
    engine.OnSequenceFound = [&](TAudioSequence&) {
        ++calls;
        throw std::runtime_error("handler failed");
    };
    ASSERT_TRUE(engine.Start());
    runToEnd();
    EXPECT_GT(calls, 1);  // found again after being re-armed: processing went on
}

TEST_F(EngineFixture, StopFromTheDetectionHandlerEndsDelivery)
{
    testkit::Pcm pcm;
    pcm.appendSilence(2.0);
    feed(pcm);
    addLevel(skSilence, -60, 100, 1);
    engine.OnSequenceFound = [&](TAudioSequence& s) {
        found.emplace_back(s.Number, engine.StreamFrames());
        engine.Stop();
    };
    ASSERT_TRUE(engine.Start());
    for (int i = 0; i < 200; ++i)
        queue.Drain();
    EXPECT_EQ(found.size(), 1u);
    EXPECT_FALSE(engine.Active());
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
}

// What one run of the engine over a stream showed: each block (its size and a checksum of
// its bytes, transform and magnitudes), the volumes and a spectral peak's measure after it,
// and the detections with their stream frames.
struct RunTrace {
    std::vector<std::tuple<uint16_t, uint64_t, int32_t, int32_t, int32_t>> Blocks;
    std::vector<std::pair<int32_t, uint64_t>> Found;
    uint64_t StreamFrames = 0;
    friend bool operator==(const RunTrace&, const RunTrace&) = default;
};

// Runs an engine with FFTCount and CaptureHalves over the PCM through a stream device whose
// granule is half a block; a handler stops it at the StopAt-th detection (0: never).
RunTrace RunHalves(const testkit::Pcm& Pcm, int32_t FFTCount, int32_t Halves, size_t StopAt = 0)
{
    TMainThreadQueue Queue;
    TAudioDetector Engine{Queue};
    Engine.FFTCount = FFTCount;
    Engine.CaptureHalves = Halves;
    const auto Samples = Pcm.samples;
    const int Rate = Pcm.rate;
    Engine.CaptureDevice = [Samples, Rate, FFTCount] {
        return std::make_unique<TStreamWaveIn>([Samples, Rate] { return std::make_unique<MemorySource>(Samples, Rate); },
                                               TPacing::AsFastAsTaken, uint32_t(FFTCount) * 2);
    };
    testkit::SetLevel(Engine.Sequences.AddNew(), skSilence, -50, 300).Number = 1;
    testkit::SetLevel(Engine.Sequences.AddNew(), skSignal, -30, 100).Number = 2;
    TAudioSequence& Spectral = Engine.Sequences.AddNew();
    Spectral.Number = 3;
    Spectral.Channel = TSignalMode::Add;
    TAudioSample& Slice = Spectral.Samples.AddNew();
    TFreqData& Peak = testkit::AddPeak(Slice, 1500, 400, 1000000, 0, fkPresent);  // never satisfied
    Engine.UpdateChannels();
    RunTrace Trace;
    uint64_t Checksum = 0;
    uint16_t Size = 0;
    Engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t* Data, uint16_t Bytes) {
        Size = Bytes;
        Checksum = 0;
        for (uint16_t I = 0; I < Bytes; ++I)
            Checksum = Checksum * 31 + Data[I];
    };
    Engine.OnVolumeChange = [&](TAudioDetector& Sender, int32_t Left, int32_t Right, double, double) {
        // The block's transform and magnitudes go into its checksum.
        const auto Complex = Sender.LiveFFT.ComplexSpectrumOf(TSignalMode::Add);
        const auto& Magnitudes = Sender.LiveFFT.SpectrumAdd();
        uint64_t Spectra = Checksum;
        for (const std::complex<double>& Bin : Complex)
            Spectra = Spectra * 31 + std::hash<double>{}(Bin.real()) * 7 + std::hash<double>{}(Bin.imag());
        for (const int32_t Magnitude : Magnitudes)
            Spectra = Spectra * 31 + uint64_t(Magnitude);
        Trace.Blocks.emplace_back(Size, Spectra, Left, Right, 0);
    };
    bool Ended = false;
    Engine.OnInputEnd = [&](TAudioDetector&) { Ended = true; };
    Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
        std::get<4>(Trace.Blocks.back()) = Peak.Measured;
        Trace.Found.emplace_back(Sequence.Number, Engine.StreamFrames());
        if (Trace.Found.size() == StopAt)
            Engine.Stop();
    };
    EXPECT_TRUE(Engine.Start()) << Engine.ErrorText;
    for (int I = 0; I < 100000 && !Ended && Engine.Active(); ++I)
        Queue.WaitAndDrain(std::chrono::seconds(5));
    for (int I = 0; I < 100; ++I)
        Queue.Drain();
    Trace.StreamFrames = Engine.StreamFrames();
    return Trace;
}

// A recording read many halves of a block at a time is analysed exactly as one read half a
// block at a time: the same blocks in the same order, the same volumes, measures and
// detections at the same stream frames, the stream's last part in whole halves.
TEST(EngineHalves, SeveralHalvesPerBufferGiveTheBlocksOfOneHalfEach)
{
    testkit::Pcm Pcm = testkit::makeProgramme(7.25, 5);  // no whole number of buffers at any size
    testkit::silence(Pcm, 2.0, 1.0);
    testkit::silence(Pcm, 4.5, 0.6);
    struct Case {
        int32_t FFTCount, Halves;
    };
    for (const Case C : {Case{2048, 2}, Case{2048, 15}, Case{1024, 7}, Case{8192, 15}}) {
        SCOPED_TRACE(std::to_string(C.FFTCount) + " frames, " + std::to_string(C.Halves) + " halves");
        const RunTrace One = RunHalves(Pcm, C.FFTCount, 1);
        ASSERT_GE(One.Found.size(), 4u);
        ASSERT_EQ(One.Blocks.size(), Pcm.frames() / size_t(C.FFTCount / 2) - 1);  // every whole half
        EXPECT_TRUE(RunHalves(Pcm, C.FFTCount, C.Halves) == One);
    }
}

// A handler that stops the engine in the middle of a buffer of many halves: no half after it
// is analysed.
TEST(EngineHalves, StopFromAHandlerEndsTheBufferBeingTaken)
{
    testkit::Pcm Pcm = testkit::makeProgramme(3.0, 5);
    testkit::silence(Pcm, 1.0, 1.0);
    const RunTrace One = RunHalves(Pcm, 2048, 1, 1);
    const RunTrace Many = RunHalves(Pcm, 2048, 15, 1);
    ASSERT_EQ(One.Found.size(), 1u);
    EXPECT_TRUE(Many == One);
    EXPECT_LT(Many.StreamFrames, uint64_t(Pcm.frames()) - 2048);  // stopped well before the end
}

TEST_F(EngineFixture, ChannelsAreTheUnionOfTheSequences)
{
    addLevel(skSilence, -60, 100, 1);  // level detectors keep Left
    engine.Sequences.AddNew().Channel = TSignalMode::Dec;
    engine.UpdateChannels();
    EXPECT_EQ(engine.LiveFFT.Channels(), (TSignalModes{TSignalMode::Left, TSignalMode::Dec}));
    engine.Sequences.Clear();
    engine.UpdateChannels();
    EXPECT_TRUE(engine.LiveFFT.Channels().Empty());
}

// The live analyser computes what the list reads and nothing more: transforms for spectral
// sequences, magnitudes only for those matched by their peaks, signals only for landmark
// clips; level detectors need the peaks alone.
TEST_F(EngineFixture, AnalyserComputesWhatTheListReads)
{
    struct TSeq {
        TSequenceKind Kind;
        TMatchMethod Method;
        TSignalMode Channel;
    };
    struct TCase {
        const char* Name;
        std::vector<TSeq> List;
        TSignalModes Spectra, Magnitudes, Waves;
    };
    const TCase Cases[] = {
        {"levels only", {{skSilence, mmSpectral, TSignalMode::Left}, {skSignal, mmSpectral, TSignalMode::Left}}, {}, {}, {}},
        {"level beside Add clips",
         {{skSpectral, mmSpectral, TSignalMode::Add}, {skSilence, mmSpectral, TSignalMode::Left}},
         {TSignalMode::Add}, {TSignalMode::Add}, {}},
        {"tone command", {{skSpectral, mmToneSet, TSignalMode::Right}}, {TSignalMode::Right}, {}, {}},
        {"landmark clip beside a tone command",
         {{skLandmark, mmSpectral, TSignalMode::Dec}, {skSpectral, mmToneSet, TSignalMode::Left}},
         {TSignalMode::Left}, {}, {TSignalMode::Dec}},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        engine.Sequences.Clear();
        for (const TSeq& S : C.List) {
            TAudioSequence& Sequence = engine.Sequences.AddNew();
            Sequence.Kind = S.Kind;
            Sequence.Method = S.Method;
            Sequence.Channel = S.Channel;
        }
        engine.UpdateChannels();
        EXPECT_EQ(engine.LiveFFT.Spectra(), C.Spectra);
        EXPECT_EQ(engine.LiveFFT.Waves(), C.Waves);
        std::vector<int16_t> Block(4096, 1000);
        engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Block.data()), uint16_t(Block.size() * 2));
        EXPECT_EQ(engine.LiveFFT.Magnitudes(), C.Magnitudes);
        EXPECT_GT(engine.LeftVolumedB(), -91.0);
    }
}

// Spectral peaks measure through the engine what they measure in the block's whole spectrum,
// also at the edges of the band the list reads and after the list changed.
TEST_F(EngineFixture, PeaksMeasureTheWholeSpectrumsLevels)
{
    testkit::Pcm pcm = testkit::makeProgramme(0.2);
    const std::vector<int16_t> Block(pcm.samples.begin(), pcm.samples.begin() + 2 * 2048);
    TAudioFFT Full;
    Full.SetChannels({TSignalMode::Add});
    Full.Process(Block.data(), int32_t(Block.size() * 2));

    // Band edges of several widths; the lowest and highest peak bound the band read.
    const std::vector<std::vector<std::pair<int32_t, int32_t>>> Lists = {
        {{1000, 50}, {4000, 50}, {15000, 50}},
        {{300, 0}, {301, 7}, {2000, 400}},
        {{9000, 1}},
        {{50, 50}, {20000, 3000}},
    };
    for (const auto& Peaks : Lists) {
        SCOPED_TRACE(Peaks.front().first);
        engine.Sequences.Clear();
        TAudioSequence& Sequence = engine.Sequences.AddNew();
        Sequence.Channel = TSignalMode::Add;
        TAudioSample& Slice = Sequence.Samples.AddNew();
        Slice.MinGap = 0;
        for (const auto& [Frequency, Tolerance] : Peaks) {
            testkit::AddPeak(Slice, Frequency, Tolerance, 1, 0, fkPresent);
            testkit::AddPeak(Slice, Frequency, Tolerance, 1000000, 0, fkAbsent);
        }
        engine.UpdateChannels();
        engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Block.data()), uint16_t(Block.size() * 2));
        for (const TFreqData& Peak : Slice.Peaks) {
            const int32_t Expected = BandLevel(Peak.Frequency - Peak.Tolerance, Peak.Frequency + Peak.Tolerance, Peak.Kind,
                                               Full.SpectrumAdd(), engine.FrameRate);
            EXPECT_EQ(Peak.Measured, Expected) << Peak.Frequency << " Hz, kind " << int(Peak.Kind);
            if (Peak.Tolerance >= 50 && Peak.Kind == fkPresent) {
                EXPECT_GT(Expected, 0) << Peak.Frequency << " Hz";
            }
        }
    }
}

// A list that reads a few bands a block takes their levels from the transform, and the
// analyser computes no magnitudes; one that reads many gets the magnitudes of its band. Either
// way every peak measures what the block's whole magnitude spectrum holds in its band.
TEST_F(EngineFixture, FewBandsAreReadFromTheTransformManyFromTheMagnitudes)
{
    testkit::Pcm pcm = testkit::makeProgramme(0.2, 3);
    const std::vector<int16_t> Block(pcm.samples.begin(), pcm.samples.begin() + 2 * 2048);
    TAudioFFT Full;
    Full.SetChannels({TSignalMode::Add});
    Full.Process(Block.data(), int32_t(Block.size() * 2));
    struct TCase {
        int Sequences, PeaksPerSlice;
        bool Magnitudes;
    };
    // 1000..14000 Hz: about 600 bins; a band from the transform costs about eight bins.
    for (const TCase C : {TCase{1, 4, false}, TCase{10, 4, false}, TCase{40, 4, true}, TCase{3, 40, true}}) {
        SCOPED_TRACE(testing::Message() << C.Sequences << " sequences of " << C.PeaksPerSlice << " peaks");
        engine.Sequences.Clear();
        for (int S = 0; S < C.Sequences; ++S) {
            TAudioSequence& Sequence = engine.Sequences.AddNew();
            Sequence.Channel = TSignalMode::Add;
            TAudioSample& Slice = Sequence.Samples.AddNew();
            for (int P = 0; P < C.PeaksPerSlice; ++P)
                testkit::AddPeak(Slice, 1000 + (P * 3331 + S * 797) % 13000, 30 + P % 60, 1, 0, P % 3 ? fkPresent : fkAbsent);
        }
        engine.UpdateChannels();
        engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Block.data()), uint16_t(Block.size() * 2));
        EXPECT_EQ(engine.LiveFFT.Magnitudes().Contains(TSignalMode::Add), C.Magnitudes);
        for (TAudioSequence& Sequence : engine.Sequences)
            for (const TFreqData& Peak : Sequence.Samples[0].Peaks)
                ASSERT_EQ(Peak.Measured, BandLevel(Peak.Frequency - Peak.Tolerance, Peak.Frequency + Peak.Tolerance, Peak.Kind,
                                                   Full.SpectrumAdd(), engine.FrameRate))
                    << Peak.Frequency << " Hz";
    }
}

TEST_F(EngineFixture, UnusableInputLeavesTheEngineInactiveWithItsText)
{
    testkit::Pcm pcm;
    pcm.rate = 22050;
    pcm.appendSilence(0.5);
    feed(pcm);
    EXPECT_FALSE(engine.Start());
    EXPECT_FALSE(engine.Active());
    EXPECT_NE(engine.ErrorText.find("22050"), std::string::npos) << engine.ErrorText;

    engine.FFTCount = 3000;
    engine.ErrorText.clear();
    EXPECT_FALSE(engine.TryStart());
    EXPECT_FALSE(engine.ErrorText.empty());
}

// ---------------------------------------------------------------------------------------------
// A capture that goes away and comes back.

namespace {
struct RecoveryFixture : ::testing::Test {
    TMainThreadQueue queue;
    FakeDevice::State dev;  // outlives the engine, whose last stop still uses the device
    TAudioDetector engine{queue};
    int failOpens = 0;  // the next opens that fail
    int lost = 0, restored = 0;

    void SetUp() override
    {
        engine.CaptureDevice = [this] {
            if (failOpens > 0) {
                --failOpens;
                dev.openResult = 5;
            } else {
                dev.openResult = 0;
            }
            return std::make_unique<FakeDevice>(dev);
        };
        engine.RetryInterval = 0;  // retries are due at once: the test drives them
        engine.OnCaptureLost = [this](TAudioDetector&) { ++lost; };
        engine.OnCaptureRestored = [this](TAudioDetector&) { ++restored; };
        engine.Sequences.AddNew().Kind = skSilence;
    }
};
}  // namespace

TEST_F(RecoveryFixture, FailedOpenLeavesInactiveAndASecondStartTriesAgain)
{
    failOpens = 1;
    EXPECT_FALSE(engine.Start());
    EXPECT_EQ(engine.ErrorText, "fake error 5");
    EXPECT_FALSE(engine.Active());
    EXPECT_TRUE(engine.Start());
    EXPECT_EQ(dev.opens, 2);
}

TEST_F(RecoveryFixture, VanishedCaptureIsReopenedByTheEngine)
{
    ASSERT_TRUE(engine.Start());
    returnBuffer(dev, 4096, 0x40);
    returnBuffer(dev, 4096, 0x40);
    queue.Drain();
    EXPECT_GT(engine.LeftVolumedB(), -91.0);

    failOpens = 2;  // the device is still gone at the first two attempts
    dev.notify({TWaveInMessage::Error, nullptr, 6});
    queue.Drain();  // the loss, then three attempts: due at once
    EXPECT_EQ(lost, 1);
    EXPECT_EQ(restored, 1);
    EXPECT_EQ(dev.opens, 4);
    EXPECT_TRUE(engine.Active());
    EXPECT_TRUE(engine.CaptureOpen());
    EXPECT_EQ(engine.ErrorText, "fake error 6");
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
}

TEST_F(RecoveryFixture, LostCaptureReadsMinus91UntilBack)
{
    engine.RetryInterval = 3600 * 1000;
    ASSERT_TRUE(engine.Start());
    returnBuffer(dev, 4096, 0x40);
    returnBuffer(dev, 4096, 0x40);
    queue.Drain();
    dev.notify({TWaveInMessage::Error, nullptr, 6});
    queue.Drain();
    EXPECT_EQ(lost, 1);
    EXPECT_TRUE(engine.Active());
    EXPECT_FALSE(engine.CaptureOpen());
    EXPECT_EQ(engine.LeftVolumedB(), -91.0);
    EXPECT_EQ(engine.RightVolumedB(), -91.0);
    EXPECT_EQ(queue.Pending(), 1u);  // the retry, an hour away
}

TEST_F(RecoveryFixture, StopEndsTheRetries)
{
    ASSERT_TRUE(engine.Start());
    // The owner stops monitoring when told of the loss; the retry already due must not reopen.
    engine.OnCaptureLost = [this](TAudioDetector& sender) {
        ++lost;
        sender.Stop();
    };
    dev.notify({TWaveInMessage::Error, nullptr, 6});
    queue.Drain();
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(engine.Active());
    EXPECT_EQ(dev.opens, 1);
    EXPECT_EQ(restored, 0);
    EXPECT_EQ(queue.Pending(), 0u);
}

TEST_F(RecoveryFixture, DroppedAudioCountsIntoTheStreamClockAndStartsThePairingOver)
{
    std::vector<uint32_t> drops;
    int blocks = 0;
    engine.OnAudioDropped = [&](TAudioDetector&, uint32_t frames) { drops.push_back(frames); };
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t*, uint16_t) { ++blocks; };
    ASSERT_TRUE(engine.Start());
    const TDateTime start = engine.StreamStart();
    for (int i = 0; i < 3; ++i)
        returnBuffer(dev, 4096);  // 1024 frames each: two blocks
    queue.Drain();
    dev.notify({TWaveInMessage::Dropped, nullptr, 44100 * 4});  // one second lost
    returnBuffer(dev, 4096);  // after the loss: kept, not paired with the buffer before it
    queue.Drain();
    returnBuffer(dev, 4096);
    queue.Drain();

    EXPECT_EQ(drops, std::vector<uint32_t>{44100});
    EXPECT_EQ(engine.DroppedFrames(), 44100u);
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(engine.StreamFrames(), 5u * 1024 + 44100);
    // What the blocks after the loss are timed by.
    EXPECT_NEAR(MillisecondsBetween(start, engine.StreamTime()), (5.0 * 1024 + 44100) * 1000 / 44100, 0.1);

    // A new run counts from nothing.
    engine.Stop();
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(engine.DroppedFrames(), 0u);
}

// Buffers of several halves with a loss between them: every block is analysed as itself,
// those that pair halves in place, across buffers and after the loss (where the half kept
// from before the loss lies where the first half after it is kept).
TEST_F(RecoveryFixture, BlocksOfBuffersOfSeveralHalvesAroundALossAreTheirOwn)
{
    engine.CaptureHalves = 3;
    engine.Sequences.AddNew().Channel = TSignalMode::Add;  // transformed for its spectrum
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-20000, 20000);
    auto giveBuffer = [&] {
        TWaveHeader* header = dev.queued.front();
        dev.queued.pop_front();
        for (uint32_t i = 0; i < header->BufferLength; i += 2) {
            const auto value = int16_t(sample(random));
            std::memcpy(header->Data + i, &value, 2);
        }
        header->BytesRecorded = header->BufferLength;
        dev.notify({TWaveInMessage::Data, header, 0});
        queue.Drain();
    };
    std::vector<uint8_t> block;
    int compared = 0;
    engine.OnBufferFilled = [&](TAudioDetector&, const uint8_t* data, uint16_t size) { block.assign(data, data + size); };
    engine.OnVolumeChange = [&](TAudioDetector& sender, int32_t, int32_t, double, double) {
        TAudioFFT alone;
        alone.SetChannels(sender.LiveFFT.Channels());
        alone.Process(block.data(), int32_t(block.size()));
        EXPECT_EQ(sender.LiveFFT.LeftPeak(), alone.LeftPeak());
        const auto live = sender.LiveFFT.ComplexSpectrumOf(TSignalMode::Add);
        const auto own = alone.ComplexSpectrumOf(TSignalMode::Add);
        ASSERT_EQ(live.size(), own.size());
        EXPECT_TRUE(std::equal(live.begin(), live.end(), own.begin())) << "block " << compared;
        ++compared;
    };
    ASSERT_TRUE(engine.Start());
    giveBuffer();
    giveBuffer();
    dev.notify({TWaveInMessage::Dropped, nullptr, 4096});
    queue.Drain();
    giveBuffer();
    giveBuffer();
    EXPECT_EQ(compared, 10);  // five blocks on either side of the loss
    EXPECT_EQ(engine.StreamFrames(), 12u * 1024 + 1024);
}
