# The byte-handling libraries' unit tests once more with -funsigned-char, as
# char is on ARM: a nested build in unsigned-char/ of just these tests, each
# run through that build's own CTest as <name>_unsigned_char (label
# unsigned-char), so a signedness fault shows in every native test run.
include(ExternalProject)
set(HW_UNSIGNED_CHAR_TESTS_RUN
    qmxtool_test tessera_commands_test hidlink_unit_test hidlink_api_test hub_unit_test
    payterm_frames_test payterm_dc_test payterm_ic_test payterm_sdandc_t10n_test
    payterm_kernel_unit_test facet_internal_tests facet_api_tests transport_codec_test)
set(_uc_dir ${CMAKE_BINARY_DIR}/unsigned-char)
if(CMAKE_GENERATOR MATCHES "Makefiles")
  set(_uc_build $(MAKE) -C ${_uc_dir} ${HW_UNSIGNED_CHAR_TESTS_RUN})
else()
  set(_uc_build ${CMAKE_COMMAND} --build ${_uc_dir} --target ${HW_UNSIGNED_CHAR_TESTS_RUN})
endif()
ExternalProject_Add(unsigned_char_tests
  SOURCE_DIR ${CMAKE_SOURCE_DIR}
  BINARY_DIR ${_uc_dir}
  PREFIX ${CMAKE_BINARY_DIR}/unsigned-char-ep
  CMAKE_ARGS -DHW_UNSIGNED_CHAR=ON -DHW_UNSIGNED_CHAR_TESTS=OFF
             -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DHW_SANITIZE=${HW_SANITIZE}
             -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
             -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
             -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
  BUILD_COMMAND ${_uc_build}
  BUILD_ALWAYS ON
  INSTALL_COMMAND "")
foreach(t ${HW_UNSIGNED_CHAR_TESTS_RUN})
  add_test(NAME ${t}_unsigned_char
           COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${_uc_dir} -R "^${t}$" --no-tests=error
                   --output-on-failure)
  set_tests_properties(${t}_unsigned_char PROPERTIES LABELS unsigned-char TIMEOUT 300)
endforeach()
