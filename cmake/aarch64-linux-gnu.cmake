# Cross build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); Highway and GoogleTest for arm64 come from Debian's
# multiarch packages (libhwy-dev:arm64, libgtest-dev:arm64, see
# scripts/install-deps-aarch64.sh). Programs run under qemu-aarch64.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

# The cross C library lives in /usr/aarch64-linux-gnu, the multiarch packages
# under /usr (lib/aarch64-linux-gnu): search both for arm64 files only.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu /)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests and gtest's discovery run the arm64 programs through the emulator,
# with the loader of the cross sysroot and its C library: the multiarch C
# library (libc6:arm64, which libhwy1:arm64 brings) is of another build, and
# a program whose loader and C library differ hangs in its first thread.
# Highway comes from the multiarch directory, which the loader searches after.
set(CMAKE_CROSSCOMPILING_EMULATOR
  qemu-aarch64 -L /usr/aarch64-linux-gnu -E LD_LIBRARY_PATH=/usr/aarch64-linux-gnu/lib)
