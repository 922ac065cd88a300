# Cross build for 64-bit Windows with mingw-w64.
set(KESTRIN_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Tests of the cross build run under 64-bit Wine on a virtual display. This
# build is the stand-in for the 32-bit one where the kernel runs no 32-bit
# program: the same sources, the same tests, but for the tests of the 32-bit
# calling convention itself.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh --win64)
