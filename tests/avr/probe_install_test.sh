#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# scripts/probe-install.sh's check against the simulated board: our firmware answers and
# is named; a board whose bridge cannot carry 1000000 baud is said to give no answer.
# The avrdude commands it would run name the right programmer and rates.
set -euo pipefail
sim=$1
script=$2
log=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$log"' EXIT

board() {  # starts a simulated board; its serial line's path in $line
  "$sim" "$@" >"$log/out" 2>"$log/err" &
  pids+=($!)
  for _ in $(seq 50); do [ -s "$log/out" ] && break; sleep 0.1; done
  line=$(head -1 "$log/out")
  rm -f "$log/out"
}

board
"$script" --check-only "$line" | grep -q "answers: orbvex_probe_atmega328p 1"

board --bridge-rates 115200
if "$script" --check-only "$line" 2>"$log/said"; then exit 1; fi
grep -q "no answer from the board on $line at 1000000 baud" "$log/said"

touch "$log/fw.hex"
commands=$("$script" --dry-run --board nano-old --hex "$log/fw.hex" /dev/ttyUSB0)
[ "$commands" = "avrdude -p atmega328p -c arduino -P /dev/ttyUSB0 -b 57600 -D -U flash:w:$log/fw.hex:i" ]
[ "$("$script" --dry-run --hex "$log/fw.hex" /dev/ttyUSB0 | cut -d' ' -f9)" = "$(printf '115200\n57600')" ]
echo "probe-install: all checks passed"
