// What command samples cost per analysed block: the analysis of the block and one step of 16
// command sequences built from the default frequency table, over programme with DTMF in it.
// Each benchmark reports the heap allocations per block, which must stay 0.
//
// The OnePass benchmarks step every block of the programme once, so both methods see the same
// blocks: counted in instructions, they compare the methods whatever the machine's load:
//   valgrind --tool=callgrind --callgrind-out-file=tones.%p build/bin/bench_tones
//     --benchmark_filter=OnePass/Robust
//   callgrind_annotate --inclusive=yes tones.<pid> | grep -E 'AnalyseBlock|StepCommands'
// AnalyseBlock is the whole block (analysis and steps), StepCommands the steps alone; each
// is called once per block.

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

constexpr double ProgrammeSeconds = 20;
constexpr size_t Hop = Frames / 2;
// Blocks of Frames frames every half block, like the engine's pairs of buffers.
constexpr size_t ProgrammeBlocks = (size_t(ProgrammeSeconds * FrameRate) - Frames) / Hop;

// 20 s of speech-like and music-like programme with the sixteen symbols dialled twice in it.
testkit::Pcm CommandProgramme()
{
    testkit::Pcm Pcm = testkit::makeSpeechLike(ProgrammeSeconds / 2, 7, -18);
    const testkit::Pcm Music = testkit::makeMusicLike(ProgrammeSeconds / 2, 7, -18);
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

// One step of every sequence on the block FFT analysed; the sequences found.
[[gnu::noinline]] int64_t StepCommands(TAudioSequenceList& Sequences, const TStepInput& Input)
{
    int64_t Found = 0;
    for (TAudioSequence& Sequence : Sequences)
        Found += StepSequence(Sequence, Input) ? 1 : 0;
    return Found;
}

// The block of Frames frames at Block of Pcm analysed and stepped.
[[gnu::noinline]] int64_t AnalyseBlock(TAudioFFT& FFT, const testkit::Pcm& Pcm, size_t Block,
                                       TAudioSequenceList& Sequences, const TStepInput& Input)
{
    FFT.Process(Pcm.samples.data() + Block * Hop * 2, static_cast<int32_t>(Frames * 4));
    return StepCommands(Sequences, Input);
}

void CommandBlocks(benchmark::State& State, TDetectMethod Method)
{
    const testkit::Pcm Pcm = CommandProgramme();
    TAudioSequenceList Sequences;
    BuildCommands(Sequences, Method);
    TAudioFFT FFT;
    FFT.SetChannels({TSignalMode::Left});

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
        Found += AnalyseBlock(FFT, Pcm, Block, Sequences, Input);
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

// Every block of the programme once, for instruction counts.
BENCHMARK_CAPTURE(CommandBlocks, OnePass/Spectral, TDetectMethod::Spectral)->Iterations(ProgrammeBlocks);
BENCHMARK_CAPTURE(CommandBlocks, OnePass/Robust, TDetectMethod::Robust)->Iterations(ProgrammeBlocks);

}  // namespace
