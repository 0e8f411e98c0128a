#pragma once
// Frequency commands: the operator's table of multi-frequency symbols (DTMF and the like), each
// an identifier with up to five tones, its file "Freq.ini", and the expansion of a command
// sample's command string into the slices of an engine sequence.
//
// The program keeps one table, FrequencyTable; the operations take the table they work on, so
// the same code serves the program's table and any other (a test's, an import's).

#include <QCollator>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>

class TAudioSequence;
class TSampleRec;

inline constexpr int FrequencyIDLength = 128;  // longest identifier
inline constexpr int FrequencySlots = 5;       // tones per command
inline constexpr int DefaultFreqDelta = 30;    // deviation used for a slot whose FreqDelta is 0

// One frequency command. A record with an empty ID and no tones stands for "no command".
struct TFrequencyRec {
    QString ID;                                 // at most FrequencyIDLength characters
    std::array<qint32, FrequencySlots> Freq{};  // Hz; 0 marks an empty slot
    std::array<qint32, FrequencySlots> FreqDelta{};  // Hz, allowed deviation of the same slot

    friend bool operator==(const TFrequencyRec&, const TFrequencyRec&) = default;
};

using TFrequencyRecArr = QList<TFrequencyRec>;

// The program's table, kept sorted by ID after loading, adding and editing.
extern TFrequencyRecArr FrequencyTable;

// Replaces the table with the file's commands, then sorts it. A missing file gives an empty
// table. A file that cannot be read leaves the table as it was and returns false with an error
// naming the file. Lines that make no sense are skipped. Identifiers are trimmed of blanks and
// control characters; one that no command string can dial (empty, or holding the "," that
// separates a command's items) is kept but adds a warning ("FreqIDNotDialable") to Warnings.
bool LoadFrequencyTable(TFrequencyRecArr& Table, const QString& FileName, QString* Error = nullptr,
                        QStringList* Warnings = nullptr);

// Whether a command string can name this identifier: not empty, and without ",".
bool FrequencyIDDialable(const QString& ID);

// Writes the table: "[Frequencys]", then per entry "ID=", a "Freq="/"FreqDelta=" pair for each
// non-zero slot, and an empty line. The file is replaced atomically; false with an error when
// it cannot be written (the old file then stays as it was).
bool SaveFrequencyTable(const TFrequencyRecArr& Table, const QString& FileName, QString* Error = nullptr);

// Index of the first entry whose ID equals Text exactly (letter case included), or -1.
int IndexOfCommand(const TFrequencyRecArr& Table, const QString& Text);
// A copy of that entry, or a cleared record when there is none.
TFrequencyRec FindCommand(const TFrequencyRecArr& Table, const QString& Text);

void ClearFrequencyRec(TFrequencyRec& Rec);

// Sorts by ID without regard to letter case under the user's locale, in the order of a
// selection sort that takes the first smallest entry for each position.
void SortFrequencyTable(TFrequencyRecArr& Table);
// The key SortFrequencyTable orders an identifier by, under the collator of the user's locale.
QCollatorSortKey FrequencySortKey(const QCollator& Collator, const QString& ID);

// Appends the record unless its ID is empty or already present exactly; true when appended.
bool AddFrequencyRec(TFrequencyRecArr& Table, const TFrequencyRec& Rec);
// Removes the entry at Index; false (and nothing changed) for an index outside the table.
bool DeleteFrequencyRec(TFrequencyRecArr& Table, int Index);

// Fills an engine sequence from a command sample: a spectral sequence on the sample's channel
// with one slice per identifier of its Command string that the table holds exactly (items are
// split at ",", trimmed of blanks and control characters, empty ones dropped, unknown ones
// skipped). Each slice requires every non-zero tone of its command at once (deviation
// FreqDelta, or DefaultFreqDelta for 0; reference level 2500; the sample's Sense), and the next
// slice must follow within 1000 / CommandSpeed ms. A CommandSpeed below 1 cannot be dialled:
// false with an error, and the sequence is left as it was.
bool BuildCommandSequence(const TSampleRec& Sample, const TFrequencyRecArr& Table,
                          TAudioSequence& Sequence, QString* Error = nullptr);

// The tones of a command as the frequency list shows them: the non-zero slots in order, each
// "697(±20)", or the bare frequency when its deviation is 0, joined by " + ".
QString FrequencyTonesText(const TFrequencyRec& Rec);
