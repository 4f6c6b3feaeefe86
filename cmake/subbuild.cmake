# Cross targets are sub-builds of the native build, each in its own binary
# folder under the native one, each with its toolchain file.
include(ExternalProject)

function(vorn_subbuild platform)
  set(dir "${CMAKE_BINARY_DIR}/${platform}")
  ExternalProject_Add(sub_${platform}
    SOURCE_DIR "${CMAKE_SOURCE_DIR}"
    BINARY_DIR "${dir}"
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/toolchains/${platform}.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DVORN_DIST_DIR=${VORN_DIST_DIR}
      -DVORN_TESTS=${VORN_TESTS}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  set(VORN_${platform}_DIR "${dir}" PARENT_SCOPE)
endfunction()

# The i386 and arm64 builds run the core's tests (x87 rules; the NEON walk
# under qemu-user, with Debian's arm64 cross libraries as the loader's
# root): they are part of the tests. The others make the plug-ins that were
# asked for.
if(VORN_TESTS)
  vorn_subbuild(i386)
  vorn_subbuild(aarch64)
  find_program(VORN_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
  set(VORN_AARCH64_RUN "${VORN_QEMU_AARCH64}" -L /usr/aarch64-linux-gnu)
  # i386 programs run directly, or under qemu-i386 on machines that cannot
  # run 32-bit programs (tests/i386/run.sh decides at each run).
  find_program(VORN_QEMU_I386 NAMES qemu-i386 qemu-i386-static REQUIRED)
  set(VORN_I386_RUN bash "${CMAKE_SOURCE_DIR}/tests/i386/run.sh"
      "${VORN_i386_DIR}/tests/i386/i386_probe" "${VORN_QEMU_I386}")
endif()
foreach(platform win64 win32 macos maca64)
  if(platform IN_LIST VORN_PLATFORMS)
    vorn_subbuild(${platform})
  endif()
endforeach()
