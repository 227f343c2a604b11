#!/usr/bin/env bash
# Installs what is missing, builds vorta and every test, and runs them all
# through ctest: unit tests, then the end-to-end recordings from a private
# PulseAudio server that the suite starts and stops itself.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh" test
jobs=$(nproc)

build() {  # build DIR [cmake options...]
  local dir=$1; shift
  cmake -S "$here" -B "$dir" -DVORTA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}

build "$here/build/test" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$here/build/test"
ctest --output-on-failure -j1 "$@"
