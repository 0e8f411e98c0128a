#pragma once
// The programmes and sample lists the scanner benchmarks run ondrix-scan on: ten minutes of
// generated broadcast (44.1 kHz stereo WAV) with ten clips, a DTMF cue and five seconds of
// dead air, and the lists that watch it.

#include <QString>

#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "samples/Class_SampleRec.h"

namespace benchkit {

inline constexpr double Seconds = 600.0;
inline constexpr double Block = 2048.0 / 44100;

struct TenMinutes {
    testkit::TempDir dir;
    std::string wav = dir.file("ten-minutes.wav");
    std::vector<std::string> clips;

    TenMinutes()
    {
        testkit::Pcm broadcast = testkit::makeProgramme(Seconds);
        for (int i = 0; i < 10; ++i) {
            const testkit::Pcm clip = testkit::makeClip(unsigned(i + 1), 3.0);
            clips.push_back(dir.file("clip" + std::to_string(i) + ".wav"));
            testkit::writeWav(clips.back(), clip);
            testkit::mixAt(broadcast, clip, std::round((20.0 + 55.0 * i) / Block) * Block);
        }
        testkit::mixAt(broadcast, testkit::makeDtmf("159", 0.12, 0.06), 300.0);
        testkit::silence(broadcast, 570.0, 5.0);
        testkit::writeWav(wav, broadcast);
    }

    // The list of the ten clips (by Method), the cue and the dead air, written to `name`.
    std::string twelveSamples(const std::string& name, TDetectMethod method) const
    {
        TSampleList list;
        for (int i = 0; i < 10; ++i) {
            TSampleRec* rec = testkit::AddSample(list, TSampleType::File, i, QString("Clip %1").arg(i + 1));
            rec->Path = QString::fromStdString(clips[size_t(i)]);
            rec->Method = method;
        }
        addCue(list, 10);
        addDeadAir(list, 11);
        return save(list, name);
    }
    static void addCue(TSampleList& list, int number)
    {
        TSampleRec* cue = testkit::AddSample(list, TSampleType::Command, number, "Cue");
        cue->Command = "1,5,9";
        cue->CommandSpeed = 5;
    }
    static void addDeadAir(TSampleList& list, int number)
    {
        TSampleRec* air = testkit::AddSample(list, TSampleType::Silence, number, "Dead air");
        air->SignalTime = 3.0;
        air->SignaldB = -50;
    }
    std::string save(const TSampleList& list, const std::string& name) const
    {
        const std::string file = dir.file(name);
        list.SaveToFile(QString::fromStdString(file));
        return file;
    }
};

// ondrix-scan with `arguments` (the default frequency table added), standard output to `out`;
// returns its processor time (user + system) in seconds, and its wall time in `wall`.
inline double RunScan(const std::vector<std::string>& arguments, const std::string& out, int& exitCode, double* wall = nullptr)
{
    std::vector<std::string> argv{testkit::executableFolder() + "/ondrix-scan", "--freq",
                                  testkit::executableFolder() + "/Ini_Def/Freq.ini"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const auto begin = std::chrono::steady_clock::now();
    const double cpu = testkit::waitForProcess(testkit::spawnProcess(argv, out), &exitCode);
    if (wall)
        *wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    return cpu;
}

}  // namespace benchkit
