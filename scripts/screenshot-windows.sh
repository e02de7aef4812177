#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Takes docs/screenshot-windows.png (or the file named): the Win32 window of
# orbvex_up_virtual.exe under Wine on a display of its own (Xvfb), after START, title
# bar included. Needs the Windows build (scripts/build-windows.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/screenshot-windows.png}
build=${ORBVEX_WINDOWS_BUILD_DIR:-$root/build-windows}
exe=$build/bin/orbvex_up_virtual.exe
[ -f "$exe" ] || { echo "no $exe: run scripts/build-windows.sh first" >&2; exit 1; }
"$root/scripts/install-deps.sh" xdotool netpbm

screen=$(mktemp -d)
trap 'rm -rf "$screen"' EXIT
export WINEPREFIX=${ORBVEX_WINEPREFIX:-$build/wine-prefix}
wineserver --kill 2>/dev/null || true  # a session started without this display

# On the display: wait for the window, press START in the middle of the button (the
# frame Wine draws is 3 pixels wide, its title bar 19 high), give START time to end,
# and note where the window lies; Xvfb keeps the screen's picture in $screen.
xvfb-run -a -s "-screen 0 800x700x24 -fbdir $screen" sh -c '
  "$1" "$2" & program=$!
  window=$(xdotool search --sync --name "^TARNO_UP 2\.2$" | head -n 1)
  sleep 2
  eval "$(xdotool getwindowgeometry --shell "$window")"
  xdotool mousemove $((X + 3 + 427 + 56)) $((Y + 22 + 235 + 8)) click 1 mousemove 0 0
  sleep 10
  echo "$X $Y $WIDTH $HEIGHT" >"$3/geometry"
  cp "$3/Xvfb_screen0" "$3/screen.xwd"
  kill $program; wineserver --wait' sh "$root/scripts/wine-run.sh" "$exe" "$screen"

read -r x y width height <"$screen/geometry"
xwdtopnm "$screen/screen.xwd" 2>/dev/null | pamcut -left "$x" -top "$y" -width "$width" -height "$height" |
  pnmtopng -compression 9 >"$out"
echo "$out"
