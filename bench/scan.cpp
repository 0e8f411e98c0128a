// ondrix-scan over ten minutes of generated broadcast (44.1 kHz stereo WAV) with 10 clip
// samples, 1 command sample and 1 silence sample: the processor time of the whole run
// (start-up, fingerprints of the ten clips, decoding, analysis, matching), as the child
// process's user + system time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "ScanPrograms.h"

namespace {

using benchkit::Seconds;

struct Fixture : benchkit::TenMinutes {
    std::string samples = twelveSamples("Samples.ini", TDetectMethod::Spectral);
};

// Runs the program with stdout to a file; returns its processor time in seconds.
double RunChild(const std::vector<std::string>& argv, const std::string& out, int& exitCode)
{
    return testkit::waitForProcess(testkit::spawnProcess(argv, out), &exitCode);
}

void BM_ScanTenMinutes(benchmark::State& state)
{
    static Fixture fixture;
    const std::string program = testkit::executableFolder() + "/ondrix-scan";
    const std::string freq = testkit::executableFolder() + "/Ini_Def/Freq.ini";
    const std::string out = fixture.dir.file("detections.txt");
    double cpu = 0;
    int exitCode = 0;
    for (auto _ : state) {
        cpu = RunChild({program, "--samples", fixture.samples, "--freq", freq, fixture.wav}, out, exitCode);
        state.SetIterationTime(cpu);
    }
    const std::string lines = testkit::readText(out);
    state.counters["cpu_s"] = cpu;
    state.counters["x_realtime"] = Seconds / cpu;
    state.counters["detections"] = double(std::count(lines.begin(), lines.end(), '\n'));
    state.counters["exit_code"] = exitCode;
}
BENCHMARK(BM_ScanTenMinutes)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

// A day of recordings on every processor: Arg(0) copies of the ten minutes scanned with -j Arg(1),
// as wall time; files_per_s compares the throughput of one job and of several.
void BM_ScanFilesAtOnce(benchmark::State& state)
{
    static Fixture fixture;
    const int files = int(state.range(0)), jobs = int(state.range(1));
    const std::string program = testkit::executableFolder() + "/ondrix-scan";
    const std::string freq = testkit::executableFolder() + "/Ini_Def/Freq.ini";
    const std::string out = fixture.dir.file("detections-" + std::to_string(jobs) + ".txt");
    std::vector<std::string> argv{program, "-j", std::to_string(jobs), "--samples", fixture.samples, "--freq", freq};
    for (int i = 0; i < files; ++i) {
        const std::string copy = fixture.dir.file("copy-" + std::to_string(i) + ".wav");
        if (!std::filesystem::exists(copy))
            std::filesystem::copy_file(fixture.wav, copy);
        argv.push_back(copy);
    }
    double wall = 0;
    int exitCode = 0;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        RunChild(argv, out, exitCode);
        wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        state.SetIterationTime(wall);
    }
    state.counters["files_per_s"] = files / wall;
    state.counters["x_realtime"] = files * Seconds / wall;
    state.counters["exit_code"] = exitCode;
}
BENCHMARK(BM_ScanFilesAtOnce)->Args({2, 1})->Args({2, 2})->Args({4, 1})->Args({4, 2})
    ->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
