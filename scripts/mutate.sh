#!/usr/bin/env bash
# Mutation testing: do the tests catch realistic one-line faults?
#
#   scripts/mutate.sh [REGEX]    only the mutations whose line matches REGEX
#
# Each line of scripts/mutations.txt (path<TAB>original<TAB>replacement; the
# original occurs exactly once in the file; # starts a comment) is applied in
# turn to a scratch copy of the tree (build/mutate/tree, the work tree without
# build/ and .git), built incrementally in one scratch build folder (ccache
# when present), and the quick stage runs: ctest -L quick, the unit tests and
# the e2e tests of a few seconds each, stopping at the first failure. A fault
# the quick stage misses gets the whole main stage (what ./test.sh runs as
# "main": ctest -LE 'long|debian', every target built). Then the file is put
# back. A mutation is killed when a test fails, survived when all pass; one
# that does not build or whose original is not there (or twice) is reported as
# such and counts as neither. The last lines are the two scores; the exit code
# is non-zero when a fault survived the main stage.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
filter=${1:-}
list=$here/scripts/mutations.txt
work=$here/build/mutate
tree=$work/tree build=$work/build log=$work/log
mkdir -p "$work"

# What git tracks or would track, brought into the scratch tree file by file:
# a changed file gets a new time, so the incremental build compiles it even
# when the scratch build is newer than the change; an unchanged one keeps its
# time and is not compiled again.
incoming=$work/incoming
rm -rf "$incoming" && mkdir -p "$incoming" "$tree"
git -C "$here" ls-files -z --cached --others --exclude-standard |
  (cd "$here" && tar --null -T - --ignore-failed-read -cf -) | tar -x -C "$incoming"
(cd "$incoming" && find . -type f -print0) | while IFS= read -r -d '' f; do
  cmp -s "$incoming/$f" "$tree/$f" || { mkdir -p "$(dirname "$tree/$f")" && cp "$incoming/$f" "$tree/$f"; }
done
(cd "$tree" && find . -type f -print0) | while IFS= read -r -d '' f; do
  [ -e "$incoming/$f" ] || rm -f "$tree/$f"
done
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=$tree CCACHE_NOHASHDIR=true
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORTA_BENCH=OFF "${launcher[@]}" >/dev/null
build() { cmake --build "$build" -j"$(nproc)" >"$log" 2>&1; }
quick() {
  (cd "$build" && timeout -k 10 900 ctest -L quick --stop-on-failure --timeout 120 >"$log" 2>&1)
  local status=$?
  pulse_stop
  return $status
}
main() {
  cmake --build "$build" -j"$(nproc)" >"$log" 2>&1 || return
  (cd "$build" && timeout -k 10 1800 ctest -LE 'long|debian' --stop-on-failure --timeout 600 >"$log" 2>&1)
  local status=$?
  pulse_stop
  return $status
}
# A run stopped at its first failure skips the fixture that stops the private
# sound server; stop it here, so no server is left behind by a killed mutation.
pulse_stop() { "$tree/scripts/pulse-private.sh" stop "$build/pulse" >/dev/null 2>&1 || true; }
trap pulse_stop EXIT
killer() { grep -A1 'tests FAILED' "$log" | tail -1 | sed -E 's/^[[:space:]]*[0-9]+ - //; s/ .*//'; }
build || { tail -30 "$log"; echo "the unmutated tree does not build"; exit 2; }
quick || { tail -30 "$log"; echo "the quick stage fails without a mutation"; exit 2; }

killed=0 survived=0 broken=0 late=0
while IFS= read -r line; do
  [[ -z $line || $line == \#* ]] && continue
  [[ -n $filter && ! $line =~ $filter ]] && continue
  IFS=$'\t' read -r path original replacement <<<"$line"
  file=$tree/$path
  shown="$path: $original -> $replacement"
  count=$(ORIGINAL=$original perl -0777 -ne 'print scalar(() = /\Q$ENV{ORIGINAL}\E/g)' "$file" 2>/dev/null)
  if [ "${count:-0}" != 1 ]; then
    echo "stale     $shown (found ${count:-0} times)"; broken=$((broken + 1)); continue
  fi
  cp "$file" "$work/original"
  ORIGINAL=$original REPLACEMENT=$replacement perl -0777 -pi -e 's/\Q$ENV{ORIGINAL}\E/$ENV{REPLACEMENT}/' "$file"
  if ! build; then
    echo "no build  $shown"; broken=$((broken + 1))
  elif ! quick; then
    by=$(killer)
    echo "killed    $shown (by ${by:-a failing test})"; killed=$((killed + 1))
  elif main; then
    echo "SURVIVED  $shown (the quick and the main stage)"; survived=$((survived + 1))
  else
    by=$(killer)
    echo "main      $shown (the quick stage missed it; the main stage's ${by:-failing test} killed it)"
    late=$((late + 1))
  fi
  cat "$work/original" >"$file"  # new mtime: the next build compiles it again
done <"$list"
build
# A quick stage stopped at its first failure skips the fixture that stops
# the private sound server.
"$here/scripts/pulse-private.sh" stop "$build/pulse"
total=$((killed + late + survived))
echo "quick stage: $killed of $total killed; $broken not run"
echo "main stage: $((killed + late)) of $total killed, $survived survived"
[ "$survived" -eq 0 ]
