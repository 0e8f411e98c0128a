#pragma once
// What the scanner takes from the program's Qt side: the data folder's files and the local
// time format. Kept apart from the engine's code (see ScanSupport.cpp).

#include <QString>
#include <QStringList>

// "dd.mm.yyyy hh:nn:ss.zzz" of a day-based local date-time.
QString FormatLiveTime(double Value);

// The sample list and frequency table of the data folder, found (and the folder prepared)
// exactly as the monitor does, with the /Data switch among SettingsArguments. False with the
// error text when the data folder cannot be used.
bool FindDataFiles(const QStringList& SettingsArguments, QString& SamplesFile, QString& FreqFile, QString& Error);
