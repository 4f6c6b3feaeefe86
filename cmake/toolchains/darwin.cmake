# macOS, cross-built here with clang and the Mach-O port of lld; the
# including file sets VORN_DARWIN_ARCH (the Mach-O architecture name),
# VORN_DARWIN_MIN (the minimum system) and VORN_PLATFORM.
# There is no Apple SDK on this machine: build/macos/sdk stands in for it
# with the one header the sources need and text stubs of the two system
# libraries the bundles link against.
set(CMAKE_SYSTEM_NAME Darwin)
include(${CMAKE_CURRENT_LIST_DIR}/../llvm.cmake)
vorn_find_llvm(VORN_CLANG clang)
vorn_find_llvm(VORN_CLANGXX clang++)
vorn_find_llvm(VORN_LLVM_AR llvm-ar)
vorn_find_llvm(VORN_LLVM_RANLIB llvm-ranlib)
vorn_find_llvm(VORN_LD64_LLD ld64.lld)
set(CMAKE_C_COMPILER "${VORN_CLANG}")
set(CMAKE_CXX_COMPILER "${VORN_CLANGXX}")
set(CMAKE_C_COMPILER_TARGET ${VORN_DARWIN_ARCH}-apple-macosx${VORN_DARWIN_MIN})
set(CMAKE_CXX_COMPILER_TARGET ${VORN_DARWIN_ARCH}-apple-macosx${VORN_DARWIN_MIN})
set(CMAKE_OSX_ARCHITECTURES ${VORN_DARWIN_ARCH} CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET ${VORN_DARWIN_MIN} CACHE STRING "" FORCE)
# The compiler's -isysroot: headers and libraries come from there alone.
get_filename_component(sdk "${CMAKE_CURRENT_LIST_DIR}/../../build/macos/sdk" ABSOLUTE)
set(CMAKE_OSX_SYSROOT "${sdk}" CACHE PATH "" FORCE)
# The host's C++ runtime is libc++ (the sources use none of its headers).
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_AR "${VORN_LLVM_AR}" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${VORN_LLVM_RANLIB}" CACHE FILEPATH "" FORCE)
set(CMAKE_LINKER "${VORN_LD64_LLD}" CACHE FILEPATH "" FORCE)
# Nothing here can link a macOS executable; compiler checks build archives.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
