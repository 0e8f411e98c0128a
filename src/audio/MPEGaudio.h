#pragma once
// Length and bit rate of an MPEG audio (MP3) file from its first confirmed frame header and
// the Xing or VBRI header of variable-bit-rate files. The ID3 tags only tell where the audio
// frames start and end.

#include "audio/ID3v1.h"
#include "audio/ID3v2.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// Variable-bit-rate header of the first frame.
struct VBRData {
    bool Found = false;
    std::array<char, 4> Tag{};  // "Xing" or "VBRI"
    int32_t FrameCount = 0;
    int32_t ByteCount = 0;
    uint8_t Quality = 0;
};

// The first confirmed frame and its decoded header fields.
struct TMPEGFrame {
    bool Found = false;
    int32_t Position = 0;   // in the block it was found in, bytes
    uint16_t Size = 0;      // frame length in bytes
    std::array<uint8_t, 4> Data{};
    uint8_t VersionID = 0;     // 0 MPEG 2.5, 1 reserved, 2 MPEG 2, 3 MPEG 1
    uint8_t LayerID = 0;       // 0 reserved, 1 Layer III, 2 Layer II, 3 Layer I
    uint8_t BitRateID = 0;
    uint8_t SampleRateID = 0;
    bool PaddingBit = false;
    uint8_t ModeID = 0;        // 3 mono
    uint8_t EmphasisID = 0;
};

class TMPEGaudio {
public:
    // Finds the first frame behind the version 2 tag (or, failing that, in the middle of the
    // file). False when the tags cannot be read (a file shorter than 128 bytes included).
    // Never raises and never looks outside the bytes actually read.
    bool ReadFromFile(const std::string& FileName);

    int32_t FileLength() const { return FFileLength; }
    const VBRData& VBR() const { return FVBR; }
    const TMPEGFrame& Frame() const { return FFrame; }
    const TID3v1& ID3v1() const { return FID3v1; }
    const TID3v2& ID3v2() const { return FID3v2; }

    // Seconds; 0 when no frame was found.
    double Duration() const;
    // kbit/s: the average of a variable-bit-rate file, else the first frame's table rate.
    double BitRate() const;
    // A frame was found, the bit rate lies in 8..448 and the length is at least 0.1 s.
    bool Valid() const;
    // File offset of the first confirmed frame; -1 when none was found.
    int64_t FrameOffset() const { return FFrameOffset; }

    // Walks the frames of FileName (read by ReadFromFile before) from the first confirmed
    // one to the version 1 tag or the end of the file, each by its own header. True when the
    // last frame needs more bytes than remain (the file was cut short): Needed is its length,
    // Held what is left of it. False when the frames end where the audio ends, and also when
    // the walk meets bytes that are no frame of this stream (another tag, padding, a lost
    // sync), as nothing can be told then. Never raises; reads only what the file gives.
    bool LastFrameCut(const std::string& FileName, int64_t& Needed, int64_t& Held) const;

    // The four bytes at Offset of Block form a frame header.
    static bool IsFrameHeader(const std::vector<uint8_t>& Block, size_t Offset);
    // Length in bytes of a frame with this decoded header.
    static uint16_t FrameLength(const TMPEGFrame& Frame);
    // Bit rate (kbit/s) and sample rate (Hz) of the header; 0 for reserved combinations.
    static int32_t TableBitRate(const TMPEGFrame& Frame);
    static int32_t SampleRate(const TMPEGFrame& Frame);

private:
    void Clear();
    bool FindFrame(const std::vector<uint8_t>& Block);
    void ReadVBR(const std::vector<uint8_t>& Block, size_t FrameStart);

    int32_t FFileLength = 0;
    int64_t FFrameOffset = -1;
    VBRData FVBR;
    TMPEGFrame FFrame;
    TID3v1 FID3v1;
    TID3v2 FID3v2;
};
