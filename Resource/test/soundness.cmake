# Profiles and resources through emptied domains, inconsistency and partial
# recomputation, against recomputation from scratch and a model of the
# temporal network of their own.
if(KORVAN_TESTS)
  add_executable(mirt-soundness-tests
    ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/SoundnessSupport.cc
    ${CMAKE_CURRENT_LIST_DIR}/SoundnessTest.cc
    ${CMAKE_CURRENT_LIST_DIR}/ProfileEngineOracleTest.cc)
  target_link_libraries(mirt-soundness-tests PRIVATE korvan_resource GTest::gtest GTest::gtest_main)
  gtest_discover_tests(mirt-soundness-tests WORKING_DIRECTORY ${CMAKE_SOURCE_DIR} DISCOVERY_TIMEOUT 60
                       PROPERTIES TIMEOUT 600)
endif()
