#!/usr/bin/env bash
# The Windows build, cross-compiled with MinGW-w64 and tested under Wine (scripts/build.sh
# windows|windows64 runs this):
#   windows     TarnVellIO.dll for 32-bit Windows (i686) and its programs, in build-win32/
#   windows64   the same for 64-bit Windows (x86_64), in build-win64/
# Installs the Debian packages it needs when they are missing and this runs as root; builds
# liblzma from Debian's xz-utils source into the build folder; builds the Linux programs the
# tests compare with (in build/); then runs every test this machine can run, and says which.
# CI=true turns warnings into errors.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/packages.sh

action=${1:-windows}
case "$action" in
  windows) triplet=i686-w64-mingw32 arch=i686 build=build-win32 wine_package=wine32:i386 loader=/usr/lib/wine/wine ;;
  windows64) triplet=x86_64-w64-mingw32 arch=x86-64 build=build-win64 wine_package=wine64 loader=/usr/lib/wine/wine64 ;;
  *)
    echo "usage: scripts/windows.sh windows|windows64" >&2
    exit 2
    ;;
esac
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

# ---- packages: the cross compiler, zlib, GoogleTest's sources, Wine ------------------------
# wine32 is a package of the i386 architecture, which dpkg must know first.
if [ "$action" = windows ] && [ "$(id -u)" = 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  apt-get update -qq
fi
# The Linux programs the tests compare with need the Linux build's own packages; nlohmann's
# JSON headers serve both builds.
require_packages cmake ninja-build dpkg-dev "g++-mingw-w64-$arch-posix" "binutils-mingw-w64-$arch" libz-mingw-w64-dev \
  googletest wine "$wine_package" g++ zlib1g-dev liblzma-dev libmd-dev nlohmann-json3-dev

# ---- liblzma: no MinGW package exists; cross-compiled from Debian's source package -----------
# The source is fetched once into build-xz-source/ and serves both Windows builds.
deps=$root/$build/deps
if [ ! -f "$deps/lib/liblzma.a" ]; then
  source_dir=$root/build-xz-source
  xz=""
  [ -d "$source_dir" ] && xz=$(find "$source_dir" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
  if [ -z "$xz" ]; then
    # apt-get source needs a deb-src entry for the configured archive; apt checks what it
    # fetches against the archive's signed index.
    if ! grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
      if [ "$(id -u)" != 0 ]; then
        echo "no deb-src entry in /etc/apt: add one for the configured Debian archive (or run this as root)" >&2
        exit 1
      fi
      entries=$(for list in /etc/apt/sources.list.d/*.sources; do
        [ -f "$list" ] && sed -n 's/^Types: *deb$/Types: deb-src/;/^$/p;/^[A-Za-z-]*:/p' "$list"
        echo
      done)
      echo "$entries" >/etc/apt/sources.list.d/tarnvellio-deb-src.sources
      if [ -f /etc/apt/sources.list ]; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list >/etc/apt/sources.list.d/tarnvellio-deb-src.list
      fi
      apt-get update -qq
    fi
    rm -rf "$source_dir" && mkdir -p "$source_dir" && chmod 777 "$source_dir"  # apt fetches as its own user
    (cd "$source_dir" && apt-get source -qq xz-utils >/dev/null)
    xz=$(find "$source_dir" -mindepth 1 -maxdepth 1 -type d -name 'xz-utils-*' | head -n 1)
  fi
  echo "liblzma: building $(basename "$xz") for $triplet"
  cmake -S "$xz" -B "$build/xz-build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/$triplet.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$deps" >/dev/null
  cmake --build "$build/xz-build" -j"$jobs" --target liblzma >/dev/null
  cmake --install "$build/xz-build" --component liblzma_Development >/dev/null
fi

# ---- the Linux programs the Windows tests compare with --------------------------------------
linux=${BUILD_DIR:-build}
linux_configure=(-S . -B "$linux")
[ -f "$linux/CMakeCache.txt" ] || linux_configure+=(-G Ninja)
[ "${CI:-}" = true ] && linux_configure+=(-DTARN_WERROR=ON)
cmake "${linux_configure[@]}" >/dev/null
cmake --build "$linux" -j"$jobs" --target vellpack tarnvellio vell_host_walk

# ---- configure and build ----------------------------------------------------------------
configure=(-S . -B "$build" -DTARN_WINDOWS_DEPS="$deps" -DTARN_WINE="$loader" -DTARN_LINUX_BUILD="$root/$linux")
[ -f "$build/CMakeCache.txt" ] || configure+=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/toolchains/$triplet.cmake")
[ "${CI:-}" = true ] && configure+=(-DTARN_WERROR=ON)
cmake "${configure[@]}" >/dev/null

# ---- what this machine can run --------------------------------------------------------------
# Wine runs the build's programs only where this kernel runs Linux programs of the same width:
# the 32-bit loader needs the kernel's 32-bit support (ia32 emulation), which may be off.
reason=""
if ! probe=$("$loader" --version 2>&1); then
  reason="Wine's loader for ${arch} programs does not start here (${probe##*: })"
  [ "$action" = windows ] && reason="$reason: this kernel runs no 32-bit programs (ia32 emulation is off)"
fi

# Where nothing can run, only what a host receives is built (the DLL, the tools, the
# independent host), which the checks below read; the test programs are built where they run.
if [ -z "$reason" ]; then
  cmake --build "$build" -j"$jobs"
else
  cmake --build "$build" -j"$jobs" --target tarnvellio vell vellpack vell_host_walk
fi

if [ -z "$reason" ]; then
  export WINEPREFIX=$root/$build/wine WINEDEBUG=-all
  "$build/wine-run" cmd.exe /c exit >/dev/null 2>&1 || true  # makes the Wine prefix once
  # One Wine server, and Wine's background processes, for the whole run: each test process
  # then starts fast.
  wineserver -k 2>/dev/null || true
  wineserver -p
  "$build/wine-run" cmd.exe /c exit >/dev/null 2>&1 || true
  trap 'wineserver -k 2>/dev/null || true' EXIT
  start=$SECONDS
  ctest --test-dir "$build" --output-on-failure -j"$jobs" --timeout 900
  echo "$action: every test ran under Wine ($((SECONDS - start)) s)"
else
  echo "$action: $reason."
  echo "$action: built the DLL and the programs a host receives; running only the checks that need no Windows:" \
    "the DLL's format, exports and imports."
  # Only this folder's tests: the others list their cases by running their programs.
  ctest --test-dir "$build/tests/windows" --output-on-failure
  echo "$action: NOT BUILT OR RUN on this machine: the test programs under Wine;" \
    "scripts/build.sh windows64 runs the same tests on the 64-bit build."
fi
