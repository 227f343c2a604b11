#!/usr/bin/env bash
# Checks of what gets installed: manual page, install tree, Debian package,
# bash completion.
#
#   check.sh manlint SOURCE_DIR
#   check.sh install BUILD_DIR
#   check.sh deb BUILD_DIR
#   check.sh completion SOURCE_DIR
set -uo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
what=${1:?manlint, install, deb or completion}
dir=$(cd "${2:?folder}" && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/vorta-pkg.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# vorta with no arguments: banner, help, status 1.
check_help() {
  local bin=$1 out status
  out=$("$bin" </dev/null 2>"$tmp/help.err"); status=$?
  [ "$status" -eq 1 ] || fail "$bin with no arguments: exit status $status, expected 1"
  grep -q "MP3-encoder of signal from soundcard. Version 1.0.7" <<<"$out" || fail "$bin: no banner in: $out"
  grep -q "^vorta \[options\] \[outfile\]" <<<"$out" || fail "$bin: no help in: $out"
}

case $what in
  manlint)
    page=$dir/man/vorta.1
    [ -f "$page" ] || fail "no $page"
    found=
    if command -v groff >/dev/null; then
      found=1
      out=$(groff -man -ww -z "$page" 2>&1) || fail "groff failed: $out"
      [ -z "$out" ] || fail "groff reports:"$'\n'"$out"
    fi
    if command -v mandoc >/dev/null; then
      found=1
      out=$(mandoc -T lint -W warning "$page" 2>&1)
      [ -z "$out" ] || fail "mandoc reports:"$'\n'"$out"
    fi
    [ -n "$found" ] || fail "neither groff nor mandoc is installed"
    # Every option the program takes is described.
    for opt in -b -d -t -x -f -s -a -a- -ms -mj -mm -ql -qh -split1 -split2 -split3 -p- -rus; do
      grep -q "^\.B[I]* ${opt//-/\\\\-}\( \|\$\)" "$page" || fail "option $opt has no entry"
    done
    echo "ok: manual page"
    ;;

  install)
    cmake --install "$dir" --prefix "$tmp/prefix" >"$tmp/log" 2>&1 || { cat "$tmp/log" >&2; fail "cmake --install failed"; }
    for f in bin/vorta share/man/man1/vorta.1 share/bash-completion/completions/vorta; do
      [ -f "$tmp/prefix/$f" ] || fail "cmake --install did not install $f"
    done
    [ -x "$tmp/prefix/bin/vorta" ] || fail "bin/vorta is not executable"
    check_help "$tmp/prefix/bin/vorta"
    echo "ok: install tree"
    ;;

  deb)
    command -v dpkg-deb >/dev/null || fail "dpkg-deb is not installed"
    (cd "$tmp" && cpack -G DEB -B "$tmp/out" --config "$dir/CPackConfig.cmake") >"$tmp/log" 2>&1 \
      || { cat "$tmp/log" >&2; fail "cpack -G DEB failed"; }
    debs=("$tmp"/out/vorta_*.deb)
    [ -f "${debs[0]}" ] || { cat "$tmp/log" >&2; fail "cpack made no vorta_*.deb"; }
    deb=${debs[0]}
    [ "$(dpkg-deb -f "$deb" Package)" = vorta ] || fail "package name: $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Version)" = 1.0.7 ] || fail "version: $(dpkg-deb -f "$deb" Version)"
    [ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section: $(dpkg-deb -f "$deb" Section)"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
    depends=$(dpkg-deb -f "$deb" Depends)
    grep -Eq '(^|, )libasound2' <<<"$depends" || fail "Depends lacks libasound2: $depends"
    grep -Eq '(^|, )libmp3lame0' <<<"$depends" || fail "Depends lacks libmp3lame0: $depends"
    dpkg-deb -c "$deb" >"$tmp/contents"
    for f in ./usr/bin/vorta ./usr/share/man/man1/vorta.1 ./usr/share/bash-completion/completions/vorta; do
      grep -q " $f\$" "$tmp/contents" || fail "the package lacks $f"
    done
    mkdir "$tmp/root"
    dpkg -x "$deb" "$tmp/root" || fail "dpkg -x failed"
    check_help "$tmp/root/usr/bin/vorta"
    echo "ok: $(basename "$deb"), Depends: $depends"
    ;;

  completion)
    script=$dir/contrib/vorta.bash-completion
    mkdir "$tmp/files" && touch "$tmp/files/rec one.mp3" "$tmp/files/stop"
    cd "$tmp/files" || exit 1
    bash --norc --noprofile -c '
      fail() { echo "FAIL: $*" >&2; exit 1; }
      . "$1" || fail "cannot source $1"
      [ "$(complete -p vorta)" = "complete -F _vorta vorta" ] || fail "not registered: $(complete -p vorta)"
      comp() { COMP_WORDS=("$@"); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=(); _vorta; }
      expect() { local want=$1; shift; comp "$@"; local got="${COMPREPLY[*]}"
                 [ "$got" = "$want" ] || fail "vorta ${*:2}|: got [$got], want [$want]"; }
      expect "-b -d -t -x -f -s -a -a- -ms -mj -mm -ql -qh -split1 -split2 -split3 -p- -rus" vorta -
      expect "-split1 -split2 -split3" vorta -b 128 -sp
      expect "8 16 24 32 40 48 56 64 80 96 112 128 144 160 192 224 256 320" vorta -b ""
      expect "16 112 128 144 160 192" vorta -mm -b 1
      expect "44 48 44100 48000" vorta -d 4
      expect "" vorta -t ""
      expect "" vorta -f ""
      expect "stop" vorta -x st
      expect "rec one.mp3" vorta -b 128 rec
      # -d is the value of -b here, so what follows is a new argument.
      expect "-ms -mj -mm" vorta -b -d -m
    ' check "$script" || exit 1
    echo "ok: bash completion"
    ;;

  *) fail "unknown check $what" ;;
esac
