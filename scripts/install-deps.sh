#!/usr/bin/env bash
# Installs the Debian 12 packages Ondrix needs to build, run and test.
# Idempotent: installs only what is missing, and updates the package lists only then.
# With --packaging also what building and checking the Debian package needs (scripts/package.sh).
set -euo pipefail

PACKAGES=(
  # toolchain
  g++ cmake ninja-build pkg-config ccache
  # libraries
  qt6-base-dev qt6-base-dev-tools libfftw3-dev libsndfile1-dev libpulse-dev libzip-dev
  libcurl4-openssl-dev libsoxr-dev libglib2.0-dev
  # Qt's own texts (edit menus, file dialogs) in Russian for the built-in language
  qt6-translations-l10n
  # the desktop's launcher, which opens the manual and web addresses in the browser
  xdg-utils
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # test harness: a real PulseAudio server, MP3 encoding of fixtures
  pulseaudio pulseaudio-utils lame
  # test harness: real SMTP and HTTP servers, certificates, an X server for windows,
  # an independent zip reader, generated speech and sound tools
  python3-aiosmtpd openssl xvfb x11-apps imagemagick unzip sox espeak-ng
  # test harness: a notification area on the X server, its window list, mouse clicks
  trayer x11-utils xdotool
  # the icon rendered at build time; the desktop's validators the install test runs
  librsvg2-bin desktop-file-utils appstream mandoc
)
if [ "${1:-}" = "--packaging" ]; then
  # the Debian package: computed dependencies, its checker, the service units' checker
  PACKAGES+=(dpkg-dev lintian systemd)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi
echo "Installing: ${missing[*]}"
"${SUDO[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
