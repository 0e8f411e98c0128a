#pragma once
// Fixtures made in code: temporary folders and generated PCM/WAV files.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testkit {

// A fresh folder under the system's temporary folder, removed with everything in it
// when the object goes out of scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // path() / name, as a string.
    std::string file(const std::string& name) const;

private:
    std::filesystem::path path_;
};

// Interleaved 16-bit PCM.
struct Pcm {
    int rate = 44100;
    int channels = 2;
    std::vector<int16_t> samples;  // interleaved, frames * channels values

    size_t frames() const { return channels ? samples.size() / size_t(channels) : 0; }
    // Appends `seconds` of frames; `value(channel, frameIndexWithinThisCall)` gives each value.
    void append(double seconds, const std::function<int16_t(int, size_t)>& value);
    void appendSilence(double seconds);
    // Sum of sines, the same on every channel; amplitude as a fraction of full scale each.
    void appendTones(double seconds, const std::vector<double>& freqs, double amplitude = 0.3);
    // Adds `other` (same rate and channel count) into this one from frame `atFrame`, clipping.
    void mixIn(const Pcm& other, size_t atFrame);
};

// Writes a canonical 44-byte-header PCM WAV file (16 bits per sample).
void writeWav(const std::string& path, const Pcm& pcm);

// Encodes a WAV file to MP3 with the lame encoder (e.g. options "-b 128 --cbr" or "-V 4");
// throws when lame fails.
void encodeMp3(const std::string& wavPath, const std::string& mp3Path, const std::string& lameOptions = "-b 128 --cbr");

// Writes raw bytes to a file (for broken and hostile fixtures).
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

// While it lives, this process cannot make a file larger than `bytes` (RLIMIT_FSIZE, with
// SIGXFSZ ignored so a write past the limit fails with EFBIG instead of killing the process):
// a full disk without root. The limit and the signal's handling are restored afterwards.
class FileSizeLimit {
public:
    explicit FileSizeLimit(unsigned long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    unsigned long long oldSoft_ = 0;
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace testkit
