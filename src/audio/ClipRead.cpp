#include "audio/ClipRead.h"

#include "audio/AudioConvert.h"
#include "audio/cbAudioFileRead.h"

#include <algorithm>

namespace {

// Frames a stereo clip is decoded in at most at once: the reader's sizes are 32-bit.
constexpr size_t MaxFramesPerRead = size_t(1) << 20;

}  // namespace

std::vector<int16_t> ReadClipStereo(const std::string& FileName, int32_t FrameRate)
{
    TcbAudioFileReader Reader;
    Reader.Open(FileName);
    Reader.SetPosition(0);
    const TWaveFormat Format = Reader.Format();
    const size_t Channels = Format.Channels;
    if (Channels == 0 || Format.SamplesPerSec == 0 || FrameRate <= 0)
        CheckResult(AudioReadCode::IncompatibleFormat);

    // The clip goes into one array sized from the frames the file declares, a stereo file's
    // straight from the decoder: grown a chunk at a time it was copied over and over, and every
    // larger copy was fresh memory the system had to hand out and clear page by page. MP3
    // declares an estimate, so the array still grows when the stream runs longer; a cap keeps a
    // damaged header from asking for memory the clip never fills.
    constexpr size_t ChunkFrames = 8192;
    constexpr int64_t MaxDeclaredFrames = int64_t(1) << 22;  // 95 s at 44.1 kHz
    size_t Capacity = size_t(std::clamp<int64_t>(Reader.DeclaredFrames(), 0, MaxDeclaredFrames)) + 1;
    std::vector<int16_t> Stereo(2 * Capacity);
    std::vector<int16_t> Chunk;
    size_t Frames = 0;
    for (;;) {
        if (Frames == Capacity) {
            Capacity *= 2;
            Stereo.resize(2 * Capacity);
        }
        int16_t* Out = Stereo.data() + 2 * Frames;
        size_t Want, Got;
        if (Channels == 2) {
            Want = std::min(Capacity - Frames, MaxFramesPerRead);
            Got = size_t(Reader.Read(Out, int32_t(Want * 4))) / 4;
        } else {
            // The first two channels of each frame, a mono one twice.
            Want = std::min(Capacity - Frames, ChunkFrames);
            Chunk.resize(Want * Channels);
            Got = size_t(Reader.Read(Chunk.data(), int32_t(Chunk.size() * sizeof(int16_t)))) / Format.BlockAlign;
            CopyAsStereo(Chunk.data(), Got, Channels, Out);
        }
        Frames += Got;
        if (Got < Want)
            break;
    }
    Stereo.resize(2 * Frames);
    if (Format.SamplesPerSec == uint32_t(FrameRate) || Stereo.empty())
        return Stereo;
    std::vector<int16_t> Resampled;
    TResampler(Format.SamplesPerSec, uint32_t(FrameRate), 2).Process(Stereo.data(), Frames, true, Resampled);
    return Resampled;
}
