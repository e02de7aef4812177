# SPDX-License-Identifier: GPL-2.0-or-later
# shellcheck shell=bash
# Sourced by the packaging scripts, after they set root and define fail: checks a
# Debian package of the programs the way a user meets it, with nothing of the build tree.
#
# check_deb DEB SCRATCH [EMULATOR...]: unpacks DEB into SCRATCH/root (dpkg -x; SCRATCH
# is emptied first, and kept when a check fails) and checks that it holds what the
# package promises, that its programs carry no path into the build tree, that apt finds
# every dependency for a bare system, and that the unpacked orbvex_cli, started from
# another folder with a bare environment, finds trap.bin through its data folder:
# START, erase and write an image in one call, START and read it back in another (the
# flash kept in a file between the two), the bytes compared; START over the unpacked
# orbvex_receiver takes the user's own trap.bin (in the user's data folder) before the
# package's. The package's moved away, START must fail and name the file. Programs
# of another architecture run through EMULATOR. Last, lintian: an error fails the
# check, the warnings and notes are shown.
# shellcheck source=image-check.sh
source "$root/scripts/image-check.sh"

check_deb() {
  local deb=$1 scratch=$2
  shift 2
  local emulator=("$@")
  rm -rf "$scratch" && mkdir -p "$scratch"
  local unpacked=$scratch/root bin=$scratch/root/usr/bin data=$scratch/root/usr/share/orbvex_up
  dpkg -x "$deb" "$unpacked" || fail "dpkg -x $deb failed"

  local package
  package=$(dpkg-deb -f "$deb" Package)
  local want=(usr/bin/orbvex_cli usr/bin/orbvex_receiver usr/share/orbvex_up/trap.bin
    usr/share/man/man1/orbvex_cli.1.gz usr/share/man/man1/orbvex_receiver.1.gz
    usr/bin/orbvex_probe usr/share/man/man1/orbvex_probe.1.gz usr/lib/systemd/system/orbvex-probe.service)
  if [ "$package" = orbvex-up ]; then
    local window
    for window in orbvex_up orbvex_up_virtual; do
      want+=("usr/bin/$window" "usr/share/applications/$window.desktop"
        "usr/share/icons/hicolor/scalable/apps/$window.svg" "usr/share/man/man1/$window.1.gz")
    done
  fi
  # A tool that drives the FTDI cables comes with the udev rule that lets users open them.
  if [[ $(readelf -d "$bin/orbvex_cli") == *libftdi* ]]; then
    want+=(usr/lib/udev/rules.d/60-orbvex-ftdi.rules)
  fi
  # The probe firmware for an Uno or a Nano, for avrdude.
  want+=(usr/share/orbvex_up/orbvex_probe_atmega328p.hex)
  local file
  for file in "${want[@]}"; do
    [ -s "$unpacked/$file" ] || fail "$package lacks /$file"
  done
  for file in "$bin"/*; do
    if [[ $(readelf -d "$file" 2>/dev/null | grep -E 'R(UN)?PATH') == *"$root"* ]]; then
      fail "/usr/bin/$(basename "$file") looks for libraries in the build tree"
    fi
  done
  [[ $(zcat "$unpacked/usr/share/man/man1/orbvex_cli.1.gz") == *'.SH "EXIT STATUS"'* ]] ||
    fail "the manual page of orbvex_cli has no exit status"

  # Installable by apt on a machine with nothing installed: every dependency resolves in
  # the archive apt knows here (a simulation: nothing is fetched or installed).
  if [ ${#emulator[@]} -eq 0 ] && apt-cache show libc6 >/dev/null 2>&1; then
    : >"$scratch/empty-status"
    apt-get -s --no-install-recommends -o Dir::State::status="$scratch/empty-status" install "$(realpath "$deb")" >"$scratch/apt.log" 2>&1 ||
      fail "apt cannot install $package on a bare system: $(grep -E '^(E:| )' "$scratch/apt.log" | head -n 5)"
    echo "$(basename "$deb"): apt installs it on a bare system with $(grep -c '^Inst' "$scratch/apt.log") packages"
  fi

  # A bare environment in a folder of its own: no build tree on any path, no user data.
  local work=$scratch/work
  mkdir -p "$work/home"
  head -c $((256 * 1024)) /dev/urandom >"$work/image.rom"
  run_unpacked() {
    (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/home" "${emulator[@]}" "$bin/orbvex_cli" --virtual \
      --virtual-flash flash.bin "$@")
  }
  run_unpacked start erase write image.rom >"$work/write.log" 2>&1 ||
    fail "the unpacked orbvex_cli failed to write: $(tail -n 5 "$work/write.log")"
  run_unpacked start read back.bin >"$work/read.log" 2>&1 ||
    fail "the unpacked orbvex_cli failed to read back: $(tail -n 5 "$work/read.log")"
  holds_image "$work/image.rom" "$work/back.bin" || fail "the unpacked orbvex_cli read back other bytes than it wrote"

  # The packaged receiver, served on a socket, and a START that takes trap.bin from the
  # user's data folder: a copy 4 bytes longer, which puts the workspace 4 bytes higher.
  mkdir -p "$work/home/.local/share/orbvex_up"
  local own=$work/home/.local/share/orbvex_up/trap.bin
  head -c 4 /dev/zero | cat "$data/trap.bin" - >"$own"
  local wptr
  wptr=$(printf 'Trap_Wptr %08X' $((0x80000140 + ($(stat -c %s "$own") & ~3) + 8)))
  # (a receiver that failed to end when its client goes would otherwise hold the run)
  env -i PATH=/usr/bin:/bin timeout 300 "${emulator[@]}" "$bin/orbvex_receiver" --unix "$work/receiver.sock" \
    --once --quiet >"$work/receiver.log" 2>&1 &
  local receiver=$! waited=0
  until [ -S "$work/receiver.sock" ] || [ $waited -ge 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
  done
  if ! (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/home" "${emulator[@]}" "$bin/orbvex_cli" \
    --remote "unix:$work/receiver.sock" start) >"$work/remote.log" 2>&1; then
    kill "$receiver" 2>/dev/null || true
    fail "START on the unpacked orbvex_receiver with the user's trap.bin failed: $(tail -n 3 "$work/remote.log") $(cat "$work/receiver.log")"
  fi
  wait "$receiver" || fail "the unpacked orbvex_receiver ended with status $?: $(cat "$work/receiver.log")"
  grep -qxF "$wptr" "$work/remote.log" || fail "START did not take the user's own trap.bin: $(grep Trap_Wptr "$work/remote.log")"
  rm "$own"

  mv "$data/trap.bin" "$scratch/"
  local status=0
  run_unpacked start >"$work/missing.log" 2>&1 || status=$?
  mv "$scratch/trap.bin" "$data/"
  if [ "$status" -ne 1 ] || ! grep -qxF "File trap.bin  fail" "$work/missing.log"; then
    fail "with no trap.bin in the data folder START gave status $status: $(tail -n 3 "$work/missing.log")"
  fi

  # The window on the virtual receiver starts from the unpacked tree (and stays up).
  if [ "$package" = orbvex-up ] && [ ${#emulator[@]} -eq 0 ]; then
    status=0
    (cd "$work" && env -i PATH=/usr/bin:/bin HOME="$work/home" QT_QPA_PLATFORM=offscreen \
      timeout 2 "$bin/orbvex_up_virtual") >"$work/window.log" 2>&1 || status=$?
    [ "$status" -eq 124 ] || fail "the unpacked orbvex_up_virtual ended with status $status: $(tail -n 3 "$work/window.log")"
  fi
  rm -rf "$scratch"
  echo "$(basename "$deb"): unpacked, its contents, a virtual write and read-back, START on its served receiver: OK"
  echo "  Depends: $(dpkg-deb -f "$deb" Depends)"

  command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps.sh installs it)"
  local findings
  findings=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[A-Z]: ' || true)
  if [ -n "$findings" ]; then
    echo "  lintian:"
    sed 's/^/    /' <<<"$findings"
  else
    echo "  lintian: nothing to report"
  fi
  ! grep -q '^E: ' <<<"$findings" || fail "lintian finds errors in $(basename "$deb")"
}
