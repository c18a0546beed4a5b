# 32-bit Windows with MinGW-w64 (Debian's i686-w64-mingw32); tests run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(BMPFACE_TRIPLET i686-w64-mingw32)
set(BMPFACE_WINEARCH win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
