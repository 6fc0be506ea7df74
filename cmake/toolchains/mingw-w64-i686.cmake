# Cross-builds for 32-bit Windows; tests run under wine (mingw-w64-common.cmake):
#   cmake -S . -B build-win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake \
#         -DUMBRA_ENGINE_ONLY=ON -DUMBRA_BENCH=OFF -DGTest_DIR=<googletest built with this file>/lib/cmake/GTest
set(UMBRA_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
