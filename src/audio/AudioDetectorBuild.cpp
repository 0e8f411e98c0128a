// The fingerprint builder: an audio clip becomes a spectral sequence, one slice per block
// of FFTCount frames, each holding the strongest peaks between 1000 and 15000 Hz and, on
// request, the quietest bins of that band as absence peaks.

#include "audio/AudioDetectorBuild.h"

#include "audio/AudioLandmarks.h"
#include "audio/ClipPrintCache.h"
#include "audio/ClipRead.h"
#include "audio/cbAudioFileRead.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr double PresenceThreshold = 200;  // a bin must exceed it to be a presence peak
constexpr double AbsenceThreshold = 150;   // a bin must stay below it to be an absence peak
constexpr int32_t BandLow = 1000;          // Hz
constexpr int32_t BandHigh = 15000;        // Hz
constexpr int32_t PeakTolerance = 50;      // Hz
constexpr int32_t PruneDistance = 200;     // Hz
constexpr int32_t MaxGapBlocks = 6;

// Averages the bins in groups of three into the middle bin and clears the outer two; the
// last Len mod 3 bins keep their values.
void SmoothInThrees(TSpectrumData& S)
{
    const size_t Groups = S.size() / 3;
    for (size_t G = 0; G < Groups; ++G) {
        int32_t* Bin = S.data() + 3 * G;
        Bin[1] = (Bin[0] + Bin[1] + Bin[2]) / 3;
        Bin[0] = 0;
        Bin[2] = 0;
    }
}

// Orders the candidates by level (ascending for presence peaks, descending for absence
// peaks), then thins neighbours in that level order: walking from the end of the list, an
// item within PruneDistance of the last one kept is dropped, so of a run of close peaks
// only the last (the strongest, or the quietest) survives. Then keeps the last MaxPeaks.
// Result: the kept peaks from the end of the list backwards, the order they enter a slice.
void SelectPeaks(std::vector<TFreqData>& Candidates, bool Ascending, size_t MaxPeaks, std::vector<TFreqData>& Selected)
{
    // A stable sort keeps equal levels in frequency order, so building a clip twice gives
    // the same peaks.
    std::stable_sort(Candidates.begin(), Candidates.end(), [Ascending](const TFreqData& A, const TFreqData& B) {
        return Ascending ? A.RefLevel < B.RefLevel : A.RefLevel > B.RefLevel;
    });
    Selected.clear();
    // Items further down never remove one already kept, so the walk can stop at MaxPeaks.
    for (auto It = Candidates.rbegin(); It != Candidates.rend() && Selected.size() < MaxPeaks; ++It) {
        if (!Selected.empty() && std::abs(Selected.back().Frequency - It->Frequency) <= PruneDistance)
            continue;
        Selected.push_back(*It);
    }
}

}  // namespace

TFingerprintStrength FingerprintStrength(const TAudioSequence& Sequence)
{
    TFingerprintStrength Result;
    for (const TAudioSample& Slice : Sequence.Samples) {
        ++Result.Slices;
        for (const TFreqData& Peak : Slice.Peaks)
            if (Peak.Kind == fkPresent) {
                ++Result.SlicesWithPeaks;
                break;
            }
    }
    return Result;
}

namespace {

// The cached fingerprint of Key, or the one Build makes (kept for next time when the file
// stays the same). The file is examined before it is read: a file changed meanwhile gives a
// stamp that no longer matches, so the next build reads it again.
template <typename TBuild>
std::unique_ptr<TAudioSequence> CachedPrint(TClipPrintCache& Cache, const TClipPrintKey& Key, TBuild&& Build)
{
    const TFileStamp Stamp = TFileStamp::Of(Key.Path);
    if (const auto Built = Cache.Find(Key, Stamp))
        return CopySequence(*Built);
    std::shared_ptr<const TAudioSequence> Built = Build();
    Cache.Store(Key, Stamp, Built);
    return CopySequence(*Built);
}

}  // namespace

std::unique_ptr<TAudioSequence> TAudioDetector::BuildFromFile(const std::string& FileName, int32_t MaxPeaks, int32_t Sense,
                                                              bool UseAbsence, TSignalMode Channel)
{
    TClipPrintKey Key;
    Key.Path = FileName;
    Key.Kind = TClipPrintKind::Spectral;
    Key.FrameRate = FrameRate;
    Key.FFTCount = FFTCount;
    Key.MaxPeaks = MaxPeaks;
    Key.Sense = Sense;
    Key.UseAbsence = UseAbsence;
    Key.Channel = Channel;
    return CachedPrint(*FClipPrints, Key,
                       [&] { return BuildSpectralSequence(FileName, MaxPeaks, Sense, UseAbsence, Channel); });
}

std::unique_ptr<TAudioSequence> TAudioDetector::BuildLandmarksFromFile(const std::string& FileName, int32_t Sense,
                                                                       TSignalMode Channel)
{
    TClipPrintKey Key;
    Key.Path = FileName;
    Key.Kind = TClipPrintKind::Landmark;
    Key.FrameRate = FrameRate;
    Key.FFTCount = FFTCount;
    Key.Sense = Sense;
    Key.Channel = Channel;
    return CachedPrint(*FClipPrints, Key, [&] { return BuildLandmarkSequence(FileName, Sense, Channel); });
}

std::vector<int16_t> TAudioDetector::ReadClip(const std::string& FileName)
{
    // The file is examined before it is read, as for the fingerprints.
    const TFileStamp Stamp = TFileStamp::Of(FileName);
    std::vector<int16_t> Clip = ReadClipStereo(FileName, FrameRate);
    FClipPrints->StoreClipFrames(FileName, FrameRate, Stamp, int64_t(Clip.size() / 2));
    return Clip;
}

int64_t TAudioDetector::ClipFrames(const std::string& FileName)
{
    if (const int64_t Frames = FClipPrints->ClipFrames(FileName, FrameRate, TFileStamp::Of(FileName)); Frames >= 0)
        return Frames;
    return int64_t(ReadClip(FileName).size() / 2);
}

std::unique_ptr<TAudioSequence> TAudioDetector::BuildSpectralSequence(const std::string& FileName, int32_t MaxPeaks,
                                                                   int32_t Sense, bool UseAbsence, TSignalMode Channel)
{
    FileFFT.SetChannels(TSignalModes{Channel});
    auto Sequence = std::make_unique<TAudioSequence>();
    Sequence->Kind = skSpectral;
    Sequence->Channel = Channel;
    // A hand-edited precision can make MaxPeaks negative: no peaks of either kind.
    const size_t PeakLimit = MaxPeaks > 0 ? size_t(MaxPeaks) : 0;

    // A block size the engine does not offer (from a damaged setting) is refused before
    // anything is allocated for it.
    if (!ValidFFTCount(FFTCount))
        CheckResult(AudioReadCode::InvalidBufferSize);
    const std::vector<int16_t> Clip = ReadClip(FileName);
    const auto Frames = size_t(FFTCount);
    const auto BlockMs = static_cast<int32_t>(int64_t(FFTCount) * 1000 / FrameRate);
    // Live blocks come every half block, the next slice's audio one block after this one's:
    // the next slice may be tried from half a block on, on the nearest blocks around its
    // place, and the matcher places each slice on the better of two neighbouring blocks.
    const int32_t MinGap = BlockMs / 2;

    TSpectrumData S;
    std::vector<TFreqData> Presence, Absence, Selected;
    // The frequency of each bin, worked out once for all the clip's blocks.
    std::vector<int32_t> Frequencies;
    for (size_t First = 0; First + Frames <= Clip.size() / 2; First += Frames) {
        const int16_t* Block = Clip.data() + 2 * First;
        FileFFT.Process(Block, static_cast<int32_t>(Frames * 4));
        S = FileFFT.SpectrumOf(Channel);
        const auto Len = static_cast<int32_t>(S.size());
        SmoothInThrees(S);
        if (Frequencies.size() != S.size()) {
            Frequencies.resize(S.size());
            for (int32_t I = 0; I < Len; ++I)
                Frequencies[size_t(I)] = FreqOf(I, Len, FrameRate);
        }

        Presence.clear();
        Absence.clear();
        const int32_t Lo = std::max(0, BinOf(BandLow, Len, FrameRate));
        const int32_t Hi = std::min(BinOf(BandHigh, Len, FrameRate), Len - 1);
        for (int32_t I = Lo; I <= Hi; ++I) {
            const int32_t Level = S[size_t(I)];
            if (Level <= 0)
                continue;  // among them every bin the smoothing cleared
            const bool Present = double(Level) > PresenceThreshold;
            const bool Absent = UseAbsence && double(Level) < AbsenceThreshold;
            if (!Present && !Absent)
                continue;
            TFreqData Peak;
            Peak.Frequency = Frequencies[size_t(I)];
            Peak.RefLevel = Level;
            Peak.Tolerance = PeakTolerance;
            Peak.Sense = Sense;
            if (Present) {
                Peak.Kind = fkPresent;
                Presence.push_back(Peak);
            }
            if (Absent) {
                Peak.Kind = fkAbsent;
                Absence.push_back(Peak);
            }
        }

        TAudioSample& Slice = Sequence->Samples.AddNew();
        Slice.MaxGap = BlockMs * MaxGapBlocks;
        Slice.MinGap = MinGap;
        SelectPeaks(Presence, true, PeakLimit, Selected);  // strongest first
        for (const TFreqData& Peak : Selected)
            Slice.Peaks.AddNew() = Peak;
        if (UseAbsence) {
            SelectPeaks(Absence, false, PeakLimit, Selected);  // quietest first
            for (const TFreqData& Peak : Selected)
                Slice.Peaks.AddNew() = Peak;
        }
    }

    const TFingerprintStrength Strength = FingerprintStrength(*Sequence);
    if (Strength.Slices > 0 && Strength.SlicesWithPeaks == 0)
        throw EFingerprintError("ClipNothingToRecognise");
    return Sequence;
}

std::unique_ptr<TAudioSequence> TAudioDetector::BuildLandmarkSequence(const std::string& FileName, int32_t Sense,
                                                                   TSignalMode Channel)
{
    if (!ValidFFTCount(FFTCount))
        CheckResult(AudioReadCode::InvalidBufferSize);
    const std::vector<int16_t> Clip = ReadClip(FileName);

    auto Print = BuildLandmarkPrint(FileFFT, Clip.data(), Clip.size() / 2, Channel, FFTCount, FrameRate);
    Print->SetSense(Sense);
    // A clip that chance could match as well as its own sound (silence, a clip shorter than
    // a block) is refused; it would otherwise be found anywhere or never.
    if (Print->PerPhase() < Print->MinVotes)
        throw EFingerprintError("ClipNothingToRecognise");
    auto Sequence = std::make_unique<TAudioSequence>();
    Sequence->Kind = skLandmark;
    Sequence->Channel = Channel;
    Sequence->Landmarks = std::move(Print);
    return Sequence;
}
