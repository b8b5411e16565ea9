# Google Highway for the Windows build. Debian ships Highway's headers and a
# Linux library; the few functions of that library that the headers call
# (the processor's targets, the chosen target, Abort) are built here for
# Windows from hwy_runtime.cpp. Found through hwy_DIR, set by the toolchain.
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
add_library(qav_hwy_runtime STATIC ${CMAKE_CURRENT_LIST_DIR}/../hwy_runtime.cpp)
target_include_directories(qav_hwy_runtime SYSTEM PUBLIC ${qav_hwy_root})
add_library(hwy::hwy ALIAS qav_hwy_runtime)
set(hwy_FOUND TRUE)
