# cmake -DOBJDUMP=... -DFILE=... -DEXPECTED=A.dll,B.dll -P check_imports.cmake
# Fails the build when a fixture's import table does not name exactly the expected libraries, in
# order: a fixture that silently came out different would make its test prove nothing.
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${FILE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
set(names)
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  list(APPEND names "${name}")
endforeach()
list(JOIN names "," names)
if(NOT "${names}" STREQUAL "${EXPECTED}")
  message(FATAL_ERROR "${FILE} imports '${names}', expected '${EXPECTED}'")
endif()
