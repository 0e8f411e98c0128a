#include "util/Folders.h"

#include "util/TextFile.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

bool DeleteFolder(const QString& Folder)
{
    const QString Path = QDir::cleanPath(Folder);
    const QFileInfo Info(Path);
    if (Info.isSymLink())
        return QFile::remove(Path);
    if (Info.isDir())
        return QDir(Path).removeRecursively();
    return !Info.exists();
}

QStringList ListFilesBelow(const QString& Folder)
{
    QStringList Files;
    const QDir Root(Folder);
    if (!QFileInfo(Folder).isDir())
        return Files;
    QDirIterator It(Folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (It.hasNext())
        Files.append(Root.relativeFilePath(It.next()));
    std::sort(Files.begin(), Files.end());
    return Files;
}

bool CopyFileReplacing(const QString& Source, const QString& Target, TCopyMode Mode, QString* Error)
{
    const auto Fail = [Error](const QString& Name, const QString& Why) {
        if (Error)
            *Error = QStringLiteral("\"%1\": %2").arg(QDir::toNativeSeparators(Name), Why);
        return false;
    };
    QFile In(Source);
    if (!In.open(QIODevice::ReadOnly))
        return Fail(Source, In.errorString());
    QString FolderError;
    if (!ForceFolders(QFileInfo(Target).absolutePath(), &FolderError))
        return Fail(Target, FolderError);
    if (Mode == TCopyMode::Scratch) {
        QFile::remove(Target);
        QFile Out(Target);
        if (!Out.open(QIODevice::WriteOnly))
            return Fail(Target, Out.errorString());
        const auto Failed = [&](const QString& Name, const QString& Why) {
            Out.close();
            QFile::remove(Target);
            return Fail(Name, Why);
        };
        QByteArray Buffer(256 * 1024, Qt::Uninitialized);
        for (;;) {
            const qint64 Read = In.read(Buffer.data(), Buffer.size());
            if (Read < 0)
                return Failed(Source, In.errorString());
            if (Read == 0)
                break;
            if (Out.write(Buffer.constData(), Read) != Read)
                return Failed(Target, Out.errorString());
        }
        if (!Out.flush())
            return Failed(Target, Out.errorString());
        return true;
    }
    QSaveFile Out(Target);
    if (!Out.open(QIODevice::WriteOnly))
        return Fail(Target, Out.errorString());
    QByteArray Buffer(256 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 Read = In.read(Buffer.data(), Buffer.size());
        if (Read < 0)
            return Fail(Source, In.errorString());
        if (Read == 0)
            break;
        if (Out.write(Buffer.constData(), Read) != Read)
            return Fail(Target, Out.errorString());
    }
    if (!Out.commit())
        return Fail(Target, Out.errorString());
    return true;
}

bool CopyFolderFiles(const QString& Source, const QString& Target, TCopyMode Mode, QString* Error)
{
    const QString From = QDir(Source).absolutePath() + "/";
    const QString To = QDir(Target).absolutePath() + "/";
    for (const QString& File : ListFilesBelow(Source)) {
        if (!CopyFileReplacing(From + File, To + File, Mode, Error))
            return false;
    }
    return true;
}
