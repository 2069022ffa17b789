# The test-only photo encoder, shared by the tests, the benchmark and the
# fuzz corpus; never part of libfacet.
if(NOT TARGET facet_test_encoder)
  add_library(facet_test_encoder STATIC
    ${CMAKE_CURRENT_LIST_DIR}/qm_encoder.cpp
    ${CMAKE_CURRENT_LIST_DIR}/photo_encoder.cpp)
  target_include_directories(facet_test_encoder PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(facet_test_encoder PUBLIC facet_internal)
  target_compile_definitions(facet_test_encoder PUBLIC
    FACET_TEST_DATA_DIR="${CMAKE_CURRENT_LIST_DIR}/../data")
endif()
