// The real program with a real window on a private X server and a private sound server: what
// an operator sees from start to close. Screenshots go to $ONDRIX_SCREENSHOTS when it is set
// (scripts/screenshots.sh sets it), so anyone can look at the window.
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"
#include "util/TextFile.h"

#include "helpers/QtPrinters.h"
#include "helpers/Broadcast.h"
#include "helpers/Process.h"
#include "helpers/PulseServer.h"
#include "helpers/SampleLists.h"
#include "helpers/TestFiles.h"
#include "helpers/XvfbDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QPoint>
#include <QRect>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace {

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

    // The "Key=" line of the state file without its key.
    QString StateValue(const QString& Key) const
    {
        for (const QString& Line : ReadState(StateFile))
            if (Line.startsWith(Key + "="))
                return Line.mid(Key.size() + 1);
        return {};
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

    // Waits until some line of the state file holds Text.
    bool WaitForText(const QString& Text, int Milliseconds = 30000)
    {
        const QDeadlineTimer Deadline(Milliseconds);
        while (!ReadState(StateFile).join("\n").contains(Text)) {
            if (Deadline.hasExpired())
                return false;
            QThread::msleep(50);
        }
        return true;
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
        EXPECT_TRUE(WaitForState({QString("Size=") + C.Size, QString("Page=") + C.Page, "Visible=1"})) << C.Name;
        EXPECT_TRUE(Display.screenshot(Shots + "/" + C.Name + ".png")) << C.Name;
        EXPECT_EQ(Stop(), 0) << C.Name;
    }
}

// "left,top,widthxheight" as the state file writes rectangles.
QRect ParseRect(const QString& Text)
{
    const QStringList Parts = QString(Text).replace('x', ',').split(',');
    if (Parts.size() != 4)
        return {};
    return QRect(Parts[0].toInt(), Parts[1].toInt(), Parts[2].toInt(), Parts[3].toInt());
}

TEST_F(ScreenFixture, WindowFitsTheScreenFreshOrStoredOnALargerOne)
{
    struct Case {
        const char* Name;
        int ScreenWidth, ScreenHeight;
        const char* Ini;  // nullptr: a fresh data folder
    };
    const Case Cases[] = {
        {"fresh-1280x800", 1280, 800, nullptr},
        {"fresh-1024x600", 1024, 600, nullptr},
        {"stored-larger-1024x600", 1024, 600, "NormPos=300,200,1579,1223\r\nPageControl_ActivePage=SettingsSheet\r\n"},
        {"stored-off-the-edge-1280x800", 1280, 800, "NormPos=1000,600,1767,1201\r\n"},
    };
    for (const Case& C : Cases) {
        testkit::XvfbDisplay Display(C.ScreenWidth, C.ScreenHeight);
        fs::remove_all(Data);
        fs::remove(StateFile);
        if (C.Ini)
            WriteIni(C.Ini);
        Start();
        ASSERT_TRUE(WaitForState({"Visible=1"})) << C.Name;
        // The state is written every second; the window must come to lie on the work area.
        QRect Frame, WorkArea;
        const QDeadlineTimer Deadline(30000);
        do {
            QThread::msleep(50);
            Frame = ParseRect(StateValue("Frame"));
            WorkArea = ParseRect(StateValue("WorkArea"));
        } while (!(WorkArea.contains(Frame) && !Frame.isEmpty()) && !Deadline.hasExpired());
        EXPECT_FALSE(WorkArea.isEmpty()) << C.Name;
        EXPECT_TRUE(WorkArea.contains(Frame)) << C.Name << ": " << StateValue("Frame").toStdString() << " on "
                                              << StateValue("WorkArea").toStdString();
        EXPECT_GE(Frame.width(), 300) << C.Name;
        EXPECT_GE(Frame.height(), 300) << C.Name;
        EXPECT_TRUE(Display.screenshot(Shots + "/" + C.Name + ".png")) << C.Name;
        EXPECT_EQ(Stop(), 0) << C.Name;
    }
}

// The centre of the program's icon in the notification area, from the screen's window tree: the
// program's window embedded in the tray's panel. Null while there is none.
QPoint TrayIconCentre(const std::string& Tree)
{
    const QStringList Lines = QString::fromStdString(Tree).split('\n');
    const QRegularExpression Geometry(R"((\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+))");
    qsizetype PanelIndent = -1;
    for (const QString& Line : Lines) {
        const qsizetype Indent = Line.size() - Line.trimmed().size();
        if (Line.contains(R"(("panel" "trayer"))")) {
            PanelIndent = Indent;
            continue;
        }
        if (PanelIndent < 0)
            continue;
        if (Indent <= PanelIndent)
            break;
        const QRegularExpressionMatch Match = Geometry.match(Line);
        if (Line.contains(R"(("ondrix" "Ondrix"))") && Match.hasMatch())
            return {Match.captured(3).toInt() + Match.captured(1).toInt() / 2,
                    Match.captured(4).toInt() + Match.captured(2).toInt() / 2};
    }
    return {};
}

TEST_F(ScreenFixture, TrayAppearanceLivesBehindItsIconWhichShowsAndHidesTheWindow)
{
    testkit::XvfbDisplay Display(1280, 800);
    ASSERT_TRUE(Display.startTray());
    WriteIni("ProgIcon_ItemIndex=1\r\nCheck_RunMinimized_Checked=True\r\n");
    Start();
    // Started without ever showing the window, its icon in the notification area.
    ASSERT_TRUE(WaitForState({"Started=1", "Visible=0"})) << ReadState(StateFile).join("\n").toStdString();
    QPoint Icon;
    ASSERT_TRUE(testkit::pollUntil([&] { return !(Icon = TrayIconCentre(Display.windowTree())).isNull(); },
                                   std::chrono::seconds(30)))
        << Display.windowTree();
    EXPECT_TRUE(Display.screenshot(Shots + "/tray-hidden.png"));

    // A left click on the icon shows the window, a right click hides it again.
    ASSERT_TRUE(Display.click(Icon.x(), Icon.y(), 1));
    EXPECT_TRUE(WaitForState({"Visible=1"})) << ReadState(StateFile).join("\n").toStdString();
    EXPECT_TRUE(Display.screenshot(Shots + "/tray-shown.png"));
    ASSERT_TRUE(Display.click(Icon.x(), Icon.y(), 3));
    EXPECT_TRUE(WaitForState({"Visible=0"})) << ReadState(StateFile).join("\n").toStdString();
    EXPECT_EQ(Stop(), 0);
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

    // An automation script listens on the monitor's socket for the detections.
    const std::string Heard = (Root.path() / "heard.txt").string();
    setenv("ONDRIX_SOCKET", (Root.path() / "ondrix.socket").c_str(), 1);
    const pid_t Listener = testkit::spawnProcess({testkit::executableFolder() + "/ondrixctl", "listen"}, Heard);
    unsetenv("ONDRIX_SOCKET");
    // "AddSubscriber" names it.
    ASSERT_TRUE(WaitForText(GetMessageText("AddSubscriber").section("%s", 0, 0) + "ondrixctl"))
        << ReadState(StateFile).join("\n").toStdString();

    Server.play((Clips / "programme.wav").string());
    const QString Found = QString::fromUtf8("Найден образец № 1 \"Jingle\"");
    ASSERT_TRUE(WaitForText(Found)) << ReadState(StateFile).join("\n").toStdString();
    EXPECT_TRUE(Display.screenshot(Shots + "/found.png"));
    // The listener heard the detection once: local time, a TAB, the shown number.
    ASSERT_TRUE(testkit::pollUntil([&] { return testkit::readText(Heard).find("\t1\n") != std::string::npos; },
                                   std::chrono::seconds(30)))
        << testkit::readText(Heard);

    // The same message in today's log file.
    bool Logged = false;
    for (const auto& Entry : fs::recursive_directory_iterator(Data / "Log"))
        if (Entry.path().extension() == ".log")
            Logged = Logged || QString::fromStdString(testkit::readText(Entry.path().string())).contains(Found);
    EXPECT_TRUE(Logged);

    // Closing saves the settings: the placement and the show state are written. The monitor's
    // end closes the listener's connection; it ends by itself.
    EXPECT_EQ(Stop(), 0);
    testkit::waitForProcess(Listener);
    const std::string HeardText = testkit::readText(Heard);
    EXPECT_EQ(std::count(HeardText.begin(), HeardText.end(), '\n'), 1) << HeardText;
    const std::string Ini = testkit::readText((Data / "Ini" / "Ondrix.ini").string());
    EXPECT_NE(Ini.find("ShowCmd=1"), std::string::npos) << Ini;
    EXPECT_NE(Ini.find("NormPos=40,30,1039,709"), std::string::npos) << Ini;
}

}  // namespace
