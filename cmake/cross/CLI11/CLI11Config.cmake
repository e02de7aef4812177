# SPDX-License-Identifier: GPL-2.0-or-later
# CLI11 for cross builds. It is header-only, so Debian's headers serve any target, but
# only its CLI/ folder may be put on the include path: /usr/include as a whole would
# hand the host's C library headers to the cross compiler.
if(NOT TARGET CLI11::CLI11)
  set(_orbvex_cli11_include ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${_orbvex_cli11_include})
  file(CREATE_LINK /usr/include/CLI ${_orbvex_cli11_include}/CLI SYMBOLIC)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES
      INTERFACE_INCLUDE_DIRECTORIES ${_orbvex_cli11_include})
endif()
