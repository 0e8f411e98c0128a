#include "util/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void SetError(QString* Error, const QString& Text)
{
    if (Error)
        *Error = Text;
}

QByteArray EncodeLines(const QStringList& Lines)
{
    QByteArray Bytes;
    for (const QString& Line : Lines) {
        Bytes += Line.toUtf8();
        Bytes += "\r\n";
    }
    return Bytes;
}

// Writes all of Bytes to the open file Fd; 0, or the errno of the write that failed.
int WriteAll(int Fd, const QByteArray& Bytes)
{
    const char* Data = Bytes.constData();
    qsizetype Left = Bytes.size();
    while (Left > 0) {
        const ssize_t Written = ::write(Fd, Data, size_t(Left));
        if (Written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (Written == 0)
            return ENOSPC;
        Data += Written;
        Left -= Written;
    }
    return 0;
}

bool ForceFileFolder(const QString& FileName, QString* Error)
{
    return ForceFolders(QFileInfo(FileName).absolutePath(), Error);
}

}  // namespace

QString SystemErrorText(int Errno)
{
    const QString System = QString::fromLocal8Bit(std::strerror(Errno));
    switch (Errno) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("the disk is full (%1)").arg(System);
    case EFBIG:
        // Past the file size limit of the process or the file system: no more room either.
        return QStringLiteral("the disk is full for this file (%1)").arg(System);
    default:
        return System;
    }
}

QString DecodeText(const QByteArray& Bytes)
{
    QByteArrayView View(Bytes);
    if (View.startsWith("\xEF\xBB\xBF"))
        View = View.sliced(3);
    QStringDecoder Utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString Text = Utf8.decode(View);
    if (!Utf8.hasError())
        return Text;
    QStringDecoder Cp1251("windows-1251");
    if (Cp1251.isValid())
        return Cp1251.decode(View);
    return QString::fromLatin1(View);
}

bool ReadTextFile(const QString& FileName, QString& Text, QString* Error)
{
    QFile File(FileName);
    if (QFileInfo(FileName).isDir()) {
        SetError(Error, QStringLiteral("Cannot read file \"%1\": it is a folder").arg(FileName));
        return false;
    }
    if (!File.open(QIODevice::ReadOnly)) {
        SetError(Error, QStringLiteral("Cannot read file \"%1\": %2").arg(FileName, File.errorString()));
        return false;
    }
    const QByteArray Bytes = File.readAll();
    if (File.error() != QFileDevice::NoError) {
        SetError(Error, QStringLiteral("Cannot read file \"%1\": %2").arg(FileName, File.errorString()));
        return false;
    }
    Text = DecodeText(Bytes);
    return true;
}

QStringList SplitTextLines(const QString& Text)
{
    QStringList Lines;
    qsizetype Start = 0;
    const qsizetype Size = Text.size();
    for (qsizetype I = 0; I < Size; ++I) {
        const QChar C = Text.at(I);
        if (C != u'\r' && C != u'\n')
            continue;
        Lines.append(Text.mid(Start, I - Start));
        if (C == u'\r' && I + 1 < Size && Text.at(I + 1) == u'\n')
            ++I;
        Start = I + 1;
    }
    if (Start < Size)
        Lines.append(Text.mid(Start));
    return Lines;
}

bool ForceFolders(const QString& Folder, QString* Error)
{
    if (QFileInfo(Folder).isDir() || QDir().mkpath(Folder))
        return true;
    SetError(Error, QStringLiteral("Cannot create folder \"%1\"").arg(Folder));
    return false;
}

bool ForcePrivateFolders(const QString& Folder, QString* Error)
{
    const QString Target = QDir::cleanPath(QDir(Folder).absolutePath());
    // The missing folders from the outermost in.
    QStringList Missing;
    for (QString Path = Target; !QFileInfo::exists(Path);) {
        Missing.prepend(Path);
        const QString Parent = QFileInfo(Path).path();
        if (Parent == Path)
            break;
        Path = Parent;
    }
    for (const QString& Path : Missing) {
        if (::mkdir(QFile::encodeName(Path).constData(), 0700) != 0 && errno != EEXIST) {
            SetError(Error, QStringLiteral("Cannot create folder \"%1\": %2").arg(Path, SystemErrorText(errno)));
            return false;
        }
    }
    if (QFileInfo(Target).isDir())
        return true;
    SetError(Error, QStringLiteral("Cannot create folder \"%1\"").arg(Folder));
    return false;
}

bool RestrictToOwner(const QString& FileName)
{
    struct stat Info {};
    const QByteArray Name = QFile::encodeName(FileName);
    if (::stat(Name.constData(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return false;
    if ((Info.st_mode & (S_IRWXG | S_IRWXO)) == 0)
        return true;
    return ::chmod(Name.constData(), Info.st_mode & (S_IRWXU | S_ISUID | S_ISGID)) == 0;
}

bool WriteTextFileAtomic(const QString& FileName, const QStringList& Lines, QString* Error, TFileAccess Access)
{
    if (!ForceFileFolder(FileName, Error))
        return false;
    QSaveFile File(FileName);
    if (!File.open(QIODevice::WriteOnly)) {
        SetError(Error, QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, File.errorString()));
        return false;
    }
    // The temporary file takes the place of the old one, permissions and all.
    if (Access == TFileAccess::OwnerOnly && ::fchmod(File.handle(), S_IRUSR | S_IWUSR) != 0) {
        SetError(Error, QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, SystemErrorText(errno)));
        File.cancelWriting();
        return false;
    }
    // The bytes go straight to the temporary file, not through the save file's buffer: a
    // buffer flushed only by the commit would hide a full disk, and the commit would then
    // rename an empty or cut-off file over the good one.
    const QByteArray Bytes = EncodeLines(Lines);
    const int WriteErrno = WriteAll(File.handle(), Bytes);
    if (WriteErrno != 0) {
        SetError(Error, QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, SystemErrorText(WriteErrno)));
        File.cancelWriting();
        return false;
    }
    if (!File.commit()) {
        SetError(Error, QStringLiteral("Cannot write file \"%1\": %2").arg(FileName, File.errorString()));
        return false;
    }
    return true;
}

bool WriteTextFileIfChanged(const QString& FileName, const QStringList& Lines, QString* Error)
{
    QFile Old(FileName);
    if (Old.open(QIODevice::ReadOnly) && Old.readAll() == EncodeLines(Lines))
        return true;
    return WriteTextFileAtomic(FileName, Lines, Error);
}

bool AppendTextLines(const QString& FileName, const QStringList& Lines, QString* Error)
{
    if (!ForceFileFolder(FileName, Error))
        return false;
    QFile File(FileName);
    if (!File.open(QIODevice::WriteOnly | QIODevice::Append)) {
        SetError(Error, QStringLiteral("Cannot append to file \"%1\": %2").arg(FileName, File.errorString()));
        return false;
    }
    // A write that stops part-way (a full disk, a file size limit) is taken back: a torn last
    // line would read as a line of its own, and the caller writes the lines again later.
    struct stat Before {};
    const bool Sized = ::fstat(File.handle(), &Before) == 0;
    if (const int WriteErrno = WriteAll(File.handle(), EncodeLines(Lines)); WriteErrno != 0) {
        if (Sized && ::ftruncate(File.handle(), Before.st_size) != 0) {
            // Nothing more to do: the error below is the one that matters.
        }
        SetError(Error, QStringLiteral("Cannot append to file \"%1\": %2").arg(FileName, SystemErrorText(WriteErrno)));
        return false;
    }
    return true;
}

namespace {

// Six ASCII letters whose cases are mixed as no word's are.
bool TemporarySuffix(const QString& Suffix)
{
    if (Suffix.size() != 6)
        return false;
    int Upper = 0;
    for (const QChar C : Suffix) {
        if (C >= u'A' && C <= u'Z')
            ++Upper;
        else if (!(C >= u'a' && C <= u'z'))
            return false;
    }
    const bool Capitalised = Upper == 1 && Suffix.at(0).isUpper();
    return Upper > 0 && Upper < 6 && !Capitalised;
}

}  // namespace

QStringList RemoveInterruptedWrites(const QString& Folder)
{
    QStringList Removed;
    const QDir Dir(Folder);
    for (const QFileInfo& File : Dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QString Name = File.fileName();
        const qsizetype Dot = Name.lastIndexOf(u'.');
        if (Dot <= 0 || !TemporarySuffix(Name.mid(Dot + 1)))
            continue;
        // Only beside the file it was to replace.
        if (!QFileInfo(Dir.filePath(Name.left(Dot))).isFile())
            continue;
        if (QFile::remove(File.absoluteFilePath()))
            Removed.append(Name);
    }
    return Removed;
}
