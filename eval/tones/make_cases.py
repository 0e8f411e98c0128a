#!/usr/bin/env python3
"""Builds the command cases of the tone-command evaluation.

Each case is a short WAV file (44100 Hz, 16-bit stereo): one second of bed, one command of the
default frequency table dialled at 100 ms on / 100 ms off (the set speed 5), and 1.5 s of bed
after it. The conditions:
  - over silence at falling levels per tone (-10 .. -45 dBFS; a full-scale sine is 0 dBFS);
  - over speech and music beds whose RMS is +10, 0 and -10 dB against the tones' RMS
    (tones at -20 dBFS each);
  - tones off their frequencies by +-1.5 % and +-3.5 %;
  - the high tone 6 dB louder or softer than the low one (twist).
Writes OUT/<condition>/<n>.wav and OUT/cases.json with the truth of every file.

Beds are read from raw 44100 Hz mono 16-bit files (SPEECH, MUSIC), cut at random places.
"""
import argparse
import array
import json
import math
import os
import random
import wave

RATE = 44100
DTMF = {
    '1': (697, 1209), '2': (697, 1336), '3': (697, 1477), 'A': (697, 1633),
    '4': (770, 1209), '5': (770, 1336), '6': (770, 1477), 'B': (770, 1633),
    '7': (852, 1209), '8': (852, 1336), '9': (852, 1477), 'C': (852, 1633),
    '*': (941, 1209), '0': (941, 1336), '#': (941, 1477), 'D': (941, 1633),
}
# Eight commands of four symbols: every symbol of the table, repeated symbols among them.
COMMANDS = ['159#', '26A0', '348*', '7BCD', '2580', '0011', '963A', '*#D7']
ON, OFF = 0.100, 0.100
LEAD, TAIL = 1.0, 1.5


def tones(command, level_db, twist_db=0.0, error=0.0):
    """The command's tones, as floats in sample units."""
    low_amp = 32767 * 10 ** (level_db / 20)
    high_amp = 32767 * 10 ** ((level_db + twist_db) / 20)
    out = []
    for i, symbol in enumerate(command):
        low, high = DTMF[symbol]
        w1 = 2 * math.pi * low * (1 + error) / RATE
        w2 = 2 * math.pi * high * (1 + error) / RATE
        out.extend(low_amp * math.sin(w1 * n) + high_amp * math.sin(w2 * n) for n in range(int(ON * RATE)))
        if i + 1 < len(command):
            out.extend([0.0] * int(OFF * RATE))
    return out


def rms(values):
    return math.sqrt(sum(v * v for v in values) / max(len(values), 1))


class Bed:
    def __init__(self, path):
        self.samples = array.array('h')
        with open(path, 'rb') as f:
            self.samples.frombytes(f.read())

    def cut(self, rng, count):
        start = rng.randrange(0, len(self.samples) - count)
        return [float(v) for v in self.samples[start:start + count]]


def write(path, values):
    frames = array.array('h')
    for v in values:
        s = max(-32768, min(32767, int(round(v))))
        frames.append(s)
        frames.append(s)
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(frames.tobytes())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    parser.add_argument('--speech', required=True, help='raw 44100 Hz mono s16 speech')
    parser.add_argument('--music', required=True, help='raw 44100 Hz mono s16 music')
    args = parser.parse_args()
    rng = random.Random(19)
    beds = {'speech': Bed(args.speech), 'music': Bed(args.music)}

    conditions = []
    for level in (-10, -20, -25, -30, -35, -40, -45):
        conditions.append(('silence%+d' % level, dict(level_db=level), None, 0))
    for bed in ('speech', 'music'):
        for relative in (10, 0, -10):
            conditions.append(('%s%+d' % (bed, relative), dict(level_db=-20), bed, relative))
    for error in (0.015, -0.015, 0.035, -0.035):
        conditions.append(('error%+.1f' % (100 * error), dict(level_db=-20, error=error), None, 0))
    for twist in (6, -6):
        conditions.append(('twist%+d' % twist, dict(level_db=-20, twist_db=twist), None, 0))

    truth = []
    for name, tone_args, bed, relative in conditions:
        folder = os.path.join(args.out, name)
        os.makedirs(folder, exist_ok=True)
        for n, command in enumerate(COMMANDS):
            signal = tones(command, **tone_args)
            lead, tail = int(LEAD * RATE), int(TAIL * RATE)
            total = [0.0] * lead + signal + [0.0] * tail
            if bed:
                under = beds[bed].cut(rng, len(total))
                scale = rms([v for v in signal if v != 0]) * 10 ** (relative / 20) / max(rms(under), 1e-9)
                total = [t + scale * u for t, u in zip(total, under)]
            path = os.path.join(folder, '%d.wav' % n)
            write(path, total)
            last_start = LEAD + (len(command) - 1) * (ON + OFF)
            truth.append(dict(condition=name, file=path, command=command,
                              last_start=last_start, last_end=last_start + ON))
    with open(os.path.join(args.out, 'cases.json'), 'w') as f:
        json.dump(dict(commands=COMMANDS, cases=truth), f, indent=1)


if __name__ == '__main__':
    main()
