#pragma once
// Detection targets and the rules that advance them block by block.
//
// Every target is a TAudioSequence: either spectral, a chain of time slices (TAudioSample)
// whose peaks (TFreqData) must all be satisfied in one spectrum, or a level detector
// (silence or signal) with a dB threshold held for a duration. The engine steps each
// sequence once per analysed block with StepSequence.
//
// Time is never read from the system here: every operation that needs "now" takes it from
// its caller. The engine passes the stream time of the block being analysed; tests drive
// time explicitly.

#include "audio/AudioFFT.h"
#include "audio/AudioIO.h"
#include "base/DayTime.h"
#include "audio/MainThreadQueue.h"
#include "audio/ToneDetector.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// Milliseconds from Start to Now. Day-based date-times carry up to about a microsecond of
// rounding noise, so the difference is snapped to 10 microseconds: an interval of exactly
// 5001 ms never reads 4999.9999 (and truncates to 5000).
double MillisecondsBetween(TDateTime Start, TDateTime Now);
// Value moved by Ms milliseconds.
TDateTime IncMilliseconds(TDateTime Value, double Ms);

// Whether Count frames is an analysis block the engine offers: a power of two from 1024 to
// 8192. Capture and the fingerprint builder refuse any other.
bool ValidFFTCount(int32_t Count);

// Whether a peak's band must be loud or quiet. Stored as one byte; other values are
// possible from bad input and never satisfy nor fail a slice.
enum TFreqKind : uint8_t {
    fkPresent = 0,  // the band must be loud enough
    fkAbsent = 1,   // the band must be quiet enough
};

// What a sequence detects. Stored as one byte; a sequence of any other value is never
// stepped and never found.
enum TSequenceKind : uint8_t {
    skSpectral = 0,
    skSilence = 1,
    skSignal = 2,
    // A clip recognised by its landmarks (audio/AudioLandmarks.h): the engine's landmark
    // matcher marks the block in which it ends, and the step reports it.
    skLandmark = 3,
};

// How a spectral sequence's slices are recognised. Stored as one byte.
enum TMatchMethod : uint8_t {
    mmSpectral = 0,  // every peak against its reference level (Match)
    mmToneSet = 1,   // each slice a tone set against the block's own energy (MatchTones,
                     // audio/ToneDetector.h)
};

// What a level detector measures of a block, on each channel. Stored as one byte.
enum TLevelMeasure : uint8_t {
    lmPeak = 0,  // the largest sample
    lmRms = 1,   // the root mean square of the samples: a steady hiss, hum or noise floor
                 // reads at its power, not at its rare highest peaks
};

// What a level detector that alarms once per episode (AlarmOnce) reports beside its find.
enum TAlarmChange : uint8_t {
    acNone = 0,
    acReminder = 1,  // the condition still holds, RemindInterval after the find or the last reminder
    acEnded = 2,     // the first block that breaks the condition after the find
};

struct TLandmarkPrint;
class TLandmarkMatcher;
class TClipPrintCache;
struct TStepInput;

// A list that owns its items. Items keep their address for their whole life in the list,
// so pointers to them stay valid while others are added.
template <typename T>
class TOwningList {
public:
    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    bool Empty() const { return FItems.empty(); }

    // Throws std::out_of_range for an index outside 0..Count-1.
    T& Items(int32_t Index) { return *FItems[CheckedIndex(Index)]; }
    const T& Items(int32_t Index) const { return *FItems[CheckedIndex(Index)]; }

    // Creates an empty item, appends it and returns it.
    T& AddNew() { return Add(std::make_unique<T>()); }
    // Appends an existing item and takes ownership of it.
    T& Add(std::unique_ptr<T> Item)
    {
        if (!Item)
            throw std::invalid_argument("cannot add an empty item to a list");
        FItems.push_back(std::move(Item));
        return *FItems.back();
    }
    // Removes the item at Index and frees it.
    void Delete(int32_t Index) { FItems.erase(FItems.begin() + CheckedIndex(Index)); }
    // Removes the item at Index without freeing it: ownership passes to the caller.
    std::unique_ptr<T> Extract(int32_t Index)
    {
        const auto Position = FItems.begin() + CheckedIndex(Index);
        std::unique_ptr<T> Item = std::move(*Position);
        FItems.erase(Position);
        return Item;
    }
    void Clear() { FItems.clear(); }
    // Index of Item in the list, -1 when it is not one of its items.
    int32_t IndexOf(const T* Item) const
    {
        for (size_t I = 0; I < FItems.size(); ++I)
            if (FItems[I].get() == Item)
                return static_cast<int32_t>(I);
        return -1;
    }
    // The last item, or nullptr when the list is empty.
    T* Last() const { return FItems.empty() ? nullptr : FItems.back().get(); }

    // Iteration over the items themselves (not their owning pointers).
    template <typename Owner, typename Item>
    class TIterator {
    public:
        explicit TIterator(Owner Position) : FPosition(Position) {}
        Item& operator*() const { return **FPosition; }
        Item* operator->() const { return FPosition->get(); }
        TIterator& operator++()
        {
            ++FPosition;
            return *this;
        }
        bool operator==(const TIterator& Other) const { return FPosition == Other.FPosition; }

    private:
        Owner FPosition;
    };
    using iterator = TIterator<typename std::vector<std::unique_ptr<T>>::iterator, T>;
    using const_iterator = TIterator<typename std::vector<std::unique_ptr<T>>::const_iterator, const T>;
    iterator begin() { return iterator(FItems.begin()); }
    iterator end() { return iterator(FItems.end()); }
    const_iterator begin() const { return const_iterator(FItems.begin()); }
    const_iterator end() const { return const_iterator(FItems.end()); }

protected:
    // The engine steps every sequence of its list through Items each block: the check stays
    // a compare and a branch there, the message is made apart.
    size_t CheckedIndex(int32_t Index) const
    {
        if (Index < 0 || Index >= Count()) [[unlikely]]
            OutOfBounds(Index);
        return static_cast<size_t>(Index);
    }
    [[noreturn, gnu::cold, gnu::noinline]] void OutOfBounds(int32_t Index) const
    {
        throw std::out_of_range("list index " + std::to_string(Index) + " out of bounds (count " + std::to_string(Count())
                                + ")");
    }

    std::vector<std::unique_ptr<T>> FItems;
};

// One spectral peak to test. Plain data: every field is set directly.
struct TFreqData {
    int32_t Tolerance = 0;  // Hz, half-width of the band searched around Frequency
    int32_t Frequency = 0;  // Hz, centre of the band; a peak at 0 or below is skipped
    int32_t Measured = 0;   // band level found at the last evaluation (spectrum units); 0 after reset
                            // (tone-set slices leave it 0)
    int32_t RefLevel = 0;   // reference level: the level in the clip, 2500 for command tones
    TFreqKind Kind = fkPresent;
    int32_t Sense = 0;      // percent: how far the measurement may fall short of (or exceed) RefLevel
};

// A slice's peaks. Every way of changing the list or of reaching one of its peaks for writing
// counts as a change (Changes), after which the matcher makes its checks of the peaks afresh.
class TFreqDataList : public TOwningList<TFreqData> {
    using Base = TOwningList<TFreqData>;

public:
    // By RefLevel; the order of equal levels is not defined.
    void SortAscending();
    void SortDescending();

    TFreqData& Items(int32_t Index) { return Changed(), Base::Items(Index); }
    const TFreqData& Items(int32_t Index) const { return Base::Items(Index); }
    TFreqData& AddNew() { return Changed(), Base::AddNew(); }
    TFreqData& Add(std::unique_ptr<TFreqData> Item) { return Changed(), Base::Add(std::move(Item)); }
    void Delete(int32_t Index) { Changed(), Base::Delete(Index); }
    std::unique_ptr<TFreqData> Extract(int32_t Index) { return Changed(), Base::Extract(Index); }
    void Clear() { Changed(), Base::Clear(); }
    TFreqData* Last() { return Changed(), Base::Last(); }
    const TFreqData* Last() const { return Base::Last(); }
    iterator begin() { return Changed(), Base::begin(); }
    iterator end() { return Base::end(); }
    const_iterator begin() const { return Base::begin(); }
    const_iterator end() const { return Base::end(); }
    uint64_t Changes() const { return FChanges; }

private:
    friend class TAudioSample;
    void Changed() { ++FChanges; }
    uint64_t FChanges = 0;
};

// The band level of a spectrum between Lo and Hi Hz: bins BinOf(Lo) up to, not including,
// BinOf(Hi), limited to the bins the spectrum has. fkPresent gives the largest magnitude of
// the band, fkAbsent the smallest; an empty band or any other kind gives 0.
int32_t BandLevel(int32_t Lo, int32_t Hi, TFreqKind Kind, const TSpectrumData& Spectrum, int32_t FrameRate);

// What a slice's peaks are measured in: the magnitude spectrum of a block, or the transform of
// one mode of an analyser's last block, whose band levels the analyser works out from the
// powers of the band's bins (TAudioFFT::BandMagnitude): the same levels, without the square
// roots of bins no peak reads. A view: what it shows must outlive it.
class TSpectrumLevels {
public:
    TSpectrumLevels(const TSpectrumData& Spectrum) : FSpectrum(&Spectrum), FSize(Spectrum.size()) {}
    TSpectrumLevels(const TAudioFFT& Analyser, TSignalMode Mode);
    // Bins of the magnitude spectrum (none for a mode the analyser did not transform).
    size_t Size() const { return FSize; }
    // The magnitude spectrum shown; nullptr for a transform's.
    const int32_t* Magnitudes() const { return FSpectrum != nullptr ? FSpectrum->data() : nullptr; }
    // The band level of bins First up to, not including, Last: the largest magnitude for
    // fkPresent, the smallest for any other kind; 0 for an empty band.
    int32_t Level(int32_t First, int32_t Last, TFreqKind Kind) const;

private:
    const TSpectrumData* FSpectrum = nullptr;
    const TAudioFFT* FAnalyser = nullptr;
    TSignalMode FMode = TSignalMode::Add;
    size_t FSize = 0;
};

// The band a peak measures, in Hz: Frequency - Tolerance to Frequency + Tolerance, saturated
// at the 32-bit range.
struct TPeakBand {
    int32_t Lo = 0;
    int32_t Hi = 0;
};
TPeakBand PeakBand(const TFreqData& Peak);

// One time slice of a spectral sequence.
class TAudioSample {
public:
    // When the slice first matched in the current attempt; 0 while it has not matched.
    TDateTime MatchStart() const { return FMatchStart; }
    // Set once the slice matched; stays set until the sequence is reset.
    bool Matched() const { return FMatched; }

    // ms; after this slice first matched, the next slice must match within this time or the
    // sequence starts over. 0 = no limit.
    int32_t MaxGap = 0;
    // ms; after this slice first matched, the next slice is not tried before this much time
    // has passed since MatchStart. 0 = from the next block on, nothing else changes.
    //
    // Above 0 the slice is one block of a clip. Analysis blocks come every half block and
    // overlap by half, so a clip that starts anywhere has each slice's audio spread over two
    // neighbouring blocks, and a slice's peaks are often satisfied by both. A slice that
    // matched is therefore placed on the better of its block and the next one (see Match):
    // its MatchStart is where most of its audio lies, and the next slice is tried from the
    // following block on. The matcher then neither runs ahead of the audio (taking a block
    // that holds mostly one slice for the next) nor falls behind it at any start offset.
    int32_t MinGap = 0;
    // The peaks, all of which must be satisfied in one spectrum.
    TFreqDataList Peaks;

    // MatchStart 0, Matched false and Measured 0 in every peak.
    void Reset();
    // Milliseconds since MatchStart, rounded to the nearest (ties to even); 0 while the slice
    // has not matched.
    int32_t Elapsed(TDateTime Now) const;
    // Measures every peak with a Frequency above 0 and sets Matched: true when each of them
    // is satisfied (a slice without peaks always is). MatchStart becomes Now on the first
    // match and 0 on a miss. Returns Matched.
    bool Evaluate(const TSpectrumLevels& Spectrum, int32_t FrameRate, TDateTime Now);

    // How much of the slice's sound a spectrum holds: the smallest measured level / RefLevel
    // among its presence peaks, leaving out faint ones (below a quarter of its strongest);
    // a large constant without presence peaks. Changes nothing.
    double FitOf(const TSpectrumLevels& Spectrum, int32_t FrameRate) const;

private:
    friend class TAudioSequence;
    // Evaluate and FitOf on one source of levels (a magnitude spectrum's or a transform's),
    // each in loops of its own.
    template <typename TLevels>
    bool EvaluateWith(const TLevels& Levels, int32_t FrameRate, TDateTime Now);
    template <typename TLevels>
    double FitWith(const TLevels& Levels, int32_t FrameRate) const;
    // One peak as the matcher tests it: its band as bins of the spectrum, the level it must
    // reach (present) or stay under (absent), computed once from the peak.
    struct TPeakCheck {
        int32_t First = 0;  // bins First..Last-1; empty for a kind that measures nothing
        int32_t Last = 0;
        int32_t Threshold = 0;
        TFreqKind Kind = fkPresent;
        bool Places = false;  // a presence peak FitOf reads
        TFreqData* Peak = nullptr;
    };
    // The checks of the peaks with a frequency, for spectra of Len bins at FrameRate; made
    // afresh when these or the peaks changed.
    const std::vector<TPeakCheck>& ChecksFor(size_t Len, int32_t FrameRate) const
    {
        if (FChecksOf == Peaks.Changes() && FChecksLen == Len && FChecksRate == FrameRate)
            return FChecks;
        return MakeChecks(Len, FrameRate);
    }
    const std::vector<TPeakCheck>& MakeChecks(size_t Len, int32_t FrameRate) const;

    TDateTime FMatchStart = 0;
    bool FMatched = false;
    // FitOf at MatchStart, against which the next block is compared.
    double FMatchFit = 0;
    mutable std::vector<TPeakCheck> FChecks;
    mutable size_t FChecksLen = 0;
    mutable int32_t FChecksRate = 0;
    mutable uint64_t FChecksOf = UINT64_MAX;  // Peaks.Changes() they were made at
};

class TAudioSampleList : private TOwningList<TAudioSample> {
    // Slices are only ever appended: a sequence refers to its slices by index.
    using Base = TOwningList<TAudioSample>;

public:
    using Base::AddNew;
    using Base::begin;
    using Base::Count;
    using Base::Empty;
    using Base::end;
    using Base::IndexOf;
    using Base::Items;
    using Base::Last;
    using Base::iterator;
    using Base::const_iterator;
    // Unchecked access for the matcher, which keeps its indices in range.
    TAudioSample& operator[](int32_t Index) { return *FItems[static_cast<size_t>(Index)]; }
    const TAudioSample& operator[](int32_t Index) const { return *FItems[static_cast<size_t>(Index)]; }
};

// One detection target.
class TAudioSequence {
public:
    // The slices in time order; empty for level detectors.
    TAudioSampleList Samples;

    // The sequence has been detected.
    bool Found() const { return FFound; }
    // The slice awaited next; nullptr before the first step.
    const TAudioSample* Current() const { return FCurrent < 0 ? nullptr : &Samples[FCurrent]; }
    int32_t CurrentIndex() const { return FCurrent; }
    // The slice matched last; nullptr before the first match.
    const TAudioSample* Previous() const { return FPrevious < 0 ? nullptr : &Samples[FPrevious]; }
    int32_t PreviousIndex() const { return FPrevious; }

    // A found sequence stays found; when clear it is re-armed on the next block.
    bool Hold = false;
    // ms; level detectors: how long the level condition must hold. Spectral: 0.
    int32_t Duration = 0;
    // Spectral sequences: which spectrum is matched.
    TSignalMode Channel = TSignalMode::Left;
    TSequenceKind Kind = skSpectral;
    // Spectral sequences: how the slices are recognised.
    TMatchMethod Method = mmSpectral;
    // dB; level detectors: the threshold.
    double Level = 0;
    // Level detectors: what the threshold is compared with.
    TLevelMeasure LevelMeasure = lmPeak;
    // Level detectors: one find per episode. Found, the sequence stays found while the
    // condition holds, reports a reminder every RemindInterval ms after the find (0: none),
    // and reports the end of the episode on the first block that breaks the condition
    // (AlarmChange); then it is re-armed, unless it has Hold. Without AlarmOnce it is re-armed
    // on the block after each find and found again after every further Duration.
    bool AlarmOnce = false;
    int32_t RemindInterval = 0;
    // The sample the sequence was built for; carried for the engine's user, never interpreted.
    int32_t Number = 0;
    // Landmark clips: the fingerprint the engine's landmark matcher watches for.
    std::shared_ptr<const TLandmarkPrint> Landmarks;

    // Level detectors: when the condition began to hold without a break; 0 when it does not hold.
    TDateTime StartTime() const { return FStartTime; }
    // Level detectors with AlarmOnce: found, and the condition has held since (the episode).
    bool InEpisode() const { return FEpisode; }
    // What the last step reported beside a find (acNone for every other sequence), and how
    // long the episode had lasted then, in ms from StartTime: up to that block for a reminder,
    // up to the block that ended it for the end.
    TAlarmChange AlarmChange() const { return FAlarmChange; }
    int32_t AlarmLasted() const { return FAlarmLasted; }

    // StartTime 0, not found, no Current or Previous, and Reset of every slice.
    void Reset();
    // ms: spectral, the time since the first slice of the current attempt matched; level
    // detectors, the time since StartTime (truncated); landmark clips, the time since the
    // start of the occurrence most agreed on; 0 when not started or of another kind.
    int32_t Elapsed(TDateTime Now) const;
    // Percent, 0..100: spectral, the share of slices matched; level detectors, the share of
    // Duration held (100 as soon as the condition holds when Duration is 0); landmark clips,
    // the votes of the occurrence most agreed on against those needed (100 once found).
    int32_t Progress(TDateTime Now) const;

    // One step of a spectral sequence against the spectrum of its Channel: tries at most
    // the one slice awaited, starts over when the gap after the slice matched last grew
    // beyond its MaxGap, waits while it is shorter than its MinGap. A clip's slice (MinGap
    // above 0) that matched is placed on the better of its block and the next one; when its
    // own block is the better, the next slice is tried on that next block in the same step.
    void Match(const TSpectrumLevels& Spectrum, int32_t FrameRate, TDateTime Now);
    // Match on one source of levels (see TAudioSample::EvaluateWith).
    template <typename TLevels>
    void MatchWith(const TLevels& Levels, int32_t FrameRate, TDateTime Now);
    // Works out once, for spectra of Bins bins at FrameRate, what Match needs of every
    // slice's peaks (their bins and thresholds), so that matching allocates nothing. Match
    // does it itself for a slice whose peaks or spectra changed since.
    void Prepare(size_t Bins, int32_t FrameRate);
    // One step of a tone-set sequence (audio/ToneDetector.h) against the block Analysis
    // measures: the awaited slice matches in the block that holds its tone set, and the
    // sequence starts over when the gap after the slice matched last grew beyond its MaxGap.
    // One press is one symbol: once a slice matched, the same tones match again only after
    // they have ended, so a tone held over many blocks completes one slice, and a sequence
    // re-armed while its last tone still sounds waits for the next press.
    void MatchTones(TToneAnalysis& Analysis, TDateTime Now)
    {
        // The step of most blocks, for every command sample: nothing held or held loosely, no
        // slice matched in this attempt, and the awaited slice's tones fail the first check on
        // their powers. (MatchTonesOnward takes every other step, from the start.)
        if (FHeld < 0 && FLoose < 0 && FPrevious < 0 && FCurrent >= 0 && !FFound
            && FToneSetsRead == Samples.Count()) {
            TToneSetOf& Entry = FToneSets[size_t(FCurrent)];
            if (Entry.Of == Samples[FCurrent].Peaks.Changes()) {
                Analysis.Bind(Entry.Set, Channel);
                if (!Analysis.MayHold(Entry.Set, Channel))
                    return;
            }
        }
        MatchTonesOnward(Analysis, Now);
    }

    // One step of a level detector with the volumes in dB of both channels.
    friend void StepLevel(TAudioSequence& Sequence, double LeftVolumedB, double RightVolumedB, TDateTime Now);

private:
    friend class TLandmarkMatcher;
    friend bool StepSequence(TAudioSequence& Sequence, const TStepInput& Input);
    // Previous = Current, and Current moves on or the sequence is found.
    void Advance();

    bool FFound = false;
    int32_t FCurrent = -1;
    int32_t FPrevious = -1;
    // The awaited slice has missed a block of this attempt already.
    bool FCurrentMissed = false;
    // The slice matched last was placed on the block before its due one.
    bool FPlacedEarly = false;
    // Tone sets: the slice whose tones matched last and still sound (-1: none), and the
    // power of its weaker tone at its strongest. Kept over a Reset: a press outlasts it.
    int32_t FHeld = -1;
    double FHeldPower = 0;
    // Tone sets: the awaited slice whose tones the last block held loosely (-1: none), and
    // their frequencies then.
    int32_t FLoose = -1;
    std::array<double, 5> FLooseFrequencies{};
    // Tone sets: what the detector reads of each slice's peaks, worked out again when the
    // slice's peaks changed since (Of: their Changes() then).
    struct TToneSetOf {
        TToneSet Set;
        uint64_t Of = UINT64_MAX;
    };
    std::vector<TToneSetOf> FToneSets;
    int32_t FToneSetsRead = -1;  // FToneSets.size() once every slice's set was read
    // The tone set of slice Index, bound to Analysis for the sequence's Channel.
    const TToneSet& ToneSetOf(int32_t Index, TToneAnalysis& Analysis);
    // MatchTones beyond the step of most blocks.
    void MatchTonesOnward(TToneAnalysis& Analysis, TDateTime Now);
    TDateTime FStartTime = 0;
    // Landmark clips: the matcher found the clip ending in this block; its progress; and a
    // count of resets, by which the matcher sees that it must forget its votes.
    bool FLandmarkDue = false;
    int32_t FLandmarkProgress = 0;
    uint32_t FResets = 0;
    // Level detectors with AlarmOnce: the episode runs, the next reminder is due at
    // FNextReminder, and what the last step reported.
    bool FEpisode = false;
    TDateTime FNextReminder = 0;
    TAlarmChange FAlarmChange = acNone;
    int32_t FAlarmLasted = 0;
    // One step of an episode: a reminder when due, or its end.
    void StepEpisode(bool Holds, TDateTime Now);
};

using TAudioSequenceList = TOwningList<TAudioSequence>;

// What one analysed block offers the sequences.
struct TStepInput {
    // The live analyser, whose spectra spectral sequences match; none gives empty spectra.
    const TAudioFFT* Analyser = nullptr;
    int32_t FrameRate = 44100;
    double LeftVolumedB = -91.0;
    double RightVolumedB = -91.0;
    // The root mean square of each channel in dB full scale, for level detectors that measure
    // it (the engine measures it only while one of its sequences does).
    double LeftRmsdB = -91.0;
    double RightRmsdB = -91.0;
    // The stream time of the block.
    TDateTime Now = 0;
    // Where tone-set sequences keep the measures of the block they share; none gives each
    // sequence measures of its own.
    TToneAnalysis* Tones = nullptr;
};

// The louder of both channels (in the measure the sequence takes) holds the level condition (silence: at or below Level;
// signal: at or above). The first block it holds records StartTime; the sequence is found
// on a later block once it has held strictly longer than Duration. A block that breaks
// the condition clears StartTime.
void StepLevel(TAudioSequence& Sequence, double LeftVolumedB, double RightVolumedB, TDateTime Now);

// The per-block rule. A sequence not found at the start of the step is matched (spectral)
// or its level stepped (silence, signal); the result is true exactly when this step found
// it, so each detection is reported once. A sequence found before the step is re-armed
// (Reset) unless it has Hold, and gives false; a level detector in an episode (AlarmOnce)
// steps the episode instead, and tells a reminder or its end through AlarmChange.
bool StepSequence(TAudioSequence& Sequence, const TStepInput& Input);

// Whether two sequences watch for the same thing: kind, method, channel, level, its measure,
// duration, hold, alarm and reminder, and number alike, the same landmark print, and slices with the same gaps and peaks.
// Their matching state is not compared. A rebuild keeps a sequence that stays the same, with
// the match it has under way.
bool SameTarget(const TAudioSequence& A, const TAudioSequence& B);

// The detection engine: the sequences it watches and its two analysers, the live one and
// the one the fingerprint builder uses, so that a build never disturbs live analysis.
//
// While it runs the engine owns a capture (TAudioIn) and analyses every captured buffer
// together with the one before it, so blocks of FFTCount frames overlap by half. All of it
// runs on the main thread: the capture's buffers arrive through the main-thread queue given
// at construction, and nothing here takes a lock.
//
// Time: the engine reads "now" from its stream clock, the local date-time at which capture
// started plus the frames received since, divided by the frame rate. Live this follows the
// wall clock but is immune to buffers delivered in bursts; over a file it gives exactly the
// timing the file would have had live.
//
// A capture that vanishes (the audio server stops, the source is removed) is not the end of
// monitoring: the engine reports it through OnCaptureLost, reads -91 dB, and reopens the same
// device every RetryInterval ms until it can, then reports OnCaptureRestored.
class TAudioDetector {
public:
    // A sequence has just been found.
    using TSequenceEvent = std::function<void(TAudioSequence& Sequence)>;
    // A level detector's episode (AlarmOnce) has a reminder due or has ended (Change), having
    // lasted LastedMs.
    using TAlarmEvent = std::function<void(TAudioSequence& Sequence, TAlarmChange Change, int32_t LastedMs)>;
    // One analysis block of Size bytes of interleaved 16-bit stereo PCM.
    using TBufferEvent = std::function<void(TAudioDetector& Sender, const uint8_t* Data, uint16_t Size)>;
    using TVolumeEvent = std::function<void(TAudioDetector& Sender, int32_t LeftVolume, int32_t RightVolume,
                                            double LeftVolumeDb, double RightVolumeDb)>;
    using TNotifyEvent = std::function<void(TAudioDetector& Sender)>;
    using TDroppedEvent = std::function<void(TAudioDetector& Sender, uint32_t Frames)>;

    explicit TAudioDetector(TMainThreadQueue& Queue = MainThreadQueue());
    ~TAudioDetector();
    TAudioDetector(const TAudioDetector&) = delete;
    TAudioDetector& operator=(const TAudioDetector&) = delete;

    // The sequences watched; the monitoring controller adds and clears them.
    TAudioSequenceList Sequences;
    // Capture frame rate in Hz.
    int32_t FrameRate = 44100;
    // Analyser of the live capture.
    TAudioFFT LiveFFT;
    // Analyser used by the fingerprint builder.
    TAudioFFT FileFFT;
    // Watches the landmark sequences; fed every block before the sequences are stepped.
    TLandmarkMatcher& Landmarks() { return *FLandmarks; }
    // The clip fingerprints built so far (audio/ClipPrintCache.h): BuildFromFile and
    // BuildLandmarksFromFile build a clip again only when the file or a parameter changed.
    TClipPrintCache& ClipPrints() { return *FClipPrints; }
    // Input device number; -1 selects the system's default input.
    int32_t DeviceIndex = 0;
    // Frames per analysis block, a power of two from 1024 to 8192.
    int32_t FFTCount = 2048;

    // Fingerprint of an audio clip (any file TcbAudioFileReader decodes), analysed with
    // FileFFT at the current FrameRate and FFTCount: a new spectral sequence on Channel, one
    // slice per complete block, each with at most MaxPeaks presence peaks (and, with
    // UseAbsence, at most MaxPeaks absence peaks) carrying Sense. A clip at another rate
    // is resampled to FrameRate first (ReadClipStereo). Raises EAudioReadError when the file cannot be read
    // and EFingerprintError (audio/AudioDetectorBuild.h) when no slice carries a presence peak.
    std::unique_ptr<TAudioSequence> BuildFromFile(const std::string& FileName, int32_t MaxPeaks, int32_t Sense,
                                                  bool UseAbsence, TSignalMode Channel);
    // Landmark fingerprint of an audio clip, analysed with FileFFT at the current FrameRate
    // and FFTCount: a new sequence of Kind skLandmark on Channel whose threshold follows
    // Sense (percent, 50 neutral). Raises EAudioReadError when the file cannot be read, and
    // EFingerprintError when the clip (resampled to FrameRate) is shorter than one block or has too
    // few landmarks ever to be told from chance (silence). A weak but usable clip is built;
    // LandmarkStrength says how weak.
    std::unique_ptr<TAudioSequence> BuildLandmarksFromFile(const std::string& FileName, int32_t Sense,
                                                           TSignalMode Channel);
    // Frames of the clip FileName as the fingerprint builders hear it (resampled to FrameRate):
    // what the last build read of the same version of the file, or read anew. Raises
    // EAudioReadError when the file cannot be read.
    int64_t ClipFrames(const std::string& FileName);

    TSequenceEvent OnSequenceFound;
    // Fired within the block, after the step of the sequence, like OnSequenceFound.
    TAlarmEvent OnAlarmChange;
    TBufferEvent OnBufferFilled;
    TVolumeEvent OnVolumeChange;
    // The capture vanished (ErrorText says why); the engine stays active and retries.
    TNotifyEvent OnCaptureLost;
    // The capture is back after a loss.
    TNotifyEvent OnCaptureRestored;
    // The capture's input ended by itself: a file or pipe was delivered completely (ErrorText
    // is set when it could not be read to its end). The engine stays active until stopped.
    TNotifyEvent OnInputEnd;
    // The first block whose analysis failed since Start (a handler or the analyser threw):
    // fired once per run, not for every failing block, with LastAnalysisError set. The block
    // is skipped and the next one is analysed normally; AnalysisErrors counts them all.
    TNotifyEvent OnAnalysisError;
    // The capture lost Frames of audio (processing fell behind for longer than it holds
    // audio). They count into the stream clock, so that the times of later blocks stay true;
    // the block that would span the loss is not analysed.
    TDroppedEvent OnAudioDropped;
    // Frames lost since Start.
    uint64_t DroppedFrames() const { return FDroppedFrames; }
    // Blocks whose analysis failed since Start, and what the last one failed with.
    uint64_t AnalysisErrors() const { return FAnalysisErrors; }
    const std::string& LastAnalysisError() const { return FLastAnalysisError; }

    // Makes the capture device at each start; empty: the audio server. The offline scanner
    // sets a stream device here.
    TWaveInDeviceFactory CaptureDevice;
    // Halves of an analysis block per capture buffer (at the next start; as many as a
    // buffer of at most 65535 bytes holds). Live capture keeps 1, so that each block is
    // analysed as soon as its audio is in. A recording read as fast as it goes is better
    // read several halves at a time: one hand-over (a read, a queued task) serves them all,
    // and a large read goes straight from the file into the buffer. The halves are analysed
    // one by one exactly as if each had come alone: blocks, times and volumes do not change.
    // The device must then deliver a stream's last part in whole halves (TStreamWaveIn's
    // granule), or the blocks of that part are lost.
    int32_t CaptureHalves = 1;
    // ms between attempts to reopen a vanished capture.
    int32_t RetryInterval = 2000;
    // Text of the last capture failure; kept until the engine's user clears it.
    std::string ErrorText;

    // Opens the capture and starts analysis; true when the engine runs. Never raises.
    bool Start();
    // Start inside an error trap.
    bool TryStart();
    // Stops the capture at once and releases it.
    void Stop();
    // The live analyser's channels become the union of every sequence's Channel; it computes
    // the spectra of the channels of spectral sequences only, the magnitudes only in the band
    // their peaks read, and the signals of landmark clips' channels only. Called again
    // whenever the list or a peak changes.
    void UpdateChannels();
    void ResetSequences();
    // Volumes 0 and -91.0 dB.
    void ResetVolumes();

    bool Active() const { return FActive; }
    // The capture is open and delivering (false while a vanished capture is being retried).
    bool CaptureOpen() const { return Capture != nullptr; }
    int32_t LeftVolume() const { return FLeftVolume; }
    int32_t RightVolume() const { return FRightVolume; }
    double LeftVolumedB() const { return FLeftVolumedB; }
    double RightVolumedB() const { return FRightVolumedB; }
    // Names of the input devices in device-number order, read on first use.
    const std::vector<std::string>& DeviceNames();

    // The stream clock: the local date-time at which capture started (or was last reopened)
    // and the frames received (or lost) since.
    TDateTime StreamStart() const { return FStreamStart; }
    uint64_t StreamFrames() const { return FStreamFrames; }
    // "Now" of the engine: StreamStart + StreamFrames / FrameRate.
    TDateTime StreamTime() const;

    // Clamps Value to 1..32768 in place and gives 20 * log10(Value / 32767).
    static double VolumeToDb(int32_t& Value);
    // A root mean square in dB full scale, on the scale of VolumeToDb: 20 * log10(Rms / 32767)
    // with Rms clamped to 1..32768, so that digital silence reads as the quietest peak does.
    // A full-scale sine reads about -3 dB.
    static double RmsToDb(double Rms);

    // Analyses one block of Size bytes (interleaved 16-bit stereo) and steps every sequence.
    void ProcessBuffer(const uint8_t* Data, uint16_t Size);

private:
    bool OpenCapture();
    void ReleaseCapture();
    // A captured buffer: taken half a block at a time (HalfReceived) when it holds several.
    void BufferReceived(const uint8_t* Data, uint16_t Size);
    // One captured half: paired with the one before into a block and analysed.
    void HalfReceived(const uint8_t* Data, uint16_t Size);
    // ProcessBuffer; Continued: the block begins with the second half of the block before
    // (ProcessContinued of the analyser).
    void AnalyseBlock(const uint8_t* Data, uint16_t Size, bool Continued);
    void CaptureEnded(bool Lost);
    void ScheduleRetry();
    void RetryCapture();

    std::unique_ptr<TAudioSequence> BuildSpectralSequence(const std::string& FileName, int32_t MaxPeaks, int32_t Sense,
                                                          bool UseAbsence, TSignalMode Channel);
    std::unique_ptr<TAudioSequence> BuildLandmarkSequence(const std::string& FileName, int32_t Sense, TSignalMode Channel);
    // The clip as ReadClipStereo gives it at FrameRate; its length is kept for ClipFrames.
    std::vector<int16_t> ReadClip(const std::string& FileName);

    TMainThreadQueue& Queue;
    std::unique_ptr<TLandmarkMatcher> FLandmarks;
    std::unique_ptr<TClipPrintCache> FClipPrints;
    std::unique_ptr<TAudioIn> Capture;
    bool FActive = false;
    bool DeviceNamesRead = false;
    std::vector<std::string> FDeviceNames;
    int32_t FLeftVolume = 0, FRightVolume = 0;
    double FLeftVolumedB = -91.0, FRightVolumedB = -91.0;
    // The captured buffers one after another, room for BlockRingHalves of them, the last one
    // at LastHalf, and the size of the last one (0: none yet, the next buffer is kept for the
    // block after it). A block is the last two.
    static constexpr size_t BlockRingHalves = 16;
    std::vector<uint8_t> PairedBlock;
    size_t LastHalf = 0;
    uint16_t PreviousSize = 0;
    // Bytes of half a block, as the capture was opened.
    uint16_t HalfBytes = 0;
    // The channels whose magnitude spectra spectral peaks read, and the band (Hz) all their
    // peaks together read; Lo above Hi when there is none. No channel while the peaks take
    // their band levels from the transform (see UpdateChannels).
    TSignalModes FMagnitudeModes;
    int32_t FMagnitudeLo = INT32_MAX;
    int32_t FMagnitudeHi = INT32_MIN;
    // The tone measures of the live block, shared by the tone-set sequences.
    TToneAnalysis LiveTones;
    TDateTime FStreamStart = 0;
    uint64_t FStreamFrames = 0;
    uint64_t FAnalysisErrors = 0;
    std::string FLastAnalysisError;
    uint64_t FDroppedFrames = 0;
    void AudioDropped(uint32_t Frames);
    // Records a failed block; fires OnAnalysisError for the first of a run.
    void AnalysisFailed(const std::string& Text);
    // Counts starts and stops: a retry scheduled before the last one is void.
    uint64_t Generation = 0;
    // Tasks posted to the queue hold a weak reference and do nothing once the engine is gone.
    std::shared_ptr<TAudioDetector*> Self;
};
