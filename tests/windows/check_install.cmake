cmake_minimum_required(VERSION 3.21)
# Installs the Windows build into PREFIX and fails unless the folder holds
# what a Windows user or host developer needs, and nothing that names the
# Linux library.
# cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed:\n${out}${err}")
endif()
set(missing)
foreach(file bin/DynamicLib-Qav.dll bin/qav.exe include/qav.h include/qav.f90
             lib/libDynamicLib-Qav.dll.a lib/DynamicLib-Qav.def lib/cmake/Qav/QavConfig.cmake)
  if(NOT EXISTS ${PREFIX}/${file})
    list(APPEND missing ${file})
  endif()
endforeach()
if(missing)
  message(FATAL_ERROR "missing from the installed folder: ${missing}")
endif()
file(GLOB_RECURSE stray RELATIVE ${PREFIX} ${PREFIX}/*.so* ${PREFIX}/*.pc ${PREFIX}/*.py)
if(stray)
  message(FATAL_ERROR "files for Linux in the Windows folder: ${stray}")
endif()
file(GLOB_RECURSE installed RELATIVE ${PREFIX} ${PREFIX}/*)
message(STATUS "installed: ${installed}")
