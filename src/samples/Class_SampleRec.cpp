#include "samples/Class_SampleRec.h"

#include "lang/Lang.h"
#include "util/KeyValueText.h"
#include "util/TextFile.h"

#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const char16_t* const SampleTypeNames[] = {u"File", u"Silence", u"Signal", u"Command"};
const char16_t* const SignalModeNames[] = {u"Left", u"Right", u"Add", u"Dec"};
const char16_t* const DetectMethodNames[] = {u"Robust", u"Spectral"};
const char16_t* const LevelModeNames[] = {u"Peak", u"RMS"};

QString BoolToStr(bool Value)
{
    return Value ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

// "TRUE" or "FALSE" without regard to case; any other text reads as false and does not parse.
bool ReadBool(const QString& Value, bool& Target)
{
    Target = SameKey(Value, QStringLiteral("TRUE"));
    return Target || SameKey(Value, QStringLiteral("FALSE"));
}

// The ranges the sample dialog offers. A hand-edited file can hold anything; every value read
// is brought to the nearest limit, so no later arithmetic overflows and no level detector
// fires on a threshold or time no operator could have set.
constexpr qint32 MaxNumber = 99999998;  // shown as 99999999
constexpr qint32 MaxSampleWait = 99999999;
constexpr qint32 MaxPrecision = 4;
constexpr qint32 MaxSense = 100;
constexpr double MaxSignalTime = 99999999;
constexpr double MinSignaldB = -91;
constexpr double MaxSignaldB = 0;
constexpr qint32 MinCommandSpeed = 1;
constexpr qint32 MaxCommandSpeed = 10;
constexpr qint32 MaxRemindMinutes = 9999;

// A whole number brought into Min..Max; one that does not parse gives Fallback and false.
bool ReadInt(const QString& Value, qint32& Target, qint32 Fallback, qint32 Min, qint32 Max)
{
    bool Ok = false;
    const int Number = Value.toInt(&Ok, 10);
    Target = Ok ? std::clamp(Number, Min, Max) : Fallback;
    return Ok;
}

bool ReadFloat(const QString& Value, double& Target, double Fallback, double Min, double Max)
{
    double Number = Fallback;
    const bool Ok = TextToFloat(Value, Number);
    Target = Ok ? std::clamp(Number, Min, Max) : Fallback;
    return Ok;
}

// Value - 50 for the old "Sensitivity" key.
bool ReadSensitivity(const QString& Value, qint32& Sense)
{
    bool Ok = false;
    const int Number = Value.toInt(&Ok, 10);
    Sense = qint32(std::clamp<qint64>(qint64(Ok ? Number : 50) - 50, 0, MaxSense));
    return Ok;
}

// A type number of an older file; a number outside the four reads as File, as an unknown type
// name does, so that saving and loading again gives the same sample.
bool ReadSampleTypeNumber(const QString& Value, TSampleType& Type)
{
    bool Ok = false;
    const int Number = Value.toInt(&Ok, 10);
    Ok = Ok && Number >= 0 && Number <= int(TSampleType::Command);
    Type = Ok ? TSampleType(Number) : TSampleType::File;
    return Ok;
}

// The name at Index in a table of names, empty outside it.
template <size_t N>
QString NameAt(const char16_t* const (&Names)[N], size_t Index)
{
    return Index < N ? QString::fromUtf16(Names[Index]) : QString();
}

// Index of the name that equals Name without regard to case, or Default.
template <size_t N>
size_t IndexOfName(const char16_t* const (&Names)[N], const QString& Name, size_t Default)
{
    for (size_t I = 0; I < N; ++I)
        if (SameKey(Name, QString::fromUtf16(Names[I])))
            return I;
    return Default;
}

// The value of a key that takes one of Names: Target as StrTo... gives it, and whether the name
// is one of them.
template <typename T, size_t N>
bool ReadName(const char16_t* const (&Names)[N], const QString& Value, T& Target, T Default)
{
    const size_t Index = IndexOfName(Names, Value, N);
    Target = Index < N ? T(Index) : Default;
    return Index < N;
}

// The longest value text a warning quotes.
constexpr qsizetype MaxQuotedValue = 60;

}  // namespace

QString SampleTypeToStr(TSampleType Type)
{
    return NameAt(SampleTypeNames, size_t(Type));
}

TSampleType StrToSampleType(const QString& Name)
{
    return TSampleType(IndexOfName(SampleTypeNames, Name, size_t(TSampleType::File)));
}

QString SignalModeToStr(TSignalMode Mode)
{
    return NameAt(SignalModeNames, size_t(Mode));
}

TSignalMode StrToSignalMode(const QString& Name)
{
    return TSignalMode(IndexOfName(SignalModeNames, Name, size_t(TSignalMode::Add)));
}

QString SampleFloatToStr(double Value)
{
    if (!std::isfinite(Value))
        return QStringLiteral("0");
    double Rounded = Value;
    // Values too large to count in thousandths have no fraction left to round.
    if (double Thousandths = Value * 1000.0; std::isfinite(Thousandths)) {
        // A value that is a whole number of thousandths is taken as exactly that: in binary
        // -1.001 gives -1000.9999..., which cutting toward zero would turn into -1.
        if (const double Nearest = std::round(Thousandths);
            std::fabs(Thousandths - Nearest) <= 1e-9 * std::max(1.0, std::fabs(Thousandths)))
            Thousandths = Nearest;
        double Kept = std::trunc(Thousandths);
        if (Value > 0 && Thousandths - Kept > 0.45)
            Kept += 1.0;
        Rounded = Kept / 1000.0;
    }
    if (Rounded == 0)
        Rounded = 0;  // no "-0"
    QString Text = QString::number(Rounded, 'g', QLocale::FloatingPointShortest);
    Text.replace(u'.', QLocale().decimalPoint());
    return Text;
}

QString DetectMethodToStr(TDetectMethod Method)
{
    return NameAt(DetectMethodNames, size_t(Method));
}

TDetectMethod StrToDetectMethod(const QString& Name)
{
    return TDetectMethod(IndexOfName(DetectMethodNames, Name, size_t(TDetectMethod::Robust)));
}

QString LevelModeToStr(TLevelMode Mode)
{
    return NameAt(LevelModeNames, size_t(Mode));
}

TLevelMode StrToLevelMode(const QString& Name)
{
    return TLevelMode(IndexOfName(LevelModeNames, Name, size_t(TLevelMode::Peak)));
}

void TSampleRec::SetDefaults()
{
    SignalMode = TSignalMode::Left;
    Description.clear();
    Type = TSampleType::Command;
    Number = -1;
    Enabled = false;
    AutoDisable = false;
    UseLowFreq = false;
    AutoStart = false;
    Precision = 2;
    Path.clear();
    SampleWait = 0;
    Sense = 50;
    SignalTime = 5.0;
    SignaldB = -40.0;
    Command.clear();
    CommandSpeed = 5;
    FileExecute.clear();
    Method = TDetectMethod::Robust;
    LevelMode = TLevelMode::Peak;
    AlarmOnce = false;
    RemindMinutes = 0;
}

void TSampleRec::SaveToStrings(QStringList& Lines) const
{
    auto Put = [&Lines](const char* Key, const QString& Value) {
        Lines.append(QLatin1String(Key) + u'=' + OneLineValue(Value));
    };
    Put("Description", Description);
    Put("Number", QString::number(Number));
    Put("Type", SampleTypeToStr(Type));
    Put("Sense", QString::number(Sense));
    Put("SampleWait", QString::number(SampleWait));
    Put("AutoDisable", BoolToStr(AutoDisable));
    Put("AutoStart", BoolToStr(AutoStart));
    Put("UseLowFreq", BoolToStr(UseLowFreq));
    Put("SignalMode", SignalModeToStr(SignalMode));
    switch (Type) {
    case TSampleType::File:
        Put("Path", Path);
        Put("Precision", QString::number(Precision));
        Put("Method", DetectMethodToStr(Method));
        break;
    case TSampleType::Silence:
    case TSampleType::Signal:
        Put("SignalTime", SampleFloatToStr(SignalTime));
        Put("SignaldB", SampleFloatToStr(SignaldB));
        Put("LevelMode", LevelModeToStr(LevelMode));
        Put("AlarmOnce", BoolToStr(AlarmOnce));
        Put("RemindMinutes", QString::number(RemindMinutes));
        break;
    case TSampleType::Command:
        Put("Command", Command);
        Put("CommandSpeed", QString::number(CommandSpeed));
        Put("Method", DetectMethodToStr(Method));
        break;
    }
    Put("FileExecute", FileExecute);
}

void TSampleRec::AcceptEditedValues()
{
    LoadProblems.clear();
    StoredLines.clear();
}

bool TSampleRec::ReadValue(const QString& Key, const QString& Value)
{
    auto Is = [&Key](const char* Name) { return SameKey(Key, QLatin1String(Name)); };
    if (Is("SampleType"))  // older files
        return ReadSampleTypeNumber(Value, Type);
    if (Is("Sensitivity"))  // older files, 50 above today's Sense
        return ReadSensitivity(Value, Sense);
    if (Is("Description"))
        Description = Value;
    else if (Is("Number"))
        return ReadInt(Value, Number, -1, -1, MaxNumber);
    else if (Is("Type"))
        return ReadName(SampleTypeNames, Value, Type, TSampleType::File);
    else if (Is("Sense"))
        return ReadInt(Value, Sense, 0, 0, MaxSense);
    else if (Is("SignalMode"))
        return ReadName(SignalModeNames, Value, SignalMode, TSignalMode::Add);
    else if (Is("Precision"))
        return ReadInt(Value, Precision, 0, 0, MaxPrecision);
    else if (Is("AutoDisable"))
        return ReadBool(Value, AutoDisable);
    else if (Is("AutoStart"))
        return ReadBool(Value, AutoStart);
    else if (Is("UseLowFreq"))
        return ReadBool(Value, UseLowFreq);
    else if (Is("SampleWait"))
        return ReadInt(Value, SampleWait, 0, 0, MaxSampleWait);
    else if (Is("Path"))
        Path = Value;
    else if (Is("SignalTime"))
        return ReadFloat(Value, SignalTime, 0, 0, MaxSignalTime);
    else if (Is("SignaldB"))
        return ReadFloat(Value, SignaldB, 0, MinSignaldB, MaxSignaldB);
    else if (Is("Command"))
        Command = Value;
    else if (Is("CommandSpeed"))
        return ReadInt(Value, CommandSpeed, 5, MinCommandSpeed, MaxCommandSpeed);
    else if (Is("FileExecute"))
        FileExecute = Value;
    else if (Is("Method"))  // empty: the default
        return ReadName(DetectMethodNames, Value, Method, TDetectMethod::Robust) || Value.isEmpty();
    else if (Is("LevelMode"))  // empty: the default
        return ReadName(LevelModeNames, Value, LevelMode, TLevelMode::Peak) || Value.isEmpty();
    else if (Is("AlarmOnce"))
        return ReadBool(Value, AlarmOnce);
    else if (Is("RemindMinutes"))
        return ReadInt(Value, RemindMinutes, 0, 0, MaxRemindMinutes);
    return true;
}

QString SampleLoadProblemsText(const TSampleRec& Rec, const QString& MessageKey)
{
    if (!Rec.HasLoadProblems())
        return QString();
    QStringList Parts;
    for (const TSampleValueProblem& Problem : Rec.LoadProblems) {
        if (Problem.Missing) {
            Parts << FormatMessageText(QStringLiteral("SampleKeyMissing"), {Problem.Key});
            continue;
        }
        QString Text = OneLineValue(Problem.Text);
        if (Text.size() > MaxQuotedValue)
            Text = Text.left(MaxQuotedValue) + QStringLiteral("...");
        Parts << FormatMessageText(QStringLiteral("SampleValueNotRead"), {Problem.Key, Text});
    }
    return FormatMessageText(MessageKey, {Rec.Number + 1, Rec.Description, Parts.join(QStringLiteral("; "))});
}

TSampleRec* TSampleList::Add(std::unique_ptr<TSampleRec> Rec)
{
    FItems.push_back(std::move(Rec));
    return FItems.back().get();
}

bool TSampleList::Delete(int Index)
{
    if (Index < 0 || Index >= Count())
        return false;
    FItems.erase(FItems.begin() + Index);
    return true;
}

int TSampleList::IndexOf(const TSampleRec* Rec) const
{
    for (int I = 0; I < Count(); ++I)
        if (Items(I) == Rec)
            return I;
    return -1;
}

bool TSampleList::LoadFromFile(const QString& FileName, QString* Error)
{
    TSampleList Loaded;
    if (QFileInfo::exists(FileName)) {
        QString Text;
        if (!ReadTextFile(FileName, Text, Error))
            return false;
        TSampleRec* Current = nullptr;  // lines before the first description have no record
        QStringList CurrentLines;
        bool TypeRead = false;
        // A record ends at the next description or at the end of the file: a record without a
        // type (a misspelt key) would otherwise be taken for a command.
        const auto EndRecord = [&] {
            if (!Current)
                return;
            if (!TypeRead)
                Current->LoadProblems.push_back({QStringLiteral("Type"), QString(), true});
            if (Current->HasLoadProblems()) {
                while (!CurrentLines.isEmpty() && CurrentLines.last().trimmed().isEmpty())
                    CurrentLines.removeLast();
                Current->StoredLines = CurrentLines;
            }
        };
        QString Key, Value;
        for (const QString& Line : SplitTextLines(Text)) {
            SplitKeyValue(Line, Key, Value);
            if (SameKey(Key, QStringLiteral("Description"))) {
                EndRecord();
                Current = Loaded.Add(std::make_unique<TSampleRec>());
                CurrentLines.clear();
                TypeRead = false;
            }
            if (!Current)
                continue;
            CurrentLines << Line;
            if (SameKey(Key, QStringLiteral("Type")) || SameKey(Key, QStringLiteral("SampleType")))
                TypeRead = true;
            if (!Current->ReadValue(Key, Value))
                Current->LoadProblems.push_back({Key, Value});
        }
        EndRecord();
    }
    Loaded.SortByNumber();
    FItems = std::move(Loaded.FItems);
    return true;
}

QStringList TSampleList::SaveToStrings() const
{
    QStringList Lines{QStringLiteral("[Samples]")};
    for (int I = 0; I < Count(); ++I) {
        if (I > 0)
            Lines.append(QString());
        // A record with values the program could not read goes back as the file had it.
        if (const TSampleRec* Rec = Items(I); !Rec->StoredLines.isEmpty())
            Lines << Rec->StoredLines;
        else
            Rec->SaveToStrings(Lines);
    }
    return Lines;
}

bool TSampleList::SaveToFile(const QString& FileName, QString* Error) const
{
    return WriteTextFileAtomic(FileName, SaveToStrings(), Error);
}

TSampleRec* TSampleList::FindByNumber(int Number) const
{
    for (const auto& Rec : FItems)
        if (Rec->Number == Number)
            return Rec.get();
    return nullptr;
}

void TSampleList::SortByNumber()
{
    std::stable_sort(FItems.begin(), FItems.end(),
                     [](const auto& A, const auto& B) { return A->Number < B->Number; });
}

int TSampleList::NextFreeNumber() const
{
    // The numbers in use from 0 on, in order; the first gap is the answer.
    std::vector<qint32> Used;
    Used.reserve(FItems.size());
    for (const auto& Rec : FItems)
        if (Rec->Number >= 0)
            Used.push_back(Rec->Number);
    std::sort(Used.begin(), Used.end());
    int Next = 0;
    for (qint32 Number : Used) {
        if (Number > Next)
            break;
        if (Number == Next)
            ++Next;
    }
    return Next;
}
