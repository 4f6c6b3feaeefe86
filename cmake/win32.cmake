# The win32 plug-in: see windows.cmake.
include("${CMAKE_CURRENT_LIST_DIR}/windows.cmake")
