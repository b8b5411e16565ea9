# The Windows build (mingw-w64): what DynamicLib-Qav.dll and qav.exe need
# beyond the common targets. Included by the top-level CMakeLists.txt when
# the target system is Windows, after the library targets and before tools/.

# The version resource, from the project's version: GetVersionInfo reads it
# back from the DLL's file (interface/version_windows.cpp).
configure_file(${PROJECT_SOURCE_DIR}/interface/version.rc.in
  ${PROJECT_BINARY_DIR}/generated/qav/version.rc @ONLY)
target_sources(qav_interface PRIVATE ${PROJECT_SOURCE_DIR}/interface/version_windows.cpp)
target_sources(DynamicLib-Qav PRIVATE ${PROJECT_BINARY_DIR}/generated/qav/version.rc)
target_link_libraries(DynamicLib-Qav PRIVATE version)
# Exactly the dllexport functions are exported (no automatic export of the
# static runtimes); a .def file of them is written beside the DLL, for hosts
# whose linker wants to make its own import library (lib /def:).
target_link_options(DynamicLib-Qav PRIVATE
  -Wl,--exclude-all-symbols
  -Wl,--output-def,${PROJECT_BINARY_DIR}/DynamicLib-Qav.def)
set_target_properties(DynamicLib-Qav PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}
  ARCHIVE_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})

# CLI11 is header-only: Debian's copy serves the cross build through an
# include root that holds only CLI/ (all of /usr/include would put glibc's
# headers before mingw-w64's).
if(NOT TARGET CLI11::CLI11)
  find_path(QAV_CLI11_INCLUDE CLI/CLI.hpp PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH NO_DEFAULT_PATH)
  if(QAV_CLI11_INCLUDE)
    set(root ${PROJECT_BINARY_DIR}/cli11-include)
    if(NOT EXISTS ${root}/CLI)
      file(MAKE_DIRECTORY ${root})
      file(CREATE_LINK ${QAV_CLI11_INCLUDE}/CLI ${root}/CLI SYMBOLIC)
    endif()
    file(WRITE ${PROJECT_BINARY_DIR}/cli11-config/CLI11Config.cmake
"if(NOT TARGET CLI11::CLI11)
  add_library(CLI11::CLI11 INTERFACE IMPORTED)
  set_target_properties(CLI11::CLI11 PROPERTIES INTERFACE_INCLUDE_DIRECTORIES \"${root}\")
endif()
")
    set(CLI11_DIR ${PROJECT_BINARY_DIR}/cli11-config CACHE PATH "CLI11 for the cross build" FORCE)
  endif()
endif()
