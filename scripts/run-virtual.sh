#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The main job on the virtual receiver: installs what is missing, builds the program it
# runs (not the tests), then opens the window wired to the virtual receiver, or, with no
# display, runs START through the command-line tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
bin=${ORBVEX_BUILD_DIR:-$root/build}/bin
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  "$root/scripts/build.sh" orbvex_up_virtual
  exec "$bin/orbvex_up_virtual"
fi
"$root/scripts/build.sh" orbvex_cli
echo "No display found (DISPLAY is not set): running START on the virtual receiver"
echo "through the command-line tool instead. For the window, run this under a desktop"
echo "session or with: xvfb-run $0"
exec "$bin/orbvex_cli" --virtual start
