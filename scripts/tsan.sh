#!/usr/bin/env bash
# ThreadSanitizer run of the threaded layers: builds the engine, server, search, scan
# and whole-server tests with -fsanitize=thread in build/tsan and runs them.
# Races found are printed by the sanitizer and fail the run (exit status 66).
# Known false positives are listed, each with its reason, in
# scripts/tsan-suppressions.txt.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${VANTREL_JOBS:-$(nproc)}
dir="$root/build/tsan"
targets=(vantrel_engine_tests vantrel_server_tests vantrel_search_tests vantrel_scan_tests vantrel_e2e_tests)

if command -v ccache >/dev/null 2>&1; then
  export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
  export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
fi
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTREL_TSAN=ON \
  -DVANTREL_SANITIZE=OFF -DVANTREL_BENCH=OFF >"$dir.configure.log" 2>&1 ||
  { cat "$dir.configure.log"; exit 1; }
cmake --build "$dir" -j "$jobs" --target "${targets[@]}" >"$dir.build.log" 2>&1 ||
  { tail -n 60 "$dir.build.log"; exit 1; }

# halt_on_error keeps the first report readable; second_deadlock_stack helps
# with lock-order reports.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 exitcode=66 suppressions=$root/scripts/tsan-suppressions.txt ${TSAN_OPTIONS:-}"
# The PDF text helper runs under an address-space limit, which a
# ThreadSanitizer build (with its large shadow mappings) cannot start within.
export VANTREL_PDF_MEMORY_LIMIT_MB=0
status=0
for t in "${targets[@]}"; do
  bin=$(find "$dir" -name "$t" -type f -perm -u+x | head -n 1)
  if [ -z "$bin" ]; then echo "=== $t: not built"; status=1; continue; fi
  echo "=== $t"
  # The whole-server tests start the server binary, which runs under TSan too.
  # Run from the build folder, as ctest does: the tests find their kept
  # inputs relative to it.
  (cd "$dir" && "$bin" --gtest_brief=1) || { echo "=== $t FAILED"; status=1; }
done
exit $status
