#pragma once
// A long programme without holding it all in memory or on disk: stretches of generated PCM,
// each played a number of times in a row (ten minutes of dead air are a second of it played
// 600 times), delivered to the stream device as 16-bit stereo.

#include "audio/AudioIOStream.h"
#include "helpers/TestFiles.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace testkit {

struct Stretch {
    Pcm Sound;  // stereo, at the source's rate
    int Times = 1;
};

class StretchSource final : public TPcmSource {
public:
    explicit StretchSource(std::vector<Stretch> Stretches, int FramesPerSecond = 44100)
        : Parts(std::move(Stretches)), Rate(FramesPerSecond) {}
    int FrameRate() const override { return Rate; }
    int Channels() const override { return 2; }
    int BitsPerSample() const override { return 16; }
    size_t Read(uint8_t* Buffer, size_t Size) override
    {
        size_t Done = 0;
        while (Done < Size && Part < Parts.size()) {
            const std::vector<int16_t>& Samples = Parts[Part].Sound.samples;
            const size_t Bytes = Samples.size() * sizeof(int16_t);
            const size_t N = std::min(Size - Done, Bytes - Offset);
            std::memcpy(Buffer + Done, reinterpret_cast<const uint8_t*>(Samples.data()) + Offset, N);
            Done += N;
            Offset += N;
            if (Offset == Bytes) {
                Offset = 0;
                if (++Played >= Parts[Part].Times) {
                    Played = 0;
                    ++Part;
                }
            }
        }
        return Done;
    }

private:
    std::vector<Stretch> Parts;
    int Rate;
    size_t Part = 0;    // the stretch being played
    int Played = 0;     // times it has been played whole
    size_t Offset = 0;  // bytes of this time played
};

}  // namespace testkit
