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

std::pair<double, double> dtmfTones(char symbol)
{
    static const std::map<char, std::pair<double, double>> tones = {
        {'1', {697, 1209}}, {'2', {697, 1336}}, {'3', {697, 1477}}, {'A', {697, 1633}},
        {'4', {770, 1209}}, {'5', {770, 1336}}, {'6', {770, 1477}}, {'B', {770, 1633}},
        {'7', {852, 1209}}, {'8', {852, 1336}}, {'9', {852, 1477}}, {'C', {852, 1633}},
        {'*', {941, 1209}}, {'0', {941, 1336}}, {'#', {941, 1477}}, {'D', {941, 1633}},
    };
    const auto it = tones.find(symbol);
    if (it == tones.end())
        throw std::invalid_argument(std::string("not a DTMF symbol: ") + symbol);
    return it->second;
}

Pcm makeDtmf(const std::string& symbols, double toneSeconds, double pauseSeconds, double amplitude)
{
    Pcm pcm;
    for (size_t i = 0; i < symbols.size(); ++i) {
        const auto [low, high] = dtmfTones(symbols[i]);
        appendSines(pcm, toneSeconds, {low, high}, amplitude);
        if (i + 1 < symbols.size())
            pcm.appendSilence(pauseSeconds);
    }
    return pcm;
}

Pcm makeDtmfSent(const std::string& symbols, double onSeconds, double offSeconds, double levelDb, double twistDb,
                 double error)
{
    const double low = std::pow(10.0, levelDb / 20.0);
    const double high = std::pow(10.0, (levelDb + twistDb) / 20.0);
    Pcm pcm;
    for (size_t i = 0; i < symbols.size(); ++i) {
        const auto [lowHz, highHz] = dtmfTones(symbols[i]);
        const double f1 = lowHz * (1 + error), f2 = highHz * (1 + error);
        pcm.append(onSeconds, [&](int, size_t n) {
            const double t = double(n) / pcm.rate;
            const double v = low * std::sin(TwoPi * f1 * t) + high * std::sin(TwoPi * f2 * t);
            return static_cast<int16_t>(std::clamp(std::lround(v * 32767.0), -32768L, 32767L));
        });
        if (i + 1 < symbols.size())
            pcm.appendSilence(offSeconds);
    }
    return pcm;
}

namespace {

// Scales every sample so that the RMS of the frames that are not silent is rmsDb dBFS.
void scaleTo(std::vector<double>& signal, double rmsDb)
{
    double sum = 0;
    size_t count = 0;
    for (double v : signal)
        if (v != 0) {
            sum += v * v;
            ++count;
        }
    if (count == 0)
        return;
    const double factor = std::pow(10.0, rmsDb / 20.0) * 32767.0 / std::sqrt(sum / double(count));
    for (double& v : signal)
        v *= factor;
}

Pcm toPcm(const std::vector<double>& signal)
{
    Pcm pcm;
    pcm.samples.reserve(signal.size() * 2);
    for (double v : signal) {
        const auto s = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
        pcm.samples.push_back(s);
        pcm.samples.push_back(s);
    }
    return pcm;
}

}  // namespace

Pcm makeSpeechLike(double seconds, unsigned seed, double rmsDb, double lowF0)
{
    constexpr int rate = 44100;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const auto between = [&](double a, double b) { return a + (b - a) * unit(random); };
    std::normal_distribution<double> noise(0.0, 1.0);
    std::vector<double> signal(size_t(seconds * rate), 0.0);
    size_t at = 0;
    double f0 = between(lowF0, 1.6 * lowF0);
    while (at < signal.size()) {
        // A pause or a noisy consonant now and then.
        if (unit(random) < 0.25) {
            const size_t length = size_t(between(0.04, 0.15) * rate);
            const bool fricative = unit(random) < 0.5;
            double last = 0;
            for (size_t n = 0; n < length && at < signal.size(); ++n, ++at)
                if (fricative) {
                    const double white = noise(random);
                    signal[at] = 0.15 * (white - last);  // tilted towards high frequencies
                    last = white;
                }
            continue;
        }
        // A voiced syllable: the fundamental glides to a new target and wavers; three formants
        // move from one vowel to the next.
        const size_t length = size_t(between(0.12, 0.35) * rate);
        const double f0Target = std::clamp(f0 * between(0.8, 1.25), lowF0, 2.2 * lowF0);
        const double formantsFrom[3] = {between(300, 800), between(900, 2300), between(2400, 3200)};
        const double formantsTo[3] = {between(300, 800), between(900, 2300), between(2400, 3200)};
        const double waverRate = between(3, 7);
        std::vector<double> phases(64, 0.0), gains(64, 0.0);
        for (size_t n = 0; n < length && at < signal.size(); ++n, ++at) {
            const double x = double(n) / double(length);
            const double pitch = (f0 + (f0Target - f0) * x) * (1 + 0.01 * std::sin(TwoPi * waverRate * double(n) / rate));
            const double envelope = std::sin(std::acos(-1.0) * x);
            // The formants move slowly: their gains are taken every 32 samples.
            const bool newGains = n % 32 == 0;
            double v = 0;
            for (size_t k = 1; k < phases.size() && double(k) * pitch < 5000; ++k) {
                phases[k] += TwoPi * double(k) * pitch / rate;
                if (newGains) {
                    const double f = double(k) * pitch;
                    double gain = 0;
                    for (int i = 0; i < 3; ++i) {
                        const double centre = formantsFrom[i] + (formantsTo[i] - formantsFrom[i]) * x;
                        const double width = 70.0 + 50.0 * i;
                        const double detune = (f - centre) / width;
                        gain += std::pow(0.5, i) / (1 + detune * detune);
                    }
                    // The voice's source falls by 6 dB an octave (with the lips' radiation).
                    gains[k] = gain / double(k);
                }
                v += gains[k] * std::sin(phases[k]);
            }
            signal[at] = envelope * v;
        }
        f0 = f0Target;
    }
    scaleTo(signal, rmsDb);
    return toPcm(signal);
}

Pcm makeMusicLike(double seconds, unsigned seed, double rmsDb)
{
    constexpr int rate = 44100;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<int> semitone(-24, 24);
    std::vector<double> signal(size_t(seconds * rate), 0.0);
    size_t at = 0;
    while (at < signal.size()) {
        const size_t length = size_t((0.2 + 0.6 * unit(random)) * rate);
        // Notes around 440 Hz on the equal-tempered scale, a bass two octaves down.
        std::vector<double> notes{440.0 * std::pow(2.0, (semitone(random) - 24) / 12.0)};
        const int voices = 2 + int(unit(random) * 3);
        for (int i = 0; i < voices; ++i)
            notes.push_back(440.0 * std::pow(2.0, semitone(random) / 12.0));
        std::vector<double> phases(notes.size() * 8, 0.0);
        for (size_t n = 0; n < length && at < signal.size(); ++n, ++at) {
            const double t = double(n) / rate;
            const double vibrato = 1 + 0.004 * std::sin(TwoPi * 5.5 * t);
            const double envelope = std::exp(-2.0 * t) * std::min(1.0, t / 0.01);
            double v = 0;
            for (size_t i = 0; i < notes.size(); ++i)
                for (size_t k = 1; k <= 8; ++k) {
                    double& phase = phases[i * 8 + k - 1];
                    phase += TwoPi * double(k) * notes[i] * vibrato / rate;
                    v += std::sin(phase) / double(k);
                }
            signal[at] = envelope * v;
        }
    }
    scaleTo(signal, rmsDb);
    return toPcm(signal);
}

Pcm makeVowel(double f0, const std::vector<double>& amplitudes, double seconds)
{
    constexpr int rate = 44100;
    Pcm pcm;
    const auto frames = size_t(seconds * rate);
    pcm.append(seconds, [&](int, size_t n) {
        const double t = double(n) / rate;
        const double edge = std::min({1.0, t / 0.01, double(frames - n) / rate / 0.01});
        double v = 0;
        for (size_t k = 1; k <= amplitudes.size(); ++k)
            v += amplitudes[k - 1] * std::sin(TwoPi * double(k) * f0 * t);
        return static_cast<int16_t>(std::clamp(std::lround(edge * v * 32767), -32768L, 32767L));
    });
    return pcm;
}

void addBed(Pcm& pcm, const Pcm& bed, double relativeDb)
{
    if (bed.samples.empty())
        return;
    double sum = 0, bedSum = 0;
    size_t count = 0;
    for (int16_t v : pcm.samples)
        if (v != 0) {
            sum += double(v) * v;
            ++count;
        }
    for (int16_t v : bed.samples)
        bedSum += double(v) * v;
    if (count == 0 || bedSum == 0)
        return;
    const double rms = std::sqrt(sum / double(count));
    const double bedRms = std::sqrt(bedSum / double(bed.samples.size()));
    const double factor = rms * std::pow(10.0, relativeDb / 20.0) / bedRms;
    for (size_t i = 0; i < pcm.samples.size(); ++i) {
        const double v = pcm.samples[i] + factor * bed.samples[i % bed.samples.size()];
        pcm.samples[i] = static_cast<int16_t>(std::clamp(std::lround(v), -32768L, 32767L));
    }
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

Pcm playSquareChords(const std::vector<Note>& phrase, double amplitude)
{
    Pcm pcm;
    for (const Note& note : phrase) {
        pcm.append(note.seconds, [&](int, size_t i) {
            const double t = double(i) / pcm.rate;
            const double envelope = std::min(1.0, t / 0.004) * std::clamp((note.seconds - t) / 0.02, 0.0, 1.0);
            double v = 0;
            for (int h = 1; h <= 9; h += 2) {
                if (note.hz * 1.5 * h < pcm.rate / 2.0)
                    v += (std::sin(TwoPi * note.hz * h * t) + 0.6 * std::sin(TwoPi * note.hz * 1.5 * h * t)) / h;
            }
            return static_cast<int16_t>(std::clamp(amplitude * 0.5 * envelope * v * 32767.0, -32768.0, 32767.0));
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

Pcm makeNoiseFloor(double seconds, double rmsDb, unsigned seed)
{
    std::mt19937 random(seed);
    std::normal_distribution<double> white(0.0, 1.0);
    const double sigma = 32767.0 * std::pow(10.0, rmsDb / 20.0);
    Pcm pcm;
    pcm.append(seconds, [&](int, size_t) {
        return static_cast<int16_t>(std::lround(std::clamp(white(random), -3.0, 3.0) * sigma));
    });
    return pcm;
}

Pcm makeHum(double seconds, double hz, double rmsDb)
{
    const double amplitude = 32767.0 * std::pow(10.0, rmsDb / 20.0) * std::sqrt(2.0);
    const double pi = std::acos(-1.0);
    Pcm pcm;
    pcm.append(seconds, [&](int, size_t i) {
        return static_cast<int16_t>(std::lround(amplitude * std::sin(2 * pi * hz * double(i) / pcm.rate)));
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
