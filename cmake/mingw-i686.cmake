# Cross build for 32-bit Windows: the program as it ships.
set(pivora_mingw_target i686)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
