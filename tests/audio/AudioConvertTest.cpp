// Decoded audio made into what the engine hears: stereo of any channel count, the engine's
// rate from any other, whole or a piece at a time, and a recording read that way.

#include "audio/AudioConvert.h"
#include "audio/AudioIOStream.h"
#include "audio/cbAudioRead.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Interleaved stereo: a tone on each side (left 1 kHz, right 3 kHz at half the level) after
// a second of silence, at Rate.
std::vector<int16_t> TonesAfterSilence(int Rate, double Seconds)
{
    testkit::Pcm Pcm;
    Pcm.rate = Rate;
    Pcm.appendSilence(1.0);
    const double TwoPi = 2 * std::acos(-1.0);
    Pcm.append(Seconds - 1.0, [&](int Channel, size_t I) {
        const double Hz = Channel == 0 ? 1000.0 : 3000.0;
        const double Level = Channel == 0 ? 0.5 : 0.25;
        return int16_t(std::lround(32767 * Level * std::sin(TwoPi * Hz * double(I) / Rate)));
    });
    return Pcm.samples;
}

std::vector<int16_t> ResampleWhole(const std::vector<int16_t>& Stereo, uint32_t InRate, uint32_t OutRate)
{
    std::vector<int16_t> Out;
    TResampler(InRate, OutRate, 2).Process(Stereo.data(), Stereo.size() / 2, true, Out);
    return Out;
}

TEST(ResamplerTest, KeepsLengthPitchLevelAndTime)
{
    for (const uint32_t InRate : {48000u, 32000u, 22050u, 96000u}) {
        SCOPED_TRACE(InRate);
        const std::vector<int16_t> Out = ResampleWhole(TonesAfterSilence(int(InRate), 3.0), InRate, 44100);
        // Three seconds at the new rate.
        EXPECT_NEAR(double(Out.size() / 2), 3 * 44100.0, 1.0);
        // The tone starts where it started: one second in.
        size_t Onset = 0;
        while (Onset < Out.size() / 2 && std::abs(Out[2 * Onset]) < 1600)
            ++Onset;
        EXPECT_NEAR(double(Onset), 44100.0, 10.0);
        // Pitch and level over the last second: 2000 zero crossings of 1 kHz on the left, and
        // the right's 3 kHz at the level it had.
        int Crossings = 0;
        double RightPower = 0;
        for (size_t F = 2 * 44100; F + 1 < 3 * 44100; ++F) {
            Crossings += (Out[2 * F] < 0) != (Out[2 * F + 2] < 0);
            RightPower += double(Out[2 * F + 1]) * Out[2 * F + 1];
        }
        EXPECT_NEAR(Crossings, 2000, 2);
        EXPECT_NEAR(std::sqrt(RightPower / 44100) / 32767, 0.25 / std::sqrt(2.0), 0.002);
    }
}

TEST(ResamplerTest, PiecesOfAnySizeGiveWhatTheWholeGivesEveryTime)
{
    const std::vector<int16_t> In = TonesAfterSilence(48000, 2.0);
    const size_t Frames = In.size() / 2;
    const std::vector<int16_t> Whole = ResampleWhole(In, 48000, 44100);
    // Without dither the same input gives the same output, run after run.
    EXPECT_EQ(ResampleWhole(In, 48000, 44100), Whole);
    for (const size_t Piece : {size_t(1), size_t(441), size_t(4099), size_t(48000), Frames}) {
        SCOPED_TRACE(Piece);
        TResampler Resampler(48000, 44100, 2);
        std::vector<int16_t> Out;
        for (size_t Done = 0; Done < Frames; Done += Piece) {
            const size_t Count = std::min(Piece, Frames - Done);
            Resampler.Process(In.data() + 2 * Done, Count, Done + Count == Frames, Out);
        }
        EXPECT_EQ(Out, Whole);
    }
}

TEST(ResamplerTest, RatesItCannotConvertAreAnError)
{
    EXPECT_THROW(TResampler(0, 44100, 2), EAudioReadError);
}

// Sample C of frame F: a value that names both, so a frame or channel out of place shows.
int16_t Value(size_t F, int C)
{
    return static_cast<int16_t>((F * 7 + size_t(C) * 1000) % 30000 - 15000);
}

// A recording of any channel count is read as stereo (mono on both sides, more channels by
// their first two), and at another rate resampled as it is read, in whatever sizes the
// capture asks for, to the same audio the whole would give.
TEST(RecordingSourceTest, AnyChannelsAndRateAreReadAsStereoAtTheEnginesRate)
{
    struct Case {
        int Channels;
        int Rate;
        int Left, Right;  // the file's channels that become left and right
    };
    const Case Cases[] = {{1, 44100, 0, 0}, {2, 44100, 0, 1}, {4, 44100, 0, 1}, {1, 48000, 0, 0}, {4, 22050, 0, 1}};
    testkit::TempDir Dir;
    const size_t Frames = 3 * 44100 + 77;
    for (const Case& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Channels << " channels at " << C.Rate << " Hz");
        testkit::Pcm Recording;
        Recording.channels = C.Channels;
        Recording.rate = C.Rate;
        for (size_t F = 0; F < Frames; ++F)
            for (int Channel = 0; Channel < C.Channels; ++Channel)
                Recording.samples.push_back(Value(F, Channel));
        const std::string File = Dir.file("recording.wav");
        testkit::writeWav(File, Recording);
        std::vector<int16_t> Stereo;
        for (size_t F = 0; F < Frames; ++F)
            Stereo.insert(Stereo.end(), {Value(F, C.Left), Value(F, C.Right)});
        const std::vector<int16_t> Expected = C.Rate == 44100 ? Stereo : ResampleWhole(Stereo, uint32_t(C.Rate), 44100);

        for (const size_t ReadSize : {size_t(4096), size_t(60 * 1024), size_t(4)}) {
            SCOPED_TRACE(ReadSize);
            std::unique_ptr<TPcmSource> Source = std::make_unique<TAudioFileSource>(File);
            if (Source->FrameRate() != 44100)
                Source = std::make_unique<TResampledSource>(std::move(Source), 44100);
            EXPECT_EQ(Source->FrameRate(), 44100);
            EXPECT_EQ(Source->Channels(), 2);
            std::vector<int16_t> Read(Expected.size() + ReadSize);
            size_t Bytes = 0;
            for (;;) {
                const size_t Got = Source->Read(reinterpret_cast<uint8_t*>(Read.data()) + Bytes, ReadSize);
                Bytes += Got;
                if (Got < ReadSize)
                    break;
            }
            std::vector<uint8_t> After(ReadSize);
            EXPECT_EQ(Source->Read(After.data(), ReadSize), 0u);  // ended for good
            Read.resize(Bytes / 2);
            ASSERT_EQ(Read.size(), Expected.size());
            EXPECT_TRUE(Read == Expected);
        }
    }
}

}  // namespace
