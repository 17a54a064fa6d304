#!/usr/bin/env bash
# Builds Tavolix and runs every test: the unit tests and the end-to-end tests under Xvfb, every
# benchmark once, then the tests again with AddressSanitizer and UndefinedBehaviorSanitizer
# (leaks included), then the fuzzers for their bounded time.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
jobs="${JOBS:-2}"
"$root/scripts/deps.sh"

echo "== build"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"

echo "== unit and end-to-end tests"
(cd "$root/build" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure)

# Every benchmark once, on small inputs and without its heaviest cases, so that none breaks
# unnoticed; the figures of such a run mean nothing and are not judged.
echo "== benchmarks, once each"
(cd "$root/build" && TAVOLIX_BENCH_QUICK=1 xvfb-run -a -s "-screen 0 1280x1024x24" \
  bench/tavolix_bench --benchmark_min_time=0.01 \
  '--benchmark_filter=-radial:1|size:128|FlattenOneMode|/8|layers:8|maze|ThroughThePopup|AutosaveWhilePainting' \
  >bench-quick.log 2>&1) || { tail -n 30 "$root/build/bench-quick.log"; exit 1; }
if grep -q "ERROR OCCURRED" "$root/build/bench-quick.log"; then
  grep "ERROR OCCURRED" "$root/build/bench-quick.log"
  exit 1
fi

echo "== sanitizer build"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTAVOLIX_SANITIZE=ON -DTAVOLIX_BENCH=OFF >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
echo "== sanitizer unit tests"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
(cd "$root/build-asan" && xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -R unit_tests)
# The program unloads the graphics driver at exit, and what the driver never freed is then
# reported without a module name to suppress it by: leaks are left to the unit tests above.
echo "== sanitizer end-to-end tests"
(cd "$root/build-asan" && ASAN_OPTIONS="detect_leaks=0:halt_on_error=1" ctest --output-on-failure -R e2e_)

echo "== fuzzing the file readers"
"$root/scripts/fuzz.sh"
