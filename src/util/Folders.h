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

// How a copy is written.
enum class TCopyMode {
    // Each file under a temporary name, made durable and renamed over the target, so a target
    // file is either the old one or the complete new one (the operator's folders).
    Replace,
    // Straight into the target (a scratch folder of the program's own, where speed counts).
    Scratch,
};

// Copies every file below Source to the same relative path below Target, creating folders and
// replacing files already there. False with an error naming the file on the first failure.
bool CopyFolderFiles(const QString& Source, const QString& Target, TCopyMode Mode, QString* Error = nullptr);

// Copies one file as CopyFolderFiles does.
bool CopyFileReplacing(const QString& Source, const QString& Target, TCopyMode Mode, QString* Error = nullptr);
