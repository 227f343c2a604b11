#!/usr/bin/env bash
# Installs what is missing, builds vorta in Release and runs it with the
# arguments given: ./run.sh -b 128 rec
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh" run
build="$here/build/release"
log="$build.log"
mkdir -p "$build"
if ! { cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORTA_TESTS=OFF -DVORTA_BENCH=OFF &&
       cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1; then
  cat "$log" >&2
  exit 1
fi
exec "$build/vorta" "$@"
