# The cross build the way MSYS2's MINGW32 compiler builds on Windows: its gcc
# has the posix thread model (winpthreads, linked in statically), and there
# is no emulator, so the tests would run as they are. scripts/check-windows-preset
# builds the windows preset's way with it on Linux.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
unset(CMAKE_CROSSCOMPILING_EMULATOR)
