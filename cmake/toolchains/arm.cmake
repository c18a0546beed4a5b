# 32-bit ARM Linux, hard-float ABI (Debian's arm-linux-gnueabihf); tests run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR arm)
set(BMPFACE_TRIPLET arm-linux-gnueabihf)
set(BMPFACE_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross.cmake)
