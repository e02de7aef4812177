#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds and tests the 32-bit Windows programs (scripts/build-windows.sh), then packs
# what a Windows user needs into build-windows/orbvex_up-windows-x86.zip (or the file
# named): the window on the real port and on the virtual receiver, the command-line
# tool, the port driver, the trap program trap.bin and a note on each.
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
for file in orbvex_up.exe orbvex_up_virtual.exe orbvex_cli.exe kqiopm.sys trap.bin orbvex_probe_atmega328p.hex; do
  cp "$build/bin/$file" "$folder/"
done
i686-w64-mingw32-strip "$folder"/*.exe "$folder"/kqiopm.sys  # symbols are for debugging here, not for users
# Windows' own line ends, so that Notepad shows the lines.
sed 's/$/\r/' >"$folder/README-Windows.txt" <<'TEXT'
orbvex_up for Windows (32-bit programs; they run on 64-bit Windows too)

orbvex_up.exe              the window, on the parallel port (LPT1 at 0x378, LPT2 at 0x278)
orbvex_up_virtual.exe      the same window on a virtual receiver: try everything without one
orbvex_cli.exe             the same operations from the command line (orbvex_cli.exe --help)
kqiopm.sys                 the port-permission driver for 32-bit Windows NT, 2000, XP,
                           7 and 10; the programs install, start, stop and remove it
                           themselves: run them as an administrator
trap.bin                   the receiver-side flash program that START copies into the
                           receiver's RAM (the virtual receiver runs it too); a trap.bin
                           of your own put here in its place is the one START loads
orbvex_probe_atmega328p.hex  the probe firmware for an Arduino Uno or Nano: put it on the
                           board with avrdude (or AVRDUDESS), then use the board's COM
                           port: orbvex_cli.exe --probe COM3 start
                             Uno, new Nano:  avrdude -p atmega328p -c arduino -P COM3
                                             -b 115200 -D -U flash:w:orbvex_probe_atmega328p.hex:i
                             old Nano:       the same with -b 57600

What each Windows needs for the parallel port:

32-bit NT, 2000, XP, 7, 10   kqiopm.sys (here); run as an administrator
64-bit Windows               InpOut32: its inpout32.dll (the 32-bit one) installed, or
                             put beside orbvex_up.exe; run once as an administrator so
                             that it installs its driver. A PCI or PCIe port card has a
                             base of its own: orbvex_cli.exe --port 0x...
Windows 95, 98, ME           nothing

kqiopm.sys is not signed. Where Windows refuses it (Secure Boot on a recent Windows
10), install InpOut32 as on 64-bit Windows: the programs go on to it by themselves.

The virtual receiver (orbvex_up_virtual.exe) needs no hardware and works everywhere.
TEXT

rm -f "$zip"
(cd "$stage" && zip -q -r -X "$zip" orbvex_up)
echo "$zip"
