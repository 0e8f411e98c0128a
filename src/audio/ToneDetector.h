#pragma once
// The tone-set detector for the slices of command sequences (DTMF and other multi-frequency
// signalling).
//
// A slice built for it holds its tones as presence peaks (Frequency, Tolerance) and every
// other tone of the operator's table as absence peaks. A block holds the slice's tone set
// when, in the Hann-windowed spectrum of the block:
//  - each tone is there above an absolute floor, its strongest component within the
//    tolerance (never further off than MaxToneDeviation), and all tones off alike;
//  - the set carries most of the energy of the band the table's tones live in;
//  - for a two-tone set, the two tones are within the twist limit of each other;
//  - below the band, where a voice's or an instrument's fundamentals and strongest harmonics
//    lie, there is little energy: speech and music reach the band with harmonics only;
//  - every other tone of the table stays below the weaker tone of the set (for DTMF, the rest
//    of its row and column): a steady one well below, the passing harmonics of a bed below.
// A block that meets these rules cleanly (a larger share, tones of a steady sine's shape,
// every rival well below) holds the set at once, so a press of 40 ms is heard; one that only
// just meets them holds it when the block before did too, at the same frequencies. The
// slice's Sense (50 neutral) moves every threshold: above 50 it accepts weaker, less clean
// tone sets, below 50 it asks for stronger, cleaner ones.
//
// A bed's note a semitone or less from a tone merges with it in the window's lobe, pulling
// its peak off and widening it. A set with such a tone has each tone fitted as two steady
// sines to the complex bins about it (TToneAnalysis::Resolve): the tone's own power and
// frequency go into the rules and the partial is no part of the band; the set is then held
// only when the next block confirms it.
//
// Everything is measured relative to the block itself, so a tone set is heard at any level
// above the floor and under a programme bed, while speech and music, whose energy spreads
// over many harmonics, are not taken for it.

#include "audio/AudioFFT.h"

#include <array>
#include <complex>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

// A tone further off its frequency than this share is never taken for it, whatever the
// slice's tolerance: telephone signalling accepts 1.5 % and rejects 3.5 %, and the tones of
// a sender come from a crystal, while a voice's harmonics may pass near them anywhere.
inline constexpr double MaxToneDeviation = 0.02;

// One tone as a block holds it.
struct TToneLevel {
    // The tone's power as its amplitude squared, in 16-bit sample units (a sine of amplitude
    // A reads A * A); 0 when the band is outside the spectrum.
    double Power = 0;
    // Hz: the frequency of the strongest component searched, interpolated between bins.
    double Frequency = 0;
    // The power just beside the tone's lobe as a share of the lobe's: about 0 for a steady
    // sine, more for a tone that glides, wavers or is cut short.
    double Spread = 0;
};

// A tone told apart from a steady partial of something else beside it, closer than the
// Hann window's lobe can separate (a note of a programme bed a semitone or less away).
struct TResolvedTone {
    // False when the bins about the tone are not two steady sines: then Tone says nothing.
    bool Resolved = false;
    TToneLevel Tone;  // Spread: what the two sines leave unexplained, as a share of the tone
    double BesidePower = 0;  // the partial beside the tone, as Tone.Power
    double BesideFrequency = 0;
};

class TAudioSample;
class TToneAnalysis;

// The tones one slice asks for, as the detector reads them from its peaks: everything the
// measure of its tone set depends on besides the block. Worked out once per slice (again
// when its peaks change), so that the slices of many command samples that ask for the same
// tones with the same limits share one measure per block.
struct TToneSet {
    struct TTone {
        int32_t Frequency = 0;  // Hz
        int32_t Tolerance = 0;  // Hz, as the peak gives it
        int32_t Within = 0;     // Hz: the tolerance the tone is searched and accepted within
        bool operator==(const TTone&) const = default;
    };
    // The set's own tones (the slice's presence peaks with a frequency), then every other
    // tone of the table (its absence peaks with a frequency), each in the slice's order.
    std::vector<TTone> Tones;
    size_t Present = 0;
    int32_t Sense = 50;      // of the slice's first presence peak, within 0 .. 100
    int32_t Lo = 0, Hi = 0;  // Hz: the band the table's tones live in
    uint64_t Hash = 0;       // of all the above
    // The limits of the first check on the tones' powers (TToneAnalysis::MayHold), by Sense.
    double MinPower = 0, LooseRival = 0;
    // Where a tone analysis keeps the tones from block to block (TToneAnalysis::Bind): Slots[I]
    // holds Tones[I] for the channel Mode in the analysis whose register is Register (0: none).
    uint64_t Register = 0;
    TSignalMode Mode = TSignalMode::Left;
    std::vector<uint16_t> Slots;

    // Reads the tone set of Slice's peaks (presence peaks its tones, absence peaks the table's
    // other tones; peaks of another kind only widen the band).
    void Assign(const TAudioSample& Slice);
    // Whether Other's own tones are these, in the same order.
    bool SameTones(const TToneSet& Other) const;
};

// What a caller reads of a tone set's measure: its grade alone (the rest only when the grade
// is not Absent), or every measure whatever the grade (as the release of a held press does).
enum class TToneSetNeed : uint8_t { Grade, Everything };

// How a block holds a slice's tone set.
struct TToneSetMeasure {
    enum TGrade : uint8_t {
        Absent = 0,  // fails a rule
        Loose = 1,   // meets the loose limits: held when the next block confirms it
        Clean = 2,   // meets the clean limits: held in this block
    };
    TGrade Grade = Absent;
    size_t Tones = 0;    // the slice's tones
    double Weakest = 0;  // power of the weakest tone
    double Share = 0;    // the set's share of the band's power
    // The frequencies measured of the first tones, in the slice's order; worked out once the
    // set has passed the rules on its tones' powers (0 when it failed one).
    std::array<double, 5> Frequencies{};
    // False for a set graded Absent for a caller of the grade alone, before its tones were
    // told apart from the partials beside them: the measures above are then not those the
    // whole measure gives.
    bool Whole = true;
};

// Measures the tone set Set in the block Analysis measures, in the channel Mode, for a caller
// that reads what Need says. Quick rules first: once one fails, the rest is not measured.
// (TToneAnalysis::ToneSet keeps the measure for the block.)
TToneSetMeasure MeasureToneSet(const TToneSet& Set, TSignalMode Mode, TToneAnalysis& Analysis,
                               TToneSetNeed Need = TToneSetNeed::Everything);

// The measures of one analysed block that tone-set slices use, made on request from the
// analyser's complex spectrum and kept for the block: every sequence watching the same
// channel shares them. Allocates only when the block size changes.
class TToneAnalysis {
public:
    // Makes the measures refer to the last block Analyser analysed at FrameRate; forgets
    // the ones of an earlier block. Cheap when nothing changed.
    void Use(const TAudioFFT* Analyser, int32_t FrameRate)
    {
        // (Every sequence of the block asks; the first one starts the block.)
        if (Analyser != FAnalyser || FrameRate != FFrameRate || (Analyser ? Analyser->Serial() : 0) != FBlock)
            Start(Analyser, FrameRate);
    }

    // The strongest tone within Tolerance Hz of Frequency in the channel Mode.
    TToneLevel Tone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance);
    // Tone(Mode, Frequency, Tolerance).Power, without working out the rest.
    double TonePower(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
    {
        const TToneEntry* Entry = FindTone(Mode, Frequency, Tolerance);
        return Entry ? Entry->Level.Power : 0;
    }
    // Keeps the tones of Set, in the channel Mode, in the analysis's register, where they stay
    // from block to block: the measures of a set's tones below then read them by place instead
    // of looking them up. Cheap when Set is kept there already. (A set that finds the register
    // full is looked up by its tones.)
    void Bind(TToneSet& Set, TSignalMode Mode)
    {
        if (Set.Register != FRegisterId || Set.Mode != Mode)
            BindAnew(Set, Mode);
    }
    // False when the block cannot hold Set in the channel Mode (MeasureToneSet would grade it
    // Absent) on the powers of its tones alone: one below the floor, or one of the table's
    // other tones too close to the weaker. Most sets of most blocks end here, for a few
    // comparisons each.
    bool MayHold(const TToneSet& Set, TSignalMode Mode);
    // Tone and TonePower of Set's tone I (Set.Tones[I]) within its tolerance, in the channel Mode.
    TToneLevel Tone(TSignalMode Mode, const TToneSet& Set, size_t I);
    double TonePower(TSignalMode Mode, const TToneSet& Set, size_t I)
    {
        const TToneEntry* Entry = SetTone(Mode, Set, I);
        return Entry ? Entry->Level.Power : 0;
    }
    // The power of the band from Lo to Hi Hz (the sum of every component's amplitude squared).
    double BandPower(TSignalMode Mode, int32_t Lo, int32_t Hi);
    // The tone within Tolerance Hz of Frequency and the strongest partial within a few bins
    // beside it, fitted as two steady sines to the complex bins about the tone. Costs some
    // microseconds: asked only of a tone whose lobe is not a single sine's.
    TResolvedTone Resolve(TSignalMode Mode, int32_t Frequency, int32_t Tolerance);
    // The measure of Set in the channel Mode (MeasureToneSet) for a caller that reads what Need
    // says, worked out once in the block for every slice that asks for the same set (again
    // for the first caller of every measure after callers of the grade alone).
    TToneSetMeasure ToneSet(TSignalMode Mode, const TToneSet& Set, TToneSetNeed Need = TToneSetNeed::Everything);

    // Hz per bin of the current block; 0 without a block.
    double BinHz() const { return FBinHz; }

private:
    // A tone measured in the block; a slot filled in an earlier block (another generation)
    // is empty.
    struct TToneEntry {
        uint32_t Generation = 0;
        TSignalMode Mode = TSignalMode::Left;
        int32_t Frequency = 0, Tolerance = 0;
        // The strongest bin within the tolerance, and whether Level's frequency and spread
        // are worked out (its power always is).
        int32_t Peak = 0;
        bool Detailed = true;
        TToneLevel Level;
        // The bins searched for the tone (First > Last: none), for spectra of RangeBins bins
        // of RangeHz each: kept while the blocks keep their size and rate.
        int32_t First = 1, Last = 0, RangeBins = 0;
        double RangeHz = 0;
    };
    // A few measures of the block, kept in the order they were first asked for (at most Size;
    // any more are measured each time), forgotten with the block.
    template <class TKey, class TValue, size_t Size>
    class TBlockMemo {
    public:
        void Clear() { FCount = 0; }
        template <class TMeasure>
        TValue Get(const TKey& Key, TMeasure&& Measure)
        {
            for (size_t I = 0; I < FCount; ++I)
                if (FEntries[I].first == Key)
                    return FEntries[I].second;
            const TValue Value = Measure();
            if (FCount < Size)
                FEntries[FCount++] = {Key, Value};
            return Value;
        }

    private:
        std::array<std::pair<TKey, TValue>, Size> FEntries{};
        size_t FCount = 0;
    };
    struct TBandKey {
        TSignalMode Mode;
        int32_t Lo, Hi;
        bool operator==(const TBandKey&) const = default;
    };
    struct TToneKey {
        TSignalMode Mode;
        int32_t Frequency, Tolerance;
        bool operator==(const TToneKey&) const = default;
    };
    // Power of bin K of the Hann-windowed spectrum, scaled so that a sine's lobe sums to its
    // amplitude squared; 0 for bin 0, the Nyquist bin and bins the spectrum does not have.
    // Worked out once in the block, when first asked for.
    double BinPower(TSignalMode Mode, int32_t K)
    {
        const auto Index = size_t(Mode);
        if (K >= FPowersFrom[Index] && K <= FPowersTo[Index])
            return FPowers[Index][size_t(K)];
        return BinPowerBeyond(Index, K);
    }
    double BinPowerBeyond(size_t Mode, int32_t K);
    // Works out the powers of Mode's bins From .. To (within 1 .. N/2 - 1), and of those
    // between them and the bins worked out before, which stay one run.
    void PowersOver(size_t Mode, int32_t From, int32_t To)
    {
        if (From < FPowersFrom[Mode] || To > FPowersTo[Mode])
            WorkOutPowers(Mode, From, To);
    }
    void WorkOutPowers(size_t Mode, int32_t From, int32_t To);
    // Makes the measures refer to the last block Analyser analysed at FrameRate.
    void Start(const TAudioFFT* Analyser, int32_t FrameRate);
    // Works out the running sums of Mode's bin powers up to bin UpTo.
    void SumPowers(size_t Mode, int32_t UpTo);
    // Whether the block has a spectrum of Mode; sets the bin geometry from it.
    bool Measurable(TSignalMode Mode);
    // Bins of the complex spectrum of Mode in the block: N / 2 + 1, or 0 without one.
    int32_t BinsOf(TSignalMode Mode) const;
    // The entry of a tone in the block, its power measured; nullptr without a spectrum.
    TToneEntry* FindTone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance)
    {
        // Every slice of the block asks for the same few tones, over and over: most are
        // found in the slot their key hashes to.
        const size_t Slot = ((uint32_t(Frequency) * 2654435761u) ^ (uint32_t(Tolerance) * 40503u) ^ uint32_t(Mode)) >> 26;
        TToneEntry& Entry = FTones[Slot];
        if (Entry.Generation == FGeneration && Entry.Frequency == Frequency && Entry.Tolerance == Tolerance
            && Entry.Mode == Mode)
            return &Entry;
        return FindToneFrom(Slot, Mode, Frequency, Tolerance);
    }
    TToneEntry* FindToneFrom(size_t Slot, TSignalMode Mode, int32_t Frequency, int32_t Tolerance);
    // The entry of Set's tone I in the block, its power measured: its place in the register
    // when Set is bound to it for Mode (without a spectrum, a tone of power 0), else looked up
    // (nullptr without a spectrum).
    TToneEntry* SetTone(TSignalMode Mode, const TToneSet& Set, size_t I)
    {
        if (Set.Register != FRegisterId || Set.Mode != Mode)
            return FindTone(Mode, Set.Tones[I].Frequency, Set.Tones[I].Within);
        TToneEntry& Entry = FRegister[Set.Slots[I]];
        if (Entry.Generation != FGeneration)
            MeasureRegistered(Entry);
        return &Entry;
    }
    // Measures a registered tone in the block (its power 0 without a spectrum).
    [[gnu::noinline]] void MeasureRegistered(TToneEntry& Entry);
    double RegisteredPower(uint16_t Slot)
    {
        TToneEntry& Entry = FRegister[Slot];
        if (Entry.Generation != FGeneration)
            MeasureRegistered(Entry);
        return Entry.Level.Power;
    }
    void BindAnew(TToneSet& Set, TSignalMode Mode);
    // MayHold of a set not bound to the register.
    [[gnu::noinline]] bool MayHoldLookedUp(const TToneSet& Set, TSignalMode Mode);
    // A name for a register no other analysis has had.
    static uint64_t NewRegisterId();
    // The power of Entry's tone, and its frequency and spread where that costs nothing more.
    void MeasureTone(TToneEntry& Entry);
    // The frequency and spread of Entry's tone.
    void DetailTone(TToneEntry& Entry);
    // Entry's level with its frequency and spread; nothing for no entry.
    TToneLevel DetailedLevel(TToneEntry* Entry);
    TResolvedTone ResolveTone(TSignalMode Mode, int32_t Frequency, int32_t Tolerance);
    // The Hann window's response at bin K to a complex sine at fractional bin U, for
    // D = U - K in steps of 1 / KernelSteps bin from -KernelReach to KernelReach.
    static constexpr int32_t KernelSteps = 64;
    static constexpr int32_t KernelReach = 12;
    std::complex<double> Kernel(int32_t Steps) const { return FKernel[size_t(Steps + KernelReach * KernelSteps)]; }
    void MakeKernel(int32_t N);
    double MeasureBand(TSignalMode Mode, int32_t Lo, int32_t Hi);

    const TAudioFFT* FAnalyser = nullptr;
    // The complex spectrum of each mode in the block; empty for a mode not analysed.
    std::array<std::span<const std::complex<double>>, 4> FSpectra{};
    // Per mode: the powers of the bins worked out in the block (FPowersFrom .. FPowersTo, one
    // run), and their running sums (1 .. FPowersSummed), which give a band's power at once.
    std::array<std::vector<double>, 4> FPowers;
    std::array<int32_t, 4> FPowersFrom{}, FPowersTo{};
    std::array<std::vector<double>, 4> FPowerSums;
    std::array<int32_t, 4> FPowersSummed{};
    uint64_t FBlock = 0;
    int32_t FFrameRate = 0;
    double FBinHz = 0;
    double FScale = 0;
    // The tones measured in the block, each in the first free slot from where its frequency
    // hashes to; at most MaxTones of them, so a search always meets a free slot.
    static constexpr size_t ToneSlots = 64;
    static constexpr size_t MaxTones = 48;
    std::array<TToneEntry, ToneSlots> FTones{};
    size_t FToneCount = 0;
    TToneEntry FSpareTone;
    uint32_t FGeneration = 1;
    // The tones of the sets bound to the analysis, kept from block to block (each measured
    // once in a block, when first asked for); FRegisterId names their places, and changes
    // when the register is cleared (then every set binds again). Full at MaxRegistered: then
    // it is cleared by the next set that does not find its tones, once in a block.
    static constexpr size_t MaxRegistered = 256;
    std::vector<TToneEntry> FRegister;
    uint64_t FRegisterId = NewRegisterId();
    uint32_t FRegisterCleared = 0;
    // Per mode: the bins every registered tone is searched over, with one beside each end
    // (FSpanFrom .. FSpanTo), worked out in one run with the first registered tone a block
    // measures; for the register as FRegisterChanges counted, in blocks of FSpanBins bins of
    // FSpanHz each.
    std::array<int32_t, 4> FSpanFrom{}, FSpanTo{};
    uint64_t FRegisterChanges = 0, FSpanOf = UINT64_MAX;
    int32_t FSpanBins = 0;
    double FSpanHz = 0;
    void SpanRegister(int32_t Bins);
    // Sets the bins Entry's tone is searched over, for the block's Bins bins.
    void RangeOf(TToneEntry& Entry, int32_t Bins);
    TBlockMemo<TBandKey, double, 8> FBands;
    TBlockMemo<TToneKey, TResolvedTone, 16> FResolved;
    // The tone sets measured in the block, each in the first free slot from where its hash
    // points (at most MaxSets of them; any more are measured each time they are asked for).
    // A set's tones are kept in FSetTones from Offset on, which keeps its storage from block
    // to block.
    struct TSetEntry {
        uint32_t Generation = 0;
        TSignalMode Mode = TSignalMode::Left;
        uint64_t Hash = 0;
        size_t Present = 0;
        int32_t Sense = 0, Lo = 0, Hi = 0;
        size_t Offset = 0, Count = 0;
        TToneSetMeasure Measure;
    };
    static constexpr size_t SetSlots = 64;
    static constexpr size_t MaxSets = 48;
    std::array<TSetEntry, SetSlots> FSets{};
    size_t FSetCount = 0;
    std::vector<TToneSet::TTone> FSetTones;
    // The kernel for blocks of FKernelN frames.
    std::vector<std::complex<double>> FKernel;
    std::vector<double> FKernelNorm;
    // The kernel's response at the bins a resolved tone is fitted to, position by position
    // (ResolveBins values each, from the first bin on), and each value turned as (im, -re).
    std::vector<std::complex<double>> FColumns, FColumnsTurned;
    // The projections of the bins fitted on the sine at each position, worked out in the fit
    // FColumnOf says (FColumnFit the current one).
    std::vector<std::complex<double>> FColumnOn;
    std::vector<uint32_t> FColumnOf;
    uint32_t FColumnFit = 0;
    int32_t FKernelN = 0;
};
