// Backup, restore and reset of a real data folder; archives read back with Python's zipfile.

#include "backup/Func_Config.h"

#include "helpers/Process.h"
#include "helpers/QtWait.h"
#include "helpers/ScriptedBackupUI.h"
#include "helpers/TestFiles.h"
#include "helpers/ZipFiles.h"
#include "lang/Lang.h"
#include "util/Folders.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

QString Q(const std::string& Text)
{
    return QString::fromStdString(Text);
}

TDateTime At(int Year, int Month, int Day, int Hour = 12, int Minute = 0, int Second = 0)
{
    TDateTime Value = 0;
    EXPECT_TRUE(TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, 0, Value));
    return Value;
}

using TScriptedUI = testkit::ScriptedBackupUI;

// Every file below a folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& Folder)
{
    std::map<std::string, std::string> Files;
    if (!fs::exists(Folder))
        return Files;
    for (const auto& Entry : fs::recursive_directory_iterator(Folder)) {
        const std::string Relative = fs::relative(Entry.path(), Folder).string();
        Files[Relative] = Entry.is_regular_file() ? testkit::readText(Entry.path().string()) : std::string("<dir>");
    }
    return Files;
}

std::map<std::string, std::string> ZipContent(const std::string& Archive)
{
    std::map<std::string, std::string> Files;
    for (const auto& Entry : testkit::readZip(Archive))
        Files[Entry.name] = Entry.content;
    return Files;
}

// A data folder with settings and two days of logs.
class ConfigBackupTest : public ::testing::Test {
protected:
    testkit::TempDir Root;
    std::string Data = Root.file("data");
    TConfigBackup Backup;
    TScriptedUI UI;
    int Restarts = 0;

    void SetUp() override
    {
        fs::create_directories(Data + "/Ini");
        fs::create_directories(Data + "/Log/2018/March");
        fs::create_directories(Root.file("outside"));
        // The temporary folder the program creates as it needs it.
        fs::create_directories(Data + "/Temp");
        testkit::writeText(Data + "/Ini/Ondrix.ini", "[Ondrix]\r\nLogCount_Value=30\r\n");
        testkit::writeText(Data + "/Ini/Samples.ini", "[Sample0]\r\n");
        testkit::writeText(Data + "/Log/2018/March/03-03-18.log", "03.03.2018 10:00:00\tstarted\r\n");
        testkit::writeText(Data + "/Log/2018/March/04-03-18.log", "04.03.2018 10:00:00\tstarted\r\n");
        TConfigBackupSettings& S = Backup.Settings;
        S.IniFolder = Q(Data + "/Ini/");
        S.LogFolder = Q(Data + "/Log/");
        S.TempFolder = Q(Data + "/Temp/");
        S.BackupFolder = Q(Data + "/Backup/");
        Backup.UI = &UI;
        Backup.Clock = [] { return At(2018, 3, 3); };
        Backup.RequestRestart = [this] { ++Restarts; };
    }

    std::string Today() const { return Data + "/Backup/Ondrix-Backup-2018-03-03.zip"; }
};

TEST_F(ConfigBackupTest, ArchivesTheSettingsAndLogFolders)
{
    const TBackupResult Result = Backup.BackupNow(true);
    EXPECT_TRUE(Result.Error.isEmpty()) << Result.Error.toStdString();
    EXPECT_EQ(Result.FileName, Q(Today()));
    const std::map<std::string, std::string> Expected = {
        {"Ini/Ondrix.ini", "[Ondrix]\r\nLogCount_Value=30\r\n"},
        {"Ini/Samples.ini", "[Sample0]\r\n"},
        {"Log/2018/March/03-03-18.log", "03.03.2018 10:00:00\tstarted\r\n"},
        {"Log/2018/March/04-03-18.log", "04.03.2018 10:00:00\tstarted\r\n"},
    };
    EXPECT_EQ(ZipContent(Today()), Expected);
    for (const auto& Entry : testkit::readZip(Today()))
        EXPECT_EQ(Entry.flagBits & 6, 2) << Entry.name;   // level 9
    ASSERT_EQ(UI.Shown.size(), 1);
    EXPECT_EQ(UI.Shown[0], "information: " + FormatMessageText("Config_Backup_Done", {Q(Today())}));
    // Staging is gone; only the archive is in the backup folder.
    EXPECT_FALSE(fs::exists(Data + "/Temp/Backup"));
    EXPECT_EQ(Snapshot(Data + "/Backup").size(), 1u);
}

TEST_F(ConfigBackupTest, OnlyTheSelectedPartsAreArchived)
{
    struct Case {
        bool Settings, Log;
        std::vector<std::string> Names;
    };
    const Case Cases[] = {
        {true, false, {"Ini/Ondrix.ini", "Ini/Samples.ini"}},
        {false, true, {"Log/2018/March/03-03-18.log", "Log/2018/March/04-03-18.log"}},
    };
    for (const Case& C : Cases) {
        Backup.Settings.DataSettings = C.Settings;
        Backup.Settings.DataLog = C.Log;
        ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
        std::vector<std::string> Names;
        for (const auto& [Name, Content] : ZipContent(Today()))
            Names.push_back(Name);
        EXPECT_EQ(Names, C.Names);
    }
    EXPECT_TRUE(UI.Shown.isEmpty());   // not interactive: no box
}

TEST_F(ConfigBackupTest, TwoBackupsOnOneDayLeaveOneArchiveWithTheSecondsContent)
{
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    testkit::writeText(Data + "/Ini/Ondrix.ini", "second");
    Backup.Clock = [] { return At(2018, 3, 3, 23, 59, 59); };
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    EXPECT_EQ(ZipContent(Today()).at("Ini/Ondrix.ini"), "second");
    EXPECT_EQ(Snapshot(Data + "/Backup").size(), 1u);
}

TEST_F(ConfigBackupTest, NothingToArchiveKeepsTheEarlierArchive)
{
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    const std::string Before = testkit::readText(Today());
    struct Case {
        bool Settings, Log;
        bool EmptyFolders;
    };
    for (const Case& C : {Case{false, false, false}, Case{true, true, true}}) {
        if (C.EmptyFolders) {
            fs::remove_all(Data + "/Ini");
            fs::remove_all(Data + "/Log");
            fs::create_directories(Data + "/Log/2018");
        }
        Backup.Settings.DataSettings = C.Settings;
        Backup.Settings.DataLog = C.Log;
        UI.Shown.clear();
        const TBackupResult Result = Backup.BackupNow(true);
        EXPECT_TRUE(Result.NoData);
        EXPECT_TRUE(Result.FileName.isEmpty());
        EXPECT_EQ(testkit::readText(Today()), Before);
        ASSERT_EQ(UI.Shown.size(), 1);
        EXPECT_EQ(UI.Shown[0], "warning: " + GetMessageText("Config_Backup_NoData"));
        EXPECT_NE(GetMessageText("Config_Backup_NoData"), "Config_Backup_NoData");
    }
}

TEST_F(ConfigBackupTest, PruningKeepsTheNewestAndTouchesOnlyMatchingFiles)
{
    const std::string B = Data + "/Backup/";
    struct Case {
        int Count;
        std::vector<std::string> Deleted;
    };
    const std::vector<std::string> Older = {
        "Ondrix-Backup-2018-02-01.zip", "Ondrix-Backup-2018-02-08.zip", "ondrix-backup-2018-02-15.zip",
        "Ondrix-Backup-2018-02-22.zip", "Ondrix-Backup-2018-03-01.zip", "Ondrix-Backup-2018-03-02.zip",
        "Old/Ondrix-Backup-2017-12-31.zip",
    };
    const std::vector<std::string> Others = {"notes.txt", "Ondrix-Backup-2018-01-01.zip.bak", "Other-Backup-2018.zip",
                                             "Keep/readme.txt"};
    const Case Cases[] = {
        // Sorted by full name without regard to case, "Old/..." comes first.
        {5, {"Old/Ondrix-Backup-2017-12-31.zip", "Ondrix-Backup-2018-02-01.zip", "Ondrix-Backup-2018-02-08.zip"}},
        {1, {"Old/Ondrix-Backup-2017-12-31.zip", "Ondrix-Backup-2018-02-01.zip", "Ondrix-Backup-2018-02-08.zip",
             "ondrix-backup-2018-02-15.zip", "Ondrix-Backup-2018-02-22.zip", "Ondrix-Backup-2018-03-01.zip",
             "Ondrix-Backup-2018-03-02.zip"}},
        {8, {}},
    };
    for (const Case& C : Cases) {
        fs::remove_all(B);
        fs::create_directories(B + "Old");
        fs::create_directories(B + "Keep");
        for (const auto& Name : Older)
            testkit::writeText(B + Name, "old");
        for (const auto& Name : Others)
            testkit::writeText(B + Name, "other");
        // A folder and a link named like archives are not archives.
        fs::create_directories(B + "Ondrix-Backup-1999-01-01.zip");
        fs::create_symlink(Root.file("outside"), B + "Ondrix-Backup-1999-01-02.zip");
        Backup.Settings.DeleteOldCount = C.Count;
        const TBackupResult Result = Backup.BackupNow(false);
        ASSERT_TRUE(Result.Error.isEmpty()) << Result.Error.toStdString();
        QStringList Deleted;
        for (const auto& Name : C.Deleted)
            Deleted << QFileInfo(Q(B + Name)).absoluteFilePath();
        EXPECT_EQ(Result.Deleted, Deleted) << "count " << C.Count;
        for (const auto& Name : Older) {
            const bool Gone = std::find(C.Deleted.begin(), C.Deleted.end(), Name) != C.Deleted.end();
            EXPECT_EQ(fs::exists(B + Name), !Gone) << Name << " count " << C.Count;
        }
        for (const auto& Name : Others)
            EXPECT_TRUE(fs::exists(B + Name)) << Name;
        EXPECT_TRUE(fs::is_directory(B + "Ondrix-Backup-1999-01-01.zip"));
        EXPECT_TRUE(fs::is_symlink(B + "Ondrix-Backup-1999-01-02.zip"));
        EXPECT_TRUE(fs::exists(Today()));
    }
}

TEST_F(ConfigBackupTest, PruningCanBeSwitchedOff)
{
    fs::create_directories(Data + "/Backup");
    testkit::writeText(Data + "/Backup/Ondrix-Backup-2018-02-01.zip", "old");
    Backup.Settings.DeleteOld = false;
    Backup.Settings.DeleteOldCount = 1;
    EXPECT_TRUE(Backup.BackupNow(false).Deleted.isEmpty());
    EXPECT_TRUE(fs::exists(Data + "/Backup/Ondrix-Backup-2018-02-01.zip"));
}

// Incompressible content, so that an archive of it is as large as the data.
std::string RandomBytes(size_t Size, unsigned Seed)
{
    std::mt19937 Random(Seed);
    std::string Bytes(Size, '\0');
    for (char& C : Bytes)
        C = char(Random());
    return Bytes;
}

TEST_F(ConfigBackupTest, AFullFileSystemFailsClearlyAndKeepsTheEarlierArchive)
{
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    const std::string Before = testkit::readText(Today());
    for (int I = 0; I < 4; ++I)
        testkit::writeText(Data + "/Log/2018/March/big" + std::to_string(I) + ".log", RandomBytes(100000, unsigned(I)));

    // A small tmpfs holds the backup folder where mounting is allowed; elsewhere the process may
    // not write a file past a size limit, which fails the same way.
    const std::string Small = Root.file("small");
    fs::create_directories(Small);
    const bool Mounted = ::mount("tmpfs", Small.c_str(), "tmpfs", 0, "size=256k") == 0;
    std::unique_ptr<testkit::FileSizeLimit> Limit;
    if (Mounted) {
        fs::copy_file(Today(), Small + "/Ondrix-Backup-2018-03-03.zip");
        Backup.Settings.BackupFolder = Q(Small + "/");
    } else {
        Limit = std::make_unique<testkit::FileSizeLimit>(250000);
    }
    const std::string Archive = Mounted ? Small + "/Ondrix-Backup-2018-03-03.zip" : Today();
    const TBackupResult Result = Backup.BackupNow(true);
    Limit.reset();
    EXPECT_TRUE(Result.FileName.isEmpty());
    EXPECT_FALSE(Result.Error.isEmpty());
    ASSERT_EQ(UI.Shown.size(), 1);
    EXPECT_TRUE(UI.Shown[0].startsWith("error: ")) << UI.Shown[0].toStdString();
    EXPECT_TRUE(UI.Shown[0].contains("space") || UI.Shown[0].contains("large") || UI.Shown[0].contains("full"))
        << UI.Shown[0].toStdString();
    // It names the archive and says it was not made.
    EXPECT_TRUE(UI.Shown[0].contains(Q(Archive))) << UI.Shown[0].toStdString();
    EXPECT_TRUE(UI.Shown[0].startsWith("error: " + FormatMessageText("Config_Backup_Failed", {""})));
    EXPECT_EQ(testkit::readText(Archive), Before);
    EXPECT_EQ(ZipContent(Archive).size(), 4u);
    // Nothing half-written is left beside it.
    EXPECT_EQ(Snapshot(Mounted ? Small : Data + "/Backup").size(), 1u);
    EXPECT_FALSE(ConfigOperationBusy());
    if (Mounted)
        ::umount(Small.c_str());
}

// The child side of the next test: backs up the folder named by the environment, then exits.
TEST(ConfigBackupChild, DISABLED_BackUpTheFolderOfTheEnvironment)
{
    const QString Data = qEnvironmentVariable("ONDRIX_BACKUP_CHILD_DATA");
    if (Data.isEmpty())
        GTEST_SKIP() << "run by KilledBackupKeepsTheEarlierArchive";
    TConfigBackupSettings S;
    S.IniFolder = Data + "/Ini/";
    S.LogFolder = Data + "/Log/";
    S.TempFolder = Data + "/Temp/";
    S.BackupFolder = Data + "/Backup/";
    BackupConfig(S, At(2018, 3, 3));
}

TEST_F(ConfigBackupTest, AKilledBackupKeepsTheEarlierArchive)
{
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    const std::string Before = testkit::readText(Today());
    for (int I = 0; I < 6; ++I)
        testkit::writeText(Data + "/Log/2018/March/big" + std::to_string(I) + ".log", RandomBytes(5000000, unsigned(I)));

    ::setenv("ONDRIX_BACKUP_CHILD_DATA", Data.c_str(), 1);
    const pid_t Child = testkit::spawnProcess({"/proc/self/exe", "--gtest_filter=ConfigBackupChild.*", "--gtest_also_run_disabled_tests"}, Root.file("child.out"));
    ::unsetenv("ONDRIX_BACKUP_CHILD_DATA");
    // Killed once the archive is being written: a temporary file beside it has grown.
    const auto Writing = [&] {
        for (const auto& Entry : fs::directory_iterator(Data + "/Backup")) {
            const std::string Name = Entry.path().filename().string();
            if (Name != "Ondrix-Backup-2018-03-03.zip" && Entry.is_regular_file() && Entry.file_size() > 1000000)
                return true;
        }
        return false;
    };
    const bool Caught = testkit::pollUntil(Writing, std::chrono::seconds(120));
    ::kill(Child, SIGKILL);
    testkit::waitForProcess(Child);
    ASSERT_TRUE(Caught) << testkit::readText(Root.file("child.out"));
    EXPECT_EQ(testkit::readText(Today()), Before);
    EXPECT_EQ(ZipContent(Today()).size(), 4u);

    // The next backup clears what the killed one left and succeeds.
    EXPECT_FALSE(ConfigOperationBusy());
    const TBackupResult Result = Backup.BackupNow(false);
    EXPECT_TRUE(Result.Error.isEmpty()) << Result.Error.toStdString();
    EXPECT_EQ(ZipContent(Today()).size(), 10u);
    EXPECT_EQ(Snapshot(Data + "/Backup").size(), 1u);
}

TEST_F(ConfigBackupTest, AnOperationUnderWayStopsTheOthers)
{
    ASSERT_TRUE(TryBeginConfigOperation());
    EXPECT_TRUE(Backup.BackupNow(true).Busy);
    EXPECT_FALSE(fs::exists(Today()));
    UI.Archive = Q(Today());
    EXPECT_FALSE(Backup.RestoreConfig());
    EXPECT_FALSE(Backup.ResetConfig());
    EndConfigOperation();
    // Backup and restore are silent; reset has asked its question.
    ASSERT_EQ(UI.Shown.size(), 1);
    EXPECT_TRUE(UI.Shown[0].startsWith("question: "));
    EXPECT_EQ(Restarts, 0);
    EXPECT_TRUE(fs::exists(Data + "/Ini/Ondrix.ini"));
    EXPECT_TRUE(fs::exists(Data + "/Log/2018"));
}

TEST_F(ConfigBackupTest, ScheduledBackupsRunOnTheirOwnThread)
{
    Backup.Settings.BackupAuto = true;
    std::vector<TBackupResult> Results;
    Backup.OnBackupFinished = [&Results](const TBackupResult& Result, bool Interactive) {
        EXPECT_FALSE(Interactive);
        Results.push_back(Result);
    };
    int Stored = 0;
    Backup.OnLastBackupTimeChanged = [&Stored] { ++Stored; };
    ASSERT_TRUE(Backup.CheckAutoBackup());
    EXPECT_EQ(Stored, 1);
    EXPECT_EQ(Backup.LastBackupTime, At(2018, 3, 3));
    ASSERT_TRUE(testkit::processEventsUntil([&] { return !Results.empty(); }));
    EXPECT_EQ(Results[0].FileName, Q(Today()));
    EXPECT_TRUE(UI.Shown.isEmpty());
    EXPECT_EQ(Backup.Running(), 0);
}

TEST_F(ConfigBackupTest, TheScheduleFollowsTimeIntervalAndSwitch)
{
    struct Tick {
        TDateTime Now;
        bool Starts;
    };
    struct Case {
        const char* What;
        TDateTime Time;             // time of day of the schedule
        TDateTime LastBackupTime;
        std::vector<Tick> Ticks;
    };
    const TDateTime Last = At(2018, 3, 1, 0, 0, 5);
    const Case Cases[] = {
        {"a week after 00:00:05", 0, Last,
         {{At(2018, 3, 7, 23, 59, 59), false}, {At(2018, 3, 8, 0, 0, 4), false}, {At(2018, 3, 8, 0, 0, 5), true},
          {At(2018, 3, 8, 0, 0, 6), false}}},
        {"never backed up: the first tick past the time", At(1899, 12, 30, 6, 0, 0), 0,
         {{At(2018, 3, 1, 5, 59, 59), false}, {At(2018, 3, 1, 6, 0, 0), false}, {At(2018, 3, 1, 6, 0, 1), true}}},
        {"started after the chosen time", At(1899, 12, 30, 6, 0, 0), At(2018, 2, 1, 7, 0, 0),
         {{At(2018, 3, 1, 15, 30, 0), true}}},
        {"due, but not yet past the time of day", At(1899, 12, 30, 22, 0, 0), At(2018, 2, 1, 23, 0, 0),
         {{At(2018, 3, 1, 21, 0, 0), false}, {At(2018, 3, 1, 22, 0, 1), true}}},
    };
    Backup.Settings.BackupAuto = true;
    Backup.Settings.BackupInterval = 7;
    for (const Case& C : Cases) {
        Backup.Settings.BackupTime = C.Time;
        Backup.LastBackupTime = C.LastBackupTime;
        for (const Tick& T : C.Ticks) {
            Backup.Clock = [&T] { return T.Now; };
            EXPECT_EQ(Backup.CheckAutoBackup(), T.Starts) << C.What << " at " << FormatDateTime("dd.mm.yyyy hh:nn:ss", T.Now).toStdString();
            if (T.Starts) {
                EXPECT_EQ(Backup.LastBackupTime, T.Now);
            }
        }
    }
    Backup.WaitForBackups();
}

TEST_F(ConfigBackupTest, SwitchingTheScheduleOffAndOnBacksUpAgain)
{
    Backup.Settings.BackupAuto = true;
    Backup.Clock = [] { return At(2018, 3, 3, 10, 0, 0); };
    ASSERT_TRUE(Backup.CheckAutoBackup());
    Backup.Clock = [] { return At(2018, 3, 3, 11, 0, 0); };
    EXPECT_FALSE(Backup.CheckAutoBackup());
    Backup.Check_Config_Backup_AutoClick(false);
    EXPECT_EQ(Backup.LastBackupTime, 0);
    EXPECT_FALSE(Backup.CheckAutoBackup());   // off
    Backup.Check_Config_Backup_AutoClick(true);
    EXPECT_TRUE(Backup.CheckAutoBackup());
    Backup.WaitForBackups();
}

TEST_F(ConfigBackupTest, BackupOnExitWaitsAndArchivesWhenChosen)
{
    EXPECT_TRUE(Backup.BackupOnExit().FileName.isEmpty());
    EXPECT_FALSE(fs::exists(Today()));
    Backup.Settings.BackupOnExit = true;
    EXPECT_EQ(Backup.BackupOnExit().FileName, Q(Today()));
    EXPECT_EQ(ZipContent(Today()).size(), 4u);
}

// --- Restore ---

class RestoreTest : public ConfigBackupTest {
protected:
    // An archive of other settings and logs.
    std::string MakeArchive(const std::vector<testkit::ZipEntry>& Entries)
    {
        const std::string Name = Root.file("Ondrix-Backup-2017-01-01.zip");
        testkit::writeZip(Name, Entries);
        UI.Archive = Q(Name);
        return Name;
    }
    // Runs a restore to its end (it works on a thread of its own); true when it asked for a
    // restart.
    bool Restore()
    {
        const int Before = Restarts;
        if (!Backup.RestoreConfig())
            return false;
        EXPECT_TRUE(testkit::processEventsUntil([&] { return Backup.Running() == 0; }));
        return Restarts > Before;
    }
    const std::vector<testkit::ZipEntry> Other = {
        {"Ini/Ondrix.ini", "restored"},
        {"Ini/Freq.ini", "freq"},
        {"Log/2017/January/01-01-17.log", "old log"},
    };
};

TEST_F(RestoreTest, ClearFirstMakesTheFoldersExactlyTheArchives)
{
    MakeArchive(Other);
    UI.Answer = true;
    EXPECT_TRUE(Restore());
    EXPECT_EQ(Restarts, 1);
    EXPECT_EQ(UI.DialogFolder, Backup.Settings.BackupFolder);
    EXPECT_EQ(UI.DialogFilter, "Ondrix Backup|Ondrix-Backup*.zip|" + GetMessageText("AllFiles") + "|*.*");
    EXPECT_EQ(UI.Shown[1], "question: " + GetMessageText("Config_Restore_Reset_Confirm"));
    const std::map<std::string, std::string> Ini = {{"Freq.ini", "freq"}, {"Ondrix.ini", "restored"}};
    EXPECT_EQ(Snapshot(Data + "/Ini"), Ini);
    const std::map<std::string, std::string> Log = {
        {"2017", "<dir>"}, {"2017/January", "<dir>"}, {"2017/January/01-01-17.log", "old log"}};
    EXPECT_EQ(Snapshot(Data + "/Log"), Log);
    EXPECT_FALSE(fs::exists(Data + "/Temp/Backup"));
}

TEST_F(RestoreTest, WithoutClearingTheArchivesFilesReplaceTheirNamesakes)
{
    MakeArchive(Other);
    UI.Answer = false;
    EXPECT_TRUE(Restore());
    EXPECT_EQ(Restarts, 1);
    const std::map<std::string, std::string> Ini = {
        {"Freq.ini", "freq"}, {"Ondrix.ini", "restored"}, {"Samples.ini", "[Sample0]\r\n"}};
    EXPECT_EQ(Snapshot(Data + "/Ini"), Ini);
    EXPECT_TRUE(fs::exists(Data + "/Log/2018/March/03-03-18.log"));
    EXPECT_EQ(testkit::readText(Data + "/Log/2017/January/01-01-17.log"), "old log");
}

TEST_F(RestoreTest, OnlyTheSelectedPartIsRestored)
{
    MakeArchive(Other);
    Backup.Settings.DataSettings = false;
    const auto IniBefore = Snapshot(Data + "/Ini");
    UI.Answer = true;
    EXPECT_TRUE(Restore());
    EXPECT_EQ(Restarts, 1);
    EXPECT_EQ(Snapshot(Data + "/Ini"), IniBefore);
    EXPECT_FALSE(fs::exists(Data + "/Log/2018"));
    EXPECT_TRUE(fs::exists(Data + "/Log/2017/January/01-01-17.log"));
}

TEST_F(RestoreTest, APartTheArchiveLacksIsNotCleared)
{
    MakeArchive({{"Log/2017/January/01-01-17.log", "old log"}});
    const auto IniBefore = Snapshot(Data + "/Ini");
    UI.Answer = true;
    EXPECT_TRUE(Restore());
    EXPECT_EQ(Snapshot(Data + "/Ini"), IniBefore);
    EXPECT_FALSE(fs::exists(Data + "/Log/2018"));
}

TEST_F(RestoreTest, ARoundTripOfTheProgramsOwnArchive)
{
    ASSERT_FALSE(Backup.BackupNow(false).FileName.isEmpty());
    const auto IniBefore = Snapshot(Data + "/Ini");
    const auto LogBefore = Snapshot(Data + "/Log");
    fs::remove_all(Data + "/Ini");
    testkit::writeText(Data + "/Log/2018/March/05-03-18.log", "later");
    UI.Archive = Q(Today());
    UI.Answer = true;
    EXPECT_TRUE(Restore());
    EXPECT_EQ(Snapshot(Data + "/Ini"), IniBefore);
    EXPECT_EQ(Snapshot(Data + "/Log"), LogBefore);
}

TEST_F(RestoreTest, HostileAndBrokenArchivesChangeNothing)
{
    struct Case {
        const char* What;
        std::function<void(const std::string& Name)> Make;
    };
    const auto Zip = [](std::vector<testkit::ZipEntry> Entries, bool Deflate = true) {
        return [Entries, Deflate](const std::string& Name) { testkit::writeZip(Name, Entries, Deflate); };
    };
    const Case Cases[] = {
        {"path traversal", Zip({{"Ini/Ondrix.ini", "evil"}, {"Ini/../../outside/evil.txt", "evil"}})},
        {"traversal first", Zip({{"Log/../../outside/evil.txt", "evil"}, {"Ini/Ondrix.ini", "evil"}})},
        {"absolute name", Zip({{"Ini/Ondrix.ini", "evil"}, {"/tmp/ondrix-evil.txt", "evil"}})},
        {"symbolic link", Zip({{"Ini/Ondrix.ini", "evil"}, {"Ini/Samples.ini", "/etc/passwd", true}})},
        {"truncated", [&](const std::string& Name) {
             testkit::writeZip(Name, Other);
             const std::string Bytes = testkit::readText(Name);
             testkit::writeText(Name, Bytes.substr(0, Bytes.size() - 30));
         }},
        {"wrong checksum", [&](const std::string& Name) {
             testkit::writeZip(Name, {{"Ini/Ondrix.ini", "evil"}, {"Log/2017/x.log", "checksum-me-please"}}, false);
             std::string Bytes = testkit::readText(Name);
             Bytes[Bytes.find("checksum-me-please")] = 'C';
             testkit::writeText(Name, Bytes);
         }},
        {"not a zip at all", [](const std::string& Name) { testkit::writeText(Name, "[Ondrix]\r\nLogCount_Value=30\r\n"); }},
        {"empty file", [](const std::string& Name) { testkit::writeText(Name, ""); }},
        {"no selected part", Zip({{"Other/readme.txt", "x"}})},
    };
    for (const Case& C : Cases) {
        const std::string Name = Root.file("hostile.zip");
        C.Make(Name);
        UI.Archive = Q(Name);
        UI.Shown.clear();
        const auto Before = Snapshot(Data);
        for (bool ClearFirst : {true, false}) {
            UI.Answer = ClearFirst;
            EXPECT_FALSE(Restore()) << C.What;
            EXPECT_EQ(Snapshot(Data), Before) << C.What;
            EXPECT_TRUE(Snapshot(Root.file("outside")).empty()) << C.What;
        }
        EXPECT_FALSE(fs::exists("/tmp/ondrix-evil.txt"));
        EXPECT_EQ(Restarts, 0) << C.What;
        ASSERT_EQ(UI.Shown.size(), 6) << C.What;
        EXPECT_TRUE(UI.Shown[2].startsWith("error: ")) << C.What << ": " << UI.Shown[2].toStdString();
        EXPECT_FALSE(ConfigOperationBusy());
    }
}

TEST_F(RestoreTest, NoFileChosenDoesNothing)
{
    UI.Archive.clear();
    EXPECT_FALSE(Restore());
    EXPECT_EQ(UI.Shown, QStringList{"dialog"});
    EXPECT_EQ(Restarts, 0);
}

// A restore runs on a thread of its own: it has not ended when the button's handler returns.
TEST_F(RestoreTest, RestoringRunsOffTheCallersThread)
{
    MakeArchive(Other);
    UI.Answer = true;
    ASSERT_TRUE(Backup.RestoreConfig());
    EXPECT_EQ(Backup.Running(), 1);
    EXPECT_EQ(Restarts, 0);
    ASSERT_TRUE(testkit::processEventsUntil([&] { return Backup.Running() == 0; }));
    EXPECT_EQ(Restarts, 1);
}

// An archive that unpacks to more than a restore takes is refused as it is, whatever its size on
// disk (a few kilobytes of zeros can declare gigabytes).
TEST_F(RestoreTest, AnArchiveOverTheCapIsRefusedAndSaysSo)
{
    const std::string Name = MakeArchive({{"Ini/Ondrix.ini", "restored"}, {"Log/2017/zeros.log", std::string(300000, '0')}});
    ASSERT_LT(fs::file_size(Name), 10000u);
    Backup.Settings.MaxRestoreBytes = 100000;
    const auto Before = Snapshot(Data);
    UI.Answer = true;
    EXPECT_FALSE(Restore());
    EXPECT_EQ(Snapshot(Data), Before);
    ASSERT_EQ(UI.Shown.size(), 3);
    EXPECT_EQ(UI.Shown[2], "error: " + FormatMessageText("Config_Restore_TooLarge", {Q(Name), 1, 1}));
}

// On a file system that fills up, a restore is all or nothing: refused when the archive says it
// will not fit, failed without a trace when it fills the disk all the same, and whole when it
// fits (even where the parts' files must be copied beside the folders first).
TEST_F(RestoreTest, AFullDiskLeavesTheOldConfigurationStanding)
{
    std::vector<testkit::ZipEntry> Entries{{"Ini/Ondrix.ini", "restored"}};
    for (int I = 0; I < 60; ++I)
        Entries.push_back({"Log/2017/f" + std::to_string(I) + ".log", RandomBytes(3000, unsigned(I))});
    const std::string Name = MakeArchive(Entries);
    const struct {
        const char* Size;
        bool Whole;           // restored; otherwise nothing changed
        const char* Refused;  // the message key of an archive refused before unpacking
    } Cases[] = {
        {"128k", false, "Config_Restore_NoSpace"},
        {"220k", false, nullptr},  // declared to fit, but every small file takes a page
        {"400k", true, nullptr},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Size);
        const std::string Small = Root.file(std::string("small-") + C.Size);
        fs::create_directories(Small);
        if (::mount("tmpfs", Small.c_str(), "tmpfs", 0, (std::string("size=") + C.Size).c_str()) != 0)
            GTEST_SKIP() << "a small file system cannot be mounted here";
        const std::string Here = Small + "/data";
        fs::create_directories(Here + "/Ini");
        fs::create_directories(Here + "/Log/2018/March");
        fs::create_directories(Here + "/Temp");
        testkit::writeText(Here + "/Ini/Ondrix.ini", "old");
        testkit::writeText(Here + "/Ini/Samples.ini", "[Sample0]\r\n");
        testkit::writeText(Here + "/Log/2018/March/03-03-18.log", "old log");
        Backup.Settings.IniFolder = Q(Here + "/Ini/");
        Backup.Settings.LogFolder = Q(Here + "/Log/");
        Backup.Settings.TempFolder = Q(Here + "/Temp/");
        const auto Before = Snapshot(Here);
        UI.Shown.clear();
        UI.Answer = false;  // the folders' other files stay
        EXPECT_EQ(Restore(), C.Whole);
        if (C.Whole) {
            EXPECT_EQ(testkit::readText(Here + "/Ini/Ondrix.ini"), "restored");
            EXPECT_EQ(testkit::readText(Here + "/Ini/Samples.ini"), "[Sample0]\r\n");
            EXPECT_EQ(testkit::readText(Here + "/Log/2018/March/03-03-18.log"), "old log");
            EXPECT_EQ(ListFilesBelow(Q(Here + "/Log/2017")).size(), 60);
            EXPECT_EQ(UI.Shown.size(), 2);
        } else {
            EXPECT_EQ(Snapshot(Here), Before);
            ASSERT_EQ(UI.Shown.size(), 3);
            EXPECT_TRUE(UI.Shown[2].startsWith("error: ")) << UI.Shown[2].toStdString();
            if (C.Refused) {
                EXPECT_TRUE(UI.Shown[2].startsWith("error: " + GetMessageText(C.Refused).section(u'%', 0, 0)))
                    << UI.Shown[2].toStdString();
            }
        }
        // Nothing of the restore is left beside the folders.
        for (const char* Left : {".Ondrix-Restore-Ini", ".Ondrix-Restore-Log", ".Ondrix-Previous-Ini", ".Ondrix-Previous-Log"})
            EXPECT_FALSE(fs::exists(Here + "/" + Left)) << Left;
        ::umount(Small.c_str());
    }
    EXPECT_EQ(Restarts, 1);
}

// --- Reset ---

TEST_F(ConfigBackupTest, ResetDeletesTheSelectedFoldersAndRestarts)
{
    struct Case {
        bool Settings, Log, Answer;
        bool IniLeft, LogLeft, Restarts;
    };
    const Case Cases[] = {
        {false, false, true, true, true, false},   // asks, deletes nothing, no restart
        {true, true, false, true, true, false},    // answered No
        {true, false, true, false, true, true},
        {false, true, true, true, false, true},
    };
    for (const Case& C : Cases) {
        fs::create_directories(Data + "/Ini");
        fs::create_directories(Data + "/Log/2018");
        testkit::writeText(Data + "/Ini/Ondrix.ini", "x");
        Restarts = 0;
        UI.Shown.clear();
        UI.Answer = C.Answer;
        Backup.Settings.DataSettings = C.Settings;
        Backup.Settings.DataLog = C.Log;
        EXPECT_EQ(Backup.ResetConfig(), C.Restarts);
        EXPECT_EQ(UI.Shown, QStringList{"question: " + GetMessageText("Config_Reset_Confirm")});
        EXPECT_EQ(fs::exists(Data + "/Ini/Ondrix.ini"), C.IniLeft);
        EXPECT_EQ(fs::exists(Data + "/Log/2018"), C.LogLeft);
        EXPECT_EQ(Restarts, C.Restarts ? 1 : 0);
    }
}

}  // namespace
