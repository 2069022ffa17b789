cmake_minimum_required(VERSION 3.25)
# cmake -DGEN=<qmxtool_gbk_tables_gen> -DCOMMITTED=<gbk_tables.cpp> -DOUT=<file>
#       -P check_gbk_tables.cmake
# Regenerates the GBK tables from the C library's converter and fails when
# the committed file differs.
# EMU: the emulator a cross build runs the generator under (empty natively).
execute_process(COMMAND ${EMU} "${GEN}" OUTPUT_FILE "${OUT}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the table generator failed (${rc})")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${OUT}" "${COMMITTED}"
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "${COMMITTED} differs from the generator's output ${OUT}")
endif()
