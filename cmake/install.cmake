# Installation of DynamicLib-Qav for other projects: the C header, the shared
# library with its SONAME links, the qav program when it is built, a CMake
# package (find_package(Qav) -> Qav::DynamicLib-Qav) and a pkg-config file.
# The static core is linked into the shared library and is not installed.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(QAV_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Qav CACHE STRING
    "Where the CMake package files of Qav are installed (relative to the prefix)")

# The installed library finds nothing beside itself at run time; only its
# system libraries (libgomp, libstdc++), so no RPATH is needed for it.
install(TARGETS DynamicLib-Qav
  EXPORT QavTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/interface/qav.h ${PROJECT_SOURCE_DIR}/interface/qav.f90
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
if(WIN32)
  # Beside the import library: the exports as a .def file, for linkers that
  # make their own import library from it.
  install(FILES ${PROJECT_BINARY_DIR}/DynamicLib-Qav.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
endif()

# The qav program, when the build has one. Decided at the end of the top-level
# directory, so that it does not matter where tools/ is added.
function(qav_install_program)
  if(TARGET qav)
    # The program links the shared library: let it find it in ../lib.
    set_property(TARGET qav APPEND PROPERTY INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
    install(TARGETS qav RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${PROJECT_SOURCE_DIR} CALL qav_install_program)

install(EXPORT QavTargets
  NAMESPACE Qav::
  FILE QavTargets.cmake
  DESTINATION ${QAV_INSTALL_CMAKEDIR}
  COMPONENT development)

configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QavConfig.cmake.in
  ${PROJECT_BINARY_DIR}/cmake/QavConfig.cmake
  INSTALL_DESTINATION ${QAV_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/cmake/QavConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/cmake/QavConfig.cmake
  ${PROJECT_BINARY_DIR}/cmake/QavConfigVersion.cmake
  DESTINATION ${QAV_INSTALL_CMAKEDIR}
  COMPONENT development)

# pkg-config: the library has no "lib" prefix, so -lDynamicLib-Qav would look
# for libDynamicLib-Qav.so; -l: names the file itself.
# The file is relocatable: its prefix is found from where the file lies, so a
# `cmake --install --prefix` elsewhere still gives the right paths.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QAV_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(QAV_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH up "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
  string(REGEX REPLACE "/$" "" up "${up}")
  set(QAV_PC_PREFIX "\${pcfiledir}/${up}")
  set(QAV_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QAV_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(QAV_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/qav.pc.in ${PROJECT_BINARY_DIR}/cmake/qav.pc @ONLY)
# qav.pc names the Linux library (DynamicLib-Qav.so).
if(NOT WIN32)
  install(FILES ${PROJECT_BINARY_DIR}/cmake/qav.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)
endif()

# The Python package qav is installed from python/CMakeLists.txt, into
# QAV_PYTHON_INSTALL_DIR (lib/python3/dist-packages by default).
