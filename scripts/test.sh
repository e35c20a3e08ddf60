#!/usr/bin/env bash
# The one test command: installs what is missing, builds Vantrel twice (a GCC
# Release build, and a clang build with AddressSanitizer +
# UndefinedBehaviorSanitizer that also holds the libFuzzer targets), runs every
# test of both builds through ctest, then runs every fuzz target for a short
# while (VANTREL_FUZZ_SECONDS in all, default 150, shared evenly). Every build
# treats warnings as errors.
# Ends with a summary line and a non-zero exit status on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VANTREL_JOBS:-$(nproc)}
# The fuzz targets share one time budget (seconds in all, split evenly).
fuzz_budget=${VANTREL_FUZZ_SECONDS:-150}
fuzz_count=$(ls "$root"/fuzz/*_fuzz.cc 2>/dev/null | wc -l)
fuzz_seconds=0
if [ "$fuzz_budget" -gt 0 ] && [ "$fuzz_count" -gt 0 ]; then
  fuzz_seconds=$(( fuzz_budget / fuzz_count )); [ "$fuzz_seconds" -ge 5 ] || fuzz_seconds=5
fi

scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }

# A compiler cache, when the machine has one, makes repeated runs quick.
if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi

passed=0
failed=0
failures=()

record() {  # record NAME STATUS
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); else failed=$((failed + 1)); failures+=("$1"); fi
}

build_and_test() {  # build_and_test NAME CMAKE-ARGS...
  local name=$1; shift
  local dir="$root/build/$name"
  echo "=== $name: configure and build ($dir)"
  if ! cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1; then
    mkdir -p "$(dirname "$dir")"; cat "$dir.configure.log"; record "$name build" 1; return
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1; then
    tail -n 60 "$dir.build.log"; record "$name build" 1; return
  fi
  echo "=== $name: ctest"
  local log="$dir.ctest.log"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  # Count the ctest cases of this build into the summary.
  local line total fails
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.*tests failed out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - fails)); failed=$((failed + fails))
    [ "$fails" -eq 0 ] || failures+=("$name ctest")
  else
    record "$name ctest" 1
  fi
  [ "$status" -eq 0 ] || [ -n "$line" ] || true
}

mkdir -p "$root/build"
# GCC at -O3: the build a packager makes, so the optimiser's warnings are seen.
CC=gcc CXX=g++ build_and_test release -DCMAKE_BUILD_TYPE=Release -DVANTREL_WERROR=ON
# clang with ASan + UBSan: the tests and the libFuzzer targets from one build
# (the libraries carry the fuzzer's coverage hooks, which the tests ignore).
CC=clang CXX=clang++ build_and_test asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS_DEBUG="-g -O1" \
  -DCMAKE_CXX_FLAGS_DEBUG="-g -O1" -DVANTREL_SANITIZE=ON -DVANTREL_FUZZ=ON -DVANTREL_BENCH=OFF \
  -DVANTREL_WERROR=ON

# Fuzz targets: each runs its share of the budget; any finding fails the run.
run_fuzz_targets() {
  local dir="$root/build/asan" src target work seeds
  for src in "$root"/fuzz/*_fuzz.cc; do
    target=$(basename "$src" .cc)
    if [ ! -x "$dir/fuzz/$target" ]; then record "fuzz $target (not built)" 1; continue; fi
    work="$dir/fuzz-run/$target"
    rm -rf "$work"; mkdir -p "$work/corpus"
    seeds=()
    [ -d "$root/fuzz/corpus/$target" ] && seeds+=("$root/fuzz/corpus/$target")
    echo "=== fuzz: $target for ${fuzz_seconds}s"
    if (cd "$work" && "$dir/fuzz/$target" -max_total_time="$fuzz_seconds" -timeout=10 \
          -rss_limit_mb=2048 -print_final_stats=0 "$work/corpus" "${seeds[@]}" >"$work/log" 2>&1); then
      record "fuzz $target" 0
    else
      tail -n 40 "$work/log"; ls "$work"/crash-* "$work"/timeout-* "$work"/leak-* "$work"/oom-* 2>/dev/null
      record "fuzz $target" 1
    fi
  done
}
if [ "$fuzz_seconds" -gt 0 ] && [ "$fuzz_count" -gt 0 ]; then
  run_fuzz_targets
fi

echo
if [ "$failed" -ne 0 ]; then
  echo "Failed: ${failures[*]}"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
