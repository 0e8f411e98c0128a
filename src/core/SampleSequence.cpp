#include "core/SampleSequence.h"

#include <cmath>

#include "audio/AudioDetector.h"
#include "audio/AudioDetectorBuild.h"
#include "audio/AudioLandmarks.h"
#include "lang/Lang.h"
#include "samples/Class_SampleRec.h"
#include "util/KeyValueText.h"

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
        sequence->LevelMeasure = Sample.LevelMode == TLevelMode::Rms ? lmRms : lmPeak;
        sequence->AlarmOnce = Sample.AlarmOnce;
        sequence->RemindInterval = Sample.AlarmOnce ? TruncToInt32(Sample.RemindMinutes * 60000.0) : 0;
        break;
    case TSampleType::Command: {
        sequence->Kind = skSpectral;
        sequence->Channel = Sample.SignalMode;
        // A symbol's first block comes up to one block after its tones began: its gap to the
        // next symbol has that much room.
        const int32_t blockMs = Engine.FrameRate > 0
                                    ? int32_t((int64_t(Engine.FFTCount) * 1000 + Engine.FrameRate - 1) / Engine.FrameRate)
                                    : DefaultBlockMs;
        QString error;
        if (!BuildCommandSequence(Sample, Table, *sequence, &error, blockMs))
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

int SampleClipStrength(const TSampleRec& Sample, QString* Error)
{
    if (Error)
        Error->clear();
    if (Sample.Type != TSampleType::File || Sample.Method == TDetectMethod::Spectral)
        return -1;
    try {
        TAudioDetector Engine;
        const std::unique_ptr<TAudioSequence> Sequence =
            Engine.BuildLandmarksFromFile(Sample.Path.toStdString(), Sample.Sense, Sample.SignalMode);
        return Sequence ? SampleSequenceStrength(*Sequence) : -1;
    } catch (const std::exception& Failure) {
        if (Error)
            *Error = SampleSequenceErrorText(Failure);
        return -1;
    }
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

QStringList SampleNeverFoundReasons(TAudioDetector& Engine, const TSampleRec& Sample, const TFrequencyRecArr& Table)
{
    QStringList Reasons;
    const QVariant Shown = qint64(Sample.Number) + 1;
    switch (Sample.Type) {
    case TSampleType::Command: {
        QStringList Known, Unknown;
        for (const QString& Item : Sample.Command.split(u',')) {
            const QString ID = TrimBlanks(Item);
            if (ID.isEmpty())
                continue;
            (IndexOfCommand(Table, ID) >= 0 ? Known : Unknown).append(u'"' + ID + u'"');
        }
        if (Known.isEmpty())
            Reasons.append(FormatMessageText("NeverFoundNoCommand", {Shown, Sample.Description}));
        else if (!Unknown.isEmpty())
            Reasons.append(FormatMessageText("UnknownCommands", {Shown, Sample.Description, Unknown.join(QStringLiteral(", "))}));
        break;
    }
    case TSampleType::File: {
        if (Engine.FrameRate <= 0 || Engine.FFTCount <= 0)
            break;
        // Frames of the clip as the engine hears it, resampled to its rate; a build has read
        // them already, as a rule.
        int64_t Frames = 0;
        try {
            Frames = Engine.ClipFrames(Sample.Path.toStdString());
        } catch (const std::exception&) {
            break;  // BuildSampleSequence says why
        }
        if (Frames < Engine.FFTCount)
            Reasons.append(FormatMessageText("NeverFoundShortClip", {Shown, Sample.Description,
                                                                     qint64(Engine.FFTCount) * 1000 / Engine.FrameRate}));
        break;
    }
    default:
        break;
    }
    return Reasons;
}
