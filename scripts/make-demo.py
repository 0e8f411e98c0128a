#!/usr/bin/env python3
"""Writes a demo broadcast and a sample list that ondrix-scan finds in it.

    scripts/make-demo.py [FOLDER]        (default: demo/)

FOLDER receives:
  jingle.wav     a 1.5 s jingle of changing high tones (44100 Hz stereo)
  broadcast.wav  60 s of programme: the jingle at 10 s and at 40 s, the DTMF cue "159" at 25 s,
                 three seconds of dead air from 50 s
  Samples.ini    three samples: the jingle, the cue (1,5,9 at 5 symbols a second) and dead air
                 (below -50 dB for 2 s)

Then:
    build/bin/ondrix-scan --samples demo/Samples.ini --freq build/bin/Ini_Def/Freq.ini demo/broadcast.wav

Only the Python standard library is used; the output is the same on every run.
"""

import math
import os
import random
import struct
import sys
import wave

RATE = 44100

DTMF = {
    '1': (697, 1209), '2': (697, 1336), '3': (697, 1477), 'A': (697, 1633),
    '4': (770, 1209), '5': (770, 1336), '6': (770, 1477), 'B': (770, 1633),
    '7': (852, 1209), '8': (852, 1336), '9': (852, 1477), 'C': (852, 1633),
    '*': (941, 1209), '0': (941, 1336), '#': (941, 1477), 'D': (941, 1633),
}


def tones(seconds, freqs, amplitude):
    """Mono samples (floats, full scale 1.0) of a sum of sines."""
    count = int(round(seconds * RATE))
    step = [2 * math.pi * f / RATE for f in freqs]
    return [amplitude * sum(math.sin(s * i) for s in step) for i in range(count)]


def jingle():
    # Two tones at a time, between 4 and 10.5 kHz, changing every eighth of a second.
    rng = random.Random(7)
    out = []
    for _ in range(12):
        low = 4000 + 100 * rng.randint(0, 30)
        high = low + 1000 + 100 * rng.randint(0, 35)
        out += tones(0.125, [low, high], 0.3)
    return out


def programme(seconds):
    # Low notes and a few between 2 and 3.5 kHz: nothing that dials or sounds like the jingle.
    pitches = [110, 147, 196, 220, 262, 294, 330, 392, 440, 494, 523, 587,
               2093, 2349, 2637, 2794, 3136, 3322]
    rng = random.Random(1)
    out = []
    for _ in range(int(round(seconds / 0.25))):
        out += tones(0.25, [rng.choice(pitches), rng.choice(pitches)], 0.15)
    return out


def dtmf(symbols, tone_seconds=0.12, pause_seconds=0.06):
    out = []
    for i, symbol in enumerate(symbols):
        out += tones(tone_seconds, DTMF[symbol], 0.25)
        if i + 1 < len(symbols):
            out += [0.0] * int(round(pause_seconds * RATE))
    return out


def mix(into, part, at_seconds):
    start = int(round(at_seconds * RATE))
    for i, value in enumerate(part):
        into[start + i] += value


def write_wav(path, samples):
    frames = bytearray()
    for value in samples:
        s = max(-32768, min(32767, int(value * 32767)))
        frames += struct.pack('<hh', s, s)
    with wave.open(path, 'wb') as out:
        out.setnchannels(2)
        out.setsampwidth(2)
        out.setframerate(RATE)
        out.writeframes(bytes(frames))


def sample_list(jingle_path):
    records = [
        ['Description=Jingle', 'Number=0', 'Type=File', 'Sense=50', 'SampleWait=0',
         'AutoDisable=FALSE', 'AutoStart=TRUE', 'UseLowFreq=FALSE', 'SignalMode=Left',
         'Path=' + jingle_path, 'Precision=2', 'Method=Robust', 'FileExecute='],
        ['Description=Cue', 'Number=1', 'Type=Command', 'Sense=50', 'SampleWait=0',
         'AutoDisable=FALSE', 'AutoStart=TRUE', 'UseLowFreq=FALSE', 'SignalMode=Left',
         'Command=1,5,9', 'CommandSpeed=5', 'Method=Spectral', 'FileExecute='],
        ['Description=Dead air', 'Number=2', 'Type=Silence', 'Sense=50', 'SampleWait=0',
         'AutoDisable=FALSE', 'AutoStart=TRUE', 'UseLowFreq=FALSE', 'SignalMode=Left',
         'SignalTime=2', 'SignaldB=-50', 'FileExecute='],
    ]
    lines = ['[Samples]']
    for i, record in enumerate(records):
        if i:
            lines.append('')
        lines += record
    return '\r\n'.join(lines) + '\r\n'


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else 'demo'
    os.makedirs(folder, exist_ok=True)
    jingle_path = os.path.abspath(os.path.join(folder, 'jingle.wav'))
    clip = jingle()
    write_wav(jingle_path, clip)

    broadcast = programme(60.0)
    mix(broadcast, clip, 10.0)
    mix(broadcast, clip, 40.0)
    mix(broadcast, dtmf('159'), 25.0)
    start, end = int(50.0 * RATE), int(53.0 * RATE)
    broadcast[start:end] = [0.0] * (end - start)
    write_wav(os.path.join(folder, 'broadcast.wav'), broadcast)

    with open(os.path.join(folder, 'Samples.ini'), 'w', encoding='utf-8', newline='') as out:
        out.write(sample_list(jingle_path))
    print('Wrote %s/jingle.wav, %s/broadcast.wav and %s/Samples.ini' % (folder, folder, folder))


if __name__ == '__main__':
    main()
