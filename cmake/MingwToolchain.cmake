# The cross build with the Debian mingw-w64 (posix threads) compilers for the target named by
# pivora_mingw_target (i686 or x86_64), included by the two toolchain files.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${pivora_mingw_target})

set(CMAKE_C_COMPILER   ${pivora_mingw_target}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${pivora_mingw_target}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  ${pivora_mingw_target}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${pivora_mingw_target}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Every program runs under Wine, with the environment that tools/with-wine.sh prepares (64-bit
# Wine alone for the 64-bit flavour).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../tools/wine-exec.sh)
