#!/usr/bin/env bash
# The real window of the Windows program under Wine and Xvfb: its title without names, the
# first image's title and client area (equal, pixel for pixel, to the Linux --screenshot of the
# same size), Space to the next name (a missing file: the placeholder and "Fichier inconnu"),
# Escape to quit with exit code 0.
# Usage: tools/wine_window_test.sh [WINDOWS_BUILD_DIR [LINUX_BUILD_DIR]]
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/wine_env.sh "$@"
# A Wine server left from a run without a display would keep this one's windows off screen.
wineserver -k 2>/dev/null || true
work=$(mktemp -d)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb=$!
trap 'wineserver -k 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")

fail() { echo "FAIL: $*" >&2; exit 1; }
# The window whose title matches the pattern (5 minutes at most: the first window of a new
# Wine prefix waits for its font cache, which takes minutes on a busy machine).
window_titled() {
  for _ in $(seq 3000); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  fail "no window titled '$1'"
}
title_of() { xdotool getwindowname "$1"; }
press() { xdotool windowfocus --sync "$1" key "$2"; }
# Wine's X window is the main window's client area; the document window fills it inside a
# 2-pixel sunken edge. Writes the document's client area, as seen on screen, to $2.
client_shot() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  local right=$((X + WIDTH < 1024 ? X + WIDTH : 1024)) bottom=$((Y + HEIGHT < 768 ? Y + HEIGHT : 768))
  size="$((right - X - 4))x$((bottom - Y - 4))"
  import -window root -crop "$size+$((X + 2))+$((Y + 2))" +repage "$2"
}
# The document's client area becomes equal to the Linux screenshot of NAME at its size (10 s
# at most, for the paint to land).
shows_as_on_linux() {
  "$linux/korvela" --screenshot "$work/linux.png" --size "$size" "$2" || true
  for _ in $(seq 20); do
    client_shot "$1" "$work/windows.png"
    [ "$(compare -metric AE "$work/windows.png" "$work/linux.png" null: 2>&1)" = 0 ] && return 0
    sleep 0.5
  done
  fail "the window showing $2 differs from the Linux screenshot"
}
ends_with_code() {
  for _ in $(seq 100); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  local code=0
  wait "$1" || code=$?
  [ "$code" = "$2" ] || fail "exit code $code, expected $2"
}
lower() { tr '[:upper:]' '[:lower:]'; }

echo "== the window without names"
wine "$win/korvela.exe" & program=$!
id=$(window_titled '^Korvela v[0-9]')
echo "title: $(title_of "$id")"
press "$id" Escape
ends_with_code $program 0

echo "== a picture, then a missing file"
rose=$PWD/samples/rose.bmp
missing=$PWD/samples/missing.png
wine "$win/korvela.exe" "$rose" "$missing" & program=$!
id=$(window_titled 'rose\.bmp - ')
[ "$(title_of "$id" | lower)" = "$("$linux/korvela" --info "$rose" | lower)" ] || fail "title $(title_of "$id")"
client_shot "$id" "$work/windows.png"  # sets the size
shows_as_on_linux "$id" "$rose"
echo "client area $size equals the Linux screenshot"
press "$id" space
window_titled 'missing\.png : Fichier inconnu' >/dev/null
shows_as_on_linux "$id" "$missing"
echo "placeholder shown, equal to the Linux screenshot"
press "$id" Escape
ends_with_code $program 0
echo "Escape ended the program"
