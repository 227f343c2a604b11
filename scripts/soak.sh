#!/usr/bin/env bash
# A long recording to watch for slow leaks: vorta (Release build) records a
# steady tone from a private PulseAudio server for the given number of
# minutes. Once a minute its resident memory, CPU time and open descriptors
# are sampled into a table; at the end it is stopped with SIGTERM, as a
# service manager would, and the file is checked: exit code 0, size close to
# bitrate x time, and the whole file decodes.
#
#   scripts/soak.sh MINUTES [FOLDER]
#
# FOLDER (default build/soak) holds the build, the server and the recording.
# Not part of ./test.sh: it takes as long as it is told to.
set -euo pipefail
minutes=${1:?minutes to record}
here=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mkdir -p "${2:-$here/build/soak}" && cd "${2:-$here/build/soak}" && pwd)
bitrate=128
# The ring buffer's pages become resident as the writer first passes over
# them; at the default size (a twentieth of memory) that first lap takes
# about 20 minutes and would look like growth. 4 MB is passed within 30 s,
# so resident memory that still climbs after minute 1 is a leak.
buffer_kb=4096

"$here/scripts/install-deps.sh" run
cmake -S "$here" -B "$dir/build" -DCMAKE_BUILD_TYPE=Release -DVORTA_TESTS=OFF \
  -DVORTA_BENCH=OFF >/dev/null
cmake --build "$dir/build" -j2 --target vorta >/dev/null
vorta=$dir/build/vorta

pulse=$dir/pulse
vorta_pid=
cleanup() {
  [ -n "$vorta_pid" ] && kill "$vorta_pid" 2>/dev/null || true
  "$here/scripts/pulse-private.sh" stop "$pulse" || true
}
trap cleanup EXIT
"$here/scripts/pulse-private.sh" start "$pulse"
# shellcheck disable=SC1091
. "$pulse/env"
# A sine played into the null sink for as long as the server runs: the
# monitor source that vorta records carries it without a gap.
pactl load-module module-sine sink=vsink frequency=440 >/dev/null

rec=$dir/soak.mp3
rm -f "$rec"
# No controlling terminal and stdin closed, as under a service.
setsid "$vorta" -b "$bitrate" -f "$buffer_kb" "$rec" </dev/null >"$dir/vorta.out" 2>"$dir/vorta.err" &
vorta_pid=$!
start=$(date +%s)

ticks=$(getconf CLK_TCK)
sample() {  # minute
  local rss cpu fds utime stime
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$vorta_pid/status")
  read -r utime stime < <(awk '{print $14, $15}' "/proc/$vorta_pid/stat")
  cpu=$(awk -v t=$((utime + stime)) -v hz="$ticks" 'BEGIN {printf "%.2f", t / hz}')
  fds=$(ls "/proc/$vorta_pid/fd" | wc -l)
  printf '%6s %10s %10s %6s %12s\n' "$1" "$rss" "$cpu" "$fds" "$(stat -c %s "$rec" 2>/dev/null || echo 0)"
}

table=$dir/table.txt
printf '%6s %10s %10s %6s %12s\n' minute rss_kB cpu_s fds file_bytes | tee "$table"
sleep 5  # past start-up: device open, first file created
sample 0 | tee -a "$table"
for m in $(seq 1 "$minutes"); do
  # Sleep to the minute mark from the start, so that drift does not add up.
  target=$((start + 60 * m))
  now=$(date +%s)
  [ "$target" -gt "$now" ] && sleep $((target - now))
  if ! kill -0 "$vorta_pid" 2>/dev/null; then
    echo "vorta ended by itself before minute $m; its error output:" >&2
    cat "$dir/vorta.err" >&2
    exit 1
  fi
  sample "$m" | tee -a "$table"
done

kill -TERM "$vorta_pid"
set +e
wait "$vorta_pid"
code=$?
set -e
vorta_pid=
elapsed=$(($(date +%s) - start))

fail=0
echo
echo "exit code: $code"
[ "$code" -eq 0 ] || fail=1
size=$(stat -c %s "$rec")
per_second=$((bitrate * 1000 / 8))
echo "file: $size bytes after ${elapsed}s ($((per_second * elapsed)) at $bitrate kbit/s for the whole time)"
# Opening the device takes a few seconds of the run, and the server's clock
# may drift from the system's by a little: the file holds at least all but
# 5 s and 1% of the time, and no more than all of it plus 1%.
low=$((per_second * (elapsed - 5) * 99 / 100))
high=$((per_second * elapsed * 101 / 100))
if [ "$size" -lt "$low" ] || [ "$size" -gt "$high" ]; then
  echo "file size is outside $low..$high bytes: sound was lost or invented" >&2
  fail=1
fi
if command -v mpg123 >/dev/null; then
  # -t decodes without playing; a broken frame shows as an error message.
  if mpg123 -t -q "$rec" 2>"$dir/decode.err" && ! grep -qi 'error\|warning' "$dir/decode.err"; then
    echo "decode: whole file decodes cleanly"
  else
    echo "decode: mpg123 reported:" >&2
    cat "$dir/decode.err" >&2
    fail=1
  fi
else
  echo "decode: mpg123 is not installed; skipped"
fi
if grep -q 'overflow\|rror' "$dir/vorta.out" "$dir/vorta.err"; then
  echo "vorta reported trouble:" >&2
  grep 'overflow\|rror' "$dir/vorta.out" "$dir/vorta.err" >&2
  fail=1
fi
echo
cat "$table"
exit "$fail"
