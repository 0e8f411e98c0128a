#pragma once
// Length of a PCM WAV file from its first 44 bytes.

#include <cstdint>
#include <string>

class TWAVFile {
public:
    // Reads the first 44 bytes and recognises a canonical PCM header: "RIFF", "WAVE",
    // "fmt ", format tag 1, a format chunk of 16 or 18 bytes, one or two channels, and
    // "data" at 36 or "da" at 38. Returns false when 44 bytes cannot be read; Valid tells
    // whether the header was recognised. Never raises.
    bool ReadFromFile(const std::string& FileName);

    bool Valid() const { return FValid; }
    uint8_t Channels() const { return FChannels; }            // low byte of the channel count
    uint16_t SampleRate() const { return FSampleRate; }       // low 16 bits of the rate
    uint8_t BitsPerSample() const { return FBitsPerSample; }  // low byte of the sample size
    int32_t FileSize() const { return FFileSize; }            // RIFF size + 8
    // The data chunk size when the format chunk has 16 bytes, else FileSize.
    int32_t DataSize() const { return FDataSize; }

    // (DataSize - 44) / rate / BitsPerSample / Channels * 8 seconds; 0 unless Valid.
    // 0 as well when a header field it divides by is 0. The rate is the header's whole
    // 32-bit value, not SampleRate's low 16 bits, so 88200 and 96000 Hz files come out right.
    double Duration() const;

private:
    void Clear();

    bool FValid = false;
    uint8_t FChannels = 0;
    uint16_t FSampleRate = 0;
    uint32_t FFullRate = 0;
    uint8_t FBitsPerSample = 0;
    int32_t FFileSize = 0;
    int32_t FDataSize = 0;
};
