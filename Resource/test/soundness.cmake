# Profiles and resources through emptied domains, inconsistency and partial
# recomputation, against recomputation from scratch and a model of the
# temporal network of their own.
korvan_add_test(mirt-soundness-tests
  ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/SoundnessSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/SoundnessTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/ProfileEngineOracleTest.cc
  ${CMAKE_CURRENT_LIST_DIR}/InstantTotalsTest.cc
  LIBS korvan_resource TIMEOUT 600)
