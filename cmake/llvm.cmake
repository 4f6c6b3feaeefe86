# vorn_find_llvm(<var> <tool>): the full path of an installed LLVM tool in
# <var> (cached), whichever LLVM release Debian ships: the versioned names
# (<tool>-19 down to <tool>-14), newest first, then the plain name. Fails the
# configure, naming scripts/setup, if none is there.
set(VORN_LLVM_VERSIONS 19 18 17 16 15 14)

function(vorn_find_llvm var tool)
  set(names "")
  foreach(version IN LISTS VORN_LLVM_VERSIONS)
    list(APPEND names "${tool}-${version}")
  endforeach()
  list(APPEND names "${tool}")
  find_program(${var} NAMES ${names} NAMES_PER_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "${tool} was not found (as ${tool}-N for N in ${VORN_LLVM_VERSIONS}, "
                        "or as ${tool}): run scripts/setup")
  endif()
endfunction()
