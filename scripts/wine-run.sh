#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one program of the 32-bit Windows build under Wine: wine-run.sh PROGRAM.exe [ARGS...].
# The cross build names it as its emulator, so CTest lists and runs the Windows test
# programs through it. Each build folder gets a Wine prefix of its own (wine-prefix/,
# beside bin/; $ORBVEX_WINEPREFIX names another), made on first use, and Wine keeps
# its diagnostics to itself so that a program's output is only its own.
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 PROGRAM.exe [ARGS...]" >&2; exit 2; }
bin=$(cd "$(dirname "$1")" && pwd)
export WINEPREFIX=${ORBVEX_WINEPREFIX:-$(dirname "$bin")/wine-prefix}
export WINEDEBUG=-all
# No downloads of Wine's .NET and browser engines: nothing here uses them.
export WINEDLLOVERRIDES="mscoree=;mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Programs started side by side (test discovery, parallel CTest) must not make the
# prefix together; the first makes it, the others wait.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init >/dev/null 2>&1
      # The windows' faces from metric-compatible free fonts, and title bars that Wine
      # draws itself, so that a window looks as on Windows even with no window manager.
      cat >"$WINEPREFIX/drive_c/orbvex-settings.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Arial"="Liberation Sans"
"Courier New"="Liberation Mono"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
REG
      wine regedit /S 'C:\orbvex-settings.reg' >/dev/null 2>&1
      # Debian's Wine misses its own fonts (MS Sans Serif, Tahoma, the symbols of the
      # title bar's buttons) where it looks for them; the prefix's folder it always reads.
      if [ -d /usr/share/wine/fonts ]; then
        ln -sf /usr/share/wine/fonts/* "$WINEPREFIX/drive_c/windows/Fonts/"
      fi
      wineserver --wait
    fi
  ) 9>"$WINEPREFIX.lock"
fi
exec wine "$@"
