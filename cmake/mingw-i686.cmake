# 32-bit Windows, the tool's target: cmake --preset win32
set(REAPIT_MINGW_ARCH i686)
set(REAPIT_WINEARCH win32)
set(REAPIT_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
