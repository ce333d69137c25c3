korvan_add_test(mirt-profile-tests
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ProfileTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceTestSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/SoundnessSupport.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/profile-tests.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/profile-oracle-tests.cc
  ${CMAKE_CURRENT_SOURCE_DIR}/test/instant-filing-tests.cc
  TIMEOUT 300
  LIBS korvan_resource)
