# 64-bit Intel macOS, cross-built here with clang and the Mach-O port of lld.
# There is no Apple SDK on this machine: build/macos/sdk stands in for it
# with the one header the sources need and text stubs of the two system
# libraries the bundle links against.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/../llvm.cmake)
vorn_find_llvm(VORN_CLANG clang)
vorn_find_llvm(VORN_CLANGXX clang++)
vorn_find_llvm(VORN_LLVM_AR llvm-ar)
vorn_find_llvm(VORN_LLVM_RANLIB llvm-ranlib)
vorn_find_llvm(VORN_LD64_LLD ld64.lld)
set(CMAKE_C_COMPILER "${VORN_CLANG}")
set(CMAKE_CXX_COMPILER "${VORN_CLANGXX}")
set(CMAKE_C_COMPILER_TARGET x86_64-apple-macosx10.9)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macosx10.9)
set(CMAKE_OSX_ARCHITECTURES x86_64 CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.9 CACHE STRING "" FORCE)
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
set(VORN_PLATFORM "macos" CACHE STRING "" FORCE)
