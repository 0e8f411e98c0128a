#!/bin/sh
# Builds ondrix-scan and bench_compare and prints, in one run, the scanner's speed beside
# multimon-ng (DTMF) and ffmpeg (silence): x real time of processor time, best and median.
# ffmpeg is only needed here (apt-get install ffmpeg); without it that line is skipped.
set -e
cd "$(dirname "$0")/.."
[ -d build ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target ondrix-scan bench_compare
# The programs' warnings (clips hard to tell apart, tool banners) go to bench_compare.log.
exec nice -n 10 build/bin/bench_compare --benchmark_counters_tabular=true "$@" 2>build/bench_compare.log
