// What command samples cost per analysed block: the analysis of the block and one step of 16
// command sequences built from the default frequency table, over programme with DTMF in it.
// Each benchmark reports the heap allocations per block, which must stay 0.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"
#include "helpers/Broadcast.h"
#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <stdexcept>
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

// 20 s of speech-like and music-like programme with the sixteen symbols dialled twice in it.
testkit::Pcm CommandProgramme()
{
    testkit::Pcm Pcm = testkit::makeSpeechLike(10.0, 7, -18);
    const testkit::Pcm Music = testkit::makeMusicLike(10.0, 7, -18);
    Pcm.samples.insert(Pcm.samples.end(), Music.samples.begin(), Music.samples.end());
    testkit::mixAt(Pcm, testkit::makeDtmf("123A456B789C*0#D", 0.08, 0.08, 0.1), 3.0);
    testkit::mixAt(Pcm, testkit::makeDtmf("0918273645*#ABCD", 0.12, 0.1, 0.1), 12.0);
    return Pcm;
}

// Sixteen command samples of four symbols each, every symbol of the table in four of them.
void BuildCommands(TAudioSequenceList& Sequences, TDetectMethod Method)
{
    TFrequencyRecArr Table;
    if (!LoadFrequencyTable(Table, QStringLiteral(ONDRIX_SOURCE_DIR "/resources/Ini_Def/Freq.ini")) || Table.size() != 16)
        throw std::runtime_error("the default frequency table is missing");
    for (int S = 0; S < 16; ++S) {
        TSampleRec Sample;
        Sample.Type = TSampleType::Command;
        Sample.Method = Method;
        Sample.Number = S;
        QStringList Symbols;
        for (int I = 0; I < 4; ++I)
            Symbols.append(Table[(S + 5 * I) % 16].ID);
        Sample.Command = Symbols.join(u',');
        TAudioSequence& Sequence = Sequences.AddNew();
        if (!BuildCommandSequence(Sample, Table, Sequence))
            throw std::runtime_error("a command could not be built");
    }
}

void CommandBlocks(benchmark::State& State, TDetectMethod Method)
{
    const testkit::Pcm Pcm = CommandProgramme();
    TAudioSequenceList Sequences;
    BuildCommands(Sequences, Method);
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});

    // Blocks of Frames frames every half block, like the engine's pairs of buffers.
    const size_t Hop = Frames / 2;
    const size_t Blocks = (Pcm.frames() - Frames) / Hop;
    const auto Bytes = static_cast<int32_t>(Frames * 4);
    TToneAnalysis Tones;
    TStepInput Input{.Analyser = &FFT, .FrameRate = FrameRate, .Now = 46000.5, .Tones = &Tones};
    size_t Block = 0;
    int64_t Found = 0;
    // The first block of a size sets up the arrays and plan.
    FFT.Process(Pcm.samples.data(), Bytes);
    for (TAudioSequence& Sequence : Sequences)
        StepSequence(Sequence, Input);
    const int64_t Before = Allocations.load();
    for (auto _ : State) {
        FFT.Process(Pcm.samples.data() + Block * Hop * 2, Bytes);
        for (TAudioSequence& Sequence : Sequences)
            Found += StepSequence(Sequence, Input) ? 1 : 0;
        Input.Now = IncMilliseconds(Input.Now, 1000.0 * Hop / FrameRate);
        if (++Block == Blocks)
            Block = 0;
    }
    State.counters["allocs/iter"] = benchmark::Counter(double(Allocations.load() - Before), benchmark::Counter::kAvgIterations);
    State.counters["found/iter"] = benchmark::Counter(double(Found), benchmark::Counter::kAvgIterations);
}

void BM_CommandBlockSpectral(benchmark::State& State)
{
    CommandBlocks(State, TDetectMethod::Spectral);
}
BENCHMARK(BM_CommandBlockSpectral);

void BM_CommandBlockToneSets(benchmark::State& State)
{
    CommandBlocks(State, TDetectMethod::Robust);
}
BENCHMARK(BM_CommandBlockToneSets);

}  // namespace
