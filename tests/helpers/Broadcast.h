#pragma once
// A generated radio programme with known events, for end-to-end detection tests and
// benchmarks: a background of changing tones, clips mixed in at known times, DTMF commands,
// and stretches of digital silence.

#include <string>
#include <vector>

#include "helpers/TestFiles.h"

namespace testkit {

// A clip of distinctive tones between 4 and 12 kHz that changes every `step` seconds;
// different seeds give clips that do not match each other.
Pcm makeClip(unsigned seed, double seconds, double step = 0.25);

// DTMF symbols (0-9, *, #, A-D) of toneSeconds each, separated by pauseSeconds of silence.
Pcm makeDtmf(const std::string& symbols, double toneSeconds, double pauseSeconds, double amplitude = 0.25);

// Background programme: two tones at a time, away from the DTMF frequencies and from the clips'
// band, changing every quarter second.
Pcm makeProgramme(double seconds, unsigned seed = 1);

// Replaces the frames from `start` for `seconds` with digital silence.
void silence(Pcm& pcm, double start, double seconds);

// Mixes `part` into `pcm` starting at `start` seconds.
void mixAt(Pcm& pcm, const Pcm& part, double start);

}  // namespace testkit
