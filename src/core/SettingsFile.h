#pragma once
// Loading and saving the configuration: the main settings file into and out of the settings
// model, the sample list and the frequency table through their own code, and the column
// layouts of the three list views.

#include <QString>
#include <QStringList>

#include <functional>

#include "samples/Class_Frequency.h"

class TSampleList;
class TSettings;
class TSettingsModel;

// The two questions loading and saving put to the operator. The main window answers with
// message boxes; a headless run answers itself.
class TSettingsQuestions {
public:
    virtual ~TSettingsQuestions() = default;
    // Loading failed with Error: show it, then ask "LoadSettingsError". True to go on with what
    // was loaded; false ends the program at once with exit code 1, saving nothing.
    virtual bool ContinueAfterLoadError(const QString& Error) = 0;
    // Saving failed with Error: show it, then the warning "SaveSettingsError".
    virtual void SaveFailed(const QString& Error) = 0;
};

// The answers of a run without a window: both texts go to Report (a log), and loading goes on.
class THeadlessSettingsQuestions : public TSettingsQuestions {
public:
    explicit THeadlessSettingsQuestions(std::function<void(const QString& Text)> Report)
        : FReport(std::move(Report)) {}
    bool ContinueAfterLoadError(const QString& Error) override;
    void SaveFailed(const QString& Error) override;

private:
    std::function<void(const QString& Text)> FReport;
};

// Everything the configuration files hold, and which of the separate files could be read.
struct TConfiguration {
    TSettingsModel& Model;
    TSampleList& Samples;
    TFrequencyRecArr& Frequencies;
    // The sample list file and the frequency file were read (or did not exist yet). One that
    // could not be read is never written over with what the program holds instead of it,
    // so a passing fault (a file locked by another program) cannot wipe it.
    bool SamplesLoaded = false;
    bool FrequenciesLoaded = false;
};

// Loads the whole configuration, once at start-up:
//  1. the main settings file into the model (placement, stored properties, stored values);
//     the device is then resolved against DeviceNames (TSettingsModel::ResolveDevice);
//  2. the sample list from SamplesFile; 3. the frequency table from FreqFile;
//  4. the column layouts from ColumnsIniFile;
//  5. the archive folder: Edit_Config_BackupFolder_Text sets Folders.BackupFolder (resolved
//     against DataFolder, "/" appended; empty: the default) and then, when not empty, shows
//     it relative to DataFolder.
// A file that cannot be read skips the steps after it (a main settings file that exists but
// cannot be read is reported too, and the other steps still run). On any failure
// Folders.SettingsLoaded is false and Questions decides: the result is false when the
// program must end. True otherwise.
bool LoadSettings(TSettings& Folders, TConfiguration& Config, const QStringList& DeviceNames,
                  TSettingsQuestions& Questions);

// Saves everything but the sample list: the model to the main settings file (existing entries in
// place, hand-added ones untouched), the frequency table, the column layouts. On any failure
// the steps after it are skipped, Questions.SaveFailed is told, and the result is false.
bool SaveSettings(const TSettings& Folders, const TConfiguration& Config, TSettingsQuestions& Questions);

// The archive folder of the text typed in Edit_Config_BackupFolder: resolved against DataFolder
// with "/" appended; empty: DataFolder + "Backup/".
QString ResolveBackupFolder(const QString& DataFolder, const QString& Typed);
// How the archive folder is shown: relative to DataFolder when it lies inside it.
QString ShownBackupFolder(const QString& DataFolder, const QString& Folder);

// Writes the sample list file after an addition, edit or deletion; refused (false, with an
// error) when the file could not be read at start-up.
bool SaveSampleList(const TSettings& Folders, const TConfiguration& Config, QString* Error);
