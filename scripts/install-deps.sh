#!/usr/bin/env bash
# Installs the Debian packages vorta needs that are missing.
#   install-deps.sh run    what building and running vorta needs
#   install-deps.sh test   that, plus what the tests and benchmarks need
#   install-deps.sh bench  that of run, plus what bench/run.sh measures against
set -euo pipefail

run_packages=(g++ cmake make pkg-config libasound2-dev libmp3lame-dev libebur128-dev libfmt-dev libasound2-plugins
              libmicrohttpd-dev nlohmann-json3-dev libcrypt-dev)
test_packages=(libgtest-dev libbenchmark-dev libmpg123-dev pulseaudio pulseaudio-utils
               alsa-utils faketime clang libclang-rt-dev util-linux procps
               groff-base mandoc dpkg-dev
               debhelper bash-completion fakeroot lintian devscripts systemd ccache
               chromium chromium-driver python3-selenium)

bench_packages=(libbenchmark-dev libmpg123-dev pulseaudio pulseaudio-utils alsa-utils
                lame ffmpeg time procps nginx-light)

packages=("${run_packages[@]}")
[ "${1:-run}" = test ] && packages+=("${test_packages[@]}")
[ "${1:-run}" = bench ] && packages+=("${bench_packages[@]}")

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq >&2
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
