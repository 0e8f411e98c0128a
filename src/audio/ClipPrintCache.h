#pragma once
// Built clip fingerprints, kept so that rebuilding the engine's sequences (every switch of a
// sample, every edit) does not decode, resample and analyse every clip again. An entry is
// found by the clip's path and every parameter that shapes its fingerprint, and is used only
// while the file is the one it was built from (same size, modification time and file number):
// a clip replaced or edited on disk is built anew.
//
// Entries are whole sequences as the builder made them, never stepped: a caller gets a fresh
// copy (CopySequence) whose landmark print, read-only, is shared with the entry.

#include "audio/AudioDetector.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

// Which builder made a fingerprint.
enum class TClipPrintKind : uint8_t { Spectral, Landmark };

// What a fingerprint depends on besides the file's contents.
struct TClipPrintKey {
    std::string Path;
    TClipPrintKind Kind = TClipPrintKind::Landmark;
    int32_t FrameRate = 0;
    int32_t FFTCount = 0;
    int32_t MaxPeaks = 0;  // spectral only
    int32_t Sense = 0;
    bool UseAbsence = false;  // spectral only
    TSignalMode Channel = TSignalMode::Left;

    auto Tie() const
    {
        return std::tie(Path, Kind, FrameRate, FFTCount, MaxPeaks, Sense, UseAbsence, Channel);
    }
    bool operator<(const TClipPrintKey& Other) const { return Tie() < Other.Tie(); }
};

// Which version of a file a fingerprint was built from.
struct TFileStamp {
    bool Valid = false;  // the file could be examined
    uint64_t Size = 0;
    int64_t ModifiedNs = 0;
    uint64_t Inode = 0;
    uint64_t Device = 0;

    // The stamp of the file now; not Valid when it cannot be examined.
    static TFileStamp Of(const std::string& Path);
    bool operator==(const TFileStamp& Other) const = default;
};

// A fresh copy of a built sequence: its slices and peaks copied, its landmark print shared,
// nothing of the original's matching state.
std::unique_ptr<TAudioSequence> CopySequence(const TAudioSequence& Built);

class TClipPrintCache {
public:
    // Entries kept at most; the least recently used go first.
    static constexpr size_t DefaultCapacity = 256;
    size_t Capacity = DefaultCapacity;

    // The fingerprint of Key built from the file as Stamp describes it; nullptr when there
    // is none, or only one of another version of the file (which is then forgotten).
    std::shared_ptr<const TAudioSequence> Find(const TClipPrintKey& Key, const TFileStamp& Stamp);
    // Keeps Built for Key; a stamp that is not Valid keeps nothing.
    void Store(const TClipPrintKey& Key, const TFileStamp& Stamp, std::shared_ptr<const TAudioSequence> Built);
    // The frames of the clip at Path as the builders read it at FrameRate (ReadClipStereo),
    // from the file as Stamp describes it; -1 when no build has read that version of it.
    int64_t ClipFrames(const std::string& Path, int32_t FrameRate, const TFileStamp& Stamp) const;
    // Keeps the frames a build read of the clip; a stamp that is not Valid keeps nothing.
    void StoreClipFrames(const std::string& Path, int32_t FrameRate, const TFileStamp& Stamp, int64_t Frames);
    void Clear()
    {
        FEntries.clear();
        FClipFrames.clear();
    }
    size_t Count() const { return FEntries.size(); }
    // Fingerprints built (Store) and found (Find) since the cache was made, for tests and
    // benchmarks.
    uint64_t Builds() const { return FBuilds; }
    uint64_t Hits() const { return FHits; }

private:
    struct TEntry {
        TFileStamp Stamp;
        std::shared_ptr<const TAudioSequence> Built;
        uint64_t LastUse = 0;
    };
    std::map<TClipPrintKey, TEntry> FEntries;
    // Frames of the clips read, by path and rate, with the stamp of the file they were read
    // from; emptied when it would hold more than Capacity.
    std::map<std::pair<std::string, int32_t>, std::pair<TFileStamp, int64_t>> FClipFrames;
    uint64_t FUses = 0;
    uint64_t FBuilds = 0;
    uint64_t FHits = 0;
};
