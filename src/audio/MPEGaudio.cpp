#include "audio/MPEGaudio.h"

#include "audio/WaveInfoRead.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr size_t BlockSize = 3458;
constexpr size_t ScanPositions = 1730;  // frame starts 0..1729 of a block

enum : uint8_t { MPEG25 = 0, MPEGReserved = 1, MPEG2 = 2, MPEG1 = 3 };
enum : uint8_t { LayerReserved = 0, Layer3 = 1, Layer2 = 2, Layer1 = 3 };

// kbit/s by bit-rate index, for MPEG 1 Layers I, II, III and MPEG 2 / 2.5 Layers I and II/III.
constexpr int32_t BitRates[5][16] = {
    {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
    {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
    {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
    {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
};

// Hz by version (MPEG 2.5, reserved, MPEG 2, MPEG 1) and sample-rate index.
constexpr int32_t SampleRates[4][4] = {
    {11025, 12000, 8000, 0},
    {0, 0, 0, 0},
    {22050, 24000, 16000, 0},
    {44100, 48000, 32000, 0},
};

TMPEGFrame DecodeHeader(const std::vector<uint8_t>& Block, size_t Offset)
{
    TMPEGFrame Frame;
    std::memcpy(Frame.Data.data(), Block.data() + Offset, 4);
    const uint8_t B1 = Frame.Data[1], B2 = Frame.Data[2], B3 = Frame.Data[3];
    Frame.VersionID = (B1 >> 3) & 3;
    Frame.LayerID = (B1 >> 1) & 3;
    Frame.BitRateID = (B2 >> 4) & 15;
    Frame.SampleRateID = (B2 >> 2) & 3;
    Frame.PaddingBit = (B2 >> 1) & 1;
    Frame.ModeID = (B3 >> 6) & 3;
    Frame.EmphasisID = B3 & 3;
    return Frame;
}

// Bytes per kbit/s per Hz of a frame: 48 for MPEG 1 Layer I, 144 for MPEG 1 Layers II and
// III, 24 for MPEG 2 / 2.5 Layer I, 144 for their Layer II, 72 for their Layer III.
int32_t Coefficient(const TMPEGFrame& Frame)
{
    if (Frame.VersionID == MPEG1)
        return Frame.LayerID == Layer1 ? 48 : 144;
    if (Frame.LayerID == Layer1)
        return 24;
    return Frame.LayerID == Layer2 ? 144 : 72;
}

int32_t Padding(const TMPEGFrame& Frame)
{
    if (!Frame.PaddingBit)
        return 0;
    return Frame.LayerID == Layer1 ? 4 : 1;
}

// Where the Xing or VBRI header starts behind the frame start.
size_t VBROffset(const TMPEGFrame& Frame)
{
    const bool Mono = Frame.ModeID == 3;
    if (Frame.VersionID == MPEG1)
        return Mono ? 21 : 36;
    return Mono ? 13 : 21;
}

}  // namespace

bool TMPEGaudio::IsFrameHeader(const std::vector<uint8_t>& Block, size_t Offset)
{
    if (Offset > Block.size() || Block.size() - Offset < 4)
        return false;
    const uint8_t* B = Block.data() + Offset;
    return B[0] == 0xFF && B[1] >= 0xE0 && ((B[1] >> 3) & 3) != MPEGReserved && ((B[1] >> 1) & 3) != LayerReserved
        && B[2] < 0xF0 && B[2] > 0x0F && ((B[2] >> 2) & 3) != 3 && (B[3] & 3) != 2;
}

int32_t TMPEGaudio::TableBitRate(const TMPEGFrame& Frame)
{
    int Table;
    if (Frame.LayerID == LayerReserved || Frame.VersionID == MPEGReserved)
        return 0;
    if (Frame.VersionID == MPEG1)
        Table = Frame.LayerID == Layer1 ? 0 : Frame.LayerID == Layer2 ? 1 : 2;
    else
        Table = Frame.LayerID == Layer1 ? 3 : 4;
    return BitRates[Table][Frame.BitRateID & 15];
}

int32_t TMPEGaudio::SampleRate(const TMPEGFrame& Frame)
{
    return SampleRates[Frame.VersionID & 3][Frame.SampleRateID & 3];
}

uint16_t TMPEGaudio::FrameLength(const TMPEGFrame& Frame)
{
    const int32_t Rate = SampleRate(Frame);
    if (Rate == 0)
        return 0;
    const int64_t Length = int64_t(Coefficient(Frame)) * TableBitRate(Frame) * 1000 / Rate + Padding(Frame);
    return static_cast<uint16_t>(Length);
}

void TMPEGaudio::Clear()
{
    FFileLength = 0;
    FFrameOffset = -1;
    FVBR = VBRData{};
    FFrame = TMPEGFrame{};
}

void TMPEGaudio::ReadVBR(const std::vector<uint8_t>& Block, size_t FrameStart)
{
    const size_t At = FrameStart + VBROffset(FFrame);
    uint32_t FrameCount = 0, ByteCount = 0;
    // A header cut off by the end of the bytes read counts as absent.
    if (HasText(Block, At, "Xing") && ReadBE32(Block, At + 8, FrameCount) && ReadBE32(Block, At + 12, ByteCount)
        && At + 119 < Block.size()) {
        FVBR.Quality = Block[At + 119];
    } else if (HasText(Block, At, "VBRI") && ReadBE32(Block, At + 10, ByteCount) && ReadBE32(Block, At + 14, FrameCount)) {
        FVBR.Quality = Block[At + 9];
    } else {
        return;
    }
    FVBR.Found = true;
    std::memcpy(FVBR.Tag.data(), Block.data() + At, 4);
    FVBR.FrameCount = static_cast<int32_t>(FrameCount);
    FVBR.ByteCount = static_cast<int32_t>(ByteCount);
}

bool TMPEGaudio::FindFrame(const std::vector<uint8_t>& Block)
{
    for (size_t P = 0; P < ScanPositions && P < Block.size(); ++P) {
        if (!IsFrameHeader(Block, P))
            continue;
        TMPEGFrame Candidate = DecodeHeader(Block, P);
        const uint16_t Length = FrameLength(Candidate);
        // The next frame must follow right behind; one lying beyond the bytes read counts
        // as absent.
        if (Length == 0 || !IsFrameHeader(Block, P + Length))
            continue;
        FFrame = Candidate;
        FFrame.Found = true;
        FFrame.Position = static_cast<int32_t>(P);
        FFrame.Size = Length;
        ReadVBR(Block, P);
        return true;
    }
    return false;
}

bool TMPEGaudio::ReadFromFile(const std::string& FileName)
{
    Clear();
    const bool Tag2 = FID3v2.ReadFromFile(FileName);
    const bool Tag1 = FID3v1.ReadFromFile(FileName);
    if (!Tag2 || !Tag1)
        return false;

    const int64_t Size = FileSizeOf(FileName);
    FFileLength = static_cast<int32_t>(Size);
    std::vector<uint8_t> Block;
    int64_t BlockOffset = FID3v2.TagSize();
    if (!ReadFileBytes(FileName, BlockOffset, BlockSize, Block))
        return true;
    bool Found = FindFrame(Block);
    if (!Found && Block.size() == BlockSize) {
        BlockOffset = (int64_t(FFileLength) - FID3v2.TagSize()) / 2;
        if (ReadFileBytes(FileName, BlockOffset, BlockSize, Block))
            Found = FindFrame(Block);
    }
    if (Found)
        FFrameOffset = BlockOffset + FFrame.Position;
    else {
        const int32_t Length = FFileLength;
        Clear();
        FFileLength = Length;
    }
    return true;
}

bool TMPEGaudio::LastFrameCut(const std::string& FileName, int64_t& Needed, int64_t& Held) const
{
    Needed = Held = 0;
    const int64_t Size = FileSizeOf(FileName);
    if (!FFrame.Found || FFrameOffset < 0 || Size < 0)
        return false;
    int64_t AudioEnd = Size - (FID3v1.Exists() ? 128 : 0);
    // A frame of the same stream keeps the first frame's version, layer and sample rate.
    const uint8_t First1 = FFrame.Data[1] & 0xFE, First2 = FFrame.Data[2] & 0x0C;
    const auto SameStream = [&](const std::vector<uint8_t>& B) {
        return B[0] == 0xFF && (B.size() < 2 || (B[1] & 0xFE) == First1) && (B.size() < 3 || (B[2] & 0x0C) == First2);
    };
    // A frame that runs into the version 1 tag but not past the end of the file is a cut
    // frame, unless the "TAG" in front of the last 128 bytes was audio: then frames of the
    // stream follow it up to the very end of the file.
    bool IntoTag = false;
    const auto Cut = [&](int64_t Length, int64_t Left) {
        if (!IntoTag) {
            Needed = Length;
            Held = Left;
        }
        return true;
    };
    const auto LostSync = [&] { return IntoTag; };
    TFileWindow File(FileName);
    std::vector<uint8_t> Header;
    for (int64_t At = FFrameOffset; At < AudioEnd;) {
        const int64_t Left = AudioEnd - At;
        if (!File.Read(At, size_t(std::min<int64_t>(Left, 4)), Header) || int64_t(Header.size()) < std::min<int64_t>(Left, 4))
            return LostSync();
        if (Header.size() < 4)  // the file ends inside what may begin the next frame's header
            return SameStream(Header) ? Cut(4, Left) : LostSync();
        if (!IsFrameHeader(Header, 0) || !SameStream(Header))
            return LostSync();
        const uint16_t Length = FrameLength(DecodeHeader(Header, 0));
        if (Length < 4)
            return LostSync();
        if (Length > Left) {
            if (IntoTag || AudioEnd == Size || At + Length > Size)
                return Cut(Length, Left);
            IntoTag = true;
            Needed = Length;
            Held = Left;
            AudioEnd = Size;
        }
        At += Length;
    }
    if (IntoTag)
        Needed = Held = 0;
    return false;
}

double TMPEGaudio::Duration() const
{
    if (!FFrame.Found)
        return 0;
    const int32_t Rate = SampleRate(FFrame);
    if (FVBR.Found && FVBR.FrameCount > 0)
        return Rate == 0 ? 0 : double(Coefficient(FFrame)) * FVBR.FrameCount * 8 / Rate;
    const int32_t BitRate = TableBitRate(FFrame);
    if (BitRate == 0)
        return 0;
    const double AudioBytes = double(FFileLength) - FID3v2.TagSize() - (FID3v1.Exists() ? 128 : 0) - FFrame.Position;
    return AudioBytes / BitRate / 1000 * 8;
}

double TMPEGaudio::BitRate() const
{
    if (FVBR.Found && FVBR.FrameCount > 0) {
        const int32_t Rate = SampleRate(FFrame);
        const double PerFrame = double(FVBR.ByteCount) / FVBR.FrameCount - Padding(FFrame);
        return std::nearbyint(PerFrame * Rate / Coefficient(FFrame) / 1000);
    }
    return TableBitRate(FFrame);
}

bool TMPEGaudio::Valid() const
{
    if (!FFrame.Found)
        return false;
    // The rate is taken as an unsigned 16-bit value; an absurd average from a hostile
    // header wraps like any other instead of overflowing the conversion.
    const double Rate = BitRate();
    if (!std::isfinite(Rate) || std::fabs(Rate) > 9e15)
        return false;
    const auto Rate16 = static_cast<uint16_t>(static_cast<int64_t>(Rate) & 0xFFFF);
    return Rate16 >= 8 && Rate16 <= 448 && Duration() >= 0.1;
}
