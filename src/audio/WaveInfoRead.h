#pragma once
// Byte access for the file information readers (WAV, MP3 and tag headers): reads that
// report how many bytes the file really gave, and numbers taken only from inside them, so a
// short or hostile file can never make a reader look past what was read.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Size of the file in bytes; -1 when it is missing or not a regular file.
int64_t FileSizeOf(const std::string& FileName);

// Up to Count bytes from Offset. Returns false (and no bytes) when the file cannot be opened
// or the offset cannot be reached; a file that ends early gives fewer bytes than asked.
bool ReadFileBytes(const std::string& FileName, int64_t Offset, size_t Count, std::vector<uint8_t>& Bytes);

// Numbers at Offset of Bytes; false when they do not lie wholly inside Bytes.
bool ReadLE16(const std::vector<uint8_t>& Bytes, size_t Offset, uint16_t& Value);
bool ReadLE32(const std::vector<uint8_t>& Bytes, size_t Offset, uint32_t& Value);
bool ReadBE32(const std::vector<uint8_t>& Bytes, size_t Offset, uint32_t& Value);
// True when Text (plain ASCII) stands at Offset of Bytes.
bool HasText(const std::vector<uint8_t>& Bytes, size_t Offset, const char* Text);
bool ReadLE64(const std::vector<uint8_t>& Bytes, size_t Offset, uint64_t& Value);

// Small reads at scattered offsets of one file, served from a window of the file loaded as
// needed, so a walk over many chunk or frame headers opens the file only once per window.
class TFileWindow {
public:
    explicit TFileWindow(std::string FileName, size_t WindowSize = 65536);
    // Up to Count bytes from Offset into Bytes (fewer where the file ends); false when the
    // file cannot be read there.
    bool Read(int64_t Offset, size_t Count, std::vector<uint8_t>& Bytes);

private:
    std::string FFileName;
    size_t FWindowSize;
    int64_t FOffset = -1;          // file offset of the window
    std::vector<uint8_t> FWindow;  // the bytes the file gave from there
    bool FAtEnd = false;           // the window reaches the end of the file
};
