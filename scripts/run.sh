#!/usr/bin/env bash
# Installs what is missing, builds, and starts Ondrix with its defaults
# (extra arguments are passed on, e.g. /Data=/path/to/station).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ONDRIX_BUILD_DIR:-build}
scripts/build.sh
exec "$BUILD_DIR/bin/ondrix" "$@"
