// The real program with a real window on a private X server and a private sound server: what
// an operator sees from start to close. Screenshots go to $ONDRIX_SCREENSHOTS when it is set
// (scripts/screenshots.sh sets it), so anyone can look at the window.
#include "samples/Class_SampleRec.h"
#include "util/TextFile.h"

#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "helpers/XvfbDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

QString Q(const fs::path& Path)
{
    return QString::fromStdString(Path.string());
}

// The window's state as it writes it for automated runs (ONDRIX_WINDOW_STATE), read back.
QStringList ReadState(const fs::path& File)
{
    QString Text;
    if (!ReadTextFile(Q(File), Text))
        return {};
    return SplitTextLines(Text);
}

struct ScreenFixture : ::testing::Test {
    testkit::TempDir Root;
    fs::path Data = Root.path() / "Station";
    fs::path StateFile = Root.path() / "state.txt";
    std::string Shots = testkit::XvfbDisplay::screenshotFolder((Root.path() / "shots").string());
    pid_t Program = -1;

    void WriteIni(const std::string& Entries)
    {
        fs::create_directories(Data / "Ini");
        // The built-in language unless the entries choose one: on a first start outside a
        // Russian desktop the program would choose English by itself.
        const std::string Language =
            Entries.find("[Language]") == std::string::npos ? "[Language]\r\nLanguage=\r\n" : "";
        testkit::writeText((Data / "Ini" / "Ondrix.ini").string(), "[Ondrix]\r\n" + Entries + Language);
    }

    void Start()
    {
        // The child runs on the X server, whatever platform this test process uses.
        const QByteArray Platform = qgetenv("QT_QPA_PLATFORM");
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        setenv("ONDRIX_WINDOW_STATE", StateFile.c_str(), 1);
        setenv("ONDRIX_SOCKET", (Root.path() / "ondrix.socket").c_str(), 1);
        Program = testkit::spawnProcess({testkit::executableFolder() + "/ondrix", "/Data=" + Data.string()},
                                        (Root.path() / "out.txt").string());
        unsetenv("ONDRIX_WINDOW_STATE");
        unsetenv("ONDRIX_SOCKET");
        if (Platform.isNull())
            unsetenv("QT_QPA_PLATFORM");
        else
            setenv("QT_QPA_PLATFORM", Platform.constData(), 1);
    }

    // Waits until the state file holds every line wanted.
    bool WaitForState(const QStringList& Wanted, int Milliseconds = 30000)
    {
        const QDeadlineTimer Deadline(Milliseconds);
        while (!Deadline.hasExpired()) {
            const QStringList State = ReadState(StateFile);
            bool All = !State.isEmpty();
            for (const QString& Line : Wanted)
                All = All && State.contains(Line);
            if (All)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    bool StateHasLine(const QString& Start) const
    {
        for (const QString& Line : ReadState(StateFile))
            if (Line.startsWith(Start))
                return true;
        return false;
    }

    int Stop()
    {
        if (Program <= 0)
            return -1;
        kill(Program, SIGTERM);
        int Code = -1;
        testkit::waitForProcess(Program, &Code);
        Program = -1;
        return Code;
    }

    void TearDown() override
    {
        if (Program > 0) {
            kill(Program, SIGKILL);
            testkit::waitForProcess(Program);
        }
    }
};

TEST_F(ScreenFixture, WindowAtTheStoredSizeAndPageAtFullAndMinimumSize)
{
    testkit::XvfbDisplay Display(1280, 800);
    struct Case {
        const char* Name;
        const char* Ini;
        const char* Size;
        const char* Page;
    };
    const Case Cases[] = {
        {"samples-1280x800", "NormPos=100,60,1099,739\r\nPageControl_ActivePage=SamplesSheet\r\n", "1000x680", "SamplesSheet"},
        {"settings-1280x800", "NormPos=100,60,1099,739\r\nPageControl_ActivePage=SettingsSheet\r\n", "1000x680", "SettingsSheet"},
        {"samples-minimum", "NormPos=20,20,319,319\r\nPageControl_ActivePage=SamplesSheet\r\n", "300x300", "SamplesSheet"},
        {"settings-minimum", "NormPos=20,20,319,319\r\nPageControl_ActivePage=SettingsSheet\r\n", "300x300", "SettingsSheet"},
        // The same window in English (the language file beside the program).
        {"samples-english-1280x800",
         "NormPos=100,60,1099,739\r\nPageControl_ActivePage=SamplesSheet\r\n[Language]\r\nLanguage=Language/OndrixEnglish.lng\r\n",
         "1000x680", "SamplesSheet"},
        {"settings-english-1280x800",
         "NormPos=100,60,1099,739\r\nPageControl_ActivePage=SettingsSheet\r\n[Language]\r\nLanguage=Language/OndrixEnglish.lng\r\n",
         "1000x680", "SettingsSheet"},
    };
    for (const Case& C : Cases) {
        fs::remove(StateFile);
        WriteIni(C.Ini);
        Start();
        EXPECT_TRUE(WaitForState({QString("Size=") + C.Size, QString("Page=") + C.Page})) << C.Name;
        EXPECT_TRUE(Display.screenshot(Shots + "/" + C.Name + ".png")) << C.Name;
        EXPECT_EQ(Stop(), 0) << C.Name;
    }
}

}  // namespace

namespace {

// The whole start with three samples, one switched on automatically, on a private sound server.
TEST_F(ScreenFixture, StartsMonitorsFindsAClipAndSavesOnClose)
{
    testkit::XvfbDisplay Display(1280, 800);
    testkit::PulseServer Server;
    const fs::path Clips = Root.path() / "clips";
    fs::create_directories(Clips);
    // A jingle of two long notes (found wherever a live block starts), in a short programme.
    const testkit::Pcm Jingle = testkit::makeClip(3, 1.5, 0.75);
    testkit::writeWav((Clips / "jingle.wav").string(), Jingle);
    testkit::Pcm Programme = testkit::makeProgramme(3.5);
    testkit::mixAt(Programme, Jingle, 1.0);
    testkit::writeWav((Clips / "programme.wav").string(), Programme);

    WriteIni("NormPos=40,30,1039,709\r\nPageControl_ActivePage=SamplesSheet\r\nLogFileCreate_Checked=True\r\n");
    TSampleList Samples;
    TSampleRec* Clip = testkit::AddSample(Samples, TSampleType::File, 0, "Jingle");
    Clip->Path = Q(Clips / "jingle.wav");
    Clip->Precision = 2;
    Clip->Method = TDetectMethod::Spectral;
    Clip->AutoStart = true;
    testkit::AddSample(Samples, TSampleType::File, 1, "Other")->Path = Q(Clips / "other.wav");
    testkit::AddSample(Samples, TSampleType::Silence, 2, "Dead air");
    ASSERT_TRUE(Samples.SaveToFile(Q(Data / "Ini" / "Samples.ini")));

    Start();
    const QString On = QString::fromUtf8("ВКЛ");
    ASSERT_TRUE(WaitForState({"Size=1000x680", "Page=SamplesSheet", "Status=" + On, "Sample=1|on|Jingle",
                              "Sample=2|off|Other", "Sample=3|off|Dead air"}))
        << ReadState(StateFile).join("\n").toStdString();
    EXPECT_TRUE(Display.screenshot(Shots + "/monitoring.png"));

    Server.play((Clips / "programme.wav").string());
    const QString Found = QString::fromUtf8("Найден образец № 1 \"Jingle\"");
    const QDeadlineTimer Deadline(30000);
    while (!StateHasLine("Message=") || !ReadState(StateFile).join("\n").contains(Found)) {
        ASSERT_FALSE(Deadline.hasExpired()) << ReadState(StateFile).join("\n").toStdString();
        QThread::msleep(50);
    }
    EXPECT_TRUE(Display.screenshot(Shots + "/found.png"));

    // The same message in today's log file.
    bool Logged = false;
    for (const auto& Entry : fs::recursive_directory_iterator(Data / "Log"))
        if (Entry.path().extension() == ".log")
            Logged = Logged || QString::fromStdString(testkit::readText(Entry.path().string())).contains(Found);
    EXPECT_TRUE(Logged);

    // Closing saves the settings: the placement and the show state are written.
    EXPECT_EQ(Stop(), 0);
    const std::string Ini = testkit::readText((Data / "Ini" / "Ondrix.ini").string());
    EXPECT_NE(Ini.find("ShowCmd=1"), std::string::npos) << Ini;
    EXPECT_NE(Ini.find("NormPos=40,30,1039,709"), std::string::npos) << Ini;
}

}  // namespace
