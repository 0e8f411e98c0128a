#include "audio/AudioLandmarks.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numeric>

namespace {

// The band searched for peaks: what clips carry and what broadcast chains (FM, MP3 at
// 128 kbit/s, resampling) keep.
constexpr double BandLowHz = 150;
constexpr double BandHighHz = 11000;
// Magnitudes below this (spectrum units, full scale 32767) count as this: about -84 dBFS,
// so digital silence and dither give no peaks.
constexpr float FloorMagnitude = 2.0f;
// The high-pass over time of each bin's dB level: a step of the level fades by this factor
// per frame (time constant about a second at 23 ms per frame).
constexpr float OnsetPole = 0.98f;
// A peak must rise at least this many dB above its bin's slow level.
constexpr float MinOnsetDb = 3.0f;
// Each peak raises the threshold of the bins around it: by its own height, less
// SpreadDbPerBin2 * distance^2 dB; the threshold then decays by ThresholdDecay per frame,
// a little slower than a held sound's onset fades, so a held note is one peak.
constexpr float SpreadDbPerBin2 = 0.12f;
constexpr float ThresholdDecay = 0.99f;
constexpr int32_t MaxPeaksPerFrame = 5;
// Peaks are taken among the bins at most this far below the loudest of their frame: what
// stands out of a sound survives a bed of other sound and a codec, its faint detail does not.
constexpr float RelativeDb = 30.0f;
// A peak pairs with the first FanOut peaks after it within DtMax frames and DfMax bins.
constexpr int32_t FanOut = 4;
constexpr int32_t DtMax = 31;
constexpr int32_t DfMax = 31;

// 20 log10 of a positive magnitude, to about 0.01 dB: the exponent of the float and a short
// polynomial of its mantissa. Runs for every bin of the band 43 times a second per channel.
float FastDb(float Magnitude)
{
    const uint32_t Bits = std::bit_cast<uint32_t>(Magnitude);
    const auto Exponent = float(int32_t((Bits >> 23) & 0xFFu) - 127);
    const float T = std::bit_cast<float>((Bits & 0x7FFFFFu) | 0x3F800000u) - 1.0f;  // 0 <= T < 1
    // log2(1 + T) by a cubic through both ends, within 0.0011 (0.007 dB).
    const float Log2M = ((0.1563861f * T - 0.5772507f) * T + 1.4208645f) * T;
    return 6.0206f * (Exponent + Log2M);  // 20 log10(2) = 6.0206
}

uint32_t HashOf(int32_t Bin, int32_t Df, int32_t Dt)
{
    return (uint32_t(Bin) & 0x1FFu) << 11 | uint32_t(Df + DfMax) << 5 | (uint32_t(Dt) & 0x1Fu);
}
constexpr uint32_t HashBits = 20;

// The tick at which a landmark anchored at Tick has been heard whole: that of its second peak.
// A landmark belongs to the part of the clip in which it is completed.
int32_t HeardTick(uint32_t Hash, int32_t Tick)
{
    return Tick + int32_t(Hash & 0x1Fu) * TLandmarkPrint::Phases;
}

}  // namespace

// ---- Peaks and landmarks ----

void TLandmarkPicker::Reset(int32_t FFTCount, int32_t FrameRate)
{
    FFTCount_ = FFTCount;
    const double BinHz = FrameRate > 0 && FFTCount > 0 ? double(FrameRate) / FFTCount : 1;
    Lo = std::max(1, int32_t(std::lround(BandLowHz / BinHz)));
    Hi = std::min(FFTCount / 2 - 2, int32_t(std::lround(BandHighHz / BinHz)));
    const size_t Band = Hi >= Lo ? size_t(Hi - Lo + 1) : 0;
    const float FloorDb = FastDb(FloorMagnitude);
    Level.assign(Band, FloorDb);
    LastLevel.assign(Band, FloorDb);
    Onset.assign(Band, 0.0f);
    Threshold.assign(Band, 0.0f);
    Maxima.clear();
    Maxima.reserve(Band);
    Recent.clear();
    Recent.reserve(size_t(DtMax + 1) * MaxPeaksPerFrame);
    Fresh.clear();
    FFrame = 0;
    FPeaks = 0;
}

void TLandmarkPicker::Frame(const std::vector<float>& Spectrum, std::vector<TLandmark>& Landmarks)
{
    Landmarks.clear();
    const int32_t Band = int32_t(Level.size());
    if (Band < 3 || Spectrum.size() < size_t(Hi + 1)) {
        ++FFrame;
        return;
    }
    // Level in dB and its rise above the bin's slow level.
    float Loudest = std::numeric_limits<float>::lowest();
    for (int32_t I = 0; I < Band; ++I) {
        const float L = FastDb(std::max(Spectrum[size_t(Lo + I)], FloorMagnitude));
        Onset[size_t(I)] = L - LastLevel[size_t(I)] + OnsetPole * Onset[size_t(I)];
        LastLevel[size_t(I)] = L;
        Loudest = std::max(Loudest, L);
    }
    // A bin's slow level is held at least at the quietest level taken: a note counts as
    // rising from there even where it rose from far below. A clip that begins in digital
    // silence would otherwise have every note rise by 70 dB and more, while live, over a bed
    // or another programme, the same notes rise by a few tens of dB; the thresholds their
    // peaks raise would differ in the same way, and so would the peaks picked after them.
    const float Quietest = Loudest - RelativeDb;
    const auto Held = [this, Quietest](int32_t I) {
        return Onset[size_t(I)] = std::min(Onset[size_t(I)], LastLevel[size_t(I)] - Quietest);
    };
    // Local maxima above the threshold among the loud bins of the frame, the loudest first:
    // what a bed or a clipping chain adds to a sound (its detail, intermodulation) rises as
    // much as the sound's own partials but stays fainter than them. (A bin that rises above
    // MinOnsetDb lies above Quietest: its rise is held below its distance from there.)
    Maxima.clear();
    float Before = Held(0);
    float Here = Held(1);
    for (int32_t I = 1; I + 1 < Band; ++I) {
        const float After = Held(I + 1);
        if (Here > MinOnsetDb && Here > Threshold[size_t(I)] && Here > Before && Here >= After)
            Maxima.push_back(I);
        Before = Here;
        Here = After;
    }
    const auto Stronger = [this](int32_t A, int32_t B) {
        return LastLevel[size_t(A)] != LastLevel[size_t(B)] ? LastLevel[size_t(A)] > LastLevel[size_t(B)] : A < B;
    };
    // Only the strongest few are usually looked at: they are ordered first, the rest only
    // when masking leaves too few.
    constexpr size_t Ordered = 4 * MaxPeaksPerFrame;
    std::partial_sort(Maxima.begin(), Maxima.begin() + std::ptrdiff_t(std::min(Ordered, Maxima.size())), Maxima.end(),
                      Stronger);
    Fresh.clear();
    for (size_t N = 0; N < Maxima.size(); ++N) {
        if (int32_t(Fresh.size()) >= MaxPeaksPerFrame)
            break;
        if (N == Ordered)
            std::sort(Maxima.begin() + std::ptrdiff_t(N), Maxima.end(), Stronger);
        const int32_t I = Maxima[N];
        const float E = Onset[size_t(I)];
        bool Masked = false;
        for (const TPeak& P : Fresh) {
            const float D = float(P.Bin - Lo - I);
            if (E <= Onset[size_t(P.Bin - Lo)] - SpreadDbPerBin2 * D * D) {
                Masked = true;
                break;
            }
        }
        if (!Masked)
            Fresh.push_back({FFrame, Lo + I, 0});
    }
    // The threshold decays, and each new peak raises it around itself.
    for (float& T : Threshold)
        T *= ThresholdDecay;
    for (const TPeak& P : Fresh) {
        const int32_t Centre = P.Bin - Lo;
        const float Height = Onset[size_t(Centre)];
        const auto Reach = int32_t(std::sqrt(Height / SpreadDbPerBin2)) + 1;
        for (int32_t I = std::max(0, Centre - Reach); I <= std::min(Band - 1, Centre + Reach); ++I) {
            const float D = float(I - Centre);
            Threshold[size_t(I)] = std::max(Threshold[size_t(I)], Height - SpreadDbPerBin2 * D * D);
        }
    }
    std::sort(Fresh.begin(), Fresh.end(), [](const TPeak& A, const TPeak& B) { return A.Bin < B.Bin; });
    FPeaks += int64_t(Fresh.size());

    // Earlier peaks pair with this frame's, oldest first; then the old ones that can no
    // longer pair leave.
    for (TPeak& Anchor : Recent) {
        const int32_t Dt = FFrame - Anchor.Frame;
        for (const TPeak& Target : Fresh) {
            if (Anchor.Pairs >= FanOut)
                break;
            const int32_t Df = Target.Bin - Anchor.Bin;
            if (Df < -DfMax || Df > DfMax)
                continue;
            Landmarks.push_back({HashOf(Anchor.Bin - Lo, Df, Dt), Anchor.Frame});
            ++Anchor.Pairs;
        }
    }
    std::erase_if(Recent, [this](const TPeak& P) { return FFrame - P.Frame >= DtMax || P.Pairs >= FanOut; });
    Recent.insert(Recent.end(), Fresh.begin(), Fresh.end());
    ++FFrame;
}

// ---- Fingerprints ----

void TLandmarkPrint::SetSense(int32_t Sense)
{
    // At the neutral 50 an eighth of the clip's landmarks must agree on one start; 30 asks
    // for a sixth, 70 for a thirteenth. Chance agreement in programme stays far below
    // MinVotesFloor votes on one start.
    constexpr int32_t MinVotesFloor = 12;
    const double Share = std::clamp((100.0 - std::clamp(Sense, 0, 100)) / 400.0, 0.04, 0.4);
    MinVotes = std::max(MinVotesFloor, int32_t(std::ceil(Share * PerPhase())));
    // The votes must come from all over the clip: from two in five of the parts that carry
    // landmarks (at least three: two bursts of notes agree on a start by chance in music),
    // among them its first part, its last part and one between. A clip's first part alone
    // is not the clip; nor is the clip at another tempo, whose votes agree on one start only
    // over a short stretch (and which the matcher tells by the drift of its start along the
    // clip).
    const int32_t WithLandmarks = std::popcount(SegmentsWithLandmarks);
    MinSegments = std::min(WithLandmarks, std::max(3, (WithLandmarks * 2 + 4) / 5));
    // The clip's first part is its first quarter. Its last part is its last quarter, and
    // also the parts over which its last quarter of landmarks lies: a clip whose tail holds
    // few landmarks (a note dying away, a short spoken tag mixed under a chord) loses them
    // under a bed or through a codec, and is heard to its end by the last stretch that
    // carries many. A partial copy that stops before that stretch is still refused.
    std::array<int32_t, Segments> Count{};
    for (const TEntry& E : Landmarks)
        ++Count[size_t(SegmentOf(HeardTick(E.Hash, E.Tick)))];
    const auto QuarterOfLandmarks = int32_t((Landmarks.size() + 3) / 4);
    constexpr uint32_t Quarter = (1u << (Segments / 4)) - 1;
    EdgeSegments[0] = SegmentsWithLandmarks & Quarter;
    EdgeSegments[1] = 0;
    for (int32_t Segment = Segments - 1, Taken = 0; Segment >= Segments / 2 && Taken < Segments / 4; --Segment)
        if (SegmentsWithLandmarks & (1u << Segment)) {
            EdgeSegments[1] |= 1u << Segment;
            ++Taken;
        }
    for (int32_t Segment = Segments - 1, Seen = 0; Segment >= 0 && Seen < QuarterOfLandmarks; --Segment) {
        Seen += Count[size_t(Segment)];
        EdgeSegments[1] |= SegmentsWithLandmarks & (1u << Segment);
    }
    // And from the stretch between them: a clip of a few sparse chords has its first and its
    // last ones matched by chance in music now and then (sustained chords ring under both),
    // never the whole row.
    MiddleSegments = SegmentsWithLandmarks & ~(EdgeSegments[0] | EdgeSegments[1]);
}

TLandmarkStrength LandmarkStrength(const TLandmarkPrint& Print)
{
    // A clip is strong with this many landmarks per phase (about a second of busy sound)...
    constexpr int32_t StrongLandmarks = 120;
    // ...spread over at least this share of its length, so that no long stretch of it is
    // recognised by nothing.
    constexpr int32_t StrongSpan = 75;
    TLandmarkStrength Result;
    Result.Landmarks = Print.PerPhase();
    Result.Segments = std::popcount(Print.SegmentsWithLandmarks);
    int32_t First = Print.Ticks, Last = 0;
    for (const TLandmarkPrint::TEntry& E : Print.Landmarks) {
        First = std::min(First, E.Tick);
        Last = std::max(Last, E.Tick);
    }
    const int64_t Span = Print.Ticks > 0 && Last >= First ? int64_t(Last - First + 1) * 100 / Print.Ticks : 0;
    const auto ByCount = int32_t(std::min<int64_t>(100, int64_t(Result.Landmarks) * 100 / StrongLandmarks));
    const auto BySpan = int32_t(std::min<int64_t>(100, Span * 100 / StrongSpan));
    Result.Percent = std::min(ByCount, BySpan);
    return Result;
}

std::shared_ptr<TLandmarkPrint> BuildLandmarkPrint(TAudioFFT& Analyser, const int16_t* Stereo, size_t Frames,
                                                   TSignalMode Channel, int32_t FFTCount, int32_t FrameRate)
{
    auto Print = std::make_shared<TLandmarkPrint>();
    Print->FrameRate = FrameRate;
    Print->FFTCount = FFTCount;
    Print->Length = int64_t(Frames);
    if (FFTCount < 4 || Frames < size_t(FFTCount))
        return Print;
    const int32_t Hop = FFTCount / 2;
    const int32_t Step = Hop / TLandmarkPrint::Phases;
    Analyser.SetChannels(TSignalModes{Channel});
    // The picker reads the windowed spectrum only: the analyser's own transform of each
    // frame is left out (it would double the cost of a build), and asked for again after.
    struct TSpectraLeftOut {
        TAudioFFT& Analyser;
        const TSignalModes Wanted = Analyser.Spectra();
        ~TSpectraLeftOut() { Analyser.SetSpectra(Wanted); }
    } LeftOut{Analyser};
    Analyser.SetSpectra(TSignalModes());
    TLandmarkPicker Picker;
    std::vector<float> Spectrum;
    std::vector<TLandmark> Found;
    int32_t LastTick = 0;
    for (int32_t Phase = 0; Phase < TLandmarkPrint::Phases; ++Phase) {
        Picker.Reset(FFTCount, FrameRate);
        for (size_t First = size_t(Phase) * size_t(Step); First + size_t(FFTCount) <= Frames; First += size_t(Hop)) {
            Analyser.Process(Stereo + 2 * First, FFTCount * 4);
            Analyser.ComputeWindowedSpectrum(Analyser.WaveOf(Channel), Spectrum);
            LastTick = std::max(LastTick, Picker.Frames() * TLandmarkPrint::Phases + Phase);
            Picker.Frame(Spectrum, Found);
            for (const TLandmark& L : Found)
                Print->Landmarks.push_back({L.Hash, L.Frame * TLandmarkPrint::Phases + Phase});
        }
    }
    Print->Ticks = LastTick + 1;
    for (const TLandmarkPrint::TEntry& E : Print->Landmarks)
        Print->SegmentsWithLandmarks |= 1u << Print->SegmentOf(HeardTick(E.Hash, E.Tick));
    Print->SetSense(50);
    return Print;
}

// ---- Live matching ----

namespace {
// A copy of a clip played faster or slower is not the clip. Its notes sound as the clip's do,
// so the votes of each stretch agree on one start, but the start drifts along the clip: by
// 0.087 ticks per tick of the clip at 92 % tempo. The clip's parts each find the start most
// agreed on, and a line through them must not drift by more than MaxOwnDrift.
constexpr int32_t TempoParts = 4;
constexpr double MaxOwnDrift = 0.045;
// A part tells its start with at least this many votes.
constexpr int32_t MinPartVotes = 3;
// Votes within this many ticks of one start agree on it (a frame either side, as the cells'
// neighbours do).
constexpr int32_t Agreement = TLandmarkPrint::Phases;
// How far from the start found the votes of a drifting copy may lie (up to 12 % drift).
int32_t DriftReach(const TLandmarkPrint& Print)
{
    return int32_t(std::ceil(0.12 * Print.Ticks)) + 2 * Agreement;
}
}  // namespace

TLandmarkMatcher::TLandmarkMatcher() = default;
TLandmarkMatcher::~TLandmarkMatcher() = default;

void TLandmarkMatcher::ResetStream()
{
    Block = -1;
    BlockFrames = 0;
    for (TLandmarkPicker& Picker : Pickers)
        Picker.Reset(0, 0);
    for (TSlot& Slot : Slots) {
        ClearSlot(Slot);
        Slot.LastFired = INT32_MIN;
    }
}

bool TLandmarkMatcher::SlotsMatch(const TAudioSequenceList& Sequences) const
{
    size_t Next = 0;
    for (const TAudioSequence& Sequence : Sequences) {
        if (Sequence.Kind != skLandmark || !Sequence.Landmarks)
            continue;
        if (Next >= Slots.size() || Slots[Next].Sequence != &Sequence || Slots[Next].Print != Sequence.Landmarks)
            return false;
        ++Next;
    }
    return Next == Slots.size();
}

void TLandmarkMatcher::ClearSlot(TSlot& Slot)
{
    std::fill(Slot.Cells.begin(), Slot.Cells.end(), TCell{});
    Slot.Heard.clear();
    Slot.Armed = INT32_MIN;
    Slot.Best = INT32_MIN;
    Slot.BestVotes = 0;
}

void TLandmarkMatcher::Rebuild(TAudioSequenceList& Sequences)
{
    // A slot keeps the votes of a sequence that stays; new ones start empty.
    std::vector<TSlot> Old = std::move(Slots);
    Slots.clear();
    for (TAudioSequence& Sequence : Sequences) {
        if (Sequence.Kind != skLandmark || !Sequence.Landmarks)
            continue;
        const auto Kept = std::find_if(Old.begin(), Old.end(), [&](const TSlot& S) {
            return S.Sequence == &Sequence && S.Print == Sequence.Landmarks;
        });
        if (Kept != Old.end()) {
            Slots.push_back(std::move(*Kept));
            continue;
        }
        TSlot Slot;
        Slot.Sequence = &Sequence;
        Slot.Print = Sequence.Landmarks;
        Slot.Resets = Sequence.FResets;
        Slot.Channel = int32_t(Sequence.Channel);
        Slot.FFTCount = Slot.Print->FFTCount;
        Slot.MinVotes = Slot.Print->MinVotes;
        // The ring holds every start a vote can still arrive for: the clip's ticks and the
        // reach of a landmark beyond its anchor.
        const auto Span = uint32_t(Slot.Print->Ticks + (DtMax + 4) * TLandmarkPrint::Phases);
        Slot.Cells.assign(std::bit_ceil(Span), TCell{});
        // A start whose clip ended more than a block ago is no longer reported; the votes
        // that may still count for the tempo of one that can be lie within DriftReach of it.
        const TLandmarkPrint& Print = *Slot.Print;
        const int32_t Step = std::max(1, Print.FFTCount / 2 / TLandmarkPrint::Phases);
        Slot.HeardFor = int32_t((std::max<int64_t>(0, Print.Length + Step - Print.FFTCount) + Step - 1) / Step) + 1
                        + DriftReach(Print);
        Slots.push_back(std::move(Slot));
    }
    // A kept slot that was settling a clip (armed, or holding votes) goes on settling it at its
    // new place: a clip heard to its end must still be reported when no vote comes after.
    ActiveSlots.clear();
    for (uint32_t S = 0; S < Slots.size(); ++S)
        if (Slots[S].Active)
            ActiveSlots.push_back(S);

    // Counting sort of every clip's landmarks by hash.
    BucketStart.assign((size_t(1) << HashBits) + 1, 0);
    size_t Total = 0;
    for (const TSlot& Slot : Slots) {
        for (const TLandmarkPrint::TEntry& E : Slot.Print->Landmarks)
            ++BucketStart[E.Hash + 1];
        Total += Slot.Print->Landmarks.size();
    }
    std::partial_sum(BucketStart.begin(), BucketStart.end(), BucketStart.begin());
    Entries.resize(Total);
    std::vector<uint32_t> Fill(BucketStart.begin(), BucketStart.end() - 1);
    for (uint32_t S = 0; S < Slots.size(); ++S)
        for (const TLandmarkPrint::TEntry& E : Slots[S].Print->Landmarks)
            Entries[Fill[E.Hash]++] = {S, E.Tick, uint8_t(Slots[S].Print->SegmentOf(HeardTick(E.Hash, E.Tick)))};
    ChannelUsed.fill(false);
    for (const TSlot& Slot : Slots)
        ChannelUsed[size_t(Slot.Sequence->Channel) & 3] = true;
}

const TLandmarkMatcher::TCell* TLandmarkMatcher::CellOf(const TSlot& Slot, int32_t Start) const
{
    const TCell& Cell = Slot.Cells[uint32_t(Start) & uint32_t(Slot.Cells.size() - 1)];
    return Cell.Start == Start ? &Cell : nullptr;
}

int64_t TLandmarkMatcher::DueBlock(const TLandmarkPrint& Print, int32_t Start) const
{
    // Block B holds frames B * Hop .. B * Hop + FFTCount - 1; the clip ends at frame
    // Start * Step + Length. A start is known to a step or so, so the clip is taken to end
    // one step later: reported in the first block that holds that frame, never earlier.
    const int64_t Hop = Print.FFTCount / 2;
    const int64_t Step = Hop / TLandmarkPrint::Phases;
    const int64_t End = int64_t(Start) * Step + Print.Length + Step;
    const int64_t Past = End - Print.FFTCount;
    return Past <= 0 ? 0 : (Past + Hop - 1) / Hop;
}

void TLandmarkMatcher::Vote(uint32_t SlotIndex, int32_t Start, int32_t Tick, uint32_t Segment)
{
    TSlot& Slot = Slots[SlotIndex];
    TCell& Cell = Slot.Cells[uint32_t(Start) & uint32_t(Slot.Cells.size() - 1)];
    if (Cell.Start != Start)
        Cell = TCell{Start, 0, 0};
    ++Cell.Votes;
    Cell.Segments |= 1u << Segment;
    // Votes are forgotten once their start can no longer matter: when a new one comes (the
    // first one heard is the first to go, so the rest are looked at only then).
    if (!Slot.Heard.empty()) {
        const int64_t Oldest = (Block - 2) * TLandmarkPrint::Phases - Slot.HeardFor;
        if (Slot.Heard.front().Start < Oldest)
            std::erase_if(Slot.Heard, [Oldest](const TVote& V) { return V.Start < Oldest; });
    }
    Slot.Heard.push_back({Start, Tick});
    if (!Slot.Active) {
        Slot.Active = true;
        ActiveSlots.push_back(SlotIndex);
    }
    if (Cell.Votes > Slot.BestVotes || Slot.Best == Start) {
        Slot.Best = Start;
        Slot.BestVotes = Cell.Votes;
    }
    // A landmark's frames may fall one frame earlier or later live than in the clip (where
    // the block edges cut a note differently, or a codec smears it), so the votes of the
    // starts a frame (two ticks of the same phase) either side count together. Most cells
    // hold a vote or two by chance: the neighbours are only looked at for a cell that could
    // make the clip with them.
    if (Cell.Votes * 3 < Slot.MinVotes)
        return;
    const TLandmarkPrint& Print = *Slot.Print;
    int32_t Votes = Cell.Votes;
    uint32_t Covered = Cell.Segments;
    for (const int32_t Near : {Start - TLandmarkPrint::Phases, Start + TLandmarkPrint::Phases})
        if (const TCell* Other = CellOf(Slot, Near)) {
            Votes += Other->Votes;
            Covered |= Other->Segments;
        }
    if (!Print.Agreed(Votes, Covered))
        return;
    // The occurrence reported last still collects votes; it is not found twice.
    if (Slot.LastFired != INT32_MIN && std::abs(int64_t(Start) - Slot.LastFired) < Print.Ticks)
        return;
    if (Slot.Armed == INT32_MIN)
        Slot.Armed = Start;
}


bool TLandmarkMatcher::AtOwnTempo(const TSlot& Slot, int32_t Start)
{
    const TLandmarkPrint& Print = *Slot.Print;
    const int32_t Reach = DriftReach(Print);
    const auto Width = size_t(2 * Reach + 1);
    Histogram.assign(Width * TempoParts, 0);
    for (const TVote& V : Slot.Heard)
        if (std::abs(V.Start - Start) <= Reach) {
            const int32_t Part = std::clamp(V.Tick * TempoParts / std::max(1, Print.Ticks), 0, TempoParts - 1);
            ++Histogram[size_t(Part) * Width + size_t(V.Start - Start + Reach)];
        }
    // Per part: the start its votes agree on most (the mean of the votes within Agreement of
    // it), weighted by those votes, at the part's middle.
    struct TPoint {
        double X, Y, W;
    };
    std::array<TPoint, TempoParts> Points{};
    int32_t Parts = 0;
    for (int32_t Part = 0; Part < TempoParts; ++Part) {
        const int32_t* Row = Histogram.data() + size_t(Part) * Width;
        int32_t Most = 0, Window = 0, Centre = 0;
        for (int32_t I = 0; I < int32_t(Width); ++I) {
            Window += Row[I];
            if (I >= 2 * Agreement + 1)
                Window -= Row[I - 2 * Agreement - 1];
            if (Window > Most) {
                Most = Window;
                Centre = I - Agreement;
            }
        }
        if (Most < MinPartVotes)
            continue;
        double Sum = 0;
        for (int32_t I = std::max(0, Centre - Agreement); I <= std::min(int32_t(Width) - 1, Centre + Agreement); ++I)
            Sum += double(I) * Row[I];
        Points[size_t(Parts++)] = {(Part + 0.5) * Print.Ticks / TempoParts, Sum / Most, double(Most)};
    }
    if (Parts < 2)
        return true;
    // The drift of the line through the parts, leaving out part Skip (-1: none).
    const auto DriftOf = [&](int32_t Skip) {
        double SumW = 0, SumX = 0, SumY = 0, SumXX = 0, SumXY = 0;
        for (int32_t P = 0; P < Parts; ++P) {
            if (P == Skip)
                continue;
            const TPoint& Q = Points[size_t(P)];
            SumW += Q.W;
            SumX += Q.W * Q.X;
            SumY += Q.W * Q.Y;
            SumXX += Q.W * Q.X * Q.X;
            SumXY += Q.W * Q.X * Q.Y;
        }
        const double Spread = SumXX - SumX * SumX / SumW;
        return Spread > 0 ? (SumXY - SumX * SumY / SumW) / Spread : 0.0;
    };
    if (std::abs(DriftOf(-1)) <= MaxOwnDrift)
        return true;
    // A part whose votes another alignment took over (an echo, a bed repeating a note) does
    // not make the clip a copy when the three others agree without drift; a copy at another
    // tempo drifts along any three of its parts.
    if (Parts == TempoParts)
        for (int32_t Skip = 0; Skip < Parts; ++Skip)
            if (std::abs(DriftOf(Skip)) <= MaxOwnDrift)
                return true;
    return false;
}

void TLandmarkMatcher::Settle(TSlot& Slot, TDateTime Now)
{
    const TLandmarkPrint& Print = *Slot.Print;
    TAudioSequence& Sequence = *Slot.Sequence;
    const int64_t Hop = Print.FFTCount / 2;
    const int64_t Step = Hop / TLandmarkPrint::Phases;
    if (Slot.Armed != INT32_MIN) {
        // Of the starts next to the one that reached the threshold, the one most agreed on
        // (the later one on a tie, so the clip is never taken to end early).
        int32_t Start = Slot.Armed;
        int32_t Votes = CellOf(Slot, Start)->Votes;
        for (int32_t Near = Slot.Armed - 2; Near <= Slot.Armed + 3; ++Near)
            if (const TCell* Cell = CellOf(Slot, Near); Cell && Cell->Votes >= Votes && (Cell->Votes > Votes || Near > Start)) {
                Start = Near;
                Votes = Cell->Votes;
            }
        const int64_t Due = DueBlock(Print, Start);
        if (Block >= Due) {
            Slot.Armed = INT32_MIN;
            Slot.LastFired = Start;
            // A clip whose threshold was reached after its end (possible only with votes
            // from far behind) is no longer reported: it would be late.
            if (Block <= Due + 1 && AtOwnTempo(Slot, Start))
                Sequence.FLandmarkDue = true;
        } else {
            Slot.Armed = Start;
        }
    }
    // Progress and Elapsed follow the start most agreed on until its clip has ended.
    if (Slot.BestVotes > 0 && Block > DueBlock(Print, Slot.Best) + 1) {
        Slot.Best = INT32_MIN;
        Slot.BestVotes = 0;
    }
    if (Slot.BestVotes > 0) {
        Sequence.FLandmarkProgress = std::min(99, int32_t(int64_t(Slot.BestVotes) * 100 / std::max(1, Print.MinVotes)));
        const int64_t Heard = Block * Hop + Print.FFTCount - int64_t(Slot.Best) * Step;
        Sequence.FStartTime = IncMilliseconds(Now, -double(Heard) * 1000.0 / Print.FrameRate);
    } else {
        Sequence.FLandmarkProgress = 0;
        Sequence.FStartTime = 0;
    }
}

void TLandmarkMatcher::Process(const TAudioFFT& Analyser, TAudioSequenceList& Sequences, TDateTime Now)
{
    ++Block;
    if (!SlotsMatch(Sequences))
        Rebuild(Sequences);
    if (Slots.empty())
        return;
    for (uint32_t S = 0; S < Slots.size(); ++S) {
        TSlot& Slot = Slots[S];
        if (Slot.Resets != Slot.Sequence->FResets) {
            // Reset by its user (re-armed after a detection, or started afresh).
            Slot.Resets = Slot.Sequence->FResets;
            ClearSlot(Slot);
        }
    }

    for (size_t Mode = 0; Mode < Pickers.size(); ++Mode) {
        if (!ChannelUsed[Mode])
            continue;
        const TWaveData& Wave = Analyser.WaveOf(TSignalMode(Mode));
        const auto Frames = int32_t(Wave.size());
        if (Frames < 4)
            continue;
        TLandmarkPicker& Picker = Pickers[Mode];
        if (Picker.FFTCount() != Frames)
            Picker.Reset(Frames, Slots.front().Print->FrameRate);
        Windowed.ComputeWindowedSpectrum(Wave, Spectrum);
        Picker.Frame(Spectrum, Fresh);
        // Picker frames count blocks of this stream since the channel was first watched.
        const int64_t Shift = Block - (Picker.Frames() - 1);
        for (const TLandmark& L : Fresh) {
            const int64_t Anchor = (int64_t(L.Frame) + Shift) * TLandmarkPrint::Phases;
            for (uint32_t E = BucketStart[L.Hash]; E < BucketStart[L.Hash + 1]; ++E) {
                const TIndexEntry& Entry = Entries[E];
                const TSlot& Slot = Slots[Entry.Slot];
                if (Slot.Channel != int32_t(Mode) || Slot.FFTCount != Frames)
                    continue;
                Vote(Entry.Slot, int32_t(Anchor - Entry.Tick), Entry.Tick, Entry.Segment);
            }
        }
    }

    for (size_t I = 0; I < ActiveSlots.size();) {
        TSlot& Slot = Slots[ActiveSlots[I]];
        Settle(Slot, Now);
        if (Slot.Armed == INT32_MIN && Slot.BestVotes == 0) {
            Slot.Active = false;
            ActiveSlots[I] = ActiveSlots.back();
            ActiveSlots.pop_back();
        } else {
            ++I;
        }
    }
}
