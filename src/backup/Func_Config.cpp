#include "backup/Func_Config.h"

#include "backup/ZZip.h"
#include "lang/Lang.h"
#include "util/BusyCursor.h"
#include "util/Folders.h"
#include "util/TextFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<bool> OperationBusy{false};

const QString ArchivePattern = QStringLiteral("Ondrix-Backup-*.zip");
// Archives being written: hidden, and never matching the archive pattern.
const QString PartialPrefix = QStringLiteral(".Ondrix-Backup-");

// The busy flag and the busy cursor for one operation.
class TOperationScope {
public:
    TOperationScope() : FOwned(TryBeginConfigOperation())
    {
        if (FOwned)
            BeginBusyCursor();
    }
    ~TOperationScope()
    {
        if (!FOwned)
            return;
        EndBusyCursor();
        EndConfigOperation();
    }
    TOperationScope(const TOperationScope&) = delete;
    TOperationScope& operator=(const TOperationScope&) = delete;
    bool Owned() const { return FOwned; }

private:
    bool FOwned;
};

// The staging folder is deleted when an operation ends, however it ends.
class TStagingScope {
public:
    explicit TStagingScope(QString Folder) : FFolder(std::move(Folder)) { DeleteFolder(FFolder); }
    ~TStagingScope() { DeleteFolder(FFolder); }
    TStagingScope(const TStagingScope&) = delete;
    TStagingScope& operator=(const TStagingScope&) = delete;

private:
    QString FFolder;
};

struct TPart {
    QString Name;          // "Ini" or "Log": the entries' first folder
    QString Destination;   // the folder it comes from and is restored to
};

QList<TPart> SelectedParts(const TConfigBackupSettings& Settings)
{
    QList<TPart> Parts;
    if (Settings.DataSettings)
        Parts.append({QStringLiteral("Ini"), Settings.IniFolder});
    if (Settings.DataLog)
        Parts.append({QStringLiteral("Log"), Settings.LogFolder});
    return Parts;
}

// Makes the file's data durable before it is renamed over an archive.
bool SyncFile(const QString& FileName)
{
    const int Handle = ::open(QFile::encodeName(FileName).constData(), O_RDONLY | O_CLOEXEC);
    if (Handle < 0)
        return false;
    const bool Synced = ::fsync(Handle) == 0;
    ::close(Handle);
    return Synced;
}

QString WithSlash(const QString& Folder)
{
    return Folder.endsWith(u'/') ? Folder : Folder + u'/';
}

// Puts the staged part in place of the destination folder. With ClearFirst the destination
// becomes exactly the staged part: the old folder is moved aside, the staged one moved in, and
// the old one deleted only then (copied when they lie on different file systems). Otherwise
// every staged file replaces its namesake and the other files stay.
bool ReplacePart(const QString& Staged, const QString& Destination, const QString& Aside, bool ClearFirst, QString* Error)
{
    if (!ClearFirst)
        return CopyFolderFiles(Staged, Destination, TCopyMode::Replace, Error);
    const QString Target = QDir::cleanPath(Destination);
    const bool Existed = QFileInfo::exists(Target) || QFileInfo(Target).isSymLink();
    if (Existed && !QDir().rename(Target, QDir::cleanPath(Aside))) {
        // Not movable (another file system, a link): empty it and copy.
        if (!DeleteFolder(Target)) {
            if (Error)
                *Error = QStringLiteral("\"%1\" could not be cleared.").arg(QDir::toNativeSeparators(Target));
            return false;
        }
        return CopyFolderFiles(Staged, Destination, TCopyMode::Replace, Error);
    }
    ForceFolders(QFileInfo(Target).absolutePath());
    if (QDir().rename(QDir::cleanPath(Staged), Target)) {
        DeleteFolder(Aside);
        return true;
    }
    if (CopyFolderFiles(Staged, Destination, TCopyMode::Replace, Error)) {
        DeleteFolder(Aside);
        return true;
    }
    // Put the old folder back.
    DeleteFolder(Target);
    if (Existed)
        QDir().rename(QDir::cleanPath(Aside), Target);
    return false;
}

}  // namespace

bool TryBeginConfigOperation()
{
    bool Expected = false;
    return OperationBusy.compare_exchange_strong(Expected, true);
}

void EndConfigOperation()
{
    OperationBusy = false;
}

bool ConfigOperationBusy()
{
    return OperationBusy.load();
}

QString BackupArchiveName(const QString& BackupFolder, TDateTime Moment)
{
    return WithSlash(BackupFolder) + QStringLiteral("Ondrix-Backup") + FormatDateTime(QStringLiteral("-yyyy-mm-dd"), Moment)
           + QStringLiteral(".zip");
}

QStringList ListBackupArchives(const QString& BackupFolder)
{
    QStringList Names;
    QDirIterator It(BackupFolder, {ArchivePattern}, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (It.hasNext()) {
        const QFileInfo File(It.next());
        if (File.isFile() && !File.isSymLink())
            Names.append(File.absoluteFilePath());
    }
    std::sort(Names.begin(), Names.end(),
              [](const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) < 0; });
    return Names;
}

QStringList PruneBackupArchives(const QString& BackupFolder, const QString& NewArchive, int Count)
{
    QStringList Names = ListBackupArchives(BackupFolder);
    const QString Kept = QFileInfo(NewArchive).absoluteFilePath();
    Names.removeIf([&Kept](const QString& Name) { return Name.compare(Kept, Qt::CaseInsensitive) == 0; });
    QStringList Deleted;
    const int Keep = std::max(Count, 1);
    if (Names.size() < Keep)
        return Deleted;
    for (int I = 0; I < Names.size() - Keep + 1; ++I) {
        if (QFile::remove(Names[I]))
            Deleted.append(Names[I]);
    }
    return Deleted;
}

namespace {

TBackupResult BackupFolders(const TConfigBackupSettings& Settings, TDateTime Moment)
{
    TBackupResult Result;
    const TOperationScope Operation;
    if (!Operation.Owned()) {
        Result.Busy = true;
        return Result;
    }
    const QString Staging = Settings.StagingFolder();
    const TStagingScope StagingScope(Staging);
    const QString Archive = BackupArchiveName(Settings.BackupFolder, Moment);
    const QString Partial = WithSlash(Settings.BackupFolder) + "." + QFileInfo(Archive).fileName() + ".part";
    try {
        for (const TPart& Part : SelectedParts(Settings)) {
            if (QFileInfo(Part.Destination).isDir() && !CopyFolderFiles(Part.Destination, Staging + Part.Name, TCopyMode::Scratch, &Result.Error))
                return Result;
        }
        const QStringList Files = ListFilesBelow(Staging);
        if (Files.isEmpty()) {
            Result.NoData = true;
            return Result;
        }
        if (!ForceFolders(Settings.BackupFolder, &Result.Error))
            return Result;
        RemovePartialArchives(Settings.BackupFolder);
        {
            TZip Zip;
            Zip.SetZipFileName(Partial);
            Zip.AddOptions = 8;
            Zip.RootDir = Staging;
            Zip.FSpecArgs = Files;
            Zip.Add();
        }
        if (!SyncFile(Partial) || std::rename(QFile::encodeName(Partial).constData(), QFile::encodeName(Archive).constData()) != 0) {
            Result.Error = QStringLiteral("\"%1\": %2").arg(QDir::toNativeSeparators(Archive), SystemErrorText(errno));
            QFile::remove(Partial);
            return Result;
        }
        Result.FileName = Archive;
        if (Settings.DeleteOld)
            Result.Deleted = PruneBackupArchives(Settings.BackupFolder, Archive, Settings.DeleteOldCount);
    } catch (const ZipException& Error) {
        // The operator knows the archive, not the temporary name it is written under.
        Result.Error = QString(Error.Text()).replace(QDir::toNativeSeparators(Partial), QDir::toNativeSeparators(Archive));
        QFile::remove(Partial);
        RemovePartialArchives(Settings.BackupFolder);
    }
    return Result;
}

}  // namespace

TBackupResult BackupConfig(const TConfigBackupSettings& Settings, TDateTime Moment)
{
    return BackupFolders(Settings, Moment);
}

void RemovePartialArchives(const QString& BackupFolder)
{
    const QFileInfoList Files = QDir(BackupFolder).entryInfoList({PartialPrefix + "*"}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& File : Files) {
        if (File.isFile() && !File.isSymLink())
            QFile::remove(File.absoluteFilePath());
    }
}

QString BackupFailedText(const TBackupResult& Result)
{
    return FormatMessageText(QStringLiteral("Config_Backup_Failed"), {Result.Error});
}

TConfigBackup::TConfigBackup() = default;

TConfigBackup::~TConfigBackup()
{
    FThreads.JoinAll();
}

int TConfigBackup::Running() const
{
    std::lock_guard Lock(FLock);
    return FRunning;
}

void TConfigBackup::WaitForBackups()
{
    FThreads.JoinAll();
}

void TConfigBackup::StartBackup(bool Interactive)
{
    const TConfigBackupSettings Copy = Settings;
    const TDateTime Moment = Clock();
    {
        std::lock_guard Lock(FLock);
        ++FRunning;
    }
    FThreads.Start([this, Copy, Moment, Interactive] {
        const TBackupResult Result = BackupConfig(Copy, Moment);
        QMetaObject::invokeMethod(&FOwner, [this, Result, Interactive] { Finished(Result, Interactive); }, Qt::QueuedConnection);
    });
}

void TConfigBackup::Finished(const TBackupResult& Result, bool Interactive)
{
    {
        std::lock_guard Lock(FLock);
        --FRunning;
    }
    // Threads that have reported are joined here; the one reporting now may not have said it is
    // done yet and is joined next time (or at the end).
    FThreads.JoinFinished();
    if (Interactive)
        ShowBackupResult(Result);
    if (OnBackupFinished)
        OnBackupFinished(Result, Interactive);
}

void TConfigBackup::ShowBackupResult(const TBackupResult& Result)
{
    if (!UI || Result.Busy)
        return;
    if (!Result.Error.isEmpty())
        UI->ShowError(BackupFailedText(Result));
    else if (Result.NoData)
        UI->ShowWarning(GetMessageText(QStringLiteral("Config_Backup_NoData")));
    else
        UI->ShowInformation(FormatMessageText(QStringLiteral("Config_Backup_Done"), {QDir::toNativeSeparators(Result.FileName)}));
}

TBackupResult TConfigBackup::BackupNow(bool Interactive)
{
    const TBackupResult Result = BackupConfig(Settings, Clock());
    if (Interactive)
        ShowBackupResult(Result);
    return Result;
}

bool TConfigBackup::CheckAutoBackup()
{
    if (!Settings.BackupAuto)
        return false;
    const TDateTime Moment = Clock();
    // Compared to the millisecond, so that a whole number of days later is "not later".
    const auto MSecs = [](TDateTime Value) { return std::llround(Value * MSecsPerDay); };
    const double Interval = std::clamp(Settings.BackupInterval, 1.0, 99999.0);
    if (LastBackupTime != 0 && MSecs(LastBackupTime + Interval) > MSecs(Moment))
        return false;
    const long long DayMSecs = std::llround(MSecsPerDay);
    if (MSecs(Moment) % DayMSecs <= MSecs(Settings.BackupTime) % DayMSecs)
        return false;
    LastBackupTime = Moment;
    if (OnLastBackupTimeChanged)
        OnLastBackupTimeChanged();
    StartBackup(false);
    return true;
}

void TConfigBackup::Check_Config_Backup_AutoClick(bool Checked)
{
    Settings.BackupAuto = Checked;
    if (Checked || LastBackupTime == 0)
        return;
    LastBackupTime = 0;
    if (OnLastBackupTimeChanged)
        OnLastBackupTimeChanged();
}

TBackupResult TConfigBackup::BackupOnExit()
{
    WaitForBackups();
    if (!Settings.BackupOnExit)
        return {};
    return BackupConfig(Settings, Clock());
}

bool TConfigBackup::RestoreConfig()
{
    if (ConfigOperationBusy() || !UI)
        return false;
    const QString FileName = UI->ChooseArchive(
        Settings.BackupFolder, QStringLiteral("Ondrix Backup|Ondrix-Backup*.zip|") + GetMessageText(QStringLiteral("AllFiles")) + "|*.*");
    if (FileName.isEmpty())
        return false;
    const bool ClearFirst = UI->AskYesNo(GetMessageText(QStringLiteral("Config_Restore_Reset_Confirm")));

    QString Error;
    bool Restored = false;
    {
        const TOperationScope Operation;
        if (!Operation.Owned())
            return false;
        const QString Staging = Settings.StagingFolder();
        const TStagingScope StagingScope(Staging);
        try {
            if (!QFileInfo(FileName).isFile())
                throw ZipException(QStringLiteral("\"%1\"\nis not a valid Zip file.").arg(QDir::toNativeSeparators(FileName)));
            if (!ForceFolders(Staging + "Parts", &Error))
                throw ZipException(Error);
            TZip Zip;
            Zip.SetZipFileName(FileName);
            if (Zip.MultiDisk())
                throw ZipException(TZip::MultiDiskText);
            // Every selected entry is extracted, and its checksum checked, before anything is
            // replaced.
            const QList<TPart> Parts = SelectedParts(Settings);
            for (const TPart& Part : Parts) {
                Zip.ExtrBaseDir = Staging + "Parts";
                Zip.ExtrOptions = 17;
                Zip.FSpecArgs = QStringList{Part.Name + "/*"};
                Zip.Extract();
            }
            QList<TPart> Held;
            for (const TPart& Part : Parts) {
                if (!ListFilesBelow(Staging + "Parts/" + Part.Name).isEmpty())
                    Held.append(Part);
            }
            if (Held.isEmpty())
                throw ZipException(FormatMessageText(QStringLiteral("Config_Restore_NoData"), {QDir::toNativeSeparators(FileName)}));
            for (const TPart& Part : Held) {
                if (!ReplacePart(Staging + "Parts/" + Part.Name, Part.Destination, Staging + "Previous-" + Part.Name, ClearFirst, &Error)) {
                    // Files replaced one by one before the failure stay replaced.
                    Restored = Restored || !ClearFirst;
                    throw ZipException(Error);
                }
                Restored = true;
            }
        } catch (const ZipException& Failure) {
            Error = Failure.Text();
        }
    }
    if (!Error.isEmpty()) {
        UI->ShowError(Error);
        // A part already replaced is in the running program's folders: it restarts on it.
        if (!Restored)
            return false;
    }
    if (RequestRestart)
        RequestRestart();
    return true;
}

bool TConfigBackup::ResetConfig()
{
    if (UI && !UI->AskYesNo(GetMessageText(QStringLiteral("Config_Reset_Confirm"))))
        return false;
    bool Deleted = false;
    {
        const TOperationScope Operation;
        if (!Operation.Owned())
            return false;
        for (const TPart& Part : SelectedParts(Settings)) {
            if (QFileInfo::exists(Part.Destination) && DeleteFolder(Part.Destination))
                Deleted = true;
        }
    }
    if (Deleted && RequestRestart)
        RequestRestart();
    return Deleted;
}
