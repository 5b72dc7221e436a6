#!/usr/bin/env bash
# Sanitizer builds and fuzzing, as CI runs them after the normal tests:
#   asan            build-asan: AddressSanitizer + UndefinedBehaviorSanitizer (gcc), every test
#   tsan            build-tsan: ThreadSanitizer (gcc), the tests labelled "threads"
#   fuzz [SECONDS]  build-fuzz: clang's libFuzzer with ASan + UBSan; each target runs SECONDS
#                   (default 60) from its seeds and its committed corpus (fuzz/corpus/<target>)
# Installs the Debian packages it needs when they are missing and this runs as root.
set -euo pipefail
cd "$(dirname "$0")/.."

action=${1:-}
case "$action" in
  asan | tsan) packages=(cmake g++ ninja-build zlib1g-dev liblzma-dev libmd-dev libgtest-dev libgmock-dev libfuse3-dev fuse3 nlohmann-json3-dev) ;;
  fuzz) packages=(cmake ninja-build clang-14 libclang-rt-14-dev zlib1g-dev liblzma-dev libmd-dev) ;;
  *)
    echo "usage: scripts/hardening.sh asan|tsan|fuzz [SECONDS]" >&2
    exit 2
    ;;
esac
source scripts/packages.sh
require_packages "${packages[@]}"

jobs=$(nproc 2>/dev/null || echo 2)

# configure DIR FLAGS [cmake arguments...]: a RelWithDebInfo build instrumented with FLAGS.
# Warnings are not errors here: the instrumentation makes gcc warn where nothing is wrong
# (-Wmaybe-uninitialized inside <regex>), and the normal build already treats them as errors.
configure() {
  local dir=$1 flags=$2
  shift 2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTARN_BUILD_BENCHMARKS=OFF -DTARN_WERROR=OFF \
    "-DCMAKE_C_FLAGS=$flags" "-DCMAKE_CXX_FLAGS=$flags" "$@" >/dev/null
}

case "$action" in
  asan)
    configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer" \
      "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=address,undefined" "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=address,undefined"
    cmake --build build-asan -j"$jobs"
    # The shared library is loaded by tests that are not instrumented themselves: ASan's
    # runtime must come first. Leaks are reported by LeakSanitizer at each test's exit.
    # The install test is left to the normal build: the hosts it builds against the installed
    # library are compiled outside this build, without ASan's runtime.
    ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1 \
    UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --test-dir build-asan --output-on-failure -j"$jobs" --timeout 900 -E '^Install\.'
    ;;
  tsan)
    configure build-tsan "-fsanitize=thread" "-DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread" \
      "-DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread" -DTARN_BUILD_FUZZ=OFF
    cmake --build build-tsan -j"$jobs" --target vell_thread_tests vell_shared_library_tests vell_process_tests
    # The tests labelled "threads" (tests/CMakeLists.txt): the shared library driven by many
    # threads, the token pool, the reads (also those that complete later on another thread)
    # and the platform layer's events, semaphores and threads, vell mount serving several
    # readers, and the other tests that run threads at once.
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
      ctest --test-dir build-tsan --output-on-failure -j"$jobs" --timeout 900 -L '^threads$'
    ;;
  fuzz)
    seconds=${2:-60}
    sanitize="-fsanitize=address,undefined -fno-sanitize-recover=undefined"
    configure build-fuzz "-fsanitize=fuzzer-no-link $sanitize" -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
      "-DCMAKE_EXE_LINKER_FLAGS=$sanitize" "-DCMAKE_SHARED_LINKER_FLAGS=$sanitize" -DTARN_BUILD_TESTS=OFF -DTARN_LIBFUZZER=ON
    targets=(release_manifest archive_index text_manifest decompress path wildcard initialize confinement)
    cmake --build build-fuzz -j"$jobs" --target vell_fuzz_seeds "${targets[@]/#/vell_fuzz_}"
    out=build-fuzz/fuzz
    rm -rf "$out/seeds"
    "$out/vell_fuzz_seeds" "$out/seeds"
    # The targets write their inputs as files: in memory when the machine has a /dev/shm with
    # room to spare (a container's may be only 64 MiB).
    scratch_base=${TMPDIR:-/tmp}
    if [ -d /dev/shm ] && [ -w /dev/shm ] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 512 * 1024)); then
      scratch_base=/dev/shm
    fi
    scratch=$(mktemp -d "$scratch_base/vell-fuzz.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    failed=()
    for target in "${targets[@]}"; do
      mkdir -p "$out/corpus/$target" "$out/artifacts/$target"
      max_len=4096
      case "$target" in decompress | initialize) max_len=16384 ;; esac
      echo "fuzzing $target for ${seconds}s"
      # A smaller quarantine, no filling of new blocks and short allocation stacks keep the
      # fuzzers fast; use-after-free, overflows and leaks are still caught.
      if ASAN_OPTIONS=quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=5:detect_leaks=1 TMPDIR="$scratch" \
        "$out/vell_fuzz_$target" -max_total_time="$seconds" -timeout=25 -max_len="$max_len" -print_final_stats=1 \
          -artifact_prefix="$out/artifacts/$target/" "$out/corpus/$target" "$out/seeds/$target" "fuzz/corpus/$target" \
          >"$out/$target.log" 2>&1; then
        grep -E 'stat::number_of_executed_units|stat::average_exec_per_sec' "$out/$target.log" | tr '\n' ' '
        echo "corpus: $(find "$out/corpus/$target" -type f | wc -l) files"
      else
        tail -n 60 "$out/$target.log"
        failed+=("$target")
      fi
    done
    if ((${#failed[@]})); then
      echo "fuzz targets that failed: ${failed[*]} (inputs in $out/artifacts/)" >&2
      exit 1
    fi
    ;;
esac
