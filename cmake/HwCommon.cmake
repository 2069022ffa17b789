# Helpers shared by every folder of the build.

# hw_test(<name> SOURCES <files...> LIBS <targets...> [LABELS <labels...>]
#         [LOCK <resource>] [TIMEOUT <seconds>])
# One GoogleTest executable run as one CTest test. LOCK names a CTest
# resource lock (for example "port7776") for tests that must not run in
# parallel with each other.
function(hw_test name)
  cmake_parse_arguments(T "" "LOCK;TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main
                        GTest::gmock Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT ${T_TIMEOUT}
                       ENVIRONMENT "HW_SOURCE_DIR=${CMAKE_SOURCE_DIR};HW_BINARY_DIR=${CMAKE_BINARY_DIR}")
  if(HW_TEST_EMULATOR)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "HW_TEST_EMULATOR=${HW_TEST_EMULATOR}")
  endif()
  if(T_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${T_LABELS}")
  endif()
  if(T_LOCK)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${T_LOCK})
  endif()
endfunction()

# Add every sub-folder of the current folder that has a CMakeLists.txt.
function(hw_add_subfolders)
  file(GLOB children RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT children)
  foreach(child ${children})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${child}/CMakeLists.txt)
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# A cross build runs its programs under an emulator (the toolchain file's
# CMAKE_CROSSCOMPILING_EMULATOR). Tests that start a program of the build
# themselves put it in front: HW_TEST_EMULATOR, words separated by spaces.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " HW_TEST_EMULATOR)
endif()
