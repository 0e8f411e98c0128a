// Clips on air: a fingerprint built from a file, matched block by block against a generated
// programme with the clip mixed in at every offset to the analysis blocks. Each slice must be
// taken on a block that holds most of its audio: never on one that holds mostly the slice
// before (running ahead of the audio, which reports a clip early or from part of it), never
// on one that holds mostly the slice after (falling behind, which loses the clip).

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "helpers/Broadcast.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
constexpr int Block = 2048;  // frames of an analysis block and of a clip's slice
constexpr int Half = Block / 2;  // frames between the starts of two live blocks
const TDateTime T0 = 46000.5;
// The clip starts this far into the programme, plus the offset under test.
constexpr int Lead = Rate;

// The stream time at which block H (frames H * Half .. H * Half + Block - 1) is analysed:
// when its last frame has arrived.
TDateTime BlockTime(int H)
{
    return IncMilliseconds(T0, double(H + 2) * Half * 1000.0 / Rate);
}

// The block whose stream time is Time.
int BlockAt(TDateTime Time)
{
    return int(std::lround(MillisecondsBetween(T0, Time) * Rate / 1000.0 / Half)) - 2;
}

// A clip whose every slice has its own two tones, so no two neighbouring slices sound alike.
testkit::Pcm DistinctSlices(int Slices)
{
    testkit::Pcm Pcm;
    for (int K = 0; K < Slices; ++K)
        Pcm.appendTones(double(Block) / Rate, {4000.0 + 110 * ((7 * K) % 29), 9000.0 + 130 * ((11 * K) % 31)}, 0.3);
    return Pcm;
}

struct TRun {
    std::vector<int> FoundAt;      // blocks on which the clip was reported
    std::vector<int> SliceBlocks;  // where each slice was taken, at the first report
};

// Steps Clip through the blocks of Air as the engine does: blocks of Block frames every
// Half frames, each analysed once its last frame has arrived.
TRun Scan(TAudioSequence& Clip, const testkit::Pcm& Air)
{
    TAudioFFT FFT;
    FFT.SetChannels({Clip.Channel});
    Clip.Reset();
    TRun Run;
    for (int H = 0; size_t(H) * Half + Block <= Air.frames(); ++H) {
        FFT.Process(Air.samples.data() + size_t(H) * Half * 2, Block * 4);
        if (!StepSequence(Clip, {.Analyser = &FFT, .FrameRate = Rate, .Now = BlockTime(H)}))
            continue;
        Run.FoundAt.push_back(H);
        if (Run.SliceBlocks.empty())
            for (const TAudioSample& Slice : Clip.Samples)
                Run.SliceBlocks.push_back(BlockAt(Slice.MatchStart()));
    }
    return Run;
}

// Frames of slice K of a clip starting at ClipStart that block H holds.
int Overlap(int H, int K, int ClipStart)
{
    const int SliceStart = ClipStart + K * Block;
    return std::max(0, std::min(H * Half + Block, SliceStart + Block) - std::max(H * Half, SliceStart));
}

class ClipOnAir : public ::testing::Test {
protected:
    // The fingerprint the sample list builds for a clip at its default precision and sense.
    std::unique_ptr<TAudioSequence> Fingerprint(const testkit::Pcm& Clip)
    {
        const std::string Path = Dir.file("clip" + std::to_string(++Files) + ".wav");
        testkit::writeWav(Path, Clip);
        return Engine.BuildFromFile(Path, 4, 50, false, TSignalMode::Left);
    }

    testkit::Pcm Programme(double Seconds, int Offset) { return testkit::makeProgramme(Seconds, unsigned(Offset + 1)); }

    testkit::TempDir Dir;
    TAudioDetector Engine;
    int Files = 0;
};

TEST_F(ClipOnAir, EverySliceIsTakenWhereMostOfItsAudioIsWhereverTheClipStarts)
{
    struct TCase {
        const char* Name;
        testkit::Pcm Clip;
    };
    const TCase Cases[] = {
        {"every slice its own notes", DistinctSlices(32)},
        {"notes of 0.1 s", testkit::makeClip(7, 1.5, 0.1)},
        {"notes of 0.25 s", testkit::makeClip(7, 1.5, 0.25)},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        const auto Clip = Fingerprint(C.Clip);
        const int Slices = Clip->Samples.Count();
        ASSERT_GT(Slices, 20);
        for (int Offset = 0; Offset < Block; Offset += 64) {
            SCOPED_TRACE("clip starts " + std::to_string(Offset) + " frames after a block boundary");
            testkit::Pcm Air = Programme(3.0, Offset);
            const int ClipStart = Lead + Offset;
            Air.mixIn(C.Clip, size_t(ClipStart));

            const TRun Run = Scan(*Clip, Air);
            ASSERT_EQ(Run.FoundAt.size(), 1u);
            for (int K = 0; K < Slices; ++K)
                EXPECT_GT(Overlap(Run.SliceBlocks[size_t(K)], K, ClipStart), Half) << "slice " << K;
            // Reported once most of the last slice has been heard, and at most a block later.
            const int LastSliceEnd = ClipStart + Slices * Block;
            EXPECT_GE(Run.FoundAt[0] * Half + Block, LastSliceEnd - Half);
            EXPECT_LE(Run.FoundAt[0] * Half + Block, LastSliceEnd + Block);
        }
    }
}

TEST_F(ClipOnAir, TheFirstSlicesAloneAreNotTheClip)
{
    const testkit::Pcm Whole = DistinctSlices(24);
    const auto Clip = Fingerprint(Whole);
    testkit::Pcm Part;
    Part.samples.assign(Whole.samples.begin(), Whole.samples.begin() + 16 * Block * 2);
    for (int Offset = 0; Offset < Block; Offset += 256) {
        SCOPED_TRACE(Offset);
        testkit::Pcm Air = Programme(3.0, Offset);
        Air.mixIn(Part, size_t(Lead + Offset));
        EXPECT_TRUE(Scan(*Clip, Air).FoundAt.empty());
        EXPECT_LT(Clip->Progress(BlockTime(0)), 100);
    }
}

TEST_F(ClipOnAir, ASteadySoundAdvancesOneSlicePerSliceOfAudio)
{
    // A clip of one steady chord: every slice alike, so only timing tells them apart.
    testkit::Pcm Chord;
    Chord.appendTones(1.0, {5000, 9100}, 0.3);
    const auto Clip = Fingerprint(Chord);
    const int Slices = Clip->Samples.Count();
    for (const double Held : {0.6, 1.0}) {
        SCOPED_TRACE(Held);
        testkit::Pcm Sound;
        Sound.appendTones(Held, {5000, 9100}, 0.3);
        for (int Offset = 0; Offset < Block; Offset += 256) {
            SCOPED_TRACE(Offset);
            testkit::Pcm Air = Programme(3.0, Offset);
            const int ClipStart = Lead + Offset;
            Air.mixIn(Sound, size_t(ClipStart));
            const TRun Run = Scan(*Clip, Air);
            if (Held < 1.0) {
                // Running ahead by one slice per block would take 0.5 s of it for the clip.
                EXPECT_TRUE(Run.FoundAt.empty());
                continue;
            }
            ASSERT_EQ(Run.FoundAt.size(), 1u);
            EXPECT_GE(Run.FoundAt[0] * Half + Block, ClipStart + Slices * Block - Half);
        }
    }
    // The same clip matched slice after slice on consecutive blocks, as commands are: the
    // fault the placement prevents.
    for (TAudioSample& Slice : Clip->Samples)
        Slice.MinGap = 0;
    testkit::Pcm Air = Programme(3.0, 0);
    testkit::Pcm Sound;
    Sound.appendTones(0.6, {5000, 9100}, 0.3);
    Air.mixIn(Sound, size_t(Lead));
    EXPECT_FALSE(Scan(*Clip, Air).FoundAt.empty());
}

}  // namespace
