#include "audio/ClipRead.h"

#include "audio/cbAudioFileRead.h"

#include <soxr.h>

#include <algorithm>
#include <cmath>

namespace {

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

    constexpr size_t ChunkFrames = 8192;
    std::vector<int16_t> Chunk(ChunkFrames * Channels);
    std::vector<int16_t> Stereo;
    const auto ChunkBytes = static_cast<int32_t>(Chunk.size() * sizeof(int16_t));
    for (;;) {
        const int32_t Got = Reader.Read(Chunk.data(), ChunkBytes);
        const size_t Frames = Got > 0 ? size_t(Got) / Format.BlockAlign : 0;
        // The first two channels of each frame, a mono one twice.
        const size_t First = Stereo.size();
        Stereo.resize(First + 2 * Frames);
        int16_t* Out = Stereo.data() + First;
        if (Channels == 2) {
            std::copy_n(Chunk.data(), 2 * Frames, Out);
        } else {
            const size_t Second = Channels > 1 ? 1 : 0;
            for (size_t F = 0; F < Frames; ++F) {
                Out[2 * F] = Chunk[F * Channels];
                Out[2 * F + 1] = Chunk[F * Channels + Second];
            }
        }
        if (Frames < ChunkFrames)
            break;
    }
    if (Format.SamplesPerSec == uint32_t(FrameRate) || Stereo.empty())
        return Stereo;
    return Resample(Stereo, Format.SamplesPerSec, uint32_t(FrameRate));
}
