# Cross-builds for Windows with Debian's MinGW-w64 compilers (posix threads). Included by the file of
# each architecture, which sets first:
#   UMBRA_MINGW_ARCH            x86_64 or i686
#   UMBRA_MINGW_SHARED_RUNTIME  ON for Qt's own build: its DLLs link the MinGW runtime dynamically,
#                               so the static link flags and the wine emulator stay out
if(NOT UMBRA_MINGW_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "UMBRA_MINGW_ARCH must be x86_64 or i686 (got '${UMBRA_MINGW_ARCH}')")
endif()
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${UMBRA_MINGW_ARCH})
set(UMBRA_MINGW_TRIPLET ${UMBRA_MINGW_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER ${UMBRA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UMBRA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${UMBRA_MINGW_TRIPLET}-windres)

# Libraries and headers come from the MinGW tree only; GTest_DIR (or CMAKE_FIND_ROOT_PATH on the
# command line) points at a googletest built with the same file, since Debian packages none for MinGW.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${UMBRA_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(NOT UMBRA_MINGW_SHARED_RUNTIME)
  # The programs carry the MinGW runtime inside, so nothing has to ship beside them.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
  # Tests run through wine, which CTest puts in front of every test program.
  if(UMBRA_MINGW_ARCH STREQUAL "x86_64")
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
  else()
    set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine)
  endif()
endif()
