# cmake -DOBJDUMP=... -DFILE=... -DEXPECTED=A.dll,B.dll -P check_imports.cmake
# Fails the build when a fixture's import table does not name exactly the expected libraries, in
# order: a fixture that silently came out different would make its test prove nothing. The file is
# removed then, so that the next build makes it again instead of taking it as made (zv_pe_fixture
# in ZvFixtures.cmake runs this after each build of a fixture that names its imports).
execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  file(REMOVE ${FILE})
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
  file(REMOVE ${FILE})
  message(FATAL_ERROR "${FILE} imports '${names}', expected '${EXPECTED}'")
endif()
