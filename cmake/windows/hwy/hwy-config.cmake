# Google Highway's headers for the Windows build, as the target hwy::hwy.
# Debian ships Highway's library for Linux only; the few functions of it that
# the headers call are built into Qav on every system (physics/hwy_runtime.cpp).
# Found through hwy_DIR, set by the toolchain.
if(TARGET hwy::hwy)
  return()
endif()
find_path(QAV_HWY_INCLUDE hwy/highway.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
if(NOT QAV_HWY_INCLUDE)
  set(hwy_FOUND FALSE)
  set(hwy_NOT_FOUND_MESSAGE "Highway's headers (Debian: libhwy-dev) not found in /usr/include")
  return()
endif()
# An include root that holds only hwy/: all of /usr/include would put glibc's
# headers before mingw-w64's.
set(qav_hwy_root ${CMAKE_BINARY_DIR}/hwy-include)
if(NOT EXISTS ${qav_hwy_root}/hwy)
  file(MAKE_DIRECTORY ${qav_hwy_root})
  file(CREATE_LINK ${QAV_HWY_INCLUDE}/hwy ${qav_hwy_root}/hwy SYMBOLIC)
endif()
add_library(hwy::hwy INTERFACE IMPORTED)
set_target_properties(hwy::hwy PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${qav_hwy_root})
set(hwy_FOUND TRUE)
