#!/usr/bin/env bash
# Starts vorta the way contrib/vorta.service does and checks that a stop by
# SIGTERM finishes the hour's file and exits with status 0.
#
#   service-check.sh [VORTA_BINARY]
#
# vorta runs in a session of its own with no controlling terminal, in an empty
# working directory, with -split2 (hourly files, weekly cycle). It records from
# a private PulseAudio server: the one whose folder VORTA_PULSE_DIR names when
# it answers, else one started here (scripts/pulse-private.sh) and stopped at
# the end. Two runs: standard input on /dev/null (StandardInput=null), and
# standard input closed.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
vorta=${1:-${VORTA_BINARY:-$here/../build/pkg/vorta}}
vorta=$(cd "$(dirname "$vorta")" && pwd)/$(basename "$vorta")
record_seconds=${VORTA_SERVICE_SECONDS:-4}

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$vorta" ] || fail "no vorta binary at $vorta"

work=$(mktemp -d "${TMPDIR:-/tmp}/vorta-service.XXXXXX")
own_pulse=
vorta_pid=
cleanup() {
  [ -n "$vorta_pid" ] && kill -KILL "$vorta_pid" 2>/dev/null
  [ -n "$own_pulse" ] && "$here/pulse-private.sh" stop "$own_pulse" >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT

# The sound input: a private PulseAudio server, reached through ALSA's default.
pulse_ok=
if [ -n "${VORTA_PULSE_DIR:-}" ] && [ -f "$VORTA_PULSE_DIR/env" ]; then
  # shellcheck disable=SC1091
  . "$VORTA_PULSE_DIR/env"
  pactl info >/dev/null 2>&1 && pulse_ok=1
fi
if [ -z "$pulse_ok" ]; then
  own_pulse=$work/pulse
  "$here/pulse-private.sh" start "$own_pulse" || fail "could not start a private PulseAudio server"
  # shellcheck disable=SC1091
  . "$own_pulse/env"
fi
unset AUDIODEV

day_names=(su mo tu we th fr sa)
hour_name() { echo "${day_names[$(date +%w)]} - $(date +%H).mp3"; }

# run LABEL STDIN: STDIN is "null" or "closed".
run() {
  local label=$1 stdin=$2
  local dir=$work/$label
  mkdir -p "$dir"
  local stop_name last_name status
  (
    cd "$dir" || exit 99
    # Not a process-group leader (no job control here), so setsid makes the
    # new session in this very process and then becomes vorta: $! is vorta.
    if [ "$stdin" = closed ]; then
      exec setsid "$vorta" -split2 ignored.mp3 0<&- >"$work/$label.out" 2>"$work/$label.err"
    else
      exec setsid "$vorta" -split2 ignored.mp3 </dev/null >"$work/$label.out" 2>"$work/$label.err"
    fi
  ) &
  vorta_pid=$!

  # The setting the unit gives it: a session leader without a terminal.
  sleep 0.5
  if kill -0 "$vorta_pid" 2>/dev/null; then
    local sid tty
    sid=$(ps -o sid= -p "$vorta_pid" | tr -d ' ')
    tty=$(ps -o tty= -p "$vorta_pid" | tr -d ' ')
    [ "$sid" = "$vorta_pid" ] || fail "$label: vorta is not a session leader (sid $sid)"
    [ "$tty" = "?" ] || fail "$label: vorta has a controlling terminal ($tty)"
  fi

  # Record for a while, unless it ends by itself (which is a fault).
  local waited=0
  while kill -0 "$vorta_pid" 2>/dev/null && [ "$waited" -lt "$((record_seconds * 10))" ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if ! kill -0 "$vorta_pid" 2>/dev/null; then
    wait "$vorta_pid"; status=$?
    vorta_pid=
    echo "--- stdout" >&2; cat "$work/$label.out" >&2
    echo "--- stderr" >&2; tr '\r' '\n' <"$work/$label.err" >&2
    fail "$label: vorta ended by itself with status $status before SIGTERM"
  fi

  stop_name=$(hour_name)
  kill -TERM "$vorta_pid"
  # Draining a few seconds of sound is quick; the limit only keeps a hung
  # process from hanging the check (the unit allows 120 s).
  waited=0
  while kill -0 "$vorta_pid" 2>/dev/null && [ "$waited" -lt 1200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  kill -0 "$vorta_pid" 2>/dev/null && fail "$label: vorta still running 120 s after SIGTERM"
  wait "$vorta_pid"; status=$?
  vorta_pid=
  last_name=$(hour_name)

  if [ "$status" -ne 0 ]; then
    echo "--- stdout" >&2; cat "$work/$label.out" >&2
    echo "--- stderr" >&2; tr '\r' '\n' <"$work/$label.err" >&2
    fail "$label: exit status $status after SIGTERM, expected 0"
  fi
  grep -q "Split mode (files duration of 1 hour)" "$work/$label.out" \
    || fail "$label: no split-mode line in the run summary"

  # Only hourly names, never the name given on the command line.
  local f
  for f in "$dir"/*; do
    [ -e "$f" ] || continue
    [[ $(basename "$f") =~ ^(su|mo|tu|we|th|fr|sa)\ -\ ([01][0-9]|2[0-3])\.mp3$ ]] \
      || fail "$label: unexpected file '$(basename "$f")'"
  done
  [ -e "$dir/ignored.mp3" ] && fail "$label: the command-line name was used in split mode"

  # The hour's file: named after the hour of the stop. (Should the hour turn
  # just at the stop, the name computed after the exit is the one to look at.)
  local name=$stop_name size head
  [ -s "$dir/$name" ] || name=$last_name
  [ -f "$dir/$name" ] || fail "$label: no file '$name' (have: $(ls "$dir"))"
  size=$(stat -c %s "$dir/$name")
  [ "$size" -gt 0 ] || fail "$label: '$name' is empty"
  # An MPEG-1 Layer III frame (44.1 kHz by default) starts the file: sync bits,
  # no CRC (0xFF 0xFB); MPEG-2 would be 0xFF 0xF3.
  head=$(od -An -tx1 -N2 "$dir/$name" | tr -d ' \n')
  [ "$head" = fffb ] || [ "$head" = fff3 ] \
    || fail "$label: '$name' does not start with an MP3 frame header (starts with $head)"
  echo "ok: $label: exit 0, '$name' $size bytes, starts with $head"
}

run stdin-null null
run stdin-closed closed
echo "service check passed"
