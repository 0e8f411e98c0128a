#pragma once
// Turns a sample into the engine sequence that watches for it. The monitoring controller and
// the offline scanner both build their sequences here, so a sample is detected the same way
// live and over a recording.

#include <QString>
#include <QStringList>

#include <stdexcept>

#include "samples/Class_Frequency.h"

class TAudioDetector;
class TAudioSequence;
class TSampleRec;

// Builds the sequence of Sample by its type, appends it to Engine.Sequences and returns it
// (owned by the engine):
//  - File: by the sample's Method, the clip's landmarks (BuildLandmarksFromFile with Sense and
//    SignalMode) or its spectral fingerprint (BuildFromFile with MaxPeaks = Precision + 2,
//    Sense, UseLowFreq, SignalMode);
//  - Silence, Signal: a level detector, Duration = Trunc(SignalTime * 1000) ms, Level =
//    SignaldB, measuring the block's peak or RMS by LevelMode, once per episode with a
//    reminder every RemindMinutes by AlarmOnce;
//  - Command: the command's tones from Table (BuildCommandSequence with the block of the
//    engine's FFTCount and FrameRate) on SignalMode, recognised by the sample's Method;
// then Number = Sample.Number and Hold = Sample.AutoDisable. A type outside the four gives no
// sequence (nullptr). When anything fails the error propagates (the reader's EAudioReadError,
// the builder's EFingerprintError, ESampleSequenceError for the rest) and Engine.Sequences
// is left as it was.
TAudioSequence* BuildSampleSequence(TAudioDetector& Engine, const TSampleRec& Sample, const TFrequencyRecArr& Table);

// The text to show the operator for a failure of BuildSampleSequence: a refused fingerprint
// carries a message key and is shown in the current language; other errors carry their text.
QString SampleSequenceErrorText(const std::exception& Error);

// How reliably the clip of a built sequence can be recognised, 0..100; -1 for a sequence
// that is not a landmark clip. The sample dialog shows it.
int SampleSequenceStrength(const TAudioSequence& Sequence);
// How reliably the clip of a sample would be recognised, 0..100, built as the monitor builds it
// (default rate and block, the sample's channel); -1 when there is no strength to tell: a sample
// that is not a clip or is recognised by the spectral method, or a clip that cannot be watched
// at all (Error then says why, in the operator's language). The sample dialog shows it.
int SampleClipStrength(const TSampleRec& Sample, QString* Error = nullptr);
// The warning the operator reads when a sample's clip is weak (message "WeakSample", naming
// the sample and its strength); empty when it is not. The clip is watched all the same.
QString SampleSequenceWarningText(const TSampleRec& Sample, const TAudioSequence& Sequence);

// Why a sample, watched by Engine (its FrameRate and FFTCount), will never be found or not as
// it reads: a command none of whose identifiers the frequency table holds (or with no
// identifier at all), identifiers of a command that the table lacks and that are skipped, a
// clip shorter than one analysis block. One operator text each, naming the sample; empty when
// nothing stands in its way. A clip that cannot be read is not listed here:
// BuildSampleSequence reports it. The clip's length is taken from the engine's build of it
// when there was one (TAudioDetector::ClipFrames), so it is not read a second time.
QStringList SampleNeverFoundReasons(TAudioDetector& Engine, const TSampleRec& Sample, const TFrequencyRecArr& Table);

// A sequence that cannot be built for a reason of the sample itself (a command that cannot be
// dialled).
class ESampleSequenceError : public std::runtime_error {
public:
    explicit ESampleSequenceError(const QString& Text) : std::runtime_error(Text.toStdString()) {}
};
