# 64-bit Windows with MinGW-w64 (Debian's x86_64-w64-mingw32, POSIX thread model for std::thread);
# tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BMPFACE_TRIPLET x86_64-w64-mingw32)
set(BMPFACE_WINEARCH win64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake)
