# Cross-building the Windows program on Linux with MinGW-w64 (64-bit, posix
# threads). Use with: cmake -S . -B build-win
#   -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_mingw x86_64-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_mingw}-gcc-posix ${_mingw}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_mingw}-g++-posix ${_mingw}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_mingw}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under Wine, in a prefix of the build's own so
# that nothing touches the user's ~/.wine. Without Wine the program itself
# still builds (make windows); only running tests needs it. Wine's loader is
# named here only: the Makefile and tools/check_windows_zip.sh read
# AGESWEEP_WINE from the build's cache.
set(AGESWEEP_WINE /usr/lib/wine/wine64 CACHE FILEPATH "Wine loader for running Windows tests")
set(AGESWEEP_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix for running Windows tests")
set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${AGESWEEP_WINEPREFIX} WINEDEBUG=-all
    "WINEDLLOVERRIDES=mscoree,mshtml=" ${AGESWEEP_WINE})
