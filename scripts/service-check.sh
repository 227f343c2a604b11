#!/usr/bin/env bash
# service-check.sh ROOT: runs ROOT/usr/bin/vorta (an unpacked package) as its unit
# does: the unit's command line with the example's options, its own session, no
# terminal, stdin closed, an empty folder, a service manager's socket. SIGTERM
# must finish the hour's file with status 0. Sound: the PulseAudio server in
# VORTA_PULSE_DIR, else one started here (scripts/pulse-private.sh).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "${1:?unpacked package}" && pwd)
fail() { echo "FAIL: $*" >&2; [ -f "$work/err" ] && tr '\r' '\n' <"$work/err" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vorta-service.XXXXXX")
pid= own= listener=
trap 'kill -KILL $pid $listener 2>/dev/null; [ -n "$own" ] && "$here/pulse-private.sh" stop "$work/pulse" >/dev/null 2>&1
      rm -rf "$work"' EXIT
if ! { [ -f "${VORTA_PULSE_DIR:-}/env" ] && . "$VORTA_PULSE_DIR/env" && pactl info >/dev/null 2>&1; }; then
  own=1 && "$here/pulse-private.sh" start "$work/pulse" >/dev/null && . "$work/pulse/env" || fail "no PulseAudio"
fi

# ExecStart= with $VORTA_OPTIONS from the example; ALSA's default device.
set -a; . "$root/usr/share/doc/vorta/examples/weekly.conf" || fail "cannot read the example"; set +a; unset AUDIODEV
exec_start=$(sed -n 's/^ExecStart=//p' "$root/lib/systemd/system/vorta@.service")
read -ra argv <<<"${exec_start//\$VORTA_OPTIONS/$VORTA_OPTIONS}"
[ "${argv[0]}" = /usr/bin/vorta ] || fail "ExecStart= runs ${argv[0]}"
argv[0]=$root/usr/bin/vorta

mkdir "$work/rec" && cd "$work/rec" || exit 1
# The service manager's socket: each datagram vorta sends, one a line.
python3 -c 'import socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind(sys.argv[1]); s.settimeout(150)
with open(sys.argv[2], "w") as out:
    while print(d := s.recv(4096).decode(), file=out, flush=True) or d != "STOPPING=1": pass
' "$work/notify" "$work/notified" & listener=$!
for _ in $(seq 100); do [ -S "$work/notify" ] && break; sleep 0.1; done
# Not a process-group leader (no job control), so setsid makes the session in
# this very process and then becomes vorta: $! is vorta.
NOTIFY_SOCKET=$work/notify WATCHDOG_USEC=2000000 setsid "${argv[@]}" 0<&- >"$work/out" 2>"$work/err" &
pid=$!
sleep 4
kill -0 "$pid" 2>/dev/null || fail "vorta ended by itself before SIGTERM"
[ "$(ps -o sid= -p "$pid" | tr -d ' ')" = "$pid" ] || fail "vorta is not a session leader"
[ "$(ps -o tty= -p "$pid" | tr -d ' ')" = "?" ] || fail "vorta has a terminal"
kill -TERM "$pid"
# The limit only keeps a hung vorta from hanging the check (the unit allows 120 s).
for _ in $(seq 1200); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "vorta still runs 120 s after SIGTERM"
wait "$pid"; status=$? pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM, expected 0"
grep -q "Split mode (files duration of 1 hour)" "$work/out" || fail "no split-mode line"
! grep -q $'\r' "$work/out" "$work/err" || fail "carriage returns in a log"
[[ $(tail -n1 "$work/err") == "Losses: "* ]] || fail "no closing line with the losses"
wait "$listener" && listener= && grep -qx READY=1 "$work/notified" && grep -qx WATCHDOG=1 "$work/notified" \
  && grep -q '^STATUS=Record: ' "$work/notified" || fail "notified: $(cat "$work/notified")"

# Only hourly files, each starting with an MPEG audio frame (sync bits, no CRC:
# FF FB at 44.1 kHz, FF F3 for the lower rates).
files=(*) && [ -e "${files[0]}" ] || fail "no file recorded"
for f in "${files[@]}"; do
  [[ $f =~ ^(su|mo|tu|we|th|fr|sa)\ -\ ([01][0-9]|2[0-3])\.mp3$ ]] || fail "unexpected file '$f'"
  head=$(od -An -tx1 -N2 "$f" | tr -d ' \n')
  [[ $head == fffb || $head == fff3 ]] || fail "'$f' starts with $head, not an MP3 frame"
done
echo "ok: ${argv[*]}: exit 0 after SIGTERM, ${files[*]}"
