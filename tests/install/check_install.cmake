# Installs a build tree into a fresh prefix and builds and runs the two
# consumers against it: one through find_package(Qav), one through pkg-config.
# Also checks that the package refuses another major version.
#
# -DBUILD_DIR=  the Qav build tree to install
# -DWORK_DIR=   scratch directory (emptied first)
# -DGENERATOR=  generator for the CMake consumer
# -DC_COMPILER= C compiler for both consumers
# -DPYTHON=     optional: an interpreter with numpy, to import the installed
#               Python package
# -DPYTHON_DIR= where the Python package lies in the prefix
# -DEXPECTED_VERSION= the version the installed library must report
foreach(variable BUILD_DIR WORK_DIR GENERATOR C_COMPILER EXPECTED_VERSION)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
set(source ${CMAKE_CURRENT_LIST_DIR})
set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${what}:\n${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc})")
  endif()
endfunction()

run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

foreach(file include/qav.h lib/DynamicLib-Qav.so lib/cmake/Qav/QavConfig.cmake
        lib/cmake/Qav/QavConfigVersion.cmake lib/pkgconfig/qav.pc)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()
file(GLOB sonames ${prefix}/lib/DynamicLib-Qav.so.*)
list(LENGTH sonames count)
if(count LESS 2)
  message(FATAL_ERROR "the install lacks the versioned library or its SONAME link: ${sonames}")
endif()

# CMake package
set(cmake_build ${WORK_DIR}/cmake_consumer)
run("configure the CMake consumer" ${CMAKE_COMMAND} -S ${source}/cmake_consumer -B ${cmake_build}
    -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release)
run("build the CMake consumer" ${CMAKE_COMMAND} --build ${cmake_build})
run("run the CMake consumer" ${cmake_build}/qav_cmake_consumer)

# SameMajorVersion: a request for the next major version must not be met.
execute_process(COMMAND ${CMAKE_COMMAND} -S ${source}/cmake_consumer -B ${WORK_DIR}/next_major
    -G ${GENERATOR} -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
    -DQAV_REQUIRED_VERSION=26
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "find_package(Qav 26) was satisfied by the installed package")
endif()
message(STATUS "find_package(Qav 26) refused, as it should be")

# pkg-config
find_program(MAKE_PROGRAM NAMES make gmake REQUIRED)
set(pc_build ${WORK_DIR}/pkgconfig_consumer)
file(MAKE_DIRECTORY ${pc_build})
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
run("build the pkg-config consumer" ${MAKE_PROGRAM} -C ${pc_build}
    -f ${source}/pkgconfig_consumer/Makefile CC=${C_COMPILER})
run("run the pkg-config consumer" ${pc_build}/qav_pkgconfig_consumer)

# The Python package installed into the prefix's Python folder imports with
# its compiled module and runs the model.
if(PYTHON)
  set(ENV{PYTHONPATH} ${prefix}/${PYTHON_DIR})
  set(ENV{PYTHONDONTWRITEBYTECODE} 1)
  execute_process(COMMAND ${PYTHON} -c
      "import qav; print(qav.library_path().resolve()); print(qav.version()); print(qav.run([0.0, 100.0], [-5.0, -1.0], [1.0], [5.0], [0.0], [0.0], dike_normal=0.0).status[0])"
    WORKING_DIRECTORY ${WORK_DIR} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "installed Python package:\n${out}${err}")
  file(REAL_PATH ${prefix} real_prefix)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^${real_prefix}/${PYTHON_DIR}/qav/_qav[^\n]*[.]so\n${EXPECTED_VERSION}\ncomputed\n")
    message(FATAL_ERROR "the installed Python package does not import or run from the prefix")
  endif()
endif()
