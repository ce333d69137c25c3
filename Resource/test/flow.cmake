# Flow networks, maximum flow, the flow profiles and the generic detectors;
# then steps, makespans and envelopes recorded from the maximum flow's earlier
# implementation.
# A maximum flow that failed to end would hang them: both have a timeout.
if(KORVAN_TESTS)
  add_executable(mirt-flow-tests
    ${CMAKE_CURRENT_LIST_DIR}/ProfileTestSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
    ${CMAKE_CURRENT_LIST_DIR}/MaxFlowTest.cc
    ${CMAKE_CURRENT_LIST_DIR}/FlowProfileTest.cc
    ${CMAKE_CURRENT_LIST_DIR}/FlowDetectorTest.cc
    ${CMAKE_CURRENT_LIST_DIR}/PsplibFlowTest.cc)
  target_link_libraries(mirt-flow-tests PRIVATE korvan_resource GTest::gtest GTest::gtest_main)
  gtest_discover_tests(mirt-flow-tests WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
  add_executable(flow-outcome-tests
    ${CMAKE_CURRENT_LIST_DIR}/ProfileTestSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
    ${CMAKE_CURRENT_LIST_DIR}/RcpspPlan.cc
    ${CMAKE_CURRENT_LIST_DIR}/FlowOutcomeTest.cc)
  target_link_libraries(flow-outcome-tests PRIVATE korvan_resource GTest::gtest GTest::gtest_main)
  gtest_discover_tests(flow-outcome-tests WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
  # The public data sets sit beside the source tree (../shared/data); KORVAN_DATA overrides.
  get_filename_component(KORVAN_DATA_DIR "${CMAKE_SOURCE_DIR}/../shared/data" ABSOLUTE)
  target_compile_definitions(mirt-flow-tests PRIVATE KORVAN_DEFAULT_DATA="${KORVAN_DATA_DIR}")
  target_compile_definitions(flow-outcome-tests PRIVATE KORVAN_DEFAULT_DATA="${KORVAN_DATA_DIR}")
endif()
