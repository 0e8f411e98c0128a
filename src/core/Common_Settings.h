#pragma once
// The program's settings object: where every file of the program lives. There is exactly one
// (`Settings`), created by the entry point before any window and destroyed after the last one;
// every other part reads its folders and file names.
//
// Folders are full paths ending with "/". The data folder is chosen from the /Data switch, a
// portable installation (an "Ini/" folder beside the executable), or the per-user data folder.

#include "util/DateTime.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <stdexcept>

// A start-up failure that ends the program before any window is shown.
class ESettingsError : public std::runtime_error {
public:
    explicit ESettingsError(const QString& Text);
    const QString& Text() const { return Message; }

private:
    QString Message;
};

// What the settings object is created from: the program's command line and executable. The
// defaults are those of the running program; tests and tools give their own.
struct TSettingsStartup {
    QStringList Arguments;        // the arguments after the program itself
    QString ExecutableFile;       // full path of the executable
    // Waits the /Delay time while handling events; WaitProcessingEvents when empty.
    std::function<void(qint64 MSecs)> Wait;
    // Only find the folders and files, as a tool that reads them does: no /Delay wait, no
    // folder created, no temporary folder deleted, no default file copied.
    bool ReadOnly = false;

    static TSettingsStartup FromApplication();
};

class TCommonSettings {
public:
    virtual ~TCommonSettings();
    TCommonSettings(const TCommonSettings&) = delete;
    TCommonSettings& operator=(const TCommonSettings&) = delete;

    QString ExeBaseName;       // executable's name without folder and extension
    QString ProgramFolder;     // folder of the executable
    QString CommonDataFolder;  // per-user data folder + "Corvessa/" + sanitised title + "/"
    QString DataFolder;        // root of all writable data
    QString IniFolder;         // DataFolder + "Ini/"
    QString DefaultIniFolder;  // default settings files installed with the program; only read
    QString TempFolder;        // DataFolder + "Temp/", removed at every start
    QString LanguageFolder;    // language files installed with the program
    QString SupportEmail;
    QString ProductTitle;
    QString VersionText;       // "a.b.c.d"
    QString HomePageUrl;
    QString SupportUrl;
    TDateTime ProgramStartTime = 0;
    QString MainIniFile;
    QString WhatsNewFile;
    QString ColumnsIniFile;    // IniFolder + ExeBaseName + "_Columns.ini"
    QString HelpFolder;        // HTML help beside the program; empty when not installed
    bool RestartRequested = false;
    bool SkipSaveOnClose = false;

    // Called by RequestRestart to close the main window; set by the main window.
    std::function<void()> CloseMainWindow;

    // Fills every path field.
    virtual void InitPaths();
    // Chooses DataFolder and the folders below it, then deletes TempFolder.
    void ResolveDataFolder();
    // Copies each "*.ini" file of DefaultIniFolder that IniFolder does not have yet; throws
    // ESettingsError naming the first file that could not be copied.
    void CopyDefaultIniFiles();
    // Throws ESettingsError ("DefaultFolderNotFound") when the default settings folder
    // installed with the program is missing: an incomplete installation the monitor does not
    // start with.
    void CheckInstallation() const;
    // File-dialog filter entry for all files.
    QString AllFilesFilter() const;
    // Asks for the program to start again once it has closed; SkipSave skips saving the
    // configuration on the way out. Closes the main window.
    void RequestRestart(bool SkipSave);

    // Deletes "!", double quotes, "/", "?" and "\" and trims blanks at both ends.
    static QString SanitizeProductTitle(const QString& Title);
    // The per-user application-data folder ($XDG_DATA_HOME, else $HOME/.local/share), with a
    // final "/"; throws ESettingsError when neither is known.
    static QString CommonAppDataFolder();
    // The program version compiled in, "a.b.c.d".
    static QString ProgramVersionText();
    // The language folder installed with the executable ExecutableFile (beside it, or under
    // ../share/ondrix/), known before any settings are: the start's first messages use it.
    static QString InstalledLanguageFolder(const QString& ExecutableFile);

protected:
    explicit TCommonSettings(TSettingsStartup Startup);
    // The start-up steps: the /Delay wait, InitPaths, CopyDefaultIniFiles. Run by the
    // constructor of the final class, so that its InitPaths takes part.
    void Initialize();
    // Copies the missing default files; false with the error of the first failure, but every
    // file is tried.
    bool CopyMissingDefaultIniFiles(QString* Error);
    // Creates Folder with all missing parents and checks that files can be created in it;
    // throws the "FolderWriteAccessError" text otherwise.
    void ForceWritableFolder(const QString& Folder) const;

    TSettingsStartup Startup;
};

class TSettings : public TCommonSettings {
public:
    explicit TSettings(TSettingsStartup Startup = TSettingsStartup::FromApplication());
    ~TSettings() override;

    bool SettingsLoaded = true;  // false after loading the configuration failed
    QString LogFolder;           // DataFolder + "Log/"
    QString SamplesFile;         // IniFolder + "Samples.ini"
    QString FreqFile;            // IniFolder + "Freq.ini"
    QString BackupFolder;        // DataFolder + "Backup/" until the user chooses another

    void InitPaths() override;
};

// The one settings object of the running program (set while a TSettings exists).
extern TSettings* Settings;
