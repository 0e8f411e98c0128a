#!/usr/bin/env bash
# Configures and builds everything into build/ (or $ONDRIX_BUILD_DIR); arguments go to
# `cmake --build`, e.g. --target ondrix to build one program.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ONDRIX_BUILD_DIR:-build}
"$(dirname "$0")/install-deps.sh"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} >/dev/null
# One compile job per core unless the caller says otherwise (Ninja's default starts more).
case " $* " in
  *" -j"*|*" --parallel"*) cmake --build "$BUILD_DIR" "$@" ;;
  *) cmake --build "$BUILD_DIR" -j "${ONDRIX_JOBS:-$(nproc)}" "$@" ;;
esac
