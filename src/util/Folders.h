#pragma once
// Folder helpers shared by start-up (the temporary folder) and the configuration archives
// (staging, restoring, resetting).

#include <QString>
#include <QStringList>

// Deletes the folder with everything in it. A symbolic link is removed as a link: the folder
// it points to is not ours to empty. False when something could not be deleted.
bool DeleteFolder(const QString& Folder);

// The files below Folder (subfolders included), as paths relative to it with "/" between
// folders, sorted. Links to folders are not followed; sockets, pipes and devices are left out.
QStringList ListFilesBelow(const QString& Folder);

// Copies every file below Source to the same relative path below Target, creating folders and
// replacing files already there; each file is written under a temporary name and renamed, so a
// target file is either the old one or the complete new one. False with an error naming the
// file on the first failure.
bool CopyFolderFiles(const QString& Source, const QString& Target, QString* Error = nullptr);

// Copies one file as CopyFolderFiles does.
bool CopyFileReplacing(const QString& Source, const QString& Target, QString* Error = nullptr);
