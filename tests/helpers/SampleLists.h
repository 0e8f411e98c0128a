#pragma once
// Sample lists and frequency commands put together in code, for the tests and benchmarks.

#include "samples/Class_Frequency.h"
#include "samples/Class_SampleRec.h"

#include <initializer_list>
#include <memory>
#include <utility>

namespace testkit {

// Adds a sample of Type with its shown number (Number + 1) and description; the caller sets
// the rest (Path, Command, SignalTime, ...).
inline TSampleRec* AddSample(TSampleList& List, TSampleType Type, int Number, const QString& Description = QString())
{
    auto Rec = std::make_unique<TSampleRec>();
    Rec->Type = Type;
    Rec->Number = Number;
    Rec->Description = Description;
    return List.Add(std::move(Rec));
}

// A frequency command with its tones as (frequency, deviation) pairs in slot order.
inline TFrequencyRec FrequencyCommand(const QString& ID, std::initializer_list<std::pair<int, int>> Tones)
{
    TFrequencyRec Rec;
    Rec.ID = ID;
    size_t Slot = 0;
    for (const auto& [Freq, Delta] : Tones) {
        Rec.Freq[Slot] = Freq;
        Rec.FreqDelta[Slot] = Delta;
        ++Slot;
    }
    return Rec;
}

}  // namespace testkit
