#pragma once
// Clip recognition by landmarks: pairs of spectral peaks and the time between them.
//
// A peak is a bin that stands out against its own neighbourhood: the spectrum is taken in
// dB through a Hann window, each bin's slow level is taken off (a high-pass over time, so a
// clip reads the same at any level and a held note fades out of the picture; the slow level
// is held no lower than a fixed distance below the frame's loudest bin, so a clip that
// begins in silence reads as it does over other sound), and a bin is a peak when it is a
// local maximum above a threshold that the peaks before it raised and that decays frame by
// frame; of a frame's peaks the loudest few are kept. Two peaks a short time apart form a
// landmark: the first one's bin, the bin difference and the frame difference, hashed into
// 20 bits.
//
// Every clip's landmarks live in one hash index shared by all clips of the engine, so the
// cost per block does not grow with the number of clips. A live landmark votes for every
// clip landmark of the same hash, at the clip start it implies. A clip is found when enough
// of its landmarks agree on one start, spread over its whole length, at the clip's own tempo;
// it is reported in the block in which it ends, never before.
//
// Everything here runs on the main thread inside the engine's block processing.

#include "audio/AudioDetector.h"
#include "audio/AudioFFT.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One landmark: its hash and the frame of its first (anchor) peak.
struct TLandmark {
    uint32_t Hash = 0;
    int32_t Frame = 0;
};

// The peak picker and landmark maker of one signal. Frames come one at a time in order;
// each gives the landmarks completed by its peaks. The same object serves the clip builder
// and the live feed, so both see a sound the same way.
class TLandmarkPicker {
public:
    // Starts a new signal analysed in blocks of FFTCount frames at FrameRate.
    void Reset(int32_t FFTCount, int32_t FrameRate);
    // Consumes the windowed magnitude spectrum (TAudioFFT::ComputeWindowedSpectrum) of the
    // next frame; Landmarks receives the landmarks it completes (it is cleared first).
    void Frame(const std::vector<float>& Spectrum, std::vector<TLandmark>& Landmarks);
    // Frames consumed since Reset.
    int32_t Frames() const { return FFrame; }
    int32_t FFTCount() const { return FFTCount_; }
    // Peaks picked since Reset.
    int64_t Peaks() const { return FPeaks; }

private:
    struct TPeak {
        int32_t Frame;
        int32_t Bin;
        int32_t Pairs;
    };
    int32_t FFTCount_ = 0;
    int32_t Lo = 0, Hi = 0;  // bins of the band, inclusive
    int32_t FFrame = 0;
    int64_t FPeaks = 0;
    std::vector<float> Level;      // dB of this frame, per bin of the band
    std::vector<float> LastLevel;  // dB of the frame before
    std::vector<float> Onset;      // the high-passed level
    std::vector<float> Threshold;  // the decaying threshold raised by earlier peaks
    std::vector<int32_t> Maxima;   // local maxima of this frame, bins
    std::vector<TPeak> Recent;     // peaks of the last frames that may still anchor landmarks
    std::vector<TPeak> Fresh;      // the peaks of this frame
};

// A clip's landmark fingerprint, made once when the clip is loaded. The clip's frames are
// analysed at Phases offsets a fraction of a block apart, so that whatever its offset to
// the live blocks, one of them lies close: a landmark's tick counts positions in steps of
// Hop / Phases (Hop = FFTCount / 2 frames between live blocks).
struct TLandmarkPrint {
    static constexpr int32_t Phases = 2;
    // Parts of a clip over which a found clip's votes must be spread.
    static constexpr int32_t Segments = 16;

    int32_t FrameRate = 0;
    int32_t FFTCount = 0;
    // Length of the clip in frames of audio.
    int64_t Length = 0;
    // Ticks (steps of Hop / Phases) covered by the clip's analysis frames.
    int32_t Ticks = 0;
    struct TEntry {
        uint32_t Hash;
        int32_t Tick;  // position of the anchor frame, in steps of Hop / Phases
    };
    std::vector<TEntry> Landmarks;
    // Which segments hold landmarks (bit s for segment s). A landmark lies in the segment
    // in which it is completed (its second peak).
    uint32_t SegmentsWithLandmarks = 0;

    // Votes on one start needed to report the clip, and segments they must cover. Set from
    // the sample's sensitivity by SetSense.
    int32_t MinVotes = 0;
    int32_t MinSegments = 0;
    // Segments of the clip's first part, its last part and the stretch between them that
    // hold landmarks; votes must come from at least one of each (see SetSense).
    uint32_t EdgeSegments[2] = {0, 0};
    uint32_t MiddleSegments = 0;

    // Whether Votes on one start from the segments Covered (bit s for segment s) make the clip.
    bool Agreed(int32_t Votes, uint32_t Covered) const
    {
        return Votes >= MinVotes && std::popcount(Covered) >= MinSegments
               && (EdgeSegments[0] == 0 || (Covered & EdgeSegments[0]) != 0)
               && (EdgeSegments[1] == 0 || (Covered & EdgeSegments[1]) != 0)
               && (MiddleSegments == 0 || (Covered & MiddleSegments) != 0);
    }

    // Landmarks per phase: how many a live occurrence can agree with at best.
    int32_t PerPhase() const { return static_cast<int32_t>(Landmarks.size() / Phases); }
    // The segment of a tick.
    int32_t SegmentOf(int32_t Tick) const
    {
        return Ticks > 0 ? static_cast<int32_t>(int64_t(std::clamp(Tick, 0, Ticks - 1)) * Segments / Ticks) : 0;
    }
    // Sense in percent (50 neutral): the share of the clip's landmarks that must agree.
    // A higher sense needs fewer, never fewer than a floor that chance cannot reach.
    void SetSense(int32_t Sense);
};

// How reliably a clip's fingerprint can be recognised.
struct TLandmarkStrength {
    int32_t Landmarks = 0;  // per phase
    int32_t Segments = 0;   // segments of the clip holding landmarks
    // 0..100: 100 for a clip with plenty of landmarks all over its length.
    int32_t Percent = 0;
    // Below this a clip is weak: it may be missed under other sound, or taken from little.
    static constexpr int32_t WeakBelow = 50;
    bool Weak() const { return Percent < WeakBelow; }
};
TLandmarkStrength LandmarkStrength(const TLandmarkPrint& Print);

// Builds the fingerprint of Frames stereo frames (interleaved 16-bit) on Channel, as the live
// engine will see them in blocks of FFTCount frames at FrameRate. Analyser is a spare
// analyser (the engine's file analyser).
std::shared_ptr<TLandmarkPrint> BuildLandmarkPrint(TAudioFFT& Analyser, const int16_t* Stereo, size_t Frames,
                                                   TSignalMode Channel, int32_t FFTCount, int32_t FrameRate);

// Watches every landmark sequence of an engine (Kind skLandmark) in the live blocks.
class TLandmarkMatcher {
public:
    TLandmarkMatcher();
    ~TLandmarkMatcher();
    TLandmarkMatcher(const TLandmarkMatcher&) = delete;
    TLandmarkMatcher& operator=(const TLandmarkMatcher&) = delete;

    // A new stream begins (capture started or reopened): the blocks before are forgotten.
    void ResetStream();
    // One analysed block: Analyser holds its signals (the channels of every sequence), Now
    // its stream time. Marks the sequences whose clip ends in this block; StepSequence then
    // reports them. Sequences added, removed or rebuilt since the last block are taken up.
    void Process(const TAudioFFT& Analyser, TAudioSequenceList& Sequences, TDateTime Now);

    // Landmarks in the shared index (for benchmarks and tests).
    size_t IndexedLandmarks() const { return Entries.size(); }

private:
    struct TCell {
        int32_t Start = INT32_MIN;  // the clip start the votes are for, in ticks
        int32_t Votes = 0;
        uint32_t Segments = 0;
    };
    // One vote: the clip start it is for and the clip landmark's tick that gave it.
    struct TVote {
        int32_t Start;
        int32_t Tick;
    };
    struct TSlot {
        // What every vote reads first, copied from the sequence and its print: a block casts
        // a few hundred votes over hundreds of slots, each a cache miss of its own.
        int32_t Channel = -1;
        int32_t FFTCount = 0;
        int32_t MinVotes = 0;
        TAudioSequence* Sequence = nullptr;
        std::shared_ptr<const TLandmarkPrint> Print;
        uint32_t Resets = 0;
        std::vector<TCell> Cells;  // a ring over the starts that may still be voted for
        std::vector<TVote> Heard;  // the votes of the starts that may still be reported
        int32_t HeardFor = 0;      // ticks a vote is kept after its start (past the due block)
        int32_t Armed = INT32_MIN;  // a start with enough votes, waiting for the clip's end
        int32_t LastFired = INT32_MIN;
        int32_t Best = INT32_MIN;  // the start with the most votes, for Progress
        int32_t BestVotes = 0;
        bool Active = false;       // in ActiveSlots
    };
    struct TIndexEntry {
        uint32_t Slot;
        int32_t Tick;
        uint8_t Segment;  // of the clip, in which the landmark is completed
    };

    bool SlotsMatch(const TAudioSequenceList& Sequences) const;
    void Rebuild(TAudioSequenceList& Sequences);
    void ClearSlot(TSlot& Slot);
    // A vote for a clip start by the clip landmark anchored at Tick and completed in Segment.
    void Vote(uint32_t SlotIndex, int32_t Start, int32_t Tick, uint32_t Segment);
    const TCell* CellOf(const TSlot& Slot, int32_t Start) const;
    // The first block whose end lies past the end of a clip that starts at Start.
    int64_t DueBlock(const TLandmarkPrint& Print, int32_t Start) const;
    void Settle(TSlot& Slot, TDateTime Now);
    // Whether the votes heard around Start tell the clip at its own tempo.
    bool AtOwnTempo(const TSlot& Slot, int32_t Start);

    std::vector<TSlot> Slots;
    std::vector<uint32_t> ActiveSlots;
    // The shared index: entries of hash H are Entries[BucketStart[H] .. BucketStart[H + 1]).
    std::vector<uint32_t> BucketStart;
    std::vector<TIndexEntry> Entries;
    // Per channel mode: the live picker, and whether a slot watches that channel.
    std::array<TLandmarkPicker, 4> Pickers;
    std::array<bool, 4> ChannelUsed{};
    TAudioFFT Windowed;
    std::vector<float> Spectrum;
    std::vector<TLandmark> Fresh;
    std::vector<int32_t> Histogram;  // AtOwnTempo's votes per start
    int64_t Block = -1;  // the block being processed, counted from the stream's start
    int32_t BlockFrames = 0;
};
