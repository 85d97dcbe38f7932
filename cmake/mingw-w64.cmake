# Cross-build for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake --preset windows        (or -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake)
# The result is a stand-alone ttyprog.exe: the C++ and C runtimes are linked in statically, so it
# needs no DLL beyond those that come with Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TTYPROG_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TTYPROG_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TTYPROG_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${TTYPROG_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TTYPROG_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The C runtime's standard-conforming printf family (%zu, %llu), not msvcrt's own.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
