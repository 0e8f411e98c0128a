// ondrix-scan over ten minutes of generated broadcast (44.1 kHz stereo WAV) with 10 clip
// samples, 1 command sample and 1 silence sample: the processor time of the whole run
// (start-up, fingerprints of the ten clips, decoding, analysis, matching), as the child
// process's user + system time.

#include <benchmark/benchmark.h>

#include <QString>


#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "samples/Class_SampleRec.h"

namespace {

const double Seconds = 600.0;
const double Block = 2048.0 / 44100;

struct Fixture {
    testkit::TempDir dir;
    std::string samples = dir.file("Samples.ini");
    std::string wav = dir.file("ten-minutes.wav");

    Fixture()
    {
        TSampleList list;
        testkit::Pcm broadcast = testkit::makeProgramme(Seconds);
        for (int i = 0; i < 10; ++i) {
            const testkit::Pcm clip = testkit::makeClip(unsigned(i + 1), 3.0);
            const std::string file = dir.file("clip" + std::to_string(i) + ".wav");
            testkit::writeWav(file, clip);
            testkit::mixAt(broadcast, clip, std::round((20.0 + 55.0 * i) / Block) * Block);
            TSampleRec* rec = testkit::AddSample(list, TSampleType::File, i, QString("Clip %1").arg(i + 1));
            rec->Path = QString::fromStdString(file);
            rec->Method = TDetectMethod::Spectral;
        }
        testkit::mixAt(broadcast, testkit::makeDtmf("159", 0.12, 0.06), 300.0);
        testkit::silence(broadcast, 570.0, 5.0);
        testkit::writeWav(wav, broadcast);

        TSampleRec* cue = testkit::AddSample(list, TSampleType::Command, 10, "Cue");
        cue->Command = "1,5,9";
        cue->CommandSpeed = 5;
        TSampleRec* air = testkit::AddSample(list, TSampleType::Silence, 11, "Dead air");
        air->SignalTime = 3.0;
        air->SignaldB = -50;
        list.SaveToFile(QString::fromStdString(samples));
    }
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
