korvan_add_test(instant-resource-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/InstantTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/InstantResourceTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/InstantPropagationTest.cc
  LIBS korvan_resource)
