#include "backup/ZZip.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <sys/stat.h>
#include <zip.h>

#include <memory>

namespace {

constexpr uint32_t EndRecordSig = 0x06054b50;
constexpr uint32_t CentralHeaderSig = 0x02014b50;
constexpr int EndRecordSize = 22;
constexpr int CentralHeaderSize = 46;

QString Quoted(const QString& Text)
{
    return QStringLiteral("\"%1\"").arg(QDir::toNativeSeparators(Text));
}

QString NotValidText(const QString& Name)
{
    return Quoted(Name) + QStringLiteral("\nis not a valid Zip file.");
}

uint16_t Word(const char* Bytes)
{
    const auto* B = reinterpret_cast<const unsigned char*>(Bytes);
    return uint16_t(B[0] | (B[1] << 8));
}

uint32_t Long(const char* Bytes)
{
    const auto* B = reinterpret_cast<const unsigned char*>(Bytes);
    return uint32_t(B[0]) | (uint32_t(B[1]) << 8) | (uint32_t(B[2]) << 16) | (uint32_t(B[3]) << 24);
}

// Names are UTF-8 when the archive says so or when they are valid UTF-8 (libzip writes them so);
// anything else is shown byte for byte.
QString DecodeName(const QByteArray& Bytes)
{
    QString Text = QString::fromUtf8(Bytes);
    if (Text.toUtf8() != Bytes)
        Text = QString::fromLatin1(Bytes);
    return Text;
}

QString LibzipErrorText(zip_error_t* Error)
{
    return QString::fromLocal8Bit(zip_error_strerror(Error));
}

struct TZipCloser {
    void operator()(zip_t* Archive) const { zip_discard(Archive); }
};
using TZipHandle = std::unique_ptr<zip_t, TZipCloser>;

struct TZipFileCloser {
    void operator()(zip_file_t* File) const { zip_fclose(File); }
};

// Opens the archive with libzip, turning its errors into the component's texts.
TZipHandle OpenArchive(const QString& Name, int Flags)
{
    int Code = 0;
    zip_t* Archive = zip_open(QFile::encodeName(Name).constData(), Flags, &Code);
    if (Archive)
        return TZipHandle(Archive);
    if (Code == ZIP_ER_NOZIP || Code == ZIP_ER_INCONS)
        throw ZipException(NotValidText(Name));
    if (Code == ZIP_ER_MULTIDISK)
        throw ZipException(TZip::MultiDiskText);
    zip_error_t Error;
    zip_error_init_with_code(&Error, Code);
    const QString Text = Quoted(Name) + "\n" + LibzipErrorText(&Error);
    zip_error_fini(&Error);
    throw ZipException(Text);
}

int CancelCallback(zip_t*, void* State)
{
    return static_cast<TZip*>(State)->Cancel.load() ? 1 : 0;
}

}  // namespace

ZipException::ZipException(const QString& Text)
    : std::runtime_error(Text.toStdString())
    , FText(Text)
{
}

TZip::TZip() = default;
TZip::~TZip() = default;

void TZip::Reset()
{
    FZipComment.clear();
    FOemNames = false;
    FEndRecord = TZipEndRecord();
    FEndRecordOffset = -1;
    FDirectory.clear();
}

bool TZip::MultiDisk() const
{
    return FEndRecordOffset >= 0 && (FEndRecord.ThisDiskNr != 0 || FEndRecord.CentralDiskNr != 0);
}

void TZip::SetZipFileName(const QString& Name)
{
    Reset();
    FZipFileName = Name;
    if (Name.isEmpty()) {
        if (OnContentsChanged)
            OnContentsChanged();
        return;
    }
    const QFileInfo Info(Name);
    if (!Info.exists()) {
        // An empty archive: the end record alone, every field after the signature 0.
        QSaveFile File(Name);
        QByteArray Empty(EndRecordSize, '\0');
        Empty[0] = 0x50;
        Empty[1] = 0x4b;
        Empty[2] = 0x05;
        Empty[3] = 0x06;
        if (!File.open(QIODevice::WriteOnly) || File.write(Empty) != Empty.size() || !File.commit())
            throw ZipException(QStringLiteral("Unable to create \n%1").arg(Quoted(Name)));
    }
    ReadDirectory();
    if (OnContentsChanged)
        OnContentsChanged();
}

void TZip::ReadDirectory()
{
    FDirectory.clear();
    QFile File(FZipFileName);
    if (!File.open(QIODevice::ReadOnly))
        throw ZipException(Quoted(FZipFileName) + "\n" + File.errorString());
    const qint64 Size = File.size();
    if (Size < EndRecordSize)
        throw ZipException(NotValidText(FZipFileName));

    // The end record: the last 22 bytes, or (after a comment) found by a backward scan of the
    // last 64 KB.
    qint64 Offset = -1;
    QByteArray Record;
    File.seek(Size - EndRecordSize);
    Record = File.read(EndRecordSize);
    if (Record.size() == EndRecordSize && Long(Record.constData()) == EndRecordSig) {
        Offset = Size - EndRecordSize;
    } else {
        const qint64 Tail = std::min<qint64>(Size, 65535);
        File.seek(Size - Tail);
        const QByteArray Bytes = File.read(Tail);
        for (qint64 I = Bytes.size() - EndRecordSize; I >= 0; --I) {
            if (Long(Bytes.constData() + I) == EndRecordSig) {
                Offset = Size - Tail + I;
                Record = Bytes.mid(I, EndRecordSize);
                break;
            }
        }
    }
    if (Offset < 0)
        throw ZipException(NotValidText(FZipFileName));
    const char* R = Record.constData();
    FEndRecord.HeaderSig = Long(R);
    FEndRecord.ThisDiskNr = Word(R + 4);
    FEndRecord.CentralDiskNr = Word(R + 6);
    FEndRecord.EntriesThisDisk = Word(R + 8);
    FEndRecord.TotalEntries = Word(R + 10);
    FEndRecord.CentralSize = Long(R + 12);
    FEndRecord.CentralOffset = Long(R + 16);
    FEndRecord.ZipCommentLen = Word(R + 20);
    FEndRecordOffset = Offset;
    if (FEndRecord.ThisDiskNr > 1000 || FEndRecord.CentralDiskNr > 1000)
        throw ZipException(NotValidText(FZipFileName));
    File.seek(Offset + EndRecordSize);
    const QByteArray Comment = File.read(FEndRecord.ZipCommentLen);
    FZipComment = Comment.size() == FEndRecord.ZipCommentLen ? DecodeName(Comment) : QString();

    // The directory of a multi-disk set lies on other disks; such an archive is refused anyway.
    if (FEndRecord.TotalEntries == 0 || MultiDisk())
        return;
    const auto Fail = [this] {
        FDirectory.clear();
        throw ZipException(QStringLiteral("Error reading 'CentralFileHeader'!"));
    };
    const qint64 Start = Offset - qint64(FEndRecord.CentralSize);
    if (Start < 0 || !File.seek(Start))
        Fail();
    for (int Index = 0; Index < FEndRecord.TotalEntries; ++Index) {
        const QByteArray H = File.read(CentralHeaderSize);
        if (H.size() != CentralHeaderSize || Long(H.constData()) != CentralHeaderSig)
            Fail();
        const char* P = H.constData();
        TFileInfo Info;
        TZipDirEntry& E = Info.Header;
        E.HeaderSig = Long(P);
        E.MadeBy = Word(P + 4);
        E.NeededVer = Word(P + 6);
        E.Flag = Word(P + 8);
        E.ComprMethod = Word(P + 10);
        E.ModifTime = Word(P + 12);
        E.ModifDate = Word(P + 14);
        E.CRC32 = Long(P + 16);
        E.ComprSize = Long(P + 20);
        E.UncomprSize = Long(P + 24);
        E.FileNameLen = Word(P + 28);
        E.ExtraLen = Word(P + 30);
        E.FileComLen = Word(P + 32);
        E.DiskStart = Word(P + 34);
        E.IntFileAtt = Word(P + 36);
        E.ExtFileAtt = Long(P + 38);
        E.RelOffLocal = Long(P + 42);
        if (Index == 0) {
            const int Host = E.MadeBy >> 8;
            FOemNames = Host == 0 || Host == 6 || (Host == 11 && (E.MadeBy & 0xff) == 50);
        }
        const QByteArray Name = File.read(E.FileNameLen);
        Info.ExtraField = File.read(E.ExtraLen);
        const QByteArray FileComment = File.read(E.FileComLen);
        if (Name.size() != E.FileNameLen || Info.ExtraField.size() != E.ExtraLen || FileComment.size() != E.FileComLen)
            Fail();
        Info.Encrypted = (E.Flag & 1) != 0;
        Info.FileName = DecodeName(Name).replace(u'/', u'\\');
        Info.FileComment = DecodeName(FileComment);
        FDirectory.append(Info);
    }
}

bool TZip::IsSafeEntryName(const QString& Name)
{
    if (Name.isEmpty() || Name.startsWith(u'/') || Name.startsWith(u'\\') || Name.contains(QChar(0)))
        return false;
    // A drive letter ("C:") anywhere a path could start.
    static const QRegularExpression Drive(QStringLiteral("^[A-Za-z]:"));
    if (Drive.match(Name).hasMatch())
        return false;
    const QStringList Parts = QString(Name).replace(u'\\', u'/').split(u'/');
    for (const QString& Part : Parts) {
        if (Part == QLatin1String(".."))
            return false;
    }
    return true;
}

bool TZip::MatchesSpec(const QString& Name, const QString& Spec)
{
    QString Pattern;
    const QString Wanted = QString(Spec).replace(u'\\', u'/');
    for (const QChar C : Wanted) {
        if (C == u'*')
            Pattern += QStringLiteral(".*");
        else if (C == u'?')
            Pattern += u'.';
        else
            Pattern += QRegularExpression::escape(QString(C));
    }
    const QRegularExpression Expression(QRegularExpression::anchoredPattern(Pattern),
                                        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    return Expression.match(QString(Name).replace(u'\\', u'/')).hasMatch();
}

int TZip::Add()
{
    const auto Refuse = [this](const QString& Text) {
        if (OnMessage)
            OnMessage(Text);
        FSpecArgs.clear();
        RootDir.clear();
        return 0;
    };
    if (FZipFileName.isEmpty())
        return Refuse(NotOpenText);
    if (FSpecArgs.isEmpty())
        return Refuse(NoFilesText);
    if (MultiDisk())
        return Refuse(MultiDiskText);
    Cancel = false;

    const QStringList Specs = FSpecArgs;
    const QString Root = RootDir.isEmpty() || !QFileInfo(RootDir).isDir() ? QString() : QDir(RootDir).absolutePath() + "/";
    FSpecArgs.clear();
    RootDir.clear();

    TZipHandle Archive = OpenArchive(FZipFileName, ZIP_CREATE);
    zip_register_cancel_callback_with_state(Archive.get(), CancelCallback, nullptr, this);
    const auto Failed = [&](const QString& What) {
        throw ZipException(Quoted(What) + "\n" + LibzipErrorText(zip_get_error(Archive.get())));
    };
    int Added = 0;
    for (const QString& Spec : Specs) {
        const QString Path = Root + Spec;
        const QByteArray EntryName = QString(Spec).replace(u'\\', u'/').toUtf8();
        zip_error_t Error;
        zip_error_init(&Error);
        zip_source_t* Source = zip_source_file_create(QFile::encodeName(Path).constData(), 0, -1, &Error);
        if (!Source) {
            const QString Text = Quoted(Path) + "\n" + LibzipErrorText(&Error);
            zip_error_fini(&Error);
            throw ZipException(Text);
        }
        zip_error_fini(&Error);
        const zip_int64_t Index = zip_file_add(Archive.get(), EntryName.constData(), Source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (Index < 0) {
            zip_source_free(Source);
            Failed(Path);
        }
        // Regular files readable by everyone, as unzip and file managers expect them.
        if (zip_set_file_compression(Archive.get(), zip_uint64_t(Index), ZIP_CM_DEFLATE, 9) != 0
            || zip_file_set_external_attributes(Archive.get(), zip_uint64_t(Index), 0, ZIP_OPSYS_UNIX,
                                                (uint32_t(S_IFREG) | 0644u) << 16) != 0)
            Failed(Path);
        ++Added;
    }
    // The archive is written here: libzip writes a temporary file beside it and renames it over
    // the archive only when complete.
    if (zip_close(Archive.get()) != 0)
        Failed(FZipFileName);
    Archive.release();
    if (Added > 0) {
        ReadDirectory();
        if (OnContentsChanged)
            OnContentsChanged();
    }
    return Added;
}

int TZip::Extract()
{
    const QStringList Specs = FSpecArgs;
    FSpecArgs.clear();
    if (FDirectory.isEmpty())
        return 0;
    if (MultiDisk()) {
        if (OnMessage)
            OnMessage(MultiDiskText);
        return 0;
    }
    const QString Base = ExtrBaseDir.isEmpty() ? QFileInfo(FZipFileName).absolutePath() : ExtrBaseDir;
    if (!QFileInfo(Base).isDir()) {
        if (OnMessage)
            OnMessage(QStringLiteral("Unable to extract files to:\n%1\nThis folder does not exist.").arg(Quoted(Base)));
        return 0;
    }
    Cancel = false;
    const QString BaseFolder = QDir(Base).absolutePath() + "/";

    TZipHandle Archive = OpenArchive(FZipFileName, ZIP_RDONLY | ZIP_CHECKCONS);
    const zip_int64_t Entries = zip_get_num_entries(Archive.get(), 0);

    // The whole archive is looked at before anything is written: one hostile entry refuses it.
    QList<zip_uint64_t> Wanted;
    QStringList Names;
    for (zip_int64_t Index = 0; Index < Entries; ++Index) {
        const char* Raw = zip_get_name(Archive.get(), zip_uint64_t(Index), ZIP_FL_ENC_GUESS);
        const QString Name = Raw ? QString::fromUtf8(Raw) : QString();
        zip_uint8_t System = 0;
        zip_uint32_t Attributes = 0;
        zip_file_get_external_attributes(Archive.get(), zip_uint64_t(Index), 0, &System, &Attributes);
        const bool Link = System == ZIP_OPSYS_UNIX && ((Attributes >> 16) & S_IFMT) == S_IFLNK;
        if (!IsSafeEntryName(Name) || Link)
            throw ZipException(QStringLiteral("%1\nholds the entry %2, which cannot be extracted safely; nothing was extracted.")
                                   .arg(Quoted(FZipFileName), Quoted(Name)));
        for (const QString& Spec : Specs) {
            if (MatchesSpec(Name, Spec)) {
                Wanted.append(zip_uint64_t(Index));
                Names.append(QString(Name).replace(u'\\', u'/'));
                break;
            }
        }
    }

    int Extracted = 0;
    QByteArray Buffer(64 * 1024, Qt::Uninitialized);
    for (int I = 0; I < Wanted.size(); ++I) {
        if (Cancel)
            throw ZipException(QStringLiteral("Extraction of %1 was cancelled.").arg(Quoted(FZipFileName)));
        const QString Target = BaseFolder + Names[I];
        if (Names[I].endsWith(u'/')) {
            QDir().mkpath(Target);
            continue;
        }
        if (!QDir().mkpath(QFileInfo(Target).absolutePath()))
            throw ZipException(QStringLiteral("Unable to create the folder of\n%1").arg(Quoted(Target)));
        std::unique_ptr<zip_file_t, TZipFileCloser> Entry(zip_fopen_index(Archive.get(), Wanted[I], 0));
        if (!Entry)
            throw ZipException(Quoted(Names[I]) + "\n" + LibzipErrorText(zip_get_error(Archive.get())));
        QSaveFile Out(Target);
        if (!Out.open(QIODevice::WriteOnly))
            throw ZipException(Quoted(Target) + "\n" + Out.errorString());
        for (;;) {
            // The last read checks the entry's checksum.
            const zip_int64_t Read = zip_fread(Entry.get(), Buffer.data(), zip_uint64_t(Buffer.size()));
            if (Read < 0) {
                Out.cancelWriting();
                throw ZipException(Quoted(Names[I]) + "\n" + LibzipErrorText(zip_file_get_error(Entry.get())));
            }
            if (Read == 0)
                break;
            if (Out.write(Buffer.constData(), Read) != Read) {
                Out.cancelWriting();
                throw ZipException(Quoted(Target) + "\n" + Out.errorString());
            }
        }
        if (!Out.commit())
            throw ZipException(Quoted(Target) + "\n" + Out.errorString());
        ++Extracted;
    }
    return Extracted;
}
