#pragma once
// Configuration archives: the settings folder and the log folder archived into a dated zip file
// (by the button, on a schedule, on exit), restored from such an archive, or reset to the
// defaults. Restore and reset end by restarting the program without saving its settings.
//
// None of them may destroy what it protects:
// - An archive is written under a temporary name in the backup folder and renamed over the
//   day's archive only when complete; a failed or killed backup leaves the earlier one.
// - Nothing to archive keeps the earlier archive of the day and prunes nothing.
// - Restore extracts every selected entry (with its checksum) into the staging folder before
//   anything is cleared or replaced; an archive with an entry that climbs out of its folder,
//   is absolute or is a link is refused as a whole; a destination is cleared only when the
//   archive holds that part. A broken archive changes nothing and nothing restarts.
// - Pruning deletes only regular files named like the archives.
//
// One process-wide busy flag, tested and set in one step, keeps the operations apart: one
// that finds it set does nothing. Backups run on a short-lived thread of their own (scheduled,
// button, and so monitoring never stalls); their outcome comes back on the owner's thread.
// Restore and reset run on the owner's (main) thread.

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

#include "util/DateTime.h"
#include "util/WorkerThreads.h"

// The folders and the choices of the configuration page, as the operations read them.
struct TConfigBackupSettings {
    QString IniFolder;        // the settings folder, ending with "/"
    QString LogFolder;        // the log folder
    QString TempFolder;       // the temporary folder; staging is TempFolder + "Backup/"
    QString BackupFolder;     // where the archives go
    bool BackupAuto = false;          // Check_Config_Backup_Auto
    TDateTime BackupTime = 0;         // Edit_Config_Backup_Time: time of day, fraction of a day
    double BackupInterval = 7;        // Edit_Config_Backup_Interval: days
    bool DeleteOld = true;            // Check_Config_DeleteOld
    int DeleteOldCount = 5;           // Edit_Config_DeleteOld_Count: archives kept, the new one included
    bool DataSettings = true;         // Check_Config_Data_Settings
    bool DataLog = true;              // Check_Config_Data_Log
    bool BackupOnExit = false;        // Check_Config_Backup_OnExit
    // Most bytes a restore unpacks (the sizes the archive declares for the selected parts);
    // a larger archive is refused, whatever space there is.
    qint64 MaxRestoreBytes = qint64(1) << 30;

    QString StagingFolder() const { return TempFolder + QStringLiteral("Backup/"); }
};

// The outcome of one backup.
struct TBackupResult {
    QString FileName;         // the archive written; empty when none was
    QString Error;            // why it failed (the archive and the system's reason); empty on success
    bool NoData = false;      // nothing to archive (the earlier archive is kept)
    bool Busy = false;        // another operation was running; nothing was done
    QStringList Deleted;      // old archives pruned
};

// The boxes and the file dialog of the operations, shown by the window on the main thread.
class TConfigBackupUI {
public:
    virtual ~TConfigBackupUI() = default;
    virtual void ShowInformation(const QString& Text) = 0;
    virtual void ShowWarning(const QString& Text) = 0;
    virtual void ShowError(const QString& Text) = 0;
    // A question box with Yes and No; true for Yes.
    virtual bool AskYesNo(const QString& Text) = 0;
    // The open-file dialog for an archive, starting in Folder with Filter ("Name|pattern|...");
    // empty when nothing was chosen.
    virtual QString ChooseArchive(const QString& Folder, const QString& Filter) = 0;
};

// The archive of a day: BackupFolder + "Ondrix-Backup-yyyy-mm-dd.zip".
QString BackupArchiveName(const QString& BackupFolder, TDateTime Moment);
// The names of the archives below BackupFolder (subfolders included) that a backup may delete:
// regular files matching "Ondrix-Backup-*.zip", sorted by full name without regard to case.
QStringList ListBackupArchives(const QString& BackupFolder);
// After a backup wrote NewArchive: deletes the oldest archives so that at most Count remain,
// the new one included. Returns the names deleted.
QStringList PruneBackupArchives(const QString& BackupFolder, const QString& NewArchive, int Count);

// Removes what a killed backup left behind in BackupFolder: the archive being written under its
// temporary name (".Ondrix-Backup-...zip.part") and the zip library's own temporary files beside
// it. Regular files only.
void RemovePartialArchives(const QString& BackupFolder);

// Tests and sets the process-wide busy flag in one step; false when it was already set.
bool TryBeginConfigOperation();
void EndConfigOperation();
bool ConfigOperationBusy();

// One backup, done on the calling thread with the busy flag and cursor: staging, the archive
// under a temporary name, the rename, the pruning. Shows nothing and looks up no text, so any
// thread may run it.
TBackupResult BackupConfig(const TConfigBackupSettings& Settings, TDateTime Moment);
// What the operator is told of a failed backup ("Config_Backup_Failed" with the reason).
QString BackupFailedText(const TBackupResult& Result);

// The outcome of one restore.
struct TRestoreResult {
    QString Error;      // why nothing was changed; empty on success
    bool Busy = false;  // another operation was running; nothing was done
};
// One restore of the selected parts from an archive, all or nothing, on the calling thread:
// refused when the sizes the archive declares exceed Settings.MaxRestoreBytes or the free space
// beside a part's folder; every part unpacked beside its folder (and, without ClearFirst, the
// folder's other files copied in), and only then the folders swapped, each by a rename. On any
// failure the folders stay as they were. Shows nothing, so any thread may run it.
TRestoreResult RestoreArchive(const TConfigBackupSettings& Settings, const QString& FileName, bool ClearFirst);

class TConfigBackup {
public:
    TConfigBackup();
    // Waits for the backups under way.
    ~TConfigBackup();
    TConfigBackup(const TConfigBackup&) = delete;
    TConfigBackup& operator=(const TConfigBackup&) = delete;

    // The settings every operation starts with (owner's thread).
    TConfigBackupSettings Settings;
    TConfigBackupUI* UI = nullptr;
    std::function<TDateTime()> Clock = [] { return Now(); };
    // The moment the last scheduled backup was started (Config_Last_Backup_Time); 0 never.
    TDateTime LastBackupTime = 0;
    // After LastBackupTime changed (to be stored).
    std::function<void()> OnLastBackupTimeChanged;
    // Restarts the program without saving its settings (after restore and reset).
    std::function<void()> RequestRestart;
    // After a backup started here has ended and its box (if any) has closed (owner's thread).
    std::function<void(const TBackupResult& Result, bool Interactive)> OnBackupFinished;

    // Starts a backup on a thread of its own; when Interactive, its box is shown afterwards:
    // "Config_Backup_Done" with the archive, "Config_Backup_NoData", or the error.
    void StartBackup(bool Interactive);
    // A backup on the calling thread, with the box when Interactive.
    TBackupResult BackupNow(bool Interactive);
    // Asks for an archive and whether to clear first, then restores on a thread of its own
    // (RestoreArchive): afterwards the error is shown, or the program is asked to restart. True
    // when the restore started. Waited for with the backups (WaitForBackups, Running).
    bool RestoreConfig();
    // Asks, deletes the selected folders, and restarts when one was deleted. True when the
    // program was asked to restart.
    bool ResetConfig();
    // Every second: starts a scheduled backup when one is due. True when one started.
    bool CheckAutoBackup();
    // The schedule was switched off (the check box unticked): LastBackupTime := 0.
    void Check_Config_Backup_AutoClick(bool Checked);
    // The close sequence: waits for the backups under way, then archives when
    // Check_Config_Backup_OnExit is on. The result of that backup (empty when none ran).
    TBackupResult BackupOnExit();

    // Backups under way on their threads.
    int Running() const;
    // Waits until the backups under way have ended (their outcome is still delivered).
    void WaitForBackups();

private:
    void Finished(const TBackupResult& Result, bool Interactive);
    void RestoreFinished(const TRestoreResult& Result);
    void ShowBackupResult(const TBackupResult& Result);

    QObject FOwner;   // lives on the owner's thread; the threads report through it
    mutable std::mutex FLock;
    int FRunning = 0;
    TWorkerThreads FThreads;  // last: joined before the members their jobs use go
};
