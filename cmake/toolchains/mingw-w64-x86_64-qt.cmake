# Toolchain for building Qt itself for 64-bit Windows (scripts/windows/build-qt.sh): the compilers
# and find roots of mingw-w64-x86_64.cmake without its static runtime and wine emulator, since Qt's
# DLLs link the MinGW runtime dynamically. Copied with mingw-w64-common.cmake into the Qt prefix,
# whose qt.toolchain.cmake loads it by its absolute path.
set(UMBRA_MINGW_ARCH x86_64)
set(UMBRA_MINGW_SHARED_RUNTIME ON)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
