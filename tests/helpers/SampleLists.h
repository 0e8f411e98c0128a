#pragma once
// Sample lists put together in code, for the scanner's tests and benchmarks.

#include "samples/Class_SampleRec.h"

#include <memory>

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

}  // namespace testkit
