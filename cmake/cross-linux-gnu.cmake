# Cross-building for another Linux architecture with Debian's cross compilers, running what is
# built under qemu-user. Set MAXMEDIAN_TARGET to the architecture: aarch64, s390x, ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${MAXMEDIAN_TARGET})
set(triple ${MAXMEDIAN_TARGET}-linux-gnu)
set(CMAKE_CXX_COMPILER ${triple}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)  # tools such as python3 run on this machine
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${MAXMEDIAN_TARGET} -L /usr/${triple})
