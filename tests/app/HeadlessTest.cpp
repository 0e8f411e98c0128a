// `ondrix --headless` end to end: the real program on a temporary data folder, capturing from a
// private PulseAudio server while a generated broadcast is played into it.

#include "core/Common_Settings.h"
#include "core/SettingsModel.h"
#include "helpers/Broadcast.h"
#include "helpers/NetServers.h"
#include "helpers/NotifySocket.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/QtPrinters.h"
#include "helpers/SampleLists.h"
#include "helpers/SocketPeers.h"
#include "helpers/TestFiles.h"
#include "lang/Lang.h"
#include "messages/Class_OndrixSubscriber.h"
#include "samples/Class_SampleRec.h"
#include "util/IniFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
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
    explicit HeadlessFixture(testkit::SoundServer Kind = testkit::SoundServer::PulseAudio) : Server(Kind) {}

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

    // The sample list and main settings file of the data folder.
    void WriteFiles(const TSampleList& List, const std::string& Settings)
    {
        std::filesystem::create_directories(Data + "/Ini");
        ASSERT_TRUE(List.SaveToFile(QString::fromStdString(Data + "/Ini/Samples.ini")));
        // The built-in language, whatever the locale.
        testkit::writeText(Data + "/Ini/Ondrix.ini", "[Ondrix]\r\n" + Settings + "[Language]\r\nLanguage=\r\n");
    }
    // The jingle as a clip sample, and dead air held for Seconds.
    void AddJingleAndDeadAir(TSampleList& List, double Seconds)
    {
        testkit::writeWav(Dir.file("jingle.wav"), Jingle);
        TSampleRec* Clip = testkit::AddSample(List, TSampleType::File, 0, "Jingle");
        Clip->Path = QString::fromStdString(Dir.file("jingle.wav"));
        TSampleRec* Air = testkit::AddSample(List, TSampleType::Silence, 1, "Dead air");
        Air->SignalTime = Seconds;
        Air->SignaldB = -50;
    }

    // Dead air held for Seconds, switched on at start.
    static TSampleRec* AddDeadAir(TSampleList& List, double Seconds)
    {
        TSampleRec* Air = testkit::AddSample(List, TSampleType::Silence, 0, "Dead air");
        Air->SignalTime = Seconds;
        Air->SignaldB = -50;
        Air->AutoStart = true;
        return Air;
    }

    // The monitor's standard output, one message a line.
    QStringList MonitorLines() { return Text(Out).split(u'\n', Qt::SkipEmptyParts); }
    // Index of the first line of Lines ending with Message, -1 when none does.
    static qsizetype IndexOf(const QStringList& Lines, const QString& Message)
    {
        for (qsizetype I = 0; I < Lines.size(); ++I) {
            if (Lines[I].endsWith(Message))
                return I;
        }
        return -1;
    }

    // Runs ondrixctl with Args; returns its exit code, and its output in Output.
    int Ctl(const std::vector<std::string>& Args, std::string* Output = nullptr)
    {
        std::vector<std::string> Argv{testkit::executableFolder() + "/ondrixctl"};
        Argv.insert(Argv.end(), Args.begin(), Args.end());
        const std::string File = Dir.file("ctl.txt");
        int ExitCode = -1;
        testkit::waitForProcess(testkit::spawnProcess(Argv, File), &ExitCode);
        if (Output)
            *Output = testkit::readText(File);
        return ExitCode;
    }

    // Starts `ondrixctl listen`, printing to Heard.
    pid_t Listen(const std::string& Heard)
    {
        const pid_t Listener = testkit::spawnProcess({testkit::executableFolder() + "/ondrixctl", "listen"}, Heard);
        EXPECT_TRUE(StdoutHas("ondrixctl"));  // "AddSubscriber" names it
        return Listener;
    }
    // The shown numbers of the detections a listener printed, in order, once Count have come.
    QStringList Heard(const std::string& File, int Count)
    {
        EXPECT_TRUE(testkit::pollUntil([&] { return Text(File).count(u'\n') >= Count; }, 60s)) << Text(File).toStdString();
        QStringList Numbers;
        for (const QString& Line : Text(File).split(u'\n', Qt::SkipEmptyParts))
            Numbers.append(Line.section(u'\t', 1));
        return Numbers;
    }

    void StopMonitor()
    {
        ::kill(Monitor, SIGTERM);
        int ExitCode = -1;
        testkit::waitForProcess(Monitor, &ExitCode);
        Monitor = -1;
        EXPECT_EQ(ExitCode, 0);
    }

    void StartMonitor()
    {
        Monitor = testkit::spawnProcess({testkit::executableFolder() + "/ondrix", "--headless", "/Data=" + Data}, Out);
    }

    bool StdoutHas(const QString& Part, int Count = 1, std::chrono::milliseconds Timeout = 60s)
    {
        return testkit::pollUntil([&] { return LinesWith(Text(Out), Part).size() >= qsizetype(Count); }, Timeout);
    }

    // Waits for the monitor's capture stream on the server to record (found by its client's
    // name: the server has recording streams of its own, a keep-alive recorder or a remapped
    // source's; a stream that is still corked is still being opened).
    bool CaptureRunning()
    {
        return testkit::pollUntil(
            [] {
                const std::string Outputs = testkit::PulseServer::output("pactl list source-outputs");
                for (size_t Begin = 0; Begin < Outputs.size();) {
                    const size_t End = std::min(Outputs.find("Source Output #", Begin + 1), Outputs.size());
                    const std::string Stream = Outputs.substr(Begin, End - Begin);
                    if (Stream.find("application.name = \"Ondrix\"") != std::string::npos
                        && Stream.find("Corked: no") != std::string::npos)
                        return true;
                    Begin = End;
                }
                return false;
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

TEST_F(HeadlessFixture, OndrixctlSwitchesSamplesAndTheLogTellsEachSwitch)
{
    TSampleList List;
    AddJingleAndDeadAir(List, 3600);  // never found: nothing plays
    testkit::AddSample(List, TSampleType::Signal, 4, "Overload")->SignaldB = 0;
    WriteFiles(List, "LogFileCreate_Checked=True\r\n");
    StartMonitor();
    ASSERT_TRUE(testkit::pollUntil([&] { return std::filesystem::exists(Server.folder() + "/TOndrix.socket"); }, 60s));
    auto Enabled = [](int Position, const char* Name) { return FormatMessageText("SampleEnabled", {Position, Name}); };
    auto Disabled = [](int Position, int Shown, const char* Name) {
        return QStringList{FormatMessageText("SampleNotFound", {Shown, Name}), FormatMessageText("SampleDisabled", {Position, Name})};
    };
    struct Case {
        std::vector<std::string> Args;
        int ExitCode;
        QStringList Told;  // the monitor's new messages, in order
    };
    const Case Cases[] = {
        {{"version"}, 0, {}},
        {{"on", "1"}, 0, {Enabled(1, "Jingle")}},
        {{"off", "1"}, 0, Disabled(1, 1, "Jingle")},
        {{"set-on", "2"}, 0, {Enabled(2, "Dead air")}},
        {{"reload"}, 0, {}},
        {{"set-off", "2"}, 0, Disabled(2, 2, "Dead air")},
        {{"reload"}, 0, {}},
        {{"all-on"}, 0, {Enabled(1, "Jingle"), Enabled(2, "Dead air"), Enabled(3, "Overload")}},
        {{"on", "5"}, 0, {}},  // on already
        {{"all-off"}, 0, Disabled(1, 1, "Jingle") + Disabled(2, 2, "Dead air") + Disabled(3, 5, "Overload")},
        // No such sample: nothing changes, the program is refused and the operator told.
        {{"on", "9"}, 1, {FormatMessageText("RemoteNoSample", {9})}},
        {{"off", "99"}, 1, {FormatMessageText("RemoteNoSample", {99})}},
        {{"on", "x"}, 2, {}},
        {{"frobnicate"}, 2, {}},
        {{"--socket", Dir.file("nobody.socket"), "all-on"}, 1, {}},
    };
    QStringList Story;
    for (const Case& C : Cases) {
        std::string Joined;
        for (const std::string& Arg : C.Args)
            Joined += Arg + " ";
        SCOPED_TRACE(Joined);
        const qsizetype Before = MonitorLines().size();
        std::string Output;
        EXPECT_EQ(Ctl(C.Args, &Output), C.ExitCode);
        if (C.Args[0] == "version") {
            EXPECT_EQ(Output, std::to_string(VersionNumber(TCommonSettings::ProgramVersionText())) + "\n");
        }
        // A request is answered once it has been carried out: its messages are out by then.
        QStringList New = MonitorLines().mid(Before);
        for (QString& Line : New)
            Line = Line.section(QStringLiteral(" - "), 1);  // after the time and the type
        EXPECT_EQ(New, C.Told);
        Story += C.Told;
    }
    StopMonitor();
    // The log file tells the same story.
    QStringList Logged;
    for (const QString& Line : LogText(Data).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts)) {
        for (const QString& Message : Story) {
            if (Line.endsWith(Message)) {
                Logged.append(Message);
                break;
            }
        }
    }
    EXPECT_EQ(Logged, Story) << LogText(Data).toStdString();
}

TEST_F(HeadlessFixture, GarbageOnTheSocketNeverStopsTheDetections)
{
    TSampleList List;
    AddJingleAndDeadAir(List, 2.0);
    List[1]->AutoDisable = true;
    for (int I = 0; I < List.Count(); ++I)
        List[I]->AutoStart = true;
    WriteFiles(List, "");
    // The jingle twice, dead air between them.
    testkit::Pcm Broadcast = testkit::makeProgramme(18.0);
    testkit::mixAt(Broadcast, Jingle, 3.0);
    testkit::silence(Broadcast, 7.0, 3.0);
    testkit::mixAt(Broadcast, Jingle, 13.0);
    testkit::writeWav(Dir.file("broadcast.wav"), Broadcast);
    StartMonitor();
    ASSERT_TRUE(StdoutHas(FormatMessageText("SampleEnabled", {2, "Dead air"})));
    ASSERT_TRUE(CaptureRunning());
    const pid_t Listener = Listen(Dir.file("listen.txt"));
    const pid_t Player = Server.playAsync(Dir.file("broadcast.wav"));

    const QString Socket = QString::fromStdString(Server.folder() + "/TOndrix.socket");
    testkit::TLineClient Chatty, Huge, Half, Flood;
    ASSERT_TRUE(Chatty.Connect(Socket));
    ASSERT_TRUE(Huge.Connect(Socket));
    ASSERT_TRUE(Half.Connect(Socket));
    ASSERT_TRUE(Flood.Connect(Socket));
    // Malformed requests are answered with ERROR and the connection goes on.
    for (const QByteArray& Garbage : {QByteArray("HELLO"), QByteArray("USER x y"), QByteArray(""), QByteArray("COPYDATA 1"),
                                      QByteArray("WINDOW"), QByteArray("\x01\x02\xff\xfe USER 666 0"), QByteArray("USER 666 0 0 0 0 0 0 0 0 0 0 0")}) {
        const std::optional<QByteArray> Answer = Chatty.Request(Garbage);
        ASSERT_TRUE(Answer) << Garbage.toStdString();
        EXPECT_TRUE(Answer->startsWith("ERROR ")) << Garbage.toStdString() << " -> " << Answer->toStdString();
    }
    EXPECT_EQ(Chatty.Request("USER 666 0"), "OK " + QByteArray::number(VersionNumber(TCommonSettings::ProgramVersionText())));
    // A line over the limit closes its connection.
    Huge.Send(QByteArray(5000, 'A') + '\n');
    EXPECT_TRUE(Huge.WaitClosed());
    // A line never finished, and a client that asks and asks but never reads its answers.
    Half.Send("USER 666");
    for (int I = 0; I < 20000; ++I)
        Flood.Socket.write("USER 666 0\n");
    Flood.Socket.flush();

    EXPECT_EQ(testkit::PulseServer::waitFor(Player), 0);
    // Every detection, once, in order.
    EXPECT_EQ(Heard(Dir.file("listen.txt"), 3), QStringList({"1", "2", "1"}));
    testkit::waitForEvents([] { return false; }, 1000);  // a fourth would have come by now
    EXPECT_EQ(Heard(Dir.file("listen.txt"), 3), QStringList({"1", "2", "1"}));
    // The monitor still answers.
    std::string Output;
    EXPECT_EQ(Ctl({"version"}, &Output), 0);
    StopMonitor();
    testkit::waitForProcess(Listener);
}

TEST_F(HeadlessFixture, ASubscriberThatNeverAnswersDelaysOnlyItsDetectionsLaterSteps)
{
    TSampleList List;
    AddJingleAndDeadAir(List, 1.0);
    for (int I = 0; I < List.Count(); ++I) {
        List[I]->AutoStart = true;
        List[I]->AutoDisable = true;
    }
    WriteFiles(List, "ExternalWait_Checked=True\r\n");
    // Dead air begins about two seconds after the jingle has ended: within the wait.
    testkit::Pcm Broadcast = testkit::makeProgramme(14.0);
    testkit::mixAt(Broadcast, Jingle, 2.0);
    testkit::silence(Broadcast, 5.5, 3.0);
    testkit::writeWav(Dir.file("broadcast.wav"), Broadcast);
    StartMonitor();
    ASSERT_TRUE(StdoutHas(FormatMessageText("SampleEnabled", {2, "Dead air"})));
    ASSERT_TRUE(CaptureRunning());
    const pid_t Listener = Listen(Dir.file("listen.txt"));
    testkit::TLineClient Silent;
    ASSERT_TRUE(Silent.Connect(QString::fromStdString(Server.folder() + "/TOndrix.socket")));
    const qint64 Handle = Silent.Subscribe("TSilent", "Silent");
    ASSERT_GT(Handle, 0);
    const QString SilentName = "Silent / TSilent / " + QString::number(Handle);
    const pid_t Player = Server.playAsync(Dir.file("broadcast.wav"));
    EXPECT_EQ(testkit::PulseServer::waitFor(Player), 0);
    ASSERT_TRUE(StdoutHas(FormatMessageText("SampleFound", {2, "Dead air"}))) << Text(Out).toStdString();
    // The listener heard both at once.
    EXPECT_EQ(Heard(Dir.file("listen.txt"), 2), QStringList({"1", "2"}));

    const QStringList Lines = MonitorLines();
    const qsizetype SentTwo = IndexOf(Lines, FormatMessageText("CommandSent", {2, "Silent"}));
    const qsizetype GaveUpOne = IndexOf(Lines, FormatMessageText("SubscriberTimeout", {SilentName, 1}));
    const qsizetype FoundOne = IndexOf(Lines, FormatMessageText("SampleFound", {1, "Jingle"}));
    const qsizetype GaveUpTwo = IndexOf(Lines, FormatMessageText("SubscriberTimeout", {SilentName, 2}));
    const qsizetype FoundTwo = IndexOf(Lines, FormatMessageText("SampleFound", {2, "Dead air"}));
    ASSERT_GE(SentTwo, 0) << Text(Out).toStdString();
    // The second detection was handled while the first waited for the silent program; the
    // first went on only once that program was given up.
    EXPECT_LT(SentTwo, FoundOne) << Text(Out).toStdString();
    EXPECT_GE(GaveUpOne, 0);
    EXPECT_LT(GaveUpOne, FoundOne);
    EXPECT_GE(GaveUpTwo, 0);
    EXPECT_LT(GaveUpTwo, FoundTwo);
    EXPECT_LT(FoundOne, FoundTwo);
    StopMonitor();
    testkit::waitForProcess(Listener);
}

// The monitor on each sound server a desktop runs: PulseAudio, and PipeWire through its
// PulseAudio interface.
class HeadlessOnServers : public ::testing::WithParamInterface<testkit::SoundServer>, public HeadlessFixture {
protected:
    HeadlessOnServers() : HeadlessFixture(GetParam()) {}
};

// Capture that cannot be opened at start, or is lost later, leaves the samples on: the monitor
// says once why and what to check, keeps trying, says when capture runs, and then hears a
// silence planted in the programme. Each case on a real sound server.
TEST_P(HeadlessOnServers, CaptureThatCannotOpenIsRetriedAndThePlantedSilenceIsThenFound)
{
    enum class Start { NoServer, DeviceGone, ServerKilledMidRun };
    struct Case {
        const char* Name;
        Start How;
        std::string Settings;
        QString Failure;  // the one error message
        QString Running;  // the one information message once capture runs
    };
    const QString Address = QString::fromStdString("unix:" + Server.socket());
    const Case Cases[] = {
        {"no server, it appears 3 s later", Start::NoServer, "",
         FormatMessageText("CaptureNoServer", {GetMessageText("DefaultDevice"), Address, "Connection refused"}),
         FormatMessageText("CaptureStarted", {GetMessageText("DefaultDevice")})},
        {"the stored device is gone until it is plugged in", Start::DeviceGone, "Device=3\r\nDeviceName=Studio Feed\r\n",
         FormatMessageText("CaptureNoDevice", {"Studio Feed"}), FormatMessageText("CaptureStarted", {"Studio Feed"})},
        {"the server is killed mid-run and comes back", Start::ServerKilledMidRun, "",
         FormatMessageText("CaptureLost", {GetMessageText("DefaultDevice"), "Connection terminated"}),
         FormatMessageText("CaptureRestored", {GetMessageText("DefaultDevice")})},
    };
    // Programme throughout, the planted silence from 3 s to 5 s; it plays for long after.
    testkit::Pcm Broadcast = testkit::makeProgramme(40.0);
    testkit::silence(Broadcast, 3.0, 2.0);
    testkit::writeWav(Dir.file("broadcast.wav"), Broadcast);
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        std::filesystem::remove_all(Data);
        std::filesystem::remove(Out);
        TSampleList List;
        TSampleRec* Air = AddDeadAir(List, 1.0);
        Air->AutoDisable = true;
        WriteFiles(List, "LogFileCreate_Checked=True\r\n" + C.Settings);
        if (C.How == Start::NoServer)
            this->Server.stop();
        StartMonitor();
        ASSERT_TRUE(StdoutHas(FormatMessageText("SampleEnabled", {1, "Dead air"}))) << Text(Out).toStdString();
        if (C.How == Start::ServerKilledMidRun) {
            ASSERT_TRUE(CaptureRunning());
            // The monitor has heard the server start its stream.
            testkit::waitForEvents([] { return false; }, 500);
            this->Server.stop();
        }
        ASSERT_TRUE(StdoutHas(C.Failure)) << Text(Out).toStdString();
        if (C.How == Start::NoServer) {
            testkit::waitForEvents([] { return false; }, 3000);
            this->Server.start();
        } else if (C.How == Start::DeviceGone) {
            // Retried meanwhile, told once.
            testkit::waitForEvents([] { return false; }, 3000);
            ASSERT_EQ(testkit::PulseServer::output("pactl load-module module-remap-source master=feed.monitor "
                                                   "source_name=studio \"source_properties='device.description=\\\"Studio Feed\\\"'\"")
                          .empty(),
                      false);
        } else {
            this->Server.start();
        }
        const pid_t Player = this->Server.playAsync(Dir.file("broadcast.wav"));
        ASSERT_TRUE(StdoutHas(C.Running)) << Text(Out).toStdString();
        ASSERT_TRUE(StdoutHas(FormatMessageText("SampleFound", {1, "Dead air"}))) << Text(Out).toStdString();
        // Found in the programme, not in the quiet after it.
        int Status = 0;
        EXPECT_EQ(::waitpid(Player, &Status, WNOHANG), 0);
        ::kill(Player, SIGTERM);
        testkit::PulseServer::waitFor(Player);
        StopMonitor();

        const QStringList Lines = MonitorLines();
        EXPECT_EQ(LinesWith(Text(Out), C.Failure).size(), 1) << Text(Out).toStdString();
        EXPECT_EQ(LinesWith(Text(Out), C.Running).size(), 1);
        EXPECT_LT(IndexOf(Lines, C.Failure), IndexOf(Lines, C.Running));
        EXPECT_LT(IndexOf(Lines, C.Running), IndexOf(Lines, FormatMessageText("SampleFound", {1, "Dead air"})));
        // The sample stayed on until it was found: no "not detected", and switched off only by
        // its own detection.
        EXPECT_EQ(IndexOf(Lines, FormatMessageText("SampleNotFound", {1, "Dead air"})), -1) << Text(Out).toStdString();
        EXPECT_EQ(LinesWith(Text(Out), FormatMessageText("SampleDisabled", {1, "Dead air"})).size(), 1);
        EXPECT_EQ(LinesWith(LogText(Data), C.Failure).size(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(SoundServers, HeadlessOnServers,
                         ::testing::Values(testkit::SoundServer::PulseAudio, testkit::SoundServer::PipeWire),
                         [](const auto& Info) { return testkit::soundServerName(Info.param); });

// The settings are in force from the first message on: a detection half a second after the
// start is mailed, not refused for want of a mail server.
TEST_F(HeadlessFixture, ADetectionHalfASecondAfterTheStartIsMailed)
{
    testkit::SmtpServer Smtp;
    Smtp.start();
    TSampleList List;
    // The idle feed is silence: found about half a second after the sample is switched on.
    TSampleRec* Air = AddDeadAir(List, 0.3);
    Air->AutoDisable = true;
    WriteFiles(List, "EmailMessagesCheck_Checked=True\r\nMsgDetectSampleCheck_Checked=True\r\n"
                     "MsgOnOffSampleCheck_Checked=False\r\nMsgErrorCheck_Checked=True\r\n"
                     "SMTPHostEdit_Text=127.0.0.1\r\nSMTPPortEdit_Text=" + std::to_string(Smtp.port()) + "\r\n"
                     "EmailFromEdit_Text=ondrix@station.test\r\nEmailToEdit_Text=operator@station.test\r\n");
    StartMonitor();
    const QString Found = FormatMessageText("SampleFound", {1, "Dead air"});
    ASSERT_TRUE(StdoutHas(Found)) << Text(Out).toStdString();
    ASSERT_TRUE(Smtp.waitForMails(1)) << Text(Out).toStdString();
    StopMonitor();
    const std::vector<testkit::ReceivedMail> Mails = Smtp.mails();
    ASSERT_EQ(Mails.size(), 1u) << Text(Out).toStdString();
    EXPECT_TRUE(QString::fromStdString(Mails[0].subject).endsWith(Found)) << Mails[0].subject;
    EXPECT_EQ(Mails[0].rcptTos, std::vector<std::string>{"operator@station.test"});
}

// Under systemd (Type=notify, WatchdogSec=): READY with the status once the samples are on, then
// the watchdog's keep-alive. The keep-alive lapses while the capture delivers nothing (the
// sound server hangs) and while the main loop hangs (its log file blocks, as on a hung network
// share), and comes back once they go on; a stop says STOPPING.
TEST_F(HeadlessFixture, TellsSystemdReadyAndStatusAndKeepsTheWatchdogOnlyWhileAudioIsAnalysed)
{
    testkit::NotifySocket Notify;
    TSampleList List;
    AddDeadAir(List, 3600);
    testkit::AddSample(List, TSampleType::Signal, 1, "Overload")->SignaldB = 0;
    WriteFiles(List, "LogFileCreate_Checked=True\r\n");
    ::setenv("NOTIFY_SOCKET", Notify.path().c_str(), 1);
    ::setenv("WATCHDOG_USEC", "1500000", 1);  // a keep-alive every 0.5 s
    StartMonitor();
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");

    // Every notification; the status lines also on their own.
    QStringList Statuses;
    auto Receive = [&](std::chrono::milliseconds Timeout) {
        std::optional<std::string> Next = Notify.receive(Timeout);
        if (Next && Next->rfind("STATUS=", 0) == 0)
            Statuses.append(QString::fromStdString(Next->substr(7)));
        return Next;
    };
    const QString Capturing = "Capturing from \"" + GetMessageText("DefaultDevice") + "\"";
    EXPECT_EQ(Receive(60s), "READY=1\nSTATUS=" + (Capturing + "; 1 of 2 samples on; no detection yet").toStdString());
    // Keep-alives while it runs.
    for (int I = 0; I < 3; ++I)
        EXPECT_EQ(Receive(10s), "WATCHDOG=1");

    // Lets the keep-alive lapse (a few may still be under way), then expects it back.
    auto LapsesThenComesBack = [&](const std::function<void()>& Resume) {
        int Late = 0;
        for (std::optional<std::string> Next; (Next = Receive(3s));) {
            if (*Next == "WATCHDOG=1") {
                ASSERT_LE(++Late, 3) << "the keep-alive went on";
            }
        }
        Resume();
        std::optional<std::string> Next;
        while ((Next = Receive(20s)) && Next->rfind("STATUS=", 0) == 0) {
        }
        EXPECT_EQ(Next, "WATCHDOG=1");
    };
    {
        SCOPED_TRACE("the sound server hangs");
        ASSERT_EQ(::kill(Server.pid(), SIGSTOP), 0);
        LapsesThenComesBack([&] { ::kill(Server.pid(), SIGCONT); });
    }
    {
        SCOPED_TRACE("the main loop hangs on its log file");
        // The day's log file becomes a pipe nobody reads: the next message blocks the main loop.
        QDirIterator It(QString::fromStdString(Data + "/Log"), {"*.log"}, QDir::Files, QDirIterator::Subdirectories);
        ASSERT_TRUE(It.hasNext());
        const std::string Log = It.next().toStdString();
        ASSERT_EQ(::unlink(Log.c_str()), 0);
        ASSERT_EQ(::mkfifo(Log.c_str(), 0600), 0);
        const pid_t Switch = testkit::spawnProcess({testkit::executableFolder() + "/ondrixctl", "on", "2"}, Dir.file("ctl.txt"));
        LapsesThenComesBack([&] {
            const int Reader = ::open(Log.c_str(), O_RDONLY);
            char Buffer[4096];
            while (::read(Reader, Buffer, sizeof(Buffer)) > 0) {
            }
            ::close(Reader);
            ::unlink(Log.c_str());
        });
        int ExitCode = -1;
        testkit::waitForProcess(Switch, &ExitCode);
        EXPECT_EQ(ExitCode, 0);
    }
    // The status follows the samples.
    EXPECT_EQ(Statuses, QStringList({Capturing + "; 2 of 2 samples on; no detection yet"}));
    ::kill(Monitor, SIGTERM);
    std::optional<std::string> Last;
    while ((Last = Receive(30s)) && *Last != "STOPPING=1") {
    }
    EXPECT_EQ(Last, "STOPPING=1");
    StopMonitor();
}

// The log says when the program started (version, data folder, input) and why it stopped, so
// that a gap in it can be explained.
TEST_F(HeadlessFixture, TheLogTellsWhenTheProgramStartedAndWhyItStopped)
{
    WriteFiles(TSampleList(), "LogFileCreate_Checked=True\r\n");
    const QString Started = FormatMessageText("ProgramStarted", {TCommonSettings::ProgramVersionText(),
                                                                 QString::fromStdString(Data) + "/",
                                                                 GetMessageText("DefaultDevice")});
    const QString Stopped = FormatMessageText("ProgramStopped", {FormatMessageText("StopSignal", {"SIGTERM"})});
    StartMonitor();
    ASSERT_TRUE(StdoutHas(Started)) << Text(Out).toStdString();
    StopMonitor();
    const QString Log = LogText(Data);
    ASSERT_EQ(LinesWith(Log, Started).size(), 1) << Log.toStdString();
    ASSERT_EQ(LinesWith(Log, Stopped).size(), 1) << Log.toStdString();
    EXPECT_LT(Log.indexOf(Started), Log.indexOf(Stopped));
    EXPECT_TRUE(LinesWith(Log, Stopped).first().contains(GetMessageText("Info"))) << Log.toStdString();
}

// The log reaches a file size limit (RLIMIT_FSIZE), as it would a full disk: the monitor is
// not killed for it (SIGXFSZ), says once that the log cannot be written, leaves no torn line,
// keeps the lines, and writes them in order once writing works again.
TEST_F(HeadlessFixture, ALogThatCannotBeWrittenIsToldOnceAndCatchesUpLater)
{
    TSampleList List;
    AddJingleAndDeadAir(List, 3600);  // never found: nothing plays
    WriteFiles(List, "LogFileCreate_Checked=True\r\n");
    const std::string Socket = Server.folder() + "/TOndrix.socket";
    // A first run makes the day's log file, which is then filled to just under the limit.
    StartMonitor();
    ASSERT_TRUE(testkit::pollUntil([&] { return std::filesystem::exists(Socket); }, 60s));
    EXPECT_EQ(Ctl({"on", "1"}), 0);
    StopMonitor();
    QDirIterator Logs(QString::fromStdString(Data + "/Log"), {"*.log"}, QDir::Files, QDirIterator::Subdirectories);
    ASSERT_TRUE(Logs.hasNext());
    const std::string LogFile = Logs.next().toStdString();
    {
        QFile File(QString::fromStdString(LogFile));
        ASSERT_TRUE(File.open(QIODevice::Append));
        File.write(QByteArray(100000, 'x') + "\r\n");
    }
    const auto LogSize = [&] { return std::filesystem::file_size(LogFile); };
    const uintmax_t Full = LogSize();

    // A limit a few bytes above: the next line is cut part-way by the kernel.
    Monitor = testkit::spawnProcess({"prlimit", "--fsize=" + std::to_string(Full + 20) + ":unlimited", testkit::executableFolder() + "/ondrix",
                                     "--headless", "/Data=" + Data},
                                    Out);
    ASSERT_TRUE(testkit::pollUntil([&] { return std::filesystem::exists(Socket); }, 60s));
    const QString Failed = GetMessageText("LogWriteFailed").section(u'%', 0, 0);
    const QStringList Story{FormatMessageText("SampleEnabled", {2, "Dead air"}),
                            FormatMessageText("SampleNotFound", {2, "Dead air"}),
                            FormatMessageText("SampleDisabled", {2, "Dead air"}),
                            FormatMessageText("SampleEnabled", {2, "Dead air"})};
    EXPECT_EQ(Ctl({"on", "2"}), 0);
    EXPECT_EQ(Ctl({"off", "2"}), 0);
    EXPECT_EQ(Ctl({"on", "2"}), 0);
    EXPECT_EQ(Ctl({"version"}), 0);  // still running
    EXPECT_EQ(LinesWith(Text(Out), Failed).size(), 1) << Text(Out).toStdString();
    EXPECT_EQ(LogSize(), Full);  // no torn line

    // Space again: the kept lines are written within a second or so, in order.
    ASSERT_EQ(testkit::runProcess({"prlimit", "--pid", std::to_string(Monitor), "--fsize=unlimited"}).exitCode, 0);
    ASSERT_TRUE(testkit::pollUntil([&] { return LogText(Data).contains(Story.last()); }, 60s));
    StopMonitor();
    const QStringList Lines = Text(LogFile).split(QRegularExpression("\r?\n"), Qt::SkipEmptyParts);
    QStringList After;
    bool Past = false;
    // The second run's start message stands before the story.
    const QString Started = GetMessageText("ProgramStarted").section(u':', 0, 0);
    for (const QString& Line : Lines) {
        if (Past && !Line.contains(Failed) && !Line.contains(Started))
            After.append(Line.section(QStringLiteral(" - "), 1));
        Past = Past || Line.startsWith(u'x');
    }
    EXPECT_EQ(After.mid(0, Story.size()), Story) << Text(LogFile).toStdString();
    EXPECT_EQ(LinesWith(Text(LogFile), Failed).size(), 1);
}
