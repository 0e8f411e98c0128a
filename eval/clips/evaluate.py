#!/usr/bin/env python3
"""Clip recognition on realistic programme, for both clip matchers.

Builds, under eval/out/clips/ (git-ignored):
  - music from a Debian package (colobot-common-sounds: about an hour of Ogg game music) and
    speech from espeak-ng in several voices and languages;
  - 12 jingles of 1-5 s made here (plucked, bowed, square and bell-like instruments, some with a
    spoken station name), each mastered to -1 dBFS, and three decoys of each: another phrase of
    the same instrument, the jingle at 92 % tempo, the jingle one semitone higher;
  - programme A: every jingle at -12, -6, 0 and +6 dB against its file level, each over a bed of
    music or speech 10 dB below it (RMS where the jingle plays), and every decoy once; scanned
    as it is, through an MP3 128 kbit/s chain and through a 48 kHz resample chain;
  - programme B: at least 5 hours of music and speech without jingles (the music in several
    variants: as it is, faster, lower, quieter), streamed to the scanner.
Then runs ondrix-scan once per programme with every jingle twice in the sample list (once per
matcher) and prints one summary line per matcher: recall, decoys taken, false detections per
hour, and when each jingle was reported relative to its end.

Run by hand (not part of the test suite), after building ondrix-scan:
    python3 eval/clips/evaluate.py [--build DIR] [--hours 5]
Needs sox, lame, espeak-ng and colobot-common-sounds (apt-get install -y ...).
"""

import argparse
import array
import glob
import math
import os
import random
import shutil
import subprocess
import sys
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUT = os.path.join(ROOT, "eval", "out", "clips")
RATE = 44100
MUSIC = sorted(glob.glob("/usr/share/games/colobot/music/*.ogg"))
LEVELS = [-12, -6, 0, 6]
SLOT = 20.0          # seconds of programme per inserted jingle or decoy
INSERT_AT = 7.0      # where in its slot a jingle starts
BLOCK = 2048 / RATE  # one analysis block
MIN_BED_DB = -35     # the quietest stretch of music or speech taken for a bed (RMS, dBFS)


def run(args, **kw):
    subprocess.run(args, check=True, **kw)


def sox(*args):
    run(["sox", "-V1", *map(str, args)], stderr=subprocess.DEVNULL)


def path(*parts):
    p = os.path.join(OUT, *parts)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    return p


def write_wav(name, samples):
    """Writes mono float samples (-1..1) as a 16-bit stereo WAV at RATE."""
    data = array.array("h")
    for s in samples:
        v = max(-32768, min(32767, int(round(s * 32767))))
        data.append(v)
        data.append(v)
    with wave.open(name, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(data.tobytes())


def duration(name):
    return float(subprocess.run(["soxi", "-D", name], check=True, capture_output=True, text=True).stdout)


def rms_db(name, start=0.0, seconds=None):
    trim = ["trim", str(start), str(seconds)] if seconds else []
    out = subprocess.run(["sox", name, "-n", *trim, "stats"], check=True, capture_output=True, text=True).stderr
    for line in out.splitlines():
        if line.startswith("RMS lev dB"):
            return float(line.split()[3])  # "-inf" for digital silence
    raise RuntimeError("no RMS for " + name)


# ---- Material ----

def music_files():
    if not MUSIC:
        sys.exit("no music: apt-get install -y colobot-common-sounds")
    files = []
    for i, ogg in enumerate(MUSIC):
        wav = path("music", "%02d.wav" % i)
        if not os.path.exists(wav):
            sox(ogg, "-r", RATE, "-c", 2, "-b", 16, wav)
        files.append(wav)
    return files


SENTENCES = [
    "Good morning, this is the news at eight. The weather stays dry with light winds from the west.",
    "Traffic is heavy on the ring road this morning, drivers should allow extra time.",
    "And now a look at the markets, where shares rose slightly in early trading.",
    "Our guest today has written three books about the history of the city's harbour.",
    "Call us now with your questions, the lines are open until ten o'clock.",
    "The concert in the park has been moved to Saturday because of the rain.",
    "Guten Morgen, hier sind die Nachrichten. Das Wetter bleibt trocken und mild.",
    "Bonjour, voici les informations. Il fera beau sur toute la région cet apres-midi.",
    "Доброе утро, в эфире новости. Сегодня в городе без осадков, ветер слабый.",
    "Buenos dias, son las ocho. El tiempo sera soleado en la costa y fresco en el interior.",
    "Thanks for listening, stay with us for more music after the break.",
    "The council meets tonight to discuss the new bridge and the bus timetable.",
]
VOICES = ["en-us", "en-gb", "de", "fr", "ru", "es", "en-gb-scotland", "en-us+f3", "en+m3"]


def speech_files():
    files = []
    for i in range(6):
        wav = path("speech", "%02d.wav" % i)
        if not os.path.exists(wav):
            parts = []
            rnd = random.Random(100 + i)
            for k in range(14):
                text = rnd.choice(SENTENCES)
                voice = rnd.choice(VOICES)
                if text[0] in "Д":
                    voice = "ru"
                raw = path("speech", "part.wav")
                run(["espeak-ng", "-v", voice, "-s", str(rnd.randint(140, 190)), "-w", raw, text])
                part = path("speech", "part%02d.wav" % k)
                sox(raw, "-r", RATE, "-c", 2, "-b", 16, part, "pad", 0, rnd.uniform(0.2, 0.8))
                parts.append(part)
            sox(*parts, wav, "gain", "-n", -3)
        files.append(wav)
    return files


# ---- Jingles and decoys ----

def instrument(kind, hz, t, length):
    """One sample of a note of `kind` at time t into it."""
    attack = min(1.0, t / 0.004)
    if kind == "pluck":
        env = attack * math.exp(-t * 5)
        return env * sum(math.sin(2 * math.pi * hz * h * t) / h for h in range(1, 7))
    if kind == "bell":
        env = attack * math.exp(-t * 3)
        return env * (math.sin(2 * math.pi * hz * t) + 0.6 * math.sin(2 * math.pi * hz * 2.76 * t)
                      + 0.3 * math.sin(2 * math.pi * hz * 5.4 * t))
    if kind == "square":
        env = attack * min(1.0, (length - t) / 0.02)
        return 0.5 * env * sum(math.sin(2 * math.pi * hz * h * t) / h for h in (1, 3, 5, 7, 9))
    # bowed: slow attack, steady
    env = min(1.0, t / 0.04) * min(1.0, (length - t) / 0.03)
    return env * (math.sin(2 * math.pi * hz * t) + 0.5 * math.sin(2 * math.pi * hz * 2 * t)
                  + 0.25 * math.sin(2 * math.pi * hz * 3 * t))


def phrase(seed, notes):
    rnd = random.Random(seed)
    steps = [0, 2, 4, 5, 7, 9, 11]
    out, last = [], -1
    for _ in range(notes):
        d = rnd.randrange(15)
        if d == last:
            d = (d + 4) % 15
        last = d
        out.append(220 * 2 ** ((12 * (d // 7) + steps[d % 7]) / 12))
    return out


def play(kind, pitches, note_seconds, chord=False):
    samples = []
    n = int(note_seconds * RATE)
    for hz in pitches:
        for i in range(n):
            t = i / RATE
            v = instrument(kind, hz, t, note_seconds)
            if chord:
                v += 0.6 * instrument(kind, hz * 1.5, t, note_seconds)
            samples.append(0.3 * v)
    samples.extend([0.0] * int(0.05 * RATE))
    return samples


JINGLES = [
    # instrument, notes, note length, chord, spoken tag
    ("pluck", 8, 0.15, False, None),
    ("bell", 6, 0.25, False, None),
    ("square", 10, 0.12, False, None),
    ("bowed", 5, 0.35, True, None),
    ("pluck", 12, 0.2, True, None),
    ("bell", 4, 0.3, True, "Radio Ondrix"),
    ("square", 16, 0.1, True, None),
    ("bowed", 8, 0.5, False, None),
    ("pluck", 6, 0.18, False, "the news"),
    ("bell", 14, 0.2, False, None),
    ("square", 7, 0.14, True, "traffic"),
    ("pluck", 20, 0.22, False, None),
]


def make_jingle(index, seed, out, tempo=None, pitch=None):
    kind, notes, note_seconds, chord, tag = JINGLES[index]
    raw = out + ".raw.wav"
    write_wav(raw, play(kind, phrase(seed, notes), note_seconds, chord))
    if tag:
        voice = path("jingles", "tag%02d.wav" % index)
        run(["espeak-ng", "-v", "en-us", "-s", "160", "-w", voice + ".22k.wav", tag])
        sox(voice + ".22k.wav", "-r", RATE, "-c", 2, "-b", 16, voice)
        mixed = out + ".mix.wav"
        sox("-m", raw, voice, mixed)
        os.replace(mixed, raw)
    effects = []
    if tempo:
        effects += ["tempo", tempo]
    if pitch:
        effects += ["pitch", pitch]
    # Mastered as a station would: peaks at -1 dBFS.
    sox(raw, out, *effects, "gain", "-n", -1)
    os.remove(raw)


def jingles_and_decoys():
    jingles, decoys = [], []
    for j in range(len(JINGLES)):
        name = path("jingles", "jingle%02d.wav" % j)
        if not os.path.exists(name):
            make_jingle(j, 1000 + j, name)
        jingles.append(name)
        for what, kw in (("phrase", dict(seed=5000 + j)), ("tempo92", dict(seed=1000 + j, tempo=0.92)),
                         ("semitone", dict(seed=1000 + j, pitch=100))):
            d = path("jingles", "decoy%02d-%s.wav" % (j, what))
            if not os.path.exists(d):
                make_jingle(j, kw.get("seed"), d, kw.get("tempo"), kw.get("pitch"))
            decoys.append((j, what, d))
    return jingles, decoys


# ---- Programmes ----

def programme_a(jingles, decoys, beds):
    """Jingles at every level and every decoy, each in a slot of its own over a bed."""
    out = path("A", "clean.wav")
    truth = path("A", "truth.txt")
    if os.path.exists(out) and os.path.exists(truth):
        return out, [line.split("\t") for line in open(truth).read().splitlines()]
    rnd = random.Random(7)
    events = [("jingle", j, lv, name) for j, name in enumerate(jingles) for lv in LEVELS]
    events += [("decoy:" + what, j, 0, name) for j, what, name in decoys]
    rnd.shuffle(events)
    slots, rows = [], []
    for k, (kind, j, level, clip) in enumerate(events):
        bed = rnd.choice(beds)
        start = rnd.uniform(0, max(0.0, duration(bed) - SLOT))
        clip_db = rms_db(clip) + level
        bed_cut = path("A", "bedcut.wav")
        sox(bed, bed_cut, "trim", start, SLOT)
        # The bed is set 10 dB below the clip where the clip plays. A stretch of (near)
        # silence there would be raised to a full-scale roar: another stretch is taken (drawn
        # apart, so that every other slot keeps its bed).
        retry = random.Random(1000 + k)
        while (bed_db := rms_db(bed_cut, INSERT_AT, duration(clip))) < MIN_BED_DB:
            bed = retry.choice(beds)
            sox(bed, bed_cut, "trim", retry.uniform(0, max(0.0, duration(bed) - SLOT)), SLOT)
        bed_gain = clip_db - 10 - bed_db
        slot = path("A", "slot%03d.wav" % k)
        # Both inputs at their own level (sox would otherwise halve each); what goes above
        # full scale is clipped, as a chain without a limiter would.
        sox("-m", "-v", 1, "|sox %s -p gain %.2f" % (bed_cut, bed_gain),
            "-v", 1, "|sox %s -p gain %.2f pad %.3f" % (clip, level, INSERT_AT), slot, "trim", 0, SLOT)
        slots.append(slot)
        at = k * SLOT + INSERT_AT
        rows.append([kind, str(j), str(level), "%.4f" % at, "%.4f" % (at + duration(clip))])
    sox(*slots, out)
    for s in slots:
        os.remove(s)
    with open(truth, "w") as f:
        f.write("\n".join("\t".join(r) for r in rows) + "\n")
    return out, rows


def chains(clean):
    """The clean programme through an MP3 128 kbit/s chain and a 48 kHz resample chain."""
    mp3 = path("A", "mp3.mp3")
    if not os.path.exists(mp3):
        run(["lame", "--quiet", "-b", "128", "--cbr", clean, mp3])
    r48 = path("A", "resample48k.wav")
    if not os.path.exists(r48):
        mid = path("A", "at48k.wav")
        sox(clean, "-r", 48000, mid)
        sox(mid, "-r", RATE, r48)
        os.remove(mid)
    return {"clean": clean, "mp3": mp3, "48k": r48}


def codec_delay():
    """How much later the MP3 chain plays a sound than it was: found from a click."""
    click = path("delay", "click.wav")
    write_wav(click, [0.0] * RATE + [0.9] * 8 + [0.0] * RATE)
    mp3 = path("delay", "click.mp3")
    run(["lame", "--quiet", "-b", "128", "--cbr", click, mp3])
    back = path("delay", "back.wav")
    # sox reads MP3 only with an extra format package; lame decodes its own files.
    run(["lame", "--quiet", "--decode", mp3, back])
    with wave.open(back) as w:
        frames = array.array("h", w.readframes(w.getnframes()))
    first = next(i for i, v in enumerate(frames) if abs(v) > 3000) // 2
    return (first - RATE) / RATE


def programme_b_command(hours, beds_music, beds_speech):
    """A sox command that plays `hours` of music and speech, no jingles, as raw PCM."""
    # Each pass over the music sounds different to a matcher (speed changes both tempo and
    # pitch); cheap effects only, so the hours stream at hundreds of times real time.
    variants = [[], ["speed", "1.04", "gain", "-3"], ["speed", "0.93", "gain", "-6"], ["speed", "0.97"],
                ["gain", "-12"], ["speed", "1.09", "gain", "-2"]]
    total, pieces, rnd = 0.0, [], random.Random(11)
    lengths = {b: duration(b) for b in beds_music + beds_speech}
    passes = 0
    while total < hours * 3600:
        effects = variants[passes % len(variants)]
        for m in rnd.sample(beds_music, len(beds_music)):
            pieces.append((m, effects))
            total += lengths[m]
            s = rnd.choice(beds_speech)
            pieces.append((s, []))
            total += lengths[s]
        passes += 1
    return pieces, total


def scan(scanner, samples, audio=None, pieces=None):
    args = [scanner, "--samples", samples, "--freq", path("Freq.ini")]
    if pieces is None:
        res = subprocess.run(args + [audio], capture_output=True, text=True)
        out = res.stdout
    else:
        proc = subprocess.Popen(args + ["-"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=False)
        for name, effects in pieces:
            sox_args = ["sox", "-V1", name, "-t", "raw", "-r", str(RATE), "-c", "2", "-b", "16", "-e", "signed",
                        "-", *effects, "rate", str(RATE)]
            subprocess.run(sox_args, check=True, stdout=proc.stdin)
        proc.stdin.close()
        out = proc.stdout.read().decode()
        proc.wait()
    hits = []
    for line in out.splitlines():
        parts = line.split("\t")
        if len(parts) >= 2:
            hits.append((float(parts[0]), int(parts[1]) - 1))
    return hits


def breakdown(results, jingles, chain_names):
    """One row per jingle: for each chain, one mark per level (+ found, . missed)."""
    for method in ("robust", "spectral"):
        cells = results[method]["cells"]
        print("%s: found per jingle, levels %s dB in each chain" % (method, "/".join(map(str, LEVELS))))
        print("  jingle  " + "  ".join("%-8s" % c for c in chain_names) + "  found")
        for j in range(jingles):
            marks = ["".join("+" if cells.get((j, lv, c)) else "." for lv in LEVELS) for c in chain_names]
            got = sum(1 for c in chain_names for lv in LEVELS if cells.get((j, lv, c)))
            print("  %6d  " % j + "  ".join("%-8s" % m for m in marks) + "  %d/%d" % (got, len(LEVELS) * len(chain_names)))
        per_level = ["%+d dB %d/%d" % (lv, sum(1 for (j, l, c), f in cells.items() if l == lv and f),
                                        sum(1 for (j, l, c) in cells if l == lv)) for lv in LEVELS]
        print("  per level: " + ", ".join(per_level))
        if results[method]["taken"]:
            print("  decoys taken: " + "; ".join(results[method]["taken"]))
        if results[method].get("false_b_at"):
            print("  false in the programme without jingles: " + "; ".join(results[method]["false_b_at"]))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--hours", type=float, default=5.0)
    ap.add_argument("--breakdown", action="store_true",
                    help="print, per matcher, which plays were found (jingle x level x chain) and the decoys taken")
    args = ap.parse_args()
    scanner = os.path.join(args.build, "bin", "ondrix-scan")
    if not os.path.exists(scanner):
        sys.exit("build ondrix-scan first: " + scanner)
    for tool in ("sox", "lame", "espeak-ng"):
        if not shutil.which(tool):
            sys.exit("missing %s: apt-get install -y %s" % (tool, tool))

    music = music_files()
    speech = speech_files()
    jingles, decoys = jingles_and_decoys()
    a, truth = programme_a(jingles, decoys, music + speech)
    programmes = chains(a)
    delay = codec_delay()

    # Every jingle twice: numbers 1.. for the landmark matcher, 101.. for the spectral one.
    samples = path("Samples.ini")
    lines = ["[Samples]"]
    for method, base in (("Robust", 0), ("Spectral", 100)):
        for j, name in enumerate(jingles):
            lines += ["", "Description=Jingle %d" % (j + 1), "Number=%d" % (base + j), "Type=File",
                      "Sense=50", "Path=%s" % name, "Method=%s" % method, "Precision=2", "SignalMode=Add"]
    open(samples, "w").write("\r\n".join(lines) + "\r\n")
    shutil.copy(os.path.join(ROOT, "resources", "Ini_Def", "Freq.ini"), path("Freq.ini"))

    results = {m: dict(hits=0, total=0, per_chain={}, decoys=0, false_a=0, late=[], false_b=0, cells={}, taken=[])
               for m in ("robust", "spectral")}
    jingle_rows = [r for r in truth if r[0] == "jingle"]
    decoy_rows = [r for r in truth if r[0].startswith("decoy")]
    for chain, audio in programmes.items():
        shift = delay if chain == "mp3" else 0.0
        found = scan(scanner, samples, audio)
        for method, base in (("robust", 0), ("spectral", 100)):
            r = results[method]
            mine = [(t - shift, n - base) for t, n in found if base <= n < base + len(jingles)]
            used = set()
            got = 0
            for kind, j, level, start, end in jingle_rows:
                j, start, end = int(j), float(start), float(end)
                match = [k for k, (t, n) in enumerate(mine) if n == j and end - 0.5 <= t <= end + 0.5 and k not in used]
                r["cells"][(j, int(level), chain)] = bool(match)
                if match:
                    used.add(match[0])
                    got += 1
                    r["late"].append(mine[match[0]][0] - end)
            r["hits"] += got
            r["total"] += len(jingle_rows)
            r["per_chain"][chain] = "%d/%d" % (got, len(jingle_rows))
            for k, (t, n) in enumerate(mine):
                if k in used:
                    continue
                decoy = [kind for kind, j, _, s, e in decoy_rows if int(j) == n and float(s) - 0.5 <= t <= float(e) + 1.0]
                if decoy:
                    r["decoys"] += 1
                    r["taken"].append("jingle %d %s (%s)" % (n, decoy[0], chain))
                else:
                    r["false_a"] += 1

    # --hours 0 leaves the long programme out (quicker, while trying a change on programme A).
    pieces, seconds = programme_b_command(args.hours, music, speech)
    found = scan(scanner, samples, pieces=pieces) if pieces else []
    for method, base in (("robust", 0), ("spectral", 100)):
        mine = [(t, n - base) for t, n in found if base <= n < base + len(jingles)]
        results[method]["false_b"] = len(mine)
        results[method]["false_b_at"] = ["jingle %d at %.3f s" % (n, t) for t, n in mine]

    hours_b = max(seconds / 3600, 1e-9)
    if args.breakdown:
        breakdown(results, len(jingles), list(programmes))
    for method in ("robust", "spectral"):
        r = results[method]
        late = r["late"]
        timing = ("reported %.3f..%.3f s after the clip's end (one block = %.3f s)" % (min(late), max(late), BLOCK)
                  if late else "no timing")
        print("%-8s: recall %d/%d (%.1f %%) [%s] at %s dB; decoys taken %d/%d; false %d in %.2f h of programme "
              "without jingles (%.2f/h), %d more in programme A; %s"
              % (method, r["hits"], r["total"], 100.0 * r["hits"] / max(1, r["total"]),
                 ", ".join("%s %s" % kv for kv in r["per_chain"].items()), "/".join(map(str, LEVELS)),
                 r["decoys"], len(decoy_rows) * len(programmes), r["false_b"], hours_b, r["false_b"] / hours_b,
                 r["false_a"], timing))


if __name__ == "__main__":
    main()
