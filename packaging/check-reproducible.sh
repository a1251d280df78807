#!/usr/bin/env bash
# Builds the .deb and the Windows .zip twice, from two clones of the current
# commit (two copies of the tree outside a git checkout), and fails unless
# both builds give the same bytes. The second build differs from the first
# the way Debian's reprotest varies a build: another path (with a blank in
# it), another umask, time zone, locale and home folder, fresh file times,
# one job instead of several, another kernel version and no address-space
# randomisation (setarch), and a clock a day and seven minutes ahead
# (faketime). Nothing is set by hand: SOURCE_DATE_EPOCH is removed from the
# environment.
#
# Usage: packaging/check-reproducible.sh [output folder]   (default: build/packages)
# Leaves the first build's packages and manual page in the output folder, and
# the second build's packages in its "second" folder when they differ. Only
# committed work is built: uncommitted changes are not in the clones.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/packages}
source=$PWD
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset SOURCE_DATE_EPOCH

build() {  # clone folder, jobs
  local tree=$1 jobs=$2
  if git -C "$source" rev-parse --git-dir >/dev/null 2>&1; then
    git clone -q --no-hardlinks "$source" "$tree"
  else
    # A source archive: a copy keeps the files' times, and so the time the
    # build takes from doc/changelog.in.
    mkdir -p "$tree"
    tar -C "$source" --exclude='./build*' -cf - . | tar -C "$tree" -xf -
  fi
  (
    cd "$tree"
    cmake -S . -B build/linux -G Ninja -DSONDREL_TESTS=OFF >/dev/null
    cmake --build build/linux -j "$jobs" >/dev/null
    (cd build/linux && cpack -G DEB >/dev/null)
    cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
          -DSONDREL_TESTS=OFF >/dev/null
    cmake --build build/windows -j "$jobs" >/dev/null
    (cd build/windows && cpack -G ZIP >/dev/null)
  )
}

command -v faketime >/dev/null || { echo "check-reproducible.sh: faketime is needed (apt-get install faketime)"; exit 2; }
export source
export -f build

echo "first build: $work/one/sondrel"
(umask 022; TZ=UTC LC_ALL=C build "$work/one/sondrel" "$(nproc)")
echo "second build: $work/the second one/sondrel, umask 077, TZ=Pacific/Kiritimati, LC_ALL=C.UTF-8, another HOME,"
echo "  1 job, clock +1 day 7 minutes, kernel version 2.6, no address-space randomisation"
mkdir "$work/home"
(umask 077; TZ=Pacific/Kiritimati LC_ALL=C.UTF-8 HOME=$work/home \
   setarch "$(uname -m)" --uname-2.6 -R \
   faketime -f '+1447m' bash -c 'build "$@"' bash "$work/the second one/sondrel" 1)

status=0
rm -rf "$out/second"
for pattern in 'linux/sondrel_*_amd64.deb' 'windows/sondrel-*-win64.zip'; do
  first=$(echo "$work"/one/sondrel/build/$pattern)
  second=$(echo "$work/the second one/sondrel/build/"$pattern)
  if cmp -s "$first" "$second"; then
    echo "same bytes: $(basename "$first") ($(stat -c %s "$first") bytes, sha256 $(sha256sum <"$first" | cut -c1-16)...)"
  else
    echo "DIFFERENT: $(basename "$first") ($(stat -c %s "$first") against $(stat -c %s "$second") bytes)"
    case $first in
      *.deb) diff <(dpkg-deb -c "$first") <(dpkg-deb -c "$second") || true ;;
      *.zip) diff <(zipinfo -l "$first") <(zipinfo -l "$second") || true ;;
    esac
    mkdir -p "$out/second"
    cp "$second" "$out/second/"
    status=1
  fi
done
mkdir -p "$out"
cp "$work"/one/sondrel/build/linux/sondrel_*_amd64.deb "$work"/one/sondrel/build/windows/sondrel-*-win64.zip \
   "$work"/one/sondrel/build/linux/sondrel.1 "$work"/one/sondrel/build/linux/sondrel-scan.1 "$out"/
exit $status
