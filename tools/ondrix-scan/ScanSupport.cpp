// The program's date-time helpers and the engine's header both define the day-based time
// constants, so the two are never included in one translation unit.
#include "ScanSupport.h"

#include <QCoreApplication>

#include "core/Common_Settings.h"
#include "util/DateTime.h"

QString FormatLiveTime(double Value)
{
    return FormatDateTime(QStringLiteral("dd.mm.yyyy hh:nn:ss.zzz"), Value);
}

bool FindDataFiles(const QStringList& SettingsArguments, QString& SamplesFile, QString& FreqFile, QString& Error)
{
    try {
        TSettings settings(TSettingsStartup{SettingsArguments, QCoreApplication::applicationFilePath(), {}});
        SamplesFile = settings.SamplesFile;
        FreqFile = settings.FreqFile;
        return true;
    } catch (const ESettingsError& e) {
        Error = e.Text();
        return false;
    }
}
