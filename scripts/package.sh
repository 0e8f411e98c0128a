#!/usr/bin/env bash
# Builds the Debian package of Ondrix and checks it with the ecosystem's own tools:
# desktop-file-validate, appstreamcli, mandoc, systemd-analyze and lintian on what the package
# holds, then whether it installs and removes: apt-get's and dpkg's dry runs against this
# system, and the programs run from the unpacked package. With --root it also installs the
# package for real into a throwaway copy of this system (an overlay over /, root only), runs
# it there and removes it again, checking nothing of it is left.
# Every check prints its findings; the script ends with exit code 1 when one fails.
#   scripts/package.sh [--root]     (the package lands in build/, or $ONDRIX_BUILD_DIR)
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${ONDRIX_BUILD_DIR:-build}
WITH_ROOT=0
[ "${1:-}" = "--root" ] && WITH_ROOT=1

scripts/install-deps.sh --packaging || exit 1
# The package holds optimised programs with their debugging symbols stripped.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} >/dev/null || exit 1
cmake --build "$BUILD_DIR" -j "${ONDRIX_JOBS:-$(nproc)}" --target ondrix ondrix-scan ondrixctl ondrix_dist || exit 1

work=$(mktemp -d)
cleanup() {
  if mountpoint -q "$work/merged" 2>/dev/null; then umount -R "$work/merged"; fi
  if mountpoint -q "$work/layer" 2>/dev/null; then umount "$work/layer"; fi
  rm -rf "$work"
}
trap cleanup EXIT

failed=()
check() {  # check NAME COMMAND...: runs it, shows its output, remembers a failure
  local name=$1; shift
  echo "== $name: $*"
  if "$@"; then echo "-- $name: passed"; else echo "-- $name: FAILED"; failed+=("$name"); fi
}
quiet_ok() {  # runs a command; fails when it fails or prints a line matching $PATTERN
  local out; out=$("$@" 2>&1); local rc=$?
  [ -n "$out" ] && printf '%s\n' "$out"
  [ $rc -eq 0 ] && ! printf '%s\n' "$out" | grep -Eq "$PATTERN"
}

echo "== cpack -G DEB"
rm -f "$BUILD_DIR"/ondrix_*.deb
(cd "$BUILD_DIR" && cpack -G DEB) || exit 1
deb=$(ls "$BUILD_DIR"/ondrix_*.deb)
echo "== $deb"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

# The package's own files, unpacked.
tree=$work/tree
dpkg-deb -x "$deb" "$tree"
app_id=$(basename "$tree"/usr/share/applications/*.desktop .desktop)

PATTERN='error|warning|hint' check desktop-file-validate \
  quiet_ok desktop-file-validate "$tree/usr/share/applications/$app_id.desktop"
PATTERN='^(E|W):' check appstreamcli \
  quiet_ok appstreamcli validate --no-net --no-color "$tree/usr/share/metainfo/$app_id.metainfo.xml"
# STYLE notes about the pages' cross references do not count: the pages refer to each other.
# (One page per call: mandoc unpacks only the first of several compressed pages.)
PATTERN='mandoc:' check mandoc quiet_ok bash -c '
  for page in "$1"/usr/share/man/man1/*.1.gz; do mandoc -Tlint -W warning "$page" || exit 1; done' _ "$tree"
PATTERN='^[^:]+: (warning|error)' check "man --warnings" bash -c '
  for page in "$1"/usr/share/man/man1/*.1.gz; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 "$page" 2>&1 >/dev/null
  done' _ "$tree"
units_check() {
  # The units name /usr/bin/ondrix, which is not installed here: checked as copies that name
  # the unpacked program instead (--root does not work for user units). The throwaway root
  # checks them unchanged.
  local rt=$work/runtime units=$work/units
  mkdir -p "$rt" "$units"; chmod 700 "$rt"
  sed "s#/usr/bin/ondrix#$tree/usr/bin/ondrix#" "$tree/usr/lib/systemd/user/ondrix.service" >"$units/ondrix.service"
  sed "s#/usr/bin/ondrix#$tree/usr/bin/ondrix#" "$tree/usr/lib/systemd/user/ondrix@.service" >"$units/ondrix@fm.service"
  XDG_RUNTIME_DIR=$rt systemd-analyze verify --man=no --user "$units/ondrix.service" "$units/ondrix@fm.service"
}
PATTERN='.' check systemd-analyze quiet_ok units_check
# lintian: errors fail the check; warnings and notes are shown.
PATTERN='^E:' check lintian quiet_ok lintian --info --display-info --pedantic "$deb"

# Installing and removing, without touching this system: what apt and dpkg would do.
PATTERN='^E:' check "apt-get install --simulate" quiet_ok apt-get install --simulate --no-install-recommends "./$deb"
check "dpkg --dry-run --install" dpkg --dry-run --install "$deb"

# The programs of the unpacked package, run from where they were unpacked.
run_unpacked() {
  local bin=$tree/usr/bin data=$work/data version
  version=$("$bin/ondrix" --version) || return 1
  echo "ondrix --version: $version"
  "$bin/ondrix-scan" --help >/dev/null || return 1
  # A fresh data folder gets the installed defaults; a stop signal ends the monitor with 0.
  ONDRIX_SOCKET=$work/ondrix.socket "$bin/ondrix" --headless "/Data=$data" &
  local pid=$!
  for _ in $(seq 600); do [ -S "$work/ondrix.socket" ] && break; sleep 0.1; done
  ONDRIX_SOCKET=$work/ondrix.socket "$bin/ondrixctl" version || { kill $pid; return 1; }
  cmp "$data/Ini/Freq.ini" "$tree/usr/share/ondrix/Ini_Def/Freq.ini" || { kill $pid; return 1; }
  kill -TERM $pid; wait $pid
}
check "programs run from the unpacked package" run_unpacked

# A real install and removal in a throwaway root: an overlay over this system's / whose
# changes go to a memory file system (a layer may not lie inside the one below it), entered
# with chroot.
throwaway_root() {
  local merged=$work/merged layer=$work/layer
  mkdir -p "$layer" "$merged"
  mount -t tmpfs tmpfs "$layer" || return 1
  mkdir -p "$layer/upper" "$layer/work"
  mount -t overlay overlay -o "lowerdir=/,upperdir=$layer/upper,workdir=$layer/work" "$merged" || return 1
  for fs in proc sys dev; do mount --rbind "/$fs" "$merged/$fs" || return 1; done
  cp "$deb" "$merged/tmp/"
  local name; name=$(basename "$deb")
  chroot "$merged" /bin/sh -ec "
    apt-get install -y --no-install-recommends /tmp/$name
    dpkg -L ondrix | grep -q /usr/share/applications/$app_id.desktop
    ondrix --version
    test -x /usr/bin/ondrix-scan && test -x /usr/bin/ondrixctl
    man -w ondrix ondrix-scan ondrixctl
    mkdir -p /tmp/rt && chmod 700 /tmp/rt
    cp /usr/lib/systemd/user/ondrix@.service /tmp/ondrix@fm.service
    out=\$(XDG_RUNTIME_DIR=/tmp/rt systemd-analyze verify --user /usr/lib/systemd/user/ondrix.service /tmp/ondrix@fm.service 2>&1)
    test -z \"\$out\" || { echo \"\$out\"; exit 1; }
    apt-get remove -y --purge ondrix
    ! dpkg -s ondrix >/dev/null 2>&1
    for f in /usr/bin/ondrix /usr/share/ondrix /usr/share/man/man1/ondrix.1.gz /usr/lib/systemd/user/ondrix.service; do
      test ! -e \$f || { echo \"left behind: \$f\"; exit 1; }
    done"
  local rc=$?
  umount -R "$merged"
  umount "$layer"
  return $rc
}
if [ $WITH_ROOT = 1 ]; then
  check "install and remove in a throwaway root" throwaway_root
fi

echo
if [ ${#failed[@]} -eq 0 ]; then
  echo "All package checks passed: $deb"
else
  echo "Failed: ${failed[*]}"
  exit 1
fi
