#pragma once
// Presence of an ID3 version 1 tag (the last 128 bytes of an MP3 file begin with "TAG").

#include <string>

class TID3v1 {
public:
    // Reads the last 128 bytes; false when the file is missing or shorter than 128 bytes.
    bool ReadFromFile(const std::string& FileName);
    bool Exists() const { return FExists; }

private:
    bool FExists = false;
};
