// Building a clip's fingerprint: a 10 s 44.1 kHz stereo clip as WAV and as a 128 kbit/s MP3,
// decoded and analysed block by block with the engine's defaults.

#include "audio/AudioDetectorBuild.h"

#include "helpers/TestFiles.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>

namespace {

// A music-like clip: a few tones whose pitch changes every quarter second over quiet noise.
class TClipFiles {
public:
    TClipFiles()
    {
        testkit::Pcm Pcm;
        const double TwoPi = 2 * std::acos(-1.0);
        uint32_t Seed = 1;
        Pcm.append(10.0, [&](int Channel, size_t I) {
            const double T = double(I) / Pcm.rate;
            const int Step = int(T * 4);
            double V = 0;
            for (int K = 1; K <= 3; ++K)
                V += 4000 * std::sin(TwoPi * (400.0 * K + 170.0 * ((Step * 7 + K * 3) % 11)) * T + Channel);
            Seed = Seed * 1664525u + 1013904223u;
            V += 500 * (double(Seed >> 8) / double(1u << 24) - 0.5);
            return static_cast<int16_t>(std::lround(V));
        });
        Wav = Dir.file("clip.wav");
        Mp3 = Dir.file("clip.mp3");
        testkit::writeWav(Wav, Pcm);
        testkit::encodeMp3(Wav, Mp3, "-b 128 --cbr");
    }
    testkit::TempDir Dir;
    std::string Wav, Mp3;
};

const TClipFiles& Clips()
{
    static const TClipFiles Files;
    return Files;
}

void BuildFromFile(benchmark::State& State, const std::string& Path)
{
    TAudioDetector Detector;
    int32_t Slices = 0;
    for (auto _ : State) {
        auto Sequence = Detector.BuildFromFile(Path, 4, 50, true, TSignalMode::Add);
        Slices = Sequence->Samples.Count();
        benchmark::DoNotOptimize(Sequence);
    }
    State.counters["slices"] = Slices;
}

void BM_BuildFromWav10s(benchmark::State& State)
{
    BuildFromFile(State, Clips().Wav);
}
void BM_BuildFromMp3_10s(benchmark::State& State)
{
    BuildFromFile(State, Clips().Mp3);
}

}  // namespace

BENCHMARK(BM_BuildFromWav10s)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BuildFromMp3_10s)->Unit(benchmark::kMillisecond);
