// The analyser and the matcher on the path every captured buffer takes: one analysis block
// through the FFT, and one step of every watched sequence. Each benchmark also reports the
// heap allocations per iteration, which must stay 0 once the first block has been seen.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

namespace {
std::atomic<int64_t> Allocations{0};
}

void* operator new(size_t Size)
{
    Allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* Block = std::malloc(Size ? Size : 1))
        return Block;
    throw std::bad_alloc();
}
void operator delete(void* Block) noexcept
{
    std::free(Block);
}
void operator delete(void* Block, size_t) noexcept
{
    std::free(Block);
}

namespace {

constexpr int32_t FrameRate = 44100;
constexpr size_t Frames = 2048;

// A block of broadcast-like audio: a few tones in both channels over noise.
std::vector<int16_t> ProgrammeBlock()
{
    std::mt19937 Random(42);
    std::normal_distribution<double> Noise(0, 600);
    const double Pi = std::acos(-1.0);
    std::vector<int16_t> Samples;
    Samples.reserve(Frames * 2);
    for (size_t I = 0; I < Frames; ++I) {
        const double T = double(I) / FrameRate;
        const double Tones = 6000 * std::sin(2 * Pi * 440 * T) + 3000 * std::sin(2 * Pi * 1900 * T)
                             + 2000 * std::sin(2 * Pi * 5300 * T);
        Samples.push_back(static_cast<int16_t>(std::clamp(Tones + Noise(Random), -32768.0, 32767.0)));
        Samples.push_back(static_cast<int16_t>(std::clamp(0.8 * Tones + Noise(Random), -32768.0, 32767.0)));
    }
    return Samples;
}

void ReportAllocations(benchmark::State& State, int64_t Before)
{
    State.counters["allocs/iter"] = benchmark::Counter(
        double(Allocations.load() - Before), benchmark::Counter::kAvgIterations);
}

void ProcessBlock(benchmark::State& State, TSignalModes Modes)
{
    const std::vector<int16_t> Block = ProgrammeBlock();
    const auto Bytes = static_cast<int32_t>(Block.size() * sizeof(int16_t));
    TAudioFFT FFT;
    FFT.SetChannels(Modes);
    FFT.Process(Block.data(), Bytes);  // the first block of a size sets up the arrays and plan
    const int64_t Before = Allocations.load();
    for (auto _ : State) {
        FFT.Process(Block.data(), Bytes);
        benchmark::DoNotOptimize(FFT.SpectrumOf(TSignalMode::Left).data());
    }
    ReportAllocations(State, Before);
}

void BM_ProcessOneMode(benchmark::State& State)
{
    ProcessBlock(State, {TSignalMode::Left});
}
BENCHMARK(BM_ProcessOneMode);

void BM_ProcessFourModes(benchmark::State& State)
{
    ProcessBlock(State, {TSignalMode::Left, TSignalMode::Right, TSignalMode::Add, TSignalMode::Dec});
}
BENCHMARK(BM_ProcessFourModes);

// Arg clip sequences (100, and the 500 of a large list) of 20 slices with 6 present peaks
// each, taken from the block's own spectrum so that every slice matches: each step evaluates
// every sequence's awaited slice, every 20th step finds them all and the next one re-arms
// them, like clips that keep playing. ns_per_sequence is the cost of one sequence's step.
void BM_StepSequencePass(benchmark::State& State)
{
    const std::vector<int16_t> Block = ProgrammeBlock();
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});
    FFT.Process(Block.data(), static_cast<int32_t>(Block.size() * sizeof(int16_t)));
    const TSpectrumData& Spectrum = FFT.SpectrumLeft();
    const auto Len = static_cast<int32_t>(Spectrum.size());

    std::mt19937 Random(3);
    std::uniform_int_distribution<int32_t> Bin(BinOf(1000, Len, FrameRate), BinOf(15000, Len, FrameRate));
    TAudioSequenceList Sequences;
    for (int S = 0; S < State.range(0); ++S) {
        TAudioSequence& Sequence = Sequences.AddNew();
        Sequence.Number = S;
        for (int I = 0; I < 20; ++I) {
            TAudioSample& Slice = Sequence.Samples.AddNew();
            Slice.MaxGap = 276;
            for (int P = 0; P < 6; ++P) {
                TFreqData& Peak = Slice.Peaks.AddNew();
                Peak.Frequency = FreqOf(Bin(Random), Len, FrameRate);
                Peak.Tolerance = 50;
                Peak.RefLevel = BandLevel(Peak.Frequency - 50, Peak.Frequency + 50, fkPresent, Spectrum, FrameRate);
                Peak.Sense = 20;
            }
        }
    }

    for (TAudioSequence& Sequence : Sequences)
        Sequence.Prepare(Spectrum.size(), FrameRate);
    TStepInput Input{.Analyser = &FFT, .FrameRate = FrameRate, .LeftVolumedB = -12, .RightVolumedB = -14, .Now = 46000.5};
    int64_t Found = 0;
    const int64_t Before = Allocations.load();
    for (auto _ : State) {
        for (TAudioSequence& Sequence : Sequences)
            Found += StepSequence(Sequence, Input) ? 1 : 0;
        Input.Now = IncMilliseconds(Input.Now, 23.2);
    }
    ReportAllocations(State, Before);
    State.counters["found/iter"] = benchmark::Counter(double(Found), benchmark::Counter::kAvgIterations);
    // Seconds per iteration / (sequences * 1e-9): nanoseconds per sequence.
    State.counters["ns_per_sequence"] = benchmark::Counter(
        double(State.range(0)) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StepSequencePass)->Arg(100)->Arg(500);

}  // namespace
