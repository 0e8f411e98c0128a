#include "audio/ID3v2.h"

#include "audio/WaveInfoRead.h"

#include <vector>

namespace {
constexpr size_t HeaderSize = 10;
constexpr uint8_t FooterFlag = 0x10;
}  // namespace

bool TID3v2::ReadFromFile(const std::string& FileName)
{
    *this = TID3v2{};
    std::vector<uint8_t> Header;
    if (!ReadFileBytes(FileName, 0, HeaderSize, Header) || Header.size() < HeaderSize)
        return false;
    const int64_t FileSize = FileSizeOf(FileName);
    if (!HasText(Header, 0, "ID3"))
        return true;

    FExists = true;
    FTagVersion = Header[3];
    // The size bytes are taken whole, as older writers set their top bits too.
    int64_t Size = int64_t(Header[6]) * (1 << 21) + int64_t(Header[7]) * (1 << 14) + int64_t(Header[8]) * (1 << 7)
        + int64_t(Header[9]) + int64_t(HeaderSize);
    if (Header[5] & FooterFlag)
        Size += int64_t(HeaderSize);
    FTagSize = Size > FileSize ? 0 : static_cast<int32_t>(Size);
    return true;
}
