cmake_minimum_required(VERSION 3.25)
# cmake -DNM=<nm> -DLIB=<shared library> -DLIST_FILES=<list files, ';'-separated>
#       [-DABSENT=<symbols that must not be exported>] -P check_exports.cmake
# Fails unless the library's defined dynamic symbols are exactly the names
# in the list files (one per line, '#' starts a comment). Symbols that the
# sanitizer instrumentation adds are not part of any API and are ignored.
foreach(var NM LIB LIST_FILES)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_exports: ${var} not given")
  endif()
endforeach()

set(expected "")
foreach(list_file IN LISTS LIST_FILES)
  file(STRINGS "${list_file}" lines)
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line)
      list(APPEND expected "${line}")
    endif()
  endforeach()
endforeach()

execute_process(COMMAND "${NM}" -D --defined-only "${LIB}"
                OUTPUT_VARIABLE out RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}: ${err}")
endif()
string(REPLACE "\n" ";" out_lines "${out}")
set(actual "")
foreach(line IN LISTS out_lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ ]+)$")
    set(sym "${CMAKE_MATCH_1}")
    if(NOT sym MATCHES "^(__odr_asan\\.|__asan_|__ubsan_|__sanitizer_)")
      list(APPEND actual "${sym}")
    endif()
  endif()
endforeach()

set(missing ${expected})
list(REMOVE_ITEM missing ${actual})
set(unexpected ${actual})
list(REMOVE_ITEM unexpected ${expected})
set(present_absent "")
foreach(sym IN LISTS ABSENT)
  if(sym IN_LIST actual)
    list(APPEND present_absent "${sym}")
  endif()
endforeach()

get_filename_component(lib_name "${LIB}" NAME)
if(missing OR unexpected OR present_absent)
  message(FATAL_ERROR "${lib_name}: exports differ from the lists\n"
          "  missing: ${missing}\n  not listed: ${unexpected}\n"
          "  must be absent: ${present_absent}")
endif()
list(LENGTH actual count)
message(STATUS "${lib_name}: ${count} exports, as listed")
