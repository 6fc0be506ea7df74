# Cross-builds for 64-bit Windows with Debian's MinGW-w64 compilers (posix threads):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DUMBRA_ENGINE_ONLY=ON -DUMBRA_BENCH=OFF -DGTest_DIR=<googletest built with this file>/lib/cmake/GTest
# Tests run through wine (/usr/lib/wine/wine64), which CTest puts in front of every test program.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(UMBRA_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${UMBRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UMBRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${UMBRA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW tree only; GTest_DIR (or CMAKE_FIND_ROOT_PATH on the
# command line) points at a googletest built with this file, since Debian packages none for MinGW.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${UMBRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the MinGW runtime inside, so nothing has to ship beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
