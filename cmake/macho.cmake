# What both macOS plug-ins share: a 64-bit Mach-O bundle, vorn_hist2, linked
# by ld64.lld for the toolchain's architecture against text stubs of the
# host's and the system's libraries. The including file sets
# VORN_MACHO_OPTIONS (the platform version and the code signature option,
# which the test loader's probe bundle takes too) and VORN_MACHO_SUFFIX.
include(cmake/hostapi.cmake)

# Link stubs of the host libraries, one symbol list per library from mex.h.
vorn_hostapi_functions(HOSTAPI)
set(host_stubs "")
foreach(group MX MEX)
  string(TOLOWER "lib${group}" LIBRARY)
  set(symbols "")
  foreach(name IN LISTS HOSTAPI_${group})
    list(APPEND symbols "_${HOSTAPI_BOUND_${name}}")
  endforeach()
  list(JOIN symbols ", " SYMBOLS)
  set(INSTALL_NAME "@rpath/${LIBRARY}.dylib")
  configure_file(hostapi/macos/host.tbd.in "${CMAKE_BINARY_DIR}/hostlib/${LIBRARY}.tbd" @ONLY)
  list(APPEND host_stubs "${CMAKE_BINARY_DIR}/hostlib/${LIBRARY}.tbd")
endforeach()

set(sdk_lib "${CMAKE_OSX_SYSROOT}/usr/lib")
set(exports "${CMAKE_SOURCE_DIR}/build/macos/exports.txt")

# ld64.lld is called directly: the compiler driver would name a linker
# version and runtime libraries of its own. The needed libraries are listed
# in the order the host expects them: libmx, libmex, libc++, libSystem.
set(CMAKE_CXX_CREATE_SHARED_MODULE
    "<CMAKE_LINKER> -arch ${CMAKE_OSX_ARCHITECTURES} -bundle <LINK_FLAGS> -o <TARGET> <OBJECTS> <LINK_LIBRARIES>")

add_library(vorn_hist2 MODULE gateway/vorn_hist2.cpp gateway/mexfilerequiredapiversion.cpp)
target_include_directories(vorn_hist2 PRIVATE hostapi)
# The stack guard comes from libSystem, as on the host's own builds.
target_compile_options(vorn_hist2 PRIVATE -fstack-protector-strong)
# clang would fold the sampler into hist2; inlining only what is marked
# inline keeps samp a function of its own, a local symbol of the bundle,
# as g++ leaves it in the other builds.
target_compile_options(vorn_core PRIVATE -fstack-protector-strong -finline-hint-functions)
target_link_libraries(vorn_hist2 PRIVATE vorn_core ${host_stubs}
  "${sdk_lib}/libc++.1.tbd" "${sdk_lib}/libSystem.B.tbd")
# No run path of its own: the host's executable supplies @rpath.
target_link_options(vorn_hist2 PRIVATE ${VORN_MACHO_OPTIONS} -exported_symbols_list "${exports}")
set_property(TARGET vorn_hist2 APPEND PROPERTY LINK_DEPENDS "${exports}")
set_target_properties(vorn_hist2 PROPERTIES
  PREFIX ""
  SUFFIX "${VORN_MACHO_SUFFIX}"
  LIBRARY_OUTPUT_DIRECTORY "${VORN_DIST_DIR}")

# The test loader's own probe bundle.
if(VORN_TESTS)
  add_subdirectory(tests/macos)
endif()
