// Configuration archives of a station's data folder with five years of daily logs (about 1800
// files, 50 MB): the whole backup (staging, level-9 archive, rename, pruning), and how long the
// main thread's event loop stalls while a scheduled backup runs on its own thread.

#include "backup/Func_Config.h"
#include "helpers/TestFiles.h"

#include <QCoreApplication>
#include <QDate>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;

void EnsureApplication()
{
    static int Argc = 1;
    static char Name[] = "bench_backup";
    static char* Argv[] = {Name, nullptr};
    static QCoreApplication App(Argc, Argv);
}

const char* const Months[] = {"January", "February", "March", "April", "May", "June", "July",
                              "August", "September", "October", "November", "December"};

// A data folder as a station's would be after five years: settings, and one log file a day of
// detections and switching messages.
struct TStationData {
    testkit::TempDir Root;
    std::string Data = Root.file("data");
    int Files = 0;
    std::uintmax_t Bytes = 0;

    TStationData()
    {
        fs::create_directories(Data + "/Ini");
        testkit::writeText(Data + "/Ini/Ondrix.ini", "[Ondrix]\r\nLogCount_Value=30\r\n");
        std::string Samples;
        for (int I = 0; I < 100; ++I)
            Samples += "[Sample" + std::to_string(I) + "]\r\nDescription=Jingle " + std::to_string(I) + "\r\nPath=/srv/jingles/" + std::to_string(I) + ".wav\r\n";
        testkit::writeText(Data + "/Ini/Samples.ini", Samples);
        std::mt19937 Random(42);
        const QDate First(2014, 1, 1);
        for (QDate Date = First; Date < First.addYears(5); Date = Date.addDays(1)) {
            const int Year = Date.year();
            const std::string Folder = Data + "/Log/" + std::to_string(Year) + "/" + Months[Date.month() - 1];
            fs::create_directories(Folder);
            const std::string Day = Date.toString("dd.MM.yyyy").toStdString();
            std::string Text;
            for (int Second = 0; Text.size() < 27000; Second += int(Random() % 300)) {
                char Line[160];
                const int Number = int(Random() % 100);
                std::snprintf(Line, sizeof Line, "%s %02d:%02d:%02d\t%d\tНайден образец № %d \"Jingle %d\"\r\n", Day.c_str(),
                              Second / 3600 % 24, Second / 60 % 60, Second % 60, int(Random() % 4), Number + 1, Number);
                Text += Line;
            }
            char Name[32];
            std::snprintf(Name, sizeof Name, "/%02d-%02d-%02d.log", Date.day(), Date.month(), Year % 100);
            testkit::writeText(Folder + Name, Text);
        }
        for (const auto& Entry : fs::recursive_directory_iterator(Data)) {
            if (Entry.is_regular_file()) {
                ++Files;
                Bytes += Entry.file_size();
            }
        }
    }

    TConfigBackupSettings Settings() const
    {
        TConfigBackupSettings S;
        S.IniFolder = QString::fromStdString(Data + "/Ini/");
        S.LogFolder = QString::fromStdString(Data + "/Log/");
        S.TempFolder = QString::fromStdString(Data + "/Temp/");
        S.BackupFolder = QString::fromStdString(Data + "/Backup/");
        return S;
    }
};

TStationData& Station()
{
    static TStationData Data;
    return Data;
}

// The whole backup of the five years, as the button or the schedule runs it.
void BM_BackupFiveYearsOfLogs(benchmark::State& State)
{
    EnsureApplication();
    TStationData& Data = Station();
    TBackupResult Result;
    for (auto _ : State) {
        Result = BackupConfig(Data.Settings(), Now());
        if (!Result.Error.isEmpty())
            State.SkipWithError(Result.Error.toStdString().c_str());
    }
    State.counters["files"] = Data.Files;
    State.counters["data_MB"] = double(Data.Bytes) / 1e6;
    State.counters["archive_MB"] = double(fs::file_size(Result.FileName.toStdString())) / 1e6;
}
BENCHMARK(BM_BackupFiveYearsOfLogs)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(2);

// A scheduled backup of the same data: the time the main thread spends starting it, and the
// longest the event loop (a 10 ms timer) waits while it runs.
void BM_ScheduledBackupMainThread(benchmark::State& State)
{
    EnsureApplication();
    TStationData& Data = Station();
    double LongestGapMs = 0;
    double StartMs = 0;
    for (auto _ : State) {
        TConfigBackup Backup;
        Backup.Settings = Data.Settings();
        Backup.Settings.BackupAuto = true;
        bool Done = false;
        Backup.OnBackupFinished = [&Done](const TBackupResult&, bool) { Done = true; };
        QElapsedTimer Clock;
        Clock.start();
        Backup.CheckAutoBackup();
        StartMs = std::max(StartMs, double(Clock.nsecsElapsed()) / 1e6);
        QTimer Timer;
        Timer.setInterval(10);
        qint64 Last = Clock.elapsed();
        QObject::connect(&Timer, &QTimer::timeout, [&] {
            const qint64 Elapsed = Clock.elapsed();
            LongestGapMs = std::max(LongestGapMs, double(Elapsed - Last));
            Last = Elapsed;
        });
        Timer.start();
        while (!Done)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    State.counters["start_ms"] = StartMs;
    State.counters["longest_event_gap_ms"] = LongestGapMs;
}
BENCHMARK(BM_ScheduledBackupMainThread)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
