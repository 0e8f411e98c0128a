// `ondrix --headless` end to end: the real program on a temporary data folder, capturing from a
// private PulseAudio server while a generated broadcast is played into it.

#include "core/SettingsModel.h"
#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/QtPrinters.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"
#include "util/IniFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace {

using namespace std::chrono_literals;

QString Text(const std::string& Path)
{
    return QString::fromUtf8(QByteArray::fromStdString(testkit::readText(Path)));
}

// The day's log files of a data folder, read together.
QString LogText(const std::string& DataFolder)
{
    QString All;
    QDirIterator It(QString::fromStdString(DataFolder + "/Log"), {"*.log"}, QDir::Files, QDirIterator::Subdirectories);
    while (It.hasNext())
        All += Text(It.next().toStdString());
    return All;
}

// Lines of Text that contain Part, in order.
QStringList LinesWith(const QString& Text, const QString& Part)
{
    QStringList Result;
    for (const QString& Line : Text.split(QRegularExpression("\r?\n"))) {
        if (Line.contains(Part))
            Result.append(Line);
    }
    return Result;
}

class HeadlessFixture : public ::testing::Test {
protected:
    testkit::PulseServer Server;
    testkit::TempDir Dir;
    std::string Data = Dir.file("data");
    std::string Out = Dir.file("stdout.txt");
    testkit::Pcm Jingle = testkit::playPhrase(testkit::makePhrase(3, 12, 0.15));
    pid_t Monitor = -1;

    void TearDown() override
    {
        if (Monitor > 0) {
            ::kill(Monitor, SIGKILL);
            testkit::waitForProcess(Monitor);
        }
    }

    // Three samples switched on at start: a jingle and dead air that switch themselves off
    // once found, and an overload that is never found. Logging on, the default device.
    void WriteConfiguration()
    {
        std::filesystem::create_directories(Data + "/Ini");
        testkit::writeWav(Dir.file("jingle.wav"), Jingle);
        TSampleList List;
        TSampleRec* Clip = testkit::AddSample(List, TSampleType::File, 0, "Jingle");
        Clip->Path = QString::fromStdString(Dir.file("jingle.wav"));
        TSampleRec* Air = testkit::AddSample(List, TSampleType::Silence, 1, "Dead air");
        Air->SignalTime = 2.0;
        Air->SignaldB = -50;
        TSampleRec* Over = testkit::AddSample(List, TSampleType::Signal, 4, "Overload");
        Over->SignaldB = 0;
        for (TSampleRec* Sample : {Clip, Air})
            Sample->AutoDisable = true;
        for (TSampleRec* Sample : {Clip, Air, Over})
            Sample->AutoStart = true;
        ASSERT_TRUE(List.SaveToFile(QString::fromStdString(Data + "/Ini/Samples.ini")));
        // The built-in language: outside a Russian locale a first start would choose English.
        testkit::writeText(Data + "/Ini/Ondrix.ini",
                           "[Ondrix]\r\nLogFileCreate_Checked=True\r\nMyOwnNote=kept\r\n[Language]\r\nLanguage=\r\n");
    }

    void StartMonitor()
    {
        Monitor = testkit::spawnProcess({testkit::executableFolder() + "/ondrix", "--headless", "/Data=" + Data}, Out);
    }

    bool StdoutHas(const QString& Part, int Count = 1, std::chrono::milliseconds Timeout = 60s)
    {
        return testkit::pollUntil([&] { return LinesWith(Text(Out), Part).size() >= qsizetype(Count); }, Timeout);
    }

    // Waits for the monitor's capture stream on the server (beside the keep-alive recorder).
    bool CaptureRunning()
    {
        return testkit::pollUntil(
            [] {
                const std::string Outputs = testkit::PulseServer::output("pactl list short source-outputs");
                return std::count(Outputs.begin(), Outputs.end(), '\n') >= 2;
            },
            60s);
    }
};

}  // namespace

TEST_F(HeadlessFixture, DetectsThePlayedBroadcastOnceEachAndStopsCleanlyOnSigterm)
{
    WriteConfiguration();
    // Programme first, so the feed is never idle (an idle feed is silence); the jingle after
    // 8 s, dead air from 13 to 16 s.
    testkit::Pcm Broadcast = testkit::makeProgramme(19.0);
    testkit::mixAt(Broadcast, Jingle, 8.0);
    testkit::silence(Broadcast, 13.0, 3.0);
    testkit::writeWav(Dir.file("broadcast.wav"), Broadcast);
    const pid_t Player = Server.playAsync(Dir.file("broadcast.wav"));
    StartMonitor();
    ASSERT_TRUE(StdoutHas(FormatMessageText("SampleEnabled", {3, "Overload"}))) << Text(Out).toStdString();
    ASSERT_TRUE(CaptureRunning());
    // An automation script listens for the detections.
    const std::string Heard = Dir.file("listen.txt");
    const pid_t Listener = testkit::spawnProcess({testkit::executableFolder() + "/ondrixctl", "listen"}, Heard);
    ASSERT_TRUE(StdoutHas("ondrixctl"));  // "AddSubscriber" names it
    EXPECT_EQ(testkit::PulseServer::waitFor(Player), 0);
    ASSERT_TRUE(StdoutHas(FormatMessageText("SampleFound", {2, "Dead air"}))) << Text(Out).toStdString();

    // One line per detection, in order, each once: local time, a TAB, the shown number.
    ASSERT_TRUE(testkit::pollUntil([&] { return Text(Heard).count(u'\n') >= 2; }, 30s)) << Text(Heard).toStdString();
    const QStringList HeardLines = Text(Heard).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(HeardLines.size(), 2) << Text(Heard).toStdString();
    for (int I = 0; I < 2; ++I) {
        EXPECT_TRUE(QRegularExpression(QString("^\\d\\d\\.\\d\\d\\.\\d{4} [0-9:.]+\\t%1$").arg(I + 1)).match(HeardLines[I]).hasMatch())
            << HeardLines[I].toStdString();
    }
    EXPECT_EQ(LinesWith(Text(Out), GetMessageText("CommandSent").section("%d", 0, 0)).size(), 2);

    ::kill(Monitor, SIGTERM);
    int ExitCode = -1;
    testkit::waitForProcess(Monitor, &ExitCode);
    Monitor = -1;
    EXPECT_EQ(ExitCode, 0);
    // The monitor's end closes the listener's connection; it ends by itself.
    int ListenerCode = -1;
    testkit::waitForProcess(Listener, &ListenerCode);
    EXPECT_FALSE(std::filesystem::exists(Server.folder() + "/TOndrix.socket"));

    // Standard output and the log file tell the same story, in the same order.
    const QStringList Expected = {
        FormatMessageText("SampleEnabled", {1, "Jingle"}),
        FormatMessageText("SampleEnabled", {2, "Dead air"}),
        FormatMessageText("SampleEnabled", {3, "Overload"}),
        FormatMessageText("SampleDisabled", {1, "Jingle"}),
        FormatMessageText("SampleFound", {1, "Jingle"}),
        FormatMessageText("SampleDisabled", {2, "Dead air"}),
        FormatMessageText("SampleFound", {2, "Dead air"}),
        FormatMessageText("SampleNotFound", {5, "Overload"}),
        FormatMessageText("SampleDisabled", {3, "Overload"}),
    };
    for (const QString& Story : {Text(Out), LogText(Data)}) {
        QStringList Told;
        for (const QString& Line : Story.split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts)) {
            for (const QString& Message : Expected) {
                if (Line.endsWith(Message))
                    Told.append(Message);
            }
        }
        EXPECT_EQ(Told, Expected) << Story.toStdString();
    }
    // The settings were saved, keeping what the operator added by hand.
    const TIniFile Ini(QString::fromStdString(Data + "/Ini/Ondrix.ini"));
    EXPECT_EQ(Ini.ReadString("Ondrix", "MyOwnNote", ""), "kept");
    EXPECT_EQ(Ini.ReadString("Ondrix", "LogFileCreate_Checked", ""), "True");
    EXPECT_TRUE(Ini.ValueExists("Ondrix", "DeviceName"));
    EXPECT_EQ(Ini.ReadSection("Ondrix").size(), TSettingsModel::Definitions().size() + 1);
}

// The messages follow the language chosen in the window's settings file.
TEST_F(HeadlessFixture, WritesItsMessagesInTheChosenLanguage)
{
    struct Case {
        const char* Choice;
        QString Line;
    };
    const std::string Missing = Dir.file("missing.wav");
    const Case Cases[] = {
        {"", FormatMessageText("WrongSampleInd", {1, QString::fromStdString(Missing)})},
        {"Language/OndrixEnglish.lng", "Could not load the file of sample No. 1 \"" + QString::fromStdString(Missing) + "\""},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Choice);
        std::filesystem::remove_all(Data);
        std::filesystem::create_directories(Data + "/Ini");
        TSampleList List;
        TSampleRec* Clip = testkit::AddSample(List, TSampleType::File, 0, "Jingle");
        Clip->Path = QString::fromStdString(Missing);
        Clip->AutoStart = true;
        ASSERT_TRUE(List.SaveToFile(QString::fromStdString(Data + "/Ini/Samples.ini")));
        testkit::writeText(Data + "/Ini/Ondrix.ini", std::string("[Language]\r\nLanguage=") + C.Choice + "\r\n");
        std::filesystem::remove(Out);
        StartMonitor();
        EXPECT_TRUE(StdoutHas(C.Line)) << Text(Out).toStdString();
        ::kill(Monitor, SIGTERM);
        testkit::waitForProcess(Monitor);
        Monitor = -1;
    }
}

TEST_F(HeadlessFixture, EveryStopSignalEndsTheRunAndSavesTheSettings)
{
    for (const int Signal : {SIGINT, SIGHUP, SIGTERM}) {
        std::filesystem::remove_all(Data);
        std::filesystem::create_directories(Data + "/Ini");
        StartMonitor();
        // The default files are copied once the program is past its start.
        ASSERT_TRUE(testkit::pollUntil([&] { return std::filesystem::exists(Data + "/Ini/Freq.ini"); }, 60s));
        ::kill(Monitor, Signal);
        int ExitCode = -1;
        testkit::waitForProcess(Monitor, &ExitCode);
        Monitor = -1;
        EXPECT_EQ(ExitCode, 0) << Signal;
        EXPECT_TRUE(std::filesystem::exists(Data + "/Ini/Ondrix.ini")) << Signal;
    }
}
