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
    };
    const TCase Cases[] = {{1, 0, 0}, {2, 0, 1}, {3, 0, 1}, {4, 0, 1}};
    testkit::TempDir Dir;
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Channels);
        testkit::Pcm Clip;
        Clip.channels = C.Channels;
        for (size_t F = 0; F < Frames; ++F)
            for (int Channel = 0; Channel < C.Channels; ++Channel)
                Clip.samples.push_back(Value(F, Channel));
        const std::string File = Dir.file("clip" + std::to_string(C.Channels) + ".wav");
        testkit::writeWav(File, Clip);

        const std::vector<int16_t> Stereo = ReadClipStereo(File, Clip.rate);
        ASSERT_EQ(Stereo.size(), 2 * Frames);
        for (size_t F = 0; F < Frames; ++F) {
            ASSERT_EQ(Stereo[2 * F], Value(F, C.Left)) << "frame " << F;
            ASSERT_EQ(Stereo[2 * F + 1], Value(F, C.Right)) << "frame " << F;
        }
    }
}

}  // namespace
