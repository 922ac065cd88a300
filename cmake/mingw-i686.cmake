# Cross build for 32-bit Windows with mingw-w64: the DLL as shipped.
set(KESTRIN_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# Tests of the cross build run under 32-bit Wine on a virtual display.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
