#!/usr/bin/env bash
# A private PulseAudio server for tests and for trying vorta without a sound
# card. Its only device is the null sink "vsink", whose monitor is the default
# source; ALSA's "default" device reaches it through the pulse plugin.
#   pulse-private.sh start DIR [PID]
#                                a server whose files live in DIR; DIR/env holds
#                                the variables that point a shell's clients at it.
#                                With PID, the server is stopped once that process
#                                is gone, however it ended (a test binary killed by
#                                a timeout leaves no server running behind it).
#   pulse-private.sh stop DIR    kill it and what it left behind
set -euo pipefail
cmd=${1:?start or stop}
dir=$(mkdir -p "${2:?folder}" && cd "$2" && pwd)

# A process that has ended may stay a zombie for a second or more before
# whoever adopted it reaps it; kill -0 still finds it, so the state counts.
running() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1) && [ -n "$state" ] && [ "$state" != Z ]
}
stop() {
  for f in "$dir/keepalive.pid" "$dir/pid"; do
    [ -f "$f" ] || continue
    pid=$(cat "$f") && rm -f "$f" && kill -CONT "$pid" 2>/dev/null && kill "$pid" 2>/dev/null || continue
    for _ in $(seq 50); do running "$pid" || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  done
}

[ "$cmd" = stop ] && { stop; exit 0; }
[ "$cmd" = start ] || { echo "unknown command $cmd" >&2; exit 2; }
stop
rm -rf "${dir:?}"/{run,home,state,config} && mkdir -p "$dir"/{run,home,state,config} && chmod 700 "$dir/run"
cat >"$dir/env" <<ENV
export PULSE_SERVER=unix:$dir/run/native
export PULSE_RUNTIME_PATH=$dir/run
export PULSE_STATE_PATH=$dir/state
export PULSE_CONFIG_PATH=$dir/config
export XDG_RUNTIME_DIR=$dir/run
export PULSE_CLIENTCONFIG=$dir/client.conf
ENV
# No shared memory for clients either: the server has none, and a client that
# tries it under a file size limit prints to vorta's stderr.
echo "enable-shm = no" >"$dir/client.conf"
. "$dir/env"
HOME=$dir/home setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
  --use-pid-file=no --system=false --disable-shm=yes \
  -L "module-native-protocol-unix socket=$dir/run/native auth-anonymous=1" \
  -L "module-null-sink sink_name=vsink rate=48000 channels=2" -L module-always-sink \
  --log-target=file:"$dir/log" </dev/null >/dev/null 2>&1 &
echo $! >"$dir/pid"
for _ in $(seq 100); do
  if pactl info >/dev/null 2>&1; then
    pactl set-default-sink vsink && pactl set-default-source vsink.monitor
    # With nothing playing a null sink renders in blocks of up to two seconds,
    # so its monitor delivers late and in lumps, unlike a sound card. Zeros
    # at a short latency keep it rendering in real time.
    setsid pacat --playback --raw --format=s16le --rate=48000 --channels=2 --latency-msec=20 \
      --device=vsink </dev/zero >/dev/null 2>&1 &
    echo $! >"$dir/keepalive.pid"
    if [ -n "${3:-}" ]; then
      setsid bash -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done; exec "$2" stop "$3"' \
        owner "$3" "$0" "$dir" </dev/null >/dev/null 2>&1 &
    fi
    exit 0
  fi
  sleep 0.1
done
echo "private PulseAudio server did not start; its log:" >&2
cat "$dir/log" >&2 || true
stop
exit 1
