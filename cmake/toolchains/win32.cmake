# 32-bit Windows (i686, x87): the vorn_hist2.mexw32 build.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VORN_MINGW_PREFIX i686-w64-mingw32)
set(VORN_PLATFORM "win32" CACHE STRING "" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
