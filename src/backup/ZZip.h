#pragma once
// TZip: one zip archive, its central directory, and adding files to it or extracting entries
// from it. The directory is read here; compressing and extracting are done by libzip.
//
// The program uses it for configuration archives only, always without a progress window,
// passwords or prompts for the disks of a multi-disk set: a multi-disk archive is refused.
//
// Extracting never writes outside the base folder: an archive holding an entry whose name
// climbs out of it ("..") or is absolute (a leading "/" or "\", a drive letter), or an entry
// that is a symbolic link, is refused as a whole before anything is written. Every extracted
// file is checked against its stored checksum and written under a temporary name first, so a
// damaged entry never leaves a half-written file behind.
//
// Not thread-safe; one thread uses one TZip. Separate TZip objects may work on separate
// threads.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <stdexcept>

// An error that ends a zip operation (an archive that cannot be read or written).
class ZipException : public std::runtime_error {
public:
    explicit ZipException(const QString& Text);
    const QString& Text() const { return FText; }

private:
    QString FText;
};

// One central directory file header as stored (little-endian fields of the zip format).
struct TZipDirEntry {
    uint32_t HeaderSig = 0x02014b50;
    uint16_t MadeBy = 0;
    uint16_t NeededVer = 0;
    uint16_t Flag = 0;
    uint16_t ComprMethod = 0;
    uint16_t ModifTime = 0;
    uint16_t ModifDate = 0;
    uint32_t CRC32 = 0;
    uint32_t ComprSize = 0;
    uint32_t UncomprSize = 0;
    uint16_t FileNameLen = 0;
    uint16_t ExtraLen = 0;
    uint16_t FileComLen = 0;
    uint16_t DiskStart = 0;
    uint16_t IntFileAtt = 0;
    uint32_t ExtFileAtt = 0;
    uint32_t RelOffLocal = 0;
};

// One entry of the archive's directory.
struct TFileInfo {
    TZipDirEntry Header;
    bool Encrypted = false;   // bit 0 of the general purpose flags
    QString FileName;         // as stored, every "/" shown as "\"
    QByteArray ExtraField;
    QString FileComment;
};

// The archive's end-of-central-directory record.
struct TZipEndRecord {
    uint32_t HeaderSig = 0x06054b50;
    uint16_t ThisDiskNr = 0;
    uint16_t CentralDiskNr = 0;
    uint16_t EntriesThisDisk = 0;
    uint16_t TotalEntries = 0;
    uint32_t CentralSize = 0;
    uint32_t CentralOffset = 0;
    uint16_t ZipCommentLen = 0;
};

class TZip {
public:
    // Texts of the component, as the operator sees them.
    static inline const QString NotOpenText =
        QStringLiteral("A Zip file must be openned or created before\nAdding, Deleting or Extracting files.");
    static inline const QString NoFilesText = QStringLiteral("No files have been selected.");
    static inline const QString MultiDiskText = QStringLiteral(
        "Cannot Add, Delete or Extract from a multiple disk Zip file...\nMerge this Zip file onto the hard disk before retrying.");

    TZip();
    ~TZip();
    TZip(const TZip&) = delete;
    TZip& operator=(const TZip&) = delete;

    // Opens the archive, creating it as an empty archive (the 22-byte end record alone) when
    // no file has the name, and reads its directory. Raises ZipException when it cannot be
    // created or is not a zip file. An empty name closes the archive.
    void SetZipFileName(const QString& Name);
    const QString& ZipFileName() const { return FZipFileName; }

    const QList<TFileInfo>& Directory() const { return FDirectory; }
    int Count() const { return int(FDirectory.size()); }
    const TZipEndRecord& EndRecord() const { return FEndRecord; }
    // File offset of the end record; -1 before one was read.
    qint64 EndRecordOffset() const { return FEndRecordOffset; }
    const QString& ZipComment() const { return FZipComment; }
    bool OemNames() const { return FOemNames; }
    // Part of a multi-disk set: adding and extracting are refused.
    bool MultiDisk() const;

    // Add: the relative paths below RootDir to add; extract: the entries' wildcards ("*" any
    // run of characters, "/" included; "?" one character; without regard to case).
    QStringList FSpecArgs;
    // Add: the folder the listed paths are relative to.
    QString RootDir;
    // Add options; with 8 (the configuration archives) every listed path is stored as the
    // entry's name. Extract options; with 17 the stored folders are recreated below the base
    // folder and existing files replaced.
    uint8_t AddOptions = 2;
    uint8_t ExtrOptions = 1;
    // Extract: the target folder; empty: the archive's folder.
    QString ExtrBaseDir;
    // Set by another thread to break off the running add or extract (it then raises).
    std::atomic<bool> Cancel{false};

    // A refusal (no archive, no files, a multi-disk archive, a missing target folder): the
    // component's information box. Unset: not shown.
    std::function<void(const QString& Text)> OnMessage;
    // After the archive's contents changed.
    std::function<void()> OnContentsChanged;

    // Adds the files listed in FSpecArgs, each stored under its path relative to RootDir
    // (with "/" between folders) at compression level 9; an entry of the same name is
    // replaced. Returns the number of files added; 0 after a refusal. Clears FSpecArgs and
    // RootDir. Raises ZipException when the archive cannot be written (it then stays as it
    // was: libzip writes a temporary file and renames it over the archive).
    int Add();
    // Extracts the entries matching FSpecArgs below ExtrBaseDir, recreating their folders.
    // Returns the number of files extracted; 0 for an empty directory or a refusal. Clears
    // FSpecArgs. Raises ZipException for a refused (hostile) archive, a checksum error or a
    // file that cannot be written.
    int Extract();

    // Whether a stored entry name may be extracted: relative, no ".." part, no drive letter.
    static bool IsSafeEntryName(const QString& Name);
    // Whether Name (with "/" or "\") matches a wildcard of FSpecArgs.
    static bool MatchesSpec(const QString& Name, const QString& Spec);

private:
    void Reset();
    void ReadDirectory();

    QString FZipFileName;
    QList<TFileInfo> FDirectory;
    TZipEndRecord FEndRecord;
    qint64 FEndRecordOffset = -1;
    QString FZipComment;
    bool FOemNames = false;
};
