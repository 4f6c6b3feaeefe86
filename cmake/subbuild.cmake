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
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    USES_TERMINAL_BUILD ON)
  set(VORN_${platform}_DIR "${dir}" PARENT_SCOPE)
endfunction()

vorn_subbuild(i386)
vorn_subbuild(aarch64)
# The arm64 sub-build's programs run here under qemu-user, with Debian's
# arm64 cross libraries as the loader's root.
find_program(VORN_QEMU_AARCH64 NAMES qemu-aarch64 qemu-aarch64-static REQUIRED)
set(VORN_AARCH64_RUN "${VORN_QEMU_AARCH64}" -L /usr/aarch64-linux-gnu)
vorn_subbuild(win64)
vorn_subbuild(win32)
vorn_subbuild(macos)
