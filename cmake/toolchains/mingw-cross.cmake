# Shared by the Windows targets: Debian's MinGW-w64 compiler for BMPFACE_TRIPLET, and Wine to run
# the test programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${BMPFACE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BMPFACE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${BMPFACE_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${BMPFACE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The C++ runtime, libgcc and winpthreads linked in, so that bmpface.dll and the programs need
# only the system's own DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -static)
# Wine runs the programs in a prefix of the target's own (WINEARCH win64 or win32), apart from the
# user's ~/.wine; scripts/cross-test.sh makes it once, with the same path. It finds bmpface.dll
# through WINEPATH, and its diagnostics would mix with the tests' output.
set(BMPFACE_WINEPREFIX "$ENV{HOME}/.wine-bmpface-${BMPFACE_WINEARCH}")
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml="
    WINEARCH=${BMPFACE_WINEARCH} "WINEPREFIX=${BMPFACE_WINEPREFIX}" "WINEPATH=Z:${CMAKE_BINARY_DIR}"
    wine)
