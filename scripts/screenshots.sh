#!/usr/bin/env bash
# Runs the real program under a private X server and saves screenshots of its window (at
# 1280x800 and at its minimum size, on the sample and the settings page, in Russian and in
# English, while monitoring and after a detection), and pictures of every window, page and
# settings panel in both languages, to the folder given (default: shots/), so anyone can look
# at them. Then takes the manual's pictures of the windows, in Russian and English, from the
# current build into resources/Help/<language>/img/ (commit them with the change they show).
set -euo pipefail
cd "$(dirname "$0")/.."
out="$(realpath -m "${1:-shots}")"
cmake --build build --target test_app test_help ondrix
mkdir -p "$out"
# The test program itself needs no screen: it starts the X server for the program it runs.
ONDRIX_SCREENSHOTS="$out" QT_QPA_PLATFORM=offscreen build/bin/test_app --gtest_filter='ScreenFixture.*'
# Every window, page and settings panel in both languages, drawn on a private X server.
ONDRIX_SCREENSHOTS="$out" QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24 -nolisten tcp" \
  build/bin/test_app --gtest_filter='EnglishLanguage.TextsFitTheirControlsInBothLanguages'
echo "Screenshots in $out"
ONDRIX_MANUAL_PICTURES="$PWD/resources/Help" build/bin/test_help --gtest_filter='*ManualPictures*'
echo "Manual pictures in resources/Help/*/img/"
