#pragma once
// A generated radio programme with known events, for end-to-end detection tests and
// benchmarks: a background of changing tones, clips mixed in at known times, DTMF commands,
// and stretches of digital silence.

#include <string>
#include <utility>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

// A clip of distinctive tones between 4 and 12 kHz that changes every `step` seconds;
// different seeds give clips that do not match each other. `rate` records the same clip at
// another sample rate.
Pcm makeClip(unsigned seed, double seconds, double step = 0.25, int rate = 44100);

// DTMF symbols (0-9, *, #, A-D) of toneSeconds each, separated by pauseSeconds of silence.
Pcm makeDtmf(const std::string& symbols, double toneSeconds, double pauseSeconds, double amplitude = 0.25);

// The low and high tone of a DTMF symbol (0-9, *, #, A-D) in Hz; throws for any other.
std::pair<double, double> dtmfTones(char symbol);

// DTMF as real senders vary it: each symbol's two tones for onSeconds, offSeconds of silence
// between symbols; the low tone at levelDb dBFS (a full-scale sine is 0 dBFS), the high one
// twistDb louder, both off their frequency by the share `error` (0.015: 1.5 % high).
Pcm makeDtmfSent(const std::string& symbols, double onSeconds, double offSeconds, double levelDb,
                 double twistDb = 0, double error = 0);

// Speech-like sound: voiced syllables whose fundamental (between lowF0 and 2.2 * lowF0 Hz)
// glides and wavers, with harmonics up to 5 kHz shaped by moving formants, a few noisy
// consonants and short pauses; its RMS is rmsDb dBFS over the voiced parts.
Pcm makeSpeechLike(double seconds, unsigned seed, double rmsDb, double lowF0 = 90);

// Music-like sound: chords of two to four equal-tempered notes with harmonics and vibrato over
// a bass note, changing every 0.2 to 0.8 s; its RMS is about rmsDb dBFS.
Pcm makeMusicLike(double seconds, unsigned seed, double rmsDb);

// A held voiced sound: harmonic k of f0 at amplitudes[k - 1] (a fraction of full scale), for
// `seconds`, rising and falling in 10 ms.
Pcm makeVowel(double f0, const std::vector<double>& amplitudes, double seconds);

// Adds `bed` under `pcm` (repeated or cut to its length), scaled so that the bed's RMS is
// relativeDb above the RMS of pcm's sounding frames.
void addBed(Pcm& pcm, const Pcm& bed, double relativeDb);

// Background programme: two tones at a time, away from the DTMF frequencies and from the clips'
// band, changing every quarter second.
Pcm makeProgramme(double seconds, unsigned seed = 1);

// Replaces the frames from `start` for `seconds` with digital silence.
void silence(Pcm& pcm, double start, double seconds);

// Mixes `part` into `pcm` starting at `start` seconds.
void mixAt(Pcm& pcm, const Pcm& part, double start);

// One note of a phrase: pitch and length.
struct Note {
    double hz;
    double seconds;
};
// A phrase of `count` notes of `noteSeconds` each, drawn from two octaves of a major scale
// above 220 Hz; different seeds give different phrases of the same instrument.
std::vector<Note> makePhrase(unsigned seed, int count, double noteSeconds);
// Plays a phrase on a plucked instrument (six harmonics, quick attack, decaying), at
// `pitch` times its pitches and `tempo` times its speed (0.92: slower, every note longer).
Pcm playPhrase(const std::vector<Note>& phrase, double amplitude = 0.3, double pitch = 1.0, double tempo = 1.0);
// Plays a phrase as a synthesiser's jingle does: each note a chord of two square-like voices
// a fifth apart (odd harmonics), held flat and cut off in 20 ms.
Pcm playSquareChords(const std::vector<Note>& phrase, double amplitude = 0.3);
// Pink noise (equal energy per octave) of about `amplitude` RMS as a fraction of full scale.
Pcm makePinkNoise(double seconds, double amplitude, unsigned seed = 1);
// Dead air that is not digital zero. A noise floor: white noise of `rmsDb` dBFS RMS (a
// full-scale sine is -3 dBFS RMS), independent on each channel, its peaks limited to three
// times its RMS (9.5 dB above it, as an analogue channel's hiss). Hum: a sine of `hz` at
// `rmsDb` RMS, its peaks 3 dB above it.
Pcm makeNoiseFloor(double seconds, double rmsDb, unsigned seed = 1);
Pcm makeHum(double seconds, double hz, double rmsDb);
// Changes the level of every sample by `dB`, clipping at full scale.
void gain(Pcm& pcm, double dB);

}  // namespace testkit
