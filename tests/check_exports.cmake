# Reads the shared library's dynamic symbol table and fails unless the
# defined functions are exactly the five exports.
find_program(NM nm REQUIRED)
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[0-9a-fA-F]+ [TtWwiI] [^\n]+" rows "${table}")
set(names)
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^[0-9a-fA-F]+ [A-Za-z] " "" name "${row}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected C_FORTRANENTRY_RollerModel5 FORTRANENTRY_ROLLERMODEL5 GetVersionInfo VALIDATEHYDRAULICDATA VALIDATEPROFILE)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "exported functions: ${names}\nexpected: ${expected}")
endif()
message(STATUS "exports: ${names}")

# Nothing of Highway's shared library is loaded with Qav: its static
# initializer alone took 5 ms at every load. The functions its headers call
# are built in.
find_program(OBJDUMP objdump)
if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
  if(rc EQUAL 0 AND headers MATCHES "NEEDED +(libhwy[^\n]*)")
    message(FATAL_ERROR "the library needs ${CMAKE_MATCH_1}")
  endif()
endif()
