#include "app/Ondrix_Unit.h"
#include "core/Common_Settings.h"
#include "lang/Lang.h"

#include "helpers/Process.h"
#include "helpers/TestFiles.h"
#include "helpers/QtPrinters.h"
#include "helpers/XvfbDisplay.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

TEST(OndrixWindowTest, IsCaptionedAndClosesCleanly)
{
    TOndrix Window;
    EXPECT_EQ(Window.windowTitle(), "ONDRIX ");
    EXPECT_EQ(Window.objectName(), "Ondrix");
    EXPECT_FALSE(Window.isVisible());  // created hidden
    Window.show();
    EXPECT_TRUE(Window.isVisible());
    EXPECT_TRUE(Window.close());
    EXPECT_FALSE(Window.isVisible());
}

// Runs a copy of the real executable from its own program folder, with a per-user data
// folder and home of its own.
class OndrixProgramTest : public ::testing::Test {
protected:
    testkit::TempDir Root;
    fs::path Program = Root.path() / "prog";
    fs::path UserData = Root.path() / "xdg";
    QString Output;
    QString Errors;
    // A default frequency table as the program writes it, so it reads back the same after the
    // settings are saved on closing.
    const std::string DefaultFreq = "[Frequencys]\r\nID=1\r\nFreq=697\r\nFreqDelta=20\r\nFreq=1209\r\nFreqDelta=20\r\n\r\n";

    void SetUp() override
    {
        WriteDefaults();
        fs::copy_file(fs::path(ONDRIX_BIN_DIR) / "ondrix", Program / "ondrix");
        fs::create_directories(Root.path() / "home");
    }

    void WriteDefaults()
    {
        fs::create_directories(Program / "Ini_Def");
        testkit::writeText((Program / "Ini_Def" / "Ondrix.ini").string(), "[Ondrix]\r\nLogCount_Value=30\r\n");
        testkit::writeText((Program / "Ini_Def" / "Freq.ini").string(), DefaultFreq);
    }

    // Under a Russian desktop unless Lang says otherwise: its texts are then the built-in ones.
    int Run(const QStringList& Args, bool WithScreen = true, const QString& Lang = "ru_RU.UTF-8")
    {
        QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
        for (const char* Name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"})
            Env.remove(Name);
        Env.insert("LANG", Lang);
        Env.insert("XDG_DATA_HOME", Q(UserData));
        Env.insert("HOME", Q(Root.path() / "home"));
        Env.insert("ONDRIX_EXIT_AFTER_START", "1");
        Env.remove("DISPLAY");
        if (WithScreen)
            Env.insert("QT_QPA_PLATFORM", "offscreen");
        else
            Env.remove("QT_QPA_PLATFORM");
        QProcess Process;
        Process.setProcessEnvironment(Env);
        Process.setWorkingDirectory(Q(Root.path()));
        Process.start(Q(Program / "ondrix"), Args);
        EXPECT_TRUE(Process.waitForFinished(60000));
        Output = QString::fromLocal8Bit(Process.readAllStandardOutput());
        Errors = QString::fromLocal8Bit(Process.readAllStandardError());
        EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit) << Errors.toStdString();
        return Process.exitCode();
    }

    // Every path below the root, for checking that nothing was written.
    std::vector<fs::path> Tree() const
    {
        std::vector<fs::path> Paths;
        for (const auto& Entry : fs::recursive_directory_iterator(Root.path()))
            Paths.push_back(Entry.path());
        std::sort(Paths.begin(), Paths.end());
        return Paths;
    }
};

TEST_F(OndrixProgramTest, VersionTouchesNoFolderAndNeedsNoScreen)
{
    const auto Before = Tree();
    EXPECT_EQ(Run({"--version"}, false), 0);
    EXPECT_EQ(Output, TCommonSettings::ProgramVersionText() + "\n");
    EXPECT_FALSE(Output.trimmed().isEmpty());
    EXPECT_EQ(Tree(), Before);
}

TEST_F(OndrixProgramTest, DataSwitchPreparesTheDataFolder)
{
    const fs::path Data = Root.path() / "Station";
    fs::create_directories(Data / "Ini");
    fs::create_directories(Data / "Temp" / "sub");
    const std::string Own = "[Ondrix]\r\nLogCount_Value=77\r\nMine=1\r\n";
    testkit::writeText((Data / "Ini" / "Ondrix.ini").string(), Own);
    testkit::writeText((Data / "Temp" / "sub" / "old.wav").string(), "x");

    EXPECT_EQ(Run({"/Data=" + Q(Data)}), 0) << Errors.toStdString();
    // The own settings were kept (closing saves them, the own entries first and in place) and
    // the missing frequency table came from the defaults.
    const std::string Saved = testkit::readText((Data / "Ini" / "Ondrix.ini").string());
    EXPECT_EQ(Saved.substr(0, Own.size()), Own) << Saved;
    EXPECT_EQ(testkit::readText((Data / "Ini" / "Freq.ini").string()), DefaultFreq);
    EXPECT_FALSE(fs::exists(Data / "Temp"));
    EXPECT_FALSE(fs::exists(UserData));
}

TEST_F(OndrixProgramTest, RelativeDataAndDelaySwitches)
{
    // Taken from the current folder (the program's tree is not portable), never the program's.
    EXPECT_EQ(Run({"\\data=Rel", "/Delay=abc"}), 0) << Errors.toStdString();
    EXPECT_TRUE(fs::exists(Root.path() / "Rel" / "Ini" / "Freq.ini"));
    EXPECT_FALSE(fs::exists(Program / "Rel"));
}

TEST_F(OndrixProgramTest, PortableAndPerUserDataFolders)
{
    EXPECT_EQ(Run({}), 0) << Errors.toStdString();
    EXPECT_TRUE(fs::exists(UserData / "Corvessa" / "Ondrix" / "Data" / "Ini" / "Ondrix.ini"));

    fs::remove_all(UserData);
    fs::create_directories(Program / "Ini");
    EXPECT_EQ(Run({}), 0) << Errors.toStdString();
    EXPECT_TRUE(fs::exists(Program / "Ini" / "Freq.ini"));
    EXPECT_FALSE(fs::exists(UserData));
}

TEST_F(OndrixProgramTest, UnwritableDataFolderEndsWithTheErrorText)
{
    testkit::writeText((Root.path() / "file").string(), "x");
    const QString Data = Q(Root.path() / "file" / "Station");
    const auto Before = Tree();
    EXPECT_EQ(Run({"/Data=" + Data}), 1);
    EXPECT_TRUE(Errors.contains(FormatMessageText("FolderWriteAccessError", {Data + "/"}))) << Errors.toStdString();
    EXPECT_EQ(Tree(), Before);
}

TEST_F(OndrixProgramTest, DefaultFileThatCannotBeCopiedEndsWithTheErrorText)
{
    const fs::path Data = Root.path() / "Station";
    fs::create_directories(Data / "Ini");
    fs::create_symlink(Root.path() / "gone" / "Freq.ini", Data / "Ini" / "Freq.ini");
    EXPECT_EQ(Run({"/Data=" + Q(Data)}), 1);
    EXPECT_TRUE(Errors.contains("Copy \"" + Q(Program) + "/Ini_Def/Freq.ini\".")) << Errors.toStdString();
}

TEST_F(OndrixProgramTest, StartupFailuresEndWithExitCodeOneAndTheirText)
{
    const fs::path Data = Root.path() / "Station";
    struct Case {
        const char* Name;
        std::function<void()> Prepare;
        QStringList Args;
        bool WithScreen;
        QString Text;
    };
    const Case Cases[] = {
        {"empty data switch", [] {}, {"/Data="}, true, GetMessageText("DataSwitchEmpty")},
        {"data switch alone", [] {}, {"/Data"}, true, GetMessageText("DataSwitchEmpty")},
        {"no default folder", [&] { fs::remove_all(Program / "Ini_Def"); }, {"/Data=" + Q(Data)}, true,
         FormatMessageText("DefaultFolderNotFound", {Q(Program) + "/Ini_Def/"})},
        {"a folder in place of a default file", [&] { fs::create_directories(Data / "Ini" / "Freq.ini"); },
         {"/Data=" + Q(Data)}, true, "Copy \"" + Q(Program) + "/Ini_Def/Freq.ini\"."},
        {"no display", [] {}, {"/Data=" + Q(Data)}, false, "--headless"},
        {"empty data switch, headless", [] {}, {"--headless", "/Data="}, false, GetMessageText("DataSwitchEmpty")},
        {"no default folder, headless", [&] { fs::remove_all(Program / "Ini_Def"); }, {"--headless", "/Data=" + Q(Data)},
         false, FormatMessageText("DefaultFolderNotFound", {Q(Program) + "/Ini_Def/"})},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        WriteDefaults();
        fs::remove_all(Data);
        C.Prepare();
        EXPECT_EQ(Run(C.Args, C.WithScreen), 1);
        EXPECT_TRUE(Errors.contains(C.Text)) << Errors.toStdString();
        // The program folder never becomes a portable installation by mistake.
        EXPECT_FALSE(fs::exists(Program / "Ini"));
    }
}

// Start-up errors, on the terminal, are in the desktop's language from the first line on,
// whether or not that locale was generated, with and without a window.
TEST_F(OndrixProgramTest, StartupErrorsFollowTheDesktopsLanguage)
{
    // The program's English language file beside it, as the build and the package install it.
    fs::create_directories(Program / "Language");
    fs::copy_file(fs::path(ONDRIX_BIN_DIR) / "Language" / "OndrixEnglish.lng", Program / "Language" / "OndrixEnglish.lng");
    testkit::writeText((Root.path() / "file").string(), "x");
    const QString Unwritable = Q(Root.path() / "file" / "Station");
    struct Case {
        QStringList Args;
        bool WithScreen;
        QString Russian, English;
    };
    const Case Cases[] = {
        {{"/Data="}, true, GetMessageText("DataSwitchEmpty"),
         "The /Data= switch needs the name of a data folder, for example /Data=/srv/ondrix."},
        {{"--headless", "/Data="}, false, GetMessageText("DataSwitchEmpty"),
         "The /Data= switch needs the name of a data folder, for example /Data=/srv/ondrix."},
        {{"/Data=" + Unwritable}, true, FormatMessageText("FolderWriteAccessError", {Unwritable + "/"}),
         "The program could not get write access to the folder\n\"" + Unwritable + "/\"."},
        {{"--headless", "/Data=" + Unwritable}, false, FormatMessageText("FolderWriteAccessError", {Unwritable + "/"}),
         "The program could not get write access to the folder\n\"" + Unwritable + "/\"."},
        {{"/Data=" + Unwritable}, false, GetMessageText("NoDisplay"), "no display to show the window on"},
    };
    for (const Case& C : Cases) {
        for (const QString Lang : {"en_US.UTF-8", "ru_RU.UTF-8"}) {
            SCOPED_TRACE((C.Args.join(' ') + " " + Lang).toStdString());
            EXPECT_EQ(Run(C.Args, C.WithScreen, Lang), 1);
            EXPECT_TRUE(Errors.contains(Lang.startsWith("ru") ? C.Russian : C.English)) << Errors.toStdString();
        }
    }
}

TEST_F(OndrixProgramTest, HelpPrintsTheSwitchesTouchesNothingAndNeedsNoScreen)
{
    const auto Before = Tree();
    EXPECT_EQ(Run({"--help"}, false), 0);
    for (const char* Switch : {"/Data=", "/Delay=", "--headless", "--version", "--help"})
        EXPECT_TRUE(Output.contains(Switch)) << Switch << "\n" << Output.toStdString();
    EXPECT_EQ(Tree(), Before);
}

TEST_F(OndrixProgramTest, StopSignalEndsTheStartupDelayBeforeAnyFolderIsMade)
{
    const fs::path Data = Root.path() / "Station";
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    Env.insert("HOME", Q(Root.path() / "home"));
    struct Case {
        int Signal;
        QStringList Args;
    };
    const Case Cases[] = {
        {SIGTERM, {"/Data=" + Q(Data), "/Delay=600000"}},
        {SIGINT, {"/Data=" + Q(Data), "/Delay=600000"}},
        {SIGHUP, {"/Data=" + Q(Data), "/Delay=600000"}},
        {SIGTERM, {"--headless", "/Data=" + Q(Data), "/Delay=600000"}},
        {SIGINT, {"--headless", "/Data=" + Q(Data), "/Delay=600000"}},
    };
    for (const Case& C : Cases) {
        const int Signal = C.Signal;
        SCOPED_TRACE(Signal);
        SCOPED_TRACE(C.Args.join(' ').toStdString());
        QProcess Process;
        Process.setProcessEnvironment(Env);
        Process.start(Q(Program / "ondrix"), C.Args);
        ASSERT_TRUE(Process.waitForStarted());
        const QDeadlineTimer Deadline(30000);
        while (!testkit::catchesSignal(pid_t(Process.processId()), Signal) && !Deadline.hasExpired())
            Process.waitForFinished(10);
        ASSERT_TRUE(testkit::catchesSignal(pid_t(Process.processId()), Signal));
        ::kill(pid_t(Process.processId()), Signal);
        // Ten minutes of delay: ending at all shows the wait was cut short.
        ASSERT_TRUE(Process.waitForFinished(60000));
        EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(Process.exitCode(), 0);
        EXPECT_FALSE(fs::exists(Data));
    }
}

TEST_F(OndrixProgramTest, StopSignalClosesTheStartupErrorBox)
{
    // A real X server, so that the error box is shown and waits for a click.
    testkit::XvfbDisplay Display(800, 600);
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.remove("QT_QPA_PLATFORM");
    Env.insert("DISPLAY", QString::fromStdString(Display.name()));
    Env.insert("HOME", Q(Root.path() / "home"));
    QProcess Process;
    Process.setProcessEnvironment(Env);
    Process.start(Q(Program / "ondrix"), {"/Data="});
    ASSERT_TRUE(Process.waitForStarted());
    // The text goes to standard error just before the box opens.
    QByteArray Text;
    const QDeadlineTimer Deadline(60000);
    while (!Text.contains("/Data") && Process.state() == QProcess::Running && !Deadline.hasExpired()) {
        Process.waitForReadyRead(100);
        Text += Process.readAllStandardError();
    }
    ASSERT_TRUE(Text.contains("/Data")) << Text.toStdString();
    if (Process.state() == QProcess::Running)
        ::kill(pid_t(Process.processId()), SIGTERM);
    const bool Ended = Process.waitForFinished(60000);
    ASSERT_TRUE(Ended) << "the box kept the program alive";
    EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Process.exitCode(), 1);
}

TEST_F(OndrixProgramTest, StopSignalClosesNormally)
{
    const fs::path Data = Root.path() / "Station";
    QProcessEnvironment Env = QProcessEnvironment::systemEnvironment();
    Env.insert("QT_QPA_PLATFORM", "offscreen");
    Env.insert("HOME", Q(Root.path() / "home"));
    QProcess Process;
    Process.setProcessEnvironment(Env);
    Process.start(Q(Program / "ondrix"), {"/Data=" + Q(Data)});
    ASSERT_TRUE(Process.waitForStarted());
    // The settings folder appears once the program catches stop requests.
    const QDeadlineTimer Deadline(30000);
    while (!fs::exists(Data / "Ini" / "Freq.ini") && !Deadline.hasExpired())
        Process.waitForFinished(10);
    ASSERT_TRUE(fs::exists(Data / "Ini" / "Freq.ini"));
    Process.terminate();
    ASSERT_TRUE(Process.waitForFinished(30000));
    EXPECT_EQ(Process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(Process.exitCode(), 0);
}

}  // namespace
