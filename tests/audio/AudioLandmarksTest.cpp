// Clips recognised by their landmarks, on the engine's own blocks: found at any start offset,
// level and broadcast chain, reported once in the block in which the clip ends, never taken
// from a look-alike; weak clips are measured, silent ones refused.

#include "audio/AudioDetector.h"
#include "audio/AudioDetectorBuild.h"
#include "audio/AudioLandmarks.h"
#include "audio/cbAudioFileRead.h"
#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <set>
#include <stdexcept>
#include <tuple>
#include <string>
#include <vector>

namespace {

constexpr int32_t Rate = 44100;
constexpr int Block = 2048;      // frames of an analysis block
constexpr int Half = Block / 2;  // frames between the starts of two blocks

// A phrase of distinct notes: every note its own pitch, so the clip's landmarks are its own.
std::vector<testkit::Note> Phrase(unsigned Seed = 3, int Notes = 12, double NoteSeconds = 0.15)
{
    return testkit::makePhrase(Seed, Notes, NoteSeconds);
}

class LandmarkClip : public ::testing::Test {
protected:
    // Adds the landmark sequence of Clip (written as a WAV file) to the engine.
    TAudioSequence& Watch(const testkit::Pcm& Clip, int32_t Sense = 50)
    {
        const std::string Path = Dir.file("clip" + std::to_string(++Files) + ".wav");
        testkit::writeWav(Path, Clip);
        auto Sequence = Engine.BuildLandmarksFromFile(Path, Sense, TSignalMode::Left);
        Sequence->Number = Engine.Sequences.Count();
        return Engine.Sequences.Add(std::move(Sequence));
    }

    // Runs Air through the engine block by block, as capture delivers it; the blocks in which
    // each sequence was reported, by sequence number.
    std::vector<std::vector<int>> Scan(const testkit::Pcm& Air)
    {
        Engine.UpdateChannels();
        Engine.ResetSequences();
        Engine.Landmarks().ResetStream();
        std::vector<std::vector<int>> Found(size_t(Engine.Sequences.Count()));
        int H = 0;
        Engine.OnSequenceFound = [&](TAudioSequence& Sequence) { Found.at(size_t(Sequence.Number)).push_back(H); };
        for (; size_t(H) * Half + Block <= Air.frames(); ++H)
            Engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Air.samples.data() + size_t(H) * Half * 2), Block * 4);
        return Found;
    }

    // The frame just after block H.
    static int64_t EndOf(int H) { return int64_t(H) * Half + Block; }

    testkit::TempDir Dir;
    TAudioDetector Engine;
    int Files = 0;
};

TEST_F(LandmarkClip, FoundOnceAtEveryOffsetAcrossABlockAloneAndInPinkNoise)
{
    const testkit::Pcm Clip = testkit::playPhrase(Phrase());
    Watch(Clip);
    const int64_t Length = int64_t(Clip.frames());
    for (const bool Noise : {false, true}) {
        for (int Offset = 0; Offset < Block; Offset += Block / 32) {
            SCOPED_TRACE(std::string(Noise ? "in pink noise" : "alone") + ", clip starts " + std::to_string(Offset)
                         + " frames after a block boundary");
            testkit::Pcm Air = Noise ? testkit::makePinkNoise(4.0, 0.05, unsigned(Offset + 1)) : testkit::Pcm{};
            const int64_t Start = Rate + Offset;
            Air.mixIn(Clip, size_t(Start));
            if (!Noise)
                Air.appendSilence(1.0);
            const auto Found = Scan(Air);
            ASSERT_EQ(Found[0].size(), 1u);
            // Never before the clip has been heard to its end, at most a block later.
            EXPECT_GE(EndOf(Found[0][0]), Start + Length);
            EXPECT_LE(EndOf(Found[0][0]), Start + Length + Block);
        }
    }
}


// A programme through a broadcast chain, read back as the engine would hear it.
enum class TChain { None, Mp3, Resample48k };

testkit::Pcm ThroughChain(const testkit::Pcm& Air, TChain Chain, const testkit::TempDir& Dir)
{
    if (Chain == TChain::None)
        return Air;
    const std::string In = Dir.file("chain-in.wav");
    testkit::writeWav(In, Air);
    std::string Out;
    if (Chain == TChain::Mp3) {
        Out = Dir.file("chain.mp3");
        testkit::encodeMp3(In, Out, "-b 128 --cbr");
    } else {
        const std::string Mid = Dir.file("chain48.wav");
        Out = Dir.file("chain-out.wav");
        for (const auto& [From, To, Hz] : {std::tuple{In, Mid, "48000"}, std::tuple{Mid, Out, "44100"}}) {
            int Code = -1;
            testkit::waitForProcess(testkit::spawnProcess({"sox", From, "-r", Hz, To}, Dir.file("sox.log")), &Code);
            if (Code != 0)
                throw std::runtime_error("sox failed");
        }
    }
    TcbAudioFileReader Reader;
    Reader.Open(Out);
    testkit::Pcm Back;
    std::vector<int16_t> Buffer(8192);
    for (int32_t Got; (Got = Reader.Read(Buffer.data(), int32_t(Buffer.size() * 2))) > 0;)
        Back.samples.insert(Back.samples.end(), Buffer.begin(), Buffer.begin() + Got / 2);
    return Back;
}

TEST_F(LandmarkClip, FoundAtEveryLevelThroughEveryChainUnderAMusicBed)
{
    // Two clips, so that each is also shown not to be taken for the other.
    const testkit::Pcm First = testkit::playPhrase(Phrase(3));
    const testkit::Pcm Second = testkit::playPhrase(Phrase(8, 8, 0.2));
    Watch(First);
    Watch(Second);
    struct TCase {
        double LevelDb;
        TChain Chain;
    };
    const TCase Cases[] = {
        {6, TChain::None}, {-12, TChain::None}, {0, TChain::None},
        {-12, TChain::Mp3}, {6, TChain::Mp3},
        {-12, TChain::Resample48k}, {6, TChain::Resample48k},
    };
    const testkit::Pcm Bed = testkit::playPhrase(testkit::makePhrase(21, 48, 0.25), 0.3, 0.5);
    for (const TCase& C : Cases) {
        SCOPED_TRACE("level " + std::to_string(C.LevelDb) + " dB, chain " + std::to_string(int(C.Chain)));
        // A bed of other notes on another instrument 10 dB below the clips, and the clips in it.
        testkit::Pcm Air = Bed;
        testkit::gain(Air, C.LevelDb - 10);
        for (const auto& [Clip, At] : {std::pair{&First, 2.0}, std::pair{&Second, 8.0}}) {
            testkit::Pcm Loud = *Clip;
            testkit::gain(Loud, C.LevelDb);
            testkit::mixAt(Air, Loud, At);
        }
        const auto Found = Scan(ThroughChain(Air, C.Chain, Dir));
        ASSERT_EQ(Found[0].size(), 1u);
        ASSERT_EQ(Found[1].size(), 1u);
        // Near the end of each clip (an MP3 chain delays the audio by a few milliseconds).
        EXPECT_NEAR(double(EndOf(Found[0][0])) / Rate, 2.0 + double(First.frames()) / Rate, 0.1);
        EXPECT_NEAR(double(EndOf(Found[1][0])) / Rate, 8.0 + double(Second.frames()) / Rate, 0.1);
    }
}

TEST_F(LandmarkClip, FoundThroughAChainThatClips)
{
    // A programme driven past full scale clips: a chord's partials intermodulate into new
    // detail that rises with every note as its partials do, but stays fainter than them.
    const testkit::Pcm Clip = testkit::playSquareChords(testkit::makePhrase(3, 16, 0.1));
    Watch(Clip);
    struct TCase {
        double GainDb;
        TChain Chain;
    };
    const TCase Cases[] = {{6, TChain::Mp3}, {9, TChain::None}, {9, TChain::Mp3}};
    const testkit::Pcm Bed = testkit::makeMusicLike(6.0, 3, -30);
    for (const TCase& C : Cases) {
        SCOPED_TRACE("gain " + std::to_string(C.GainDb) + " dB, chain " + std::to_string(int(C.Chain)));
        // The clip over music 10 dB below it, all raised by GainDb and clipped.
        testkit::Pcm Air;
        Air.appendSilence(2.0);
        testkit::mixAt(Air, Clip, 2.0);
        Air.appendSilence(1.0);
        testkit::addBed(Air, Bed, -10);
        testkit::gain(Air, C.GainDb);
        const auto Found = Scan(ThroughChain(Air, C.Chain, Dir));
        ASSERT_EQ(Found[0].size(), 1u);
        EXPECT_NEAR(double(EndOf(Found[0][0])) / Rate, 2.0 + double(Clip.frames()) / Rate, 0.1);
    }
}

TEST_F(LandmarkClip, ShortClipsAndClipsAtTheStreamsStartAreFound)
{
    // A second of distinct notes is the least a station's jingle offers; a clip may also be
    // the very first thing a stream carries, before the peak picker has heard anything, alone
    // or over a bed that starts with the stream too. A clip whose beginning the stream missed
    // (capture started while it played) has not been heard whole and is not reported.
    struct TCase {
        const char* Name;
        double StartSeconds;  // before 0: the stream starts this far into the clip
        double LevelDb;
        bool Bed;
        TChain Chain;
    };
    const TCase Cases[] = {
        {"short clip at the stream's first frame", 0.0, 0, false, TChain::None},
        {"short clip at the stream's first frame under a bed", 0.0, 0, true, TChain::None},
        {"short clip at the stream's first frame 12 dB down under a bed", 0.0, -12, true, TChain::None},
        {"short clip 12 dB down under a bed", 2.0, -12, true, TChain::None},
        {"short clip 12 dB down under a bed through MP3", 2.0, -12, true, TChain::Mp3},
        {"short clip 6 dB up under a bed through 48 kHz", 2.0, 6, true, TChain::Resample48k},
        {"the stream starts a quarter into the clip", -0.25, 0, false, TChain::None},
        {"the stream starts a quarter into the clip under a bed", -0.25, 0, true, TChain::None},
    };
    const testkit::Pcm Clip = testkit::playPhrase(Phrase(11, 6, 0.17));
    ASSERT_LT(Clip.frames(), size_t(1.1 * Rate));
    Watch(Clip);
    const testkit::Pcm Bed = testkit::playPhrase(testkit::makePhrase(23, 40, 0.25), 0.3, 0.5);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        testkit::Pcm Air;
        if (C.Bed) {
            Air = Bed;
            testkit::gain(Air, C.LevelDb - 10);
        } else {
            Air.appendSilence(C.StartSeconds + 3.0);
        }
        testkit::Pcm Loud = Clip;
        testkit::gain(Loud, C.LevelDb);
        if (C.StartSeconds < 0)
            Loud.samples.erase(Loud.samples.begin(), Loud.samples.begin() + Loud.channels * std::ptrdiff_t(-C.StartSeconds * Rate));
        testkit::mixAt(Air, Loud, std::max(0.0, C.StartSeconds));
        const auto Found = Scan(ThroughChain(Air, C.Chain, Dir));
        if (C.StartSeconds < 0) {
            EXPECT_TRUE(Found[0].empty());
            continue;
        }
        ASSERT_EQ(Found[0].size(), 1u);
        const double End = C.StartSeconds + double(Clip.frames()) / Rate;
        EXPECT_NEAR(double(EndOf(Found[0][0])) / Rate, End + 0.5 * Block / Rate, 0.1);
    }
}

// The clip's notes, with the notes [From, From + Count) played Delay seconds late (over the
// notes after them): a stretch whose votes agree on another start than the rest's.
testkit::Pcm PlayOutOfStep(const std::vector<testkit::Note>& Notes, int From, int Count, double Delay, double Tempo = 1.0)
{
    std::vector<testkit::Note> Rest = Notes;
    std::vector<testkit::Note> Moved;
    double At = 0;
    for (int N = 0; N < From; ++N)
        At += Notes[size_t(N)].seconds / Tempo;
    for (int N = From; N < From + Count; ++N) {
        Moved.push_back(Notes[size_t(N)]);
        Rest[size_t(N)].hz = 0;  // silent in its place
    }
    testkit::Pcm Pcm = testkit::playPhrase(Rest, 0.3, 1.0, Tempo);
    testkit::mixAt(Pcm, testkit::playPhrase(Moved, 0.3, 1.0, Tempo), At + Delay);
    return Pcm;
}

TEST_F(LandmarkClip, OneQuarterOutOfStepIsTheClipACopyAtAnotherTempoIsNot)
{
    // One quarter of a clip may agree on another start than the rest (an echo or a bed note
    // took its votes): three quarters in step make the clip. A copy at another tempo drifts
    // along any three of its quarters, with or without such a quarter.
    const std::vector<testkit::Note> Jingle = Phrase(3);
    const testkit::Pcm Clip = testkit::playPhrase(Jingle);
    struct TCase {
        const char* Name;
        testkit::Pcm Sound;
        bool Found;
    };
    const TCase Cases[] = {
        {"the third quarter 0.2 s late", PlayOutOfStep(Jingle, 6, 3, 0.2), true},
        {"the clip at 108 % tempo", testkit::playPhrase(Jingle, 0.3, 1.0, 1.08), false},
        {"at 108 % tempo, the third quarter 0.2 s late", PlayOutOfStep(Jingle, 6, 3, 0.2, 1.08), false},
    };
    const testkit::Pcm Noise = testkit::makePinkNoise(6.0, 0.1);
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        for (const int32_t Sense : {50, 70}) {
            SCOPED_TRACE("sense " + std::to_string(Sense));
            Engine.Sequences.Clear();
            Watch(Clip, Sense);
            testkit::Pcm Air;
            Air.appendSilence(2.0);
            testkit::mixAt(Air, C.Sound, 2.0);
            Air.appendSilence(1.0);
            testkit::addBed(Air, Noise, -30);
            const auto Found = Scan(Air);
            if (!C.Found) {
                EXPECT_TRUE(Found[0].empty());
                continue;
            }
            ASSERT_EQ(Found[0].size(), 1u);
            const int64_t End = 2 * Rate + int64_t(Clip.frames());
            EXPECT_GE(EndOf(Found[0][0]), End);
            EXPECT_LE(EndOf(Found[0][0]), End + Block);
        }
    }
}

// A print with Counts[s] landmarks in part s (all of one hash: completed where anchored).
TLandmarkPrint PrintWithLandmarksIn(const std::array<int, TLandmarkPrint::Segments>& Counts)
{
    TLandmarkPrint Print;
    Print.FrameRate = Rate;
    Print.FFTCount = Block;
    Print.Ticks = TLandmarkPrint::Segments * 10;
    Print.Length = int64_t(Print.Ticks) * Half / TLandmarkPrint::Phases;
    for (int32_t Segment = 0; Segment < TLandmarkPrint::Segments; ++Segment) {
        for (int N = 0; N < Counts[size_t(Segment)]; ++N)
            Print.Landmarks.push_back({0, Segment * 10 + N % 10});
        if (Counts[size_t(Segment)] > 0)
            Print.SegmentsWithLandmarks |= 1u << Segment;
    }
    Print.SetSense(50);
    return Print;
}

TEST(LandmarkPrint, AClipsNotesGiveItsLandmarksOverABedAsTheyDoAlone)
{
    // A clip file begins in digital silence; live, its notes rise out of other sound. How far
    // a note rises must not change which of its partials are taken as peaks, or the live
    // landmarks stop agreeing with the clip's (a short jingle driven past full scale into an
    // MP3 chain kept none from its last notes). At least a third of the clip's landmarks come
    // back from the clip in each programme, at the same place.
    const std::pair<const char*, testkit::Pcm> Clips[] = {
        {"a phrase of notes", testkit::playPhrase(Phrase())},
        {"a short phrase", testkit::playPhrase(Phrase(11, 8, 0.15))},
        {"square chords", testkit::playSquareChords(Phrase(3, 16, 0.1))},
    };
    struct TBed {
        const char* Name;
        testkit::Pcm Sound;
        double RelativeDb;
        double GainDb;  // of the whole programme, clipped at full scale
    };
    const TBed Beds[] = {
        {"music 10 dB below", testkit::makeMusicLike(8.0, 3, -30), -10, 0},
        {"music 10 dB below, 6 dB past full scale", testkit::makeMusicLike(8.0, 3, -30), -10, 6},
        {"notes 10 dB below", testkit::playPhrase(testkit::makePhrase(21, 48, 0.25), 0.3, 0.5), -10, 0},
        {"pink noise 20 dB below", testkit::makePinkNoise(8.0, 0.05), -20, 0},
    };
    // The clip starts on a block boundary of the programme: both prints then count ticks alike.
    constexpr size_t At = 86 * Half;
    TAudioFFT Analyser;
    for (const auto& [ClipName, Clip] : Clips) {
        const auto Alone = BuildLandmarkPrint(Analyser, Clip.samples.data(), Clip.frames(), TSignalMode::Add, Block, Rate);
        for (const TBed& Bed : Beds) {
            SCOPED_TRACE(std::string(ClipName) + " over " + Bed.Name);
            testkit::Pcm Air;
            Air.appendSilence(double(At + Clip.frames()) / Rate + 1.0);
            Air.mixIn(Clip, At);
            testkit::addBed(Air, Bed.Sound, Bed.RelativeDb);
            testkit::gain(Air, Bed.GainDb);
            const auto Live = BuildLandmarkPrint(Analyser, Air.samples.data(), Air.frames(), TSignalMode::Add, Block, Rate);
            std::set<std::pair<uint32_t, int32_t>> Heard;
            for (const TLandmarkPrint::TEntry& E : Live->Landmarks)
                Heard.insert({E.Hash, E.Tick});
            const auto Shift = int32_t(At / (Half / TLandmarkPrint::Phases));
            size_t Back = 0;
            for (const TLandmarkPrint::TEntry& E : Alone->Landmarks)
                Back += Heard.count({E.Hash, E.Tick + Shift});
            ASSERT_FALSE(Alone->Landmarks.empty());
            EXPECT_GE(double(Back) / double(Alone->Landmarks.size()), 1.0 / 3) << Back << " of " << Alone->Landmarks.size();
        }
    }
}

TEST(LandmarkPrint, VotesMustComeFromTheClipsBeginningItsEndAndThreeParts)
{
    // A clip whose end is faint (a spoken tag under a chord dying away) holds few landmarks
    // there, and a bed or a codec takes them: votes from the last stretch that carries a
    // quarter of its landmarks count as heard to the end. Votes from its first part alone, or
    // without its beginning, or from too few parts, are not the clip; nor are votes from two
    // parts of a clip of a few sparse chords (two bursts of music agree on a start by chance),
    // nor from its beginning and its end with nothing between.
    const TLandmarkPrint FaintTail = PrintWithLandmarksIn({20, 20, 20, 20, 20, 20, 20, 20, 20, 20, 0, 0, 1, 1, 1, 1});
    const TLandmarkPrint Sparse = PrintWithLandmarksIn({60, 0, 0, 60, 0, 0, 60, 0, 0, 60, 0, 0, 60, 0, 0, 0});
    const auto Parts = [](std::initializer_list<int> Segments) {
        uint32_t Mask = 0;
        for (const int S : Segments)
            Mask |= 1u << S;
        return Mask;
    };
    struct TCase {
        const char* Name;
        const TLandmarkPrint* Print;
        int32_t Votes;
        uint32_t Covered;
        bool Agreed;
    };
    const TCase Cases[] = {
        {"the busy stretch to its end, the faint tail lost", &FaintTail, 30, Parts({0, 2, 4, 6, 8, 9}), true},
        {"heard to the faint tail", &FaintTail, 30, Parts({0, 3, 6, 12, 13, 14}), true},
        {"its first part only", &FaintTail, 30, Parts({0, 1, 2, 3, 4, 5}), false},
        {"without its beginning", &FaintTail, 30, Parts({5, 6, 7, 8, 9, 12}), false},
        {"from too few parts", &FaintTail, 60, Parts({0, 9}), false},
        {"too few votes", &FaintTail, 10, Parts({0, 2, 4, 6, 8, 9}), false},
        {"sparse chords: first, middle and last", &Sparse, 40, Parts({0, 6, 12}), true},
        {"sparse chords: first and last only", &Sparse, 40, Parts({0, 12}), false},
        {"sparse chords: first and the last two, none between", &Sparse, 40, Parts({0, 9, 12}), false},
        {"sparse chords: first two and last, none between", &Sparse, 40, Parts({0, 3, 12}), false},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        EXPECT_EQ(C.Print->Agreed(C.Votes, C.Covered), C.Agreed);
    }
}

TEST_F(LandmarkClip, LookAlikesAreNotTheClip)
{
    const std::vector<testkit::Note> Jingle = Phrase(3);
    Watch(testkit::playPhrase(Jingle));
    std::vector<testkit::Note> FirstPart(Jingle.begin(), Jingle.begin() + 8);
    struct TCase {
        const char* Name;
        testkit::Pcm Sound;
    };
    const TCase Cases[] = {
        {"another phrase of the same instrument", testkit::playPhrase(Phrase(4))},
        {"the clip at 92 % tempo", testkit::playPhrase(Jingle, 0.3, 1.0, 0.92)},
        {"the clip at 108 % tempo", testkit::playPhrase(Jingle, 0.3, 1.0, 1.08)},
        {"the clip one semitone higher", testkit::playPhrase(Jingle, 0.3, std::pow(2.0, 1.0 / 12))},
        {"the first two thirds of the clip", testkit::playPhrase(FirstPart)},
        {"the clip backwards", [&] {
             testkit::Pcm Pcm = testkit::playPhrase(std::vector<testkit::Note>(Jingle.rbegin(), Jingle.rend()));
             return Pcm;
         }()},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        for (const int32_t Sense : {50, 70}) {
            SCOPED_TRACE("sense " + std::to_string(Sense));
            Engine.Sequences.Clear();
            Watch(testkit::playPhrase(Jingle), Sense);
            for (int Offset : {0, 700}) {
                testkit::Pcm Air = testkit::makePinkNoise(4.0, 0.01, unsigned(Offset + 5));
                Air.mixIn(C.Sound, size_t(Rate + Offset));
                EXPECT_TRUE(Scan(Air)[0].empty());
            }
        }
    }
}

TEST_F(LandmarkClip, HoldProgressAndResetBehaveAsForOtherSequences)
{
    const testkit::Pcm Clip = testkit::playPhrase(Phrase());
    TAudioSequence& Sequence = Watch(Clip);
    testkit::Pcm Air;
    Air.appendSilence(0.5);
    testkit::mixAt(Air, Clip, 0.5);
    testkit::mixAt(Air, Clip, 3.5);
    Air.appendSilence(0.5);
    for (const bool Hold : {false, true}) {
        SCOPED_TRACE(Hold ? "hold" : "no hold");
        Sequence.Hold = Hold;
        const auto Found = Scan(Air);
        // Reported once per occurrence; with Hold it stays found and is not reported again.
        EXPECT_EQ(Found[0].size(), Hold ? 1u : 2u);
        EXPECT_EQ(Sequence.Found(), Hold);
    }
    // Progress rises while the clip plays, reads 100 when it is found, 0 after a reset.
    Sequence.Hold = false;
    Engine.UpdateChannels();
    Engine.ResetSequences();
    Engine.Landmarks().ResetStream();
    int LastProgress = 0, Rises = 0;
    bool Reached = false;
    Engine.OnSequenceFound = [&](TAudioSequence& S) {
        Reached = true;
        EXPECT_EQ(S.Progress(0), 100);
        EXPECT_GT(S.Elapsed(Engine.StreamTime()), 0);
    };
    for (int H = 0; !Reached && size_t(H) * Half + Block <= Air.frames(); ++H) {
        Engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Air.samples.data() + size_t(H) * Half * 2), Block * 4);
        const int Progress = Sequence.Progress(0);
        EXPECT_GE(Progress, 0);
        EXPECT_LE(Progress, 100);
        Rises += Progress > LastProgress ? 1 : 0;
        LastProgress = Progress;
    }
    ASSERT_TRUE(Reached);
    EXPECT_GT(Rises, 3);
    Sequence.Reset();
    EXPECT_EQ(Sequence.Progress(0), 0);
    EXPECT_FALSE(Sequence.Found());
}

// Another clip switched on or off rebuilds the matcher's slots: a clip under way keeps its
// votes, and one heard to its end is still reported in its block when no vote comes after it
// (the stream goes silent).
TEST_F(LandmarkClip, AClipUnderWayIsFoundInItsBlockWhileAnotherIsSwitchedEveryBlock)
{
    const testkit::Pcm Clip = testkit::playPhrase(Phrase());
    Watch(Clip);
    const std::string OtherPath = Dir.file("other.wav");
    testkit::writeWav(OtherPath, testkit::playPhrase(Phrase(9)));
    testkit::Pcm Air;
    Air.appendSilence(0.5);
    testkit::mixAt(Air, Clip, 0.5);
    Air.appendSilence(1.0);
    const auto Alone = Scan(Air);
    ASSERT_EQ(Alone[0].size(), 1u);

    Engine.ResetSequences();
    Engine.Landmarks().ResetStream();
    std::vector<int> Found;
    int H = 0;
    Engine.OnSequenceFound = [&](TAudioSequence& Sequence) {
        if (Sequence.Number == 0)
            Found.push_back(H);
    };
    for (; size_t(H) * Half + Block <= Air.frames(); ++H) {
        if (Engine.Sequences.Count() == 1) {
            auto Other = Engine.BuildLandmarksFromFile(OtherPath, 50, TSignalMode::Left);
            Other->Number = 1;
            Engine.Sequences.Add(std::move(Other));
        } else {
            Engine.Sequences.Delete(1);
        }
        Engine.ProcessBuffer(reinterpret_cast<const uint8_t*>(Air.samples.data() + size_t(H) * Half * 2), Block * 4);
    }
    EXPECT_EQ(Found, Alone[0]);
}

TEST_F(LandmarkClip, WeakClipsAreMeasuredAndThoseWithoutLandmarksRefused)
{
    // Strength follows what a clip offers: busy or slow phrases are strong; two short notes
    // in a long quiet clip are weak; a steady chord, digital silence or a clip shorter than a
    // block give (almost) no landmarks and are refused.
    testkit::Pcm Chord;
    Chord.appendTones(2.0, {440, 660}, 0.3);
    testkit::Pcm Blip;
    Blip.appendSilence(1.5);
    testkit::mixAt(Blip, testkit::playPhrase(Phrase(5, 2, 0.1)), 0.3);
    testkit::Pcm Silence;
    Silence.appendSilence(2.0);
    enum TOutcome { Strong, Weak, Refused };
    struct TCase {
        const char* Name;
        testkit::Pcm Clip;
        TOutcome Outcome;
    };
    const TCase Cases[] = {
        {"busy phrase", testkit::playPhrase(Phrase()), Strong},
        {"slow phrase", testkit::playPhrase(Phrase(6, 6, 0.3)), Strong},
        {"two notes in a quiet clip", Blip, Weak},
        {"steady chord", Chord, Refused},
        {"digital silence", Silence, Refused},
        {"shorter than a block", testkit::playPhrase(Phrase(3, 1, 0.03)), Refused},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        const std::string Path = Dir.file("clip.wav");
        testkit::writeWav(Path, C.Clip);
        try {
            const auto Sequence = Engine.BuildLandmarksFromFile(Path, 50, TSignalMode::Left);
            const TLandmarkStrength Strength = LandmarkStrength(*Sequence->Landmarks);
            EXPECT_EQ(Strength.Weak() ? Weak : Strong, C.Outcome)
                << Strength.Percent << " %, " << Strength.Landmarks << " landmarks";
        } catch (const EFingerprintError& Error) {
            EXPECT_STREQ(Error.MessageKey(), "ClipNothingToRecognise");
            EXPECT_EQ(C.Outcome, Refused);
        }
    }
}

}  // namespace
