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
#include <QStorageInfo>

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

namespace {

// One part of a restore: the folder it replaces (its real place, links followed), the part
// unpacked beside it, and where the old folder goes during the swap.
struct TRestorePart {
    QString Name;
    QString Destination;
    QString Staged;  // Base + Name
    QString Base;    // the extraction folder beside Destination
    QString Aside;
    bool Existed = false;
    bool Swapped = false;
};

TRestorePart PlanRestorePart(const TPart& Part)
{
    TRestorePart R;
    R.Name = Part.Name;
    const QFileInfo Folder(QDir::cleanPath(Part.Destination));
    R.Destination = Folder.exists() ? Folder.canonicalFilePath() : Folder.absoluteFilePath();
    const QString Parent = QFileInfo(R.Destination).absolutePath() + u'/';
    R.Base = Parent + QStringLiteral(".Ondrix-Restore-") + Part.Name + u'/';
    R.Staged = R.Base + Part.Name;
    R.Aside = Parent + QStringLiteral(".Ondrix-Previous-") + Part.Name;
    return R;
}

// Bytes of the files below Folder.
qint64 FilesSize(const QString& Folder)
{
    qint64 Bytes = 0;
    for (const QString& Relative : ListFilesBelow(Folder))
        Bytes += QFileInfo(Folder + u'/' + Relative).size();
    return Bytes;
}

// Megabytes, rounded up, for the operator.
qint64 Megabytes(qint64 Bytes)
{
    return (Bytes + (1 << 20) - 1) >> 20;
}

// Refuses an archive whose selected entries declare more bytes than the cap or the free space
// beside the folders they go to (an archive of a few megabytes may unpack to gigabytes).
void CheckRestoreSize(const TZip& Zip, const QList<TPart>& Parts, const TConfigBackupSettings& Settings,
                      const QString& FileName, bool ClearFirst)
{
    qint64 Declared = 0;
    for (const TFileInfo& Entry : Zip.Directory()) {
        const QString Name = QString(Entry.FileName).replace(u'\\', u'/');
        for (const TPart& Part : Parts)
            if (TZip::MatchesSpec(Name, Part.Name + QStringLiteral("/*"))) {
                // A size the 32-bit field cannot hold is marked 0xFFFFFFFF: taken as too large.
                Declared += Entry.Header.UncomprSize == 0xFFFFFFFFu ? Settings.MaxRestoreBytes + 1
                                                                    : qint64(Entry.Header.UncomprSize);
                break;
            }
    }
    const QString Shown = QDir::toNativeSeparators(FileName);
    if (Declared > Settings.MaxRestoreBytes)
        throw ZipException(FormatMessageText(QStringLiteral("Config_Restore_TooLarge"),
                                             {Shown, Megabytes(Declared), Megabytes(Settings.MaxRestoreBytes)}));
    for (const TPart& Part : Parts) {
        const QStorageInfo Volume(QFileInfo(QDir::cleanPath(Part.Destination)).absolutePath());
        // Without ClearFirst the folder's own files are copied beside it too.
        const qint64 Needed = Declared + (ClearFirst ? 0 : FilesSize(Part.Destination));
        if (Volume.isValid() && Volume.bytesAvailable() >= 0 && Volume.bytesAvailable() < Needed)
            throw ZipException(FormatMessageText(QStringLiteral("Config_Restore_NoSpace"),
                                                 {Shown, Megabytes(Needed), Megabytes(Volume.bytesAvailable())}));
    }
}

// Puts every staged part in place of its folder by renames; on a failure the parts already
// swapped are put back, so the folders are all old or all new.
bool SwapParts(QList<TRestorePart>& Parts, QString& Error)
{
    for (TRestorePart& Part : Parts) {
        Part.Existed = QFileInfo::exists(Part.Destination);
        const bool Moved = !Part.Existed || QDir().rename(Part.Destination, Part.Aside);
        if (Moved && QDir().rename(Part.Staged, Part.Destination)) {
            Part.Swapped = true;
            continue;
        }
        Error = QStringLiteral("\"%1\": %2").arg(QDir::toNativeSeparators(Part.Destination), SystemErrorText(errno));
        if (Moved && Part.Existed)
            QDir().rename(Part.Aside, Part.Destination);
        for (auto It = Parts.rbegin(); It != Parts.rend(); ++It) {
            if (!It->Swapped)
                continue;
            QDir().rename(It->Destination, It->Staged);
            if (It->Existed)
                QDir().rename(It->Aside, It->Destination);
            It->Swapped = false;
        }
        return false;
    }
    return true;
}

}  // namespace

TRestoreResult RestoreArchive(const TConfigBackupSettings& Settings, const QString& FileName, bool ClearFirst)
{
    TRestoreResult Result;
    const TOperationScope Operation;
    if (!Operation.Owned()) {
        Result.Busy = true;
        return Result;
    }
    QList<TRestorePart> Planned;
    for (const TPart& Part : SelectedParts(Settings))
        Planned.append(PlanRestorePart(Part));
    // Whatever happens, nothing of the restore is left beside the folders.
    const auto CleanUp = [&Planned] {
        for (const TRestorePart& Part : Planned) {
            DeleteFolder(Part.Base);
            DeleteFolder(Part.Aside);
        }
    };
    CleanUp();  // what a killed restore left
    try {
        if (!QFileInfo(FileName).isFile())
            throw ZipException(QStringLiteral("\"%1\"\nis not a valid Zip file.").arg(QDir::toNativeSeparators(FileName)));
        TZip Zip;
        Zip.SetZipFileName(FileName);
        if (Zip.MultiDisk())
            throw ZipException(TZip::MultiDiskText);
        const QList<TPart> Parts = SelectedParts(Settings);
        CheckRestoreSize(Zip, Parts, Settings, FileName, ClearFirst);
        // Every selected entry is unpacked beside its folder, and its checksum checked, before
        // anything is replaced.
        QList<TRestorePart> Held;
        for (const TRestorePart& Part : Planned) {
            QString Error;
            if (!ForceFolders(Part.Base, &Error))
                throw ZipException(Error);
            Zip.ExtrBaseDir = Part.Base;
            Zip.ExtrOptions = 17;
            Zip.FSpecArgs = QStringList{Part.Name + "/*"};
            Zip.Extract();
            if (!ListFilesBelow(Part.Staged).isEmpty())
                Held.append(Part);
        }
        if (Held.isEmpty())
            throw ZipException(FormatMessageText(QStringLiteral("Config_Restore_NoData"), {QDir::toNativeSeparators(FileName)}));
        // Without clearing first, the folder's files the archive does not hold stay: they join
        // the staged part.
        if (!ClearFirst) {
            for (const TRestorePart& Part : Held) {
                for (const QString& Relative : ListFilesBelow(Part.Destination)) {
                    if (QFileInfo::exists(Part.Staged + u'/' + Relative))
                        continue;
                    QString Error;
                    if (!CopyFileReplacing(Part.Destination + u'/' + Relative, Part.Staged + u'/' + Relative,
                                           TCopyMode::Scratch, &Error))
                        throw ZipException(Error);
                }
            }
        }
        QString Error;
        if (!SwapParts(Held, Error))
            throw ZipException(Error);
    } catch (const ZipException& Failure) {
        Result.Error = Failure.Text();
    }
    CleanUp();
    return Result;
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
    // An archive of thousands of entries takes its time: the main thread goes on meanwhile.
    const TConfigBackupSettings Copy = Settings;
    {
        std::lock_guard Lock(FLock);
        ++FRunning;
    }
    FThreads.Start([this, Copy, FileName, ClearFirst] {
        const TRestoreResult Result = RestoreArchive(Copy, FileName, ClearFirst);
        QMetaObject::invokeMethod(&FOwner, [this, Result] { RestoreFinished(Result); }, Qt::QueuedConnection);
    });
    return true;
}

void TConfigBackup::RestoreFinished(const TRestoreResult& Result)
{
    {
        std::lock_guard Lock(FLock);
        --FRunning;
    }
    FThreads.JoinFinished();
    if (Result.Busy)
        return;
    // A failed restore changed nothing: the program goes on as it is.
    if (!Result.Error.isEmpty()) {
        if (UI)
            UI->ShowError(Result.Error);
        return;
    }
    if (RequestRestart)
        RequestRestart();
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
