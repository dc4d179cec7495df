# cmake -DOBJDUMP=... -DFILE=... -P check_known_dll_imports.cmake
# Fails when FILE's import table names a library that is not on the list below.
#
# Windows loads the libraries of a program's import table before the program's entry point runs,
# so before the launcher can restrict where libraries come from (SetDefaultDllDirectories in
# src/app/main_windows.cpp). A KnownDLL is mapped from System32 without any search. Any other
# imported library is searched for in the program's own folder first, where a planted copy would be
# loaded in its place. Such a library must be loaded at run time from System32 instead, as
# winhttp.dll is (src/net/winhttp_library.h).
#
# The list holds the libraries the launcher imports today, each a KnownDLL (HKLM\SYSTEM\
# CurrentControlSet\Control\Session Manager\KnownDLLs) on every Windows the launcher runs on, 10 and
# later. It is deliberately not the whole KnownDLLs list: a new import is a decision, and it goes
# on the list only after checking that it is a KnownDLL on all of those versions.
cmake_minimum_required(VERSION 3.25)
set(known_dlls advapi32.dll gdi32.dll kernel32.dll msvcrt.dll shell32.dll user32.dll)

execute_process(COMMAND ${OBJDUMP} -p ${FILE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${FILE}")
endif()
# Every "DLL Name:" line: the import table and, when there is one, the delay-load table.
string(REGEX MATCHALL "DLL Name: [^\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "${FILE}: no import table found; is it a PE file?")
endif()
set(refused)
foreach(line IN LISTS lines)
  string(REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  if(NOT lower IN_LIST known_dlls)
    list(APPEND refused "${name}")
  endif()
endforeach()
if(refused)
  list(JOIN refused ", " refused)
  message(FATAL_ERROR "${FILE} imports a library that is not on the KnownDLLs list: ${refused}. Windows "
                      "would search the program's folder for it before the entry point runs. Load it "
                      "at run time from System32 (as src/net/winhttp_library.h does), or, if it is a "
                      "KnownDLL on every supported Windows, add it to cmake/check_known_dll_imports.cmake.")
endif()
