# Decimal quantities against limits, under every profile and detector and for
# the instant-based model, against the same plans in whole units.
korvan_add_test(decimal-limit-tests
  ${CMAKE_CURRENT_LIST_DIR}/ResourceTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/InstantTestSupport.cc
  ${CMAKE_CURRENT_LIST_DIR}/DecimalLimitTest.cc
  LIBS korvan_resource TIMEOUT 300)
