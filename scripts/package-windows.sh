#!/usr/bin/env bash
# Builds and tests the 32-bit Windows programs (scripts/build-windows.sh), then packs
# what a Windows user needs into build-windows/orbvex_up-windows-x86.zip (or the file
# named): the window on the real port and on the virtual receiver, the command-line
# tool, the virtual receiver's trap image and a note on the two files the user supplies.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ORBVEX_WINDOWS_BUILD_DIR:-$root/build-windows}
zip=${1:-$build/orbvex_up-windows-x86.zip}
"$root/scripts/install-deps.sh" zip
"$root/scripts/build-windows.sh"

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
folder=$stage/orbvex_up
mkdir -p "$folder"
for file in orbvex_up.exe orbvex_up_virtual.exe orbvex_cli.exe virtual-receiver-trap.img; do
  cp "$build/bin/$file" "$folder/"
done
i686-w64-mingw32-strip "$folder"/*.exe  # symbols are for debugging here, not for users
# Windows' own line ends, so that Notepad shows the lines.
sed 's/$/\r/' >"$folder/README-Windows.txt" <<'TEXT'
orbvex_up for 32-bit Windows

orbvex_up.exe              the window, on the parallel port (LPT1 at 0x378, LPT2 at 0x278)
orbvex_up_virtual.exe      the same window on a virtual receiver: try everything without one
orbvex_cli.exe             the same operations from the command line (orbvex_cli.exe --help)
virtual-receiver-trap.img  the virtual receiver's own trap program; keep it beside
                           orbvex_up_virtual.exe

Two files are not included. You supply both and put them in this folder, beside
orbvex_up.exe:

trap.bin    the receiver's target-side program; START copies it into the receiver's RAM.
kqiopm.sys  the port-permission driver. On Windows NT, 2000, XP and later the program
            installs, starts, stops and removes its service by itself: run it as an
            administrator. Windows 95, 98 and ME need no driver.

The parallel port needs 32-bit Windows. On 64-bit Windows the window starts, says
"The parallel port could not be opened" and every operation refuses; the virtual
receiver works everywhere.
TEXT

rm -f "$zip"
(cd "$stage" && zip -q -r -X "$zip" orbvex_up)
echo "$zip"
