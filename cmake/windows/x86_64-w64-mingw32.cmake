# Cross build for 64-bit Windows with Debian's mingw-w64 (posix thread model:
# std::thread and std::mutex come from winpthreads, linked in statically).
#
#   cmake --preset windows        (or -DCMAKE_TOOLCHAIN_FILE=<this file>)
#
# Programs of the build run under Wine through CMAKE_CROSSCOMPILING_EMULATOR,
# so that CTest runs the Windows tests as it runs native ones.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QAV_MINGW_TRIPLET x86_64-w64-mingw32)
# The -posix compilers by name: Debian's unsuffixed ones follow an
# alternative that may point at the win32 thread model, which has no
# std::thread in GCC 12.
set(CMAKE_C_COMPILER ${QAV_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QAV_MINGW_TRIPLET}-g++-posix)
set(CMAKE_Fortran_COMPILER ${QAV_MINGW_TRIPLET}-gfortran-posix)
set(CMAKE_RC_COMPILER ${QAV_MINGW_TRIPLET}-windres)
set(CMAKE_OBJDUMP ${QAV_MINGW_TRIPLET}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${QAV_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Google Highway: Debian's headers, with its library's few functions built
# for Windows (cmake/windows/hwy/).
set(hwy_DIR ${CMAKE_CURRENT_LIST_DIR}/hwy CACHE PATH "Highway for the Windows build")

# GCC cannot keep the stack 32-byte aligned on Win64, so an AVX register
# spilled to the stack with an aligned move faults; the assembler turns every
# aligned vector move into an unaligned one (same speed on aligned data).
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# The library and the programs carry the GCC, C++ and thread runtimes inside:
# a host needs nothing beside DynamicLib-Qav.dll but Windows itself.
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Wine runs the test programs: headless, in a prefix of its own inside the
# build tree, created on first use.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh ${CMAKE_BINARY_DIR}/wine-prefix)
