#pragma once
// Engine sequences put together by hand, for the tests of matching and of the engine.

#include "audio/AudioDetector.h"

namespace testkit {

// Adds a peak to a slice.
inline TFreqData& AddPeak(TAudioSample& Slice, int32_t Frequency, int32_t Tolerance, int32_t RefLevel, int32_t Sense,
                          TFreqKind Kind = fkPresent)
{
    TFreqData& Peak = Slice.Peaks.AddNew();
    Peak.Frequency = Frequency;
    Peak.Tolerance = Tolerance;
    Peak.RefLevel = RefLevel;
    Peak.Sense = Sense;
    Peak.Kind = Kind;
    return Peak;
}

// Makes Sequence a silence or signal detector: Level in dB held for Duration ms.
inline TAudioSequence& SetLevel(TAudioSequence& Sequence, TSequenceKind Kind, double Level, int32_t Duration)
{
    Sequence.Kind = Kind;
    Sequence.Level = Level;
    Sequence.Duration = Duration;
    return Sequence;
}

}  // namespace testkit
