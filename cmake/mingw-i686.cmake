# SPDX-License-Identifier: GPL-2.0-or-later
# 32-bit Windows programs from Debian's MinGW-w64 cross compiler (posix threads),
# linked statically so that each .exe runs on its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Header-only libraries installed for the host serve the target too; their package
# files would put the host's include folder on the path, so they come from cmake/cross/.
set(CLI11_DIR ${CMAKE_CURRENT_LIST_DIR}/cross/CLI11 CACHE PATH "CLI11 for cross builds")

# With Wine on the machine the build's programs run here too: CTest lists and runs
# the Windows test programs through the wrapper, in a Wine prefix of the build's own.
find_program(ORBVEX_WINE wine)
if(ORBVEX_WINE)
  get_filename_component(ORBVEX_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh ABSOLUTE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORBVEX_WINE_RUN})
endif()
