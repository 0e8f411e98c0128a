#pragma once
// Reading and writing the program's text files: settings, lists, logs, language files.
// Files are written as UTF-8 with CR LF line ends; reading also accepts Windows-1251, the
// code page of files brought over from older installations.

#include <QString>
#include <QStringList>

// Reads the whole file. UTF-8 (a byte order mark is dropped), or Windows-1251 when the bytes
// are not valid UTF-8. False, with an error naming the file, when it cannot be read.
bool ReadTextFile(const QString& FileName, QString& Text, QString* Error = nullptr);

// Splits text at CR LF, LF or CR. A final line break does not give a trailing empty line.
QStringList SplitTextLines(const QString& Text);

// Who may read a file the program writes. OwnerOnly (0600) is for files that may hold a secret
// (the settings file with the mail password); it is set on the temporary file before the first
// byte is written, so the text is never readable by others, not even for a moment.
enum class TFileAccess { Default, OwnerOnly };

// Writes every line followed by CR LF, in UTF-8, to a temporary file in the target's folder and
// renames it over the target, so a crash or a full disk never leaves a half-written file.
// Creates the folder chain. With Default access a replaced file keeps its permissions. On
// failure returns false with an error and leaves the old file as it was.
bool WriteTextFileAtomic(const QString& FileName, const QStringList& Lines, QString* Error = nullptr,
                         TFileAccess Access = TFileAccess::Default);

// Removes the temporary files of atomic writes that a killed program left in Folder: a regular
// file named after a file of the folder with a dot and six letters ("Samples.ini.kQzTbW") as the
// writer names them where the file system has no unnamed temporary files. The letters must mix
// the cases as a word does not (not all lower, all upper or capitalised), so that an operator's
// "Samples.ini.backup" stays. Returns the names removed.
QStringList RemoveInterruptedWrites(const QString& Folder);

// As WriteTextFileAtomic, but leaves the file alone when it already holds exactly these lines:
// for files rewritten on a timer, where a synced rewrite of the same bytes is pure cost.
bool WriteTextFileIfChanged(const QString& FileName, const QStringList& Lines, QString* Error = nullptr);

// Appends every line followed by CR LF, in UTF-8; creates the file and its folder chain.
bool AppendTextLines(const QString& FileName, const QStringList& Lines, QString* Error = nullptr);

// Decodes file bytes as ReadTextFile does.
QString DecodeText(const QByteArray& Bytes);

// The system's text for an errno value; a full disk (or a file past its size limit) says
// "the disk is full", whatever the system calls it.
QString SystemErrorText(int Errno);

// Creates a folder with all missing parents. False, with an error naming it, on failure.
bool ForceFolders(const QString& Folder, QString* Error = nullptr);
// The same, but the folders it creates are owner-only (0700): the data folder, whose settings
// may hold a secret. Folders that exist are left as they are.
bool ForcePrivateFolders(const QString& Folder, QString* Error = nullptr);
// Takes the group's and others' permissions off an existing file (one written by an older
// version, or copied with the installation's permissions); false when that fails.
bool RestrictToOwner(const QString& FileName);
