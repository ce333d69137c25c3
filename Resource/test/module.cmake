korvan_add_test(resource-module-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ModuleTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ModuleTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/VexlBindingTest.cc
  LIBS korvan_resource)
