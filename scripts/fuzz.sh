#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time (FUZZ_SECONDS,
# default 60) on a copy of its sample folder. Any crash, leak or sanitizer report fails.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${FUZZ_SECONDS:-60}"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVOLIX_FUZZ=ON -DTAVOLIX_TESTS=OFF -DTAVOLIX_BENCH=OFF >/dev/null
cmake --build "$root/build-fuzz" -j "${JOBS:-2}"

export ASAN_OPTIONS="detect_leaks=1"
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
run() { # name, sample folder
  local corpus log status=0
  corpus="$(mktemp -d)"
  log="$(mktemp)"
  cp -r "$2"/. "$corpus"/
  echo "== fuzz $1 for ${seconds}s"
  (cd "$root/build-fuzz" && xvfb-run -a "./tests/fuzz/$1" -max_total_time="$seconds" \
     -rss_limit_mb=4096 -timeout=20 -print_final_stats=1 "$corpus") >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then tail -n 80 "$log"; else tail -n 6 "$log"; fi
  rm -rf "$corpus" "$log"
  return "$status"
}
run fuzz_document_load "$root/tests/data/document"
run fuzz_settings "$root/tests/data/settings"
run fuzz_palette_deserialize "$root/tests/data/palette"
run fuzz_gui_layout "$root/tests/data/layout"
run fuzz_gui_textarea "$root/tests/data/textarea"
run fuzz_ora_load "$root/tests/data/ora"
