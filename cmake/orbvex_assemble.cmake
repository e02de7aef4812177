# SPDX-License-Identifier: GPL-2.0-or-later
# orbvex_assemble(<target> <source.s> <output.bin> [included files...]): a target, built
# by default, that assembles the ST20 source (relative to the calling folder) into the raw
# image, again whenever the source or a file it includes changes.
#
# A cross build cannot run the assembler it would build, so it uses one built for this
# machine, found on PATH (scripts/cross-build.sh builds it in the native tree and puts
# that first on PATH) or named with -DORBVEX_HOST_ST20ASM=path.
if(CMAKE_CROSSCOMPILING)
  find_program(ORBVEX_HOST_ST20ASM orbvex_st20asm)
  if(NOT ORBVEX_HOST_ST20ASM)
    message(FATAL_ERROR "A cross build needs orbvex_st20asm built for this machine: put it on PATH "
                        "(scripts/cross-build.sh does) or set ORBVEX_HOST_ST20ASM")
  endif()
  set(ORBVEX_ST20ASM_COMMAND ${ORBVEX_HOST_ST20ASM})
  set(ORBVEX_ST20ASM_DEPENDS)
else()
  set(ORBVEX_ST20ASM_COMMAND orbvex_st20asm)
  set(ORBVEX_ST20ASM_DEPENDS orbvex_st20asm)
endif()

function(orbvex_assemble target source output)
  get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  get_filename_component(folder ${output} DIRECTORY)
  set(included)
  foreach(file ${ARGN})
    get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    list(APPEND included ${file})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
    COMMAND ${ORBVEX_ST20ASM_COMMAND} ${source} ${output}
    DEPENDS ${source} ${included} ${ORBVEX_ST20ASM_DEPENDS}
    COMMENT "Assembling ${source}"
    VERBATIM)
  add_custom_target(${target} ALL DEPENDS ${output})
endfunction()
