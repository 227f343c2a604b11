#!/usr/bin/env bash
# Measures what vorta costs while it records and prints one table:
#   - the encoder pipeline (pcmRing, encoder thread, file) against bare
#     libmp3lame calls on the same ten minutes of PCM (bench/pipeline_bench)
#   - the ring buffer between two threads against memcpy (bench/ring_bench)
#   - a 60 s recording from a private PulseAudio server by vorta, by
#     arecord | lame and by ffmpeg: CPU, context switches, memory, sound kept
#   - how quickly ESC and SIGTERM end a recording (bench/reaction_bench)
# Installs what it needs, builds in Release in build/bench (-j2), and keeps
# every raw figure in build/bench/run/.
#
#   bench/run.sh              everything (about 20 minutes)
#   TABLE_ONLY=1 bench/run.sh   the table of the last run again, measuring nothing
#   REPS=5 ROUNDS=5 bench/run.sh
#                             more interleaved runs of the pipeline benchmark
#                             and more rounds of the three recorders
# The machine may be busy: the pipeline takes the minimum of interleaved runs,
# the ring the fastest of 5 repetitions, the recorders the least CPU and
# switches of interleaved rounds (and the most memory, the least sound kept).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$root/build/bench
work=$build/run
reps=${REPS:-3}
rounds=${ROUNDS:-3}

"$root/scripts/install-deps.sh" bench
mkdir -p "$build"
if ! { cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVORTA_TESTS=OFF \
         -DVORTA_BENCH=ON && cmake --build "$build" -j2; } >"$build/build.log" 2>&1; then
  cat "$build/build.log" >&2
  exit 1
fi
bin=$build/bench
vorta=$build/vorta
played=60.000
if [ "${TABLE_ONLY:-}" != 1 ]; then
rm -rf "$work"
mkdir -p "$work"
log() { echo "== $*" >&2; }

# --- 1. pipeline against bare libmp3lame --------------------------------------
log "pipeline against bare libmp3lame ($reps interleaved runs each, minimum)"
"$bin/pipeline_bench" "$reps" | tee "$work/pipeline.txt" >&2

# --- 2. ring buffer against memcpy ---------------------------------------------
log "ring buffer against memcpy (5 repetitions, fastest)"
"$bin/ring_bench" --benchmark_repetitions=5 --benchmark_display_aggregates_only=true \
  --benchmark_out="$work/ring.csv" --benchmark_out_format=csv >&2

# --- 3. recording against the usual tools --------------------------------------
pulse=$work/pulse
"$root/scripts/pulse-private.sh" start "$pulse" >&2
trap '"$root/scripts/pulse-private.sh" stop "$pulse"' EXIT
# shellcheck disable=SC1091
. "$pulse/env"
# Sixty seconds of chords that change every half second, stereo, 44.1 kHz.
ffmpeg -nostdin -loglevel error -y -f lavfi -i \
  "aevalsrc='0.25*sin(2*PI*(220+110*floor(2*t))*t)+0.15*sin(2*PI*(330+55*floor(4*t))*t)|0.2*sin(2*PI*(440+110*floor(2*t))*t)+0.1*sin(2*PI*1760*t)':s=44100:d=60" \
  -c:a pcm_s16le "$work/signal.wav"

fmt="%U %S %M %w %c %e"
# record NAME ROUND COMMAND...: COMMAND starts the recorder in the background
# in the current folder and writes the pid to stop into ./pid; the played
# signal starts 1 s later, the recorder is stopped with SIGTERM 1 s after it
# ends. Just before, each thread's CPU ticks and context switches are kept.
record() {
  local name=$1 round=$2; shift 2
  local dir=$work/$name/$round
  mkdir -p "$dir"
  (
    cd "$dir"
    cut -d' ' -f1 /proc/loadavg >load.txt
    "$@"
    for _ in $(seq 100); do [ -s pid ] && break; sleep 0.05; done
    sleep 1
    paplay "$work/signal.wav"
    sleep 1
    pid=$(cat pid)
    grep -E 'VmPeak|VmHWM' "/proc/$pid/status" >vm.txt 2>/dev/null || true
    for t in /proc/"$pid"/task/*; do
      read -r -a f <<<"$(sed 's/.*) //' "$t/stat")"
      echo "$(cat "$t/comm") cpu_ticks=$((f[11] + f[12])) $(grep ctxt "$t/status" | tr -s '\t\n' '= ')"
    done >threads.txt 2>/dev/null || true
    kill -TERM "$pid"
    wait
  )
  "$bin/mp3_duration" "$dir/out.mp3" >"$dir/duration.txt" || true
}

start_vorta() {
  /usr/bin/time -f "$fmt" -o time1.txt sh -c 'echo $$ >pid; exec "$0" "$@"' \
    "$vorta" -b 128 -d 44 -mj -qh out.mp3 </dev/null >out.log 2>&1 &
}
start_arecord_lame() {
  /usr/bin/time -f "$fmt" -o time1.txt sh -c 'echo $$ >pid; exec "$0" "$@"' \
      arecord -q -D default -f cd -t raw </dev/null 2>arecord.log |
    /usr/bin/time -f "$fmt" -o time2.txt lame --quiet -r -q 2 -b 128 - out.mp3 2>lame.log &
}
start_ffmpeg() {
  /usr/bin/time -f "$fmt" -o time1.txt sh -c 'echo $$ >pid; exec "$0" "$@"' \
    ffmpeg -nostdin -loglevel error -y -f alsa -sample_rate 44100 -channels 2 -i default \
    -c:a libmp3lame -b:a 128k -compression_level 2 out.mp3 </dev/null >out.log 2>&1 &
}

for round in $(seq "$rounds"); do
  for tool in vorta arecord_lame ffmpeg; do
    log "recording 60 s with $tool, round $round of $rounds"
    record "$tool" "$round" "start_$tool"
  done
done

# --- 4. reaction to ESC and SIGTERM --------------------------------------------
log "reaction to ESC and SIGTERM (10 runs each)"
mkdir -p "$work/reaction"
"$bin/reaction_bench" "$vorta" "$work/reaction" 10 | tee "$work/reaction.txt" >&2

fi

# --- the table -----------------------------------------------------------------
row() { printf '| %-62s | %-26s | %-19s | %-4s |\n' "$@"; }
yes_no() { awk "BEGIN { exit !($1) }" && echo yes || echo NO; }

echo
row "Figure" "Value" "Goal" "Met?"
row "------" "-----" "----" "----"

for q in high low; do
  line=$(grep "^$q" "$work/pipeline.txt")
  ratio=$(sed -E 's/.*ratio ([0-9.]+).*/\1/' <<<"$line")
  pipe=$(sed -E 's/.*pipeline ([0-9.]+) s.*/\1/' <<<"$line")
  bare=$(sed -E 's/.*bare libmp3lame ([0-9.]+) s.*/\1/' <<<"$line")
  row "Pipeline / bare libmp3lame CPU, 10 min, $q quality" "$ratio ($pipe / $bare s)" "<= 1.03" \
    "$(yes_no "$ratio <= 1.03")"
done

# bytes_per_second of the fastest repetition (least real time) of a run.
fastest() {
  awk -F, -v n="\"$1\"" '$1 == n && (best == "" || $3 < best) { best = $3; rate = $6 }
                          END { print rate + 0 }' "$work/ring.csv"
}
for size in 4096 16384 65536 262144 1048576; do
  ring=$(fastest "BM_RingTwoThreads/$size/4194304/process_time/real_time")
  copy=$(fastest "BM_Memcpy/$size/real_time")
  share=$(awk -v r="$ring" -v c="$copy" 'BEGIN { printf "%.2f", (c > 0 ? r / c : 0) }')
  row "Ring two threads / memcpy, $((size / 1024)) KiB blocks" \
    "$share ($(awk -v r="$ring" -v c="$copy" 'BEGIN { printf "%.1f / %.1f GB/s", r / 1e9, c / 1e9 }'))" \
    ">= 0.5" "$(yes_no "$share >= 0.5")"
done
# The 64 MiB ring gives back the pages its reader passes: page faults on
# every lap, the price of a resident set that follows what the ring holds.
for size in 65536 1048576; do
  ring=$(fastest "BM_RingTwoThreads/$size/67108864/process_time/real_time")
  copy=$(fastest "BM_Memcpy/$size/real_time")
  row "Ring (64 MiB, pages given back) / memcpy, $((size / 1024)) KiB blocks" \
    "$(awk -v r="$ring" -v c="$copy" 'BEGIN { printf "%.2f (%.2f / %.1f GB/s)", (c > 0 ? r / c : 0), r / 1e9, c / 1e9 }')" \
    "(reported)" "-"
done
# Per CPU second (both threads of the ring): bytes moved per iteration over
# the least CPU time of the repetitions.
for size in 4096 65536 1048576; do
  per_cpu() {
    awk -F, -v n="\"$1\"" '$1 == n && (best == "" || $4 < best) { best = $4 }
                            END { printf "%.2f", 64 * 1048576 / (best / 1000) / 1e9 }' "$work/ring.csv"
  }
  ring=$(per_cpu "BM_RingTwoThreads/$size/4194304/process_time/real_time")
  copy=$(per_cpu "BM_Memcpy/$size/real_time")
  row "Ring / memcpy per CPU second, $((size / 1024)) KiB blocks" \
    "$(awk -v r="$ring" -v c="$copy" 'BEGIN { printf "%.2f (%.1f / %.1f GB/s)", r / c, r, c }')" \
    "(reported; <= 0.5)" "-"
done

# Per tool and round: CPU s per recorded minute, voluntary context switches
# (wake-ups) and involuntary ones (preemptions, which the machine's load
# decides) per s, peak RSS MiB, decoded and sounding seconds, longest gap; then per tool the least
# CPU and switches, the most memory, the least sound and the longest gap.
declare -A cpu cs pre rss dur span gap
for tool in vorta arecord_lame ffmpeg; do
  for d in "$work/$tool"/*/; do
    cat "$d"/time*.txt | grep -E '^[0-9]' >"$d/times.txt" || true
    read -r total sound longest <"$d/duration.txt" || { total=0; sound=0; longest=0; }
    awk -v t="$total" -v s="$sound" -v g="$longest" '
      { c += $1 + $2; w += $4 / ($6 > 0 ? $6 : 1); p += $5 / ($6 > 0 ? $6 : 1); m += $3 }
      END { printf "%.2f %.1f %.1f %.1f %s %s %s\n", (t > 0 ? c / (t / 60) : 0), w, p, m / 1024,
                   t, s, g }' "$d/times.txt" >"$d/figures.txt"
  done
  read -r cpu[$tool] cs[$tool] pre[$tool] rss[$tool] dur[$tool] span[$tool] gap[$tool] < <(
    cat "$work/$tool"/*/figures.txt | awk '
      NR == 1 { c = $1; w = $2; p = $3; m = $4; t = $5; s = $6; g = $7; next }
      { if ($1 < c) c = $1; if ($2 < w) w = $2; if ($3 < p) p = $3; if ($4 > m) m = $4
        if ($5 < t) t = $5; if ($6 < s) s = $6; if ($7 > g) g = $7 }
      END { print c, w, p, m, t, s, g }')
done
peer_cpu=$(awk -v a="${cpu[arecord_lame]}" -v b="${cpu[ffmpeg]}" 'BEGIN { print (a < b ? a : b) }')
peer_cs=$(awk -v a="${cs[arecord_lame]}" -v b="${cs[ffmpeg]}" 'BEGIN { print (a < b ? a : b) }')
for tool in vorta arecord_lame ffmpeg; do
  name=${tool/_/+}
  if [ "$tool" = vorta ]; then
    row "CPU s per recorded minute: $name" "${cpu[$tool]}" "< $peer_cpu" "$(yes_no "${cpu[$tool]} < $peer_cpu")"
    row "Wake-ups (voluntary switches) per s: $name" "${cs[$tool]}" "< $peer_cs" "$(yes_no "${cs[$tool]} < $peer_cs")"
  else
    row "CPU s per recorded minute: $name" "${cpu[$tool]}" "(peer)" "-"
    row "Wake-ups (voluntary switches) per s: $name" "${cs[$tool]}" "(peer)" "-"
  fi
  row "Preemptions (involuntary switches) per s: $name" "${pre[$tool]}" "(reported)" "-"
done
for tool in vorta arecord_lame ffmpeg; do
  name=${tool/_/+}
  row "Peak RSS MiB: $name" "${rss[$tool]}" "(reported)" "-"
done
vm=$(awk '/VmPeak/ { printf "%.0f", $2 / 1024; exit }' "$work"/vorta/*/vm.txt 2>/dev/null || true)
row "Virtual size MiB (VmPeak): vorta, default buffer" "${vm:-?}" "(reported)" "-"
for tool in vorta arecord_lame ffmpeg; do
  name=${tool/_/+}
  ok=$(yes_no "${span[$tool]} >= $played - 0.05 && ${gap[$tool]} < 50")
  row "Sound kept of $played s played: $name" "${span[$tool]} s, gap ${gap[$tool]} ms" ">= 59.95 s, < 50 ms" "$ok"
  row "Decoded length: $name" "${dur[$tool]} s" "(reported)" "-"
done

for how in esc sigterm; do
  read -r _ okruns failed _ rmed rmax _ dmed dmax _ emed emax < <(grep "^$how" "$work/reaction.txt")
  label=$([ "$how" = esc ] && echo "ESC" || echo "SIGTERM")
  row "$label -> device stopped, ms (median / max of $okruns, $failed failed)" "$rmed / $rmax" "<= 1100" \
    "$(yes_no "$rmax <= 1100 && $failed == 0")"
  row "$label: draining took, ms (median / max)" "$dmed / $dmax" "(reported)" "-"
  row "$label: drained -> exit, ms (median / max)" "$emed / $emax" "<= 100" "$(yes_no "$emax <= 100")"
done
loads=$(cat "$work"/*/*/load.txt | sort -n | tr '\n' ' ')
echo
echo "$(nproc) processors; load average (1 min) at the start of each recording: $loads"
