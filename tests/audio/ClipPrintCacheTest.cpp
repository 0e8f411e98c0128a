// Built clip fingerprints are kept per file version and parameters: a rebuild of the engine's
// sequences reads a clip again only when the file or a parameter that shapes its fingerprint
// changed, and never serves a clip that is gone.

#include "audio/AudioDetectorBuild.h"
#include "audio/AudioLandmarks.h"
#include "audio/ClipPrintCache.h"
#include "audio/cbAudioRead.h"

#include "helpers/Broadcast.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>

namespace {

struct BuildParams {
    bool Landmark = true;
    int32_t FrameRate = 44100;
    int32_t FFTCount = 2048;
    int32_t MaxPeaks = 5;
    int32_t Sense = 50;
    bool UseAbsence = false;
    TSignalMode Channel = TSignalMode::Left;
};

std::unique_ptr<TAudioSequence> Build(TAudioDetector& Engine, const std::string& File, const BuildParams& P)
{
    Engine.FrameRate = P.FrameRate;
    Engine.FFTCount = P.FFTCount;
    return P.Landmark ? Engine.BuildLandmarksFromFile(File, P.Sense, P.Channel)
                      : Engine.BuildFromFile(File, P.MaxPeaks, P.Sense, P.UseAbsence, P.Channel);
}

// The fingerprint's contents, whatever object holds them.
std::string Describe(const TAudioSequence& S)
{
    std::string Text = std::to_string(int(S.Kind)) + "/" + std::to_string(int(S.Channel)) + ":";
    if (S.Landmarks) {
        Text += "L" + std::to_string(S.Landmarks->FrameRate) + "," + std::to_string(S.Landmarks->FFTCount) + ","
                + std::to_string(S.Landmarks->MinVotes) + "," + std::to_string(S.Landmarks->Landmarks.size());
        for (const auto& E : S.Landmarks->Landmarks)
            Text += "," + std::to_string(E.Hash) + "@" + std::to_string(E.Tick);
    }
    for (const TAudioSample& Slice : S.Samples) {
        Text += "|" + std::to_string(Slice.MaxGap) + "," + std::to_string(Slice.MinGap);
        for (const TFreqData& Peak : Slice.Peaks)
            Text += ";" + std::to_string(Peak.Frequency) + "," + std::to_string(Peak.RefLevel) + ","
                    + std::to_string(int(Peak.Kind)) + "," + std::to_string(Peak.Sense);
    }
    return Text;
}

class ClipPrintCacheTest : public ::testing::TestWithParam<bool> {
protected:
    testkit::TempDir Dir;
    TAudioDetector Engine;
    std::string File = Dir.file("clip.wav");

    // Short notes: landmarks enough that the sensitivity shapes the print (a sparse clip
    // needs the same floor of votes at every sensitivity).
    void SetUp() override { testkit::writeWav(File, testkit::makeClip(3, 3.0, 0.1)); }
    BuildParams Params() const
    {
        BuildParams P;
        P.Landmark = GetParam();
        return P;
    }
    // What a build of File gives without any cache: a fresh engine, which builds at the
    // defaults first as Engine did (the analyser's rounding may follow its earlier sizes).
    std::string Fresh(const BuildParams& P)
    {
        TAudioDetector Other;
        try {
            Build(Other, File, Params());
        } catch (const std::exception&) {
        }
        Other.ClipPrints().Clear();
        return Describe(*Build(Other, File, P));
    }
};

TEST_P(ClipPrintCacheTest, ASecondBuildOfTheSameClipIsServedFromTheCacheAsAFreshCopy)
{
    const auto First = Build(Engine, File, Params());
    const auto Second = Build(Engine, File, Params());
    EXPECT_EQ(Engine.ClipPrints().Builds(), 1u);
    EXPECT_EQ(Engine.ClipPrints().Hits(), 1u);
    EXPECT_EQ(Describe(*Second), Describe(*First));
    EXPECT_EQ(Describe(*Second), Fresh(Params()));
    // Two sequences of their own: matching one never moves the other.
    EXPECT_NE(First.get(), Second.get());
    if (!First->Samples.Empty()) {
        EXPECT_NE(&First->Samples.Items(0), &Second->Samples.Items(0));
    }
    EXPECT_FALSE(Second->Found());
    EXPECT_EQ(Second->CurrentIndex(), -1);
}

TEST_P(ClipPrintCacheTest, EveryParameterThatShapesTheFingerprintBuildsItAgain)
{
    struct Case {
        const char* Name;
        std::function<void(BuildParams&)> Change;
        bool SpectralOnly;
    };
    const Case Cases[] = {
        {"frame rate", [](BuildParams& P) { P.FrameRate = 48000; }, false},
        {"block size", [](BuildParams& P) { P.FFTCount = 4096; }, false},
        {"sensitivity", [](BuildParams& P) { P.Sense = 20; }, false},
        {"channel", [](BuildParams& P) { P.Channel = TSignalMode::Right; }, false},
        {"peaks", [](BuildParams& P) { P.MaxPeaks = 9; }, true},
        {"absence peaks", [](BuildParams& P) { P.UseAbsence = true; }, true},
    };
    const std::string Original = Describe(*Build(Engine, File, Params()));
    uint64_t Builds = 1;
    for (const Case& C : Cases) {
        if (C.SpectralOnly && GetParam())
            continue;
        SCOPED_TRACE(C.Name);
        BuildParams P = Params();
        C.Change(P);
        const auto Changed = Build(Engine, File, P);
        EXPECT_EQ(Engine.ClipPrints().Builds(), ++Builds);
        EXPECT_NE(Describe(*Changed), Original);
        // The first one is still kept beside it.
        const uint64_t Hits = Engine.ClipPrints().Hits();
        Build(Engine, File, Params());
        EXPECT_EQ(Engine.ClipPrints().Hits(), Hits + 1);
    }
}

TEST_P(ClipPrintCacheTest, AClipChangedOnDiskIsBuiltFromItsNewContents)
{
    struct Case {
        const char* Name;
        std::function<void(const std::string&)> Change;
    };
    const Case Cases[] = {
        {"another clip of another length", [](const std::string& F) { testkit::writeWav(F, testkit::makeClip(8, 2.5)); }},
        {"another clip of the same length, written in place",
         [](const std::string& F) {
             const auto Before = std::filesystem::last_write_time(F);
             testkit::writeWav(F, testkit::makeClip(9, 3.0));
             // The clock may not have moved on since the last write: the file is still newer.
             std::filesystem::last_write_time(F, Before + std::chrono::seconds(1));
         }},
        {"another clip renamed over it",
         [](const std::string& F) {
             testkit::writeWav(F + ".new", testkit::makeClip(10, 3.0));
             const auto Before = std::filesystem::last_write_time(F);
             std::filesystem::last_write_time(F + ".new", Before);
             std::filesystem::rename(F + ".new", F);
         }},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Old = Describe(*Build(Engine, File, Params()));
        C.Change(File);
        const std::string New = Describe(*Build(Engine, File, Params()));
        EXPECT_NE(New, Old);
        EXPECT_EQ(New, Fresh(Params()));
    }
}

TEST_P(ClipPrintCacheTest, AClipThatIsGoneFailsAsWithoutTheCache)
{
    Build(Engine, File, Params());
    std::filesystem::remove(File);
    EXPECT_THROW(Build(Engine, File, Params()), EAudioReadError);
    EXPECT_EQ(Engine.ClipPrints().Count(), 0u);
}

TEST_P(ClipPrintCacheTest, AClipThatCannotBeRecognisedIsRefusedEveryTime)
{
    testkit::Pcm Silent;
    Silent.appendSilence(3.0);
    testkit::writeWav(File, Silent);
    EXPECT_THROW(Build(Engine, File, Params()), EFingerprintError);
    EXPECT_THROW(Build(Engine, File, Params()), EFingerprintError);
    EXPECT_EQ(Engine.ClipPrints().Count(), 0u);
}

TEST_P(ClipPrintCacheTest, AClipsLengthIsTakenFromItsBuildWhileTheFileStaysTheSame)
{
    const auto Kept = [&] { return Engine.ClipPrints().ClipFrames(File, Engine.FrameRate, TFileStamp::Of(File)); };
    EXPECT_EQ(Kept(), -1);
    Build(Engine, File, Params());
    EXPECT_EQ(Kept(), 3 * 44100);
    EXPECT_EQ(Engine.ClipFrames(File), 3 * 44100);
    // Also a clip shorter than a block, which the landmark builder refuses (the spectral one
    // gives no slice): its length was read all the same.
    testkit::Pcm Blip;
    Blip.appendTones(0.02, {5000});
    testkit::writeWav(File, Blip);
    EXPECT_EQ(Kept(), -1);
    if (GetParam())
        EXPECT_THROW(Build(Engine, File, Params()), EFingerprintError);
    else
        EXPECT_TRUE(Build(Engine, File, Params())->Samples.Empty());
    EXPECT_EQ(Kept(), 882);
    // Not built since it changed: read.
    testkit::writeWav(File, testkit::makeClip(8, 2.5));
    EXPECT_EQ(Engine.ClipFrames(File), 110250);
    EXPECT_EQ(Kept(), 110250);
    // At another rate the length of the resampled clip.
    Engine.FrameRate = 22050;
    EXPECT_EQ(Engine.ClipFrames(File), 55125);
    std::filesystem::remove(File);
    EXPECT_THROW(Engine.ClipFrames(File), EAudioReadError);
}

INSTANTIATE_TEST_SUITE_P(BothMatchers, ClipPrintCacheTest, ::testing::Values(true, false),
                         [](const auto& Info) { return Info.param ? "Landmarks" : "Spectral"; });

TEST(ClipPrintCache, TheLeastRecentlyUsedEntryMakesRoom)
{
    testkit::TempDir Dir;
    TClipPrintCache Cache;
    Cache.Capacity = 2;
    const std::string File = Dir.file("a");
    testkit::writeText(File, "x");
    const TFileStamp Stamp = TFileStamp::Of(File);
    ASSERT_TRUE(Stamp.Valid);
    auto Key = [&](int Sense) {
        TClipPrintKey K;
        K.Path = File;
        K.Sense = Sense;
        return K;
    };
    auto Built = std::make_shared<const TAudioSequence>();
    Cache.Store(Key(1), Stamp, Built);
    Cache.Store(Key(2), Stamp, Built);
    EXPECT_TRUE(Cache.Find(Key(1), Stamp));  // 2 is now the least recently used
    Cache.Store(Key(3), Stamp, Built);
    EXPECT_EQ(Cache.Count(), 2u);
    EXPECT_TRUE(Cache.Find(Key(1), Stamp));
    EXPECT_FALSE(Cache.Find(Key(2), Stamp));
    EXPECT_TRUE(Cache.Find(Key(3), Stamp));
}

}  // namespace
