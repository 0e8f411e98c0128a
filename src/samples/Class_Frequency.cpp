#include "samples/Class_Frequency.h"

#include "audio/AudioDetector.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"
#include "util/KeyValueText.h"
#include "util/TextFile.h"

#include <QCollator>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

TFrequencyRecArr FrequencyTable;

namespace {

// Reads "Freq.ini" lines into a table. Tone lines before the first "ID" line and tones beyond
// the fifth of an entry have no slot to go to and are skipped. Identifiers are trimmed as the
// items of a command string are, so what the file shows is what a command dials.
TFrequencyRecArr ParseFrequencyLines(const QStringList& Lines)
{
    TFrequencyRecArr Table;
    int Slot = -1;  // the entry's current slot; -1 while no "Freq" line has come
    QString Key, Value;
    for (const QString& Line : Lines) {
        SplitKeyValue(Line, Key, Value);
        if (SameKey(Key, QStringLiteral("ID"))) {
            TFrequencyRec Rec;
            // Control characters are no part of a name: dropped on reading (and blanks trimmed
            // again after the cut), so a table read, saved and read again stays the same.
            QString ID = Value;
            ID.removeIf([](QChar C) { return C.unicode() < 0x20 || C.unicode() == 0x7F; });
            Rec.ID = TrimBlanks(TrimBlanks(ID).left(FrequencyIDLength));
            Table.append(Rec);
            Slot = -1;
        } else if (SameKey(Key, QStringLiteral("Freq"))) {
            if (Table.isEmpty())
                continue;
            if (Slot < FrequencySlots)
                ++Slot;
            if (Slot < FrequencySlots)
                Table.last().Freq[size_t(Slot)] = StrToIntDef(Value, 0);
        } else if (SameKey(Key, QStringLiteral("FreqDelta"))) {
            if (!Table.isEmpty() && Slot >= 0 && Slot < FrequencySlots)
                Table.last().FreqDelta[size_t(Slot)] = StrToIntDef(Value, 0);
        }
    }
    return Table;
}

}  // namespace

QCollatorSortKey FrequencySortKey(const QCollator& Collator, const QString& ID)
{
    // Case-folded first: the collator of the C locale compares code points and would put
    // "B" before "a".
    return Collator.sortKey(ID.toCaseFolded());
}

bool FrequencyIDDialable(const QString& ID)
{
    return !ID.isEmpty() && !ID.contains(u',');
}

bool LoadFrequencyTable(TFrequencyRecArr& Table, const QString& FileName, QString* Error, QStringList* Warnings)
{
    TFrequencyRecArr Loaded;
    if (QFileInfo::exists(FileName)) {
        QString Text;
        if (!ReadTextFile(FileName, Text, Error))
            return false;
        Loaded = ParseFrequencyLines(SplitTextLines(Text));
    }
    SortFrequencyTable(Loaded);
    if (Warnings) {
        for (const TFrequencyRec& Rec : Loaded)
            if (!FrequencyIDDialable(Rec.ID))
                Warnings->append(FormatMessageText(QStringLiteral("FreqIDNotDialable"), {Rec.ID, FileName}));
    }
    Table = std::move(Loaded);
    return true;
}

bool SaveFrequencyTable(const TFrequencyRecArr& Table, const QString& FileName, QString* Error)
{
    QStringList Lines{QStringLiteral("[Frequencys]")};
    for (const TFrequencyRec& Rec : Table) {
        Lines.append(QStringLiteral("ID=") + OneLineValue(Rec.ID));
        for (int Slot = 0; Slot < FrequencySlots; ++Slot) {
            if (Rec.Freq[size_t(Slot)] == 0)
                continue;
            Lines.append(QStringLiteral("Freq=") + QString::number(Rec.Freq[size_t(Slot)]));
            Lines.append(QStringLiteral("FreqDelta=") + QString::number(Rec.FreqDelta[size_t(Slot)]));
        }
        Lines.append(QString());
    }
    return WriteTextFileAtomic(FileName, Lines, Error);
}

int IndexOfCommand(const TFrequencyRecArr& Table, const QString& Text)
{
    for (qsizetype I = 0; I < Table.size(); ++I)
        if (Table.at(I).ID == Text)
            return int(I);
    return -1;
}

TFrequencyRec FindCommand(const TFrequencyRecArr& Table, const QString& Text)
{
    const int Index = IndexOfCommand(Table, Text);
    return Index < 0 ? TFrequencyRec{} : Table.at(Index);
}

void ClearFrequencyRec(TFrequencyRec& Rec)
{
    Rec = TFrequencyRec{};
}

void SortFrequencyTable(TFrequencyRecArr& Table)
{
    // The order is that of a selection sort: for each position, the first smallest of the
    // entries from there on is swapped into it (equal identifiers therefore do not keep their
    // order). A tournament tree over the unsorted positions finds that entry in log n steps, so
    // a table of any size sorts quickly.
    const qsizetype Count = Table.size();
    if (Count < 2)
        return;
    std::vector<QCollatorSortKey> Keys;
    Keys.reserve(size_t(Count));
    const QCollator Collator{QLocale()};
    for (const TFrequencyRec& Rec : Table)
        Keys.push_back(FrequencySortKey(Collator, Rec.ID));

    qsizetype Leaves = 1;
    while (Leaves < Count)
        Leaves *= 2;
    // Node n holds the position of the first smallest entry below it, -1 when none is left.
    std::vector<qsizetype> Tree(size_t(2 * Leaves), -1);
    auto Winner = [&](qsizetype Left, qsizetype Right) {
        if (Left < 0)
            return Right;
        if (Right < 0)
            return Left;
        // The left one lies at the lower position and wins a tie.
        return Keys[size_t(Right)].compare(Keys[size_t(Left)]) < 0 ? Right : Left;
    };
    auto Update = [&](qsizetype Position, qsizetype Value) {
        qsizetype Node = Leaves + Position;
        Tree[size_t(Node)] = Value;
        for (Node /= 2; Node >= 1; Node /= 2)
            Tree[size_t(Node)] = Winner(Tree[size_t(2 * Node)], Tree[size_t(2 * Node + 1)]);
    };
    for (qsizetype Position = 0; Position < Count; ++Position)
        Tree[size_t(Leaves + Position)] = Position;
    for (qsizetype Node = Leaves - 1; Node >= 1; --Node)
        Tree[size_t(Node)] = Winner(Tree[size_t(2 * Node)], Tree[size_t(2 * Node + 1)]);

    for (qsizetype Position = 0; Position < Count; ++Position) {
        const qsizetype Smallest = Tree[1];
        if (Smallest != Position) {
            Table.swapItemsAt(Position, Smallest);
            std::swap(Keys[size_t(Position)], Keys[size_t(Smallest)]);
            Update(Smallest, Smallest);  // now holds the entry that stood at Position
        }
        Update(Position, -1);  // sorted: out of the running
    }
}

bool AddFrequencyRec(TFrequencyRecArr& Table, const TFrequencyRec& Rec)
{
    if (Rec.ID.isEmpty() || IndexOfCommand(Table, Rec.ID) >= 0)
        return false;
    Table.append(Rec);
    return true;
}

bool DeleteFrequencyRec(TFrequencyRecArr& Table, int Index)
{
    if (Index < 0 || Index >= Table.size())
        return false;
    Table.removeAt(Index);
    return true;
}

QString FrequencyTonesText(const TFrequencyRec& Rec)
{
    QStringList Tones;
    for (int Slot = 0; Slot < FrequencySlots; ++Slot) {
        const qint32 Freq = Rec.Freq[size_t(Slot)];
        if (Freq == 0)
            continue;
        const qint32 Delta = Rec.FreqDelta[size_t(Slot)];
        Tones.append(Delta == 0 ? QString::number(Freq)
                                : QStringLiteral("%1(\u00B1%2)").arg(Freq).arg(Delta));
    }
    return Tones.join(QStringLiteral(" + "));
}

int32_t CommandMaxGap(int32_t CommandSpeed, int32_t BlockMs)
{
    return 1250 / std::max(CommandSpeed, 1) + std::max(BlockMs, 0);
}

namespace {

// A tone of a command as the expansion gives it to the engine.
struct TCommandTone {
    qint32 Freq;
    qint32 Tolerance;
};

QList<TCommandTone> TonesOf(const TFrequencyRec& Rec)
{
    QList<TCommandTone> Tones;
    for (int Slot = 0; Slot < FrequencySlots; ++Slot)
        if (const qint32 Freq = Rec.Freq[size_t(Slot)]; Freq != 0) {
            const qint32 Delta = Rec.FreqDelta[size_t(Slot)];
            Tones.append({Freq, Delta == 0 ? DefaultFreqDelta : Delta});
        }
    return Tones;
}

// Every tone of the table once, in the order first met.
QList<TCommandTone> TableTones(const TFrequencyRecArr& Table)
{
    QList<TCommandTone> Tones;
    for (const TFrequencyRec& Rec : Table)
        for (const TCommandTone& Tone : TonesOf(Rec))
            if (Tone.Freq > 0 && std::none_of(Tones.begin(), Tones.end(), [&](const TCommandTone& Known) {
                    return Known.Freq == Tone.Freq;
                }))
                Tones.append(Tone);
    return Tones;
}

}  // namespace

bool BuildCommandSequence(const TSampleRec& Sample, const TFrequencyRecArr& Table,
                          TAudioSequence& Sequence, QString* Error, int32_t BlockMs)
{
    if (Sample.CommandSpeed < 1) {
        if (Error)
            *Error = QStringLiteral("Command speed %1 of sample %2 \"%3\" is not a positive number")
                         .arg(Sample.CommandSpeed)
                         .arg(qint64(Sample.Number) + 1)
                         .arg(Sample.Description);
        return false;
    }
    // Command tones are taken as loud as a clip's reference peak.
    constexpr int32_t CommandRefLevel = 2500;
    const int32_t MaxGap = CommandMaxGap(Sample.CommandSpeed, BlockMs);
    const bool ToneSets = Sample.Method == TDetectMethod::Robust;
    const QList<TCommandTone> Rivals = ToneSets ? TableTones(Table) : QList<TCommandTone>();

    Sequence.Kind = skSpectral;
    Sequence.Method = ToneSets ? mmToneSet : mmSpectral;
    Sequence.Channel = Sample.SignalMode;
    for (const QString& Item : Sample.Command.split(u',')) {
        const QString ID = TrimBlanks(Item);
        if (ID.isEmpty())
            continue;
        const TFrequencyRec Rec = FindCommand(Table, ID);
        if (Rec.ID.isEmpty())
            continue;
        TAudioSample& Slice = Sequence.Samples.AddNew();
        const QList<TCommandTone> Own = TonesOf(Rec);
        const auto AddPeak = [&](const TCommandTone& Tone, TFreqKind Kind) {
            TFreqData& Peak = Slice.Peaks.AddNew();
            Peak.Frequency = Tone.Freq;
            Peak.Tolerance = Tone.Tolerance;
            Peak.RefLevel = CommandRefLevel;
            Peak.Sense = Sample.Sense;
            Peak.Kind = Kind;
        };
        for (const TCommandTone& Tone : Own)
            AddPeak(Tone, fkPresent);
        // The other tones of the table, unless they lie within reach of one of the slice's
        // own (a near-duplicate tone of another command is this one, not a rival).
        for (const TCommandTone& Rival : Rivals)
            if (std::none_of(Own.begin(), Own.end(), [&](const TCommandTone& Tone) {
                    return std::abs(qint64(Tone.Freq) - Rival.Freq) <= std::max(Tone.Tolerance, Rival.Tolerance);
                }))
                AddPeak(Rival, fkAbsent);
        Slice.MaxGap = MaxGap;
    }
    return true;
}
