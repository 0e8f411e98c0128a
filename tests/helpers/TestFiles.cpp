#include "helpers/TestFiles.h"

#include <sys/resource.h>

#include <csignal>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testkit {

namespace fs = std::filesystem;

TempDir::TempDir()
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = fs::temp_directory_path() / ("ondrix-test-" + std::to_string(rd()));
        if (fs::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Tests may leave read-only folders behind; give write access back before removing.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::file(const std::string& name) const
{
    return (path_ / name).string();
}

void Pcm::append(double seconds, const std::function<int16_t(int, size_t)>& value)
{
    const auto count = static_cast<size_t>(std::llround(seconds * rate));
    samples.reserve(samples.size() + count * size_t(channels));
    for (size_t i = 0; i < count; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(value(c, i));
}

void Pcm::appendSilence(double seconds)
{
    append(seconds, [](int, size_t) { return int16_t(0); });
}

void Pcm::appendTones(double seconds, const std::vector<double>& freqs, double amplitude)
{
    const double twoPi = 2.0 * std::acos(-1.0);
    append(seconds, [&](int, size_t i) {
        double v = 0;
        for (double f : freqs)
            v += amplitude * std::sin(twoPi * f * double(i) / rate);
        return static_cast<int16_t>(std::clamp(v * 32767.0, -32768.0, 32767.0));
    });
}

void Pcm::mixIn(const Pcm& other, size_t atFrame)
{
    const size_t start = atFrame * size_t(channels);
    if (samples.size() < start + other.samples.size())
        samples.resize(start + other.samples.size(), 0);
    for (size_t i = 0; i < other.samples.size(); ++i) {
        const int sum = int(samples[start + i]) + int(other.samples[i]);
        samples[start + i] = static_cast<int16_t>(std::clamp(sum, -32768, 32767));
    }
}

namespace {
void put16(std::ostream& out, uint16_t v)
{
    const char b[2] = {char(v & 0xFF), char(v >> 8)};
    out.write(b, 2);
}
void put32(std::ostream& out, uint32_t v)
{
    const char b[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    out.write(b, 4);
}
}  // namespace

void writeWav(const std::string& path, const Pcm& pcm)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out)
        throw std::runtime_error("cannot write " + path);
    const auto dataBytes = static_cast<uint32_t>(pcm.samples.size() * 2);
    const auto blockAlign = static_cast<uint16_t>(pcm.channels * 2);
    out.write("RIFF", 4);
    put32(out, 36 + dataBytes);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, static_cast<uint16_t>(pcm.channels));
    put32(out, static_cast<uint32_t>(pcm.rate));
    put32(out, static_cast<uint32_t>(pcm.rate) * blockAlign);
    put16(out, blockAlign);
    put16(out, 16);
    out.write("data", 4);
    put32(out, dataBytes);
    for (int16_t s : pcm.samples)
        put16(out, static_cast<uint16_t>(s));
}

void encodeMp3(const std::string& wavPath, const std::string& mp3Path, const std::string& lameOptions)
{
    const std::string command = "lame --quiet " + lameOptions + " '" + wavPath + "' '" + mp3Path + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("lame failed: " + command);
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes)
{
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    oldSoft_ = limit.rlim_cur;
    limit.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        throw std::runtime_error("setrlimit(RLIMIT_FSIZE) failed");
}

FileSizeLimit::~FileSizeLimit()
{
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = oldSoft_;
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, oldHandler_);
}

}  // namespace testkit
