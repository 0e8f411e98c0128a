#include "util/IniFile.h"

#include "util/KeyValueText.h"
#include "util/TextFile.h"

#include <QFileInfo>
#include <QLocale>

#include <cmath>

TIniFile::TIniFile(const QString& FileName)
    : Name(FileName)
{
    if (!QFileInfo::exists(FileName))
        return;
    QString Content;
    if (ReadTextFile(FileName, Content, &LoadError))
        Text = SplitTextLines(Content);
}

TIniFile::~TIniFile()
{
    UpdateFile();
}

bool TIniFile::IsSectionLine(const QString& Line)
{
    // A line with "=" is an entry even when it is bracketed: the program writes the key "[x"
    // with the value "y]" as "[x=y]", and that entry must read back as an entry.
    const QString Trimmed = Line.trimmed();
    return Trimmed.startsWith(u'[') && Trimmed.endsWith(u']') && !Trimmed.contains(u'=');
}

bool TIniFile::SplitEntry(const QString& Line, QString& Key, QString& Value)
{
    const qsizetype Eq = Line.indexOf(u'=');
    if (Eq < 0)
        return false;
    Key = Line.left(Eq).trimmed();
    Value = Line.mid(Eq + 1).trimmed();
    return true;
}

TIniFile::TRange TIniFile::FindSection(const QString& Section) const
{
    const QString Header = u'[' + Section + u']';
    TRange Range;
    for (qsizetype I = 0; I < Text.size(); ++I) {
        if (Text.at(I).trimmed().compare(Header, Qt::CaseInsensitive) == 0) {
            Range.Header = I;
            break;
        }
    }
    if (Range.Header < 0)
        return Range;
    Range.End = Text.size();
    for (qsizetype I = Range.Header + 1; I < Text.size(); ++I) {
        if (IsSectionLine(Text.at(I))) {
            Range.End = I;
            break;
        }
    }
    return Range;
}

qsizetype TIniFile::FindKey(const TRange& Range, const QString& Key) const
{
    if (Range.Header < 0)
        return -1;
    QString LineKey, Value;
    for (qsizetype I = Range.Header + 1; I < Range.End; ++I)
        if (SplitEntry(Text.at(I), LineKey, Value) && LineKey == Key)
            return I;
    return -1;
}

bool TIniFile::SectionExists(const QString& Section) const
{
    return FindSection(Section).Header >= 0;
}

bool TIniFile::ValueExists(const QString& Section, const QString& Key) const
{
    return FindKey(FindSection(Section), Key) >= 0;
}

QStringList TIniFile::ReadSections() const
{
    QStringList Sections;
    for (const QString& Line : Text) {
        if (IsSectionLine(Line)) {
            const QString Trimmed = Line.trimmed();
            Sections.append(Trimmed.mid(1, Trimmed.size() - 2));
        }
    }
    return Sections;
}

QStringList TIniFile::ReadSection(const QString& Section) const
{
    QStringList Keys;
    for (const auto& Entry : ReadSectionValues(Section))
        Keys.append(Entry.first);
    return Keys;
}

QList<QPair<QString, QString>> TIniFile::ReadSectionValues(const QString& Section) const
{
    QList<QPair<QString, QString>> Entries;
    const TRange Range = FindSection(Section);
    if (Range.Header < 0)
        return Entries;
    QString Key, Value;
    for (qsizetype I = Range.Header + 1; I < Range.End; ++I)
        if (SplitEntry(Text.at(I), Key, Value))
            Entries.append({Key, Value});
    return Entries;
}

QString TIniFile::ReadString(const QString& Section, const QString& Key, const QString& Default) const
{
    const qsizetype Index = FindKey(FindSection(Section), Key);
    if (Index < 0)
        return Default;
    QString LineKey, Value;
    SplitEntry(Text.at(Index), LineKey, Value);
    return Value;
}

int TIniFile::ReadInteger(const QString& Section, const QString& Key, int Default) const
{
    return StrToIntDef(ReadString(Section, Key, QString()), Default);
}

bool TIniFile::ReadBool(const QString& Section, const QString& Key, bool Default) const
{
    const QString Value = ReadString(Section, Key, QString());
    if (Value.compare(u"True", Qt::CaseInsensitive) == 0 || Value == u"1")
        return true;
    if (Value.compare(u"False", Qt::CaseInsensitive) == 0 || Value == u"0")
        return false;
    return Default;
}

double TIniFile::ReadFloat(const QString& Section, const QString& Key, double Default) const
{
    return StrToFloatDef(ReadString(Section, Key, QString()), Default);
}

QString TIniFile::FloatToText(double Value)
{
    return QString::number(Value, 'g', QLocale::FloatingPointShortest);
}

void TIniFile::WriteString(const QString& Section, const QString& Key, const QString& Value)
{
    // A line break inside an entry would start a line of its own on the next read, and could
    // even open a section: names and value are kept on their one line.
    const QString SectionName = OneLineValue(Section);
    const QString KeyName = OneLineValue(Key);
    const QString Entry = KeyName + u'=' + OneLineValue(Value);
    TRange Range = FindSection(SectionName);
    if (Range.Header < 0) {
        if (!Text.isEmpty() && !Text.last().trimmed().isEmpty())
            Text.append(QString());
        Text.append(u'[' + SectionName + u']');
        Text.append(Entry);
        Dirty = true;
        return;
    }
    const qsizetype Index = FindKey(Range, KeyName);
    if (Index >= 0) {
        if (Text.at(Index) != Entry) {
            Text[Index] = Entry;
            Dirty = true;
        }
        return;
    }
    // After the last line of the section that is not empty.
    qsizetype Insert = Range.End;
    while (Insert > Range.Header + 1 && Text.at(Insert - 1).trimmed().isEmpty())
        --Insert;
    Text.insert(Insert, Entry);
    Dirty = true;
}

void TIniFile::WriteInteger(const QString& Section, const QString& Key, int Value)
{
    WriteString(Section, Key, QString::number(Value));
}

void TIniFile::WriteBool(const QString& Section, const QString& Key, bool Value)
{
    WriteString(Section, Key, Value ? QStringLiteral("True") : QStringLiteral("False"));
}

void TIniFile::WriteFloat(const QString& Section, const QString& Key, double Value)
{
    WriteString(Section, Key, FloatToText(Value));
}

void TIniFile::DeleteKey(const QString& Section, const QString& Key)
{
    const qsizetype Index = FindKey(FindSection(Section), Key);
    if (Index < 0)
        return;
    Text.removeAt(Index);
    Dirty = true;
}

void TIniFile::EraseSection(const QString& Section)
{
    const TRange Range = FindSection(Section);
    if (Range.Header < 0)
        return;
    Text.remove(Range.Header, Range.End - Range.Header);
    Dirty = true;
}

bool TIniFile::UpdateFile(QString* Error)
{
    if (!Dirty)
        return true;
    if (!LoadError.isEmpty()) {
        if (Error)
            *Error = LoadError;
        return false;
    }
    // Settings files may hold a secret (the mail password): they are the owner's alone.
    if (!WriteTextFileAtomic(Name, Text, Error, TFileAccess::OwnerOnly))
        return false;
    Dirty = false;
    return true;
}
