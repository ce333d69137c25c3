# The program's debug markers on shipped models, in process with the module's binding.
if(KORVAN_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/Verdict/ResourceBinding.cc)
  korvan_add_test(mirt-marker-tests ${CMAKE_CURRENT_SOURCE_DIR}/test/ResourceMarkerTest.cc
                  ${PROJECT_SOURCE_DIR}/Verdict/ResourceBinding.cc
                  ${PROJECT_SOURCE_DIR}/Verdict/ResourceRefutation.cc ${PROJECT_SOURCE_DIR}/Verdict/UnaryOverload.cc LIBS korvan_app korvan_resource TIMEOUT 300)
  target_compile_definitions(mirt-marker-tests PRIVATE KORVAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
