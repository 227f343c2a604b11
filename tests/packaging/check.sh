#!/usr/bin/env bash
# check.sh deb SOURCE_DIR OUT_DIR: the Debian package, built from a clean copy of
#   the tree in OUT_DIR and unpacked in OUT_DIR/root.
# check.sh docs SOURCE_DIR BUILD_DIR: manual page, bash completion, cmake --install.
set -uo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
src=$(cd "${2:?source folder}" && pwd)
out=${3:?output folder}
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vorta-pkg.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
version=$(sed -n 's/^project(vorta VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
short=(-b -d -t -x -f -s -a -a- -ms -mj -mm -ql -qh -split1 -split2 -split3 -p- -rus)
long=(--dead-air --device --dir --help --keep-days --keep-free --list-devices --log --meter --name --on-event --status --time-map --utc --version)

case $1 in
  deb)
    rm -rf "$out" && mkdir -p "$out/vorta-$version" || fail "cannot make $out"
    # What git tracks or would track, as a fresh clone has it: no build folders.
    git -C "$src" ls-files -z --cached --others --exclude-standard \
      | (cd "$src" && tar --null -T - --ignore-failed-read -cf -) | tar -x -C "$out/vorta-$version"
    (cd "$out/vorta-$version" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" \
       dpkg-buildpackage -b -us -uc -Pnocheck) >"$out/build.log" 2>&1 \
      || { tail -40 "$out/build.log" >&2; fail "dpkg-buildpackage failed"; }
    deb=$out/vorta_${version}_$(dpkg --print-architecture).deb
    [ -f "$deb" ] && lintian --fail-on error,warning "$out"/vorta_*.changes || fail "no $deb or lintian"
    [ "$(dpkg-deb -f "$deb" Recommends Suggests)" = $'Recommends: pipewire-alsa | libasound2-plugins\nSuggests: alsa-utils' ] \
      || fail "Recommends or Suggests: $(dpkg-deb -f "$deb" Recommends Suggests)"
    [[ $(dpkg-deb -f "$deb" Depends) == *"libasound2 ("*"libmp3lame0 ("* ]] || fail "Depends lacks a library"
    root=$out/root && dpkg -x "$deb" "$root" || fail "dpkg -x"
    for program in vorta vorta-web; do
      hardening-check --nocfprotection "$root/usr/bin/$program" || fail "hardening-check $program"
    done
    for f in usr/bin/vorta usr/share/man/man1/vorta.1.gz usr/share/bash-completion/completions/vorta \
             lib/systemd/system/vorta@.service usr/lib/sysusers.d/vorta.conf \
             usr/bin/vorta-web usr/share/man/man1/vorta-web.1.gz lib/systemd/system/vorta-web.service \
             usr/share/doc/vorta/copyright usr/share/doc/vorta/examples/weekly.conf; do
      [ -f "$root/$f" ] || fail "the package lacks /$f"
    done
    [ -z "$(find "$root/etc" "$root/usr/share/man/man1/vorta.1" 2>/dev/null)" ] \
      || fail "files in /etc or an uncompressed manual page"
    # Installed, never enabled or started by the package.
    # (A unit the administrator enabled is enabled again on an upgrade: that
    # "enable" follows a "was-enabled" test within two lines.)
    dpkg-deb -e "$deb" "$tmp/control" && ! grep -Es 'deb-systemd-invoke' "$tmp"/control/* \
      && ! awk '/was-enabled/ { guard = FNR } /deb-systemd-helper enable/ && (!guard || FNR - guard > 2) { bad = 1 }
                END { exit !bad }' "$tmp"/control/* || fail "the package enables a unit"
    grep -qx 'm vorta audio' "$root/usr/lib/sysusers.d/vorta.conf" || fail "vorta is not in group audio"
    # The units as installed, with the unpacked binaries so verify finds them.
    exposures=
    for name in vorta@ vorta-web; do
      unit=$tmp/${name/@/@check}.service
      sed "s|/usr/bin/vorta|$root/usr/bin/vorta|" "$root/lib/systemd/system/$name.service" >"$unit"
      report=$(systemd-analyze verify --man=no "$unit" 2>&1) && [ -z "$report" ] \
        || fail "systemd-analyze verify $name: $report"
      exposure=$(systemd-analyze security --offline=yes "$unit" | sed -n 's/.*exposure level.*: \([0-9.]*\).*/\1/p')
      awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 3.0) }' || fail "$name exposure $exposure, above 3.0"
      exposures+=" $name $exposure"
    done
    echo "ok: $(basename "$deb"), exposure$exposures"
    ;;

  docs)
    for page in "$src/man/vorta.1" "$src/man/vorta-web.1"; do
      report=$(groff -man -ww -z "$page" 2>&1; mandoc -T lint -W warning "$page" 2>&1) && [ -z "$report" ] \
        || fail "manual page $page: $report"
    done
    page=$src/man/vorta.1
    for opt in "${short[@]}" "${long[@]}"; do
      grep -q "^\.B[I]* ${opt//-/\\\\-}\( \|\$\)" "$page" || fail "option $opt has no entry"
    done
    for opt in $("$out/src/web/vorta-web" --help | sed -n 's/^  \(--[a-z-]*\).*/\1/p'); do
      grep -q "^\.B[I]* ${opt//-/\\\\-}\( \|\$\)" "$src/man/vorta-web.1" || fail "vorta-web option $opt has no entry"
    done
    cmake --install "$out" --prefix "$tmp/prefix" >/dev/null && cd "$tmp/prefix" \
      && ls bin/vorta bin/vorta-web share/man/man1/vorta.1 share/man/man1/vorta-web.1 \
            share/bash-completion/completions/vorta >/dev/null || fail "cmake --install"
    mkdir "$tmp/files" && touch "$tmp/files/rec one.mp3" "$tmp/files/stop" && cd "$tmp/files" || exit 1
    bash --norc --noprofile -c '
      fail() { echo "FAIL: $*" >&2; exit 1; }
      . "$1" || fail "cannot source $1"
      expect() { local want=$1; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMPREPLY=(); _vorta
                 [ "${COMPREPLY[*]}" = "$want" ] || fail "vorta ${*:2}|: got [${COMPREPLY[*]}], want [$want]"; }
      expect "$2" vorta -
      expect "$3" vorta --
      expect "8 16 24 32 40 48 56 64 80 96 112 128 144 160 192 224 256 320" vorta -b ""
      expect "16 112 128 144 160 192" vorta -mm -b 1
      expect "rec one.mp3" vorta -b 128 rec
      expect "-ms -mj -mm" vorta -b -d -m    # -d is the value of -b
    ' check "$src/contrib/vorta.bash-completion" "${short[*]}" "${long[*]}" || exit 1
    echo "ok: manual page, cmake --install, bash completion"
    ;;
  *) fail "unknown check $1" ;;
esac
