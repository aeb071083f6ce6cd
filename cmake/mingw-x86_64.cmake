# 64-bit Windows: the same code, for testing under Wine on a kernel that runs
# no 32-bit code. cmake --preset win64
set(REAPIT_MINGW_ARCH x86_64)
set(REAPIT_WINEARCH win64)
# Debian keeps the 64-bit loader off PATH, and its `wine` prefers the 32-bit one.
set(REAPIT_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
