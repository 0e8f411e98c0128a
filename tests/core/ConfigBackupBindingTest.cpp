// The configuration archives bound to the settings model, the controller's tick and the
// settings object: the page's choices, the archive folder, the stored schedule time, the
// restart after a restore (seen in the arguments of the program started again).

#include "ControllerFixture.h"

#include "core/ConfigBackupBinding.h"
#include "core/SettingsFile.h"
#include "helpers/Process.h"
#include "helpers/ScriptedBackupUI.h"
#include "helpers/ZipFiles.h"

#include <filesystem>

namespace {

namespace fs = std::filesystem;
namespace K = SettingKey;

TDateTime At(int Year, int Month, int Day, int Hour, int Minute, int Second)
{
    TDateTime Value = 0;
    EXPECT_TRUE(TryEncodeDateTime(Year, Month, Day, Hour, Minute, Second, 0, Value));
    return Value;
}

class ConfigBackupBindingTest : public ControllerFixture {
protected:
    TConfigBackupBinding Binding{Controller, *Data.Settings};
    testkit::ScriptedBackupUI UI;

    void SetUp() override
    {
        ControllerFixture::SetUp();
        Binding.SetUI(&UI);
        Binding.Backup().Clock = [] { return At(2018, 3, 3, 12, 0, 0); };
        testkit::writeText(Data.Settings->IniFolder.toStdString() + "Ondrix.ini", "[Ondrix]\r\n");
        fs::create_directories(Data.Settings->LogFolder.toStdString() + "2018/March");
        testkit::writeText(Data.Settings->LogFolder.toStdString() + "2018/March/03-03-18.log", "log\r\n");
    }
};

TEST_F(ConfigBackupBindingTest, ThePagesChoicesReachTheOperations)
{
    Model.SetBool(K::Check_Config_Backup_Auto_Checked, true);
    Model.SetBool(K::Check_Config_Backup_OnExit_Checked, true);
    Model.SetBool(K::Check_Config_Data_Log_Checked, false);
    Model.SetBool(K::Check_Config_DeleteOld_Checked, false);
    Model.SetFloat(K::Edit_Config_Backup_Interval_Value, 3);
    Model.SetFloat(K::Edit_Config_Backup_Time_Time, 0.25);
    Model.SetFloat(K::Edit_Config_DeleteOld_Count_Value, 9);
    const TConfigBackupSettings& S = Binding.Backup().Settings;
    EXPECT_TRUE(S.BackupAuto);
    EXPECT_TRUE(S.BackupOnExit);
    EXPECT_FALSE(S.DataLog);
    EXPECT_TRUE(S.DataSettings);
    EXPECT_FALSE(S.DeleteOld);
    EXPECT_EQ(S.BackupInterval, 3);
    EXPECT_EQ(S.BackupTime, 0.25);
    EXPECT_EQ(S.DeleteOldCount, 9);
    EXPECT_EQ(S.IniFolder, Data.Settings->IniFolder);
    EXPECT_EQ(S.LogFolder, Data.Settings->LogFolder);
    EXPECT_EQ(S.TempFolder, Data.Settings->TempFolder);
}

TEST_F(ConfigBackupBindingTest, TheArchiveFolderFollowsTheEditAndTheChooser)
{
    const QString DataFolder = Data.Settings->DataFolder;
    struct Case {
        QString Typed;
        QString Folder;
    };
    const Case Typed[] = {
        {"Archives", DataFolder + "Archives/"},
        {Data.Path("elsewhere"), Data.Path("elsewhere/")},
        {"", DataFolder + "Backup/"},
    };
    for (const Case& C : Typed) {
        Model.SetText(K::Edit_Config_BackupFolder_Text, C.Typed);
        EXPECT_EQ(Data.Settings->BackupFolder, C.Folder) << C.Typed.toStdString();
        EXPECT_EQ(Binding.BackupFolderDialogStart() + "/", C.Folder);
    }
    struct Chosen {
        QString Folder;
        QString Shown;
    };
    const Chosen Choices[] = {
        {DataFolder + "Sub/Archives", "Sub/Archives/"},
        {Data.Path("elsewhere"), Data.Path("elsewhere/")},
    };
    for (const Chosen& C : Choices) {
        Binding.BackupFolderChosen(C.Folder);
        EXPECT_EQ(Model.Text(K::Edit_Config_BackupFolder_Text), C.Shown);
        EXPECT_EQ(Data.Settings->BackupFolder, C.Folder + "/");
    }
    // The button archives into the folder chosen.
    Binding.Button_Config_SaveClick({});
    ASSERT_TRUE(WaitFor([&] { return !UI.Shown.isEmpty(); }));
    EXPECT_TRUE(UI.Shown[0].startsWith("information: ")) << UI.Shown[0].toStdString();
    EXPECT_TRUE(fs::exists(Data.Path("elsewhere/Ondrix-Backup-2018-03-03.zip").toStdString()));
}

TEST_F(ConfigBackupBindingTest, TheScheduledBackupStoresItsTimeAndReportsAFailure)
{
    Model.SetBool(K::Check_Config_Backup_Auto_Checked, true);
    // The backup folder cannot be made: a file stands in its place.
    testkit::writeText(Data.Path("blocked").toStdString(), "a file");
    Model.SetText(K::Edit_Config_BackupFolder_Text, Data.Path("blocked/archives"));
    emit Controller.Tick();
    EXPECT_EQ(Model.Float(K::Config_Last_Backup_Time), At(2018, 3, 3, 12, 0, 0));
    ASSERT_TRUE(WaitFor([&] {
        return std::any_of(Posted.begin(), Posted.end(), [](const TOndrixMessage& M) { return M.MsgType == msgError; });
    }));
    EXPECT_TRUE(UI.Shown.isEmpty());   // no box for a scheduled backup
    // Unticking the schedule forgets the time.
    Model.SetBool(K::Check_Config_Backup_Auto_Checked, false);
    EXPECT_EQ(Model.Float(K::Config_Last_Backup_Time), 0);
    EXPECT_EQ(Binding.Backup().LastBackupTime, 0);
}

TEST_F(ConfigBackupBindingTest, TheArchiveOnExitFollowsItsCheckBox)
{
    const std::string Archive = Data.Settings->BackupFolder.toStdString() + "Ondrix-Backup-2018-03-03.zip";
    Binding.BackupOnExit();
    EXPECT_FALSE(fs::exists(Archive));
    Model.SetBool(K::Check_Config_Backup_OnExit_Checked, true);
    Binding.BackupOnExit();
    ASSERT_TRUE(fs::exists(Archive));
    EXPECT_EQ(testkit::readZip(Archive).size(), 2u);
    EXPECT_TRUE(Posted.isEmpty());
}

// The program is closing: a failed archive is a message, and an alert the window prints on
// standard error, where a service's journal keeps it.
TEST_F(ConfigBackupBindingTest, AFailedArchiveOnExitIsReported)
{
    Model.SetBool(K::Check_Config_Backup_OnExit_Checked, true);
    testkit::writeText(Data.Path("blocked").toStdString(), "a file");
    Model.SetText(K::Edit_Config_BackupFolder_Text, Data.Path("blocked/archives"));
    QStringList Alerts;
    QObject::connect(&Controller, &TMonitorController::Alert, [&](const QString& Line) { Alerts.append(Line); });
    Binding.BackupOnExit();
    ASSERT_EQ(Posted.size(), 1);
    EXPECT_EQ(Posted[0].MsgType, msgError);
    EXPECT_TRUE(Posted[0].Text.startsWith(GetMessageText("Config_Backup_Failed").section(u'%', 0, 0)));
    EXPECT_TRUE(Posted[0].Text.contains(Data.Path("blocked"))) << Posted[0].Text.toStdString();
    EXPECT_EQ(Alerts, QStringList{MessageLogLine(Posted[0])});
    EXPECT_TRUE(UI.Shown.isEmpty());  // no box: the window is going away
}

TEST(ConfigBackupRestart, RestoreStartsTheProgramAgainWithItsDataFolder)
{
    TTestDataFolder Data;
    // The program started again is a script that writes down its arguments.
    const std::string Record = Data.Root.file("restarted.txt");
    const std::string Program = Data.Path("prog/ondrix").toStdString();
    testkit::writeText(Program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > " + Record + ".part && mv " + Record + ".part " + Record + "\n");
    fs::permissions(Program, fs::perms::owner_all);
    const std::string Archive = Data.Root.file("Ondrix-Backup-2017-01-01.zip");
    testkit::writeZip(Archive, {{"Ini/Ondrix.ini", "[Ondrix]\r\nLogCount_Value=77\r\n"}});
    {
        TMainThreadQueue Queue;
        TSettingsModel Model;
        TMonitorController Controller(*Data.Settings, Model, Queue);
        TConfigBackupBinding Binding(Controller, *Data.Settings);
        testkit::ScriptedBackupUI UI;
        Binding.SetUI(&UI);
        UI.Archive = QString::fromStdString(Archive);
        UI.Answer = false;
        Model.SetBool(K::Check_Config_Backup_OnExit_Checked, true);

        Binding.Button_Config_LoadClick();
        // The restore works on a thread of its own.
        ASSERT_TRUE(testkit::processEventsUntil([&] { return Binding.Backup().Running() == 0; }));
        EXPECT_TRUE(Data.Settings->RestartRequested);
        EXPECT_TRUE(Data.Settings->SkipSaveOnClose);
        EXPECT_EQ(testkit::readText(Data.Settings->MainIniFile.toStdString()), "[Ondrix]\r\nLogCount_Value=77\r\n");
        // No archive on the way out of a restore.
        Binding.BackupOnExit();
        EXPECT_FALSE(fs::exists(Data.Settings->BackupFolder.toStdString()));
    }
    const QString DataFolder = Data.Settings->DataFolder;
    Data.Settings.reset();
    ASSERT_TRUE(testkit::pollUntil([&] { return fs::exists(Record); }, std::chrono::seconds(60)));
    EXPECT_EQ(testkit::readText(Record), "/Data=" + DataFolder.toStdString() + "\n/Restart\n");
}

}  // namespace
