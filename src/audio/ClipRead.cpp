#include "audio/ClipRead.h"

#include "audio/cbAudioFileRead.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace {

// Frames a stereo clip is decoded in at most at once: the reader's sizes are 32-bit.
constexpr size_t MaxFramesPerRead = size_t(1) << 20;

// Resamples interleaved 16-bit stereo from InRate to OutRate in one pass (the resampler's
// delay is flushed, so the result covers the whole clip).
std::vector<int16_t> Resample(const std::vector<int16_t>& Stereo, uint32_t InRate, uint32_t OutRate)
{
    const size_t InFrames = Stereo.size() / 2;
    const auto OutCapacity = size_t(std::ceil(double(InFrames) * OutRate / InRate)) + 16;
    std::vector<int16_t> Out(OutCapacity * 2);
    const soxr_io_spec_t Io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t Quality = soxr_quality_spec(SOXR_HQ, 0);
    size_t OutFrames = 0;
    if (const soxr_error_t Error = soxr_oneshot(InRate, OutRate, 2, Stereo.data(), InFrames, nullptr, Out.data(),
                                                OutCapacity, &OutFrames, &Io, &Quality, nullptr))
        throw EAudioReadError(std::string("Cannot resample the clip: ") + Error, AudioReadCode::IncompatibleFormat);
    Out.resize(OutFrames * 2);
    return Out;
}

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
            const size_t Second = Channels > 1 ? 1 : 0;
            for (size_t F = 0; F < Got; ++F) {
                Out[2 * F] = Chunk[F * Channels];
                Out[2 * F + 1] = Chunk[F * Channels + Second];
            }
        }
        Frames += Got;
        if (Got < Want)
            break;
    }
    Stereo.resize(2 * Frames);
    if (Format.SamplesPerSec == uint32_t(FrameRate) || Stereo.empty())
        return Stereo;
    return Resample(Stereo, Format.SamplesPerSec, uint32_t(FrameRate));
}
