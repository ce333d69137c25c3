# End to end on public scheduling instances: readers, an independent schedule
# checker, and plans solved by the module's threat components.
korvan_add_test(rcpsp-tests
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspPlan.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspTest.cc
  LIBS korvan_resource)
# The public data sets sit beside the source tree (../shared/data); KORVAN_DATA overrides.
if(TARGET rcpsp-tests)
  get_filename_component(KORVAN_DATA_DIR "${CMAKE_SOURCE_DIR}/../shared/data" ABSOLUTE)
  target_compile_definitions(rcpsp-tests PRIVATE KORVAN_DEFAULT_DATA="${KORVAN_DATA_DIR}")
endif()
