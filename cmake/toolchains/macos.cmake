# 64-bit Intel macOS, cross-built here with clang and the Mach-O port of lld.
# There is no Apple SDK on this machine: build/macos/sdk stands in for it
# with the one header the sources need and text stubs of the two system
# libraries the bundle links against.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER clang-14)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_C_COMPILER_TARGET x86_64-apple-macosx10.9)
set(CMAKE_CXX_COMPILER_TARGET x86_64-apple-macosx10.9)
set(CMAKE_OSX_ARCHITECTURES x86_64 CACHE STRING "" FORCE)
set(CMAKE_OSX_DEPLOYMENT_TARGET 10.9 CACHE STRING "" FORCE)
# The compiler's -isysroot: headers and libraries come from there alone.
get_filename_component(sdk "${CMAKE_CURRENT_LIST_DIR}/../../build/macos/sdk" ABSOLUTE)
set(CMAKE_OSX_SYSROOT "${sdk}" CACHE PATH "" FORCE)
# The host's C++ runtime is libc++ (the sources use none of its headers).
set(CMAKE_CXX_FLAGS_INIT "-stdlib=libc++")
set(CMAKE_AR llvm-ar-14 CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB llvm-ranlib-14 CACHE FILEPATH "" FORCE)
set(CMAKE_LINKER ld64.lld-14 CACHE FILEPATH "" FORCE)
# Nothing here can link a macOS executable; compiler checks build archives.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(VORN_PLATFORM "macos" CACHE STRING "" FORCE)
