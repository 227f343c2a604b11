#!/usr/bin/env bash
# A private PulseAudio server with a null sink, for tests and for trying vorta
# on a machine with no sound card. Whatever is played into the sink "vsink"
# comes out of its monitor, which is the server's default source; ALSA's
# "default" device reaches it through the pulse plugin.
#
#   pulse-private.sh start DIR   start a server whose files live in DIR
#   pulse-private.sh stop DIR    kill it (and anything it left behind)
#   pulse-private.sh env DIR     print the variables that point clients at it
#
# After start, DIR/env holds those variables for a shell to source.
set -euo pipefail
cmd=${1:?start, stop or env}
dir=$(mkdir -p "${2:?folder}" && cd "$2" && pwd)

print_env() {
  cat <<ENV
export PULSE_SERVER=unix:$dir/run/native
export PULSE_RUNTIME_PATH=$dir/run
export PULSE_STATE_PATH=$dir/state
export PULSE_CONFIG_PATH=$dir/config
export XDG_RUNTIME_DIR=$dir/run
export PULSE_CLIENTCONFIG=$dir/client.conf
ENV
}

stop() {
  if [ -f "$dir/keepalive.pid" ]; then
    kill "$(cat "$dir/keepalive.pid")" 2>/dev/null || true
    rm -f "$dir/keepalive.pid"
  fi
  if [ -f "$dir/pid" ]; then
    pid=$(cat "$dir/pid")
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
    rm -f "$dir/pid"
  fi
}

case $cmd in
  env) print_env ;;
  stop) stop ;;
  start)
    stop
    rm -rf "$dir/run" "$dir/home" "$dir/state" "$dir/config"
    mkdir -p "$dir/run" "$dir/home" "$dir/state" "$dir/config"
    chmod 700 "$dir/run"
    print_env >"$dir/env"
    # No shared memory for clients either: the server has none, and a client
    # that tries it under a file size limit prints to vorta's stderr.
    echo "enable-shm = no" >"$dir/client.conf"
    # shellcheck disable=SC1091
    . "$dir/env"
    export HOME=$dir/home
    setsid pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit \
      --use-pid-file=no --system=false --disable-shm=yes \
      -L "module-native-protocol-unix socket=$dir/run/native auth-anonymous=1" \
      -L "module-null-sink sink_name=vsink rate=48000 channels=2" \
      -L "module-always-sink" \
      --log-target=file:"$dir/log" </dev/null >/dev/null 2>&1 &
    echo $! >"$dir/pid"
    for _ in $(seq 100); do
      if pactl info >/dev/null 2>&1; then
        pactl set-default-sink vsink
        pactl set-default-source vsink.monitor
        # With nothing playing, the null sink renders in blocks of up to two
        # seconds, so its monitor delivers sound late and in lumps, unlike a
        # sound card. A silent stream with a short latency keeps it rendering
        # in real time; adding zeros leaves what tests play unchanged.
        setsid pacat --playback --raw --format=s16le --rate=48000 --channels=2 \
          --latency-msec=20 --device=vsink </dev/zero >/dev/null 2>&1 &
        echo $! >"$dir/keepalive.pid"
        exit 0
      fi
      sleep 0.1
    done
    echo "private PulseAudio server did not start; its log:" >&2
    cat "$dir/log" >&2 || true
    stop
    exit 1
    ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
