# Toolchain for building Qt itself for 64-bit Windows (scripts/windows/build-qt.sh): the MinGW-w64
# compilers only. Qt's DLLs link the MinGW runtime dynamically, so the static flags, the extra find
# roots and the wine emulator of mingw-w64-x86_64.cmake stay out. Copied into the Qt prefix, whose
# qt.toolchain.cmake loads it by its absolute path.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
list(APPEND CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
