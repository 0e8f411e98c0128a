#!/usr/bin/env python3
"""Scores both command methods of ondrix-scan and multimon-ng on the same audio.

Cases (from make_cases.py): a command counts as found when the method reports it after its
last symbol began and at most 0.5 s after that symbol ended (multimon-ng, which prints no
times: when its symbols of the file hold the command's four symbols in a row). Any other
command reported in a case is a false command.

Programme (speech and music without commands): every symbol reported is a stray symbol (one
sample per symbol of the table); a command sample reported is a false command; and three or
more stray symbols each within the command gap of the one before (what a three-symbol command
at the set speed would accept) count as a possible false command.

Prints one summary line per method.
"""
import argparse
import collections
import json
import os
import subprocess
import sys

TABLE = '123A456B789C*0#D'
METHODS = ['Robust', 'Spectral']
SPEED = 5
# The gap a command slice allows at speed 5 with 2048-frame blocks (1250 div 5 + 47 ms).
MAX_GAP = (1250 // SPEED + 47) / 1000.0


def samples_ini(path, commands, singles):
    lines = ['[Samples]']
    number = 0
    for method in METHODS:
        items = [(c, ','.join(c)) for c in commands] + ([(s, s) for s in TABLE] if singles else [])
        for name, command in items:
            lines += ['Description=%s %s' % (method, name), 'Number=%d' % number, 'Type=Command',
                      'Sense=50', 'SampleWait=0', 'AutoDisable=FALSE', 'AutoStart=FALSE',
                      'UseLowFreq=FALSE', 'SignalMode=Add', 'Command=%s' % command,
                      'CommandSpeed=%d' % SPEED, 'Method=%s' % method, 'FileExecute=', '']
            number += 1
    with open(path, 'w', newline='\r\n') as f:
        f.write('\n'.join(lines) + '\n')


def parse_scan(text):
    """(seconds, method, name) of each detection line."""
    found = []
    for line in text.splitlines():
        parts = line.split('\t')
        if len(parts) >= 3:
            try:
                seconds = float(parts[-3])
            except ValueError:
                continue
            method, _, name = parts[-1].partition(' ')
            found.append((seconds, method, name))
    return found


def multimon_symbols(text):
    return ''.join(line.split(':', 1)[1].strip() for line in text.splitlines() if line.startswith('DTMF:'))


def run(command, **kwargs):
    return subprocess.run(command, shell=True, check=True, capture_output=True, text=True, **kwargs).stdout


def build_programme(out, files):
    """The programme files one after the other as one mono 44100 Hz WAV file, made once and
    made again when the list of files changes."""
    programme = os.path.join(out, 'programme.wav')
    listing = programme + '.files'
    wanted = '\n'.join(files) + '\n'
    if os.path.exists(programme) and os.path.exists(listing) and open(listing).read() == wanted:
        return programme
    quoted = ' '.join("'%s'" % f for f in files)
    run('for f in %s; do sox -q "$f" -t raw -r 44100 -c 1 -b 16 -e signed-integer -L -; done | '
        "sox -q -t raw -r 44100 -c 1 -b 16 -e signed-integer -L - '%s'" % (quoted, programme + '.part'))
    os.replace(programme + '.part', programme)
    with open(listing, 'w') as f:
        f.write(wanted)
    return programme


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--out', required=True)
    parser.add_argument('--scan', required=True, help='the ondrix-scan executable')
    parser.add_argument('--freq', required=True, help='the default Freq.ini')
    parser.add_argument('--programme', nargs='*', default=[], help='audio files without commands')
    args = parser.parse_args()
    with open(os.path.join(args.out, 'cases.json')) as f:
        cases = json.load(f)
    data = os.path.join(args.out, 'data')
    os.makedirs(data, exist_ok=True)
    case_samples = os.path.join(args.out, 'CaseSamples.ini')
    programme_samples = os.path.join(args.out, 'ProgrammeSamples.ini')
    samples_ini(case_samples, cases['commands'], singles=False)
    samples_ini(programme_samples, cases['commands'], singles=True)
    scan = '%s --samples %s --freq %s /Data=%s' % (args.scan, case_samples, args.freq, data)

    # Cases: found[method][condition] = count; false[method] = count.
    found = collections.defaultdict(collections.Counter)
    false = collections.Counter()
    totals = collections.Counter()
    for case in cases['cases']:
        condition, command = case['condition'], case['command']
        totals[condition] += 1
        for seconds, method, name in parse_scan(run('%s %s' % (scan, case['file']))):
            if name == command and case['last_start'] < seconds <= case['last_end'] + 0.5:
                found[method][condition] += 1
            else:
                false[method] += 1
        symbols = multimon_symbols(run('sox -q %s -t raw -r 22050 -c 1 -b 16 -e signed-integer - remix 1 | '
                                       'multimon-ng -q -c -a DTMF -t raw -' % case['file']))
        if command in symbols:
            found['multimon-ng'][condition] += 1
        false['multimon-ng'] += sum(1 for c in cases['commands'] if c != command and c in symbols)

    # Programme.
    hours = 0.0
    stray = collections.Counter()
    false_programme = collections.Counter()
    runs = collections.Counter()
    if args.programme:
        programme = build_programme(args.out, args.programme)
        hours = float(run("soxi -D '%s'" % programme)) / 3600
        scanned = run('%s --samples %s --freq %s /Data=%s %s' % (args.scan, programme_samples, args.freq, data, programme))
        with open(os.path.join(args.out, 'programme-scan.txt'), 'w') as f:
            f.write(scanned)
        detections = parse_scan(scanned)
        times = collections.defaultdict(list)
        for seconds, method, name in detections:
            if len(name) == 1:
                stray[method] += 1
                times[method].append(seconds)
            else:
                false_programme[method] += 1
        for method, moments in times.items():
            moments.sort()
            chain = 1
            for before, after in zip(moments, moments[1:]):
                chain = chain + 1 if after - before <= MAX_GAP else 1
                if chain == 3:
                    runs[method] += 1
        # multimon-ng's answer depends on the programme only: kept beside it.
        decoded_path = programme + '.multimon.txt'
        if not os.path.exists(decoded_path) or os.path.getmtime(decoded_path) < os.path.getmtime(programme):
            decoded = run("sox -q '%s' -t raw -r 22050 -c 1 -b 16 -e signed-integer - | "
                          "multimon-ng -q -c -a DTMF -t raw -" % programme)
            with open(decoded_path, 'w') as f:
                f.write(decoded)
        with open(decoded_path) as f:
            symbols = multimon_symbols(f.read())
        stray['multimon-ng'] = len(symbols)
        # multimon-ng prints no times: a false command is one of the commands in its symbols.
        false_programme['multimon-ng'] = sum(symbols.count(c) for c in cases['commands'])

    def share(method, names):
        return '%d/%d' % (sum(found[method][n] for n in names), sum(totals[n] for n in names))

    silence = ['silence%+d' % level for level in (-10, -20, -25, -30, -35)]
    for method in METHODS + ['multimon-ng']:
        parts = [
            'silence -10..-35 dBFS %s' % share(method, silence),
            '-40 %s' % share(method, ['silence-40']),
            '-45 %s' % share(method, ['silence-45']),
            'speech bed +10/0/-10 dB %s %s %s' % tuple(share(method, ['speech%+d' % r]) for r in (10, 0, -10)),
            'music bed +10/0/-10 dB %s %s %s' % tuple(share(method, ['music%+d' % r]) for r in (10, 0, -10)),
            '+-1.5 %% %s' % share(method, ['error+1.5', 'error-1.5']),
            '+-3.5 %% %s (found, should be 0)' % share(method, ['error+3.5', 'error-3.5']),
            '+-6 dB twist %s' % share(method, ['twist+6', 'twist-6']),
            'false commands in cases %d' % false[method],
        ]
        if args.programme:
            part = 'programme %.2f h: stray symbols %d, false commands %d' % (hours, stray[method], false_programme[method])
            if method in runs or method in METHODS:
                part += ', 3 stray symbols within the command gap %d' % runs[method]
            parts.append(part)
        print('%s: %s' % (method, '; '.join(parts)))
    sys.stdout.flush()


if __name__ == '__main__':
    main()
