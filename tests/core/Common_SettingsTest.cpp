#include "core/Common_Settings.h"

#include "helpers/TestFiles.h"
#include "helpers/QtPrinters.h"
#include "lang/Lang.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// A program folder with its default settings files, and a per-user data folder of its own.
class SettingsTest : public ::testing::Test {
protected:
    testkit::TempDir Root;
    fs::path Program = Root.path() / "prog";
    fs::path UserData = Root.path() / "xdg";
    QByteArray SavedXdg = qgetenv("XDG_DATA_HOME");
    QByteArray SavedHome = qgetenv("HOME");
    std::vector<qint64> Waits;

    void SetUp() override
    {
        fs::create_directories(Program / "Ini_Def" / "sub");
        testkit::writeText((Program / "Ini_Def" / "Ondrix.ini").string(), "[Ondrix]\r\nLogCount_Value=30\r\n");
        testkit::writeText((Program / "Ini_Def" / "Freq.ini").string(), "[Freq]\r\n");
        testkit::writeText((Program / "Ini_Def" / "readme.txt").string(), "not a settings file");
        testkit::writeText((Program / "Ini_Def" / "sub" / "Nested.ini").string(), "[Nested]\r\n");
        qputenv("XDG_DATA_HOME", UserData.string().c_str());
    }

    void TearDown() override
    {
        qputenv("XDG_DATA_HOME", SavedXdg);
        qputenv("HOME", SavedHome);
    }

    TSettingsStartup Startup(const QStringList& Args)
    {
        return {Args, Q(Program / "ondrix"), [this](qint64 MSecs) { Waits.push_back(MSecs); }};
    }

    std::unique_ptr<TSettings> Make(const QStringList& Args)
    {
        return std::make_unique<TSettings>(Startup(Args));
    }

    QString ProgramFolder() const { return Q(Program) + "/"; }
};

TEST_F(SettingsTest, DataSwitchChoosesTheDataFolder)
{
    const QString Abs = Q(Root.path() / "Station");
    struct Case {
        QStringList Args;
        QString Expected;
    };
    const Case Cases[] = {
        {{"/Data=" + Abs}, Abs + "/"},
        {{"/Data=" + Abs + "/"}, Abs + "/"},
        {{"\\Data=" + Abs}, Abs + "/"},                               // backslash form
        {{"/DATA= \"" + Abs + "\" "}, Abs + "/"},                     // case, blanks, quotes
        {{"/Data=../Shared"}, Q(Root.path()) + "/Shared/"},           // relative to the current folder
        {{"/Data=./a/../b"}, Q(Root.path() / "work") + "/b/"},
        {{"/Data=" + Abs + "/first", "/Delay=0", "\\data=" + Abs}, Abs + "/"},  // last one wins
    };
    fs::create_directories(Root.path() / "work");
    const QString Previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(Q(Root.path() / "work")));
    for (const Case& C : Cases) {
        const auto S = Make(C.Args);
        const QString Context = C.Args.join(' ');
        EXPECT_EQ(S->DataFolder, C.Expected) << Context.toStdString();
        EXPECT_EQ(S->IniFolder, C.Expected + "Ini/");
        EXPECT_EQ(S->TempFolder, C.Expected + "Temp/");
        EXPECT_EQ(S->MainIniFile, C.Expected + "Ini/Ondrix.ini");
        EXPECT_TRUE(QFileInfo::exists(C.Expected + "Ini/Ondrix.ini")) << Context.toStdString();
    }
    EXPECT_FALSE(fs::exists(UserData)) << "nothing is created in the per-user folder when Data is given";
    QDir::setCurrent(Previous);
}

// A relative data folder is the portable tree's own (an Ini/ beside the executable); for an
// installed program it is taken from the current folder, and a data folder inside the
// program's folders (the executable's, or share/ondrix of an installed layout) is refused
// before anything is created.
TEST_F(SettingsTest, ARelativeDataFolderIsTheCurrentFoldersUnlessTheTreeIsPortable)
{
    const QString Previous = QDir::currentPath();
    const fs::path Work = Root.path() / "work";
    fs::create_directories(Work);
    ASSERT_TRUE(QDir::setCurrent(Q(Work)));
    EXPECT_EQ(Make({"/Data=myfeed"})->DataFolder, Q(Work) + "/myfeed/");

    // Installed: bin/ondrix with its files under share/ondrix/.
    const fs::path Prefix = Root.path() / "usr";
    fs::create_directories(Prefix / "bin");
    fs::create_directories(Prefix / "share" / "ondrix");
    fs::rename(Program / "Ini_Def", Prefix / "share" / "ondrix" / "Ini_Def");
    const auto Installed = [&](const QStringList& Args) {
        return std::make_unique<TSettings>(TSettingsStartup{Args, Q(Prefix / "bin" / "ondrix"), [](qint64) {}});
    };
    for (const fs::path& Inside : {Prefix / "bin", Prefix / "share" / "ondrix"}) {
        ASSERT_TRUE(QDir::setCurrent(Q(Inside)));
        for (const QString& Data : {QStringLiteral("myfeed"), Q(Inside / "abs")}) {
            SCOPED_TRACE(Data.toStdString());
            try {
                Installed({"/Data=" + Data});
                ADD_FAILURE() << "accepted";
            } catch (const ESettingsError& Error) {
                EXPECT_TRUE(Error.Text().contains(Q(Inside))) << Error.Text().toStdString();
                const QString Expected = FormatMessageText("DataFolderInInstallation", {QString(), QString()});
                EXPECT_TRUE(Error.Text().startsWith(Expected.left(Expected.indexOf(u'"')))) << Error.Text().toStdString();
            }
        }
        EXPECT_FALSE(fs::exists(Inside / "myfeed"));
        EXPECT_FALSE(fs::exists(Inside / "abs"));
    }
    ASSERT_TRUE(QDir::setCurrent(Q(Work)));
    EXPECT_EQ(Installed({"/Data=myfeed"})->DataFolder, Q(Work) + "/myfeed/");

    // Portable: beside the executable, and there it may be.
    fs::create_directories(Prefix / "bin" / "Ini");
    EXPECT_EQ(Installed({"/Data=myfeed"})->DataFolder, Q(Prefix / "bin") + "/myfeed/");
    QDir::setCurrent(Previous);
}

TEST_F(SettingsTest, FillsEveryPath)
{
    const QString Data = Q(Root.path() / "D") + "/";
    const TDateTime Before = Now();
    const auto S = Make({"/Data=" + Data});
    EXPECT_GE(S->ProgramStartTime, Before);
    EXPECT_LE(S->ProgramStartTime, Now());
    EXPECT_EQ(S->ExeBaseName, "ondrix");
    EXPECT_EQ(S->ProgramFolder, ProgramFolder());
    EXPECT_EQ(S->CommonDataFolder, Q(UserData) + "/Corvessa/Ondrix/");
    EXPECT_EQ(S->DefaultIniFolder, ProgramFolder() + "Ini_Def/");
    EXPECT_EQ(S->LanguageFolder, ProgramFolder() + "Language/");
    EXPECT_EQ(S->WhatsNewFile, ProgramFolder() + "WhatsNew.txt");
    EXPECT_EQ(S->ColumnsIniFile, Data + "Ini/ondrix_Columns.ini");
    EXPECT_EQ(S->LogFolder, Data + "Log/");
    EXPECT_EQ(S->BackupFolder, Data + "Backup/");
    EXPECT_EQ(S->SamplesFile, Data + "Ini/Samples.ini");
    EXPECT_EQ(S->FreqFile, Data + "Ini/Freq.ini");
    EXPECT_EQ(S->ProductTitle, "Ondrix");
    EXPECT_TRUE(QRegularExpression(R"(^\d+\.\d+\.\d+\.\d+$)").match(S->VersionText).hasMatch())
        << S->VersionText.toStdString();
    EXPECT_FALSE(S->HomePageUrl.isEmpty());
    EXPECT_FALSE(S->SupportUrl.isEmpty());
    EXPECT_FALSE(S->SupportEmail.isEmpty());
    EXPECT_TRUE(S->HelpFolder.isEmpty());
    EXPECT_FALSE(S->RestartRequested);
    EXPECT_FALSE(S->SkipSaveOnClose);
    EXPECT_TRUE(S->SettingsLoaded);
    EXPECT_EQ(S->AllFilesFilter(), GetMessageText("AllFiles") + "|*.*");
    EXPECT_EQ(Settings, S.get());
}

TEST_F(SettingsTest, PortableInstallationKeepsDataBesideTheProgram)
{
    fs::create_directories(Program / "Ini");
    const auto S = Make({});
    EXPECT_EQ(S->DataFolder, ProgramFolder());
    EXPECT_EQ(S->IniFolder, ProgramFolder() + "Ini/");
    EXPECT_TRUE(fs::exists(Program / "Ini" / "Freq.ini"));
    EXPECT_FALSE(fs::exists(UserData));
}

TEST_F(SettingsTest, PerUserFolderIsCreatedOnFirstStart)
{
    const auto S = Make({});
    EXPECT_EQ(S->DataFolder, Q(UserData) + "/Corvessa/Ondrix/Data/");
    EXPECT_TRUE(fs::is_directory(UserData / "Corvessa" / "Ondrix" / "Data" / "Ini"));
    EXPECT_TRUE(fs::exists(UserData / "Corvessa" / "Ondrix" / "Data" / "Ini" / "Ondrix.ini"));
}

TEST_F(SettingsTest, PerUserFolderFallsBackToHome)
{
    qunsetenv("XDG_DATA_HOME");
    qputenv("HOME", (Root.path() / "home").string().c_str());
    const auto S = Make({});
    EXPECT_EQ(S->DataFolder, Q(Root.path()) + "/home/.local/share/Corvessa/Ondrix/Data/");

    qunsetenv("HOME");
    try {
        Make({});
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        EXPECT_EQ(Error.Text(), "Special folder path not found [35]!");
    }
}

TEST_F(SettingsTest, SanitisesTheProductTitle)
{
    EXPECT_EQ(TCommonSettings::SanitizeProductTitle(" On!d\"r/i?x\\ "), "Ondrix");
    EXPECT_EQ(TCommonSettings::SanitizeProductTitle("Ondrix"), "Ondrix");
}

TEST_F(SettingsTest, TemporaryFolderIsRemovedAtEveryStart)
{
    const fs::path Data = Root.path() / "D";
    fs::create_directories(Data / "Temp" / "deep" / "deeper");
    testkit::writeText((Data / "Temp" / "a.wav").string(), "x");
    testkit::writeText((Data / "Temp" / "deep" / "deeper" / "b.tmp").string(), "x");
    Make({"/Data=" + Q(Data)});
    EXPECT_FALSE(fs::exists(Data / "Temp"));
    EXPECT_TRUE(fs::exists(Data / "Ini"));
}

// A settings file being saved when the program was killed leaves its temporary copy beside it,
// named with six letters of mixed case; the operator's own copies stay.
TEST_F(SettingsTest, TemporaryCopiesOfInterruptedSavesAreRemovedAtStart)
{
    const fs::path Ini = Root.path() / "D" / "Ini";
    fs::create_directories(Ini);
    for (const char* Name : {"Samples.ini", "Ondrix.ini"})
        testkit::writeText((Ini / Name).string(), "[x]\r\n");
    const struct {
        const char* Name;
        bool Removed;
    } Cases[] = {
        {"Samples.ini.kQzTbW", true}, {"Ondrix.ini.AbcDEf", true},  {"Samples.ini.backup", false},
        {"Samples.ini.BACKUP", false}, {"Samples.ini.Backup", false}, {"Samples.ini.kQ1TbW", false},
        {"Samples.ini.kQzTb", false},  {"Freq.ini.kQzTbW", false},    // nothing it would have replaced
    };
    for (const auto& C : Cases)
        testkit::writeText((Ini / C.Name).string(), "half a file");
    Make({"/Data=" + Q(Root.path() / "D")});
    for (const auto& C : Cases)
        EXPECT_EQ(fs::exists(Ini / C.Name), !C.Removed) << C.Name;
    EXPECT_TRUE(fs::exists(Ini / "Samples.ini"));
}

TEST_F(SettingsTest, TemporaryFolderLinkIsRemovedWithoutEmptyingItsTarget)
{
    const fs::path Data = Root.path() / "D";
    const fs::path Elsewhere = Root.path() / "elsewhere";
    fs::create_directories(Data);
    fs::create_directories(Elsewhere);
    testkit::writeText((Elsewhere / "precious.txt").string(), "x");
    fs::create_directory_symlink(Elsewhere, Data / "Temp");
    Make({"/Data=" + Q(Data)});
    EXPECT_FALSE(fs::exists(fs::symlink_status(Data / "Temp")));
    EXPECT_TRUE(fs::exists(Elsewhere / "precious.txt"));
}

TEST_F(SettingsTest, DefaultFilesAreCopiedButNeverReplaceExistingOnes)
{
    const fs::path Data = Root.path() / "D";
    fs::create_directories(Data / "Ini");
    testkit::writeText((Data / "Ini" / "Ondrix.ini").string(), "[Ondrix]\r\nLogCount_Value=99\r\n");
    Make({"/Data=" + Q(Data)});
    EXPECT_EQ(testkit::readText((Data / "Ini" / "Ondrix.ini").string()), "[Ondrix]\r\nLogCount_Value=99\r\n");
    EXPECT_EQ(testkit::readText((Data / "Ini" / "Freq.ini").string()), "[Freq]\r\n");
    EXPECT_FALSE(fs::exists(Data / "Ini" / "readme.txt"));   // only *.ini files
    EXPECT_FALSE(fs::exists(Data / "Ini" / "Nested.ini"));   // only the top level
    EXPECT_FALSE(fs::exists(Data / "Ini" / "sub"));
    // Nothing but the copies is left in the folder (no temporary or probe files).
    EXPECT_EQ(QDir(Q(Data / "Ini")).entryList(QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot),
              (QStringList{"Freq.ini", "Ondrix.ini"}));
}

TEST_F(SettingsTest, EmptyDataSwitchIsAnError)
{
    // It would make the program's folder a portable installation for every later start.
    for (const QStringList& Args : {QStringList{"/Data"}, QStringList{"/Data="}, QStringList{"/Data=\"\""},
                                    QStringList{"/Data=" + Q(Root.path() / "D"), "/data= "}}) {
        try {
            Make(Args);
            ADD_FAILURE() << Args.join(' ').toStdString() << " was accepted";
        } catch (const ESettingsError& Error) {
            EXPECT_EQ(Error.Text(), GetMessageText("DataSwitchEmpty"));
        }
    }
    EXPECT_FALSE(fs::exists(Program / "Ini"));
    EXPECT_FALSE(fs::exists(Root.path() / "D"));
}

TEST_F(SettingsTest, MissingDefaultFolderIsReported)
{
    fs::remove_all(Program / "Ini_Def");
    const auto S = Make({"/Data=" + Q(Root.path() / "D")});
    try {
        S->CheckInstallation();
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        EXPECT_EQ(Error.Text(), FormatMessageText("DefaultFolderNotFound", {ProgramFolder() + "Ini_Def/"}));
    }
    fs::create_directories(Program / "Ini_Def");
    EXPECT_NO_THROW(S->CheckInstallation());
}

TEST_F(SettingsTest, FolderInPlaceOfADefaultFileIsReported)
{
    const fs::path Data = Root.path() / "D";
    fs::create_directories(Data / "Ini" / "Freq.ini");
    try {
        Make({"/Data=" + Q(Data)});
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        EXPECT_TRUE(Error.Text().startsWith("Copy \"" + ProgramFolder() + "Ini_Def/Freq.ini\".")) << Error.Text().toStdString();
    }
    EXPECT_TRUE(fs::is_directory(Data / "Ini" / "Freq.ini"));
}

TEST_F(SettingsTest, ReadOnlyStartupChangesNothing)
{
    // The offline scanner finds the files as the monitor does, and leaves every folder as it
    // found it: the temporary files of a running monitor, a settings folder without defaults,
    // a per-user folder that does not exist yet.
    const fs::path Data = Root.path() / "D";
    fs::create_directories(Data / "Temp");
    testkit::writeText((Data / "Temp" / "recording.wav").string(), "x");
    TSettingsStartup Given = Startup({"/Data=" + Q(Data), "/Delay=60000"});
    Given.ReadOnly = true;
    const TSettings Found(Given);
    EXPECT_EQ(Found.SamplesFile, Q(Data) + "/Ini/Samples.ini");
    EXPECT_EQ(Found.FreqFile, Q(Data) + "/Ini/Freq.ini");
    EXPECT_EQ(Found.DefaultIniFolder, ProgramFolder() + "Ini_Def/");
    EXPECT_TRUE(fs::exists(Data / "Temp" / "recording.wav"));
    EXPECT_FALSE(fs::exists(Data / "Ini"));
    EXPECT_TRUE(Waits.empty());

    TSettingsStartup PerUser = Startup({});
    PerUser.ReadOnly = true;
    const TSettings Default(PerUser);
    EXPECT_EQ(Default.DataFolder, Q(UserData) + "/Corvessa/Ondrix/Data/");
    EXPECT_FALSE(fs::exists(UserData));
}

TEST_F(SettingsTest, InstalledLayoutFindsResourcesInShare)
{
    const fs::path Prefix = Root.path() / "usr";
    fs::create_directories(Prefix / "bin");
    fs::create_directories(Prefix / "share" / "ondrix" / "Ini_Def");
    testkit::writeText((Prefix / "share" / "ondrix" / "Ini_Def" / "Freq.ini").string(), "[Freq]\r\n");
    const fs::path Data = Root.path() / "D";
    const TSettings S({{"/Data=" + Q(Data)}, Q(Prefix / "bin" / "ondrix"), {}});
    EXPECT_EQ(S.DefaultIniFolder, Q(Prefix) + "/share/ondrix/Ini_Def/");
    EXPECT_EQ(S.LanguageFolder, Q(Prefix) + "/share/ondrix/Language/");
    EXPECT_TRUE(fs::exists(Data / "Ini" / "Freq.ini"));
}

TEST_F(SettingsTest, DelaySwitchWaitsOnlyForAPositiveNumber)
{
    struct Case {
        QStringList Args;
        std::vector<qint64> Expected;
    };
    const QString Data = "/Data=" + Q(Root.path() / "D");
    const Case Cases[] = {
        {{"/Delay=1500"}, {1500}},
        {{"\\delay = \"250\""}, {250}},
        {{"/Delay=abc"}, {}},
        {{"/Delay=0"}, {}},
        {{"/Delay=-100"}, {}},
        {{"/Delay=1500ms"}, {}},
        {{"/Delay=100", "/Delay=abc"}, {}},  // last one wins
        {{}, {}},
    };
    for (const Case& C : Cases) {
        Waits.clear();
        Make(QStringList(C.Args) << Data);
        EXPECT_EQ(Waits, C.Expected) << C.Args.join(' ').toStdString();
    }
}

TEST_F(SettingsTest, DataFolderThatCannotBeCreatedIsReported)
{
    // A file stands where a folder of the chain should be, which stops even the super-user.
    testkit::writeText((Root.path() / "file").string(), "x");
    const QString Data = Q(Root.path() / "file" / "Station");
    try {
        Make({"/Data=" + Data});
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        EXPECT_EQ(Error.Text(), FormatMessageText("FolderWriteAccessError", {Data + "/"}));
        EXPECT_TRUE(Error.Text().contains(QString::fromUtf8("Продолжение работы невозможно")));
    }
    EXPECT_EQ(Settings, nullptr);

    // The same for the per-user folder.
    qputenv("XDG_DATA_HOME", (Root.path() / "file").string().c_str());
    try {
        Make({});
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        EXPECT_EQ(Error.Text(),
                  FormatMessageText("FolderWriteAccessError", {Q(Root.path()) + "/file/Corvessa/Ondrix/Data/"}));
    }
}

TEST_F(SettingsTest, DefaultFileThatCannotBeCopiedIsReported)
{
    // A link in the settings folder to a place that is gone: the name is free, yet nothing
    // can be written through it.
    const fs::path Data = Root.path() / "D";
    fs::create_directories(Data / "Ini");
    fs::create_symlink(Root.path() / "gone" / "Freq.ini", Data / "Ini" / "Freq.ini");
    try {
        Make({"/Data=" + Q(Data)});
        FAIL() << "expected an error";
    } catch (const ESettingsError& Error) {
        const QString Source = ProgramFolder() + "Ini_Def/Freq.ini";
        EXPECT_TRUE(Error.Text().startsWith("Copy \"" + Source + "\".\r\n")) << Error.Text().toStdString();
        EXPECT_GT(Error.Text().size(), QString("Copy \"" + Source + "\".\r\n").size()) << "the system's reason follows";
    }
    // The other files were still copied.
    EXPECT_TRUE(fs::exists(Data / "Ini" / "Ondrix.ini"));
}

TEST_F(SettingsTest, RequestRestartClosesTheWindowAndStartsAgainWithTheSameData)
{
    // The "executable" records how it was started.
    const fs::path Record = Root.path() / "restart.txt";
    testkit::writeText((Program / "ondrix").string(),
                       "#!/bin/sh\nprintf '%s\\n' \"$PWD\" \"$@\" > \"" + Record.string() + ".part\"\n"
                       "mv \"" + Record.string() + ".part\" \"" + Record.string() + "\"\n");
    fs::permissions(Program / "ondrix", fs::perms::owner_all);
    const QString Data = Q(Root.path() / "My Station");
    struct Case {
        const char* Name;
        QStringList Arguments;
        std::string Restarted;  // after the working folder, one argument a line
    };
    const Case Cases[] = {
        {"with its window", {"/Data=" + Data}, "/Data=" + Data.toStdString() + "/\n/Restart\n"},
        {"without a window", {"--headless", "/Delay=5", "/Data=" + Data},
         "/Data=" + Data.toStdString() + "/\n/Restart\n--headless\n"},
    };
    for (const Case& C : Cases) {
        SCOPED_TRACE(C.Name);
        fs::remove(Record);
        {
            auto S = Make(C.Arguments);
            int Closed = 0;
            S->CloseMainWindow = [&] { ++Closed; };
            S->RequestRestart(true);
            EXPECT_TRUE(S->RestartRequested);
            EXPECT_TRUE(S->SkipSaveOnClose);
            EXPECT_EQ(Closed, 1);
            S->RequestRestart(false);
            EXPECT_FALSE(S->SkipSaveOnClose);
        }
        const QDeadlineTimer Deadline(10000);
        while (!fs::exists(Record) && !Deadline.hasExpired())
            QThread::msleep(10);
        ASSERT_TRUE(fs::exists(Record));
        EXPECT_EQ(testkit::readText(Record.string()), Q(Program).toStdString() + "\n" + C.Restarted);
    }
}

TEST_F(SettingsTest, NoRestartUnlessRequested)
{
    const fs::path Record = Root.path() / "started.txt";
    testkit::writeText((Program / "ondrix").string(),
                       "#!/bin/sh\nprintf '%s\\n' \"$@\" >> \"" + Record.string() + "\"\n");
    fs::permissions(Program / "ondrix", fs::perms::owner_all);
    Make({"/Data=" + Q(Root.path() / "Quiet")});
    // A second instance that does ask for a restart marks when starts have had their chance.
    Make({"/Data=" + Q(Root.path() / "Asked")})->RequestRestart(false);
    const QDeadlineTimer Deadline(10000);
    while (testkit::readText(Record.string()).find("/Restart") == std::string::npos && !Deadline.hasExpired())
        QThread::msleep(10);
    const std::string Started = testkit::readText(Record.string());
    EXPECT_NE(Started.find("Asked"), std::string::npos);
    EXPECT_EQ(Started.find("Quiet"), std::string::npos);
}

}  // namespace

// The data folder holds the mail password: the folders the program creates for it are the
// owner's alone (0700), and so is the main settings file (0600), copied from the defaults or
// left readable by others by an older version.
TEST_F(SettingsTest, TheDataFolderAndTheSettingsFileAreTheOwnersAlone)
{
    const mode_t OldMask = ::umask(022);
    const auto Mode = [](const QString& Name) { return QFileInfo(Name).permissions(); };
    const auto OwnerOnlyDir = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadUser
                              | QFile::WriteUser | QFile::ExeUser;
    const auto OwnerOnlyFile = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
    for (const QStringList& Args : {QStringList{"/Data=" + Q(Root.path() / "Station" / "Feed")}, QStringList{}}) {
        SCOPED_TRACE(Args.join(' ').toStdString());
        auto S = Make(Args);
        EXPECT_EQ(Mode(S->DataFolder), OwnerOnlyDir);
        EXPECT_EQ(Mode(S->IniFolder), OwnerOnlyDir);
        EXPECT_EQ(Mode(S->MainIniFile), OwnerOnlyFile);
        const QString MainIni = S->MainIniFile;
        S.reset();
        ASSERT_TRUE(QFile::setPermissions(MainIni, OwnerOnlyFile | QFile::ReadGroup | QFile::ReadOther));
        S = Make(Args);
        EXPECT_EQ(Mode(S->MainIniFile), OwnerOnlyFile);
    }
    EXPECT_EQ(Mode(Q(Root.path() / "Station")), OwnerOnlyDir);
    ::umask(OldMask);
}
