korvan_add_test(mirt-diagnostic-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ProfileTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/DiagnosticTextTest.cc
  LIBS korvan_resource TIMEOUT 120)
