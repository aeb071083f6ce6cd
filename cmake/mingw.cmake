# What the MinGW-w64 toolchain files share. Each sets, before including this:
#   REAPIT_MINGW_ARCH  the target processor (i686, x86_64)
#   REAPIT_WINEARCH    the kind of Wine prefix that runs its programs
#   REAPIT_WINE        the Wine loader for them
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${REAPIT_MINGW_ARCH})

# The posix thread model, which GoogleTest needs for std::mutex; linked
# statically like the rest, its threads library needs no DLL either.
set(_triple ${REAPIT_MINGW_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so that the programs need no DLL that Windows lacks.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The tests run the programs under Wine, in a prefix of this build's own,
# quietly, and with no installer offering Mono or Gecko on first use.
set(REAPIT_WINE_ENV
    env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEARCH=${REAPIT_WINEARCH}
    WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=)
set(CMAKE_CROSSCOMPILING_EMULATOR ${REAPIT_WINE_ENV} ${REAPIT_WINE})
