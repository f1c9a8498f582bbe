# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads
# flavour, g++-mingw-w64-x86-64-posix, so std::thread and std::mutex work):
#
#   cmake -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake ...
#
# Programs and tests are linked statically, so an .exe runs without the
# compiler's DLLs beside it. CTest runs the tests through
# CMAKE_CROSSCOMPILING_EMULATOR when one is given (scripts/build-windows
# passes its Wine wrapper).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUARNEX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUARNEX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUARNEX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUARNEX_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUARNEX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
