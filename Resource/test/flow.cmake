# Flow networks, maximum flow, the flow profiles and the generic detectors;
# then steps, makespans and envelopes recorded from the maximum flow's earlier
# implementation.
# A maximum flow that failed to end would hang them: both have a timeout.
korvan_add_test(mirt-flow-tests
  ${CMAKE_CURRENT_LIST_DIR}/ProfileTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
  ${CMAKE_CURRENT_LIST_DIR}/MaxFlowTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowProfileTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowDebugTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowDetectorTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/PsplibFlowTest.cc
  LIBS korvan_resource TIMEOUT 600 DATA)
korvan_add_test(flow-outcome-tests
  ${CMAKE_CURRENT_LIST_DIR}/ProfileTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspPlan.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowOutcomeTest.cc
  LIBS korvan_resource TIMEOUT 600 DATA)
