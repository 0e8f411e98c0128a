#include "audio/WAVFile.h"

#include "audio/WaveInfoRead.h"

#include <vector>

namespace {
constexpr size_t HeaderSize = 44;
}

void TWAVFile::Clear()
{
    *this = TWAVFile{};
}

bool TWAVFile::ReadFromFile(const std::string& FileName)
{
    Clear();
    std::vector<uint8_t> Header;
    if (!ReadFileBytes(FileName, 0, HeaderSize, Header) || Header.size() < HeaderSize)
        return false;

    uint32_t RiffSize = 0, FormatSize = 0, SampleRate = 0, DataChunkSize = 0;
    uint16_t FormatTag = 0, Channels = 0, BitsPerSample = 0;
    ReadLE32(Header, 4, RiffSize);
    ReadLE32(Header, 16, FormatSize);
    ReadLE16(Header, 20, FormatTag);
    ReadLE16(Header, 22, Channels);
    ReadLE32(Header, 24, SampleRate);
    ReadLE16(Header, 34, BitsPerSample);
    ReadLE32(Header, 40, DataChunkSize);

    const bool Recognised = HasText(Header, 0, "RIFF") && HasText(Header, 8, "WAVE") && HasText(Header, 12, "fmt ")
        && FormatTag == 1 && (FormatSize == 16 || FormatSize == 18) && (Channels == 1 || Channels == 2)
        && (HasText(Header, 36, "data") || HasText(Header, 38, "da"));
    if (!Recognised)
        return true;

    FValid = true;
    FChannels = static_cast<uint8_t>(Channels & 0xFF);
    FSampleRate = static_cast<uint16_t>(SampleRate & 0xFFFF);
    FFullRate = SampleRate;
    FBitsPerSample = static_cast<uint8_t>(BitsPerSample & 0xFF);
    // The sizes are signed 32-bit fields; a size near 4 GiB wraps instead of overflowing.
    FFileSize = static_cast<int32_t>(RiffSize + 8u);
    FDataSize = FormatSize == 16 ? static_cast<int32_t>(DataChunkSize) : FFileSize;
    return true;
}

double TWAVFile::Duration() const
{
    if (!FValid || FFullRate == 0 || FBitsPerSample == 0 || FChannels == 0)
        return 0;
    return (double(FDataSize) - double(HeaderSize)) / FFullRate / FBitsPerSample / FChannels * 8;
}
