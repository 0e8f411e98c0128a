// Fingerprints built from clip files: slices per block, peak selection and pruning, absence
// peaks, channels, and the clips that cannot give a usable fingerprint.

#include "audio/AudioDetectorBuild.h"
#include "audio/cbAudioRead.h"

#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <string>
#include <vector>

namespace {

constexpr int Rate = 44100;
constexpr size_t BlockFrames = 2048;

// Only bins 3g + 1 survive the smoothing in groups of three, so the tones sit on them.
struct Tone {
    int Bin;           // of the 2048-point transform: Bin * 44100 / 2048 Hz
    double Amplitude;  // sample units; reads about Amplitude / 3 after the smoothing
};

// Appends one block whose spectrum holds exactly these bin-centred tones (plus, on request,
// a little noise), on the left channel, the right channel, or both.
void AppendBlock(testkit::Pcm& Pcm, const std::vector<Tone>& Tones, double Noise = 0, int OnlyChannel = -1)
{
    const double TwoPi = 2 * std::acos(-1.0);
    uint32_t Seed = 12345u + uint32_t(Pcm.frames());
    Pcm.append(double(BlockFrames) / Rate, [&](int Channel, size_t I) {
        double V = 0;
        if (OnlyChannel < 0 || OnlyChannel == Channel)
            for (const Tone& T : Tones)
                V += T.Amplitude * std::sin(TwoPi * T.Bin * double(I) / double(BlockFrames));
        if (Noise > 0) {
            Seed = Seed * 1664525u + 1013904223u;
            V += Noise * (double(Seed >> 8) / double(1u << 24) * 2 - 1);
        }
        return static_cast<int16_t>(std::lround(std::clamp(V, -32768.0, 32767.0)));
    });
}

int32_t Freq(int Bin)
{
    return FreqOf(Bin, 1024, Rate);  // frequency of a bin of the 1024-bin spectrum
}

class FingerprintBuilder : public ::testing::Test {
protected:
    testkit::TempDir Dir;
    TAudioDetector Detector;

    std::string Clip(const std::vector<std::vector<Tone>>& Blocks, double Noise = 0, const std::string& Name = "clip.wav")
    {
        testkit::Pcm Pcm;
        for (const auto& Tones : Blocks)
            AppendBlock(Pcm, Tones, Noise);
        const std::string Path = Dir.file(Name);
        testkit::writeWav(Path, Pcm);
        return Path;
    }

    static std::vector<int32_t> Frequencies(const TAudioSample& Slice, TFreqKind Kind = fkPresent)
    {
        std::vector<int32_t> Result;
        for (const TFreqData& Peak : Slice.Peaks)
            if (Peak.Kind == Kind)
                Result.push_back(Peak.Frequency);
        return Result;
    }
};

TEST_F(FingerprintBuilder, OneSecondClipGivesOneSlicePerCompleteBlock)
{
    testkit::Pcm Pcm;
    Pcm.append(1.0, [](int, size_t I) {
        return static_cast<int16_t>(std::lround(3000 * std::sin(2 * std::acos(-1.0) * 100 * double(I) / 2048)));
    });
    ASSERT_EQ(Pcm.frames(), 44100u);
    const std::string Path = Dir.file("second.wav");
    testkit::writeWav(Path, Pcm);

    const auto Sequence = Detector.BuildFromFile(Path, 4, 37, false, TSignalMode::Add);
    ASSERT_EQ(Sequence->Samples.Count(), 21);
    EXPECT_EQ(Sequence->Kind, skSpectral);
    EXPECT_EQ(Sequence->Channel, TSignalMode::Add);
    EXPECT_FALSE(Sequence->Found());
    EXPECT_FALSE(Sequence->Hold);
    EXPECT_EQ(Sequence->Number, 0);
    EXPECT_EQ(Sequence->Duration, 0);
    EXPECT_EQ(Sequence->Current(), nullptr);
    for (const TAudioSample& Slice : Sequence->Samples) {
        EXPECT_EQ(Slice.MaxGap, 276);
        EXPECT_EQ(Slice.MinGap, 23);
        ASSERT_EQ(Slice.Peaks.Count(), 1);
        const TFreqData& Peak = Slice.Peaks.Items(0);
        EXPECT_EQ(Peak.Frequency, Freq(100));
        EXPECT_EQ(Peak.Frequency, 2153);
        EXPECT_NEAR(Peak.RefLevel, 1000, 2);
        EXPECT_EQ(Peak.Tolerance, 50);
        EXPECT_EQ(Peak.Sense, 37);
        EXPECT_EQ(Peak.Kind, fkPresent);
        EXPECT_EQ(Peak.Measured, 0);
    }
    EXPECT_EQ(Detector.FileFFT.Channels(), TSignalModes{TSignalMode::Add});
}

TEST_F(FingerprintBuilder, BlocksAndGapsFollowTheEnginesBlockSize)
{
    testkit::Pcm Pcm;
    Pcm.appendTones(1.0, {100 * 44100.0 / 2048}, 0.1);
    const std::string Path = Dir.file("second.wav");
    testkit::writeWav(Path, Pcm);
    struct Case { int32_t FFTCount, Slices, MaxGap, MinGap; };
    for (const Case& C : {Case{1024, 43, 138, 11}, Case{2048, 21, 276, 23}, Case{4096, 10, 552, 46}, Case{8192, 5, 1110, 92}}) {
        SCOPED_TRACE(C.FFTCount);
        Detector.FFTCount = C.FFTCount;
        const auto Sequence = Detector.BuildFromFile(Path, 4, 50, false, TSignalMode::Left);
        ASSERT_EQ(Sequence->Samples.Count(), C.Slices);
        EXPECT_EQ(Sequence->Samples.Items(0).MaxGap, C.MaxGap);
        EXPECT_EQ(Sequence->Samples.Items(0).MinGap, C.MinGap);
        EXPECT_EQ(FingerprintStrength(*Sequence).Percent(), 100);
    }
}

TEST_F(FingerprintBuilder, QuietOrOutOfBandBlocksGiveSlicesWithoutPeaks)
{
    // Silence; tones only below 1000 Hz and above 15000 Hz; a tone too quiet for the
    // presence threshold (about 190 after smoothing).
    const auto Sequence = Detector.BuildFromFile(
        Clip({{{100, 3000}}, {}, {{40, 9000}, {712, 9000}}, {{100, 570}}, {{100, 3000}}}), 4, 50, false, TSignalMode::Left);
    ASSERT_EQ(Sequence->Samples.Count(), 5);
    const std::vector<int> PeaksPerSlice = {1, 0, 0, 0, 1};
    for (int I = 0; I < 5; ++I)
        EXPECT_EQ(Sequence->Samples.Items(I).Peaks.Count(), PeaksPerSlice[size_t(I)]) << "slice " << I;
    const TFingerprintStrength Strength = FingerprintStrength(*Sequence);
    EXPECT_EQ(Strength.Slices, 5);
    EXPECT_EQ(Strength.SlicesWithPeaks, 2);
    EXPECT_EQ(Strength.Percent(), 40);
}

// A bin-centred tone of amplitude A reads A (or A - 1) in its bin and nothing around it, so
// after the smoothing its level is a third of that: 604 gives 201, 601 gives 200, 451 gives
// 150 and 448 gives 149. Presence needs more than 200, absence less than 150.
TEST_F(FingerprintBuilder, ThresholdsAreStrict)
{
    const std::string Path = Clip({{{100, 604}, {199, 601}, {301, 451}, {400, 448}}});
    const auto Sequence = Detector.BuildFromFile(Path, 6, 50, true, TSignalMode::Left);
    ASSERT_EQ(Sequence->Samples.Count(), 1);
    const TAudioSample& Slice = Sequence->Samples.Items(0);
    EXPECT_EQ(Frequencies(Slice, fkPresent), std::vector<int32_t>{Freq(100)});
    EXPECT_EQ(Frequencies(Slice, fkAbsent), std::vector<int32_t>{Freq(400)});
    ASSERT_EQ(Slice.Peaks.Count(), 2);
    EXPECT_EQ(Slice.Peaks.Items(0).RefLevel, 201);
    EXPECT_EQ(Slice.Peaks.Items(1).RefLevel, 149);
}

// At 22050 Hz the 15000 Hz band end lies beyond the spectrum: the band ends at its last
// bin, which (1024 mod 3 = 1) keeps its own level instead of a smoothed one.
TEST_F(FingerprintBuilder, AtLowFrameRatesTheBandEndsAtTheLastBin)
{
    constexpr int LowRate = 22050;
    testkit::Pcm Pcm;
    Pcm.rate = LowRate;
    const double TwoPi = 2 * std::acos(-1.0);
    Pcm.append(2.0 * BlockFrames / LowRate, [&](int, size_t I) {
        const double T = double(I % BlockFrames) / double(BlockFrames);
        return static_cast<int16_t>(std::lround(3000 * std::sin(TwoPi * 1000 * T) + 900 * std::sin(TwoPi * 1023 * T)));
    });
    ASSERT_EQ(Pcm.frames(), 2 * BlockFrames);
    const std::string Path = Dir.file("low.wav");
    testkit::writeWav(Path, Pcm);

    Detector.FrameRate = LowRate;
    const auto Sequence = Detector.BuildFromFile(Path, 4, 50, false, TSignalMode::Left);
    ASSERT_EQ(Sequence->Samples.Count(), 2);
    const TFreqDataList& Peaks = Sequence->Samples.Items(0).Peaks;
    ASSERT_EQ(Peaks.Count(), 2);
    EXPECT_EQ(Peaks.Items(0).Frequency, FreqOf(1000, 1024, LowRate));
    EXPECT_NEAR(Peaks.Items(0).RefLevel, 1000, 1);
    EXPECT_EQ(Peaks.Items(1).Frequency, FreqOf(1023, 1024, LowRate));
    EXPECT_NEAR(Peaks.Items(1).RefLevel, 900, 1);
    EXPECT_EQ(Sequence->Samples.Items(0).MaxGap, 6 * (2048 * 1000 / LowRate));
}

TEST_F(FingerprintBuilder, ClosePeaksAreThinnedInLevelOrder)
{
    struct Case {
        const char* Name;
        std::vector<Tone> Tones;
        std::vector<int> Kept;  // bins, strongest first
    };
    const std::vector<Case> Cases = {
        // 129 Hz apart (the nearest candidates to 150 Hz), levels 300 and 500.
        {"close pair", {{100, 900}, {106, 1500}}, {106}},
        // 323 Hz apart: both stay.
        {"distant pair", {{100, 900}, {115, 1500}}, {115, 100}},
        // The same close pair with a peak between them in level: they are not neighbours.
        {"pair split by level", {{100, 900}, {130, 1200}, {106, 1500}}, {106, 130, 100}},
        // A run of close peaks in level order: only the strongest survives.
        {"run", {{100, 900}, {103, 1200}, {106, 1500}, {109, 1800}}, {109}},
        // More peaks than MaxPeaks: the three strongest.
        {"limit", {{100, 900}, {130, 1200}, {160, 1500}, {190, 1800}, {220, 2100}}, {220, 190, 160}},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        const auto Sequence = Detector.BuildFromFile(Clip({C.Tones}), 3, 50, false, TSignalMode::Left);
        ASSERT_EQ(Sequence->Samples.Count(), 1);
        std::vector<int32_t> Expected;
        for (int Bin : C.Kept)
            Expected.push_back(Freq(Bin));
        EXPECT_EQ(Frequencies(Sequence->Samples.Items(0)), Expected);
        const TFreqDataList& Peaks = Sequence->Samples.Items(0).Peaks;
        for (int32_t I = 1; I < Peaks.Count(); ++I)
            EXPECT_GT(Peaks.Items(I - 1).RefLevel, Peaks.Items(I).RefLevel);
    }
}

TEST_F(FingerprintBuilder, AbsencePeaksFollowThePresencePeaksQuietestFirst)
{
    const std::string Path = Clip({{{100, 1500}, {199, 3000}, {301, 2400}}, {{151, 2000}}}, 300);
    for (bool UseAbsence : {false, true}) {
        SCOPED_TRACE(UseAbsence ? "with absence" : "without absence");
        const auto Sequence = Detector.BuildFromFile(Path, 4, 50, UseAbsence, TSignalMode::Left);
        ASSERT_EQ(Sequence->Samples.Count(), 2);
        for (const TAudioSample& Slice : Sequence->Samples) {
            const TFreqDataList& Peaks = Slice.Peaks;
            int32_t Present = 0;
            while (Present < Peaks.Count() && Peaks.Items(Present).Kind == fkPresent)
                ++Present;
            EXPECT_GE(Present, 1);
            EXPECT_LE(Present, 4);
            const int32_t Absent = Peaks.Count() - Present;
            EXPECT_EQ(Absent, UseAbsence ? 4 : 0);
            for (int32_t I = Present; I < Peaks.Count(); ++I) {
                const TFreqData& Peak = Peaks.Items(I);
                EXPECT_EQ(Peak.Kind, fkAbsent);
                EXPECT_GT(Peak.RefLevel, 0);
                EXPECT_LT(Peak.RefLevel, 150);
                EXPECT_GE(Peak.Frequency, 990);
                EXPECT_LE(Peak.Frequency, 14944);
                if (I > Present) {
                    EXPECT_LE(Peaks.Items(I - 1).RefLevel, Peak.RefLevel);
                }
            }
        }
        EXPECT_EQ(Frequencies(Sequence->Samples.Items(0)), (std::vector<int32_t>{Freq(199), Freq(301), Freq(100)}));
    }
}

TEST_F(FingerprintBuilder, BuildingTheSameClipTwiceGivesTheSamePeaks)
{
    const std::string Path = Clip({{{100, 1500}, {250, 3000}}, {{400, 2000}}, {}}, 300);
    const auto First = Detector.BuildFromFile(Path, 6, 50, true, TSignalMode::Left);
    const auto Second = Detector.BuildFromFile(Path, 6, 50, true, TSignalMode::Left);
    ASSERT_EQ(First->Samples.Count(), Second->Samples.Count());
    for (int32_t S = 0; S < First->Samples.Count(); ++S) {
        const TFreqDataList& A = First->Samples.Items(S).Peaks;
        const TFreqDataList& B = Second->Samples.Items(S).Peaks;
        ASSERT_EQ(A.Count(), B.Count());
        for (int32_t P = 0; P < A.Count(); ++P) {
            EXPECT_EQ(A.Items(P).Frequency, B.Items(P).Frequency);
            EXPECT_EQ(A.Items(P).RefLevel, B.Items(P).RefLevel);
            EXPECT_EQ(A.Items(P).Kind, B.Items(P).Kind);
        }
    }
}

TEST_F(FingerprintBuilder, ChannelPicksTheSpectrumAndMonoClipsCountAsStereo)
{
    testkit::Pcm Stereo;
    AppendBlock(Stereo, {{100, 3000}}, 0, 0);
    AppendBlock(Stereo, {{100, 3000}}, 0, 0);
    testkit::Pcm Right;
    AppendBlock(Right, {{199, 4500}}, 0, 1);
    AppendBlock(Right, {{199, 4500}}, 0, 1);
    Stereo.mixIn(Right, 0);
    testkit::writeWav(Dir.file("stereo.wav"), Stereo);

    testkit::Pcm Mono;
    Mono.channels = 1;
    AppendBlock(Mono, {{100, 3000}});
    AppendBlock(Mono, {{100, 3000}});
    testkit::writeWav(Dir.file("mono.wav"), Mono);

    struct Case { const char* File; TSignalMode Channel; int Bin; int Level; };
    for (const Case& C : {Case{"stereo.wav", TSignalMode::Left, 100, 1000}, Case{"stereo.wav", TSignalMode::Right, 199, 1500},
                          Case{"stereo.wav", TSignalMode::Add, 199, 750}, Case{"mono.wav", TSignalMode::Left, 100, 1000},
                          Case{"mono.wav", TSignalMode::Right, 100, 1000}, Case{"mono.wav", TSignalMode::Add, 100, 1000}}) {
        SCOPED_TRACE(std::string(C.File) + " channel " + std::to_string(int(C.Channel)));
        const auto Sequence = Detector.BuildFromFile(Dir.file(C.File), 1, 50, false, C.Channel);
        ASSERT_EQ(Sequence->Samples.Count(), 2);
        EXPECT_EQ(Sequence->Channel, C.Channel);
        const TFreqDataList& Peaks = Sequence->Samples.Items(1).Peaks;
        ASSERT_EQ(Peaks.Count(), 1);
        EXPECT_EQ(Peaks.Items(0).Frequency, Freq(C.Bin));
        EXPECT_NEAR(Peaks.Items(0).RefLevel, C.Level, 2);
    }
}

TEST_F(FingerprintBuilder, BuildingLeavesTheLiveAnalysisAlone)
{
    testkit::Pcm Live;
    AppendBlock(Live, {{300, 5000}});
    Detector.LiveFFT.SetChannels(TSignalModes{TSignalMode::Right});
    Detector.LiveFFT.Process(Live.samples.data(), int32_t(Live.samples.size() * 2));
    const TSpectrumData Before = Detector.LiveFFT.SpectrumRight();

    Detector.BuildFromFile(Clip({{{100, 3000}}}), 4, 50, true, TSignalMode::Left);
    EXPECT_EQ(Detector.LiveFFT.Channels(), TSignalModes{TSignalMode::Right});
    EXPECT_EQ(Detector.LiveFFT.SpectrumRight(), Before);
    EXPECT_TRUE(Detector.LiveFFT.SpectrumLeft().empty());
}

TEST_F(FingerprintBuilder, AClipShorterThanABlockGivesNoSlices)
{
    testkit::Pcm Short;
    Short.appendTones(double(BlockFrames - 1) / Rate, {3000});
    testkit::writeWav(Dir.file("short.wav"), Short);
    const auto Sequence = Detector.BuildFromFile(Dir.file("short.wav"), 4, 50, false, TSignalMode::Left);
    EXPECT_EQ(Sequence->Samples.Count(), 0);
}

TEST_F(FingerprintBuilder, ClipsAtOtherRatesAreResampledToTheEnginesRate)
{
    // The same second of two tones recorded at several rates and channel counts gives the
    // fingerprint of the 44100 Hz recording: as many slices, peaks at the same frequencies.
    struct Case { int Rate, Channels; };
    for (const Case& C : {Case{44100, 2}, Case{48000, 2}, Case{22050, 1}, Case{32000, 2}, Case{96000, 1}}) {
        SCOPED_TRACE(C.Rate);
        testkit::Pcm Pcm;
        Pcm.rate = C.Rate;
        Pcm.channels = C.Channels;
        Pcm.appendTones(1.0, {3000, 7000}, 0.3);
        const std::string Path = Dir.file("tones.wav");
        testkit::writeWav(Path, Pcm);
        const auto Sequence = Detector.BuildFromFile(Path, 2, 50, false, TSignalMode::Left);
        ASSERT_EQ(Sequence->Samples.Count(), 21);  // whole blocks of 2048 frames in 44100
        for (const TAudioSample& Slice : Sequence->Samples) {
            ASSERT_EQ(Slice.Peaks.Count(), 2);
            std::vector<int32_t> Found;
            for (const TFreqData& Peak : Slice.Peaks)
                Found.push_back(Peak.Frequency);
            std::sort(Found.begin(), Found.end());
            EXPECT_NEAR(Found[0], 3000, 30);
            EXPECT_NEAR(Found[1], 7000, 30);
        }
    }
}

TEST_F(FingerprintBuilder, ClipsWithoutPresencePeaksAreRefused)
{
    struct Case { const char* Name; std::vector<std::vector<Tone>> Blocks; int32_t MaxPeaks; bool UseAbsence; };
    const std::vector<Case> Cases = {
        {"digital silence", {{}, {}, {}}, 4, false},
        {"too quiet, absence peaks only", {{{100, 450}}, {{199, 450}}}, 4, true},
        {"MaxPeaks 0", {{{100, 3000}}}, 0, false},
        {"negative MaxPeaks", {{{100, 3000}}}, -3, true},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        try {
            Detector.BuildFromFile(Clip(C.Blocks, 40), C.MaxPeaks, 50, C.UseAbsence, TSignalMode::Left);
            ADD_FAILURE() << "the clip was accepted";
        } catch (const EFingerprintError& E) {
            // Not "error in file": the file is good, it has nothing to recognise.
            EXPECT_STREQ(E.MessageKey(), "ClipNothingToRecognise");
        }
    }
}

TEST_F(FingerprintBuilder, FileErrorsReachTheCaller)
{
    testkit::writeText(Dir.file("text.wav"), "not a clip\n");
    for (const char* Name : {"missing.wav", "text.wav"})
        EXPECT_THROW(Detector.BuildFromFile(Dir.file(Name), 4, 50, false, TSignalMode::Left), EAudioReadError) << Name;

    // A block size no engine uses, from a damaged setting.
    const std::string Good = Clip({{{100, 3000}}});
    for (int32_t Count : {0, -2048, 1 << 20, 3000, 512, 16384}) {
        Detector.FFTCount = Count;
        try {
            Detector.BuildFromFile(Good, 4, 50, false, TSignalMode::Left);
            ADD_FAILURE() << "FFTCount " << Count << " was accepted";
        } catch (const EAudioReadError& E) {
            EXPECT_EQ(E.ErrorCode(), AudioReadCode::InvalidBufferSize) << Count;
        }
    }
}

TEST_F(FingerprintBuilder, CutClipsGiveAFingerprintOrAClearError)
{
    testkit::Pcm Pcm;
    for (int B = 0; B < 12; ++B)
        AppendBlock(Pcm, {{100, 6000}, {250, 9000}});
    const std::string Wav = Dir.file("whole.wav");
    testkit::writeWav(Wav, Pcm);
    const std::string Mp3 = Dir.file("whole.mp3");
    testkit::encodeMp3(Wav, Mp3);
    const std::string WavBytes = testkit::readText(Wav);
    const std::string Mp3Bytes = testkit::readText(Mp3);
    // What a cut file gives: refused by the reader with its reason (a file cut short is a
    // damaged file, never the clip it held), or a fingerprint of MinSlices to MaxSlices slices.
    constexpr int Refused = -1;
    struct Case {
        const char* Name;
        const std::string& Whole;
        size_t Length;
        int MinSlices, MaxSlices;
    };
    const Case Cases[] = {
        // A WAV cut anywhere is a damaged file: its header promises more audio than it holds.
        {"wav, empty", WavBytes, 0, Refused, Refused},
        {"wav, inside the RIFF header", WavBytes, 3, Refused, Refused},
        {"wav, inside the format chunk", WavBytes, 20, Refused, Refused},
        {"wav, one byte short of the header", WavBytes, 43, Refused, Refused},
        {"wav, the header alone", WavBytes, 44, Refused, Refused},
        {"wav, one byte of audio", WavBytes, 45, Refused, Refused},
        {"wav, a quarter of a block", WavBytes, 5000, Refused, Refused},
        {"wav, half", WavBytes, WavBytes.size() / 2, Refused, Refused},
        {"wav, one byte short", WavBytes, WavBytes.size() - 1, Refused, Refused},
        // An MP3 whose last frame is cut short.
        {"mp3, empty", Mp3Bytes, 0, Refused, Refused},
        {"mp3, inside the first frame header", Mp3Bytes, 3, Refused, Refused},
        {"mp3, inside the first frame", Mp3Bytes, 300, Refused, Refused},
        {"mp3, half", Mp3Bytes, Mp3Bytes.size() / 2, Refused, Refused},
        {"mp3, one byte short", Mp3Bytes, Mp3Bytes.size() - 1, Refused, Refused},
        // Nothing cut.
        {"wav, whole", WavBytes, WavBytes.size(), 12, 12},
        {"mp3, whole", Mp3Bytes, Mp3Bytes.size(), 12, 13},
    };
    std::string Outcomes, Expected;
    for (const Case& C : Cases) {
        const std::string Cut = Dir.file(std::string("cut-") + C.Name + (&C.Whole == &WavBytes ? ".wav" : ".mp3"));
        testkit::writeText(Cut, C.Whole.substr(0, C.Length));
        std::string Outcome;
        try {
            const auto Sequence = Detector.BuildFromFile(Cut, 4, 50, true, TSignalMode::Left);
            const int Slices = Sequence->Samples.Count();
            Outcome = Slices >= C.MinSlices && Slices <= C.MaxSlices ? "as expected" : std::to_string(Slices) + " slices";
        } catch (const EAudioReadError& E) {
            Outcome = C.MinSlices == Refused && std::string(E.what()) != "" ? "as expected" : std::string("refused: ") + E.what();
        } catch (const EFingerprintError& E) {
            Outcome = std::string("nothing to recognise: ") + E.what();
        }
        Outcomes += std::string(C.Name) + ": " + Outcome + "\n";
        Expected += std::string(C.Name) + ": as expected\n";
    }
    EXPECT_EQ(Outcomes, Expected);
}

TEST_F(FingerprintBuilder, Mp3ClipsGiveTheSamePeaksAsTheirSource)
{
    testkit::Pcm Pcm;
    for (int B = 0; B < 40; ++B)
        AppendBlock(Pcm, {{100, 6000}, {250, 9000}});
    const std::string Wav = Dir.file("tones.wav");
    testkit::writeWav(Wav, Pcm);
    const std::string Mp3 = Dir.file("tones.mp3");
    testkit::encodeMp3(Wav, Mp3);

    const auto Sequence = Detector.BuildFromFile(Mp3, 2, 50, false, TSignalMode::Left);
    EXPECT_NEAR(Sequence->Samples.Count(), 40, 1);
    int Matching = 0;
    for (const TAudioSample& Slice : Sequence->Samples)
        if (Frequencies(Slice) == std::vector<int32_t>{Freq(250), Freq(100)})
            ++Matching;
    EXPECT_GE(Matching, 36);
}

}  // namespace
