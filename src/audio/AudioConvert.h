#pragma once
// Decoded audio turned into what the engine hears: 16-bit stereo at its frame rate. Clips read
// whole for their fingerprints (ClipRead.h) and recordings read a buffer at a time by the
// scanner (AudioIOStream.h) go through the same two steps, so a 48 kHz clip and a 48 kHz
// recording are heard alike.

#include <cstddef>
#include <cstdint>
#include <vector>

struct soxr;

// Frames of interleaved 16-bit PCM as stereo: stereo as it is, mono on both sides, more
// channels by their first two (front left and right). Out holds 2 * Frames values.
void CopyAsStereo(const int16_t* In, size_t Frames, size_t Channels, int16_t* Out);

// Interleaved 16-bit PCM from one sample rate to another with libsoxr's high quality, fed in
// pieces of any size. Without dither, so that the same input always gives the same output
// (a scan is repeatable to the sample).
class TResampler {
public:
    // Raises EAudioReadError when libsoxr cannot convert between these rates.
    TResampler(uint32_t InRate, uint32_t OutRate, unsigned Channels);
    ~TResampler();
    TResampler(const TResampler&) = delete;
    TResampler& operator=(const TResampler&) = delete;

    // Resamples the next InFrames frames of In and appends every frame they give to Out. Last:
    // the input ends with them; the resampler's delay is flushed, so that Out then holds the
    // whole input's length at the new rate. Raises EAudioReadError when libsoxr fails.
    void Process(const int16_t* In, size_t InFrames, bool Last, std::vector<int16_t>& Out);

private:
    soxr* FSoxr = nullptr;
    double FRatio;
    unsigned FChannels;
};
