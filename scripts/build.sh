#!/usr/bin/env bash
# Builds TarnVellIO and runs its demo ("demo"), every test ("test", the default) or the
# benchmarks ("bench": a Release build in build-release, the micro-benchmarks, then
# vell_compare on its full content set; further arguments go to vell_compare, except
# --million, which also runs vell_compare on a million tiny files: that set is written once
# into build-release/compare-million, or $TARN_MILLION_DIR, and reused by later runs).
# "windows" and "windows64" build the 32-bit and the 64-bit Windows DLL and test them under
# Wine (scripts/windows.sh).
# Installs the Debian packages the build needs first, when they are missing and this runs
# as root. CI=true turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ ninja-build pkg-config python3 zlib1g-dev liblzma-dev libgtest-dev libgmock-dev libbenchmark-dev
          libzip-dev libphysfs-dev)
# MD5 of file contents for vellpack's manifests and vell's checks
packages+=(libmd-dev)
# vell mount: FUSE 3 (the library and fusermount3)
packages+=(libfuse3-dev fuse3)
# vell's --json output
packages+=(nlohmann-json3-dev)
source scripts/packages.sh
require_packages "${packages[@]}"

build=${BUILD_DIR:-build}
configure=(-S . -B "$build")
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null; then
  configure+=(-G Ninja)
fi
if [ "${CI:-}" = true ]; then
  configure+=(-DTARN_WERROR=ON)
fi
action=${1:-test}
[ "$action" = bench ] || cmake "${configure[@]}" >/dev/null

jobs=$(nproc 2>/dev/null || echo 2)
case "$action" in
  demo)
    cmake --build "$build" -j"$jobs" --target vell vellpack
    sample="$build/sample"
    rm -rf "$sample"
    "$build/tools/vellpack/vellpack" sample "$sample"
    client="$sample/VELL/projects/client/releases/0.0.0.2/deploy"
    game="$sample/VELL/solutions/game/releases/1.0.0.0/deploy"
    vell="$build/tools/vell/vell"
    run() { echo; echo "\$ vell $*"; "$vell" "$@"; }
    run -C "$client" ls -l DATA
    run -C "$client" cat DATA/readme.txt | head -n 3
    run -C "$client" check
    run -C "$game" ls -l DATA
    run -C "$game" check
    ;;
  test)
    cmake --build "$build" -j"$jobs"
    ctest --test-dir "$build" --output-on-failure -j"$jobs"
    ;;
  bench)
    release=build-release
    release_configure=(-S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DTARN_BUILD_TESTS=OFF -DTARN_BUILD_BENCHMARKS=ON)
    if [ ! -f "$release/CMakeCache.txt" ] && command -v ninja >/dev/null; then
      release_configure+=(-G Ninja)
    fi
    if [ "${CI:-}" = true ]; then
      release_configure+=(-DTARN_WERROR=ON)
    fi
    cmake "${release_configure[@]}" >/dev/null
    benches=(vell_listing_bench vell_decode_bench vell_exports_bench)
    cmake --build "$release" -j"$jobs" --target "${benches[@]}" vell_compare
    echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) (measurements are steadier below 1 per core)"
    for bench in "${benches[@]}"; do
      echo; echo "\$ $bench"
      "$release/bench/$bench"
    done
    million=false
    compare=()
    for argument in "${@:2}"; do
      if [ "$argument" = --million ]; then million=true; else compare+=("$argument"); fi
    done
    echo; echo "\$ vell_compare ${compare[*]}"
    "$release/bench/vell_compare" "${compare[@]}"
    if [ "$million" = true ]; then
      # PhysicsFS takes far too long to mount a million files; the targets there are libzip's.
      million_set=(--files 1000000 --tiny --backends vell,libzip,limit,pread
                   --work-dir "${TARN_MILLION_DIR:-$release/compare-million}" --reuse)
      echo; echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
      echo "\$ vell_compare ${million_set[*]}"
      "$release/bench/vell_compare" "${million_set[@]}"
    fi
    ;;
  windows | windows64)
    exec scripts/windows.sh "$action"
    ;;
  *)
    echo "usage: scripts/build.sh [demo|test|bench [--million] [vell_compare options]|windows|windows64]" >&2
    exit 2
    ;;
esac
