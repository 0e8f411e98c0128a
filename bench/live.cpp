// Live monitoring at the defaults (44100 Hz, 2048-frame blocks): ondrix-scan --live on a
// private PulseAudio server for 65 s while a 60 s programme with ten clips and a DTMF cue plays
// into the feed (then 5 s of silence), with 10 clip samples, 1 command sample and 1 silence
// sample: 12 detections expected. Reports the program's processor
// time (user + system) as a share of one core.

#include <benchmark/benchmark.h>

#include <QString>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "samples/Class_SampleRec.h"

namespace {

const double Seconds = 60.0;  // programme
const double Measured = 65.0;  // programme and the silence after it

void BM_LiveMonitoring(benchmark::State& state)
{
    testkit::PulseServer server;
    const std::string folder = server.folder();
    TSampleList list;
    testkit::Pcm programme = testkit::makeProgramme(Seconds);
    for (int i = 0; i < 10; ++i) {
        const testkit::Pcm clip = testkit::makeClip(unsigned(i + 1), 3.0, 0.75);
        const std::string file = folder + "/clip" + std::to_string(i) + ".wav";
        testkit::writeWav(file, clip);
        testkit::mixAt(programme, clip, 2.0 + 5.5 * i);
        TSampleRec* rec = testkit::AddSample(list, TSampleType::File, i, QString("Clip %1").arg(i + 1));
        rec->Path = QString::fromStdString(file);
        rec->Method = TDetectMethod::Spectral;
    }
    testkit::mixAt(programme, testkit::makeDtmf("159", 0.12, 0.06), 57.0);
    testkit::AddSample(list, TSampleType::Command, 10)->Command = "1,5,9";
    TSampleRec* air = testkit::AddSample(list, TSampleType::Silence, 11);
    air->SignalTime = 3.0;
    air->SignaldB = -50;
    list.SaveToFile(QString::fromStdString(folder + "/Samples.ini"));
    testkit::writeWav(folder + "/programme.wav", programme);

    double cpu = 0;
    std::string lines;
    for (auto _ : state) {
        const pid_t scan = testkit::spawnProcess({testkit::executableFolder() + "/ondrix-scan", "--live", "--device", "0", "--samples",
                                  folder + "/Samples.ini", "--freq", testkit::executableFolder() + "/Ini_Def/Freq.ini"},
                                 folder + "/detections.txt");
        const pid_t player = server.playAsync(folder + "/programme.wav");
        // The measurement spans a fixed stretch of live audio; waiting for it is the point.
        std::this_thread::sleep_for(std::chrono::duration<double>(Measured));
        testkit::PulseServer::waitFor(player);
        kill(scan, SIGINT);
        cpu = testkit::waitForProcess(scan);
        state.SetIterationTime(cpu);
        lines = testkit::readText(folder + "/detections.txt");
    }
    state.counters["cpu_s"] = cpu;
    state.counters["core_percent"] = cpu / Measured * 100.0;
    state.counters["detections"] = double(std::count(lines.begin(), lines.end(), '\n'));
}
BENCHMARK(BM_LiveMonitoring)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
