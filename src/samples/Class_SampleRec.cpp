#include "samples/Class_SampleRec.h"

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

QString BoolToStr(bool Value)
{
    return Value ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

bool StrToBool(const QString& Value)
{
    return SameKey(Value, QStringLiteral("TRUE"));
}

// Value - 50 for the old "Sensitivity" key, kept inside the 32-bit range.
qint32 SensitivityToSense(const QString& Value)
{
    const qint64 Sense = qint64(StrToIntDef(Value, 50)) - 50;
    return qint32(std::max<qint64>(Sense, std::numeric_limits<qint32>::min()));
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
    if (const double Thousandths = Value * 1000.0; std::isfinite(Thousandths)) {
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
        break;
    case TSampleType::Command:
        Put("Command", Command);
        Put("CommandSpeed", QString::number(CommandSpeed));
        Put("Method", DetectMethodToStr(Method));
        break;
    }
    Put("FileExecute", FileExecute);
}

void TSampleRec::ReadValue(const QString& Key, const QString& Value)
{
    auto Is = [&Key](const char* Name) { return SameKey(Key, QLatin1String(Name)); };
    if (Is("SampleType"))  // older files
        Type = TSampleType(quint8(StrToIntDef(Value, 0)));
    else if (Is("Sensitivity"))  // older files, 50 above today's Sense
        Sense = SensitivityToSense(Value);
    else if (Is("Description"))
        Description = Value;
    else if (Is("Number"))
        Number = StrToIntDef(Value, -1);
    else if (Is("Type"))
        Type = StrToSampleType(Value);
    else if (Is("Sense"))
        Sense = StrToIntDef(Value, 0);
    else if (Is("SignalMode"))
        SignalMode = StrToSignalMode(Value);
    else if (Is("Precision"))
        Precision = StrToIntDef(Value, 0);
    else if (Is("AutoDisable"))
        AutoDisable = StrToBool(Value);
    else if (Is("AutoStart"))
        AutoStart = StrToBool(Value);
    else if (Is("UseLowFreq"))
        UseLowFreq = StrToBool(Value);
    else if (Is("SampleWait"))
        SampleWait = StrToIntDef(Value, 0);
    else if (Is("Path"))
        Path = Value;
    else if (Is("SignalTime"))
        SignalTime = StrToFloatDef(Value, 0);
    else if (Is("SignaldB"))
        SignaldB = StrToFloatDef(Value, 0);
    else if (Is("Command"))
        Command = Value;
    else if (Is("CommandSpeed"))
        CommandSpeed = StrToIntDef(Value, 5);
    else if (Is("FileExecute"))
        FileExecute = Value;
    else if (Is("Method"))
        Method = StrToDetectMethod(Value);
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
        QString Key, Value;
        for (const QString& Line : SplitTextLines(Text)) {
            SplitKeyValue(Line, Key, Value);
            if (SameKey(Key, QStringLiteral("Description")))
                Current = Loaded.Add(std::make_unique<TSampleRec>());
            if (Current)
                Current->ReadValue(Key, Value);
        }
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
        Items(I)->SaveToStrings(Lines);
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
