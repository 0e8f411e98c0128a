#include "helpers/Broadcast.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <stdexcept>

namespace testkit {

namespace {
const double TwoPi = 2.0 * std::acos(-1.0);

// Appends `seconds` of a sum of sines with continuous phase per call.
void appendSines(Pcm& pcm, double seconds, const std::vector<double>& freqs, double amplitude)
{
    pcm.appendTones(seconds, freqs, amplitude);
}
}  // namespace

Pcm makeClip(unsigned seed, double seconds, double step)
{
    Pcm pcm;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> grid(0, 80);
    const int segments = int(std::lround(seconds / step));
    for (int i = 0; i < segments; ++i) {
        // Two tones 100 Hz apart on a grid, so neighbouring clips land on different bins.
        const double low = 4000.0 + 100.0 * grid(random);
        const double high = low + 3000.0 + 100.0 * (grid(random) % 40);
        appendSines(pcm, step, {low, high}, 0.3);
    }
    return pcm;
}

Pcm makeDtmf(const std::string& symbols, double toneSeconds, double pauseSeconds, double amplitude)
{
    static const std::map<char, std::pair<double, double>> tones = {
        {'1', {697, 1209}}, {'2', {697, 1336}}, {'3', {697, 1477}}, {'A', {697, 1633}},
        {'4', {770, 1209}}, {'5', {770, 1336}}, {'6', {770, 1477}}, {'B', {770, 1633}},
        {'7', {852, 1209}}, {'8', {852, 1336}}, {'9', {852, 1477}}, {'C', {852, 1633}},
        {'*', {941, 1209}}, {'0', {941, 1336}}, {'#', {941, 1477}}, {'D', {941, 1633}},
    };
    Pcm pcm;
    for (size_t i = 0; i < symbols.size(); ++i) {
        const auto it = tones.find(symbols[i]);
        if (it == tones.end())
            throw std::invalid_argument(std::string("not a DTMF symbol: ") + symbols[i]);
        appendSines(pcm, toneSeconds, {it->second.first, it->second.second}, amplitude);
        if (i + 1 < symbols.size())
            pcm.appendSilence(pauseSeconds);
    }
    return pcm;
}

Pcm makeProgramme(double seconds, unsigned seed)
{
    // Below the DTMF low group, or between 2 and 3.5 kHz: nothing here dials or sounds like a clip.
    static const std::vector<double> pitches = {110, 147, 196, 220, 262, 294, 330, 392, 440, 494, 523, 587,
                                                2093, 2349, 2637, 2794, 3136, 3322};
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> pick(0, pitches.size() - 1);
    Pcm pcm;
    const int segments = int(std::lround(seconds / 0.25));
    // Pcm::append reserves only what each call adds: reserve the whole programme once.
    pcm.samples.reserve(size_t(std::lround(seconds * pcm.rate)) * size_t(pcm.channels) + 1024);
    for (int i = 0; i < segments; ++i)
        appendSines(pcm, 0.25, {pitches[pick(random)], pitches[pick(random)]}, 0.15);
    return pcm;
}

void silence(Pcm& pcm, double start, double seconds)
{
    const size_t from = size_t(std::lround(start * pcm.rate)) * size_t(pcm.channels);
    const size_t to = std::min(pcm.samples.size(), size_t(std::lround((start + seconds) * pcm.rate)) * size_t(pcm.channels));
    std::fill(pcm.samples.begin() + long(std::min(from, to)), pcm.samples.begin() + long(to), int16_t(0));
}

void mixAt(Pcm& pcm, const Pcm& part, double start)
{
    pcm.mixIn(part, size_t(std::lround(start * pcm.rate)));
}

}  // namespace testkit
