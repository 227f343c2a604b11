#!/usr/bin/env bash
# Installs what is missing, builds vorta and its tests, and runs them through
# ctest, stage by stage, each in a build folder of its own:
#   main      unit tests, the end-to-end recordings from a private PulseAudio
#             server that the suite starts itself, the manual and install checks
#   asan      unit tests under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan      unit tests under ThreadSanitizer
#   tsan-e2e  the quick end-to-end tests with the ThreadSanitizer-built vorta
#   fuzz      the command-line reader and vorta-web's header reading under
#             libFuzzer, VORTA_FUZZ_SECONDS (20) each
#   package   the Debian package built from a clean copy and checked (lintian,
#             hardening, contents, the units), its binary run as the unit runs it
#   long      not by default: a minute under load three ways, a 27 s stall
#   windows   the Windows build (MinGW-w64, scripts/build-windows.sh) under
#             wine: unit tests, same bytes as the Linux build, a recording
# VORTA_STAGES picks stages (default "main asan tsan tsan-e2e fuzz package windows"), e.g.
# VORTA_STAGES=main ./test.sh. Every stage runs even after one failed; the
# summary lists each, and the exit code is non-zero when any failed.
# Arguments go to the main stage's ctest. ccache is used when it is there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/scripts/install-deps.sh" test
stages=${VORTA_STAGES:-main asan tsan tsan-e2e fuzz package windows}
fuzz_seconds=${VORTA_FUZZ_SECONDS:-20}
# CMake takes the launcher from the environment, so the Debian package's
# own build gets it too.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$here CCACHE_NOHASHDIR=true
  export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi

# A finding ends the program at once with exit code 66, so no report can pass
# for a success. allocator_may_return_null lets a refused allocation come
# back as null, so the program's own out-of-memory path is what runs.
export ASAN_OPTIONS=halt_on_error=1:exitcode=66:detect_leaks=1:allocator_may_return_null=1:strict_string_checks=1:detect_stack_use_after_return=1
export LSAN_OPTIONS=suppressions=$here/tests/sanitizers/lsan.supp
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1:exitcode=66
export TSAN_OPTIONS="halt_on_error=1 exitcode=66 second_deadlock_stack=1 allocator_may_return_null=1 suppressions=$here/tests/sanitizers/tsan.supp"

build() {  # build DIR TARGETS -- [cmake options...]: one build at a time in a folder
  local dir=$1 targets=(); shift
  while [ "$1" != -- ]; do targets+=(--target "$1"); shift; done; shift
  mkdir -p "$dir"
  (
    flock 9
    cmake -S "$here" -B "$dir" -DVORTA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_UNITY=ON "$@" >/dev/null
    cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
  ) 9>"$dir/.build-lock"
}

results=() failed=0
record() {  # record STAGE STATUS
  results+=("$1: $([ "$2" -eq 0 ] && echo passed || echo "FAILED ($2)")")
  [ "$2" -eq 0 ] || failed=1
}
run_ctest() {  # run_ctest STAGE DIR [ctest options...]
  local stage=$1 dir=$2 status=0; shift 2
  echo && echo "=== $stage: ctest $*"
  (cd "$dir" && ctest --output-on-failure "$@") || status=$?
  record "$stage" "$status"
}
want() { [[ " $stages " == *" $1 "* ]]; }
stage() {  # stage NAME COMMAND...: times it; a failed build fails the stage
  want "$1" || return 0
  local name=$1 start=$SECONDS; shift
  "$@" || record "$name" $?
  echo "=== $name: $((SECONDS - start)) s"
}

# ctest runs as many tests at once as there are cores; the end-to-end tests
# and the browser's share one sound server and a timing, so they are marked
# RUN_SERIAL and run alone.
jobs=-j$(nproc)
main() {
  build "$here/build/test" all -- || return
  prebuild
  run_ctest main "$here/build/test" -LE 'long|debian' "$jobs" "$@"
}
# The end-to-end tests spend most of their time waiting on sound played in
# real time, so meanwhile the later stages' builds run in the background at
# the lowest priority: the recorder, the sound server and the tests come first.
# Each stage's own build then finds its folder built (or waits for it, or
# builds what failed and shows why); the log is build/prebuild.log.
prebuild_pid=
prebuild() {
  (
    renice -n 19 -p "$BASHPID" >/dev/null || true
    if want asan; then build_asan || true; fi
    if want tsan || want tsan-e2e; then build_tsan || true; fi
    if want fuzz; then build_fuzz || true; fi
  ) >"$here/build/prebuild.log" 2>&1 &
  prebuild_pid=$!
}
# The sanitizer builds compile at -O1 (with line tables only, see
# CMakeLists.txt): a third less compile time than -O2 with full debug
# information, and a finding's stack still names each function, file and line.
sanitized=(-DVORTA_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
build_asan() { build "$here/build/asan" vorta_unit -- -DVORTA_SANITIZE=address,undefined "${sanitized[@]}"; }
build_tsan() { build "$here/build/tsan" vorta_unit vorta_e2e -- -DVORTA_SANITIZE=thread "${sanitized[@]}"; }
build_fuzz() {
  CC=clang CXX=clang++ build "$here/build/fuzz" vorta_commandline_fuzz vorta_request_fuzz -- -DVORTA_FUZZ=ON
}
asan() { build_asan && run_ctest asan "$here/build/asan" -L unit "$jobs"; }
tsan() { build_tsan && run_ctest tsan "$here/build/tsan" -L unit "$jobs"; }
# The out-of-memory run is left out: its address-space limit has no room for
# ThreadSanitizer's shadow memory.
tsan_e2e() { run_ctest tsan-e2e "$here/build/tsan" -L e2e_quick -E OutOfMemory; }
long() { build "$here/build/test" vorta vorta_e2e -- && run_ctest long "$here/build/test" -L long; }
package() { build "$here/build/test" vorta -- && run_ctest package "$here/build/test" -L debian; }
fuzz() {
  build_fuzz || return
  # The two run side by side, each on a core of its own, each for its full time.
  local status=0 one two
  fuzz_one vorta_commandline_fuzz corpus 4096 >"$here/build/fuzz/corpus.out" 2>&1 & one=$!
  fuzz_one vorta_request_fuzz request-corpus 1024 >"$here/build/fuzz/request-corpus.out" 2>&1 & two=$!
  wait "$one" || status=$?
  wait "$two" || status=$?
  cat "$here/build/fuzz/corpus.out" "$here/build/fuzz/request-corpus.out"
  record fuzz "$status"
}
fuzz_one() {  # fuzz_one TARGET CORPUS MAX_LEN: runs it for fuzz_seconds on a copy of its corpus
  local work=$here/build/fuzz/$2 status=0
  rm -rf "$work" && mkdir -p "$work" && cp "$here"/tests/fuzz/"$2"/* "$work"/
  # setsid and no stdin: no terminal, as the reader must never wait for a key.
  setsid "$here/build/fuzz/tests/fuzz/$1" -max_total_time="$fuzz_seconds" \
    -max_len="$3" -timeout=10 -rss_limit_mb=2048 "$work" </dev/null >"$work.log" 2>&1 || status=$?
  [ "$status" -eq 0 ] || tail -60 "$work.log"
  grep -E '^Done ' "$work.log" || true
  return "$status"
}

windows() {
  export WINEPREFIX=$here/build/windows/wineprefix WINEDEBUG=-all
  "$here/scripts/build-windows.sh" --run-unit || return
  want main || build "$here/build/test" vorta vorta_e2e -- || return
  VORTA_WINDOWS_EXE=$here/build/windows/vorta.exe run_ctest windows "$here/build/test" -L e2e -R '^Windows\.'
}

stage main main "$@"
stage asan asan
stage tsan tsan
if want tsan-e2e && ! want tsan; then build_tsan || true; fi
stage tsan-e2e tsan_e2e
stage fuzz fuzz
stage package package
stage long long
stage windows windows

[ -z "$prebuild_pid" ] || wait "$prebuild_pid" || true
echo && echo "=== summary (${SECONDS} s)"
printf '  %s\n' "${results[@]}"
exit "$failed"
