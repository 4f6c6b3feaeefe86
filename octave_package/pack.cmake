# Writes the Octave package OUTPUT (vorn_hist2-VERSION.tar.gz) from the
# file list in FILE_LIST, staged in STAGE_DIR. Run with cmake -P.
#
# The tarball is the same byte for byte on every build of the same sources:
# names sorted, every entry dated DATE (the release date in DESCRIPTION),
# owned by 0:0 with no user or group names, modes normalised, and gzip
# writing neither the file name nor a time stamp.
#
#   -DVERSION=1.0.0 -DDATE=2026-12-10 -DFILE_LIST=files.cmake
#   -DSTAGE_DIR=dir -DOUTPUT=dist/vorn_hist2-1.0.0.tar.gz -DTAR=tar -DGZIP=gzip
#
# FILE_LIST sets PACKAGE_FILES, pairs of a source file and its place in the
# package, and PACKAGE_CONFIGURED, the sources to configure with VERSION and
# DATE (DESCRIPTION.in).

cmake_minimum_required(VERSION 3.25)

foreach(var VERSION DATE FILE_LIST STAGE_DIR OUTPUT TAR GZIP)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "pack.cmake: ${var} is not set")
  endif()
endforeach()
include("${FILE_LIST}")

set(top "vorn_hist2-${VERSION}")
set(PROJECT_VERSION "${VERSION}")
set(VORN_RELEASE_DATE "${DATE}")
file(REMOVE_RECURSE "${STAGE_DIR}")
list(LENGTH PACKAGE_FILES n)
math(EXPR last "${n} - 1")
foreach(i RANGE 0 ${last} 2)
  math(EXPR j "${i} + 1")
  list(GET PACKAGE_FILES ${i} from)
  list(GET PACKAGE_FILES ${j} to)
  if(from IN_LIST PACKAGE_CONFIGURED)
    configure_file("${from}" "${STAGE_DIR}/${top}/${to}" @ONLY)
  else()
    configure_file("${from}" "${STAGE_DIR}/${top}/${to}" COPYONLY)
  endif()
endforeach()

get_filename_component(out_dir "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${out_dir}")
set(partial "${OUTPUT}.partial")
execute_process(
  COMMAND "${TAR}" --create --format=ustar --sort=name
          "--mtime=${DATE} 00:00:00 UTC" --owner=0 --group=0 --numeric-owner
          --mode=a+rX,u+w,go-w --directory "${STAGE_DIR}" "${top}"
  COMMAND "${GZIP}" -n -9
  OUTPUT_FILE "${partial}"
  RESULTS_VARIABLE results)
foreach(r IN LISTS results)
  if(NOT r EQUAL 0)
    file(REMOVE "${partial}")
    message(FATAL_ERROR "pack.cmake: tar | gzip failed (${results})")
  endif()
endforeach()
file(RENAME "${partial}" "${OUTPUT}")

# A package of another version is no longer delivered.
file(GLOB old "${out_dir}/vorn_hist2-*.tar.gz")
list(REMOVE_ITEM old "${OUTPUT}")
if(old)
  file(REMOVE ${old})
endif()
