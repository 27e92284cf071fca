# How every Windows program of the project is compiled and linked: C++17 without exceptions,
# UTF-8 resource scripts, static run-time, hardened and reproducible images. Included by the
# product build and the benchmark build alike.
set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

# UTF-8 sources, Japanese resources: windres reads them as code page 65001.
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")

add_compile_options(-Wall -Wextra -fno-exceptions $<$<COMPILE_LANGUAGE:CXX>:-fno-rtti>)

# Built for size, as setup programs are: the program's own code is small next to any payload,
# and runs once. The loops that touch every byte of a payload (the unscrambling, the checksum and
# the copy of the archive's entries, in payload/Unpack.cpp, payload/Crc32.cpp and
# payload/Archive.cpp) keep the speed of -O3: pivora_compile_for_speed() gives those files that
# level wherever they are compiled.
set(CMAKE_C_FLAGS_RELEASE "-Os -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG")
set(PIVORA_SPEED_SOURCES ${CMAKE_CURRENT_LIST_DIR}/../payload/Unpack.cpp
    ${CMAKE_CURRENT_LIST_DIR}/../payload/Crc32.cpp ${CMAKE_CURRENT_LIST_DIR}/../payload/Archive.cpp)
# The checksum's tables are zero until the program makes them at start: kept out of sections of
# their own (where GCC for Windows stores a datum's zeros in the image), they go to .bss.
function(pivora_compile_for_speed)
  set_source_files_properties(${PIVORA_SPEED_SOURCES} PROPERTIES COMPILE_OPTIONS -O3)
  set_source_files_properties(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/../payload/Crc32.cpp PROPERTIES
                              COMPILE_OPTIONS "-O3;-fno-data-sections")
endfunction()
# Small images: every function and datum in a section of its own, and the linker drops the
# sections that nothing uses.
add_compile_options(-ffunction-sections -fdata-sections)
add_link_options(-Wl,--gc-sections)
# Unwind data: 64-bit Windows dispatches an exception through a frame, and walks past it in a
# crash report, only by the function's entry in the exception directory (.pdata, .xdata), so the
# 64-bit program keeps them for every function. 32-bit Windows finds its handlers in records on
# the stack and needs no tables: nothing throws, so the 32-bit program carries none of its own.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_compile_options(-fno-asynchronous-unwind-tables -fno-unwind-tables)
endif()
add_compile_definitions(WIN32_LEAN_AND_MEAN _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600)
add_link_options(-static -static-libgcc -static-libstdc++)
# Hardened and reproducible: ASLR with relocations kept, DEP, no time stamp in the image, and no
# build paths in the objects.
add_link_options(-Wl,--dynamicbase -Wl,--nxcompat -Wl,--no-insert-timestamp)
# Aware of terminal services: on a Remote Desktop session host Windows would otherwise give the
# program a private Windows directory in the user's profile, which the user can change.
add_link_options(-Wl,--tsaware)
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/= -ffile-prefix-map=${CMAKE_BINARY_DIR}/=)
