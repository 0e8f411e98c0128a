// The scanner side by side with the usual tools, in one run, on the ten minutes of
// bench_scan's broadcast. Every figure is the processor time (user + system) of the child
// process, as x real time (600 s of audio / seconds of processor time; higher is faster), the
// best and the median of several runs; only -j compares wall time.
//  - TwelveSamples/0 and /1: the ten clips recognised by Method=Spectral and by Method=Robust,
//    the cue and the dead air.
//  - DtmfOnly: the cue alone against multimon-ng alone on the same audio converted for it by
//    sox (22050 Hz mono 16-bit raw; the conversion is not counted). vs_tool > 1: faster.
//  - SilenceOnly: the dead air alone against ffmpeg's silencedetect (skipped without ffmpeg).
//  - Matcher500: 500 Method=Spectral clips: the scan of ten minutes less a scan of one second,
//    so that building the 500 prints is not counted; us_per_sample_block is the matching cost
//    per sample and analysis block.
//  - TwoFilesAtOnce: wall time of -j 2 on two copies against -j 1 on one; speedup 2 = linear.
//    two_processes_s is two scans of one file each started at once: what this machine gives
//    two busy processes right now, the ceiling for -j 2.
//  - Mp3Decode: the ten minutes as a 128 kbit/s MP3 decoded through the scanner's reader in
//    its 4 KB blocks (this process's processor time), against mpg123 -t decoding it alone
//    (skipped without mpg123).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ScanPrograms.h"
#include "audio/AudioIOStream.h"

#include <ctime>

namespace {

using benchkit::Seconds;

const int Runs = 5;

struct Fixture : benchkit::TenMinutes {
    std::string out = dir.file("detections.txt");
};

Fixture& Programme()
{
    static Fixture fixture;
    return fixture;
}

// The best (smallest) and median of `runs` measurements.
struct Spread {
    double best = 0, median = 0;
};
Spread Measure(int runs, const std::function<double()>& once)
{
    std::vector<double> values;
    for (int i = 0; i < runs; ++i)
        values.push_back(once());
    std::sort(values.begin(), values.end());
    return {values.front(), values[values.size() / 2]};
}

// x real time counters of a processor-time spread over `seconds` of audio.
void Report(benchmark::State& state, const std::string& prefix, const Spread& cpu, double seconds = Seconds)
{
    state.counters[prefix + "x_best"] = seconds / cpu.best;
    state.counters[prefix + "x_median"] = seconds / cpu.median;
}

double ScanCpu(const std::string& samples, const std::vector<std::string>& files, int& exitCode, int jobs = 1, double* wall = nullptr)
{
    std::vector<std::string> arguments{"-j", std::to_string(jobs), "--samples", samples};
    arguments.insert(arguments.end(), files.begin(), files.end());
    return benchkit::RunScan(arguments, Programme().out, exitCode, wall);
}

int Lines(const std::string& file)
{
    const std::string text = testkit::readText(file);
    return int(std::count(text.begin(), text.end(), '\n'));
}

void BM_TwelveSamples(benchmark::State& state)
{
    Fixture& f = Programme();
    const TDetectMethod method = state.range(0) ? TDetectMethod::Robust : TDetectMethod::Spectral;
    const std::string samples = f.twelveSamples("Twelve-" + std::to_string(state.range(0)) + ".ini", method);
    int exitCode = 0;
    for (auto _ : state) {
        const Spread cpu = Measure(Runs, [&] { return ScanCpu(samples, {f.wav}, exitCode); });
        state.SetIterationTime(cpu.median);
        Report(state, "", cpu);
    }
    state.counters["detections"] = Lines(f.out);
    state.counters["exit_code"] = exitCode;
}
BENCHMARK(BM_TwelveSamples)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

// Runs a program with standard output to `out`; its processor time.
double ToolCpu(const std::vector<std::string>& argv, const std::string& out)
{
    int exitCode = 0;
    const double cpu = testkit::waitForProcess(testkit::spawnProcess(argv, out), &exitCode);
    if (exitCode != 0)
        throw std::runtime_error(argv[0] + " failed with exit code " + std::to_string(exitCode));
    return cpu;
}

bool OnPath(const std::string& program)
{
    return !testkit::commandOutput("command -v " + program).empty();
}

void BM_DtmfOnly(benchmark::State& state)
{
    Fixture& f = Programme();
    if (!OnPath("multimon-ng") || !OnPath("sox")) {
        state.SkipWithError("multimon-ng or sox is not installed (apt-get install multimon-ng sox)");
        return;
    }
    TSampleList list;
    benchkit::TenMinutes::addCue(list, 0);
    const std::string samples = f.save(list, "Cue.ini");
    const std::string raw = f.dir.file("ten-minutes.raw");
    if (!std::filesystem::exists(raw))
        testkit::runProcess({"sox", f.wav, "-t", "raw", "-r", "22050", "-e", "signed", "-b", "16", "-c", "1", raw});
    const std::string toolOut = f.dir.file("multimon.txt");
    int exitCode = 0;
    for (auto _ : state) {
        const Spread ours = Measure(Runs, [&] { return ScanCpu(samples, {f.wav}, exitCode); });
        const Spread tool = Measure(Runs, [&] { return ToolCpu({"multimon-ng", "-a", "DTMF", "-t", "raw", raw}, toolOut); });
        state.SetIterationTime(ours.median);
        Report(state, "", ours);
        Report(state, "multimon_", tool);
        state.counters["vs_tool"] = tool.median / ours.median;
    }
    state.counters["detections"] = Lines(f.out);
    state.counters["multimon_lines"] = Lines(toolOut);
}
BENCHMARK(BM_DtmfOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_SilenceOnly(benchmark::State& state)
{
    Fixture& f = Programme();
    if (!OnPath("ffmpeg")) {
        state.SkipWithError("ffmpeg is not installed (apt-get install ffmpeg); this comparison is skipped");
        return;
    }
    TSampleList list;
    benchkit::TenMinutes::addDeadAir(list, 0);
    const std::string samples = f.save(list, "DeadAir.ini");
    const std::string toolOut = f.dir.file("ffmpeg.txt");
    int exitCode = 0;
    for (auto _ : state) {
        const Spread ours = Measure(Runs, [&] { return ScanCpu(samples, {f.wav}, exitCode); });
        const Spread tool = Measure(Runs, [&] {
            return ToolCpu({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-i", f.wav, "-af",
                            "silencedetect=noise=-50dB:d=2", "-f", "null", "-"},
                           toolOut);
        });
        state.SetIterationTime(ours.median);
        Report(state, "", ours);
        Report(state, "ffmpeg_", tool);
        state.counters["vs_tool"] = tool.median / ours.median;
    }
    state.counters["detections"] = Lines(f.out);
}
BENCHMARK(BM_SilenceOnly)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Matcher500(benchmark::State& state)
{
    Fixture& f = Programme();
    const int Clips = 500;
    TSampleList list;
    for (int i = 0; i < Clips; ++i) {
        const std::string file = f.dir.file("many" + std::to_string(i) + ".wav");
        if (!std::filesystem::exists(file)) {
            const testkit::Pcm stereo = testkit::makeClip(unsigned(100 + i), 1.0);
            testkit::Pcm mono;
            mono.channels = 1;
            for (size_t k = 0; k < stereo.frames(); ++k)
                mono.samples.push_back(stereo.samples[2 * k]);
            testkit::writeWav(file, mono);
        }
        TSampleRec* rec = testkit::AddSample(list, TSampleType::File, i, QString("Clip %1").arg(i + 1));
        rec->Path = QString::fromStdString(file);
        rec->Method = TDetectMethod::Spectral;
    }
    const std::string samples = f.save(list, "Many.ini");
    const std::string second = f.dir.file("one-second.wav");
    testkit::Pcm shortOne = testkit::makeProgramme(1.0);
    testkit::writeWav(second, shortOne);
    int exitCode = 0;
    for (auto _ : state) {
        const Spread start = Measure(3, [&] { return ScanCpu(samples, {second}, exitCode); });
        const Spread whole = Measure(3, [&] { return ScanCpu(samples, {f.wav}, exitCode); });
        const Spread matching{whole.best - start.best, whole.median - start.median};
        state.SetIterationTime(matching.median);
        Report(state, "", matching, Seconds - 1.0);
        state.counters["start_cpu_s"] = start.median;
        const double blocks = (Seconds - 1.0) / benchkit::Block;
        state.counters["us_per_sample_block"] = matching.median / blocks / Clips * 1e6;
    }
    state.counters["detections"] = Lines(f.out);
    state.counters["exit_code"] = exitCode;
}
BENCHMARK(BM_Matcher500)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_TwoFilesAtOnce(benchmark::State& state)
{
    Fixture& f = Programme();
    const std::string samples = f.twelveSamples("Twelve-0.ini", TDetectMethod::Spectral);
    const std::string copy = f.dir.file("copy.wav");
    if (!std::filesystem::exists(copy))
        std::filesystem::copy_file(f.wav, copy);
    int exitCode = 0;
    for (auto _ : state) {
        auto wallOf = [&](const std::vector<std::string>& files, int jobs) {
            double wall = 0;
            ScanCpu(samples, files, exitCode, jobs, &wall);
            return wall;
        };
        const Spread one = Measure(Runs, [&] { return wallOf({f.wav}, 1); });
        const Spread two = Measure(Runs, [&] { return wallOf({f.wav, copy}, 2); });
        const Spread apart = Measure(Runs, [&] {
            const std::string program = testkit::executableFolder() + "/ondrix-scan";
            const std::string freq = testkit::executableFolder() + "/Ini_Def/Freq.ini";
            const auto begin = std::chrono::steady_clock::now();
            std::vector<pid_t> children;
            for (const std::string& file : {f.wav, copy})
                children.push_back(testkit::spawnProcess({program, "-j", "1", "--freq", freq, "--samples", samples, file},
                                                         f.dir.file("apart-" + std::to_string(children.size()) + ".txt")));
            for (pid_t child : children)
                testkit::waitForProcess(child);
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        });
        state.SetIterationTime(two.median);
        state.counters["two_processes_s"] = apart.median;
        state.counters["one_file_s"] = one.median;
        state.counters["two_files_j2_s"] = two.median;
        state.counters["speedup_best"] = 2 * one.best / two.best;
        state.counters["speedup_median"] = 2 * one.median / two.median;
    }
    state.counters["exit_code"] = exitCode;
}
BENCHMARK(BM_TwoFilesAtOnce)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

double ProcessCpu()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

void BM_Mp3Decode(benchmark::State& state)
{
    Fixture& f = Programme();
    if (!OnPath("mpg123") || !OnPath("lame")) {
        state.SkipWithError("mpg123 or lame is not installed (apt-get install mpg123 lame); this comparison is skipped");
        return;
    }
    const std::string mp3 = f.dir.file("ten-minutes.mp3");
    if (!std::filesystem::exists(mp3))
        testkit::encodeMp3(f.wav, mp3);
    size_t frames = 0;
    for (auto _ : state) {
        const Spread ours = Measure(Runs, [&] {
            const double begin = ProcessCpu();
            TAudioFileSource source(mp3);
            std::vector<uint8_t> block(4096);
            frames = 0;
            while (const size_t got = source.Read(block.data(), block.size()))
                frames += got / 4;
            return ProcessCpu() - begin;
        });
        const Spread tool = Measure(Runs, [&] { return ToolCpu({"mpg123", "-q", "-t", mp3}, f.dir.file("mpg123.txt")); });
        state.SetIterationTime(ours.median);
        Report(state, "", ours);
        Report(state, "mpg123_", tool);
        state.counters["vs_tool"] = tool.median / ours.median;
    }
    state.counters["seconds_decoded"] = double(frames) / 44100;
}
BENCHMARK(BM_Mp3Decode)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
