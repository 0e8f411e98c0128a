#include "audio/WaveInfo.h"

#include "audio/MPEGaudio.h"
#include "audio/WAVFile.h"
#include "audio/WaveInfoRead.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <vector>

namespace {

std::string LowerExtension(const std::string& FileName)
{
    std::string Extension = std::filesystem::path(FileName).extension().string();
    std::transform(Extension.begin(), Extension.end(), Extension.begin(),
                   [](unsigned char C) { return static_cast<char>(C >= 'A' && C <= 'Z' ? C - 'A' + 'a' : C); });
    return Extension;
}

// Frames of a stream whose header count cannot be trusted, counted by decoding it.
sf_count_t CountFrames(SNDFILE* File, int Channels)
{
    constexpr sf_count_t Chunk = 4096;
    std::vector<short> Buffer(size_t(Chunk) * size_t(Channels));
    sf_count_t Total = 0, Got = 0;
    while ((Got = sf_readf_short(File, Buffer.data(), Chunk)) > 0)
        Total += Got;
    return Total;
}

bool IsUsable(double Seconds)
{
    return std::isfinite(Seconds) && Seconds > 0;
}

}  // namespace

double MediaLength(const std::string& FileName)
{
    try {
        if (FileSizeOf(FileName) <= 0)
            return 0;  // missing, empty, or a pipe that would block the open
        SF_INFO Info{};
        SNDFILE* File = sf_open(FileName.c_str(), SFM_READ, &Info);
        if (!File)
            return 0;
        sf_count_t Frames = Info.frames;
        if ((Info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG && Info.channels > 0)
            Frames = CountFrames(File, Info.channels);
        sf_close(File);
        if (Info.samplerate <= 0 || Frames <= 0)
            return 0;
        const double Seconds = double(Frames) / Info.samplerate;
        return IsUsable(Seconds) ? Seconds : 0;
    } catch (...) {
        return 0;
    }
}

double AudioFileDuration(const std::string& FileName)
{
    try {
        if (FileSizeOf(FileName) <= 0)
            return 0;
        const std::string Extension = LowerExtension(FileName);
        double Result = 0;
        if (Extension == ".wav") {
            TWAVFile Wav;
            if (Wav.ReadFromFile(FileName) && Wav.Valid())
                Result = Wav.Duration();
        } else if (Extension == ".mp3") {
            TMPEGaudio Mpeg;
            if (Mpeg.ReadFromFile(FileName) && Mpeg.Valid())
                Result = Mpeg.Duration();
        }
        // A header that gives a negative or undefined length (a streamed WAV's data size of
        // 0xFFFFFFFF, a hostile file) is no length either.
        if (!IsUsable(Result))
            Result = MediaLength(FileName);
        return Result;
    } catch (...) {
        return 0;
    }
}
