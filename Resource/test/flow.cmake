# Flow networks, maximum flow, the flow profiles and the generic detectors.
korvan_add_test(mirt-flow-tests
  ${CMAKE_CURRENT_LIST_DIR}/ProfileTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/MaxFlowTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowProfileTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/FlowDetectorTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/PsplibFlowTest.cc
  LIBS korvan_resource)
if(TARGET mirt-flow-tests)
  get_filename_component(KORVAN_DATA_DIR "${CMAKE_SOURCE_DIR}/../shared/data" ABSOLUTE)
  target_compile_definitions(mirt-flow-tests PRIVATE KORVAN_DEFAULT_DATA="${KORVAN_DATA_DIR}")
endif()
