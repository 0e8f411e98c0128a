#!/usr/bin/env bash
# Installs what is missing, builds the programs, and starts Ondrix with its defaults
# (extra arguments are passed on, e.g. /Data=/path/to/station). Only the three programs are
# built, so the window opens without waiting for the tests and benchmarks (scripts/test.sh
# builds those).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ONDRIX_BUILD_DIR:-build}
scripts/build.sh --target ondrix ondrix-scan ondrixctl
exec "$BUILD_DIR/bin/ondrix" "$@"
