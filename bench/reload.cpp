// Rebuilding the monitor's engine, as every switch of a sample and every edit does:
// TMonitorController::ReloadEngine with 100 clip samples of 3 s switched on, followed by the
// first analysed block (where the landmark matcher takes up the rebuilt sequences), for both
// clip matchers. BM_ReloadEngineFirstTime builds every clip from its file (the start of the
// monitor); BM_ReloadEngine is every rebuild after it, with the clips' fingerprints kept.

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioIOStream.h"
#include "audio/ClipPrintCache.h"
#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/SettingsModel.h"
#include "helpers/Broadcast.h"
#include "helpers/TestFiles.h"

namespace {

constexpr int Clips = 100;

void Application()
{
    static int Argc = 1;
    static char Name[] = "bench_reload";
    static char* Argv[] = {Name, nullptr};
    static QCoreApplication App(Argc, Argv);
}

// A monitor on a temporary data folder with Clips clip samples, all switched on; the capture
// reads a silent file that is never drained.
struct Monitor {
    testkit::TempDir Root;
    std::unique_ptr<TSettings> Folders;
    TMainThreadQueue Queue;
    TSettingsModel Model;
    std::unique_ptr<TMonitorController> Controller;
    std::vector<uint8_t> Block;

    explicit Monitor(TDetectMethod Method)
    {
        Application();
        std::filesystem::create_directories(Root.path() / "prog");
        Folders = std::make_unique<TSettings>(
            TSettingsStartup{{QString::fromStdString("/Data=" + Root.file("data"))}, QString::fromStdString(Root.file("prog/ondrix")), [](qint64) {}});
        Controller = std::make_unique<TMonitorController>(*Folders, Model, Queue);
        testkit::Pcm Silence;
        Silence.appendSilence(1.0);
        const std::string Feed = Root.file("feed.wav");
        testkit::writeWav(Feed, Silence);
        Controller->Engine().CaptureDevice = [Feed] {
            return std::make_unique<TStreamWaveIn>([Feed] { return std::make_unique<TAudioFileSource>(Feed); },
                                                   TPacing::AsFastAsTaken);
        };
        for (int I = 0; I < Clips; ++I) {
            const std::string File = Root.file("clip" + std::to_string(I) + ".wav");
            testkit::writeWav(File, testkit::makeClip(unsigned(I + 1), 3.0, 0.25));
            auto Rec = std::make_unique<TSampleRec>();
            Rec->Type = TSampleType::File;
            Rec->Number = I;
            Rec->Description = QString("Clip %1").arg(I + 1);
            Rec->Path = QString::fromStdString(File);
            Rec->Method = Method;
            Controller->Samples().Add(std::move(Rec));
        }
        Controller->Enable_All_BtnClick();
        Block.assign(size_t(Controller->Engine().FFTCount) * 4, 0);
    }

    void ReloadAndAnalyse()
    {
        Controller->ReloadEngine();
        Controller->Engine().ProcessBuffer(Block.data(), uint16_t(Block.size()));
    }
};

TDetectMethod MethodOf(const benchmark::State& State)
{
    return State.range(0) == 0 ? TDetectMethod::Robust : TDetectMethod::Spectral;
}

void BM_ReloadEngine(benchmark::State& State)
{
    Monitor M(MethodOf(State));
    for (auto _ : State)
        M.ReloadAndAnalyse();
    State.counters["sequences"] = M.Controller->Engine().Sequences.Count();
    State.counters["clip_builds"] = double(M.Controller->Engine().ClipPrints().Builds());
}
BENCHMARK(BM_ReloadEngine)->ArgName("spectral")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_ReloadEngineFirstTime(benchmark::State& State)
{
    Monitor M(MethodOf(State));
    for (auto _ : State) {
        M.Controller->Engine().ClipPrints().Clear();
        M.ReloadAndAnalyse();
    }
    State.counters["sequences"] = M.Controller->Engine().Sequences.Count();
}
BENCHMARK(BM_ReloadEngineFirstTime)->ArgName("spectral")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
