#include "audio/ID3v1.h"

#include "audio/WaveInfoRead.h"

#include <cstdint>
#include <vector>

namespace {
constexpr int64_t TagSize = 128;
}

bool TID3v1::ReadFromFile(const std::string& FileName)
{
    FExists = false;
    const int64_t Size = FileSizeOf(FileName);
    std::vector<uint8_t> Tag;
    if (Size < TagSize || !ReadFileBytes(FileName, Size - TagSize, TagSize, Tag) || Tag.size() < TagSize)
        return false;
    FExists = HasText(Tag, 0, "TAG");
    return true;
}
