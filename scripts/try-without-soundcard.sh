#!/usr/bin/env bash
# Lets vorta record on a machine without a sound card (a server, a container,
# a CI box): starts a private PulseAudio server with a null sink, plays a
# short tune into it over and over, and runs vorta with the server's
# environment, so that ALSA's "default" device records the tune.
#
#   scripts/try-without-soundcard.sh [vorta options] [outfile]
#   scripts/try-without-soundcard.sh -b 64 -mm try        (ESC stops it)
#
# The arguments go to ./run.sh, which builds vorta if needed. Everything the
# script started is stopped when it ends, however it ends.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

for tool in pulseaudio pactl paplay pacat; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is missing; on Debian: apt-get install pulseaudio pulseaudio-utils libasound2-plugins" >&2
    exit 1
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/vorta-try-XXXXXX")
player=
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null
  # Stopping the server also ends a paplay still connected to it.
  "$here/scripts/pulse-private.sh" stop "$work/pulse" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# A two-second tune as a 16-bit mono WAV at 16 kHz: 440 Hz, 660 Hz, 550 Hz,
# then half a second of silence. awk writes the bytes; LC_ALL=C keeps them
# single bytes whatever the locale.
LC_ALL=C awk 'BEGIN {
  rate = 16000; n = 2 * rate; pi = atan2(0, -1)
  le(n * 2 + 36, 4) ; hdr = "RIFF" out "WAVEfmt "; out = ""
  le(16, 4); le(1, 2); le(1, 2); le(rate, 4); le(rate * 2, 4); le(2, 2); le(16, 2)
  hdr = hdr out "data"; out = ""; le(n * 2, 4); printf "%s%s", hdr, out
  for (i = 0; i < n; i++) {
    t = i / rate
    f = t < 0.5 ? 440 : t < 1.0 ? 660 : t < 1.5 ? 550 : 0
    v = f ? int(12000 * sin(2 * pi * f * t)) : 0
    if (v < 0) v += 65536
    printf "%c%c", v % 256, int(v / 256)
  }
}
function le(value, bytes,   k) {
  for (k = 0; k < bytes; k++) { out = out sprintf("%c", value % 256); value = int(value / 256) }
}' >"$work/tune.wav"

"$here/scripts/pulse-private.sh" start "$work/pulse"
# shellcheck disable=SC1091
. "$work/pulse/env"

( while paplay --device=vsink "$work/tune.wav"; do :; done ) >/dev/null 2>&1 &
player=$!

echo "Recording a test tune from a private sound server; press ESC to stop." >&2
status=0
"$here/run.sh" "$@" || status=$?
exit "$status"
