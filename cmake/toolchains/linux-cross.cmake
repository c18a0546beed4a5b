# Shared by the Linux cross targets: Debian's cross compiler for BMPFACE_TRIPLET, its libraries
# under /usr/<triplet>, and the test programs run through qemu-user with that prefix as the root
# for the dynamic loader and libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_C_COMPILER ${BMPFACE_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${BMPFACE_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${BMPFACE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${BMPFACE_QEMU} -L /usr/${BMPFACE_TRIPLET})
