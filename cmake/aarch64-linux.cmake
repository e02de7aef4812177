# SPDX-License-Identifier: GPL-2.0-or-later
# 64-bit ARM Linux programs (a Raspberry Pi 3, 4 or 5 with a 64-bit system, and the
# like) from Debian's cross compiler, linked statically so that a program copied to the
# board runs there as it is. Libraries for the target (libgpiod) come from Debian's arm64
# packages installed beside the host's (multiarch), found through their pkg-config files.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Header-only libraries installed for the host serve the target too; their package
# files would put the host's include folder on the path, so they come from cmake/cross/.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/CLI11 CACHE PATH "CLI11 for cross builds")
