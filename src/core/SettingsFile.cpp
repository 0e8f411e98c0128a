#include "core/SettingsFile.h"

#include "backup/Func_Config.h"
#include "core/Common_Settings.h"
#include "core/SettingsModel.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"
#include "util/IniFile.h"

#include <QDir>

namespace {

// Why a separate file is not written: it could not be read when the program started.
QString NotLoadedText(const QString& FileName)
{
    return FormatMessageText(QStringLiteral("ConfigFileNotRead"), {QDir::toNativeSeparators(FileName)});
}

// The archive folder typed by the operator, resolved against the data folder; the edit then
// shows it relative to the data folder. An empty setting stays empty (the window shows the
// default folder as the edit's placeholder), so a configuration without one keeps its defaults.
void ApplyBackupFolder(TSettings& Folders, TSettingsModel& Model)
{
    const QString Typed = Model.Text(SettingKey::Edit_Config_BackupFolder_Text);
    Folders.BackupFolder = ResolveBackupFolder(Folders.DataFolder, Typed);
    if (!Typed.trimmed().isEmpty())
        Model.SetText(SettingKey::Edit_Config_BackupFolder_Text, ShownBackupFolder(Folders.DataFolder, Folders.BackupFolder));
}

}  // namespace

QString ResolveBackupFolder(const QString& DataFolder, const QString& Typed)
{
    const QString Text = Typed.trimmed();
    if (Text.isEmpty())
        return DataFolder + QStringLiteral("Backup/");
    QString Folder = QDir::cleanPath(QDir(DataFolder).absoluteFilePath(Text));
    if (!Folder.endsWith(u'/'))
        Folder += u'/';
    return Folder;
}

QString ShownBackupFolder(const QString& DataFolder, const QString& Folder)
{
    const QString Relative = Folder.startsWith(DataFolder) ? Folder.mid(DataFolder.size()) : Folder;
    return Relative.isEmpty() ? Folder : Relative;
}

bool THeadlessSettingsQuestions::ContinueAfterLoadError(const QString& Error)
{
    if (FReport) {
        FReport(Error);
        FReport(GetMessageText(QStringLiteral("LoadSettingsError")));
    }
    return true;
}

void THeadlessSettingsQuestions::SaveFailed(const QString& Error)
{
    if (FReport) {
        FReport(Error);
        FReport(GetMessageText(QStringLiteral("SaveSettingsError")));
    }
}

bool LoadSettings(TSettings& Folders, TConfiguration& Config, const QStringList& DeviceNames,
                  TSettingsQuestions& Questions)
{
    Folders.SettingsLoaded = true;
    QString Error;
    {
        const TIniFile MainIni(Folders.MainIniFile);
        if (!MainIni.ReadError().isEmpty()) {
            // The program would run on defaults without saying so; and the file is never written
            // back, so the operator's settings would not survive the next save either.
            Folders.SettingsLoaded = false;
            Error = MainIni.ReadError();
        }
        Config.Model.ReadFrom(MainIni);
        Config.Model.ResolveDevice(DeviceNames);
    }
    const auto Fail = [&](const QString& StepError) {
        Folders.SettingsLoaded = false;
        Error = Error.isEmpty() ? StepError : Error + QStringLiteral("\r\n") + StepError;
    };
    QString StepError;
    Config.SamplesLoaded = Config.Samples.LoadFromFile(Folders.SamplesFile, &StepError);
    if (!Config.SamplesLoaded) {
        Fail(StepError);
    } else {
        Config.FrequenciesLoaded = LoadFrequencyTable(Config.Frequencies, Folders.FreqFile, &StepError);
        if (!Config.FrequenciesLoaded) {
            Fail(StepError);
        } else {
            const TIniFile Columns(Folders.ColumnsIniFile);
            if (!Columns.ReadError().isEmpty())
                Fail(Columns.ReadError());
            else
                Config.Model.ReadColumnLayouts(Columns);
        }
    }
    if (Folders.SettingsLoaded) {
        ApplyBackupFolder(Folders, Config.Model);
        // A backup killed part-way left its archive under a temporary name.
        RemovePartialArchives(Folders.BackupFolder);
        return true;
    }
    return Questions.ContinueAfterLoadError(Error);
}

bool SaveSettings(const TSettings& Folders, const TConfiguration& Config, TSettingsQuestions& Questions)
{
    QString Error;
    bool Saved = true;
    {
        TIniFile MainIni(Folders.MainIniFile);
        Config.Model.WriteTo(MainIni);
        Saved = MainIni.UpdateFile(&Error);
    }
    if (Saved) {
        if (!Config.FrequenciesLoaded) {
            Saved = false;
            Error = NotLoadedText(Folders.FreqFile);
        } else {
            Saved = SaveFrequencyTable(Config.Frequencies, Folders.FreqFile, &Error);
        }
    }
    if (Saved) {
        TIniFile Columns(Folders.ColumnsIniFile);
        Config.Model.WriteColumnLayouts(Columns);
        Saved = Columns.UpdateFile(&Error);
    }
    if (!Saved)
        Questions.SaveFailed(Error);
    return Saved;
}

bool SaveSampleList(const TSettings& Folders, const TConfiguration& Config, QString* Error)
{
    if (!Config.SamplesLoaded) {
        if (Error)
            *Error = NotLoadedText(Folders.SamplesFile);
        return false;
    }
    return Config.Samples.SaveToFile(Folders.SamplesFile, Error);
}
