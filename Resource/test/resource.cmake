korvan_add_test(mirt-resource-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTokenTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/TimetableTest.cc
  LIBS korvan_resource)

# The example program lives in examples/; the top level does not descend there.
if(NOT TARGET resource-example)
  add_executable(resource-example ${CMAKE_SOURCE_DIR}/examples/resource-example.cc)
  target_link_libraries(resource-example PRIVATE korvan_resource)
endif()
