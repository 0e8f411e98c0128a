#!/usr/bin/env python3
"""Dead air on real programme: the silence sample by its block's peak, by its RMS, and ffmpeg.

Builds, under eval/out/silence/ (git-ignored), one programme of stretches: real recorded
sound (Ogg game music from colobot-common-sounds, speech from espeak-ng in several voices and
languages) at -20 dBFS RMS, and between them 8 s of each kind of dead air:
  - digital zero;
  - hiss at -70 dBFS RMS (white noise), a studio's 50 Hz hum at -60 dBFS RMS (with its
    harmonics), noise at -60 and -55 dBFS RMS (pink noise, an open channel's or an encoder's
    floor: its peaks stand some 10 dB over its RMS, so at -55 they reach above -50);
  - quiet music and quiet speech at -45 dBFS RMS, which are never dead air.
Every kind appears REPEAT times, each time after other material. Then scans the programme with
ondrix-scan (two silence samples of -50 dB held 3 s, once per episode: one measuring the peak,
one the RMS) and with ffmpeg -af silencedetect=noise=-50dB:d=3, and prints per kind how many of
its stretches each one found (a find within the stretch, from 3 s after its start to half a
second after its end), and the false finds elsewhere.

Run by hand (not part of the test suite), after building ondrix-scan:
    python3 eval/silence/evaluate.py [--build DIR] [--repeat 6]
Needs sox, espeak-ng, ffmpeg and colobot-common-sounds (apt-get install -y ...).
"""

import argparse
import array
import glob
import math
import os
import random
import re
import subprocess
import sys
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
OUT = os.path.join(ROOT, "eval", "out", "silence")
RATE = 44100
MUSIC = sorted(glob.glob("/usr/share/games/colobot/music/*.ogg"))
VOICES = ["en", "en-us", "ru", "de", "fr", "es"]
AIR_SECONDS = 8.0
PROGRAMME_SECONDS = 12.0
THRESHOLD_DB = -50
HOLD_SECONDS = 3
KINDS = [
    # name, dead air (True: should be found), how it is made
    ("digital zero", True),
    ("hiss -70 dBFS RMS", True),
    ("50 Hz hum -60 dBFS RMS", True),
    ("noise -60 dBFS RMS", True),
    ("noise -55 dBFS RMS", True),
    ("quiet music -45 dBFS RMS", False),
    ("quiet speech -45 dBFS RMS", False),
]


def sox(*args):
    subprocess.run(["sox", "-V1", *map(str, args)], check=True, stderr=subprocess.DEVNULL)


def path(name):
    p = os.path.join(OUT, name)
    os.makedirs(os.path.dirname(p), exist_ok=True)
    return p


def rms_db(wav):
    """RMS of a file in dBFS (a full-scale sine is -3), as sox's stat measures it."""
    out = subprocess.run(["sox", wav, "-n", "stat"], capture_output=True, text=True).stderr
    rms = float(re.search(r"RMS\s+amplitude:\s+([0-9.e-]+)", out).group(1))
    return -200.0 if rms <= 0 else 20 * math.log10(rms)


def at_level(src, dst, target_db):
    """Src as 16-bit stereo at RATE with its RMS set to target_db."""
    tmp = dst + ".tmp.wav"
    sox(src, "-r", RATE, "-c", 2, "-b", 16, tmp)
    sox(tmp, dst, "gain", "%.2f" % (target_db - rms_db(tmp)))
    os.remove(tmp)


def quietest_second_db(wav):
    """The RMS of the quietest second of a 16-bit file, in dBFS."""
    with wave.open(wav) as w:
        samples = array.array("h", w.readframes(w.getnframes()))
        step = w.getframerate() * w.getnchannels()
    worst = 0.0
    for i in range(0, len(samples) - step + 1, step):
        part = samples[i:i + step]
        rms = math.sqrt(sum(v * v for v in part) / len(part)) / 32768
        worst = min(worst, -200.0 if rms <= 0 else 20 * math.log10(rms))
    return worst


def music_excerpt(rng, index, target_db):
    """An excerpt of the music without a pause in it: no second of it more than 12 dB below its
    RMS (game music fades in and out; a real pause of the programme would be dead air too)."""
    cut = path("parts/music-%d-cut.wav" % index)
    for _ in range(50):
        src = MUSIC[rng.randrange(len(MUSIC))]
        length = float(subprocess.run(["soxi", "-D", src], capture_output=True, text=True).stdout)
        start = rng.uniform(0, max(0.0, length - PROGRAMME_SECONDS - 1))
        sox(src, "-r", RATE, "-c", 2, "-b", 16, cut, "trim", "%.2f" % start, PROGRAMME_SECONDS)
        level = rms_db(cut)
        if level >= -40 and quietest_second_db(cut) >= level - 12:
            break
    out = path("parts/music-%d.wav" % index)
    at_level(cut, out, target_db)
    return out


def speech_excerpt(rng, index, target_db):
    texts = {
        "en": "This is the morning programme. The traffic is slow on the ring road, and the weather stays dry until noon.",
        "en-us": "You are listening to the news at the top of the hour, followed by music until the evening show.",
        "ru": "Вы слушаете утренний эфир. На дорогах затруднения, погода сухая, вечером возможен дождь.",
        "de": "Hier ist das Morgenprogramm. Auf den Straßen ist viel Verkehr, das Wetter bleibt trocken.",
        "fr": "Vous écoutez le journal de midi. La circulation est dense et le temps reste sec jusqu'au soir.",
        "es": "Están escuchando el programa de la mañana. El tráfico es lento y el tiempo sigue seco.",
    }
    voice = VOICES[index % len(VOICES)]
    raw = path("parts/speech-%d-raw.wav" % index)
    subprocess.run(["espeak-ng", "-v", voice, "-s", str(rng.randint(150, 190)), "-w", raw, texts[voice]],
                   check=True)
    cut = path("parts/speech-%d-cut.wav" % index)
    # Without the silence espeak-ng leaves before and after the words, repeated to fill the
    # stretch: the pauses between sentences stay short, as a presenter's do.
    sox(raw, "-r", RATE, "-c", 2, "-b", 16, cut, "silence", 1, 0.05, "0.1%", "reverse", "silence", 1, 0.05, "0.1%",
        "reverse", "pad", 0, 0.4, "repeat", 6, "trim", 0, PROGRAMME_SECONDS)
    out = path("parts/speech-%d.wav" % index)
    at_level(cut, out, target_db)
    return out


def dead_air(rng, kind, index):
    out = path("parts/air-%d.wav" % index)
    tmp = out + ".gen.wav"
    common = ["-r", RATE, "-c", 2, "-b", 16]
    if kind == "digital zero":
        sox("-n", *common, out, "trim", 0, AIR_SECONDS)
        return out
    if kind.startswith("hiss"):
        sox("-n", *common, tmp, "synth", AIR_SECONDS, "whitenoise")
        at_level(tmp, out, -70)
    elif kind.startswith("50 Hz hum"):
        # The mains hum of a studio: 50 Hz with its odd harmonics.
        sox("-n", *common, tmp, "synth", AIR_SECONDS, "sine", 50, "synth", AIR_SECONDS, "sine", "mix", 150,
            "synth", AIR_SECONDS, "sine", "mix", 250)
        at_level(tmp, out, -60)
    elif kind.startswith("noise"):
        sox("-n", *common, tmp, "synth", AIR_SECONDS, "pinknoise")
        at_level(tmp, out, -60 if "-60" in kind else -55)
    else:
        make = music_excerpt if "music" in kind else speech_excerpt
        quiet = make(rng, 1000 + index, -45)
        sox(quiet, out, "trim", 0, AIR_SECONDS)
        return out
    os.remove(tmp)
    return out


def build(repeat):
    rng = random.Random(7)
    stretches = []  # (wav, kind or None)
    air = []
    for r in range(repeat):
        order = list(range(len(KINDS)))
        rng.shuffle(order)
        for k in order:
            n = len(stretches)
            make = music_excerpt if (n // 2) % 2 == 0 else speech_excerpt
            stretches.append((make(rng, n, -20), None))
            kind = KINDS[k][0]
            stretches.append((dead_air(rng, kind, n), kind))
    stretches.append((music_excerpt(rng, len(stretches), -20), None))
    programme = path("programme.wav")
    sox(*[w for w, _ in stretches], programme)
    t = 0.0
    for wav, kind in stretches:
        length = float(subprocess.run(["soxi", "-D", wav], capture_output=True, text=True).stdout)
        if kind:
            air.append((kind, t, t + length))
        t += length
    return programme, air, t


def sample_list():
    lines = ["[Samples]"]
    for number, (name, mode) in enumerate([("Peak", "Peak"), ("RMS", "RMS")]):
        if number:
            lines.append("")
        lines += ["Description=" + name, "Number=%d" % number, "Type=Silence", "Sense=50", "SampleWait=0",
                  "AutoDisable=FALSE", "AutoStart=TRUE", "UseLowFreq=FALSE", "SignalMode=Add",
                  "SignalTime=%d" % HOLD_SECONDS, "SignaldB=%d" % THRESHOLD_DB, "LevelMode=" + mode,
                  "AlarmOnce=TRUE", "RemindMinutes=0", "FileExecute="]
    p = path("Samples.ini")
    with open(p, "w", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")
    return p


def score(finds, air, total):
    """Per kind: stretches found; and finds outside every stretch."""
    found = {kind: 0 for kind, _ in KINDS}
    used = set()
    for kind, start, end in air:
        for i, t in enumerate(finds):
            # ffmpeg's start plus d lands a few milliseconds either side of start + d, and the
            # programme before may end a little early.
            if start + HOLD_SECONDS - 0.5 <= t <= end + 0.5:
                found[kind] += 1
                used.add(i)
                break
    false = sum(1 for i, t in enumerate(finds)
                if i not in used and not any(s <= t <= e + 0.5 for _, s, e in air))
    return found, false


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--repeat", type=int, default=6)
    args = parser.parse_args()
    if not MUSIC:
        sys.exit("colobot-common-sounds is not installed (apt-get install colobot-common-sounds)")
    programme, air, total = build(args.repeat)
    scan = subprocess.run([os.path.join(args.build, "bin", "ondrix-scan"), "--samples", sample_list(),
                           "--freq", os.path.join(args.build, "bin", "Ini_Def", "Freq.ini"), programme],
                          check=True, capture_output=True, text=True).stdout
    ours = {"1": [], "2": []}  # the numbers as shown, Number + 1
    for line in scan.splitlines():
        seconds, number, _ = line.split("\t", 2)
        ours[number].append(float(seconds))
    ff = subprocess.run(["ffmpeg", "-nostdin", "-hide_banner", "-i", programme, "-af",
                         "silencedetect=noise=%ddB:d=%d" % (THRESHOLD_DB, HOLD_SECONDS), "-f", "null", "-"],
                        capture_output=True, text=True).stderr
    # silencedetect reports the start; it has been found once it held for d seconds.
    ffmpeg = [float(m) + HOLD_SECONDS for m in re.findall(r"silence_start: ([0-9.]+)", ff)]
    results = [("Peak", score(ours["1"], air, total)), ("RMS", score(ours["2"], air, total)),
               ("ffmpeg silencedetect", score(ffmpeg, air, total))]
    print("%.1f minutes of programme, %d stretches of each kind of %.0f s" % (total / 60, args.repeat, AIR_SECONDS))
    print("| kind | should be found | " + " | ".join(name for name, _ in results) + " |")
    print("|---|---|" + "---|" * len(results))
    for kind, expected in KINDS:
        cells = ["%d/%d" % (r[0][kind], args.repeat) for _, r in results]
        print("| %s | %s | %s |" % (kind, "yes" if expected else "no", " | ".join(cells)))
    print("| finds outside the stretches | 0 | " + " | ".join(str(r[1]) for _, r in results) + " |")


if __name__ == "__main__":
    main()
