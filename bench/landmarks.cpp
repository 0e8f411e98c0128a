// Landmark clips: building one 3 s clip's fingerprint, and watching 500 clips of 3 s at once
// on the engine's blocks (analysis included), with the resident memory they take.

#include "audio/AudioDetector.h"
#include "audio/AudioLandmarks.h"

#include "helpers/Broadcast.h"
#include "helpers/TestFiles.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

namespace {

constexpr int Block = 2048;
constexpr int Half = Block / 2;
constexpr int Clips = 500;

// Resident memory of this process in MB (VmRSS).
double ResidentMB()
{
    std::ifstream Status("/proc/self/status");
    std::string Line;
    while (std::getline(Status, Line))
        if (Line.rfind("VmRSS:", 0) == 0)
            return std::stod(Line.substr(6)) / 1024.0;
    return 0;
}

// A 3 s phrase of 20 notes: each seed its own clip.
testkit::Pcm Clip(unsigned Seed)
{
    return testkit::playPhrase(testkit::makePhrase(Seed, 20, 0.15));
}

void BM_BuildLandmarks3s(benchmark::State& State)
{
    // The fingerprint of a clip in memory: the engine keeps the prints of the files it has
    // built, so building from the same file again would only find the kept one.
    const testkit::Pcm Pcm = Clip(1);
    TAudioFFT Analyser;
    size_t Landmarks = 0;
    for (auto _ : State) {
        auto Print = BuildLandmarkPrint(Analyser, Pcm.samples.data(), Pcm.frames(), TSignalMode::Add, Block, 44100);
        Landmarks = Print->Landmarks.size();
        benchmark::DoNotOptimize(Print);
    }
    State.counters["landmarks"] = double(Landmarks);
}

void BM_Watch500Clips(benchmark::State& State)
{
    const double Before = ResidentMB();
    TAudioDetector Detector;
    {
        testkit::TempDir Dir;
        for (int I = 0; I < Clips; ++I) {
            const std::string Path = Dir.file("clip.wav");
            testkit::writeWav(Path, Clip(unsigned(I + 1)));
            Detector.Sequences.Add(Detector.BuildLandmarksFromFile(Path, 50, TSignalMode::Add)).Number = I;
        }
    }
    // A minute of programme: other phrases on another instrument, with three of the clips in it.
    testkit::Pcm Air = testkit::playPhrase(testkit::makePhrase(9999, 240, 0.25), 0.2, 0.5);
    for (int I = 0; I < 3; ++I)
        testkit::mixAt(Air, Clip(unsigned(100 * I + 7)), 10.0 + 15.0 * I);
    int Found = 0;
    Detector.OnSequenceFound = [&](TAudioSequence&) { ++Found; };
    Detector.UpdateChannels();
    const auto* Bytes = reinterpret_cast<const uint8_t*>(Air.samples.data());
    const size_t Blocks = (Air.frames() - Block) / Half;
    size_t H = 0;
    for (auto _ : State) {
        Detector.ProcessBuffer(Bytes + H * Half * 4, Block * 4);
        if (++H == Blocks) {
            H = 0;
            State.PauseTiming();
            Detector.ResetSequences();
            Detector.Landmarks().ResetStream();
            State.ResumeTiming();
        }
    }
    // Each block stands for Half frames of audio.
    State.counters["realtime_x"] = benchmark::Counter(double(Half) / 44100.0, benchmark::Counter::kIsIterationInvariantRate);
    State.counters["rss_MB"] = ResidentMB();
    State.counters["rss_added_MB"] = ResidentMB() - Before;
    State.counters["landmarks"] = double(Detector.Landmarks().IndexedLandmarks());
    State.counters["found"] = Found;
}

}  // namespace

BENCHMARK(BM_BuildLandmarks3s)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Watch500Clips)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
