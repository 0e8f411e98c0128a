#pragma once
// The configuration archives bound to the monitor: the choices of the configuration page come
// from the settings model, the folders from the settings object, the schedule runs on the
// controller's once-a-second tick, the last scheduled backup time is kept in the model (and so
// in the settings file), restore and reset restart the program without saving its settings,
// and a scheduled backup that fails is posted as an error message.
//
// The window implements TConfigBackupUI and calls the entry points of its buttons and of the
// archive folder's edit and chooser; the close sequence (window and headless) calls
// BackupOnExit after saving the settings.
//
// Main thread only (the backups themselves run on threads of their own).

#include <QObject>
#include <QString>

#include <functional>

#include "backup/Func_Config.h"

class TMonitorController;
class TSettings;
class TSettingsModel;

class TConfigBackupBinding : public QObject {
    Q_OBJECT

public:
    // The controller and the settings object outlive this object.
    TConfigBackupBinding(TMonitorController& Controller, TSettings& Folders, QObject* Parent = nullptr);
    ~TConfigBackupBinding() override;

    TConfigBackup& Backup() { return FBackup; }
    // The window's boxes and file dialog; none: nothing is asked or shown (headless).
    void SetUI(TConfigBackupUI* UI) { FBackup.UI = UI; }

    // "Сохранить в архив": SaveSettings (the window's, which also takes its layout), then a
    // backup on its own thread with its box at the end.
    void Button_Config_SaveClick(const std::function<void()>& SaveSettings);
    // "Восстановить из архива".
    void Button_Config_LoadClick();
    // "Сброс сданных".
    void Button_Config_ResetClick();
    // The folder chooser: where it opens (the absolute folder without its final "/"), and the
    // folder chosen (shown relative to the data folder where it lies inside it, with "/").
    QString BackupFolderDialogStart() const;
    void BackupFolderChosen(const QString& Folder);
    // The close sequence: waits for a backup under way, then archives when
    // Check_Config_Backup_OnExit is on; nothing after a restore or reset (their restart skips
    // saving too).
    void BackupOnExit();

    // Every second (the controller's tick).
    void Tick();

private:
    void ModelChanged(const QString& Key);
    void ApplySettings();

    TMonitorController& FController;
    TSettingsModel& FModel;
    TSettings& FFolders;
    TConfigBackup FBackup;
    bool FStoring = false;
};
