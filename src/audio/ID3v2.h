#pragma once
// Size of an ID3 version 2 tag at the start of an MP3 file, so the audio frames can be found
// behind it.

#include <cstdint>
#include <string>

class TID3v2 {
public:
    // Reads the 10-byte tag header; false when the file is missing or shorter than 10 bytes.
    bool ReadFromFile(const std::string& FileName);

    bool Exists() const { return FExists; }
    uint8_t TagVersion() const { return FTagVersion; }
    // Bytes the tag occupies, header (and footer) included; 0 without a tag or when the
    // stated size exceeds the file.
    int32_t TagSize() const { return FTagSize; }

private:
    bool FExists = false;
    uint8_t FTagVersion = 0;
    int32_t FTagSize = 0;
};
