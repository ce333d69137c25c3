# End to end on public scheduling instances: readers, an independent schedule
# checker, and plans solved by the module's threat components.
korvan_add_test(rcpsp-tests
  ${CMAKE_CURRENT_LIST_DIR}/ModuleTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspData.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspPlan.cc
  ${CMAKE_CURRENT_LIST_DIR}/RcpspTest.cc
  LIBS korvan_resource DATA)
