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

Pcm makeClip(unsigned seed, double seconds, double step, int rate)
{
    Pcm pcm;
    pcm.rate = rate;
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

std::vector<Note> makePhrase(unsigned seed, int count, double noteSeconds)
{
    static const int majorSteps[] = {0, 2, 4, 5, 7, 9, 11};
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> degree(0, 13);
    std::vector<Note> phrase;
    int last = -1;
    for (int i = 0; i < count; ++i) {
        int d = degree(random);
        if (d == last)
            d = (d + 3) % 14;  // no note twice in a row
        last = d;
        const int semitones = 12 * (d / 7) + majorSteps[d % 7];
        phrase.push_back({220.0 * std::pow(2.0, semitones / 12.0), noteSeconds});
    }
    return phrase;
}

Pcm playPhrase(const std::vector<Note>& phrase, double amplitude, double pitch, double tempo)
{
    Pcm pcm;
    for (const Note& note : phrase) {
        const double hz = note.hz * pitch;
        const double seconds = note.seconds / tempo;
        pcm.append(seconds, [&](int, size_t i) {
            const double t = double(i) / pcm.rate;
            const double envelope = std::min(1.0, t / 0.005) * std::exp(-t * 4.0);
            double v = 0;
            for (int h = 1; h <= 6; ++h)
                if (hz * h < pcm.rate / 2.0)
                    v += std::sin(TwoPi * hz * h * t) / h;
            return static_cast<int16_t>(std::clamp(amplitude * 0.6 * envelope * v * 32767.0, -32768.0, 32767.0));
        });
    }
    return pcm;
}

Pcm makePinkNoise(double seconds, double amplitude, unsigned seed)
{
    // Paul Kellet's filter of white noise: within 0.05 dB of -3 dB per octave above 10 Hz.
    std::mt19937 random(seed);
    std::normal_distribution<double> white(0.0, 1.0);
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    Pcm pcm;
    pcm.append(seconds, [&](int channel, size_t) -> int16_t {
        if (channel != 0)
            return pcm.samples.back();  // the same on both channels
        const double w = white(random);
        b0 = 0.99886 * b0 + w * 0.0555179;
        b1 = 0.99332 * b1 + w * 0.0750759;
        b2 = 0.96900 * b2 + w * 0.1538520;
        b3 = 0.86650 * b3 + w * 0.3104856;
        b4 = 0.55000 * b4 + w * 0.5329522;
        b5 = -0.7616 * b5 - w * 0.0168980;
        const double pink = b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362;
        b6 = w * 0.115926;
        // The filter's output has an RMS of about 3 for white noise of RMS 1.
        return static_cast<int16_t>(std::clamp(pink / 3.0 * amplitude * 32767.0, -32768.0, 32767.0));
    });
    return pcm;
}

void gain(Pcm& pcm, double dB)
{
    const double factor = std::pow(10.0, dB / 20.0);
    for (int16_t& s : pcm.samples)
        s = static_cast<int16_t>(std::clamp(std::lround(s * factor), -32768L, 32767L));
}

}  // namespace testkit
