# A big-endian host: 64-bit IBM Z Linux (Debian's s390x-linux-gnu); tests run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(BMPFACE_TRIPLET s390x-linux-gnu)
set(BMPFACE_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
