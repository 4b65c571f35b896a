#!/usr/bin/env bash
# One take through the real program, driven by xdotool inside an X server (run under xvfb-run):
# Return, C, B, /, Space, Return records 60, 64, 72 and a rest; the edit dialog opens, copies its text
# (Ctrl+W, read back from the clipboard), saves (Ctrl+S, Return in the save box) and closes (Alt+X);
# Escape ends the program, which saves its settings. (Test play is left to the offscreen tests, which
# play on a recording device instead of the loudspeakers.)
# Usage: take_end_to_end.sh TONVIK CLIPBOARD_READER WORKDIR
# (writes WORKDIR/clipboard.txt and WORKDIR/take.mid)
set -u
tonvik=$1
clipboard_reader=$2
work=$3
export XDG_CONFIG_HOME=$work/config
export QT_QPA_PLATFORM=xcb
mkdir -p "$XDG_CONFIG_HOME/Tonvik"
# Every event as the minimum length, so that the text does not depend on the timing of the keys.
cat > "$XDG_CONFIG_HOME/Tonvik/Tonvik.conf" <<CONF
[Convert]
Mode=3
Tempo=120
MinLength=8
DefLength=4
FileName=$work/take.mid
MMLType=0
CONF

fail() {
  echo "take_end_to_end: $*" >&2
  kill "$pid" 2>/dev/null
  exit 1
}

# Waits until the window with input focus is named $1 (and is not $2); prints its id.
wait_focus() {
  for _ in $(seq 50); do
    local f
    f=$(xdotool getwindowfocus 2>/dev/null)
    if [ -n "$f" ] && [ "$f" != "${2:-}" ] && [ "$(xdotool getwindowname "$f" 2>/dev/null)" = "$1" ]; then
      echo "$f"
      return 0
    fi
    sleep 0.2
  done
  return 1
}

# The Japanese texts, whatever the locale of the run: the edit dialog is found by its title and closed
# by its button's Alt+X.
env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG=ja_JP.UTF-8 "$tonvik" >"$work/tonvik.log" 2>&1 &
pid=$!
win=""
for _ in $(seq 50); do
  win=$(xdotool search --pid "$pid" --name '^Tonvik' 2>/dev/null | head -1)
  [ -n "$win" ] && break
  sleep 0.2
done
[ -n "$win" ] || fail "the keyboard window did not appear"
xdotool windowfocus --sync "$win"
sleep 0.5
# Without a sound card the built-in synthesizer cannot start, and the window says so once: OK closes it.
for _ in $(seq 15); do
  box=$(xdotool search --onlyvisible --pid "$pid" --name '^Tonvik$' 2>/dev/null | grep -vx "$win" | head -1)
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box"
    xdotool key Return
    sleep 0.3
    xdotool windowfocus --sync "$win"
    sleep 0.3
    break
  fi
  sleep 0.2
done

xdotool key --delay 200 Return c b slash space Return
dlg=$(wait_focus "入力内容編集" "$win") || fail "the edit dialog did not open"
xdotool key ctrl+w
sleep 0.3
"$clipboard_reader" >"$work/clipboard.txt" || fail "the clipboard could not be read"
xdotool key ctrl+s
wait_focus "Save As" "$dlg" >/dev/null || wait_focus "名前を付けて保存" "$dlg" >/dev/null || fail "no save box"
xdotool key Return
for _ in $(seq 25); do [ -s "$work/take.mid" ] && break; sleep 0.2; done
xdotool windowfocus --sync "$dlg"
xdotool key alt+x
sleep 0.5
xdotool windowfocus --sync "$win"
xdotool key Escape
for _ in $(seq 25); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "the program did not end on Escape"
wait "$pid"
