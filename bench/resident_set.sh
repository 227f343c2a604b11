#!/usr/bin/env bash
# Resident memory of long recordings with the default working buffer (a
# twentieth of physical memory, counted up to 4 GiB): every given vorta
# binary records the same steady tone from one private PulseAudio server at
# the same time, at 44.1 kHz stereo, 128 kbit/s, and each one's VmRSS is
# sampled once a minute. At the end each gets SIGTERM; its exit code and file
# size are shown beside the table.
#
#   bench/resident_set.sh MINUTES FOLDER NAME=BINARY [NAME=BINARY ...]
#
# The table (FOLDER/table.txt) has one column of kB per binary. Nothing is
# asserted: the figures go into docs/performance.md.
set -euo pipefail
minutes=${1:?minutes to record}
dir=$(mkdir -p "${2:?folder}" && cd "$2" && pwd)
shift 2
[ $# -gt 0 ] || { echo "name=binary expected" >&2; exit 2; }
here=$(cd "$(dirname "$0")/.." && pwd)

names=() pids=()
pulse=$dir/pulse
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  "$here/scripts/pulse-private.sh" stop "$pulse" || true
}
trap cleanup EXIT
"$here/scripts/pulse-private.sh" start "$pulse" >/dev/null
# shellcheck disable=SC1091
. "$pulse/env"
pactl load-module module-sine sink=vsink frequency=440 >/dev/null

for pair in "$@"; do
  name=${pair%%=*}
  binary=${pair#*=}
  rm -f "$dir/$name.mp3"
  # No terminal, stdin closed: as under a service.
  setsid "$binary" -b 128 -d 44 "$dir/$name.mp3" </dev/null >"$dir/$name.out" 2>"$dir/$name.err" &
  names+=("$name")
  pids+=($!)
done
start=$(date +%s)

table=$dir/table.txt
{ printf '%6s' minute; for n in "${names[@]}"; do printf ' %12s' "$n"; done; echo; } | tee "$table"
row() {  # minute
  printf '%6s' "$1"
  for pid in "${pids[@]}"; do
    printf ' %12s' "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo gone)"
  done
  echo
}
sleep 5  # past start-up: device open, first file created
row 0 | tee -a "$table"
for m in $(seq 1 "$minutes"); do
  target=$((start + 60 * m))  # to the minute mark, so drift does not add up
  now=$(date +%s)
  [ "$target" -gt "$now" ] && sleep $((target - now))
  row "$m" | tee -a "$table"
done

for i in "${!pids[@]}"; do
  kill -TERM "${pids[$i]}"
  code=0
  wait "${pids[$i]}" || code=$?
  echo "${names[$i]}: exit code $code, $(stat -c %s "$dir/${names[$i]}.mp3") bytes" | tee -a "$table"
done
pids=()
