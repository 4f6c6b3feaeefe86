# 64-bit Windows: the vorn_hist2.mexw64 build.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VORN_MINGW_PREFIX x86_64-w64-mingw32)
set(VORN_PLATFORM "win64" CACHE STRING "" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
