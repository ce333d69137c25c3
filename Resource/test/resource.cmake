korvan_add_test(mirt-resource-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ProfileTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/InstantTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTokenTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/TimetableTest.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/TimetableSweepTest.cc
  LIBS korvan_resource TIMEOUT 300)
