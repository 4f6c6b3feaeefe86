# The Windows plug-ins vorn_hist2.mexw64 and vorn_hist2.mexw32 (mingw-w64,
# GNU ld), and in tests/windows the stand-in host libraries and the host
# program that run them under Wine.
#
# The plug-in carries no C runtime start-up: its entry point only turns
# thread notifications off, and the link is spelled out so that the file
# imports exactly libmx.dll, libmex.dll, MSVCR80.dll and KERNEL32.dll, in
# that order, and nothing else.

set(VORN_WIN_INPUTS "${CMAKE_SOURCE_DIR}/build/windows")
if(VORN_PLATFORM STREQUAL "win32")
  set(VORN_MEX_SUFFIX ".mexw32")
  set(vorn_entry "_vorn_dll_entry@12")   # stdcall, decorated
else()
  set(VORN_MEX_SUFFIX ".mexw64")
  set(vorn_entry "vorn_dll_entry")
endif()
# No default Windows libraries on any link: each link names what it needs.
set(CMAKE_C_STANDARD_LIBRARIES "")
set(CMAKE_CXX_STANDARD_LIBRARIES "")

# Import libraries. GNU ld lays the import descriptors out in the order of
# the import libraries' paths, whatever the command line says, so the
# numbered names fix the order. The host's and the runtime's are made from
# .def files (mingw's own libmsvcr80.a links floor statically); KERNEL32's
# is mingw's, copied under its number. dlltool names the library's symbols
# after the output name it is given: a name relative to the folder keeps the
# build's path out of them (and out of the plug-in's symbol table).
find_library(VORN_MINGW_KERNEL32 kernel32 REQUIRED)
# vorn_windows_implibs(<target> <folder>): the four import libraries in
# <folder>, made by the custom target <target>; their paths in <target>_FILES.
function(vorn_windows_implibs target dir)
  file(MAKE_DIRECTORY "${dir}")
  set(libs "")
  set(index 0)
  foreach(def libmx libmex msvcr80)
    math(EXPR index "${index} + 1")
    set(name "${index}-${def}.a")
    add_custom_command(OUTPUT "${dir}/${name}"
      COMMAND "${CMAKE_DLLTOOL}" -d "${VORN_WIN_INPUTS}/${def}.def" -l "${name}"
      DEPENDS "${VORN_WIN_INPUTS}/${def}.def"
      WORKING_DIRECTORY "${dir}"
      VERBATIM)
    list(APPEND libs "${dir}/${name}")
  endforeach()
  add_custom_command(OUTPUT "${dir}/4-kernel32.a"
    COMMAND "${CMAKE_COMMAND}" -E copy "${VORN_MINGW_KERNEL32}" "${dir}/4-kernel32.a"
    DEPENDS "${VORN_MINGW_KERNEL32}"
    VERBATIM)
  list(APPEND libs "${dir}/4-kernel32.a")
  add_custom_target(${target} DEPENDS ${libs})
  set(${target}_FILES "${libs}" PARENT_SCOPE)
endfunction()

set(vorn_manifest "${VORN_WIN_INPUTS}/vorn_hist2.${VORN_PLATFORM}.manifest")

# Two builds of the same sources give the same bytes: GNU ld writes no time
# stamp, and the preferred load address is fixed (left to itself, ld derives
# it from the output file's name and folder). The addresses are the usual
# defaults for DLLs on each platform.
if(VORN_PLATFORM STREQUAL "win32")
  set(vorn_image_base 0x10000000)
else()
  set(vorn_image_base 0x180000000)
endif()

# vorn_windows_plugin(<target> <folder> <implib folder>): the plug-in, linked
# into <folder> with import libraries of its own, made in <implib folder>.
function(vorn_windows_plugin target dir implib_dir)
  vorn_windows_implibs(${target}_implibs "${implib_dir}")
  # The resource section with the embedded runtime manifest.
  set(vorn_res "${CMAKE_BINARY_DIR}/${target}_manifest.o")
  add_custom_command(OUTPUT "${vorn_res}"
    COMMAND "${CMAKE_C_COMPILER}" -c -x assembler-with-cpp "-DMANIFEST_FILE=\"${vorn_manifest}\""
            -o "${vorn_res}" "${VORN_WIN_INPUTS}/vorn_hist2_manifest.S"
    DEPENDS "${VORN_WIN_INPUTS}/vorn_hist2_manifest.S" "${vorn_manifest}"
    VERBATIM)
  add_library(${target} MODULE
    core/hist2.cpp
    gateway/vorn_hist2.cpp
    gateway/dllentry.cpp
    "${vorn_res}"
    "${VORN_WIN_INPUTS}/vorn_hist2.def")
  target_include_directories(${target} PRIVATE hostapi core)
  # The runtime is asked for floor alone: left to themselves both compilers
  # turn floor((double)x) of a float into floorf, which the 32-bit MSVCR80.dll
  # lacks.
  target_compile_options(${target} PRIVATE
    -fno-builtin-floor -fno-builtin-floorf -fno-exceptions -fno-rtti -fno-stack-protector)
  target_link_options(${target} PRIVATE
    -nostdlib -static-libgcc
    "-Wl,--entry,${vorn_entry}"
    -Wl,--subsystem,windows
    -Wl,--no-insert-timestamp
    "-Wl,--image-base,${vorn_image_base}")
  target_link_libraries(${target} PRIVATE ${${target}_implibs_FILES} gcc)
  add_dependencies(${target} ${target}_implibs)
  set_target_properties(${target} PROPERTIES
    PREFIX ""
    OUTPUT_NAME vorn_hist2
    SUFFIX "${VORN_MEX_SUFFIX}"
    LIBRARY_OUTPUT_DIRECTORY "${dir}"
    LINK_DEPENDS "${VORN_WIN_INPUTS}/vorn_hist2.def")
endfunction()

vorn_windows_plugin(vorn_hist2_mex "${VORN_DIST_DIR}" "${CMAKE_BINARY_DIR}/implib")
if(VORN_TESTS)
  # The same plug-in compiled and linked again, with its own import
  # libraries, into another folder, when the reproducibility test asks for
  # it: it must come out byte for byte the same.
  vorn_windows_plugin(vorn_hist2_mex_again "${CMAKE_BINARY_DIR}/again"
                      "${CMAKE_BINARY_DIR}/again/implib")
  set_target_properties(vorn_hist2_mex_again PROPERTIES EXCLUDE_FROM_ALL ON)
endif()

if(VORN_TESTS)
  add_subdirectory(tests/windows)
endif()
