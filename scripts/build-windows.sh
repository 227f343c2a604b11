#!/usr/bin/env bash
# Cross-builds the Windows program, build/windows/vorta.exe, with MinGW-w64:
# one static executable that needs no DLL beyond the system's. libmp3lame is
# built from Debian's lame source package (its library part only) and linked
# in statically. The unit tests are built too (build/windows/vorta_unit.exe)
# and run under wine, as does the program itself:
#   scripts/build-windows.sh            install what is missing, build
#   scripts/build-windows.sh --run-unit that, then run the unit tests in wine
# VORTA_WINDOWS_BUILD (default build/windows) and VORTA_WINDOWS_DEPS (default
# build/windows-deps) choose the folders.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${VORTA_WINDOWS_BUILD:-$here/build/windows}
deps=${VORTA_WINDOWS_DEPS:-$here/build/windows-deps}
host=x86_64-w64-mingw32

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

# --- the cross tools, wine, the GoogleTest sources -------------------------
packages=(g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 wine wine64 cmake make dpkg-dev
          googletest libfmt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
updated=0
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}" >&2
  "${sudo[@]}" apt-get update -qq >&2 && updated=1
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
fi

# --- libmp3lame, cross-built from Debian's source package ------------------
lame_lib=$deps/lame-install/lib/libmp3lame.a
if [ ! -f "$lame_lib" ]; then
  mkdir -p "$deps"
  if ! ls "$deps"/lame-[0-9]*/libmp3lame >/dev/null 2>&1; then
    # apt-get source needs a deb-src entry; add one beside each deb entry.
    if ! grep -qsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/*; then
      list=$(mktemp)
      grep -hsE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list |
        sed 's/^deb /deb-src /' >"$list" || true
      [ -s "$list" ] && "${sudo[@]}" cp "$list" /etc/apt/sources.list.d/vorta-deb-src.list
      for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        case $f in *vorta-deb-src*) continue ;; esac
        sed 's/^Types: deb$/Types: deb-src/' "$f"
        echo
      done >"$list"
      grep -q '^Types: deb-src' "$list" &&
        "${sudo[@]}" cp "$list" /etc/apt/sources.list.d/vorta-deb-src.sources
      rm -f "$list"
      updated=0
    fi
    [ "$updated" -eq 1 ] || "${sudo[@]}" apt-get update -qq >&2
    (cd "$deps" && apt-get source -qq lame >&2)
  fi
  src=$(ls -d "$deps"/lame-[0-9]*/ | head -1)
  rm -rf "$deps/lame-build" && mkdir -p "$deps/lame-build"
  (cd "$deps/lame-build" &&
     "$src/configure" --host=$host --disable-shared --enable-static --disable-frontend \
       --disable-decoder --prefix="$deps/lame-install" CC=$host-gcc-posix >configure.log 2>&1 &&
     nice -n 10 make -j"$(nproc)" -C libmp3lame >make.log 2>&1 &&
     make -C libmp3lame install >>make.log 2>&1 && make -C include install >>make.log 2>&1) ||
    { echo "libmp3lame did not build; see $deps/lame-build/*.log" >&2; exit 1; }
fi

# --- fmt, header-only: the system's headers, apart from the other system ones --
fmt_include=$deps/fmt-include
rm -rf "$fmt_include" && mkdir -p "$fmt_include" && cp -r /usr/include/fmt "$fmt_include/"

# --- vorta.exe and the unit tests -------------------------------------------
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$out" -DCMAKE_TOOLCHAIN_FILE="$here/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DVORTA_WERROR=ON -DVORTA_BENCH=OFF \
  -DMP3LAME_LIBRARY="$lame_lib" -DMP3LAME_INCLUDE="$deps/lame-install/include" \
  -DVORTA_FMT_INCLUDE="$fmt_include" \
  "${launcher[@]}" >/dev/null
nice -n 10 cmake --build "$out" -j"$(nproc)" --target vorta vorta_unit

# Only the system's own DLLs may be needed.
dlls=$($host-objdump -p "$out/vorta.exe" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort)
for dll in $dlls; do
  case $dll in
    kernel32.dll | msvcrt.dll | winmm.dll | shell32.dll | user32.dll | advapi32.dll | api-ms-win-*) ;;
    *) echo "vorta.exe needs $dll, which Windows does not have" >&2; exit 1 ;;
  esac
done
echo "built $out/vorta.exe (needs: $(echo $dlls | tr ' ' ','))"

if [ "${1:-}" = --run-unit ]; then
  export WINEPREFIX=${WINEPREFIX:-$out/wineprefix} WINEDEBUG=${WINEDEBUG:--all}
  wine "$out/vorta_unit.exe"
fi
