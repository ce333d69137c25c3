korvan_add_test(mirt-solver-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ProfileTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ThreatManagerTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ThreatDecisionPointTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/SolverIntegrationTest.cc
  LIBS korvan_resource)
