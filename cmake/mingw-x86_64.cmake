# Cross build for 64-bit Windows: the same sources as the shipped 32-bit program, for machines
# that can run 64-bit Wine only.
set(pivora_mingw_target x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
