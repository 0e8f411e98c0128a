#include "core/SampleSequence.h"

#include <cmath>

#include "audio/AudioDetector.h"
#include "audio/AudioDetectorBuild.h"
#include "audio/AudioLandmarks.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"

namespace {

// Appends Sequence to the engine's list and gives it the sample's number and hold.
TAudioSequence* Register(TAudioDetector& Engine, std::unique_ptr<TAudioSequence> Sequence, const TSampleRec& Sample)
{
    Sequence->Number = Sample.Number;
    Sequence->Hold = Sample.AutoDisable;
    return &Engine.Sequences.Add(std::move(Sequence));
}

}  // namespace

TAudioSequence* BuildSampleSequence(TAudioDetector& Engine, const TSampleRec& Sample, const TFrequencyRecArr& Table)
{
    // Every sequence is complete before it joins the engine's list, so a failure never leaves
    // a partial one behind.
    auto sequence = std::make_unique<TAudioSequence>();
    switch (Sample.Type) {
    case TSampleType::File:
        if (Sample.Method == TDetectMethod::Spectral)
            sequence = Engine.BuildFromFile(Sample.Path.toStdString(), Sample.Precision + 2, Sample.Sense,
                                            Sample.UseLowFreq, Sample.SignalMode);
        else
            sequence = Engine.BuildLandmarksFromFile(Sample.Path.toStdString(), Sample.Sense, Sample.SignalMode);
        break;
    case TSampleType::Silence:
    case TSampleType::Signal:
        sequence->Kind = Sample.Type == TSampleType::Silence ? skSilence : skSignal;
        sequence->Duration = TruncToInt32(Sample.SignalTime * 1000);
        sequence->Level = Sample.SignaldB;
        break;
    case TSampleType::Command: {
        sequence->Kind = skSpectral;
        sequence->Channel = Sample.SignalMode;
        QString error;
        if (!BuildCommandSequence(Sample, Table, *sequence, &error))
            throw ESampleSequenceError(error);
        break;
    }
    default:
        return nullptr;
    }
    return Register(Engine, std::move(sequence), Sample);
}

QString SampleSequenceErrorText(const std::exception& Error)
{
    if (const auto* refused = dynamic_cast<const EFingerprintError*>(&Error))
        return GetMessageText(QString::fromUtf8(refused->MessageKey()));
    return QString::fromUtf8(Error.what());
}

int SampleSequenceStrength(const TAudioSequence& Sequence)
{
    if (Sequence.Kind != skLandmark || !Sequence.Landmarks)
        return -1;
    return LandmarkStrength(*Sequence.Landmarks).Percent;
}

QString SampleSequenceWarningText(const TSampleRec& Sample, const TAudioSequence& Sequence)
{
    if (Sequence.Kind != skLandmark || !Sequence.Landmarks)
        return {};
    const TLandmarkStrength Strength = LandmarkStrength(*Sequence.Landmarks);
    if (!Strength.Weak())
        return {};
    return FormatMessageText("WeakSample", {Sample.Number + 1, Sample.Description, Strength.Percent});
}
