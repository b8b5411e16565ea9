# Makes the release archives of a build with cpack and checks each one as a
# user gets it: it holds the program, the library, its headers and package
# files, the README, the licence, the changelog, every page of docs/ and every
# example, and the README's links lead to files in it; unpacked on its own, its
# qav runs the bundled example and writes the build's own table.
#
# -DBUILD_DIR=   the build whose archives are made
# -DWORK_DIR=    scratch directory (emptied first)
# -DSOURCE_DIR=  the source tree (docs/, examples/)
# -DCPACK=       the cpack program
# -DSYSTEM=      linux or windows
# -DPROGRAM=     the build's qav, whose table the archives' must equal
# -DEMULATOR=    optional: what runs the build's programs (Wine for Windows)
foreach(variable BUILD_DIR WORK_DIR SOURCE_DIR CPACK SYSTEM PROGRAM)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
endfunction()

run("cpack" ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}/packages)

# What every archive holds besides the program and the library.
set(documents README.md LICENSE CHANGELOG.md CITATION.cff)
file(GLOB_RECURSE pages RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/docs/* ${SOURCE_DIR}/examples/*)
if(SYSTEM STREQUAL "windows")
  list(FILTER pages EXCLUDE REGEX "[.]py$")  # the Python package is for Linux only
endif()
list(APPEND documents ${pages})

# The bundled example, run as the README's first command runs it.
set(example run --profile examples/profile.csv --series examples/series.csv --dike-normal 270 --dam dam
    --dam-height -1 --quiet)
execute_process(COMMAND ${EMULATOR} ${PROGRAM} ${example} WORKING_DIRECTORY ${SOURCE_DIR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE expected ERROR_VARIABLE err)
if(NOT rc EQUAL 0 OR expected STREQUAL "")
  message(FATAL_ERROR "the build's qav does not run the example (${rc}):\n${err}")
endif()

# Checks one unpacked archive: TOP its top folder, DOC where its documents lie,
# PROGRAM its qav; the other arguments are files below TOP.
function(check_unpacked name top doc program)
  set(missing)
  foreach(file ${ARGN})
    if(NOT EXISTS ${top}/${file})
      list(APPEND missing ${file})
    endif()
  endforeach()
  foreach(file ${documents})
    if(NOT EXISTS ${doc}/${file})
      list(APPEND missing ${file})
    endif()
  endforeach()
  if(missing)
    message(FATAL_ERROR "${name} lacks: ${missing}")
  endif()
  # Markdown links [text](target), brackets first made harmless to CMake's lists.
  file(READ ${doc}/README.md readme)
  string(REPLACE "[" "<" readme "${readme}")
  string(REPLACE "]" ">" readme "${readme}")
  string(REGEX MATCHALL ">\\([^)#:]+[)#]" links "${readme}")
  foreach(link ${links})
    string(REGEX REPLACE "^>\\((.*).$" "\\1" target "${link}")
    if(NOT EXISTS ${doc}/${target})
      message(FATAL_ERROR "${name}: the README links to ${target}, which it does not hold")
    endif()
  endforeach()
  execute_process(COMMAND ${EMULATOR} ${top}/${program} ${example} WORKING_DIRECTORY ${doc}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL expected)
    message(FATAL_ERROR "${name}: its ${program} does not write the build's table (${rc}):\n${err}\n${out}")
  endif()
  message(STATUS "${name}: holds what it should; its ${program} runs the example")
endfunction()

set(headers include/qav.h include/qav.f90 lib/cmake/Qav/QavConfig.cmake lib/cmake/Qav/QavConfigVersion.cmake)
file(GLOB archives ${WORK_DIR}/packages/*.tar.gz ${WORK_DIR}/packages/*.deb ${WORK_DIR}/packages/*.zip)
list(LENGTH archives count)
if(SYSTEM STREQUAL "windows")
  if(NOT count EQUAL 1 OR NOT archives MATCHES "/qav-[0-9.]+-windows-x86_64[.]zip$")
    message(FATAL_ERROR "cpack made ${archives}, not one .zip")
  endif()
  file(ARCHIVE_EXTRACT INPUT ${archives} DESTINATION ${WORK_DIR}/zip)
  file(GLOB top ${WORK_DIR}/zip/qav-*)
  # Nothing for Linux in the Windows folder.
  file(GLOB_RECURSE stray RELATIVE ${top} ${top}/*.so* ${top}/*.pc ${top}/*.py)
  if(stray)
    message(FATAL_ERROR "files for Linux in the .zip: ${stray}")
  endif()
  check_unpacked(".zip" ${top} ${top} bin/qav.exe bin/DynamicLib-Qav.dll
                 lib/libDynamicLib-Qav.dll.a lib/DynamicLib-Qav.def ${headers})
else()
  if(NOT count EQUAL 2 OR NOT archives MATCHES "[.]tar[.]gz;" OR NOT archives MATCHES "[.]deb$")
    message(FATAL_ERROR "cpack made ${archives}, not a .tar.gz and a .deb")
  endif()
  set(linux lib/DynamicLib-Qav.so lib/pkgconfig/qav.pc ${headers})
  foreach(archive ${archives})
    if(archive MATCHES "[.]deb$")
      run("dpkg-deb -x" dpkg-deb -x ${archive} ${WORK_DIR}/deb)
      set(top ${WORK_DIR}/deb/usr)
      set(name ".deb")
    else()
      file(ARCHIVE_EXTRACT INPUT ${archive} DESTINATION ${WORK_DIR}/tgz)
      file(GLOB top ${WORK_DIR}/tgz/qav-*)
      set(name ".tar.gz")
    endif()
    check_unpacked(${name} ${top} ${top}/share/doc/qav bin/qav ${linux})
  endforeach()
endif()
