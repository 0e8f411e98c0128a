// A clip as the fingerprint builders read it: every frame, as stereo, of any channel count.

#include "audio/ClipRead.h"
#include "helpers/TestFiles.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Frames long enough to span several of the reader's chunks, with a remainder.
constexpr size_t Frames = 3 * 8192 + 77;

// Sample C of frame F: a value that names both, so a frame or channel out of place shows.
int16_t Value(size_t F, int C)
{
    return static_cast<int16_t>((F * 7 + size_t(C) * 1000) % 30000 - 15000);
}

TEST(ReadClipStereo, EveryFrameAsStereoWhateverTheChannels)
{
    struct TCase {
        int Channels;
        int Left, Right;  // the file's channels that become left and right
        size_t Frames;
    };
    const TCase Cases[] = {
        {1, 0, 0, Frames},
        {2, 0, 1, Frames},
        {3, 0, 1, Frames},
        {4, 0, 1, Frames},
        // Longer than the 2^22 frames the reader first makes room for, whatever the file
        // declares: the array grows.
        {1, 0, 0, (size_t(1) << 22) + 77},
        {2, 0, 1, (size_t(1) << 22) + 77},
    };
    testkit::TempDir Dir;
    for (const TCase& C : Cases) {
        SCOPED_TRACE(testing::Message() << C.Channels << " channels, " << C.Frames << " frames");
        testkit::Pcm Clip;
        Clip.channels = C.Channels;
        Clip.rate = 8000;
        Clip.samples.reserve(C.Frames * size_t(C.Channels));
        for (size_t F = 0; F < C.Frames; ++F)
            for (int Channel = 0; Channel < C.Channels; ++Channel)
                Clip.samples.push_back(Value(F, Channel));
        const std::string File = Dir.file("clip.wav");
        testkit::writeWav(File, Clip);

        const std::vector<int16_t> Stereo = ReadClipStereo(File, Clip.rate);
        ASSERT_EQ(Stereo.size(), 2 * C.Frames);
        for (size_t F = 0; F < C.Frames; ++F) {
            ASSERT_EQ(Stereo[2 * F], Value(F, C.Left)) << "frame " << F;
            ASSERT_EQ(Stereo[2 * F + 1], Value(F, C.Right)) << "frame " << F;
        }
    }
}

}  // namespace
