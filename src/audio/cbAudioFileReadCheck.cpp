#include "audio/cbAudioFileReadCheck.h"

#include "audio/MPEGaudio.h"
#include "audio/WaveInfoRead.h"
#include "audio/cbAudioRead.h"

#include <vector>

namespace {

// Chunks looked at before the data chunk; real files have a handful.
constexpr int MaxChunks = 256;
constexpr uint32_t StreamedSize = 0xFFFFFFFF;

// The container kinds whose data chunk size can be checked.
struct TChunkLayout {
    bool BigEndian = false;
    bool RF64 = false;       // data size held by the "ds64" chunk
    const char* DataId = "";
};

bool LayoutOf(const std::vector<uint8_t>& Head, TChunkLayout& Layout)
{
    if (HasText(Head, 8, "WAVE") && (HasText(Head, 0, "RIFF") || HasText(Head, 0, "RIFX") || HasText(Head, 0, "RF64")
                                     || HasText(Head, 0, "BW64"))) {
        Layout.BigEndian = HasText(Head, 0, "RIFX");
        Layout.RF64 = HasText(Head, 0, "RF64") || HasText(Head, 0, "BW64");
        Layout.DataId = "data";
        return true;
    }
    if (HasText(Head, 0, "FORM") && (HasText(Head, 8, "AIFF") || HasText(Head, 8, "AIFC"))) {
        Layout.BigEndian = true;
        Layout.DataId = "SSND";
        return true;
    }
    return false;
}

bool ReadSize(const std::vector<uint8_t>& Bytes, size_t Offset, bool BigEndian, uint32_t& Value)
{
    return BigEndian ? ReadBE32(Bytes, Offset, Value) : ReadLE32(Bytes, Offset, Value);
}

[[noreturn]] void RaiseCut(const std::string& FileName, const std::string& What)
{
    const std::string Text = "Truncated file: " + What + " (\"" + FileName + "\").";
    throw EAudioReadError(AudioReadErrorText(AudioReadCode::MalformedFile, Text), AudioReadCode::MalformedFile);
}

}  // namespace

bool DataChunkCut(const std::string& FileName, int64_t& Declared, int64_t& Held)
{
    Declared = Held = 0;
    const int64_t Size = FileSizeOf(FileName);
    TFileWindow File(FileName);
    std::vector<uint8_t> Bytes;
    TChunkLayout Layout;
    if (Size < 12 || !File.Read(0, 12, Bytes) || !LayoutOf(Bytes, Layout))
        return false;
    uint64_t DS64DataSize = 0;
    int64_t At = 12;
    for (int N = 0; N < MaxChunks && At + 8 <= Size; ++N) {
        uint32_t ChunkSize = 0;
        if (!File.Read(At, 8, Bytes) || !ReadSize(Bytes, 4, Layout.BigEndian, ChunkSize))
            return false;
        if (Layout.RF64 && HasText(Bytes, 0, "ds64")) {
            // Its 64-bit RIFF size comes first, then the data size.
            std::vector<uint8_t> Sizes;
            if (File.Read(At + 8, 16, Sizes))
                ReadLE64(Sizes, 8, DS64DataSize);
        }
        if (HasText(Bytes, 0, Layout.DataId)) {
            uint64_t Size64 = ChunkSize;
            if (Layout.RF64 && ChunkSize == StreamedSize)
                Size64 = DS64DataSize;
            if (Size64 == 0 || Size64 == StreamedSize || Size64 >= uint64_t(INT64_MAX))
                return false;  // written while streaming: the size was never filled in
            Declared = int64_t(Size64);
            Held = Size - (At + 8);
            return Declared > Held;
        }
        At += 8 + int64_t(ChunkSize) + (ChunkSize & 1);
        if (At >= Size) {
            // The file ends inside a chunk before the sound data: its audio was cut away.
            Held = Size;
            return At > Size + 1 || (At == Size + 1 && !(ChunkSize & 1));
        }
    }
    if (At < Size && At + 8 > Size) {
        // The file ends inside the header of a chunk, so no sound data follows.
        Held = Size;
        return true;
    }
    return false;
}

void CheckAudioFileComplete(const std::string& FileName, bool Mpeg)
{
    int64_t Declared = 0, Held = 0;
    if (DataChunkCut(FileName, Declared, Held)) {
        if (Declared == 0)
            RaiseCut(FileName, "it ends after " + std::to_string(Held) + " bytes, inside its headers, before any audio data");
        RaiseCut(FileName, "the audio data ends after " + std::to_string(Held) + " of the " + std::to_string(Declared)
                               + " bytes its header declares");
    }
    if (!Mpeg)
        return;
    TMPEGaudio Stream;
    if (!Stream.ReadFromFile(FileName) || !Stream.LastFrameCut(FileName, Declared, Held))
        return;
    if (Held < 4)
        RaiseCut(FileName, "the file ends " + std::to_string(Held) + " bytes into the header of an audio frame");
    RaiseCut(FileName, "its last audio frame holds " + std::to_string(Held) + " of its " + std::to_string(Declared)
                           + " bytes");
}
