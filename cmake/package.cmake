# The release archives, made by cpack from the install rules: on Linux a
# .tar.gz and a .deb, for Windows a .zip. Beside the program, the library, its
# headers and package files they hold the README, the licence, the changelog,
# how to cite Qav, the docs and the examples, in one folder so that the
# README's links work: share/doc/qav on Linux, the top of the folder on Windows.
if(WIN32)
  set(QAV_INSTALL_DOCDIR .)
else()
  set(QAV_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/qav)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/CHANGELOG.md
              ${PROJECT_SOURCE_DIR}/CITATION.cff
  DESTINATION ${QAV_INSTALL_DOCDIR} COMPONENT documentation)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs
  DESTINATION ${QAV_INSTALL_DOCDIR} COMPONENT documentation)
if(WIN32)
  # The Python examples need the Python package, which is built for Linux only.
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples
    DESTINATION ${QAV_INSTALL_DOCDIR} COMPONENT documentation PATTERN "*.py" EXCLUDE)
else()
  install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples
    DESTINATION ${QAV_INSTALL_DOCDIR} COMPONENT documentation)
endif()

set(CPACK_PACKAGE_NAME qav)
set(CPACK_PACKAGE_VENDOR "The Qav developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Wave conditions at the toe of a dike")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_ARCHIVE_THREADS 0)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME qav-${PROJECT_VERSION}-windows-x86_64)
else()
  set(CPACK_GENERATOR "TGZ;DEB")
  set(CPACK_PACKAGE_FILE_NAME qav-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Qav developers")
  set(CPACK_DEBIAN_PACKAGE_SECTION science)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Significant wave height, peak period and direction at the toe of a dike from a cross-shore profile and a series of offshore conditions: the qav program, the shared library DynamicLib-Qav with its C and Fortran headers, CMake and pkg-config files, and the Python package qav.")
  # The libraries it needs (libgomp, libhwy, libstdc++) as dpkg-shlibdeps finds
  # them; its own library lies in the package.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The Python package's compiled module needs numpy.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS python3-numpy)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
endif()
include(CPack)
