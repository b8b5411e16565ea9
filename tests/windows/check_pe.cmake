cmake_minimum_required(VERSION 3.21)
# Reads the PE headers of the Windows build with objdump -p and fails unless
#  - LIBRARY exports exactly the five functions, under their plain names, and
#  - LIBRARY and every file of PROGRAMS import only DLLs that come with Windows
#    (no libgcc_s_seh-1.dll, libstdc++-6.dll, libwinpthread-1.dll, libgomp-1.dll:
#    a host without them would get LoadLibrary error 126 and no message);
#    the programs may import DynamicLib-Qav.dll besides.
# cmake -DOBJDUMP=... -DLIBRARY=... -DPROGRAMS=a.exe;b.exe -P check_pe.cmake
set(windows_dlls kernel32.dll msvcrt.dll version.dll user32.dll advapi32.dll ntdll.dll)

function(read_headers file out)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE headers RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${file} failed: ${err}")
  endif()
  set(${out} "${headers}" PARENT_SCOPE)
endfunction()

function(check_imports file headers)
  set(windows_dlls ${windows_dlls} ${ARGN})
  string(REGEX MATCHALL "DLL Name: [^\n]+" rows "${headers}")
  if(NOT rows)
    message(FATAL_ERROR "${file}: no import table found")
  endif()
  set(foreign)
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "^DLL Name: " "" dll "${row}")
    string(TOLOWER "${dll}" dll_lower)
    if(NOT dll_lower IN_LIST windows_dlls AND NOT dll_lower MATCHES "^api-ms-win-")
      list(APPEND foreign ${dll})
    endif()
  endforeach()
  if(foreign)
    message(FATAL_ERROR "${file} imports DLLs that do not come with Windows: ${foreign}")
  endif()
  message(STATUS "${file}: imports ${rows}")
endfunction()

read_headers(${LIBRARY} headers)
check_imports(${LIBRARY} "${headers}")

# The export table: "[Ordinal/Name Pointer] Table" lists "[   n] Name".
string(FIND "${headers}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${LIBRARY}: no export name table")
endif()
string(SUBSTRING "${headers}" ${at} -1 table)
string(FIND "${table}" "\n\n" end)
string(SUBSTRING "${table}" 0 ${end} table)
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\t\n]+" rows "${table}")
set(names)
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\t\\[ *[0-9]+\\] " "" name "${row}")
  list(APPEND names ${name})
endforeach()
list(SORT names)
set(expected C_FORTRANENTRY_RollerModel5 FORTRANENTRY_ROLLERMODEL5 GetVersionInfo VALIDATEHYDRAULICDATA VALIDATEPROFILE)
list(SORT expected)
if(NOT names STREQUAL expected)
  message(FATAL_ERROR "${LIBRARY} exports: ${names}\nexpected exactly: ${expected}")
endif()
message(STATUS "${LIBRARY}: exports ${names}")

foreach(program IN LISTS PROGRAMS)
  read_headers(${program} program_headers)
  # A host may import the library itself.
  check_imports(${program} "${program_headers}" dynamiclib-qav.dll)
endforeach()
