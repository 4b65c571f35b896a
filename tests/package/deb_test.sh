#!/usr/bin/env bash
# The Debian package as a user gets it: made by cpack from this build into a temporary folder, checked
# by lintian, unpacked with dpkg-deb -x into a temporary root (nothing is installed), and its programs
# run from there, so that the installed paths are proven: the icons and documents in place, the
# soundfont found on the system, the translations found relative to the installed program.
# Usage: deb_test.sh BUILD_DIR CPACK ID WITH_WINDOW(0|1)
set -u
build=$1 cpack=$2 id=$3 with_window=$4
for tool in dpkg-deb dpkg-shlibdeps; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed (dpkg-dev)"
    exit 77
  fi
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
skipped=()
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

echo "== cpack"
if ! "$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  fail "cpack -G DEB"
  exit 1
fi
debs=("$work"/out/tonvik_*_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  fail "cpack made no tonvik_<version>_<arch>.deb"
  exit 1
fi
deb=${debs[0]}
basename "$deb"

if command -v lintian >/dev/null; then
  echo "== lintian"
  lintian --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1
  cat "$work/lintian.log"
  ! grep -q '^E:' "$work/lintian.log" || fail "lintian reports errors"
else
  skipped+=("lintian (not installed)")
fi

echo "== dpkg-deb -x"
root=$work/root
dpkg-deb -x "$deb" "$root" || { fail "dpkg-deb -x"; exit 1; }
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *soundfont* ]] || fail "Depends names no soundfont: $depends"
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "the section is not sound"

files=(usr/bin/tonvik-mml usr/share/man/man1/tonvik-mml.1.gz usr/share/bash-completion/completions/tonvik-mml
  usr/share/doc/tonvik/copyright usr/share/doc/tonvik/changelog.gz)
if [ "$with_window" = 1 ]; then
  files+=(usr/bin/tonvik usr/share/man/man1/tonvik.1.gz "usr/share/applications/$id.desktop"
    "usr/share/metainfo/$id.metainfo.xml")
  # Every hicolor icon of the desktop entry's name, of the size its folder says (the PNG header
  # holds the width and height at bytes 16 to 23).
  icon=$(sed -n 's/^Icon=//p' "$root/usr/share/applications/$id.desktop" 2>/dev/null)
  for size in 16 32 48 64 128 256; do
    png=usr/share/icons/hicolor/${size}x${size}/apps/$icon.png
    files+=("$png")
    if [ -f "$root/$png" ]; then
      read -r width height < <(od -An -tu1 -j16 -N8 "$root/$png" |
        awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
      [ "$width x $height" = "$size x $size" ] || fail "$png is $width x $height"
    fi
  done
fi
# The translations this build made are in the package, where the program looks for them.
for qm in "$build"/share/tonvik/translations/*.qm; do
  [ -e "$qm" ] && files+=("usr/share/tonvik/translations/$(basename "$qm")")
done
for f in "${files[@]}"; do
  [ -f "$root/$f" ] || fail "the package has no /$f"
done

echo "== tonvik-mml from the package"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
unset XDG_DATA_DIRS
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
mml=$root/usr/bin/tonvik-mml
"$mml" --help >"$work/help.txt" || fail "tonvik-mml --help exits with $?"
grep -q '^usage: tonvik-mml' "$work/help.txt" || fail "tonvik-mml --help prints no usage"
printf ':1 t120 l4 cdefg\n' >"$work/song.mml"
"$mml" "$work/song.mml" -o "$work/song.mid" || fail "tonvik-mml song.mml -o song.mid exits with $?"
[ "$(head -c 4 "$work/song.mid" 2>/dev/null)" = MThd ] || fail "song.mid is no Standard MIDI File"
# The soundfont the package depends on, found where the system keeps it.
soundfont=""
for f in /usr/share/sounds/sf2/{default-GM,FluidR3_GM,TimGM6mb}.sf2 /usr/share/sounds/sf3/default-GM.sf3; do
  [ -f "$f" ] && soundfont=$f && break
done
if [ -n "$soundfont" ]; then
  "$mml" "$work/song.mml" -o "$work/song.wav" --tail 0 --quiet 2>"$work/render.log" ||
    fail "rendering with the system's soundfont: $(cat "$work/render.log")"
  [ "$(head -c 4 "$work/song.wav" 2>/dev/null)" = RIFF ] || fail "song.wav is no WAV file"
else
  skipped+=("soundfont lookup (no General MIDI soundfont installed)")
fi

if [ "$with_window" = 1 ] && command -v xvfb-run >/dev/null; then
  echo "== tonvik from the package under Xvfb"
  # An English locale, so that the English texts are loaded; the program's standard error is kept.
  LANG=en_US.UTF-8 LC_ALL='' QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" >"$2/tonvik.log" 2>&1 &
    pid=$!
    sleep 4
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      echo "tonvik ended by itself with status $?"
      exit 1
    fi
    kill -TERM "$pid"
    wait "$pid"
    status=$?
    [ "$status" -eq 0 ] || { echo "tonvik ended with status $status after SIGTERM"; exit 1; }
  ' run "$root/usr/bin/tonvik" "$work" || fail "tonvik did not keep running and end on SIGTERM"
  echo "standard error of tonvik:"
  cat "$work/tonvik.log"
  for pattern in "cannot load the English texts" "soundfont" "icon"; do
    ! grep -qi -- "$pattern" "$work/tonvik.log" || fail "tonvik wrote about \"$pattern\""
  done
  [ -f "$XDG_CONFIG_HOME/Tonvik/Tonvik.conf" ] || fail "tonvik saved no settings on SIGTERM"
elif [ "$with_window" = 1 ]; then
  skipped+=("the window program (xvfb-run not installed)")
fi

[ "$failures" -eq 0 ] || exit 1
if [ ${#skipped[@]} -gt 0 ]; then
  printf 'SKIP: not checked: %s\n' "${skipped[@]}"
  exit 77
fi
echo "package: every check passed"
