#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Puts the probe firmware on an Arduino Uno or Nano (ATmega328P, 16 MHz) through its USB
# serial port, with avrdude and the board's own bootloader, then asks the board over the
# same line which firmware it runs.
#
#   scripts/probe-install.sh [--board uno|nano|nano-old] [--hex FILE] DEVICE
#   scripts/probe-install.sh --check-only DEVICE     only ask the board what it runs
#   scripts/probe-install.sh --dry-run ... DEVICE    say the avrdude commands, run none
#
# Bootloaders and their rates: the Uno's and the new Nano's (Optiboot) at 115200 baud,
# the old Nano's (ATmegaBOOT, most clones before 2018) at 57600. Without --board the
# first is tried, then the second.
set -euo pipefail

board=""
hex=""
check_only=0
dry_run=0
device=""
usage() {
  echo "usage: $0 [--board uno|nano|nano-old] [--hex FILE] [--check-only] [--dry-run] DEVICE" >&2
  exit 2
}
while [ $# -gt 0 ]; do
  case $1 in
    --board) board=${2:-}; shift 2 ;;
    --hex) hex=${2:-}; shift 2 ;;
    --check-only) check_only=1; shift ;;
    --dry-run) dry_run=1; shift ;;
    -h|--help) usage ;;
    -*) usage ;;
    *) [ -z "$device" ] || usage; device=$1; shift ;;
  esac
done
[ -n "$device" ] || usage

# The firmware: named, or where a build, an installed package or an unpacked zip puts it.
name=orbvex_probe_atmega328p.hex
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$hex" ]; then
  for candidate in "$here/../build/bin/$name" "$here/$name" "$here/../share/orbvex_up/$name" "/usr/share/orbvex_up/$name"; do
    if [ -f "$candidate" ]; then hex=$candidate; break; fi
  done
fi

case $board in
  uno|nano) rates=(115200) ;;
  nano-old) rates=(57600) ;;
  "") rates=(115200 57600) ;;
  *) usage ;;
esac

flash() {
  if [ -z "$hex" ] || [ ! -f "$hex" ]; then
    echo "$0: no firmware $name found; build it (scripts/build.sh) or name it with --hex" >&2
    exit 1
  fi
  command -v avrdude >/dev/null || [ $dry_run -eq 1 ] || { echo "$0: avrdude is not installed (apt install avrdude)" >&2; exit 1; }
  for rate in "${rates[@]}"; do
    command=(avrdude -p atmega328p -c arduino -P "$device" -b "$rate" -D -U "flash:w:$hex:i")
    if [ $dry_run -eq 1 ]; then
      echo "${command[*]}"
      continue
    fi
    echo "Writing $hex to $device through the bootloader at $rate baud"
    if "${command[@]}"; then return 0; fi
    echo "No bootloader answered at $rate baud" >&2
  done
  [ $dry_run -eq 1 ] && return 0
  echo "$0: the board on $device took no firmware: is it an Uno or a Nano, and is $device its port?" >&2
  exit 1
}

# HELLO, sequence 0, with its check; the board answers with its name and version. Opening
# the line resets most boards, so it is asked again every quarter second for three seconds.
check() {
  stty -F "$device" 1000000 raw -echo -hupcl cs8 -cstopb -parenb 2>/dev/null || {
    echo "$0: cannot set $device to 1000000 baud" >&2
    exit 1
  }
  local answer
  answer=$(
    exec 3<>"$device"
    (for _ in $(seq 12); do printf '\xa5\x01\x00\x01\x00\x00\x6d\x8c' >&3; sleep 0.25; done) &
    timeout 3 cat <&3 | tr -c '[:print:]' '.' | head -c 200 || true
    wait
  )
  case $answer in
    *"orbvex_probe_atmega328p 1"*)
      echo "The probe on $device answers: orbvex_probe_atmega328p 1. Use it with: orbvex_cli --probe $device start" ;;
    *orbvex_probe_atmega328p*)
      echo "$0: the probe on $device runs another firmware version (${answer//./ }); write this one: $0 $device" >&2
      exit 1 ;;
    "")
      echo "$0: no answer from the board on $device at 1000000 baud: the firmware is not there (or its USB bridge cannot do 1000000 baud)" >&2
      exit 1 ;;
    *)
      echo "$0: the board on $device answers, but not as this probe: another firmware runs on it" >&2
      exit 1 ;;
  esac
}

[ $check_only -eq 1 ] || flash
[ $dry_run -eq 1 ] || check
