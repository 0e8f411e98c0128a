#pragma once
// INI files as the program writes them: section lines "[Name]", entry lines "Key=Value".
//
// The whole file is read when the object is created and written back (folder created, file
// replaced atomically, readable by its owner alone, since a settings file may hold a secret)
// when it is destroyed or UpdateFile is called, but only when something changed. Writing keeps everything else of the file as it was: an existing entry is replaced
// in place, a new entry goes to the end of its section (before the empty line that precedes
// the next section), a new section starts after one empty line. So entries added by hand, and
// their order, survive a save.
//
// A section line is a bracketed line without "=" (so section names hold no "=", as keys do
// not); any line with "=" is an entry, whatever brackets its key and value carry.
// Matching: a section by its whole (trimmed) line without regard to case; a key with case
// significant, after splitting the entry line at its first "=" and trimming both parts.

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class TIniFile {
public:
    // Reads the file; a missing file gives an empty one. A file that exists but cannot be read
    // also gives an empty one, with ReadError set, and is then never written back, so a
    // passing fault cannot wipe the settings.
    explicit TIniFile(const QString& FileName);
    // Writes the file back when it was changed; failures are ignored here (call UpdateFile
    // first to see them).
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const QString& FileName() const { return Name; }
    // Why the file could not be read; empty when it was read or did not exist.
    const QString& ReadError() const { return LoadError; }
    bool Modified() const { return Dirty; }
    // The file's lines as they stand in memory.
    const QStringList& Lines() const { return Text; }

    bool SectionExists(const QString& Section) const;
    bool ValueExists(const QString& Section, const QString& Key) const;
    // Section names in file order (without brackets).
    QStringList ReadSections() const;
    // Keys of a section in file order.
    QStringList ReadSection(const QString& Section) const;
    // Key and value of every entry of a section in file order.
    QList<QPair<QString, QString>> ReadSectionValues(const QString& Section) const;

    QString ReadString(const QString& Section, const QString& Key, const QString& Default) const;
    // Decimal whole number; Default when missing or not a number.
    int ReadInteger(const QString& Section, const QString& Key, int Default) const;
    // "True"/"False" or "1"/"0" without regard to case; Default otherwise.
    bool ReadBool(const QString& Section, const QString& Key, bool Default) const;
    // A finite fraction with "." (or "," as older files wrote it, or the user's decimal
    // separator); Default otherwise.
    double ReadFloat(const QString& Section, const QString& Key, double Default) const;

    // An entry is one line: line breaks in Section, Key or Value are written as blanks.
    void WriteString(const QString& Section, const QString& Key, const QString& Value);
    void WriteInteger(const QString& Section, const QString& Key, int Value);
    // "True" or "False".
    void WriteBool(const QString& Section, const QString& Key, bool Value);
    // Shortest form that reads back the same value, with "." whatever the locale.
    void WriteFloat(const QString& Section, const QString& Key, double Value);

    void DeleteKey(const QString& Section, const QString& Key);
    // Removes the section line, its entries and the empty lines after them.
    void EraseSection(const QString& Section);

    // Writes the file now when it was changed. False with an error when it cannot be written
    // or was not readable when opened; the file on disk is then left as it was.
    bool UpdateFile(QString* Error = nullptr);

    static QString FloatToText(double Value);

private:
    struct TRange {
        qsizetype Header = -1;  // index of the section line, -1 when the section is missing
        qsizetype End = 0;      // index of the next section line, or the line count
    };
    TRange FindSection(const QString& Section) const;
    // Index of the entry line of Key inside the range, or -1.
    qsizetype FindKey(const TRange& Range, const QString& Key) const;
    static bool IsSectionLine(const QString& Line);
    static bool SplitEntry(const QString& Line, QString& Key, QString& Value);

    QString Name;
    QString LoadError;
    QStringList Text;
    bool Dirty = false;
};
