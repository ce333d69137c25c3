# The flaw record of a reusable resource against a replay of its notifications.
korvan_add_test(mirt-flaw-record-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/FlawRecordTest.cc
  LIBS korvan_resource TIMEOUT 120)
