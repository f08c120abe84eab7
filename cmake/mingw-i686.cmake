# 32-bit Windows, the deliverable. The posix thread model is the one GoogleTest builds with.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ctest starts the test programs with the `wine` first on PATH: scripts/lib/wine32.sh puts the
# i386 root's there.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
