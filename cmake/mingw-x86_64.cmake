# 64-bit Windows: the same code, for running the tests where only 64-bit Wine is available.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# ctest starts the test programs with the 64-bit Wine by name: Debian's `wine` launcher would pick
# the 32-bit loader wherever wine32:i386 is installed, whether or not it can run.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
