#!/usr/bin/env bash
# Builds Tavolix and starts it. Extra arguments go to the program (for example -v).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target tavolix
exec "$root/build/tavolix" "$@"
