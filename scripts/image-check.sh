# SPDX-License-Identifier: GPL-2.0-or-later
# Sourced by the scripts that write an image with the tool and read the flash back.
# holds_image IMAGE READ: true when the flash read back holds IMAGE at its start and is
# erased (all 0xFF) past it.
holds_image() {
  local size
  size=$(stat -c %s "$1")
  cmp -s -n "$size" "$1" "$2" && [ "$(stat -c %s "$2")" -ge "$size" ] &&
    [ -z "$(tail -c +$((size + 1)) "$2" | LC_ALL=C tr -d '\377' | head -c 1)" ]
}
