# The Linux plug-in vorn_hist2.mexa64.
#
# It is linked against link-only stubs of the host's libmx.so, libmex.so and
# libmat.so, made here from hostapi/mex.h as the macOS build's text stubs
# are: each defines its library's functions by name (their bodies are empty
# and never run), libmx.so the three 7.3 functions at version v7.3
# (hostapi/libmx.map), so that the link records the libraries and the
# version that the host's plug-ins need. They are never delivered: the host
# process supplies the real libraries.
include(cmake/hostapi.cmake)
vorn_hostapi_functions(HOSTAPI)
set(VORN_LINUX_STUB_DIR "${CMAKE_BINARY_DIR}/hostlib")
set(VORN_LIBMX_MAP "${CMAKE_SOURCE_DIR}/hostapi/libmx.map")
foreach(lib mx mex mat)
  string(TOUPPER "${lib}" group)
  set(text "/* Link-only stub of the host's lib${lib}.so, made from hostapi/mex.h. */\n")
  string(APPEND text "typedef int vorn_stub_unit; /* an empty file is not valid C */\n")
  foreach(name IN LISTS HOSTAPI_${group})
    string(APPEND text "void ${name}(void) {}\n")
  endforeach()
  set(stub "${VORN_LINUX_STUB_DIR}/lib${lib}_stub.c")
  file(CONFIGURE OUTPUT "${stub}" CONTENT "${text}" @ONLY)
  add_library(vorn_stub_${lib} SHARED "${stub}")
  set_target_properties(vorn_stub_${lib} PROPERTIES
    OUTPUT_NAME ${lib}
    LIBRARY_OUTPUT_DIRECTORY "${VORN_LINUX_STUB_DIR}")
endforeach()
target_link_options(vorn_stub_mx PRIVATE "-Wl,--version-script=${VORN_LIBMX_MAP}")
set_target_properties(vorn_stub_mx PROPERTIES LINK_DEPENDS "${VORN_LIBMX_MAP}")

# The plug-in. The link is spelled out so that the file needs exactly the
# host's libraries and glibc's, in the host's order: no default libraries
# (so no libgcc_s; libgcc's few helpers are linked in statically), and every
# listed library kept even where nothing is taken from it.
set(VORN_LINUX_MAP "${CMAKE_SOURCE_DIR}/build/linux/vorn_hist2.map")

add_library(vorn_hist2_mexa64 SHARED
  gateway/vorn_hist2.cpp
  gateway/mexversion.cpp
  core/hist2.cpp)
target_include_directories(vorn_hist2_mexa64 PRIVATE hostapi core)
# A toolchain that turns stack protection on by default would add a need
# for __stack_chk_fail at GLIBC_2.4; the host expects GLIBC_2.2.5 only.
target_compile_options(vorn_hist2_mexa64 PRIVATE -fno-stack-protector)
target_link_options(vorn_hist2_mexa64 PRIVATE
  -nodefaultlibs
  "-Wl,--version-script=${VORN_LINUX_MAP}"
  -Wl,-z,noexecstack
  -Wl,--no-as-needed)
target_link_libraries(vorn_hist2_mexa64 PRIVATE
  vorn_stub_mx vorn_stub_mex vorn_stub_mat
  m stdc++ -l:libpthread.so.0 c gcc)
# No soname: GNU ld then names the base version definition after the output
# file, "vorn_hist2.mexa64". No run path: the host's library path finds
# libmx.so and its companions.
set_target_properties(vorn_hist2_mexa64 PROPERTIES
  OUTPUT_NAME vorn_hist2
  PREFIX ""
  SUFFIX ".mexa64"
  NO_SONAME ON
  SKIP_BUILD_RPATH ON
  LIBRARY_OUTPUT_DIRECTORY "${VORN_DIST_DIR}"
  LINK_DEPENDS "${VORN_LINUX_MAP}")
