# The Linux plug-in vorn_hist2.mexa64, and the stand-in host libraries it is
# linked against. The stand-ins are built here, outside the output folder,
# and are never delivered: the host process supplies the real libmx.so,
# libmex.so and libmat.so.

set(VORN_HOSTLIB_DIR "${CMAKE_BINARY_DIR}/hostlibs")

# Stand-in libmx.so: the in-process test host, which implements every host
# function that the gateway calls, with the three 7.3 functions at version
# v7.3. Linking against it records that version need; loading the plug-in
# with it makes the stand-in libraries a working host.
function(vorn_standin_libmx target dir map)
  add_library(${target} SHARED hostapi/testhost.cpp)
  target_include_directories(${target} PUBLIC hostapi)
  target_link_options(${target} PRIVATE "-Wl,--version-script=${map}")
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME mx
    LIBRARY_OUTPUT_DIRECTORY "${dir}"
    LINK_DEPENDS "${map}")
endfunction()

vorn_standin_libmx(vorn_standin_mx "${VORN_HOSTLIB_DIR}" "${CMAKE_SOURCE_DIR}/hostapi/libmx.map")

# An older libmx.so, versioned but without v7.3: the plug-in must not load
# against it.
vorn_standin_libmx(vorn_standin_mx_old "${CMAKE_BINARY_DIR}/hostlibs_old" "${CMAKE_SOURCE_DIR}/hostapi/libmx_old.map")

foreach(name mex mat)
  add_library(vorn_standin_${name} SHARED hostapi/standin_empty.c)
  set_target_properties(vorn_standin_${name} PROPERTIES
    OUTPUT_NAME ${name}
    LIBRARY_OUTPUT_DIRECTORY "${VORN_HOSTLIB_DIR}")
endforeach()

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
  vorn_standin_mx vorn_standin_mex vorn_standin_mat
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
