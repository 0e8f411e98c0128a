#include "core/ConfigBackupBinding.h"

#include "core/Common_Settings.h"
#include "core/MonitorController.h"
#include "core/SettingsFile.h"
#include "core/SettingsModel.h"
#include "lang/Lang.h"

#include <QDir>

#include <cmath>

namespace {

bool IsBackupKey(const QString& Key)
{
    static const QStringList Keys = {
        SettingKey::Check_Config_Backup_Auto_Checked,   SettingKey::Check_Config_Backup_OnExit_Checked,
        SettingKey::Check_Config_Data_Log_Checked,      SettingKey::Check_Config_Data_Settings_Checked,
        SettingKey::Check_Config_DeleteOld_Checked,     SettingKey::Edit_Config_Backup_Interval_Value,
        SettingKey::Edit_Config_Backup_Time_Time,       SettingKey::Edit_Config_BackupFolder_Text,
        SettingKey::Edit_Config_DeleteOld_Count_Value,  SettingKey::Config_Last_Backup_Time,
    };
    return Keys.contains(Key);
}

}  // namespace

TConfigBackupBinding::TConfigBackupBinding(TMonitorController& Controller, TSettings& Folders, QObject* Parent)
    : QObject(Parent), FController(Controller), FModel(Controller.Model()), FFolders(Folders)
{
    FBackup.OnLastBackupTimeChanged = [this] {
        FStoring = true;
        FModel.SetFloat(SettingKey::Config_Last_Backup_Time, FBackup.LastBackupTime);
        FStoring = false;
    };
    FBackup.RequestRestart = [this] { FFolders.RequestRestart(true); };
    // A scheduled backup shows no box, but a station must learn that its archives stopped.
    FBackup.OnBackupFinished = [this](const TBackupResult& Result, bool Interactive) {
        if (!Interactive && !Result.Error.isEmpty())
            FController.AddMessage(msgError, BackupFailedText(Result));
    };
    ApplySettings();
    FBackup.LastBackupTime = FModel.Float(SettingKey::Config_Last_Backup_Time);
    connect(&FModel, &TSettingsModel::Changed, this, &TConfigBackupBinding::ModelChanged);
    connect(&FController, &TMonitorController::Tick, this, &TConfigBackupBinding::Tick);
}

TConfigBackupBinding::~TConfigBackupBinding() = default;

void TConfigBackupBinding::ModelChanged(const QString& Key)
{
    if (!IsBackupKey(Key) || FStoring)
        return;
    if (Key == QLatin1String(SettingKey::Config_Last_Backup_Time)) {
        FBackup.LastBackupTime = FModel.Float(SettingKey::Config_Last_Backup_Time);
        return;
    }
    if (Key == QLatin1String(SettingKey::Check_Config_Backup_Auto_Checked))
        FBackup.Check_Config_Backup_AutoClick(FModel.Bool(Key));
    if (Key == QLatin1String(SettingKey::Edit_Config_BackupFolder_Text))
        FFolders.BackupFolder = ResolveBackupFolder(FFolders.DataFolder, FModel.Text(Key));
    ApplySettings();
}

void TConfigBackupBinding::ApplySettings()
{
    TConfigBackupSettings& S = FBackup.Settings;
    S.IniFolder = FFolders.IniFolder;
    S.LogFolder = FFolders.LogFolder;
    S.TempFolder = FFolders.TempFolder;
    S.BackupFolder = FFolders.BackupFolder;
    S.BackupAuto = FModel.Bool(SettingKey::Check_Config_Backup_Auto_Checked);
    S.BackupOnExit = FModel.Bool(SettingKey::Check_Config_Backup_OnExit_Checked);
    S.BackupTime = FModel.Float(SettingKey::Edit_Config_Backup_Time_Time);
    S.BackupInterval = FModel.Float(SettingKey::Edit_Config_Backup_Interval_Value);
    S.DeleteOld = FModel.Bool(SettingKey::Check_Config_DeleteOld_Checked);
    S.DeleteOldCount = int(std::clamp(FModel.Float(SettingKey::Edit_Config_DeleteOld_Count_Value), 1.0, 99999.0));
    S.DataSettings = FModel.Bool(SettingKey::Check_Config_Data_Settings_Checked);
    S.DataLog = FModel.Bool(SettingKey::Check_Config_Data_Log_Checked);
}

void TConfigBackupBinding::Button_Config_SaveClick(const std::function<void()>& SaveSettings)
{
    if (SaveSettings)
        SaveSettings();
    ApplySettings();
    FBackup.StartBackup(true);
}

void TConfigBackupBinding::Button_Config_LoadClick()
{
    ApplySettings();
    FBackup.RestoreConfig();
}

void TConfigBackupBinding::Button_Config_ResetClick()
{
    ApplySettings();
    FBackup.ResetConfig();
}

QString TConfigBackupBinding::BackupFolderDialogStart() const
{
    return QDir::cleanPath(FFolders.BackupFolder);
}

void TConfigBackupBinding::BackupFolderChosen(const QString& Folder)
{
    if (Folder.isEmpty())
        return;
    const QString Chosen = ResolveBackupFolder(FFolders.DataFolder, Folder);
    FModel.SetText(SettingKey::Edit_Config_BackupFolder_Text, ShownBackupFolder(FFolders.DataFolder, Chosen));
}

void TConfigBackupBinding::BackupOnExit()
{
    if (FFolders.SkipSaveOnClose) {
        FBackup.WaitForBackups();
        return;
    }
    ApplySettings();
    // The program is closing: the journal may be the only place the failure is seen.
    const TBackupResult Result = FBackup.BackupOnExit();
    if (!Result.Error.isEmpty())
        FController.AddAlertMessage(msgError, BackupFailedText(Result));
}

void TConfigBackupBinding::Tick()
{
    // The folders may have changed (a folder typed, the settings loaded) since the last tick.
    FBackup.Settings.BackupFolder = FFolders.BackupFolder;
    FBackup.CheckAutoBackup();
}
