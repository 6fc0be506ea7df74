# Cross-builds for 64-bit Windows; tests run under wine64 (mingw-w64-common.cmake):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake \
#         -DUMBRA_ENGINE_ONLY=ON -DUMBRA_BENCH=OFF -DGTest_DIR=<googletest built with this file>/lib/cmake/GTest
set(UMBRA_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
