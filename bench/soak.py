#!/usr/bin/python3
"""Soak run of the headless monitor on a continuous live feed.

    bench/soak.py [--minutes N] [--report-minutes M] [--build DIR]

Runs `ondrix --headless` on a temporary data folder with the benchmark's twelve samples (ten
Spectral clips, the DTMF command 1,5,9, dead air below -50 dB for 3 s) while a 65 s programme
(the ten clips from 2 s on every 5.5 s, the command at 57 s, 5 s of silence at the end) is played
in a loop, in real time, into the null sink of a private PulseAudio server. Every M minutes
(default 10) it prints the monitor's resident memory (VmRSS), its processor time (user + system)
and the detections counted from `ondrixctl listen`. After N minutes (default 60) it fails (exit
code 1) if the resident memory grew by more than 2 MB after the first interval, or if a sample
was found less often than the programme was played through (or more often, one extra allowed
for a pass cut by the end).

Nothing is built here: build `ondrix` and `ondrixctl` first (scripts/build.sh --target ondrix
ondrixctl). Needs pulseaudio, pactl, pacat and paplay (pulseaudio-utils).
"""

import argparse
import importlib.util
import os
import random
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CYCLE = 65.0  # seconds of programme per pass, the silence at its end included
CLIPS = 10
GROWTH_LIMIT_KB = 2048


def demo_generators():
    # The tone generators of the demo broadcast (scripts/make-demo.py), standard library only.
    spec = importlib.util.spec_from_file_location('make_demo', os.path.join(ROOT, 'scripts', 'make-demo.py'))
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def clip(demo, seed):
    # Like the benchmarks' clips: two tones 100 Hz apart on a grid, changing every 0.75 s, 3 s long.
    rng = random.Random(seed)
    out = []
    for _ in range(4):
        low = 4000 + 100 * rng.randint(0, 80)
        high = low + 3000 + 100 * (rng.randint(0, 80) % 40)
        out += demo.tones(0.75, [low, high], 0.3)
    return out


def record(lines):
    return lines + ['Sense=50', 'SampleWait=0', 'AutoDisable=FALSE', 'AutoStart=TRUE',
                    'UseLowFreq=FALSE', 'SignalMode=Left', 'FileExecute=']


def write_programme(folder):
    demo = demo_generators()
    broadcast = demo.programme(60.0)
    records = []
    for i in range(CLIPS):
        path = os.path.join(folder, 'clip%d.wav' % i)
        part = clip(demo, i + 1)
        demo.write_wav(path, part)
        demo.mix(broadcast, part, 2.0 + 5.5 * i)
        records.append(record(['Description=Clip %d' % (i + 1), 'Number=%d' % i, 'Type=File',
                               'Path=' + path, 'Precision=2', 'Method=Spectral']))
    demo.mix(broadcast, demo.dtmf('159'), 57.0)
    records.append(record(['Description=Cue', 'Number=%d' % CLIPS, 'Type=Command',
                           'Command=1,5,9', 'CommandSpeed=5', 'Method=Spectral']))
    records.append(record(['Description=Dead air', 'Number=%d' % (CLIPS + 1), 'Type=Silence',
                           'SignalTime=3', 'SignaldB=-50']))
    broadcast += [0.0] * int(round((CYCLE - 60.0) * demo.RATE))
    programme = os.path.join(folder, 'programme.wav')
    demo.write_wav(programme, broadcast)
    lines = ['[Samples]']
    for i, lines_of in enumerate(records):
        if i:
            lines.append('')
        lines += lines_of
    return programme, '\r\n'.join(lines) + '\r\n'


def wait_until(check, seconds, what):
    deadline = time.monotonic() + seconds
    while not check():
        if time.monotonic() > deadline:
            raise RuntimeError(what)
        time.sleep(0.02)


def quiet(command, env):
    return subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0


def start_pulse(folder, env):
    # A private server with a null sink "feed" kept in real time by a recording client.
    with open(os.path.join(folder, 'test.pa'), 'w') as out:
        out.write('load-module module-native-protocol-unix socket=%s/native auth-anonymous=1\n'
                  'load-module module-null-sink sink_name=feed rate=44100 channels=2 '
                  'sink_properties=device.description=Feed\n'
                  'load-module module-remap-source master=feed.monitor source_name=mic '
                  'source_properties=device.description=Mic\n'
                  'set-default-sink feed\nset-default-source mic\nsuspend-sink feed 1\n' % folder)
    server = subprocess.Popen(['pulseaudio', '-n', '-F', folder + '/test.pa', '--daemonize=no',
                               '--exit-idle-time=-1', '--use-pid-file=no', '--disable-shm=yes',
                               '--log-target=file:' + folder + '/pa.log'], env=env)
    wait_until(lambda: quiet(['pactl', 'info'], env), 10, 'the PulseAudio server did not start')
    keeper = subprocess.Popen(['pacat', '--record', '-d', 'feed.monitor', '--latency-msec=20', '--raw'],
                              env=env, stdout=subprocess.DEVNULL)
    wait_until(lambda: b'protocol-native' in subprocess.run(['pactl', 'list', 'short', 'source-outputs'], env=env,
                                                             capture_output=True).stdout,
               10, 'the keep-alive recording did not start')
    quiet(['pactl', 'suspend-sink', 'feed', '0'], env)
    return [server, keeper]


def proc_figures(pid):
    rss = 0
    with open('/proc/%d/status' % pid) as status:
        for line in status:
            if line.startswith('VmRSS:'):
                rss = int(line.split()[1])
    with open('/proc/%d/stat' % pid) as stat:
        fields = stat.read().rsplit(')', 1)[1].split()
    ticks = os.sysconf('SC_CLK_TCK')
    return rss, (int(fields[11]) + int(fields[12])) / ticks  # utime, stime


def count_detections(path):
    counts = [0] * (CLIPS + 2)
    try:
        with open(path) as lines:
            for line in lines:
                parts = line.rstrip('\n').split('\t')
                if len(parts) >= 2 and parts[1].strip().isdigit():
                    shown = int(parts[1])
                    if 1 <= shown <= len(counts):
                        counts[shown - 1] += 1
    except FileNotFoundError:
        pass
    return counts


def stop(process, seconds=10):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def main():
    parser = argparse.ArgumentParser(description='Soak run of ondrix --headless on a live generated feed.')
    parser.add_argument('--minutes', type=float, default=60)
    parser.add_argument('--report-minutes', type=float, default=10)
    parser.add_argument('--build', default=os.environ.get('ONDRIX_BUILD_DIR', os.path.join(ROOT, 'build')))
    args = parser.parse_args()
    monitor = os.path.join(args.build, 'bin', 'ondrix')
    ctl = os.path.join(args.build, 'bin', 'ondrixctl')
    missing = [p for p in (monitor, ctl) if not os.access(p, os.X_OK)]
    missing += [t for t in ('pulseaudio', 'pactl', 'pacat', 'paplay') if not shutil.which(t)]
    if missing:
        print('soak: missing ' + ', '.join(missing) + ' (scripts/build.sh --target ondrix ondrixctl; '
              'apt-get install pulseaudio pulseaudio-utils)', file=sys.stderr)
        return 2

    folder = tempfile.mkdtemp(prefix='ondrix-soak-')
    env = dict(os.environ, HOME=folder, XDG_RUNTIME_DIR=folder, PULSE_SERVER='unix:%s/native' % folder,
               ONDRIX_SOCKET=folder + '/ondrix.socket')
    env.pop('DISPLAY', None)
    data = os.path.join(folder, 'data')
    os.makedirs(os.path.join(data, 'Ini'))
    processes = []
    try:
        programme, samples = write_programme(folder)
        with open(os.path.join(data, 'Ini', 'Samples.ini'), 'w', encoding='utf-8', newline='') as out:
            out.write(samples)
        processes += start_pulse(folder, env)
        log = open(os.path.join(folder, 'monitor.log'), 'w')
        ondrix = subprocess.Popen([monitor, '--headless', '/Data=' + data], env=env, stdout=log, stderr=log)
        processes.append(ondrix)
        wait_until(lambda: quiet([ctl, 'version'], env) or ondrix.poll() is not None, 30,
                   'the monitor did not serve its socket')
        if ondrix.poll() is not None:
            raise RuntimeError('the monitor ended at start, see ' + folder + '/monitor.log')
        detections = os.path.join(folder, 'detections.txt')
        listener = subprocess.Popen([ctl, 'listen'], env=env, stdout=open(detections, 'w'),
                                    stderr=subprocess.DEVNULL)
        processes.append(listener)
        time.sleep(0.5)  # registered before the first clip
        # One pass after another; a pass is counted as played once paplay has finished it.
        player = subprocess.Popen(['sh', '-c', 'while :; do paplay -d feed "$1" && echo >>"$2"; done',
                                   'soak-player', programme, folder + '/passes'], env=env, start_new_session=True)
        processes.append(player)

        start = time.monotonic()
        total = args.minutes * 60
        step = args.report_minutes * 60
        print('soak: %g min, report every %g min, %d samples, %g s programme; folder %s'
              % (args.minutes, args.report_minutes, CLIPS + 2, CYCLE, folder), flush=True)
        print('%8s %10s %8s %7s %11s' % ('minute', 'VmRSS_kB', 'cpu_s', 'core_%', 'detections'), flush=True)
        rss0, cpu0 = proc_figures(ondrix.pid)
        print('%8.1f %10d %8.2f %7s %11d' % (0, rss0, cpu0, '-', 0), flush=True)
        first_rss, last_cpu, last_found, peak_after = None, cpu0, 0, 0
        reported = 0.0
        while reported < total:
            reported = min(total, reported + step)
            time.sleep(max(0.0, start + reported - time.monotonic()))
            if ondrix.poll() is not None:
                raise RuntimeError('the monitor ended with code %d' % ondrix.returncode)
            rss, cpu = proc_figures(ondrix.pid)
            found = sum(count_detections(detections))
            print('%8.1f %10d %8.2f %7.2f %11d' % (reported / 60, rss, cpu,
                                                   (cpu - last_cpu) / step * 100, found - last_found), flush=True)
            if first_rss is None:
                first_rss = rss
            else:
                peak_after = max(peak_after, rss)
            last_cpu, last_found = cpu, found

        os.killpg(player.pid, signal.SIGTERM)  # the loop and the paplay under way
        player.wait()
        time.sleep(6)  # the last pass's dead air, if it was cut, still ends
        try:
            with open(folder + '/passes') as passes:
                played = sum(1 for _ in passes)
        except FileNotFoundError:
            played = 0
        counts = count_detections(detections)
        stop(listener)
        stop(ondrix, 30)

        failures = []
        growth = (peak_after - first_rss) if peak_after else 0
        print('soak: VmRSS after the first interval %d kB, highest later %d kB (growth %+d kB, limit %d kB)'
              % (first_rss, peak_after or first_rss, growth, GROWTH_LIMIT_KB))
        if growth > GROWTH_LIMIT_KB:
            failures.append('memory grew by %d kB' % growth)
        print('soak: %d passes played whole; detections per sample (No. 1..%d): %s'
              % (played, CLIPS + 2, ' '.join(str(c) for c in counts)))
        for i, count in enumerate(counts):
            if count < played or count > played + 1:
                failures.append('sample No. %d found %d times in %d passes' % (i + 1, count, played))
        if failures:
            print('soak: FAILED: ' + '; '.join(failures) + ' (folder kept: %s)' % folder)
            return 1
        print('soak: passed')
        shutil.rmtree(folder, ignore_errors=True)
        return 0
    except (RuntimeError, OSError) as error:
        print('soak: %s (folder kept: %s)' % (error, folder), file=sys.stderr)
        return 1
    finally:
        for process in reversed(processes):
            stop(process)


if __name__ == '__main__':
    sys.exit(main())
