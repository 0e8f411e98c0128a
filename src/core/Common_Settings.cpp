#include "core/Common_Settings.h"

#include "lang/Lang.h"
#include "util/CmdLine.h"
#include "util/Folders.h"
#include "util/TextFile.h"
#include "util/Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QTemporaryFile>

#ifndef ONDRIX_VERSION_TEXT
#define ONDRIX_VERSION_TEXT ""
#endif

TSettings* Settings = nullptr;

namespace {

const QString ProductName = QStringLiteral("Ondrix");

QString WithSlash(const QString& Folder)
{
    return Folder.endsWith(u'/') ? Folder : Folder + u'/';
}

// Where the files installed with the program live: beside the executable in the build tree
// and in a portable installation, or ../share/ondrix/ in an installed layout.
QString ResourceFolder(const QString& ProgramFolder)
{
    if (QFileInfo(ProgramFolder + "Ini_Def").isDir())
        return ProgramFolder;
    const QString Shared = WithSlash(QDir::cleanPath(ProgramFolder + "../share/ondrix"));
    if (QFileInfo(Shared + "Ini_Def").isDir())
        return Shared;
    return ProgramFolder;
}

// Copies one default file, owner-only; the copy is written to a temporary file and renamed, so
// a target is either complete or absent.
bool CopyDefaultFile(const QString& Source, const QString& Target, QString& Error)
{
    if (!QFileInfo::exists(Source))
        return true;
    if (QFileInfo(Source).absoluteFilePath().compare(QFileInfo(Target).absoluteFilePath(), Qt::CaseInsensitive) == 0)
        return true;
    if (QFileInfo::exists(Target))
        QFile::remove(Target);
    QString SystemError;
    QFile In(Source);
    if (!In.open(QIODevice::ReadOnly)) {
        SystemError = In.errorString();
    } else if (ForceFolders(QFileInfo(Target).absolutePath(), &SystemError)) {
        const QByteArray Bytes = In.readAll();
        QSaveFile Out(Target);
        if (In.error() != QFileDevice::NoError)
            SystemError = In.errorString();
        // Settings files are the owner's alone (the main one comes to hold the mail password).
        else if (!Out.open(QIODevice::WriteOnly) || !Out.setPermissions(QFile::ReadOwner | QFile::WriteOwner)
                 || Out.write(Bytes) != Bytes.size() || !Out.commit())
            SystemError = Out.errorString();
    }
    if (SystemError.isEmpty() && QFileInfo::exists(Target))
        return true;
    Error = QStringLiteral("Copy \"%1\".\r\n%2").arg(Source, SystemError);
    return false;
}

}  // namespace

ESettingsError::ESettingsError(const QString& Text)
    : std::runtime_error(Text.toStdString())
    , Message(Text)
{
}

TSettingsStartup TSettingsStartup::FromApplication()
{
    return {ProgramArguments(), QCoreApplication::applicationFilePath(), {}};
}

TCommonSettings::TCommonSettings(TSettingsStartup StartupInfo)
    : ProgramStartTime(Now())
    , Startup(std::move(StartupInfo))
{
    if (!Startup.Wait)
        Startup.Wait = [](qint64 MSecs) { WaitProcessingEvents(MSecs); };
}

TCommonSettings::~TCommonSettings()
{
    if (!RestartRequested)
        return;
    // The new instance uses the same data folder, however it was chosen. A failure to start
    // it is ignored: there is nobody left to tell.
    QStringList Arguments{"/Data=" + DataFolder, "/Restart"};
    // A monitor without a window comes back without one.
    if (Startup.Arguments.contains(QStringLiteral("--headless")))
        Arguments.append(QStringLiteral("--headless"));
    QProcess::startDetached(Startup.ExecutableFile, Arguments, ProgramFolder);
}

void TCommonSettings::Initialize()
{
    if (Startup.ReadOnly) {
        InitPaths();
        return;
    }
    QString Delay;
    if (FindCmdLineSwitch(Startup.Arguments, "Delay", Delay)) {
        bool Ok = false;
        const qint64 MSecs = Delay.toLongLong(&Ok);
        if (Ok && MSecs > 0)
            Startup.Wait(MSecs);
    }
    InitPaths();
    CopyDefaultIniFiles();
}

QString TCommonSettings::SanitizeProductTitle(const QString& Title)
{
    QString Result = Title;
    for (const QChar C : {u'!', u'"', u'/', u'?', u'\\'})
        Result.remove(C);
    return Result.trimmed();
}

QString TCommonSettings::CommonAppDataFolder()
{
    const QString Xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(Xdg))
        return WithSlash(QDir::cleanPath(Xdg));
    const QString Home = qEnvironmentVariable("HOME");
    if (QDir::isAbsolutePath(Home))
        return WithSlash(QDir::cleanPath(Home + "/.local/share"));
    throw ESettingsError(QStringLiteral("Special folder path not found [35]!"));
}

QString TCommonSettings::InstalledLanguageFolder(const QString& ExecutableFile)
{
    return ResourceFolder(WithSlash(QFileInfo(ExecutableFile).absolutePath())) + "Language/";
}

QString TCommonSettings::ProgramVersionText()
{
    return QStringLiteral(ONDRIX_VERSION_TEXT);
}

void TCommonSettings::InitPaths()
{
    const QFileInfo Exe(Startup.ExecutableFile);
    ProgramFolder = WithSlash(Exe.absolutePath());
    ExeBaseName = Exe.completeBaseName();
    if (ProductTitle.isEmpty())
        ProductTitle = ProductName;
    HomePageUrl = QStringLiteral("https://www.corvessa.example/ondrix/");
    SupportUrl = QStringLiteral("https://www.corvessa.example/support/");
    SupportEmail = QStringLiteral("support@corvessa.example");
    VersionText = ProgramVersionText();

    const QString Resources = ResourceFolder(ProgramFolder);
    DefaultIniFolder = Resources + "Ini_Def/";
    ResolveDataFolder();
    LanguageFolder = Resources + "Language/";
    MainIniFile = IniFolder + ExeBaseName + ".ini";
    ColumnsIniFile = IniFolder + ExeBaseName + "_Columns.ini";
    WhatsNewFile = Resources + "WhatsNew.txt";
    HelpFolder = QFileInfo(Resources + "Help").isDir() ? Resources + "Help/" : QString();
}

void TCommonSettings::ResolveDataFolder()
{
    CommonDataFolder = CommonAppDataFolder() + "Corvessa/" + SanitizeProductTitle(ProductTitle) + "/";
    QString Data;
    // A portable tree keeps its settings in an Ini/ folder beside the executable.
    const bool Portable = QFileInfo(ProgramFolder + "Ini").isDir();
    if (FindCmdLineSwitch(Startup.Arguments, "Data", Data)) {
        // An empty value would make the program's own folder the data folder, and with it a
        // portable installation for every later start.
        if (Data.isEmpty())
            throw ESettingsError(GetMessageText("DataSwitchEmpty"));
        // A relative folder is the portable tree's own; otherwise it is taken, as any file
        // name on a command line, from the current folder.
        const QString Resolved = QDir::isAbsolutePath(Data) ? Data
                                 : Portable                 ? ProgramFolder + Data
                                                            : QDir::current().absoluteFilePath(Data);
        DataFolder = WithSlash(QDir::cleanPath(Resolved));
        // An installed program's folders are the package's: data there would be lost with it
        // (and, as root, land in /usr/bin).
        if (!Portable) {
            for (const QString& Installed : {ProgramFolder, ResourceFolder(ProgramFolder)})
                if (DataFolder.startsWith(Installed))
                    throw ESettingsError(FormatMessageText("DataFolderInInstallation", {DataFolder, Installed}));
        }
    } else if (Portable) {
        DataFolder = ProgramFolder;
    } else {
        DataFolder = CommonDataFolder + "Data/";
        if (!Startup.ReadOnly)
            ForceWritableFolder(DataFolder);
    }
    IniFolder = DataFolder + "Ini/";
    TempFolder = DataFolder + "Temp/";
    if (!Startup.ReadOnly) {
        DeleteFolder(TempFolder);
        // A settings file being saved when the program was killed leaves its temporary copy.
        RemoveInterruptedWrites(IniFolder);
    }
}

void TCommonSettings::ForceWritableFolder(const QString& Folder) const
{
    // Created for the owner alone: its settings may hold the mail password.
    bool Writable = ForcePrivateFolders(Folder);
    if (Writable) {
        QTemporaryFile Probe(Folder + ".write-probe-XXXXXX");
        Writable = Probe.open();
    }
    if (!Writable)
        throw ESettingsError(FormatMessageText("FolderWriteAccessError", {DataFolder}));
}

bool TCommonSettings::CopyMissingDefaultIniFiles(QString* Error)
{
    bool AllCopied = true;
    const QStringList Names = QDir(DefaultIniFolder).entryList({"*.ini"}, QDir::Files, QDir::Name);
    for (const QString& Name : Names) {
        // A file (or a link to one) is the operator's; anything else in its place (a folder)
        // keeps the default from being copied and is reported.
        if (QFileInfo(IniFolder + Name).isFile())
            continue;
        QString CopyError;
        if (!CopyDefaultFile(DefaultIniFolder + Name, IniFolder + Name, CopyError) && AllCopied) {
            AllCopied = false;
            if (Error)
                *Error = CopyError;
        }
    }
    return AllCopied;
}

void TCommonSettings::CopyDefaultIniFiles()
{
    QString Error;
    if (!CopyMissingDefaultIniFiles(&Error))
        throw ESettingsError(Error);
}

void TCommonSettings::CheckInstallation() const
{
    if (!QFileInfo(DefaultIniFolder).isDir())
        throw ESettingsError(FormatMessageText("DefaultFolderNotFound", {DefaultIniFolder}));
}

QString TCommonSettings::AllFilesFilter() const
{
    return GetMessageText("AllFiles") + "|*.*";
}

void TCommonSettings::RequestRestart(bool SkipSave)
{
    RestartRequested = true;
    SkipSaveOnClose = SkipSave;
    if (CloseMainWindow)
        CloseMainWindow();
}

TSettings::TSettings(TSettingsStartup StartupInfo)
    : TCommonSettings(std::move(StartupInfo))
{
    ProductTitle = ProductName;
    Initialize();
    if (!::Settings)
        ::Settings = this;
}

TSettings::~TSettings()
{
    if (::Settings == this)
        ::Settings = nullptr;
}

void TSettings::InitPaths()
{
    TCommonSettings::InitPaths();
    ProductTitle = ProductName;
    LogFolder = DataFolder + "Log/";
    BackupFolder = DataFolder + "Backup/";
    MainIniFile = IniFolder + "Ondrix.ini";
    SamplesFile = IniFolder + "Samples.ini";
    FreqFile = IniFolder + "Freq.ini";
    if (Startup.ReadOnly)
        return;
    ForceWritableFolder(IniFolder);
    // A first, silent pass; whatever failed here is tried again, and reported, by
    // CopyDefaultIniFiles.
    CopyMissingDefaultIniFiles(nullptr);
    // The settings file holds the mail password: a copy of the default, or a file an older
    // version wrote, is made the owner's alone before anything is stored in it.
    RestrictToOwner(MainIniFile);
}
