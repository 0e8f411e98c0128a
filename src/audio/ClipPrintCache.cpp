#include "audio/ClipPrintCache.h"

#include <sys/stat.h>

TFileStamp TFileStamp::Of(const std::string& Path)
{
    TFileStamp Stamp;
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return Stamp;
    Stamp.Valid = true;
    Stamp.Size = uint64_t(Info.st_size);
    Stamp.ModifiedNs = int64_t(Info.st_mtim.tv_sec) * 1000000000 + Info.st_mtim.tv_nsec;
    Stamp.Inode = uint64_t(Info.st_ino);
    Stamp.Device = uint64_t(Info.st_dev);
    return Stamp;
}

std::unique_ptr<TAudioSequence> CopySequence(const TAudioSequence& Built)
{
    auto Copy = std::make_unique<TAudioSequence>();
    Copy->Hold = Built.Hold;
    Copy->Duration = Built.Duration;
    Copy->Channel = Built.Channel;
    Copy->Kind = Built.Kind;
    Copy->Method = Built.Method;
    Copy->Level = Built.Level;
    Copy->Number = Built.Number;
    Copy->Landmarks = Built.Landmarks;
    for (const TAudioSample& Slice : Built.Samples) {
        TAudioSample& Target = Copy->Samples.AddNew();
        Target.MaxGap = Slice.MaxGap;
        Target.MinGap = Slice.MinGap;
        for (const TFreqData& Peak : Slice.Peaks) {
            TFreqData& Copied = Target.Peaks.AddNew();
            Copied = Peak;
            Copied.Measured = 0;
        }
    }
    return Copy;
}

std::shared_ptr<const TAudioSequence> TClipPrintCache::Find(const TClipPrintKey& Key, const TFileStamp& Stamp)
{
    const auto It = FEntries.find(Key);
    if (It == FEntries.end())
        return nullptr;
    if (!Stamp.Valid || !(It->second.Stamp == Stamp)) {
        FEntries.erase(It);
        return nullptr;
    }
    It->second.LastUse = ++FUses;
    ++FHits;
    return It->second.Built;
}

void TClipPrintCache::Store(const TClipPrintKey& Key, const TFileStamp& Stamp, std::shared_ptr<const TAudioSequence> Built)
{
    ++FBuilds;
    if (!Stamp.Valid || !Built || Capacity == 0)
        return;
    if (FEntries.size() >= Capacity && FEntries.find(Key) == FEntries.end()) {
        auto Oldest = FEntries.begin();
        for (auto It = FEntries.begin(); It != FEntries.end(); ++It)
            if (It->second.LastUse < Oldest->second.LastUse)
                Oldest = It;
        FEntries.erase(Oldest);
    }
    FEntries[Key] = TEntry{Stamp, std::move(Built), ++FUses};
}

int64_t TClipPrintCache::ClipFrames(const std::string& Path, int32_t FrameRate, const TFileStamp& Stamp) const
{
    const auto It = FClipFrames.find({Path, FrameRate});
    if (It == FClipFrames.end() || !Stamp.Valid || !(It->second.first == Stamp))
        return -1;
    return It->second.second;
}

void TClipPrintCache::StoreClipFrames(const std::string& Path, int32_t FrameRate, const TFileStamp& Stamp, int64_t Frames)
{
    if (!Stamp.Valid || Capacity == 0)
        return;
    if (FClipFrames.size() >= Capacity && FClipFrames.find({Path, FrameRate}) == FClipFrames.end())
        FClipFrames.clear();
    FClipFrames[{Path, FrameRate}] = {Stamp, Frames};
}
