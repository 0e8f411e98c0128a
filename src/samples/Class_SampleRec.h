#pragma once
// Samples: the detection targets the operator configures (an audio clip, silence, a signal
// level, or a command of multi-frequency tones), and the program's list of them with its file
// "Samples.ini".

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "audio/AudioFFT.h"

class TAudioSequence;

enum class TSampleType : quint8 {
    File = 0,     // an audio clip
    Silence = 1,  // level below a threshold for a time
    Signal = 2,   // level above a threshold for a time
    Command = 3,  // multi-frequency tones from the frequency table
};

// How a clip or a command is recognised. Robust decides on measures relative to the audio
// around it (level-independent clip landmarks, tone sets against their band's energy);
// Spectral compares spectral peaks with absolute thresholds, as the first engine did.
enum class TDetectMethod : quint8 {
    Robust = 0,
    Spectral = 1,
};

// What a silence or signal sample measures of each analysis block. Peak is the largest sample,
// as the first engine measured; RMS the block's root mean square, which reads a steady hiss,
// hum or noise floor at its power rather than at its highest peaks.
enum class TLevelMode : quint8 {
    Peak = 0,
    Rms = 1,
};

// Names of types, channel modes and booleans as the sample file writes them. Reading compares
// without regard to case; an unknown type name reads as File, an unknown mode as Add.
QString SampleTypeToStr(TSampleType Type);    // empty for a value outside the four
TSampleType StrToSampleType(const QString& Name);
QString SignalModeToStr(TSignalMode Mode);    // empty for a value outside the four
TSignalMode StrToSignalMode(const QString& Name);
QString DetectMethodToStr(TDetectMethod Method);  // empty for a value outside the two
TDetectMethod StrToDetectMethod(const QString& Name);  // unknown or empty: Robust
QString LevelModeToStr(TLevelMode Mode);          // "Peak", "RMS"; empty outside the two
TLevelMode StrToLevelMode(const QString& Name);   // unknown or empty: Peak

// A number as the sample file writes it: rounded to three decimals (a positive value goes up
// when the dropped part exceeds 0.45 of the last place, a negative one is cut toward zero; a
// whole number of thousandths stays as it is), in the shortest form, with the decimal
// separator of the user's locale. Saving what was loaded writes the same text again.
QString SampleFloatToStr(double Value);

// A line of the sample file whose value could not be read: its key as the file spells it and
// its text. Missing: the record has no line for the key at all (a record without a type).
struct TSampleValueProblem {
    QString Key;
    QString Text;
    bool Missing = false;
};

// One sample: its stored settings and its run-time state.
class TSampleRec {
public:
    TSampleRec() { SetDefaults(); }

    // Run-time only, never stored.
    TAudioSequence* Sequence = nullptr;  // the engine's sequence while enabled; not owned
    bool Enabled = false;                // switched on for monitoring
    bool Detected = false;               // found since it was last switched on

    TSignalMode SignalMode;
    QString Description;
    TSampleType Type;
    qint32 Number;         // 0-based; -1 = no number yet. Shown to the user as Number + 1
    bool AutoDisable;      // switch off once found
    bool UseLowFreq;       // File: also require the absence of frequencies
    bool AutoStart;        // switch on after start-up
    qint32 Precision;      // File: 0..4
    QString Path;          // File: the WAV or MP3 file
    qint32 SampleWait;     // ms to wait after a detection
    qint32 Sense;          // percent, 50 neutral
    double SignalTime;     // Silence, Signal: seconds the condition must hold
    double SignaldB;       // Silence, Signal: threshold in dB
    QString Command;       // Command: comma-separated identifiers of the frequency table
    qint32 CommandSpeed;   // Command: symbols per second
    QString FileExecute;   // run when found; empty = nothing
    TDetectMethod Method;  // File, Command: how it is recognised ("Method", missing = Robust)
    TLevelMode LevelMode;  // Silence, Signal: what is measured ("LevelMode", missing = Peak)
    // Silence, Signal: found once per episode, with a message when it ends and a reminder
    // every RemindMinutes (0: none) while it lasts. Without it (lists without the key) the
    // sample is found again after every further SignalTime for as long as it lasts.
    bool AlarmOnce;
    qint32 RemindMinutes;

    // Loading only: the values of the record that could not be read, and then the record's
    // lines as the file holds them. Such a sample is not switched on automatically, and saving
    // writes those lines back unchanged, so that a fallback the operator never chose does not
    // replace what the file says; confirming the sample dialog (AcceptEditedValues) ends both.
    std::vector<TSampleValueProblem> LoadProblems;
    QStringList StoredLines;
    bool HasLoadProblems() const { return !LoadProblems.empty(); }
    void AcceptEditedValues();

    // Every stored field and Enabled to its default; Sequence and Detected stay.
    void SetDefaults();
    // Appends the record's "Key=Value" lines in file order (type-specific lines only for its
    // type).
    void SaveToStrings(QStringList& Lines) const;
    // Applies one "Key=Value" pair read from the file; unknown keys are ignored, numbers are
    // brought into the sample dialog's ranges. A value that does not parse (a number with a
    // unit, a name none of the key's names) takes the key's fallback and gives false.
    bool ReadValue(const QString& Key, const QString& Value);
};

// The warning for a sample with LoadProblems, empty without: "Sample No. n "description": "
// naming each key and its text, then what is done about it (the message of MessageKey, which
// takes the number, the description and the problems).
QString SampleLoadProblemsText(const TSampleRec& Rec, const QString& MessageKey);

// The program's samples, owned by the list. Records keep their address while they are in the
// list, so other parts may hold on to them.
class TSampleList {
public:
    int Count() const { return int(FItems.size()); }
    TSampleRec* Items(int Index) const { return FItems.at(size_t(Index)).get(); }
    TSampleRec* operator[](int Index) const { return Items(Index); }

    // Takes ownership and appends; returns the record.
    TSampleRec* Add(std::unique_ptr<TSampleRec> Rec);
    // Frees the record at Index; false for an index outside the list.
    bool Delete(int Index);
    int IndexOf(const TSampleRec* Rec) const;
    void Clear() { FItems.clear(); }

    // Replaces the list with the file's records, sorted by number; a record's values that do
    // not parse and a missing type are its LoadProblems. A missing file gives an empty list. A file that cannot be read leaves the list as it was and returns false with
    // an error naming the file.
    bool LoadFromFile(const QString& FileName, QString* Error = nullptr);
    // "[Samples]" and each record's lines, an empty line between records.
    QStringList SaveToStrings() const;
    // Replaces the file atomically; false with an error naming it when it cannot be written
    // (the old file then stays as it was).
    bool SaveToFile(const QString& FileName, QString* Error = nullptr) const;

    // The first record with this number, in list order, or nullptr.
    TSampleRec* FindByNumber(int Number) const;
    bool NumberExists(int Number) const { return FindByNumber(Number) != nullptr; }
    void SortByNumber();
    // The smallest number from 0 on that no record has.
    int NextFreeNumber() const;

private:
    std::vector<std::unique_ptr<TSampleRec>> FItems;
};
