// The monitor with its window, as an operator runs it, on a private X server and a private
// PulseAudio server:
//  - BM_StartToWindow: from starting the program to its window shown, with 100 samples (none
//    switched on), and the resident memory then;
//  - BM_MonitoringWindowShown / BM_MonitoringWindowMinimised / BM_MonitoringInTray (a
//    notification area on the screen, the window hidden behind its icon) /
//    BM_MonitoringHeadless (no window): 12 samples switched on at start
//    (10 clips, 1 command, 1 silence), a 60 s programme playing; the program's processor time
//    (user + system) over 60 s as a share of one core, and its resident memory.
// Compare with bench_live (the engine alone through ondrix-scan).

#include <benchmark/benchmark.h>

#include <QString>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "helpers/XvfbDisplay.h"
#include "samples/Class_SampleRec.h"

namespace {

using Clock = std::chrono::steady_clock;

// Processor time of a running process in seconds: the run time the scheduler counted for each of
// its threads (nanoseconds, where the user + system times of /proc/<pid>/stat count 10 ms ticks and
// cannot tell apart figures below half a percent over a minute).
double ProcessCpu(pid_t Pid)
{
    double Seconds = 0;
    std::error_code Error;
    for (const auto& Task : std::filesystem::directory_iterator("/proc/" + std::to_string(Pid) + "/task", Error)) {
        std::ifstream In(Task.path() / "schedstat");
        unsigned long long RunNs = 0;
        if (In >> RunNs)
            Seconds += double(RunNs) / 1e9;
    }
    return Seconds;
}

// Resident memory of a running process in MB.
double ProcessRssMb(pid_t Pid)
{
    std::ifstream In("/proc/" + std::to_string(Pid) + "/status");
    std::string Line;
    while (std::getline(In, Line))
        if (Line.rfind("VmRSS:", 0) == 0)
            return std::stod(Line.substr(6)) / 1024.0;
    return 0;
}

// Whether the window's state file holds a line (its start).
bool StateHas(const std::string& File, const std::string& Wanted)
{
    std::ifstream In(File);
    std::string Line;
    while (std::getline(In, Line))
        if (Line.rfind(Wanted, 0) == 0)
            return true;
    return false;
}

bool StateShown(const std::string& File)
{
    return StateHas(File, "Visible=1");
}

struct Station {
    testkit::TempDir Root;
    std::string Data = Root.file("Station");
    std::string State = Root.file("state.txt");

    void Settings(const std::string& Entries, const TSampleList& Samples)
    {
        std::filesystem::create_directories(Data + "/Ini");
        testkit::writeText(Data + "/Ini/Ondrix.ini", "[Ondrix]\r\n" + Entries);
        Samples.SaveToFile(QString::fromStdString(Data + "/Ini/Samples.ini"));
    }

    std::string Socket = Root.file("ondrix.socket");

    // WithState: the window reports what it shows in the state file (a test aid an operator's
    // program does not have, and whose writing costs a little every second).
    pid_t Start(bool Headless = false, bool WithState = true)
    {
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        if (WithState)
            setenv("ONDRIX_WINDOW_STATE", State.c_str(), 1);
        setenv("ONDRIX_SOCKET", Socket.c_str(), 1);
        std::vector<std::string> Args{testkit::executableFolder() + "/ondrix", "/Data=" + Data};
        if (Headless)
            Args.insert(Args.begin() + 1, "--headless");
        const pid_t Pid = testkit::spawnProcess(Args, Root.file("out.txt"));
        unsetenv("ONDRIX_WINDOW_STATE");
        unsetenv("ONDRIX_SOCKET");
        return Pid;
    }

    static void Stop(pid_t Pid)
    {
        kill(Pid, SIGTERM);
        testkit::waitForProcess(Pid);
    }
};

void BM_StartToWindow(benchmark::State& state)
{
    testkit::XvfbDisplay Display(1280, 800);
    Station Place;
    const std::string Clip = Place.Root.file("clip.wav");
    testkit::writeWav(Clip, testkit::makeClip(1, 3.0, 0.75));
    TSampleList Samples;
    for (int I = 0; I < 100; ++I) {
        TSampleRec* Rec = testkit::AddSample(Samples, I % 3 == 0 ? TSampleType::File : I % 3 == 1 ? TSampleType::Silence : TSampleType::Signal,
                                             I, QString("Sample %1").arg(I + 1));
        Rec->Path = QString::fromStdString(Clip);
    }
    Place.Settings("", Samples);
    double Seconds = 0, Rss = 0;
    for (auto _ : state) {
        std::filesystem::remove(Place.State);
        const auto Begin = Clock::now();
        const pid_t Pid = Place.Start();
        while (!StateShown(Place.State) && Clock::now() - Begin < std::chrono::seconds(30))
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        Seconds = std::chrono::duration<double>(Clock::now() - Begin).count();
        std::this_thread::sleep_for(std::chrono::seconds(2));
        Rss = ProcessRssMb(Pid);
        Station::Stop(Pid);
        state.SetIterationTime(Seconds);
    }
    state.counters["start_to_window_s"] = Seconds;
    state.counters["rss_MB"] = Rss;
}

enum class TRun { Window, InTray, Headless };

void Monitoring(benchmark::State& state, const std::string& Entries, TRun Run = TRun::Window)
{
    const bool Headless = Run == TRun::Headless;
    testkit::XvfbDisplay Display(1280, 800);
    if (Run == TRun::InTray && !Display.startTray())
        state.SkipWithError("no notification area");
    testkit::PulseServer Server;
    Station Place;
    TSampleList Samples;
    testkit::Pcm Programme = testkit::makeProgramme(60.0);
    for (int I = 0; I < 10; ++I) {
        const testkit::Pcm Clip = testkit::makeClip(unsigned(I + 1), 3.0, 0.75);
        const std::string File = Place.Root.file("clip" + std::to_string(I) + ".wav");
        testkit::writeWav(File, Clip);
        testkit::mixAt(Programme, Clip, 2.0 + 5.5 * I);
        TSampleRec* Rec = testkit::AddSample(Samples, TSampleType::File, I, QString("Clip %1").arg(I + 1));
        Rec->Path = QString::fromStdString(File);
        Rec->AutoStart = true;
    }
    testkit::mixAt(Programme, testkit::makeDtmf("159", 0.12, 0.06), 57.0);
    TSampleRec* Command = testkit::AddSample(Samples, TSampleType::Command, 10, "Cue");
    Command->Command = "1,5,9";
    Command->AutoStart = true;
    TSampleRec* Air = testkit::AddSample(Samples, TSampleType::Silence, 11, "Dead air");
    Air->SignalTime = 3.0;
    Air->SignaldB = -50;
    Air->AutoStart = true;
    Place.Settings(Entries, Samples);
    const std::string Feed = Place.Root.file("programme.wav");
    testkit::writeWav(Feed, Programme);

    double Share = 0, Rss = 0;
    for (auto _ : state) {
        // Only the shown window is watched through its state file; hidden in the notification
        // area and headless, the program runs as an operator's does and is up once it serves
        // its socket.
        const bool Shown = Run == TRun::Window;
        const pid_t Pid = Place.Start(Headless, Shown);
        const auto Begin = Clock::now();
        while (!(Shown ? StateHas(Place.State, "Visible=1") : std::filesystem::exists(Place.Socket))
               && Clock::now() - Begin < std::chrono::seconds(30))
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        std::this_thread::sleep_for(std::chrono::seconds(3));  // samples on, capture running
        const pid_t Player = Server.playAsync(Feed);
        const double Cpu0 = ProcessCpu(Pid);
        const auto T0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(60));
        const double Cpu1 = ProcessCpu(Pid);
        const double Wall = std::chrono::duration<double>(Clock::now() - T0).count();
        Rss = ProcessRssMb(Pid);
        testkit::PulseServer::waitFor(Player);
        Station::Stop(Pid);
        Share = (Cpu1 - Cpu0) / Wall;
        state.SetIterationTime(Wall);
    }
    state.counters["cpu_percent_of_one_core"] = Share * 100;
    state.counters["rss_MB"] = Rss;
}

void BM_MonitoringWindowShown(benchmark::State& state)
{
    Monitoring(state, "NormPos=40,30,1039,709\r\n");
}

void BM_MonitoringWindowMinimised(benchmark::State& state)
{
    Monitoring(state, "NormPos=40,30,1039,709\r\nCheck_RunMinimized_Checked=True\r\nProgIcon_ItemIndex=1\r\n");
}

// The same with a notification area on the screen: the window stays hidden behind its icon.
void BM_MonitoringInTray(benchmark::State& state)
{
    Monitoring(state, "NormPos=40,30,1039,709\r\nCheck_RunMinimized_Checked=True\r\nProgIcon_ItemIndex=1\r\n",
               TRun::InTray);
}

// The monitor without a window, for comparison.
void BM_MonitoringHeadless(benchmark::State& state)
{
    Monitoring(state, "", TRun::Headless);
}

}  // namespace

BENCHMARK(BM_StartToWindow)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitoringWindowShown)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MonitoringWindowMinimised)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MonitoringInTray)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_MonitoringHeadless)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
