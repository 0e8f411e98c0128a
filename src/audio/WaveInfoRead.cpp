#include "audio/WaveInfoRead.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace {

bool Inside(const std::vector<uint8_t>& Bytes, size_t Offset, size_t Count)
{
    return Offset <= Bytes.size() && Count <= Bytes.size() - Offset;
}

}  // namespace

int64_t FileSizeOf(const std::string& FileName)
{
    struct stat Info{};
    if (::stat(FileName.c_str(), &Info) != 0 || !S_ISREG(Info.st_mode))
        return -1;
    return static_cast<int64_t>(Info.st_size);
}

bool ReadFileBytes(const std::string& FileName, int64_t Offset, size_t Count, std::vector<uint8_t>& Bytes)
{
    Bytes.clear();
    // Only regular files: opening a pipe would wait for a writer without limit.
    if (Offset < 0 || FileSizeOf(FileName) < 0)
        return false;
    std::FILE* File = std::fopen(FileName.c_str(), "rb");
    if (!File)
        return false;
    bool Ok = ::fseeko(File, static_cast<off_t>(Offset), SEEK_SET) == 0;
    if (Ok) {
        Bytes.resize(Count);
        Bytes.resize(std::fread(Bytes.data(), 1, Count, File));
        Ok = !std::ferror(File);
    }
    std::fclose(File);
    if (!Ok)
        Bytes.clear();
    return Ok;
}

bool ReadLE16(const std::vector<uint8_t>& Bytes, size_t Offset, uint16_t& Value)
{
    if (!Inside(Bytes, Offset, 2))
        return false;
    Value = static_cast<uint16_t>(Bytes[Offset] | Bytes[Offset + 1] << 8);
    return true;
}

bool ReadLE32(const std::vector<uint8_t>& Bytes, size_t Offset, uint32_t& Value)
{
    if (!Inside(Bytes, Offset, 4))
        return false;
    Value = uint32_t(Bytes[Offset]) | uint32_t(Bytes[Offset + 1]) << 8 | uint32_t(Bytes[Offset + 2]) << 16
        | uint32_t(Bytes[Offset + 3]) << 24;
    return true;
}

bool ReadBE32(const std::vector<uint8_t>& Bytes, size_t Offset, uint32_t& Value)
{
    if (!Inside(Bytes, Offset, 4))
        return false;
    Value = uint32_t(Bytes[Offset]) << 24 | uint32_t(Bytes[Offset + 1]) << 16 | uint32_t(Bytes[Offset + 2]) << 8
        | uint32_t(Bytes[Offset + 3]);
    return true;
}

bool HasText(const std::vector<uint8_t>& Bytes, size_t Offset, const char* Text)
{
    const size_t Count = std::strlen(Text);
    return Inside(Bytes, Offset, Count) && std::memcmp(Bytes.data() + Offset, Text, Count) == 0;
}

bool ReadLE64(const std::vector<uint8_t>& Bytes, size_t Offset, uint64_t& Value)
{
    uint32_t Low = 0, High = 0;
    if (!ReadLE32(Bytes, Offset, Low) || !ReadLE32(Bytes, Offset + 4, High))
        return false;
    Value = uint64_t(High) << 32 | Low;
    return true;
}

TFileWindow::TFileWindow(std::string FileName, size_t WindowSize)
    : FFileName(std::move(FileName)), FWindowSize(WindowSize)
{
}

bool TFileWindow::Read(int64_t Offset, size_t Count, std::vector<uint8_t>& Bytes)
{
    Bytes.clear();
    if (Offset < 0)
        return false;
    // Reload when the piece asked for is not wholly inside the window, unless the window
    // already runs to the end of the file there (it was loaded short of its size).
    const bool Loaded = FOffset >= 0 && Offset >= FOffset && uint64_t(Offset - FOffset) <= FWindow.size();
    const bool Complete = Loaded
        && (FWindow.size() - size_t(Offset - FOffset) >= Count || FAtEnd);
    if (!Complete) {
        FOffset = -1;
        const size_t Asked = std::max(Count, FWindowSize);
        if (!ReadFileBytes(FFileName, Offset, Asked, FWindow))
            return false;
        FOffset = Offset;
        FAtEnd = FWindow.size() < Asked;
    }
    const size_t From = size_t(Offset - FOffset);
    const size_t Take = std::min(Count, FWindow.size() - From);
    Bytes.assign(FWindow.begin() + long(From), FWindow.begin() + long(From + Take));
    return true;
}
